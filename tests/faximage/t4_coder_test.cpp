#include "faximage/t4_coder.h"

#include <gtest/gtest.h>

#include <random>

#include "faximage/converter_state.h"
#include "faximage/raster.h"
#include "faximage/t4_tables.h"
#include "test_util.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

namespace {

std::vector<uint8_t> Code(const std::vector<uint8_t>& raster, int width, int margin,
                          bool doubleWidth = false) {
  std::vector<uint8_t> out(kMaxCodedRow, 0xEE);
  int n = CodeRow(raster.data(), width, margin, doubleWidth, out.data());
  out.resize(static_cast<size_t>(n));
  return out;
}

// The row the coder should produce: margin white pixels, then the raster's pixels (each twice
// with doubling), cut or white-filled to the width.
std::vector<int> Expected(const std::vector<uint8_t>& raster, int width, int margin,
                          bool doubleWidth) {
  std::vector<int> px(static_cast<size_t>(width), 0);
  for (int x = margin; x < width; ++x) {
    int src = doubleWidth ? (x - margin) / 2 : x - margin;
    px[static_cast<size_t>(x)] = GetPixel(raster, src);
  }
  return px;
}

std::vector<uint8_t> RandomRow(std::mt19937& rng, int width, int meanRun) {
  std::vector<uint8_t> row(static_cast<size_t>(width / 8), 0);
  std::geometric_distribution<int> run(1.0 / meanRun);
  bool black = rng() & 1;
  for (int x = 0; x < width;) {
    int n = 1 + run(rng);
    if (black) SetRun(row, x, std::min(n, width - x));
    x += n;
    black = !black;
  }
  return row;
}

}  // namespace

TEST(T4Tables, CodesArePrefixFreePerColourWithEol) {
  for (const T4Code* t : {kWhiteCodes, kBlackCodes}) {
    std::vector<T4Code> all(t, t + kT4CodeCount);
    all.push_back(kEolCode);
    for (size_t i = 0; i < all.size(); ++i)
      for (size_t j = 0; j < all.size(); ++j) {
        if (i == j) continue;
        const T4Code &a = all[i], &b = all[j];
        if (a.Bits > b.Bits) continue;
        uint32_t mask = (1u << a.Bits) - 1;  // LSB-first: a prefix is the low bits
        EXPECT_NE(a.Code, b.Code & mask) << "code " << i << " prefixes " << j;
      }
  }
  // Spot checks in transmission order.
  EXPECT_EQ(ReverseCodeBits(kWhiteCodes[T4MakeUpIndex(1728)].Code, 9), 0b010011011u);
  EXPECT_EQ(ReverseCodeBits(kBlackCodes[0].Code, 10), 0b0000110111u);
  EXPECT_EQ(ReverseCodeBits(kBlackCodes[T4MakeUpIndex(2560)].Code, 12), 0b000000011111u);
  EXPECT_EQ(kWhiteCodes[T4MakeUpIndex(1792)].Code, kBlackCodes[T4MakeUpIndex(1792)].Code);
}

TEST(T4Coder, AllWhiteRows) {
  std::vector<uint8_t> white(kWideRowBytes, 0);
  std::vector<uint8_t> coded = Code(white, 1728, 50);
  EXPECT_EQ(coded, std::vector<uint8_t>(kBlankCodedRow.begin(), kBlankCodedRow.end()));
  // 2048: aligned EOL, extended make-up 2048, white 0.
  coded = Code(white, 2048, 50);
  EXPECT_EQ(DecodeRowPixels(coded, 2048), std::vector<int>(2048, 0));
  // 16 + 12 + 8 = 36 bits: four full bytes, the partial byte and one zero byte.
  EXPECT_EQ(coded.size(), 6u);
  EXPECT_EQ(coded[0], 0x00);
  EXPECT_EQ(coded[1], 0x80);
  EXPECT_EQ(coded[5], 0x00);
}

TEST(T4Coder, RandomRowsDecodeToMarginPlusRaster) {
  std::mt19937 rng(1234);
  for (int width : {1728, 2048})
    for (int margin : {0, 1, 7, 50, 333})
      for (bool dbl : {false, true})
        for (int meanRun : {1, 3, 20, 300}) {
          std::vector<uint8_t> row = RandomRow(rng, width, meanRun);
          std::vector<uint8_t> coded = Code(row, width, margin, dbl);
          ASSERT_EQ(DecodeRowPixels(coded, width), Expected(row, width, margin, dbl))
              << "width " << width << " margin " << margin << " double " << dbl;
          ASSERT_EQ(coded.back(), 0);
        }
}

TEST(T4Coder, BlackFirstPixelGivesWhiteRunOfExactlyTheMargin) {
  std::vector<uint8_t> row(kStandardRowBytes, 0);
  row[0] = 0x80;
  std::vector<uint8_t> coded = Code(row, 1728, 5);
  // After the aligned EOL: white 5 = 1100, then black 1 = 010.
  uint32_t bits = coded[2] | (coded[3] << 8);
  EXPECT_EQ(ReverseCodeBits(bits & 0xF, 4), 0b1100u);
  EXPECT_EQ(ReverseCodeBits((bits >> 4) & 0x7, 3), 0b010u);
  // Margin 0: a white run of length 0 comes first.
  coded = Code(row, 1728, 0);
  EXPECT_EQ(coded[2], kWhiteCodes[0].Code);
}

TEST(T4Coder, LengthCountsFullBytesPlusTwo) {
  // Runs chosen so the codes end exactly on a byte boundary: EOL (16) + white 2 (4) +
  // black 1726 + ... find such a row by search and check both trailing bytes are zero.
  bool sawAligned = false;
  for (int first = 1; first < 200 && !sawAligned; ++first) {
    std::vector<uint8_t> row(kStandardRowBytes, 0);
    SetRun(row, first, 1728 - first);
    std::vector<uint8_t> coded = Code(row, 1728, 0);
    int bits = 16 + kWhiteCodes[first % 64].Bits + (first >= 64 ? kWhiteCodes[T4MakeUpIndex(first)].Bits : 0);
    int black = 1728 - first;
    bits += kBlackCodes[black % 64].Bits + (black >= 64 ? kBlackCodes[T4MakeUpIndex(black)].Bits : 0);
    EXPECT_EQ(static_cast<int>(coded.size()), bits / 8 + 2) << first;
    if (bits % 8 == 0) {
      sawAligned = true;
      EXPECT_EQ(coded[coded.size() - 2], 0);
      EXPECT_EQ(coded[coded.size() - 1], 0);
    }
  }
  EXPECT_TRUE(sawAligned);
}

TEST(T4Coder, DoubleWidthFillsTheRowAndKeepsImageColumnsAligned) {
  // An 864-pixel image doubled at margin 0 fills 1728 exactly.
  std::mt19937 rng(5);
  std::vector<uint8_t> img = RandomRow(rng, 1728, 4);
  std::fill(img.begin() + 108, img.end(), 0);
  SetRun(img, 860, 4);  // black up to the image's last pixel
  std::vector<int> px = DecodeRowPixels(Code(img, 1728, 0, true), 1728);
  ASSERT_EQ(px, Expected(img, 1728, 0, true));
  EXPECT_EQ(px[1727], 1);

  // Odd margin: a row that starts black and one that starts white still line up.
  std::vector<uint8_t> a(kStandardRowBytes, 0), b(kStandardRowBytes, 0);
  SetRun(a, 0, 10);
  SetRun(b, 4, 6);
  std::vector<int> pa = DecodeRowPixels(Code(a, 1728, 3, true), 1728);
  std::vector<int> pb = DecodeRowPixels(Code(b, 1728, 3, true), 1728);
  ASSERT_EQ(pa.size(), 1728u);
  ASSERT_EQ(pb.size(), 1728u);
  for (int x = 11; x < 23; ++x) EXPECT_EQ(pa[x], pb[x]) << x;
  EXPECT_EQ(pa[2], 0);
  EXPECT_EQ(pa[3], 1);
  EXPECT_EQ(pa[22], 1);
  EXPECT_EQ(pa[23], 0);
}

TEST(T4Coder, WorstCaseRowFitsTheBuffer) {
  std::vector<uint8_t> row(kWideRowBytes, 0x55);  // alternate pixels
  std::vector<uint8_t> coded = Code(row, 2048, 1);
  EXPECT_LT(coded.size() + 8, static_cast<size_t>(kMaxCodedRow));
  EXPECT_EQ(DecodeRowPixels(coded, 2048), Expected(row, 2048, 1, false));
}

TEST(T4Coder, CompressRowUsesTheStateAndEndOfPage) {
  ConverterState s;
  s.ResWidth = 2048;
  s.LeftMargin = 0;
  std::vector<uint8_t> row(kWideRowBytes, 0xFF);
  CompressRow(s, row.data());
  std::vector<uint8_t> coded(s.CodedRow.begin(), s.CodedRow.begin() + s.ByteOfs);
  EXPECT_EQ(DecodeRowPixels(coded, 2048), std::vector<int>(2048, 1));
  uint8_t eop[16];
  int len = 0;
  MakeEndOfPage(s, eop, len);
  ASSERT_EQ(len, 12);
  EXPECT_EQ(0, memcmp(eop, kEndOfPageCode.data(), 12));
  // Seven EOLs: 0x00 0x80 then six 12-bit EOLs (LSB-first 0x800 each).
  for (int k = 0; k < 6; ++k) {
    uint32_t code = 0;
    for (int i = 0; i < 12; ++i) {
      int bit = 16 + 12 * k + i;
      code |= static_cast<uint32_t>((eop[bit >> 3] >> (bit & 7)) & 1) << i;
    }
    EXPECT_EQ(code, 0x800u) << k;
  }
  EXPECT_EQ(eop[11], 0);
}
