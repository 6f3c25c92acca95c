#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "comm/dispatcher.h"

namespace qv::comm {

// The dispatcher's device operations on a POSIX terminal device (serial port, USB modem or
// pseudo-terminal): a non-blocking descriptor opened exclusively (TIOCEXCL and flock), poll for
// input and hang-up, FIONREAD for the bytes waiting, TIOCMGET/TIOCMBIS/TIOCMBIC for the modem
// lines, TIOCGICOUNT for line errors where the driver counts them, tcflush for purges.
//
// Devices without modem lines (pseudo-terminals) report CTS, DSR and DCD on while the other side
// is connected and all lines off once it hangs up, like a null-modem cable.
class TQvPosixDispatcher : public TQvBaseDispatcher {
 public:
  TQvPosixDispatcher();
  ~TQvPosixDispatcher() override;

  // True once the device reported a hang-up (the far side closed, the USB device went away).
  bool HungUp() const override { return hungUp_.load(); }
  bool HasModemLines() const { return linesSupported_; }

  // Opens and closes a device without threads, as port probing needs: 0, or the open's code.
  static int ProbeDevice(const std::string& path);

 protected:
  int DevEscape(int func) override;
  int DevPurge(int queue) override;
  uint32_t DevClearErrors(TQvDeviceStatus& status) override;
  uint32_t DevTakeErrors() override { return ErrorsSinceLast(); }
  int DevGetState(TQvLineSettings& block) override;
  int DevRead(uint8_t* buffer, int count) override;
  int DevSetState(const TQvLineSettings& block) override;
  int DevWrite(const uint8_t* data, int count) override;
  bool DevWaitEvent(uint32_t& mask) override;
  bool DevSetQueues(int inSize, int outSize) override;
  int DevOpen(const std::string& name, int inSize, int outSize) override;
  int DevClose() override;
  int DevWriteBlock(const uint8_t* data, int count, const std::atomic<bool>& abort) override;
  int DevWriteNow(const uint8_t* data, int count) override;
  void DevCancelWait() override;
  uint8_t DevModemLines() override;
  uint32_t DevOutputPending() override;
  void DevDiscardOutput() override;

 private:
  static int OpenDevice(const std::string& path, int& fd, bool exclusive);
  uint8_t LinesNow();
  uint32_t ErrorsSinceLast();
  void NoteHangUp();

  std::shared_mutex fdLock_;  // device calls share it; closing takes it alone
  std::atomic<int> fd_{-1};
  int wakeRead_ = -1, wakeWrite_ = -1;
  bool linesSupported_ = false;
  bool icountSupported_ = false;
  std::atomic<bool> hungUp_{false};
  uint8_t lastLines_ = 0;  // reader thread
  std::mutex icountLock_;
  int lastCounts_[5] = {0, 0, 0, 0, 0};  // frame, overrun, parity, brk, buf_overrun
  std::mutex stateLock_;
  TQvLineSettings state_;
};

}  // namespace qv::comm
