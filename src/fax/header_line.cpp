#include "fax/header_line.h"

#include <cctype>
#include <ctime>

namespace qv::fax {

std::string ExpandHeaderTags(const std::string& text, const HeaderValues& v) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text[i] != '$') {
      out.push_back(text[i++]);
      continue;
    }
    size_t end = text.find(' ', i);
    if (end == std::string::npos) end = text.size();
    char letter = i + 1 < end ? static_cast<char>(std::toupper(static_cast<unsigned char>(text[i + 1]))) : '\0';
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[64] = "";
    switch (letter) {
      case 'D': std::strftime(buf, sizeof buf, "%x", &tm); out += buf; break;
      case 'T': std::strftime(buf, sizeof buf, "%X", &tm); out += buf; break;
      case 'F': out += v.sender; break;
      case 'R': out += v.recipient; break;
      case 'S': out += v.title; break;
      case 'I': out += v.stationId; break;
      case 'N': out += std::to_string(v.pageCount); break;
      case 'P': out += std::to_string(v.pageNumber); break;
      default: break;
    }
    i = end;
  }
  return out;
}

std::vector<uint8_t> EndOfPageCodes() {
  return {0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
}

}  // namespace qv::fax
