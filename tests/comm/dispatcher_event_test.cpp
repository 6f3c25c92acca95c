// The port threads' events: latching, auto- and manual-reset, waiting for one of several, and
// hand-offs between threads that never lose a wake-up.
#include "comm/dispatcher_event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace qv::comm {
namespace {

TEST(DispatcherEventTest, SetBeforeTheWaitIsKeptAndResetKindsDiffer) {
  TQvEventGroup group;
  TQvEvent autoReset(group, false), manual(group, true);
  EXPECT_FALSE(autoReset.Wait(0));
  EXPECT_FALSE(autoReset.Wait(20));  // a time-out, not a wake-up
  autoReset.Set();
  autoReset.Set();  // setting a set event changes nothing
  EXPECT_TRUE(autoReset.IsSet());
  EXPECT_TRUE(autoReset.Wait(0));
  EXPECT_FALSE(autoReset.Wait(0));  // consumed by the one wait that saw it
  manual.Set();
  EXPECT_TRUE(manual.Wait(0));
  EXPECT_TRUE(manual.Wait(-1));  // stays set until reset
  manual.Reset();
  EXPECT_FALSE(manual.Wait(0));
}

TEST(DispatcherEventTest, WaitAnyTakesOnlyTheEventItReturns) {
  TQvEventGroup group;
  TQvEvent output(group, false), flush(group, false), other(group, false);
  std::atomic<int> which{-2};
  std::thread writer([&] { which = TQvEvent::WaitAny({&output, &flush}, 10000); });
  other.Set();  // not waited for: the writer keeps waiting
  flush.Set();
  writer.join();
  EXPECT_EQ(which.load(), 1);
  EXPECT_TRUE(other.IsSet());
  output.Set();
  flush.Set();
  EXPECT_EQ(TQvEvent::WaitAny({&output, &flush}, 0), 0);  // the first of two set ones
  EXPECT_EQ(TQvEvent::WaitAny({&output, &flush}, 0), 1);
  EXPECT_EQ(TQvEvent::WaitAny({&output, &flush}, 10), -1);
}

// The reader/dispatcher lock-step in miniature, with a third thread that keeps entering and
// leaving short waits of its own in the same group: every set reaches its waiter exactly once.
TEST(DispatcherEventTest, LockStepHandOffsLoseNoWakeUp) {
  TQvEventGroup group;
  TQvEvent input(group, false), ready(group, false), general(group, false);
  constexpr int kRounds = 20000;
  std::atomic<bool> stop{false};
  std::atomic<int> timeouts{0};
  std::thread bystander([&] {
    while (!stop) timeouts += general.Wait(1) ? 0 : 1;
  });
  int handled = 0;
  std::thread dispatcher([&] {
    for (int i = 0; i < kRounds; ++i) {
      if (!input.Wait(10000)) return;
      ++handled;
      ready.Set();
    }
  });
  int acknowledged = 0;
  for (int i = 0; i < kRounds; ++i) {
    input.Set();
    if (!ready.Wait(10000)) break;
    ++acknowledged;
  }
  dispatcher.join();
  stop = true;
  bystander.join();
  EXPECT_EQ(acknowledged, kRounds);
  EXPECT_EQ(handled, kRounds);
  EXPECT_GT(timeouts.load(), 0);
}

// Several threads waiting for one auto-reset event: each set lets exactly one of them through.
TEST(DispatcherEventTest, OneSetReleasesOneOfSeveralWaiters) {
  TQvEventGroup group;
  TQvEvent gate(group, false), done(group, false);
  std::atomic<int> through{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] {
      if (gate.Wait(10000)) {
        ++through;
        done.Set();
      }
    });
  for (int i = 1; i <= 3; ++i) {
    gate.Set();
    ASSERT_TRUE(done.Wait(10000));
    EXPECT_EQ(through.load(), i);
  }
  for (auto& t : waiters) t.join();
  EXPECT_FALSE(gate.IsSet());
}

// A set wakes its waiters after letting go of the group's lock, so it must reach every one of
// them however many there are, and must stay sound when a waiter's wait ends (a time-out) just
// as the set comes: the waiter is gone from its stack frame by the time it is woken.
TEST(DispatcherEventTest, ASetReachesEveryWaiterAndOutlivesWaitsThatEnd) {
  TQvEventGroup group;
  TQvEvent open(group, true), arrived(group, false);
  constexpr int kWaiters = 7;  // more than a port's threads
  std::atomic<int> waiting{0}, through{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i)
    waiters.emplace_back([&] {
      ++waiting;
      arrived.Set();
      if (open.Wait(10000)) ++through;
    });
  while (waiting.load() < kWaiters) arrived.Wait(1000);
  open.Set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(through.load(), kWaiters);

  TQvEvent flicker(group, false);
  std::atomic<bool> stop{false};
  std::atomic<int> caught{0};
  std::vector<std::thread> brief;
  for (int i = 0; i < 3; ++i)
    brief.emplace_back([&] {
      while (!stop) caught += flicker.Wait(1) ? 1 : 0;
    });
  int sets = 0;
  for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
       std::chrono::steady_clock::now() < end; ++sets)
    flicker.Set();
  stop = true;
  for (auto& t : brief) t.join();
  EXPECT_GT(caught.load(), 0);
  EXPECT_LE(caught.load(), sets);  // an auto-reset set is taken once at most
}

}  // namespace
}  // namespace qv::comm
