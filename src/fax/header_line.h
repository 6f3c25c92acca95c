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

// One text line drawn with the built-in fax font (16 bytes per glyph for header lines, 48 for
// text cover pages) across a 1728-pixel row, 16 pixels in from the left edge, and T.4-coded: each
// row starts with an aligned EOL; fine pages get every glyph row twice. Characters that do not
// fit the row are left out. Appends the rows; 0 or a negative code.
int CodeTextLine(const std::string& text, int fontSize, bool fine, std::vector<std::vector<uint8_t>>& rows);

}  // namespace qv::fax
