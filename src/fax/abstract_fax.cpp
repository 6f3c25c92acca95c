#include "fax/abstract_fax.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/exceptions.h"
#include "core/message_loop.h"
#include "core/ticks.h"
#include "fax/fax_log.h"
#include "fax/port_channel.h"

namespace qv::fax {

namespace {
// How long the port may take no bytes at all before the call is ended with a time-out.
constexpr auto kStalledPortLimit = std::chrono::seconds(10);
// The port does not call a session when its device goes away (an armed modem-line trigger would
// tell, but would keep the port's dispatcher polling all session long): the session looks on
// every event it gets, and the status timer ticks this often to make sure there is one.
constexpr int kPortWatchSeconds = 1;

// The status message being handled on this thread: whose it is and what it carries. Set for the
// duration of a handler call and put back after it, so a nested handler (a handler that pumps
// messages) sees its own message's figures; the machine's own runs see none.
struct ShownStatus {
  const TQvAbstractFax* fax = nullptr;
  const FaxStatusFigures* figures = nullptr;
};
thread_local ShownStatus tShown;

class ShownScope {
 public:
  ShownScope(const TQvAbstractFax* fax, const FaxStatusFigures* figures) : saved_(tShown) { tShown = {fax, figures}; }
  ~ShownScope() { tShown = saved_; }
  ShownScope(const ShownScope&) = delete;
  ShownScope& operator=(const ShownScope&) = delete;

 private:
  ShownStatus saved_;
};
}  // namespace

const FaxStatusFigures* TQvAbstractFax::Shown() const { return tShown.fax == this ? tShown.figures : nullptr; }

FaxStatusFigures TQvAbstractFax::StatusFigures() const {
  FaxStatusFigures f;
  f.status = status_.load();
  f.page = page_.load();
  f.pageShown = f.page;
  f.totalPages = TotalPages();
  f.pageLength = PageLength();
  f.bytes = BytesTransferred();
  f.remoteId = RemoteID();
  f.faxFile = FaxFile();
  f.connectBps = SpeedBps(speedIndex_);
  f.fine = sessionFine_;
  f.wide = sessionWide_;
  f.ecm = sessionEcm_;
  f.coding = sessionCoding_.load();
  f.sessionClass = class_;
  f.hangupCode = hangupCode_.load();
  f.lastError = lastError_.load();
  return f;
}

TQvAbstractFax::TQvAbstractFax() = default;

TQvAbstractFax::~TQvAbstractFax() {
  Retire();
  std::lock_guard lock(machineMutex_);
  if (ch_ && active_) {
    for (int h : {statusTimer_, timeoutTimer_, outFreeTrigger_, outEmptyTrigger_, statusTrigger_})
      if (h > 0) ch_->DeleteTrigger(h);
  }
  active_ = false;
  if (faxLog_ && faxLog_->Fax == this) faxLog_->Fax = nullptr;
  if (statusDisplay_ && statusDisplay_->Fax == this) statusDisplay_->Fax = nullptr;
}

void TQvAbstractFax::Retire() {
  if (retiring_.exchange(true)) return;
  {
    std::lock_guard lock(pauseMutex_);  // a pause between its check and its wait cannot miss this
  }
  pauseEnd_.notify_all();
  // A machine step running on the dispatcher thread sees retiring_ and returns soon; its waits
  // and sends are bounded. The machine lock is not taken here: that step may be waiting for it.
  {
    std::lock_guard lock(life_->mutex);
    life_->alive = false;
  }
  if (ch_) ch_->UnregisterHandlerAndWait();
}

std::function<void()> TQvAbstractFax::WhileAlive(std::function<void()> work) const {
  return [life = life_, work = std::move(work)] {
    std::lock_guard lock(life->mutex);
    if (life->alive) work();
  };
}

void TQvAbstractFax::SetInitBaud(int baud) {
  initBaud_ = baud;
  if (ch_ && NormalBaud == 0) NormalBaud = ch_->CurrentBaud();
  if (ch_ && baud != 0) {
    atCommandRate_ = false;
    SwitchToCommandRate();
  }
}

void TQvAbstractFax::SetModemInit(const std::string& init) {
  std::string s = UpperCase(init.substr(0, 40));
  if (!s.empty() && !StartsWith(s, "AT")) s = "AT" + s;
  modemInit_ = s.substr(0, 40);
}

void TQvAbstractFax::SetComPort(comm::TQvComPort* port) {
  comPort_ = port;
  if (port) ApplyFaxPortSettings(port);
}

void TQvAbstractFax::SetStatusDisplay(TQvAbstractFaxStatus* display) {
  if (statusDisplay_ && statusDisplay_->Fax == this) statusDisplay_->Fax = nullptr;
  statusDisplay_ = display;
  if (display) display->Fax = this;
}

void TQvAbstractFax::SetFaxLog(TQvFaxLog* log) {
  if (faxLog_ && faxLog_->Fax == this) faxLog_->Fax = nullptr;
  faxLog_ = log;
  if (log) log->Fax = this;
}

void TQvAbstractFax::ComponentRemoved(const void* component) {
  if (component == faxLog_) faxLog_ = nullptr;
  if (component == statusDisplay_) statusDisplay_ = nullptr;
}

void TQvAbstractFax::SetChannel(std::unique_ptr<FaxChannel> channel) {
  ownedChannel_ = std::move(channel);
  ch_ = ownedChannel_.get();
}

std::string TQvAbstractFax::RemoteID() const {
  if (const FaxStatusFigures* f = Shown()) return f->remoteId;
  std::lock_guard lock(remoteIdMutex_);
  return remoteId_;
}

void TQvAbstractFax::SetRemoteId(const std::string& id) {
  std::lock_guard lock(remoteIdMutex_);
  remoteId_ = id.substr(0, 20);
}

TFaxClassSet TQvAbstractFax::ModemClasses() {
  if (active_) return cachedClasses_;
  if (!ch_) {
    if (!comPort_) core::RaiseError(core::ecPortNotAssigned);
    ownedChannel_ = MakePortChannel(comPort_);
    ch_ = ownedChannel_.get();
  }
  DetectClass(false);
  return cachedClasses_;
}

void TQvAbstractFax::AbortFax() {
  abortPending_ = true;
  std::unique_lock lock(machineMutex_, std::try_to_lock);
  if (!lock.owns_lock()) return;  // the running machine sees the request before it returns
  if (active_ && !finished_) RunMachine(Ev::None);
}

// ---------------------------------------------------------------------------------------------
// Session start and finish

void TQvAbstractFax::StartSession(const std::function<int()>& prepare) {
  ShownScope live(nullptr, nullptr);
  if (comPort_) {
    // the port's dispatcher lives only while the port is open: take the current one
    ownedChannel_ = MakePortChannel(comPort_);
    ch_ = ownedChannel_.get();
  }
  if (!ch_) core::RaiseError(core::ecPortNotAssigned);
  if (ch_->OutputSize() < kPortBufferSize) core::RaiseError(core::ecOutputBufferTooSmall);

  std::unique_lock lock(machineMutex_);
  statusTimer_ = ch_->NewTimerTrigger();
  timeoutTimer_ = ch_->NewTimerTrigger();
  outFreeTrigger_ = ch_->NewStatusTrigger(kStatusOutputFree);
  outEmptyTrigger_ = ch_->NewStatusTrigger(kStatusOutputUsed);
  statusTrigger_ = ch_->NewStatusTrigger(kStatusModemLines);
  if (statusTimer_ <= 0 || timeoutTimer_ <= 0 || outFreeTrigger_ <= 0 || outEmptyTrigger_ <= 0 || statusTrigger_ <= 0) {
    for (int h : {statusTimer_, timeoutTimer_, outFreeTrigger_, outEmptyTrigger_, statusTrigger_})
      if (h > 0) ch_->DeleteTrigger(h);
    statusTimer_ = timeoutTimer_ = outFreeTrigger_ = outEmptyTrigger_ = statusTrigger_ = 0;
    core::RaiseError(core::ecNoMoreTriggers);
  }
  abortPending_ = false;
  stallPending_ = portStalled_ = false;
  portLost_ = false;
  statusTicks_ = 0;
  // Since the last session the modem may have been reset (a reset string, "ATZ" after the last
  // session, unplugged and plugged in again) and the user may have changed the init string: each
  // session initialises it afresh.
  modemInitialised_ = false;
  error_ = 0;
  lastError_ = 0;
  finished_ = false;
  int rc = prepare();
  // A device that went away during the preparation is why the modem did not answer.
  if (rc != 0 && ch_->PortLost()) rc = core::ecDeviceReadError;
  if (rc != 0) {
    error_ = rc;
    SendError(rc);
    SendStatus(false, true);
    FinishSession();
    return;
  }
  active_ = true;
  ch_->RegisterHandler([this](int msg, int trigger) { HandleEvent(msg, trigger); });
  RunMachine(Ev::Start);
  if (!finished_) ch_->ArmTimerTrigger(statusTimer_, core::SecsToTicks(kPortWatchSeconds), true);
}

void TQvAbstractFax::FinishSession() {
  PaceInput(false);
  for (int* h : {&statusTimer_, &timeoutTimer_, &outFreeTrigger_, &outEmptyTrigger_, &statusTrigger_}) {
    if (*h > 0) ch_->DeleteTrigger(*h);
    *h = 0;
  }
  ch_->UnregisterHandler();
  active_ = false;
  finished_ = true;
  int code = error_;
  core::MessageLoop::instance().post(WhileAlive([this, code] {
    ShownScope live(this, nullptr);
    OnFinished(code);
    if (OnFaxFinish) OnFaxFinish(this, code);
  }));
}

// ---------------------------------------------------------------------------------------------
// Driving

void TQvAbstractFax::HandleEvent(int msg, int trigger) {
  if (retiring_) return;
  std::lock_guard lock(machineMutex_);
  if (!active_ || finished_ || retiring_) return;
  Ev ev = Ev::None;
  if (msg == kMsgDataAvailable) {
    ev = Ev::Data;
  } else if (msg == kMsgTimerExpired) {
    if (trigger == statusTimer_) {
      // Every tick watches the port (the machine run below); every StatusInterval-th one also
      // sends the periodic status.
      if (StatusInterval > 0 && ++statusTicks_ >= StatusInterval) {
        statusTicks_ = 0;
        SendStatus(false, false);
      }
      ch_->ArmTimerTrigger(statusTimer_, core::SecsToTicks(kPortWatchSeconds), true);
    } else if (trigger == timeoutTimer_) {
      ev = Ev::Timeout;
    } else {
      return;
    }
  } else if (msg == kMsgStatusChanged) {
    if (trigger == outFreeTrigger_)
      ev = Ev::OutFree;
    else if (trigger == outEmptyTrigger_)
      ev = Ev::OutEmpty;
    else if (trigger != statusTrigger_)
      return;
  } else {
    return;
  }
  RunMachine(ev);
}

void TQvAbstractFax::RunMachine(Ev ev) {
  // A machine run from inside a status handler (an abort on the UI thread) works on live state.
  ShownScope live(nullptr, nullptr);
  // Whatever the machine read is given up by the port before control goes back to it.
  struct SettleReads {
    FaxChannel* ch;
    ~SettleReads() { ch->FlushReads(); }
  } settle{ch_};
  for (int guard = 0; guard < 100000; ++guard) {
    if (!portLost_ && ch_->PortLost()) {
      portLost_ = true;
      ev = Ev::PortLost;
    } else if (abortPending_.exchange(false)) {
      ev = Ev::Abort;
    }
    if (statusPending_) {
      statusPending_ = false;
      SendStatus(false, false);
    }
    ch_->LogFaxState(DispatchLogSubtype(), DispatchLogValue());
    Next next = Step(ev);
    if (finished_ || retiring_) return;
    if (stallPending_) {
      stallPending_ = false;
      // A send to a device that has gone fails at once: that is the call's end, not a time-out.
      if (!portLost_ && ch_->PortLost()) {
        ev = Ev::None;  // the check at the top of the loop tells the machine
        continue;
      }
      next = SendStalled();
      if (finished_) return;
    }
    if (next == Next::Again) {
      ev = Ev::None;
      continue;
    }
    if (next == Next::IfInput && ch_->HasInput()) {
      ev = Ev::Data;
      continue;
    }
    if (abortPending_) {
      ev = Ev::Abort;
      continue;
    }
    // A status the step set goes out now: without a status timer nothing else would send it
    // before the next event, which may be a long way off.
    if (statusPending_) {
      statusPending_ = false;
      SendStatus(false, false);
    }
    return;
  }
}

// ---------------------------------------------------------------------------------------------
// Component messages

void TQvAbstractFax::Notify(const std::function<void()>& fn) {
  // A send that times out still runs later: by then the component may be gone.
  if (retiring_) return;
  core::MessageLoop::instance().send(WhileAlive([this, fn] {
    ShownScope live(this, nullptr);  // inside a status handler that pumps: live figures here
    fn();
  }), 1000);
}

void TQvAbstractFax::SendStatus(bool first, bool last) {
  RefreshProgress();
  if (retiring_) return;
  // Posted, not sent: a synchronous send put the machine's thread to sleep and woke it again for
  // every status (a periodic one each second, several per page), two thread switches that cost
  // more than the page's own work. The handlers see the figures of this moment, in order: the
  // queue is first in, first out, and a log entry or an error sent after this status waits
  // behind it. On the UI thread (a session starting or aborted there) it runs at once, as a
  // send did, unless earlier messages are still to run: it must not overtake them (a "last"
  // status followed by an older one would leave the call's end showing an earlier state).
  auto deliver = WhileAlive([this, first, last, figures = StatusFigures()] {
    ShownScope shown(this, &figures);
    if (statusDisplay_) statusDisplay_->UpdateDisplay(first, last);
    if (OnFaxStatus) OnFaxStatus(this, first, last);
  });
  core::MessageLoop& loop = core::MessageLoop::instance();
  if (loop.isUiThread() && loop.pendingCount() == 0)
    deliver();
  else
    loop.post(std::move(deliver));
}

void TQvAbstractFax::SendLog(TFaxLogCode code) {
  Notify([this, code] {
    try {
      if (faxLog_) faxLog_->WriteLogEntry(code);
    } catch (const std::exception&) {
      // A history file that cannot be written must not stop the fax.
    }
    if (OnFaxLog) OnFaxLog(this, code);
    if (EndsReceivedFax(code)) ClearFaxFileAfterLog();
  });
}

void TQvAbstractFax::SendError(int code) {
  lastError_ = code;
  Notify([this, code] {
    if (OnFaxError) OnFaxError(this, code);
  });
}

// ---------------------------------------------------------------------------------------------
// Primitives

void TQvAbstractFax::PauseMs(int ms) {
  // One wait that Retire ends early, so a component being destroyed is not kept waiting by a
  // pause of its machine. (Not slices of sleep: each slice is a thread wake-up, and the pauses
  // of a call add up to seconds.)
  if (ms <= 0) return;
  std::unique_lock lock(pauseMutex_);
  pauseEnd_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return retiring_.load(); });
}

void TQvAbstractFax::SendBytes(const uint8_t* data, size_t n) {
  // A port that stops draining must not hold the machine forever, nor may the rest be dropped
  // unnoticed: the stall is reported to the machine, which ends the call with a time-out.
  // A port that stalled once is not waited for again in this session (the hang-up included).
  if (portStalled_) return;
  // The limit is on a port that takes nothing: a long page drains slowly at the line rate, and
  // every accepted chunk restarts the wait.
  auto deadline = std::chrono::steady_clock::now() + kStalledPortLimit;
  while (n > 0) {
    size_t chunk = n;
    int free = ch_->OutputFree();
    if (free <= 0) {
      if (retiring_) return;
      if (std::chrono::steady_clock::now() > deadline) {
        ch_->PurgeOutput();
        stallPending_ = portStalled_ = true;
        return;
      }
      PauseMs(2);
      continue;
    }
    if (chunk > static_cast<size_t>(free)) chunk = static_cast<size_t>(free);
    if (ch_->SendBlock(data, chunk) < 0) {
      stallPending_ = portStalled_ = true;
      return;
    }
    data += chunk;
    n -= chunk;
    deadline = std::chrono::steady_clock::now() + kStalledPortLimit;
  }
}

void TQvAbstractFax::SendText(const std::string& text) {
  SendBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void TQvAbstractFax::ArmTimeout(int ticks) { ch_->ArmTimerTrigger(timeoutTimer_, ticks, true); }

void TQvAbstractFax::StopTimeout() { ch_->ArmTimerTrigger(timeoutTimer_, 0, false); }

void TQvAbstractFax::PaceInput(bool bulk) {
  if (inputPaced_ == bulk) return;
  inputPaced_ = bulk;
  ch_->SetInputPace(bulk ? kPageInputPaceMs : 0);
}

void TQvAbstractFax::ClearLine() {
  line_.clear();
  frame_.clear();
  inFrame_ = false;
  frameDle_ = false;
}

void TQvAbstractFax::ModemCommand(const std::string& text, int pauseMs) {
  PauseMs(pauseMs);
  SendText(text + "\r");
  ClearLine();
  lastFrameFinal_ = false;
  lastFcf_ = 0;
  ArmTimeout(kCommandTimeoutTicks);
}

void TQvAbstractFax::SendFrame(const std::vector<uint8_t>& frame) {
  PauseMs(20);
  std::vector<uint8_t> stuffed = StuffFrame(frame);
  SendBytes(stuffed.data(), stuffed.size());
}

TQvAbstractFax::ReadResult TQvAbstractFax::ReadLine() {
  uint8_t c;
  while (ch_->ReadChar(c) == 0) {
    if (inFrame_) {
      if (frameDle_) {
        frameDle_ = false;
        if (c == kEtx) {
          inFrame_ = false;
          if (frame_.size() >= 3) {
            lastFcf_ = frame_[2];
            lastFrameFinal_ = (frame_[1] & 0x10) != 0;
          }
          return ReadResult::Frame;
        }
        if (c == kDle && frame_.size() < 512) frame_.push_back(kDle);
        continue;
      }
      if (c == kDle) {
        frameDle_ = true;
        continue;
      }
      if (frame_.size() < 512) frame_.push_back(c);
      continue;
    }
    if (c == 0xFF) {  // an HDLC address byte: a frame starts, whatever came before it is dropped
      line_.clear();
      frame_.assign(1, 0xFF);
      inFrame_ = true;
      continue;
    }
    if (c == '\n') {
      std::string text = Trim(line_);
      line_.clear();
      if (text.empty()) continue;
      lastLine_ = text;
      return ReadResult::Line;
    }
    if (c < 32) continue;
    if (line_.size() < 128) line_.push_back(static_cast<char>(c));
  }
  return ReadResult::None;
}

void TQvAbstractFax::ReadCommandAnswer(const std::string& command, int quietTicks,
                                       const std::function<bool(const std::string&)>& onLine) {
  PauseMs(100);
  SendText(command);
  core::EventTimer timer;
  core::NewTimer(timer, kCommandTimeoutTicks);
  std::string line;
  auto& loop = core::MessageLoop::instance();
  while (!core::TimerTicksExpired(timer) && !retiring_ && !ch_->PortLost()) {
    if (loop.isUiThread()) loop.pumpPending();
    uint8_t c;
    if (ch_->ReadChar(c) != 0) {
      PauseMs(2);
      continue;
    }
    if (c != '\r') {
      if (c >= 32) line.push_back(static_cast<char>(c));
      continue;
    }
    std::string l = Trim(line);
    line.clear();
    if (l.empty()) continue;
    if (onLine(l)) break;
    if (quietTicks > 0) core::NewTimer(timer, quietTicks);
  }
}

int TQvAbstractFax::ModemCommandWait(const std::string& text, std::string* info) {
  bool previous = ch_->SetDispatchBusy(true);
  int result = 0;
  bool gotOther = false;
  ReadCommandAnswer(text + "\r", 0, [&](const std::string& l) {
    if (l == text) return false;  // the modem's echo
    if (HasError(l)) return true;
    if (HasOk(l)) {
      result = 1;
      return true;
    }
    if (gotOther) {
      result = 2;
      return true;
    }
    gotOther = true;
    if (info) *info = l;
    return false;
  });
  PauseMs(20);
  ch_->PurgeInput();
  ch_->FlushReads();
  ch_->SetDispatchBusy(previous);
  return result;
}

int TQvAbstractFax::DetectClass(bool withInit) {
  cachedClasses_ = {};
  if (withInit) {
    int r = ModemCommandWait(builtInInit_);
    if (r == 2) r = ModemCommandWait(builtInInit_);
    if (r != 1) return core::ecFaxBadModemResult;
  }
  std::string info;
  if (ModemCommandWait("AT+FCLASS=?", &info) == 0) return core::ecFaxBadModemResult;
  cachedClasses_ = ParseClassList(info);
  return cachedClasses_.empty() ? core::ecFaxBadModemResult : 0;
}

bool TQvAbstractFax::InitialiseModem() {
  if (modemInitialised_) return true;
  if (!modemInit_.empty() && ModemCommandWait(modemInit_) == 0) return false;
  if (ModemCommandWait(builtInInit_) == 0) return false;
  modemInitialised_ = true;
  return true;
}

void TQvAbstractFax::QueryClass2Codings() {
  modemBestCoding_ = LineCoding::MH;
  bool previous = ch_->SetDispatchBusy(true);
  ReadCommandAnswer(cmds_.receiveCaps + "=?\r", 0, [&](const std::string& l) {
    if (l.find('(') != std::string::npos) {
      for (int df : Class2RangeValues(l, 5)) {
        if (df == 3) modemBestCoding_ = LineCoding::MMR;
        else if (df == 1 && modemBestCoding_ == LineCoding::MH) modemBestCoding_ = LineCoding::MR;
      }
    }
    return HasOk(l) || HasError(l);
  });
  ch_->FlushReads();
  ch_->SetDispatchBusy(previous);
}

char TQvAbstractFax::Class2DfCode() const {
  LineCoding c = std::min(DesiredCoding, modemBestCoding_);
  if (c == LineCoding::MMR && !DesiredECM) c = LineCoding::MR;  // T.6 goes only with ECM
  return c == LineCoding::MMR ? '3' : c == LineCoding::MR ? '1' : '0';
}

LineCoding TQvAbstractFax::CodingOfDf(int df) {
  return df == 3 ? LineCoding::MMR : df == 1 ? LineCoding::MR : LineCoding::MH;
}

bool TQvAbstractFax::QueryClass1Speeds(bool transmit) {
  if (ModemCommandWait("AT+FCLASS=1") == 0) return false;
  for (int i = 0; i <= kMaxSpeedIndex; ++i) modemSpeeds_[i] = i == 1 || i == 2;
  bool previous = ch_->SetDispatchBusy(true);
  // The list may come in more than one line: each line gives the next 36 ticks to come.
  ReadCommandAnswer(transmit ? "AT+FTM=?\r" : "AT+FRM=?\r", 36, [&](const std::string& l) {
    if (l.find(',') != std::string::npos) {
      modemSpeeds_[3] = l.find("72") != std::string::npos;
      modemSpeeds_[4] = l.find("96") != std::string::npos;
      modemSpeeds_[5] = l.find("121") != std::string::npos;
      modemSpeeds_[6] = l.find("145") != std::string::npos;
    }
    return HasOk(l) || HasError(l);
  });
  ch_->FlushReads();
  ch_->SetDispatchBusy(previous);
  speedIndex_ = 2;
  for (int i = kMaxSpeedIndex; i >= 1; --i)
    if (modemSpeeds_[i]) {
      speedIndex_ = i;
      break;
    }
  return true;
}

void TQvAbstractFax::SwitchToNormalRate() {
  ch_->SetBaud(19200);
  if (initBaud_ != 0 && atCommandRate_) {
    core::DelayTicks(9, false);
    if (NormalBaud != 0) ch_->SetBaud(NormalBaud);
    atCommandRate_ = false;
  }
}

void TQvAbstractFax::SwitchToCommandRate() {
  ch_->SetBaud(19200);
  if (initBaud_ != 0 && !atCommandRate_) {
    core::DelayTicks(9, false);
    ch_->SetBaud(initBaud_);
    atCommandRate_ = true;
  }
}

}  // namespace qv::fax
