#include "fax_harness.h"

namespace qv::fax::test {
namespace {

TEST(FaxEndToEnd, Class1SendsOnePageToClass1) {
  Call call;
  ASSERT_TRUE(call.Open());
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 1, false);
  call.send.FaxClass = fcClass1;
  call.receive.FaxClass = fcClass1;
  call.send.DesiredBPS = 14400;
  call.receive.DesiredBPS = 14400;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.receive.StartReceiving();
  call.send.StartSending();
  ASSERT_TRUE(PumpUntil({&call.sent, &call.received}, 60));
  EXPECT_EQ(call.sent.finishCode, 0);
  EXPECT_EQ(call.received.finishCode, 0);
  EXPECT_EQ(call.send.RemoteID(), "RECEIVER 1");
  std::vector<ReceivedPage> pages;
  std::string station;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages, &station));
  EXPECT_EQ(station, std::string("SENDER 2") + std::string(12, ' '));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_TRUE(PageMatches(pages[0], rows[0]));
  EXPECT_EQ(call.sent.logs, (std::vector<int>{1, 2}));
  EXPECT_EQ(call.received.logs, (std::vector<int>{4, 5}));
}

}  // namespace
}  // namespace qv::fax::test
