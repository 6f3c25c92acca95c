#include "core/error_codes.h"
#include "core/message_loop.h"
#include "core/ticks.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace qv::core;

TEST(Ticks, ConversionsAtTheirEdges) {
  EXPECT_EQ(SecsToTicks(0), 0);
  EXPECT_EQ(SecsToTicks(1), 18);     // 1675 / 92 = 18.2
  EXPECT_EQ(SecsToTicks(10), 182);   // the modem reply time-out
  EXPECT_EQ(SecsToTicks(30), 546);
  EXPECT_EQ(SecsToTicks(60), 1092);  // the dial wait
  EXPECT_EQ(TicksToSecs(0), 0);      // (0 + 9) * 92 / 1675
  EXPECT_EQ(TicksToSecs(9), 0);
  EXPECT_EQ(TicksToSecs(10), 1);     // 19 * 92 = 1748 >= 1675
  EXPECT_EQ(TicksToSecs(182), 10);
  EXPECT_EQ(TicksToSecs(1092), 60);
  // Large values must not overflow 32-bit intermediate products.
  EXPECT_EQ(SecsToTicks(2000000), 36413043);
  EXPECT_EQ(TicksToSecs(kMaxTicks), 2144570);
  for (int s = 0; s < 100000; s += 7) EXPECT_EQ(TicksToSecs(SecsToTicks(s)), s) << s;
}

TEST(Ticks, TimerWithoutWrap) {
  EventTimer t;
  NewTimerAt(t, 10, 1000);
  EXPECT_FALSE(TimerExpiredAt(t, 1000));
  EXPECT_FALSE(TimerExpiredAt(t, 1010));  // expired only when past the expire tick
  EXPECT_TRUE(TimerExpiredAt(t, 1011));
  EXPECT_EQ(ElapsedTimeAt(t, 1004), 4);
  EXPECT_EQ(RemainingTimeAt(t, 1004), 6);
  EXPECT_EQ(RemainingTimeAt(t, 2000), 0);  // never below zero
}

TEST(Ticks, TimerAcrossTheWrap) {
  EventTimer t;
  uint32_t start = kMaxTicks - 5;
  NewTimerAt(t, 10, start);  // expires 5 ticks after the counter wraps to 0
  EXPECT_FALSE(TimerExpiredAt(t, kMaxTicks - 1));
  EXPECT_FALSE(TimerExpiredAt(t, 3));  // wrapped: 3 + max is not past start + 10
  EXPECT_FALSE(TimerExpiredAt(t, 5));
  EXPECT_TRUE(TimerExpiredAt(t, 6));
  EXPECT_EQ(ElapsedTimeAt(t, 2), 7);
  EXPECT_EQ(RemainingTimeAt(t, 2), 3);
}

TEST(Ticks, RequestsAreClamped) {
  EventTimer t;
  NewTimerAt(t, kMaxTicks + 1000, 0);
  EXPECT_EQ(t.ExpireTicks, static_cast<uint32_t>(kMaxTicks));
  NewTimerAt(t, -5, 100);
  EXPECT_EQ(t.ExpireTicks, 100u);
}

TEST(Ticks, ClockWrapsAtTheLongestInterval) {
  SetTickOffsetForTesting(0);
  uint32_t now = CurrentTick();
  EXPECT_LT(now, static_cast<uint32_t>(kMaxTicks) + 1);
  // Advance the clock to just before the wrap: a 3-tick timer armed there still expires.
  SetTickOffsetForTesting(static_cast<uint32_t>(kMaxTicks) - now - 1);
  EventTimer t;
  NewTimer(t, 3);
  auto begin = std::chrono::steady_clock::now();
  while (!TimerTicksExpired(t)) ASSERT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
  SetTickOffsetForTesting(0);
}

TEST(Ticks, DelayReturnsEarlyOnQuitAndLeavesItPosted) {
  auto& loop = MessageLoop::instance();
  loop.bindToCurrentThread();
  EXPECT_EQ(DelayTicks(0, true), ecOK);
  EXPECT_EQ(DelayTicks(-3, false), ecOK);
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(DelayTicks(2, false), ecOK);
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(55));

  int ran = 0;
  loop.post([&] { ++ran; });
  loop.post([&] { loop.postQuit(); });
  begin = std::chrono::steady_clock::now();
  EXPECT_EQ(DelayTicks(200, true), ecGotQuitMsg);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
  EXPECT_EQ(ran, 1);
  EXPECT_TRUE(loop.takeQuit());  // re-posted for the outer loop
  EXPECT_FALSE(loop.quitPosted());
}
