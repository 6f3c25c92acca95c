#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace qv::faximage {

// Decodes one page of T.6 (MMR) data, bits least significant first, into rows of a fixed width.
// The first line refers to an imaginary white line; the end of facsimile block (two EOLs) ends
// the page, as does the end of the data when only pad bits are left. T.6 data has no
// resynchronisation points, so at the first damaged line decoding stops: the rows before it are
// kept and the page is reported damaged. Every row handed on has the page's width; the work is
// bounded by the input, and a page stops after kMaxRows rows (a run of 1 bits codes one white
// row per bit).
class MmrDecoder {
 public:
  static constexpr uint32_t kMaxRows = 65536;  // the tallest page the viewer opens
  using RowHandler = std::function<void(std::span<const uint8_t> row)>;

  MmrDecoder(int width, RowHandler handler);  // width 1..4096

  // Decodes a whole page; true when it ended with EOFB and nothing was damaged.
  bool decodePage(std::span<const uint8_t> data);

  uint32_t rows() const { return rows_; }
  bool damaged() const { return damaged_; }   // a bad code, or data cut inside a line
  bool endOfBlock() const { return eofb_; }   // EOFB seen
  bool rowLimitReached() const { return rowLimit_; }

 private:
  int width_;
  RowHandler handler_;
  std::vector<int32_t> ref_;
  std::vector<int32_t> cur_;
  std::vector<uint8_t> row_;
  uint32_t rows_ = 0;
  bool damaged_ = false;
  bool eofb_ = false;
  bool rowLimit_ = false;
};

}  // namespace qv::faximage
