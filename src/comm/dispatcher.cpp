#include "comm/dispatcher.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "comm/dispatcher_list.h"
#include "comm/dispatcher_threads.h"
#include "core/error_codes.h"
#include "core/message_loop.h"

namespace qv::comm {

using namespace qv::core;

namespace {

std::atomic<uint32_t> gNextWindowHandle{0x100};

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

TQvMessageWindow::TQvMessageWindow() : handle_(gNextWindowHandle.fetch_add(1)) {}

uint32_t TranslateBaud(uint32_t baud) {
  if (baud == 0xFEFF) return 115200;
  if (baud >= 0xFF10 && baud <= 0xFF10 + 23) {
    switch (baud - 0xFF10) {
      case 0: return 110;
      case 1: return 300;
      case 2: return 600;
      case 3: return 1200;
      case 4: return 2400;
      case 5: return 4800;
      case 6: return 9600;
      case 7: return 14400;
      case 8: return 19200;
      case 11: return 38400;
      case 15: return 56000;
      case 19: return 128000;
      case 23: return 256000;
      default: break;
    }
  }
  return baud;
}

TQvBaseDispatcher::TQvBaseDispatcher() { registryIndex_ = AddDispatcher(this); }

TQvBaseDispatcher::~TQvBaseDispatcher() {
  // Derived classes have already called Shutdown(); this only covers the threads' last breath.
  WaitThreadsGone(true, true, true);
  JoinFinishedThreads();
  RemoveDispatcher(registryIndex_);
}

void TQvBaseDispatcher::Shutdown() {
  ClosePort();
  WaitThreadsGone(true, true, true);
  JoinFinishedThreads();
  if (deviceOpen_.exchange(false)) DevClose();
}

// ---------------------------------------------------------------------------------------------
// Life cycle

void TQvBaseDispatcher::ResetState() {
  lineErrors_.store(0);
  lastBaud_ = 115200;
  killThreads_.store(false);
  closePending_.store(false);
  releaseAfterDispThread_.store(false);
  dispatching_.store(false);
  {
    std::lock_guard main(mainLock_);
    dispatchHolders_.clear();
    holdCount_.store(0);
  }
  purgePending_ = false;
  outputWritten_.store(false);
  ringSeen_.store(false);
  moreInputWaiting_.store(false);
  lastEventMask_.store(0);
  readerWakes_.store(0);
  dispatcherWakes_.store(0);
  writerAbort_.store(false);
  statusFired_ = false;
  dtrControlled_ = rtsControlled_ = false;
  inputEvent_.Reset();
  generalEvent_.Reset();
  outputEvent_.Reset();
  flushEvent_.Reset();
  flushAck_.Reset();
  recheckEvent_.Reset();
  longWait_.store(false);
}

int TQvBaseDispatcher::OpenPort(const std::string& deviceName, uint32_t baud, int parity, int dataBits,
                                int stopBits, int inSize, int outSize, bool dtr, bool rts) {
  if (IsOpen() || threadCount_.load() > 0) return ecAlreadyOpen;
  if (inSize <= 0 || outSize <= 0) return ecBadArgument;
  JoinFinishedThreads();
  int h = DevOpen(deviceName, inSize, outSize);
  if (h < 0) return h;
  deviceOpen_.store(true);
  handle_.store(h);
  inQueueSize_ = inSize;
  outQueueSize_ = outSize;
  auto fail = [&](int code) {
    handle_.store(-1);
    if (deviceOpen_.exchange(false)) DevClose();
    released_.store(false);
    ReleasePort();
    return code;
  };
  if (!DevSetQueues(inSize, outSize)) return fail(ecMemory);
  try {
    {
      std::lock_guard in(inputLock_);
      inBuf_.assign(kDispatchBufferSize, 0);
      inHead_ = inTail_ = 0;
      inFull_ = false;
      scanPos_ = 0;
      scanPending_ = 0;
      lastAvailTotal_ = 0;
      inTotal_ = 0;
      availDispatch_ = false;
      readCount_ = largestReadCount_ = 0;
    }
    {
      std::lock_guard out(outputLock_);
      outBuf_.assign(static_cast<size_t>(outSize), 0);
      outHead_ = outTail_ = 0;
      outFull_ = false;
    }
  } catch (const std::bad_alloc&) {
    return fail(ecOutOfMemory);
  }
  released_.store(false);
  ResetState();
  startMs_.store(LogClockMs());
  {
    std::lock_guard main(mainLock_);
    modemStatus_ = DevModemLines() & 0xF0;
    dtrState_ = dtr;
    rtsState_ = rts;
  }
  DevEscape(dtr ? escSetDtr : escClrDtr);
  DevEscape(rts ? escSetRts : escClrRts);
  ClearTriggers();
  int rc = SetLineParams(baud, parity, stopBits, dataBits);
  if (rc < 0) return fail(rc);
  TQvDeviceStatus status;
  lineErrors_.store(DevClearErrors(status) & 0x1F);
  startMs_.store(LogClockMs());
  try {
    StartThreads();
  } catch (...) {
    return fail(ecInternal);
  }
  return 0;
}

int TQvBaseDispatcher::ClosePort(int dispatchWaitMs) {
  if (IsOpen()) {
    PurgeOutput();
    PurgeInput();
    handle_.store(-1);
  }
  if (dispRunning_.load()) {
    bool onDispatcherThread = dispThreadId_.load() == std::this_thread::get_id();
    if (onDispatcherThread || InHandler()) {
      // The dispatch waits for this very call: the dispatcher thread finishes the close when it
      // ends. Reader and writer stop now; the device stays open for the dispatcher thread.
      closePending_.store(true);
      SignalKill();
      WaitThreadsGone(!OnReaderPass(), true, false);
      return 0;
    }
    // A dispatch running elsewhere ends its current handler call and calls no further one
    // (Closing); the close then completes here, so the caller may open the port again at once.
    SignalKill();
    if (!WaitThreadsGone(true, true, true, dispatchWaitMs)) {
      closePending_.store(true);
      // Checked after the flag: a dispatcher thread still running, or a reader still in its
      // pass, will see it and release the port when the last of them ends.
      bool readerPass = readerInPass_.load();
      if (dispRunning_.load() || readerPass) {
        WaitThreadsGone(!readerPass, true, false);
        return 0;
      }
      // It ended meanwhile (its own release, if it saw the flag, is over once it is gone).
      WaitThreadsGone(true, true, true);
      closePending_.store(false);
    }
  }
  StopThreads();
  ReleasePort();
  return 0;
}

void TQvBaseDispatcher::ReleasePort() {
  StopThreads();
  if (deviceOpen_.exchange(false)) DevClose();
  handle_.store(-1);
  if (released_.exchange(true)) return;
  {
    std::lock_guard in(inputLock_);
    inBuf_.clear();
    inBuf_.shrink_to_fit();
    inHead_ = inTail_ = 0;
    inFull_ = false;
    scanPending_ = 0;
  }
  {
    std::lock_guard out(outputLock_);
    outBuf_.clear();
    outBuf_.shrink_to_fit();
    outHead_ = outTail_ = 0;
    outFull_ = false;
  }
}

// ---------------------------------------------------------------------------------------------
// Threads

void TQvBaseDispatcher::SignalKill() {
  killThreads_.store(true);
  writerAbort_.store(true);
  outputEvent_.Set();
  recheckEvent_.Set();
  DevCancelWait();
}

void TQvBaseDispatcher::StartThreads() {
  if (threadsRunning_.load() || threadCount_.load() > 0)
    throw std::runtime_error("Dispatcher already started");
  JoinFinishedThreads();
  killThreads_.store(false);
  writerAbort_.store(false);
  threadsRunning_.store(true);
  passThreadsLeft_.store(2);
  auto start = [this](std::thread& slot, std::atomic<bool>& running, std::unique_ptr<TQvDispatcherThread> t) {
    running.store(true);
    threadCount_.fetch_add(1);
    slot = std::thread([t = std::move(t)] { t->Run(); });
    generalEvent_.Wait(3000);
  };
  start(reader_, readerRunning_, std::make_unique<TComThread>(*this));
  start(dispThread_, dispRunning_, std::make_unique<TDispThread>(*this));
  start(writer_, writerRunning_, std::make_unique<TOutThread>(*this));
}

void TQvBaseDispatcher::StopThreads() {
  if (threadCount_.load() == 0) {
    JoinFinishedThreads();
    return;
  }
  SignalKill();
  auto me = std::this_thread::get_id();
  WaitThreadsGone(readerThreadId_.load() != me, true, dispThreadId_.load() != me);
  JoinFinishedThreads();
}

bool TQvBaseDispatcher::WaitThreadsGone(bool reader, bool writer, bool dispatcher, int timeoutMs) {
  auto gone = [&] {
    return !(reader && readerRunning_.load()) && !(writer && writerRunning_.load()) &&
           !(dispatcher && dispRunning_.load());
  };
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  auto& loop = MessageLoop::instance();
  // Asking from one of our own threads could make it the loop's UI thread; only the application's
  // threads pump.
  bool ui = !TQvDispatcherThread::Current() && loop.isUiThread();
  while (!gone()) {
    if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return false;
    // The dispatcher thread may be waiting for a window handler on this very thread.
    if (ui) {
      try {
        loop.pumpPending();
      } catch (...) {
        ShowException(std::current_exception());
      }
    }
    std::unique_lock lock(goneMutex_);
    goneCv_.wait_for(lock, std::chrono::milliseconds(2), gone);
  }
  return true;
}

void TQvBaseDispatcher::JoinFinishedThreads() {
  std::lock_guard lock(joinMutex_);
  auto id = std::this_thread::get_id();
  auto join = [&](std::thread& t, std::atomic<bool>& running) {
    if (t.joinable() && !running.load() && t.get_id() != id) t.join();
  };
  join(reader_, readerRunning_);
  join(writer_, writerRunning_);
  join(dispThread_, dispRunning_);
}

void TQvBaseDispatcher::ThreadGone(int which) {
  if (which != TQvDispatcherThread::kWriter) {
    // A close left to a running dispatch is finished by the last of the two threads that
    // dispatch: the reader's pass may outlast the dispatcher thread.
    bool last = passThreadsLeft_.fetch_sub(1) == 1;
    bool wanted = which == TQvDispatcherThread::kReader || releaseAfterDispThread_.load();
    if (last && wanted && closePending_.load()) ReleasePort();
  }
  std::atomic<bool>& running =
      which == TQvDispatcherThread::kReader ? readerRunning_
      : which == TQvDispatcherThread::kWriter ? writerRunning_ : dispRunning_;
  {
    std::lock_guard lock(goneMutex_);
    if (which == TQvDispatcherThread::kDispatcher) dispThreadId_.store(std::thread::id{});
    if (which == TQvDispatcherThread::kReader) readerThreadId_.store(std::thread::id{});
    running.store(false);
    if (threadCount_.fetch_sub(1) == 1) threadsRunning_.store(false);
  }
  goneCv_.notify_all();
}

void TQvBaseDispatcher::ReaderExecute() {
  readerThreadId_.store(std::this_thread::get_id());
  generalEvent_.Set();
  while (!killThreads_.load()) {
    uint32_t mask = 0;
    if (!DevWaitEvent(mask)) {
      generalEvent_.Set();
      return;
    }
    if (mask & (evRing | evRingTrailing)) ringSeen_.store(true);
    if (killThreads_.load()) {
      generalEvent_.Set();
      return;
    }
    bool tell = ReaderWoke(mask);
    readerWakes_.fetch_add(1, std::memory_order_relaxed);
    if (!tell) continue;
    if (ReaderDispatch(mask)) continue;
    lastEventMask_.fetch_or(mask);
    inputEvent_.Set();
  }
  generalEvent_.Set();
}

namespace {
// The dispatcher whose pass the calling thread (its reader) is running.
thread_local const TQvBaseDispatcher* tReaderPass = nullptr;

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

bool TQvBaseDispatcher::OnReaderPass() const { return tReaderPass == this; }

bool TQvBaseDispatcher::ReaderDispatch(uint32_t mask) {
  if ((mask & ~evRxChar) != 0 || PollingMode() || InDispatch() || Closing() || !readerMayDispatch_.load())
    return false;
  std::unique_lock pass(passMutex_, std::try_to_lock);
  if (!pass.owns_lock()) return false;
  readerPasses_.fetch_add(1, std::memory_order_relaxed);
  tReaderPass = this;
  readerInPass_.store(true);
  try {
    ProcessDeviceEvent(mask);
  } catch (...) {
    readerInPass_.store(false);
    tReaderPass = nullptr;
    throw;
  }
  readerInPass_.store(false);
  tReaderPass = nullptr;
  pass.unlock();
  if (std::exchange(recheckAfterPass_, false) && longWait_.load()) {
    // A handler armed a trigger: the dispatcher thread's sleep is ended only when the trigger
    // needs it sooner (a data timeout re-armed per arrival must not wake it every time).
    int64_t due = SteadyMs() + DispatcherWaitMs();
    if (due < dispWakeDueMs_.load()) recheckEvent_.Set();
  }
  return true;
}

void TQvBaseDispatcher::TopUpOnReaderPass() {
  if (OnReaderPass()) FillInputRing();
}

void TQvBaseDispatcher::SetInputPace(int ms) {
  ms = std::max(ms, 0);
  if (inputPaceMs_.exchange(ms) == ms) return;
  // A reader gathering under the old pace looks again under the new one (without a pace it
  // watches arrivals again); on the reader's own pass its next wait works this out anyway.
  if (readerThreadId_.load() != std::this_thread::get_id()) DevCancelWait();
}

int TQvBaseDispatcher::InputPaceWaitMs() const {
  if (inputPaceMs_.load() == 0 || paceUntilMs_ == 0) return -1;
  return static_cast<int>(std::max<int64_t>(0, paceUntilMs_ - SteadyMs()));
}

void TQvBaseDispatcher::NoteArrival(bool gathered) {
  // A gathering starts only while arrivals come closer together than the pace (bulk data
  // flowing): a lone arrival, or arrivals further apart, are read at once as without a pace, and
  // no wake-up goes on looking at the end of a gathering nothing came in. Nor does one start
  // while the ring is full: bytes are left in the driver and it is no time to wait.
  const int pace = inputPaceMs_.load();
  const int64_t now = SteadyMs();
  const bool flowing = gathered || (lastArrivalMs_ != 0 && now - lastArrivalMs_ < pace);
  lastArrivalMs_ = now;
  paceUntilMs_ = pace > 0 && flowing && !MoreInputWaiting() ? now + pace : 0;
}

bool TQvBaseDispatcher::ReaderWoke(uint32_t& mask) {
  if (mask == 0) {
    // Woken because room was made in a full ring (RoomMade), at the end of a gathering time
    // (SetInputPace), or a quiet time-out of the device wait: bytes left in the driver move up
    // now. A look that moves nothing has nothing to tell the dispatcher thread.
    const bool gathered = paceUntilMs_ != 0 && InputPaceWaitMs() <= 0;
    if (gathered) paceUntilMs_ = 0;
    if ((!MoreInputWaiting() && !gathered) || PollingMode()) return false;
    if (FillInputRing() == 0) return false;
    NoteArrival(gathered);
    mask = evRxChar;
    return true;
  }
  // The reader moves what the device holds into the ring itself: the device then has nothing
  // left to report, so the reader can wait for the next arrival at once instead of waiting for
  // the dispatcher thread to read it (two thread switches per arrival fewer). A full ring leaves
  // the rest in the driver until room is made.
  if ((mask & evRxChar) && !PollingMode() && FillInputRing() > 0) NoteArrival(false);
  return true;
}

void TQvBaseDispatcher::DispatcherExecute() {
  dispThreadId_.store(std::this_thread::get_id());
  generalEvent_.Set();
  while (true) {
    // Announced first, then the wait is worked out: a change made meanwhile either is seen by
    // the computation or sets the recheck event, which ends the wait at once.
    // A reader pass that changes a trigger meanwhile compares with dispWakeDueMs_: unknown until
    // the wait is worked out, so such a change ends the sleep.
    longWait_.store(true);
    recheckEvent_.Reset();
    dispWakeDueMs_.store(kWakeUnknown);
    int waitMs = DispatcherWaitMs();
    if (waitMs <= kTriggerPollMs) longWait_.store(false);
    dispWakeDueMs_.store(SteadyMs() + waitMs);
    bool got = TQvEvent::WaitAny({&inputEvent_, &recheckEvent_}, waitMs) == 0;
    longWait_.store(false);
    dispatcherWakes_.fetch_add(1, std::memory_order_relaxed);
    if (killThreads_.load() || closePending_.load()) break;
    std::lock_guard pass(passMutex_);
    if (got || PollingMode()) ProcessDeviceEvent(lastEventMask_.exchange(0));
    TimerAndStatusPass();
    if (killThreads_.load() || closePending_.load()) break;
  }
  generalEvent_.Set();
  releaseAfterDispThread_.store(closePending_.load() || killThreads_.load());
}

void TQvBaseDispatcher::WriterExecute() {
  generalEvent_.Set();
  while (!killThreads_.load() && !closePending_.load()) {
    int which = TQvEvent::WaitAny({&outputEvent_, &flushEvent_}, -1);
    if (which == 0) {
      if (killThreads_.load()) break;
      Drain();
    } else {
      flushAck_.Set();
    }
  }
}

void TQvBaseDispatcher::Drain() {
  while (!killThreads_.load() && !flushEvent_.IsSet()) {
    const uint8_t* block = nullptr;
    int length = 0;
    {
      std::lock_guard out(outputLock_);
      int size = static_cast<int>(outBuf_.size());
      if (size == 0 || (outHead_ == outTail_ && !outFull_)) return;
      if (outTail_ < outHead_) {
        length = outHead_ - outTail_;
      } else if (outHead_ > 0) {
        // Wrapped: rotate so the data is one contiguous block from 0.
        std::rotate(outBuf_.begin(), outBuf_.begin() + outTail_, outBuf_.end());
        outHead_ = outHead_ + size - outTail_;
        outTail_ = 0;
        if (outHead_ >= size) outHead_ = 0;
        length = outFull_ ? size : outHead_;
      } else {
        length = size - outTail_;
      }
      block = outBuf_.data() + outTail_;
    }
    int n = DevWriteBlock(block, length, writerAbort_);
    if (n == kWriteInterrupted) return;
    if (n == kWriteFailed || n > length) n = length;  // refused blocks are dropped
    if (n <= 0) continue;
    std::lock_guard out(outputLock_);
    int size = static_cast<int>(outBuf_.size());
    if (size == 0) return;
    outTail_ += n;
    if (outTail_ >= size) outTail_ = 0;
    if (outTail_ == outHead_) outHead_ = outTail_ = 0;
    outFull_ = false;
  }
}

// ---------------------------------------------------------------------------------------------
// Data

uint32_t TQvBaseDispatcher::OutputRingFill() {
  std::lock_guard out(outputLock_);
  if (outFull_) return static_cast<uint32_t>(outBuf_.size());
  int size = static_cast<int>(outBuf_.size());
  if (size == 0) return 0;
  return static_cast<uint32_t>((outHead_ - outTail_ + size) % size);
}

void TQvBaseDispatcher::RefreshInputStatus(TQvDeviceStatus& status) {
  status = TQvDeviceStatus{};
  if (!deviceOpen_.load()) return;
  uint32_t errors = DevClearErrors(status) & 0x1F;
  if (errors) lineErrors_.fetch_or(errors);
}

void TQvBaseDispatcher::RefreshDeviceStatus(TQvDeviceStatus& status) {
  RefreshInputStatus(status);
  if (!deviceOpen_.load()) return;
  status.OutQue = static_cast<uint32_t>(OutputHeld());
}

int TQvBaseDispatcher::OutputHeld() {
  if (!deviceOpen_.load()) return 0;
  uint64_t held = uint64_t{OutputRingFill()} + DevOutputPending();
  return static_cast<int>(std::min<uint64_t>(held, static_cast<uint64_t>(outQueueSize_)));
}

int TQvBaseDispatcher::DevWrite(const uint8_t* data, int count) {
  const int total = count;
  bool wakeNow;
  {
    std::lock_guard out(outputLock_);
    int size = static_cast<int>(outBuf_.size());
    if (size == 0) return 0;
    // With nothing queued ahead (the writer idle) and no flush under way, the device takes what
    // it can at once from this thread; only the rest goes through the ring and the writer. A
    // block the device takes whole then costs no hand-off to the writer thread.
    if (outHead_ == outTail_ && !outFull_ && !writerAbort_.load()) {
      const int now = DevWriteNow(data, count);
      if (now >= count) return total;
      if (now > 0) {
        data += now;
        count -= now;
      }
    }
    int first = std::min(count, size - outHead_);
    std::memcpy(outBuf_.data() + outHead_, data, static_cast<size_t>(first));
    if (count > first) std::memcpy(outBuf_.data(), data + first, static_cast<size_t>(count - first));
    outHead_ = (outHead_ + count) % size;
    if (count > 0) outFull_ = outHead_ == outTail_;
    wakeNow = !outputWakeHeld_;
    if (!wakeNow) outputWakePending_ = true;
  }
  if (wakeNow) outputEvent_.Set();
  return total;
}

int TQvBaseDispatcher::DevPurge(int queue) {
  if (queue != 0) return 0;
  if (writerRunning_.load() && !killThreads_.load()) {
    writerAbort_.store(true);
    flushEvent_.Set();
    // The writer acknowledges between blocks; it never sleeps on the device for long.
    flushAck_.Wait(2000);
  }
  {
    std::lock_guard out(outputLock_);
    outHead_ = outTail_ = 0;
    outFull_ = false;
  }
  if (!killThreads_.load()) writerAbort_.store(false);
  DevDiscardOutput();
  return 0;
}

int TQvBaseDispatcher::DevIdle() {
  std::this_thread::yield();
  return 0;
}

int TQvBaseDispatcher::SendBlock(const void* data, int count) {
  if (count == 0) return 0;
  if (count < 0 || !data) return ecBadArgument;
  if (!IsOpen()) return ecCommNotOpen;
  const auto* bytes = static_cast<const uint8_t*>(data);
  int written = 0;
  int rc = 0;
  bool wakeWriter = false;
  {
    std::lock_guard out(outputLock_);
    int free = outQueueSize_ - OutputHeld();
    if (count > free) return ecOutputBufferTooSmall;
    // The writer is woken once this lock is released: woken inside it, it would run only to
    // block on the ring's lock in Drain (a second switch per block handed over).
    outputWakeHeld_ = true;
    written = DevWrite(bytes, count);
    outputWakeHeld_ = false;
    wakeWriter = std::exchange(outputWakePending_, false);
    if (written <= 0) {
      TQvDeviceStatus status;
      RefreshDeviceStatus(status);
      written = -written;
      rc = ecPutBlockFail;
    }
    outputWritten_.store(true);
  }
  if (wakeWriter) outputEvent_.Set();
  std::lock_guard main(mainLock_);
  AddLogEntry(dlDispatch, dsWriteCom, static_cast<uint32_t>(count), bytes, static_cast<uint32_t>(count));
  if (traceOn_)
    for (int i = 0; i < count; ++i) TraceByte('T', bytes[i]);
  return rc;
}

int TQvBaseDispatcher::ReadChar(char& c) {
  std::lock_guard in(inputLock_);
  if (inBuf_.empty()) return ecBufferIsEmpty;
  if (HeldByDispatch()) return ecBufferIsEmpty;
  if (UnreadLocked() == 0) TopUpOnReaderPass();
  int held = inFull_ ? kDispatchBufferSize : (inHead_ - inTail_ + kDispatchBufferSize) % kDispatchBufferSize;
  uint8_t b;
  if (availDispatch_) {
    if (readCount_ >= held) return ecBufferIsEmpty;
    b = inBuf_[(inTail_ + readCount_) % kDispatchBufferSize];
    ++readCount_;
  } else {
    if (held == 0) return ecBufferIsEmpty;
    b = inBuf_[inTail_];
    inTail_ = (inTail_ + 1) % kDispatchBufferSize;
    if (inFull_) RoomMade();
    inFull_ = false;
    if (scanPending_ > (inHead_ - inTail_ + kDispatchBufferSize) % kDispatchBufferSize) {
      scanPos_ = inTail_;
      scanPending_ = (inHead_ - inTail_ + kDispatchBufferSize) % kDispatchBufferSize;
    }
    InputConsumed();
  }
  c = static_cast<char>(b);
  if (traceOn_) {
    std::lock_guard main(mainLock_);
    TraceByte('R', b);
  }
  return 0;
}

void TQvBaseDispatcher::RoomMade() {
  // The reader leaves input in the driver while the ring is full and does not look again by
  // itself: tell it at once, so a flood is not held up and the rest is not forgotten.
  if (moreInputWaiting_.load()) DevCancelWait();
}

void TQvBaseDispatcher::InputConsumed() {
  // The announcement mark counts bytes ever put into the ring; bytes that have left it, read
  // by a handler beyond what it was announced or by the application while dispatching was held
  // off, need no announcement. Without this an emptied ring would look unannounced, and the
  // dispatcher thread would look for it every kTriggerPollMs until new input came.
  int held = inFull_ ? kDispatchBufferSize : (inHead_ - inTail_ + kDispatchBufferSize) % kDispatchBufferSize;
  uint64_t consumedThrough = inTotal_ - static_cast<uint64_t>(held);
  if (consumedThrough > lastAvailTotal_) lastAvailTotal_ = consumedThrough;
}

int TQvBaseDispatcher::PeekBlock(void* buffer, int max) {
  std::lock_guard in(inputLock_);
  if (inBuf_.empty() || max <= 0 || !buffer) return 0;
  if (UnreadLocked() == 0) TopUpOnReaderPass();
  int held = inFull_ ? kDispatchBufferSize : (inHead_ - inTail_ + kDispatchBufferSize) % kDispatchBufferSize;
  int from = inTail_;
  if (availDispatch_) {
    held -= readCount_;
    from = (inTail_ + readCount_) % kDispatchBufferSize;
  }
  int n = std::min(std::max(held, 0), max);
  auto* out = static_cast<uint8_t*>(buffer);
  int first = std::min(n, kDispatchBufferSize - from);
  std::memcpy(out, inBuf_.data() + from, static_cast<size_t>(first));
  std::memcpy(out + first, inBuf_.data(), static_cast<size_t>(n - first));
  return n;
}

int TQvBaseDispatcher::ReadBlock(void* buffer, int max) {
  std::lock_guard in(inputLock_);
  if (inBuf_.empty() || max <= 0 || HeldByDispatch()) return 0;
  int held = inFull_ ? kDispatchBufferSize : (inHead_ - inTail_ + kDispatchBufferSize) % kDispatchBufferSize;
  int from = availDispatch_ ? (inTail_ + readCount_) % kDispatchBufferSize : inTail_;
  int n = std::min(std::max(availDispatch_ ? held - readCount_ : held, 0), max);
  if (n == 0) return 0;
  int first = std::min(n, kDispatchBufferSize - from);
  if (buffer) {
    auto* out = static_cast<uint8_t*>(buffer);
    std::memcpy(out, inBuf_.data() + from, static_cast<size_t>(first));
    std::memcpy(out + first, inBuf_.data(), static_cast<size_t>(n - first));
  }
  if (traceOn_) {
    std::lock_guard main(mainLock_);
    for (int i = 0; i < n; ++i) TraceByte('R', inBuf_[static_cast<size_t>((from + i) % kDispatchBufferSize)]);
  }
  if (availDispatch_) {
    readCount_ += n;
  } else {
    inTail_ = (inTail_ + n) % kDispatchBufferSize;
    inFull_ = false;
    RoomMade();
    int left = (inHead_ - inTail_ + kDispatchBufferSize) % kDispatchBufferSize;
    if (scanPending_ > left) {
      scanPos_ = inTail_;
      scanPending_ = left;
    }
    InputConsumed();
  }
  return n;
}

int TQvBaseDispatcher::PeekAt(int n, char& c) {
  std::lock_guard in(inputLock_);
  if (inBuf_.empty() || n < 1) return ecBufferIsEmpty;
  int held = inFull_ ? kDispatchBufferSize : (inHead_ - inTail_ + kDispatchBufferSize) % kDispatchBufferSize;
  if (held < n) return ecBufferIsEmpty;
  c = static_cast<char>(inBuf_[(inTail_ + n - 1) % kDispatchBufferSize]);
  return 0;
}

bool TQvBaseDispatcher::HeldByDispatch() const { return availDispatch_ && !InHandler(); }

int TQvBaseDispatcher::UnreadLocked() const {
  int held = inFull_ ? kDispatchBufferSize : (inHead_ - inTail_ + kDispatchBufferSize) % kDispatchBufferSize;
  return availDispatch_ ? std::max(0, held - readCount_) : held;
}

int TQvBaseDispatcher::InputCount() {
  std::lock_guard in(inputLock_);
  if (inBuf_.empty() || HeldByDispatch()) return 0;
  TopUpOnReaderPass();
  return UnreadLocked();
}

bool TQvBaseDispatcher::HasInput() { return InputCount() > 0; }

int TQvBaseDispatcher::OutputUsed() { return OutputHeld(); }

int TQvBaseDispatcher::OutputFree() { return outQueueSize_ - OutputUsed(); }

int TQvBaseDispatcher::PurgeInput() {
  std::lock_guard in(inputLock_);
  DevPurge(1);
  int held = inFull_ ? kDispatchBufferSize : (inHead_ - inTail_ + kDispatchBufferSize) % kDispatchBufferSize;
  if (availDispatch_) {
    // The dispatch's end gives the bytes up. Until then they are still in the ring: a full ring
    // stays full, or the reader would take it for empty, put new input over the old at head,
    // and the end of the dispatch would move the tail past the new bytes (a modem reply that
    // comes right after a purge in a handler would be lost).
    readCount_ = held;
    largestReadCount_ = std::max(largestReadCount_, held);
  } else {
    inTail_ = inHead_;
    readCount_ = 0;
    scanPos_ = inHead_;
    scanPending_ = 0;
    inFull_ = false;
    RoomMade();
    InputConsumed();
  }
  std::lock_guard main(mainLock_);
  for (auto& t : dataTriggers_) {
    t.Slots.fill(0);
    t.Matched = 0;
  }
  return 0;
}

int TQvBaseDispatcher::SetQueues(int inSize, int outSize) {
  if (inSize <= 0 || outSize <= 0) return ecBadArgument;
  if (!IsOpen()) return ecCommNotOpen;
  if (!DevSetQueues(inSize, outSize)) return ecMemory;
  inQueueSize_ = inSize;
  // The output ring keeps its size until the next open; free space is measured against it.
  outQueueSize_ = std::min<int>(outSize, static_cast<int>(outBuf_.size()));
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Line and signals

int TQvBaseDispatcher::ApplyLineSettings(TQvLineSettings& block) {
  int rc = DevSetState(block);
  if (rc == 0) lastBaud_ = block.BaudRate;
  DriveDtr(dtrState_);
  if (!rs485_) DriveRts(rtsState_);
  return rc;
}

int TQvBaseDispatcher::SetLineParams(uint32_t baud, int parity, int stopBits, int dataBits) {
  TQvLineSettings block;
  uint32_t newBaud;
  int newParity, newData, stopCode;
  {
    std::lock_guard main(mainLock_);
    if (!deviceOpen_.load()) return ecCommNotOpen;
    if (DevGetState(block) != 0) return ecGeneralFailure;
    newData = dataBits == 9 ? block.ByteSize : dataBits;
    newParity = parity == 5 ? block.Parity : parity;
    newBaud = baud == 0 ? block.BaudRate : baud;
    if (stopBits == 3) {
      stopCode = newData == 5 ? kOne5StopBits : block.StopBits;
    } else {
      int sb = stopBits == 0 ? 1 : (stopBits > 2 ? 2 : stopBits);
      stopCode = newData == 5 ? kOne5StopBits : (sb == 1 ? kOneStopBit : kTwoStopBits);
    }
    if (newBaud == block.BaudRate && newParity == block.Parity && newData == block.ByteSize &&
        stopCode == block.StopBits)
      return 0;
  }
  // Let queued output leave at the old speed: wait for the ring, then about 18 characters.
  for (int i = 0; i < 5000 && OutputUsed() > 0; ++i) SleepMs(2);
  {
    std::lock_guard main(mainLock_);
    DevGetState(block);
  }
  uint32_t rate = std::max<uint32_t>(1, TranslateBaud(lastBaud_));
  int bits = block.ByteSize + 2 + (block.Parity != kNoParity ? 1 : 0) + (block.StopBits != kOneStopBit ? 1 : 0);
  int64_t units = static_cast<int64_t>(10000000 / rate) * bits * 18;
  if (units < 10000) units *= 2;
  SleepMs(static_cast<int>((units + 9999) / 10000));
  std::lock_guard main(mainLock_);
  if (DevGetState(block) != 0) return ecGeneralFailure;
  block.BaudRate = newBaud;
  block.Parity = static_cast<uint8_t>(newParity);
  block.ByteSize = static_cast<uint8_t>(newData);
  block.StopBits = static_cast<uint8_t>(stopCode);
  if (newParity != kNoParity) block.Flags |= lfParity;
  else block.Flags &= ~lfParity;
  return ApplyLineSettings(block);
}

int TQvBaseDispatcher::GetLineParams(uint32_t& baud, int& parity, int& stopBits, int& dataBits) {
  TQvLineSettings block;
  std::lock_guard main(mainLock_);
  if (!deviceOpen_.load()) return ecCommNotOpen;
  if (DevGetState(block) != 0) return ecGeneralFailure;
  baud = TranslateBaud(block.BaudRate);
  parity = block.Parity;
  stopBits = block.StopBits == kTwoStopBits ? 2 : 1;
  dataBits = block.ByteSize;
  return 0;
}

int TQvBaseDispatcher::DriveDtr(bool on) {
  std::lock_guard main(mainLock_);
  if (dtrControlled_) return 1;
  if (deviceOpen_.load() && DevEscape(on ? escSetDtr : escClrDtr) < 0) return ecBadArgument;
  dtrState_ = on;
  return 0;
}

int TQvBaseDispatcher::DriveRts(bool on) {
  std::lock_guard main(mainLock_);
  if (rtsControlled_) return 1;
  if (deviceOpen_.load() && DevEscape(on ? escSetRts : escClrRts) < 0) return ecBadArgument;
  rtsState_ = on;
  return 0;
}

int TQvBaseDispatcher::SetSignals(bool dtr, bool rts) {
  int rc = DriveDtr(dtr);
  if (rc < 0) return rc;
  return DriveRts(rts);
}

int TQvBaseDispatcher::SetHardwareFlow(int bufferFull, int bufferResume, int options) {
  if (!(bufferResume <= bufferFull && bufferFull <= inQueueSize_) || bufferResume < 0) return ecBadArgument;
  std::lock_guard main(mainLock_);
  if (!deviceOpen_.load()) return ecCommNotOpen;
  TQvLineSettings block;
  if (DevGetState(block) != 0) return ecGeneralFailure;
  block.Flags &= ~(lfDtrControlMask | lfRtsControlMask | lfOutxCtsFlow | lfOutxDsrFlow);
  dtrControlled_ = rtsControlled_ = false;
  if (options & hfUseDtr) {
    block.Flags |= lfDtrHandshake;
    dtrControlled_ = true;
  } else if (dtrState_) {
    block.Flags |= lfDtrEnable;
  }
  if (options & hfUseRts) {
    block.Flags |= lfRtsHandshake;
    rtsControlled_ = true;
  } else if (rtsState_) {
    block.Flags |= lfRtsEnable;
  }
  if (rs485_) {
    // The kernel switches RTS around each transmission, as the toggle mode does.
    block.Flags = (block.Flags & ~lfRtsControlMask) | lfRtsToggle;
    rtsControlled_ = true;
  }
  block.XoffLim = static_cast<uint16_t>(inQueueSize_ - bufferFull);
  block.XonLim = static_cast<uint16_t>(bufferResume);
  if (options & hfRequireDsr) block.Flags |= lfOutxDsrFlow;
  if (options & hfRequireCts) block.Flags |= lfOutxCtsFlow;
  return ApplyLineSettings(block);
}

int TQvBaseDispatcher::SetSoftwareFlow(int bufferFull, int bufferResume, int options) {
  if (!(bufferResume <= bufferFull && bufferFull <= inQueueSize_) || bufferResume < 0) return ecBadArgument;
  std::lock_guard main(mainLock_);
  if (!deviceOpen_.load()) return ecCommNotOpen;
  TQvLineSettings block;
  if (DevGetState(block) != 0) return ecGeneralFailure;
  // The options name the whole set wanted, so a direction left out is switched off.
  block.Flags &= ~(lfInX | lfOutX);
  if (options & sfReceiveFlow) {
    block.Flags |= lfInX;
    block.XoffLim = static_cast<uint16_t>(inQueueSize_ - bufferFull);
    block.XonLim = static_cast<uint16_t>(bufferResume);
  }
  if (options & sfTransmitFlow) block.Flags |= lfOutX;
  block.XonChar = 17;
  block.XoffChar = 19;
  return ApplyLineSettings(block);
}

int TQvBaseDispatcher::ClearSoftwareFlow() {
  std::lock_guard main(mainLock_);
  if (!deviceOpen_.load()) return ecCommNotOpen;
  TQvLineSettings block;
  if (DevGetState(block) != 0) return ecGeneralFailure;
  block.Flags &= ~(lfInX | lfOutX);
  return ApplyLineSettings(block);
}

int TQvBaseDispatcher::SetFlowChars(char xon, char xoff) {
  std::lock_guard main(mainLock_);
  if (!deviceOpen_.load()) return ecCommNotOpen;
  TQvLineSettings block;
  if (DevGetState(block) != 0) return ecGeneralFailure;
  block.XonChar = static_cast<uint8_t>(xon);
  block.XoffChar = static_cast<uint8_t>(xoff);
  return ApplyLineSettings(block);
}

int TQvBaseDispatcher::GetFlowOptions(int& hwOptions, int& swOptions, char& xon, char& xoff) {
  std::lock_guard main(mainLock_);
  if (!deviceOpen_.load()) return ecCommNotOpen;
  TQvLineSettings block;
  if (DevGetState(block) != 0) return ecGeneralFailure;
  hwOptions = 0;
  if ((block.Flags & lfDtrControlMask) == lfDtrHandshake) hwOptions |= hfUseDtr;
  if ((block.Flags & lfRtsControlMask) == lfRtsHandshake) hwOptions |= hfUseRts;
  if (block.Flags & lfOutxDsrFlow) hwOptions |= hfRequireDsr;
  if (block.Flags & lfOutxCtsFlow) hwOptions |= hfRequireCts;
  swOptions = 0;
  if (block.Flags & lfOutX) swOptions |= sfTransmitFlow;
  if (block.Flags & lfInX) swOptions |= sfReceiveFlow;
  xon = static_cast<char>(block.XonChar);
  xoff = static_cast<char>(block.XoffChar);
  return 0;
}

void TQvBaseDispatcher::RefreshModemDeltas() {
  std::lock_guard main(mainLock_);
  if (!deviceOpen_.load()) return;
  uint8_t lines = DevModemLines() & 0xF0;
  uint8_t changed = static_cast<uint8_t>(((modemStatus_ & 0xF0) ^ lines) >> 4);
  modemStatus_ = static_cast<uint8_t>(lines | (modemStatus_ & 0x0F) | changed);
}

uint8_t TQvBaseDispatcher::ReadModemStatus(uint8_t keepMask) {
  std::lock_guard main(mainLock_);
  RefreshModemDeltas();
  uint8_t status = modemStatus_;
  if (ringSeen_.exchange(false)) status |= msRingDelta;
  modemStatus_ = static_cast<uint8_t>((status & 0xF0) | (status & keepMask & 0x0F));
  return status;
}

uint32_t TQvBaseDispatcher::LineErrors() { return lineErrors_.load(); }

int TQvBaseDispatcher::TakeLineError() {
  uint32_t e = lineErrors_.load();
  if ((e & 0x1F) == 0) return 0;
  lineErrors_.fetch_and(~0x0Fu);
  if (e & leRxOverflow) return 1;
  if (e & leOverrun) return 2;
  if (e & leParity) return 3;
  if (e & leFraming) return 4;
  return 9;
}

bool TQvBaseDispatcher::TakeLineBreak() { return (lineErrors_.fetch_and(~leBreak) & leBreak) != 0; }

int TQvBaseDispatcher::SetRs485(bool on) {
  std::lock_guard main(mainLock_);
  rs485_ = on;
  return 0;
}

void TQvBaseDispatcher::SetOptionBits(uint32_t bits) { optionBits_.fetch_or(bits); }
void TQvBaseDispatcher::ClearOptionBits(uint32_t bits) { optionBits_.fetch_and(~bits); }

void TQvBaseDispatcher::BoostThreads(int8_t boost) {
  // Threads run at the normal time-sharing priority on this platform; the value is kept for
  // whoever asks.
  threadBoost_ = boost;
}

int TQvBaseDispatcher::SetUserPointer(void* p, int slot) {
  if (slot < 1 || slot > 3) return ecBadArgument;
  std::lock_guard main(mainLock_);
  userPointers_[slot - 1] = p;
  return 0;
}

void* TQvBaseDispatcher::GetUserPointer(int slot) {
  if (slot < 1 || slot > 3) return nullptr;
  std::lock_guard main(mainLock_);
  return userPointers_[slot - 1];
}

int TQvBaseDispatcher::SetDispatchBusy(bool value, bool& previous) {
  bool released;
  {
    std::lock_guard main(mainLock_);
    auto self = std::this_thread::get_id();
    auto it = std::find(dispatchHolders_.begin(), dispatchHolders_.end(), self);
    previous = it != dispatchHolders_.end();
    if (value && !previous) dispatchHolders_.push_back(self);
    if (!value && previous) dispatchHolders_.erase(it);
    holdCount_.store(static_cast<int>(dispatchHolders_.size()));
    released = !value && previous && dispatchHolders_.empty();
  }
  // Input that came during the hold is announced, and due timers fire, without waiting for a
  // long sleep to end.
  if (released) RecheckWait();
  return 0;
}

}  // namespace qv::comm
