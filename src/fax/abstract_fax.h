#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/error_codes.h"
#include "fax/fax_channel.h"
#include "fax/fax_class.h"
#include "fax/fax_log.h"
#include "fax/fax_status.h"
#include "fax/modem_responses.h"
#include "fax/t30_frames.h"

namespace qv::comm {
class TQvComPort;
}

namespace qv::fax {

// The dispatch log names a session's state by subtype base + state (the text table's 15100 + subtype).
inline constexpr int kTransmitLogBase = 30;
inline constexpr int kReceiveLogBase = 79;
// Transmit states added after tfDone log after the receive states.
inline constexpr int kTransmitEcmLogBase = 117;
// Receive states added after rfDone log after those.
inline constexpr int kReceiveEcmLogBase = 122;

// Sessions end with the library's codes of core/error_codes.h, under their one name there; a
// port whose device has gone (unplugged, switched off) ends the session with ecDeviceReadError.

// Ticks (55 ms) used by the sessions.
inline constexpr int kCommandTimeoutTicks = 182;
inline constexpr int kDialWaitTicks = 1092;
inline constexpr int kPageTimeoutTicks = 1092;

// T.30's turn-round: a station starts transmitting 75 ms (+-20) after the end of the signal it
// received (a command or response frame, or the page's carrier). The modem's OK marks that end,
// so a transmit command follows it by this much. A longer wait is line time lost on every turn.
inline constexpr int kTurnaroundMs = 75;
// A post-page command sent again (no answer, or a garbled one) waits longer: the far end may
// still be answering the first.
inline constexpr int kPostPageRepeatMs = 500;

// Messages from the engine to its component (delivered on the UI thread).
inline constexpr int kAbortRequest = 0x7EA0;

// The run-time figures a status message shows, as the component's getters answered when the
// message was sent. Status messages are posted (the machine does not wait for the UI thread), so
// while one is handled the getters answer from this copy, not from a machine that has moved on.
struct FaxStatusFigures {
  int status = 0;
  int page = 0;
  int pageShown = 0;  // transmitter: the page as the far side counts it
  bool coverInProgress = false;
  int totalPages = 0;
  int pageLength = 0;
  long bytes = 0;
  std::string remoteId;
  std::string faxFile;
  int connectBps = 0;
  bool fine = false, wide = false, ecm = false;
  LineCoding coding = LineCoding::MH;
  long framesResent = 0;
  int dialAttempt = 0;
  TFaxClass sessionClass = fcUnknown;
  int hangupCode = 0;
  int lastError = 0;
};

// Shared part of the transmit and receive components: properties, session record, the
// command primitives and the driving of a state machine on the port's dispatcher.
class TQvAbstractFax {
 public:
  using StatusEvent = std::function<void(TQvAbstractFax* cp, bool first, bool last)>;
  using CodeEvent = std::function<void(TQvAbstractFax* cp, int code)>;

  TQvAbstractFax();
  virtual ~TQvAbstractFax();
  TQvAbstractFax(const TQvAbstractFax&) = delete;
  TQvAbstractFax& operator=(const TQvAbstractFax&) = delete;

  // Published properties.
  int InitBaud() const { return initBaud_; }
  void SetInitBaud(int baud);
  int NormalBaud = 0;
  TFaxClass FaxClass = fcDetect;
  const std::string& ModemInit() const { return modemInit_; }
  void SetModemInit(const std::string& init);
  std::string StationID;
  comm::TQvComPort* ComPort() const { return comPort_; }
  void SetComPort(comm::TQvComPort* port);
  TQvAbstractFaxStatus* StatusDisplay() const { return statusDisplay_; }
  void SetStatusDisplay(TQvAbstractFaxStatus* display);
  TQvFaxLog* FaxLog() const { return faxLog_; }
  void SetFaxLog(TQvFaxLog* log);
  // The history entry of one of this side's log events, as the fax log writes it ("" for an
  // event the side does not send).
  virtual std::string FaxLogEntry(TFaxLogCode /*code*/) const { return {}; }
  // A linked log or status display is going away: forget it.
  void ComponentRemoved(const void* component);
  virtual std::string FaxFile() const {
    if (const FaxStatusFigures* f = Shown()) return f->faxFile;
    std::lock_guard lock(remoteIdMutex_);
    return faxFile_;
  }
  virtual void SetFaxFile(const std::string& name) {
    std::lock_guard lock(remoteIdMutex_);
    faxFile_ = name;
  }
  bool AbortNoConnect = false;
  bool ExitOnError = false;
  bool SoftwareFlow = false;
  uint16_t StatusInterval = 1;
  uint16_t DesiredBPS = 9600;
  bool DesiredECM = false;
  // The best page coding this side offers on the line (MMR only with error correction); the call
  // uses the best both ends and the modem allow.
  LineCoding DesiredCoding = LineCoding::MMR;
  std::string FaxFileExt;
  StatusEvent OnFaxStatus;
  CodeEvent OnFaxLog;
  CodeEvent OnFaxError;
  CodeEvent OnFaxFinish;

  // Run-time state. While a status message is handled these answer as when it was sent.
  int ProgressCode() const { return Shown() ? Shown()->status : status_.load(); }
  std::string RemoteID() const;
  int ConnectBPS() const { return Shown() ? Shown()->connectBps : SpeedBps(speedIndex_); }
  bool SessionFine() const { return Shown() ? Shown()->fine : sessionFine_; }
  bool SessionWide() const { return Shown() ? Shown()->wide : sessionWide_; }
  bool SessionECM() const { return Shown() ? Shown()->ecm : sessionEcm_; }
  // The page coding the call negotiated (MH before a session has one).
  LineCoding SessionCoding() const { return Shown() ? Shown()->coding : sessionCoding_.load(); }
  int CurrentPage() const { return Shown() ? Shown()->page : page_.load(); }
  virtual int TotalPages() const { return Shown() ? Shown()->totalPages : totalPages_.load(); }
  virtual int PageLength() const { return Shown() ? Shown()->pageLength : pageLength_.load(); }
  virtual long BytesTransferred() const { return Shown() ? Shown()->bytes : bytesTransferred_.load(); }
  int HangupCode() const { return Shown() ? Shown()->hangupCode : hangupCode_.load(); }
  int LastError() const { return Shown() ? Shown()->lastError : lastError_.load(); }
  static std::string StatusText(int code) { return qv::fax::StatusText(code); }
  TFaxClassSet ModemClasses();
  bool Active() const { return active_; }
  TFaxClass SessionClass() const { return Shown() ? Shown()->sessionClass : class_; }
  void AbortFax();

  // A channel other than the port's (the port layer normally supplies it); the component
  // takes ownership. Used by tools that drive a modem over something other than TQvComPort.
  void SetChannel(std::unique_ptr<FaxChannel> channel);

 protected:
  // PortLost: the device behind the port has gone; the call and the session end at once.
  enum class Ev { None, Start, Data, Timeout, OutFree, OutEmpty, Abort, PortLost };
  enum class Next { Again, Wait, IfInput };
  enum class ReadResult { None, Line, Frame };

  // One row of a side's state table: the state's entry (its name for the dispatch log) and its
  // handler, for events (a state that runs at once or on port events) or for modem lines.
  template <class Side, class Info>
  struct StateRow {
    Info info;
    Next (Side::*onEvent)(Ev ev);
    Next (Side::*onLine)(const std::string& line, bool ok);
  };
  // A table is in order when row i is the row of state i. Each row has exactly one handler by
  // construction (a side's tables make their rows with an event or a line maker, never by hand);
  // comparing member-function pointers is not a constant expression under the sanitizers.
  template <class Row, size_t N>
  static constexpr bool RowsInOrder(const Row (&rows)[N]) {
    for (size_t i = 0; i < N; ++i)
      if (static_cast<size_t>(rows[i].info.state) != i) return false;
    return true;
  }

  // The figures of the status message being handled on this thread, when it is this component's
  // (null otherwise, and always on the machine's own thread).
  const FaxStatusFigures* Shown() const;
  // The figures a status message sent now carries; a side adds its own (on the machine's thread).
  virtual FaxStatusFigures StatusFigures() const;

  // The side's state machine step; runs with the machine lock held.
  virtual Next Step(Ev ev) = 0;
  // The dispatch-log entry of the state about to run: its subtype names the state, and its value
  // is what the side wants to show beside it.
  virtual int DispatchLogSubtype() const = 0;
  virtual int DispatchLogValue() { return 0; }
  virtual void HangUp() = 0;
  virtual void OnFinished(int /*code*/) {}
  virtual void ClearFaxFileAfterLog() {}
  // Brings run-time figures (such as the bytes sent) up to date before a status goes out; runs
  // on the machine's thread.
  virtual void RefreshProgress() {}
  // The port stopped taking bytes and part of a send was dropped: end the call.
  virtual Next SendStalled() = 0;

  // Ends the component's part in a running call before anything of it is freed: no handler
  // call runs after it returns and queued messages to the component are dropped. Derived
  // destructors call it first (their members go before the base destructor runs); idempotent.
  void Retire();
  bool Retiring() const { return retiring_.load(); }

  // Start: port checks, triggers, preparation, first machine call.
  void StartSession(const std::function<int()>& prepare);
  void FinishSession();

  // Component messages (run on the UI thread through the message loop). A status is posted with
  // its figures (the machine goes on at once); a log entry or an error is sent, and the machine
  // waits for it (bounded), as their handlers read and change the session's files.
  void SendStatus(bool first, bool last);
  void SendLog(TFaxLogCode code);
  void SendError(int code);
  void Notify(const std::function<void()>& fn);

  // Primitives.
  void ModemCommand(const std::string& text, int pauseMs = 100);
  // 0 failure, 1 answered OK, 2 answered with another line followed by one more.
  int ModemCommandWait(const std::string& text, std::string* info = nullptr);
  // Sends a command outside the machine (the caller holds the dispatcher's handler off) and hands
  // each answer line (trimmed, not empty) to onLine until it returns true, the command time-out
  // passes (restarted at quietTicks after each other line when quietTicks > 0), the component
  // retires or the port goes.
  void ReadCommandAnswer(const std::string& command, int quietTicks,
                         const std::function<bool(const std::string&)>& onLine);
  bool QueryClass1Speeds(bool transmit);
  // Class 2/2.0: the page codings the modem lists in its capability range (+FCC=?/+FDCC=?). A
  // modem that does not answer is taken to code MH only.
  void QueryClass2Codings();
  // The DF of the Class 2/2.0 capability commands: the best coding DesiredCoding and the modem
  // allow, MMR only with DesiredECM.
  char Class2DfCode() const;
  // The coding a Class 2/2.0 session report names (DF), MH for one we never offer.
  static LineCoding CodingOfDf(int df);
  int DetectClass(bool withInit);
  bool InitialiseModem();
  void SwitchToNormalRate();
  void SwitchToCommandRate();
  void SendFrame(const std::vector<uint8_t>& frame);
  void SendBytes(const uint8_t* data, size_t n);
  void SendText(const std::string& text);
  void ArmTimeout(int ticks);
  void StopTimeout();
  void PauseMs(int ms);
  ReadResult ReadLine();
  void ClearLine();
  // Page data is read in bulk: arrivals may gather for kPageInputPaceMs before they are handed
  // up (a wake-up per gathering, not per piece the driver passes on as the line delivers it).
  // Nothing waits on page data that soon: its end is answered only after the far end's pause and
  // a second of V.21 flags. Every reply the machine waits for is read without it; the end of a
  // session turns it off.
  static constexpr int kPageInputPaceMs = 100;
  void PaceInput(bool bulk);
  // The shared part of a step that waits for the modem: a time-out goes to onTimeout; each frame
  // goes to onFrame, which returns true when it moved the machine on (the step ends there); the
  // first text line goes to onLine. With nothing to read the step waits.
  template <class OnTimeout, class OnFrame, class OnLine>
  Next LineStep(Ev ev, OnTimeout&& onTimeout, OnFrame&& onFrame, OnLine&& onLine) {
    if (ev == Ev::Timeout) return onTimeout();
    for (;;) {
      ReadResult r = ReadLine();
      if (r == ReadResult::None) return Next::Wait;
      if (r == ReadResult::Line) return onLine();
      if (onFrame()) return Next::Again;
    }
  }
  std::string BuiltInInit() const { return builtInInit_; }
  void SetStatus(int code) { status_ = code; }

  // Session record.
  std::unique_ptr<FaxChannel> ownedChannel_;
  FaxChannel* ch_ = nullptr;
  int statusTimer_ = 0, timeoutTimer_ = 0, outFreeTrigger_ = 0, outEmptyTrigger_ = 0, statusTrigger_ = 0;
  int state_ = 0;
  int initialState_ = 1;
  std::atomic<int> status_{0};
  bool statusPending_ = false;
  std::atomic<int> lastError_{0};
  int error_ = 0;
  TFaxClass class_ = fcUnknown;
  std::string remoteId_;
  mutable std::mutex remoteIdMutex_;
  std::string phoneNumber_;
  std::string faxFile_;
  std::string coverFile_;
  std::atomic<int> page_{0};
  std::atomic<int> totalPages_{0};
  std::atomic<int> pageLength_{0};
  std::atomic<long> bytesTransferred_{0};
  std::string line_;
  std::string lastLine_;
  std::vector<uint8_t> frame_;
  bool inFrame_ = false;
  bool frameDle_ = false;
  bool lastFrameFinal_ = false;
  uint8_t lastFcf_ = 0;
  Class2Commands cmds_;
  std::string builtInInit_ = "ATE0Q0V1X4S0=0S2=43";
  std::string modemInit_;
  bool sessionFine_ = false, sessionWide_ = false, sessionEcm_ = false;
  std::atomic<LineCoding> sessionCoding_{LineCoding::MH};
  LineCoding modemBestCoding_ = LineCoding::MH;  // Class 2/2.0: from the modem's DF range
  int scanCode_ = 0;
  int minBytes_ = 0;
  bool modemSpeeds_[kMaxSpeedIndex + 1] = {false, true, true, false, false, false, false};
  int speedIndex_ = 4;
  bool modemInitialised_ = false;  // in this session: every session initialises the modem afresh
  bool atCommandRate_ = true;
  int initBaud_ = 0;
  std::atomic<int> hangupCode_{0};
  std::atomic<bool> active_{false};
  bool finished_ = true;
  bool inputPaced_ = false;
  // The device behind the port has gone in this session: nothing more is sent to it (no hang-up,
  // no next call), the session ends with core::ecDeviceReadError.
  bool portLost_ = false;
  TFaxClassSet cachedClasses_;

  void SetRemoteId(const std::string& id);

 private:
  void HandleEvent(int msg, int trigger);
  void RunMachine(Ev ev);

  // Shared with every message queued for the component: queued work runs only while alive.
  struct Life {
    std::recursive_mutex mutex;  // held while a queued item runs; recursive for re-entry
    bool alive = true;
  };
  // Queues work for the UI thread that runs only while the component exists.
  std::function<void()> WhileAlive(std::function<void()> work) const;

  std::shared_ptr<Life> life_ = std::make_shared<Life>();
  std::atomic<bool> retiring_{false};
  std::mutex pauseMutex_;               // with pauseEnd_: Retire cuts a running PauseMs short
  std::condition_variable pauseEnd_;
  comm::TQvComPort* comPort_ = nullptr;
  TQvAbstractFaxStatus* statusDisplay_ = nullptr;
  TQvFaxLog* faxLog_ = nullptr;
  std::recursive_mutex machineMutex_;
  std::atomic<bool> abortPending_{false};
  bool stallPending_ = false;  // a send was cut short and the machine has not been told yet
  int statusTicks_ = 0;        // port-watch ticks since the last periodic status
  bool portStalled_ = false;   // the port stopped taking bytes in this session: skip further sends
};

}  // namespace qv::fax
