#include "faximage/page_marks.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <tuple>

#include "core/error_codes.h"
#include "faximage/converter.h"
#include "faximage/converter_text.h"
#include "faximage/raster.h"

namespace qv::faximage {

PageRotation FaxMarks::Rotation(int page) const {
  auto it = rotation.find(page);
  return it == rotation.end() ? PageRotation::None : it->second;
}

void FaxMarks::SetRotation(int page, PageRotation r) {
  if (r == PageRotation::None)
    rotation.erase(page);
  else
    rotation[page] = r;
}

bool FaxMarks::HasMarksOn(int page) const {
  return std::any_of(marks.begin(), marks.end(), [page](const Mark& m) { return m.page == page; });
}

namespace {

// Ink for one drawing operation: black, white (white-out), or black on the highlighter's dots.
enum class Ink { Black, White, Dots };

// A quarter of the pixels, on a grid fixed to the page: overlapping strokes of the highlighter
// do not darken, and text under it stays readable.
bool OnDot(int x, int row, bool fine) {
  const int y = fine ? row : row * 2;
  return (x & 3) == 0 && (y & 3) == 0;
}

// Cuts the segment to the rectangle (Liang-Barsky); false when nothing of it lies inside. The
// ends move to the nearest whole unit on the segment.
bool Clip(int& x0, int& y0, int& x1, int& y1, int left, int top, int right, int bottom) {
  const double dx = x1 - x0, dy = y1 - y0;
  double t0 = 0.0, t1 = 1.0;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {static_cast<double>(x0 - left), static_cast<double>(right - x0),
                       static_cast<double>(y0 - top), static_cast<double>(bottom - y0)};
  for (int k = 0; k < 4; ++k) {
    if (p[k] == 0.0) {
      if (q[k] < 0.0) return false;
      continue;
    }
    const double t = q[k] / p[k];
    if (p[k] < 0.0) {
      if (t > t1) return false;
      t0 = std::max(t0, t);
    } else {
      if (t < t0) return false;
      t1 = std::min(t1, t);
    }
  }
  const int sx = x0, sy = y0;
  if (t0 > 0.0) {
    x0 = sx + static_cast<int>(std::lround(t0 * dx));
    y0 = sy + static_cast<int>(std::lround(t0 * dy));
  }
  if (t1 < 1.0) {
    x1 = sx + static_cast<int>(std::lround(t1 * dx));
    y1 = sy + static_cast<int>(std::lround(t1 * dy));
  }
  return true;
}

// Drawing target: the bitmap, how units map to rows, and clipping.
struct Canvas {
  PageBitmap& bm;
  bool fine;

  int rowOf(int unitY) const { return fine ? unitY : (unitY >= 0 ? unitY / 2 : -((1 - unitY) / 2)); }

  void pixel(int x, int row, Ink ink) {
    if (x < 0 || row < 0 || x >= bm.width || row >= bm.height) return;
    if (ink == Ink::Dots && !OnDot(x, row, fine)) return;
    const bool blackBit = (ink != Ink::White) != bm.inverted;
    uint8_t& byte = bm.row(row)[x >> 3];
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (x & 7));
    byte = blackBit ? static_cast<uint8_t>(byte | mask) : static_cast<uint8_t>(byte & ~mask);
  }

  // Pixels [x0, x1) of rows [r0, r1).
  void fillRows(int x0, int x1, int r0, int r1, Ink ink) {
    x0 = std::max(x0, 0);
    x1 = std::min(x1, bm.width);
    r0 = std::max(r0, 0);
    r1 = std::min(r1, bm.height);
    if (x0 >= x1 || r0 >= r1) return;
    const bool setBits = (ink != Ink::White) != bm.inverted;
    for (int r = r0; r < r1; ++r) {
      uint8_t* row = bm.row(r);
      if (ink == Ink::Dots) {
        if (!OnDot(0, r, fine)) continue;  // a row without dots
        for (int x = (x0 + 3) & ~3; x < x1; x += 4) pixel(x, r, ink);
        continue;
      }
      // Masks for the partial bytes at the ends, whole bytes between.
      const int b0 = x0 >> 3, b1 = (x1 - 1) >> 3;
      const uint8_t head = static_cast<uint8_t>(0xFFu >> (x0 & 7));
      const uint8_t tail = static_cast<uint8_t>(0xFFu << (7 - ((x1 - 1) & 7)));
      auto put = [&](int b, uint8_t mask) {
        row[b] = setBits ? static_cast<uint8_t>(row[b] | mask) : static_cast<uint8_t>(row[b] & ~mask);
      };
      if (b0 == b1) {
        put(b0, static_cast<uint8_t>(head & tail));
        continue;
      }
      put(b0, head);
      if (b1 > b0 + 1) std::memset(row + b0 + 1, setBits ? 0xFF : 0x00, static_cast<size_t>(b1 - b0 - 1));
      put(b1, tail);
    }
  }

  // A box in units.
  void fillBox(int x, int y, int w, int h, Ink ink) {
    if (w <= 0 || h <= 0) return;
    int r0 = rowOf(y), r1 = rowOf(y + h - 1) + 1;
    fillRows(x, x + w, r0, r1, ink);
  }

  // A stroke through the points with a square brush `width` units across. The brush is stamped at
  // every unit step of each segment, which covers diagonals without gaps.
  void stroke(const std::vector<MarkPoint>& pts, int width, Ink ink) {
    if (pts.empty()) return;
    width = std::max(width, 1);
    const int lo = width / 2;
    int lastR0 = INT32_MIN, lastX = INT32_MIN;
    auto stamp = [&](int cx, int cy) {
      const int r0 = rowOf(cy - lo), r1 = rowOf(cy - lo + width - 1) + 1;
      if (r0 == lastR0 && cx == lastX) return;  // a standard page repeats rows for two units
      lastR0 = r0;
      lastX = cx;
      fillRows(cx - lo, cx - lo + width, r0, r1, ink);
    };
    if (pts.size() == 1) stamp(pts[0].x, pts[0].y);
    // Segments are cut to the page (and a brush around it) first, so the steps a stroke takes are
    // bounded by the page, not by how far off it a point lies.
    const int left = -width, top = -width;
    const int right = bm.width + width, bottom = (fine ? bm.height : bm.height * 2) + width;
    for (size_t i = 1; i < pts.size(); ++i) {
      int x0 = pts[i - 1].x, y0 = pts[i - 1].y;
      int x1 = pts[i].x, y1 = pts[i].y;
      if (!Clip(x0, y0, x1, y1, left, top, right, bottom)) continue;
      const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
      const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
      int err = dx + dy;
      for (;;) {
        stamp(x0, y0);
        if (x0 == x1 && y0 == y1) break;
        const int e2 = 2 * err;
        if (e2 >= dy) { err += dy; x0 += sx; }
        if (e2 <= dx) { err += dx; y0 += sy; }
      }
    }
  }
};

// Lines of a text mark.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t nl = text.find('\n', start);
    out.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  return out;
}

int StampPadding(int size) { return std::max(2, size / 4); }
int StampFrame(int size) { return std::max(2, size / 12); }

}  // namespace

// A glyph rendered once and kept: hinting a TrueType glyph costs more than drawing it.
struct CachedGlyph {
  int left = 0, top = 0, advance = 0, width = 0, rows = 0, pitch = 0;
  std::vector<uint8_t> bits;
};

struct MarkRasterizer::Fonts {
  // Fontconfig maps any family name to some font file: faces are kept per file, so names that end
  // in the same file share one face, and a page of many names opens few files.
  static constexpr size_t kMaxNames = 64;
  FT_Library library = nullptr;
  std::map<std::string, FT_Face> byFile;  // "file#index"; nullptr when it could not be opened
  std::map<std::string, FT_Face> byName;
  static constexpr size_t kMaxGlyphs = 4096;
  // (face, pixel width, pixel height, code point) -> the rendered glyph.
  std::map<std::tuple<FT_Face, int, int, uint32_t>, CachedGlyph> glyphs;

  // nullptr when the face has no such glyph. The face's size must already be set to w x h.
  const CachedGlyph* glyph(FT_Face face, int w, int h, uint32_t cp) {
    const auto key = std::make_tuple(face, w, h, cp);
    if (auto it = glyphs.find(key); it != glyphs.end()) return &it->second;
    if (glyphs.size() >= kMaxGlyphs) glyphs.clear();
    if (FT_Load_Char(face, cp, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME)) return nullptr;
    const FT_GlyphSlot g = face->glyph;
    CachedGlyph c;
    c.left = g->bitmap_left;
    c.top = g->bitmap_top;
    c.advance = static_cast<int>(g->advance.x >> 6);
    c.width = static_cast<int>(g->bitmap.width);
    c.rows = static_cast<int>(g->bitmap.rows);
    c.pitch = (c.width + 7) / 8;
    c.bits.resize(static_cast<size_t>(c.pitch) * static_cast<size_t>(c.rows));
    for (int y = 0; y < c.rows; ++y)
      std::memcpy(c.bits.data() + static_cast<size_t>(y * c.pitch), g->bitmap.buffer + static_cast<long>(y) * g->bitmap.pitch,
                  static_cast<size_t>(c.pitch));
    return &glyphs.emplace(key, std::move(c)).first->second;
  }

  ~Fonts() {
    for (auto& [file, face] : byFile)
      if (face) FT_Done_Face(face);
    if (library) FT_Done_FreeType(library);
  }

  FT_Face face(const std::string& family) {
    if (auto it = byName.find(family); it != byName.end()) return it->second;
    if (byName.size() >= kMaxNames) byName.clear();  // the faces stay; only the look-ups go
    if (!library && FT_Init_FreeType(&library)) library = nullptr;
    FT_Face f = nullptr;
    if (library) {
      TFaxFontSpec wanted;
      if (!family.empty()) wanted.Name = family;
      int index = 0;
      const std::string file = MatchFontFile(wanted, index);
      const std::string key = file + "#" + std::to_string(index);
      if (auto it = byFile.find(key); it != byFile.end()) {
        f = it->second;
      } else {
        if (file.empty() || FT_New_Face(library, file.c_str(), index, &f)) f = nullptr;
        byFile.emplace(key, f);
      }
    }
    byName.emplace(family, f);
    return f;
  }
};

MarkRasterizer::MarkRasterizer() : fonts_(std::make_unique<Fonts>()) {}
MarkRasterizer::~MarkRasterizer() = default;

int MarkRasterizer::TextWidth(const std::string& font, int size, const std::string& line) {
  FT_Face face = fonts_->face(font);
  if (!face || FT_Set_Pixel_Sizes(face, static_cast<FT_UInt>(size), static_cast<FT_UInt>(size))) return 0;
  int pen = 0;
  for (uint32_t cp : CodePoints(line))
    if (const CachedGlyph* g = fonts_->glyph(face, size, size, cp)) pen += g->advance;
  return pen;
}

void MarkRasterizer::TextBox(const Mark& mark, int& x, int& y, int& w, int& h) {
  int widest = 0;
  const std::vector<std::string> lines = Lines(mark.text);
  for (const std::string& line : lines) widest = std::max(widest, TextWidth(mark.font, mark.size, line));
  x = mark.x;
  y = mark.y;
  w = widest;
  h = mark.size * static_cast<int>(lines.size());
  if (mark.kind == MarkKind::Stamp) {
    const int pad = StampPadding(mark.size) + StampFrame(mark.size);
    x -= pad;
    y -= pad;
    w += 2 * pad;
    h += 2 * pad;
  }
}

void MarkRasterizer::DrawMark(const Mark& m, PageBitmap& bm, bool fine) {
  Canvas c{bm, fine};
  switch (m.kind) {
    case MarkKind::Pen:
      c.stroke(m.points, m.size, Ink::Black);
      return;
    case MarkKind::Highlight:
      c.stroke(m.points, m.size, Ink::Dots);
      return;
    case MarkKind::Whiteout:
      c.fillBox(m.x, m.y, m.w, m.h, Ink::White);
      return;
    case MarkKind::Check: {
      // A tick: down from the left third to the bottom, then up to the top right corner.
      const int t = std::max(2, std::min(m.w, m.h) / 8);
      c.stroke({{m.x + t / 2, m.y + m.h * 11 / 20}, {m.x + m.w * 2 / 5, m.y + m.h - t / 2 - 1},
                {m.x + m.w - t / 2 - 1, m.y + t / 2}},
               t, Ink::Black);
      return;
    }
    case MarkKind::Signature: {
      if (m.picture.empty() || m.w <= 0 || m.h <= 0) return;
      // Nearest source pixel for each target pixel of the box.
      const int r0 = c.rowOf(m.y), r1 = c.rowOf(m.y + m.h - 1) + 1;
      const int xs = std::max(m.x, 0), xe = std::min(m.x + m.w, bm.width);
      if (xs >= xe) return;
      std::vector<int> column(static_cast<size_t>(xe - xs));  // source column of each target one
      for (int x = xs; x < xe; ++x)
        column[static_cast<size_t>(x - xs)] = static_cast<int>((int64_t{x - m.x} * m.picture.width) / m.w);
      const size_t srcStride = static_cast<size_t>((m.picture.width + 7) / 8);
      for (int r = std::max(r0, 0); r < std::min(r1, bm.height); ++r) {
        const int unitY = fine ? r : r * 2;
        const int sy = std::clamp(static_cast<int>((int64_t{unitY - m.y} * m.picture.height) / m.h), 0,
                                  m.picture.height - 1);
        const uint8_t* src = m.picture.bits.data() + static_cast<size_t>(sy) * srcStride;
        for (int x = xs; x < xe; ++x) {
          const int sx = column[static_cast<size_t>(x - xs)];
          if ((src[sx >> 3] >> (7 - (sx & 7))) & 1) c.pixel(x, r, Ink::Black);
        }
      }
      return;
    }
    case MarkKind::Text:
    case MarkKind::Stamp: {
      FT_Face face = fonts_->face(m.font);
      const int size = std::clamp(m.size, kMarkMinTextSize, kMarkMaxTextSize);
      if (m.kind == MarkKind::Stamp) {
        int bx, by, bw, bh;
        TextBox(m, bx, by, bw, bh);
        const int f = StampFrame(size);
        c.fillBox(bx, by, bw, f, Ink::Black);
        c.fillBox(bx, by + bh - f, bw, f, Ink::Black);
        c.fillBox(bx, by, f, bh, Ink::Black);
        c.fillBox(bx + bw - f, by, f, bh, Ink::Black);
      }
      if (!face) return;
      // A standard page has half the rows: the glyphs are rendered half as tall, not cut.
      const int rowsPerLine = fine ? size : std::max(1, size / 2);
      if (FT_Set_Pixel_Sizes(face, static_cast<FT_UInt>(size), static_cast<FT_UInt>(rowsPerLine))) return;
      const int ascent = static_cast<int>((face->size->metrics.ascender + 63) >> 6);
      const int descent = static_cast<int>((-face->size->metrics.descender + 63) >> 6);
      // Lines are `size` units apart; the font's own line fits in it, centred.
      const int lead = std::max(0, (rowsPerLine - ascent - descent) / 2);
      int lineTop = c.rowOf(m.y);
      for (const std::string& line : Lines(m.text)) {
        int pen = m.x;
        for (uint32_t cp : CodePoints(line)) {
          if (pen >= bm.width) break;
          const CachedGlyph* g = fonts_->glyph(face, size, rowsPerLine, cp);
          if (!g) continue;
          const int left = pen + g->left;
          const int top = lineTop + lead + ascent - g->top;
          for (int gy = 0; gy < g->rows; ++gy) {
            const int row = top + gy;
            if (row < 0 || row >= bm.height) continue;
            const uint8_t* src = g->bits.data() + static_cast<size_t>(gy * g->pitch);
            for (int gx = 0; gx < g->width; ++gx)
              if ((src[gx >> 3] >> (7 - (gx & 7))) & 1) c.pixel(left + gx, row, Ink::Black);
          }
          pen += g->advance;
        }
        lineTop += rowsPerLine;
      }
      return;
    }
  }
}

void MarkRasterizer::Draw(const FaxMarks& marks, int page, PageBitmap& bitmap, bool fine) {
  for (const Mark& m : marks.marks)
    if (m.page == page) DrawMark(m, bitmap, fine);
}

int RotatePage(PageBitmap& page, bool& fine, PageRotation rotation) {
  if (rotation == PageRotation::None || page.empty()) return 0;
  const bool inv = page.inverted;
  if (rotation == PageRotation::Half) {
    PageBitmap out;
    out.width = page.width;
    out.height = page.height;
    out.stride = page.stride;
    out.inverted = inv;
    out.bits.assign(page.bits.size(), inv ? 0xFF : 0x00);
    for (int y = 0; y < page.height; ++y)
      for (int x = 0; x < page.width; ++x)
        if (page.black(x, y)) {
          uint8_t& b = out.row(page.height - 1 - y)[(page.width - 1 - x) >> 3];
          const uint8_t mask = static_cast<uint8_t>(0x80u >> ((page.width - 1 - x) & 7));
          b = inv ? static_cast<uint8_t>(b & ~mask) : static_cast<uint8_t>(b | mask);
        }
    page = std::move(out);
    return 0;
  }
  // Quarter turns on the fine grid.
  const int rowsPerRow = fine ? 1 : 2;
  const int srcRows = page.height * rowsPerRow;
  PageBitmap out;
  out.width = srcRows;
  out.height = page.width;
  out.stride = (out.width + 15) / 16 * 2;
  out.inverted = inv;
  if (static_cast<int64_t>(out.stride) * out.height > kMaxScaledBytes || out.height > kMaxPageRows)
    return qv::core::ecOutOfMemory;
  out.bits.assign(static_cast<size_t>(out.stride) * static_cast<size_t>(out.height), inv ? 0xFF : 0x00);
  for (int fy = 0; fy < srcRows; ++fy) {
    const int y = fy / rowsPerRow;
    for (int x = 0; x < page.width; ++x) {
      if (!page.black(x, y)) continue;
      // Clockwise a quarter: the top row becomes the right column; else the left column.
      const int ox = rotation == PageRotation::Quarter ? srcRows - 1 - fy : fy;
      const int oy = rotation == PageRotation::Quarter ? x : page.width - 1 - x;
      uint8_t& b = out.row(oy)[ox >> 3];
      const uint8_t mask = static_cast<uint8_t>(0x80u >> (ox & 7));
      b = inv ? static_cast<uint8_t>(b & ~mask) : static_cast<uint8_t>(b | mask);
    }
  }
  page = std::move(out);
  fine = true;
  return 0;
}

int ApplyMarks(const FaxMarks& marks, int pageNumber, PageBitmap& page, bool& fine, MarkRasterizer& rasterizer) {
  if (int rc = RotatePage(page, fine, marks.Rotation(pageNumber)); rc < 0) return rc;
  rasterizer.Draw(marks, pageNumber, page, fine);
  return 0;
}

}  // namespace qv::faximage
