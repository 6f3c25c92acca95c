#include "fax/port_channel.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "core/error_codes.h"
#include "core/exceptions.h"

#include "comm/com_port.h"
#include "comm/dispatcher.h"

namespace qv::fax {

// The session's names for the port layer's messages and trigger kinds are the same numbers.
static_assert(kMsgDataAvailable == comm::MSG_DATA_AVAILABLE && kMsgTimerExpired == comm::MSG_TIMER_EXPIRED &&
              kMsgStatusChanged == comm::MSG_STATUS_CHANGED);
static_assert(kStatusModemLines == comm::stModem && kStatusOutputFree == comm::stOutBuffFree &&
              kStatusOutputUsed == comm::stOutBuffUsed);

namespace {

class DispatcherChannel final : public FaxChannel {
 public:
  // port, when given, owns d: once it has closed (or opened again with another dispatcher) d is
  // gone with its threads, so there is no call left to wait for and nothing to unregister.
  explicit DispatcherChannel(comm::TQvBaseDispatcher* d, comm::TQvCustomComPort* port = nullptr)
      : d_(d), port_(port) {}
  ~DispatcherChannel() override { UnregisterHandlerAndWait(); }

  // Bytes come from a block copied out of the input ring in one lock; the ring gives them up
  // when the reads are settled (FlushReads, or before anything else looks at the input).
  int ReadChar(uint8_t& c) override {
    if (cachePos_ == cacheLen_) {
      FlushReads();
      cacheLen_ = d_->PeekBlock(cache_, kCacheSize);
      if (cacheLen_ == 0) return core::ecBufferIsEmpty;
    }
    c = cache_[cachePos_++];
    return 0;
  }
  std::span<const uint8_t> PeekInput() override {
    if (cachePos_ == cacheLen_) {
      FlushReads();
      cacheLen_ = d_->PeekBlock(cache_, kCacheSize);
    }
    return {cache_ + cachePos_, static_cast<size_t>(cacheLen_ - cachePos_)};
  }
  void TakeInput(size_t n) override { cachePos_ += static_cast<int>(std::min<size_t>(n, cacheLen_ - cachePos_)); }
  void FlushReads() override {
    if (cachePos_ > 0) d_->ReadBlock(nullptr, cachePos_);
    cachePos_ = cacheLen_ = 0;
  }
  bool HasInput() override {
    if (cachePos_ < cacheLen_) return true;
    FlushReads();
    return d_->HasInput();
  }
  void PurgeInput() override {
    cachePos_ = cacheLen_ = 0;
    d_->PurgeInput();
  }
  void SetInputPace(int ms) override { d_->SetInputPace(ms); }
  int SendBlock(const uint8_t* data, size_t count) override { return d_->SendBlock(data, static_cast<int>(count)); }
  int OutputUsed() override { return d_->OutputUsed(); }
  int OutputFree() override { return d_->OutputFree(); }
  int OutputSize() override { return d_->OutSize(); }
  void PurgeOutput() override { d_->PurgeOutput(); }
  int SetBaud(int baud) override { return d_->SetBaudOnly(static_cast<uint32_t>(baud)); }
  int CurrentBaud() override {
    uint32_t baud = 0;
    int parity, stop, data;
    d_->GetLineParams(baud, parity, stop, data);
    return static_cast<int>(baud);
  }
  void DriveDtr(bool on) override { d_->DriveDtr(on); }
  void DriveRts(bool on) override { d_->DriveRts(on); }
  bool CheckCarrier() override { return d_->CheckCarrier(); }
  bool PortLost() override { return d_->HungUp(); }
  void SetSoftwareFlow(int full, int resume, int options) override { d_->SetSoftwareFlow(full, resume, options); }
  void ClearSoftwareFlow() override { d_->ClearSoftwareFlow(); }
  int NewTimerTrigger() override { return d_->NewTimerTrigger(); }
  int NewStatusTrigger(int kind) override { return d_->NewStatusTrigger(kind); }
  int ArmTimerTrigger(int handle, int ticks, bool activate) override { return d_->ArmTimerTrigger(handle, ticks, activate); }
  int ArmStatusTrigger(int handle, int value, bool activate) override {
    return d_->ArmStatusTrigger(handle, static_cast<uint16_t>(value), activate);
  }
  int DeleteTrigger(int handle) override { return d_->DeleteTrigger(handle); }
  int RegisterHandler(Handler handler) override {
    UnregisterHandler();
    {
      std::lock_guard lock(handlerMutex_);
      handler_ = std::move(handler);
    }
    if (d_->AvailThreshold() == 0) d_->SetAvailThreshold(1);
    registered_ = true;
    return d_->RegisterMethodHandler(&Thunk, this, false);
  }
  void UnregisterHandler() override {
    // Not waiting: the caller may hold the lock a running call is about to take.
    if (registered_.exchange(false)) d_->UnregisterMethodHandler(&Thunk, this, false);
  }
  void UnregisterHandlerAndWait() override {
    registered_ = false;
    if (port_ && port_->CurrentDispatcher() != d_) return;
    // Also waits for a call that started before an earlier UnregisterHandler.
    d_->UnregisterMethodHandler(&Thunk, this, true);
  }
  bool SetDispatchBusy(bool busy) override {
    bool previous = false;
    d_->SetDispatchBusy(busy, previous);
    return previous;
  }
  void LogFaxState(int subtype, int value) override {
    d_->AddLogEntry(comm::dlFax, static_cast<uint8_t>(subtype), 0, nullptr, static_cast<uint32_t>(value));
  }

 private:
  static void Thunk(void* object, uint32_t msg, uint32_t wParam, uint32_t) {
    auto* self = static_cast<DispatcherChannel*>(object);
    if (!self->registered_) return;
    Handler handler;
    {
      // a call left over from the last session may run while the next one registers
      std::lock_guard lock(self->handlerMutex_);
      handler = self->handler_;
    }
    if (handler) handler(static_cast<int>(msg), static_cast<int>(wParam));
  }

  // An arrival on a pseudo-terminal is at most 4095 bytes: one copy (one lock) takes it whole.
  static constexpr int kCacheSize = 4096;
  comm::TQvBaseDispatcher* d_;
  comm::TQvCustomComPort* port_;
  uint8_t cache_[kCacheSize];
  int cachePos_ = 0, cacheLen_ = 0;
  std::mutex handlerMutex_;
  Handler handler_;
  std::atomic<bool> registered_{false};
};

}  // namespace

std::unique_ptr<FaxChannel> MakeDispatcherChannel(comm::TQvBaseDispatcher* dispatcher) {
  return std::make_unique<DispatcherChannel>(dispatcher);
}

std::unique_ptr<FaxChannel> MakePortChannel(comm::TQvComPort* port) {
  if (!port) core::RaiseError(core::ecPortNotAssigned);
  comm::TQvBaseDispatcher* d = port->DispatcherObject();
  if (!d) core::RaiseError(core::ecCommNotOpen);
  return std::make_unique<DispatcherChannel>(d, port);
}

void ApplyFaxPortSettings(comm::TQvComPort* port) {
  port->SetDataBits(8);
  port->SetStopBits(1);
  port->SetParity(comm::pNone);
  port->SetBaud(19200);
  port->SetInSize(kPortBufferSize);
  port->SetOutSize(kPortBufferSize);
  port->SetHWFlowOptions(comm::hwfUseRTS | comm::hwfRequireCTS);
}

}  // namespace qv::fax
