#include "fax/ecm_line.h"

#include <algorithm>

#include "fax/t30_frames.h"

namespace qv::fax {

namespace {
constexpr int kRcpRepeats = 3;
// Opening flags: a fifth of a second at the line rate (bps / 8 octets a second).
int LeadFlags(int bps) { return std::max(bps, 2400) / 40; }
}  // namespace

std::vector<int> AllFramesOf(const EcmPageFrames& page, int block) {
  std::vector<int> all(static_cast<size_t>(page.framesInBlock(block)));
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
  return all;
}

std::vector<uint8_t> EcmBlockBurst(const EcmPageFrames& page, int block, std::span<const int> frames, int bps) {
  std::vector<std::vector<uint8_t>> hdlc;
  hdlc.reserve(frames.size() + kRcpRepeats);
  for (int f : frames) {
    const auto data = page.frameData(block, f);
    hdlc.push_back(BuildFcdFrame(static_cast<uint8_t>(f), data.data(), data.size()));
  }
  for (int i = 0; i < kRcpRepeats; ++i) hdlc.push_back(BuildRcpFrame());
  return StuffFrame(HdlcBurst(hdlc, LeadFlags(bps)));
}

void EcmBurstReader::Start() {
  deframer_ = HdlcDeframer();
  dle_ = false;
  ended_ = false;
  stored_ = 0;
  rcp_ = 0;
}

size_t EcmBurstReader::Put(std::span<const uint8_t> octets) {
  std::vector<uint8_t> data;
  data.reserve(octets.size());
  size_t used = 0;
  for (; used < octets.size() && !ended_; ++used) {
    const uint8_t c = octets[used];
    if (dle_) {
      dle_ = false;
      if (c == kDle)
        data.push_back(kDle);
      else if (c == kEtx)
        ended_ = true;
      // Any other DLE code is the modem's and carries no page data.
      continue;
    }
    if (c == kDle)
      dle_ = true;
    else
      data.push_back(c);
  }
  deframer_.Put(data);
  Route();
  return used;
}

void EcmBurstReader::Route() {
  for (auto& f : deframer_.Take()) {
    // Address FF, control 03; FCD with its frame number and data, or RCP.
    if (f.size() < 3 || f[0] != 0xFF || f[1] != 0x03) continue;
    if (f[2] == kFcfFcd && f.size() >= 5) {
      assembler_.addFrame(std::span<const uint8_t>(f).subspan(3));
      ++stored_;
    } else if (f[2] == kFcfRcp) {
      ++rcp_;
    }
  }
}

}  // namespace qv::fax
