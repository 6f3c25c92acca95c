// Transmit machine, error correction mode over Class 1: each page is coded whole, cut into
// numbered frames, and sent in blocks of up to 256; the receiver's PPR names the frames to send
// again, and a block that will not get through at this rate goes on at a lower one (CTC) or is
// given up (EOR).
#include <fstream>

#include "core/exceptions.h"
#include "fax/ecm_line.h"
#include "fax/send_fax.h"
#include "faximage/t4_2d_tables.h"
#include "faximage/t4_transcode.h"

namespace qv::fax {

namespace {
// T4: a command unanswered three times more ends the call.
constexpr int kCommandRepeats = 3;
// T5: RNR answers for about 60 s (an RR each turn of about 3 s).
constexpr int kRnrRounds = 20;
}  // namespace

int TQvSendFax::CaptureEcmPage() {
  pageOnLine_ = 0;
  ecmPage_.clear();
  staging_.clear();
  sentToPort_ = 0;
  bytesTransferred_ = 0;
  pageQueued_ = pageHanded_ = 0;
  ecmCapture_ = true;
  int rc = PageStartRows();
  bool done = false;
  if (rc == 0 && coverInProgress_ && !coverIsQvf_) {
    coverText_ = std::make_unique<std::ifstream>(coverFile_);
    if (!*coverText_) rc = core::ecFileNotFound;
    while (rc == 0 && !done) rc = SendCoverLines(done);
  } else if (rc == 0) {
    if (coverInProgress_ && !cover_.IsOpen()) rc = cover_.Open(coverFile_);
    if (rc == 0) rc = ReadCurrentPageHeader();
    if (rc == 0) {
      faximage::QvfReader& r = coverInProgress_ ? cover_ : doc_;
      r.Seek(pageDataOffset_);
      pageLength_ = pageInfo_.ImageLength;
      pageConsumed_ = 0;
      while (rc == 0 && !done) rc = SendPageBlocks(done);
    }
  }
  ecmCapture_ = false;
  if (rc != 0) return rc;
  if (class_ == fcClass1 && sessionEcm_ && sessionCoding_ != LineCoding::MH) {
    // The page went through the MH path whole (header line included): coded again for the line.
    // (A 2-D page without error correction, and every Class 2/2.0 page, is captured in MH too,
    // and CodeWholePage codes it with the fill the session's scan-line time asks for.)
    const faximage::T4Coding coding =
        sessionCoding_ == LineCoding::MMR ? faximage::T4Coding::kMmr : faximage::T4Coding::kMr;
    const int k = sessionFine_ ? faximage::kMrKFine : faximage::kMrKStandard;
    faximage::LinePage line =
        faximage::CodePageForLine(ecmPage_, false, sessionWide_ ? 2048 : 1728, coding, k, 0);
    ecmPage_ = std::move(line.data);
  }
  // The page is with us whole: what the page states do once its data has left.
  bytesTransferred_ = static_cast<long>(ecmPage_.size());
  morePages_ = MorePagesAfterCurrent();
  lastWasCover_ = coverInProgress_;
  resChanges_ = false;
  if (morePages_) {
    pageOnLine_ = PageInHand();
    return TurnToNextPage();
  }
  return 0;
}

TQvSendFax::Next TQvSendFax::StartEcmPage() {
  StatusUpdate(fpSendPage);
  if (int rc = CaptureEcmPage(); rc != 0) return Fail(rc);
  ecmFrames_ = std::make_unique<EcmPageFrames>(ecmPage_, ecmFrameSize_);
  ecmBlock_ = 0;
  ecmPprs_.newBlock();
  StartEcmBurst(AllFramesOf(*ecmFrames_, 0), false);
  return Next::IfInput;
}

void TQvSendFax::StartEcmBurst(std::vector<int> frames, bool longTraining) {
  ecmBurstFrames_ = static_cast<int>(frames.size());
  ecmBurst_ = EcmBlockBurst(*ecmFrames_, ecmBlock_, frames, SpeedBps(speedIndex_));
  // V.17 after a good training check goes on with short training; after a change of rate the
  // receiver listens for the long one.
  ModemCommand(std::string("AT+FTM=") + (longTraining ? TrainingCode(speedIndex_) : PageDataCode(speedIndex_)), 40);
  Go(TxState::tf1EcmBurst);
}

void TQvSendFax::SendEcmCommand(std::vector<uint8_t> frame) {
  ecmCommand_ = std::move(frame);
  ecmCommandTries_ = 0;
  ModemCommand("AT+FTH=3", 40);
  Go(TxState::tf1EcmSendCmd);
}

uint8_t TQvSendFax::EcmPostMessage() const {
  if (ecmBlock_ + 1 < ecmFrames_->blockCount()) return kPpsNull;
  return !morePages_ ? kFcfEop : (SameSessionNext() ? kFcfMps : kFcfEom);
}

TQvSendFax::Next TQvSendFax::EcmBurstConnect(const std::string& l, bool) {
  if (HasConnect(l)) {
    SendBytes(ecmBurst_.data(), ecmBurst_.size());
    ArmTimeout(kPageTimeoutTicks);
    Go(TxState::tf1EcmBurstEnd);
  }
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::EcmBurstEnded(const std::string& l, bool ok) {
  if (HasCarrier(l)) return Fail(core::ecFaxSessionError);
  if (!ok) return Next::IfInput;
  // The pause T.30 wants between the high-speed carrier and the V.21 command.
  PauseMs(75);
  SendEcmCommand(BuildPpsFrame(EcmPostMessage(), static_cast<uint8_t>(ecmPageCounter_),
                               static_cast<uint8_t>(ecmBlock_), ecmBurstFrames_));
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::EcmCommandConnect(const std::string& l, bool) {
  if (HasConnect(l)) {
    SendFrame(ecmCommand_);
    Go(TxState::tf1EcmCmdSent);
  }
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::EcmCommandSent(const std::string&, bool ok) {
  if (ok) {
    ModemCommand("AT+FRH=3", 40);
    ecmPprMapValid_ = false;
    Go(TxState::tf1EcmWaitResp);
  }
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::EcmBlockDone() {
  ecmPprs_.newBlock();
  ecmRnrRounds_ = 0;
  if (++ecmBlock_ < ecmFrames_->blockCount()) {
    StartEcmBurst(AllFramesOf(*ecmFrames_, ecmBlock_), false);
    return Next::IfInput;
  }
  // The page is confirmed.
  ecmPageCounter_ = (ecmPageCounter_ + 1) & 0xFF;
  StatusUpdate(fpSendPage);
  if (morePages_ && SameSessionNext()) return StartEcmPage();
  if (morePages_) {
    // After PPS-EOM the receiver starts over with its DIS.
    ModemCommand("AT+FRH=3", 40);
    ArmTimeout(kCommandTimeoutTicks);
    renegotiating_ = true;
    Go(TxState::tf1Connect);
    return Next::IfInput;
  }
  ModemCommand("AT+FTH=3", 40);
  Go(TxState::tf1SendDCN);
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::EcmAnswer(const std::string& l, bool ok) {
  if (HasConnect(l)) return Next::IfInput;
  const bool failed = HasError(l) || HasCarrier(l);
  if (!ok && !failed) return Next::IfInput;
  if (ok && !lastFrameFinal_) {
    ModemCommand("AT+FRH=3", 40);
    return Next::IfInput;
  }
  if (failed) {
    // Nothing heard (or not understood): the command again, up to T4's three repeats.
    if (++ecmCommandTries_ > kCommandRepeats) return Fail(core::ecFaxSessionError);
    ModemCommand("AT+FTH=3", 40);
    Go(TxState::tf1EcmSendCmd);
    return Next::IfInput;
  }
  switch (ClassifyFcf(lastFcf_)) {
    case FrameKind::Mcf:
      return EcmBlockDone();
    case FrameKind::Err:
      // The receiver confirms the block we gave up: the page did not arrive whole, whatever the
      // far end makes of what it has. The fax is not delivered; going on would only send pages
      // of a fax that must go again anyway, so the call ends here and its result says so.
      ecmPageGivenUp_ = true;
      StatusUpdate(fpPageError);
      ModemCommand("AT+FTH=3", 40);
      Go(TxState::tf1SendDCN);
      return Next::IfInput;
    case FrameKind::Ctr:
      // The block goes on at the lower rate, with long training.
      StartEcmBurst(FramesToResend(ecmPprMap_, ecmFrames_->framesInBlock(ecmBlock_)), true);
      return Next::IfInput;
    case FrameKind::Rnr:
      if (++ecmRnrRounds_ > kRnrRounds) return Fail(core::ecFatalTimeout);
      PauseMs(500);
      SendEcmCommand(BuildSimpleFrame(kFcfRr, true));
      return Next::IfInput;
    case FrameKind::Ppr: {
      if (!ecmPprMapValid_) return Fail(core::ecFaxSessionError);
      std::vector<int> frames = FramesToResend(ecmPprMap_, ecmFrames_->framesInBlock(ecmBlock_));
      if (frames.empty()) return Fail(core::ecFaxSessionError);  // asks for nothing we sent
      ecmFramesResent_ += static_cast<long>(frames.size());
      if (ecmPprs_.onPpr(static_cast<int>(frames.size()))) {
        // Four times for one block: a lower rate if the resends were getting through and
        // there is one, else the block is given up.
        if (ecmPprs_.madeProgress() && FallBack()) {
          ecmPprs_.continueAfterCtc();
          SendEcmCommand(BuildCtcFrame(speedIndex_));
        } else {
          ecmPprs_.newBlock();
          SendEcmCommand(BuildEorFrame(EcmPostMessage()));
        }
        return Next::IfInput;
      }
      StartEcmBurst(std::move(frames), false);
      return Next::IfInput;
    }
    default:
      ModemCommand("AT+FRH=3", 40);
      return Next::IfInput;
  }
}

}  // namespace qv::fax
