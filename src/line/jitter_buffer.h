// A fixed jitter buffer for modem audio. Fax modems cannot bear audio that is stretched or
// squeezed during a carrier, so the delay never adapts: playout starts a fixed number of ticks
// after the first packet and then takes exactly one packet's slot per tick. A packet that is
// missing at its turn is lost (the modem gets a fill-in); one that comes after its turn is late
// and dropped.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "line/rtp.h"

namespace qv::line {

class FixedJitterBuffer {
 public:
  static constexpr int kSlots = 32;  // 640 ms: far more than a loopback or office network needs

  explicit FixedJitterBuffer(int prefillTicks = 3) : prefill_(prefillTicks) {}

  // Stores a 160-octet packet by its sequence number.
  void Push(uint16_t seq, const uint8_t* payload);

  enum class Turn { NotStarted, Packet, Lost };
  // One tick's turn: Packet (copied to out), Lost (nothing came for this slot) or NotStarted
  // (the first packet has not come yet or the prefill is not over: nothing is late yet).
  Turn Pop(uint8_t* out);

  struct Stats {
    uint64_t received = 0, lost = 0, late = 0, resyncs = 0;
  };
  const Stats& stats() const { return stats_; }

 private:
  struct Slot {
    bool full = false;
    uint16_t seq = 0;
    std::array<uint8_t, kSamplesPerPacket> data{};
  };
  int prefill_;
  bool haveFirst_ = false, playing_ = false;
  int waited_ = 0;
  uint16_t playSeq_ = 0;
  std::array<Slot, kSlots> slots_{};
  Stats stats_;
};

}  // namespace qv::line
