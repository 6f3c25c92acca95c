#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstring>

#include "core/error_codes.h"
#include "faximage/converter_text.h"

namespace qv::faximage {

namespace {

constexpr int kMaxBitmapBytes = 65536;
constexpr int kScreenDpi = 96;

}  // namespace

std::string MatchFontFile(const TFaxFontSpec& wanted, int& index) {
  FcPattern* pat = FcPatternCreate();
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(wanted.Name.c_str()));
  FcPatternAddInteger(pat, FC_WEIGHT, wanted.Bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pat, FC_SLANT, wanted.Italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pat, &result);
  FcPatternDestroy(pat);
  std::string file;
  if (match) {
    FcChar8* path = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path)
      file = reinterpret_cast<const char*>(path);
    if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
    FcPatternDestroy(match);
  }
  return file;
}

std::vector<uint32_t> CodePoints(const std::string& s) {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1Fu) : n == 3 ? (c & 0x0Fu) : (c & 0x07u);
    bool ok = n > 0 && i + n <= s.size();
    for (size_t k = 1; ok && k < n; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      ok = (cc & 0xC0) == 0x80;
      cp = (cp << 6) | (cc & 0x3Fu);
    }
    if (!ok) {
      out.clear();
      for (unsigned char b : s) out.push_back(b);
      return out;
    }
    out.push_back(cp);
    i += n;
  }
  return out;
}

TextExReader::~TextExReader() {
  if (face_) FT_Done_Face(static_cast<FT_Face>(face_));
  if (library_) FT_Done_FreeType(static_cast<FT_Library>(library_));
}

int TextExReader::SetFont(ConverterState& state, const TFaxFontSpec& wanted, bool fine) {
  if (!library_) {
    FT_Library lib = nullptr;
    if (FT_Init_FreeType(&lib)) return qv::core::ecFontFileNotFound;
    library_ = lib;
  }
  if (face_) {
    FT_Done_Face(static_cast<FT_Face>(face_));
    face_ = nullptr;
  }
  int index = 0;
  std::string file = MatchFontFile(wanted, index);
  FT_Face face = nullptr;
  if (file.empty() || FT_New_Face(static_cast<FT_Library>(library_), file.c_str(), index, &face))
    return qv::core::ecFontFileNotFound;
  face_ = face;
  rendered_.reset();
  int pixels = (wanted.Size * kScreenDpi + 36) / 72;
  if (fine) pixels *= 2;
  if (pixels < 1) pixels = 1;
  if (pixels > 2000 || FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixels)))
    return qv::core::ecEnhFontTooBig;
  ascent_ = static_cast<int>((face->size->metrics.ascender + 63) >> 6);
  int descent = static_cast<int>((-face->size->metrics.descender + 63) >> 6);
  height_ = ascent_ + descent;
  width_ = state.ResWidth - state.LeftMargin;
  if (width_ < 1) width_ = 1;
  stride_ = (width_ + 15) / 16 * 2;  // monochrome bitmap rows are word aligned
  if (static_cast<int64_t>(stride_) * height_ > kMaxBitmapBytes) return qv::core::ecEnhFontTooBig;
  bitmap_.assign(static_cast<size_t>(stride_ * height_), 0);
  return 0;
}

size_t TextExReader::maxCharacters(const ConverterState&) const { return 255; }

int TextExReader::LineRow(ConverterState& state, const std::string& text, int row,
                          uint8_t* raster) {
  if (!rendered_ || *rendered_ != text) {
    line_ = text;
    if (int rc = beginLine(state)) return rc;
  }
  drawRow(state, row, raster);
  return 0;
}

int TextExReader::beginLine(ConverterState& state) {
  rendered_ = line_;
  if (!face_) {
    int rc = SetFont(state, TFaxFontSpec{}, state.UseHighRes);
    if (rc) return rc;
  }
  std::fill(bitmap_.begin(), bitmap_.end(), 0);
  FT_Face face = static_cast<FT_Face>(face_);
  int pen = 0;
  for (uint32_t cp : CodePoints(line_)) {
    if (pen >= width_) break;
    if (FT_Load_Char(face, cp, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME)) continue;
    const FT_GlyphSlot g = face->glyph;
    const FT_Bitmap& bm = g->bitmap;
    int left = pen + g->bitmap_left;
    int top = ascent_ - g->bitmap_top;
    for (unsigned y = 0; y < bm.rows; ++y) {
      int by = top + static_cast<int>(y);
      if (by < 0 || by >= height_) continue;
      const uint8_t* src = bm.buffer + static_cast<long>(y) * bm.pitch;
      uint8_t* dst = bitmap_.data() + static_cast<size_t>(by * stride_);
      for (unsigned x = 0; x < bm.width; ++x) {
        int bx = left + static_cast<int>(x);
        if (bx < 0 || bx >= width_) continue;
        if ((src[x >> 3] >> (7 - (x & 7))) & 1) dst[bx >> 3] |= static_cast<uint8_t>(0x80u >> (bx & 7));
      }
    }
    pen += static_cast<int>(g->advance.x >> 6);
  }
  return 0;
}

int TextExReader::drawRow(ConverterState& state, int row, uint8_t* raster) {
  const int rowBytes = state.ResWidth / 8;
  if (row < 1 || row > height_) return rowBytes;
  const uint8_t* src = bitmap_.data() + static_cast<size_t>((row - 1) * stride_);
  if (state.UseHighRes) {
    std::memcpy(raster, src, static_cast<size_t>(std::min(stride_, rowBytes)));
  } else {
    // Standard rows are half as dense as screen pixels are wide: each pixel of the bitmap's
    // left half becomes two.
    for (int x = 0; x < width_ / 2 && 2 * x + 1 < state.ResWidth; ++x)
      if ((src[x >> 3] >> (7 - (x & 7))) & 1)
        raster[(2 * x) >> 3] |= static_cast<uint8_t>(0xC0u >> ((2 * x) & 7));
  }
  return rowBytes;
}

int SetEnhancedFont(ConverterState& state, const TFaxFontSpec& font, bool fine) {
  auto* reader = dynamic_cast<TextExReader*>(state.ReaderData.get());
  if (!reader) return qv::core::ecBadArgument;
  return reader->SetFont(state, font, fine);
}

int EnhancedTextRowCount(const ConverterState& state) {
  auto* reader = dynamic_cast<const TextExReader*>(state.ReaderData.get());
  return reader ? reader->RowsPerLine() : 0;
}

int RasterizeEnhancedTextRow(ConverterState& state, const std::string& text, int row,
                             uint8_t* raster) {
  auto* reader = dynamic_cast<TextExReader*>(state.ReaderData.get());
  if (!reader) return qv::core::ecBadArgument;
  return reader->LineRow(state, text, row, raster);
}

std::unique_ptr<Reader> MakeTextExReader() { return std::make_unique<TextExReader>(); }

}  // namespace qv::faximage
