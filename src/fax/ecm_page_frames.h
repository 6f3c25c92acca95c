#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qv::fax {

// Error correction mode (T.30 Annex A): a coded page goes on the line as numbered HDLC frames
// (FCD) of a fixed size, in partial pages ("blocks") of at most 256 frames, each block
// acknowledged on its own.
inline constexpr int kEcmFrameSizeLarge = 256;  // octets of page data per frame (DCS bit 28 = 0)
inline constexpr int kEcmFrameSizeSmall = 64;   // DCS bit 28 = 1
inline constexpr int kEcmMaxFramesPerBlock = 256;

// A valid frame size: 256 or 64.
constexpr bool IsEcmFrameSize(int size) { return size == kEcmFrameSizeLarge || size == kEcmFrameSizeSmall; }

// The sender's view of one page: its coded bytes (MH/MR with RTC, or MMR with EOFB) cut into
// frames of the negotiated size in line order, regardless of where coded lines end, and the
// frames grouped into blocks of up to 256. Frame numbers restart at 0 in every block. The page's
// last frame is padded with 0x00 to the full size, as receivers accept either and some expect
// every frame full. A page of no bytes still makes one (all-zero) frame, so every page has a
// block to send and acknowledge.
class EcmPageFrames {
 public:
  EcmPageFrames(std::span<const uint8_t> page, int frameSize);  // frameSize 256 or 64 (else 256)

  int frameSize() const { return frameSize_; }
  size_t pageBytes() const { return pageBytes_; }  // before padding
  int totalFrames() const { return totalFrames_; }
  int blockCount() const { return (totalFrames_ + kEcmMaxFramesPerBlock - 1) / kEcmMaxFramesPerBlock; }
  // Frames in block `block` (0-based): 256 in all but the last block, 1..256 in the last.
  int framesInBlock(int block) const;

  // The frame's page data (frameSize bytes); frame is the number within its block.
  std::span<const uint8_t> frameData(int block, int frame) const;
  // The FCD frame's FIF: the frame number, then its data.
  std::vector<uint8_t> fcdFif(int block, int frame) const;

 private:
  int frameSize_;
  size_t pageBytes_;
  int totalFrames_;
  std::vector<uint8_t> padded_;
};

}  // namespace qv::fax
