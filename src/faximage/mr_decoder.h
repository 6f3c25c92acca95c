#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace qv::faximage {

// Decodes one page of T.4 two-dimensional (MR) data, bits least significant first, into rows of
// a fixed width. Whatever the input, every row handed on has the page's width, and the work is
// bounded by the input: each step consumes input bits or ends a line, and a page stops after
// kMaxRows rows.
//  - Anything before the first EOL is skipped (modems put noise there as the carrier starts).
//  - Every line follows an EOL and its tag bit; fill 0 bits before an EOL are accepted.
//  - A damaged line (a pattern that is no code, runs past the width, a line that does not end in
//    an EOL, a two-dimensional line without a sound line above it) is replaced by the last good
//    row (white when there is none) and counted; so is every two-dimensional line after it until
//    the next one-dimensional line, since their reference is lost. Decoding resumes at the next
//    EOL.
//  - Three EOLs with no line between them (the return-to-control signal) end the page; so does the
//    end of the data (a strip cut after its last line).
class MrDecoder {
 public:
  static constexpr uint32_t kMaxRows = 65536;  // the tallest page the viewer opens
  using RowHandler = std::function<void(std::span<const uint8_t> row)>;

  MrDecoder(int width, RowHandler handler);  // width 1..4096

  // Decodes a whole page; true when it ended with the return-to-control signal.
  bool decodePage(std::span<const uint8_t> data);

  uint32_t rows() const { return rows_; }          // rows handed on, replacements included
  uint32_t goodRows() const { return goodRows_; }
  uint32_t badRows() const { return badRows_; }    // damaged lines, each replaced
  uint32_t longestBadRun() const { return longestBadRun_; }
  bool ended() const { return ended_; }
  bool rowLimitReached() const { return rowLimit_; }

 private:
  void deliver(const int32_t* changes, int count);
  void good(const int32_t* changes, int count);
  void bad();

  int width_;
  RowHandler handler_;
  std::vector<int32_t> ref_;  // the last good line
  std::vector<int32_t> cur_;
  int refCount_ = 0;
  bool haveRef_ = false;
  std::vector<uint8_t> row_;
  uint32_t rows_ = 0, goodRows_ = 0, badRows_ = 0, badRun_ = 0, longestBadRun_ = 0;
  bool ended_ = false;
  bool rowLimit_ = false;
};

}  // namespace qv::faximage
