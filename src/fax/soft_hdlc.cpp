#include "fax/soft_hdlc.h"

#include <utility>

namespace qv::fax {

namespace {
constexpr uint8_t kFlag = 0x7E;
constexpr uint16_t kGoodFcsResidue = 0xF0B8;

uint16_t CrcUpdate(uint16_t crc, uint8_t b) {
  crc ^= b;
  for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
  return crc;
}

// Collects bits least significant first into octets.
class BitWriter {
 public:
  void Bit(int b) {
    if (b) cur_ |= static_cast<uint8_t>(1u << n_);
    if (++n_ == 8) {
      out_.push_back(cur_);
      cur_ = 0;
      n_ = 0;
    }
  }
  void Flag() {
    for (int i = 0; i < 8; ++i) Bit((kFlag >> i) & 1);
  }
  void Stuffed(uint8_t byte, int& ones) {
    for (int i = 0; i < 8; ++i) {
      const int b = (byte >> i) & 1;
      Bit(b);
      ones = b ? ones + 1 : 0;
      if (ones == 5) {
        Bit(0);
        ones = 0;
      }
    }
  }
  // Fills the last octet with the start of another flag, which a receiver takes for idle.
  std::vector<uint8_t> Finish() {
    for (int i = 0; n_ != 0; ++i) Bit((kFlag >> (i % 8)) & 1);
    return std::move(out_);
  }

 private:
  std::vector<uint8_t> out_;
  uint8_t cur_ = 0;
  int n_ = 0;
};
}  // namespace

uint16_t HdlcFcs(std::span<const uint8_t> bytes) {
  uint16_t crc = 0xFFFF;
  for (uint8_t b : bytes) crc = CrcUpdate(crc, b);
  return static_cast<uint16_t>(~crc);
}

std::vector<uint8_t> HdlcBurst(const std::vector<std::vector<uint8_t>>& frames, int leadFlags) {
  BitWriter w;
  for (int i = 0; i < leadFlags; ++i) w.Flag();
  if (leadFlags < 1) w.Flag();
  for (const auto& f : frames) {
    const uint16_t fcs = HdlcFcs(f);
    int ones = 0;
    for (uint8_t b : f) w.Stuffed(b, ones);
    w.Stuffed(static_cast<uint8_t>(fcs & 0xFF), ones);
    w.Stuffed(static_cast<uint8_t>(fcs >> 8), ones);
    w.Flag();
    w.Flag();
  }
  w.Flag();
  return w.Finish();
}

void HdlcDeframer::Put(std::span<const uint8_t> octets) {
  for (uint8_t o : octets)
    for (int i = 0; i < 8; ++i) PutBit((o >> i) & 1);
}

std::vector<std::vector<uint8_t>> HdlcDeframer::Take() { return std::exchange(done_, {}); }

void HdlcDeframer::EndFrame() {
  // The closing flag's first six bits (a 0 and five 1s) were collected as data before its sixth
  // 1 showed what it was, so a frame of whole octets leaves exactly six bits over. A flag straight
  // after another ends nothing.
  if (!frame_.empty()) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : frame_) crc = CrcUpdate(crc, b);
    if (!overflow_ && bits_ == 6 && frame_.size() >= 5 && crc == kGoodFcsResidue) {
      frame_.resize(frame_.size() - 2);
      done_.push_back(std::move(frame_));
    } else {
      ++bad_;
    }
  }
  frame_.clear();
  octet_ = 0;
  bits_ = 0;
  overflow_ = false;
}

void HdlcDeframer::PutBit(int bit) {
  if (bit) {
    ++ones_;
    if (ones_ >= 7) {  // abort or idle: whatever was being collected is void
      inFrame_ = false;
      frame_.clear();
      octet_ = 0;
      bits_ = 0;
      overflow_ = false;
      return;
    }
  } else {
    if (ones_ == 6) {  // a flag: ends a frame and opens the next
      ones_ = 0;
      if (inFrame_) EndFrame();
      inFrame_ = true;
      frame_.clear();
      octet_ = 0;
      bits_ = 0;
      overflow_ = false;
      return;
    }
    if (ones_ == 5) {  // an inserted zero
      ones_ = 0;
      return;
    }
    ones_ = 0;
  }
  if (!inFrame_ || ones_ == 6) return;
  if (bit) octet_ |= static_cast<uint8_t>(1u << bits_);
  if (++bits_ == 8) {
    if (frame_.size() < kMaxFrame)
      frame_.push_back(octet_);
    else
      overflow_ = true;
    octet_ = 0;
    bits_ = 0;
  }
}

}  // namespace qv::fax
