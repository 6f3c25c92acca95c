// Receive machine, error correction mode over Class 1: each block of a page arrives as numbered
// HDLC frames on the high-speed carrier, which the DTE de-frames itself; the sender's PPS is
// answered with MCF when every frame of the block is here, else with PPR naming the frames to
// send again. A page goes into the file only once every block of it is whole, turned back into
// MH rows whatever coding it came in; a page with a block the sender gave up (EOR) is answered
// with ERR and kept out of the file.
#include <algorithm>

#include "core/exceptions.h"
#include "fax/receive_fax.h"

namespace qv::fax {

using S = RfState;

namespace {
// T2: the sender's next command comes within 6 s of its carrier's end (110 ticks of 55 ms).
constexpr int kT2Ticks = 110;
// A garbled command (bad check sequence) is listened for again; the sender repeats it after T4
// (3 s) at most three times, so more than this many in a row means the line is gone.
constexpr int kMaxGarbledCommands = 8;
// The width in pels of the session's rows.
constexpr int kStandardWidth = 1728;
constexpr int kWideWidth = 2048;
}  // namespace

void TQvReceiveFax::DecodeEcmFrame(const uint8_t* fif, size_t length) {
  // The modem hands each frame on with its two-octet check sequence after the FIF.
  switch (ClassifyFcf(lastFcf_)) {
    case FrameKind::Pps:
      ecmFieldsValid_ = length >= 4;
      if (ecmFieldsValid_) {
        ecmPostMessage_ = fif[0];
        ecmPageCounter_ = fif[1];
        ecmBlockCounter_ = fif[2];
        ecmFrameCount_ = fif[3] + 1;
      }
      break;
    case FrameKind::Eor:
      ecmFieldsValid_ = length >= 1;
      if (ecmFieldsValid_) ecmPostMessage_ = fif[0];
      break;
    case FrameKind::Ctc:
      ecmCtcSpeed_ = DecodeCtcSpeed(fif, length);
      break;
    default:
      break;
  }
}

TQvReceiveFax::Next TQvReceiveFax::EcmListen(bool longTraining) {
  if (!ecmReader_) ecmReader_ = std::make_unique<EcmBurstReader>(*ecmBlocks_);
  // V.17 after a good training goes on with short training; after CTC/CTR the sender trains long.
  ModemCommand(std::string("AT+FRM=") + (longTraining ? TrainingCode(speedIndex_) : PageDataCode(speedIndex_)), 0);
  Go(S::rf1EcmWtCnnct);
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::EcmBurstConnect(const std::string& l, bool) {
  if (HasConnect(l)) {
    ecmReader_->Start();
    dle_ = false;
    StatusUpdate(fpGetPage);
    ArmTimeout(kCommandTimeoutTicks);
    Go(S::rf1EcmBurst);
    return Next::Again;
  }
  if (IsFcError(l)) {
    // V.21 instead of the block: the sender missed our answer and repeats its command (or
    // goes on with CTC or EOR). Hear it.
    ModemCommand("AT+FRH=3", 0);
    ArmTimeout(kT2Ticks);
    Go(S::rf1EcmWaitCmd);
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::EcmBurstData(Ev ev) {
  if (ev == Ev::Timeout) return Fail(core::ecFatalTimeout);
  constexpr size_t kChunk = 4096;
  std::vector<uint8_t> chunk;
  chunk.reserve(kChunk);
  uint8_t c;
  bool ended = false;
  // Up to the carrier's DLE ETX and no further: what follows is the modem's result line.
  while (!ended && chunk.size() < kChunk && ch_->ReadChar(c) == 0) {
    chunk.push_back(c);
    if (dle_) {
      dle_ = false;
      ended = c == kEtx;
    } else if (c == kDle) {
      dle_ = true;
    }
  }
  if (chunk.empty()) return Next::Wait;
  ecmReader_->Put(chunk);
  bytesTransferred_ = bytesTransferred_ + static_cast<long>(chunk.size());
  ArmTimeout(kCommandTimeoutTicks);
  if (ended) {
    ecmGarbled_ = 0;
    Go(S::rf1EcmBurstEnd);
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::EcmBurstEnded(const std::string& l, bool ok) {
  if (HasCarrier(l) || ok) {
    // The sender turns to V.21 75 ms after its carrier: listen at once.
    ModemCommand("AT+FRH=3", 0);
    ArmTimeout(kT2Ticks);
    Go(S::rf1EcmWaitCmd);
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::EcmCommand(const std::string& l, bool ok) {
  if (HasConnect(l)) return Next::IfInput;
  if (HasError(l) || HasCarrier(l)) {
    // A frame with a bad check sequence, or a carrier that was not V.21: the sender repeats its
    // command when it hears no answer.
    if (++ecmGarbled_ > kMaxGarbledCommands) return Fail(core::ecFaxSessionError);
    ModemCommand("AT+FRH=3", 0);
    ArmTimeout(kT2Ticks);
    return Next::IfInput;
  }
  if (!ok) return Next::IfInput;
  if (!lastFrameFinal_) {
    ModemCommand("AT+FRH=3", 0);
    ArmTimeout(kT2Ticks);
    return Next::IfInput;
  }
  ecmGarbled_ = 0;
  // After a block that ends the page: the file's next step once our answer is out.
  auto afterPage = [this] {
    switch (ClassifyFcf(ecmPostMessage_)) {
      case FrameKind::Eop: morePages_ = false; eom_ = false; return S::rf1WaitDCN;
      case FrameKind::Eom: morePages_ = true; eom_ = true; return S::rf1SendCSI;
      default: morePages_ = true; eom_ = false; return S::rf1EcmWtCnnct;  // PPS-NULL or MPS
    }
  };
  switch (ClassifyFcf(lastFcf_)) {
    case FrameKind::Pps: {
      if (!ecmFieldsValid_) break;
      const bool endOfPage = ecmPostMessage_ != kPpsNull;
      switch (ecmBlocks_->onPps(ecmPageCounter_, ecmBlockCounter_, ecmFrameCount_, endOfPage)) {
        case EcmBlockAssembler::Answer::kComplete:
          if (ecmBlocks_->pageComplete()) {
            StatusUpdate(fpCheckMorePages);
            if (int rc = EcmFilePage(); rc != 0) return Fail(rc);
          }
          return EcmAnswer(BuildSimpleFrame(kFcfMcf, true), endOfPage ? afterPage() : S::rf1EcmWtCnnct);
        case EcmBlockAssembler::Answer::kRepeat:
          // Our MCF went astray: the block is in (and filed, if it ended the page) already.
          return EcmAnswer(BuildSimpleFrame(kFcfMcf, true), endOfPage ? afterPage() : S::rf1EcmWtCnnct);
        case EcmBlockAssembler::Answer::kResend: {
          // The frames of the block asked for again (a resend burst's PPS may count fewer).
          const PprMap& map = ecmBlocks_->pprMap();
          ecmFramesResent_ += static_cast<long>(FramesToResend(map, ecmBlocks_->blockFrames()).size());
          uint8_t octets[kPprMapOctets];
          std::copy(map.begin(), map.end(), octets);
          return EcmAnswer(BuildPprFrame(octets), S::rf1EcmWtCnnct);
        }
      }
      break;
    }
    case FrameKind::Ctc:
      // The sender goes on at a lower rate (never above what we offered), with long training.
      if (ecmCtcSpeed_ >= kMinSpeedIndex && ecmCtcSpeed_ <= topSpeedIndex_) speedIndex_ = ecmCtcSpeed_;
      StatusUpdate(fpSessionParams);
      ecmLongTraining_ = true;
      return EcmAnswer(BuildSimpleFrame(kFcfCtr, true), S::rf1EcmWtCnnct);
    case FrameKind::Eor: {
      if (!ecmFieldsValid_) break;
      // The sender gave the block up: its page can no longer arrive whole. The rest of the page
      // is still taken (the sender may go on with it), and the page dropped once it ends.
      const bool endOfPage = ecmPostMessage_ != kPpsNull;
      ecmBlocks_->giveUpBlock(endOfPage);
      if (ecmBlocks_->pageComplete()) {
        if (int rc = EcmFilePage(); rc != 0) return Fail(rc);
      }
      return EcmAnswer(BuildSimpleFrame(kFcfErr, true), endOfPage ? afterPage() : S::rf1EcmWtCnnct);
    }
    case FrameKind::Rr:
      // We are never busy: the sender asks again for our answer to its last command.
      if (!ecmResponse_.empty()) return EcmAnswer(ecmResponse_, ecmAfterResponse_);
      break;
    default:
      break;
  }
  ModemCommand("AT+FRH=3", 0);
  ArmTimeout(kT2Ticks);
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::EcmAnswer(std::vector<uint8_t> frame, RfState after) {
  ecmResponse_ = std::move(frame);
  ecmAfterResponse_ = after;
  ModemCommand("AT+FTH=3", 0);
  Go(S::rf1EcmSendResp);
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::EcmResponseConnect(const std::string& l, bool ok) {
  if (HasConnect(l)) {
    SendFrame(ecmResponse_);
    return Next::IfInput;
  }
  if (!ok) return Next::IfInput;
  switch (ecmAfterResponse_) {
    case S::rf1WaitDCN:
      if (out_.IsOpen() && out_.PageCount() == 0 && !DroppedPages().empty()) {
        // The document ended, and not one page of it arrived whole: no fax came.
        return Fail(core::ecFaxPageError);
      }
      PauseMs(200);
      ModemCommand("AT+FRH=3", 40);
      if (out_.IsOpen())
        DocumentReceived(S::rf1WaitDCN);
      else
        Go(S::rf1WaitDCN);  // an answer to a repeated PPS-EOP: the fax is filed already
      return Next::IfInput;
    case S::rf1SendCSI:
      // After PPS-EOM phase B starts again with our DIS.
      PauseMs(200);
      ModemCommand("AT+FTH=3", 40);
      Go(S::rf1SendCSI);
      return Next::IfInput;
    default: {
      const bool longTraining = ecmLongTraining_;
      ecmLongTraining_ = false;
      return EcmListen(longTraining);
    }
  }
}

int TQvReceiveFax::EcmFilePage() {
  ++ecmPagesArrived_;
  const bool damaged = ecmBlocks_->pageDamaged();
  const std::vector<uint8_t> line = ecmBlocks_->takePage();
  if (damaged) {
    // Rows of a given-up block are missing: filed, the page would pass for the page sent, shorter
    // or garbled below the gap. It stays out of the file, and the call's log names it.
    std::lock_guard lock(droppedMutex_);
    droppedPages_.push_back(ecmPagesArrived_);
    return 0;
  }
  page_ = page_ + 1;
  int rc = WritePageHeader();
  if (rc != 0) return rc;
  // The file keeps MH rows whatever the line carried.
  const faximage::FilePage mh =
      faximage::MhPageFromLine(line, sessionWide_ ? kWideWidth : kStandardWidth, lineCoding_);
  rc = out_.WriteRaw(mh.mh);
  if (rc != 0) return rc;
  pageBytes_ = static_cast<long>(mh.mh.size());
  return FinishPage();
}

}  // namespace qv::fax
