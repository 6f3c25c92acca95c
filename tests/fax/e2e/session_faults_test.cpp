// Faults after the call is up: training, rejected pages, noise and modems that say nothing or
// refuse a command. Each asserts the code, the events and what is left on disk.
#include "fax_harness.h"

namespace qv::fax::test {
namespace {

TEST(SessionFaults, TrainingFailureFallsBackToASpeedTheLineCarries) {
  RemoteCall call;
  ASSERT_TRUE(call.Open({fcClass1, 14400}, {"--line-max-rate", "9600"})) << call.receiver.Output();
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 2, false);
  call.send.FaxClass = fcClass1;
  call.send.DesiredBPS = 14400;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(90)) << call.Trail();
  EXPECT_EQ(call.sent.finishCode, 0) << call.Trail();
  EXPECT_EQ(call.receiver.Read().finishCode, 0) << call.Trail();
  EXPECT_EQ(call.send.ConnectBPS(), 9600);
  EXPECT_EQ(call.receiver.CallBps(), 9600) << call.Trail();
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_TRUE(PageMatches(pages[0], rows[0]));
  EXPECT_TRUE(PageMatches(pages[1], rows[1]));
}

TEST(SessionFaults, NoSpeedTrainsFailsWithTrainError) {
  RemoteCall call;
  ASSERT_TRUE(call.Open({.faxClass = fcClass1, .bps = 4800, .exitOnError = true}, {"--train-fail-all"}))
      << call.receiver.Output();
  MakeQvf(call.dir.str("doc.qvf"), 1, false);
  call.send.FaxClass = fcClass1;
  call.send.DesiredBPS = 4800;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(90)) << call.Trail();
  const Events received = call.receiver.Read();
  EXPECT_EQ(received.finishCode, -8062) << call.Trail();
  EXPECT_NE(call.sent.finishCode, 0);
  EXPECT_EQ(call.sent.logs, (std::vector<int>{1, 3}));
  EXPECT_TRUE(received.logs.empty());
  EXPECT_TRUE(call.ReceivedFiles().empty());
}

// The receiving modem's own T.30 answers RTN to the first page: the sender steps down and sends
// that page again, the receiver drops the rejected copy; every page arrives once.
void RejectedPageIsSentAgain(TFaxClass sender, TFaxClass receiver) {
  RemoteCall call;
  ASSERT_TRUE(call.Open({receiver, 14400}, {"--rtn-page", "1"})) << call.receiver.Output();
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 2, false);
  call.send.FaxClass = sender;
  call.send.DesiredBPS = 14400;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(90)) << call.Trail();
  EXPECT_EQ(call.sent.finishCode, 0) << call.Trail();
  EXPECT_EQ(call.receiver.Read().finishCode, 0) << call.Trail();
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_TRUE(PageMatches(pages[0], rows[0]));
  EXPECT_TRUE(PageMatches(pages[1], rows[1]));
}

TEST(SessionFaults, RtnToClass1SenderRetrainsAndResends) {
  RejectedPageIsSentAgain(fcClass1, fcClass2);
}

TEST(SessionFaults, RtnToClass2SenderResendsThePage) {
  RejectedPageIsSentAgain(fcClass2, fcClass2_0);
}

// The rows of a received page that decode whole, and those that do not.
struct PageCheck {
  uint32_t good = 0, bad = 0;
};
PageCheck CheckRows(const ReceivedPage& page) {
  faximage::T4Decoder decoder;
  decoder.startPage();
  decoder.feed(page.data.data(), page.data.size());
  return {decoder.goodRows(), decoder.badRows()};
}

// How often the sender's port wrote `text`. The trace wraps its lines and notes a byte that is
// not printable as a code, so the command lines stay in one piece once the wraps are gone.
size_t CountSent(const std::string& trace, const std::string& text) {
  std::string flat;
  for (size_t i = 0; i < trace.size(); ++i)
    if (!(trace[i] == '\r' && i + 1 < trace.size() && trace[i + 1] == '\n') && !(trace[i] == '\n' && i > 0 && trace[i - 1] == '\r'))
      flat += trace[i];
  size_t n = 0;
  for (size_t pos = flat.find(text); pos != std::string::npos; pos = flat.find(text, pos + 1)) ++n;
  return n;
}

// Noise garbles the first page on the line. A receiver without error correction must not confirm
// it: RTN keeps it out of the file, and the sender trains again (a step slower) and sends it once
// more; the file holds every page as it was sent.
TEST(SessionFaults, PageGarbledOnTheLineIsRefusedAndSentAgain) {
  RemoteCall call;
  ASSERT_TRUE(call.Open({fcClass1, 9600}, {"--corrupt-page", "1"})) << call.receiver.Output();
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 2, false, 100);
  call.send.FaxClass = fcClass1;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(90)) << call.Trail();
  EXPECT_EQ(call.sent.finishCode, 0) << call.Trail();
  EXPECT_EQ(call.receiver.Read().finishCode, 0) << call.Trail();
  EXPECT_EQ(call.send.ConnectBPS(), 7200) << "RTN makes the sender step down";
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_TRUE(PageMatches(pages[0], rows[0]));
  EXPECT_TRUE(PageMatches(pages[1], rows[1]));
}

// Noise on every page: each copy is refused, the sender steps down to 2400 bit/s and then gives
// up. Both ends report the call failed, and no damaged page is filed as a received fax.
TEST(SessionFaults, SenderThatGivesUpAfterRtnFailsTheCallAtBothEnds) {
  RemoteCall call;
  ASSERT_TRUE(call.Open({.faxClass = fcClass1, .bps = 9600, .exitOnError = true}, {"--corrupt-page", "0"}))
      << call.receiver.Output();
  MakeQvf(call.dir.str("doc.qvf"), 2, false, 100);
  call.send.FaxClass = fcClass1;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(120)) << call.Trail();
  EXPECT_EQ(call.sent.finishCode, core::ecFaxTrainError) << call.Trail();
  EXPECT_EQ(call.sent.logs, (std::vector<int>{1, 3}));
  const Events received = call.receiver.Read();
  EXPECT_NE(received.finishCode, 0) << call.Trail();
  EXPECT_EQ(received.logs, (std::vector<int>{4, 7})) << call.Trail();
  EXPECT_TRUE(call.ReceivedFiles().empty()) << call.Trail();
}

// A few bytes of noise in the first page: a handful of rows lost of over two hundred. The page is
// kept as it came (it reads well enough), the answer is RTP, and the sender trains again at the
// same speed before the next page, which arrives whole.
TEST(SessionFaults, PageWithAFewBadRowsIsKeptAndTheSenderRetrains) {
  RemoteCall call;
  // MH: the noise's spacing is counted for the rows of a one-dimensional page (an MR page of the
  // same rows is too short to be hit at all).
  ASSERT_TRUE(call.Open({.faxClass = fcClass1, .bps = 9600, .coding = "mh"}, {"--corrupt-page", "1", "--noise-spacing", "1500"}))
      << call.receiver.Output();
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 2, false, 250);
  call.portA.SetTraceSize(4000000);
  call.portA.SetTraceName(call.dir.str("send.trc"));
  call.portA.SetTracing(comm::tlOn);
  call.send.FaxClass = fcClass1;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(90)) << call.Trail();
  EXPECT_EQ(call.sent.finishCode, 0) << call.Trail();
  EXPECT_EQ(call.receiver.Read().finishCode, 0) << call.Trail();
  EXPECT_EQ(call.send.ConnectBPS(), 9600);
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages));
  ASSERT_EQ(pages.size(), 2u);
  const PageCheck first = CheckRows(pages[0]);
  EXPECT_GT(first.bad, 0u) << "the damaged copy is the one kept";
  EXPECT_GT(first.good, 240u);
  EXPECT_TRUE(PageMatches(pages[1], rows[1]));
  call.portA.SetTracing(comm::tlDump);
  // Training check and page 1; then, after RTP, the training check again and page 2.
  EXPECT_EQ(CountSent(ReadText(call.dir.str("send.trc")), "AT+FTM=96"), 4u);
}

TEST(SessionFaults, SilentModemFailsTheStartWithBadModemResult) {
  Call call;
  ASSERT_TRUE(call.Open({"--a-silent"}));
  MakeQvf(call.dir.str("doc.qvf"), 1, false);
  call.send.FaxClass = fcDetect;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();  // the start itself does not raise: the session reports
  ASSERT_TRUE(PumpUntil({&call.sent}, 40));
  EXPECT_EQ(call.sent.finishCode, -8061);
  EXPECT_EQ(call.sent.errors, std::vector<int>{-8061});
  EXPECT_TRUE(call.sent.logs.empty());
  EXPECT_TRUE(call.sent.firstSeen);
  EXPECT_TRUE(call.sent.lastSeen);
  EXPECT_FALSE(call.send.Active());
}

TEST(SessionFaults, RefusedClassCommandIsAnInitError) {
  Call call;
  ASSERT_TRUE(call.Open({"--a-refuse", "+FLID"}));
  MakeQvf(call.dir.str("doc.qvf"), 1, false);
  call.send.FaxClass = fcClass2;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(PumpUntil({&call.sent}, 40));
  EXPECT_EQ(call.sent.finishCode, -8061);  // ERROR from the modem outranks the init failure
  EXPECT_EQ(call.sent.logs, (std::vector<int>{1, 3}));
}

// The sending modem reports a non-zero hang-up code after the last page and then says OK. What
// decides is whether the far end confirmed that page before the hang-up. A Class 2 modem reports
// the far end's answer to EOP first (+FPTS:1, its MCF): the fax is delivered, and the hang-up that
// follows (the far end left before our DCN) must not make it a failure the user would send again.
TEST(SessionFaults, HangupAfterTheConfirmedLastPageIsASentFaxClass2) {
  RemoteCall call;
  ASSERT_TRUE(call.Open({fcClass1, 9600}, {"--a-end-hangup", "54"})) << call.receiver.Output();
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 1, false);
  call.send.FaxClass = fcClass2;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(90)) << call.Trail();
  EXPECT_EQ(call.send.HangupCode(), 54);
  EXPECT_EQ(call.sent.finishCode, 0) << call.Trail();
  EXPECT_TRUE(call.sent.errors.empty()) << call.Trail();
  EXPECT_EQ(call.send.LastError(), 0);
  EXPECT_TRUE(call.sent.Saw(fpPageOk)) << call.Trail();
  EXPECT_EQ(call.sent.statuses.back(), fpFinished) << call.Trail();
  EXPECT_EQ(call.sent.logs, (std::vector<int>{1, 2}));
  EXPECT_NE(ReadText(call.dir.str("send.his")).find(" finished OK at "), std::string::npos);
  EXPECT_EQ(call.receiver.Read().finishCode, 0) << call.Trail();
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_TRUE(PageMatches(pages[0], rows[0]));
}

// A Class 2.0 modem gives no page status before it reports the hang-up: "+FHS:54" (no response
// to EOP) is the only word on the last page, and it says the far end never confirmed it. That is
// a hang-up before the confirmation: the fax failed, and the history says why.
TEST(SessionFaults, HangupBeforeAnyConfirmationOfTheLastPageFailsClass20) {
  RemoteCall call;
  ASSERT_TRUE(call.Open({fcClass1, 9600}, {"--a-end-hangup", "54"})) << call.receiver.Output();
  MakeQvf(call.dir.str("doc.qvf"), 1, false);
  call.send.FaxClass = fcClass2_0;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(90)) << call.Trail();
  EXPECT_EQ(call.send.HangupCode(), 54);
  EXPECT_EQ(call.sent.finishCode, core::ecFaxBadModemResult) << call.Trail();
  EXPECT_EQ(call.send.LastError(), core::ecFaxBadModemResult);
  EXPECT_FALSE(call.sent.Saw(fpPageOk)) << call.Trail();
  EXPECT_EQ(call.sent.logs, (std::vector<int>{1, 3}));
  std::string history = ReadText(call.dir.str("send.his"));
  EXPECT_NE(history.find("54"), std::string::npos) << history;
}

}  // namespace
}  // namespace qv::fax::test
