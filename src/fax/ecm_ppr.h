#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <span>
#include <vector>

#include "fax/ecm_page_frames.h"

namespace qv::fax {

// The partial page request (PPR) names the frames of a block to send again in a 256-bit map of
// 32 octets: octet k, bit j (bit 0 = the first transmitted, the least significant) stands for
// frame 8k + j, and a 1 asks for that frame.
inline constexpr size_t kPprMapOctets = 32;
using PprMap = std::array<uint8_t, kPprMapOctets>;

// Which frames of a block the receiver holds (arrived with a good FCS and the right size).
using EcmFrameSet = std::bitset<kEcmMaxFramesPerBlock>;

// Receiver: the map for a block of frameCount frames. Besides the frames missing from the block,
// the bits of the numbers past its end are set too, as established receivers send them (a
// sender ignores bits at or past its frame count).
PprMap BuildPprMap(const EcmFrameSet& received, int frameCount);

// Sender: the frame numbers below frameCount that the map asks for, in ascending order.
std::vector<int> FramesToResend(const PprMap& map, int frameCount);
// The map from a PPR frame's FIF; false when the FIF is not 32 octets.
bool ReadPprMap(std::span<const uint8_t> fif, PprMap& map);

// Sender: the PPRs received for one block. After the fourth (kPprLimitPerBlock) the sender stops
// resending at this rate: CTC (continue at a lower speed) when the resends were getting somewhere,
// EOR (give the block up) when they were not; the caller decides and sends, then calls
// continueAfterCtc or newBlock.
inline constexpr int kPprLimitPerBlock = 4;

class EcmPprCounter {
 public:
  // A PPR asking for `framesAsked` frames. True when it is the fourth since the block (or the
  // last CTC) began: time for CTC or EOR.
  bool onPpr(int framesAsked);
  // Whether the PPRs of this round asked for fewer frames as they went: the resends get through.
  bool madeProgress() const { return rounds_ > 1 && last_ < first_; }
  int count() const { return rounds_; }
  // The peer answered CTC with CTR: the block continues at the new rate, the count restarts.
  void continueAfterCtc() { rounds_ = 0; }
  // MCF (or ERR after EOR): the next block starts with no PPRs.
  void newBlock() { rounds_ = 0; }

 private:
  int rounds_ = 0;
  int first_ = 0;
  int last_ = 0;
};

}  // namespace qv::fax
