// Checks made before a session starts, and the class query of a modem on its own.
#include "core/exceptions.h"
#include "fax_harness.h"

namespace qv::fax::test {
namespace {

TEST(StartChecks, SmallOutputBufferRaisesAndStartsNothing) {
  core::MessageLoop::instance().bindToCurrentThread();
  TempDir dir;
  ModemPair modems(dir);
  ASSERT_TRUE(modems.ready());
  comm::TQvComPort port;
  port.SetAutoOpen(false);
  port.SetDeviceName(modems.a());
  TQvSendFax send;
  send.SetComPort(&port);
  EXPECT_EQ(port.OutSize(), 8192);  // assigning the port sets the buffers a fax needs
  port.SetOutSize(4096);
  port.SetOpen(true);
  MakeQvf(dir.str("doc.qvf"), 1, false);
  send.SetFaxFile(dir.str("doc.qvf"));
  send.PhoneNumber = "1";
  Events events;
  events.Attach(send);
  try {
    send.StartSending();
    FAIL() << "no exception";
  } catch (const core::EQvException& e) {
    EXPECT_EQ(e.ErrorCode(), -3006);
  }
  EXPECT_FALSE(send.Active());
  core::MessageLoop::instance().pumpPending();
  EXPECT_FALSE(events.finished);
  EXPECT_TRUE(events.statuses.empty());
  port.SetOpen(false);
}

TEST(StartChecks, ModemClassesFollowTheModemsAnswer) {
  core::MessageLoop::instance().bindToCurrentThread();
  TempDir dir;
  ModemPair modems(dir, {"--a-classes", "0,1,2"});
  ASSERT_TRUE(modems.ready());
  comm::TQvComPort port;
  port.SetAutoOpen(false);
  port.SetDeviceName(modems.a());
  TQvSendFax send;
  send.SetComPort(&port);
  port.SetOpen(true);
  TFaxClassSet classes = send.ModemClasses();
  EXPECT_TRUE(classes.contains(fcClass1));
  EXPECT_TRUE(classes.contains(fcClass2));
  EXPECT_FALSE(classes.contains(fcClass2_0));
  port.SetOpen(false);
}

TEST(StartChecks, DetectedClassIsTheBestTheModemOffers) {
  RemoteCall call;
  ASSERT_TRUE(call.Open({fcDetect, 9600}, {"--a-classes", "0,1", "--b-classes", "0,1,2"})) << call.receiver.Output();
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 1, false);
  call.send.FaxClass = fcDetect;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(60)) << call.Trail();
  EXPECT_EQ(call.send.SessionClass(), fcClass1);
  EXPECT_EQ(call.receiver.CallClass(), "2") << call.Trail();
  EXPECT_EQ(call.sent.finishCode, 0) << call.Trail();
  EXPECT_EQ(call.receiver.Read().finishCode, 0) << call.Trail();
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_TRUE(PageMatches(pages[0], rows[0]));
}

TEST(StartChecks, TwoDocumentsAreMergedIntoOneFaxAndTheMergeIsRemoved) {
  RemoteCall call;
  ASSERT_TRUE(call.Open({fcClass1, 9600})) << call.receiver.Output();
  auto first = MakeQvf(call.dir.str("one.qvf"), 1, false, 40, 0);
  auto second = MakeQvf(call.dir.str("two.qvf"), 2, false, 40, 10);
  call.send.FaxClass = fcClass2;
  call.send.FaxFileList = {call.dir.str("one.qvf"), call.dir.str("two.qvf")};
  int totalAtFinish = -1;
  bool mergeGoneAtFinish = false;
  std::string merged;
  auto finish = call.send.OnFaxFinish;
  call.send.OnFaxFinish = [&](TQvAbstractFax* cp, int code) {
    totalAtFinish = cp->TotalPages();
    mergeGoneAtFinish = !merged.empty() && !fs::exists(merged);
    finish(cp, code);
  };
  call.send.StartSending();
  merged = call.send.MergedFile();
  EXPECT_FALSE(merged.empty());
  EXPECT_TRUE(fs::exists(merged));
  ASSERT_TRUE(call.Wait(60)) << call.Trail();
  EXPECT_EQ(call.sent.finishCode, 0) << call.Trail();
  EXPECT_EQ(totalAtFinish, 3);
  EXPECT_TRUE(mergeGoneAtFinish);
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages));
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_TRUE(PageMatches(pages[0], first[0]));
  EXPECT_TRUE(PageMatches(pages[1], second[0]));
  EXPECT_TRUE(PageMatches(pages[2], second[1]));
  // Both documents are named in the history, with the same number.
  std::string history = ReadText(call.dir.str("send.his"));
  EXPECT_NE(history.find("Transmit " + call.dir.str("one.qvf") + " to 5551234 started at "), std::string::npos);
  EXPECT_NE(history.find("Transmit " + call.dir.str("two.qvf") + " to 5551234 started at "), std::string::npos);
}

TEST(StartChecks, TextCoverPageIsDrawnAndSentBeforeTheDocument) {
  RemoteCall call;
  ASSERT_TRUE(call.Open({fcClass2_0, 9600})) << call.receiver.Output();
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 1, false);
  std::ofstream(call.dir.str("cover.txt")) << "To: $R\r\nPages: $N\n\nHello\n";
  call.send.FaxClass = fcClass1;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.CoverFile = call.dir.str("cover.txt");
  call.send.HeaderRecipient = "Bob";
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(60)) << call.Trail();
  EXPECT_EQ(call.sent.finishCode, 0) << call.Trail();
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_TRUE(PageMatches(pages[1], rows[0]));
  // The cover decodes cleanly: 8 blank rows, then four text lines of 16 rows each, with ink.
  std::vector<std::vector<uint8_t>> decoded;
  faximage::T4Decoder decoder([&](std::span<const uint8_t> row) { decoded.emplace_back(row.begin(), row.end()); });
  decoder.startPage();
  decoder.feed(pages[0].data.data(), pages[0].data.size());
  EXPECT_TRUE(decoder.pageEnded());
  EXPECT_EQ(decoder.badCodes(), 0u);
  EXPECT_EQ(decoded.size(), 8u + 4u * 16u);
  int inked = 0;
  for (const auto& row : decoded) inked += std::any_of(row.begin(), row.end(), [](uint8_t b) { return b; });
  EXPECT_GE(inked, 3 * 12);
}

TEST(StartChecks, MergingAFileThatIsNotQvfRaises) {
  TempDir dir;
  MakeQvf(dir.str("one.qvf"), 1, false);
  std::ofstream(dir.str("bad.qvf")) << "not a fax file at all, but long enough to have a header......";
  TQvSendFax send;
  comm::TQvComPort port;
  send.SetComPort(&port);
  send.FaxFileList = {dir.str("one.qvf"), dir.str("bad.qvf")};
  try {
    send.StartSending();
    FAIL() << "no exception";
  } catch (const core::EQvException& e) {
    EXPECT_EQ(e.ErrorCode(), -8001);
  }
  EXPECT_TRUE(send.MergedFile().empty());
}

}  // namespace
}  // namespace qv::fax::test
