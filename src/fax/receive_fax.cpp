#include "fax/receive_fax.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "core/error_text.h"
#include "core/exceptions.h"
#include "core/message_loop.h"
#include "core/ticks.h"
#include "faximage/raster.h"
#include "faximage/t4_coder.h"
#include "faximage/t4_transcode.h"

namespace qv::fax {

namespace {
using S = RfState;

// Received page data goes to the file in pieces of about this size (a page is 20-100 KB).
constexpr size_t kPageWriteChunk = 32 * 1024;

uint8_t Reverse(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
  return b;
}

// Received files are named in 8.3 form: the received table's FAXFILE field holds 12 characters,
// and a record must name its file whole, or View and Delete miss it.
constexpr size_t kMaxFileNameLength = 12;
constexpr int kFallbackNumbers = 99;  // "NONAME01" .. "NONAME99": two digits fit beside the stem

// The name for a fax when the scheme gives none: dir + stem + ext, else dir + stem + "01" + ext to
// stem + "99" + ext, the first that does not exist; empty when all do, so a fallback name never
// overwrites an earlier fax. The fallback lives in the receive folder with the other faxes.
std::string FallbackName(const std::string& dir, const std::string& stem, const std::string& ext) {
  if (!std::filesystem::exists(dir + stem + ext)) return dir + stem + ext;
  for (int n = 1; n <= kFallbackNumbers; ++n) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02d", n);
    const std::string name = stem + digits + ext;
    if (name.size() > kMaxFileNameLength) break;
    if (!std::filesystem::exists(dir + name)) return dir + name;
  }
  return "";
}
}  // namespace

// One row per state, in the order of RfState: the state's name in the dispatch log and what runs
// it. Event rows run at once or on the port's events (page data, training bytes, time-outs);
// line rows run when a modem line or frame has arrived (their time-outs are in OnTimeout).
struct RxMachine {
  using Row = TQvReceiveFax::StateRow<TQvReceiveFax, RfStateInfo>;
  // The states after rfDone (error correction) log from their own base, after the transmit
  // machine's.
  static constexpr int Subtype(RfState s) {
    const int i = static_cast<int>(s), done = static_cast<int>(RfState::rfDone);
    return i <= done ? kReceiveLogBase + i : kReceiveEcmLogBase + (i - done - 1);
  }
  static constexpr Row Event(RfState s, const char* name, TQvReceiveFax::EventHandler run) {
    return {{s, name, false, Subtype(s)}, run, nullptr};
  }
  static constexpr Row Line(RfState s, const char* name, TQvReceiveFax::LineHandler run) {
    return {{s, name, true, Subtype(s)}, nullptr, run};
  }

  static const Row kRows[kReceiveStateCount];

  static constexpr bool InOrder() { return TQvReceiveFax::RowsInOrder(kRows); }
};

constexpr RxMachine::Row RxMachine::kRows[kReceiveStateCount] = {
    RxMachine::Event(RfState::rfNone, "rfNone", &TQvReceiveFax::Idle),
    RxMachine::Event(RfState::rfInit, "rfInit", &TQvReceiveFax::InitCall),
    RxMachine::Line(RfState::rf1Init1, "rf1Init1", &TQvReceiveFax::Class1Init),
    RxMachine::Line(RfState::rf2Init1, "rf2Init1", &TQvReceiveFax::Class2Init),
    RxMachine::Line(RfState::rf2Init1A, "rf2Init1A", &TQvReceiveFax::Class2FlowControl),
    RxMachine::Line(RfState::rf2Init1B, "rf2Init1B", &TQvReceiveFax::Class2Reports),
    RxMachine::Event(RfState::rf2Init2, "rf2Init2", &TQvReceiveFax::Idle),  // named, never entered
    RxMachine::Line(RfState::rf2Init3, "rf2Init3", &TQvReceiveFax::Class2Ready),
    RxMachine::Line(RfState::rfWaiting, "rfWaiting", &TQvReceiveFax::WaitForRing),
    RxMachine::Event(RfState::rfAnswer, "rfAnswer", &TQvReceiveFax::Answer),
    RxMachine::Line(RfState::rf1SendCSI, "rf1SendCSI", &TQvReceiveFax::SendCsi),
    RxMachine::Line(RfState::rf1SendDIS, "rf1SendDIS", &TQvReceiveFax::SendDis),
    RxMachine::Line(RfState::rf1CollFrms, "rf1CollFrms", &TQvReceiveFax::CollectFrames),
    RxMachine::Event(RfState::rf1CollRtry1, "rf1CollRtry1", &TQvReceiveFax::RepeatDis),
    RxMachine::Event(RfState::rf1CollRtry2, "rf1CollRtry2", &TQvReceiveFax::RepeatDisTurn),
    RxMachine::Line(RfState::rf1StrtTrn, "rf1StrtTrn", &TQvReceiveFax::StartTraining),
    RxMachine::Event(RfState::rf1CollTrn, "rf1CollTrn", &TQvReceiveFax::CollectTraining),
    RxMachine::Event(RfState::rf1Timeout, "rf1Timeout", &TQvReceiveFax::Idle),  // named, never entered
    RxMachine::Line(RfState::rf1Retrain, "rf1Retrain", &TQvReceiveFax::Retrain),
    RxMachine::Line(RfState::rf1FinTrn, "rf1FinTrn", &TQvReceiveFax::TrainingEnded),
    RxMachine::Line(RfState::rf1SendCFR, "rf1SendCFR", &TQvReceiveFax::SendCfr),
    RxMachine::Line(RfState::rf1WtPgCnnct, "rf1WtPgCnnct", &TQvReceiveFax::WaitPageConnect),
    RxMachine::Line(RfState::rf2ValCnnct, "rf2ValCnnct", &TQvReceiveFax::Class2Connect),
    RxMachine::Line(RfState::rf2GtSndID, "rf2GtSndID", &TQvReceiveFax::GetSenderId2),
    RxMachine::Line(RfState::rf2GtCnnct, "rf2GtCnnct", &TQvReceiveFax::GetPageConnect2),
    RxMachine::Event(RfState::rfStartPage, "rfStartPage", &TQvReceiveFax::StartPage),
    RxMachine::Event(RfState::rfGtPgDta, "rfGtPgDta", &TQvReceiveFax::PageData),
    RxMachine::Line(RfState::rf1FinPage, "rf1FinPage", &TQvReceiveFax::PageEnded1),
    RxMachine::Line(RfState::rf1WaitEOP, "rf1WaitEOP", &TQvReceiveFax::WaitPostPage1),
    RxMachine::Event(RfState::rf1WritePage, "rf1WritePage", &TQvReceiveFax::WritePage1),
    RxMachine::Line(RfState::rf1SendMCF, "rf1SendMCF", &TQvReceiveFax::SendMcf),
    RxMachine::Line(RfState::rf1WaitDCN, "rf1WaitDCN", &TQvReceiveFax::WaitDcn),
    RxMachine::Line(RfState::rf1WtHngp, "rf1WtHngp", &TQvReceiveFax::WaitHangup1),
    RxMachine::Line(RfState::rf2GtPgRslt, "rf2GtPgRslt", &TQvReceiveFax::PageResult2),
    RxMachine::Line(RfState::rf2GetFHNG, "rf2GetFHNG", &TQvReceiveFax::GetHangup2),
    RxMachine::Event(RfState::rfComplete, "rfComplete", &TQvReceiveFax::Complete),
    RxMachine::Event(RfState::rfAbort, "rfAbort", &TQvReceiveFax::Abort),
    RxMachine::Event(RfState::rfDone, "rfDone", &TQvReceiveFax::Idle),
    RxMachine::Line(RfState::rf1EcmWtCnnct, "rf1EcmWtCnnct", &TQvReceiveFax::EcmBurstConnect),
    RxMachine::Event(RfState::rf1EcmBurst, "rf1EcmBurst", &TQvReceiveFax::EcmBurstData),
    RxMachine::Line(RfState::rf1EcmBurstEnd, "rf1EcmBurstEnd", &TQvReceiveFax::EcmBurstEnded),
    RxMachine::Line(RfState::rf1EcmWaitCmd, "rf1EcmWaitCmd", &TQvReceiveFax::EcmCommand),
    RxMachine::Line(RfState::rf1EcmSendResp, "rf1EcmSendResp", &TQvReceiveFax::EcmResponseConnect),
};
static_assert(RxMachine::InOrder(), "one row per receive state, in the order of RfState");

const RfStateInfo& ReceiveStateInfo(RfState state) {
  int i = static_cast<int>(state);
  return RxMachine::kRows[i < kReceiveStateCount ? i : 0].info;
}

TQvReceiveFax::TQvReceiveFax() {
  FaxClass = fcDetect;
  FaxFileExt = "QVF";
  writeBuf_.reserve(kPageWriteChunk + 4096);
}

TQvReceiveFax::~TQvReceiveFax() {
  Retire();  // before any member of this class goes; the writer then keeps the complete pages
}

void TQvReceiveFax::SetDestinationDir(const std::string& dir) {
  destinationDir_ = dir;
  if (!destinationDir_.empty() && destinationDir_.back() != '/') destinationDir_ += '/';
}

void TQvReceiveFax::StatusUpdate(int code) {
  SetStatus(code);
  statusPending_ = true;
}

void TQvReceiveFax::FirstStatus() {
  if (firstStatusSent_) return;
  firstStatusSent_ = true;
  SendStatus(true, false);
}

std::string TQvReceiveFax::NextFileName() const {
  char prefix[16];
  if (NameScheme == 1) {
    std::snprintf(prefix, sizeof prefix, "FAX");
  } else if (NameScheme == 2) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    std::snprintf(prefix, sizeof prefix, "%02d%02d", tm.tm_mon + 1, tm.tm_mday);
  } else {
    return FallbackName(destinationDir_, "noname", ".qvf");
  }
  for (int n = 1; n <= 9999; ++n) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04d", n);
    std::string name = destinationDir_ + prefix + digits + "." + FaxFileExt;
    if (!std::filesystem::exists(name)) return name;
  }
  return FallbackName(destinationDir_, "NONAME", ".QVF");
}

std::string TQvReceiveFax::FaxLogEntry(TFaxLogCode code) const {
  const std::string prefix = "Receive ";
  const std::string date = LogDateTime();
  const std::string end = kLogLineEnd;
  switch (code) {
    case lcReceiveStarted:
      return prefix + FaxFile() + " from " + RemoteID() + " started at " + date + end;
    case lcReceiveOk:
      return prefix + "finished OK at " + date + end + end;
    case lcReceiveSkipped:
      return prefix + "skipped at " + date + end + end;
    case lcReceiveFailed:
      return prefix + "failed at " + date + end + "  (" + core::ErrorText(LastError()) + ")" + end + end;
    default:
      return {};  // a transmitter's event
  }
}

void TQvReceiveFax::StartReceiving() {
  if (!ComPort() && !ownedChannel_) core::RaiseError(core::ecPortNotAssigned);
  aborted_ = false;
  StartSession([this] { return Prepare(); });
}

int TQvReceiveFax::Prepare() {
  rstate_ = RfState::rfInit;
  error_ = 0;
  SetStatus(0);
  class_ = FaxClass;
  if (class_ == fcUnknown || class_ == fcDetect) {
    if (DetectClass(true) != 0) return core::ecFaxBadModemResult;
    class_ = PreferredClass(cachedClasses_);
    if (class_ == fcUnknown) return core::ecFaxBadModemResult;
  }
  cmds_ = BuildClass2Commands(class_);
  if (!InitialiseModem()) return core::ecFaxBadModemResult;
  if (class_ == fcClass1) {
    if (ModemCommandWait("AT+FCLASS=1") != 1) return core::ecFaxBadModemResult;
    SwitchToNormalRate();
    QueryClass1Speeds(false);
    while (speedIndex_ > kMinSpeedIndex && SpeedBps(speedIndex_) > DesiredBPS) --speedIndex_;
    topSpeedIndex_ = speedIndex_;
  } else {
    if (ModemCommandWait(cmds_.selectClass) != 1) return core::ecFaxBadModemResult;
    SwitchToNormalRate();
    QueryClass2Codings();
    if (ModemCommandWait("AT+FCR=1") != 1) return core::ecFaxBadModemResult;
    if (ModemCommandWait(cmds_.localId + "=\"" + UpperCase(StationID) + "\"") != 1) return core::ecFaxBadModemResult;
    if (ModemCommandWait(std::string("AT+FAA=") + (FaxAndData ? "1" : "0")) != 1) return core::ecFaxBadModemResult;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Output file

int TQvReceiveFax::CreateOutputFile() {
  auto name = std::make_shared<std::string>();
  Notify([this, name] {
    if (OnFaxName)
      OnFaxName(this, *name);
    else
      *name = NextFileName();
  });
  if (name->empty()) return core::ecNoFilename;
  writeBuf_.clear();
  // The receiver stores the remote identifier padded to the full 20 characters.
  if (int rc = out_.CreatePageByPage(*name, RemoteID(), true)) {
    CloseOutputFile(false);
    return rc;
  }
  {
    std::lock_guard lock(remoteIdMutex_);
    faxFile_ = *name;
  }
  SendLog(lcReceiveStarted);
  return 0;
}

int TQvReceiveFax::WritePageHeader() {
  if (!out_.IsOpen()) return 0;
  // A page still open here never got a result: it is not known to be good, and a page header
  // after its data would break the file's chain of pages.
  RemovePage();
  out_.SetPageFlags(static_cast<uint16_t>((sessionFine_ ? faximage::pfHighRes : 0) |
                                          (sessionWide_ ? faximage::pfWide : 0)));
  pageBytes_ = 0;
  // An empty raw write opens the page: its header goes out now with length 0.
  return out_.WriteRaw({});
}

int TQvReceiveFax::FlushData() {
  if (!out_.IsOpen() || writeBuf_.empty()) {
    writeBuf_.clear();
    return 0;
  }
  if (lineCoding_ != faximage::T4Coding::kMh) {
    // Rows coded against the rows above them (MR, MMR) come out whole only at the page's end.
    if (linePage_.size() + writeBuf_.size() > kMaxLinePageBytes) return core::ecFaxPageError;
    linePage_.insert(linePage_.end(), writeBuf_.begin(), writeBuf_.end());
    writeBuf_.clear();
    return 0;
  }
  if (class_ == fcClass1) pageCheck_.feed(writeBuf_);
  int rc = out_.WriteRaw(writeBuf_);
  writeBuf_.clear();
  return rc;
}

int TQvReceiveFax::PutData(const uint8_t* data, size_t n) {
  const size_t at = writeBuf_.size();
  writeBuf_.insert(writeBuf_.end(), data, data + n);
  if (class_ == fcClass2)
    for (size_t i = at; i < writeBuf_.size(); ++i) writeBuf_[i] = Reverse(writeBuf_[i]);
  pageBytes_ += static_cast<long>(n);
  // Written out in large pieces: each write is a system call and a pass of the quality check,
  // and nothing of an unfinished page is of use after a crash anyway.
  if (writeBuf_.size() >= kPageWriteChunk) return FlushData();
  return 0;
}

int TQvReceiveFax::PutData(uint8_t b) { return PutData(&b, 1); }

size_t TQvReceiveFax::UnstuffPageData(std::span<const uint8_t> in, bool& ended, int& rc) {
  size_t i = 0;
  while (i < in.size() && rc == 0) {
    if (dle_) {
      dle_ = false;
      const uint8_t c = in[i++];
      if (c == kEtx) {
        ended = true;  // the bytes after it are the modem's answer: not taken
        break;
      }
      if (c == kDle) {
        rc = PutData(kDle);
      } else if (c == 0x1A && class_ == fcClass2_0) {
        rc = PutData(kDle);
        if (rc == 0) rc = PutData(kDle);
      }
      continue;
    }
    // The run up to the next DLE is page data as it stands.
    const auto* dle = static_cast<const uint8_t*>(std::memchr(in.data() + i, kDle, in.size() - i));
    const size_t run = dle ? static_cast<size_t>(dle - (in.data() + i)) : in.size() - i;
    if (run > 0) rc = PutData(in.data() + i, run);
    i += run;
    if (dle && rc == 0) {
      dle_ = true;
      ++i;
    }
  }
  return i;
}

int TQvReceiveFax::StoreLinePage(bool pageEnded) {
  int rc = FlushData();
  if (rc != 0 || linePage_.empty()) return rc;
  const int width = sessionWide_ ? faximage::kWideWidth : faximage::kStandardWidth;
  lineResult_ = faximage::MhPageFromLine(linePage_, width, lineCoding_);
  linePage_.clear();
  if (!pageEnded && !lineResult_.ended && lineResult_.mh.size() >= faximage::kEndOfPageCode.size()) {
    // The conversion ends every page with the end-of-page code. A page the line cut off must not
    // carry one: its missing end is how a reader of the file (the program's filing) knows it
    // for a page that never arrived whole, as with MH data stored as it came.
    lineResult_.mh.resize(lineResult_.mh.size() - faximage::kEndOfPageCode.size());
  }
  return out_.WriteRaw(lineResult_.mh);
}

int TQvReceiveFax::FinishPage(bool pageEnded) {
  if (!out_.PageOpen()) return 0;
  int rc = StoreLinePage(pageEnded);
  if (rc != 0) return rc;
  out_.SetStationId(RemoteID(), true);
  return out_.EndRawPage();
}

void TQvReceiveFax::RemovePage() {
  writeBuf_.clear();
  linePage_.clear();
  out_.CutPage();
  pageBytes_ = 0;
}

void TQvReceiveFax::CloseOutputFile(bool keepEmpty) {
  if (!out_.IsOpen()) return;
  const std::string name = out_.FileName();
  writeBuf_.clear();
  out_.Close();  // an open page goes; a file that met a write error keeps its complete pages
  const int pages = out_.PageCount();
  // A call that never delivered a page leaves no file behind.
  if (!keepEmpty && pages == 0 && !name.empty()) std::remove(name.c_str());
}

FaxStatusFigures TQvReceiveFax::StatusFigures() const {
  FaxStatusFigures f = TQvAbstractFax::StatusFigures();
  f.framesResent = ecmFramesResent_;
  return f;
}

void TQvReceiveFax::ClearFaxFileAfterLog() {
  std::lock_guard lock(remoteIdMutex_);
  faxFile_.clear();
}

bool TQvReceiveFax::AskAccept() {
  auto accept = std::make_shared<bool>(true);
  Notify([this, accept] {
    if (OnFaxAccept) OnFaxAccept(this, *accept);
  });
  return *accept;
}

// ---------------------------------------------------------------------------------------------
// Protocol

TQvReceiveFax::Next TQvReceiveFax::Fail(int code) {
  error_ = code;
  if (code != 0) SendError(code);
  Go(S::rfAbort);
  return Next::Again;
}

TQvReceiveFax::Next TQvReceiveFax::OnTimeout() {
  if (class_ == fcClass1) return OnClass1Timeout();
  return Fail(core::ecFatalTimeout);
}

// A complete text line in lastLine_ for a line-waiting state: the checks every such state shares,
// then the state's own handler.
TQvReceiveFax::Next TQvReceiveFax::OnLine() {
  const std::string& l = lastLine_;
  bool ok = HasOk(l);
  // +FCERROR while waiting for a carrier: a sender repeating its post-page message, or a late
  // turn-round that missed the carrier. The Class 1 machine recovers both.
  const bool missedCarrier = (Is(S::rf1StrtTrn) || Is(S::rf1WtPgCnnct) || Is(S::rf1EcmWtCnnct)) && IsFcError(l);
  // In error correction a garbled V.21 command is listened for again: the sender repeats it.
  if (HasError(l) && !Is(S::rf2GtPgRslt) && !Is(S::rf1EcmWaitCmd) && !missedCarrier)
    return Fail(core::ecFaxBadModemResult);
  if (class_ != fcClass1 && l.find(cmds_.hangup) != std::string::npos && !Is(S::rf2GetFHNG)) {
    hangupCode_ = HangupNumber(l);
    return Fail(core::ecFaxSessionError);
  }
  return (this->*RxMachine::kRows[static_cast<int>(rstate_)].onLine)(l, ok);
}

TQvReceiveFax::Next TQvReceiveFax::RefuseCall() {
  Fail(core::ecFileRejected);
  SendLog(lcReceiveSkipped);
  return Next::Again;
}

void TQvReceiveFax::DocumentReceived(RfState next) {
  CloseOutputFile(true);
  SendLog(lcReceiveOk);
  StatusUpdate(fpGetHangup);
  Go(next);
}

TQvReceiveFax::Next TQvReceiveFax::ReadPageData() {
  // A run at a time where the channel lets the bytes be seen in place, a byte at a time where
  // not; a long flood is cut into pieces so other events get their turn.
  constexpr size_t kMostPerRun = 10000;
  size_t taken = 0;
  bool ended = false;
  int rc = 0;
  while (!ended && rc == 0 && taken < kMostPerRun) {
    std::span<const uint8_t> in = ch_->PeekInput();
    uint8_t one;
    const bool inPlace = !in.empty();
    if (!inPlace) {
      if (ch_->ReadChar(one) != 0) break;
      in = {&one, 1};
    }
    in = in.first(std::min(in.size(), kMostPerRun - taken));
    const size_t used = UnstuffPageData(in, ended, rc);
    if (inPlace) ch_->TakeInput(used);
    taken += used;
  }
  bytesTransferred_ = pageBytes_;
  if (rc != 0) return Fail(rc);
  if (ended) {
    rc = FlushData();
    if (rc != 0) return Fail(rc);
    StatusUpdate(fpGetPage);
    if (SoftwareFlow) ch_->ClearSoftwareFlow();
    Go(class_ == fcClass1 ? S::rf1FinPage : S::rf2GtPgRslt);
    ArmTimeout(kCommandTimeoutTicks);
    return Next::IfInput;
  }
  if (taken > 0) ArmTimeout(kCommandTimeoutTicks);
  return taken >= kMostPerRun ? Next::IfInput : Next::Wait;
}

TQvReceiveFax::Next TQvReceiveFax::StartPage(Ev) {
  page_ = page_ + 1;
  int rc = 0;
  if (pageState_ == RfPageState::SameFile) {
    rc = WritePageHeader();
  } else if (pageState_ == RfPageState::NewFile) {
    // A new document of the call (Class 2/2.0 after EOM): the one before it arrived whole.
    if (out_.IsOpen() && out_.PageCount() > 0) {
      CloseOutputFile(true);
      SendLog(lcReceiveOk);
    } else {
      CloseOutputFile(false);
    }
    rc = CreateOutputFile();
    if (rc == 0) rc = WritePageHeader();
  }
  if (rc != 0) return Fail(rc);
  pageState_ = RfPageState::SameFile;
  dle_ = false;
  pageBytes_ = 0;
  pageCheck_.startPage();
  ArmTimeout(kCommandTimeoutTicks);
  if (class_ != fcClass1) {
    uint8_t dc2 = kDc2;
    SendBytes(&dc2, 1);
  }
  StatusUpdate(fpGetPage);
  Go(S::rfGtPgDta);
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::Complete(Ev) {
  SwitchToCommandRate();
  StopTimeout();
  if (OneFax) {
    if (!ConstantStatus || aborted_) SendStatus(false, true);
    Go(S::rfDone);
    FinishSession();
    return Next::Wait;
  }
  if (!ConstantStatus) SendStatus(false, true);
  firstStatusSent_ = false;
  Go(S::rfInit);
  return Next::Again;
}

TQvReceiveFax::Next TQvReceiveFax::Abort(Ev) {
  StopTimeout();
  if (out_.IsOpen()) {
    if (out_.PageOpen()) {
      if (pageBytes_ > 0)
        FinishPage(false);  // kept as far as it came, without an end it never had
      else
        RemovePage();
    }
    CloseOutputFile(false);
    SendLog(lcReceiveFailed);
  }
  // A modem that has gone hears no hang-up and answers no more calls: receive mode ends.
  if (portLost_) {
    StopTimeout();
    ClearLine();
    SetStatus(0);  // no longer waiting for calls
  } else {
    HangUp();
  }
  if (!ConstantStatus || aborted_ || portLost_) SendStatus(false, true);
  firstStatusSent_ = false;
  if (ExitOnError || aborted_ || portLost_) {
    Go(S::rfDone);
    FinishSession();
    return Next::Wait;
  }
  SwitchToCommandRate();
  Go(S::rfInit);
  return Next::Again;
}

TQvReceiveFax::Next TQvReceiveFax::Step(Ev ev) {
  if (ev == Ev::Abort && !Is(S::rfAbort) && !Is(S::rfDone)) {
    aborted_ = true;
    StatusUpdate(fpCancel);
    return Fail(core::ecCancelRequested);
  }
  if (ev == Ev::PortLost && !Is(S::rfAbort) && !Is(S::rfDone)) return Fail(core::ecDeviceReadError);
  const RxMachine::Row& row = RxMachine::kRows[static_cast<int>(rstate_)];
  if (row.onEvent) return (this->*row.onEvent)(ev);
  return LineStep(
      ev, [this] { return OnTimeout(); },
      [this] {
        RfState before = rstate_;
        DecodeFrame();
        return rstate_ != before;
      },
      [this] { return OnLine(); });
}

TQvReceiveFax::Next TQvReceiveFax::Idle(Ev) { return Next::Wait; }

TQvReceiveFax::Next TQvReceiveFax::InitCall(Ev) {
  ringCount_ = 0;
  rejectPending_ = false;
  pageState_ = RfPageState::NewFile;
  page_ = 0;
  bytesTransferred_ = 0;
  disRetry_ = 0;
  ppmAnswered_ = false;
  mcfRepeats_ = 0;
  morePages_ = eom_ = rejectPage_ = retrainAfterPage_ = false;
  sessionEcm_ = false;
  sessionCoding_ = LineCoding::MH;
  lineCoding_ = faximage::T4Coding::kMh;
  ecmBlocks_.reset();
  ecmReader_.reset();
  ecmResponse_.clear();
  ecmLongTraining_ = false;
  ecmGarbled_ = 0;
  ecmFramesResent_ = 0;
  ecmPagesArrived_ = 0;
  {
    std::lock_guard lock(droppedMutex_);
    droppedPages_.clear();
  }
  linePage_.clear();
  SetRemoteId("");
  {
    std::lock_guard lock(remoteIdMutex_);
    faxFile_.clear();
  }
  if (ConstantStatus) FirstStatus();
  if (SoftwareFlow) ch_->ClearSoftwareFlow();
  ch_->DriveDtr(true);
  ch_->DriveRts(true);
  if (class_ == fcClass1) {
    ModemCommand("AT+FCLASS=1");
    Go(S::rf1Init1);
  } else {
    ModemCommand(cmds_.selectClass);
    Go(S::rf2Init1);
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::WaitForRing(const std::string& l, bool) {
  if (l.find("RING") != std::string::npos) {
    ++ringCount_;
    if (ringCount_ >= std::max<int>(1, AnswerOnRing)) {
      pageState_ = RfPageState::NewFile;
      FirstStatus();
      ArmTimeout(kCommandTimeoutTicks);
      Go(S::rfAnswer);
      return Next::Again;
    }
  } else if (l.find("NO C") != std::string::npos) {
    StatusUpdate(fpNoConnect);
  } else if (HasConnect(l)) {
    return Fail(core::ecFaxDataCall);
  } else if (l.find("VOICE") != std::string::npos || l.find("VCON") != std::string::npos) {
    return Fail(core::ecFaxVoiceCall);
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::Answer(Ev) {
  // Only a re-entrant call (from a status handler of this step) finds the step busy; the
  // outer call goes on, so nothing waits here. Each component guards itself: a guard shared
  // by all components left a second receiver waiting for a timer that may never come.
  if (answering_) return Next::Wait;
  answering_ = true;
  FirstStatus();
  ModemCommand("ATA");
  ArmTimeout(kDialWaitTicks);
  StatusUpdate(fpAnswer);
  answering_ = false;
  Go(class_ == fcClass1 ? S::rf1SendCSI : S::rf2ValCnnct);
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::PageData(Ev ev) {
  if (ev == Ev::Timeout) return Fail(core::ecFatalTimeout);
  return ReadPageData();
}

void TQvReceiveFax::HangUp() {
  ch_->DriveDtr(false);
  ch_->DriveRts(false);
  PauseMs(500);
  ch_->DriveDtr(true);
  ch_->DriveRts(true);
  PauseMs(500);
  PauseMs(1000);
  SendText("+++");
  PauseMs(1000);
  ModemCommand("ATH", 100);
  PauseMs(1000);
  ch_->PurgeOutput();
  ch_->PurgeInput();
  StopTimeout();
  ClearLine();
}

}  // namespace qv::fax
