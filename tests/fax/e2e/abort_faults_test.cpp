// Calls that end early: an abort on either side, a dead line, a refused call. Each asserts the
// code, the events and what is left on disk.
#include "fax_harness.h"

namespace qv::fax::test {
namespace {

// Aborting in the middle of page 2: the aborting side ends with -6005; the receiver keeps the
// page it had completed.
void AbortMidPage(bool abortSender, TFaxClass cls) {
  Call call;
  ASSERT_TRUE(call.Open());
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 4, true, 400);
  call.send.FaxClass = cls;
  call.receive.FaxClass = cls;
  call.receive.ExitOnError = true;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.receive.StartReceiving();
  call.send.StartSending();
  bool aborted = false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!aborted && !call.sent.finished && std::chrono::steady_clock::now() < deadline) {
    core::MessageLoop::instance().waitAndPump(2);
    if (call.receive.CurrentPage() == 2 && call.receive.BytesTransferred() > 100) {
      (abortSender ? static_cast<TQvAbstractFax&>(call.send) : call.receive).AbortFax();
      aborted = true;
    }
  }
  ASSERT_TRUE(aborted);
  ASSERT_TRUE(PumpUntil({&call.sent, &call.received}, 90));
  Events& aborter = abortSender ? call.sent : call.received;
  EXPECT_EQ(aborter.finishCode, -6005);
  EXPECT_TRUE(aborter.Saw(fpCancel));
  EXPECT_NE((abortSender ? call.received : call.sent).finishCode, 0);
  EXPECT_EQ(call.sent.logs, (std::vector<int>{1, 3}));
  EXPECT_EQ(call.received.logs, (std::vector<int>{4, 7}));
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages));
  ASSERT_GE(pages.size(), 1u);
  EXPECT_LE(pages.size(), 2u);
  EXPECT_TRUE(PageMatches(pages[0], rows[0]));
  EXPECT_NE(ReadText(call.dir.str("receive.his")).find("Receive failed at "), std::string::npos);
}

TEST(SessionFaults, SenderAbortsMidPageClass1) { AbortMidPage(true, fcClass1); }
TEST(SessionFaults, ReceiverAbortsMidPageClass2) { AbortMidPage(false, fcClass2); }

void LineDropsOnPage2(TFaxClass cls) {
  Call call;
  ASSERT_TRUE(call.Open({"--drop-page", "2", "--drop-after", "400"}));
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 4, false, 200);
  call.send.FaxClass = cls;
  call.receive.FaxClass = cls;
  call.receive.ExitOnError = true;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.receive.StartReceiving();
  call.send.StartSending();
  ASSERT_TRUE(PumpUntil({&call.sent, &call.received}, 90));
  EXPECT_LT(call.sent.finishCode, 0);
  EXPECT_LT(call.received.finishCode, 0);
  EXPECT_EQ(call.sent.logs, (std::vector<int>{1, 3}));
  EXPECT_EQ(call.received.logs, (std::vector<int>{4, 7}));
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages));
  // Page 1 came through whole; the line died in page 2, kept only as far as it came.
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_TRUE(PageMatches(pages[0], rows[0]));
  EXPECT_FALSE(PageMatches(pages[1], rows[1]));
}

TEST(SessionFaults, LineDroppedMidPageClass1) { LineDropsOnPage2(fcClass1); }
TEST(SessionFaults, LineDroppedMidPageClass20) { LineDropsOnPage2(fcClass2_0); }

// A call that OnFaxAccept refuses ends with -6011, log entry 6 and no file. With Class 1 this
// side runs T.30 and never confirms the page, so the sender fails too; a Class 2 modem runs its
// own T.30, so what the sender hears depends on the modem.
void RejectedCallLeavesNoFile(TFaxClass cls) {
  Call call;
  ASSERT_TRUE(call.Open());
  MakeQvf(call.dir.str("doc.qvf"), 1, false);
  call.send.FaxClass = cls;
  call.receive.FaxClass = cls;
  call.receive.ExitOnError = true;
  call.receive.OnFaxAccept = [](TQvReceiveFax*, bool& accept) { accept = false; };
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.receive.StartReceiving();
  call.send.StartSending();
  ASSERT_TRUE(PumpUntil({&call.sent, &call.received}, 90));
  EXPECT_EQ(call.received.finishCode, -6011);
  EXPECT_EQ(call.received.logs, std::vector<int>{6});
  if (cls == fcClass1) {
    EXPECT_NE(call.sent.finishCode, 0);
  }
  EXPECT_TRUE(call.ReceivedFiles().empty());
  EXPECT_NE(ReadText(call.dir.str("receive.his")).find("Receive skipped at "), std::string::npos);
}

TEST(SessionFaults, RejectedCallLeavesNoFileClass1) { RejectedCallLeavesNoFile(fcClass1); }
TEST(SessionFaults, RejectedCallLeavesNoFileClass2) { RejectedCallLeavesNoFile(fcClass2); }

}  // namespace
}  // namespace qv::fax::test
