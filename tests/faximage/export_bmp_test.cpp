#include "faximage/export_bmp.h"

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

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t{b[at]} | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16) | (uint32_t{b[at + 3]} << 24);
}

}  // namespace

// Header fields, palette (black, white), bottom-up inverted rows padded to 4 bytes with 0xFF.
TEST(BmpExport, HeaderAndRows) {
  TempDir dir;
  std::vector<std::vector<uint8_t>> rows = {RowWithPixel(1728, 0), BlankRow(1728), RowWithPixel(1728, 40)};
  QvfBuilder b;
  b.recordPage(rows, 1728, true);
  b.save(dir.file("fax.qvf"));
  UnpackerState st;
  std::string out = dir.file("page.bmp");
  ASSERT_EQ(UnpackPageToBmp(st, dir.file("fax.qvf"), 1, out), 0);
  auto f = ReadFile(out);
  // Pixel 40 is in byte 5: 6 bytes used (even), BMP rows of 8 bytes.
  ASSERT_EQ(f.size(), 62u + 8 * 3);
  EXPECT_EQ(f[0], 'B');
  EXPECT_EQ(f[1], 'M');
  EXPECT_EQ(Le32(f, 2), 62u + 8 * 3);
  EXPECT_EQ(Le32(f, 6), 0u);
  EXPECT_EQ(Le32(f, 10), 62u);
  EXPECT_EQ(Le32(f, 14), 40u);
  EXPECT_EQ(Le32(f, 18), 48u);
  EXPECT_EQ(Le32(f, 22), 3u);
  EXPECT_EQ(f[26] | (f[27] << 8), 1);
  EXPECT_EQ(f[28] | (f[29] << 8), 1);
  for (size_t i = 30; i < 54; ++i) EXPECT_EQ(f[i], 0) << i;
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 54, f.begin() + 62), (std::vector<uint8_t>{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0}));
  // Bottom row first: source row 2 (pixel 40 black -> bit clear), then row 1, then row 0.
  std::vector<uint8_t> r2 = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF};
  std::vector<uint8_t> r1(8, 0xFF);
  std::vector<uint8_t> r0 = {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 62, f.begin() + 70), r2);
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 70, f.begin() + 78), r1);
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 78, f.begin() + 86), r0);
}

// 32768 rows or more cannot be a BMP: -8054, and no file is left behind.
TEST(BmpExport, RefusesTooTallPages) {
  TempDir dir;
  std::vector<std::vector<uint8_t>> rows(16384, BlankRow(1728));
  rows[0] = RowWithPixel(1728, 1);
  QvfBuilder b;
  b.recordPage(rows, 1728, false);
  b.save(dir.file("tall.qvf"));
  UnpackerState st;
  st.setAutoScale(kUnpackDoubleHeight);  // 32768 rows
  std::string out = dir.file("tall.bmp");
  EXPECT_EQ(UnpackPageToBmp(st, dir.file("tall.qvf"), 1, out), qv::core::ecBmpTooTall);
  EXPECT_FALSE(std::filesystem::exists(out));
  st.setAutoScale(0);  // 16384 rows are fine
  EXPECT_EQ(UnpackPageToBmp(st, dir.file("tall.qvf"), 1, out), 0);
  EXPECT_EQ(Le32(ReadFile(out), 22), 16384u);
}
