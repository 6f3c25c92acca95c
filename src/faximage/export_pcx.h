#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "faximage/unpacker_bitmap.h"
#include "faximage/unpacker_state.h"

namespace qv::faximage {

class BufferedWriter;

inline constexpr uint32_t kDcxSignature = 0x3ADE68B1;
inline constexpr int kDcxHeaderSize = 4100;  // signature and 1024 page offsets

// The PCX image of a page (rows 1 = black): 128-byte header, then every row inverted and run-length
// coded. Returns 0 or the writer's error.
int WritePcxImage(BufferedWriter& out, const PageBitmap& page);

// One page of a QVF file as a PCX file, or as the only page of a DCX file. On any failure the
// output file is deleted.
int UnpackPageToPcx(UnpackerState& state, const std::string& inFile, int page, const std::string& outFile);
int UnpackPageToDcx(UnpackerState& state, const std::string& inFile, int page, const std::string& outFile);

}  // namespace qv::faximage
