#pragma once

#include <cstdint>
#include <vector>

namespace qv::faximage {

// Lookup tables for decoding the T.4 modified Huffman run codes, shared by the MH decoder and by
// the one-dimensional lines and horizontal-mode runs of the MR/MMR decoders.

// What a lookup entry found.
enum T4DecodeKind : uint8_t { kCodeRun = 0, kCodeEol = 1, kCodeInvalid = 2, kCodeZeros = 3 };

struct T4DecodeEntry {
  uint16_t run;
  uint8_t bits;  // bits the entry consumes
  uint8_t kind;
};

inline constexpr int kWhiteBits = 12;  // longest white code (and EOL)
inline constexpr int kBlackBits = 13;  // longest black code
inline constexpr uint32_t kEolZeros = 11;

// Several short codes at once: for the next kMultiBits input bits and the colour of the next run,
// the terminating codes that lie wholly within them, as long as their runs stay within
// kMultiPixels, and the pixels they make as a pattern (first pixel in the high bit, 1 = black).
// Short runs alternate fast in text, where one lookup per code would bound the decoder.
inline constexpr int kMultiBits = 10;
inline constexpr int kMultiPixels = 25;  // the pattern shifted by up to 7 still fits 32 bits

struct T4DecodeMulti {
  uint32_t pattern;
  uint8_t bits;    // bits the codes take; kNoMulti when the first code is not such a code
  uint8_t pixels;  // sum of the runs
  uint8_t codes;   // number of codes
  uint8_t flip;    // 1 when that number is odd: the colour changes
};
inline constexpr uint8_t kNoMulti = 0xFF;  // more bits than the decoder ever holds

// A lookup table answers, for the next N input bits (bit 0 first), what a bit-by-bit walk of the
// code tree from its root would reach: a run, the EOL, or a dead end after so many bits.
struct T4DecodeTables {
  std::vector<T4DecodeEntry> white;
  std::vector<T4DecodeEntry> black;
  // Both colours in one array each, so that the colour (0 white, 1 black) picks by arithmetic:
  // single codes at colour << kWhiteBits (white 4096 entries, then black 8192), masked with
  // kWhiteMask | colour << kWhiteBits; several codes at colour << kMultiBits.
  std::vector<T4DecodeEntry> single;
  std::vector<T4DecodeMulti> multi;
  T4DecodeTables();

 private:
  std::vector<T4DecodeMulti> buildMulti(bool blackFirst) const;
  static std::vector<T4DecodeEntry> build(bool black, int tableBits);
};

// Built once, on first use.
const T4DecodeTables& T4DecodingTables();

// The single-code entry for the next bits of a run of colour (0 white, 1 black); `acc` holds the
// next bits from bit 0 (at least 13 of them, or zeros past the end of the input).
inline const T4DecodeEntry& T4RunEntry(const T4DecodeTables& t, uint32_t colour, uint64_t acc) {
  constexpr uint32_t kWhiteMask = (1u << kWhiteBits) - 1;
  return t.single[(colour << kWhiteBits) + (static_cast<uint32_t>(acc) & (kWhiteMask | (colour << kWhiteBits)))];
}

}  // namespace qv::faximage
