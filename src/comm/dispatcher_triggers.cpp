// Triggers, handler lists and the delivery of trigger messages; the dispatcher thread's work.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>

#include "comm/dispatcher.h"
#include "comm/dispatcher_list.h"
#include "core/error_codes.h"
#include "core/message_loop.h"

namespace qv::comm {

using namespace qv::core;

namespace {

std::atomic<int> gIdleWaitLimitMs{TQvBaseDispatcher::kIdleWaitMaxMs};

// A wait for a timer ends this long after the tick boundary it waits for, so the tick counter
// has surely moved on when the timer is looked at.
constexpr int kTickBoundaryMarginMs = 1;

// Milliseconds until the tick counter next moves on. The counter is the steady millisecond clock
// divided by kTickMs, so that clock's phase within a tick tells; a test's tick offset moves whole
// ticks only. Only a hint for how long to sleep: a wrong guess (at the counter's 31-bit wrap)
// costs one more look, never a timer fired early, since expiry is always checked on the counter.
int MsToNextTick() {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return kTickMs - static_cast<int>(ms % kTickMs);
}

// A dispatcher thread waits this long for a method handler that must run on the UI thread.
constexpr int kMainThreadCallMs = 24 * 60 * 60 * 1000;
constexpr int kWindowSendMs = 3000;

uint8_t UpperAnsi(uint8_t b) { return b < 128 ? static_cast<uint8_t>(std::toupper(b)) : b; }

// The dispatchers whose handler calls the calling thread is inside, innermost last (a UI thread
// inside a window handler may pump and run another port's). Only compared, never dereferenced:
// a window handler may run after its dispatcher has gone.
thread_local std::vector<const TQvBaseDispatcher*> tHandlerCalls;

struct HandlerCall {
  explicit HandlerCall(const TQvBaseDispatcher* d) { tHandlerCalls.push_back(d); }
  ~HandlerCall() { tHandlerCalls.pop_back(); }
  HandlerCall(const HandlerCall&) = delete;
  HandlerCall& operator=(const HandlerCall&) = delete;
};

}  // namespace

bool TQvBaseDispatcher::InHandler() const {
  return std::find(tHandlerCalls.begin(), tHandlerCalls.end(), this) != tHandlerCalls.end();
}

// ---------------------------------------------------------------------------------------------
// Trigger records

bool TQvBaseDispatcher::HandleInUse(int handle) const {
  for (auto& t : timers_)
    if (t.Handle == handle) return true;
  for (auto& t : dataTriggers_)
    if (t.Handle == handle) return true;
  for (auto& t : statusTriggers_)
    if ((t.Handle & ~7) == handle) return true;
  return false;
}

int TQvBaseDispatcher::FreshHandle() {
  if (handleCounter_ < 4096) return 8 * handleCounter_++;
  for (int h = 8;; h += 8)
    if (!HandleInUse(h)) return h;
}

void TQvBaseDispatcher::ClearTriggers() {
  std::lock_guard main(mainLock_);
  availThreshold_.store(0);
  timers_.clear();
  dataTriggers_.clear();
  statusTriggers_.clear();
  handleCounter_ = 1;
}

void TQvBaseDispatcher::LogTriggerKind(DispatchLogType type, int handle, int kind) {
  uint8_t k = static_cast<uint8_t>(kind);
  AddLogEntry(type, dsStatusTrigger, 1, &k, static_cast<uint32_t>(handle));
}

int TQvBaseDispatcher::NewTimerTrigger() {
  std::lock_guard main(mainLock_);
  TQvTimerTrigger t;
  t.Handle = FreshHandle();
  timers_.push_back(t);
  AddLogEntry(dlTriggerAlloc, dsTimerTrigger, 0, nullptr, static_cast<uint32_t>(t.Handle));
  return t.Handle;
}

int TQvBaseDispatcher::NewStatusTrigger(int kind) {
  if (kind < 0 || kind >= 6) return ecBadArgument;
  std::lock_guard main(mainLock_);
  TQvStatusTrigger t;
  t.Handle = FreshHandle() | kind;
  t.Kind = kind;
  statusTriggers_.push_back(t);
  LogTriggerKind(dlTriggerAlloc, t.Handle, kind);
  return t.Handle;
}

int TQvBaseDispatcher::NewDataTrigger(const std::string& pattern, bool ignoreCase) {
  if (pattern.empty()) return ecBadArgument;
  if (pattern.size() > static_cast<size_t>(kMaxDataTriggerLength)) return ecTriggerTooLong;
  std::lock_guard main(mainLock_);
  TQvDataTrigger t;
  t.Handle = FreshHandle();
  t.Length = static_cast<int32_t>(pattern.size());
  t.IgnoreCase = ignoreCase;
  for (size_t i = 0; i < pattern.size(); ++i) {
    auto b = static_cast<uint8_t>(pattern[i]);
    t.Pattern[i] = ignoreCase ? UpperAnsi(b) : b;
  }
  dataTriggers_.push_back(t);
  AddLogEntry(dlTriggerAlloc, dsDataTrigger, 0, nullptr, static_cast<uint32_t>(t.Handle));
  return t.Handle;
}

int TQvBaseDispatcher::ArmTimerTrigger(int handle, int32_t ticks, bool activate) {
  std::lock_guard main(mainLock_);
  for (auto& t : timers_) {
    if (t.Handle != handle) continue;
    if (activate) {
      if (ticks != 0) t.Ticks = std::min(ticks, kMaxTicks);
      NewTimer(t.Timer, t.Ticks);
    }
    t.Active = activate;
    AddLogEntry(dlTriggerDataChange, dsTimerTrigger, 4, &ticks, static_cast<uint32_t>(handle));
    if (activate) RecheckWait();
    return 0;
  }
  return ecBadTriggerHandle;
}

int TQvBaseDispatcher::ArmStatusTrigger(int handle, uint16_t value, bool activate) {
  std::lock_guard main(mainLock_);
  for (auto& t : statusTriggers_) {
    if (t.Handle != handle) continue;
    if (activate) {
      switch (t.Kind) {
        case stModem: {
          RefreshModemDeltas();
          uint8_t mask = static_cast<uint8_t>(value & 0xFF);
          t.Value = static_cast<uint16_t>((mask << 8) | (mask & modemStatus_));
          break;
        }
        case stLine:
          // Value bits 0..3 (overrun, parity, framing, break) watch error bits 0x02..0x10.
          t.Value = static_cast<uint16_t>((value << 1) & 0x1E);
          break;
        default:
          t.Value = value;
          break;
      }
      t.Fired = false;
    }
    t.Active = activate;
    uint32_t v = value;
    AddLogEntry(dlTriggerDataChange, dsStatusTrigger, 4, &v, static_cast<uint32_t>(handle));
    if (activate) RecheckWait();
    return 0;
  }
  return ecBadTriggerHandle;
}

int TQvBaseDispatcher::SetAvailThreshold(int n) {
  if (n < 0) return ecBadArgument;
  std::lock_guard main(mainLock_);
  availThreshold_.store(n);
  AddLogEntry(dlTriggerDataChange, dsAvailTrigger, 0, nullptr, static_cast<uint32_t>(n));
  RecheckWait();
  return 0;
}

int TQvBaseDispatcher::AvailThreshold() { return availThreshold_.load(); }

int TQvBaseDispatcher::DeleteTrigger(int handle) {
  if (handle == kAvailTriggerHandle) {
    availThreshold_.store(0);
    return 0;
  }
  if (handle < 2) return ecBadTriggerHandle;
  std::lock_guard main(mainLock_);
  for (size_t i = 0; i < timers_.size(); ++i) {
    if (timers_[i].Handle == handle) {
      timers_.erase(timers_.begin() + static_cast<long>(i));
      AddLogEntry(dlTriggerDispose, dsTimerTrigger, 0, nullptr, static_cast<uint32_t>(handle));
      return 0;
    }
  }
  for (size_t i = 0; i < statusTriggers_.size(); ++i) {
    if (statusTriggers_[i].Handle == handle) {
      int kind = statusTriggers_[i].Kind;
      statusTriggers_.erase(statusTriggers_.begin() + static_cast<long>(i));
      LogTriggerKind(dlTriggerDispose, handle, kind);
      return 0;
    }
  }
  for (size_t i = 0; i < dataTriggers_.size(); ++i) {
    if (dataTriggers_[i].Handle == handle) {
      dataTriggers_.erase(dataTriggers_.begin() + static_cast<long>(i));
      AddLogEntry(dlTriggerDispose, dsDataTrigger, 0, nullptr, static_cast<uint32_t>(handle));
      return 0;
    }
  }
  return ecBadTriggerHandle;
}

void TQvBaseDispatcher::SnapshotTriggers(TQvTriggerSet& set) {
  std::lock_guard main(mainLock_);
  set.Valid = true;
  set.AvailThreshold = availThreshold_.load();
  set.Timers = timers_;
  set.Data = dataTriggers_;
  set.Status = statusTriggers_;
  set.HandleCounter = handleCounter_;
}

void TQvBaseDispatcher::ReinstateTriggers(const TQvTriggerSet& set) {
  if (!set.Valid) return;
  std::lock_guard main(mainLock_);
  availThreshold_.store(set.AvailThreshold);
  timers_ = set.Timers;
  dataTriggers_ = set.Data;
  statusTriggers_ = set.Status;
  // New handles must not repeat the reinstated ones.
  handleCounter_ = std::max(handleCounter_, set.HandleCounter);
  RecheckWait();
}

// ---------------------------------------------------------------------------------------------
// Handler lists

int TQvBaseDispatcher::RegisterWindowHandler(std::shared_ptr<TQvMessageWindow> window) {
  if (!window) return ecBadArgument;
  std::lock_guard main(mainLock_);
  uint32_t h = window->Handle();
  windows_.push_back({std::move(window), false});
  handlersActive_.store(true);
  AddLogEntry(dlHandlerAlloc, dsWindowHandler, 0, nullptr, h);
  UpdateReaderMayDispatch();
  return 0;
}

int TQvBaseDispatcher::UnregisterWindowHandler(const TQvMessageWindow* window) {
  std::lock_guard main(mainLock_);
  for (size_t i = 0; i < windows_.size(); ++i) {
    auto& e = windows_[i];
    if (e.Deleted || e.Window.get() != window) continue;
    if (InDispatch()) {
      e.Deleted = true;
      purgePending_ = true;
    } else {
      windows_.erase(windows_.begin() + static_cast<long>(i));
    }
    AddLogEntry(dlHandlerDispose, dsWindowHandler, 0, nullptr, window->Handle());
    RecomputeHandlerFlags(0);
    return 0;
  }
  return ecBadArgument;
}

int TQvBaseDispatcher::RegisterProcHandler(TQvProcHandler proc) {
  if (!proc) return ecBadArgument;
  std::lock_guard main(mainLock_);
  procs_.push_back({proc, false});
  handlersActive_.store(true);
  AddLogEntry(dlHandlerAlloc, dsProcedureHandler, 0, nullptr, 0);
  UpdateReaderMayDispatch();
  return 0;
}

int TQvBaseDispatcher::UnregisterProcHandler(TQvProcHandler proc) {
  std::lock_guard main(mainLock_);
  for (size_t i = 0; i < procs_.size(); ++i) {
    if (procs_[i].Deleted || procs_[i].Proc != proc) continue;
    if (InDispatch()) {
      procs_[i].Deleted = true;
      purgePending_ = true;
    } else {
      procs_.erase(procs_.begin() + static_cast<long>(i));
    }
    AddLogEntry(dlHandlerDispose, dsProcedureHandler, 0, nullptr, 0);
    RecomputeHandlerFlags(0);
    return 0;
  }
  return ecBadArgument;
}

int TQvBaseDispatcher::RegisterMethodHandler(TQvMethodCode code, void* object, bool runInMainThread) {
  if (!code) return ecBadArgument;
  std::lock_guard main(mainLock_);
  methods_.push_back({code, object, false, runInMainThread});
  handlersActive_.store(true);
  AddLogEntry(dlHandlerAlloc, dsMethodHandler, 0, nullptr, 0);
  UpdateReaderMayDispatch();
  return 0;
}

int TQvBaseDispatcher::UnregisterMethodHandler(TQvMethodCode code, void* object, bool waitForCall) {
  bool found = false;
  {
    std::lock_guard main(mainLock_);
    for (size_t i = 0; i < methods_.size(); ++i) {
      auto& e = methods_[i];
      if (e.Deleted || e.Code != code || e.Object != object) continue;
      if (InDispatch()) {
        e.Deleted = true;
        purgePending_ = true;
      } else {
        methods_.erase(methods_.begin() + static_cast<long>(i));
      }
      AddLogEntry(dlHandlerDispose, dsMethodHandler, 0, nullptr, 0);
      RecomputeHandlerFlags(0);
      found = true;
      break;
    }
  }
  // A call copied out of the list before the removal may still be running on the dispatcher
  // thread. Main-thread calls need no wait: they check the registration on the UI thread first.
  if (waitForCall) {
    std::unique_lock call(callMutex_);
    callEnded_.wait(call, [&] {
      return runningCode_ != code || runningObject_ != object || runningThread_ == std::this_thread::get_id();
    });
  }
  return found ? 0 : ecBadArgument;
}

bool TQvBaseDispatcher::MethodRegistered(TQvMethodCode code, void* object) {
  std::lock_guard main(mainLock_);
  for (auto& e : methods_)
    if (!e.Deleted && e.Code == code && e.Object == object) return true;
  return false;
}

void TQvBaseDispatcher::RecomputeHandlerFlags(int how) {
  std::lock_guard main(mainLock_);
  int windows = 0, others = 0;
  for (auto& e : windows_) windows += !e.Deleted;
  for (auto& e : procs_) others += !e.Deleted;
  for (auto& e : methods_) others += !e.Deleted;
  bool any = windows > 1 || others > 0;
  switch (how) {
    case 0:
      handlersActive_.store(any || forceNotify_.load());
      break;
    case 1:
      forceNotify_.store(true);
      handlersActive_.store(true);
      break;
    default:
      forceNotify_.store(false);
      handlersActive_.store(any);
      break;
  }
  UpdateReaderMayDispatch();
}

void TQvBaseDispatcher::UpdateReaderMayDispatch() {
  std::lock_guard main(mainLock_);
  int windows = 0;
  bool mainThreadMethods = false;
  for (auto& e : windows_) windows += !e.Deleted;
  for (auto& e : methods_) mainThreadMethods |= !e.Deleted && e.RunInMainThread;
  // Window handlers get a dispatch only when there is more than the port's own, or notifying
  // is forced (as Dispatch decides).
  readerMayDispatch_.store(!mainThreadMethods && windows <= 1 && !forceNotify_.load());
}

// ---------------------------------------------------------------------------------------------
// Delivery

bool TQvBaseDispatcher::Dispatch(uint32_t msg, uint32_t wParam, uint32_t data) {
  if (!handlersActive_.load()) return true;
  {
    std::lock_guard main(mainLock_);
    dispatching_.store(true);
  }
  bool accounting = msg == MSG_DATA_AVAILABLE || msg == MSG_PATTERN_FOUND;
  {
    std::lock_guard in(inputLock_);
    largestReadCount_ = 0;
    readCount_ = 0;
    availDispatch_ = accounting;
  }
  uint32_t lParam = data + static_cast<uint32_t>(registryIndex_) * 65536u;
  // A port closing meanwhile gets no further handler call.
  bool aborted = Closing();

  // Each handler starts with a read count of 0; the largest count is what the ring gives up.
  auto call = [&](auto&& invoke) {
    {
      std::lock_guard in(inputLock_);
      readCount_ = 0;
    }
    try {
      HandlerCall inCall(this);
      invoke();
    } catch (...) {
      // A failing handler must not end the dispatcher thread and leave the port deaf.
      ShowException(std::current_exception());
    }
    {
      std::lock_guard in(inputLock_);
      largestReadCount_ = std::max(largestReadCount_, readCount_);
    }
    if (Closing()) aborted = true;
  };

  for (size_t i = 0; !aborted; ++i) {
    MethodEntry e;
    {
      std::lock_guard main(mainLock_);
      if (i >= methods_.size()) break;
      e = methods_[i];
      if (e.Deleted) continue;
      if (!e.RunInMainThread) {
        // Marked under the main lock, so an unregistering thread either sees the entry gone
        // before the copy or sees this call running and waits for it.
        std::lock_guard running(callMutex_);
        runningCode_ = e.Code;
        runningObject_ = e.Object;
        runningThread_ = std::this_thread::get_id();
      }
    }
    if (e.RunInMainThread) {
      call([&] {
        MessageLoop::instance().send(
            [&] {
              HandlerCall inCall(this);
              if (MethodRegistered(e.Code, e.Object)) e.Code(e.Object, msg, wParam, lParam);
            },
            kMainThreadCallMs);
      });
    } else {
      call([&] { e.Code(e.Object, msg, wParam, lParam); });
      {
        std::lock_guard running(callMutex_);
        runningCode_ = nullptr;
        runningObject_ = nullptr;
        runningThread_ = {};
      }
      callEnded_.notify_all();
    }
  }
  for (size_t i = 0; !aborted; ++i) {
    ProcEntry e;
    {
      std::lock_guard main(mainLock_);
      if (i >= procs_.size()) break;
      e = procs_[i];
    }
    if (e.Deleted) continue;
    call([&] { e.Proc(msg, wParam, lParam); });
  }
  bool toWindows;
  {
    std::lock_guard main(mainLock_);
    int live = 0;
    for (auto& w : windows_) live += !w.Deleted;
    toWindows = live > 1 || forceNotify_.load();
  }
  for (size_t i = 0; toWindows && !aborted; ++i) {
    std::shared_ptr<TQvMessageWindow> window;
    {
      std::lock_guard main(mainLock_);
      if (i >= windows_.size()) break;
      if (windows_[i].Deleted) continue;
      window = windows_[i].Window;
    }
    call([&] {
      MessageLoop::instance().send(
          [window, msg, wParam, lParam, self = static_cast<const TQvBaseDispatcher*>(this)] {
            try {
              HandlerCall inCall(self);
              window->WindowProc(msg, wParam, lParam);
            } catch (...) {
              ShowException(std::current_exception());
            }
          },
          kWindowSendMs);
    });
  }

  bool result = !aborted;
  if (accounting) {
    std::lock_guard in(inputLock_);
    availDispatch_ = false;
    int n = largestReadCount_;
    if (n > 0 && !inBuf_.empty()) {
      int held = inFull_ ? kDispatchBufferSize : (inHead_ - inTail_ + kDispatchBufferSize) % kDispatchBufferSize;
      n = std::min(n, held);
      inTail_ = (inTail_ + n) % kDispatchBufferSize;
      inFull_ = false;
      RoomMade();
      // Bytes consumed past the scan position need no scanning any more.
      int remaining = held - n;
      if (scanPending_ > remaining) {
        scanPending_ = remaining;
        scanPos_ = inTail_;
      }
      InputConsumed();
    }
    if (msg == MSG_DATA_AVAILABLE && static_cast<uint32_t>(largestReadCount_) != data) result = false;
  }
  {
    std::lock_guard main(mainLock_);
    dispatching_.store(false);
    if (purgePending_) {
      std::erase_if(windows_, [](const WindowEntry& e) { return e.Deleted; });
      std::erase_if(procs_, [](const ProcEntry& e) { return e.Deleted; });
      std::erase_if(methods_, [](const MethodEntry& e) { return e.Deleted; });
      purgePending_ = false;
      RecomputeHandlerFlags(0);
    }
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// Trigger checks

bool TQvBaseDispatcher::CheckStatusTriggers(bool& fired) {
  fired = false;
  int handle = 0;
  uint32_t data = 0;
  {
    std::lock_guard main(mainLock_);
    for (auto& t : statusTriggers_) {
      if (!t.Active || t.Fired) continue;
      bool hit = false;
      switch (t.Kind) {
        case stModem: {
          uint8_t recorded = static_cast<uint8_t>(t.Value & 0xFF);
          uint8_t mask = static_cast<uint8_t>(t.Value >> 8);
          hit = ((recorded ^ modemStatus_) & mask) != 0;
          break;
        }
        case stLine: {
          uint32_t errors = lineErrors_.load();
          if ((t.Value & errors) != 0) {
            hit = true;
            t.Value = static_cast<uint16_t>(errors);
          }
          break;
        }
        case stOutBuffFree: {
          int free = OutputFree();
          if (free >= t.Value) {
            hit = true;
            data = static_cast<uint32_t>(free);
          }
          break;
        }
        case stOutBuffUsed: {
          int used = OutputUsed();
          if (used <= t.Value) {
            hit = true;
            data = static_cast<uint32_t>(used);
          }
          break;
        }
        case stOutSent:
          hit = outputWritten_.exchange(false);
          break;
        default:
          break;
      }
      if (!hit) continue;
      t.Active = false;
      t.Fired = true;
      statusFired_ = true;
      handle = t.Handle;
      AddLogEntry(dlTrigger, dsStatusFired, 0, nullptr, static_cast<uint32_t>(handle));
      break;
    }
  }
  if (!handle) return true;
  fired = true;
  return Dispatch(MSG_STATUS_CHANGED, static_cast<uint32_t>(handle), data);
}

bool TQvBaseDispatcher::CheckTimerTriggers(bool& fired) {
  fired = false;
  int handle = 0;
  {
    std::lock_guard main(mainLock_);
    for (auto& t : timers_) {
      if (!t.Active || !TimerTicksExpired(t.Timer)) continue;
      t.Active = 0;
      handle = t.Handle;
      AddLogEntry(dlTrigger, dsTimerFired, 0, nullptr, static_cast<uint32_t>(handle));
      break;
    }
  }
  if (!handle) return true;
  fired = true;
  return Dispatch(MSG_TIMER_EXPIRED, static_cast<uint32_t>(handle), 0);
}

void TQvBaseDispatcher::ClearFiredFlags() {
  std::lock_guard main(mainLock_);
  for (auto& t : statusTriggers_) t.Fired = false;
  statusFired_ = false;
}

void TQvBaseDispatcher::SetIdleWaitLimitForTesting(int ms) {
  gIdleWaitLimitMs.store(ms > 0 ? ms : kIdleWaitMaxMs);
}

void TQvBaseDispatcher::RecheckWait() {
  // The dispatcher thread works its wait out afresh before it sleeps again: from there no wake
  // is needed. The reader's pass decides once it has ended, whether the sleep must end sooner.
  if (!longWait_.load() || dispThreadId_.load() == std::this_thread::get_id()) return;
  if (OnReaderPass()) {
    recheckAfterPass_ = true;
    return;
  }
  recheckEvent_.Set();
}

int TQvBaseDispatcher::DispatcherWaitMs() {
  if (PollingMode() || InDispatch()) return kTriggerPollMs;
  {
    std::lock_guard in(inputLock_);
    if (!inBuf_.empty() && (scanPending_ > 0 || (availThreshold_.load() > 0 && inTotal_ != lastAvailTotal_)))
      return kTriggerPollMs;
  }
  std::lock_guard main(mainLock_);
  // Status triggers watch levels that change without an event reaching this thread (the
  // writer draining, the application reading the modem lines): they are polled.
  for (auto& t : statusTriggers_)
    if (t.Active) return kTriggerPollMs;
  int wait = gIdleWaitLimitMs.load();
  int toNextTick = -1;
  for (auto& t : timers_) {
    if (!t.Active) continue;
    if (TimerTicksExpired(t.Timer)) return 0;  // came due since the last pass
    // A timer fires once the tick after its expiry tick has begun: with r ticks left, the rest
    // of this tick and r more. The wait ends just past that boundary, so an expiry costs one
    // wake-up, not a poll every kTriggerPollMs through the last stretch (three or four).
    if (toNextTick < 0) toNextTick = MsToNextTick();
    int64_t ms = static_cast<int64_t>(RemainingTime(t.Timer)) * kTickMs + toNextTick + kTickBoundaryMarginMs;
    wait = static_cast<int>(std::min<int64_t>(wait, ms));
  }
  return wait;
}

void TQvBaseDispatcher::RunStatusLoop() {
  bool fired = true;
  while (fired && !Closing()) CheckStatusTriggers(fired);
}

void TQvBaseDispatcher::TimerAndStatusPass() {
  if (Closing() || InDispatch()) return;
  {
    std::lock_guard main(mainLock_);
    statusFired_ = false;
  }
  while (!Closing()) {
    bool fired = false;
    CheckStatusTriggers(fired);
    if (!fired) CheckTimerTriggers(fired);
    if (!fired) break;
  }
  // Input that arrived while dispatching was held off (a synchronous wait) is announced now
  // rather than when the next byte happens to come.
  bool unannounced;
  {
    std::lock_guard in(inputLock_);
    unannounced = !inBuf_.empty() && (scanPending_ > 0 || (availThreshold_.load() > 0 && inTotal_ != lastAvailTotal_));
  }
  if (unannounced)
    while (!Closing() && !InDispatch() && CheckAvailAndData() == CheckResult::Dispatched) {
    }
  bool any;
  {
    std::lock_guard main(mainLock_);
    any = statusFired_;
  }
  if (any) ClearFiredFlags();
}

bool TQvBaseDispatcher::MatchDataTrigger(TQvDataTrigger& t, uint8_t byte) {
  if (t.IgnoreCase) byte = UpperAnsi(byte);
  const int length = t.Length;
  bool started = false;
  for (int k = 0; k < length; ++k) {
    int32_t& slot = t.Slots[static_cast<size_t>(k)];
    bool examine = slot != 0 || (!started && t.Pattern[0] == byte);
    if (!examine) continue;
    int pos = slot;
    if (t.Pattern[static_cast<size_t>(pos)] == byte) {
      if (pos + 1 == length) {
        t.Slots.fill(0);
        return true;
      }
      slot = pos + 1;
    } else if (t.Pattern[0] == byte) {
      slot = 1;
      started = true;
    } else {
      slot = 0;
    }
    if (slot == 1) started = true;
  }
  return false;
}

uint64_t TQvBaseDispatcher::TotalThrough(int pos) const {
  // pos is a held byte, so the bytes after it up to head number fewer than the ring's size.
  int after = (inHead_ - pos - 1 + kDispatchBufferSize) % kDispatchBufferSize;
  return inTotal_ - static_cast<uint64_t>(after);
}

TQvBaseDispatcher::CheckResult TQvBaseDispatcher::CheckAvailAndData() {
  std::unique_lock in(inputLock_);
  if (inBuf_.empty()) return CheckResult::Nothing;
  const int threshold = availThreshold_.load();
  auto heldFrom = [&](int pos) {  // bytes from tail through pos
    return (pos - inTail_ + kDispatchBufferSize) % kDispatchBufferSize + 1;
  };
  std::vector<std::pair<int, int>> found;  // handle, length
  {
    std::unique_lock main(mainLock_);
    if (dataTriggers_.empty()) {
      scanPos_ = inHead_;
      scanPending_ = 0;
    }
    while (scanPending_ > 0) {
      int pos = scanPos_;
      uint8_t b = inBuf_[static_cast<size_t>(pos)];
      int longest = 0;
      for (auto& t : dataTriggers_) {
        if (t.Length && !t.Matched && MatchDataTrigger(t, b)) t.Matched = 1;
        if (t.Matched) longest = std::max(longest, static_cast<int>(t.Length));
      }
      if (longest > 0) {
        int before = heldFrom(pos) - longest;
        if (threshold > 0 && TotalThrough(pos) != lastAvailTotal_ && before >= threshold) {
          lastAvailTotal_ = TotalThrough(pos);
          AddLogEntry(dlTrigger, dsAvailFired, 0, nullptr, static_cast<uint32_t>(before));
          main.unlock();
          in.unlock();
          return Dispatch(MSG_DATA_AVAILABLE, static_cast<uint32_t>(before), static_cast<uint32_t>(before))
                     ? CheckResult::Dispatched
                     : CheckResult::Refused;
        }
        for (auto it = dataTriggers_.rbegin(); it != dataTriggers_.rend(); ++it) {
          if (!it->Matched) continue;
          AddLogEntry(dlTrigger, dsDataFired, 0, nullptr, static_cast<uint32_t>(it->Handle));
          it->Matched = 0;
          found.emplace_back(it->Handle, it->Length);
        }
        scanPos_ = (pos + 1) % kDispatchBufferSize;
        --scanPending_;
        break;
      }
      scanPos_ = (pos + 1) % kDispatchBufferSize;
      --scanPending_;
    }
  }
  if (!found.empty()) {
    in.unlock();
    bool result = true;
    for (auto& [handle, length] : found)
      result = Dispatch(MSG_PATTERN_FOUND, static_cast<uint32_t>(handle), static_cast<uint32_t>(length));
    return result ? CheckResult::Dispatched : CheckResult::Refused;
  }
  if (threshold > 0 && inTotal_ != lastAvailTotal_) {
    int count = InputCount();
    if (count >= threshold) {
      lastAvailTotal_ = inTotal_;
      {
        std::lock_guard main(mainLock_);
        AddLogEntry(dlTrigger, dsAvailFired, 0, nullptr, static_cast<uint32_t>(count));
      }
      in.unlock();
      return Dispatch(MSG_DATA_AVAILABLE, static_cast<uint32_t>(count), static_cast<uint32_t>(count))
                 ? CheckResult::Dispatched
                 : CheckResult::Refused;
    }
  }
  return CheckResult::Nothing;
}

// ---------------------------------------------------------------------------------------------
// Device events

int TQvBaseDispatcher::FillInputRing() {
  std::lock_guard in(inputLock_);
  if (inBuf_.empty()) return 0;
  if (inFull_) {
    // Noted even though nothing moves: the reader then stops watching the device for input
    // that cannot be taken (it would find the same bytes waiting at once, again and again) and
    // sleeps until room is made.
    TQvDeviceStatus status;
    RefreshInputStatus(status);
    moreInputWaiting_.store(status.InQue > 0);
    return 0;
  }
  if (uint32_t errors = DevTakeErrors() & 0x1F) lineErrors_.fetch_or(errors);
  // The device is read straight into the free room: a read returns what the driver holds, up to
  // the room, without asking first how much that is (one driver call per arrival, not two).
  int free, contiguous;
  if (inHead_ == inTail_) {
    free = kDispatchBufferSize;
    contiguous = kDispatchBufferSize - inHead_;
  } else if (inTail_ > inHead_) {
    free = contiguous = inTail_ - inHead_;
  } else {
    free = kDispatchBufferSize - inHead_ + inTail_;
    contiguous = kDispatchBufferSize - inHead_;
  }
  int total = 0;
  auto readPiece = [&](int count) {
    int n = DevRead(inBuf_.data() + inHead_, count);
    if (n < 0) {
      DevEventHook(-1);
      n = 0;
    }
    if (n > 0) {
      std::lock_guard main(mainLock_);
      AddLogEntry(dlDispatch, dsReadCom, static_cast<uint32_t>(n), inBuf_.data() + inHead_, static_cast<uint32_t>(n));
    }
    inHead_ += n;
    if (inHead_ >= kDispatchBufferSize) inHead_ = 0;
    total += n;
    return n;
  };
  const int first = std::min(free, contiguous);
  // The room wraps round: the second piece is read only when the first came back full.
  if (readPiece(first) == first && free > first) readPiece(free - first);
  if (total > 0) {
    inFull_ = inHead_ == inTail_;
    scanPending_ += total;
    inTotal_ += static_cast<uint64_t>(total);
  }
  // Only a full ring leaves bytes behind on purpose (asked only then, once); a short read
  // leaves the rest for the next look, which the device wait reports as usual.
  bool more = false;
  if (inFull_) {
    TQvDeviceStatus status;
    RefreshInputStatus(status);
    more = status.InQue > 0;
  }
  moreInputWaiting_.store(more);
  return total;
}

void TQvBaseDispatcher::ProcessDeviceEvent(uint32_t mask) {
  if (mask & 0x2138) {
    RefreshModemDeltas();
    if (!InDispatch()) RunStatusLoop();
  }
  if (mask & (evBreak | evError)) {
    TQvDeviceStatus status;
    RefreshDeviceStatus(status);
    if (!InDispatch()) RunStatusLoop();
  }
  if ((mask & evRxChar) || PollingMode()) {
    // The reader moved what the device held when it woke (ReaderWoke); only a polled device
    // has no reader to do it.
    if (PollingMode()) FillInputRing();
    if (!InDispatch()) {
      RunStatusLoop();
      while (!Closing() && CheckAvailAndData() == CheckResult::Dispatched) {
      }
    }
  }
  bool any;
  {
    std::lock_guard main(mainLock_);
    any = statusFired_;
  }
  if (any) ClearFiredFlags();
}

}  // namespace qv::comm
