#include "faximage/qvf_append.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/error_codes.h"
#include "faximage/qvf_file.h"
#include "faximage/qvf_writer.h"
#include "test_util.h"

namespace qv::faximage {
namespace {

using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;

// A QVF file whose pages hold the given raw bytes (one page per entry), with its flags.
void MakeFax(const std::string& name, const std::vector<std::vector<uint8_t>>& pages,
             uint16_t flags = pfRowRecords | pfHighRes, const std::string& station = "A") {
  QvfWriter w;
  ASSERT_EQ(w.Create(name), 0);
  w.SetPageFlags(flags);
  for (const auto& p : pages) {
    ASSERT_EQ(w.WriteRaw(p), 0);
    ASSERT_EQ(w.EndRawPage(), 0);
  }
  ASSERT_EQ(w.Close(station), 0);
}

std::vector<uint8_t> PageData(const std::string& file, int page, uint16_t* flags = nullptr) {
  QvfPageHeader ph;
  int64_t off = 0;
  if (ReadPageHeader(file, page, ph, &off) != 0) return {};
  if (flags) *flags = ph.PageFlags;
  std::vector<uint8_t> all = ReadAll(file);
  return {all.begin() + off, all.begin() + off + ph.ImageLength};
}

std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 7);
  return v;
}

TEST(AppendFaxFile, PagesOfBFollowAsPagesAndHeaderOfAKeepsAllButTheCount) {
  TempDir dir;
  const std::string a = dir.file("a.qvf"), b = dir.file("b.qvf");
  // Larger than the copy buffer, so the copy runs in several steps.
  MakeFax(a, {Bytes(100, 1), Bytes(5000, 2)}, pfRowRecords | pfHighRes, "STATION A");
  MakeFax(b, {Bytes(9000, 3), Bytes(1, 4), Bytes(4096, 5)}, pfRowRecords | pfWide, "B");
  QvfFileHeader before;
  ASSERT_EQ(ReadFaxHeader(a, before), 0);
  const auto bBytes = ReadAll(b);

  ASSERT_EQ(AppendFaxFile(a, b), 0);
  QvfFileHeader after;
  ASSERT_EQ(ReadFaxHeader(a, after), 0);
  EXPECT_EQ(after.PageCount, 5);
  EXPECT_EQ(after.StationIdString(), "STATION A");
  EXPECT_EQ(after.DateTime, before.DateTime);
  uint16_t flags = 0;
  EXPECT_EQ(PageData(a, 1), Bytes(100, 1));
  EXPECT_EQ(PageData(a, 2, &flags), Bytes(5000, 2));
  EXPECT_EQ(flags, pfRowRecords | pfHighRes);
  EXPECT_EQ(PageData(a, 3, &flags), Bytes(9000, 3));
  EXPECT_EQ(flags, pfRowRecords | pfWide);
  EXPECT_EQ(PageData(a, 4), Bytes(1, 4));
  EXPECT_EQ(PageData(a, 5), Bytes(4096, 5));
  // Nothing after the last page, and b as it was.
  EXPECT_EQ(ReadAll(a).size(), size_t(64 + 5 * 16 + 100 + 5000 + 9000 + 1 + 4096));
  EXPECT_EQ(ReadAll(b), bBytes);
}

TEST(AppendFaxFile, BytesAfterTheLastPageOfAAreReplacedNotKept) {
  TempDir dir;
  const std::string a = dir.file("a.qvf"), b = dir.file("b.qvf");
  MakeFax(a, {Bytes(10, 1)});
  MakeFax(b, {Bytes(3, 2)});
  auto raw = ReadAll(a);
  raw.insert(raw.end(), 500, 0xEE);  // left over from an earlier, longer write
  WriteAll(a, raw);
  ASSERT_EQ(AppendFaxFile(a, b), 0);
  EXPECT_EQ(ReadAll(a).size(), size_t(64 + 2 * 16 + 10 + 3));
  EXPECT_EQ(PageData(a, 2), Bytes(3, 2));
}

TEST(AppendFaxFile, FailuresLeaveBothFilesAsTheyWere) {
  TempDir dir;
  const std::string a = dir.file("a.qvf"), b = dir.file("b.qvf");
  MakeFax(a, {Bytes(20, 1)});
  MakeFax(b, {Bytes(30, 2)});
  const auto aBytes = ReadAll(a);
  const auto bBytes = ReadAll(b);

  EXPECT_EQ(AppendFaxFile(a, dir.file("missing.qvf")), core::ecFileNotFound);
  EXPECT_EQ(AppendFaxFile(dir.file("missing.qvf"), b), core::ecFileNotFound);
  EXPECT_EQ(AppendFaxFile(a, ""), core::ecFileNotFound);
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing.qvf")));

  const std::string text = dir.file("text.qvf");
  WriteAll(text, std::vector<uint8_t>(100, 'x'));
  EXPECT_EQ(AppendFaxFile(a, text), core::ecFaxBadFormat);
  EXPECT_EQ(AppendFaxFile(text, b), core::ecFaxBadFormat);
  EXPECT_EQ(ReadAll(text), std::vector<uint8_t>(100, 'x'));

  // A page chain that claims more data than the file holds: appending would write past the end.
  const std::string broken = dir.file("broken.qvf");
  auto raw = aBytes;
  raw[64] = 0xFF;  // ImageLength of page 1
  raw[65] = 0xFF;
  WriteAll(broken, raw);
  EXPECT_EQ(AppendFaxFile(broken, b), core::ecFaxBadFormat);
  EXPECT_EQ(ReadAll(broken), raw);
  // A b that counts a page it does not hold, or whose length walks backwards, would give a pages
  // that are not there.
  EXPECT_EQ(AppendFaxFile(a, broken), core::ecFaxBadFormat);
  auto counted = bBytes;
  counted[32] = 2;
  WriteAll(broken, counted);
  EXPECT_EQ(AppendFaxFile(a, broken), core::ecFaxBadFormat);
  auto backwards = bBytes;
  backwards[67] = 0x80;
  WriteAll(broken, backwards);
  EXPECT_EQ(AppendFaxFile(a, broken), core::ecFaxBadFormat);

  EXPECT_EQ(ReadAll(a), aBytes);
  EXPECT_EQ(ReadAll(b), bBytes);
}

TEST(AppendFaxFile, AFileMayGrowByItsOwnPages) {
  TempDir dir;
  const std::string a = dir.file("a.qvf"), b = dir.file("b.qvf");
  MakeFax(a, {});
  MakeFax(b, {Bytes(7, 9), Bytes(8, 10)});
  ASSERT_EQ(AppendFaxFile(a, b), 0);  // an empty fax takes the pages as they are
  ASSERT_EQ(AppendFaxFile(b, b), 0);  // b's own pages, read before its count changes
  QvfFileHeader h;
  ASSERT_EQ(ReadFaxHeader(a, h), 0);
  EXPECT_EQ(h.PageCount, 2);
  ASSERT_EQ(ReadFaxHeader(b, h), 0);
  EXPECT_EQ(h.PageCount, 4);
  EXPECT_EQ(PageData(b, 3), Bytes(7, 9));
  EXPECT_EQ(PageData(b, 4), Bytes(8, 10));
}

}  // namespace
}  // namespace qv::faximage
