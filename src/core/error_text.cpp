#include "core/error_text.h"

#include "core/string_table.h"

#include <cstdlib>
#include <cstring>

namespace qv::core {

static std::string systemMessage(int number) {
  char buffer[256];
  // GNU strerror_r returns the message pointer (which may or may not be the buffer).
  const char* text = strerror_r(number, buffer, sizeof buffer);
  std::string out;
  for (const char* p = text; *p; ++p) {
    char c = static_cast<unsigned char>(*p) < 32 ? ' ' : *p;
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out.push_back(c);
  }
  return out;
}

std::string ErrorText(int code) {
  int magnitude = code < 0 ? -code : code;
  std::string text = QvErrorString(magnitude);
  if (!text.empty()) return text;
  return systemMessage(magnitude);
}

}  // namespace qv::core
