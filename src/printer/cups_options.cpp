#include "printer/cups_options.h"

#include <cctype>

namespace qv::printer {
namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

}  // namespace

std::map<std::string, std::string> ParseCupsOptions(std::string_view text) {
  std::map<std::string, std::string> out;
  if (text.size() > kMaxOptionText) text = text.substr(0, kMaxOptionText);
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    while (i < n && Blank(text[i])) ++i;
    if (i == n) break;
    std::string name;
    while (i < n && !Blank(text[i]) && text[i] != '=') name += text[i++];
    if (i == n || text[i] != '=') {
      // A bare name: a switch.
      if (name.size() > 2 && name.compare(0, 2, "no") == 0) out[name.substr(2)] = "false";
      else if (!name.empty()) out[name] = "true";
      continue;
    }
    ++i;  // '='
    std::string value;
    int depth = 0;
    while (i < n && (depth > 0 || !Blank(text[i]))) {
      char c = text[i];
      if (c == '\\' && i + 1 < n) {
        value += text[i + 1];
        i += 2;
      } else if ((c == '\'' || c == '"') && depth == 0) {
        const char quote = c;
        ++i;
        while (i < n && text[i] != quote) {
          if (text[i] == '\\' && i + 1 < n) ++i;
          value += text[i++];
        }
        if (i < n) ++i;  // the closing quote
      } else {
        if (c == '{') ++depth;
        else if (c == '}' && depth > 0) --depth;
        value += c;
        ++i;
      }
    }
    if (!name.empty()) out[name] = value;
  }
  return out;
}

}  // namespace qv::printer
