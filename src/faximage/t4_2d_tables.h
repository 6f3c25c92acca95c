#pragma once

#include <array>
#include <cstdint>

#include "faximage/t4_tables.h"

namespace qv::faximage {

// The mode codes of T.4 two-dimensional coding (MR, and T.6 MMR), held bit-reversed within their
// length like the run codes (t4_tables.h) so they go into a least-significant-bit-first stream
// as they are.
enum class T4Mode : uint8_t {
  kPass,        // 0001: a0 moves to b2
  kHorizontal,  // 001 + two run codes: a0a1 and a1a2
  kVertical,    // a1 = b1 + offset, offset -3..3
  kExtension,   // 0000001xxx: uncompressed mode and the like, which we never offer
  kZeros,       // seven 0 bits: an EOL (or EOFB) begins here, or the data is damaged
};

inline constexpr T4Code kPassCode = {static_cast<uint16_t>(ReverseCodeBits(0b0001, 4)), 4};
inline constexpr T4Code kHorizontalCode = {static_cast<uint16_t>(ReverseCodeBits(0b001, 3)), 3};

// Vertical codes by offset a1 - b1 + 3: VL3, VL2, VL1, V0, VR1, VR2, VR3.
inline constexpr int kMaxVerticalOffset = 3;
inline constexpr std::array<T4Code, 7> kVerticalCodes = {{
    {static_cast<uint16_t>(ReverseCodeBits(0b0000010, 7)), 7},  // VL3
    {static_cast<uint16_t>(ReverseCodeBits(0b000010, 6)), 6},   // VL2
    {static_cast<uint16_t>(ReverseCodeBits(0b010, 3)), 3},      // VL1
    {static_cast<uint16_t>(ReverseCodeBits(0b1, 1)), 1},        // V0
    {static_cast<uint16_t>(ReverseCodeBits(0b011, 3)), 3},      // VR1
    {static_cast<uint16_t>(ReverseCodeBits(0b000011, 6)), 6},   // VR2
    {static_cast<uint16_t>(ReverseCodeBits(0b0000011, 7)), 7},  // VR3
}};

// EOL followed by the MR tag bit: 1 = the next line is one-dimensional, 0 = two-dimensional.
inline constexpr T4Code kEolTag1D = {static_cast<uint16_t>(kEolCode.Code | (1u << 12)), 13};
inline constexpr T4Code kEolTag2D = {kEolCode.Code, 13};

// K, the most lines per one-dimensional line in MR: a 1-D line, then at most K - 1 2-D lines.
inline constexpr int kMrKStandard = 2;  // 3.85 lines/mm
inline constexpr int kMrKFine = 4;      // 7.7 lines/mm

// Decoding: the next seven bits (bit 0 first) name the mode and its length.
inline constexpr int kModeLookupBits = 7;
struct T4ModeEntry {
  T4Mode mode;
  uint8_t bits;   // length of the mode code
  int8_t offset;  // vertical modes: a1 - b1
};
extern const std::array<T4ModeEntry, 1u << kModeLookupBits> kModeLookup;

}  // namespace qv::faximage
