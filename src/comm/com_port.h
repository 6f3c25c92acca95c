#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comm/dispatcher.h"
#include "comm/dispatcher_types.h"

namespace qv::comm {

enum TDeviceLayer { dlWin16, dlFossil, dlWin32, dlWinsock };
enum TParity { pNone, pOdd, pEven, pMark, pSpace };
enum THWFlowOption : uint8_t { hwfUseDTR = 1, hwfUseRTS = 2, hwfRequireDSR = 4, hwfRequireCTS = 8 };
using THWFlowOptions = uint8_t;  // a set of THWFlowOption bits
enum TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };
enum TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };
enum TTapiMode { tmNone, tmAuto, tmOn, tmOff };
enum TPortState { psClosed, psClosing, psOpen };

class TQvBaseComponent {
 public:
  virtual ~TQvBaseComponent() = default;
  std::string LibVersion() const;
};

class TQvCustomComPort;
class TQvComWindow;

// The serial port component: keeps the port's configuration, creates a dispatcher when opened,
// pushes the configuration into it and turns its trigger messages into OnTrigger... events, which
// run on the UI thread (the thread that pumps core's message loop). Every method is for the UI
// thread. Failures raise the exception class of their code.
class TQvCustomComPort : public TQvBaseComponent {
 public:
  using TTriggerEvent = std::function<void(TQvCustomComPort& cp, uint16_t msg, uint16_t triggerHandle, uint16_t data)>;
  using TTriggerAvailEvent = std::function<void(TQvCustomComPort& cp, uint16_t count)>;
  using TTriggerHandleEvent = std::function<void(TQvCustomComPort& cp, uint16_t triggerHandle)>;
  using TTriggerLineErrorEvent = std::function<void(TQvCustomComPort& cp, uint16_t error, bool lineBreak)>;
  using TNotifyEvent = std::function<void(TQvCustomComPort& sender)>;
  using TWaitCharEvent = std::function<void(TQvCustomComPort& cp, char c)>;
  using TDispatcherFactory = std::function<std::unique_ptr<TQvBaseDispatcher>(TQvCustomComPort& port)>;
  using TPortUserCallback = std::function<void(void* userValue, TQvCustomComPort& port, bool opened)>;

  TQvCustomComPort();
  ~TQvCustomComPort() override;
  TQvCustomComPort(const TQvCustomComPort&) = delete;
  TQvCustomComPort& operator=(const TQvCustomComPort&) = delete;

  // Copies the settings, events and port users of another port (Open becomes False); an open
  // source also hands over its current triggers for this port's next open.
  void Assign(TQvCustomComPort& source);

  // --- published properties ---
  TDeviceLayer DeviceLayer() const { return deviceLayer_; }
  void SetDeviceLayer(TDeviceLayer v);
  int ComNumber() const { return comNumber_; }
  void SetComNumber(int v);
  int32_t Baud() const { return baud_; }
  void SetBaud(int32_t v);
  bool PromptForPort() const { return promptForPort_; }
  void SetPromptForPort(bool v) { promptForPort_ = v; }
  TParity Parity() const { return parity_; }
  void SetParity(TParity v);
  int DataBits() const { return dataBits_; }
  void SetDataBits(int v);
  int StopBits() const { return stopBits_; }
  void SetStopBits(int v);
  int InSize() const { return inSize_; }
  void SetInSize(int v);
  int OutSize() const { return outSize_; }
  void SetOutSize(int v);
  bool AutoOpen() const { return autoOpen_; }
  void SetAutoOpen(bool v) { autoOpen_ = v; }
  bool Open() const { return open_; }
  void SetOpen(bool v);
  bool DTR() const { return dtr_; }
  void SetDTR(bool v);
  bool RTS() const { return rts_; }
  void SetRTS(bool v);
  THWFlowOptions HWFlowOptions() const { return hwFlow_; }
  void SetHWFlowOptions(THWFlowOptions v);
  TSWFlowOptions SWFlowOptions() const { return swFlow_; }
  void SetSWFlowOptions(TSWFlowOptions v);
  char XOnChar() const { return xonChar_; }
  void SetXOnChar(char v);
  char XOffChar() const { return xoffChar_; }
  void SetXOffChar(char v);
  int BufferFull() const { return bufferFull_; }
  void SetBufferFull(int v);
  int BufferResume() const { return bufferResume_; }
  void SetBufferResume(int v);
  TTraceLogState Tracing() const { return tracing_; }
  void SetTracing(TTraceLogState v);
  int32_t TraceSize() const { return traceSize_; }
  void SetTraceSize(int32_t v);
  const std::string& TraceName() const { return traceName_; }
  void SetTraceName(const std::string& v) { traceName_ = v; }
  bool TraceHex() const { return traceHex_; }
  void SetTraceHex(bool v) { traceHex_ = v; }
  TTraceLogState Logging() const { return logging_; }
  void SetLogging(TTraceLogState v);
  int32_t LogSize() const { return logSize_; }
  void SetLogSize(int32_t v);
  const std::string& LogName() const { return logName_; }
  void SetLogName(const std::string& v) { logName_ = v; }
  bool LogHex() const { return logHex_; }
  void SetLogHex(bool v) { logHex_ = v; }
  bool UseMSRShadow() const { return useMsrShadow_; }
  void SetUseMSRShadow(bool v) { useMsrShadow_ = v; }
  bool UseEventWord() const { return useEventWord_; }
  void SetUseEventWord(bool v);
  int CommNotificationLevel() const { return commNotificationLevel_; }
  void SetCommNotificationLevel(int v) { commNotificationLevel_ = v; }
  TTapiMode TapiMode() const { return tapiMode_; }
  void SetTapiMode(TTapiMode v) { tapiMode_ = v; }
  bool RS485Mode() const { return rs485_; }
  void SetRS485Mode(bool v);
  int32_t Tag() const { return tag_; }
  void SetTag(int32_t v) { tag_ = v; }

  // A device path to open instead of the one ComNumber maps to (a pseudo-terminal, a modem
  // named on the command line). Empty: use ComNumber.
  const std::string& DeviceName() const { return deviceName_; }
  void SetDeviceName(const std::string& path);
  // The path the next open uses.
  std::string DevicePath() const;

  // --- events ---
  void SetOnTrigger(TTriggerEvent e);
  void SetOnTriggerAvail(TTriggerAvailEvent e);
  void SetOnTriggerData(TTriggerHandleEvent e);
  void SetOnTriggerStatus(TTriggerHandleEvent e);
  void SetOnTriggerTimer(TTriggerHandleEvent e);
  void SetOnTriggerLineError(TTriggerLineErrorEvent e);
  void SetOnTriggerModemStatus(TNotifyEvent e);
  void SetOnTriggerOutbuffFree(TNotifyEvent e);
  void SetOnTriggerOutbuffUsed(TNotifyEvent e);
  void SetOnTriggerOutSent(TNotifyEvent e);
  void SetOnWaitChar(TWaitCharEvent e) { onWaitChar_ = std::move(e); }
  void SetOnPortOpen(TNotifyEvent e) { onPortOpen_ = std::move(e); }
  void SetOnPortClose(TNotifyEvent e) { onPortClose_ = std::move(e); }

  // --- operations ---
  // The dispatcher; with AutoOpen a closed port is opened first. Null while closed otherwise.
  TQvBaseDispatcher* DispatcherObject();
  // The dispatcher of the port as it is now, never opening it; null while closed.
  TQvBaseDispatcher* CurrentDispatcher() const { return dispatcher_.get(); }
  TPortState PortState() const { return state_; }
  void SendText(const std::string& s);
  bool CharWaiting();
  char TakeChar();
  bool AwaitString(const std::string& s, int32_t ticks, bool yield, bool ignoreCase);
  int PendingLineError();
  bool PendingLineBreak();
  int AvailThreshold() const { return availThreshold_; }
  void SetAvailThreshold(int n);
  int8_t ThreadBoost() const { return threadBoost_; }
  void SetThreadBoost(int8_t boost);
  // Returns code when it is not negative (or while loading); otherwise raises its exception.
  int RaiseOnError(int code) const;

  // Loading from a stored form: Open is only recorded until Loaded().
  void BeginLoading() { loading_ = true; }
  void Loaded();
  bool Loading() const { return loading_; }

  // Port users (told of every open and close, the last registered first).
  int RegisterUser(TPortUserCallback callback, void* userValue);
  void DeregisterUser(int id);

  // A factory that creates the dispatcher instead of the device layer's default.
  void SetDispatcherFactory(TDispatcherFactory factory) { factory_ = std::move(factory); }

 private:
  friend class TQvComWindow;
  struct PortUser {
    int Id;
    TPortUserCallback Callback;
    void* Value;
  };

  void DoOpen();
  void DoClose();
  void FinishClose();
  void SwitchDevice();
  void ClosePendingMessage(uint32_t lParam);
  void HandleTrigger(uint32_t msg, uint32_t wParam, uint32_t lParam);
  void NotifyUsers(bool opened);
  void UpdateHandlerFlags();
  bool AnyTriggerEvent() const;
  bool IsOpenNow() const { return state_ == psOpen && dispatcher_; }
  void ApplyLine();
  void ApplyHWFlow(THWFlowOptions v, bool force);
  void ApplySWFlow(TSWFlowOptions v, bool force);
  void ApplyTraceState(TTraceLogState v, bool force, bool log);
  TQvBaseDispatcher& RequireDispatcher();

  // configuration
  TDeviceLayer deviceLayer_ = dlWin32;
  int comNumber_ = 0;
  int32_t baud_ = 19200;
  bool promptForPort_ = true;
  TParity parity_ = pNone;
  int dataBits_ = 8;
  int stopBits_ = 1;
  int inSize_ = 4096;
  int outSize_ = 4096;
  bool autoOpen_ = true;
  bool open_ = false;
  bool dtr_ = true;
  bool rts_ = true;
  THWFlowOptions hwFlow_ = 0;
  TSWFlowOptions swFlow_ = swfNone;
  char xonChar_ = 17;
  char xoffChar_ = 19;
  int bufferFull_ = 0;
  int bufferResume_ = 0;
  TTraceLogState tracing_ = tlOff;
  int32_t traceSize_ = 10000;
  std::string traceName_ = "QVCOMM.TRC";
  bool traceHex_ = true;
  TTraceLogState logging_ = tlOff;
  int32_t logSize_ = 10000;
  std::string logName_ = "QVCOMM.LOG";
  bool logHex_ = true;
  bool useMsrShadow_ = true;
  bool useEventWord_ = true;
  int commNotificationLevel_ = 10;
  TTapiMode tapiMode_ = tmAuto;
  bool rs485_ = false;
  int32_t tag_ = 0;
  std::string deviceName_;

  // events
  TTriggerEvent onTrigger_;
  TTriggerAvailEvent onTriggerAvail_;
  TTriggerHandleEvent onTriggerData_, onTriggerStatus_, onTriggerTimer_;
  TTriggerLineErrorEvent onTriggerLineError_;
  TNotifyEvent onTriggerModemStatus_, onTriggerOutbuffFree_, onTriggerOutbuffUsed_, onTriggerOutSent_;
  TWaitCharEvent onWaitChar_;
  TNotifyEvent onPortOpen_, onPortClose_;

  // run-time state
  int availThreshold_ = 1;
  int8_t threadBoost_ = 0;
  std::unique_ptr<TQvBaseDispatcher> dispatcher_;
  std::shared_ptr<TQvComWindow> window_;
  TQvTriggerSet savedTriggers_;
  TQvDiagnostics carriedDiagnostics_;
  TPortState state_ = psClosed;
  bool reapply_ = false;
  bool loading_ = false;
  bool openAfterLoading_ = false;
  bool reopenRequested_ = false;
  bool destroying_ = false;
  bool closingQuietly_ = false;  // a device change: the trace and log travel to the new device
  std::vector<PortUser> users_;
  int nextUserId_ = 1;
  TDispatcherFactory factory_;
};

class TQvComPort : public TQvCustomComPort {
 public:
  using TQvCustomComPort::TQvCustomComPort;
};

}  // namespace qv::comm
