#include "faximage/qvf_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "faximage/t4_coder.h"
#include "test_util.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

namespace {
uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
}  // namespace

TEST(QvfWriter, TwoPagesOfRowRecords) {
  TempDir dir;
  std::string name = dir.file("out.qvf");
  QvfWriter w;
  ASSERT_EQ(w.Create(name), 0);
  w.SetPageFlags(pfRowRecords | pfHighRes);
  const std::vector<uint8_t> rowA(kBlankCodedRow.begin(), kBlankCodedRow.end());
  const std::vector<uint8_t> rowB = {0x00, 0x80, 0x12, 0x34, 0x00};
  ASSERT_EQ(w.WriteRowRecord(rowA), 0);
  ASSERT_EQ(w.WriteRowRecord(rowB), 0);
  ASSERT_EQ(w.EndPage(), 0);
  w.SetPageFlags(pfRowRecords | pfWide);
  ASSERT_EQ(w.EndPage(), 0);  // a page holding only the end-of-page record
  ASSERT_EQ(w.PageCount(), 2);
  ASSERT_EQ(w.Close("12345678901234567890EXTRA"), 0);

  std::vector<uint8_t> f = ReadAll(name);
  // Page 1: header, two records and the end-of-page record.
  int32_t len1 = 2 + 6 + 2 + 5 + 2 + 12;
  ASSERT_EQ(f.size(), static_cast<size_t>(64 + 16 + len1 + 16 + 14));
  EXPECT_EQ(le32(f, 64), static_cast<uint32_t>(len1));
  EXPECT_EQ(f[68], pfRowRecords | pfHighRes);
  EXPECT_EQ(f[80], 6);
  EXPECT_EQ(f[81], 0);
  EXPECT_TRUE(std::equal(rowA.begin(), rowA.end(), f.begin() + 82));
  EXPECT_EQ(f[88], 5);
  EXPECT_TRUE(std::equal(rowB.begin(), rowB.end(), f.begin() + 90));
  EXPECT_EQ(f[95], 12);
  EXPECT_TRUE(std::equal(kEndOfPageCode.begin(), kEndOfPageCode.end(), f.begin() + 97));
  size_t p2 = 80 + static_cast<size_t>(len1);
  EXPECT_EQ(le32(f, p2), 14u);
  EXPECT_EQ(f[p2 + 4], pfRowRecords | pfWide);

  QvfFileHeader h;
  ASSERT_EQ(ReadFaxHeader(name, h), 0);
  EXPECT_EQ(h.PageCount, 2);
  EXPECT_EQ(h.StationIdString(), "12345678901234567890");
  std::tm t{};
  EXPECT_TRUE(UnpackDosDateTime(h.DateTime, t));
  QvfPageHeader ph;
  int64_t at = 0;
  ASSERT_EQ(ReadPageHeader(name, 2, ph, &at), 0);
  EXPECT_EQ(at, static_cast<int64_t>(p2 + 16));
}

TEST(QvfWriter, LongPagesRewriteHeadersAcrossBufferFlushes) {
  TempDir dir;
  std::string name = dir.file("long.qvf");
  QvfWriter w;
  ASSERT_EQ(w.Create(name), 0);
  for (int page = 0; page < 3; ++page) {
    for (int r = 0; r < 2000 + page; ++r) ASSERT_EQ(w.WriteRowRecord(kBlankCodedRow), 0);
    ASSERT_EQ(w.EndPage(), 0);
  }
  ASSERT_EQ(w.Close("", false), 0);
  for (int page = 1; page <= 3; ++page) {
    QvfPageHeader ph;
    ASSERT_EQ(ReadPageHeader(name, page, ph), 0);
    EXPECT_EQ(ph.ImageLength, (2000 + page - 1) * 8 + 14);
    EXPECT_EQ(ph.PageFlags, pfRowRecords);
  }
  QvfFileHeader h;
  ASSERT_EQ(ReadFaxHeader(name, h), 0);
  EXPECT_EQ(h.StationIdLength, 0);
  EXPECT_EQ(std::string(h.StationId.data(), 20), std::string(20, ' '));
}

TEST(QvfWriter, RawPagesForTheReceiver) {
  TempDir dir;
  std::string name = dir.file("raw.qvf");
  QvfWriter w;
  ASSERT_EQ(w.Create(name), 0);
  w.SetPageFlags(pfHighRes);
  std::vector<uint8_t> data(5000, 0x11);
  ASSERT_EQ(w.WriteRaw(data), 0);
  ASSERT_EQ(w.WriteRaw(data), 0);
  ASSERT_EQ(w.EndRawPage(), 0);
  ASSERT_EQ(w.Close("REMOTE", true), 0);
  QvfPageHeader ph;
  ASSERT_EQ(ReadPageHeader(name, 1, ph), 0);
  EXPECT_EQ(ph.ImageLength, 10000);
  EXPECT_EQ(ph.PageFlags, pfHighRes);
  QvfFileHeader h;
  ASSERT_EQ(ReadFaxHeader(name, h), 0);
  EXPECT_EQ(h.StationIdLength, 20);
  EXPECT_EQ(std::filesystem::file_size(name), 64u + 16u + 10000u);
}

TEST(QvfWriter, DiscardLeavesNothing) {
  TempDir dir;
  std::string name = dir.file("gone.qvf");
  QvfWriter w;
  ASSERT_EQ(w.Create(name), 0);
  ASSERT_EQ(w.WriteRowRecord(kBlankCodedRow), 0);
  w.Discard();
  EXPECT_FALSE(std::filesystem::exists(name));
  EXPECT_NE(w.Close("X"), 0);
}
