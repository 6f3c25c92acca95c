#include "fax/ecm_block_assembler.h"

#include <algorithm>
#include <cstring>

namespace qv::fax {

EcmBlockAssembler::EcmBlockAssembler(int frameSize)
    : frameSize_(IsEcmFrameSize(frameSize) ? frameSize : kEcmFrameSizeLarge),
      frames_(static_cast<size_t>(kEcmMaxFramesPerBlock) * static_cast<size_t>(frameSize_)),
      lengths_(kEcmMaxFramesPerBlock, 0) {}

void EcmBlockAssembler::addFrame(std::span<const uint8_t> fif) {
  if (fif.size() < 2 || fif.size() - 1 > static_cast<size_t>(frameSize_)) return;
  const size_t n = fif[0];
  const size_t len = fif.size() - 1;
  std::memcpy(frames_.data() + n * static_cast<size_t>(frameSize_), fif.data() + 1, len);
  lengths_[n] = static_cast<uint16_t>(len);
  have_.set(n);
}

void EcmBlockAssembler::startBlock() {
  have_.reset();
  std::fill(lengths_.begin(), lengths_.end(), 0);
  blockFrames_ = 0;
}

void EcmBlockAssembler::commit(int frames) {
  for (int f = 0; f < frames; ++f) {
    const size_t at = static_cast<size_t>(f) * static_cast<size_t>(frameSize_);
    const size_t len = have_.test(static_cast<size_t>(f)) ? lengths_[static_cast<size_t>(f)] : static_cast<size_t>(frameSize_);
    if (have_.test(static_cast<size_t>(f)))
      page_.insert(page_.end(), frames_.begin() + static_cast<long>(at), frames_.begin() + static_cast<long>(at + len));
    else
      page_.insert(page_.end(), len, 0x00);
  }
}

EcmBlockAssembler::Answer EcmBlockAssembler::onPps(uint8_t pageCounter, uint8_t blockCounter, int frameCount,
                                                   bool endOfPage) {
  // Our MCF to this block went astray and the sender asks again: the block is already in.
  if (committedAny_ && pageCounter == lastPage_ && blockCounter == lastBlock_) return Answer::kRepeat;
  frameCount = std::clamp(frameCount, 1, kEcmMaxFramesPerBlock);
  blockFrames_ = std::max(blockFrames_, frameCount);
  // All frames but the last must be full; a short one among them cannot be placed and is asked
  // for again. The last may be short (or padded).
  EcmFrameSet usable = have_;
  for (int f = 0; f + 1 < blockFrames_; ++f)
    if (usable.test(static_cast<size_t>(f)) && lengths_[static_cast<size_t>(f)] != frameSize_) {
      usable.reset(static_cast<size_t>(f));
      have_.reset(static_cast<size_t>(f));
    }
  bool whole = true;
  for (int f = 0; f < blockFrames_ && whole; ++f) whole = usable.test(static_cast<size_t>(f));
  if (!whole) {
    map_ = BuildPprMap(usable, blockFrames_);
    return Answer::kResend;
  }
  if (pageComplete_) page_.clear();  // a page not taken is replaced by the next
  pageComplete_ = false;
  commit(blockFrames_);
  committedAny_ = true;
  lastPage_ = pageCounter;
  lastBlock_ = blockCounter;
  if (endOfPage) pageComplete_ = true;
  startBlock();
  return Answer::kComplete;
}

void EcmBlockAssembler::giveUpBlock(bool endOfPage) {
  int frames = blockFrames_;
  if (frames == 0)  // no PPS counted it: as far as the highest frame that came
    for (int f = 0; f < kEcmMaxFramesPerBlock; ++f)
      if (have_.test(static_cast<size_t>(f))) frames = f + 1;
  if (pageComplete_) page_.clear();
  pageComplete_ = false;
  commit(frames);
  pageDamaged_ = true;
  if (endOfPage) pageComplete_ = true;
  startBlock();
}

std::vector<uint8_t> EcmBlockAssembler::takePage() {
  if (!pageComplete_) return {};
  std::vector<uint8_t> out;
  out.swap(page_);
  pageComplete_ = false;
  pageDamaged_ = false;
  return out;
}

}  // namespace qv::fax
