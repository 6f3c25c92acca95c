#pragma once

#include <cstdint>
#include <vector>

#include "faximage/t4_bits.h"

namespace qv::faximage {

// Codes a page row by row as T.6 (MMR) data: every line two-dimensionally against the line
// before it (an imaginary white line before the first), no EOLs and no fill, and the end of
// facsimile block (two EOLs) at the end, padded with 0 bits to a whole byte. Bits least
// significant first. T.6 has no way back from a damaged bit, so it only goes on the line with
// error correction.
class MmrCoder {
 public:
  explicit MmrCoder(int width);  // 1..4096 pels

  // Adds a row: (width + 7) / 8 bytes, 1 = black, leftmost pel in the high bit.
  void addRow(const uint8_t* row);
  // Ends the page with EOFB and returns its coded data; the coder then starts a new page.
  std::vector<uint8_t> finish();

  int rows() const { return rows_; }

 private:
  int width_;
  int rows_ = 0;
  std::vector<int32_t> ref_;
  std::vector<int32_t> cur_;
  BitStreamWriter out_;
};

}  // namespace qv::faximage
