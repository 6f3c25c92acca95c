#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "faximage/unpacker_state.h"

namespace qv::faximage {

// One page as a full-width one-bit greyscale PNG file; the state's auto-scale and scale factors
// apply. On failure the output file is deleted.
int UnpackPageToPng(UnpackerState& state, const std::string& inFile, int page, const std::string& outFile);

// A zlib stream of the data, deflated with the fixed code and byte-run matches (enough for
// fax pages, which are mostly long runs of white bytes).
std::vector<uint8_t> ZlibCompress(std::span<const uint8_t> data);

}  // namespace qv::faximage
