#include <gtest/gtest.h>

#include "image_convert.h"
#include "image_files.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

TEST(PcxReader, RowsDecodeAndLinePaddingStaysWhite) {
  TempDir dir;
  for (int w : {100, 96, 1}) {
    BitRows img = Pattern(w, 11, w);
    std::vector<DecodedPage> pages;
    // bytes per line with two extra padding bytes, which must not appear as black
    ASSERT_EQ(ConvertPicture(dir, "p.pcx", MakePcx(w, img, (w + 7) / 8 + 2), idPcx, pages, 0, 9), 0);
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].Rows.size(), 11u);
    for (size_t y = 0; y < 11; ++y)
      ASSERT_EQ(pages[0].Rows[y], PlacedRow(img[y], w, 0, 9, 1728)) << "w " << w << " row " << y;
  }
}

TEST(PcxReader, HeaderChecks) {
  TempDir dir;
  BitRows img = Pattern(64, 4);
  std::vector<DecodedPage> pages;
  std::vector<uint8_t> good = MakePcx(64, img);
  auto code = [&](std::vector<uint8_t> v) { return ConvertPicture(dir, "h.pcx", v, idPcx, pages); };
  std::vector<uint8_t> v = good;
  v[0] = 11;
  EXPECT_EQ(code(v), -8002);
  v = good;
  v[2] = 0;
  EXPECT_EQ(code(v), -8002);
  v = good;
  v[3] = 8;
  EXPECT_EQ(code(v), -8002);
  v = good;
  v[65] = 4;  // four planes: a colour image
  EXPECT_EQ(code(v), -8002);
  v = good;
  v[8] = 0xC1;  // Xmax 1729: wider than the page
  v[9] = 0x06;
  EXPECT_EQ(code(v), -8002);
  EXPECT_EQ(code({10, 5, 1, 1}), -8002);
  v = good;
  v[10] = 0;  // Ymax below Ymin
  v[6] = 5;
  EXPECT_EQ(code(v), -8002);
  // Data ending inside a run or a row is no crash: what is there is used.
  v = good;
  v.resize(v.size() - 1);
  v.push_back(0xC5);
  EXPECT_EQ(code(v), 0);
  EXPECT_EQ(pages[0].Rows.size(), 4u);
}

TEST(PcxReader, DataAfterTheLastRowIsNotAnImage) {
  // Paint programs append a 256-colour palette block (0x0C + 768 bytes) even to mono images.
  TempDir dir;
  BitRows img = Pattern(64, 4);
  std::vector<uint8_t> v = MakePcx(64, img);
  v.push_back(0x0C);
  v.insert(v.end(), 768, 0x00);
  std::vector<DecodedPage> pages;
  ASSERT_EQ(ConvertPicture(dir, "pal.pcx", v, idPcx, pages, 0, 0), 0);
  ASSERT_EQ(pages[0].Rows.size(), 4u);
  for (size_t y = 0; y < 4; ++y) EXPECT_EQ(pages[0].Rows[y], PlacedRow(img[y], 64, 0, 0, 1728));
}

TEST(DcxReader, EachPcxBecomesAPage) {
  TempDir dir;
  std::vector<std::vector<uint8_t>> pcx;
  std::vector<BitRows> imgs;
  for (int i = 0; i < 3; ++i) {
    imgs.push_back(Pattern(80 + 8 * i, 6 + i, i));
    pcx.push_back(MakePcx(80 + 8 * i, imgs.back()));
  }
  std::vector<DecodedPage> pages;
  ASSERT_EQ(ConvertPicture(dir, "d.dcx", MakeDcx(pcx), idDcx, pages, 0, 0), 0);
  ASSERT_EQ(pages.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(pages[i].Rows.size(), 6u + i);
    for (size_t y = 0; y < pages[i].Rows.size(); ++y)
      EXPECT_EQ(pages[i].Rows[y], PlacedRow(imgs[i][y], 80 + 8 * static_cast<int>(i), 0, 0, 1728));
  }
}

TEST(DcxReader, BadHeadersAndPages) {
  TempDir dir;
  std::vector<uint8_t> good = MakeDcx({MakePcx(64, Pattern(64, 4)), MakePcx(64, Pattern(64, 4))});
  std::vector<DecodedPage> pages;
  auto code = [&](std::vector<uint8_t> v) { return ConvertPicture(dir, "b.dcx", v, idDcx, pages); };
  std::vector<uint8_t> v = good;
  v[0] = 0;
  EXPECT_EQ(code(v), -8002);
  v = good;
  v[4] = v[5] = v[6] = v[7] = 0;  // no pages
  EXPECT_EQ(code(v), -8002);
  v = good;
  v[9] = 0x7F;  // second offset beyond the end
  EXPECT_EQ(code(v), -8002);
  v = good;
  v[4100 + 128 + 0] = 0;  // harmless data change
  v[static_cast<size_t>(good[8] | (good[9] << 8))] = 99;  // second page's manufacturer byte
  EXPECT_EQ(code(v), -8002);
  EXPECT_EQ(code({0xB1, 0x68, 0xDE}), -8002);
}

// A page listed twice in the directory is a corrupt file, not a reason to convert the same image
// again (1024 times over, from a file of a few kilobytes).
TEST(DcxReader, APageListedTwiceIsRefused) {
  TempDir dir;
  std::vector<uint8_t> v = MakeDcx({MakePcx(64, Pattern(64, 4)), MakePcx(64, Pattern(64, 4))});
  std::vector<DecodedPage> pages;
  ASSERT_EQ(ConvertPicture(dir, "two.dcx", v, idDcx, pages, 0, 0), 0);
  ASSERT_EQ(pages.size(), 2u);
  std::copy_n(v.begin() + 4, 4, v.begin() + 8);  // the second offset names the first page
  EXPECT_EQ(ConvertPicture(dir, "same.dcx", v, idDcx, pages), -8002);
}
