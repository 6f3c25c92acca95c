#include "fax/ecm_ppr.h"

#include <algorithm>

namespace qv::fax {

PprMap BuildPprMap(const EcmFrameSet& received, int frameCount) {
  frameCount = std::clamp(frameCount, 0, kEcmMaxFramesPerBlock);
  PprMap map{};
  for (int f = 0; f < kEcmMaxFramesPerBlock; ++f)
    if (f >= frameCount || !received.test(static_cast<size_t>(f)))
      map[static_cast<size_t>(f / 8)] |= static_cast<uint8_t>(1u << (f % 8));
  return map;
}

std::vector<int> FramesToResend(const PprMap& map, int frameCount) {
  frameCount = std::clamp(frameCount, 0, kEcmMaxFramesPerBlock);
  std::vector<int> frames;
  for (int f = 0; f < frameCount; ++f)
    if (map[static_cast<size_t>(f / 8)] & (1u << (f % 8))) frames.push_back(f);
  return frames;
}

bool ReadPprMap(std::span<const uint8_t> fif, PprMap& map) {
  if (fif.size() != kPprMapOctets) return false;
  std::copy(fif.begin(), fif.end(), map.begin());
  return true;
}

bool EcmPprCounter::onPpr(int framesAsked) {
  if (rounds_ == 0) first_ = framesAsked;
  last_ = framesAsked;
  return ++rounds_ >= kPprLimitPerBlock;
}

}  // namespace qv::fax
