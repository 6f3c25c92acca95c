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

// The work a TIFF costs grows with the file, not with what its directory claims: a tag listed
// twice, and strips that together would decode more than the file holds (they share their
// data), are refused; rows beyond the tallest page the viewer opens are cut, as columns beyond
// the page width are.
TEST(TiffReader, WorkIsBoundedByTheFile) {
  TempDir dir;
  std::vector<DecodedPage> pages;
  const size_t entries = 9, firstEntry = 10;
  auto entryAt = [&](size_t i) { return firstEntry + 12 * i; };

  // The strip-offset entry repeated in place of the samples entry (277).
  std::vector<uint8_t> v = MakeTiff(64, Pattern(64, 4));
  std::copy_n(v.begin() + static_cast<long>(entryAt(5)), 12, v.begin() + static_cast<long>(entryAt(6)));
  EXPECT_EQ(ConvertPicture(dir, "dup.tif", v, idTiff, pages), -8002);

  // Eight strips of four 1024-pixel rows, then all eight offsets naming the first strip's data
  // and the file cut after it: the strips would decode four times the file.
  TiffOptions o;
  o.RowsPerStrip = 4;
  BitRows img = Pattern(1024, 32, 3);
  v = MakeTiff(1024, img, o);
  ASSERT_EQ(ConvertPicture(dir, "strips.tif", v, idTiff, pages, 0, 0), 0);
  ASSERT_EQ(pages[0].Rows.size(), 32u);
  EXPECT_EQ(pages[0].Rows[31], PlacedRow(img[31], 1024, 0, 0, 1728));
  const size_t offArray = firstEntry + entries * 12 + 4;
  const size_t strip0 = v[offArray] | (v[offArray + 1] << 8);
  for (size_t i = 1; i < 8; ++i)
    std::copy_n(v.begin() + static_cast<long>(offArray), 4, v.begin() + static_cast<long>(offArray + 4 * i));
  v.resize(strip0 + 4 * 128);
  EXPECT_EQ(ConvertPicture(dir, "shared.tif", v, idTiff, pages), -8002);
  EXPECT_FALSE(std::filesystem::exists(dir.file("shared.QVF")));

  // 70000 rows: the page holds the first 65536.
  const int tall = 70000;
  BitRows rows(tall, std::vector<uint8_t>{0x81});
  rows[65535][0] = 0xFF;
  o = {};
  o.PackBits = true;
  ASSERT_EQ(ConvertPicture(dir, "tall.tif", MakeTiff(8, rows, o), idTiff, pages, 0, 0), 0);
  ASSERT_EQ(pages.size(), 1u);
  ASSERT_EQ(pages[0].Rows.size(), 65536u);
  EXPECT_EQ(pages[0].Rows[65535], PlacedRow(rows[65535], 8, 0, 0, 1728));
  EXPECT_EQ(pages[0].Rows[0], PlacedRow(rows[0], 8, 0, 0, 1728));
}
