#include "line/jitter_buffer.h"

#include <cstring>

namespace qv::line {

void FixedJitterBuffer::Push(uint16_t seq, const uint8_t* payload) {
  if (!haveFirst_) {
    haveFirst_ = true;
    playSeq_ = seq;
  }
  int ahead = static_cast<int16_t>(static_cast<uint16_t>(seq - playSeq_));
  if (ahead < 0 && !playing_ && ahead > -kSlots) {
    // Before playout starts nothing is late: an earlier packet that overtook the first one
    // moves the start back to it.
    playSeq_ = seq;
    ahead = 0;
  }
  if (ahead < 0) {
    ++stats_.late;
    return;
  }
  if (ahead >= kSlots) {
    // The sender jumped (a restart, or a clock far faster than ours): start over from this
    // packet rather than losing every one of them as "too early".
    ++stats_.resyncs;
    for (auto& s : slots_) s.full = false;
    playSeq_ = seq;
    playing_ = false;
    waited_ = 0;
  }
  Slot& slot = slots_[seq % kSlots];
  slot.full = true;
  slot.seq = seq;
  std::memcpy(slot.data.data(), payload, kSamplesPerPacket);
  ++stats_.received;
}

FixedJitterBuffer::Turn FixedJitterBuffer::Pop(uint8_t* out) {
  if (!haveFirst_) return Turn::NotStarted;
  if (!playing_) {
    if (++waited_ <= prefill_) return Turn::NotStarted;
    playing_ = true;
  }
  Slot& slot = slots_[playSeq_ % kSlots];
  const bool have = slot.full && slot.seq == playSeq_;
  ++playSeq_;
  if (!have) {
    ++stats_.lost;
    return Turn::Lost;
  }
  slot.full = false;
  std::memcpy(out, slot.data.data(), kSamplesPerPacket);
  return Turn::Packet;
}

}  // namespace qv::line
