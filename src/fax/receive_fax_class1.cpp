// The Class 1 half of the receive machine: the DTE runs T.30 over the modem's HDLC and
// modulation commands (CSI/DIS, TCF check, CFR, page carrier, post-page message, MCF, DCN).
#include "fax/receive_fax.h"

namespace qv::fax {

using S = RfState;

// An MCF is a preamble of 1 s (+15 %) and five octets at 300 bit/s; its OK comes later than
// this only when we were held up.
constexpr auto kLongestMcf = std::chrono::milliseconds(1400);
// The sender starts its page 75 ms (-20) after our MCF, and its short training is over some
// 140 ms later: a carrier request later than this may find the page gone.
constexpr auto kLongestPageTurn = std::chrono::milliseconds(200);

// Copy quality of a received page; T.30 leaves the measure to the receiver. A page with more than
// 5 % bad rows, or a run of more than 8 (2 mm at standard resolution, about half the height of
// ordinary text: a line of it becomes unreadable), is not worth filing: RTN, and the page comes
// again. Fewer bad rows leave a readable page, but a line that damages some rows is worth
// training again before the next page: RTP.
constexpr uint32_t kRtnBadRowsPercent = 5;
constexpr uint32_t kRtnBadRun = 8;

enum class CopyQuality { Good, Poor, Bad };

// goodRows/badRows: rows decoded whole and damaged; badCodes: anything undecodable was met.
CopyQuality JudgePage(uint32_t goodRows, uint32_t bad, uint32_t longestBadRun, bool badCodes) {
  const uint32_t rows = goodRows + bad;
  // Data and not one row in it: noise (a page coded without rows is kept as it came).
  if (rows == 0) return badCodes ? CopyQuality::Bad : CopyQuality::Good;
  if (uint64_t{bad} * 100 > uint64_t{rows} * kRtnBadRowsPercent || longestBadRun > kRtnBadRun)
    return CopyQuality::Bad;
  return bad > 0 ? CopyQuality::Poor : CopyQuality::Good;
}

// An MH page as it was filed, judged by the decoder that read it on the way in.
CopyQuality JudgePage(const faximage::T4Decoder& page) {
  return JudgePage(page.goodRows(), page.badRows(), page.longestBadRun(), page.badCodes() > 0);
}

// An MR page, judged by what its conversion to MH met.
CopyQuality JudgePage(const faximage::FilePage& page) {
  return JudgePage(page.rows > page.badRows ? page.rows - page.badRows : 0, page.badRows, page.longestBadRun,
                   page.rows == 0 && !page.ended);
}

void TQvReceiveFax::DecodeFrame() {
  if (frame_.size() < 3) return;
  const uint8_t* fif = frame_.data() + 3;
  size_t fifLength = frame_.size() - 3;
  switch (ClassifyFcf(frame_[2])) {
    case FrameKind::Tsi:
    case FrameKind::Csi:
    case FrameKind::Cig:
      SetRemoteId(DecodeIdFrame(frame_.data(), frame_.size()));
      StatusUpdate(fpGotRemoteId);
      break;
    case FrameKind::Dcs: {
      SessionParams p = DecodeDcs(fif, fifLength);
      speedIndex_ = p.speedIndex;
      sessionFine_ = p.fine;
      sessionWide_ = p.wide;
      scanCode_ = p.scanCode;
      sessionEcm_ = p.ecm;
      sessionCoding_ = p.coding;
      lineCoding_ = p.coding == LineCoding::MMR ? faximage::T4Coding::kMmr
                    : p.coding == LineCoding::MR ? faximage::T4Coding::kMr
                                                 : faximage::T4Coding::kMh;
      if (p.ecm && (!ecmBlocks_ || ecmFrameSize_ != p.ecmFrameSize)) {
        // A new frame size starts the blocks afresh; otherwise they go on over EOM, where a
        // repeated PPS of the last page may still come.
        ecmFrameSize_ = p.ecmFrameSize;
        ecmReader_.reset();
        ecmBlocks_ = std::make_unique<EcmBlockAssembler>(ecmFrameSize_);
      }
      StatusUpdate(fpSessionParams);
      break;
    }
    case FrameKind::Mps:
      morePages_ = true;
      eom_ = false;
      break;
    case FrameKind::Eom:
      morePages_ = true;
      eom_ = true;
      break;
    case FrameKind::Eop:
      morePages_ = false;
      eom_ = false;
      break;
    case FrameKind::Dcn:
      if (!Is(S::rf1WaitDCN)) Fail(core::ecCancelRequested);
      break;
    case FrameKind::Pps:
    case FrameKind::Eor:
    case FrameKind::Ctc:
      DecodeEcmFrame(fif, fifLength);
      break;
    case FrameKind::Ftt:
    case FrameKind::Rtn:
      // Answers a receiver never expects: listen for the sender's next command.
      PauseMs(200);
      ModemCommand("AT+FRH=3", 40);
      Go(S::rf1CollFrms);
      break;
    default:
      break;
  }
}

TQvReceiveFax::Next TQvReceiveFax::OnClass1Timeout() {
  switch (rstate_) {
    case S::rf1SendCSI:
      if (disRetry_ > 0) {
        Go(S::rf1CollRtry1);
        return Next::Again;
      }
      return Fail(core::ecFatalTimeout);
    case S::rf1CollFrms:
      Go(S::rf1CollRtry1);
      return Next::Again;
    case S::rf1WaitDCN:
      Go(S::rfComplete);
      return Next::Again;
    default:
      return Fail(core::ecFatalTimeout);
  }
}

TQvReceiveFax::Next TQvReceiveFax::ReadTraining() {
  uint8_t c;
  while (ch_->ReadChar(c) == 0) {
    if (dle_) {
      dle_ = false;
      if (c == kEtx) {
        // DIS cannot offer 7200 without 9600 (both are V.29): a sender that trains faster than
        // this receiver takes gets FTT and steps down.
        bool good = tcfAll_ > 0 && tcfNonZero_ * 100 / tcfAll_ < 10 && speedIndex_ <= topSpeedIndex_;
        if (good) {
          Go(S::rf1FinTrn);
        } else {
          ModemCommand("AT+FTH=3", 40);
          Go(S::rf1Retrain);
        }
        return Next::IfInput;
      }
      ++tcfAll_;
      if (c == kDle) ++tcfNonZero_;
      continue;
    }
    if (c == kDle) {
      dle_ = true;
      continue;
    }
    ++tcfAll_;
    if (c != 0) ++tcfNonZero_;
  }
  return Next::Wait;
}

// ---------------------------------------------------------------------------------------------
// The Class 1 states, in the order of the machine's table

TQvReceiveFax::Next TQvReceiveFax::Class1Init(const std::string&, bool ok) {
  if (!ok) return Fail(core::ecFaxInitError);
  SwitchToNormalRate();
  StopTimeout();
  StatusUpdate(fpWaiting);
  Go(S::rfWaiting);
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::SendCsi(const std::string& l, bool) {
  if (HasConnect(l)) {
    SendFrame(BuildIdFrame(kFcfCsi, UpperCase(StationID), false));
    Go(S::rf1SendDIS);
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::SendDis(const std::string& l, bool ok) {
  if (HasConnect(l)) {
    SendFrame(BuildDisFrame(speedIndex_, DesiredECM, DesiredCoding));
  } else if (ok) {
    PauseMs(400);
    ModemCommand("AT+FRH=3", 40);
    ArmTimeout(54);
    Go(S::rf1CollFrms);
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::CollectFrames(const std::string&, bool ok) {
  if (!ok) return Next::IfInput;
  if (lastFrameFinal_) {
    if (SoftwareFlow) ch_->SetSoftwareFlow(6144, 2048, 2);
    ModemCommand(std::string("AT+FRM=") + TrainingCode(speedIndex_), 40);
    Go(S::rf1StrtTrn);
  } else {
    ModemCommand("AT+FRH=3", 40);
    ArmTimeout(54);
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::RepeatDis(Ev) {
  if (++disRetry_ <= 5) {
    SendText("AT\r");
    ArmTimeout(kCommandTimeoutTicks);
    Go(S::rf1CollRtry2);
    return Next::Wait;
  }
  return Fail(core::ecFatalTimeout);
}

TQvReceiveFax::Next TQvReceiveFax::RepeatDisTurn(Ev ev) {
  if (ev == Ev::Timeout) return Fail(core::ecFatalTimeout);
  ModemCommand("AT+FTH=3", 40);
  Go(S::rf1SendCSI);
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::StartTraining(const std::string& l, bool) {
  if (HasConnect(l)) {
    tcfAll_ = tcfNonZero_ = 0;
    dle_ = false;
    ArmTimeout(kCommandTimeoutTicks);
    Go(S::rf1CollTrn);
    return Next::Again;
  }
  if (IsFcError(l)) {
    // The training check went by unheard and the sender, without an answer, repeats its DCS.
    ModemCommand("AT+FRH=3", 0);
    ArmTimeout(54);
    Go(S::rf1CollFrms);
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::CollectTraining(Ev ev) {
  if (ev == Ev::Timeout) {
    // No end of training: the call ends without an error of its own.
    error_ = 0;
    Go(S::rfAbort);
    return Next::Again;
  }
  return ReadTraining();
}

TQvReceiveFax::Next TQvReceiveFax::Retrain(const std::string& l, bool ok) {
  if (HasConnect(l)) {
    if (speedIndex_ <= kMinSpeedIndex) return Fail(core::ecFaxTrainError);
    SendFrame(BuildSimpleFrame(kFcfFtt, true));
  } else if (ok) {
    ModemCommand("AT+FRH=3", 40);
    ArmTimeout(54);
    Go(S::rf1CollFrms);
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::TrainingEnded(const std::string& l, bool) {
  if (HasCarrier(l)) {
    if (SoftwareFlow) ch_->ClearSoftwareFlow();
    PauseMs(20);
    ModemCommand("AT+FTH=3", 40);
    Go(S::rf1SendCFR);
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::SendCfr(const std::string& l, bool ok) {
  if (HasConnect(l)) {
    if (SoftwareFlow) ch_->SetSoftwareFlow(6144, 2048, 2);
    SendFrame(BuildSimpleFrame(kFcfCfr, true));
    return Next::IfInput;
  }
  if (!ok) return Next::IfInput;
  if (sessionEcm_) {
    EcmListen(false);
  } else {
    ModemCommand(std::string("AT+FRM=") + PageDataCode(speedIndex_), 40);
    Go(S::rf1WtPgCnnct);
  }
  if (!AskAccept()) {
    SendText("\r");  // leave the page receive at once
    const Next next = RefuseCall();
    statusPending_ = true;
    return next;
  }
  if (pageState_ == RfPageState::NewFile) {
    int rc = CreateOutputFile();
    if (rc != 0) return Fail(rc);
    pageState_ = RfPageState::SameFile;
    page_ = 0;
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::WaitPageConnect(const std::string& l, bool) {
  if (ppmAnswered_ && !pageTurnLate_ && IsFcError(l)) {
    // V.21 flags instead of the page although we listened in time: the sender missed our
    // MCF to its MPS and repeats it.
    ModemCommand("AT+FRH=3", 40);
    Go(S::rf1WaitEOP);
  } else if (HasConnect(l)) {
    ppmAnswered_ = false;
    mcfRepeats_ = 0;
    StatusUpdate(fpSessionParams);
    Go(S::rfStartPage);
    return Next::Again;
  } else if (IsFcError(l)) {
    // The modem hears V.21 instead of the page: we asked for the carrier after the page had
    // gone by (a late turn-round). Hear the sender's post-page command and answer RTN, so it
    // trains again and sends the page once more. After an MCF this costs at worst a page
    // filed twice (when the sender had in fact missed our MCF), never a page lost.
    rejectPage_ = true;
    ppmAnswered_ = false;
    ModemCommand("AT+FRH=3", 0);
    Go(S::rf1WaitEOP);
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::PageEnded1(const std::string& l, bool) {
  if (HasCarrier(l)) {
    ModemCommand("AT+FRH=3", 40);
    Go(S::rf1WaitEOP);
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::WaitPostPage1(const std::string&, bool ok) {
  if (!ok) return Next::IfInput;
  if (lastFrameFinal_ && ppmAnswered_) {
    const FrameKind kind = ClassifyFcf(lastFcf_);
    if (kind == FrameKind::Mps) {
      // A repeated MPS: the page is filed already; answer it again.
      if (++mcfRepeats_ > 3) return Fail(core::ecFaxBadModemResult);
      ModemCommand("AT+FTH=3", 40);
      Go(S::rf1SendMCF);
      return Next::IfInput;
    }
    if (kind != FrameKind::Eop && kind != FrameKind::Eom) return Fail(core::ecFaxBadModemResult);
    // Not a repeat: the post-page command of a page that went by unheard.
    ppmAnswered_ = false;
    rejectPage_ = true;
  }
  if (lastFrameFinal_) {
    StatusUpdate(fpGetPageResult);
    Go(S::rf1WritePage);
    return Next::Again;
  }
  ModemCommand("AT+FRH=3", 40);
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::WritePage1(Ev) {
  retrainAfterPage_ = false;
  if (out_.PageOpen()) {
    if (int rc = StoreLinePage(); rc != 0) return Fail(rc);
    const CopyQuality quality =
        lineCoding_ == faximage::T4Coding::kMh ? JudgePage(pageCheck_) : JudgePage(lineResult_);
    if (quality == CopyQuality::Bad) {
      // Too damaged to read: it stays out of the file and its number is given again.
      RemovePage();
      page_ = page_ - 1;
      rejectPage_ = true;
    }
    // After EOM a new DCS and training follow anyway: RTP would ask for nothing more.
    retrainAfterPage_ = quality == CopyQuality::Poor && !eom_;
  }
  int rc = FinishPage();
  if (rc != 0) return Fail(rc);
  ModemCommand("AT+FTH=3", 40);
  StatusUpdate(fpCheckMorePages);
  Go(S::rf1SendMCF);
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::SendMcf(const std::string& l, bool ok) {
  if (HasConnect(l)) {
    // Always final: a non-final MCF would make the modem ask for another frame.
    SendFrame(BuildSimpleFrame(rejectPage_ ? kFcfRtn : retrainAfterPage_ ? kFcfRtp : kFcfMcf, true));
    mcfSentAt_ = std::chrono::steady_clock::now();
    return Next::IfInput;
  }
  if (!ok) return Next::IfInput;
  // After RTP the sender trains again; what it repeats then is its DCS, not this answer.
  ppmAnswered_ = !rejectPage_ && !retrainAfterPage_;
  if (rejectPage_ || (retrainAfterPage_ && morePages_)) {
    // After RTN, or RTP with more pages to come, the sender sends DCS and the training
    // check again. (After RTP to EOP the call ends as after MCF.)
    rejectPage_ = retrainAfterPage_ = false;
    ModemCommand("AT+FRH=3", 0);
    ArmTimeout(54);
    Go(S::rf1CollFrms);
  } else if (mcfRepeats_ > 0 && !morePages_) {
    // An answer to a repeated EOP: the page is filed already; wait for DCN again.
    PauseMs(200);
    ModemCommand("AT+FRH=3", 40);
    Go(S::rf1WaitDCN);
  } else if (morePages_ && eom_) {
    ppmAnswered_ = false;  // phase B starts again: what comes next is a new DCS
    PauseMs(200);
    ModemCommand("AT+FTH=3", 40);
    Go(S::rf1SendCSI);
  } else if (morePages_) {
    const auto mcfDone = std::chrono::steady_clock::now();
    ModemCommand(std::string("AT+FRM=") + TrainingCode(speedIndex_), 40);
    pageTurnLate_ = mcfDone - mcfSentAt_ > kLongestMcf ||
                    std::chrono::steady_clock::now() - mcfDone > kLongestPageTurn;
    pageState_ = RfPageState::SameFile;
    Go(S::rf1WtPgCnnct);  // the CONNECT of the page carrier comes first
  } else {
    PauseMs(200);
    ModemCommand("AT+FRH=3", 40);
    DocumentReceived(S::rf1WaitDCN);
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::WaitDcn(const std::string&, bool ok) {
  if (!ok) return Next::IfInput;
  if (lastFrameFinal_ && sessionEcm_ && ClassifyFcf(lastFcf_) == FrameKind::Pps && !ecmResponse_.empty() &&
      mcfRepeats_ < 3) {
    // The sender missed our MCF to its last PPS-EOP and asks again: the same answer.
    ++mcfRepeats_;
    return EcmAnswer(ecmResponse_, S::rf1WaitDCN);
  }
  if (lastFrameFinal_ && ClassifyFcf(lastFcf_) == FrameKind::Eop && mcfRepeats_ < 3) {
    // The sender missed our MCF and asks again: a receiver answers a repeated command
    // with its last response, or the sender never learns that its fax arrived.
    ++mcfRepeats_;
    ModemCommand("AT+FTH=3", 40);
    Go(S::rf1SendMCF);
  } else if (lastFrameFinal_) {
    ModemCommand("ATH", 100);
    Go(S::rf1WtHngp);
  } else {
    ModemCommand("AT+FRH=3", 40);
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::WaitHangup1(const std::string&, bool ok) {
  if (!ok) return Next::IfInput;
  StatusUpdate(fpGotHangup);
  Go(S::rfComplete);
  return Next::Again;
}

}  // namespace qv::fax
