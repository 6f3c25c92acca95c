#include "faximage/raster.h"

namespace qv::faximage {

void SetRun(std::span<uint8_t> row, int x, int count) {
  if (count <= 0) return;
  int end = x + count;  // exclusive
  int firstByte = x >> 3;
  int lastByte = (end - 1) >> 3;
  uint8_t headMask = static_cast<uint8_t>(0xFFu >> (x & 7));
  uint8_t tailMask = static_cast<uint8_t>(0xFFu << (7 - ((end - 1) & 7)));
  if (firstByte == lastByte) {
    row[static_cast<size_t>(firstByte)] |= static_cast<uint8_t>(headMask & tailMask);
    return;
  }
  row[static_cast<size_t>(firstByte)] |= headMask;
  for (int b = firstByte + 1; b < lastByte; ++b) row[static_cast<size_t>(b)] = 0xFF;
  row[static_cast<size_t>(lastByte)] |= tailMask;
}

int LastBlackPixel(std::span<const uint8_t> row) {
  for (size_t b = row.size(); b-- > 0;) {
    uint8_t v = row[b];
    if (v == 0) continue;
    int bit = 0;  // lowest set bit is the rightmost black pixel of this byte
    while (!(v & (1u << bit))) ++bit;
    return static_cast<int>(b * 8 + (7 - bit));
  }
  return -1;
}

}  // namespace qv::faximage
