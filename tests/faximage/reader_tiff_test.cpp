#include <gtest/gtest.h>

#include "core/error_codes.h"
#include "image_convert.h"
#include "image_files.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

TEST(TiffReader, ByteOrdersCompressionsStripsAndPhotometric) {
  TempDir dir;
  BitRows img = Pattern(203, 17, 2);
  for (bool be : {false, true})
    for (bool pb : {false, true})
      for (int photometric : {0, 1})
        for (int rps : {0, 5}) {
          TiffOptions o;
          o.BigEndian = be;
          o.PackBits = pb;
          o.Photometric = photometric;
          o.RowsPerStrip = rps;
          std::vector<DecodedPage> pages;
          ASSERT_EQ(ConvertPicture(dir, "t.tif", MakeTiff(203, img, o), idTiff, pages, 0, 3), 0);
          ASSERT_EQ(pages.size(), 1u);
          ASSERT_EQ(pages[0].Rows.size(), 17u);
          for (size_t y = 0; y < 17; ++y)
            ASSERT_EQ(pages[0].Rows[y], PlacedRow(img[y], 203, 0, 3, 1728))
                << "row " << y << " be " << be << " packbits " << pb << " photometric "
                << photometric << " rps " << rps;
        }
}

TEST(TiffReader, WiderThanThePageIsCut) {
  TempDir dir;
  BitRows img = Pattern(3000, 4);
  std::vector<DecodedPage> pages;
  ASSERT_EQ(ConvertPicture(dir, "w.tif", MakeTiff(3000, img), idTiff, pages, coCenterImage, 0), 0);
  ASSERT_EQ(pages[0].Rows.size(), 4u);
  for (size_t y = 0; y < 4; ++y) EXPECT_EQ(pages[0].Rows[y], PlacedRow(img[y], 3000, 0, 0, 1728));
}

TEST(TiffReader, MalformedFilesGiveTheirCodes) {
  TempDir dir;
  BitRows img = Pattern(64, 8);
  std::vector<DecodedPage> pages;
  auto code = [&](const std::vector<uint8_t>& bytes) {
    return ConvertPicture(dir, "m.tif", bytes, idTiff, pages);
  };
  EXPECT_EQ(code({'X', 'X', 42, 0, 8, 0, 0, 0}), -8002);
  EXPECT_EQ(code({'I', 'I', 42}), -8002);
  TiffOptions o;
  o.BitsPerSample = 8;
  EXPECT_EQ(code(MakeTiff(64, img, o)), -8002);
  o = {};
  o.Compression = 4;  // Group 4
  EXPECT_EQ(code(MakeTiff(64, img, o)), -8002);
  // Image data cut short: a device read error.
  for (bool pb : {false, true}) {
    o = {};
    o.PackBits = pb;
    std::vector<uint8_t> v = MakeTiff(64, img, o);
    v.resize(v.size() - 5);
    EXPECT_EQ(code(v), -161) << pb;
  }
  // Directory pointing outside the file.
  std::vector<uint8_t> v = MakeTiff(64, img);
  v[4] = 0xF0;
  EXPECT_EQ(code(v), -8002);
  // No width tag.
  v = MakeTiff(64, img);
  v[10] = 0x01;  // the first entry (256) becomes a second 257
  v[11] = 0x01;
  EXPECT_EQ(code(v), -8002);
  // Strip offset beyond the end.
  v = MakeTiff(64, img);
  size_t e273 = 10 + 5 * 12;
  v[e273 + 8] = 0xFF;
  v[e273 + 9] = 0xFF;
  v[e273 + 10] = 0xFF;
  EXPECT_EQ(code(v), -161);
}

// A few-hundred-byte file claiming 2^32 x 2^32 pixels must fail on its missing data, not
// allocate for the claim or produce rows it does not hold.
TEST(TiffReader, AbsurdDimensionsFailOnTheMissingData) {
  TempDir dir;
  std::vector<DecodedPage> pages;
  for (bool packBits : {false, true}) {
    TiffOptions o;
    o.PackBits = packBits;
    std::vector<uint8_t> v = MakeTiff(64, Pattern(64, 4), o);
    const size_t n = v[8] | (v[9] << 8);
    int patched = 0;
    for (size_t i = 0; i < n; ++i) {
      uint8_t* e = v.data() + 10 + 12 * i;
      const int tag = e[0] | (e[1] << 8);
      if (tag != 256 && tag != 257) continue;
      e[2] = 4; e[3] = 0;  // LONG
      e[4] = 1; e[5] = e[6] = e[7] = 0;
      e[8] = e[9] = e[10] = e[11] = 0xFF;
      ++patched;
    }
    ASSERT_EQ(patched, 2);
    EXPECT_EQ(ConvertPicture(dir, "huge.tif", v, idTiff, pages), qv::core::ecDeviceReadError)
        << "packBits " << packBits;
  }
}
