// The engine's fax files. A sender's documents merged into one must hold every page or none. A
// receiver whose disk fills up in the middle of a fax ends the call with the disk-full error, and
// the file keeps every page that arrived whole, readable and ending right after the last of them.
#include "fax_harness.h"

#include "core/exceptions.h"

#include "faximage/qvf_append.h"
#include "../../small_fs.h"

namespace qv::fax::test {
namespace {

// A QVF file of `pages` empty pages (each only its page header).
void WriteEmptyPages(const std::string& path, uint16_t pages) {
  faximage::QvfFileHeader header;
  header.PageCount = pages;
  uint8_t raw[faximage::kQvfFileHeaderSize];
  header.Encode(raw);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(raw), sizeof raw);
  faximage::QvfPageHeader page;
  uint8_t rawPage[faximage::kQvfPageHeaderSize];
  page.Encode(rawPage);
  for (int p = 0; p < pages; ++p) out.write(reinterpret_cast<const char*>(rawPage), sizeof rawPage);
}

// The page count is 16 bits: two documents of 40000 pages cannot be one fax, and the sender must
// say so rather than send a file whose count wrapped around.
TEST(FaxFiles, DocumentsTooManyPagesForOneFaxAreRefused) {
  TempDir dir;
  WriteEmptyPages(dir.str("one.qvf"), 40000);
  WriteEmptyPages(dir.str("two.qvf"), 40000);
  TQvSendFax send;
  comm::TQvComPort port;
  send.SetComPort(&port);
  send.FaxFileList = {dir.str("one.qvf"), dir.str("two.qvf")};
  try {
    send.StartSending();
    FAIL() << "no exception";
  } catch (const core::EQvException& e) {
    EXPECT_EQ(e.ErrorCode(), core::ecFaxBadFormat);
  }
  EXPECT_TRUE(send.MergedFile().empty());
}

void FullDiskMidFaxKeepsTheCompletePages(TFaxClass receiverClass) {
  SmallFs disk(1024 * 1024);
  if (!disk.ok()) GTEST_SKIP() << disk.reason();
  RemoteCall call;
  call.inbox = disk / "";
  ASSERT_TRUE(call.Open({.faxClass = receiverClass, .exitOnError = true})) << call.receiver.Output();
  // A short first page, then pages far larger than the room left.
  auto first = MakeQvf(call.dir.str("doc.qvf"), 1, false, 40);
  MakeQvf(call.dir.str("long.qvf"), 2, false, 3000, 5);
  ASSERT_EQ(faximage::AppendFaxFile(call.dir.str("doc.qvf"), call.dir.str("long.qvf")), 0);
  call.send.FaxClass = fcClass1;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  disk.Fill("filler", 12 * 1024);
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(120)) << call.Trail();
  const std::string trail = call.Trail();
  const Events received = call.receiver.Read();
  EXPECT_EQ(received.finishCode, core::ecDiskFull) << trail;
  EXPECT_EQ(received.errors, (std::vector<int>{core::ecDiskFull})) << trail;
  EXPECT_EQ(received.logs, (std::vector<int>{4, 7})) << trail;
  EXPECT_NE(call.sent.finishCode, 0) << trail;
  std::vector<ReceivedPage> pages;
  std::string station;
  ASSERT_TRUE(ReadReceived(disk / "FAX0001.QVF", pages, &station)) << trail;
  ASSERT_EQ(pages.size(), 1u) << trail;
  EXPECT_TRUE(PageMatches(pages[0], first[0]));
  EXPECT_EQ(station, std::string("SENDER 2") + std::string(12, ' '));
}

TEST(FaxFiles, FullDiskMidFaxKeepsTheCompletePagesClass1) { FullDiskMidFaxKeepsTheCompletePages(fcClass1); }
TEST(FaxFiles, FullDiskMidFaxKeepsTheCompletePagesClass20) { FullDiskMidFaxKeepsTheCompletePages(fcClass2_0); }

}  // namespace
}  // namespace qv::fax::test
