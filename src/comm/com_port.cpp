#include "comm/com_port.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

#include "comm/dispatcher_list.h"
#include "comm/port_names.h"
#include "comm/posix_dispatcher.h"
#include "core/error_codes.h"
#include "core/exceptions.h"
#include "core/message_loop.h"
#include "core/ticks.h"
#include "core/version.h"

namespace qv::comm {

using namespace qv::core;

std::string TQvBaseComponent::LibVersion() const { return kLibVersion; }

// The port's hidden notification window: receives the dispatcher's trigger messages on the UI
// thread and finishes a close begun inside a handler.
class TQvComWindow : public TQvMessageWindow {
 public:
  explicit TQvComWindow(TQvCustomComPort* port) : port_(port) {}
  void Detach() { port_ = nullptr; }

  void WindowProc(uint32_t msg, uint32_t wParam, uint32_t lParam) override {
    if (!((msg >= MSG_DATA_AVAILABLE && msg <= MSG_STATUS_CHANGED) || msg == MSG_CLOSE_PENDING)) return;
    TQvCustomComPort* port = nullptr;
    {
      // The dispatcher named in the message must still exist and belong to this window's port.
      std::lock_guard lock(DispatcherListLock());
      TQvBaseDispatcher* d = FindDispatcher(static_cast<int>(lParam >> 16));
      if (!d || !d->Owner() || d->Owner() != port_) return;
      port = port_;
    }
    try {
      if (msg == MSG_CLOSE_PENDING)
        port->ClosePendingMessage(lParam);
      else
        port->HandleTrigger(msg, wParam, lParam);
    } catch (...) {
      ShowException(std::current_exception());
    }
  }

 private:
  TQvCustomComPort* port_;
};

TQvCustomComPort::TQvCustomComPort() = default;

TQvCustomComPort::~TQvCustomComPort() {
  destroying_ = true;
  try {
    open_ = false;
    reopenRequested_ = false;
    if (state_ == psOpen) DoClose();
    // A close still pending (begun inside a handler, see DoClose): wait for the threads here,
    // since nobody will be left to receive the close message. (Pumping may finish it first.)
    while (dispatcher_ && dispatcher_->RunningThreadCount() > 0) MessageLoop::instance().waitAndPump(2);
    if (dispatcher_) FinishClose();
    reopenRequested_ = false;
  } catch (...) {
    ShowException(std::current_exception());
  }
}

int TQvCustomComPort::RaiseOnError(int code) const { return core::RaiseOnError(code, loading_); }

TQvBaseDispatcher& TQvCustomComPort::RequireDispatcher() {
  TQvBaseDispatcher* d = DispatcherObject();
  if (!d) RaiseError(ecCommNotOpen);
  return *d;
}

TQvBaseDispatcher* TQvCustomComPort::DispatcherObject() {
  if (!dispatcher_ && autoOpen_ && !loading_ && state_ == psClosed) SetOpen(true);
  return dispatcher_.get();
}

std::string TQvCustomComPort::DevicePath() const {
  return deviceName_.empty() ? PortDevicePath(comNumber_) : deviceName_;
}

// ---------------------------------------------------------------------------------------------
// Open and close

void TQvCustomComPort::SetOpen(bool v) {
  if (loading_) {
    open_ = v;
    openAfterLoading_ = v;
    return;
  }
  if (v) {
    if (state_ == psClosing) {
      reopenRequested_ = true;
      return;
    }
    if (state_ == psOpen) return;
    DoOpen();
  } else {
    reopenRequested_ = false;
    open_ = false;
    if (state_ == psOpen) DoClose();
  }
}

void TQvCustomComPort::Loaded() {
  loading_ = false;
  if (openAfterLoading_) {
    openAfterLoading_ = false;
    open_ = false;
    try {
      SetOpen(true);
    } catch (...) {
      open_ = false;
      ShowException(std::current_exception());
    }
  }
}

void TQvCustomComPort::DoOpen() {
  // The thread that opens a port is the one its events run on: make sure the message loop knows
  // it before the dispatcher's threads first send to it.
  MessageLoop::instance().isUiThread();
  if (tapiMode_ == tmOn) RaiseError(ecNotOpenedByTapi);  // no telephony layer on this platform
  if (deviceName_.empty() && comNumber_ == 0) {
    if (!promptForPort_) RaiseError(ecNoPortSelected);
    int chosen = SelectPort();
    if (chosen <= 0) RaiseError(ecNoPortSelected);
    comNumber_ = chosen;
  }
  std::unique_ptr<TQvBaseDispatcher> d;
  if (factory_)
    d = factory_(*this);
  else if (deviceLayer_ == dlWin32)
    d = std::make_unique<TQvPosixDispatcher>();
  if (!d) RaiseError(ecNullApi);

  std::string path = DevicePath();
  int rc = path.empty() ? ecFileNotFound
                        : d->OpenPort(path, static_cast<uint32_t>(baud_), parity_, dataBits_, stopBits_, inSize_,
                                      outSize_, dtr_, rts_);
  if (rc == ecAccessDenied) rc = ecAlreadyOpen;
  if (rc == ecFileNotFound || rc == ecPathNotFound) rc = ecBadId;
  if (rc != 0) {
    d.reset();
    if (rc < 0) RaiseOnError(rc);
    return;
  }
  d->SetOwner(this);
  dispatcher_ = std::move(d);
  try {
    state_ = psOpen;
    UpdateHandlerFlags();
    reapply_ = true;
    if (carriedDiagnostics_.Valid) {
      dispatcher_->PutDiagnostics(std::move(carriedDiagnostics_));
      carriedDiagnostics_ = TQvDiagnostics{};
    } else {
      ApplyTraceState(tracing_, true, false);
      ApplyTraceState(logging_, true, true);
    }
    ApplyHWFlow(hwFlow_, true);
    ApplySWFlow(swFlow_, true);
    RaiseOnError(dispatcher_->SetFlowChars(xonChar_, xoffChar_));
    RaiseOnError(dispatcher_->SetAvailThreshold(availThreshold_));
    if (deviceLayer_ != dlFossil) {
      RaiseOnError(dispatcher_->DriveDtr(dtr_));
      RaiseOnError(dispatcher_->DriveRts(rts_));
    }
    if (useEventWord_)
      dispatcher_->SetOptionBits(4);
    else
      dispatcher_->ClearOptionBits(4);
    RaiseOnError(dispatcher_->SetRs485(rs485_));
    dispatcher_->BoostThreads(threadBoost_);
    reapply_ = false;
    open_ = true;

    window_ = std::make_shared<TQvComWindow>(this);
    RaiseOnError(dispatcher_->RegisterWindowHandler(window_));
    if (savedTriggers_.Valid) {
      dispatcher_->ReinstateTriggers(savedTriggers_);
      savedTriggers_ = TQvTriggerSet{};
    }
    NotifyUsers(true);
    if (onPortOpen_) onPortOpen_(*this);
  } catch (...) {
    reapply_ = false;
    open_ = false;
    state_ = psClosed;
    if (window_) window_->Detach();
    window_.reset();
    dispatcher_.reset();
    throw;
  }
}

void TQvCustomComPort::DoClose() {
  open_ = false;
  if (state_ != psOpen) return;
  if (!closingQuietly_) {
    // A running trace or log goes to its file; a failing dump must not stop the close.
    try {
      SetTracing(tlDump);
    } catch (...) {
      ShowException(std::current_exception());
    }
    try {
      SetLogging(tlDump);
    } catch (...) {
      ShowException(std::current_exception());
    }
  }
  state_ = psClosing;
  NotifyUsers(false);
  if (onPortClose_) onPortClose_(*this);
  dispatcher_->SnapshotTriggers(savedTriggers_);
  dispatcher_->ClosePort();
  if (dispatcher_->ClosePending()) {
    // Closed from inside one of its own handlers (or a handler that would not return): finish
    // once the threads have ended. Any other close is complete here.
    uint32_t lParam = static_cast<uint32_t>(dispatcher_->RegistryIndex()) << 16;
    std::weak_ptr<TQvComWindow> window = window_;
    MessageLoop::instance().post([window, lParam] {
      if (auto w = window.lock()) w->WindowProc(MSG_CLOSE_PENDING, 0, lParam);
    });
    return;
  }
  FinishClose();
}

void TQvCustomComPort::FinishClose() {
  if (dispatcher_ && window_) dispatcher_->UnregisterWindowHandler(window_.get());
  if (window_) window_->Detach();
  window_.reset();
  dispatcher_.reset();
  state_ = psClosed;
}

void TQvCustomComPort::ClosePendingMessage(uint32_t lParam) {
  if (!dispatcher_) return;
  if (dispatcher_->RunningThreadCount() > 0) {
    std::weak_ptr<TQvComWindow> window = window_;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    MessageLoop::instance().post([window, lParam] {
      if (auto w = window.lock()) w->WindowProc(MSG_CLOSE_PENDING, 0, lParam);
    });
    return;
  }
  FinishClose();
  if (reopenRequested_ && !destroying_) {
    reopenRequested_ = false;
    SetOpen(true);
  }
}

void TQvCustomComPort::NotifyUsers(bool opened) {
  auto users = users_;
  for (auto it = users.rbegin(); it != users.rend(); ++it)
    if (it->Callback) it->Callback(it->Value, *this, opened);
}

int TQvCustomComPort::RegisterUser(TPortUserCallback callback, void* userValue) {
  users_.push_back({nextUserId_, std::move(callback), userValue});
  return nextUserId_++;
}

void TQvCustomComPort::DeregisterUser(int id) {
  std::erase_if(users_, [id](const PortUser& u) { return u.Id == id; });
}

// ---------------------------------------------------------------------------------------------
// Trigger delivery

void TQvCustomComPort::HandleTrigger(uint32_t msg, uint32_t wParam, uint32_t lParam) {
  auto handle = static_cast<uint16_t>(wParam);
  uint16_t data = msg == MSG_DATA_AVAILABLE ? static_cast<uint16_t>(wParam) : static_cast<uint16_t>(lParam & 0xFFFF);
  if (onTrigger_) onTrigger_(*this, static_cast<uint16_t>(msg), handle, data);
  switch (msg) {
    case MSG_DATA_AVAILABLE:
      if (onTriggerAvail_) onTriggerAvail_(*this, handle);
      break;
    case MSG_PATTERN_FOUND:
      if (onTriggerData_) onTriggerData_(*this, handle);
      break;
    case MSG_TIMER_EXPIRED:
      if (onTriggerTimer_) onTriggerTimer_(*this, handle);
      break;
    case MSG_STATUS_CHANGED:
      if (onTriggerStatus_) onTriggerStatus_(*this, handle);
      switch (handle & 7) {
        case stModem:
          if (onTriggerModemStatus_) onTriggerModemStatus_(*this);
          break;
        case stLine:
          if (onTriggerLineError_) {
            auto error = static_cast<uint16_t>(PendingLineError());
            bool lineBreak = PendingLineBreak();
            onTriggerLineError_(*this, error, lineBreak);
          }
          break;
        case stOutBuffFree:
          if (onTriggerOutbuffFree_) onTriggerOutbuffFree_(*this);
          break;
        case stOutBuffUsed:
          if (onTriggerOutbuffUsed_) onTriggerOutbuffUsed_(*this);
          break;
        case stOutSent:
          if (onTriggerOutSent_) onTriggerOutSent_(*this);
          break;
        default:
          break;
      }
      break;
    default:
      break;
  }
}

bool TQvCustomComPort::AnyTriggerEvent() const {
  return onTrigger_ || onTriggerAvail_ || onTriggerData_ || onTriggerStatus_ || onTriggerTimer_ ||
         onTriggerLineError_ || onTriggerModemStatus_ || onTriggerOutbuffFree_ || onTriggerOutbuffUsed_ ||
         onTriggerOutSent_;
}

void TQvCustomComPort::UpdateHandlerFlags() {
  if (dispatcher_) dispatcher_->RecomputeHandlerFlags(AnyTriggerEvent() ? 1 : 2);
}

void TQvCustomComPort::SetOnTrigger(TTriggerEvent e) { onTrigger_ = std::move(e); UpdateHandlerFlags(); }
void TQvCustomComPort::SetOnTriggerAvail(TTriggerAvailEvent e) { onTriggerAvail_ = std::move(e); UpdateHandlerFlags(); }
void TQvCustomComPort::SetOnTriggerData(TTriggerHandleEvent e) { onTriggerData_ = std::move(e); UpdateHandlerFlags(); }
void TQvCustomComPort::SetOnTriggerStatus(TTriggerHandleEvent e) { onTriggerStatus_ = std::move(e); UpdateHandlerFlags(); }
void TQvCustomComPort::SetOnTriggerTimer(TTriggerHandleEvent e) { onTriggerTimer_ = std::move(e); UpdateHandlerFlags(); }
void TQvCustomComPort::SetOnTriggerLineError(TTriggerLineErrorEvent e) { onTriggerLineError_ = std::move(e); UpdateHandlerFlags(); }
void TQvCustomComPort::SetOnTriggerModemStatus(TNotifyEvent e) { onTriggerModemStatus_ = std::move(e); UpdateHandlerFlags(); }
void TQvCustomComPort::SetOnTriggerOutbuffFree(TNotifyEvent e) { onTriggerOutbuffFree_ = std::move(e); UpdateHandlerFlags(); }
void TQvCustomComPort::SetOnTriggerOutbuffUsed(TNotifyEvent e) { onTriggerOutbuffUsed_ = std::move(e); UpdateHandlerFlags(); }
void TQvCustomComPort::SetOnTriggerOutSent(TNotifyEvent e) { onTriggerOutSent_ = std::move(e); UpdateHandlerFlags(); }

// ---------------------------------------------------------------------------------------------
// Data

void TQvCustomComPort::SendText(const std::string& s) {
  if (state_ == psClosing) return;
  RaiseOnError(RequireDispatcher().SendString(s));
}

bool TQvCustomComPort::CharWaiting() {
  if (state_ == psClosing) return false;
  return RequireDispatcher().HasInput();
}

char TQvCustomComPort::TakeChar() {
  char c = 0;
  RaiseOnError(RequireDispatcher().ReadChar(c));
  return c;
}

bool TQvCustomComPort::AwaitString(const std::string& s, int32_t ticks, bool yield, bool ignoreCase) {
  if (s.empty() || state_ == psClosing) return true;
  TQvBaseDispatcher& d = RequireDispatcher();
  bool previous = false;
  d.SetDispatchBusy(true, previous);
  // Triggers stay quiet while this wait reads the ring itself; restore whatever happens.
  struct Restore {
    TQvCustomComPort* port;
    bool previous;
    ~Restore() {
      bool ignored;
      if (port->dispatcher_) port->dispatcher_->SetDispatchBusy(previous, ignored);
    }
  } restore{this, previous};
  auto up = [ignoreCase](char c) {
    return ignoreCase ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
  };
  EventTimer timer;
  NewTimer(timer, ticks);
  auto& loop = MessageLoop::instance();
  size_t matched = 0;
  bool expired = false;
  bool terminating = false;
  while (true) {
    if (state_ == psOpen && dispatcher_ && dispatcher_->HasInput()) {
      char c = TakeChar();
      if (onWaitChar_) onWaitChar_(*this, c);
      if (up(c) == up(s[matched])) {
        if (++matched == s.size()) break;
      } else {
        matched = up(c) == up(s[0]) ? 1 : 0;
      }
    } else if (yield) {
      loop.pumpPending();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (TimerTicksExpired(timer)) {
      expired = true;
      break;
    }
    if (loop.quitPosted()) {
      terminating = true;
      break;
    }
  }
  return terminating || !expired;
}

int TQvCustomComPort::PendingLineError() { return IsOpenNow() ? dispatcher_->TakeLineError() : 0; }

bool TQvCustomComPort::PendingLineBreak() { return IsOpenNow() ? dispatcher_->TakeLineBreak() : false; }

void TQvCustomComPort::SetAvailThreshold(int n) {
  availThreshold_ = n;
  if (IsOpenNow()) RaiseOnError(dispatcher_->SetAvailThreshold(n));
}

void TQvCustomComPort::SetThreadBoost(int8_t boost) {
  threadBoost_ = boost;
  if (IsOpenNow()) dispatcher_->BoostThreads(boost);
}

// ---------------------------------------------------------------------------------------------
// Property setters

void TQvCustomComPort::SetDeviceLayer(TDeviceLayer v) {
  // Only the platform's serial layer is offered; the choice matters at the next open.
  if (v == dlWin32 && state_ == psClosed) deviceLayer_ = v;
}

void TQvCustomComPort::SetDeviceName(const std::string& path) {
  if (path == deviceName_) return;
  deviceName_ = path;
  SwitchDevice();
}

void TQvCustomComPort::SetComNumber(int v) {
  if (v == comNumber_) return;
  comNumber_ = v;
  SwitchDevice();
}

void TQvCustomComPort::SwitchDevice() {
  if (state_ != psOpen || loading_) return;
  // A new device for an open port: keep triggers, trace and log across the close and open.
  carriedDiagnostics_ = dispatcher_->TakeDiagnostics();
  closingQuietly_ = true;
  try {
    DoClose();
  } catch (...) {
    closingQuietly_ = false;
    throw;
  }
  closingQuietly_ = false;
  if (state_ == psClosing) {
    reopenRequested_ = true;
    return;
  }
  SetOpen(true);
}

void TQvCustomComPort::ApplyLine() {
  if (IsOpenNow())
    RaiseOnError(dispatcher_->SetLineParams(static_cast<uint32_t>(baud_), parity_, stopBits_, dataBits_));
}

void TQvCustomComPort::SetBaud(int32_t v) {
  if (v == baud_) return;
  baud_ = v;
  ApplyLine();
}

void TQvCustomComPort::SetParity(TParity v) {
  if (v == parity_) return;
  parity_ = v;
  ApplyLine();
}

void TQvCustomComPort::SetDataBits(int v) {
  if (v == dataBits_) return;
  dataBits_ = v;
  ApplyLine();
}

void TQvCustomComPort::SetStopBits(int v) {
  if (v == stopBits_) return;
  stopBits_ = v;
  ApplyLine();
}

void TQvCustomComPort::SetInSize(int v) {
  if (v == inSize_) return;
  inSize_ = v;
  if (IsOpenNow()) RaiseOnError(dispatcher_->SetQueues(inSize_, outSize_));
}

void TQvCustomComPort::SetOutSize(int v) {
  if (v == outSize_) return;
  outSize_ = v;
  if (IsOpenNow()) RaiseOnError(dispatcher_->SetQueues(inSize_, outSize_));
}

void TQvCustomComPort::SetDTR(bool v) {
  if (v == dtr_ && !reapply_) return;
  if (IsOpenNow()) RaiseOnError(dispatcher_->DriveDtr(v));
  dtr_ = v;
}

void TQvCustomComPort::SetRTS(bool v) {
  if (v == rts_ && !reapply_) return;
  if (IsOpenNow()) RaiseOnError(dispatcher_->DriveRts(v));
  rts_ = v;
}

void TQvCustomComPort::ApplyHWFlow(THWFlowOptions v, bool force) {
  if (v == hwFlow_ && !force) return;
  if (v != 0) {
    if (bufferFull_ == 0 || bufferFull_ > inSize_) bufferFull_ = inSize_ * 9 / 10;
    if (bufferResume_ == 0 || bufferResume_ > bufferFull_) bufferResume_ = inSize_ / 10;
  }
  hwFlow_ = v;
  if (v & (hwfUseRTS | hwfRequireCTS)) {
    if (rs485_ && IsOpenNow()) dispatcher_->SetRs485(false);
    rs485_ = false;
  }
  if (IsOpenNow()) RaiseOnError(dispatcher_->SetHardwareFlow(bufferFull_, bufferResume_, v));
}

void TQvCustomComPort::SetHWFlowOptions(THWFlowOptions v) { ApplyHWFlow(v, false); }

void TQvCustomComPort::ApplySWFlow(TSWFlowOptions v, bool force) {
  if (v == swFlow_ && !force) return;
  if (v != swfNone) {
    if (bufferFull_ == 0 || bufferFull_ > inSize_) bufferFull_ = inSize_ * 3 / 4;
    if (bufferResume_ == 0 || bufferResume_ > bufferFull_) bufferResume_ = inSize_ / 4;
  }
  swFlow_ = v;
  if (!IsOpenNow()) return;
  static constexpr int kCodes[] = {0, sfReceiveFlow, sfTransmitFlow, sfReceiveFlow | sfTransmitFlow};
  if (v == swfNone)
    RaiseOnError(dispatcher_->ClearSoftwareFlow());
  else
    RaiseOnError(dispatcher_->SetSoftwareFlow(bufferFull_, bufferResume_, kCodes[v]));
}

void TQvCustomComPort::SetSWFlowOptions(TSWFlowOptions v) { ApplySWFlow(v, false); }

void TQvCustomComPort::SetBufferFull(int v) {
  if (v == bufferFull_) return;
  bufferFull_ = v > inSize_ ? v * 9 / 10 : v;
  ApplyHWFlow(hwFlow_, true);
  ApplySWFlow(swFlow_, true);
}

void TQvCustomComPort::SetBufferResume(int v) {
  if (v == bufferResume_) return;
  bufferResume_ = v > bufferFull_ ? bufferFull_ / 10 : v;
  ApplyHWFlow(hwFlow_, true);
  ApplySWFlow(swFlow_, true);
}

void TQvCustomComPort::SetXOnChar(char v) {
  if (v == xonChar_) return;
  xonChar_ = v;
  if (IsOpenNow()) RaiseOnError(dispatcher_->SetFlowChars(xonChar_, xoffChar_));
}

void TQvCustomComPort::SetXOffChar(char v) {
  if (v == xoffChar_) return;
  xoffChar_ = v;
  if (IsOpenNow()) RaiseOnError(dispatcher_->SetFlowChars(xonChar_, xoffChar_));
}

void TQvCustomComPort::SetUseEventWord(bool v) {
  useEventWord_ = v;
  if (!IsOpenNow()) return;
  if (v)
    dispatcher_->SetOptionBits(4);
  else
    dispatcher_->ClearOptionBits(4);
}

void TQvCustomComPort::SetRS485Mode(bool v) {
  if (v == rs485_) return;
  rs485_ = v;
  if (IsOpenNow()) RaiseOnError(dispatcher_->SetRs485(v));
  if (v) {
    hwFlow_ = static_cast<THWFlowOptions>(hwFlow_ & ~(hwfUseRTS | hwfRequireCTS));
    if (IsOpenNow()) RaiseOnError(dispatcher_->SetHardwareFlow(bufferFull_, bufferResume_, hwFlow_));
    SetRTS(false);
  }
}

void TQvCustomComPort::ApplyTraceState(TTraceLogState v, bool force, bool log) {
  TTraceLogState& state = log ? logging_ : tracing_;
  if (!IsOpenNow()) {
    state = v == tlOn ? tlOn : tlOff;
    return;
  }
  if (v == state && !force) return;
  TQvBaseDispatcher& d = *dispatcher_;
  const TTraceLogState p = force ? tlOff : state;
  const bool running = p == tlOn || p == tlPause;
  switch (v) {
    case tlOff:
      if (running) log ? d.EndLog() : d.EndTrace();
      state = tlOff;
      break;
    case tlOn:
      if (p == tlPause)
        log ? d.ResumeLog() : d.ResumeTrace();
      else
        RaiseOnError(log ? d.BeginLog(logSize_) : d.BeginTrace(traceSize_));
      state = tlOn;
      break;
    case tlDump:
    case tlAppend: {
      int rc = 0;
      if (running) {
        if (log) {
          d.ResumeLog();
          rc = d.WriteLogFile(logName_, v == tlAppend, logHex_);
        } else {
          d.ResumeTrace();
          rc = d.WriteTraceFile(traceName_, v == tlAppend, traceHex_);
        }
      }
      state = tlOff;
      RaiseOnError(rc);
      break;
    }
    case tlClear:
      if (running) log ? d.ClearLog() : d.ClearTrace();
      break;
    case tlPause:
      if (p == tlOn) {
        log ? d.PauseLog() : d.PauseTrace();
        state = tlPause;
      }
      break;
  }
}

void TQvCustomComPort::SetTracing(TTraceLogState v) { ApplyTraceState(v, false, false); }

void TQvCustomComPort::SetLogging(TTraceLogState v) { ApplyTraceState(v, false, true); }

void TQvCustomComPort::SetTraceSize(int32_t v) {
  v = std::clamp<int32_t>(v, 1, kMaxTraceEntries);
  if (v == traceSize_) return;
  traceSize_ = v;
  if (IsOpenNow() && (tracing_ == tlOn || tracing_ == tlPause)) {
    dispatcher_->EndTrace();
    tracing_ = tlOff;
    ApplyTraceState(tlOn, false, false);
  }
}

void TQvCustomComPort::SetLogSize(int32_t v) {
  v = std::clamp<int32_t>(v, 1, kMaxLogBytes);
  if (v == logSize_) return;
  logSize_ = v;
  if (IsOpenNow() && (logging_ == tlOn || logging_ == tlPause)) {
    dispatcher_->EndLog();
    logging_ = tlOff;
    ApplyTraceState(tlOn, false, true);
  }
}

// ---------------------------------------------------------------------------------------------
// Copying

void TQvCustomComPort::Assign(TQvCustomComPort& source) {
  if (&source == this) return;
  SetOpen(false);
  users_ = source.users_;
  deviceLayer_ = source.deviceLayer_;
  comNumber_ = source.comNumber_;
  baud_ = source.baud_;
  promptForPort_ = source.promptForPort_;
  parity_ = source.parity_;
  dataBits_ = source.dataBits_;
  stopBits_ = source.stopBits_;
  inSize_ = source.inSize_;
  outSize_ = source.outSize_;
  autoOpen_ = source.autoOpen_;
  open_ = false;
  dtr_ = source.dtr_;
  rts_ = source.rts_;
  hwFlow_ = source.hwFlow_;
  swFlow_ = source.swFlow_;
  xonChar_ = source.xonChar_;
  xoffChar_ = source.xoffChar_;
  bufferFull_ = source.bufferFull_;
  bufferResume_ = source.bufferResume_;
  tracing_ = source.tracing_ == tlOn ? tlOn : tlOff;
  traceSize_ = source.traceSize_;
  traceName_ = source.traceName_;
  traceHex_ = source.traceHex_;
  logging_ = source.logging_ == tlOn ? tlOn : tlOff;
  logSize_ = source.logSize_;
  logName_ = source.logName_;
  logHex_ = source.logHex_;
  useMsrShadow_ = source.useMsrShadow_;
  useEventWord_ = source.useEventWord_;
  commNotificationLevel_ = source.commNotificationLevel_;
  tapiMode_ = source.tapiMode_;
  rs485_ = source.rs485_;
  tag_ = source.tag_;
  deviceName_ = source.deviceName_;
  onTrigger_ = source.onTrigger_;
  onTriggerAvail_ = source.onTriggerAvail_;
  onTriggerData_ = source.onTriggerData_;
  onTriggerStatus_ = source.onTriggerStatus_;
  onTriggerTimer_ = source.onTriggerTimer_;
  onPortOpen_ = source.onPortOpen_;
  onPortClose_ = source.onPortClose_;
  if (source.IsOpenNow()) source.dispatcher_->SnapshotTriggers(savedTriggers_);
  UpdateHandlerFlags();
}

}  // namespace qv::comm
