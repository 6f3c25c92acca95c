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
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Files

int TQvSendFax::OpenDocument() {
  docOpen_ = false;
  int rc = doc_.Open(docFile_);
  if (rc != 0) return rc;
  docOpen_ = true;
  totalPages_ = doc_.PageCount();
  return 0;
}

int TQvSendFax::ReadCurrentPageHeader() {
  faximage::QvfReader& r = (coverInProgress_ && coverIsQvf_) ? cover_ : doc_;
  int page = (coverInProgress_ && coverIsQvf_) ? 1 : page_.load();
  int rc = r.FindPage(page, pageInfo_, pageDataOffset_);
  if (rc != 0) return rc;
  curRes_ = (pageInfo_.PageFlags & faximage::pfHighRes) ? '1' : '0';
  curWide_ = (pageInfo_.PageFlags & faximage::pfWide) != 0;
  return 0;
}

int TQvSendFax::LoadPageResolution() {
  if (coverInProgress_ && !coverIsQvf_) {
    curRes_ = '0';  // text covers are drawn at standard resolution
    curWide_ = false;
    return 0;
  }
  if (coverInProgress_ && !cover_.IsOpen()) {
    int rc = cover_.Open(coverFile_);
    if (rc != 0) return rc;
  }
  return ReadCurrentPageHeader();
}

void TQvSendFax::CloseFiles() {
  doc_.Close();
  cover_.Close();
  coverText_.reset();
  docOpen_ = false;
}

bool TQvSendFax::MorePagesAfterCurrent() const {
  return docOpen_ && (coverInProgress_ || page_ < totalPages_);
}

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
// Page data

void TQvSendFax::FlushStaging() {
  if (staging_.empty()) return;
  SendBytes(staging_.data(), staging_.size());
  sentToPort_ += static_cast<long>(staging_.size());
  pageHanded_ = pageQueued_;
  staging_.clear();
}

void TQvSendFax::SendRow(const uint8_t* row, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    staging_.push_back(row[i]);
    if (row[i] == kDle) staging_.push_back(kDle);
  }
  if (static_cast<int>(length) < minBytes_) staging_.insert(staging_.end(), minBytes_ - length, 0);
  pageQueued_ += std::max<long>(static_cast<long>(length), minBytes_);
  if (staging_.size() >= kBlockSize) FlushStaging();
}

int TQvSendFax::PageStartRows() {
  std::vector<uint8_t> blank(faximage::kBlankCodedRow.begin(), faximage::kBlankCodedRow.end());
  if (minBytes_ >= 7) blank.insert(blank.end(), minBytes_ - 5, 0);
  for (int i = 0; i < 8; ++i) staging_.insert(staging_.end(), blank.begin(), blank.end());
  FlushStaging();
  auto topUp = [this] {
    int need = BufferMinimum - ch_->OutputUsed();
    if (need > 0) {
      std::vector<uint8_t> zeros(std::min(need, kPortBufferSize), 0);
      SendBytes(zeros.data(), zeros.size());
    }
  };
  if (!HeaderLine.empty()) {
    topUp();
    HeaderValues v{HeaderSender, HeaderRecipient, HeaderTitle, StationID, 0, 0};
    bool withCover = !coverFile_.empty();
    v.pageCount = totalPages_ + (withCover ? 1 : 0);
    v.pageNumber = coverInProgress_ ? 1 : page_ + (withCover ? 1 : 0);
    std::vector<std::vector<uint8_t>> rows;
    int rc = CodeTextLine(ExpandHeaderTags(HeaderLine, v), 16, curRes_ == '1', rows);
    if (rc != 0) return rc;
    for (const auto& row : rows) SendRow(row.data(), row.size());
    FlushStaging();
  }
  topUp();
  return 0;
}

int TQvSendFax::SendPageBlocks(bool& done) {
  done = false;
  faximage::QvfReader& r = (coverInProgress_ && coverIsQvf_) ? cover_ : doc_;
  bool records = (pageInfo_.PageFlags & faximage::pfRowRecords) != 0;
  int blocks = 0;
  uint8_t buf[kBlockSize];
  while (blocks < MaxSendCount && ch_->OutputUsed() <= BufferMinimum && ch_->OutputFree() >= static_cast<int>(kBlockSize)) {
    while (staging_.size() < kBlockSize && pageConsumed_ < pageInfo_.ImageLength) {
      if (records) {
        uint8_t lw[2];
        if (pageInfo_.ImageLength - pageConsumed_ < 2 || r.Read(lw, 2) != 2) return core::ecFaxBadFormat;
        size_t len = lw[0] | (lw[1] << 8);
        if (len > kBlockSize || static_cast<long>(len) > pageInfo_.ImageLength - pageConsumed_ - 2) return core::ecFaxBadFormat;
        if (r.Read(buf, len) != static_cast<int64_t>(len)) return core::ecReadPastEof;
        pageConsumed_ += 2 + static_cast<long>(len);
        SendRow(buf, len);
      } else {
        size_t want = static_cast<size_t>(std::min<long>(kBlockSize / 2, pageInfo_.ImageLength - pageConsumed_));
        int64_t n = r.Read(buf, want);
        if (n <= 0) return n < 0 ? static_cast<int>(n) : core::ecReadPastEof;
        pageConsumed_ += n;
        for (long i = 0; i < n; ++i) {
          staging_.push_back(buf[i]);
          if (buf[i] == kDle) staging_.push_back(kDle);
        }
        pageQueued_ += n;
      }
    }
    bool last = pageConsumed_ >= pageInfo_.ImageLength;
    if (last && class_ == fcClass1) {
      staging_.push_back(kDle);
      staging_.push_back(kEtx);
    }
    FlushStaging();
    ++blocks;
    if (last) {
      done = true;
      return 0;
    }
  }
  return 0;
}

int TQvSendFax::SendCoverLines(bool& done) {
  done = false;
  std::string text;
  while (ch_->OutputFree() > static_cast<int>(kBlockSize)) {
    if (!coverText_ || !std::getline(*coverText_, text)) {
      SendRow(faximage::kEndOfPageCode.data(), faximage::kEndOfPageCode.size());
      if (class_ == fcClass1) {
        staging_.push_back(kDle);
        staging_.push_back(kEtx);
      }
      FlushStaging();
      done = true;
      return 0;
    }
    if (!text.empty() && text.back() == '\r') text.pop_back();
    HeaderValues v{HeaderSender, HeaderRecipient, HeaderTitle, StationID, totalPages_ + 1, 1};
    std::vector<std::vector<uint8_t>> rows;
    int rc = CodeTextLine(ExpandHeaderTags(text, v), 48, curRes_ == '1', rows);
    if (rc != 0) return rc;
    for (const auto& row : rows) SendRow(row.data(), row.size());
    FlushStaging();
  }
  return 0;
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



TQvSendFax::Next TQvSendFax::BusyHandling() {
  if (DialAttempts != 0 && attempt_ >= DialAttempts) {
    statusPending_ = true;
    if (AbortNoConnect) return Fail(core::ecFaxBusy);
    CloseFiles();
    error_ = core::ecFaxBusy;
    SendError(core::ecFaxBusy);
    SendLog(lcTransmitFailed);
    Go(TxState::tfGetEntry);
    return Next::Again;
  }
  StatusUpdate(fpBusyWait);
  Go(TxState::tfRetryWait);
  ArmTimeout(core::SecsToTicks(DialRetryWait));
  return Next::Wait;
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
      ch_->ArmStatusTrigger(outFreeTrigger_, kBlockSize, true);
      ArmTimeout(kPageTimeoutTicks);
      Go(TxState::tfWaitFrHead);
      return Next::Wait;
    case TxState::tf1WaitMCF:
      SendText(" ");
      Go(TxState::tf1PrepEOP);
      return Next::Again;
    case TxState::tf1WaitHngp:
      HangUp();
      Go(TxState::tfClose);
      return Next::Again;
    default:
      if (State() == TxState::tfDone || State() == TxState::tfCompleteOK || State() == TxState::tfClose || State() == TxState::tfAbort) return Next::Wait;
      return Fail(core::ecFatalTimeout);
  }
}

// A complete text line in lastLine_ for a line-waiting state.
TQvSendFax::Next TQvSendFax::OnLine() {
  const std::string& l = lastLine_;
  bool ok = HasOk(l);
  if (HasError(l) && State() != TxState::tf1SendEOP && State() != TxState::tf1WaitEOP && State() != TxState::tf1WaitMCF) return Fail(core::ecFaxBadModemResult);
  if (class_ != fcClass1 && l.find(cmds_.hangup) != std::string::npos && State() != TxState::tf2WaitFET && State() != TxState::tf20ChckPg) {
    hangupCode_ = HangupNumber(l);
    return Fail(core::ecFaxBadModemResult);
  }
  return class_ == fcClass1 ? OnLineClass1(l, ok) : OnLineClass2(l, ok);
}

// ---------------------------------------------------------------------------------------------
// The machine

TQvSendFax::Next TQvSendFax::Step(Ev ev) {
  const bool ending = State() == TxState::tfAbort || State() == TxState::tfDone || State() == TxState::tfCompleteOK;
  if (ev == Ev::Abort && !ending) {
    aborted_ = true;
    StatusUpdate(fpCancel);
    return Fail(core::ecCancelRequested);
  }
  if (ev == Ev::PortLost && !ending) return Fail(core::ecDeviceReadError);
  if (Describe(State()).waitsForLine)
    return LineStep(
        ev, [this] { return OnTimeout(); },
        [this] {
          const TxState before = State();
          DecodeFrame();
          return State() != before;
        },
        [this] { return OnLine(); });
  switch (State()) {
    case TxState::tfGetEntry: {
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
    case TxState::tfInit: {
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
    case TxState::tfDial: {
      std::string dial = std::string("ATD") + (ToneDial ? "T" : "P") + DialPrefix + phoneNumber_;
      ModemCommand(dial);
      ArmTimeout(core::SecsToTicks(DialWait));
      StatusUpdate(fpDialing);
      Go(class_ == fcClass1 ? TxState::tf1Connect : TxState::tf2Connect);
      return Next::IfInput;
    }
    case TxState::tfRetryWait:
      if (ev == Ev::Timeout) return Redial();
      if (ch_->HasInput()) ch_->PurgeInput();
      return Next::Wait;
    case TxState::tfWaitXon:
      if (ev == Ev::Timeout) return OnTimeout();
      {
        uint8_t c;
        bool xon = false;
        while (ch_->ReadChar(c) == 0)
          if (c == kXon) xon = true;
        if (!xon) return Next::Wait;
      }
      ch_->ArmStatusTrigger(outFreeTrigger_, kBlockSize, true);
      ArmTimeout(kPageTimeoutTicks);
      Go(TxState::tfWaitFrHead);
      return Next::Wait;
    case TxState::tfWaitFrHead:
      if (ev == Ev::Timeout) return Fail(core::ecFatalTimeout);
      if (ev != Ev::OutFree) return Next::Wait;
      StatusUpdate(fpSendPage);
      if (SoftwareFlow) ch_->SetSoftwareFlow(6144, 2048, 1);
      Go(TxState::tfSndPgeHdr);
      return Next::Again;
    case TxState::tfSndPgeHdr: {
      sentToPort_ = 0;
      bytesTransferred_ = 0;
      pageQueued_ = pageHanded_ = 0;
      pageFlowing_ = true;
      int rc = PageStartRows();
      if (rc != 0) return Fail(rc);
      Go(coverInProgress_ ? TxState::tfOpenCover : TxState::tfPrepPage);
      return Next::Again;
    }
    case TxState::tfOpenCover:
      if (coverIsQvf_) {
        int rc = cover_.Open(coverFile_);
        if (rc != 0) return Fail(rc);
        Go(TxState::tfPrepPage);
        return Next::Again;
      }
      coverText_ = std::make_unique<std::ifstream>(coverFile_);
      if (!*coverText_) return Fail(core::ecFileNotFound);
      ch_->ArmStatusTrigger(outFreeTrigger_, kBlockSize, true);
      ArmTimeout(kPageTimeoutTicks);
      StatusUpdate(fpSendPage);
      Go(TxState::tfSendCover);
      return Next::Wait;
    case TxState::tfSendCover: {
      if (ev == Ev::Timeout) return Fail(core::ecFatalTimeout);
      while (ch_->HasInput()) {
        uint8_t c;
        ch_->ReadChar(c);
      }
      if (ev != Ev::OutFree && ev != Ev::OutEmpty) return Next::Wait;
      bool done = false;
      int rc = SendCoverLines(done);
      if (rc != 0) return Fail(rc);
      ArmTimeout(kPageTimeoutTicks);
      if (done) {
        ch_->ArmStatusTrigger(outEmptyTrigger_, 0, true);
        Go(TxState::tfDrainPage);
      } else {
        ch_->ArmStatusTrigger(outFreeTrigger_, kBlockSize, true);
      }
      return Next::Wait;
    }
    case TxState::tfPrepPage: {
      int rc = ReadCurrentPageHeader();
      if (rc != 0) return Fail(rc);
      faximage::QvfReader& r = (coverInProgress_ && coverIsQvf_) ? cover_ : doc_;
      r.Seek(pageDataOffset_);
      pageLength_ = pageInfo_.ImageLength;
      pageConsumed_ = 0;
      ch_->ArmStatusTrigger(outFreeTrigger_, kBlockSize, true);
      ArmTimeout(kPageTimeoutTicks);
      Go(TxState::tfSendPage);
      return Next::Wait;
    }
    case TxState::tfSendPage: {
      if (ev == Ev::Timeout) return Fail(core::ecFatalTimeout);
      while (ch_->HasInput()) {
        uint8_t c;
        ch_->ReadChar(c);
      }
      if (ev != Ev::OutFree && ev != Ev::OutEmpty) return Next::Wait;
      bool done = false;
      int rc = SendPageBlocks(done);
      if (rc != 0) return Fail(rc);
      ArmTimeout(kPageTimeoutTicks);
      if (done) {
        ch_->ArmStatusTrigger(outFreeTrigger_, 0, false);
        ch_->ArmStatusTrigger(outEmptyTrigger_, 0, true);
        Go(TxState::tfDrainPage);
      } else {
        // Wake when the buffer has drained to the level we keep it at.
        ch_->ArmStatusTrigger(outEmptyTrigger_, BufferMinimum, true);
      }
      return Next::Wait;
    }
    case TxState::tfDrainPage: {
      if (ev == Ev::Timeout) return Fail(core::ecFatalTimeout);
      if (ev != Ev::OutEmpty) return Next::Wait;
      // The buffer has drained: the whole page is out.
      pageFlowing_ = false;
      bytesTransferred_ = pageHanded_;
      if (SoftwareFlow) ch_->ClearSoftwareFlow();
      morePages_ = MorePagesAfterCurrent();
      lastWasCover_ = coverInProgress_;
      resChanges_ = false;
      if (morePages_) {
        prevRes_ = curRes_;
        if (coverInProgress_) {
          cover_.Close();
          coverText_.reset();
          coverInProgress_ = false;
        } else {
          page_ = page_ + 1;
        }
        bytesTransferred_ = 0;
        const bool prevWide = curWide_;
        int rc = ReadCurrentPageHeader();
        if (rc != 0) return Fail(rc);
        resChanges_ = prevRes_ != curRes_ || prevWide != curWide_;
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
    case TxState::tf1PrepEOP:
      if (++postPageCount_ < 6) {
        PauseMs(500);
        ModemCommand("AT+FTH=3", 40);
        Go(TxState::tf1SendEOP);
        return Next::IfInput;
      }
      return Fail(core::ecFatalTimeout);
    case TxState::tf2SendEOP:
      pageConfirmed_ = callEndedEarly_ = false;
      ClearLine();
      ArmTimeout(kPageTimeoutTicks);
      StatusUpdate(fpSendEop);
      Go(class_ == fcClass2 ? TxState::tf2WaitFPTS : TxState::tf20ChckPg);
      return Next::IfInput;
    case TxState::tf2SndNwPrm:
      if (morePages_) {
        ModemCommand(cmds_.capabilities + "=" + curRes_);
        Go(TxState::tf2GetParams);
        return Next::IfInput;
      }
      Go(TxState::tfClose);
      return Next::Again;
    case TxState::tf2NextPage:
      if (morePages_) {
        core::DelayTicks(5, false);
        ModemCommand("AT+FDT");
        Go(TxState::tf2GetParams);
        return Next::IfInput;
      }
      Go(TxState::tfClose);
      return Next::Again;
    case TxState::tfClose:
      CloseFiles();
      pageRetry_ = 0;
      coverInProgress_ = false;
      StopTimeout();
      StatusUpdate(fpFinished);
      SendLog(lcTransmitOk);
      SwitchToCommandRate();
      Go(TxState::tfGetEntry);
      return Next::Again;
    case TxState::tfCompleteOK:
      SendStatus(false, true);
      Go(TxState::tfDone);
      FinishSession();
      return Next::Wait;
    case TxState::tfAbort:
      CloseFiles();
      StopTimeout();
      SendLog(lcTransmitFailed);
      // A modem that has gone hears no hang-up, and the batch cannot go on without it.
      if (!portLost_) {
        HangUp();
        SwitchToCommandRate();
      }
      if (ExitOnError || AbortNoConnect || aborted_ || portLost_) {
        if (!portLost_) StatusUpdate(fpCancel);  // the user's abort or the batch given up
        SendStatus(false, true);
        Go(TxState::tfDone);
        FinishSession();
        return Next::Wait;
      }
      Go(TxState::tfGetEntry);
      return Next::Again;
    default:
      return Next::Wait;
  }
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

void TQvSendFax::OnFinished(int) {
  if (!mergedFile_.empty()) {
    std::remove(mergedFile_.c_str());
    mergedFile_.clear();
  }
}

}  // namespace qv::fax
