#include "faximage/unpacker_bitmap.h"

#include <gtest/gtest.h>

#include "core/error_codes.h"
#include "t4_test_coder.h"
#include "temp_dir.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

namespace {

using Rows = std::vector<std::vector<uint8_t>>;

class MemoryBitmapTest : public ::testing::Test {
 protected:
  std::string write(QvfBuilder& b) {
    std::string path = dir.file("page.qvf");
    b.save(path);
    return path;
  }
  TempDir dir;
  UnpackerState st;
  PageBitmap bm;
};

Rows Sample() {
  Rows rows(8, BlankRow(1728));
  rows[1] = RowWithPixel(1728, 0);
  rows[4] = RowWithPixel(1728, 100);  // rightmost black pixel of the page
  rows[6] = RowWithPixel(1728, 37);
  return rows;
}

}  // namespace

// The bitmap is as wide as the rightmost black pixel, rounded up to 16 pixels.
TEST_F(MemoryBitmapTest, CutAtRightmostBlackPixelRoundedTo16) {
  QvfBuilder b;
  b.recordPage(Sample(), 1728, true);
  std::string path = write(b);
  ASSERT_EQ(UnpackPageToMemoryBitmap(st, path, 1, false, bm), 0);
  EXPECT_EQ(bm.width, 112);  // pixel 100 is in byte 12: 13 bytes, even -> 14
  EXPECT_EQ(bm.stride, 14);
  EXPECT_EQ(bm.height, 8);
  Rows rows = Sample();
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x)
      ASSERT_EQ(bm.black(x, y), ((rows[static_cast<size_t>(y)][static_cast<size_t>(x / 8)] >> (7 - x % 8)) & 1) == 1) << x << "," << y;

  PageBitmap shown;
  ASSERT_EQ(UnpackPageToMemoryBitmap(st, path, 1, true, shown), 0);
  EXPECT_TRUE(shown.inverted);
  EXPECT_EQ(shown.width, 112);
  EXPECT_EQ(shown.row(0)[13], 0xFF) << "padding is white in a display bitmap";
  EXPECT_EQ(shown.row(4)[12], 0xF7);
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x) ASSERT_EQ(shown.black(x, y), bm.black(x, y));
}

TEST_F(MemoryBitmapTest, FullWidthAndWidePages) {
  Rows rows = {RowWithPixel(2048, 2047), RowWithPixel(2048, 3)};
  QvfBuilder b;
  b.recordPage(rows, 2048, false);
  std::string path = write(b);
  st.setAutoScale(kUnpackDoubleHeight);
  ASSERT_EQ(UnpackPageToMemoryBitmap(st, path, 1, true, bm), 0);
  EXPECT_EQ(bm.width, 2048);
  EXPECT_EQ(bm.height, 4);
  EXPECT_TRUE(bm.black(2047, 1));
  EXPECT_TRUE(bm.black(3, 3));
}

TEST_F(MemoryBitmapTest, AllWhitePageIsEmpty) {
  QvfBuilder b;
  b.recordPage(Rows(20, BlankRow(1728)), 1728, true);
  ASSERT_EQ(UnpackPageToMemoryBitmap(st, write(b), 1, true, bm), 0);
  EXPECT_TRUE(bm.empty());
  EXPECT_EQ(bm.width, 0);
  EXPECT_EQ(bm.height, 0);
}

// Scaling makes (HorizMult x width div HorizDiv) x (rows x VertMult div VertDiv); shrinking keeps
// every black pixel visible.
TEST_F(MemoryBitmapTest, ScaledBitmap) {
  QvfBuilder b;
  b.recordPage(Sample(), 1728, true);
  std::string path = write(b);
  st.setScale(1, 2, 1, 2);
  ASSERT_EQ(UnpackPageToMemoryBitmap(st, path, 1, true, bm), 0);
  EXPECT_EQ(bm.width, 56);
  EXPECT_EQ(bm.height, 4);
  EXPECT_EQ(bm.stride, 8);
  EXPECT_TRUE(bm.black(0, 0));   // (0,1)
  EXPECT_TRUE(bm.black(50, 2));  // (100,4)
  EXPECT_TRUE(bm.black(18, 3));  // (37,6)
  int blacks = 0;
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x) blacks += bm.black(x, y);
  EXPECT_EQ(blacks, 3);

  st.setScale(3, 1, 2, 1);
  ASSERT_EQ(UnpackPageToMemoryBitmap(st, path, 1, false, bm), 0);
  EXPECT_EQ(bm.width, 336);
  EXPECT_EQ(bm.height, 16);
  EXPECT_TRUE(bm.black(300, 8) && bm.black(302, 9));
  EXPECT_FALSE(bm.black(303, 8));

  st.setScale(0, 0, 0, 0);  // 0 reads as 1
  EXPECT_FALSE(st.scaled());
  st.setScale(-1, 1, 1, 1);
  EXPECT_EQ(UnpackPageToMemoryBitmap(st, path, 1, false, bm), qv::core::ecCantMakeBitmap);
  st.setScale(100000, 1, 1, 1);
  EXPECT_EQ(UnpackPageToMemoryBitmap(st, path, 1, false, bm), qv::core::ecCantMakeBitmap);
}

// A hostile page of a great many tiny rows cannot grow the bitmap without bound.
TEST_F(MemoryBitmapTest, RowCountIsBounded) {
  BitWriter w;
  auto blackRow = RowWithPixel(1728, 5);
  for (int i = 0; i <= kMaxPageRows; ++i) {
    w.eol();
    w.row(blackRow, 1728);
  }
  w.rtc();
  QvfBuilder b;
  b.page(w.bytes(), pfHighRes);
  EXPECT_EQ(UnpackPageToMemoryBitmap(st, write(b), 1, true, bm), qv::core::ecOutOfMemory);
}
