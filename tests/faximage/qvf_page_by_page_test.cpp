// Writing a fax as it is received: the file on disk must be a readable fax of its complete pages
// at every moment, a rejected page must vanish without a trace, and a full disk must never cost
// the pages already in.

#include <gtest/gtest.h>

#include <filesystem>

#include "core/error_codes.h"
#include "faximage/qvf_file.h"
#include "faximage/qvf_writer.h"
#include "test_util.h"
#include "../small_fs.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

namespace {

// Page data that tells pages apart and shows a shifted or mixed byte.
std::vector<uint8_t> PageData(int page, size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(page * 31 + i * 7 + (i >> 8));
  return data;
}

// The file as a reader sees it: every counted page's flags and data, read with the reader the
// sender uses. False when the chain does not hold together.
struct PageRead {
  uint16_t flags;
  std::vector<uint8_t> data;
};
bool ReadPages(const std::string& name, QvfFileHeader& header, std::vector<PageRead>& pages) {
  QvfReader r;
  if (r.Open(name) != 0) return false;
  header = r.Header();
  pages.clear();
  for (int p = 1; p <= r.PageCount(); ++p) {
    QvfPageHeader ph;
    int64_t at = 0;
    if (r.FindPage(p, ph, at) != 0) return false;
    PageRead page{ph.PageFlags, std::vector<uint8_t>(static_cast<size_t>(ph.ImageLength))};
    r.Seek(at);
    if (r.Read(page.data.data(), page.data.size()) != ph.ImageLength) return false;
    pages.push_back(std::move(page));
  }
  return true;
}

int64_t FileSizeOf(const std::vector<size_t>& pageSizes) {
  int64_t size = kQvfFileHeaderSize;
  for (size_t s : pageSizes) size += kQvfPageHeaderSize + static_cast<int64_t>(s);
  return size;
}

}  // namespace

TEST(QvfPageByPage, TheHeaderOnDiskCountsEachPageAsItCompletes) {
  TempDir dir;
  const std::string name = dir.file("in.qvf");
  QvfWriter w;
  ASSERT_EQ(w.CreatePageByPage(name, "REMOTE", true), 0);
  // Before any page: a valid, empty fax with the remote identifier in the receiver's form.
  QvfFileHeader h;
  ASSERT_EQ(ReadFaxHeader(name, h), 0);
  EXPECT_EQ(h.PageCount, 0);
  EXPECT_EQ(h.StationIdLength, 20);
  EXPECT_EQ(h.StationIdString(), "REMOTE              ");
  std::tm t{};
  EXPECT_TRUE(UnpackDosDateTime(h.DateTime, t));
  EXPECT_EQ(std::filesystem::file_size(name), 64u);

  const std::vector<size_t> sizes = {100, 9000, 4096 - 16, 1};
  std::vector<PageRead> pages;
  for (size_t p = 0; p < sizes.size(); ++p) {
    w.SetPageFlags(p % 2 ? pfHighRes : 0);
    const auto data = PageData(static_cast<int>(p), sizes[p]);
    // Half the page in: what is on disk still reads as the pages before it.
    ASSERT_EQ(w.WriteRaw(std::span(data).first(data.size() / 2)), 0);
    ASSERT_TRUE(ReadPages(name, h, pages));
    ASSERT_EQ(pages.size(), p) << "page " << p + 1 << " counted before it ended";
    ASSERT_EQ(w.WriteRaw(std::span(data).subspan(data.size() / 2)), 0);
    if (p == 3) w.SetStationId("LATER ID", true);  // the identifier of the last rewrite wins
    ASSERT_EQ(w.EndRawPage(), 0);
    // Right after the page: counted, complete and nothing after it.
    ASSERT_TRUE(ReadPages(name, h, pages));
    ASSERT_EQ(pages.size(), p + 1);
    EXPECT_EQ(pages[p].data, data) << "page " << p + 1;
    EXPECT_EQ(pages[p].flags, p % 2 ? pfHighRes : 0);
    EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(name)),
              FileSizeOf(std::vector<size_t>(sizes.begin(), sizes.begin() + p + 1)));
  }
  EXPECT_EQ(h.StationIdString(), "LATER ID            ");
  ASSERT_EQ(w.Close(), 0);
  ASSERT_TRUE(ReadPages(name, h, pages));
  EXPECT_EQ(pages.size(), 4u);
}

TEST(QvfPageByPage, ACutPageLeavesNoTraceAndTheNextPageTakesItsPlace) {
  TempDir dir;
  const std::string name = dir.file("cut.qvf");
  QvfWriter w;
  ASSERT_EQ(w.CreatePageByPage(name, "X", true), 0);
  const auto first = PageData(1, 5000);
  ASSERT_EQ(w.WriteRaw(first), 0);
  ASSERT_EQ(w.EndRawPage(), 0);
  // A rejected page long enough to be partly on disk, then one that never left the buffer.
  for (size_t rejected : {20000u, 300u}) {
    const auto bad = PageData(9, rejected);
    ASSERT_EQ(w.WriteRaw(bad), 0);
    EXPECT_TRUE(w.PageOpen());
    ASSERT_EQ(w.CutPage(), 0);
    EXPECT_FALSE(w.PageOpen());
    EXPECT_EQ(w.PageCount(), 1);
    EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(name)), FileSizeOf({5000}));
  }
  EXPECT_EQ(w.CutPage(), 0);  // nothing open: nothing to cut
  // The page sent again goes where the rejected one began.
  const auto again = PageData(2, 7000);
  w.SetPageFlags(pfHighRes | pfWide);
  ASSERT_EQ(w.WriteRaw(again), 0);
  ASSERT_EQ(w.EndRawPage(), 0);
  // A page cut while the file is closed with it open is not counted either.
  ASSERT_EQ(w.WriteRaw(PageData(3, 50)), 0);
  ASSERT_EQ(w.Close(), 0);

  QvfFileHeader h;
  std::vector<PageRead> pages;
  ASSERT_TRUE(ReadPages(name, h, pages));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].data, first);
  EXPECT_EQ(pages[1].data, again);
  EXPECT_EQ(pages[1].flags, pfHighRes | pfWide);
  EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(name)), FileSizeOf({5000, 7000}));
}

TEST(QvfPageByPage, AWriterDroppedMidPageKeepsTheCompletePages) {
  TempDir dir;
  const std::string name = dir.file("dropped.qvf");
  const auto page = PageData(1, 3000);
  {
    QvfWriter w;
    ASSERT_EQ(w.CreatePageByPage(name, "X", true), 0);
    ASSERT_EQ(w.WriteRaw(page), 0);
    ASSERT_EQ(w.EndRawPage(), 0);
    ASSERT_EQ(w.WriteRaw(PageData(2, 10000)), 0);
  }
  QvfFileHeader h;
  std::vector<PageRead> pages;
  ASSERT_TRUE(ReadPages(name, h, pages));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].data, page);
  EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(name)), FileSizeOf({3000}));

  // A conversion's writer, dropped the same way, leaves nothing.
  const std::string converted = dir.file("converted.qvf");
  {
    QvfWriter w;
    ASSERT_EQ(w.Create(converted), 0);
    ASSERT_EQ(w.WriteRowRecord(page), 0);
    ASSERT_EQ(w.EndPage(), 0);
  }
  EXPECT_FALSE(std::filesystem::exists(converted));
}

// A real full disk (a small tmpfs): the page that does not fit fails with the disk-full code, and
// the file still holds every page before it, readable and exactly as long as those pages.
TEST(QvfPageByPage, AFullDiskKeepsTheEarlierPages) {
  SmallFs disk(256 * 1024);
  if (!disk.ok()) GTEST_SKIP() << disk.reason();
  const std::string name = disk / "in.qvf";
  QvfWriter w;
  ASSERT_EQ(w.CreatePageByPage(name, "EARLY", true), 0);
  const auto p1 = PageData(1, 6000), p2 = PageData(2, 1000);
  ASSERT_EQ(w.WriteRaw(p1), 0);
  ASSERT_EQ(w.EndRawPage(), 0);
  ASSERT_EQ(w.WriteRaw(p2), 0);
  ASSERT_EQ(w.EndRawPage(), 0);
  disk.Fill("filler", 8 * 1024);
  int rc = 0;
  const auto block = PageData(3, 4096);
  for (int i = 0; i < 64 && rc == 0; ++i) rc = w.WriteRaw(block);
  EXPECT_EQ(rc, qv::core::ecDiskFull);
  EXPECT_EQ(w.PageCount(), 2);
  EXPECT_EQ(w.EndRawPage(), qv::core::ecDiskFull);  // the error sticks
  EXPECT_EQ(w.PageCount(), 2);

  // Already now, before the writer is closed, the file is the two pages and nothing more.
  QvfFileHeader h;
  std::vector<PageRead> pages;
  ASSERT_TRUE(ReadPages(name, h, pages));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].data, p1);
  EXPECT_EQ(pages[1].data, p2);
  EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(name)), FileSizeOf({6000, 1000}));
  EXPECT_EQ(w.Close(), qv::core::ecDiskFull);
  ASSERT_TRUE(ReadPages(name, h, pages));
  EXPECT_EQ(pages.size(), 2u);
  EXPECT_EQ(h.StationIdString(), "EARLY               ");

  // With no room even for the header, creating fails at once and says why.
  disk.Fill("filler");
  QvfWriter none;
  EXPECT_EQ(none.CreatePageByPage(disk / "none.qvf", "X", true), qv::core::ecDiskFull);
}

TEST(QvfReader, SequentialReadsAcrossBlocksMatchTheFile) {
  TempDir dir;
  const std::string name = dir.file("read.qvf");
  std::vector<uint8_t> bytes(kQvfFileHeaderSize);
  QvfFileHeader fh;
  fh.PageCount = 1;
  uint8_t raw[kQvfFileHeaderSize];
  fh.Encode(raw);
  std::copy(raw, raw + sizeof raw, bytes.begin());
  const auto data = PageData(5, 3 * QvfReader::kBlockSize + 123);
  QvfPageHeader ph;
  ph.ImageLength = static_cast<int32_t>(data.size());
  uint8_t rawPage[kQvfPageHeaderSize];
  ph.Encode(rawPage);
  bytes.insert(bytes.end(), rawPage, rawPage + sizeof rawPage);
  bytes.insert(bytes.end(), data.begin(), data.end());
  WriteAll(name, bytes);

  QvfReader r;
  ASSERT_EQ(r.Open(name), 0);
  QvfPageHeader found;
  int64_t at = 0;
  ASSERT_EQ(r.FindPage(1, found, at), 0);
  EXPECT_EQ(at, 80);
  EXPECT_EQ(r.FindPage(2, found, at), qv::core::ecFaxBadFormat);
  r.Seek(at);
  // Reads of 2, 1, odd sizes and more than a block, as row records and raw pages make them.
  std::vector<uint8_t> got;
  for (size_t n : {2u, 1u, 4095u, 2u, 9000u, 7u, 2048u}) {
    std::vector<uint8_t> part(n);
    const int64_t read = r.Read(part.data(), n);
    ASSERT_GE(read, 0);
    part.resize(static_cast<size_t>(read));
    got.insert(got.end(), part.begin(), part.end());
  }
  EXPECT_EQ(got, data);  // short only at the end of the file
  uint8_t more[4];
  EXPECT_EQ(r.Read(more, sizeof more), 0);
  // A seek back lands on the right bytes again, though they are no longer in the buffer.
  r.Seek(at + 10);
  ASSERT_EQ(r.Read(more, sizeof more), 4);
  EXPECT_TRUE(std::equal(more, more + 4, data.begin() + 10));
}
