#include "fax/ecm_page_frames.h"

#include <algorithm>

namespace qv::fax {

EcmPageFrames::EcmPageFrames(std::span<const uint8_t> page, int frameSize)
    : frameSize_(IsEcmFrameSize(frameSize) ? frameSize : kEcmFrameSizeLarge), pageBytes_(page.size()) {
  const size_t size = static_cast<size_t>(frameSize_);
  totalFrames_ = static_cast<int>(std::max<size_t>(1, (page.size() + size - 1) / size));
  padded_.assign(static_cast<size_t>(totalFrames_) * size, 0x00);
  std::copy(page.begin(), page.end(), padded_.begin());
}

int EcmPageFrames::framesInBlock(int block) const {
  if (block < 0 || block >= blockCount()) return 0;
  return std::min(kEcmMaxFramesPerBlock, totalFrames_ - block * kEcmMaxFramesPerBlock);
}

std::span<const uint8_t> EcmPageFrames::frameData(int block, int frame) const {
  if (frame < 0 || frame >= framesInBlock(block)) return {};
  const size_t index = static_cast<size_t>(block) * kEcmMaxFramesPerBlock + static_cast<size_t>(frame);
  return std::span<const uint8_t>(padded_).subspan(index * static_cast<size_t>(frameSize_),
                                                   static_cast<size_t>(frameSize_));
}

std::vector<uint8_t> EcmPageFrames::fcdFif(int block, int frame) const {
  std::span<const uint8_t> data = frameData(block, frame);
  if (data.empty()) return {};
  std::vector<uint8_t> fif;
  fif.reserve(data.size() + 1);
  fif.push_back(static_cast<uint8_t>(frame));
  fif.insert(fif.end(), data.begin(), data.end());
  return fif;
}

}  // namespace qv::fax
