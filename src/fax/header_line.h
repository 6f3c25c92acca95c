#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv::fax {

// Values of the header-line tags ($D date, $T time, $F sender, $R recipient, $S title,
// $I station ID, $N page count, $P page number).
struct HeaderValues {
  std::string sender, recipient, title, stationId;
  int pageCount = 0;
  int pageNumber = 0;
};

// Replaces every tag (from "$" to the next space) by its value; unknown letters give "".
std::string ExpandHeaderTags(const std::string& text, const HeaderValues& values);

// One text line drawn with the built-in fax font (size 16 for header lines, 48 for text cover
// pages) and T.4-coded: each row starts with an aligned EOL. 0 or a negative code.
int CodeTextLine(const std::string& text, int fontSize, bool fine, std::vector<std::vector<uint8_t>>& rows);

// The end-of-page codes that close a page drawn from text.
std::vector<uint8_t> EndOfPageCodes();

}  // namespace qv::fax
