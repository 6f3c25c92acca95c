// The end of a call: what a sender does once the receiver has confirmed the last page.
#include "fax_harness.h"

namespace qv::fax::test {
namespace {

// Some fax machines hang up as soon as they have confirmed the last page; others give up waiting
// for the sender's DCN after a few seconds, so a sender slow to send it (a loaded machine) meets
// the same. The fax is delivered: the sender must report success, not a time-out.
void FarEndHangsUpAfterConfirmingTheLastPage(TFaxClass receiver) {
  SCOPED_TRACE(std::string("receive Class ") + (receiver == fcClass2 ? "2" : "2.0"));
  RemoteCall call;
  ASSERT_TRUE(call.Open({receiver, 9600}, {"--b-no-dcn-wait"})) << call.receiver.Output();
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 2, false);
  call.send.FaxClass = fcClass1;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(90)) << call.Trail();
  EXPECT_EQ(call.sent.finishCode, 0) << call.Trail();
  EXPECT_TRUE(call.sent.errors.empty()) << call.Trail();
  EXPECT_EQ(call.sent.logs, (std::vector<int>{1, 2}));
  EXPECT_EQ(call.sent.statuses.back(), fpFinished);
  EXPECT_EQ(call.receiver.Read().finishCode, 0) << call.Trail();
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_TRUE(PageMatches(pages[0], rows[0]));
  EXPECT_TRUE(PageMatches(pages[1], rows[1]));
}

TEST(CallEnd, FarEndHangsUpAfterConfirmingTheLastPageClass2) { FarEndHangsUpAfterConfirmingTheLastPage(fcClass2); }
TEST(CallEnd, FarEndHangsUpAfterConfirmingTheLastPageClass20) { FarEndHangsUpAfterConfirmingTheLastPage(fcClass2_0); }

// Noise hits the receiver's MCF to a post-page message: the sender hears a bad frame and asks
// again. The receiver has filed the page and waits for DCN (after EOP) or the next page (after
// MPS); it must answer the repeated message with MCF again, and file the page once.
void RepeatedPostPageIsAnsweredAgain(TFaxClass receiver, int pages) {
  SCOPED_TRACE(std::string("receive Class ") + (receiver == fcClass1 ? "1" : receiver == fcClass2 ? "2" : "2.0") +
               ", pages " + std::to_string(pages));
  RemoteCall call;
  ASSERT_TRUE(call.Open({receiver, 9600}, {"--garble-mcf", "1"})) << call.receiver.Output();
  auto rows = MakeQvf(call.dir.str("doc.qvf"), pages, false);
  call.send.FaxClass = fcClass1;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(90)) << call.Trail();
  EXPECT_EQ(call.sent.finishCode, 0) << call.Trail();
  EXPECT_EQ(call.sent.logs, (std::vector<int>{1, 2}));
  const Events received = call.receiver.Read();
  EXPECT_EQ(received.finishCode, 0) << call.Trail();
  EXPECT_EQ(received.logs, (std::vector<int>{4, 5})) << call.Trail();
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages));
  ASSERT_EQ(pages.size(), rows.size());
  for (size_t p = 0; p < rows.size(); ++p) EXPECT_TRUE(PageMatches(pages[p], rows[p])) << "page " << p + 1;
}

TEST(CallEnd, RepeatedEopIsAnsweredAgainClass1) { RepeatedPostPageIsAnsweredAgain(fcClass1, 1); }
TEST(CallEnd, RepeatedEopIsAnsweredAgainClass2) { RepeatedPostPageIsAnsweredAgain(fcClass2, 1); }
TEST(CallEnd, RepeatedMpsIsAnsweredAgainClass1) { RepeatedPostPageIsAnsweredAgain(fcClass1, 2); }
TEST(CallEnd, RepeatedMpsIsAnsweredAgainClass2) { RepeatedPostPageIsAnsweredAgain(fcClass2, 2); }

}  // namespace
}  // namespace qv::fax::test
