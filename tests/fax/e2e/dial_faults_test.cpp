// Calls that never reach the remote fax: every outcome ends with its code, its log entries and
// no file at the receiver.
#include "fax_harness.h"

namespace qv::fax::test {
namespace {

struct DialCase {
  const char* result;
  int code;
};

// Class 1 and Class 2 read the modem's call-progress results through one routine: each result
// ends the fax with its code on either side. NO ANSWER is redialled like BUSY, but the fax that
// used up its attempts says the far end did not answer, not that it was busy.
void DialEndsWithItsCode(TFaxClass cls, const DialCase& c) {
  Call call;
  ASSERT_TRUE(call.Open({"--dial-result", c.result}));
  MakeQvf(call.dir.str("doc.qvf"), 1, false);
  call.send.FaxClass = cls;
  call.send.DialAttempts = 1;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(PumpUntil({&call.sent}, 40));
  EXPECT_EQ(call.sent.finishCode, c.code);
  EXPECT_EQ(call.sent.errors, std::vector<int>{c.code});
  EXPECT_EQ(call.send.LastError(), c.code);
  EXPECT_EQ(call.sent.logs, (std::vector<int>{lcTransmitStarted, lcTransmitFailed}));
  EXPECT_TRUE(call.sent.Saw(fpDialing));
  EXPECT_TRUE(call.sent.lastSeen);
  EXPECT_FALSE(call.send.Active());
  std::string history = ReadText(call.dir.str("send.his"));
  EXPECT_NE(history.find("Transmit failed at "), std::string::npos);
  EXPECT_NE(history.find("(" + core::ErrorText(c.code) + ")"), std::string::npos);
  EXPECT_TRUE(call.ReceivedFiles().empty());
}

class DialFaults : public ::testing::TestWithParam<DialCase> {};

TEST_P(DialFaults, EndWithTheirCode) { DialEndsWithItsCode(fcClass1, GetParam()); }
TEST_P(DialFaults, EndWithTheirCodeClass2) { DialEndsWithItsCode(fcClass2, GetParam()); }

INSTANTIATE_TEST_SUITE_P(Outcomes, DialFaults,
                         ::testing::Values(DialCase{"busy", -8064}, DialCase{"no-answer", -8074},
                                           DialCase{"voice", -8065}, DialCase{"no-dialtone", -8067},
                                           DialCase{"no-carrier", -8068}),
                         [](const auto& info) {
                           std::string n = info.param.result;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

TEST(DialFaultsClass2, BusyIsRedialledUntilTheAttemptsAreUsed) {
  Call call;
  ASSERT_TRUE(call.Open({"--dial-result", "busy"}));
  MakeQvf(call.dir.str("doc.qvf"), 1, false);
  call.send.FaxClass = fcClass2;
  call.send.DialAttempts = 3;
  call.send.DialRetryWait = 1;
  // The attempt each dial shows (the status window's "Dial attempt"), counted from 1.
  std::vector<int> attempts;
  auto previous = call.send.OnFaxStatus;
  call.send.OnFaxStatus = [&](TQvAbstractFax* cp, bool first, bool last) {
    const int attempt = static_cast<TQvSendFax*>(cp)->DialAttempt();
    if (cp->ProgressCode() == fpDialing && (attempts.empty() || attempts.back() != attempt)) attempts.push_back(attempt);
    EXPECT_GE(attempt, 1) << "status " << cp->ProgressCode();
    previous(cp, first, last);
  };
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(PumpUntil({&call.sent}, 40));
  EXPECT_EQ(call.sent.finishCode, -8064);
  EXPECT_EQ(call.send.DialAttempt(), 3);
  EXPECT_EQ(attempts, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(call.sent.Saw(fpBusyWait));
  EXPECT_EQ(call.sent.logs, (std::vector<int>{1, 3}));
}

TEST(DialFaultsClass2, UnlimitedAttemptsRedialUntilAborted) {
  Call call;
  ASSERT_TRUE(call.Open({"--dial-result", "busy"}));
  MakeQvf(call.dir.str("doc.qvf"), 1, false);
  call.send.FaxClass = fcClass2_0;
  call.send.DialAttempts = 0;
  call.send.DialRetryWait = 1;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (call.send.DialAttempt() < 4 && std::chrono::steady_clock::now() < deadline)
    core::MessageLoop::instance().waitAndPump(20);
  EXPECT_GE(call.send.DialAttempt(), 4);
  EXPECT_TRUE(call.send.Active());
  call.send.AbortFax();
  ASSERT_TRUE(PumpUntil({&call.sent}, 20));
  EXPECT_EQ(call.sent.finishCode, -6005);
  EXPECT_TRUE(call.sent.Saw(fpCancel));
  EXPECT_EQ(call.sent.logs, (std::vector<int>{1, 3}));
}

TEST(DialFaultsClass1, AbortNoConnectEndsTheBatchOnBusy) {
  Call call;
  ASSERT_TRUE(call.Open({"--dial-result", "busy"}));
  MakeQvf(call.dir.str("doc.qvf"), 1, false);
  call.send.FaxClass = fcClass1;
  call.send.DialAttempts = 1;
  call.send.AbortNoConnect = true;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(PumpUntil({&call.sent}, 30));
  EXPECT_EQ(call.sent.finishCode, -8064);
  EXPECT_TRUE(call.sent.Saw(fpCancel));
}

}  // namespace
}  // namespace qv::fax::test
