// The dispatcher on its own, with procedure handlers (called on the dispatcher thread, as the
// fax engine uses it): rings, triggers, dispatch accounting, closing, floods, bad devices.
#include "comm/dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

#include "comm/dispatcher_list.h"
#include "comm/loopback_dispatcher.h"
#include "comm/posix_dispatcher.h"
#include "core/error_codes.h"
#include "core/message_loop.h"
#include "pty_pair.h"

namespace qv::comm {
namespace {

using namespace std::chrono_literals;
using namespace qv::core;
using qv::comm::testing::PtyPair;

// Generous bound: under sanitizers on a loaded machine a thread may not run for seconds; a
// working dispatcher meets the condition long before, a broken one fails after the bound.
bool WaitFor(const std::function<bool()>& pred, int ms = 10000) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// What the procedure handlers saw. Handlers are plain functions, so they share this record.
struct Seen {
  struct Call {
    uint32_t msg, wParam, lParam;
  };
  std::mutex lock;
  std::vector<Call> calls;
  std::string bytesA, bytesB;
  TQvBaseDispatcher* d = nullptr;
  std::atomic<int> readA{-1};  // bytes handler A reads per avail dispatch; -1: all announced
  std::atomic<int> readB{0};
  std::atomic<bool> closeInA{false};
  std::atomic<bool> throwInA{false};

  void Reset(TQvBaseDispatcher* dispatcher) {
    std::lock_guard g(lock);
    calls.clear();
    bytesA.clear();
    bytesB.clear();
    d = dispatcher;
    readA = -1;
    readB = 0;
    closeInA = false;
    throwInA = false;
  }
  int Count(uint32_t msg) {
    std::lock_guard g(lock);
    int n = 0;
    for (auto& c : calls) n += c.msg == msg;
    return n;
  }
  std::vector<Call> Calls() {
    std::lock_guard g(lock);
    return calls;
  }
  std::string A() {
    std::lock_guard g(lock);
    return bytesA;
  }
};
Seen gSeen;

void HandlerA(uint32_t msg, uint32_t wParam, uint32_t lParam) {
  {
    std::lock_guard g(gSeen.lock);
    gSeen.calls.push_back({msg, wParam, lParam});
  }
  if (gSeen.throwInA) throw std::runtime_error("procedure failed");
  if (msg == MSG_DATA_AVAILABLE) {
    int want = gSeen.readA < 0 ? static_cast<int>(wParam) : gSeen.readA.load();
    std::string got;
    char c;
    for (int i = 0; i < want && gSeen.d->ReadChar(c) == 0; ++i) got += c;
    std::lock_guard g(gSeen.lock);
    gSeen.bytesA += got;
  }
  if (gSeen.closeInA) gSeen.d->ClosePort();
}

void HandlerB(uint32_t msg, uint32_t wParam, uint32_t lParam) {
  (void)wParam;
  (void)lParam;
  if (msg != MSG_DATA_AVAILABLE) return;
  std::string got;
  char c;
  for (int i = 0; i < gSeen.readB && gSeen.d->ReadChar(c) == 0; ++i) got += c;
  std::lock_guard g(gSeen.lock);
  gSeen.bytesB += got;
}

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetExceptionDisplay([this](const std::string& m) {
      std::lock_guard g(shownLock_);
      shown_.push_back(m);
    });
  }
  void TearDown() override {
    SetExceptionDisplay(nullptr);
    SetPollingMode(false);
  }
  // An open loopback device with handler A registered and an avail threshold of 1.
  std::unique_ptr<TQvLoopbackDispatcher> Loopback(bool echo = false, int outSize = 4096) {
    auto d = std::make_unique<TQvLoopbackDispatcher>(echo);
    EXPECT_EQ(d->OpenPort("loopback", 19200, kNoParity, 8, 1, 8192, outSize, true, true), 0);
    gSeen.Reset(d.get());
    d->RegisterProcHandler(&HandlerA);
    d->SetAvailThreshold(1);
    return d;
  }
  std::mutex shownLock_;
  std::vector<std::string> shown_;
};

TEST_F(DispatcherTest, SaturatedPtyRefusesMoreAndLosesNothing) {
  PtyPair pty;
  TQvPosixDispatcher d;
  const int outSize = 1024;
  ASSERT_EQ(d.OpenPort(pty.SlavePath(), 115200, kNoParity, 8, 1, 4096, outSize, true, true), 0);
  std::string sent;
  uint32_t counter = 0;
  auto next = [&](int n) {
    std::string block;
    for (int i = 0; i < n; ++i) block += static_cast<char>('A' + (counter++ % 26));
    return block;
  };
  // Nobody reads the far side: fill the kernel's buffers, then the ring. The kernel frees room
  // in its pty buffers from a work queue, late on a loaded machine, so the ring counts as full
  // only when it is still full after a pause.
  auto fill = [&] {
    int quiet = 0;
    while (quiet < 50) {
      int free = d.OutputFree();
      if (free > 0) {
        std::string block = next(free);
        ASSERT_EQ(d.SendBlock(block.data(), free), 0);
        sent += block;
        quiet = 0;
      } else {
        ++quiet;
      }
      std::this_thread::sleep_for(2ms);
    }
  };
  for (int round = 0; round < 20; ++round) {
    fill();
    std::this_thread::sleep_for(300ms);
    if (d.OutputFree() == 0) break;
  }
  EXPECT_EQ(d.OutputUsed(), outSize);
  EXPECT_EQ(d.SendChar('x'), ecOutputBufferTooSmall);  // full: nothing more is queued
  std::string far;
  // Everything arrives once, in order.
  far += pty.Read(sent.size(), 10000);
  EXPECT_EQ(far.size(), sent.size());
  EXPECT_TRUE(far == sent);
  EXPECT_TRUE(WaitFor([&] { return d.OutputUsed() == 0; }));
}

TEST_F(DispatcherTest, ExactFreeSizeOnAHeldDevice) {
  auto d = Loopback(false, 100);
  d->HoldOutput(true);  // the far side takes nothing for now
  ASSERT_EQ(d->SendString(std::string(37, 'a')), 0);
  int free = d->OutputFree();
  EXPECT_EQ(free, 63);
  EXPECT_EQ(d->SendString(std::string(64, 'b')), ecOutputBufferTooSmall);
  EXPECT_EQ(d->OutputUsed(), 37);  // nothing of it was queued
  EXPECT_EQ(d->SendString(std::string(63, 'c')), 0);
  EXPECT_EQ(d->OutputFree(), 0);
  EXPECT_EQ(d->OutputUsed(), 100);  // full, not empty
  EXPECT_EQ(d->SendChar('d'), ecOutputBufferTooSmall);
  d->HoldOutput(false);
  ASSERT_TRUE(WaitFor([&] { return d->OutputUsed() == 0; }));
  EXPECT_EQ(d->TakeTransmitted(), std::string(37, 'a') + std::string(63, 'c'));
}

TEST_F(DispatcherTest, AvailHandlerReadingLessEndsTheRepeats) {
  auto d = Loopback();
  gSeen.readA = 2;
  d->Inject("hello");
  ASSERT_TRUE(WaitFor([&] { return gSeen.Count(MSG_DATA_AVAILABLE) == 1; }));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(gSeen.Count(MSG_DATA_AVAILABLE), 1);  // no repeat for the unread bytes
  EXPECT_EQ(gSeen.A(), "he");
  EXPECT_EQ(d->InputCount(), 3);
  d->Inject("!");
  ASSERT_TRUE(WaitFor([&] { return gSeen.Count(MSG_DATA_AVAILABLE) == 2; }));
  auto calls = gSeen.Calls();
  EXPECT_EQ(calls.back().wParam, 4u);  // "llo!"
  EXPECT_EQ(calls.back().lParam & 0xFFFF, 4u);
  EXPECT_EQ(calls.back().lParam >> 16, static_cast<uint32_t>(d->RegistryIndex()));
}

TEST_F(DispatcherTest, EveryHandlerSeesTheSameBytesAndTheRingGivesUpTheLarger) {
  auto d = Loopback();
  d->RegisterProcHandler(&HandlerB);
  gSeen.readA = 2;
  gSeen.readB = 4;
  d->Inject("abcdef");
  ASSERT_TRUE(WaitFor([&] { return gSeen.Count(MSG_DATA_AVAILABLE) == 1; }));
  ASSERT_TRUE(WaitFor([&] { return d->InputCount() == 2; }));
  {
    std::lock_guard g(gSeen.lock);
    EXPECT_EQ(gSeen.bytesA, "ab");
    EXPECT_EQ(gSeen.bytesB, "abcd");
  }
  char c;
  EXPECT_EQ(d->PeekAt(2, c), 0);
  EXPECT_EQ(c, 'f');
  EXPECT_EQ(d->PeekAt(3, c), ecBufferIsEmpty);
  EXPECT_EQ(d->ReadChar(c), 0);
  EXPECT_EQ(c, 'e');
  d->PurgeInput();
  EXPECT_FALSE(d->HasInput());
  EXPECT_EQ(d->ReadChar(c), ecBufferIsEmpty);
}

TEST_F(DispatcherTest, TimerTriggersAndHandles) {
  auto d = Loopback();
  int t1 = d->NewTimerTrigger();
  int t2 = d->NewTimerTrigger();
  int s3 = d->NewStatusTrigger(stOutBuffUsed);
  EXPECT_EQ(t1, 8);
  EXPECT_EQ(t2, 16);
  EXPECT_EQ(s3, 24 | stOutBuffUsed);
  EXPECT_EQ(d->NewStatusTrigger(6), ecBadArgument);
  EXPECT_EQ(d->ArmTimerTrigger(s3, 1, true), ecBadTriggerHandle);
  EXPECT_EQ(d->ArmStatusTrigger(t1, 1, true), ecBadTriggerHandle);
  EXPECT_EQ(d->DeleteTrigger(0), ecBadTriggerHandle);
  EXPECT_EQ(d->DeleteTrigger(12345), ecBadTriggerHandle);
  EXPECT_EQ(d->DeleteTrigger(kAvailTriggerHandle), 0);
  EXPECT_EQ(d->AvailThreshold(), 0);

  ASSERT_EQ(d->ArmTimerTrigger(t1, 2, true), 0);
  ASSERT_TRUE(WaitFor([&] { return gSeen.Count(MSG_TIMER_EXPIRED) == 1; }));
  std::this_thread::sleep_for(250ms);
  EXPECT_EQ(gSeen.Count(MSG_TIMER_EXPIRED), 1);  // one-shot
  EXPECT_EQ(gSeen.Calls().back().wParam, static_cast<uint32_t>(t1));
  ASSERT_EQ(d->ArmTimerTrigger(t1, 0, true), 0);  // 0 ticks: the previous count again
  ASSERT_TRUE(WaitFor([&] { return gSeen.Count(MSG_TIMER_EXPIRED) == 2; }));
  ASSERT_EQ(d->ArmTimerTrigger(t2, 1, false), 0);  // disarmed
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(gSeen.Count(MSG_TIMER_EXPIRED), 2);

  // Deleted handles are reused once the counter has run out; before, they keep counting.
  EXPECT_EQ(d->DeleteTrigger(t2), 0);
  EXPECT_EQ(d->ArmTimerTrigger(t2, 1, true), ecBadTriggerHandle);
  EXPECT_EQ(d->NewTimerTrigger(), 32);
  for (int i = 5; i < 4096; ++i) d->NewTimerTrigger();
  EXPECT_EQ(d->NewTimerTrigger(), 16);
  EXPECT_EQ(d->NewStatusTrigger(stModem), 8 * 4096 | stModem);
}

TEST_F(DispatcherTest, OutputTriggers) {
  auto d = Loopback(false, 100);
  d->HoldOutput(true);
  ASSERT_EQ(d->SendString("abc"), 0);
  EXPECT_EQ(d->OutputUsed(), 3);
  EXPECT_EQ(d->OutputFree(), 97);
  int used = d->NewStatusTrigger(stOutBuffUsed);
  int free = d->NewStatusTrigger(stOutBuffFree);
  int sent = d->NewStatusTrigger(stOutSent);
  ASSERT_EQ(d->ArmStatusTrigger(used, 0, true), 0);
  ASSERT_EQ(d->ArmStatusTrigger(free, 100, true), 0);
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(gSeen.Count(MSG_STATUS_CHANGED), 0);
  d->HoldOutput(false);
  ASSERT_TRUE(WaitFor([&] { return gSeen.Count(MSG_STATUS_CHANGED) == 2; }));
  EXPECT_EQ(d->TakeTransmitted(), "abc");
  auto calls = gSeen.Calls();
  EXPECT_EQ(calls[0].wParam, static_cast<uint32_t>(used));  // in list order
  EXPECT_EQ(calls[0].lParam & 0xFFFF, 0u);                  // the used count
  EXPECT_EQ(calls[1].wParam, static_cast<uint32_t>(free));
  EXPECT_EQ(calls[1].lParam & 0xFFFF, 100u);                // the free count
  // Output sent fires for output written after arming.
  ASSERT_EQ(d->ArmStatusTrigger(sent, 0, true), 0);
  ASSERT_EQ(d->SendChar('z'), 0);
  ASSERT_TRUE(WaitFor([&] { return gSeen.Count(MSG_STATUS_CHANGED) == 3; }));
  EXPECT_EQ(gSeen.Calls().back().wParam, static_cast<uint32_t>(sent));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(gSeen.Count(MSG_STATUS_CHANGED), 3);  // each fires once per arming
  // A purge empties the ring and the device queue.
  d->HoldOutput(true);
  ASSERT_EQ(d->SendString("zzzz"), 0);
  EXPECT_EQ(d->PurgeOutput(), 0);
  EXPECT_EQ(d->OutputUsed(), 0);
  d->HoldOutput(false);
}

TEST_F(DispatcherTest, ModemLinesAndLineErrors) {
  auto d = Loopback();
  EXPECT_TRUE(d->CheckCarrier());
  int modem = d->NewStatusTrigger(stModem);
  ASSERT_EQ(d->ArmStatusTrigger(modem, msDcd, true), 0);
  d->SetLines(msCts | msDsr | msDcd | msRing);  // ring only: not watched
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(gSeen.Count(MSG_STATUS_CHANGED), 0);
  d->SetLines(msCts | msDsr);  // DCD drops
  ASSERT_TRUE(WaitFor([&] { return gSeen.Count(MSG_STATUS_CHANGED) == 1; }));
  d->SetLines(msCts | msDsr | msDcd);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(gSeen.Count(MSG_STATUS_CHANGED), 1);  // once per arming
  uint8_t status = d->ReadModemStatus(0xFF);
  EXPECT_EQ(status & 0xF0, msCts | msDsr | msDcd);
  EXPECT_TRUE(status & msDcdDelta);
  EXPECT_TRUE(status & msRingDelta);
  EXPECT_TRUE(d->CheckCarrier());  // clears the DCD change bit
  EXPECT_FALSE(d->ReadModemStatus(0xFF) & msDcdDelta);

  int line = d->NewStatusTrigger(stLine);
  ASSERT_EQ(d->ArmStatusTrigger(line, 0x2, true), 0);  // parity
  d->RaiseLineErrors(leFraming);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(gSeen.Count(MSG_STATUS_CHANGED), 1);
  d->RaiseLineErrors(leParity);
  ASSERT_TRUE(WaitFor([&] { return gSeen.Count(MSG_STATUS_CHANGED) == 2; }));
  EXPECT_EQ(gSeen.Calls().back().wParam, static_cast<uint32_t>(line));
  EXPECT_EQ(d->TakeLineError(), 3);  // parity before framing
  EXPECT_EQ(d->TakeLineError(), 0);
  d->RaiseLineErrors(leBreak);
  ASSERT_TRUE(WaitFor([&] { return (d->LineErrors() & leBreak) != 0; }));
  EXPECT_EQ(d->TakeLineError(), 9);
  EXPECT_TRUE(d->TakeLineBreak());
  EXPECT_FALSE(d->TakeLineBreak());
}

TEST_F(DispatcherTest, LineParametersAndFlowControl) {
  auto d = Loopback();
  int writes = d->StateWrites();
  EXPECT_EQ(d->SetLineParams(19200, kNoParity, 1, 8), 0);
  EXPECT_EQ(d->StateWrites(), writes);  // nothing changed: the device is not touched
  EXPECT_EQ(d->SetBaudOnly(0xFF10 + 6), 0);
  uint32_t baud;
  int parity, stop, data;
  ASSERT_EQ(d->GetLineParams(baud, parity, stop, data), 0);
  EXPECT_EQ(baud, 9600u);
  EXPECT_EQ(d->SetLineParams(0, kEvenParity, 0, 5), 0);  // 5 data bits: one and a half stop bits
  EXPECT_EQ(d->LastState().StopBits, kOne5StopBits);
  EXPECT_EQ(d->LastState().BaudRate, 0xFF10u + 6);
  ASSERT_EQ(d->GetLineParams(baud, parity, stop, data), 0);
  EXPECT_EQ(parity, kEvenParity);
  EXPECT_EQ(stop, 1);
  EXPECT_EQ(data, 5);
  EXPECT_EQ(d->SetLineParams(0, 5, 7, 9), 0);
  EXPECT_EQ(d->LastState().StopBits, kOne5StopBits);  // kept: still 5 data bits
  EXPECT_EQ(d->SetLineParams(0, 5, 2, 4), ecByteSize);

  // A new rate waits for the queued output to leave at the old one.
  d->HoldOutput(true);
  ASSERT_EQ(d->SendString("ATH0\r"), 0);
  std::thread release([&] {
    std::this_thread::sleep_for(100ms);
    d->HoldOutput(false);
  });
  EXPECT_EQ(d->SetBaudOnly(38400), 0);
  EXPECT_EQ(d->OutputUsed(), 0);
  EXPECT_EQ(d->TakeTransmitted(), "ATH0\r");
  EXPECT_EQ(d->LastState().BaudRate, 38400u);
  release.join();

  EXPECT_EQ(TranslateBaud(0xFEFF), 115200u);
  EXPECT_EQ(TranslateBaud(0xFF10 + 19), 128000u);
  EXPECT_EQ(TranslateBaud(0xFF10 + 9), 0xFF10u + 9);
  EXPECT_EQ(TranslateBaud(57600), 57600u);

  EXPECT_EQ(d->SetHardwareFlow(100, 200, hfUseRts), ecBadArgument);
  EXPECT_EQ(d->SetHardwareFlow(9000, 819, hfUseRts), ecBadArgument);
  ASSERT_EQ(d->SetHardwareFlow(7372, 819, hfUseRts | hfRequireCts), 0);
  int hw, sw;
  char xon, xoff;
  ASSERT_EQ(d->GetFlowOptions(hw, sw, xon, xoff), 0);
  EXPECT_EQ(hw, hfUseRts | hfRequireCts);
  EXPECT_EQ(d->LastState().XoffLim, 8192 - 7372);
  EXPECT_EQ(d->LastState().XonLim, 819);
  EXPECT_EQ(d->DriveRts(false), 1);  // RTS belongs to flow control now
  EXPECT_EQ(d->DriveDtr(false), 0);
  EXPECT_FALSE(d->DtrState());
  ASSERT_EQ(d->SetSoftwareFlow(6000, 2000, sfReceiveFlow | sfTransmitFlow), 0);
  ASSERT_EQ(d->GetFlowOptions(hw, sw, xon, xoff), 0);
  EXPECT_EQ(sw, 3);
  EXPECT_EQ(xon, 17);
  EXPECT_EQ(xoff, 19);
  ASSERT_EQ(d->SetFlowChars('Q', 'S'), 0);
  ASSERT_EQ(d->ClearSoftwareFlow(), 0);
  ASSERT_EQ(d->GetFlowOptions(hw, sw, xon, xoff), 0);
  EXPECT_EQ(sw, 0);
  EXPECT_EQ(xon, 'Q');

  EXPECT_EQ(d->SetUserPointer(&hw, 0), ecBadArgument);
  EXPECT_EQ(d->SetUserPointer(&hw, 3), 0);
  EXPECT_EQ(d->GetUserPointer(3), &hw);
  EXPECT_EQ(d->GetUserPointer(4), nullptr);
}

TEST_F(DispatcherTest, DataTriggersMatchOverlappingInput) {
  auto d = Loopback();
  d->SetAvailThreshold(0);
  int connect = d->NewDataTrigger("CONNECT", true);
  ASSERT_GT(connect, 0);
  EXPECT_EQ(d->NewDataTrigger(std::string(23, 'x'), false), ecTriggerTooLong);
  d->Inject("CONCONnect 9600\r\n");
  ASSERT_TRUE(WaitFor([&] { return gSeen.Count(MSG_PATTERN_FOUND) == 1; }));
  auto calls = gSeen.Calls();
  EXPECT_EQ(calls[0].wParam, static_cast<uint32_t>(connect));
  EXPECT_EQ(calls[0].lParam & 0xFFFF, 7u);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(gSeen.Count(MSG_PATTERN_FOUND), 1);
  d->Inject("connect");
  ASSERT_TRUE(WaitFor([&] { return gSeen.Count(MSG_PATTERN_FOUND) == 2; }));
}

TEST_F(DispatcherTest, CloseFromInsideAHandlerAbortsTheDispatch) {
  auto d = Loopback();
  d->RegisterProcHandler(&HandlerB);
  gSeen.readB = 100;
  gSeen.closeInA = true;
  d->Inject("bye");
  ASSERT_TRUE(WaitFor([&] { return d->RunningThreadCount() == 0; }));
  EXPECT_TRUE(d->ClosePending());
  EXPECT_FALSE(d->IsOpen());
  EXPECT_EQ(gSeen.A(), "bye");
  std::lock_guard g(gSeen.lock);
  EXPECT_EQ(gSeen.bytesB, "");  // the rest of the dispatch was skipped
}

TEST_F(DispatcherTest, HandlerExceptionsDoNotStopTheDispatcher) {
  auto d = Loopback();
  gSeen.throwInA = true;
  d->Inject("1");
  ASSERT_TRUE(WaitFor([&] { return gSeen.Count(MSG_DATA_AVAILABLE) == 1; }));
  gSeen.throwInA = false;
  d->Inject("2");
  ASSERT_TRUE(WaitFor([&] { return gSeen.Count(MSG_DATA_AVAILABLE) == 2; }));
  std::lock_guard g(shownLock_);
  ASSERT_FALSE(shown_.empty());
  EXPECT_EQ(shown_[0], "procedure failed");
}

TEST_F(DispatcherTest, RegistryIndexesAndTheGlobalList) {
  int before = DispatcherCount();
  auto a = std::make_unique<TQvLoopbackDispatcher>();
  auto b = std::make_unique<TQvLoopbackDispatcher>();
  EXPECT_NE(a->RegistryIndex(), b->RegistryIndex());
  EXPECT_EQ(FindDispatcher(a->RegistryIndex()), a.get());
  int slot = a->RegistryIndex();
  a.reset();
  EXPECT_EQ(FindDispatcher(slot), nullptr);
  auto c = std::make_unique<TQvLoopbackDispatcher>();
  EXPECT_EQ(c->RegistryIndex(), slot);  // first empty slot
  EXPECT_EQ(DispatcherCount(), before + 2);
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& ch : s) ch = static_cast<char>(rng() & 0xFF);
  return s;
}

// A pty's port with handler A announced every byte that arrives.
void OpenAnnouncingEveryByte(PtyPair& pty, TQvPosixDispatcher& d) {
  ASSERT_EQ(d.OpenPort(pty.SlavePath(), 115200, kNoParity, 8, 1, 8192, 8192, true, true), 0);
  gSeen.Reset(&d);
  d.RegisterProcHandler(&HandlerA);
  d.SetAvailThreshold(1);
}

TEST_F(DispatcherTest, FloodFarLargerThanTheRing) {
  PtyPair pty;
  TQvPosixDispatcher d;
  ASSERT_NO_FATAL_FAILURE(OpenAnnouncingEveryByte(pty, d));
  const std::string flood = RandomBytes(512 * 1024, 7);
  std::thread far([&] { pty.Write(flood, 20000); });
  ASSERT_TRUE(WaitFor([&] { return gSeen.A().size() >= flood.size(); }, 20000));
  far.join();
  EXPECT_TRUE(gSeen.A() == flood);
}

// The avail trigger remembers how far input had come when it last fired. A ring's worth of input
// arriving at once ends at that same ring index; it is new input all the same and is announced.
TEST_F(DispatcherTest, ARingsWorthArrivingAtOnceIsAnnounced) {
  auto d = Loopback();
  d->Inject("abc");
  ASSERT_TRUE(WaitFor([&] { return gSeen.A() == "abc"; }));
  const std::string ring = RandomBytes(kDispatchBufferSize, 5);
  d->Inject(ring);
  ASSERT_TRUE(WaitFor([&] { return gSeen.A().size() == 3 + ring.size(); }));
  EXPECT_TRUE(gSeen.A() == "abc" + ring);
  // And again from a full ring the application emptied by itself.
  gSeen.readA = 0;
  d->Inject(ring);
  ASSERT_TRUE(WaitFor([&] { return d->InputCount() == kDispatchBufferSize; }));
  EXPECT_EQ(d->ReadBlock(nullptr, kDispatchBufferSize), kDispatchBufferSize);
  gSeen.readA = -1;
  d->Inject(ring);
  ASSERT_TRUE(WaitFor([&] { return gSeen.A().size() == 3 + 2 * ring.size(); }));
}

// The reader moves bytes into the ring while the dispatcher thread delivers earlier ones. Bursts
// of every size, each followed by silence, must all come out in order without a later arrival
// to push them: a burst whose end is never announced would wait for good.
// The same holds for bulk input under a pace: what arrives while arrivals gather comes up when
// the gathering ends, not with the next arrival.
class BurstsThenSilence : public DispatcherTest, public ::testing::WithParamInterface<int> {};

TEST_P(BurstsThenSilence, DeliverEveryByte) {
  PtyPair pty;
  TQvPosixDispatcher d;
  ASSERT_NO_FATAL_FAILURE(OpenAnnouncingEveryByte(pty, d));
  d.SetInputPace(GetParam());
  std::mt19937 rng(3);
  std::string sent;
  for (int burst = 0; burst < 40; ++burst) {
    // Sizes around the driver's and the ring's sizes, and tiny ones.
    static constexpr size_t kSizes[] = {1, 2, 255, 4095, 4096, 4097, 8191, 8192, 8193, 20000};
    size_t n = kSizes[rng() % std::size(kSizes)];
    std::string bytes = RandomBytes(n, static_cast<unsigned>(burst));
    std::thread far([&] { pty.Write(bytes, 20000); });
    sent += bytes;
    bool all = WaitFor([&] { return gSeen.A().size() == sent.size(); }, 20000);
    far.join();
    ASSERT_TRUE(all) << "burst " << burst << " of " << n << " bytes: " << gSeen.A().size() << " of "
                     << sent.size() << " delivered";
  }
  EXPECT_TRUE(gSeen.A() == sent);
  EXPECT_EQ(d.InputCount(), 0);
}
INSTANTIATE_TEST_SUITE_P(Paces, BurstsThenSilence, ::testing::Values(0, 40),
                         [](const auto& info) { return info.param == 0 ? std::string("EachArrival") : std::string("Paced"); });

// Under a pace, arrivals that come close together are handed up in one dispatch rather than one
// each; once the pace comes off (a reply is awaited) what has gathered comes up at once; and a
// far side that goes away while arrivals gather is noticed at once.
TEST_F(DispatcherTest, PacedInputGathersArrivalsYetLetsRepliesAndHangUpsThrough) {
  auto pty = std::make_unique<PtyPair>();
  TQvPosixDispatcher d;
  ASSERT_NO_FATAL_FAILURE(OpenAnnouncingEveryByte(*pty, d));
  int modem = d.NewStatusTrigger(stModem);
  d.ArmStatusTrigger(modem, msDcd | msDsr | msCts, true);
  d.SetInputPace(1000);
  std::string sent;
  for (int i = 0; i < 10; ++i) {
    const std::string piece = "piece" + std::to_string(i) + ";";
    sent += piece;
    pty->Write(piece);
    std::this_thread::sleep_for(5ms);  // the far side's pieces come apart, as a modem's do
  }
  ASSERT_TRUE(WaitFor([&] { return gSeen.A() == sent; }));
  // The first piece comes up at once (nothing is flowing yet), the second starts the gathering,
  // and the rest come up together at its end (a fourth dispatch only if this thread was held up
  // past the pace). Without a pace each piece would come up on its own on an idle machine.
  EXPECT_LE(gSeen.Count(MSG_DATA_AVAILABLE), 4);

  // A pace of a minute, taken off while "OK" waits: it comes up long before the minute.
  d.SetInputPace(60000);
  pty->Write("x");
  ASSERT_TRUE(WaitFor([&] { return gSeen.A() == sent + "x"; }));
  pty->Write("OK");
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(gSeen.A(), sent + "x");  // gathering
  d.SetInputPace(0);
  EXPECT_TRUE(WaitFor([&] { return gSeen.A() == sent + "xOK"; }, 10000));

  d.SetInputPace(60000);
  pty->Write("y");
  ASSERT_TRUE(WaitFor([&] { return gSeen.A() == sent + "xOKy"; }));
  pty.reset();
  EXPECT_TRUE(WaitFor([&] { return gSeen.Count(MSG_STATUS_CHANGED) == 1; }, 10000));
  EXPECT_TRUE(d.HungUp());
  EXPECT_EQ(d.ClosePort(), 0);
}

// An idle port hands a block to the driver from the caller's own thread, with no hand-off to the
// writer thread; a block sent while earlier ones still wait in the ring goes behind them. A far
// side that reads slowly makes the ring fill and empty over and over, so both ways are taken
// many times: every byte arrives once, in order.
TEST_F(DispatcherTest, BlocksGoOutInOrderWhetherTheDriverTakesThemAtOnceOrTheWriterDoes) {
  PtyPair pty;
  TQvPosixDispatcher d;
  ASSERT_EQ(d.OpenPort(pty.SlavePath(), 115200, kNoParity, 8, 1, 8192, 8192, true, true), 0);
  ASSERT_EQ(d.SendString("hello"), 0);
  // In the driver when SendBlock returned: a read that does not wait finds it.
  char first[16];
  const ssize_t got = ::read(pty.Master(), first, sizeof first);
  EXPECT_EQ(std::string(first, static_cast<size_t>(std::max<ssize_t>(got, 0))), "hello");

  std::mt19937 rng(11);
  std::string sent;
  std::vector<std::string> blocks;
  for (int i = 0; i < 300; ++i) blocks.push_back(RandomBytes(1 + rng() % 3000, static_cast<unsigned>(100 + i)));
  size_t total = 0;
  for (const auto& b : blocks) total += b.size();
  std::string far;
  std::thread slowReader([&] {
    auto until = std::chrono::steady_clock::now() + 60s;
    char buf[256];
    while (far.size() < total && std::chrono::steady_clock::now() < until) {
      const ssize_t n = ::read(pty.Master(), buf, sizeof buf);
      if (n > 0) far.append(buf, static_cast<size_t>(n));
      std::this_thread::sleep_for(1ms);
    }
  });
  bool allSent = true;
  for (const auto& b : blocks) {
    const int size = static_cast<int>(b.size());
    allSent = WaitFor([&] { return d.OutputFree() >= size; }, 30000) && d.SendBlock(b.data(), size) == 0;
    if (!allSent) break;
    sent += b;
  }
  slowReader.join();
  ASSERT_TRUE(allSent);
  EXPECT_EQ(far.size(), sent.size());
  EXPECT_TRUE(far == sent);
  EXPECT_EQ(d.ClosePort(), 0);
}

TEST_F(DispatcherTest, FullRingLeavesTheRestInTheDriver) {
  PtyPair pty;
  TQvPosixDispatcher d;
  ASSERT_EQ(d.OpenPort(pty.SlavePath(), 115200, kNoParity, 8, 1, 8192, 8192, true, true), 0);
  gSeen.Reset(&d);
  gSeen.readA = 0;  // the handler takes nothing for now
  d.RegisterProcHandler(&HandlerA);
  d.SetAvailThreshold(1);
  const std::string data = RandomBytes(20000, 11);
  pty.Write(data.substr(0, 12000));
  ASSERT_TRUE(WaitFor([&] { return d.InputCount() == kDispatchBufferSize; }));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(d.InputCount(), kDispatchBufferSize);
  // The application reads by itself; the rest then moves up from the driver.
  std::string got;
  char c;
  while (got.size() < 12000 && WaitFor([&] { return d.HasInput(); }))
    while (d.ReadChar(c) == 0) got += c;
  EXPECT_EQ(got.size(), 12000u);
  gSeen.readA = -1;
  pty.Write(data.substr(12000));
  ASSERT_TRUE(WaitFor([&] { return gSeen.A().size() == 8000; }));
  EXPECT_TRUE(got + gSeen.A() == data);
}

// A handler that takes nothing and holds its dispatch open until the application has tried to
// read. The announced bytes belong to the open dispatch: an application read from outside its
// handlers finds nothing until it ends. (Read through the handlers' view it was counted only
// while a handler call ran; in the moments before and after one it was not, and those bytes came
// again: a flooded port under load delivered 12096 of 12000 bytes.)
struct HeldDispatch {
  std::mutex m;
  std::condition_variable cv;
  bool inHandler = false, appTried = false;
} gHeld;

void HoldingHandler(uint32_t msg, uint32_t, uint32_t) {
  if (msg != MSG_DATA_AVAILABLE) return;
  std::unique_lock l(gHeld.m);
  gHeld.inHandler = true;
  gHeld.cv.notify_all();
  gHeld.cv.wait_for(l, 10s, [] { return gHeld.appTried; });
}

TEST_F(DispatcherTest, TheApplicationReadsEachByteOnceWhileAHandlerHoldsItsDispatch) {
  PtyPair pty;
  TQvPosixDispatcher d;
  ASSERT_EQ(d.OpenPort(pty.SlavePath(), 115200, kNoParity, 8, 1, 8192, 8192, true, true), 0);
  gHeld.inHandler = gHeld.appTried = false;
  d.RegisterProcHandler(&HoldingHandler);
  d.SetAvailThreshold(1);
  const std::string data = RandomBytes(300, 17);
  pty.Write(data);
  std::string got;
  char c;
  {
    std::unique_lock l(gHeld.m);
    ASSERT_TRUE(gHeld.cv.wait_for(l, 10s, [] { return gHeld.inHandler; }));
  }
  while (d.ReadChar(c) == 0) got += c;
  EXPECT_TRUE(got.empty()) << got.size() << " bytes read from outside the open dispatch";
  EXPECT_EQ(d.InputCount(), 0);
  {
    std::lock_guard l(gHeld.m);
    gHeld.appTried = true;
  }
  gHeld.cv.notify_all();
  while (got.size() < data.size() && WaitFor([&] { return d.HasInput(); }))
    while (d.ReadChar(c) == 0) got += c;
  EXPECT_EQ(got.size(), data.size());
  EXPECT_TRUE(got == data);
  d.UnregisterProcHandler(&HoldingHandler);
}

TEST_F(DispatcherTest, PollingModeReadsWithoutCharacterEvents) {
  SetPollingMode(true);
  PtyPair pty;
  TQvPosixDispatcher d;
  ASSERT_NO_FATAL_FAILURE(OpenAnnouncingEveryByte(pty, d));
  pty.Write("polled");
  ASSERT_TRUE(WaitFor([&] { return gSeen.A() == "polled"; }));
}

TEST_F(DispatcherTest, VanishedDeviceReportsAndCloses) {
  auto pty = std::make_unique<PtyPair>();
  TQvPosixDispatcher d;
  ASSERT_EQ(d.OpenPort(pty->SlavePath(), 115200, kNoParity, 8, 1, 8192, 8192, true, true), 0);
  gSeen.Reset(&d);
  d.RegisterProcHandler(&HandlerA);
  d.SetAvailThreshold(1);
  EXPECT_FALSE(d.HasModemLines());
  int modem = d.NewStatusTrigger(stModem);
  d.ArmStatusTrigger(modem, msDcd | msDsr | msCts, true);
  pty->Write("last words");
  ASSERT_TRUE(WaitFor([&] { return gSeen.A() == "last words"; }));
  pty.reset();  // the far side goes away (the kernel drops whatever it had not yet delivered)
  ASSERT_TRUE(WaitFor([&] { return gSeen.Count(MSG_STATUS_CHANGED) == 1; }));
  EXPECT_TRUE(d.HungUp());
  EXPECT_EQ(d.ReadModemStatus(0) & 0xF0, 0);
  EXPECT_EQ(d.SendString("ATH\r"), ecPutBlockFail);
  std::this_thread::sleep_for(100ms);  // and nothing spins meanwhile
  EXPECT_EQ(gSeen.Count(MSG_STATUS_CHANGED), 1);
  EXPECT_EQ(d.ClosePort(), 0);
  EXPECT_EQ(d.RunningThreadCount(), 0);
}

// A handler that can be held inside its call, for the tests of holds taken while a dispatch runs.
struct Gate {
  std::mutex lock;
  std::condition_variable cv;
  bool closed = false;
  std::atomic<int> waiting{0};
  std::atomic<int> calls{0};
};
Gate gGate;

void GatedHandler(uint32_t msg, uint32_t, uint32_t) {
  ++gGate.calls;
  if (msg == MSG_DATA_AVAILABLE) {
    char c;
    while (gSeen.d->ReadChar(c) == 0) {
    }
  }
  std::unique_lock g(gGate.lock);
  ++gGate.waiting;
  gGate.cv.wait(g, [] { return !gGate.closed; });
  --gGate.waiting;
}

// A thread that holds dispatching off while a dispatch is running, and gives the hold back after
// the dispatch ended, must leave the port dispatching again: the hold is the thread's own, not a
// copy of the dispatcher's state.
TEST_F(DispatcherTest, DispatchHoldsNeverStick) {
  auto d = std::make_unique<TQvLoopbackDispatcher>(false);
  ASSERT_EQ(d->OpenPort("loopback", 19200, kNoParity, 8, 1, 8192, 4096, true, true), 0);
  gSeen.Reset(d.get());
  d->RegisterProcHandler(&GatedHandler);
  d->SetAvailThreshold(1);
  {
    std::lock_guard g(gGate.lock);
    gGate.closed = true;
  }
  gGate.calls = 0;
  d->Inject("x");
  ASSERT_TRUE(WaitFor([&] { return gGate.waiting.load() == 1; }));
  ASSERT_TRUE(d->InDispatch());
  bool previous = true;
  d->SetDispatchBusy(true, previous);
  EXPECT_FALSE(previous);  // this thread held nothing, whatever the dispatcher is doing
  bool inner = false;
  d->SetDispatchBusy(true, inner);
  EXPECT_TRUE(inner);  // nested on one thread
  {
    std::lock_guard g(gGate.lock);
    gGate.closed = false;
  }
  gGate.cv.notify_all();
  ASSERT_TRUE(WaitFor([&] { return gGate.waiting.load() == 0; }));
  d->Inject("y");
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(gGate.calls.load(), 1);  // held: nothing is dispatched
  d->SetDispatchBusy(inner, inner);
  EXPECT_TRUE(d->InDispatch());  // the outer hold is still there
  d->SetDispatchBusy(previous, previous);
  EXPECT_FALSE(d->InDispatch());
  // The held-off input is announced once the hold ends.
  ASSERT_TRUE(WaitFor([&] { return gGate.calls.load() == 2; }));

  // The same, racing: two threads save-and-restore around live dispatches many times.
  d->UnregisterProcHandler(&GatedHandler);
  d->RegisterProcHandler(&HandlerA);
  std::atomic<bool> stop{false};
  std::string injected;
  std::thread injector([&] {
    for (int i = 0; !stop; ++i) {
      d->Inject(std::string(1, static_cast<char>('a' + i % 26)));
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  });
  auto holder = [&](int seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    for (int i = 0; i < 3000; ++i) {
      bool prev = false;
      d->SetDispatchBusy(true, prev);
      if (rng() % 2) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 100));
      d->SetDispatchBusy(prev, prev);
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % 100));
    }
  };
  std::thread other(holder, 2);
  holder(1);
  other.join();
  stop = true;
  injector.join();
  ASSERT_TRUE(WaitFor([&] { return !d->InDispatch(); }));
  d->Inject("END");
  EXPECT_TRUE(WaitFor([&] {
    std::string a = gSeen.A();
    return a.size() >= 3 && a.compare(a.size() - 3, 3, "END") == 0;
  }));
}

// An idle dispatcher thread sleeps until its next timer is due. Everything that changes what it
// waits for must wake it: with the longest sleep made a minute here, a missing wake-up shows as a
// trigger that never comes within the bound.
class IdleDispatcherTest : public DispatcherTest {
 protected:
  void SetUp() override {
    DispatcherTest::SetUp();
    TQvBaseDispatcher::SetIdleWaitLimitForTesting(60000);
  }
  void TearDown() override {
    TQvBaseDispatcher::SetIdleWaitLimitForTesting(0);
    DispatcherTest::TearDown();
  }
  // Lets the dispatcher thread settle into its long sleep.
  static void Idle() { std::this_thread::sleep_for(150ms); }
};

TEST_F(IdleDispatcherTest, TriggersArmedFromAnotherThreadWakeIt) {
  auto d = Loopback();
  int far = d->NewTimerTrigger();
  ASSERT_EQ(d->ArmTimerTrigger(far, 30000, true), 0);  // sleeps toward this one
  Idle();
  int soon = d->NewTimerTrigger();
  ASSERT_EQ(d->ArmTimerTrigger(soon, 2, true), 0);
  ASSERT_TRUE(WaitFor([&] { return gSeen.Count(MSG_TIMER_EXPIRED) == 1; }));
  EXPECT_EQ(gSeen.Calls().back().wParam, static_cast<uint32_t>(soon));
  Idle();
  int used = d->NewStatusTrigger(stOutBuffUsed);
  ASSERT_EQ(d->ArmStatusTrigger(used, 0, true), 0);  // the ring is empty: due at once
  ASSERT_TRUE(WaitFor([&] { return gSeen.Count(MSG_STATUS_CHANGED) == 1; }));
  // A timer armed by the handler itself, on the dispatcher thread, is seen before it sleeps.
  EXPECT_EQ(gSeen.Count(MSG_TIMER_EXPIRED), 1);
}

TEST_F(IdleDispatcherTest, InputLeftUnannouncedIsAnnouncedWhenItMayBe) {
  auto d = Loopback();
  // No threshold yet: the bytes wait in the ring unannounced.
  d->SetAvailThreshold(0);
  d->Inject("early");
  ASSERT_TRUE(WaitFor([&] { return d->InputCount() == 5; }));
  Idle();
  d->SetAvailThreshold(1);
  ASSERT_TRUE(WaitFor([&] { return gSeen.A() == "early"; }));
  // Bytes that arrive while another thread holds dispatching off come out when it lets go.
  bool previous = false;
  d->SetDispatchBusy(true, previous);
  d->Inject("held");
  ASSERT_TRUE(WaitFor([&] { return d->InputCount() == 4; }));
  Idle();
  EXPECT_EQ(gSeen.A(), "early");
  d->SetDispatchBusy(previous, previous);
  ASSERT_TRUE(WaitFor([&] { return gSeen.A() == "earlyheld"; }));
}

TEST_F(IdleDispatcherTest, CloseEndsTheSleepAtOnce) {
  auto d = Loopback();
  Idle();
  EXPECT_EQ(d->ClosePort(), 0);
  EXPECT_FALSE(d->ClosePending());  // not left to a dispatcher thread still asleep
  EXPECT_EQ(d->RunningThreadCount(), 0);
}

// The port's threads over a quiet stretch: a full ring that waits for the application, or input
// that is already read, gives them nothing to do. Counted in wake-ups rather than timed, so a
// loaded machine cannot make a sleeping port look busy; a thread that spins or polls every
// kTriggerPollMs exceeds the limit many times over.
constexpr int kQuietMs = 1000;
constexpr uint64_t kQuietWakeLimit = 5;

TQvBaseDispatcher::TQvWakeCounts WakesOver(const TQvBaseDispatcher& d, int ms) {
  auto before = d.WakeCounts();
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));  // the window measured, not a wait
  auto after = d.WakeCounts();
  return {after.Reader - before.Reader, after.Dispatcher - before.Dispatcher};
}

// What the purging handler below needs besides gSeen.
struct PurgeScript {
  std::atomic<bool> armed{false};  // purge once the ring is full, then read what is announced
  int master = -1;                 // the far side, which answers right after the purge
};
PurgeScript gPurge;

// As a session's hang-up does: a handler purges the input of a full ring, and the modem's reply
// comes before its dispatch has ended. The handler returns only once the reader has been back
// from its wait for the reply (moved it up, or left it in the driver behind a full ring).
void PurgeThenReplyHandler(uint32_t msg, uint32_t wParam, uint32_t lParam) {
  if (msg != MSG_DATA_AVAILABLE) return;
  TQvBaseDispatcher* d = gSeen.d;
  if (gPurge.armed) {
    if (d->InputCount() < kDispatchBufferSize) return;  // not full yet: take nothing
    gPurge.armed = false;
    d->PurgeInput();
    uint64_t wakes = d->WakeCounts().Reader;
    ASSERT_EQ(::write(gPurge.master, "OK\r\n", 4), 4);
    // A reader running this dispatch itself reads the reply once it has ended.
    if (!d->ReaderDispatching()) {
      EXPECT_TRUE(WaitFor([&] { return d->WakeCounts().Reader > wakes; }));
    }
    return;
  }
  HandlerA(msg, wParam, lParam);
}

// Reads every byte the ring holds, as the fax engine does; on its first call it waits until
// more has come than it was announced.
std::atomic<bool> gMoreDuringCall{false};
int gMoreMaster = -1;

void ReadAllHeldHandler(uint32_t msg, uint32_t wParam, uint32_t) {
  if (msg != MSG_DATA_AVAILABLE) return;
  TQvBaseDispatcher* d = gSeen.d;
  if (gMoreDuringCall.exchange(false)) {
    ASSERT_EQ(::write(gMoreMaster, "more", 4), 4);
    EXPECT_TRUE(WaitFor([&] { return d->InputCount() > static_cast<int>(wParam); }));
  }
  std::string got;
  char c;
  while (d->ReadChar(c) == 0) got += c;
  std::lock_guard g(gSeen.lock);
  gSeen.bytesA += got;
}

// A timer handler that arms its timer again for one tick, as a session's status timer is
// re-armed on every expiry, until it has run kTimerRounds times.
constexpr int kTimerRounds = 10;
std::atomic<int> gTimerRounds{0};
int gRearmedTimer = 0;

void RearmingTimerHandler(uint32_t msg, uint32_t wParam, uint32_t) {
  if (msg != MSG_TIMER_EXPIRED || static_cast<int>(wParam) != gRearmedTimer) return;
  if (++gTimerRounds < kTimerRounds) gSeen.d->ArmTimerTrigger(gRearmedTimer, 1, true);
}

// A ring filled exactly, then more input that it cannot take: the bytes wait in the driver
// while the port's threads sleep, and come up in order once the application reads.
TEST_F(IdleDispatcherTest, AFullRingSleepsUntilTheApplicationReads) {
  PtyPair pty;
  TQvPosixDispatcher d;
  ASSERT_NO_FATAL_FAILURE(OpenAnnouncingEveryByte(pty, d));
  gSeen.readA = 0;  // the handler takes nothing: the application reads by itself, later
  const std::string data = RandomBytes(kDispatchBufferSize + 100, 13);
  pty.Write(data.substr(0, kDispatchBufferSize));  // nothing left over in the driver
  ASSERT_TRUE(WaitFor([&] { return d.InputCount() == kDispatchBufferSize; }));
  pty.Write(data.substr(kDispatchBufferSize));
  auto wakes = WakesOver(d, kQuietMs);
  EXPECT_LE(wakes.Reader, kQuietWakeLimit);
  EXPECT_LE(wakes.Dispatcher, kQuietWakeLimit);
  EXPECT_EQ(d.InputCount(), kDispatchBufferSize);
  std::string got;
  char c;
  while (got.size() < data.size() && WaitFor([&] { return d.HasInput(); }))
    while (d.ReadChar(c) == 0) got += c;
  EXPECT_TRUE(got == data) << got.size() << " of " << data.size() << " bytes read back";
}

TEST_F(DispatcherTest, AReplyAfterAPurgeOfAFullRingInsideADispatchIsKept) {
  PtyPair pty;
  TQvPosixDispatcher d;
  ASSERT_EQ(d.OpenPort(pty.SlavePath(), 115200, kNoParity, 8, 1, 8192, 8192, true, true), 0);
  gSeen.Reset(&d);
  gPurge.master = pty.Master();
  gPurge.armed = true;
  d.RegisterProcHandler(&PurgeThenReplyHandler);
  d.SetAvailThreshold(1);
  // Exactly a ring's worth, so the reader is watching the device when the reply comes.
  pty.Write(RandomBytes(kDispatchBufferSize, 17));
  ASSERT_TRUE(WaitFor([&] { return !gPurge.armed; }));
  EXPECT_TRUE(WaitFor([&] { return gSeen.A() == "OK\r\n"; })) << "read after the purge: " << gSeen.A().size()
                                                               << " bytes";
  EXPECT_EQ(d.InputCount(), 0);
}

TEST_F(IdleDispatcherTest, AHandlerReadingMoreThanAnnouncedLeavesThePortAsleep) {
  PtyPair pty;
  TQvPosixDispatcher d;
  ASSERT_EQ(d.OpenPort(pty.SlavePath(), 115200, kNoParity, 8, 1, 8192, 8192, true, true), 0);
  gSeen.Reset(&d);
  gMoreMaster = pty.Master();
  gMoreDuringCall = true;
  d.RegisterProcHandler(&ReadAllHeldHandler);
  d.SetAvailThreshold(1);
  pty.Write("first");
  ASSERT_TRUE(WaitFor([&] { return gSeen.A() == "firstmore"; })) << gSeen.A();
  auto wakes = WakesOver(d, kQuietMs);
  EXPECT_LE(wakes.Dispatcher, kQuietWakeLimit);
  EXPECT_LE(wakes.Reader, kQuietWakeLimit);
  // The same when the application itself reads what came while it held dispatching off.
  bool previous = false;
  d.SetDispatchBusy(true, previous);
  pty.Write("held");
  std::string held;
  char c;
  while (held.size() < 4 && WaitFor([&] { return d.HasInput(); }))
    while (d.ReadChar(c) == 0) held += c;
  d.SetDispatchBusy(previous, previous);
  EXPECT_EQ(held, "held");
  wakes = WakesOver(d, kQuietMs);
  EXPECT_LE(wakes.Dispatcher, kQuietWakeLimit);
  // Still announcing what comes next.
  pty.Write("next");
  EXPECT_TRUE(WaitFor([&] { return gSeen.A() == "firstmorenext"; })) << gSeen.A();
}

// A timer's expiry costs the dispatcher thread one wake-up, not a look every kTriggerPollMs
// through the last tick or two before it: a session's timers run all through a call.
TEST_F(IdleDispatcherTest, ATimerExpiryCostsOneWakeUp) {
  auto d = Loopback();
  d->UnregisterProcHandler(&HandlerA);
  gTimerRounds = 0;
  gRearmedTimer = d->NewTimerTrigger();
  d->RegisterProcHandler(&RearmingTimerHandler);
  Idle();
  uint64_t before = d->WakeCounts().Dispatcher;
  ASSERT_EQ(d->ArmTimerTrigger(gRearmedTimer, 1, true), 0);
  ASSERT_TRUE(WaitFor([&] { return gTimerRounds.load() == kTimerRounds; }));
  uint64_t wakes = d->WakeCounts().Dispatcher - before;
  // One per expiry, one for the arming from this thread, and some room for a late or spurious
  // return of a wait; polling the last stretch takes two or three per expiry.
  EXPECT_LE(wakes, static_cast<uint64_t>(kTimerRounds + kTimerRounds / 2 + 1));
}

// Arrivals of bytes are dispatched by the reader that moved them, not handed to the dispatcher
// thread (which would wake once per arrival only to run the handlers). What the handlers see
// must not change with it: every byte once and in order, a timer a handler arms still fires when
// due although the dispatcher thread sleeps toward a later one, and a handler may close the port.
constexpr int kArrivals = 20;
std::atomic<int> gTimerToArm{-1};        // handler arms this timer on every arrival...
std::atomic<int> gTicksToArm{0};         // ...this many ticks ahead
std::atomic<bool> gSawDispatcherThread{false};

void ArrivalHandler(uint32_t msg, uint32_t wParam, uint32_t lParam) {
  HandlerA(msg, wParam, lParam);
  if (msg != MSG_DATA_AVAILABLE) return;
  if (gTimerToArm >= 0) gSeen.d->ArmTimerTrigger(gTimerToArm, gTicksToArm, true);
}

TEST_F(IdleDispatcherTest, ArrivalsAreDispatchedByTheReaderAndSeenOnceInOrder) {
  auto d = Loopback();
  d->UnregisterProcHandler(&HandlerA);
  gTimerToArm = d->NewTimerTrigger();
  gTicksToArm = 20 * 60 * 18;  // far off, re-armed on every arrival
  d->RegisterProcHandler(&ArrivalHandler);
  Idle();
  auto before = d->WakeCounts();
  std::string sent;
  for (int i = 0; i < kArrivals; ++i) {
    std::string chunk = "chunk" + std::to_string(i) + ";";
    sent += chunk;
    d->Inject(chunk);
    ASSERT_TRUE(WaitFor([&] { return gSeen.A() == sent; })) << gSeen.A();
  }
  auto after = d->WakeCounts();
  EXPECT_GE(after.ReaderPasses - before.ReaderPasses, static_cast<uint64_t>(kArrivals));
  // A timer re-armed further off does not wake a sleeping dispatcher thread; one per arrival
  // means every arrival still costs it a wake-up.
  EXPECT_LE(after.Dispatcher - before.Dispatcher, 3u);
  gTimerToArm = -1;
}

TEST_F(IdleDispatcherTest, ATimerArmedOnAnArrivalFiresAlthoughTheDispatcherSleepsLonger) {
  auto d = Loopback();
  d->UnregisterProcHandler(&HandlerA);
  int far = d->NewTimerTrigger();
  ASSERT_EQ(d->ArmTimerTrigger(far, 20 * 60 * 18, true), 0);  // sleeps toward this one
  gTimerToArm = d->NewTimerTrigger();
  gTicksToArm = 2;
  d->RegisterProcHandler(&ArrivalHandler);
  Idle();
  d->Inject("x");
  ASSERT_TRUE(WaitFor([&] { return gSeen.Count(MSG_TIMER_EXPIRED) == 1; }));
  EXPECT_EQ(gSeen.Calls().back().wParam, static_cast<uint32_t>(gTimerToArm.load()));
  gTimerToArm = -1;
}

TEST_F(IdleDispatcherTest, CloseFromAHandlerTheReaderRunsCompletesAndThePortOpensAgain) {
  auto d = Loopback();
  gSeen.closeInA = true;
  Idle();
  d->Inject("bye");
  ASSERT_TRUE(WaitFor([&] { return d->RunningThreadCount() == 0; }));
  EXPECT_FALSE(d->IsOpen());
  EXPECT_EQ(gSeen.A(), "bye");
  EXPECT_GE(d->WakeCounts().ReaderPasses, 1u);
  gSeen.closeInA = false;
  ASSERT_EQ(d->OpenPort("loopback", 19200, kNoParity, 8, 1, 8192, 4096, true, true), 0);
  d->SetAvailThreshold(1);
  d->Inject("again");
  ASSERT_TRUE(WaitFor([&] { return gSeen.A() == "byeagain"; }));
}

// Closing while the gated handler runs on the dispatcher thread, with handler B after it in the
// same dispatch. Gives the port the gate and B, closed, and input waiting in the handler.
class GatedCloseTest : public DispatcherTest {
 protected:
  void SetUp() override {
    DispatcherTest::SetUp();
    d_ = std::make_unique<TQvLoopbackDispatcher>(false);
    ASSERT_EQ(d_->OpenPort("loopback", 19200, kNoParity, 8, 1, 8192, 4096, true, true), 0);
    gSeen.Reset(d_.get());
    gSeen.readB = 100;
    d_->RegisterProcHandler(&GatedHandler);
    d_->RegisterProcHandler(&HandlerB);
    d_->SetAvailThreshold(1);
    SetGate(true);
    d_->Inject("abc");
    ASSERT_TRUE(WaitFor([&] { return gGate.waiting.load() == 1; }));
  }
  void TearDown() override {
    SetGate(false);
    d_.reset();
    DispatcherTest::TearDown();
  }
  static void SetGate(bool closed) {
    {
      std::lock_guard g(gGate.lock);
      gGate.closed = closed;
    }
    gGate.cv.notify_all();
  }
  std::unique_ptr<TQvLoopbackDispatcher> d_;
};

// From another thread the close lets the running call end, calls no further handler, and has
// finished when it returns.
TEST_F(GatedCloseTest, CloseFromAnotherThreadIsCompleteWhenItReturns) {
  int callsRunningAtReturn = -1, threadsAtReturn = -1;
  bool pendingAtReturn = true;
  std::thread closer([&] {
    EXPECT_FALSE(d_->InHandler());
    d_->ClosePort();
    callsRunningAtReturn = gGate.waiting.load();
    pendingAtReturn = d_->ClosePending();
    threadsAtReturn = d_->RunningThreadCount();
  });
  ASSERT_TRUE(WaitFor([&] { return !d_->IsOpen(); }));  // the close has begun
  SetGate(false);
  closer.join();
  EXPECT_EQ(callsRunningAtReturn, 0);
  EXPECT_FALSE(pendingAtReturn);
  EXPECT_EQ(threadsAtReturn, 0);
  std::lock_guard g(gSeen.lock);
  EXPECT_EQ(gSeen.bytesB, "");  // B was not called for the interrupted dispatch
  EXPECT_EQ(d_->OpenPort("loopback", 19200, kNoParity, 8, 1, 8192, 4096, true, true), 0);
}

// A handler that does not return within the close's wait: the close is left to the dispatcher
// thread, which finishes it once the call ends.
TEST_F(GatedCloseTest, AHandlerThatDoesNotReturnLeavesTheClosePending) {
  EXPECT_EQ(d_->ClosePort(50), 0);
  EXPECT_TRUE(d_->ClosePending());
  EXPECT_FALSE(d_->IsOpen());
  EXPECT_EQ(gGate.waiting.load(), 1);
  EXPECT_EQ(d_->OpenPort("loopback", 19200, kNoParity, 8, 1, 8192, 4096, true, true), ecAlreadyOpen);
  SetGate(false);
  ASSERT_TRUE(WaitFor([&] { return d_->RunningThreadCount() == 0; }));
  std::lock_guard g(gSeen.lock);
  EXPECT_EQ(gSeen.bytesB, "");
  EXPECT_EQ(d_->OpenPort("loopback", 19200, kNoParity, 8, 1, 8192, 4096, true, true), 0);
}

// Where a handler runs decides how a close from it ends: a method handler sent to the UI thread
// is inside the dispatch (the dispatcher thread waits for it), the UI thread otherwise is not.
struct UiCall {
  TQvBaseDispatcher* d = nullptr;
  TQvBaseDispatcher* other = nullptr;
  std::atomic<int> calls{0};
  bool inHandler = false, inOther = true, pendingAfterClose = false;
};

void UiMethod(void* object, uint32_t msg, uint32_t, uint32_t) {
  auto* call = static_cast<UiCall*>(object);
  if (msg != MSG_DATA_AVAILABLE || call->calls.load() > 0) return;
  call->inHandler = call->d->InHandler();
  call->inOther = call->other->InHandler();
  call->d->ClosePort();
  call->pendingAfterClose = call->d->ClosePending();
  ++call->calls;
}

TEST_F(DispatcherTest, CloseFromAUiThreadHandlerIsLeftToTheDispatch) {
  core::MessageLoop::instance().bindToCurrentThread();
  TQvLoopbackDispatcher other(false);
  auto d = Loopback();
  UiCall call;
  call.d = d.get();
  call.other = &other;
  ASSERT_EQ(d->RegisterMethodHandler(&UiMethod, &call, true), 0);
  d->Inject("x");
  ASSERT_TRUE(qv::comm::testing::PumpUntil([&] { return call.calls.load() == 1; }));
  EXPECT_TRUE(call.inHandler);
  EXPECT_FALSE(call.inOther);
  EXPECT_TRUE(call.pendingAfterClose);
  ASSERT_TRUE(WaitFor([&] { return d->RunningThreadCount() == 0; }));
  EXPECT_FALSE(d->InHandler());
}

TEST_F(DispatcherTest, OpenErrors) {
  TQvPosixDispatcher d;
  EXPECT_EQ(d.OpenPort("/nonexistent/tty", 19200, kNoParity, 8, 1, 64, 64, true, true), ecFileNotFound);
  EXPECT_EQ(d.OpenPort("/dev/null", 19200, kNoParity, 8, 1, 64, 64, true, true), ecFileNotFound);
  PtyPair pty;
  TQvPosixDispatcher first, second;
  ASSERT_EQ(first.OpenPort(pty.SlavePath(), 19200, kNoParity, 8, 1, 64, 64, true, true), 0);
  EXPECT_EQ(second.OpenPort(pty.SlavePath(), 19200, kNoParity, 8, 1, 64, 64, true, true), ecAccessDenied);
  EXPECT_EQ(first.OpenPort(pty.SlavePath(), 19200, kNoParity, 8, 1, 64, 64, true, true), ecAlreadyOpen);
  EXPECT_THROW(first.StartThreads(), std::runtime_error);  // "Dispatcher already started"
  first.ClosePort();
  EXPECT_EQ(second.OpenPort(pty.SlavePath(), 19200, kNoParity, 8, 1, 64, 64, true, true), 0);
}

}  // namespace
}  // namespace qv::comm
