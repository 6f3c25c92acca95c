// Transmit machine, Class 1 half: the DTE runs T.30 itself over the modem's HDLC and
// modulation commands.
#include "fax/send_fax.h"

#include <algorithm>
#include <string>

namespace qv::fax {

bool TQvSendFax::FallBack() {
  for (int i = speedIndex_ - 1; i >= kMinSpeedIndex; --i) {
    if (modemSpeeds_[i] && (!haveRemoteCaps_ || remoteCaps_.speed[i])) {
      speedIndex_ = i;
      minBytes_ = sessionEcm_ ? 0 : MinBytesPerRow(scanCode_, curRes_ == '1', SpeedBps(speedIndex_));
      return true;
    }
  }
  return false;
}

void TQvSendFax::DecodeFrame() {
  if (frame_.size() < 3) return;
  const uint8_t* fif = frame_.data() + 3;
  size_t fifLength = frame_.size() - 3;
  switch (ClassifyFcf(frame_[2])) {
    case FrameKind::Csi:
    case FrameKind::Cig:
    case FrameKind::Tsi:
      SetRemoteId(DecodeIdFrame(frame_.data(), frame_.size()));
      StatusUpdate(fpGotRemoteId);
      break;
    case FrameKind::Dis:
    case FrameKind::Dtc: {
      remoteCaps_ = DecodeDis(fif, fifLength);
      haveRemoteCaps_ = true;
      scanCode_ = remoteCaps_.scanCode;
      int best = kMinSpeedIndex;
      for (int i = kMaxSpeedIndex; i >= kMinSpeedIndex; --i)
        if (modemSpeeds_[i] && remoteCaps_.speed[i] && SpeedBps(i) <= DesiredBPS) {
          best = i;
          break;
        }
      speedIndex_ = best;
      sessionFine_ = curRes_ == '1';
      sessionWide_ = curWide_;
      minBytes_ = MinBytesPerRow(scanCode_, sessionFine_, SpeedBps(speedIndex_));
      sessionEcm_ = DesiredECM && remoteCaps_.ecm;
      ecmFrameSize_ = remoteCaps_.smallFramesPreferred || EcmFrameSize == kEcmFrameSizeSmall ? kEcmFrameSizeSmall
                                                                                           : kEcmFrameSizeLarge;
      StatusUpdate(fpSessionParams);
      if ((sessionFine_ && !remoteCaps_.fine) || (sessionWide_ && !remoteCaps_.wide)) Fail(core::ecFaxBadMachine);
      break;
    }
    case FrameKind::Dcs:
      StatusUpdate(fpSessionParams);
      break;
    case FrameKind::Cfr:
      cfrReceived_ = true;
      break;
    case FrameKind::Ftt:
    case FrameKind::Rtn:
      if (!FallBack()) Fail(core::ecFaxTrainError);
      break;
    case FrameKind::Dcn:
      Fail(core::ecCancelRequested);
      break;
    case FrameKind::Ppr:
      // The modem hands the frame on with its check sequence after the 32-octet map.
      ecmPprMapValid_ = fifLength >= kPprMapOctets &&
                        ReadPprMap(std::span<const uint8_t>(fif, kPprMapOctets), ecmPprMap_);
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// Line-waiting states of the Class 1 half, in the order of the machine's table

TQvSendFax::Next TQvSendFax::Class1Init(const std::string&, bool ok) {
  if (!ok) return Fail(core::ecFaxInitError);
  Go(TxState::tfDial);
  return Next::Again;
}

TQvSendFax::Next TQvSendFax::Class1Connect(const std::string& l, bool ok) {
  if (HasConnect(l)) return Next::IfInput;
  if (Next next; DialEnded(l, next)) return next;
  if (ok) {
    if (lastFrameFinal_) {
      ModemCommand("AT+FTH=3", kTurnaroundMs);
      renegotiating_ = false;
      Go(TxState::tf1SendTSI);
    } else {
      ModemCommand("AT+FRH=3", 40);
    }
  }
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::SendTsi(const std::string& l, bool) {
  if (HasConnect(l)) {
    SendFrame(BuildIdFrame(kFcfTsi, StationID, false));
    Go(TxState::tf1TSIRespns);
  }
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::SendDcs(const std::string& l, bool) {
  if (HasConnect(l)) {
    sessionFine_ = curRes_ == '1';
    sessionWide_ = curWide_;
    if (haveRemoteCaps_ && ((sessionFine_ && !remoteCaps_.fine) || (sessionWide_ && !remoteCaps_.wide)))
      return Fail(core::ecFaxBadMachine);
    // With error correction the receiver reads rows from checked frames: no scan time.
    minBytes_ = sessionEcm_ ? 0 : MinBytesPerRow(scanCode_, sessionFine_, SpeedBps(speedIndex_));
    // MR goes with or without error correction, MMR only with it. A 2-D page is coded whole
    // before it goes; an MH page without error correction streams from the file as it is read.
    sessionCoding_ = haveRemoteCaps_ ? ChooseCoding(remoteCaps_, sessionEcm_, DesiredCoding) : LineCoding::MH;
    SendFrame(BuildDcsFrame(speedIndex_, sessionFine_, sessionWide_, scanCode_,
                            DcsOptions{sessionEcm_, ecmFrameSize_, sessionCoding_}));
    Go(TxState::tf1DCSRspns);
  }
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::StartTraining(const std::string&, bool ok) {
  if (ok) {
    ModemCommand(std::string("AT+FTM=") + TrainingCode(speedIndex_), 40);
    Go(TxState::tf1TrainStrt);
  }
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::SendTcf(const std::string& l, bool) {
  if (HasConnect(l)) {
    if (SoftwareFlow) ch_->SetSoftwareFlow(6144, 2048, 1);
    size_t n = std::min<size_t>(SpeedBps(speedIndex_) / 100 * 18, kPortBufferSize);
    std::vector<uint8_t> tcf(n, 0);
    tcf.push_back(kDle);
    tcf.push_back(kEtx);
    SendBytes(tcf.data(), tcf.size());
    Go(TxState::tf1TrainFnsh);
  }
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::TrainingSent(const std::string&, bool ok) {
  if (ok) {
    if (SoftwareFlow) ch_->ClearSoftwareFlow();
    PauseMs(200);
    ModemCommand("AT+FRH=3", 40);
    cfrReceived_ = false;
    Go(TxState::tf1WaitCFR);
  }
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::WaitCfr(const std::string&, bool ok) {
  if (!ok) return Next::IfInput;
  if (!lastFrameFinal_) {
    ModemCommand("AT+FRH=3", 40);
    return Next::IfInput;
  }
  if (cfrReceived_ && sessionEcm_) {
    // The burst's command waits 40 ms of T.30's turn-round itself.
    PauseMs(kTurnaroundMs - 40);
    return StartEcmPage();
  }
  if (cfrReceived_) {
    ModemCommand(std::string("AT+FTM=") + PageDataCode(speedIndex_), kTurnaroundMs);
    Go(TxState::tf1WaitPgCn);
  } else {
    ModemCommand("AT+FTH=3", kTurnaroundMs);
    Go(TxState::tf1TSIRespns);
  }
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::WaitPageConnect(const std::string& l, bool) {
  if (!HasConnect(l)) return Next::IfInput;
  // A Class 1 modem takes page data from its CONNECT on (it trains meanwhile, as it does for the
  // training check, which goes at once too); it sends no XON, so waiting for one only put a
  // second of the modem's own fill in front of every page.
  return AwaitRoom(TxState::tfWaitFrHead);
}

TQvSendFax::Next TQvSendFax::PageEnd1(const std::string& l, bool ok) {
  // The modem lost the line while the page went out: no post-page exchange can follow.
  if (HasCarrier(l)) return Fail(core::ecFaxSessionError);
  if (!ok) return Next::IfInput;
  postPageCount_ = 0;
  StatusUpdate(fpSendEop);
  Go(TxState::tf1PrepEOP);
  return Next::Again;
}

TQvSendFax::Next TQvSendFax::SendPostPage1(const std::string& l, bool) {
  if (HasConnect(l)) {
    // MPS keeps the session, so only a next page like the last may follow it; a page of
    // another resolution or width needs EOM and a new DCS.
    uint8_t fcf = !morePages_ ? kFcfEop : (SameSessionNext() ? kFcfMps : kFcfEom);
    SendFrame(BuildSimpleFrame(fcf, true));
    Go(TxState::tf1WaitMPS);
  }
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::PostPageSent1(const std::string&, bool ok) {
  if (ok) {
    PauseMs(200);
    ModemCommand("AT+FRH=3", 40);
    ArmTimeout(54);
    carrierSeen_ = false;
    Go(TxState::tf1WaitMCF);
  }
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::IgnoreLine(const std::string&, bool) { return Next::IfInput; }

TQvSendFax::Next TQvSendFax::WaitMcf(const std::string& l, bool ok) {
  if (HasConnect(l)) {
    carrierSeen_ = true;
    return Next::IfInput;
  }
  if (HasError(l)) {
    Go(TxState::tf1PrepEOP);
    return Next::Again;
  }
  if (!ok) return Next::IfInput;
  if (!lastFrameFinal_) {
    ModemCommand("AT+FRH=3", 40);
    return Next::IfInput;
  }
  FrameKind k = ClassifyFcf(lastFcf_);
  if (k == FrameKind::Mcf) {
    if (morePages_ && SameSessionNext()) {
      // Later pages of a V.17 call use the short-train modulation, as page 1 did: a
      // receiving modem listening for short train loses a long-train page.
      ModemCommand(std::string("AT+FTM=") + PageDataCode(speedIndex_), kTurnaroundMs);
      Go(TxState::tf1WaitPgCn);
    } else if (morePages_) {
      // After EOM the receiver starts over with its DIS; answer it with TSI and a new DCS.
      ModemCommand("AT+FRH=3", 40);
      ArmTimeout(kCommandTimeoutTicks);
      renegotiating_ = true;
      Go(TxState::tf1Connect);
    } else {
      ModemCommand("AT+FTH=3", kTurnaroundMs);
      Go(TxState::tf1SendDCN);
    }
  } else if (k == FrameKind::Rtn) {
    // The speed stepped down while the frame was decoded; retrain and send the
    // rejected page again rather than losing it.
    RewindToRejectedPage();
    if (int rc = LoadPageResolution(); rc != 0) return Fail(rc);
    ModemCommand("AT+FTH=3", kTurnaroundMs);
    Go(TxState::tf1TSIRespns);
  } else if (k == FrameKind::Rtp) {
    ModemCommand("AT+FTH=3", kTurnaroundMs);
    Go(morePages_ ? TxState::tf1TSIRespns : TxState::tf1SendDCN);
  } else {
    ModemCommand("AT+FRH=3", 40);
  }
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::SendDcn(const std::string& l, bool) {
  if (HasConnect(l)) {
    SendFrame(BuildSimpleFrame(kFcfDcn, true));
    Go(TxState::tf1Hangup);
  } else if (HasCarrier(l)) {
    // The far end confirmed the last page and hung up without waiting for our DCN (or
    // stopped waiting for it): the fax is delivered, only the goodbye is lost.
    ModemCommand("ATH", 100);
    ArmTimeout(26);
    Go(TxState::tf1WaitHngp);
  }
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::DcnSent(const std::string& l, bool ok) {
  // NO CARRIER: the far end went on hook while our DCN went out; the call is over either way.
  if (ok || HasCarrier(l)) {
    ModemCommand("ATH", 100);
    ArmTimeout(26);
    Go(TxState::tf1WaitHngp);
  }
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::WaitHangup1(const std::string&, bool ok) {
  if (!ok) return Next::IfInput;
  Go(TxState::tfClose);
  return Next::Again;
}

}  // namespace qv::fax
