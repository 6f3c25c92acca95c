#include "faximage/fax_font.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "faximage/converter_state.h"
#include "faximage/raster.h"
#include "faximage/t4_coder.h"

using namespace qv::faximage;

namespace {

std::vector<uint8_t> Glyph(const FaxFont& f, int code) {
  const uint8_t* p = f.Glyphs.data() + code * f.Desc.BytesPerGlyph;
  return {p, p + f.Desc.BytesPerGlyph};
}

bool GlyphPixel(const FaxFont& f, int code, int x, int y) {
  const uint8_t* row = f.Glyphs.data() + code * f.Desc.BytesPerGlyph + y * f.Desc.BytesPerRow;
  return (row[x >> 3] >> (7 - (x & 7))) & 1;
}

}  // namespace

TEST(FaxFont, GlyphsAreDistinctAndStayInsideTheirCells) {
  for (int bpg : {16, 48}) {
    ConverterState s;
    ASSERT_EQ(LoadFaxFont(s, bpg, false), 0);
    const FaxFontDescriptor& d = s.Font.Desc;
    EXPECT_EQ(d.BytesPerGlyph, bpg);
    std::set<std::vector<uint8_t>> seen;
    for (int c = 0; c < 256; ++c) {
      std::vector<uint8_t> g = Glyph(s.Font, c);
      int ink = 0;
      for (int y = 0; y < d.GlyphRows; ++y)
        for (int x = 0; x < d.BytesPerRow * 8; ++x) {
          bool on = GlyphPixel(s.Font, c, x, y);
          if (x >= d.GlyphWidth) {
            EXPECT_FALSE(on) << "glyph " << c << " spills at x=" << x;
          }
          ink += on;
        }
      bool printable = (c > 0x20 && c < 0x7F) || c > 0xA0;
      if (c <= 0x20 || (c >= 0x7F && c <= 0xA0)) {
        EXPECT_EQ(ink, 0) << c;
      }
      if (printable) {
        EXPECT_GT(ink, 0) << "glyph " << c << " is empty";
      }
      if (c > 0x20 && c < 0x7F) {
        EXPECT_TRUE(seen.insert(g).second) << "glyph " << c << " repeats";
      }
    }
  }
  // The cells are the ones the text layout relies on.
  EXPECT_EQ(kSmallFontDescriptor.GlyphWidth, 12);
  EXPECT_EQ(kStandardFontDescriptor.GlyphRows, 16);
}

TEST(FaxFont, FineResolutionRepeatsEveryRow) {
  for (int bpg : {16, 48}) {
    ConverterState normal, fine;
    ASSERT_EQ(LoadFaxFont(normal, bpg, false), 0);
    ASSERT_EQ(LoadFaxFont(fine, bpg, true), 0);
    EXPECT_EQ(fine.Font.Desc.GlyphRows, normal.Font.Desc.GlyphRows * 2);
    EXPECT_EQ(fine.Font.Desc.BytesPerGlyph, bpg * 2);
    for (int c = 0; c < 256; ++c)
      for (int y = 0; y < fine.Font.Desc.GlyphRows; ++y)
        for (int x = 0; x < normal.Font.Desc.GlyphWidth; ++x)
          ASSERT_EQ(GlyphPixel(fine.Font, c, x, y), GlyphPixel(normal.Font, c, x, y / 2))
              << "glyph " << c << " row " << y;
  }
  ConverterState s;
  EXPECT_EQ(LoadFaxFont(s, 24, false), -8052);
  EXPECT_FALSE(s.Font.Loaded);
}

TEST(FaxFont, RasterizeTextRowPlacesGlyphsSideBySide) {
  ConverterState s;
  s.ResWidth = 1728;
  ASSERT_EQ(LoadFaxFont(s, 48, false), 0);
  for (int row = 1; row <= 16; ++row) {
    std::vector<uint8_t> raster(kStandardRowBytes, 0);
    int len = RasterizeTextRow(s, "AgZ", row, raster.data());
    EXPECT_EQ(len, 8);  // three 20-pixel cells cover 60 pixels
    for (int i = 0; i < 3; ++i)
      for (int x = 0; x < 20; ++x)
        ASSERT_EQ(GetPixel(raster, i * 20 + x),
                  GlyphPixel(s.Font, static_cast<uint8_t>("AgZ"[i]), x, row - 1))
            << "char " << i << " x " << x << " row " << row;
    EXPECT_EQ(LastBlackPixel(raster) < 60, true);
  }
  // ORs into what is there, and text beyond the row is left out.
  std::vector<uint8_t> raster(kStandardRowBytes, 0);
  raster[0] = 0x80;
  std::string longText(100, 'W');
  int len = RasterizeTextRow(s, longText, 8, raster.data());
  EXPECT_EQ(len, 215);  // 86 whole cells fit in 1728 pixels
  EXPECT_TRUE(GetPixel(raster, 0));
  EXPECT_EQ(RasterizeTextRow(s, "A", 17, raster.data()), 0);  // no such glyph row
}
