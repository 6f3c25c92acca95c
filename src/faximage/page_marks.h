#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "faximage/unpacker_bitmap.h"

namespace qv::faximage {

// Marks a user puts on the pages of a received fax (a signature, a date, a tick, ...). They live
// beside the fax, never in it: the received image stays as it arrived, and every view of the fax
// (screen, print, export, a reply) burns them into its own copy of the page.
//
// Positions are in page units of the page as shown (after its rotation): x in columns at
// 204 per inch, y in rows at 196 per inch, from the top left. A fine page has one row per unit,
// a standard page one row per two, so a mark keeps its place and its size whichever resolution
// the page arrived at, and is drawn at that resolution (what the user sees is what a reply sends).

enum class MarkKind {
  Pen,        // freehand stroke, black
  Highlight,  // freehand stroke, a sparse dot pattern that leaves what is under it readable
  Text,       // typed text, top left at (x, y), `size` units high per line
  Stamp,      // text in a frame (a date stamp)
  Check,      // a tick filling the box (x, y, w, h)
  Whiteout,   // the box painted white
  Signature,  // a picture stretched into the box; only its black pixels are drawn
};

struct MarkPoint {
  int x = 0;
  int y = 0;
  bool operator==(const MarkPoint&) const = default;
};

// One bit per pixel, 1 = black, rows of RowBytes(width) bytes, bits past the width clear.
struct MarkPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bits;
  bool empty() const { return width <= 0 || height <= 0; }
  bool black(int x, int y) const {
    return (bits[static_cast<size_t>(y) * static_cast<size_t>((width + 7) / 8) + static_cast<size_t>(x >> 3)] >>
            (7 - (x & 7))) & 1;
  }
  bool operator==(const MarkPicture&) const = default;
};

struct Mark {
  MarkKind kind = MarkKind::Pen;
  int page = 1;  // 1-based
  int x = 0, y = 0, w = 0, h = 0;  // the box of Check, Whiteout, Signature; top left of Text, Stamp
  int size = 0;                    // stroke width of Pen, Highlight; line height of Text, Stamp
  std::vector<MarkPoint> points;   // Pen, Highlight
  std::string font;                // Text, Stamp: a Fontconfig family name
  std::string text;                // Text, Stamp: UTF-8, lines separated by '\n'
  MarkPicture picture;             // Signature
  bool operator==(const Mark&) const = default;

  static Mark Stroke(MarkKind kind, int page, int width, std::vector<MarkPoint> points) {
    Mark m;
    m.kind = kind;
    m.page = page;
    m.size = width;
    m.points = std::move(points);
    return m;
  }
  static Mark Box(MarkKind kind, int page, int x, int y, int w, int h) {
    Mark m;
    m.kind = kind;
    m.page = page;
    m.x = x;
    m.y = y;
    m.w = w;
    m.h = h;
    return m;
  }
  static Mark Words(MarkKind kind, int page, int x, int y, int size, std::string font, std::string text) {
    Mark m;
    m.kind = kind;
    m.page = page;
    m.x = x;
    m.y = y;
    m.size = size;
    m.font = std::move(font);
    m.text = std::move(text);
    return m;
  }
  static Mark Signature(int page, int x, int y, int w, int h, MarkPicture picture) {
    Mark m = Box(MarkKind::Signature, page, x, y, w, h);
    m.picture = std::move(picture);
    return m;
  }
};

// Bounds every reader and editor keeps to, so a hostile marks file cannot make drawing unbounded.
inline constexpr int kMarkCoordinateLimit = 100000;  // |x|, |y| of any point or box corner
inline constexpr int kMarkMaxStrokeWidth = 200;
inline constexpr int kMarkMaxTextSize = 1000;
inline constexpr int kMarkMinTextSize = 4;
inline constexpr int kMarkMaxBox = 20000;
inline constexpr size_t kMarkMaxPoints = 100000;
inline constexpr size_t kMarkMaxText = 4096;
inline constexpr size_t kMarkMaxFont = 128;
inline constexpr int kMarkMaxPicture = 4096;  // width and height of a signature picture
inline constexpr size_t kMarksMaxCount = 100000;
inline constexpr int kMarkHighlightDefault = 24;

// Rotation of a page as shown, clockwise.
enum class PageRotation { None = 0, Quarter = 90, Half = 180, ThreeQuarters = 270 };

// The marks of one fax and the rotation of its pages.
struct FaxMarks {
  std::vector<Mark> marks;              // drawn in this order: later marks cover earlier ones
  std::map<int, PageRotation> rotation;  // pages not listed are shown as received

  bool empty() const { return marks.empty() && rotation.empty(); }
  PageRotation Rotation(int page) const;
  // None removes the page's entry, so an unrotated fax leaves nothing behind.
  void SetRotation(int page, PageRotation r);
  bool HasMarksOn(int page) const;
  bool operator==(const FaxMarks&) const = default;
};

// Draws marks into page bitmaps; keeps the FreeType faces it opened, so drawing a page of many
// text marks opens each font once.
class MarkRasterizer {
 public:
  MarkRasterizer();
  ~MarkRasterizer();
  MarkRasterizer(const MarkRasterizer&) = delete;
  MarkRasterizer& operator=(const MarkRasterizer&) = delete;

  // Burns the marks of `page` into the bitmap (already in the page's shown orientation). `fine`:
  // one row per unit, else one row per two units. Respects bitmap.inverted; clips at its edges.
  void Draw(const FaxMarks& marks, int page, PageBitmap& bitmap, bool fine);
  void DrawMark(const Mark& mark, PageBitmap& bitmap, bool fine);

  // Width in units of a line of text at `size` units (for frames, and for the viewer's hit box).
  int TextWidth(const std::string& font, int size, const std::string& line);
  // The box a Text or Stamp mark covers, in units: {x, y, w, h}.
  void TextBox(const Mark& mark, int& x, int& y, int& w, int& h);

 private:
  struct Fonts;
  std::unique_ptr<Fonts> fonts_;
};

// The page turned as the marks say. Quarter turns work on the fine grid (a standard page is
// doubled in height first) and give a fine page: rows become columns one for one, which
// stretches by the 204:196 difference of the two pitches (4 %), too little to matter on paper.
// `fine` is updated.
int RotatePage(PageBitmap& page, bool& fine, PageRotation rotation);

// The page as the user sees it: rotated, then marked. A full-width page (1 = black or inverted).
int ApplyMarks(const FaxMarks& marks, int pageNumber, PageBitmap& page, bool& fine, MarkRasterizer& rasterizer);

}  // namespace qv::faximage
