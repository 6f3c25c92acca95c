#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/dispatcher_event.h"
#include "comm/dispatcher_types.h"

namespace qv::comm {

class TQvBaseDispatcher;

// Receives trigger messages on the UI thread; the port component's notification window is one.
// Dispatchers hold windows by shared pointer so a message still queued when the port goes away
// never reaches a freed object.
class TQvMessageWindow {
 public:
  TQvMessageWindow();
  virtual ~TQvMessageWindow() = default;
  virtual void WindowProc(uint32_t msg, uint32_t wParam, uint32_t lParam) = 0;
  uint32_t Handle() const { return handle_; }

 private:
  uint32_t handle_;
};

// The trace and log buffers of a dispatcher, in transit between two of them.
struct TQvDiagnostics {
  bool Valid = false;
  bool TraceOn = false;
  std::vector<uint8_t> Trace;
  int TraceCapacity = 0, TraceIndex = 0;
  bool TraceWrapped = false;
  bool LogOn = false;
  std::vector<uint8_t> Log;
  int LogHead = 0, LogTail = 0, LogFree = 0;
  int64_t StartMs = 0;
};

// A procedure handler: (message, trigger handle or count, data word + registry index x 65536).
// Called on the dispatcher thread.
using TQvProcHandler = void (*)(uint32_t msg, uint32_t wParam, uint32_t lParam);
// A method handler: the same call with an object.
using TQvMethodCode = void (*)(void* object, uint32_t msg, uint32_t wParam, uint32_t lParam);

// The engine under every serial port: input and output rings, triggers, the reader, dispatcher
// and writer threads, the trace and the dispatch log. Device layers implement the Dev*
// operations. Results: 0 or a negative library code, or a positive handle/count where stated.
//
// A protocol engine drives it like this: take the open port's DispatcherObject(), keep its
// session in a user pointer slot (SetUserPointer), RegisterProcHandler(proc) and find the
// session again inside proc through FindDispatcher(lParam >> 16) (the global list, see
// dispatcher_list.h); NewTimerTrigger / ArmTimerTrigger(h, ticks, ticks != 0),
// NewStatusTrigger(stOutBuffFree or stOutBuffUsed or stModem) / ArmStatusTrigger(h, level, true),
// SetAvailThreshold; ReadChar, HasInput, SendChar, SendBlock, SendString, OutputUsed,
// OutputFree, SetBaudOnly, DriveDtr, DriveRts, PurgeInput, PurgeOutput, CheckCarrier,
// SetSoftwareFlow / ClearSoftwareFlow, and AddLogEntry(dlFax, state subtype, ...) while Logging().
// Handlers run with no dispatcher lock held and may call anything here, ClosePort included.
class TQvBaseDispatcher {
 public:
  TQvBaseDispatcher();
  virtual ~TQvBaseDispatcher();
  TQvBaseDispatcher(const TQvBaseDispatcher&) = delete;
  TQvBaseDispatcher& operator=(const TQvBaseDispatcher&) = delete;

  // --- life cycle ---
  int OpenPort(const std::string& deviceName, uint32_t baud, int parity, int dataBits, int stopBits,
               int inSize, int outSize, bool dtr, bool rts);
  // Closes the port. From inside one of this dispatcher's handlers (InHandler) the close cannot
  // wait for the dispatch it is part of: reader and writer stop, the rest of the dispatch is
  // skipped and the dispatcher thread finishes the close when it ends (ClosePending). From any
  // other thread a running dispatch ends its current handler call, runs no further handler, and
  // the close completes before the call returns; only a dispatch still running after
  // dispatchWaitMs (a handler that does not return) leaves the close pending instead.
  static constexpr int kCloseDispatchWaitMs = 5000;
  int ClosePort(int dispatchWaitMs = kCloseDispatchWaitMs);
  bool IsOpen() const { return handle_.load() != -1; }
  int Handle() const { return handle_.load(); }
  int RegistryIndex() const { return registryIndex_; }
  void* Owner() const { return owner_; }
  void SetOwner(void* owner) { owner_ = owner; }
  int InSize() const { return inQueueSize_; }
  int OutSize() const { return outQueueSize_; }
  bool ThreadsRunning() const { return threadsRunning_.load(); }
  int RunningThreadCount() const { return threadCount_.load(); }
  // A dispatch is running or some thread holds dispatching off (SetDispatchBusy).
  bool InDispatch() const { return dispatching_.load() || holdCount_.load() > 0; }
  // The calling thread is inside a call of one of this dispatcher's handlers: a procedure or
  // method handler on the dispatcher thread, or a window or main-thread handler a dispatch sent
  // to the UI thread (the dispatcher thread waits for it). InDispatch cannot tell this from a
  // dispatch running while another thread asks.
  bool InHandler() const;
  bool ClosePending() const { return closePending_.load(); }
  // True once the device reported a hang-up (it went away); device layers that can tell say so.
  virtual bool HungUp() const { return false; }

  // --- data ---
  int SendBlock(const void* data, int count);
  int SendChar(char c) { return SendBlock(&c, 1); }
  int SendString(const std::string& s) { return SendBlock(s.data(), static_cast<int>(s.size())); }
  int ReadChar(char& c);
  // Block forms of ReadChar for readers of bulk data: PeekBlock copies up to max unread bytes
  // without taking them; ReadBlock takes up to max bytes (into buffer, or dropped when buffer
  // is null) exactly as that many ReadChar calls would, in one lock. Both return the count.
  int PeekBlock(void* buffer, int max);
  int ReadBlock(void* buffer, int max);
  int PeekAt(int n, char& c);
  bool HasInput();
  int InputCount();
  int OutputUsed();
  int OutputFree();
  int PurgeInput();
  int PurgeOutput() { return DevPurge(0); }

  // --- line and signals ---
  int SetLineParams(uint32_t baud, int parity, int stopBits, int dataBits);
  int SetBaudOnly(uint32_t baud) { return SetLineParams(baud, 5, 3, 9); }
  int GetLineParams(uint32_t& baud, int& parity, int& stopBits, int& dataBits);
  int DriveDtr(bool on);
  int DriveRts(bool on);
  int SetSignals(bool dtr, bool rts);
  bool DtrState() const { return dtrState_; }
  bool RtsState() const { return rtsState_; }
  int SetHardwareFlow(int bufferFull, int bufferResume, int options);
  int SetSoftwareFlow(int bufferFull, int bufferResume, int options);
  int ClearSoftwareFlow();
  int SetFlowChars(char xon, char xoff);
  int GetFlowOptions(int& hwOptions, int& swOptions, char& xon, char& xoff);
  uint8_t ReadModemStatus(uint8_t keepMask);
  bool CheckCarrier() { return (ReadModemStatus(0xF7) & msDcd) != 0; }
  int TakeLineError();
  bool TakeLineBreak();
  uint32_t LineErrors();
  int SetRs485(bool on);
  bool Rs485() const { return rs485_; }
  void SetOptionBits(uint32_t bits);
  void ClearOptionBits(uint32_t bits);
  uint32_t OptionBits() const { return optionBits_.load(); }
  // Resize the driver queues (the output ring keeps its size until the next open).
  int SetQueues(int inSize, int outSize);

  // --- triggers ---
  int NewTimerTrigger();
  int NewStatusTrigger(int kind);
  int NewDataTrigger(const std::string& pattern, bool ignoreCase);
  int ArmTimerTrigger(int handle, int32_t ticks, bool activate);
  int ArmStatusTrigger(int handle, uint16_t value, bool activate);
  int SetAvailThreshold(int n);
  int AvailThreshold();
  // Bulk input that nobody answers byte by byte (a fax page's data): while arrivals come closer
  // together than ms, the reader, once it has read the device dry, lets them gather for ms before
  // it reads again, rather than waking (and running a dispatch) for every piece the driver hands
  // up. Arrivals further apart are read at once. 0, the default, reads each arrival at once. A
  // ring made room in and every device event other than arrivals still wake the reader at once;
  // a change takes effect at once.
  void SetInputPace(int ms);
  int DeleteTrigger(int handle);
  void SnapshotTriggers(TQvTriggerSet& set);
  void ReinstateTriggers(const TQvTriggerSet& set);
  // The dispatcher thread checks timer and status triggers at least every kTriggerPollMs. While
  // nothing but timer triggers can fire (no status trigger armed, no input left unannounced, no
  // hold, not polling) it sleeps until the earliest timer is due instead, at most kIdleWaitMaxMs,
  // so an idle port does not wake twenty times a second. Whatever changes that (arming a trigger,
  // setting the threshold, giving a hold back, closing, the polling switch) calls RecheckWait,
  // which makes a sleeping dispatcher thread work out its wait again.
  static constexpr int kTriggerPollMs = 50;
  static constexpr int kIdleWaitMaxMs = 1000;
  void RecheckWait();
  // How often, since the port opened, the reader came back from its device wait and the
  // dispatcher thread from its own wait. Every wake-up is a thread switch and costs CPU whatever
  // it finds, so an idle port (or one whose full ring waits for the application) must add next
  // to nothing here. Counted, not timed, so a test or benchmark can tell a polling or spinning
  // thread from a sleeping one on a loaded machine.
  // ReaderPasses: arrivals of bytes the reader dispatched itself (see ReaderDispatch).
  struct TQvWakeCounts {
    uint64_t Reader = 0;
    uint64_t Dispatcher = 0;
    uint64_t ReaderPasses = 0;
  };
  // The dispatch running now runs on the reader (see ReaderDispatch): until it ends, nothing new
  // comes back from the device wait; a handler that looks for input gets the driver read then.
  bool ReaderDispatching() const { return readerInPass_.load(); }
  TQvWakeCounts WakeCounts() const { return {readerWakes_.load(), dispatcherWakes_.load(), readerPasses_.load()}; }
  // Tests lengthen the longest sleep so that a missing wake-up shows as a trigger that never
  // comes instead of one that comes a second late.
  static void SetIdleWaitLimitForTesting(int ms);

  // --- handlers ---
  int RegisterWindowHandler(std::shared_ptr<TQvMessageWindow> window);
  int UnregisterWindowHandler(const TQvMessageWindow* window);
  int RegisterProcHandler(TQvProcHandler proc);
  int UnregisterProcHandler(TQvProcHandler proc);
  int RegisterMethodHandler(TQvMethodCode code, void* object, bool runInMainThread);
  // After it returns the handler is not called again. With waitForCall it also waits for a call
  // of it that is running on the dispatcher thread (never from inside that call itself), so the
  // object may be freed at once; a main-thread handler's call that has not started yet is
  // skipped instead.
  int UnregisterMethodHandler(TQvMethodCode code, void* object, bool waitForCall = true);
  void RecomputeHandlerFlags(int how);
  bool HandlersActive() const { return handlersActive_.load(); }
  bool ForceNotify() const { return forceNotify_.load(); }
  // Holds trigger dispatching off for the calling thread (value true) or gives its hold back.
  // `previous` is the calling thread's own hold before the call, so the save-and-restore
  // pattern nests on one thread and can never take over another thread's hold or a running
  // dispatch's state.
  int SetDispatchBusy(bool value, bool& previous);
  int SetUserPointer(void* p, int slot);
  void* GetUserPointer(int slot);

  // --- threads ---
  virtual void StartThreads();
  virtual void StopThreads();
  virtual void ReleasePort();
  void BoostThreads(int8_t boost);
  int8_t ThreadBoost() const { return threadBoost_; }

  // --- trace and dispatch log ---
  int BeginTrace(int entries);
  void PauseTrace();
  void ResumeTrace();
  void ClearTrace();
  int WriteTraceFile(const std::string& fileName, bool append, bool hex);
  void EndTrace();
  bool Tracing();
  void TraceByte(char kind, uint8_t byte);
  int BeginLog(int bytes);
  void PauseLog();
  void ResumeLog();
  void ClearLog();
  int WriteLogFile(const std::string& fileName, bool append, bool hex);
  void EndLog();
  bool Logging();
  void AddLogEntry(uint8_t type, uint8_t subtype, uint32_t dataLength, const void* data, uint32_t value);
  uint32_t ElapsedMs() const;
  // Takes out or puts back the trace and log buffers (with the log's time base), so a port that
  // changes its device keeps one continuous history.
  TQvDiagnostics TakeDiagnostics();
  void PutDiagnostics(TQvDiagnostics&& diagnostics);
  // The clock the log's time stamps come from (steady milliseconds); tests fix it.
  static void SetLogClockForTesting(int64_t (*clock)());
  static int64_t LogClockMs();

  // The trace file text for recorded (kind, byte) entries, and the text of one log's entries.
  static std::string FormatTrace(const std::vector<uint8_t>& entries, bool hex);

 protected:
  // --- device operations ---
  virtual int DevEscape(int func) = 0;
  virtual int DevPurge(int queue);  // the base handles the output ring and the writer hand-shake
  virtual uint32_t DevClearErrors(TQvDeviceStatus& status) = 0;
  // The line errors since the last look, without asking how much input waits: what moving
  // input needs on every arrival (a driver that has nothing to report answers without a call).
  virtual uint32_t DevTakeErrors() {
    TQvDeviceStatus status;
    return DevClearErrors(status);
  }
  virtual int DevEventHook(int mask) { (void)mask; return 0; }
  virtual int DevGetState(TQvLineSettings& block) = 0;
  virtual int DevRead(uint8_t* buffer, int count) = 0;
  virtual int DevSetState(const TQvLineSettings& block) = 0;
  virtual int DevWrite(const uint8_t* data, int count);  // into the output ring; wakes the writer
  // Called with the output ring empty: writes what the device takes at once without waiting and
  // returns that count (0 when it takes nothing now or refuses: the writer then meets the refusal
  // as it always does). The default takes nothing; every block goes through the writer.
  virtual int DevWriteNow(const uint8_t* data, int count) { (void)data; (void)count; return 0; }
  // Waits for the next device event; mask = the events seen (0 after a wake-up or a quiet
  // time-out). False ends the reader.
  virtual bool DevWaitEvent(uint32_t& mask) = 0;
  virtual bool DevSetQueues(int inSize, int outSize) = 0;
  virtual int DevOpen(const std::string& name, int inSize, int outSize) = 0;
  virtual int DevClose() = 0;
  virtual int DevIdle();
  // What the writer needs below the ring: write one block to the device. Returns the bytes taken
  // (>= 0), kWriteFailed when the device refuses (the block is dropped) or kWriteInterrupted when
  // abort() turned true while the device was not ready (flush or shutdown).
  static constexpr int kWriteFailed = -1;
  static constexpr int kWriteInterrupted = -2;
  virtual int DevWriteBlock(const uint8_t* data, int count, const std::atomic<bool>& abort) = 0;
  // Ends a pending DevWaitEvent at once (the reader then sees the kill flag).
  virtual void DevCancelWait() = 0;
  // Current modem line states (high nibble of the modem status byte).
  virtual uint8_t DevModemLines() = 0;
  // Bytes the device still holds for output below the output ring.
  virtual uint32_t DevOutputPending() { return 0; }
  virtual void DevDiscardOutput() {}

  // Helpers for device layers.
  uint32_t OutputRingFill();  // under the output lock
  // For the device wait on the reader thread: how long arrivals are still left to gather (ms,
  // 0 = look now), or -1 when the reader watches each arrival (no pace, or none running).
  int InputPaceWaitMs() const;
  bool MoreInputWaiting() const { return moreInputWaiting_.load(); }
  bool KillThreads() const { return killThreads_.load(); }
  // Derived destructors call this first, while their device operations still exist.
  void Shutdown();

  friend class TQvDispatcherThread;
  friend class TComThread;
  friend class TDispThread;
  friend class TOutThread;

 private:
  struct WindowEntry {
    std::shared_ptr<TQvMessageWindow> Window;
    bool Deleted = false;
  };
  struct ProcEntry {
    TQvProcHandler Proc = nullptr;
    bool Deleted = false;
  };
  struct MethodEntry {
    TQvMethodCode Code = nullptr;
    void* Object = nullptr;
    bool Deleted = false;
    bool RunInMainThread = false;
  };
  struct LogHeader;
  enum class CheckResult { Nothing, Dispatched, Refused };

  // threads
  void ReaderExecute();
  void DispatcherExecute();
  void WriterExecute();
  void ThreadGone(int which);
  // Waits (pumping the UI thread's loop when called there) until the named threads have ended,
  // at most timeoutMs when that is not negative; true when they have.
  bool WaitThreadsGone(bool reader, bool writer, bool dispatcher, int timeoutMs = -1);
  // Dispatching stops: a close is pending or the threads are told to end.
  bool Closing() const { return closePending_.load() || killThreads_.load(); }
  void JoinFinishedThreads();
  void SignalKill();

  // dispatcher thread work
  int DispatcherWaitMs();
  void ProcessDeviceEvent(uint32_t mask);
  void TimerAndStatusPass();
  void RunStatusLoop();
  void ClearFiredFlags();
  bool CheckStatusTriggers(bool& fired);
  bool CheckTimerTriggers(bool& fired);
  CheckResult CheckAvailAndData();
  // Moves what the driver holds into the ring; the bytes moved.
  int FillInputRing();
  // One return of the reader from its device wait; false when the dispatcher thread has nothing
  // new to look at.
  bool ReaderWoke(uint32_t& mask);
  // Runs the dispatch of an arrival of bytes on the reader itself, when it can do so at once:
  // the dispatcher thread would otherwise wake for every arrival only to run it (two thread
  // switches per arrival instead of one, the largest cost of a port receiving page data).
  // Only plain arrivals, while no other pass runs, nothing holds dispatching off, and every
  // handler runs on the dispatching thread (window and main-thread handlers are sent to the UI
  // thread, whose ClosePort must not wait for a reader blocked in that send). False when it
  // was left to the dispatcher thread.
  bool ReaderDispatch(uint32_t mask);
  // The calling thread is this port's reader running a dispatch pass.
  bool OnReaderPass() const;
  void UpdateReaderMayDispatch();  // after any change of handlers or of forced notifying
  // Inside a reader pass, the driver is read before a handler is told the ring holds nothing
  // more: with the dispatcher thread running the pass, the reader would have moved it up
  // meanwhile (input lock held).
  void TopUpOnReaderPass();
  int UnreadLocked() const;  // bytes a read would find now (input lock)
  void RoomMade();  // the ring gave up bytes (input lock)
  // Bytes left the ring (input lock): input consumed counts as announced, so the dispatcher
  // thread does not keep looking for bytes that are already gone.
  void InputConsumed();
  void RefreshModemDeltas();
  void RefreshDeviceStatus(TQvDeviceStatus& status);
  // As RefreshDeviceStatus without the output side (OutQue stays 0).
  void RefreshInputStatus(TQvDeviceStatus& status);
  // What the output ring and the driver still hold, capped at the output queue's size: the
  // output side of RefreshDeviceStatus alone (a writer asks it per block; the input side would
  // cost it a driver call each time for nothing).
  int OutputHeld();
  bool Dispatch(uint32_t msg, uint32_t wParam, uint32_t data);
  void Drain();
  int ApplyLineSettings(TQvLineSettings& block);
  int FreshHandle();
  bool HandleInUse(int handle) const;
  void ClearTriggers();
  bool MatchDataTrigger(TQvDataTrigger& t, uint8_t byte);
  void LogTriggerKind(DispatchLogType type, int handle, int kind);
  void ResetState();

  // identity
  int registryIndex_ = -1;
  void* owner_ = nullptr;
  std::atomic<int> handle_{-1};

  // line state
  std::atomic<uint32_t> lineErrors_{0};
  std::atomic<int> inQueueSize_{0};
  std::atomic<int> outQueueSize_{0};
  uint8_t modemStatus_ = 0;  // main lock
  TQvDeviceStatus status_;
  uint32_t lastBaud_ = 115200;
  std::atomic<uint32_t> optionBits_{0};
  bool dtrState_ = true, dtrControlled_ = false;
  bool rtsState_ = true, rtsControlled_ = false;
  bool rs485_ = false;
  uint16_t baseAddress_ = 0;

  // handlers (main lock)
  std::atomic<bool> forceNotify_{false};
  std::atomic<bool> handlersActive_{false};
  std::vector<WindowEntry> windows_;
  std::vector<ProcEntry> procs_;
  std::vector<MethodEntry> methods_;

  // triggers (main lock)
  std::vector<TQvTimerTrigger> timers_;
  std::vector<TQvDataTrigger> dataTriggers_;
  std::vector<TQvStatusTrigger> statusTriggers_;
  int handleCounter_ = 1;
  int scanPos_ = 0;                         // input lock
  int scanPending_ = 0;                     // bytes received but not yet scanned (input lock)
  std::atomic<int32_t> availThreshold_{0};
  // Where the avail trigger last fired, counted in bytes ever put into the ring rather than as a
  // ring index: a ring's worth of new input ends at the same index and must not look old.
  // 0 before any input: nothing is left unannounced, and every held byte counts from 1.
  uint64_t lastAvailTotal_ = 0;                // input lock
  uint64_t inTotal_ = 0;                       // bytes ever put into the input ring (input lock)
  uint64_t TotalThrough(int pos) const;        // inTotal_ as it was once the byte at pos came
  bool statusFired_ = false;

  // dispatch accounting (input lock)
  // While a dispatch announces input, the announced bytes belong to its handlers: they read
  // them through a view (readCount_) and the dispatch's end takes what they read off the ring.
  // A read from outside the handlers meanwhile (the application's own thread, or the UI thread
  // before it has run the handler) finds nothing until the dispatch ends: through the view it
  // would not be counted and the bytes would come again, and taken off the ring it would shift
  // what the handlers see and what the dispatch's end removes. Callers hold inputLock_.
  bool HeldByDispatch() const;
  bool availDispatch_ = false;
  int readCount_ = 0;
  int largestReadCount_ = 0;

  // input ring (input lock)
  std::vector<uint8_t> inBuf_;
  int inHead_ = 0, inTail_ = 0;
  bool inFull_ = false;
  // The driver holds bytes the full ring could not take. Set only while the ring is full, so
  // whatever makes room (ReadChar, ReadBlock, PurgeInput, the end of a dispatch) calls RoomMade,
  // which wakes the reader to move them up; the reader does not watch the device for input
  // meanwhile (it would report the same waiting bytes again and again).
  std::atomic<bool> moreInputWaiting_{false};
  // SetInputPace; the reader's end of the current gathering time (steady ms, 0 = none) and when
  // it last moved bytes up. Only the reader thread uses the last two.
  std::atomic<int> inputPaceMs_{0};
  int64_t paceUntilMs_ = 0;
  int64_t lastArrivalMs_ = 0;
  void NoteArrival(bool gathered);

  // output ring (output lock)
  std::vector<uint8_t> outBuf_;
  int outHead_ = 0, outTail_ = 0;
  bool outFull_ = false;
  // SendBlock holds the writer's wake-up until it lets go of outputLock_ (both under it).
  bool outputWakeHeld_ = false;
  bool outputWakePending_ = false;

  // threads
  std::thread reader_, dispThread_, writer_;
  std::atomic<bool> readerRunning_{false}, dispRunning_{false}, writerRunning_{false};
  std::atomic<std::thread::id> dispThreadId_{};
  std::atomic<std::thread::id> readerThreadId_{};
  std::atomic<bool> readerInPass_{false};  // the reader is running a dispatch pass
  std::atomic<int> passThreadsLeft_{0};    // reader and dispatcher thread not yet gone
  std::atomic<bool> killThreads_{false};
  std::atomic<int> threadCount_{0};
  std::atomic<bool> threadsRunning_{false};
  std::atomic<bool> releaseAfterDispThread_{false};
  int8_t threadBoost_ = 0;
  std::atomic<bool> released_{true};
  std::atomic<bool> deviceOpen_{false};  // the device itself, closed only once no thread uses it
  std::mutex goneMutex_;
  std::mutex joinMutex_;
  std::condition_variable goneCv_;

  // events
  TQvEventGroup eventGroup_;
  TQvEvent inputEvent_{eventGroup_, false};
  TQvEvent generalEvent_{eventGroup_, false};
  TQvEvent outputEvent_{eventGroup_, false};
  TQvEvent flushEvent_{eventGroup_, false};
  TQvEvent flushAck_{eventGroup_, false};
  TQvEvent recheckEvent_{eventGroup_, false};  // another thread changed what the wait depends on
  std::atomic<bool> longWait_{false};          // the dispatcher thread may sleep past kTriggerPollMs
  std::atomic<bool> writerAbort_{false};
  std::atomic<uint32_t> lastEventMask_{0};
  std::atomic<bool> ringSeen_{false};
  std::atomic<uint64_t> readerWakes_{0}, dispatcherWakes_{0}, readerPasses_{0};
  // One dispatch pass (a device event's dispatch, or the timer and status pass) at a time, on
  // whichever thread runs it: the dispatcher thread waits for it, the reader only tries.
  std::mutex passMutex_;
  // When the dispatcher thread's current sleep ends (steady clock, ms; kWakeUnknown while it is
  // working the wait out). A reader pass that armed a trigger wakes it only if it must come
  // sooner than that.
  static constexpr int64_t kWakeUnknown = INT64_MAX;
  std::atomic<int64_t> dispWakeDueMs_{kWakeUnknown};
  bool recheckAfterPass_ = false;  // the reader's own: a trigger changed during its pass
  std::atomic<bool> readerMayDispatch_{false};  // main-lock writes, see ReaderDispatch

  // the method handler call in progress (callMutex_), for unregistering with a wait
  std::mutex callMutex_;
  std::condition_variable callEnded_;
  TQvMethodCode runningCode_ = nullptr;
  void* runningObject_ = nullptr;
  std::thread::id runningThread_{};
  bool MethodRegistered(TQvMethodCode code, void* object);

  // dispatch state
  std::atomic<bool> dispatching_{false};            // the dispatcher thread is in Dispatch()
  std::vector<std::thread::id> dispatchHolders_;  // threads holding dispatching off (main lock)
  std::atomic<int> holdCount_{0};                 // dispatchHolders_.size()
  bool purgePending_ = false;  // main lock
  std::atomic<bool> closePending_{false};
  std::atomic<bool> outputWritten_{false};
  void* userPointers_[3] = {nullptr, nullptr, nullptr};

  // diagnostics (main lock)
  std::atomic<bool> traceOn_{false};
  std::vector<uint8_t> trace_;
  int traceCapacity_ = 0;
  int traceIndex_ = 0;
  bool traceWrapped_ = false;
  std::atomic<bool> logOn_{false};
  std::vector<uint8_t> log_;
  int logHead_ = 0, logTail_ = 0, logFree_ = 0;
  std::vector<uint8_t> logScratch_;
  std::atomic<int64_t> startMs_{0};

  // locks
  mutable std::recursive_mutex mainLock_;
  mutable std::recursive_mutex outputLock_;
  mutable std::recursive_mutex inputLock_;
};

}  // namespace qv::comm
