#include "fax/receive_fax.h"

#include <cstring>
#include <filesystem>
#include <memory>
#include <unistd.h>

#include "core/exceptions.h"
#include "core/message_loop.h"
#include "core/ticks.h"

namespace qv::fax {

namespace {
std::atomic<bool> gAnswerBusy{false};

constexpr bool kLineState[38] = {
    false, false, true,  true,  true,  true,  false, true,  true,  false,  // 0-9
    true,  true,  true,  false, false, true,  false, false, true,  true,   // 10-19
    true,  true,  true,  true,  true,  false, false, true,  true,  false,  // 20-29
    true,  true,  true,  true,  true,  false, false, false};

uint8_t Reverse(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
  return b;
}
}  // namespace

TQvReceiveFax::TQvReceiveFax() {
  FaxClass = fcDetect;
  FaxFileExt = "QVF";
  initialState_ = 1;
  writeBuf_.reserve(4096);
}

TQvReceiveFax::~TQvReceiveFax() {
  Retire();  // before any member of this class goes
  if (out_) std::fclose(out_);
}

bool TQvReceiveFax::IsLineState(int state) const { return state >= 0 && state < 38 && kLineState[state]; }

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
    return "noname.qvf";
  }
  for (int n = 1; n <= 9999; ++n) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04d", n);
    std::string name = destinationDir_ + prefix + digits + "." + FaxFileExt;
    if (!std::filesystem::exists(name)) return name;
  }
  return "NONAME.QVF";
}

void TQvReceiveFax::StartReceiving() {
  if (!ComPort() && !ownedChannel_) core::RaiseError(-1005);
  aborted_ = false;
  StartSession([this] { return Prepare(); });
}

int TQvReceiveFax::Prepare() {
  state_ = initialState_;
  error_ = 0;
  SetStatus(0);
  class_ = FaxClass;
  if (class_ == fcUnknown || class_ == fcDetect) {
    if (DetectClass(true) != 0) return kErrBadModemResult;
    class_ = PreferredClass(cachedClasses_);
    if (class_ == fcUnknown) return kErrBadModemResult;
  }
  cmds_ = BuildClass2Commands(class_);
  if (!InitialiseModem()) return kErrBadModemResult;
  if (class_ == fcClass1) {
    if (ModemCommandWait("AT+FCLASS=1") != 1) return kErrBadModemResult;
    SwitchToNormalRate();
    QueryClass1Speeds(false);
    while (speedIndex_ > kMinSpeedIndex && SpeedBps(speedIndex_) > DesiredBPS) --speedIndex_;
  } else {
    if (ModemCommandWait(cmds_.selectClass) != 1) return kErrBadModemResult;
    SwitchToNormalRate();
    if (ModemCommandWait("AT+FCR=1") != 1) return kErrBadModemResult;
    if (ModemCommandWait(cmds_.localId + "=\"" + UpperCase(StationID) + "\"") != 1) return kErrBadModemResult;
    if (ModemCommandWait(std::string("AT+FAA=") + (FaxAndData ? "1" : "0")) != 1) return kErrBadModemResult;
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
  if (name->empty()) return kErrNoFilename;
  out_ = std::fopen(name->c_str(), "w+b");
  if (!out_) return IoError();
  outName_ = *name;
  {
    std::lock_guard lock(remoteIdMutex_);
    faxFile_ = *name;
  }
  pagesInFile_ = 0;
  pageHeaderPos_ = -1;
  writeBuf_.clear();
  BuildReceiverHeader(fileHeader_, RemoteID(), 0);
  if (std::fwrite(fileHeader_, 1, kQvfHeaderSize, out_) != kQvfHeaderSize || std::fflush(out_) != 0) {
    int rc = errno == ENOSPC ? -101 : -160;
    CloseOutputFile(false);
    return rc;
  }
  SendLog(4);
  return 0;
}

int TQvReceiveFax::WritePageHeader() {
  if (!out_) return 0;
  int rc = FlushData();
  if (rc != 0) return rc;
  std::fseek(out_, 0, SEEK_END);
  pageHeaderPos_ = std::ftell(out_);
  uint8_t ph[kQvfPageHeaderSize] = {};
  ph[4] = static_cast<uint8_t>((sessionFine_ ? kPageHighRes : 0) | (sessionWide_ ? kPageWide : 0));
  if (std::fwrite(ph, 1, sizeof ph, out_) != sizeof ph) return errno == ENOSPC ? -101 : -160;
  pageBytes_ = 0;
  return 0;
}

int TQvReceiveFax::FlushData() {
  if (!out_ || writeBuf_.empty()) {
    writeBuf_.clear();
    return 0;
  }
  size_t n = std::fwrite(writeBuf_.data(), 1, writeBuf_.size(), out_);
  bool short_write = n != writeBuf_.size();
  writeBuf_.clear();
  if (short_write) return errno == ENOSPC ? -101 : -160;
  return 0;
}

int TQvReceiveFax::PutData(uint8_t b) {
  if (class_ == fcClass2) b = Reverse(b);
  writeBuf_.push_back(b);
  ++pageBytes_;
  bytesTransferred_ = pageBytes_;
  if (writeBuf_.size() >= 4096) return FlushData();
  return 0;
}

int TQvReceiveFax::FinishPage() {
  if (!out_ || pageHeaderPos_ < 0) return 0;
  int rc = FlushData();
  if (rc != 0) return rc;
  std::fseek(out_, 0, SEEK_END);
  long end = std::ftell(out_);
  int32_t length = static_cast<int32_t>(end - pageHeaderPos_ - static_cast<long>(kQvfPageHeaderSize));
  uint8_t len[4] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                    static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
  ++pagesInFile_;
  BuildReceiverHeader(fileHeader_, RemoteID(), static_cast<uint16_t>(pagesInFile_));
  bool ok = std::fseek(out_, pageHeaderPos_, SEEK_SET) == 0 && std::fwrite(len, 1, 4, out_) == 4 &&
            std::fseek(out_, 0, SEEK_SET) == 0 &&
            std::fwrite(fileHeader_, 1, kQvfHeaderSize, out_) == kQvfHeaderSize &&
            std::fseek(out_, 0, SEEK_END) == 0 && std::fflush(out_) == 0;
  pageHeaderPos_ = -1;
  if (!ok) return errno == ENOSPC ? -101 : -160;
  return 0;
}

void TQvReceiveFax::RemovePage() {
  if (!out_ || pageHeaderPos_ < 0) return;
  writeBuf_.clear();
  std::fflush(out_);
  if (ftruncate(fileno(out_), pageHeaderPos_) == 0) std::fseek(out_, pageHeaderPos_, SEEK_SET);
  pageHeaderPos_ = -1;
  pageBytes_ = 0;
}

void TQvReceiveFax::CloseOutputFile(bool keepEmpty) {
  if (!out_) return;
  std::fclose(out_);
  out_ = nullptr;
  // A call that never delivered a page leaves no file behind.
  if (!keepEmpty && pagesInFile_ == 0 && !outName_.empty()) std::remove(outName_.c_str());
  outName_.clear();
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
  state_ = 36;
  return Next::Again;
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
      if (state_ != 31) Fail(kErrCancelRequested);
      break;
    case FrameKind::Ftt:
    case FrameKind::Rtn:
      PauseMs(200);
      ModemCommand("AT+FRH=3", 40);
      state_ = 12;
      break;
    default:
      break;
  }
}

TQvReceiveFax::Next TQvReceiveFax::OnTimeout() {
  switch (state_) {
    case 10:
      if (disRetry_ > 0) {
        state_ = 13;
        return Next::Again;
      }
      return Fail(kErrFatalTimeout);
    case 12:
      state_ = 13;
      return Next::Again;
    case 16:
      error_ = 0;
      state_ = 36;
      return Next::Again;
    case 31:
      state_ = 35;
      return Next::Again;
    default:
      return Fail(kErrFatalTimeout);
  }
}

TQvReceiveFax::Next TQvReceiveFax::OnLine() {
  const std::string& l = lastLine_;
  bool ok = HasOk(l);
  if (HasError(l) && state_ != 33) return Fail(kErrBadModemResult);
  if (class_ != fcClass1 && l.find(cmds_.hangup) != std::string::npos && state_ != 34) {
    hangupCode_ = HangupNumber(l);
    return Fail(kErrSessionError);
  }
  switch (state_) {
    case 2:
      if (!ok) return Fail(kErrInit);
      SwitchToNormalRate();
      StopTimeout();
      StatusUpdate(fpWaiting);
      state_ = 8;
      break;
    case 3:
      if (!ok) return Fail(kErrInit);
      SwitchToNormalRate();
      ModemCommand(cmds_.receiveCaps + "=1," + BitRateCode(DesiredBPS) + ",0,2,0," + (DesiredECM ? "1" : "0") + ",0,0");
      state_ = class_ == fcClass2_0 ? 4 : 7;
      break;
    case 4:
      if (!ok) return Fail(kErrInit);
      ModemCommand("AT+FLO=2");
      state_ = 5;
      break;
    case 5:
      if (!ok) return Fail(kErrInit);
      ModemCommand("AT+FNR=1,1,1,0");
      state_ = 7;
      break;
    case 7:
      if (!ok) return Fail(kErrInit);
      StopTimeout();
      StatusUpdate(fpWaiting);
      state_ = 8;
      break;
    case 8:
      if (l.find("RING") != std::string::npos) {
        ++ringCount_;
        if (ringCount_ >= std::max<int>(1, AnswerOnRing)) {
          pageState_ = 3;
          FirstStatus();
          ArmTimeout(kCommandTimeoutTicks);
          state_ = 9;
          return Next::Again;
        }
      } else if (l.find("NO C") != std::string::npos) {
        StatusUpdate(fpNoConnect);
      } else if (HasConnect(l)) {
        return Fail(kErrDataCall);
      } else if (l.find("VOICE") != std::string::npos || l.find("VCON") != std::string::npos) {
        return Fail(kErrVoice);
      }
      break;
    case 10:
      if (HasConnect(l)) {
        SendFrame(BuildIdFrame(kFcfCsi, UpperCase(StationID), false));
        state_ = 11;
      }
      break;
    case 11:
      if (HasConnect(l)) {
        SendFrame(BuildDisFrame(speedIndex_));
      } else if (ok) {
        PauseMs(400);
        ModemCommand("AT+FRH=3", 40);
        ArmTimeout(54);
        state_ = 12;
      }
      break;
    case 12:
      if (ok) {
        if (lastFrameFinal_) {
          if (SoftwareFlow) ch_->SetSoftwareFlow(6144, 2048, 2);
          ModemCommand(std::string("AT+FRM=") + TrainingCode(speedIndex_), 40);
          state_ = 15;
        } else {
          ModemCommand("AT+FRH=3", 40);
          ArmTimeout(54);
        }
      }
      break;
    case 15:
      if (HasConnect(l)) {
        tcfAll_ = tcfNonZero_ = 0;
        dle_ = false;
        ArmTimeout(kCommandTimeoutTicks);
        state_ = 16;
        return Next::Again;
      }
      break;
    case 18:
      if (HasConnect(l)) {
        if (speedIndex_ <= kMinSpeedIndex) return Fail(kErrTrain);
        SendFrame(BuildSimpleFrame(kFcfFtt, true));
      } else if (ok) {
        ModemCommand("AT+FRH=3", 40);
        ArmTimeout(54);
        state_ = 12;
      }
      break;
    case 19:
      if (HasCarrier(l)) {
        if (SoftwareFlow) ch_->ClearSoftwareFlow();
        PauseMs(20);
        ModemCommand("AT+FTH=3", 40);
        state_ = 20;
      }
      break;
    case 20:
      if (HasConnect(l)) {
        if (SoftwareFlow) ch_->SetSoftwareFlow(6144, 2048, 2);
        SendFrame(BuildSimpleFrame(kFcfCfr, true));
      } else if (ok) {
        ModemCommand(std::string("AT+FRM=") + PageDataCode(speedIndex_), 40);
        state_ = 21;
        if (AskAccept()) {
          if (pageState_ == 3) {
            int rc = CreateOutputFile();
            if (rc != 0) return Fail(rc);
            pageState_ = 2;
            page_ = 0;
          }
        } else {
          SendText("\r");  // leave the page receive at once
          Fail(kErrFileRejected);
          SendLog(6);
          statusPending_ = true;
          return Next::Again;
        }
      }
      break;
    case 21:
      if (HasConnect(l)) {
        StatusUpdate(fpSessionParams);
        state_ = 25;
        return Next::Again;
      }
      break;
    case 22:
      if (StartsWith(l, cmds_.connectReport)) {
        ArmTimeout(kCommandTimeoutTicks);
        StatusUpdate(fpIncoming);
        state_ = 23;
      }
      break;
    case 23:
      if (StartsWith(l, cmds_.transmitterId)) {
        SetRemoteId(CleanRemoteId(l));
        if (AskAccept()) {
          StatusUpdate(fpGotRemoteId);
          if (pageState_ == 3) {
            int rc = CreateOutputFile();
            if (rc != 0) return Fail(rc);
            pageState_ = 2;
          }
        } else {
          // The modem takes the abort command only once the answer command has ended.
          rejectPending_ = true;
        }
      } else if (StartsWith(l, cmds_.sessionParams)) {
        Class2Params p = DecodeClass2Params(RemovePrefix(l));
        speedIndex_ = std::max(1, SpeedIndexForBps(p.bps));
        sessionFine_ = p.fine;
        sessionWide_ = p.wide;
        sessionEcm_ = p.ecm;
        StatusUpdate(fpSessionParams);
      } else if (ok && rejectPending_) {
        rejectPending_ = false;
        ModemCommand(class_ == fcClass2 ? "AT+FK" : "AT+FKS");
        PauseMs(500);
        Fail(kErrFileRejected);
        SendLog(6);
        return Next::Again;
      } else if (ok) {
        ModemCommand("AT+FDR");
        state_ = 24;
      }
      break;
    case 24:
      if (StartsWith(l, cmds_.sessionParams)) {
        Class2Params p = DecodeClass2Params(RemovePrefix(l));
        speedIndex_ = std::max(1, SpeedIndexForBps(p.bps));
        sessionFine_ = p.fine;
        sessionWide_ = p.wide;
        sessionEcm_ = p.ecm;
        StatusUpdate(fpSessionParams);
      } else if (HasConnect(l)) {
        if (SoftwareFlow) ch_->SetSoftwareFlow(6144, 2048, 2);
        state_ = 25;
        return Next::Again;
      }
      break;
    case 27:
      if (HasCarrier(l)) {
        ModemCommand("AT+FRH=3", 40);
        state_ = 28;
      }
      break;
    case 28:
      if (ok) {
        if (lastFrameFinal_) {
          StatusUpdate(fpGetPageResult);
          state_ = 29;
          return Next::Again;
        }
        ModemCommand("AT+FRH=3", 40);
      }
      break;
    case 30:
      if (HasConnect(l)) {
        // Always final: a non-final MCF would make the modem ask for another frame.
        SendFrame(BuildSimpleFrame(kFcfMcf, true));
      } else if (ok) {
        if (morePages_ && eom_) {
          PauseMs(200);
          ModemCommand("AT+FTH=3", 40);
          state_ = 10;
        } else if (morePages_) {
          ModemCommand(std::string("AT+FRM=") + TrainingCode(speedIndex_), 40);
          pageState_ = 2;
          state_ = 21;  // the CONNECT of the page carrier comes first
        } else {
          PauseMs(200);
          ModemCommand("AT+FRH=3", 40);
          CloseOutputFile(true);
          SendLog(5);
          StatusUpdate(fpGetHangup);
          state_ = 31;
        }
      }
      break;
    case 31:
      if (ok) {
        if (lastFrameFinal_) {
          ModemCommand("ATH", 100);
          state_ = 32;
        } else {
          ModemCommand("AT+FRH=3", 40);
        }
      }
      break;
    case 32:
      if (ok) {
        StatusUpdate(fpGotHangup);
        state_ = 35;
        return Next::Again;
      }
      break;
    case 33:
      if (StartsWith(l, cmds_.pageStatus)) {
        StatusUpdate(fpGetPageResult);
        std::string code = CodeAfterColon(l);
        char c = code.empty() ? ' ' : code[0];
        if (c == '1' || c == '3' || c == '5') {
          int rc = FinishPage();
          if (rc != 0) return Fail(rc);
        } else {
          RemovePage();
        }
      } else if (StartsWith(l, "+FET")) {
        StatusUpdate(fpCheckMorePages);
        std::string code = CodeAfterColon(l);
        char c = code.empty() ? ' ' : code[0];
        pageState_ = c == '0' ? 2 : c == '1' ? 3 : c == '2' ? 4 : c == '3' ? 1 : 0;
      } else if (HasError(l)) {
        RemovePage();
        ModemCommand("AT+FDR");
        state_ = 24;
      } else if (ok) {
        ModemCommand("AT+FDR");
        if (pageState_ == 4) {
          CloseOutputFile(true);
          SendLog(5);
          StatusUpdate(fpGetHangup);
          state_ = 34;
        } else {
          state_ = 24;
        }
      }
      break;
    case 34:
      if (l.find(cmds_.hangup) != std::string::npos) {
        hangupCode_ = HangupNumber(l);
        StatusUpdate(fpGotHangup);
      } else if (StartsWith(l, "+FET")) {
        StatusUpdate(fpGetHangup);
      } else if (ok) {
        state_ = 35;
        return Next::Again;
      }
      break;
    default:
      break;
  }
  return Next::IfInput;
}

TQvReceiveFax::Next TQvReceiveFax::ReadTraining() {
  uint8_t c;
  while (ch_->ReadChar(c) == 0) {
    if (dle_) {
      dle_ = false;
      if (c == kEtx) {
        bool good = tcfAll_ > 0 && tcfNonZero_ * 100 / tcfAll_ < 10;
        if (good) {
          state_ = 19;
        } else {
          ModemCommand("AT+FTH=3", 40);
          state_ = 18;
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

TQvReceiveFax::Next TQvReceiveFax::ReadPageData() {
  uint8_t c;
  int taken = 0;
  while (taken < 10000 && ch_->ReadChar(c) == 0) {
    ++taken;
    int rc = 0;
    if (dle_) {
      dle_ = false;
      if (c == kEtx) {
        rc = FlushData();
        if (rc != 0) return Fail(rc);
        StatusUpdate(fpGetPage);
        if (SoftwareFlow) ch_->ClearSoftwareFlow();
        state_ = class_ == fcClass1 ? 27 : 33;
        ArmTimeout(kCommandTimeoutTicks);
        return Next::IfInput;
      }
      if (c == kDle) {
        rc = PutData(kDle);
      } else if (c == 0x1A && class_ == fcClass2_0) {
        rc = PutData(kDle);
        if (rc == 0) rc = PutData(kDle);
      }
    } else if (c == kDle) {
      dle_ = true;
    } else {
      rc = PutData(c);
    }
    if (rc != 0) return Fail(rc);
  }
  if (taken > 0) ArmTimeout(kCommandTimeoutTicks);
  return taken >= 10000 ? Next::IfInput : Next::Wait;
}

TQvReceiveFax::Next TQvReceiveFax::Step(Ev ev) {
  if (ev == Ev::Abort && state_ != 36 && state_ != 37) {
    aborted_ = true;
    StatusUpdate(fpCancel);
    return Fail(kErrCancelRequested);
  }
  if (IsLineState(state_)) {
    if (ev == Ev::Timeout) return OnTimeout();
    for (;;) {
      ReadResult r = ReadLine();
      if (r == ReadResult::None) return Next::Wait;
      if (r == ReadResult::Frame) {
        int before = state_;
        DecodeFrame();
        if (state_ != before) return Next::Again;
        continue;
      }
      return OnLine();
    }
  }
  switch (state_) {
    case 1:
      ringCount_ = 0;
      rejectPending_ = false;
      pageState_ = 3;
      page_ = 0;
      bytesTransferred_ = 0;
      disRetry_ = 0;
      morePages_ = eom_ = false;
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
        state_ = 2;
      } else {
        ModemCommand(cmds_.selectClass);
        state_ = 3;
      }
      return Next::IfInput;
    case 9:
      if (gAnswerBusy.exchange(true)) return Next::Wait;
      FirstStatus();
      ModemCommand("ATA");
      ArmTimeout(kDialWaitTicks);
      StatusUpdate(fpAnswer);
      gAnswerBusy = false;
      state_ = class_ == fcClass1 ? 10 : 22;
      return Next::IfInput;
    case 13:
      if (++disRetry_ <= 5) {
        SendText("AT\r");
        ArmTimeout(kCommandTimeoutTicks);
        state_ = 14;
        return Next::Wait;
      }
      return Fail(kErrFatalTimeout);
    case 14:
      if (ev == Ev::Timeout) return Fail(kErrFatalTimeout);
      ModemCommand("AT+FTH=3", 40);
      state_ = 10;
      return Next::IfInput;
    case 16:
      if (ev == Ev::Timeout) return OnTimeout();
      return ReadTraining();
    case 25: {
      page_ = page_ + 1;
      int rc = 0;
      if (pageState_ == 2) {
        rc = WritePageHeader();
      } else if (pageState_ == 3) {
        CloseOutputFile(false);
        rc = CreateOutputFile();
        if (rc == 0) rc = WritePageHeader();
      }
      if (rc != 0) return Fail(rc);
      pageState_ = 2;
      dle_ = false;
      pageBytes_ = 0;
      ArmTimeout(kCommandTimeoutTicks);
      if (class_ != fcClass1) {
        uint8_t dc2 = kDc2;
        SendBytes(&dc2, 1);
      }
      StatusUpdate(fpGetPage);
      state_ = 26;
      return Next::IfInput;
    }
    case 26:
      if (ev == Ev::Timeout) return Fail(kErrFatalTimeout);
      return ReadPageData();
    case 29: {
      int rc = FinishPage();
      if (rc != 0) return Fail(rc);
      ModemCommand("AT+FTH=3", 40);
      StatusUpdate(fpCheckMorePages);
      state_ = 30;
      return Next::IfInput;
    }
    case 35:
      SwitchToCommandRate();
      StopTimeout();
      if (OneFax) {
        if (!ConstantStatus || aborted_) SendStatus(false, true);
        state_ = 37;
        FinishSession();
        return Next::Wait;
      }
      if (!ConstantStatus) SendStatus(false, true);
      firstStatusSent_ = false;
      state_ = 1;
      return Next::Again;
    case 36:
      StopTimeout();
      if (out_) {
        if (pageHeaderPos_ >= 0) {
          if (pageBytes_ > 0)
            FinishPage();
          else
            RemovePage();
        }
        CloseOutputFile(false);
        SendLog(7);
      }
      HangUp();
      if (!ConstantStatus || aborted_) SendStatus(false, true);
      firstStatusSent_ = false;
      if (ExitOnError || aborted_) {
        state_ = 37;
        FinishSession();
        return Next::Wait;
      }
      SwitchToCommandRate();
      state_ = 1;
      return Next::Again;
    default:
      return Next::Wait;
  }
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
