#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace qv::fax {

// Dispatcher messages that reach a session.
inline constexpr int kMsgDataAvailable = 0x7E01;
inline constexpr int kMsgTimerExpired = 0x7E03;
inline constexpr int kMsgStatusChanged = 0x7E04;

// Status trigger kinds a session arms.
inline constexpr int kStatusModemLines = 1;   // a modem line (carrier, ring, ...) changed
inline constexpr int kStatusOutputFree = 3;   // at least this much room in the output buffer
inline constexpr int kStatusOutputUsed = 4;   // the output buffer has drained to this level

// Both buffers of a session's port; a page is fed in blocks that fit the output buffer.
inline constexpr int kPortBufferSize = 8192;

// The dispatcher operations a fax session uses, gathered in one place so the session does not
// care how the port layer spells them. PortChannel implements it over a TQvComPort.
class FaxChannel {
 public:
  using Handler = std::function<void(int msg, int triggerHandle)>;
  virtual ~FaxChannel() = default;

  virtual int ReadChar(uint8_t& c) = 0;  // 0, or a negative code when nothing is waiting
  // A channel may hand out bytes ReadChar took from a block it copied, and give the port the
  // count later: this settles it. The session calls it before it hands control back to the
  // port (the end of every machine run), so the port's dispatch accounting is exact.
  virtual void FlushReads() {}
  // The bytes ReadChar would give next, without taking them, for a reader that goes through
  // page data a run at a time rather than a call per byte; TakeInput(n) then takes the first n
  // of them, as n ReadChar calls would. Empty when nothing waits or the channel has no such view
  // (its reader then uses ReadChar).
  virtual std::span<const uint8_t> PeekInput() { return {}; }
  virtual void TakeInput(size_t /*n*/) {}
  virtual bool HasInput() = 0;
  virtual void PurgeInput() = 0;
  // Input that is taken in bulk (a page's data): the port may let arrivals gather for up to ms
  // before it hands them up, instead of announcing each piece. 0 announces each at once.
  virtual void SetInputPace(int /*ms*/) {}

  virtual int SendBlock(const uint8_t* data, size_t count) = 0;
  virtual int OutputUsed() = 0;
  virtual int OutputFree() = 0;
  virtual int OutputSize() = 0;
  virtual void PurgeOutput() = 0;

  virtual int SetBaud(int baud) = 0;
  virtual int CurrentBaud() = 0;
  virtual void DriveDtr(bool on) = 0;
  virtual void DriveRts(bool on) = 0;
  virtual bool CheckCarrier() = 0;
  // The device behind the port has gone (it hung up: a USB modem unplugged, the far side of a
  // pseudo-terminal closed). Nothing sent arrives and nothing more will be read.
  virtual bool PortLost() { return false; }
  virtual void SetSoftwareFlow(int bufferFull, int bufferResume, int options) = 0;
  virtual void ClearSoftwareFlow() = 0;

  virtual int NewTimerTrigger() = 0;
  virtual int NewStatusTrigger(int kind) = 0;
  virtual int ArmTimerTrigger(int handle, int ticks, bool activate) = 0;
  virtual int ArmStatusTrigger(int handle, int value, bool activate) = 0;
  virtual int DeleteTrigger(int handle) = 0;

  virtual int RegisterHandler(Handler handler) = 0;
  // No call of the handler starts after this; one already running may still be finishing.
  virtual void UnregisterHandler() = 0;
  // As UnregisterHandler, and returns only once no call of the handler is running (called from
  // inside the handler, it does not wait for itself). What a component's end of life needs.
  virtual void UnregisterHandlerAndWait() { UnregisterHandler(); }
  // Holds trigger dispatching off for the calling thread (or gives the hold back); returns the
  // calling thread's previous hold, for save-and-restore.
  virtual bool SetDispatchBusy(bool busy) = 0;

  // A dispatch-log entry of type 11 ("Fax"); nothing when the port's logging is off.
  virtual void LogFaxState(int subtype, int value) = 0;
};

}  // namespace qv::fax
