#include "faximage/qvf_file.h"

#include <gtest/gtest.h>

#include "core/error_codes.h"
#include "faximage/qvf_writer.h"
#include "faximage/t4_coder.h"
#include "test_util.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

namespace {

std::vector<uint8_t> FileHeaderBytes(uint16_t pages, std::string_view id = "") {
  QvfFileHeader h;
  h.PageCount = pages;
  h.SetStationId(id);
  uint8_t raw[kQvfFileHeaderSize];
  h.Encode(raw);
  return {raw, raw + sizeof raw};
}

void AppendPage(std::vector<uint8_t>& file, int32_t imageLength, uint16_t flags) {
  QvfPageHeader p;
  p.ImageLength = imageLength;
  p.PageFlags = flags;
  uint8_t raw[kQvfPageHeaderSize];
  p.Encode(raw);
  file.insert(file.end(), raw, raw + sizeof raw);
  file.insert(file.end(), static_cast<size_t>(imageLength), 0xA5);
}

}  // namespace

TEST(QvfFile, FileHeaderLayoutIsByteExact) {
  QvfFileHeader h;
  h.DateTime = 0x11223344;
  h.SetStationId("ABC");
  h.PageCount = 0x0102;
  uint8_t raw[kQvfFileHeaderSize];
  h.Encode(raw);
  const uint8_t sig[] = {'Q', 'V', 'F', '1', '0', 0x1A};
  EXPECT_EQ(0, memcmp(raw, sig, 6));
  EXPECT_EQ(raw[6], 0x44);
  EXPECT_EQ(raw[9], 0x11);
  EXPECT_EQ(raw[10], 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(raw + 11), 20), "ABC                 ");
  EXPECT_EQ(raw[31], 0);
  EXPECT_EQ(raw[32], 0x02);
  EXPECT_EQ(raw[33], 0x01);
  EXPECT_EQ(raw[34], 64);
  EXPECT_EQ(raw[35] | raw[36] | raw[37], 0);
  for (int i = 38; i < 64; ++i) EXPECT_EQ(raw[i], 0) << i;
  QvfFileHeader back = QvfFileHeader::Decode(raw);
  EXPECT_TRUE(back.HasSignature());
  EXPECT_EQ(back.DateTime, 0x11223344u);
  EXPECT_EQ(back.StationIdString(), "ABC");
  EXPECT_EQ(back.PageCount, 0x0102);
  EXPECT_EQ(back.FirstPageOffset, 64u);
}

TEST(QvfFile, StationIdIsCutAndPadded) {
  QvfFileHeader h;
  h.SetStationId("1234567890123456789012345");
  EXPECT_EQ(h.StationIdLength, 20);
  EXPECT_EQ(h.StationIdString(), "12345678901234567890");
  h.SetStationId("+1 5");
  EXPECT_EQ(h.StationIdLength, 4);
  EXPECT_EQ(std::string(h.StationId.data(), 20), "+1 5                ");
  h.SetStationId("REMOTE", true);  // the receiver's form
  EXPECT_EQ(h.StationIdLength, 20);
  EXPECT_EQ(h.StationIdString(), "REMOTE              ");
}

TEST(QvfFile, PageHeaderLayout) {
  QvfPageHeader p;
  p.ImageLength = 0x01020304;
  p.PageFlags = pfRowRecords | pfHighRes | pfWide;
  uint8_t raw[kQvfPageHeaderSize];
  p.Encode(raw);
  const uint8_t want[16] = {0x04, 0x03, 0x02, 0x01, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, memcmp(raw, want, 16));
  QvfPageHeader back = QvfPageHeader::Decode(raw);
  EXPECT_EQ(back.ImageLength, 0x01020304);
  EXPECT_EQ(back.PageFlags, 7);
}

TEST(QvfFile, SignatureChecks) {
  TempDir dir;
  std::vector<uint8_t> good = FileHeaderBytes(0);
  WriteAll(dir.file("good.qvf"), good);
  EXPECT_TRUE(IsQvfFile(dir.file("good.qvf")));

  std::vector<uint8_t> bad = good;
  bad[5] = 0x1B;  // "QVF10" followed by the wrong byte
  WriteAll(dir.file("bad.qvf"), bad);
  EXPECT_FALSE(IsQvfFile(dir.file("bad.qvf")));
  QvfFileHeader h;
  EXPECT_EQ(ReadFaxHeader(dir.file("bad.qvf"), h), qv::core::ecFaxBadFormat);

  WriteAll(dir.file("short.qvf"), {'Q', 'V', 'F'});
  EXPECT_FALSE(IsQvfFile(dir.file("short.qvf")));
  EXPECT_EQ(ReadFaxHeader(dir.file("short.qvf"), h), qv::core::ecFaxBadFormat);

  // A good signature with the header cut short is a truncated file.
  WriteAll(dir.file("trunc.qvf"), std::vector<uint8_t>(good.begin(), good.begin() + 40));
  EXPECT_EQ(ReadFaxHeader(dir.file("trunc.qvf"), h), -100);

  EXPECT_FALSE(IsQvfFile(dir.file("missing.qvf")));
  EXPECT_EQ(ReadFaxHeader(dir.file("missing.qvf"), h), -2);
  EXPECT_EQ(ReadFaxHeader("", h), -2);
  EXPECT_EQ(ReadFaxHeader(dir.file("nodir/x.qvf"), h), -3);
  EXPECT_EQ(ReadFaxHeader(dir.file("good.qvf"), h), 0);
}

TEST(QvfFile, PagesAreFoundByWalkingHeaders) {
  TempDir dir;
  std::vector<uint8_t> f = FileHeaderBytes(3);
  AppendPage(f, 10, pfRowRecords);
  AppendPage(f, 0, pfHighRes);  // raw page, empty
  AppendPage(f, 7, pfWide | pfRowRecords);
  WriteAll(dir.file("three.qvf"), f);

  QvfPageHeader p;
  int64_t at = 0;
  ASSERT_EQ(ReadPageHeader(dir.file("three.qvf"), 1, p, &at), 0);
  EXPECT_EQ(p.ImageLength, 10);
  EXPECT_EQ(at, 80);
  ASSERT_EQ(ReadPageHeader(dir.file("three.qvf"), 2, p, &at), 0);
  EXPECT_EQ(p.PageFlags, pfHighRes);
  EXPECT_EQ(at, 80 + 10 + 16);
  ASSERT_EQ(ReadPageHeader(dir.file("three.qvf"), 3, p, &at), 0);
  EXPECT_EQ(p.ImageLength, 7);
  EXPECT_EQ(p.PageFlags, pfWide | pfRowRecords);
  EXPECT_EQ(at, 80 + 10 + 16 + 16);
  EXPECT_EQ(ReadPageHeader(dir.file("three.qvf"), 4, p), qv::core::ecFaxBadFormat);
  EXPECT_EQ(ReadPageHeader(dir.file("three.qvf"), 0, p), qv::core::ecFaxBadFormat);

  // Readers accept any FirstPageOffset.
  std::vector<uint8_t> moved = FileHeaderBytes(1);
  moved[34] = 100;
  moved.resize(100, 0);
  AppendPage(moved, 5, pfRowRecords);
  WriteAll(dir.file("moved.qvf"), moved);
  ASSERT_EQ(ReadPageHeader(dir.file("moved.qvf"), 1, p, &at), 0);
  EXPECT_EQ(p.ImageLength, 5);
  EXPECT_EQ(at, 116);
}

TEST(QvfFile, DamagedPageChains) {
  TempDir dir;
  QvfPageHeader p;
  WriteAll(dir.file("zero.qvf"), FileHeaderBytes(0));
  EXPECT_EQ(ReadPageHeader(dir.file("zero.qvf"), 1, p), qv::core::ecFaxBadFormat);

  // PageCount claims two pages, the file ends inside the first page's data.
  std::vector<uint8_t> f = FileHeaderBytes(2);
  AppendPage(f, 100, pfRowRecords);
  f.resize(f.size() - 50);
  WriteAll(dir.file("cut.qvf"), f);
  EXPECT_EQ(ReadPageHeader(dir.file("cut.qvf"), 1, p), 0);
  EXPECT_EQ(ReadPageHeader(dir.file("cut.qvf"), 2, p), -100);

  // A negative ImageLength would walk backwards.
  std::vector<uint8_t> neg = FileHeaderBytes(2);
  AppendPage(neg, 0, pfRowRecords);
  neg[64] = 0xF0;
  neg[67] = 0xFF;
  AppendPage(neg, 0, pfRowRecords);
  WriteAll(dir.file("neg.qvf"), neg);
  EXPECT_EQ(ReadPageHeader(dir.file("neg.qvf"), 2, p), qv::core::ecFaxBadFormat);
}

// What a received file keeps after a call that ended badly: the pages up to the first one that is
// not wholly on disk. A walk that went one page too far would keep a page of garbage; one that
// stopped early would throw pages away.
TEST(QvfFile, WholePagesEndAtTheFirstPageNotWhollyOnDisk) {
  TempDir dir;
  auto whole = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteAll(dir.file(name), bytes);
    QvfReader r;
    EXPECT_EQ(r.Open(dir.file(name)), 0) << name;
    std::vector<QvfPageSpan> pages;
    EXPECT_EQ(r.WholePages(pages), 0) << name;
    return pages;
  };
  std::vector<uint8_t> three = FileHeaderBytes(3);
  AppendPage(three, 10, 0);
  AppendPage(three, 20, pfHighRes);
  AppendPage(three, 30, 0);
  std::vector<QvfPageSpan> pages = whole("three.qvf", three);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[1].headerOffset, 64 + 16 + 10);
  EXPECT_EQ(pages[1].dataOffset, 64 + 16 + 10 + 16);
  EXPECT_EQ(pages[1].header.PageFlags, pfHighRes);
  EXPECT_EQ(pages[2].header.ImageLength, 30);

  std::vector<uint8_t> cutData = three;
  cutData.pop_back();  // the last page's data one byte short
  EXPECT_EQ(whole("cut-data.qvf", cutData).size(), 2u);

  std::vector<uint8_t> cutHeader(three.begin(), three.begin() + 64 + 16 + 10 + 16 + 20 + 8);
  EXPECT_EQ(whole("cut-header.qvf", cutHeader).size(), 2u);

  std::vector<uint8_t> counted = three;
  counted[32] = 2;  // pages after the counted ones are not the file's
  EXPECT_EQ(whole("counted.qvf", counted).size(), 2u);

  std::vector<uint8_t> open = FileHeaderBytes(3);
  AppendPage(open, 10, 0);
  AppendPage(open, 0, 0);  // a page whose length was never written, its data after it
  open.insert(open.end(), 40, 0x11);
  EXPECT_EQ(whole("open.qvf", open).size(), 1u);

  std::vector<uint8_t> negative = three;
  negative[64 + 16 + 10 + 3] = 0x80;  // page 2's length negative
  EXPECT_EQ(whole("negative.qvf", negative).size(), 1u);

  EXPECT_TRUE(whole("none.qvf", FileHeaderBytes(0)).empty());
}

TEST(QvfFile, DosDateTime) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;  // December
  t.tm_mday = 8;
  t.tm_hour = 14;
  t.tm_min = 37;
  t.tm_sec = 59;
  uint32_t v = PackDosDateTime(t);
  EXPECT_EQ(v & 0xFFFF, (29u) | (37u << 5) | (14u << 11));
  EXPECT_EQ(v >> 16, 8u | (12u << 5) | (46u << 9));
  std::tm back{};
  ASSERT_TRUE(UnpackDosDateTime(v, back));
  EXPECT_EQ(back.tm_year, t.tm_year);
  EXPECT_EQ(back.tm_mon, 11);
  EXPECT_EQ(back.tm_mday, 8);
  EXPECT_EQ(back.tm_hour, 14);
  EXPECT_EQ(back.tm_min, 37);
  EXPECT_EQ(back.tm_sec, 58);  // two-second resolution

  t.tm_year = 1979 - 1900;
  EXPECT_EQ(PackDosDateTime(t), 0u);
  t.tm_year = 2100 - 1900;
  EXPECT_EQ(PackDosDateTime(t), 0u);
  t.tm_year = 2099 - 1900;
  EXPECT_NE(PackDosDateTime(t), 0u);
  t.tm_year = 1980 - 1900;
  EXPECT_NE(PackDosDateTime(t), 0u);
  EXPECT_FALSE(UnpackDosDateTime(0, back));
  EXPECT_FALSE(UnpackDosDateTime((1u | (13u << 5)) << 16, back));  // month 13
  EXPECT_NE(DosDateTimeNow(), 0u);
}
