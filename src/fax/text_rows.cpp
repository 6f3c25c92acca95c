#include <algorithm>
#include <cstring>

#include "core/error_codes.h"
#include "fax/header_line.h"

#if __has_include("faximage/t4_coder.h") && __has_include("faximage/fax_font.h")
#include "faximage/fax_font.h"
#include "faximage/t4_coder.h"
#define QV_FAX_HAVE_FONT 1
#endif

namespace qv::fax {

#ifdef QV_FAX_HAVE_FONT
int CodeTextLine(const std::string& text, int fontSize, bool fine, std::vector<std::vector<uint8_t>>& rows) {
  using namespace qv::faximage;
  const FaxFontDescriptor& d = fontSize == 16 ? kSmallFontDescriptor : kStandardFontDescriptor;
  const uint8_t* font = kFaxFontResource + (fontSize == 16 ? kSmallFontOffset : kStandardFontOffset);
  constexpr int kWidth = 1728;
  constexpr int kLeftMargin = 16;  // keep the first character clear of the paper edge
  const size_t maxChars = static_cast<size_t>((kWidth - kLeftMargin) / d.GlyphWidth);
  const size_t count = std::min(text.size(), maxChars);
  uint8_t raster[kWidth / 8];
  uint8_t coded[kMaxCodedRow];
  for (int glyphRow = 0; glyphRow < d.GlyphRows; ++glyphRow) {
    std::memset(raster, 0, sizeof raster);
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* g = font + static_cast<unsigned char>(text[i]) * d.BytesPerGlyph + glyphRow * d.BytesPerRow;
      int x0 = kLeftMargin + static_cast<int>(i) * d.GlyphWidth;
      for (int x = 0; x < d.GlyphWidth; ++x)
        if (g[x >> 3] & (0x80 >> (x & 7))) raster[(x0 + x) >> 3] |= static_cast<uint8_t>(0x80 >> ((x0 + x) & 7));
    }
    int n = CodeRow(raster, kWidth, 0, false, coded);
    for (int rep = 0; rep < (fine ? 2 : 1); ++rep) rows.emplace_back(coded, coded + n);
  }
  return 0;
}
#else
int CodeTextLine(const std::string&, int, bool, std::vector<std::vector<uint8_t>>&) {
  return core::ecFontFileNotFound;  // the converter's font is not part of this build
}
#endif

}  // namespace qv::fax
