#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "fax/ecm_page_frames.h"
#include "fax/ecm_ppr.h"

namespace qv::fax {

// The receiver's side of error correction mode: collects the FCD frames of the block being
// received, in any order and with repeats, and answers each partial page signal (PPS) with
// either "block complete" (MCF: its bytes join the page) or the map of frames to send again
// (PPR). A page is complete only when the PPS that ends it (PPS-MPS, -EOP or -EOM, not -NULL)
// finds every frame of its block; only then is the page handed out, its bytes in frame order.
class EcmBlockAssembler {
 public:
  explicit EcmBlockAssembler(int frameSize);  // 256 or 64 (else 256)

  // An FCD frame that arrived with a good FCS: its FIF is the frame number and the page data.
  // Frames of the wrong size (longer than the frame size, or empty) are dropped and will be
  // asked for again; a frame that arrives twice keeps the later copy.
  void addFrame(std::span<const uint8_t> fif);

  enum class Answer {
    kComplete,   // every frame is here: MCF; the block's bytes were added to the page
    kRepeat,     // the PPS of a block already committed (our MCF was lost): MCF again, nothing added
    kResend,     // frames are missing: PPR with pprMap()
  };
  // The PPS for the block: its page counter, block counter, frame count (FC + 1) and whether it
  // ends the page. The first PPS of a block fixes the block's size; a later one (after a resend
  // burst, whose FC may count only the frames resent) never shrinks it.
  Answer onPps(uint8_t pageCounter, uint8_t blockCounter, int frameCount, bool endOfPage);
  const PprMap& pprMap() const { return map_; }

  // EOR: the sender gave the block up. The frames that arrived are kept in their places, missing
  // ones become 0x00 octets (fill, from which a line decoder finds the next EOL), and the page is
  // marked damaged. With endOfPage the page is then complete.
  void giveUpBlock(bool endOfPage);

  bool pageComplete() const { return pageComplete_; }
  bool pageDamaged() const { return pageDamaged_; }
  // Hands the complete page out and starts the next one; empty when the page is not complete.
  std::vector<uint8_t> takePage();

  // Frames of the current block held so far.
  const EcmFrameSet& received() const { return have_; }
  // Frames of the current block as its first PPS counted them (0 before it).
  int blockFrames() const { return blockFrames_; }

 private:
  void commit(int frames);
  void startBlock();

  int frameSize_;
  std::vector<uint8_t> frames_;                 // 256 slots of frameSize_ octets
  std::vector<uint16_t> lengths_;               // octets held per slot
  EcmFrameSet have_;
  int blockFrames_ = 0;                         // from the block's first PPS; 0 before it
  bool committedAny_ = false;                   // some block was committed (for repeats)
  uint8_t lastPage_ = 0, lastBlock_ = 0;        // counters of the block committed last
  std::vector<uint8_t> page_;
  bool pageComplete_ = false;
  bool pageDamaged_ = false;
  PprMap map_{};
};

}  // namespace qv::fax
