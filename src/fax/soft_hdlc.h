#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qv::fax {

// HDLC done by the DTE, for the high-speed error correction frames a Class 1 modem does not frame
// itself (most list only V.21 for +FTH/+FRH): the frames go out as plain data with +FTM and come
// in with +FRM. Bits travel least significant first, as every Class 1 data octet.

// The frame check sequence (CRC-16 of X.25) over `bytes`; sent low octet first.
uint16_t HdlcFcs(std::span<const uint8_t> bytes);

// One burst of frames as line octets (not DLE-stuffed): `leadFlags` opening flags, each frame
// with its FCS and zero-bit insertion, two flags between frames, closing flags, the last octet
// filled out with flag bits. The receiver finds frames at any bit offset, so nothing needs to be
// octet-aligned inside.
std::vector<uint8_t> HdlcBurst(const std::vector<std::vector<uint8_t>>& frames, int leadFlags);

// The receiving side: octets in, frames with a good FCS out (without their FCS). Hunts for flags
// at every bit position, removes inserted zeros, drops aborted, short or damaged frames.
class HdlcDeframer {
 public:
  // Frames longer than this are dropped as damaged (an ECM frame is at most 4 + 256 + 2 octets).
  static constexpr size_t kMaxFrame = 512;

  void Put(std::span<const uint8_t> octets);
  // Frames completed so far, in order of arrival; taking them empties the list.
  std::vector<std::vector<uint8_t>> Take();
  int badFrames() const { return bad_; }

 private:
  void PutBit(int bit);
  void EndFrame();

  unsigned ones_ = 0;        // consecutive 1 bits seen
  bool inFrame_ = false;     // a flag was seen and no abort since
  uint8_t octet_ = 0;
  int bits_ = 0;
  std::vector<uint8_t> frame_;
  bool overflow_ = false;
  std::vector<std::vector<uint8_t>> done_;
  int bad_ = 0;
};

}  // namespace qv::fax
