#include "app/editor/rich_edit_memo.h"

#include "core/file_util.h"
#include "ui/rich_edit.h"

#include <cerrno>
#include <cstring>

namespace qv::app {

void TRichEditMemo::Clear() {
  editor_.Clear();
  loadError_.clear();
}

bool TRichEditMemo::LoadRtfFile(const std::string& path) {
  loadError_.clear();
  std::string bytes;
  if (!core::ReadWholeFile(path, bytes)) {
    loadError_ = QString::fromLocal8Bit(std::strerror(errno));
    return false;
  }
  if (bytes.empty()) {
    editor_.Clear();
    return true;
  }
  std::string error;
  if (!editor_.LoadRtf(bytes, &error)) {
    loadError_ = error.empty() ? QStringLiteral("The rich text cannot be read.")
                               : QString::fromStdString(error);
    editor_.Clear();
    return false;
  }
  return true;
}

bool TRichEditMemo::SaveRtfFile(const std::string& path) {
  return core::AtomicWriteFile(path, editor_.SaveRtf());
}

void TRichEditMemo::NoteLoadFailure(const std::string& why) {
  editor_.Clear();
  loadError_ = QString::fromStdString(why);
}

void TRichEditMemo::Reformat() { editor_.Reformat(); }

bool TRichEditMemo::IsEmpty() const { return editor_.IsEmpty(); }

}  // namespace qv::app
