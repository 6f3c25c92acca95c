#pragma once

#include <array>
#include <cstdint>

namespace qv::faximage {

struct ConverterState;

// Built-in bitmap font: 256 glyphs of the small font (12 x 8, 16 bytes each) followed by 256
// glyphs of the standard font (20 x 16, 48 bytes each). A glyph is its rows top to bottom, each
// row 2 or 3 bytes, leftmost pixel in the high bit, 1 = black. Glyph n draws character code n
// (Latin-1).
inline constexpr int kFaxFontResourceSize = 16384;
inline constexpr int kSmallFontOffset = 0;
inline constexpr int kStandardFontOffset = 4096;
extern const uint8_t kFaxFontResource[kFaxFontResourceSize];

struct FaxFontDescriptor {
  int BytesPerGlyph;
  int GlyphWidth;  // pixels
  int BytesPerRow;
  int GlyphRows;
};
inline constexpr FaxFontDescriptor kSmallFontDescriptor = {16, 12, 2, 8};
inline constexpr FaxFontDescriptor kStandardFontDescriptor = {48, 20, 3, 16};

// A loaded font: room for 256 glyphs of 96 bytes (the standard font doubled for fine rows).
struct FaxFont {
  FaxFontDescriptor Desc{};
  std::array<uint8_t, 24576> Glyphs{};
  bool Loaded = false;
};

// Loads the built-in font of 16 or 48 bytes per glyph into the state; with fine, every glyph
// row is repeated so text keeps its shape at twice the row density. Returns 0, or
// -8052 when bytesPerGlyph names no built-in font.
int LoadFaxFont(ConverterState& state, int bytesPerGlyph, bool fine);

}  // namespace qv::faximage
