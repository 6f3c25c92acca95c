#include "core/error_codes.h"
#include "fax/header_line.h"

namespace qv::fax {

int CodeTextLine(const std::string&, int, bool, std::vector<std::vector<uint8_t>>&) {
  return core::ecFontFileNotFound;  // TODO: draw with the converter's built-in font
}

}  // namespace qv::fax
