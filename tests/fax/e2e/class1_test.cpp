#include "fax_harness.h"

namespace qv::fax::test {
namespace {

TEST(FaxEndToEnd, Class1SendsOnePageToClass1) {
  RemoteCall call;
  ASSERT_TRUE(call.Open({fcClass1, 14400})) << call.receiver.Output();
  auto rows = MakeQvf(call.dir.str("doc.qvf"), 1, false);
  call.send.FaxClass = fcClass1;
  call.send.DesiredBPS = 14400;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(60)) << call.Trail();
  const Events received = call.receiver.Read();
  EXPECT_EQ(call.sent.finishCode, 0) << call.Trail();
  EXPECT_EQ(received.finishCode, 0) << call.Trail();
  EXPECT_EQ(call.send.RemoteID(), "RECEIVER 1");
  std::vector<ReceivedPage> pages;
  std::string station;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages, &station));
  EXPECT_EQ(station, std::string("SENDER 2") + std::string(12, ' '));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_TRUE(PageMatches(pages[0], rows[0]));
  EXPECT_EQ(call.sent.logs, (std::vector<int>{1, 2}));
  EXPECT_EQ(received.logs, (std::vector<int>{4, 5}));
}

}  // namespace
}  // namespace qv::fax::test
