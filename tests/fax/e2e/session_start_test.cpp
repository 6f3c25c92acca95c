// What every session finds at its start: a modem that may have been reset since the last one, or
// that is gone. A component lives for many sessions (the receive component for the whole run, the
// send component for a whole Send Fax dialog); each session must bring the modem up itself, and a
// modem that goes away ends the session at once with the port's error.
#include "fax_harness.h"

namespace qv::fax::test {
namespace {

// Sends a command on an open port outside any session and waits (bounded) for its "OK", as the
// program's reset strings do between sessions.
bool SendResetString(comm::TQvComPort& port, const std::string& command) {
  comm::TQvBaseDispatcher* d = port.DispatcherObject();
  if (!d) return false;
  d->PurgeInput();
  if (d->SendString(command + "\r") < 0) return false;
  std::string reply;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    char c;
    while (d->ReadChar(c) == 0) reply.push_back(c);
    if (reply.find("OK") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Pumps until the session reports the status or finishes; true when the status came.
bool PumpUntilStatus(const Events& events, int status, int seconds) {
  auto& loop = core::MessageLoop::instance();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!events.Saw(status)) {
    if (events.finished || std::chrono::steady_clock::now() >= deadline) return false;
    loop.waitAndPump(20);
  }
  return true;
}

// Receive mode, stopped, the modem reset to its factory settings ("ATZ" after the period, "AT&F"
// before the next), receive mode again: the second period must answer and file the fax.
void SecondReceivePeriodAfterAResetAnswers(TFaxClass cls) {
  SCOPED_TRACE(cls == fcClass1 ? "Class 1" : "Class 2");
  IncomingCall call;
  ASSERT_TRUE(call.Open());
  call.receive.FaxClass = cls;
  call.receive.OneFax = false;
  call.receive.StartReceiving();
  ASSERT_TRUE(PumpUntilStatus(call.received, fpWaiting, 30)) << call.received.Trail();
  call.receive.AbortFax();
  ASSERT_TRUE(PumpUntil({&call.received}, 30));
  ASSERT_TRUE(SendResetString(call.portB, "ATZ"));
  ASSERT_TRUE(SendResetString(call.portB, "AT&F"));

  call.received = Events();
  call.received.Attach(call.receive);
  call.receive.OneFax = true;
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 1, false);
  ASSERT_TRUE(call.Start(call.dir.str("doc.qvf"), {.faxClass = fcClass1})) << call.Trail();
  ASSERT_TRUE(call.Wait(90)) << call.Trail();
  EXPECT_EQ(call.received.finishCode, 0) << call.Trail();
  EXPECT_EQ(call.received.logs, (std::vector<int>{4, 5})) << call.Trail();
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages)) << call.Trail();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_TRUE(PageMatches(pages[0], rows[0]));
}

TEST(SessionStart, SecondReceivePeriodAfterAResetAnswersClass1) { SecondReceivePeriodAfterAResetAnswers(fcClass1); }
TEST(SessionStart, SecondReceivePeriodAfterAResetAnswersClass2) { SecondReceivePeriodAfterAResetAnswers(fcClass2); }

// One send component, two sends, "ATZ" between them (the after string of the first): the second
// is initialised as the first was and goes out.
TEST(SessionStart, SecondSendAfterAResetInitialisesTheModem) {
  RemoteCall call;
  ASSERT_TRUE(call.Open({fcClass2, 9600})) << call.receiver.Output();
  MakeQvf(call.dir.str("doc.qvf"), 1, false);
  call.send.FaxClass = fcClass2;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(90)) << call.Trail();
  ASSERT_EQ(call.sent.finishCode, 0) << call.Trail();
  ASSERT_TRUE(SendResetString(call.portA, "ATZ"));

  ReceiverProcess second;
  ASSERT_TRUE(second.Start(call.modems->b(), call.inbox, call.dir.str("receiver2.out"), {fcClass2, 9600}));
  call.sent = Events();
  call.sent.Attach(call.send);
  call.send.StartSending();
  ASSERT_TRUE(PumpUntil({&call.sent}, 90)) << call.sent.Trail();
  EXPECT_EQ(call.sent.finishCode, 0) << call.sent.Trail() << "\n" << second.Output();
  EXPECT_EQ(call.sent.logs, (std::vector<int>{1, 2}));
  EXPECT_EQ(second.WaitExit(30), 0) << second.Output();
  EXPECT_EQ(call.ReceivedFiles().size(), 2u);
}

// The modem goes away while receive mode waits for calls: the session ends at once with the
// port's error instead of waiting on a port that is gone.
TEST(SessionStart, ReceiverWhoseModemGoesAwayEndsWithThePortError) {
  IncomingCall call;
  ASSERT_TRUE(call.Open());
  call.receive.FaxClass = fcClass1;
  call.receive.OneFax = false;
  call.receive.ConstantStatus = true;
  call.receive.StartReceiving();
  ASSERT_TRUE(PumpUntilStatus(call.received, fpWaiting, 30)) << call.received.Trail();
  const auto unplugged = std::chrono::steady_clock::now();
  call.modems.reset();
  ASSERT_TRUE(PumpUntil({&call.received}, 15)) << call.received.Trail();
  const auto took = std::chrono::steady_clock::now() - unplugged;
  EXPECT_LT(took, std::chrono::seconds(4));
  EXPECT_EQ(call.received.finishCode, core::ecDeviceReadError) << call.received.Trail();
  EXPECT_EQ(call.received.errors, std::vector<int>{core::ecDeviceReadError});
  EXPECT_TRUE(call.received.lastSeen);
  EXPECT_FALSE(call.receive.Active());
  // Nothing claims to wait for calls any more.
  EXPECT_NE(call.receive.ProgressCode(), fpWaiting);
  EXPECT_TRUE(call.ReceivedFiles().empty());
}

// The modem goes away in the middle of a page: the send ends with the port's error at once, not
// after a time-out.
TEST(SessionStart, SenderWhoseModemGoesAwayMidPageEndsWithThePortError) {
  RemoteCall call;
  ASSERT_TRUE(call.Open({fcClass1, 9600})) << call.receiver.Output();
  MakeQvf(call.dir.str("doc.qvf"), 3, true, 1500);
  call.send.FaxClass = fcClass1;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  std::chrono::steady_clock::time_point unplugged{};
  auto previous = call.send.OnFaxStatus;
  call.send.OnFaxStatus = [&](TQvAbstractFax* cp, bool first, bool last) {
    previous(cp, first, last);
    if (call.modems && cp->ProgressCode() == fpSendPage && cp->BytesTransferred() > 0) {
      unplugged = std::chrono::steady_clock::now();
      call.modems.reset();
    }
  };
  call.send.StartSending();
  ASSERT_TRUE(PumpUntil({&call.sent}, 90)) << call.sent.Trail();
  ASSERT_FALSE(call.modems) << call.sent.Trail();
  EXPECT_LT(std::chrono::steady_clock::now() - unplugged, std::chrono::seconds(4));
  EXPECT_EQ(call.sent.finishCode, core::ecDeviceReadError) << call.sent.Trail();
  EXPECT_EQ(call.sent.errors, std::vector<int>{core::ecDeviceReadError});
  EXPECT_EQ(call.sent.logs, (std::vector<int>{1, 3}));
  EXPECT_FALSE(call.send.Active());
}

}  // namespace
}  // namespace qv::fax::test
