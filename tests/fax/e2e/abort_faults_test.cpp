// Calls that end early: an abort on either side, a dead line, a refused call. Each asserts the
// code, the events and what is left on disk. The side a test reaches into is its own session; the
// other end is a qvfax process.
#include "fax_harness.h"

namespace qv::fax::test {
namespace {

// What an abort in the middle of page 2 leaves: the aborting side ends with -6005, both sides log
// a failure, and the receiver keeps the page it had completed.
void ExpectAbortedMidPage(const Events& aborter, const Events& other, const Events& sent, const Events& received,
                          const std::string& file, const std::vector<PageRows>& rows, const std::string& trail) {
  EXPECT_EQ(aborter.finishCode, -6005) << trail;
  EXPECT_TRUE(aborter.Saw(fpCancel)) << trail;
  EXPECT_NE(other.finishCode, 0) << trail;
  EXPECT_EQ(sent.logs, (std::vector<int>{1, 3})) << trail;
  EXPECT_EQ(received.logs, (std::vector<int>{4, 7})) << trail;
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(file, pages)) << trail;
  ASSERT_GE(pages.size(), 1u);
  EXPECT_LE(pages.size(), 2u);
  EXPECT_TRUE(PageMatches(pages[0], rows[0]));
}

// Pumps this thread's loop until `when` holds, then aborts `fax`; false when the call ended or
// the time ran out first.
template <class When>
bool AbortWhen(TQvAbstractFax& fax, const Events& events, When when) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!events.finished && std::chrono::steady_clock::now() < deadline) {
    core::MessageLoop::instance().waitAndPump(2);
    if (when()) {
      fax.AbortFax();
      return true;
    }
  }
  return false;
}

TEST(SessionFaults, SenderAbortsMidPageClass1) {
  RemoteCall call;
  ASSERT_TRUE(call.Open({.faxClass = fcClass1, .exitOnError = true})) << call.receiver.Output();
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 4, true, 400);
  call.send.FaxClass = fcClass1;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  // The receiver says "getting page data" once per page: the second time, page 2 is on the line.
  auto receivingPage2 = [&] {
    const std::string said = call.receiver.Output();
    const size_t first = said.find("status 24:");
    return first != std::string::npos && said.find("status 24:", first + 1) != std::string::npos;
  };
  ASSERT_TRUE(AbortWhen(call.send, call.sent, receivingPage2)) << call.Trail();
  ASSERT_TRUE(call.Wait(90)) << call.Trail();
  const Events received = call.receiver.Read();
  ExpectAbortedMidPage(call.sent, received, call.sent, received, call.dir.str("in/FAX0001.QVF"), rows, call.Trail());
  EXPECT_NE(call.receiver.Output().find("Receive failed at "), std::string::npos) << call.Trail();
}

TEST(SessionFaults, ReceiverAbortsMidPageClass2) {
  IncomingCall call;
  ASSERT_TRUE(call.Open());
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 4, true, 400);
  call.receive.FaxClass = fcClass2;
  call.receive.ExitOnError = true;
  ASSERT_TRUE(call.Start(call.dir.str("doc.qvf"), {.faxClass = fcClass2})) << call.Trail();
  ASSERT_TRUE(AbortWhen(call.receive, call.received,
                        [&] { return call.receive.CurrentPage() == 2 && call.receive.BytesTransferred() > 100; }))
      << call.Trail();
  ASSERT_TRUE(call.Wait(90)) << call.Trail();
  const Events sent = call.sender.Read();
  ExpectAbortedMidPage(call.received, sent, sent, call.received, call.dir.str("in/FAX0001.QVF"), rows, call.Trail());
  EXPECT_NE(ReadText(call.dir.str("receive.his")).find("Receive failed at "), std::string::npos);
}

// Whether a stored page's MH data reaches its end-of-page code.
bool PageCodingEnds(const ReceivedPage& page) {
  faximage::T4Decoder decoder([](std::span<const uint8_t>) {});
  decoder.startPage();
  decoder.feed(page.data.data(), page.data.size());
  return decoder.pageEnded();
}

// The line dies in page 2. Page 1 is whole in the file; page 2 is kept only as far as it came,
// and without an end of page whatever coding it came in: the program's filing knows a page that
// never arrived whole by its missing end, and leaves it out of the record.
void LineDropsOnPage2(TFaxClass cls, LineCoding coding) {
  SCOPED_TRACE(CodingName(coding));
  RemoteCall call;
  const char* option = coding == LineCoding::MR ? "mr" : "mh";
  ASSERT_TRUE(call.Open({.faxClass = cls, .exitOnError = true, .coding = option},
                        {"--drop-page", "2", "--drop-after", "400"}))
      << call.receiver.Output();
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 4, false, 200);
  call.send.FaxClass = cls;
  call.send.DesiredCoding = coding;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(90)) << call.Trail();
  const Events received = call.receiver.Read();
  EXPECT_LT(call.sent.finishCode, 0) << call.Trail();
  EXPECT_LT(received.finishCode, 0) << call.Trail();
  EXPECT_EQ(call.send.SessionCoding(), coding) << call.Trail();
  EXPECT_EQ(call.sent.logs, (std::vector<int>{1, 3}));
  EXPECT_EQ(received.logs, (std::vector<int>{4, 7})) << call.Trail();
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_TRUE(PageMatches(pages[0], rows[0]));
  EXPECT_FALSE(PageMatches(pages[1], rows[1]));
  EXPECT_FALSE(PageCodingEnds(pages[1]));
}

TEST(SessionFaults, LineDroppedMidPageClass1) {
  LineDropsOnPage2(fcClass1, LineCoding::MH);
  LineDropsOnPage2(fcClass1, LineCoding::MR);
}
TEST(SessionFaults, LineDroppedMidPageClass20) {
  LineDropsOnPage2(fcClass2_0, LineCoding::MH);
  LineDropsOnPage2(fcClass2_0, LineCoding::MR);
}

// A call that OnFaxAccept refuses ends with -6011, log entry 6 and no file. With Class 1 this
// side runs T.30 and never confirms the page, so the sender fails too; a Class 2 modem runs its
// own T.30, so what the sender hears depends on the modem.
void RejectedCallLeavesNoFile(TFaxClass cls) {
  IncomingCall call;
  ASSERT_TRUE(call.Open());
  MakeQvf(call.dir.str("doc.qvf"), 1, false);
  call.receive.FaxClass = cls;
  call.receive.ExitOnError = true;
  call.receive.OnFaxAccept = [](TQvReceiveFax*, bool& accept) { accept = false; };
  ASSERT_TRUE(call.Start(call.dir.str("doc.qvf"), {.faxClass = cls})) << call.Trail();
  ASSERT_TRUE(call.Wait(90)) << call.Trail();
  EXPECT_EQ(call.received.finishCode, -6011) << call.Trail();
  EXPECT_EQ(call.received.logs, std::vector<int>{6});
  if (cls == fcClass1) {
    EXPECT_NE(call.sender.Read().finishCode, 0) << call.Trail();
  }
  EXPECT_TRUE(call.ReceivedFiles().empty());
  EXPECT_NE(ReadText(call.dir.str("receive.his")).find("Receive skipped at "), std::string::npos);
}

TEST(SessionFaults, RejectedCallLeavesNoFileClass1) { RejectedCallLeavesNoFile(fcClass1); }
TEST(SessionFaults, RejectedCallLeavesNoFileClass2) { RejectedCallLeavesNoFile(fcClass2); }

}  // namespace
}  // namespace qv::fax::test
