#include "faximage/raster.h"

#include <gtest/gtest.h>

#include <vector>

using namespace qv::faximage;

// SetRun must agree with pixel-by-pixel setting for every start/length, including runs that start
// and end inside one byte and runs that cover whole bytes.
TEST(Raster, SetRunMatchesPixelByPixel) {
  for (int x = 0; x < 40; ++x) {
    for (int n = 0; x + n <= 64; ++n) {
      std::vector<uint8_t> a(8, 0), b(8, 0);
      SetRun(a, x, n);
      for (int i = x; i < x + n; ++i) SetPixel(b, i, true);
      ASSERT_EQ(a, b) << "x=" << x << " n=" << n;
    }
  }
}

TEST(Raster, LastBlackPixel) {
  std::vector<uint8_t> row(kStandardRowBytes, 0);
  EXPECT_EQ(LastBlackPixel(row), -1);
  SetPixel(row, 0, true);
  EXPECT_EQ(LastBlackPixel(row), 0);
  SetPixel(row, 1727, true);
  EXPECT_EQ(LastBlackPixel(row), 1727);
  SetPixel(row, 1727, false);
  SetPixel(row, 13, true);
  EXPECT_EQ(LastBlackPixel(row), 13);
}
