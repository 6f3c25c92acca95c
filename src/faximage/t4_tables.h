#pragma once

#include <cstdint>

namespace qv::faximage {

// ITU-T T.4 modified Huffman codes, held bit-reversed within their length so that they can be
// ORed into a least-significant-bit-first stream as they are (bit 0 is sent first).
struct T4Code {
  uint16_t Code;
  uint8_t Bits;
};

// 104 entries per colour: terminating codes for runs 0..63 at index 0..63, then make-up codes
// for 64, 128, ... 2560 at index 64..103 (1792 and up are the extended codes shared by both
// colours).
inline constexpr int kT4CodeCount = 104;
inline constexpr int kT4MaxMakeUp = 2560;
extern const T4Code kWhiteCodes[kT4CodeCount];
extern const T4Code kBlackCodes[kT4CodeCount];

inline constexpr T4Code kEolCode = {0x0800, 12};          // 000000000001
inline constexpr T4Code kAlignedEolCode = {0x8000, 16};   // four fill bits + EOL: bytes 00 80

constexpr int T4TerminatingIndex(int run) { return run; }           // run 0..63
constexpr int T4MakeUpIndex(int run) { return 63 + run / 64; }      // run = 64..2560, k x 64

// Reverses the low `bits` bits of a code (LSB-first <-> transmission-order notation).
constexpr uint32_t ReverseCodeBits(uint32_t code, int bits) {
  uint32_t r = 0;
  for (int i = 0; i < bits; ++i) r |= ((code >> i) & 1u) << (bits - 1 - i);
  return r;
}

}  // namespace qv::faximage
