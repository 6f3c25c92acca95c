#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include "comm/dispatcher.h"

namespace qv::comm {

// An in-process device for fast tests and demos: what the port writes comes back as input (a
// loopback plug) unless echo is off, in which case it is kept for the caller to collect. The
// far side's modem lines and line errors can be set at will.
class TQvLoopbackDispatcher : public TQvBaseDispatcher {
 public:
  explicit TQvLoopbackDispatcher(bool echo = true);
  ~TQvLoopbackDispatcher() override;

  // The far side: bytes arriving at the port, line states (CTS/DSR/RI/DCD bits of the modem
  // status byte), line errors (error bits), and what the port transmitted (echo off).
  void Inject(const std::string& bytes);
  void SetLines(uint8_t lines);
  void RaiseLineErrors(uint32_t errors);
  std::string TakeTransmitted();
  // Makes the device accept nothing more for a while (flow control held by the far side).
  void HoldOutput(bool hold);
  TQvLineSettings LastState();
  int StateWrites();  // how often the line settings were applied

 protected:
  int DevEscape(int func) override;
  uint32_t DevClearErrors(TQvDeviceStatus& status) override;
  int DevGetState(TQvLineSettings& block) override;
  int DevRead(uint8_t* buffer, int count) override;
  int DevSetState(const TQvLineSettings& block) override;
  bool DevWaitEvent(uint32_t& mask) override;
  bool DevSetQueues(int inSize, int outSize) override;
  int DevOpen(const std::string& name, int inSize, int outSize) override;
  int DevClose() override;
  int DevWriteBlock(const uint8_t* data, int count, const std::atomic<bool>& abort) override;
  void DevCancelWait() override;
  uint8_t DevModemLines() override;

 private:
  bool echo_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<uint8_t> input_;
  std::string transmitted_;
  uint8_t lines_ = msCts | msDsr | msDcd;
  uint8_t reportedLines_ = 0;
  uint32_t errors_ = 0;
  uint32_t pendingEvents_ = 0;
  bool cancel_ = false;
  bool open_ = false;
  bool holdOutput_ = false;
  bool dtr_ = false, rts_ = false;
  TQvLineSettings state_;
  int stateWrites_ = 0;
};

}  // namespace qv::comm
