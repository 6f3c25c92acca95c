// Every sender class against every receiver class: a one-page standard fax, and a five-page
// fine fax with a cover page and a header line. The receiver is a `qvfax receive` process.
#pragma once

#include "fax_harness.h"

namespace qv::fax::test {

inline const char* ClassName(TFaxClass c) { return c == fcClass1 ? "1" : c == fcClass2 ? "2" : "2.0"; }

inline void RunOnePageStandard(TFaxClass sender, TFaxClass receiver) {
  SCOPED_TRACE(std::string("send Class ") + ClassName(sender) + " -> receive Class " + ClassName(receiver));
  RemoteCall call;
  ASSERT_TRUE(call.Open({receiver, 14400})) << call.receiver.Output();
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 1, false);
  call.send.FaxClass = sender;
  call.send.DesiredBPS = 14400;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(90)) << call.Trail();
  const Events received = call.receiver.Read();
  EXPECT_EQ(call.sent.finishCode, 0) << call.Trail();
  EXPECT_EQ(received.finishCode, 0) << call.Trail();
  EXPECT_EQ(call.receiver.exitStatus, 0);
  EXPECT_TRUE(call.sent.errors.empty());
  EXPECT_TRUE(received.errors.empty());
  EXPECT_EQ(call.send.RemoteID(), "RECEIVER 1");
  std::vector<ReceivedPage> pages;
  std::string station;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages, &station));
  EXPECT_EQ(station, std::string("SENDER 2") + std::string(12, ' '));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].flags & faximage::pfHighRes, 0);
  size_t lead = 0;
  EXPECT_TRUE(PageMatches(pages[0], rows[0], &lead));
  EXPECT_EQ(lead, 8u);
  EXPECT_EQ(call.sent.logs, (std::vector<int>{1, 2}));
  EXPECT_EQ(received.logs, (std::vector<int>{4, 5}));
  // The status sequences pass through the milestones in order.
  EXPECT_TRUE(call.sent.firstSeen && call.sent.lastSeen);
  EXPECT_EQ(call.sent.statuses.front(), fpInitModem);
  EXPECT_TRUE(call.sent.Saw(fpDialing));
  EXPECT_TRUE(call.sent.Saw(fpSendPage));
  EXPECT_EQ(call.sent.statuses.back(), fpFinished);
  EXPECT_TRUE(received.Saw(fpWaiting));
  EXPECT_TRUE(received.Saw(fpAnswer));
  EXPECT_TRUE(received.Saw(fpGetPage));
  // The receiver's log entries name the file and the caller.
  const std::string said = call.receiver.Output();
  EXPECT_NE(said.find("Receive " + call.dir.str("in/FAX0001.QVF") + " from SENDER 2 started at "), std::string::npos) << said;
  EXPECT_NE(said.find("Receive finished OK at "), std::string::npos) << said;
}

inline void RunFivePagesFineWithCover(TFaxClass sender, TFaxClass receiver) {
  SCOPED_TRACE(std::string("send Class ") + ClassName(sender) + " -> receive Class " + ClassName(receiver));
  RemoteCall call;
  ASSERT_TRUE(call.Open({receiver, 14400})) << call.receiver.Output();
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 5, true, 60);
  auto cover = MakeQvf(call.dir.str("cover.qvf"), 1, true, 30, 50);
  call.send.FaxClass = sender;
  call.send.DesiredBPS = 9600;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.CoverFile = call.dir.str("cover.qvf");
  call.send.FaxFileExt = "qvf";
  call.send.HeaderLine = "$F page $P of $N";
  call.send.HeaderSender = "Quorvane test";
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(120)) << call.Trail();
  EXPECT_EQ(call.sent.finishCode, 0) << call.Trail();
  EXPECT_EQ(call.receiver.Read().finishCode, 0) << call.Trail();
  EXPECT_EQ(call.send.ConnectBPS(), 9600);
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages));
  ASSERT_EQ(pages.size(), 6u);
  EXPECT_TRUE(PageMatches(pages[0], cover[0]));
  for (int p = 0; p < 5; ++p) {
    EXPECT_TRUE(PageMatches(pages[p + 1], rows[p])) << "page " << p + 1;
    EXPECT_EQ(pages[p + 1].flags & faximage::pfHighRes, faximage::pfHighRes);
  }
  std::vector<std::string> files;
  for (auto& e : fs::directory_iterator(call.dir.path() / "in")) files.push_back(e.path().filename().string());
  EXPECT_EQ(files, std::vector<std::string>{"FAX0001.QVF"});
  // Without a header line only the eight blank rows come first; with one, its 16 fine rows follow
  // them, and they carry ink.
  size_t lead = 0;
  std::vector<std::vector<uint8_t>> decoded;
  ASSERT_TRUE(PageMatches(pages[2], rows[1], &lead, &decoded));
  EXPECT_EQ(lead, 8u + 16u);
  int inked = 0;
  for (size_t r = 8; r < lead; ++r) inked += std::any_of(decoded[r].begin(), decoded[r].end(), [](uint8_t b) { return b; });
  EXPECT_GE(inked, 8);
}

}  // namespace qv::fax::test
