#pragma once

#include <cstdint>

// Time in ticks of 55 ms, as the communication and fax layers count it. The tick counter is the
// millisecond clock divided by 55 and wraps after kMaxTicks; event timers cope with one wrap.
namespace qv::core {

inline constexpr int32_t kTickMs = 55;
inline constexpr int32_t kMaxTicks = 39045157;  // the longest interval; longer requests are clamped

uint32_t CurrentTick();

// Integer conversions: seconds x 1675 / 92, and (ticks + 9) x 92 / 1675.
constexpr int32_t SecsToTicks(int32_t secs) {
  return static_cast<int32_t>(static_cast<int64_t>(secs) * 1675 / 92);
}
constexpr int32_t TicksToSecs(int32_t ticks) {
  return static_cast<int32_t>((static_cast<int64_t>(ticks) + 9) * 92 / 1675);
}

struct EventTimer {
  uint32_t StartTicks = 0;
  uint32_t ExpireTicks = 0;
};

void NewTimer(EventTimer& timer, int32_t ticks);
bool TimerTicksExpired(const EventTimer& timer);
int32_t ElapsedTime(const EventTimer& timer);
int32_t RemainingTime(const EventTimer& timer);

// The same rules against an explicit current tick (what the functions above use with
// CurrentTick(); separate so the wrap-around rules can be checked at any tick value).
void NewTimerAt(EventTimer& timer, int32_t ticks, uint32_t now);
bool TimerExpiredAt(const EventTimer& timer, uint32_t now);
int32_t ElapsedTimeAt(const EventTimer& timer, uint32_t now);
int32_t RemainingTimeAt(const EventTimer& timer, uint32_t now);

// Blocks for ticks (nothing when ticks < 1), pumping the message loop when yield is set. A quit
// message ends the wait early and stays posted; the result is then ecGotQuitMsg, else 0.
int DelayTicks(int32_t ticks, bool yield);

// Test hook: advances the tick clock by offset ticks (lets tests run timers across the wrap).
void SetTickOffsetForTesting(uint32_t offset);

}  // namespace qv::core
