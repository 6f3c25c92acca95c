#include "fax/send_fax.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/error_text.h"
#include "core/exceptions.h"
#include "core/file_util.h"
#include "core/message_loop.h"
#include "core/ticks.h"
#include "fax/header_line.h"
#include "faximage/file_errors.h"
#include "faximage/qvf_append.h"
#include "faximage/t4_coder.h"

namespace qv::fax {

namespace {
std::atomic<bool> gEntryBusy{false};
constexpr int kEntryRetryTicks = 1;

}  // namespace

TQvSendFax::TQvSendFax() {
  FaxClass = fcUnknown;
  initialState_ = static_cast<int>(TxState::tfGetEntry);
}

TQvSendFax::~TQvSendFax() {
  Retire();  // before any member of this class goes
  if (!mergedFile_.empty()) std::remove(mergedFile_.c_str());
}


std::string TQvSendFax::FaxLogEntry(TFaxLogCode code) const {
  const std::string prefix = "Transmit ";
  const std::string date = LogDateTime();
  const std::string end = kLogLineEnd;
  switch (code) {
    case lcTransmitStarted: {
      std::string text;
      for (const auto& file : FaxFileList) text += prefix + file + " to " + PhoneNumber + " started at " + date + end;
      return text;
    }
    case lcTransmitOk:
      return prefix + "to " + RemoteID() + " finished OK at " + date + " " + std::to_string(HangupCode()) + end + end;
    case lcTransmitFailed:
      return prefix + "failed at " + date + end + "  (" + core::ErrorText(LastError()) + ")" + " " +
             std::to_string(HangupCode()) + end + end;
    default:
      return {};  // a receiver's event
  }
}

void TQvSendFax::StatusUpdate(int code) {
  SetStatus(code);
  statusPending_ = true;
}

// ---------------------------------------------------------------------------------------------
// Start and preparation

// The documents as one temporary fax file: the first one copied, each other one appended after
// its last page with the page counts added. Raises the error when one is missing or not a fax
// file, or the pages do not fit one file (the page count is 16 bits).
std::string TQvSendFax::MergeFiles(const std::vector<std::string>& files) {
  std::string name = core::TempFileName("~QV");
  if (name.empty()) core::RaiseOnError(core::ecPathNotFound);
  auto fail = [&](int code) {
    std::remove(name.c_str());
    core::RaiseOnError(code);
  };
  std::error_code ec;
  if (!std::filesystem::copy_file(files[0], name, std::filesystem::copy_options::overwrite_existing, ec))
    fail(faximage::FileErrorFromErrno(ec.value(), false));
  if (!faximage::IsQvfFile(name)) fail(core::ecFaxBadFormat);
  for (size_t i = 1; i < files.size(); ++i)
    if (int rc = faximage::AppendFaxFile(name, files[i])) fail(rc);
  return name;
}

void TQvSendFax::StartSending() {
  if (!ComPort() && !ownedChannel_) core::RaiseError(core::ecPortNotAssigned);
  if (!mergedFile_.empty()) {
    std::remove(mergedFile_.c_str());
    mergedFile_.clear();
  }
  if (FaxFileList.size() >= 2 && !OnFaxNext) mergedFile_ = MergeFiles(FaxFileList);
  firstQuery_ = true;
  aborted_ = false;
  try {
    StartSession([this] { return Prepare(); });
  } catch (...) {
    OnFinished(0);  // no session: the merged file goes at once
    throw;
  }
}

int TQvSendFax::Prepare() {
  prevRes_ = ' ';
  Go(TxState::tfGetEntry);
  SetStatus(fpInitModem);
  error_ = 0;
  page_ = 1;
  pageOnLine_ = 0;
  hangupCode_ = 0;
  totalPages_ = 0;
  pageLength_ = 0;
  bytesTransferred_ = 0;
  attempt_ = 1;  // the status display shows the attempt from the start
  SendStatus(true, false);
  builtInInit_ = DetectBusy ? (BlindDial ? "ATE0Q0V1X3S0=0S2=43" : "ATE0Q0V1X4S0=0S2=43")
                            : (BlindDial ? "ATE0Q0V1X1S0=0S2=43" : "ATE0Q0V1X2S0=0S2=43");
  ch_->SetBaud(19200);
  ch_->DriveDtr(true);
  ch_->DriveRts(true);
  class_ = FaxClass;
  if (class_ == fcUnknown || class_ == fcDetect) {
    if (DetectClass(true) != 0) return core::ecFaxBadModemResult;
    class_ = PreferredClass(cachedClasses_);
    if (class_ == fcUnknown) return core::ecFaxBadModemResult;
  }
  if (!InitialiseModem()) return core::ecFaxBadModemResult;
  cmds_ = BuildClass2Commands(class_);
  SwitchToNormalRate();
  if (class_ == fcClass1) QueryClass1Speeds(true);
  else if (ModemCommandWait(cmds_.selectClass) == 1) QueryClass2Codings();
  return 0;
}

// The next fax of the batch: from OnFaxNext, else the documents given once.
bool TQvSendFax::NextFax() {
  auto result = std::make_shared<std::array<std::string, 3>>();
  auto got = std::make_shared<bool>(false);
  Notify([this, result, got] {
    if (OnFaxNext) {
      std::string p, f, c;
      OnFaxNext(this, p, f, c);
      (*result)[0] = p;
      (*result)[1] = f;
      (*result)[2] = c;
    } else if (firstQuery_) {
      (*result)[0] = PhoneNumber;
      (*result)[1] = mergedFile_.empty() ? FaxFile() : mergedFile_;
      (*result)[2] = CoverFile;
    }
    firstQuery_ = false;
    *got = !(*result)[0].empty();
  });
  if (!*got) return false;
  phoneNumber_ = (*result)[0].substr(0, 40);
  docFile_ = (*result)[1];
  coverFile_ = (*result)[2];
  if (OnFaxNext) {
    PhoneNumber = phoneNumber_;
    if (!docFile_.empty()) FaxFileList.assign(1, docFile_);
    CoverFile = coverFile_;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Protocol helpers

TQvSendFax::Next TQvSendFax::Fail(int code) {
  pageFlowing_ = false;
  error_ = code;
  SendError(code);
  Go(TxState::tfAbort);
  return Next::Again;
}



TQvSendFax::Next TQvSendFax::BusyHandling(int code) {
  if (DialAttempts != 0 && attempt_ >= DialAttempts) {
    statusPending_ = true;
    if (AbortNoConnect) return Fail(code);
    CloseFiles();
    error_ = code;
    SendError(code);
    SendLog(lcTransmitFailed);
    Go(TxState::tfGetEntry);
    return Next::Again;
  }
  StatusUpdate(fpBusyWait);
  Go(TxState::tfRetryWait);
  ArmTimeout(core::SecsToTicks(DialRetryWait));
  return Next::Wait;
}

bool TQvSendFax::DialEnded(const std::string& l, Next& next) {
  // NO ANSWER is redialled like BUSY; only the code of the last attempt tells them apart.
  if (l.find("BUSY") != std::string::npos) {
    next = BusyHandling(core::ecFaxBusy);
  } else if (l.find("ANSWER") != std::string::npos) {
    next = BusyHandling(core::ecFaxNoAnswer);
  } else if (l.find("VOICE") != std::string::npos || l.find("VCON") != std::string::npos) {
    next = Fail(core::ecFaxVoiceCall);
  } else if (l.find("NO DIAL") != std::string::npos) {
    next = Fail(core::ecFaxNoDialTone);
  } else if (HasCarrier(l)) {
    next = Fail(core::ecFaxNoCarrier);
  } else {
    return false;
  }
  return true;
}

TQvSendFax::Next TQvSendFax::Redial() {
  ++attempt_;
  Go(TxState::tfDial);
  return Next::Again;
}

TQvSendFax::Next TQvSendFax::OnTimeout() {
  switch (State()) {
    case TxState::tfRetryWait:
      return Redial();
    case TxState::tf1Connect:
      return Fail(renegotiating_ ? core::ecFatalTimeout : core::ecFaxNoAnswer);
    case TxState::tf2Connect:
      return Fail(core::ecFaxNoAnswer);
    case TxState::tfWaitXon:
      return AwaitRoom(TxState::tfWaitFrHead);
    case TxState::tf1WaitMCF:
      SendText(" ");
      Go(TxState::tf1PrepEOP);
      return Next::Again;
    case TxState::tf1EcmWaitResp:
      // No answer within T4: the command again, not the block.
      SendText(" ");
      return EcmAnswer("ERROR", false);
    case TxState::tf1WaitHngp:
      HangUp();
      Go(TxState::tfClose);
      return Next::Again;
    default:
      if (State() == TxState::tfDone || State() == TxState::tfCompleteOK || State() == TxState::tfClose || State() == TxState::tfAbort) return Next::Wait;
      return Fail(core::ecFatalTimeout);
  }
}

// ---------------------------------------------------------------------------------------------
// The machine

// One row per state, in the order of TxState: the state's name in the dispatch log and what runs
// it. Event rows run at once or on the port's events; line rows run when a modem line or frame
// has arrived (their time-outs are in OnTimeout).
struct TxMachine {
  using Row = TQvSendFax::StateRow<TQvSendFax, TxStateInfo>;
  static constexpr Row Event(TxState s, const char* name, TQvSendFax::EventHandler run) { return {{s, name, false}, run, nullptr}; }
  static constexpr Row Line(TxState s, const char* name, TQvSendFax::LineHandler run) { return {{s, name, true}, nullptr, run}; }

  static const Row kRows[kTransmitStateCount];

  static constexpr bool InOrder() { return TQvSendFax::RowsInOrder(kRows); }
};
constexpr TxMachine::Row TxMachine::kRows[kTransmitStateCount] = {
    TxMachine::Event(TxState::tfNone, "tfNone", &TQvSendFax::Idle),
    TxMachine::Event(TxState::tfGetEntry, "tfGetEntry", &TQvSendFax::GetEntry),
    TxMachine::Event(TxState::tfInit, "tfInit", &TQvSendFax::InitFax),
    TxMachine::Line(TxState::tf1Init1, "tf1Init1", &TQvSendFax::Class1Init),
    TxMachine::Line(TxState::tf2Init1, "tf2Init1", &TQvSendFax::Class2Init),
    TxMachine::Line(TxState::tf2Init1A, "tf2Init1A", &TQvSendFax::Class2FlowControl),
    TxMachine::Line(TxState::tf2Init1B, "tf2Init1B", &TQvSendFax::Class2Reports),
    TxMachine::Line(TxState::tf2Init2, "tf2Init2", &TQvSendFax::Class2Capabilities),
    TxMachine::Line(TxState::tf2Init3, "tf2Init3", &TQvSendFax::Class2Ready),
    TxMachine::Event(TxState::tfDial, "tfDial", &TQvSendFax::Dial),
    TxMachine::Event(TxState::tfRetryWait, "tfRetryWait", &TQvSendFax::RetryWait),
    TxMachine::Line(TxState::tf1Connect, "tf1Connect", &TQvSendFax::Class1Connect),
    TxMachine::Line(TxState::tf1SendTSI, "tf1SendTSI", &TQvSendFax::SendTsi),
    TxMachine::Line(TxState::tf1TSIRespns, "tf1TSIRespns", &TQvSendFax::SendDcs),
    TxMachine::Line(TxState::tf1DCSRspns, "tf1DCSRspns", &TQvSendFax::StartTraining),
    TxMachine::Line(TxState::tf1TrainStrt, "tf1TrainStrt", &TQvSendFax::SendTcf),
    TxMachine::Line(TxState::tf1TrainFnsh, "tf1TrainFnsh", &TQvSendFax::TrainingSent),
    TxMachine::Line(TxState::tf1WaitCFR, "tf1WaitCFR", &TQvSendFax::WaitCfr),
    TxMachine::Line(TxState::tf1WaitPgCn, "tf1WaitPgCn", &TQvSendFax::WaitPageConnect),
    TxMachine::Line(TxState::tf2Connect, "tf2Connect", &TQvSendFax::Class2Connect),
    TxMachine::Line(TxState::tf2GetParams, "tf2GetParams", &TQvSendFax::GetParams2),
    TxMachine::Event(TxState::tfWaitXon, "tfWaitXon", &TQvSendFax::WaitXon),
    TxMachine::Event(TxState::tfWaitFrHead, "tfWaitFrHead", &TQvSendFax::WaitFrameHead),
    TxMachine::Event(TxState::tfSndPgeHdr, "tfSndPgeHdr", &TQvSendFax::SendPageHead),
    TxMachine::Event(TxState::tfOpenCover, "tfOpenCover", &TQvSendFax::OpenCover),
    TxMachine::Event(TxState::tfSendCover, "tfSendCover", &TQvSendFax::SendCover),
    TxMachine::Event(TxState::tfPrepPage, "tfPrepPage", &TQvSendFax::PrepPage),
    TxMachine::Event(TxState::tfSendPage, "tfSendPage", &TQvSendFax::SendPage),
    TxMachine::Event(TxState::tfDrainPage, "tfDrainPage", &TQvSendFax::DrainPage),
    TxMachine::Line(TxState::tf1PageEnd, "tf1PageEnd", &TQvSendFax::PageEnd1),
    TxMachine::Event(TxState::tf1PrepEOP, "tf1PrepEOP", &TQvSendFax::PrepPostPage1),
    TxMachine::Line(TxState::tf1SendEOP, "tf1SendEOP", &TQvSendFax::SendPostPage1),
    TxMachine::Line(TxState::tf1WaitMPS, "tf1WaitMPS", &TQvSendFax::PostPageSent1),
    TxMachine::Line(TxState::tf1WaitEOP, "tf1WaitEOP", &TQvSendFax::IgnoreLine),  // named, never entered
    TxMachine::Line(TxState::tf1WaitMCF, "tf1WaitMCF", &TQvSendFax::WaitMcf),
    TxMachine::Line(TxState::tf1SendDCN, "tf1SendDCN", &TQvSendFax::SendDcn),
    TxMachine::Line(TxState::tf1Hangup, "tf1Hangup", &TQvSendFax::DcnSent),
    TxMachine::Line(TxState::tf1WaitHngp, "tf1WaitHngp", &TQvSendFax::WaitHangup1),
    TxMachine::Event(TxState::tf2SendEOP, "tf2SendEOP", &TQvSendFax::SendPostPage2),
    TxMachine::Line(TxState::tf2WaitFPTS, "tf2WaitFPTS", &TQvSendFax::WaitPageTransfer2),
    TxMachine::Line(TxState::tf2WaitFET, "tf2WaitFET", &TQvSendFax::PageResult2),
    TxMachine::Line(TxState::tf2WaitPgOK, "tf2WaitPgOK", &TQvSendFax::PageRetry2),
    TxMachine::Event(TxState::tf2SndNwPrm, "tf2SndNwPrm", &TQvSendFax::NewParams2),
    TxMachine::Event(TxState::tf2NextPage, "tf2NextPage", &TQvSendFax::NextPage2),
    TxMachine::Line(TxState::tf20ChckPg, "tf20ChckPg", &TQvSendFax::PageResult2),
    TxMachine::Event(TxState::tfClose, "tfClose", &TQvSendFax::CloseFax),
    TxMachine::Event(TxState::tfCompleteOK, "tfCompleteOK", &TQvSendFax::CompleteOK),
    TxMachine::Event(TxState::tfAbort, "tfAbort", &TQvSendFax::AbortCall),
    TxMachine::Event(TxState::tfDone, "tfDone", &TQvSendFax::Idle),
    TxMachine::Line(TxState::tf1EcmBurst, "tf1EcmBurst", &TQvSendFax::EcmBurstConnect),
    TxMachine::Line(TxState::tf1EcmBurstEnd, "tf1EcmBurstEnd", &TQvSendFax::EcmBurstEnded),
    TxMachine::Line(TxState::tf1EcmSendCmd, "tf1EcmSendCmd", &TQvSendFax::EcmCommandConnect),
    TxMachine::Line(TxState::tf1EcmCmdSent, "tf1EcmCmdSent", &TQvSendFax::EcmCommandSent),
    TxMachine::Line(TxState::tf1EcmWaitResp, "tf1EcmWaitResp", &TQvSendFax::EcmAnswer),
};

static_assert(TxMachine::InOrder(), "one row per transmit state, in the order of TxState");

int TransmitLogSubtype(TxState s) {
  const int i = static_cast<int>(s);
  const int done = static_cast<int>(TxState::tfDone);
  return i <= done ? kTransmitLogBase + i : kTransmitEcmLogBase + (i - done - 1);
}

const TxStateInfo& Describe(TxState s) {
  const int i = static_cast<int>(s);
  return TxMachine::kRows[i >= 0 && i < kTransmitStateCount ? i : 0].info;
}

TQvSendFax::Next TQvSendFax::Step(Ev ev) {
  const bool ending = State() == TxState::tfAbort || State() == TxState::tfDone || State() == TxState::tfCompleteOK;
  if (ev == Ev::Abort && !ending) {
    aborted_ = true;
    StatusUpdate(fpCancel);
    return Fail(core::ecCancelRequested);
  }
  if (ev == Ev::PortLost && !ending) return Fail(core::ecDeviceReadError);
  const TxMachine::Row& row = TxMachine::kRows[static_cast<int>(State())];
  if (row.onEvent) return (this->*row.onEvent)(ev);
  return LineStep(
      ev, [this] { return OnTimeout(); },
      [this] {
        const TxState before = State();
        DecodeFrame();
        return State() != before;
      },
      [this] { return OnLine(); });
}

// A complete text line in lastLine_ for a line-waiting state: the checks every such state shares,
// then the state's own handler.
TQvSendFax::Next TQvSendFax::OnLine() {
  const std::string& l = lastLine_;
  bool ok = HasOk(l);
  // A Class 2.0 modem answers ERROR to the post-page command of a page the far end rejected
  // (RTN): the page is sent again, which the page-result state handles.
  if (HasError(l) && State() != TxState::tf1SendEOP && State() != TxState::tf1WaitEOP && State() != TxState::tf1WaitMCF &&
      State() != TxState::tf1EcmWaitResp && State() != TxState::tf20ChckPg)
    return Fail(core::ecFaxBadModemResult);
  if (class_ != fcClass1 && l.find(cmds_.hangup) != std::string::npos && State() != TxState::tf2WaitFET && State() != TxState::tf20ChckPg) {
    hangupCode_ = HangupNumber(l);
    return Fail(core::ecFaxBadModemResult);
  }
  return (this->*TxMachine::kRows[static_cast<int>(State())].onLine)(l, ok);
}

TQvSendFax::Next TQvSendFax::Idle(Ev) { return Next::Wait; }

TQvSendFax::Next TQvSendFax::GetEntry(Ev) {
  if (gEntryBusy.exchange(true)) {
    // Another sender is asking for its next fax; look again shortly instead of waiting for
    // a status tick that may never come (StatusInterval 0).
    ArmTimeout(kEntryRetryTicks);
    return Next::Wait;
  }
  bool got = NextFax();
  gEntryBusy = false;
  if (!got) {
    Go(TxState::tfCompleteOK);
    return Next::Again;
  }
  SendLog(lcTransmitStarted);
  attempt_ = 1;  // the dial about to be made is the first attempt
  pageRetry_ = 0;
  coverInProgress_ = false;
  page_ = 1;
  bytesTransferred_ = 0;
  SetRemoteId("");
  haveRemoteCaps_ = false;
  renegotiating_ = false;
  sessionEcm_ = false;
  sessionCoding_ = LineCoding::MH;
  ecmPageCounter_ = 0;
  ecmFramesResent_ = 0;
  ecmPageGivenUp_ = false;
  if (!docFile_.empty()) {
    int rc = OpenDocument();
    if (rc != 0) return Fail(rc);
  } else if (coverFile_.empty()) {
    return Fail(core::ecNoFilename);
  }
  if (SoftwareFlow) ch_->ClearSoftwareFlow();
  Go(TxState::tfInit);
  return Next::Again;
}

TQvSendFax::Next TQvSendFax::InitFax(Ev) {
  StationID = UpperCase(StationID.substr(0, 20));
  withCover_ = !coverFile_.empty();
  if (!coverFile_.empty()) {
    coverInProgress_ = true;
    coverIsQvf_ = UpperCase(coverFile_).find("." + UpperCase(FaxFileExt.empty() ? "QVF" : FaxFileExt)) !=
                  std::string::npos;
  }
  // The first page sent (the cover when there is one) decides the first negotiation; later
  // pages renegotiate when they differ.
  curRes_ = '0';
  curWide_ = false;
  if (coverInProgress_ || docOpen_) {
    int rc = LoadPageResolution();
    cover_.Close();
    if (rc != 0) return Fail(rc);
  }
  StatusUpdate(fpInitModem);
  if (class_ == fcClass1) {
    ModemCommand("AT+FCLASS=1");
    Go(TxState::tf1Init1);
  } else {
    ModemCommand(cmds_.selectClass);
    Go(TxState::tf2Init1);
  }
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::Dial(Ev) {
  std::string dial = std::string("ATD") + (ToneDial ? "T" : "P") + DialPrefix + phoneNumber_;
  ModemCommand(dial);
  ArmTimeout(core::SecsToTicks(DialWait));
  StatusUpdate(fpDialing);
  Go(class_ == fcClass1 ? TxState::tf1Connect : TxState::tf2Connect);
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::RetryWait(Ev ev) {
  if (ev == Ev::Timeout) return Redial();
  if (ch_->HasInput()) ch_->PurgeInput();
  return Next::Wait;
}

TQvSendFax::Next TQvSendFax::WaitXon(Ev ev) {
  if (ev == Ev::Timeout) return OnTimeout();
  uint8_t c;
  bool xon = false;
  while (ch_->ReadChar(c) == 0)
    if (c == kXon) xon = true;
  if (!xon) return Next::Wait;
  return AwaitRoom(TxState::tfWaitFrHead);
}

TQvSendFax::Next TQvSendFax::WaitFrameHead(Ev ev) {
  if (ev == Ev::Timeout) return Fail(core::ecFatalTimeout);
  if (ev != Ev::OutFree) return Next::Wait;
  StatusUpdate(fpSendPage);
  if (SoftwareFlow) ch_->SetSoftwareFlow(6144, 2048, 1);
  Go(TxState::tfSndPgeHdr);
  return Next::Again;
}

TQvSendFax::Next TQvSendFax::SendPageHead(Ev) {
  sentToPort_ = 0;
  bytesTransferred_ = 0;
  pageQueued_ = pageHanded_ = 0;
  pageFlowing_ = true;
  pageCodedWhole_ = false;
  if (sessionCoding_ != LineCoding::MH) {
    // A 2-D coded page cannot be coded row by row as it goes: it is coded whole first.
    if (int rc = CodeWholePage(sessionCoding_, sessionEcm_); rc != 0) return Fail(rc);
    pageLength_ = static_cast<int>(linePage_.size());
    return AwaitRoom(TxState::tfSendPage);
  }
  int rc = PageStartRows();
  if (rc != 0) return Fail(rc);
  Go(coverInProgress_ ? TxState::tfOpenCover : TxState::tfPrepPage);
  return Next::Again;
}

TQvSendFax::Next TQvSendFax::OpenCover(Ev) {
  if (coverIsQvf_) {
    // A fax-file cover goes out like any document page.
    int rc = cover_.Open(coverFile_);
    if (rc != 0) return Fail(rc);
    Go(TxState::tfPrepPage);
    return Next::Again;
  }
  coverText_ = std::make_unique<std::ifstream>(coverFile_);
  if (!*coverText_) return Fail(core::ecFileNotFound);
  StatusUpdate(fpSendPage);
  return AwaitRoom(TxState::tfSendCover);
}

TQvSendFax::Next TQvSendFax::SendCover(Ev ev) { return FeedPage(ev, &TQvSendFax::SendCoverLines, FeedPace::BlockFree); }

TQvSendFax::Next TQvSendFax::PrepPage(Ev) {
  int rc = ReadCurrentPageHeader();
  if (rc != 0) return Fail(rc);
  faximage::QvfReader& r = (coverInProgress_ && coverIsQvf_) ? cover_ : doc_;
  r.Seek(pageDataOffset_);
  pageLength_ = pageInfo_.ImageLength;
  pageConsumed_ = 0;
  return AwaitRoom(TxState::tfSendPage);
}

TQvSendFax::Next TQvSendFax::SendPage(Ev ev) {
  return FeedPage(ev, pageCodedWhole_ ? &TQvSendFax::SendLinePageBlocks : &TQvSendFax::SendPageBlocks,
                  FeedPace::KeepMinimum);
}

TQvSendFax::Next TQvSendFax::DrainPage(Ev ev) {
  if (ev == Ev::Timeout) return Fail(core::ecFatalTimeout);
  if (ev != Ev::OutEmpty) return Next::Wait;
  // The buffer has drained: the whole page is out.
  pageFlowing_ = false;
  bytesTransferred_ = pageHanded_;
  if (SoftwareFlow) ch_->ClearSoftwareFlow();
  if (pageCodedWhole_) {
    // Coding the page whole has already turned to the next one.
    pageCodedWhole_ = false;
    linePage_.clear();
  } else {
    morePages_ = MorePagesAfterCurrent();
    lastWasCover_ = coverInProgress_;
    resChanges_ = false;
    if (morePages_) {
      if (int rc = TurnToNextPage(); rc != 0) return Fail(rc);
    }
  }
  StatusUpdate(fpSendPage);
  if (class_ == fcClass1) {
    Go(TxState::tf1PageEnd);
    return Next::IfInput;
  }
  if (class_ == fcClass2) {
    uint8_t end[2] = {kDle, kEtx};
    SendBytes(end, 2);
  } else {
    uint8_t end[2] = {kDle, static_cast<uint8_t>(!morePages_ ? '.' : (resChanges_ ? ';' : ','))};
    SendBytes(end, 2);
  }
  Go(TxState::tf2SendEOP);
  return Next::Again;
}

TQvSendFax::Next TQvSendFax::PrepPostPage1(Ev) {
  if (++postPageCount_ < 6) {
    // After the page's carrier, T.30's turn-round; a command sent again waits longer.
    if (postPageCount_ > 1) PauseMs(kPostPageRepeatMs);
    ModemCommand("AT+FTH=3", postPageCount_ > 1 ? 40 : kTurnaroundMs);
    Go(TxState::tf1SendEOP);
    return Next::IfInput;
  }
  return Fail(core::ecFatalTimeout);
}

TQvSendFax::Next TQvSendFax::SendPostPage2(Ev) {
  pageConfirmed_ = callEndedEarly_ = false;
  ClearLine();
  ArmTimeout(kPageTimeoutTicks);
  StatusUpdate(fpSendEop);
  Go(class_ == fcClass2 ? TxState::tf2WaitFPTS : TxState::tf20ChckPg);
  return Next::IfInput;
}

TQvSendFax::Next TQvSendFax::NewParams2(Ev) {
  if (morePages_) {
    ModemCommand(cmds_.capabilities + "=" + curRes_);
    Go(TxState::tf2GetParams);
    return Next::IfInput;
  }
  Go(TxState::tfClose);
  return Next::Again;
}

TQvSendFax::Next TQvSendFax::NextPage2(Ev) {
  if (morePages_) {
    core::DelayTicks(5, false);
    ModemCommand("AT+FDT");
    Go(TxState::tf2GetParams);
    return Next::IfInput;
  }
  Go(TxState::tfClose);
  return Next::Again;
}

TQvSendFax::Next TQvSendFax::CloseFax(Ev) {
  if (ecmPageGivenUp_) {
    // The call ended in good order, but a page of it did not arrive whole: not delivered.
    ecmPageGivenUp_ = false;
    onHookAlready_ = true;
    return Fail(core::ecFaxPageError);
  }
  CloseFiles();
  pageRetry_ = 0;
  coverInProgress_ = false;
  StopTimeout();
  StatusUpdate(fpFinished);
  SendLog(lcTransmitOk);
  SwitchToCommandRate();
  Go(TxState::tfGetEntry);
  return Next::Again;
}

TQvSendFax::Next TQvSendFax::CompleteOK(Ev) {
  SendStatus(false, true);
  Go(TxState::tfDone);
  FinishSession();
  return Next::Wait;
}

TQvSendFax::Next TQvSendFax::AbortCall(Ev) {
  CloseFiles();
  StopTimeout();
  SendLog(lcTransmitFailed);
  // A modem that has gone hears no hang-up, and the batch cannot go on without it.
  if (!portLost_) {
    if (!onHookAlready_) HangUp();
    SwitchToCommandRate();
  }
  onHookAlready_ = false;
  if (ExitOnError || AbortNoConnect || aborted_ || portLost_) {
    if (!portLost_) StatusUpdate(fpCancel);  // the user's abort or the batch given up
    SendStatus(false, true);
    Go(TxState::tfDone);
    FinishSession();
    return Next::Wait;
  }
  Go(TxState::tfGetEntry);
  return Next::Again;
}

void TQvSendFax::RewindToRejectedPage() {
  if (morePages_) {
    if (lastWasCover_)
      coverInProgress_ = true;  // state 24 opens the cover again
    else
      page_ = page_ - 1;
  }
  if (coverInProgress_ && !coverIsQvf_) coverText_.reset();
  morePages_ = false;
}

void TQvSendFax::HangUp() {
  if (ch_->CheckCarrier()) {
    PauseMs(1000);
    SendText("+++");
    PauseMs(1000);
    ModemCommand("ATH0");
    PauseMs(1000);
    ch_->PurgeOutput();
    ch_->PurgeInput();
    if (ch_->CheckCarrier()) {
      ch_->DriveDtr(false);
      ch_->DriveRts(false);
      PauseMs(500);
      ch_->DriveDtr(true);
      ch_->DriveRts(true);
      PauseMs(500);
    }
  } else {
    ModemCommand("ATH0");
    PauseMs(1000);
    ch_->PurgeOutput();
    ch_->PurgeInput();
  }
  StopTimeout();
  ClearLine();
}

void TQvSendFax::RefreshProgress() {
  // What the far side has had of the page: handed to the port minus what still waits in its
  // buffer (counted in stuffed bytes, so slightly low while DLE-rich rows are buffered).
  if (!pageFlowing_ || !ch_) return;
  bytesTransferred_ = std::max<long>(0, pageHanded_ - ch_->OutputUsed());
}

FaxStatusFigures TQvSendFax::StatusFigures() const {
  FaxStatusFigures f = TQvAbstractFax::StatusFigures();
  f.pageShown = CurrentPageShown();
  f.coverInProgress = coverInProgress_;
  f.framesResent = ecmFramesResent_;
  f.dialAttempt = attempt_;
  return f;
}

void TQvSendFax::OnFinished(int) {
  if (!mergedFile_.empty()) {
    std::remove(mergedFile_.c_str());
    mergedFile_.clear();
  }
}

}  // namespace qv::fax
