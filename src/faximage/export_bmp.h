#pragma once

#include <string>

#include "faximage/unpacker_state.h"

namespace qv::faximage {

// Tallest page a BMP export accepts.
inline constexpr int kMaxBmpRows = 32767;

// One page of a QVF file as a one-bit BMP file (black and white palette, rows bottom-up). -8054
// for a page of 32768 rows or more; on any failure the output file is deleted (or not made).
int UnpackPageToBmp(UnpackerState& state, const std::string& inFile, int page, const std::string& outFile);

}  // namespace qv::faximage
