#include "fax/port_channel.h"

#include "core/exceptions.h"

#if __has_include("comm/dispatcher.h")
#include "comm/dispatcher.h"
#define QV_FAX_HAVE_COMM 1
#endif
#if __has_include("comm/com_port.h")
#include "comm/com_port.h"
#define QV_FAX_HAVE_PORT 1
#endif

namespace qv::fax {

#ifdef QV_FAX_HAVE_COMM
namespace {

class DispatcherChannel final : public FaxChannel {
 public:
  explicit DispatcherChannel(comm::TQvBaseDispatcher* d) : d_(d) {}
  ~DispatcherChannel() override { UnregisterHandler(); }

  int ReadChar(uint8_t& c) override {
    char ch;
    int rc = d_->ReadChar(ch);
    c = static_cast<uint8_t>(ch);
    return rc;
  }
  bool HasInput() override { return d_->HasInput(); }
  void PurgeInput() override { d_->PurgeInput(); }
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
    handler_ = std::move(handler);
    if (d_->AvailThreshold() == 0) d_->SetAvailThreshold(1);
    registered_ = true;
    return d_->RegisterMethodHandler(&Thunk, this, false);
  }
  void UnregisterHandler() override {
    if (!registered_) return;
    registered_ = false;
    d_->UnregisterMethodHandler(&Thunk, this);
  }
  bool SetDispatchBusy(bool busy) override {
    bool previous = false;
    d_->SetDispatchBusy(busy, previous);
    return previous;
  }
  void LogFaxState(int subtype, int value) override {
    d_->AddLogEntry(11, static_cast<uint8_t>(subtype), 0, nullptr, static_cast<uint32_t>(value));
  }

 private:
  static void Thunk(void* object, uint32_t msg, uint32_t wParam, uint32_t) {
    auto* self = static_cast<DispatcherChannel*>(object);
    if (self->registered_ && self->handler_) self->handler_(static_cast<int>(msg), static_cast<int>(wParam));
  }

  comm::TQvBaseDispatcher* d_;
  Handler handler_;
  bool registered_ = false;
};

}  // namespace

std::unique_ptr<FaxChannel> MakeDispatcherChannel(comm::TQvBaseDispatcher* dispatcher) {
  return std::make_unique<DispatcherChannel>(dispatcher);
}
#else
std::unique_ptr<FaxChannel> MakeDispatcherChannel(comm::TQvBaseDispatcher*) { core::RaiseError(-1005); }
#endif

#ifdef QV_FAX_HAVE_PORT
std::unique_ptr<FaxChannel> MakePortChannel(comm::TQvComPort* port) {
  if (!port) core::RaiseError(-1005);
  return MakeDispatcherChannel(port->DispatcherObject());
}
void ApplyFaxPortSettings(comm::TQvComPort*) {}
#else
std::unique_ptr<FaxChannel> MakePortChannel(comm::TQvComPort*) { core::RaiseError(-1005); }
void ApplyFaxPortSettings(comm::TQvComPort*) {}
#endif

}  // namespace qv::fax
