// The Class 2 and Class 2.0 half of the receive machine: the modem runs T.30 itself and reports
// the session, the page status and the post-page message; the DTE takes the page data.
#include "fax/receive_fax.h"

namespace qv::fax {

using S = RfState;

void TQvReceiveFax::TakeClass2Params(const std::string& line) {
  Class2Params p = DecodeClass2Params(RemovePrefix(line));
  speedIndex_ = std::max(1, SpeedIndexForBps(p.bps));
  sessionFine_ = p.fine;
  sessionWide_ = p.wide;
  sessionEcm_ = p.ecm;
  // Pages arrive in this coding and are turned back into MH rows for the file.
  sessionCoding_ = CodingOfDf(p.df);
  lineCoding_ = sessionCoding_ == LineCoding::MMR ? faximage::T4Coding::kMmr
                : sessionCoding_ == LineCoding::MR ? faximage::T4Coding::kMr
                                                   : faximage::T4Coding::kMh;
  StatusUpdate(fpSessionParams);
}

// ---------------------------------------------------------------------------------------------
// The Class 2/2.0 states, in the order of the machine's table

TQvReceiveFax::Next TQvReceiveFax::Class2Init(const std::string&, bool ok) {
  if (!ok) return Fail(core::ecFaxInitError);
  SwitchToNormalRate();
  ModemCommand(cmds_.receiveCaps + "=1," + BitRateCode(DesiredBPS) + ",0,2," + Class2DfCode() + "," +
               (DesiredECM ? "1" : "0") + ",0,0");
  Go(class_ == fcClass2_0 ? S::rf2Init1A : S::rf2Init3);
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::Class2FlowControl(const std::string&, bool ok) {
  if (!ok) return Fail(core::ecFaxInitError);
  ModemCommand("AT+FLO=2");
  Go(S::rf2Init1B);
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::Class2Reports(const std::string&, bool ok) {
  if (!ok) return Fail(core::ecFaxInitError);
  ModemCommand("AT+FNR=1,1,1,0");
  Go(S::rf2Init3);
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::Class2Ready(const std::string&, bool ok) {
  if (!ok) return Fail(core::ecFaxInitError);
  StopTimeout();
  StatusUpdate(fpWaiting);
  Go(S::rfWaiting);
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::Class2Connect(const std::string& l, bool) {
  if (StartsWith(l, cmds_.connectReport)) {
    pageRejected_ = false;  // a new call: nothing of the last one is pending
    ArmTimeout(kCommandTimeoutTicks);
    StatusUpdate(fpIncoming);
    Go(S::rf2GtSndID);
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::GetSenderId2(const std::string& l, bool ok) {
  if (StartsWith(l, cmds_.transmitterId)) {
    SetRemoteId(CleanRemoteId(l));
    if (AskAccept()) {
      StatusUpdate(fpGotRemoteId);
      if (pageState_ == RfPageState::NewFile) {
        int rc = CreateOutputFile();
        if (rc != 0) return Fail(rc);
        pageState_ = RfPageState::SameFile;
      }
    } else {
      // The modem takes the abort command only once the answer command has ended.
      rejectPending_ = true;
    }
  } else if (StartsWith(l, cmds_.sessionParams)) {
    TakeClass2Params(l);
  } else if (ok && rejectPending_) {
    rejectPending_ = false;
    ModemCommand(class_ == fcClass2 ? "AT+FK" : "AT+FKS");
    PauseMs(500);
    return RefuseCall();
  } else if (ok) {
    ModemCommand("AT+FDR");
    Go(S::rf2GtCnnct);
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::GetPageConnect2(const std::string& l, bool) {
  if (StartsWith(l, cmds_.sessionParams)) {
    TakeClass2Params(l);
  } else if (HasConnect(l)) {
    if (SoftwareFlow) ch_->SetSoftwareFlow(6144, 2048, 2);
    Go(S::rfStartPage);
    return Next::Again;
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::PageResult2(const std::string& l, bool ok) {
  if (StartsWith(l, cmds_.pageStatus)) {
    StatusUpdate(fpGetPageResult);
    std::string code = CodeAfterColon(l);
    char c = code.empty() ? ' ' : code[0];
    pageRejected_ = !(c == '1' || c == '3' || c == '5');
    if (!pageRejected_) {
      int rc = FinishPage();
      if (rc != 0) return Fail(rc);
    } else {
      RemovePage();
    }
  } else if (StartsWith(l, "+FET")) {
    StatusUpdate(fpCheckMorePages);
    std::string code = CodeAfterColon(l);
    char c = code.empty() ? ' ' : code[0];
    pageState_ = c == '0'   ? RfPageState::SameFile
                 : c == '1' ? RfPageState::NewFile
                 : c == '2' ? RfPageState::DocumentEnded
                 : c == '3' ? RfPageState::Resend
                            : RfPageState::Other;
  } else if (HasError(l)) {
    RemovePage();
    ModemCommand("AT+FDR");
    Go(S::rf2GtCnnct);
  } else if (ok) {
    ModemCommand("AT+FDR");
    if (pageRejected_) {
      // Not the end of the document, even after its last page: the sender retrains and sends
      // the page again (into this file), or gives up and hangs up, and that hang-up fails the
      // call. A document whose only page was rejected never counts as a fax received.
      pageRejected_ = false;
      pageState_ = RfPageState::SameFile;
      Go(S::rf2GtCnnct);
    } else if (pageState_ == RfPageState::DocumentEnded) {
      DocumentReceived(S::rf2GetFHNG);
    } else {
      Go(S::rf2GtCnnct);
    }
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::GetHangup2(const std::string& l, bool ok) {
  if (l.find(cmds_.hangup) != std::string::npos) {
    hangupCode_ = HangupNumber(l);
    StatusUpdate(fpGotHangup);
  } else if (StartsWith(l, "+FET")) {
    StatusUpdate(fpGetHangup);
  } else if (ok) {
    Go(S::rfComplete);
    return Next::Again;
  }
  return Next::IfInput;
}

}  // namespace qv::fax
