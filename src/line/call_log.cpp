#include "line/call_log.h"

#include <ctime>

namespace qv::line {

CallLog::~CallLog() {
  if (file_) std::fclose(file_);
}

bool CallLog::Open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "a");
  return file_ != nullptr;
}

void CallLog::Line(const std::string& text) {
  if (!file_ && !stderr_) return;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%7lld.%03lld ", static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
  // Control characters from the network never reach the reader's terminal.
  std::string clean;
  for (unsigned char c : text) clean += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
  if (file_) {
    std::fprintf(file_, "%s%s\n", stamp, clean.c_str());
    std::fflush(file_);
  }
  if (stderr_) std::fprintf(stderr, "%s%s\n", stamp, clean.c_str());
}

}  // namespace qv::line
