#include "core/ticks.h"

#include "core/error_codes.h"
#include "core/message_loop.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace qv::core {

namespace {
std::atomic<uint32_t> gTickOffset{0};
}

uint32_t CurrentTick() {
  using namespace std::chrono;
  // A 32-bit millisecond clock, as the tick counter has always been derived from.
  // A 31-bit millisecond clock: the tick counter wraps after kMaxTicks, which is what the timers'
  // wrap-around rule assumes.
  auto ms = static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  ms += static_cast<uint64_t>(gTickOffset.load(std::memory_order_relaxed)) * kTickMs;
  return static_cast<uint32_t>((ms & 0x7FFFFFFFu) / kTickMs);
}

void SetTickOffsetForTesting(uint32_t offset) { gTickOffset.store(offset); }

void NewTimerAt(EventTimer& timer, int32_t ticks, uint32_t now) {
  ticks = std::clamp(ticks, 0, kMaxTicks);
  timer.StartTicks = now;
  timer.ExpireTicks = now + static_cast<uint32_t>(ticks);
}

bool TimerExpiredAt(const EventTimer& timer, uint32_t now) {
  if (now < timer.StartTicks)  // the clock wrapped since the timer was started
    return static_cast<uint64_t>(now) + kMaxTicks > timer.ExpireTicks;
  return now > timer.ExpireTicks;
}

int32_t ElapsedTimeAt(const EventTimer& timer, uint32_t now) {
  int64_t elapsed = static_cast<int64_t>(now) - timer.StartTicks;
  if (now < timer.StartTicks) elapsed += kMaxTicks;
  return static_cast<int32_t>(elapsed);
}

int32_t RemainingTimeAt(const EventTimer& timer, uint32_t now) {
  int64_t remaining = static_cast<int64_t>(timer.ExpireTicks) - now;
  if (now < timer.StartTicks) remaining -= kMaxTicks;
  return static_cast<int32_t>(std::max<int64_t>(remaining, 0));
}

void NewTimer(EventTimer& timer, int32_t ticks) { NewTimerAt(timer, ticks, CurrentTick()); }
bool TimerTicksExpired(const EventTimer& timer) { return TimerExpiredAt(timer, CurrentTick()); }
int32_t ElapsedTime(const EventTimer& timer) { return ElapsedTimeAt(timer, CurrentTick()); }
int32_t RemainingTime(const EventTimer& timer) { return RemainingTimeAt(timer, CurrentTick()); }

int DelayTicks(int32_t ticks, bool yield) {
  if (ticks < 1) return ecOK;
  EventTimer timer;
  NewTimer(timer, ticks);
  auto& loop = MessageLoop::instance();
  while (!TimerTicksExpired(timer)) {
    if (loop.quitPosted()) return ecGotQuitMsg;  // left posted for the outer loop
    if (yield)
      loop.waitAndPump(5);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return ecOK;
}

}  // namespace qv::core
