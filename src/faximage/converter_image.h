#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "faximage/converter_state.h"

namespace qv::faximage {

// Picture files are read whole; anything larger than this is refused as out of memory.
inline constexpr int64_t kMaxImageFileBytes = int64_t{512} << 20;

// Reads the input file into memory: 0, a negated file-system code, or -8 when it is too large.
int LoadInputFile(const std::string& fileName, std::vector<uint8_t>& data);

// Copies one image row of widthPixels (srcBytes available at src, 1 = black after the optional
// inversion) into the raster at the state's CenterOffset, clearing the bits beyond the image
// width and leaving out whatever does not fit in the row.
void PlaceImageRow(const ConverterState& state, uint8_t* raster, const uint8_t* src,
                   int64_t srcBytes, int widthPixels, bool invert);

// Little-endian and big-endian field readers over a byte vector; callers check bounds first.
inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

}  // namespace qv::faximage
