#pragma once

#include <cstdint>
#include <span>

#include "faximage/t4_bits.h"
#include "faximage/t4_decode_tables.h"

namespace qv::faximage {

// One coding line as T.4 two-dimensional coding sees it: its changing elements, the pels whose
// colour differs from the pel before them (an imaginary white pel stands left of pel 0). The list
// holds their positions in ascending order, then three copies of the width, which stand for the
// imaginary changing elements past the end of the line that the mode rules refer to. Even
// entries start black, odd ones white. A buffer for a line of `width` pels needs
// ChangeCapacity(width) entries.
inline constexpr int kMaxLinePixels = 4096;
constexpr int ChangeCapacity(int width) { return width + 4; }

// The changing elements of a packed row (1 = black, leftmost pel in the high bit; (width + 7) / 8
// bytes; bits past the width are ignored). Returns their number; the sentinels follow them.
int RowChanges(const uint8_t* row, int width, int32_t* changes);
// The packed row (1 = black) of a list of `count` changing elements; all (width + 7) / 8 bytes
// are written.
void RowFromChanges(const int32_t* changes, int count, int width, uint8_t* row);
// An all-white line: no changing elements, only the sentinels.
void WhiteLine(int width, int32_t* changes);

// Coding: at most this many bytes for one line of either kind (the worst line, every pel a
// change, takes fewer than 8 bits per pel).
constexpr int MaxCodedLineBytes(int width) { return width + 32; }
// The line as modified Huffman runs (a one-dimensional MR line, no EOL).
void Code1DLine(BitPacker& bp, const int32_t* cur, int count, int width);
// The line coded against the reference line with the pass, horizontal and vertical modes.
void Code2DLine(BitPacker& bp, const int32_t* ref, const int32_t* cur, int width);

// Reads a coded page from memory, next bit in bit 0 of the buffer. Past the end of the data the
// buffer reads as 0 bits, and available() says how many bits are real.
struct T4BitCursor;

class T4BitReader {
 public:
  explicit T4BitReader(std::span<const uint8_t> data) : p_(data.data()), end_(data.data() + data.size()) {}
  // At least `n` (<= 56) bits in the buffer, unless the data runs out.
  void need(int n) {
    if (nbits_ < n) RefillBits(acc_, nbits_, p_, end_);
  }
  uint64_t bits() const { return acc_; }
  int available() const { return nbits_; }
  void skip(int n) {  // n <= available()
    acc_ = n >= 64 ? 0 : acc_ >> n;
    nbits_ -= n;
  }
  bool atEnd() const { return nbits_ == 0 && p_ == end_; }
  // True when nothing but 0 bits remains (the pad after the last code).
  bool onlyZerosLeft();
  // Skips 0 bits up to the next 1 and consumes that 1; returns the number of 0 bits skipped,
  // or -1 when the data ends first (everything read).
  int64_t skipZerosAndOne();
  // Moves past the next EOL (eleven or more 0 bits, then a 1); false when the data ends first.
  bool skipToEol();
  // True when the next bits are an EOL, which is then consumed with any fill before it; nothing is
  // consumed otherwise.
  bool takeEol();

 private:
  friend struct T4BitCursor;
  uint64_t acc_ = 0;
  int nbits_ = 0;
  const uint8_t* p_;
  const uint8_t* end_;
};

enum class LineStatus {
  kOk,    // a whole line decoded
  kBad,   // a bit pattern that is no code here, or runs past the end of the line
  kEol,   // an EOL (seven or more 0 bits) where a code should be; nothing consumed
  kEnd,   // the data ended inside the line
};

// Decodes one line of modified Huffman runs into changing elements (count, then sentinels).
LineStatus Decode1DLine(T4BitReader& in, int width, int32_t* cur, int& count);
// Decodes one two-dimensional line against the reference line's changing elements.
LineStatus Decode2DLine(T4BitReader& in, int width, const int32_t* ref, int32_t* cur, int& count);

}  // namespace qv::faximage
