#pragma once
// Writes a Document as RTF 1.x that our reader and other word processors read back unchanged:
// font and colour tables, sizes, styles, alignment, indents, spacing, page breaks, merge fields
// as RTF fields and pictures as \pict PNG/JPEG.

#include <string>

#include "rtf/rtf_document.h"

namespace qv::rtf {

std::string WriteRtf(const Document& doc);

}  // namespace qv::rtf
