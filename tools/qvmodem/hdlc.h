// Byte-level helpers shared by the modem and the line: HDLC frame check sequence, DLE
// transparency, bit reversal and a scan of T.4 page data for its end-of-line codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv::modem {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kSub = 0x1A;
constexpr uint8_t kXon = 0x11;
constexpr uint8_t kDc2 = 0x12;
constexpr uint8_t kCan = 0x18;

// CRC-16/X.25 over the frame bytes (reflected 0x8408, init and final XOR 0xFFFF).
uint16_t frameCheckSequence(const uint8_t* data, size_t size);
// The frame with its FCS appended, low byte first, as it travels on the line.
Bytes withFcs(const Bytes& frame);
// True when a frame that still carries its two FCS bytes checks out.
bool fcsValid(const Bytes& frameWithFcs);

// Doubles every DLE so the bytes can travel DCE to DTE transparently.
void appendDleStuffed(Bytes& out, const uint8_t* data, size_t size);

uint8_t reverseBits(uint8_t b);

// What a scan of T.4 data (bits least significant first) found at its end.
struct T4Tail {
  int eolCount = 0;       // all EOL codes in the data
  int trailingEols = 0;   // consecutive EOLs (with only fill and 2-D tag bits between) at the end
  int cleanTrailingEols = 0;  // of those, the last ones with no fill between them (T.4 allows none in RTC)
  bool hasRtc() const { return trailingEols >= 6; }
  bool hasCleanRtc() const { return cleanTrailingEols >= 6; }
  // Scan lines: EOLs that were not part of the closing RTC.
  int lineCount() const { return eolCount - (hasRtc() ? trailingEols : 0); }
};
T4Tail scanT4(const Bytes& data);

// The same scan fed piece by piece, so a page never has to be kept whole.
class T4Scanner {
 public:
  void feed(const uint8_t* data, size_t size);
  void feed(const Bytes& data) { feed(data.data(), data.size()); }
  const T4Tail& tail() const { return tail_; }

 private:
  T4Tail tail_;
  int zeros_ = 0;
  bool afterEol_ = false;  // only fill zeros (and one tag bit) seen since the last EOL
  bool tagUsed_ = false;
};

// RTC packed least significant bit first: six EOL codes, each followed by a 1 tag bit in 2-D
// (MR) pages.
Bytes rtcBytes(bool twoD = false);

}  // namespace qv::modem
