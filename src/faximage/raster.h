#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qv::faximage {

// A raster row: one bit per pixel, 1 = black, leftmost pixel in the most significant bit of the
// first byte. Fax pages are 1728 (standard width) or 2048 pixels wide.
inline constexpr int kStandardWidth = 1728;
inline constexpr int kWideWidth = 2048;
inline constexpr int kStandardRowBytes = kStandardWidth / 8;  // 216
inline constexpr int kWideRowBytes = kWideWidth / 8;          // 256

constexpr int RowBytes(int widthPixels) { return (widthPixels + 7) / 8; }

inline bool GetPixel(std::span<const uint8_t> row, int x) {
  return (row[static_cast<size_t>(x) >> 3] >> (7 - (x & 7))) & 1;
}

inline void SetPixel(std::span<uint8_t> row, int x, bool black) {
  uint8_t mask = static_cast<uint8_t>(0x80u >> (x & 7));
  if (black)
    row[static_cast<size_t>(x) >> 3] |= mask;
  else
    row[static_cast<size_t>(x) >> 3] &= static_cast<uint8_t>(~mask);
}

// Sets pixels [x, x + count) to black; the decoders' inner loop, so whole bytes at a time.
void SetRun(std::span<uint8_t> row, int x, int count);

// Index of the rightmost black pixel, or -1 for an all-white row.
int LastBlackPixel(std::span<const uint8_t> row);

}  // namespace qv::faximage
