// Transmit machine, Class 2 and 2.0 half: the modem runs T.30 and reports its progress.
#include "fax/send_fax.h"

#include <algorithm>
#include <string>

namespace qv::fax {

// ---------------------------------------------------------------------------------------------
// Line-waiting states of the Class 2/2.0 half, in the order of the machine's table

TQvSendFax::Next TQvSendFax::Class2Init(const std::string&, bool ok) {
  if (!ok) return Fail(core::ecFaxInitError);
  ModemCommand(cmds_.localId + "=\"" + StationID + "\"");
  Go(class_ == fcClass2_0 ? TxState::tf2Init1A : TxState::tf2Init2);
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::Class2FlowControl(const std::string&, bool ok) {
  if (!ok) return Fail(core::ecFaxInitError);
  ModemCommand("AT+FLO=2");
  Go(TxState::tf2Init1B);
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::Class2Reports(const std::string&, bool ok) {
  if (!ok) return Fail(core::ecFaxInitError);
  ModemCommand("AT+FNR=1,1,1,0");
  Go(TxState::tf2Init2);
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::Class2Capabilities(const std::string&, bool ok) {
  if (!ok) return Fail(core::ecFaxInitError);
  std::string cmd = cmds_.capabilities + "=" + curRes_ + "," + BitRateCode(DesiredBPS) + "," +
                    (curWide_ ? "1" : "0") + ",2," + Class2DfCode() + "," + (DesiredECM ? "1" : "0") + ",0,0";
  ModemCommand(cmd);
  Go(TxState::tf2Init3);
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::Class2Ready(const std::string&, bool ok) {
  if (!ok) return Fail(core::ecFaxInitError);
  Go(TxState::tfDial);
  return Next::Again;
}

TQvSendFax::Next TQvSendFax::Class2Connect(const std::string& l, bool) {
  if (StartsWith(l, cmds_.connectReport)) {
    ArmTimeout(kCommandTimeoutTicks);
    Go(TxState::tf2GetParams);
    return Next::IfInput;
  }
  if (Next next; DialEnded(l, next)) return next;
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::GetParams2(const std::string& l, bool ok) {
  if (StartsWith(l, cmds_.remoteCaps)) {
    Class2Params p = DecodeClass2Params(RemovePrefix(l));
    StatusUpdate(fpSessionParams);
    if ((curRes_ == '1' && !p.fine) || (curWide_ && !p.wide)) return Fail(core::ecFaxBadMachine);
  } else if (StartsWith(l, cmds_.calledId)) {
    SetRemoteId(CleanRemoteId(l));
    StatusUpdate(fpGotRemoteId);
  } else if (StartsWith(l, cmds_.sessionParams)) {
    Class2Params p = DecodeClass2Params(RemovePrefix(l));
    speedIndex_ = std::max(1, SpeedIndexForBps(p.bps));
    sessionFine_ = p.fine;
    sessionWide_ = p.wide;
    sessionEcm_ = p.ecm;
    // Each page goes in the coding the modem names here, whatever the file holds.
    sessionCoding_ = CodingOfDf(p.df);
    scanCode_ = p.scanCode;
    minBytes_ = MinBytesPerRow(scanCode_, sessionFine_, p.bps);
    StatusUpdate(fpSessionParams);
  } else if (ok) {
    ModemCommand("AT+FDT");
    ArmTimeout(546);
  } else if (HasConnect(l)) {
    if (class_ == fcClass2_0) return AwaitRoom(TxState::tfWaitFrHead);
    ArmTimeout(18);
    Go(TxState::tfWaitXon);
    return Next::Wait;
  }
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::WaitPageTransfer2(const std::string&, bool ok) {
  if (!ok) return Fail(core::ecFaxSessionError);
  ModemCommand(std::string("AT+FET=") + (!morePages_ ? "2" : (resChanges_ ? "1" : "0")));
  Go(TxState::tf2WaitFET);
  return Next::IfInput;
}

// tf2WaitFET (Class 2) and tf20ChckPg (Class 2.0): the modem's report on the page just sent.
TQvSendFax::Next TQvSendFax::PageResult2(const std::string& l, bool ok) {
  if (l.find(cmds_.hangup) != std::string::npos) {
    hangupCode_ = HangupNumber(l);
    // Once the far end has confirmed the last page (MCF to EOP) the fax is delivered; how
    // the call ended after that changes nothing. A hang-up before that confirmation, or with
    // pages still to send, ends the fax unsent.
    const bool delivered = pageConfirmed_ && !morePages_;
    if (hangupCode_ != 0 && !delivered) callEndedEarly_ = true;
    return Next::IfInput;
  }
  if (StartsWith(l, cmds_.pageStatus)) {
    std::string code = CodeAfterColon(l);
    char c = code.empty() ? ' ' : code[0];
    if (c == '1' || c == '3') {
      pageConfirmed_ = true;
      StatusUpdate(fpPageOk);
    } else if (c == '2') {
      StatusUpdate(fpPageError);
      Go(TxState::tf2WaitPgOK);
    } else if (c == '4' || c == '5') {
      return Fail(core::ecCancelRequested);
    } else {
      return Fail(core::ecFaxPageError);
    }
    return Next::IfInput;
  }
  if (State() == TxState::tf20ChckPg && HasError(l)) {
    ModemCommand("AT+FPS?");
    StatusUpdate(fpPageError);
    Go(TxState::tf2WaitPgOK);
    return Next::IfInput;
  }
  if (ok) {
    if (callEndedEarly_) return Fail(core::ecFaxBadModemResult);
    if (State() == TxState::tf20ChckPg) StatusUpdate(fpPageOk);
    Go(resChanges_ ? TxState::tf2SndNwPrm : TxState::tf2NextPage);
    return Next::Again;
  }
  return Fail(core::ecFaxPageError);
}

TQvSendFax::Next TQvSendFax::PageRetry2(const std::string& l, bool ok) {
  if (StartsWith(l, cmds_.pageStatus)) return Next::IfInput;  // the answer to AT+FPS? before its OK
  if (!ok) return Fail(core::ecFaxSessionError);
  if (++pageRetry_ > 2) {
    SendText(class_ == fcClass2 ? "AT+FK\r" : "AT+FKS\r");
    return Fail(core::ecFaxSessionError);
  }
  ModemCommand("AT+FDT");
  RewindToRejectedPage();
  if (!coverInProgress_) {
    int rc = ReadCurrentPageHeader();
    if (rc != 0) return Fail(rc);
  }
  Go(TxState::tf2GetParams);
  return Next::IfInput;
}

}  // namespace qv::fax
