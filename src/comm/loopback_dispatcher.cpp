#include "comm/loopback_dispatcher.h"

#include <chrono>

#include "core/error_codes.h"

namespace qv::comm {

using namespace qv::core;

namespace {
constexpr int kLoopbackHandle = 0x4C50;  // any non-negative value serves as the handle
}

TQvLoopbackDispatcher::TQvLoopbackDispatcher(bool echo) : echo_(echo) {}

TQvLoopbackDispatcher::~TQvLoopbackDispatcher() { Shutdown(); }

void TQvLoopbackDispatcher::Inject(const std::string& bytes) {
  {
    std::lock_guard lock(lock_);
    input_.insert(input_.end(), bytes.begin(), bytes.end());
    pendingEvents_ |= evRxChar;
  }
  changed_.notify_all();
}

void TQvLoopbackDispatcher::SetLines(uint8_t lines) {
  {
    std::lock_guard lock(lock_);
    uint8_t changed = static_cast<uint8_t>((lines_ ^ lines) & 0xF0);
    lines_ = lines & 0xF0;
    if (changed & msCts) pendingEvents_ |= evCts;
    if (changed & msDsr) pendingEvents_ |= evDsr;
    if (changed & msDcd) pendingEvents_ |= evDcd;
    if (changed & msRing) pendingEvents_ |= (lines & msRing) ? evRing : evRingTrailing;
  }
  changed_.notify_all();
}

void TQvLoopbackDispatcher::RaiseLineErrors(uint32_t errors) {
  {
    std::lock_guard lock(lock_);
    errors_ |= errors & 0x1F;
    pendingEvents_ |= (errors & leBreak) ? evBreak : 0;
    pendingEvents_ |= (errors & ~leBreak) ? evError : 0;
  }
  changed_.notify_all();
}

std::string TQvLoopbackDispatcher::TakeTransmitted() {
  std::lock_guard lock(lock_);
  std::string out;
  out.swap(transmitted_);
  return out;
}

TQvLineSettings TQvLoopbackDispatcher::LastState() {
  std::lock_guard lock(lock_);
  return state_;
}

int TQvLoopbackDispatcher::StateWrites() {
  std::lock_guard lock(lock_);
  return stateWrites_;
}

void TQvLoopbackDispatcher::HoldOutput(bool hold) {
  {
    std::lock_guard lock(lock_);
    holdOutput_ = hold;
  }
  changed_.notify_all();
}

int TQvLoopbackDispatcher::DevOpen(const std::string&, int, int) {
  std::lock_guard lock(lock_);
  open_ = true;
  cancel_ = false;
  input_.clear();
  pendingEvents_ = 0;
  errors_ = 0;
  return kLoopbackHandle;
}

int TQvLoopbackDispatcher::DevClose() {
  {
    std::lock_guard lock(lock_);
    if (!open_) return -1;
    open_ = false;
    cancel_ = true;
  }
  changed_.notify_all();
  return 0;
}

int TQvLoopbackDispatcher::DevEscape(int func) {
  std::lock_guard lock(lock_);
  switch (func) {
    case escSetDtr: dtr_ = true; break;
    case escClrDtr: dtr_ = false; break;
    case escSetRts: rts_ = true; break;
    case escClrRts: rts_ = false; break;
    default: break;
  }
  return 0;
}

uint32_t TQvLoopbackDispatcher::DevClearErrors(TQvDeviceStatus& status) {
  std::lock_guard lock(lock_);
  status.Errors = errors_;
  errors_ = 0;
  status.InQue = static_cast<uint32_t>(input_.size());
  return status.Errors;
}

int TQvLoopbackDispatcher::DevGetState(TQvLineSettings& block) {
  std::lock_guard lock(lock_);
  if (!open_) return -1;
  block = state_;
  return 0;
}

int TQvLoopbackDispatcher::DevSetState(const TQvLineSettings& block) {
  if (block.ByteSize < 5 || block.ByteSize > 8) return ecByteSize;
  if (TranslateBaud(block.BaudRate) == 0) return ecBaudRate;
  std::lock_guard lock(lock_);
  state_ = block;
  ++stateWrites_;
  return 0;
}

int TQvLoopbackDispatcher::DevRead(uint8_t* buffer, int count) {
  std::lock_guard lock(lock_);
  int n = 0;
  while (n < count && !input_.empty()) {
    buffer[n++] = input_.front();
    input_.pop_front();
  }
  return n;
}

int TQvLoopbackDispatcher::DevWriteBlock(const uint8_t* data, int count, const std::atomic<bool>& abort) {
  std::unique_lock lock(lock_);
  while (holdOutput_ && open_ && !abort.load()) changed_.wait_for(lock, std::chrono::milliseconds(5));
  if (abort.load()) return kWriteInterrupted;
  if (!open_) return kWriteFailed;
  if (echo_) {
    input_.insert(input_.end(), data, data + count);
    pendingEvents_ |= evRxChar;
    lock.unlock();
    changed_.notify_all();
  } else {
    transmitted_.append(reinterpret_cast<const char*>(data), static_cast<size_t>(count));
  }
  return count;
}

bool TQvLoopbackDispatcher::DevWaitEvent(uint32_t& mask) {
  std::unique_lock lock(lock_);
  changed_.wait_for(lock, std::chrono::milliseconds(50), [&] { return cancel_ || pendingEvents_ != 0; });
  if (cancel_) {
    cancel_ = false;
    mask = 0;
    return open_;
  }
  mask = pendingEvents_;
  pendingEvents_ = 0;
  // Input left behind by a full ring is moved up when room is made (the ring cancels this wait).
  return true;
}

void TQvLoopbackDispatcher::DevCancelWait() {
  {
    std::lock_guard lock(lock_);
    cancel_ = true;
  }
  changed_.notify_all();
}

bool TQvLoopbackDispatcher::DevSetQueues(int inSize, int outSize) { return inSize > 0 && outSize > 0; }

uint8_t TQvLoopbackDispatcher::DevModemLines() {
  std::lock_guard lock(lock_);
  return lines_;
}

}  // namespace qv::comm
