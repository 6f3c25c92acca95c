#include "faximage/export_pcx.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/error_codes.h"
#include "t4_test_coder.h"
#include "temp_dir.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
uint32_t Le32(const std::vector<uint8_t>& b, size_t at) { return Le16(b, at) | (uint32_t{Le16(b, at + 2)} << 16); }

// Undoes the PCX run-length coding of `rows` rows of `bytesPerLine` bytes starting at `at`.
std::vector<uint8_t> UnRle(const std::vector<uint8_t>& b, size_t at, size_t total) {
  std::vector<uint8_t> out;
  while (out.size() < total && at < b.size()) {
    uint8_t c = b[at++];
    if ((c & 0xC0) == 0xC0) {
      out.insert(out.end(), c & 0x3F, b[at++]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

class PcxExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::vector<uint8_t>> rows(5, BlankRow(1728));
    rows[0][0] = 0x80;                          // pixel 0
    std::fill(rows[1].begin(), rows[1].begin() + 100, 0xFF);  // 100 black bytes: runs of 63 + 37
    rows[2][3] = 0x3A;                          // inverted 0xC5: a single byte with both top bits
    rows[4][150] = 0x01;                        // rightmost black pixel: 1207
    source = rows;
    b.recordPage(rows, 1728, true);
    b.save(dir.file("fax.qvf"));
  }
  TempDir dir;
  QvfBuilder b;
  std::vector<std::vector<uint8_t>> source;
  UnpackerState st;
};

}  // namespace

TEST_F(PcxExportTest, HeaderAndRowsFollowThePcxRules) {
  std::string out = dir.file("page.pcx");
  ASSERT_EQ(UnpackPageToPcx(st, dir.file("fax.qvf"), 1, out), 0);
  auto f = ReadFile(out);
  ASSERT_GE(f.size(), 128u);
  std::vector<uint8_t> expected(128, 0);
  expected[0] = 10;
  expected[1] = 2;
  expected[2] = 1;
  expected[3] = 1;
  expected[8] = static_cast<uint8_t>((152 * 8 - 1) & 0xFF);  // 151 bytes used -> 152
  expected[9] = static_cast<uint8_t>((152 * 8 - 1) >> 8);
  expected[10] = 4;
  expected[65] = 1;
  expected[66] = 152;
  EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 128), expected);

  auto pixels = UnRle(f, 128, 152 * 5);
  ASSERT_EQ(pixels.size(), 152u * 5);
  for (int y = 0; y < 5; ++y)
    for (int i = 0; i < 152; ++i)
      ASSERT_EQ(pixels[static_cast<size_t>(y * 152 + i)], static_cast<uint8_t>(~source[static_cast<size_t>(y)][static_cast<size_t>(i)])) << y << "," << i;
  // Row 1: 100 bytes of 0x00 (inverted black) as runs of 63 and 37. Row 2: three white bytes,
  // then the lone 0xC5, which must be written as 0xC1 0xC5.
  const std::vector<uint8_t> runs = {0xFF, 0x00, 0xE5, 0x00};
  const std::vector<uint8_t> single = {0xC3, 0xFF, 0xC1, 0xC5};
  EXPECT_NE(std::search(f.begin() + 128, f.end(), runs.begin(), runs.end()), f.end());
  EXPECT_NE(std::search(f.begin() + 128, f.end(), single.begin(), single.end()), f.end());
}

// A DCX holds the signature, one page offset (4100) and that page's PCX image; page 2 of a
// three-page fax gives a DCX of that page alone.
TEST_F(PcxExportTest, SinglePageDcx) {
  QvfBuilder three;
  three.recordPage({RowWithPixel(1728, 10)}, 1728, true)
      .recordPage({RowWithPixel(1728, 500)}, 1728, true)
      .recordPage({RowWithPixel(1728, 900)}, 1728, true);
  three.save(dir.file("three.qvf"));
  std::string dcx = dir.file("p2.dcx"), pcx = dir.file("p2.pcx");
  ASSERT_EQ(UnpackPageToDcx(st, dir.file("three.qvf"), 2, dcx), 0);
  ASSERT_EQ(UnpackPageToPcx(st, dir.file("three.qvf"), 2, pcx), 0);
  auto d = ReadFile(dcx), p = ReadFile(pcx);
  ASSERT_EQ(d.size(), 4100 + p.size());
  EXPECT_EQ(Le32(d, 0), 0x3ADE68B1u);
  EXPECT_EQ(Le32(d, 4), 4100u);
  for (size_t i = 8; i < 4100; ++i) ASSERT_EQ(d[i], 0) << i;
  EXPECT_TRUE(std::equal(p.begin(), p.end(), d.begin() + 4100));
  EXPECT_EQ(Le16(p, 8) + 1, 512) << "page 2's black pixel at 500 sets the width";
}

TEST_F(PcxExportTest, BlankPageExportsAsWhiteImage) {
  QvfBuilder blank;
  blank.recordPage(std::vector<std::vector<uint8_t>>(3, BlankRow(1728)), 1728, true);
  blank.save(dir.file("blank.qvf"));
  std::string out = dir.file("blank.pcx");
  ASSERT_EQ(UnpackPageToPcx(st, dir.file("blank.qvf"), 1, out), 0);
  auto f = ReadFile(out);
  EXPECT_EQ(Le16(f, 8), 15);
  EXPECT_EQ(Le16(f, 10), 2);
  EXPECT_EQ(Le16(f, 66), 2);
  EXPECT_EQ(UnRle(f, 128, 6), std::vector<uint8_t>(6, 0xFF));
}

TEST_F(PcxExportTest, FailedExportLeavesNoFile) {
  std::string out = dir.file("bad.pcx");
  EXPECT_EQ(UnpackPageToPcx(st, dir.file("fax.qvf"), 2, out), qv::core::ecFaxBadFormat);
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_LT(UnpackPageToDcx(st, dir.file("fax.qvf"), 1, dir.file("no/such/dir/x.dcx")), 0);
}
