// Senders in one process share the guard around the next-fax query. One that finds it taken
// must try again by itself: with StatusInterval 0 no status tick would ever wake it.
#include "fax_harness.h"

namespace qv::fax::test {
namespace {

TEST(EntryGuard, SenderThatFindsTheGuardTakenStillStartsWithoutStatusTicks) {
  Call call;
  ASSERT_TRUE(call.Open());
  TQvSendFax second;
  Events secondEvents;
  secondEvents.Attach(second);
  second.SetComPort(&call.portB);
  second.FaxClass = fcClass1;
  second.StatusInterval = 0;
  int secondQueries = 0;
  second.OnFaxNext = [&](TQvSendFax*, std::string& phone, std::string&, std::string&) {
    ++secondQueries;
    phone.clear();  // nothing to send: the batch ends at once
  };
  call.send.FaxClass = fcClass1;
  call.send.StatusInterval = 0;
  bool secondStarted = false;
  call.send.OnFaxNext = [&](TQvSendFax*, std::string& phone, std::string&, std::string&) {
    // The first sender holds the guard while its query runs: the second starts now and its
    // first step finds the guard taken.
    if (!secondStarted) {
      secondStarted = true;
      second.StartSending();
    }
    phone.clear();
  };
  call.send.StartSending();
  ASSERT_TRUE(secondStarted);
  ASSERT_TRUE(PumpUntil({&call.sent, &secondEvents}, 30)) << "second sender: " << secondEvents.Trail();
  EXPECT_EQ(secondQueries, 1);
  EXPECT_EQ(secondEvents.finishCode, 0);
  EXPECT_EQ(call.sent.finishCode, 0);
}

}  // namespace
}  // namespace qv::fax::test
