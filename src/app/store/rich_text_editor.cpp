#include "app/store/rich_text_editor.h"

#include <fstream>
#include <iterator>

namespace qv::app {

bool RtfBuffer::LoadRtfFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  rtf_ = std::move(bytes);
  return true;
}

bool RtfBuffer::SaveRtfFile(const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(rtf_.data(), static_cast<std::streamsize>(rtf_.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace qv::app
