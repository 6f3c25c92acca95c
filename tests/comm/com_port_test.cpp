#include "comm/com_port.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "comm/dispatcher_list.h"
#include "comm/loopback_dispatcher.h"
#include "comm/port_names.h"
#include "core/error_codes.h"
#include "core/exceptions.h"
#include "core/message_loop.h"
#include "pty_pair.h"

extern char** environ;

namespace qv::comm {
namespace {

using namespace std::chrono_literals;
using qv::comm::testing::PtyPair;
using qv::comm::testing::PumpFor;
using qv::comm::testing::PumpUntil;
namespace fs = std::filesystem;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ComPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::MessageLoop::instance().bindToCurrentThread();
    dir_ = fs::temp_directory_path() / ("qvcomm-port-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    SetExceptionDisplay([this](const std::string& m) { shown_.push_back(m); });
  }
  void TearDown() override {
    SetExceptionDisplay(nullptr);
    SetPortSettingsFile("");
    core::MessageLoop::instance().pumpPending();
    fs::remove_all(dir_);
  }

  // A port configured the way the program's forms do, on the pty.
  void Configure(TQvComPort& port, const PtyPair& pty) {
    port.SetDeviceName(pty.SlavePath());
    port.SetAutoOpen(false);
    port.SetInSize(8192);
    port.SetOutSize(8192);
  }

  fs::path dir_;
  std::vector<std::string> shown_;
};

TEST_F(ComPortTest, PublishedDefaultsAndFormSettings) {
  TQvComPort port;
  EXPECT_EQ(port.LibVersion(), "v1.00");
  EXPECT_EQ(port.DeviceLayer(), dlWin32);
  EXPECT_EQ(port.ComNumber(), 0);
  EXPECT_EQ(port.Baud(), 19200);
  EXPECT_TRUE(port.PromptForPort());
  EXPECT_EQ(port.Parity(), pNone);
  EXPECT_EQ(port.DataBits(), 8);
  EXPECT_EQ(port.StopBits(), 1);
  EXPECT_EQ(port.InSize(), 4096);
  EXPECT_EQ(port.OutSize(), 4096);
  EXPECT_TRUE(port.AutoOpen());
  EXPECT_FALSE(port.Open());
  EXPECT_TRUE(port.DTR());
  EXPECT_TRUE(port.RTS());
  EXPECT_EQ(port.XOnChar(), 17);
  EXPECT_EQ(port.XOffChar(), 19);
  EXPECT_EQ(port.TraceSize(), 10000);
  EXPECT_EQ(port.TraceName(), "QVCOMM.TRC");
  EXPECT_EQ(port.LogName(), "QVCOMM.LOG");
  EXPECT_EQ(port.TapiMode(), tmAuto);
  EXPECT_EQ(port.AvailThreshold(), 1);

  // The forms' hardware flow with an 8192-byte input queue.
  port.SetInSize(8192);
  port.SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
  EXPECT_EQ(port.BufferFull(), 7372);
  EXPECT_EQ(port.BufferResume(), 819);
  // RS-485 takes RTS away from flow control and drops it.
  port.SetRS485Mode(true);
  EXPECT_EQ(port.HWFlowOptions(), 0);
  EXPECT_FALSE(port.RTS());
  // Hardware flow on RTS switches RS-485 off again.
  port.SetHWFlowOptions(hwfUseRTS);
  EXPECT_FALSE(port.RS485Mode());

  TQvComPort soft;
  soft.SetInSize(1000);
  soft.SetSWFlowOptions(swfBoth);
  EXPECT_EQ(soft.BufferFull(), 750);
  EXPECT_EQ(soft.BufferResume(), 250);
  soft.SetBufferFull(900);
  EXPECT_EQ(soft.BufferFull(), 900);
  soft.SetBufferResume(950);  // above BufferFull: 10 % of BufferFull
  EXPECT_EQ(soft.BufferResume(), 90);
  // Above InSize: 90 % of the value given, which the flow setter then finds still too big.
  soft.SetBufferFull(2000);
  EXPECT_EQ(soft.BufferFull(), 750);
}

TEST_F(ComPortTest, BytesBothWaysThroughEvents) {
  PtyPair pty;
  TQvComPort port;
  Configure(port, pty);
  std::string received;
  std::vector<uint16_t> counts;
  port.SetOnTriggerAvail([&](TQvCustomComPort& cp, uint16_t count) {
    EXPECT_TRUE(core::MessageLoop::instance().isUiThread());
    counts.push_back(count);
    for (uint16_t i = 0; i < count; ++i) received += cp.TakeChar();
  });
  port.SetOpen(true);
  ASSERT_TRUE(port.Open());
  ASSERT_NE(port.DispatcherObject(), nullptr);

  pty.Write("ATZ\r");
  ASSERT_TRUE(PumpUntil([&] { return received.size() >= 4; }));
  EXPECT_EQ(received, "ATZ\r");
  EXPECT_FALSE(port.CharWaiting());

  port.SendText("OK\r\n");
  EXPECT_EQ(pty.Read(4), "OK\r\n");

  // Under load: 20 rounds of 1000 bytes each way.
  received.clear();
  std::string expectIn, expectOut;
  for (int round = 0; round < 20; ++round) {
    std::string in(1000, static_cast<char>('a' + round));
    std::string out(1000, static_cast<char>('A' + round));
    expectIn += in;
    expectOut += out;
    pty.Write(in);
    // The far side reads only at the end, so the writer keeps the output ring drained into the
    // driver only when it gets the processor: a loaded machine may leave the ring full for a
    // while, and a full ring refuses a block (its own contract), so room is awaited first.
    ASSERT_TRUE(PumpUntil([&] { return port.DispatcherObject()->OutputFree() >= static_cast<int>(out.size()); }));
    port.SendText(out);
    PumpFor(2);
  }
  std::string far = pty.Read(expectOut.size(), 5000);
  ASSERT_TRUE(PumpUntil([&] { return received.size() >= expectIn.size(); }, 5000));
  EXPECT_EQ(received, expectIn);
  EXPECT_EQ(far, expectOut);

  port.SetOpen(false);
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(port.PortState(), psClosed);
  EXPECT_EQ(port.DispatcherObject(), nullptr);
  EXPECT_THROW(port.SendText("x"), core::ECommNotOpen);
}

TEST_F(ComPortTest, OpenFailuresLeaveThePortClosed) {
  TQvComPort port;
  port.SetAutoOpen(false);
  port.SetDeviceName((dir_ / "no-such-tty").string());
  try {
    port.SetOpen(true);
    FAIL() << "opened a missing device";
  } catch (const core::EBadId& e) {
    EXPECT_EQ(e.ErrorCode(), core::ecBadId);
    EXPECT_STREQ(e.what(), "ie_BadId - Specified comport doesn't exist");
  }
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(port.DispatcherObject(), nullptr);

  // A plain file is no serial port either.
  std::ofstream(dir_ / "plain") << "x";
  port.SetDeviceName((dir_ / "plain").string());
  EXPECT_THROW(port.SetOpen(true), core::EBadId);

  // No number, no prompting.
  TQvComPort unnamed;
  unnamed.SetPromptForPort(false);
  EXPECT_THROW(unnamed.SetOpen(true), core::ENoPortSelected);
  // Prompting with a selector that is cancelled.
  unnamed.SetPromptForPort(true);
  SetPortSelector([] { return 0; });
  EXPECT_THROW(unnamed.SetOpen(true), core::ENoPortSelected);
  SetPortSelector(nullptr);
  EXPECT_FALSE(unnamed.Open());
}

// Runs the port-holder program on a device; returns its first output line.
class Holder {
 public:
  explicit Holder(const std::string& device) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string exe = QV_PORT_HOLDER;
    char* argv[] = {exe.data(), const_cast<char*>(device.c_str()), nullptr};
    if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv, environ) != 0)
      throw std::runtime_error("spawn");
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
    char c;
    while (::read(fromChild_, &c, 1) == 1 && c != '\n') line_ += c;
  }
  ~Holder() { Stop(); }
  const std::string& Line() const { return line_; }
  int Stop() {
    if (pid_ <= 0) return status_;
    ::close(toChild_);
    ::close(fromChild_);
    int st = 0;
    ::waitpid(pid_, &st, 0);
    pid_ = -1;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int toChild_ = -1, fromChild_ = -1;
  int status_ = -1;
  std::string line_;
};

TEST_F(ComPortTest, TwoProcessesCannotShareAPort) {
  PtyPair pty;
  {
    Holder other(pty.SlavePath());
    ASSERT_EQ(other.Line(), "open");
    TQvComPort port;
    Configure(port, pty);
    try {
      port.SetOpen(true);
      FAIL() << "opened a port another process holds";
    } catch (const core::EAlreadyOpen& e) {
      EXPECT_EQ(e.ErrorCode(), core::ecAlreadyOpen);
    }
    EXPECT_FALSE(port.Open());
    EXPECT_TRUE(ProbeDevicePath(pty.SlavePath()));  // busy ports still count as existing
    EXPECT_EQ(other.Stop(), 0);
    port.SetOpen(true);  // free again
    EXPECT_TRUE(port.Open());

    Holder late(pty.SlavePath());
    EXPECT_EQ(late.Line(), "error " + std::to_string(core::ecAlreadyOpen));
    EXPECT_EQ(late.Stop(), 1);
  }
}

TEST_F(ComPortTest, ComNumbersMapThroughTheSettingsFile) {
  EXPECT_EQ(PortDevicePath(1), "/dev/ttyS0");
  EXPECT_EQ(PortDevicePath(4), "/dev/ttyS3");
  EXPECT_EQ(PortDevicePath(5), "/dev/ttyUSB0");
  EXPECT_EQ(PortDevicePath(6), "/dev/ttyACM0");
  EXPECT_EQ(PortDevicePath(7), "");
  EXPECT_FALSE(ProbePort(0));

  PtyPair first, second;
  fs::path ini = dir_ / "QRV.INI";
  // (COM1 to COM6 point nowhere, so the test never touches the machine's own serial ports.)
  std::ofstream(ini) << "[Ports]\r\nCOM1=/nonexistent/1\r\nCOM2=/nonexistent/2\r\nCOM3=/nonexistent/3\r\n"
                     << "COM4=/nonexistent/4\r\nCOM5=/nonexistent/5\r\nCOM6=/nonexistent/6\r\n"
                     << "COM7=" << first.SlavePath() << "\r\nCOM8=" << second.SlavePath() << "\r\n";
  SetPortSettingsFile(ini.string());
  EXPECT_EQ(PortDevicePath(7), first.SlavePath());
  EXPECT_TRUE(ProbePort(7));
  EXPECT_EQ(ExistingPorts(9), (std::vector<int>{7, 8}));

  // With prompting, the selector's choice becomes the port number.
  TQvComPort port;
  port.SetAutoOpen(false);
  SetPortSelector([] { return 7; });
  port.SetOpen(true);
  SetPortSelector(nullptr);
  EXPECT_EQ(port.ComNumber(), 7);
  ASSERT_TRUE(port.Open());

  // Triggers and tracing survive a change of ComNumber on the open port.
  port.SetTraceName((dir_ / "switch.trc").string());
  port.SetTracing(tlOn);
  int timer = port.DispatcherObject()->NewTimerTrigger();
  ASSERT_GT(timer, 0);
  port.SendText("one");
  EXPECT_EQ(first.Read(3), "one");
  port.SetComNumber(8);
  ASSERT_TRUE(port.Open());
  EXPECT_EQ(port.Tracing(), tlOn);
  EXPECT_EQ(port.DispatcherObject()->ArmTimerTrigger(timer, 1, true), 0);
  int fired = 0;
  port.SetOnTriggerTimer([&](TQvCustomComPort&, uint16_t h) { fired += h == timer; });
  EXPECT_TRUE(PumpUntil([&] { return fired == 1; }));
  port.SendText("two");
  EXPECT_EQ(second.Read(3), "two");
  EXPECT_EQ(first.Read(1, 100), "");
  port.SetOpen(false);
  EXPECT_EQ(ReadFile(dir_ / "switch.trc"), "Transmit: \r\nonetwo\r\n");
}

TEST_F(ComPortTest, CloseInsideAvailHandlerThenReopen) {
  PtyPair pty;
  TQvComPort port;
  Configure(port, pty);
  int avails = 0;
  int opened = 0, closed = 0;
  port.SetOnPortOpen([&](TQvCustomComPort&) { ++opened; });
  port.SetOnPortClose([&](TQvCustomComPort&) { ++closed; });
  std::string got;
  port.SetOnTriggerAvail([&](TQvCustomComPort& cp, uint16_t count) {
    ++avails;
    for (uint16_t i = 0; i < count; ++i) got += cp.TakeChar();
    if (avails == 1) {
      cp.SetOpen(false);
      EXPECT_EQ(cp.PortState(), psClosing);
      EXPECT_FALSE(cp.CharWaiting());
      cp.SendText("ignored while closing");
      cp.SetOpen(true);  // served once the dispatcher's threads are gone
      EXPECT_EQ(cp.PortState(), psClosing);
    }
  });
  port.SetOpen(true);
  pty.Write("RING\r");
  ASSERT_TRUE(PumpUntil([&] { return opened == 2; }));
  EXPECT_EQ(closed, 1);
  EXPECT_TRUE(port.Open());
  EXPECT_EQ(port.PortState(), psOpen);
  EXPECT_EQ(got, "RING\r");
  // The reopened port works.
  pty.Write("RING\r");
  ASSERT_TRUE(PumpUntil([&] { return got.size() == 10; }));
  port.SendText("ATA\r");
  EXPECT_EQ(pty.Read(4), "ATA\r");
  // Nothing of the "ignored" text ever reached the line.
  EXPECT_EQ(pty.Read(1, 100), "");
}

TEST_F(ComPortTest, AwaitStringHoldsTriggersOff) {
  PtyPair pty;
  TQvComPort port;
  Configure(port, pty);
  int avails = 0, timers = 0;
  std::string waited;
  port.SetOnTriggerAvail([&](TQvCustomComPort&, uint16_t) { ++avails; });
  port.SetOnTriggerTimer([&](TQvCustomComPort&, uint16_t) { ++timers; });
  port.SetOnWaitChar([&](TQvCustomComPort&, char c) { waited += c; });
  port.SetOpen(true);
  EXPECT_TRUE(port.AwaitString("", 1, true, false));

  int timer = port.DispatcherObject()->NewTimerTrigger();
  port.DispatcherObject()->ArmTimerTrigger(timer, 1, true);
  std::thread far([&] {
    std::this_thread::sleep_for(150ms);
    pty.Write("NO CARRIER\r\nconnect 9600\r\nrest");
  });
  EXPECT_TRUE(port.AwaitString("CONNECT", 200, true, true));  // ample: the far thread may start late
  far.join();
  EXPECT_EQ(waited, "NO CARRIER\r\nconnect");
  EXPECT_EQ(avails, 0);
  EXPECT_EQ(timers, 0);  // expired meanwhile, but held off
  // Afterwards the held-off timer fires and the rest of the input is announced.
  EXPECT_TRUE(PumpUntil([&] { return timers == 1 && avails >= 1; }));

  // A string that never comes: False after the ticks.
  while (port.CharWaiting()) port.TakeChar();
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(port.AwaitString("OK", 4, false, false));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);

  // The application terminating ends the wait at once, reported as True.
  auto& loop = core::MessageLoop::instance();
  loop.postQuit();
  start = std::chrono::steady_clock::now();
  EXPECT_TRUE(port.AwaitString("NEVER", 1000, true, false));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  EXPECT_TRUE(loop.takeQuit());  // left posted for the outer loop
}

TEST_F(ComPortTest, HandlerExceptionsAreShownAndDeliveryGoesOn) {
  PtyPair pty;
  TQvComPort port;
  Configure(port, pty);
  int calls = 0;
  port.SetOnTriggerAvail([&](TQvCustomComPort& cp, uint16_t count) {
    ++calls;
    for (uint16_t i = 0; i < count; ++i) cp.TakeChar();
    if (calls == 1) throw std::runtime_error("handler failed");
  });
  port.SetOpen(true);
  pty.Write("a");
  ASSERT_TRUE(PumpUntil([&] { return calls == 1; }));
  pty.Write("b");
  ASSERT_TRUE(PumpUntil([&] { return calls == 2; }));
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0], "handler failed");
}

// A window handler that runs past the 3000 ms send limit does not stall the dispatcher: procedure
// handlers keep receiving triggers meanwhile.
std::atomic<int> gProcTimers{0};
void CountTimers(uint32_t msg, uint32_t, uint32_t) {
  if (msg == MSG_TIMER_EXPIRED) gProcTimers.fetch_add(1);
}

TEST_F(ComPortTest, SlowHandlerDoesNotStallTheDispatcher) {
  PtyPair pty;
  TQvComPort port;
  Configure(port, pty);
  gProcTimers = 0;
  bool sawTimerWhileBlocked = false;
  int timer = 0;
  port.SetOnTriggerAvail([&](TQvCustomComPort& cp, uint16_t count) {
    for (uint16_t i = 0; i < count; ++i) cp.TakeChar();
    if (timer == 0) return;
    cp.DispatcherObject()->ArmTimerTrigger(timer, 1, true);
    auto until = std::chrono::steady_clock::now() + 4500ms;
    while (std::chrono::steady_clock::now() < until && !sawTimerWhileBlocked) {
      std::this_thread::sleep_for(10ms);
      sawTimerWhileBlocked = gProcTimers.load() > 0;
    }
    timer = 0;
  });
  port.SetOpen(true);
  TQvBaseDispatcher* d = port.DispatcherObject();
  ASSERT_EQ(d->RegisterProcHandler(&CountTimers), 0);
  timer = d->NewTimerTrigger();
  pty.Write("x");
  ASSERT_TRUE(PumpUntil([&] { return timer == 0; }, 8000));
  EXPECT_TRUE(sawTimerWhileBlocked);
  d->UnregisterProcHandler(&CountTimers);
}

TEST_F(ComPortTest, DeviceVanishingIsReportedAndThePortCloses) {
  PtyPair pty;
  TQvComPort port;
  Configure(port, pty);
  int modem = 0;
  port.SetOnTriggerModemStatus([&](TQvCustomComPort&) { ++modem; });
  port.SetOpen(true);
  TQvBaseDispatcher* d = port.DispatcherObject();
  EXPECT_TRUE(d->CheckCarrier());
  int dcd = d->NewStatusTrigger(stModem);
  ASSERT_EQ(d->ArmStatusTrigger(dcd, msDcd, true), 0);

  pty.CloseMaster();
  ASSERT_TRUE(PumpUntil([&] { return modem == 1; }));
  EXPECT_FALSE(d->CheckCarrier());
  EXPECT_THROW(port.SendText("ATH\r"), core::EPutBlockFail);
  EXPECT_FALSE(port.CharWaiting());
  PumpFor(100);
  EXPECT_EQ(modem, 1);  // once per arming

  auto start = std::chrono::steady_clock::now();
  port.SetOpen(false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(port.PortState(), psClosed);
}

TEST_F(ComPortTest, LineSettingsReachTheDevice) {
  PtyPair pty;
  TQvComPort port;
  Configure(port, pty);
  port.SetBaud(9600);  // closed: stored only
  port.SetOpen(true);
  termios t{};
  ASSERT_EQ(::tcgetattr(pty.Master(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), B9600);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));

  port.SetBaud(115200);
  port.SetParity(pEven);
  port.SetDataBits(7);
  port.SetStopBits(2);
  // (Pseudo-terminals have no framing; the kernel may keep them at 8N1.)
  ASSERT_EQ(::tcgetattr(pty.Master(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), B115200);

  uint32_t baud;
  int parity, stop, data;
  ASSERT_EQ(port.DispatcherObject()->GetLineParams(baud, parity, stop, data), 0);
  EXPECT_EQ(baud, 115200u);
  EXPECT_EQ(parity, pEven);
  EXPECT_EQ(stop, 2);
  EXPECT_EQ(data, 7);

  // A rate the device cannot run is refused; the property keeps the value given.
  EXPECT_THROW(port.SetBaud(12345), core::EBaudRate);
  EXPECT_EQ(port.Baud(), 12345);
  port.SetBaud(115200);
  EXPECT_THROW(port.SetDataBits(4), core::EByteSize);
  port.SetDataBits(8);

  // Software flow reaches the terminal settings.
  port.SetSWFlowOptions(swfBoth);
  ASSERT_EQ(::tcgetattr(pty.Master(), &t), 0);
  EXPECT_TRUE(t.c_iflag & IXON);
  EXPECT_TRUE(t.c_iflag & IXOFF);
  port.SetSWFlowOptions(swfNone);
  ASSERT_EQ(::tcgetattr(pty.Master(), &t), 0);
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
}

TEST_F(ComPortTest, TracingStatesAndTheDumpAtClose) {
  PtyPair pty;
  TQvComPort port;
  Configure(port, pty);
  port.SetTraceName((dir_ / "QVCOMM.TRC").string());
  port.SetLogName((dir_ / "QVCOMM.LOG").string());
  // Closed: only on or off are kept.
  port.SetTracing(tlDump);
  EXPECT_EQ(port.Tracing(), tlOff);
  port.SetTracing(tlPause);
  EXPECT_EQ(port.Tracing(), tlOff);
  port.SetTracing(tlOn);
  port.SetLogging(tlOn);
  EXPECT_EQ(port.Tracing(), tlOn);

  std::string got;
  port.SetOnTriggerAvail([&](TQvCustomComPort& cp, uint16_t count) {
    for (uint16_t i = 0; i < count; ++i) got += cp.TakeChar();
  });
  port.SetOpen(true);
  EXPECT_TRUE(port.DispatcherObject()->Tracing());
  port.SendText("AT\r");
  pty.Write("OK\r\n");
  ASSERT_TRUE(PumpUntil([&] { return got.size() == 4; }));
  port.SetTracing(tlPause);
  EXPECT_EQ(port.Tracing(), tlPause);
  port.SendText("unseen");
  port.SetTracing(tlOn);
  port.SendText("Z");
  port.SetOpen(false);
  EXPECT_EQ(ReadFile(dir_ / "QVCOMM.TRC"), "Transmit: \r\nAT[0D]\r\n\r\nReceive: \r\nOK[0D][0A]\r\n\r\nTransmit: \r\nZ\r\n");
  EXPECT_EQ(port.Tracing(), tlOff);
  std::string log = ReadFile(dir_ / "QVCOMM.LOG");
  EXPECT_EQ(log.rfind("QVCOMM v1.00\r\nCompiler : ", 0), 0u) << log;
  EXPECT_NE(log.find("\r\nOperating System : Linux "), std::string::npos);
  EXPECT_NE(log.find("Dispatch  WriteCom      00000003  AT[0D]\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Dispatch  ReadCom       00000004  OK[0D][0A]\r\n"), std::string::npos) << log;

  // The close has waited for a dispatch still finishing on the dispatcher thread: the port
  // opens again at once.
  ASSERT_EQ(port.PortState(), psClosed);
  // A size change while tracing restarts the trace with the new size.
  port.SetOpen(true);
  ASSERT_EQ(port.PortState(), psOpen);
  port.SetTracing(tlOn);
  port.SendText("old");
  port.SetTraceSize(2);
  EXPECT_EQ(port.Tracing(), tlOn);
  port.SendText("new");
  port.SetTracing(tlDump);
  EXPECT_EQ(ReadFile(dir_ / "QVCOMM.TRC"), "Transmit: \r\new\r\n");
  port.SetTraceSize(5000000);
  EXPECT_EQ(port.TraceSize(), 4000000);

  // Clear empties a running trace; Append adds to the file.
  port.SetTraceSize(100);
  port.SetTracing(tlOn);
  port.SendText("gone");
  port.SetTracing(tlClear);
  EXPECT_EQ(port.Tracing(), tlOn);
  port.SendText("kept");
  port.SetTracing(tlAppend);
  EXPECT_EQ(port.Tracing(), tlOff);
  EXPECT_EQ(ReadFile(dir_ / "QVCOMM.TRC"), "Transmit: \r\new\r\nTransmit: \r\nkept\r\n");
}

TEST_F(ComPortTest, AssignCopiesSettingsAndCurrentTriggers) {
  PtyPair pty;
  TQvComPort source;
  Configure(source, pty);
  source.SetBaud(38400);
  source.SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
  source.SetTag(42);
  int timers = 0;
  source.SetOnTriggerTimer([&](TQvCustomComPort&, uint16_t) { ++timers; });
  source.SetOpen(true);
  int timer = source.DispatcherObject()->NewTimerTrigger();

  TQvComPort copy;
  copy.Assign(source);
  EXPECT_FALSE(copy.Open());
  EXPECT_EQ(copy.Baud(), 38400);
  EXPECT_EQ(copy.HWFlowOptions(), hwfUseRTS | hwfRequireCTS);
  EXPECT_EQ(copy.BufferFull(), 7372);
  EXPECT_EQ(copy.Tag(), 42);
  source.SetOpen(false);

  copy.SetOpen(true);
  ASSERT_EQ(copy.DispatcherObject()->ArmTimerTrigger(timer, 1, true), 0);
  EXPECT_TRUE(PumpUntil([&] { return timers == 1; }));
  // The new open's own triggers get handles that do not collide with the inherited one.
  EXPECT_NE(copy.DispatcherObject()->NewTimerTrigger(), timer);
}

// The status events, on the in-process device (whose lines and errors the test controls).
TEST_F(ComPortTest, StatusTriggersReachTheirEvents) {
  TQvComPort port;
  port.SetAutoOpen(false);
  port.SetDeviceName("loopback");
  TQvLoopbackDispatcher* device = nullptr;
  port.SetDispatcherFactory([&](TQvCustomComPort&) {
    auto d = std::make_unique<TQvLoopbackDispatcher>(false);
    device = d.get();
    return d;
  });
  std::vector<std::string> events;
  port.SetOnTrigger([&](TQvCustomComPort&, uint16_t msg, uint16_t h, uint16_t data) {
    events.push_back("trigger " + std::to_string(msg - MSG_DATA_AVAILABLE + 1) + " " + std::to_string(h) + " " +
                     std::to_string(data));
  });
  port.SetOnTriggerStatus([&](TQvCustomComPort&, uint16_t h) { events.push_back("status " + std::to_string(h)); });
  port.SetOnTriggerModemStatus([&](TQvCustomComPort&) { events.push_back("modem"); });
  port.SetOnTriggerLineError([&](TQvCustomComPort&, uint16_t error, bool lineBreak) {
    events.push_back("line " + std::to_string(error) + (lineBreak ? " break" : ""));
  });
  port.SetOnTriggerOutbuffFree([&](TQvCustomComPort&) { events.push_back("free"); });
  port.SetOnTriggerOutbuffUsed([&](TQvCustomComPort&) { events.push_back("used"); });
  port.SetOnTriggerOutSent([&](TQvCustomComPort&) { events.push_back("sent"); });
  port.SetOnTriggerAvail([&](TQvCustomComPort& cp, uint16_t n) {
    std::string s;
    for (uint16_t i = 0; i < n; ++i) s += cp.TakeChar();
    events.push_back("avail " + s);
  });
  port.SetOpen(true);
  ASSERT_NE(device, nullptr);
  TQvBaseDispatcher* d = port.DispatcherObject();

  int line = d->NewStatusTrigger(stLine);
  d->ArmStatusTrigger(line, 0x0F, true);
  device->RaiseLineErrors(leParity | leBreak);
  ASSERT_TRUE(PumpUntil([&] { return events.size() >= 3; }));
  EXPECT_EQ(events[0], "trigger 4 " + std::to_string(line) + " 0");
  EXPECT_EQ(events[1], "status " + std::to_string(line));
  EXPECT_EQ(events[2], "line 3 break");
  EXPECT_EQ(port.PendingLineError(), 0);

  events.clear();
  int modem = d->NewStatusTrigger(stModem);
  d->ArmStatusTrigger(modem, msDsr, true);
  device->SetLines(msCts | msDcd);
  ASSERT_TRUE(PumpUntil([&] { return events.size() >= 3; }));
  EXPECT_EQ(events[2], "modem");

  events.clear();
  int used = d->NewStatusTrigger(stOutBuffUsed);
  int free = d->NewStatusTrigger(stOutBuffFree);
  int sent = d->NewStatusTrigger(stOutSent);
  d->ArmStatusTrigger(used, 0, true);
  d->ArmStatusTrigger(free, 4096, true);
  d->ArmStatusTrigger(sent, 0, true);
  port.SendText("ATDT5551234\r");
  ASSERT_TRUE(PumpUntil([&] { return events.size() >= 9; }));
  std::vector<std::string> names;
  for (auto& e : events)
    if (e.rfind("trigger", 0) != 0 && e.rfind("status", 0) != 0) names.push_back(e);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"free", "sent", "used"}));
  EXPECT_EQ(device->TakeTransmitted(), "ATDT5551234\r");

  events.clear();
  device->Inject("OK");
  ASSERT_TRUE(PumpUntil([&] { return events.size() >= 2; }));
  EXPECT_EQ(events[0], "trigger 1 2 2");  // avail: the count is both parameter and data
  EXPECT_EQ(events[1], "avail OK");
}

TEST_F(ComPortTest, LoadingDefersTheOpenAndUsersHearOfOpenAndClose) {
  PtyPair pty;
  TQvComPort port;
  Configure(port, pty);
  std::vector<std::string> heard;
  int first = port.RegisterUser([&](void* v, TQvCustomComPort&, bool opened) {
    heard.push_back(std::string(static_cast<const char*>(v)) + (opened ? " open" : " closed"));
  }, const_cast<char*>("first"));
  port.RegisterUser([&](void* v, TQvCustomComPort&, bool opened) {
    heard.push_back(std::string(static_cast<const char*>(v)) + (opened ? " open" : " closed"));
  }, const_cast<char*>("second"));

  port.BeginLoading();
  port.SetOpen(true);
  EXPECT_EQ(port.PortState(), psClosed);
  EXPECT_EQ(port.RaiseOnError(core::ecBadId), core::ecBadId);  // not raised while loading
  port.Loaded();
  EXPECT_TRUE(port.Open());
  port.SetOpen(false);
  EXPECT_EQ(heard, (std::vector<std::string>{"second open", "first open", "second closed", "first closed"}));
  port.DeregisterUser(first);

  // A failing open after loading is shown, not raised, and leaves Open False.
  TQvComPort broken;
  broken.SetDeviceName((dir_ / "missing").string());
  broken.BeginLoading();
  broken.SetOpen(true);
  broken.Loaded();
  EXPECT_FALSE(broken.Open());
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0], "ie_BadId - Specified comport doesn't exist");
  EXPECT_THROW(broken.RaiseOnError(-31999), core::EQvException);

  // AutoOpen: using a closed port opens it.
  TQvComPort automatic;
  automatic.SetDeviceName(pty.SlavePath());
  automatic.SendText("auto");
  EXPECT_TRUE(automatic.Open());
  EXPECT_EQ(pty.Read(4), "auto");
  // Without trigger events nothing is dispatched; the input waits to be polled for.
  pty.Write("OK");
  ASSERT_TRUE(PumpUntil([&] { return automatic.DispatcherObject()->InputCount() == 2; }));
  EXPECT_TRUE(automatic.CharWaiting());
  EXPECT_EQ(automatic.TakeChar(), 'O');
  EXPECT_EQ(automatic.TakeChar(), 'K');
  EXPECT_THROW(automatic.TakeChar(), core::EBufferIsEmpty);
}

// A close begun inside an event handler stays pending until the dispatch it interrupted has
// ended; the port is destroyed before that, with a reopen requested and the close message queued.
TEST_F(ComPortTest, DestroyedWhileACloseIsPending) {
  PtyPair pty;
  auto port = std::make_unique<TQvComPort>();
  Configure(*port, pty);
  bool handled = false;
  port->SetOnTriggerAvail([&](TQvCustomComPort& cp, uint16_t) {
    cp.SetOpen(false);
    EXPECT_EQ(cp.PortState(), psClosing);
    cp.SetOpen(true);
    handled = true;
  });
  port->SetOpen(true);
  pty.Write("x");
  // Stops pumping right after the handler: the close message it posted is still queued.
  ASSERT_TRUE(PumpUntil([&] { return handled; }));
  EXPECT_EQ(port->PortState(), psClosing);
  int before = DispatcherCount();
  port.reset();
  EXPECT_EQ(DispatcherCount(), before - 1);
  PumpFor(50);  // the close message, if still queued, finds nothing
  EXPECT_EQ(DispatcherCount(), before - 1);  // and no reopen happened
  // The device is free again.
  TQvComPort again;
  Configure(again, pty);
  again.SetOpen(true);
  EXPECT_TRUE(again.Open());
}

// A procedure handler held on the dispatcher thread until the UI thread lets it go, the way the
// fax engine's handler waits for its events to run there.
struct HeldCall {
  std::mutex lock;
  std::condition_variable cv;
  bool entered = false, released = false, ended = false;
  void Reset() {
    std::lock_guard g(lock);
    entered = released = ended = false;
  }
  void Release() {
    {
      std::lock_guard g(lock);
      released = true;
    }
    cv.notify_all();
  }
};
HeldCall gHeld;

void HeldProc(uint32_t msg, uint32_t, uint32_t) {
  if (msg != MSG_DATA_AVAILABLE) return;
  std::unique_lock g(gHeld.lock);
  gHeld.entered = true;
  gHeld.cv.notify_all();
  gHeld.cv.wait_for(g, 20s, [] { return gHeld.released; });
  gHeld.ended = true;
}

// The UI thread closes the port while a handler runs on the dispatcher thread. The close waits for
// that call (serving the UI thread's messages meanwhile, which is what lets the handler go on)
// and is complete when it returns: the port opens again at once, and what is set then holds.
TEST_F(ComPortTest, CloseMeetingADispatchElsewhereIsCompleteWhenItReturns) {
  PtyPair pty;
  TQvComPort port;
  Configure(port, pty);
  port.SetTraceName((dir_ / "after.trc").string());
  port.SetOpen(true);
  TQvBaseDispatcher* first = port.DispatcherObject();
  first->RegisterProcHandler(&HeldProc);
  gHeld.Reset();
  pty.Write("x");
  {
    std::unique_lock g(gHeld.lock);
    ASSERT_TRUE(gHeld.cv.wait_for(g, 10s, [] { return gHeld.entered; }));
  }
  core::MessageLoop::instance().post([] { gHeld.Release(); });
  port.SetOpen(false);
  EXPECT_EQ(port.PortState(), psClosed);
  {
    std::lock_guard g(gHeld.lock);
    EXPECT_TRUE(gHeld.ended);
  }
  port.SetOpen(true);
  ASSERT_EQ(port.PortState(), psOpen);
  EXPECT_NE(port.DispatcherObject(), nullptr);
  port.SetTracing(tlOn);
  EXPECT_EQ(port.Tracing(), tlOn);
  port.SendText("again");
  EXPECT_EQ(pty.Read(5), "again");
  port.SetTracing(tlDump);
  EXPECT_EQ(ReadFile(dir_ / "after.trc"), "Transmit: \r\nagain\r\n");
}

// Growing OutSize on an open port resizes the driver queues only; the ring keeps its size, so a
// block larger than the ring is refused instead of overrunning it.
TEST_F(ComPortTest, OutSizeGrowsWithTheNextOpen) {
  TQvComPort port;
  port.SetAutoOpen(false);
  port.SetDeviceName("loopback");
  TQvLoopbackDispatcher* device = nullptr;
  port.SetDispatcherFactory([&](TQvCustomComPort&) {
    auto d = std::make_unique<TQvLoopbackDispatcher>(false);
    device = d.get();
    return d;
  });
  port.SetOutSize(100);
  port.SetOpen(true);
  device->HoldOutput(true);
  port.SetOutSize(200);
  EXPECT_EQ(port.DispatcherObject()->OutputFree(), 100);
  EXPECT_THROW(port.SendText(std::string(150, 'x')), core::EOutputBufferTooSmall);
  port.SendText(std::string(100, 'y'));
  device->HoldOutput(false);
  ASSERT_TRUE(PumpUntil([&] { return port.DispatcherObject()->OutputUsed() == 0; }));
  EXPECT_EQ(device->TakeTransmitted(), std::string(100, 'y'));
  port.SetOpen(false);
  port.SetOpen(true);
  EXPECT_EQ(port.DispatcherObject()->OutputFree(), 200);
}

}  // namespace
}  // namespace qv::comm
