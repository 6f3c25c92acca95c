#pragma once

#include <cstdint>
#include <vector>

#include "faximage/t4_bits.h"

namespace qv::faximage {

// Codes a page row by row as T.4 two-dimensional (MR) data for the line: an EOL and a tag bit
// before every line (1: the line is coded one-dimensionally, 0: two-dimensionally against the
// line before it), a one-dimensional line first and then after every K - 1 two-dimensional
// ones, and the return-to-control signal (six EOLs, each tagged 1) at the end. Bits are packed
// least significant bit first, as fax modems send them; the last byte is padded with 0 bits.
class MrCoder {
 public:
  // width: pels per row (1..4096; 1728, 2048, 2432 on the line). k: kMrKStandard or kMrKFine
  // (smaller is legal, larger is not; 1 codes every line one-dimensionally). minBitsPerRow: the
  // receiver's minimum scan line time at the line's rate, in bits; shorter lines get fill 0 bits
  // before the EOL that ends them (0 = none, as with error correction).
  MrCoder(int width, int k, int minBitsPerRow = 0);

  // Adds a row: (width + 7) / 8 bytes, 1 = black, leftmost pel in the high bit.
  void addRow(const uint8_t* row);
  // Ends the page with the return-to-control signal and returns its coded data. The coder then
  // starts a new page.
  std::vector<uint8_t> finish();

  int rows() const { return rows_; }

 private:
  void endLine(BitPacker& bp);

  int width_;
  int k_;
  int minBits_;
  int rows_ = 0;
  uint64_t lineStart_ = 0;  // stream position after the last EOL and tag
  std::vector<int32_t> ref_;
  std::vector<int32_t> cur_;
  BitStreamWriter out_;
};

}  // namespace qv::faximage
