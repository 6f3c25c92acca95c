#include <gtest/gtest.h>

#include <filesystem>

#include "image_convert.h"
#include "image_files.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

TEST(BmpReader, OneBitRowsAreCopiedExactly) {
  TempDir dir;
  BitRows img = Pattern(100, 12);
  for (bool whiteIsOne : {true, false})
    for (bool topDown : {false, true}) {
      std::vector<DecodedPage> pages;
      ASSERT_EQ(ConvertPicture(dir, "a.bmp", MakeBmp1(100, img, whiteIsOne, topDown), idBmp, pages,
                               0, 7),
                0);
      ASSERT_EQ(pages.size(), 1u);
      ASSERT_EQ(pages[0].Rows.size(), 12u);
      for (int y = 0; y < 12; ++y)
        ASSERT_EQ(pages[0].Rows[static_cast<size_t>(y)], PlacedRow(img[static_cast<size_t>(y)], 100, 0, 7, 1728))
            << "row " << y << " whiteIsOne " << whiteIsOne << " topDown " << topDown;
    }
}

TEST(BmpReader, CentringAndDoubleWidth) {
  TempDir dir;
  BitRows img = Pattern(864, 5);
  std::vector<DecodedPage> pages;
  // 864 pixels doubled at margin 0 fill 1728; every run doubled.
  ASSERT_EQ(ConvertPicture(dir, "d.bmp", MakeBmp1(864, img), idBmp, pages,
                           coDoubleWidth | coCenterImage, 0),
            0);
  ASSERT_EQ(pages[0].Rows.size(), 5u);
  for (size_t y = 0; y < 5; ++y)
    EXPECT_EQ(pages[0].Rows[y], PlacedRow(img[y], 864, 0, 0, 1728, true)) << y;
  EXPECT_EQ(pages[0].Rows[1][1727], 1);  // the frame's right edge, doubled, ends the row

  // The same at fine resolution is not doubled, but centred: (1728 - 864) / 16 = 54 bytes.
  ASSERT_EQ(ConvertPicture(dir, "d.bmp", MakeBmp1(864, img), idBmp, pages,
                           coDoubleWidth | coCenterImage, 0, frHigh),
            0);
  EXPECT_EQ(pages[0].Flags, pfRowRecords | pfHighRes);
  for (size_t y = 0; y < 5; ++y) EXPECT_EQ(pages[0].Rows[y], PlacedRow(img[y], 864, 54, 0, 1728));

  // A narrow image doubled and centred: (1728 - 2 * 200) / 32 = 41 bytes before doubling.
  BitRows narrow = Pattern(200, 3);
  ASSERT_EQ(ConvertPicture(dir, "n.bmp", MakeBmp1(200, narrow), idBmp, pages,
                           coDoubleWidth | coCenterImage, 50),
            0);
  for (size_t y = 0; y < 3; ++y)
    EXPECT_EQ(pages[0].Rows[y], PlacedRow(narrow[y], 200, 41, 50, 1728, true));

  // Too wide to double beside the margin: copied as is.
  ASSERT_EQ(ConvertPicture(dir, "d.bmp", MakeBmp1(864, img), idBmp, pages, coDoubleWidth, 50), 0);
  for (size_t y = 0; y < 5; ++y) EXPECT_EQ(pages[0].Rows[y], PlacedRow(img[y], 864, 0, 50, 1728));
}

TEST(BmpReader, HalfHeightCodesOddRows) {
  TempDir dir;
  BitRows img = Pattern(64, 9, 1);
  std::vector<DecodedPage> pages;
  ASSERT_EQ(ConvertPicture(dir, "h.bmp", MakeBmp1(64, img), idBmp, pages, coHalfHeight, 0), 0);
  ASSERT_EQ(pages[0].Rows.size(), 5u);
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(pages[0].Rows[i], PlacedRow(img[2 * i], 64, 0, 0, 1728));
  // Not at fine resolution.
  ASSERT_EQ(ConvertPicture(dir, "h.bmp", MakeBmp1(64, img), idBmp, pages, coHalfHeight, 0, frHigh), 0);
  EXPECT_EQ(pages[0].Rows.size(), 9u);
}

TEST(BmpReader, ColourBitmapsAreDithered) {
  TempDir dir;
  const int w = 64, h = 32;
  std::vector<uint8_t> grey(w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) grey[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>(x < 16 ? 0 : x < 32 ? 255 : 60);
  std::vector<DecodedPage> pages;
  ASSERT_EQ(ConvertPicture(dir, "c.bmp", MakeBmp24(w, h, grey), idBmp, pages, 0, 0), 0);
  ASSERT_EQ(pages[0].Rows.size(), 32u);
  // The threshold matrix, independently: bit-interleaved levels 10 x D.
  auto level = [](int a, int b) {
    int d = 0;
    for (int i = 0; i < 4; ++i) {
      d = (((a ^ b) & 1) << 1) | (d << 1) | (b & 1);
      a >>= 1;
      b >>= 1;
    }
    return d;
  };
  int greyBlack = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int px = pages[0].Rows[static_cast<size_t>(y)][static_cast<size_t>(x)];
      int sum = 3 * grey[static_cast<size_t>(y * w + x)];
      ASSERT_EQ(px, sum < 10 * level(x & 31, y & 31) ? 1 : 0) << x << "," << y;
      if (x >= 32) greyBlack += px;
    }
  EXPECT_GT(greyBlack, 0);
  EXPECT_LT(greyBlack, 32 * 32);
  // Black is black except where the threshold is 0.
  EXPECT_EQ(pages[0].Rows[5][3], 1);
  EXPECT_EQ(pages[0].Rows[5][20], 0);
}

TEST(BmpReader, MalformedFilesAreRefused) {
  TempDir dir;
  std::vector<uint8_t> good = MakeBmp1(40, Pattern(40, 10));
  std::vector<DecodedPage> pages;
  auto expectCode = [&](std::vector<uint8_t> bytes, int code, const char* what) {
    EXPECT_EQ(ConvertPicture(dir, "m.bmp", bytes, idBmp, pages), code) << what;
    EXPECT_FALSE(std::filesystem::exists(dir.file("m.QVF"))) << what;
  };
  expectCode({}, -8002, "empty");
  expectCode({'B', 'M', 0, 0}, -8002, "header only");
  std::vector<uint8_t> v = good;
  v.resize(v.size() - 3);
  expectCode(v, -8002, "pixel data cut short");
  v = good;
  v[28] = 2;  // 2 bits per pixel
  expectCode(v, -8002, "bit depth");
  v = good;
  v[30] = 1;  // run-length coded
  expectCode(v, -8002, "compression");
  v = good;
  v[18] = 0; v[19] = 0; v[20] = 0; v[21] = 0;  // width 0
  expectCode(v, -8002, "width 0");
  v = good;
  v[10] = 0xFF; v[11] = 0xFF; v[12] = 0xFF; v[13] = 0x7F;  // pixel data far beyond the end
  expectCode(v, -8002, "pixel offset");
  v = good;
  v[0] = 'X';
  expectCode(v, -8002, "signature");
}

namespace {

// A 16-bit bitmap with explicit channel masks; every pixel has value `pixel`.
std::vector<uint8_t> MakeBmp16Fields(int w, int h, uint32_t r, uint32_t g, uint32_t b,
                                     uint16_t pixel) {
  const int stride = (w * 2 + 3) / 4 * 4;
  std::vector<uint8_t> v = {'B', 'M'};
  put32(v, static_cast<uint32_t>(66 + stride * h));
  put32(v, 0);
  put32(v, 66);
  put32(v, 40);
  put32(v, static_cast<uint32_t>(w));
  put32(v, static_cast<uint32_t>(h));
  put16(v, 1);
  put16(v, 16);
  put32(v, 3);  // bit fields
  for (int i = 0; i < 5; ++i) put32(v, 0);
  put32(v, r);
  put32(v, g);
  put32(v, b);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < stride / 2; ++x) put16(v, pixel);
  return v;
}

}  // namespace

TEST(BmpReader, ChannelMasksAreValidatedBeforeUse) {
  TempDir dir;
  std::vector<DecodedPage> pages;
  // Well-formed 5-6-5 masks: full-scale pixels are white, zero pixels black.
  ASSERT_EQ(ConvertPicture(dir, "w.bmp", MakeBmp16Fields(8, 2, 0xF800, 0x07E0, 0x001F, 0xFFFF),
                           idBmp, pages, 0, 0),
            0);
  ASSERT_EQ(pages.size(), 1u);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(pages[0].Rows[1][static_cast<size_t>(x)], 0) << x;
  ASSERT_EQ(ConvertPicture(dir, "k.bmp", MakeBmp16Fields(8, 2, 0xF800, 0x07E0, 0x001F, 0),
                           idBmp, pages, 0, 0),
            0);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(pages[0].Rows[1][static_cast<size_t>(x)], 1) << x;

  struct Case {
    uint32_t r, g, b;
    const char* what;
  } cases[] = {
      {0xFFFFFFFF, 0x07E0, 0x001F, "full-width mask"},
      {0, 0x07E0, 0x001F, "zero mask"},
      {0xF800, 0x07E0, 0x0015, "mask with a gap"},
      {0xF800, 0x0FE0, 0x001F, "overlapping masks"},
      {0x1F0000, 0x07E0, 0x001F, "mask outside a 16-bit pixel"},
      {0x80000000, 0x07E0, 0x001F, "mask outside a 16-bit pixel, top bit"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConvertPicture(dir, "m.bmp", MakeBmp16Fields(8, 2, c.r, c.g, c.b, 0x1234), idBmp,
                             pages),
              -8002)
        << c.what;
    EXPECT_FALSE(std::filesystem::exists(dir.file("m.QVF"))) << c.what;
  }

  // A fuzzer-found file: 16-bit, masks 0xFF32FF00 / 0xFFFFFFFF / ..., once a division by zero.
  const std::vector<uint8_t> found = {
      0x42, 0x4d, 0xac, 0xff, 0x25, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x28, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
      0x10, 0x00, 0x03, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x10, 0x00,
      0x00, 0x1f, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00, 0x01,
      0x00, 0x00, 0x00, 0xff, 0x32, 0xff, 0xff, 0xff, 0xff, 0xff, 0x18, 0xc2, 0xff};
  EXPECT_EQ(ConvertPicture(dir, "f.bmp", found, idBmp, pages), -8002);
}

TEST(BmpReader, AbsurdDimensionsAreRefusedFromTheHeader) {
  TempDir dir;
  std::vector<DecodedPage> pages;
  // 65535 x 65535 at 32 bits claims 17 GB of pixels in a file of a few bytes.
  std::vector<uint8_t> v = MakeBmp24(4, 4, std::vector<uint8_t>(16, 128));
  v[18] = v[19] = 0xFF; v[20] = v[21] = 0;
  v[22] = v[23] = 0xFF; v[24] = v[25] = 0;
  v[28] = 32;
  EXPECT_EQ(ConvertPicture(dir, "huge.bmp", v, idBmp, pages), -8002);
  v[22] = v[23] = v[24] = 0; v[25] = 0x80;  // height -2^31
  EXPECT_EQ(ConvertPicture(dir, "huge.bmp", v, idBmp, pages), -8002);
}
