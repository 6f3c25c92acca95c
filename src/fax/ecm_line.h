#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "fax/ecm_block_assembler.h"
#include "fax/ecm_page_frames.h"
#include "fax/soft_hdlc.h"

namespace qv::fax {

// Error correction frames on a Class 1 modem's high-speed carrier, which most modems will not
// frame themselves: the sender hands the whole burst to +FTM as data, the receiver de-frames what
// +FRM delivers.

// Sender: what goes to the modem after +FTM's CONNECT for block `block` of `page`: about 200 ms
// of flags (the receiver's time to lock on), the FCD frames named in `frames` (all of the block
// the first time, those a PPR asked for afterwards), three RCPs, DLE-stuffed and ending in
// DLE ETX. The whole burst is built before the first octet goes, so the modem is never starved
// in the middle of a frame (it would fill with zeros and break the frame).
std::vector<uint8_t> EcmBlockBurst(const EcmPageFrames& page, int block, std::span<const int> frames, int bps);
// Every frame number of the block, for the first burst.
std::vector<int> AllFramesOf(const EcmPageFrames& page, int block);

// Receiver: the octets of one +FRM carrier, in the pieces the port delivers them, into the
// block assembler. DLE codes are undone here; the carrier's DLE ETX ends the burst (so does a
// lost carrier, which the caller sees as a result line).
class EcmBurstReader {
 public:
  explicit EcmBurstReader(EcmBlockAssembler& assembler) : assembler_(assembler) {}

  // Starts a new carrier (the state of the last one's bits is dropped).
  void Start();
  // Octets as read from the modem; returns the number used: the rest (after DLE ETX) is the
  // modem's result line and belongs to the caller.
  size_t Put(std::span<const uint8_t> octets);
  bool ended() const { return ended_; }
  int framesStored() const { return stored_; }
  int rcpSeen() const { return rcp_; }
  int badFrames() const { return deframer_.badFrames(); }

 private:
  void Route();

  EcmBlockAssembler& assembler_;
  HdlcDeframer deframer_;
  bool dle_ = false;
  bool ended_ = false;
  int stored_ = 0;
  int rcp_ = 0;
};

}  // namespace qv::fax
