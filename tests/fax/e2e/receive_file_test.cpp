// What a receiver leaves on disk when the disk fills up in the middle of a fax: the call ends with
// the disk-full error, and the file keeps every page that arrived whole, readable and ending right
// after the last of them.
#include "fax_harness.h"

#include "faximage/qvf_append.h"
#include "../../small_fs.h"

namespace qv::fax::test {
namespace {

void FullDiskMidFaxKeepsTheCompletePages(TFaxClass receiverClass) {
  SmallFs disk(1024 * 1024);
  if (!disk.ok()) GTEST_SKIP() << disk.reason();
  Call call;
  ASSERT_TRUE(call.Open());
  // A short first page, then pages far larger than the room left.
  auto first = MakeQvf(call.dir.str("doc.qvf"), 1, false, 40);
  MakeQvf(call.dir.str("long.qvf"), 2, false, 3000, 5);
  ASSERT_EQ(faximage::AppendFaxFile(call.dir.str("doc.qvf"), call.dir.str("long.qvf")), 0);
  call.receive.SetDestinationDir(disk / "");
  call.receive.ExitOnError = true;
  call.send.FaxClass = fcClass1;
  call.receive.FaxClass = receiverClass;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  disk.Fill("filler", 12 * 1024);
  call.receive.StartReceiving();
  call.send.StartSending();
  ASSERT_TRUE(PumpUntil({&call.sent, &call.received}, 120));
  const std::string trail = "sender " + call.sent.Trail() + "; receiver " + call.received.Trail();
  EXPECT_EQ(call.received.finishCode, core::ecDiskFull) << trail;
  EXPECT_EQ(call.received.errors, (std::vector<int>{core::ecDiskFull})) << trail;
  EXPECT_EQ(call.received.logs, (std::vector<int>{4, 7})) << trail;
  EXPECT_NE(call.sent.finishCode, 0) << trail;
  std::vector<ReceivedPage> pages;
  std::string station;
  ASSERT_TRUE(ReadReceived(disk / "FAX0001.QVF", pages, &station)) << trail;
  ASSERT_EQ(pages.size(), 1u) << trail;
  EXPECT_TRUE(PageMatches(pages[0], first[0]));
  EXPECT_EQ(station, std::string("SENDER 2") + std::string(12, ' '));
}

TEST(ReceiveFile, FullDiskMidFaxKeepsTheCompletePagesClass1) { FullDiskMidFaxKeepsTheCompletePages(fcClass1); }
TEST(ReceiveFile, FullDiskMidFaxKeepsTheCompletePagesClass20) { FullDiskMidFaxKeepsTheCompletePages(fcClass2_0); }

}  // namespace
}  // namespace qv::fax::test
