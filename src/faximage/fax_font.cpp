#include "faximage/fax_font.h"

#include <cstring>

#include "core/error_codes.h"
#include "faximage/converter_state.h"

namespace qv::faximage {

int LoadFaxFont(ConverterState& state, int bytesPerGlyph, bool fine) {
  FaxFont& font = state.Font;
  font.Loaded = false;
  if (bytesPerGlyph == kStandardFontDescriptor.BytesPerGlyph) {
    font.Desc = kStandardFontDescriptor;
    std::memcpy(font.Glyphs.data(), kFaxFontResource + kStandardFontOffset, 256 * 48);
  } else if (bytesPerGlyph == kSmallFontDescriptor.BytesPerGlyph) {
    font.Desc = kSmallFontDescriptor;
    std::memcpy(font.Glyphs.data(), kFaxFontResource + kSmallFontOffset, 256 * 16);
  } else {
    return qv::core::ecFontFileNotFound;
  }
  if (fine) {
    // Repeat every glyph row; from the last glyph down so the work can be done in place.
    const int bpg = font.Desc.BytesPerGlyph, bpr = font.Desc.BytesPerRow;
    const int rows = font.Desc.GlyphRows;
    for (int g = 255; g >= 0; --g) {
      const uint8_t* src = font.Glyphs.data() + g * bpg;
      uint8_t* dst = font.Glyphs.data() + g * bpg * 2;
      for (int r = rows - 1; r >= 0; --r) {
        std::memmove(dst + (2 * r + 1) * bpr, src + r * bpr, static_cast<size_t>(bpr));
        std::memmove(dst + (2 * r) * bpr, src + r * bpr, static_cast<size_t>(bpr));
      }
    }
    font.Desc.BytesPerGlyph *= 2;
    font.Desc.GlyphRows *= 2;
  }
  font.Loaded = true;
  return 0;
}

}  // namespace qv::faximage
