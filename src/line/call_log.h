// The call log a person reads to explain a failed call: SIP request and response lines, the
// media negotiated, packet counts. One line per event, with the time since the line started.
// It never gets credentials: callers pass only start lines and counts.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace qv::line {

class CallLog {
 public:
  CallLog() = default;
  ~CallLog();
  CallLog(const CallLog&) = delete;
  CallLog& operator=(const CallLog&) = delete;

  // Appends to path; false (and no log) when it cannot be opened.
  bool Open(const std::string& path);
  // Also (or only) to standard error, for a line run by hand.
  void AlsoToStderr(bool on) { stderr_ = on; }

  void Line(const std::string& text);

 private:
  FILE* file_ = nullptr;
  bool stderr_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace qv::line
