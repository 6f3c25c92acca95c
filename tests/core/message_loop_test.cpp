#include "core/message_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace qv::core;
using namespace std::chrono_literals;

namespace {
struct LoopTest : ::testing::Test {
  void SetUp() override {
    loop.bindToCurrentThread();
    loop.pumpPending();
    loop.takeQuit();
  }
  MessageLoop& loop = MessageLoop::instance();
};
}  // namespace

TEST_F(LoopTest, SendFromWorkerRunsOnUiThreadAndWaits) {
  std::thread::id ranOn;
  std::atomic<bool> result{false};
  std::thread worker([&] { result = loop.send([&] { ranOn = std::this_thread::get_id(); }, 2000); });
  auto begin = std::chrono::steady_clock::now();
  while (!result && std::chrono::steady_clock::now() - begin < 2s) loop.waitAndPump(10);
  worker.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(LoopTest, SendTimesOutWhenNobodyPumps) {
  std::atomic<bool> result{true};
  std::thread worker([&] { result = loop.send([] {}, 100); });
  worker.join();  // the UI thread does not pump meanwhile
  EXPECT_FALSE(result);
  EXPECT_EQ(loop.pumpPending(), 1);  // the message still runs later
}

TEST_F(LoopTest, SendOnUiThreadRunsDirectly) {
  int ran = 0;
  EXPECT_TRUE(loop.send([&] { ++ran; }, 0));
  EXPECT_EQ(ran, 1);
}

TEST_F(LoopTest, WorkersCannotPump) {
  loop.post([] {});
  int pumped = -1;
  std::thread([&] { pumped = loop.pumpPending(); }).join();
  EXPECT_EQ(pumped, 0);
  EXPECT_EQ(loop.pumpPending(), 1);
}

TEST_F(LoopTest, ThrowingHandlerKeepsLaterMessages) {
  int ran = 0;
  loop.post([] { throw std::runtime_error("boom"); });
  loop.post([&] { ++ran; });
  EXPECT_THROW(loop.pumpPending(), std::runtime_error);
  EXPECT_EQ(loop.pendingCount(), 1u);
  loop.pumpPending();
  EXPECT_EQ(ran, 1);
}

// A handler running in a pump still has the rest of its batch ahead of it: work that must not
// overtake posted messages sees them as pending, in nested pumps too, and none once all ran.
TEST_F(LoopTest, PendingCountsTheRestOfARunningBatch) {
  std::vector<size_t> seen;
  loop.post([&] { seen.push_back(loop.pendingCount()); });
  loop.post([&] {
    seen.push_back(loop.pendingCount());
    loop.post([&] { seen.push_back(loop.pendingCount()); });
    loop.pumpPending();  // a nested pump: its item runs with the outer batch's last one ahead
  });
  loop.post([&] { seen.push_back(loop.pendingCount()); });
  EXPECT_EQ(loop.pendingCount(), 3u);
  EXPECT_EQ(loop.pumpPending(), 3);
  EXPECT_EQ(seen, (std::vector<size_t>{2, 1, 1, 0}));
  EXPECT_EQ(loop.pendingCount(), 0u);
  // A handler that throws leaves only the items put back.
  loop.post([] { throw std::runtime_error("boom"); });
  loop.post([] {});
  EXPECT_THROW(loop.pumpPending(), std::runtime_error);
  EXPECT_EQ(loop.pendingCount(), 1u);
  loop.pumpPending();
  EXPECT_EQ(loop.pendingCount(), 0u);
}

TEST_F(LoopTest, ThrowingHandlerDoesNotStallTheSender) {
  std::atomic<bool> result{false};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    result = loop.send([] { throw std::runtime_error("handler failed"); }, 5000);
    done = true;
  });
  auto begin = std::chrono::steady_clock::now();
  while (!done && std::chrono::steady_clock::now() - begin < 3s) {
    try {
      loop.waitAndPump(10);
    } catch (const std::runtime_error&) {
    }
  }
  worker.join();
  EXPECT_TRUE(done);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 3s);
}

TEST_F(LoopTest, WakeupHookAndQuit) {
  std::atomic<int> wakes{0};
  loop.setWakeup([&] { ++wakes; });
  std::thread([&] { loop.post([] {}); }).join();
  EXPECT_EQ(wakes, 1);
  loop.postQuit();
  EXPECT_EQ(wakes, 2);
  loop.setWakeup(nullptr);
  auto begin = std::chrono::steady_clock::now();
  loop.waitAndPump(1000);  // quit ends the wait at once
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 500ms);
  EXPECT_TRUE(loop.takeQuit());
  loop.pumpPending();
}
