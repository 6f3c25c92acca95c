// Every sender class against every receiver class: a one-page standard fax, and a five-page
// fine fax with a cover page and a header line.
#pragma once

#include "fax_harness.h"

namespace qv::fax::test {

inline const char* ClassName(TFaxClass c) { return c == fcClass1 ? "1" : c == fcClass2 ? "2" : "2.0"; }

inline void RunOnePageStandard(TFaxClass sender, TFaxClass receiver) {
  SCOPED_TRACE(std::string("send Class ") + ClassName(sender) + " -> receive Class " + ClassName(receiver));
  Call call;
  ASSERT_TRUE(call.Open());
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 1, false);
  call.send.FaxClass = sender;
  call.receive.FaxClass = receiver;
  call.send.DesiredBPS = 14400;
  call.receive.DesiredBPS = 14400;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.receive.StartReceiving();
  call.send.StartSending();
  ASSERT_TRUE(PumpUntil({&call.sent, &call.received}, 90));
  EXPECT_EQ(call.sent.finishCode, 0) << "sender " << call.sent.Trail() << "; receiver " << call.received.Trail();
  EXPECT_EQ(call.received.finishCode, 0) << "sender " << call.sent.Trail() << "; receiver " << call.received.Trail();
  EXPECT_TRUE(call.sent.errors.empty());
  EXPECT_TRUE(call.received.errors.empty());
  EXPECT_EQ(call.send.RemoteID(), "RECEIVER 1");
  EXPECT_EQ(call.receive.RemoteID(), "SENDER 2");
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
  EXPECT_EQ(call.received.logs, (std::vector<int>{4, 5}));
  // The status sequences pass through the milestones in order.
  EXPECT_TRUE(call.sent.firstSeen && call.sent.lastSeen);
  EXPECT_EQ(call.sent.statuses.front(), fpInitModem);
  EXPECT_TRUE(call.sent.Saw(fpDialing));
  EXPECT_TRUE(call.sent.Saw(fpSendPage));
  EXPECT_EQ(call.sent.statuses.back(), fpFinished);
  EXPECT_TRUE(call.received.Saw(fpWaiting));
  EXPECT_TRUE(call.received.Saw(fpAnswer));
  EXPECT_TRUE(call.received.Saw(fpGetPage));
  std::string history = ReadText(call.dir.str("receive.his"));
  EXPECT_NE(history.find("Receive " + call.dir.str("in/FAX0001.QVF") + " from SENDER 2 started at "), std::string::npos);
  EXPECT_NE(history.find("Receive finished OK at "), std::string::npos);
}

inline void RunFivePagesFineWithCover(TFaxClass sender, TFaxClass receiver) {
  SCOPED_TRACE(std::string("send Class ") + ClassName(sender) + " -> receive Class " + ClassName(receiver));
  Call call;
  ASSERT_TRUE(call.Open());
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 5, true, 60);
  auto cover = MakeQvf(call.dir.str("cover.qvf"), 1, true, 30, 50);
  call.send.FaxClass = sender;
  call.receive.FaxClass = receiver;
  call.send.DesiredBPS = 9600;
  call.receive.DesiredBPS = 14400;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.CoverFile = call.dir.str("cover.qvf");
  call.send.FaxFileExt = "qvf";
  call.send.HeaderLine = "$F page $P of $N";
  call.send.HeaderSender = "Quorvane test";
  call.receive.StartReceiving();
  call.send.StartSending();
  ASSERT_TRUE(PumpUntil({&call.sent, &call.received}, 120));
  EXPECT_EQ(call.sent.finishCode, 0) << "sender " << call.sent.Trail() << "; receiver " << call.received.Trail();
  EXPECT_EQ(call.received.finishCode, 0) << "sender " << call.sent.Trail() << "; receiver " << call.received.Trail();
  EXPECT_EQ(call.send.ConnectBPS(), 9600);
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages));
  ASSERT_EQ(pages.size(), 6u);
  EXPECT_TRUE(PageMatches(pages[0], cover[0]));
  for (int p = 0; p < 5; ++p) {
    EXPECT_TRUE(PageMatches(pages[p + 1], rows[p])) << "page " << p + 1;
    EXPECT_EQ(pages[p + 1].flags & faximage::pfHighRes, faximage::pfHighRes);
  }
  EXPECT_EQ(call.ReceivedFiles(), std::vector<std::string>{"FAX0001.QVF"});
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
