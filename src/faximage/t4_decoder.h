#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace qv::faximage {

// Decoder for T.4 one-dimensional (modified Huffman) coded rows, bits packed least significant bit
// first. Table driven, but it treats every bit exactly as a walk of the per-colour code trees would:
//  - an EOL (eleven or more 0 bits, then a 1) ends the row; the row is handed on only when it holds
//    at least one bit and its length in whole bytes is 216 or 256 (1728 or 2048 pixels);
//  - a bit pattern that is no code counts as a bad code; the decoder then skips 1 bits and starts
//    over at the next 0 bit (which may begin an EOL);
//  - runs before the first EOL of a page are ignored, and so is a run that would carry the row past
//    4096 pixels; a terminating code always switches colour;
//  - three EOLs with no run between them end the page.
// Input may arrive in pieces of any size (row records, file blocks, single bytes): codes that span
// a piece boundary are completed by the next piece.
class T4Decoder {
 public:
  static constexpr int kMaxRowPixels = 4096;
  static constexpr int kRowBufferBytes = kMaxRowPixels / 8;  // 512

  // Receives every accepted row: 216 or 256 bytes, 1 = black, leftmost pixel in the high bit.
  using RowHandler = std::function<void(std::span<const uint8_t> row)>;

  T4Decoder();
  explicit T4Decoder(RowHandler handler);

  void setRowHandler(RowHandler handler) { rowHandler_ = std::move(handler); }

  // Start of a page: empty row, white, no EOL seen yet, resynchronisation off, counters cleared.
  void startPage();

  // Decodes the bytes; returns true once the page has ended (three EOLs in a row). Bytes after the
  // end of the page are not looked at.
  bool feed(std::span<const uint8_t> data);
  bool feed(const uint8_t* data, size_t size) { return feed(std::span<const uint8_t>(data, size)); }

  bool pageEnded() const { return ended_; }
  uint32_t badCodes() const { return badCodes_; }   // invalid codes met on this page
  uint32_t rowsAccepted() const { return rows_; }   // rows handed to the row handler
  uint32_t rowsDropped() const { return dropped_; } // rows of a wrong length, discarded at their EOL

  // Copy quality of the page so far, as a receiver without error correction judges it. A row is
  // bad when it held a bit pattern that is no code, or reached its EOL at another width than 1728
  // or 2048 pixels (such a row is still handed on when its whole bytes come to 216 or 256).
  // Lines with nothing between their EOLs (the end of the page, fill) are not rows, and what
  // comes before the first EOL is not judged: a modem may put noise there as its carrier starts.
  uint32_t goodRows() const { return goodRows_; }
  uint32_t badRows() const { return badRows_; }
  uint32_t longestBadRun() const { return longestBadRun_; }  // most bad rows in a row

 private:
  void endOfLine();

  RowHandler rowHandler_;
  uint64_t acc_ = 0;   // pending input bits, next bit in bit 0
  int nbits_ = 0;      // number of valid bits in acc_
  int pos_ = 0;        // write position in row_, in pixels
  bool black_ = false;
  bool beforeFirstEol_ = true;
  bool resync_ = false;
  bool zeroRun_ = false;  // inside an EOL: eleven 0 bits seen, waiting for the 1
  bool ended_ = false;
  int eolCount_ = 0;
  uint32_t badCodes_ = 0;
  uint32_t rows_ = 0;
  uint32_t dropped_ = 0;
  uint32_t rowBadCodes_ = 0;  // badCodes_ when the current row began
  uint32_t goodRows_ = 0;
  uint32_t badRows_ = 0;
  uint32_t badRun_ = 0;
  uint32_t longestBadRun_ = 0;
  alignas(16) uint8_t row_[kRowBufferBytes + 8];
};

}  // namespace qv::faximage
