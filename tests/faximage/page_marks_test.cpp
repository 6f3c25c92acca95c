#include "faximage/page_marks.h"

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include "faximage/export_pdf.h"
#include "faximage/raster.h"
#include "faximage/unpacker.h"
#include "t4_test_coder.h"
#include "temp_dir.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

namespace {

PageBitmap Blank(int width, int height, bool inverted = false) {
  PageBitmap bm;
  bm.width = width;
  bm.height = height;
  bm.stride = (width + 15) / 16 * 2;
  bm.inverted = inverted;
  bm.bits.assign(static_cast<size_t>(bm.stride) * static_cast<size_t>(height), inverted ? 0xFF : 0x00);
  return bm;
}

int BlackCount(const PageBitmap& bm, int x0 = 0, int y0 = 0, int x1 = -1, int y1 = -1) {
  if (x1 < 0) x1 = bm.width;
  if (y1 < 0) y1 = bm.height;
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) n += bm.black(x, y);
  return n;
}

// Rows [first, last] of column x that are black.
std::vector<int> BlackRowsAt(const PageBitmap& bm, int x) {
  std::vector<int> rows;
  for (int y = 0; y < bm.height; ++y)
    if (bm.black(x, y)) rows.push_back(y);
  return rows;
}

// Fontconfig keeps its configuration until FcFini; released at the end so the leak check of the
// sanitizer build sees only our own allocations.
class FontconfigRelease : public ::testing::Environment {
 public:
  void TearDown() override { FcFini(); }
};
const auto* const kFontconfigRelease = ::testing::AddGlobalTestEnvironment(new FontconfigRelease);

FaxMarks One(Mark m) {
  FaxMarks f;
  f.marks.push_back(std::move(m));
  return f;
}

}  // namespace

// A pen line keeps its place and thickness in units: one row per unit on a fine page, one row per
// two on a standard page; the ends are clipped at the page's edges rather than written past them.
TEST(PageMarks, PenAtFineAndStandardResolutionAndClipped) {
  MarkRasterizer r;
  const FaxMarks line = One(Mark::Stroke(MarkKind::Pen, 1, 4, {{-40, 100}, {1800, 100}}));
  PageBitmap fine = Blank(1728, 300);
  r.Draw(line, 1, fine, true);
  EXPECT_EQ(BlackRowsAt(fine, 500), (std::vector<int>{98, 99, 100, 101}));
  EXPECT_EQ(BlackCount(fine), 1728 * 4);

  PageBitmap standard = Blank(1728, 150);
  r.Draw(line, 1, standard, false);
  EXPECT_EQ(BlackRowsAt(standard, 500), (std::vector<int>{49, 50}));
  EXPECT_EQ(BlackCount(standard), 1728 * 2);

  PageBitmap other = Blank(1728, 300);
  r.Draw(line, 2, other, true);
  EXPECT_EQ(BlackCount(other), 0) << "marks of page 1 stay off page 2";
}

// White-out clears the page's own black inside its box and nothing outside; the highlighter adds
// its dots and never clears black under it; later marks cover earlier ones.
TEST(PageMarks, WhiteoutHighlighterAndOrder) {
  MarkRasterizer r;
  PageBitmap page = Blank(64, 64);
  std::fill(page.bits.begin(), page.bits.end(), 0xFF);
  r.DrawMark(Mark::Box(MarkKind::Whiteout, 1, 8, 8, 16, 16), page, true);
  EXPECT_EQ(BlackCount(page, 8, 8, 24, 24), 0);
  EXPECT_EQ(BlackCount(page), 64 * 64 - 256);

  PageBitmap hi = Blank(64, 64);
  SetPixel({hi.row(10), 8}, 13, true);
  r.DrawMark(Mark::Stroke(MarkKind::Highlight, 1, 16, {{0, 16}, {63, 16}}), hi, true);
  EXPECT_TRUE(hi.black(13, 10)) << "the highlighter leaves what is under it";
  EXPECT_EQ(BlackCount(hi), 1 + 16 * 4) << "one pixel in four of every fourth row, 16 rows x 64 columns";
  EXPECT_TRUE(hi.black(0, 8) && hi.black(4, 20) && !hi.black(1, 8) && !hi.black(0, 9));

  FaxMarks covered;
  covered.marks = {Mark::Box(MarkKind::Check, 1, 0, 0, 40, 40),
                   Mark::Box(MarkKind::Whiteout, 1, 0, 0, 64, 64)};
  PageBitmap c = Blank(64, 64);
  r.Draw(covered, 1, c, true);
  EXPECT_EQ(BlackCount(c), 0);
}

// A tick stays inside its box; a signature is stretched into its box and only its black is drawn;
// the same marks on a display bitmap (1 = white) give the same picture.
TEST(PageMarks, CheckSignatureAndInvertedBitmap) {
  MarkRasterizer r;
  const Mark check = Mark::Box(MarkKind::Check, 1, 100, 50, 60, 60);
  Mark sig = Mark::Box(MarkKind::Signature, 1, 10, 20, 16, 8);
  sig.picture.width = 8;
  sig.picture.height = 4;
  sig.picture.bits = {0x81, 0x00, 0x00, 0x18};
  FaxMarks both;
  both.marks = {check, sig};

  PageBitmap page = Blank(256, 200);
  r.Draw(both, 1, page, true);
  const int tick = BlackCount(page, 100, 50, 160, 110);
  EXPECT_GT(tick, 200);
  EXPECT_EQ(BlackCount(page, 0, 0, 256, 200), tick + BlackCount(page, 10, 20, 26, 28));
  // Source pixel (0,0) covers target (10..11, 20..21); (3,3)/(4,3) cover (16..19, 26..27).
  EXPECT_EQ(BlackCount(page, 10, 20, 26, 28), 4 + 4 + 8);
  EXPECT_TRUE(page.black(10, 20) && page.black(11, 21) && page.black(24, 20) && page.black(16, 27));
  EXPECT_FALSE(page.black(12, 20));

  PageBitmap shown = Blank(256, 200, true);
  r.Draw(both, 1, shown, true);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 256; ++x) ASSERT_EQ(shown.black(x, y), page.black(x, y)) << x << "," << y;

  PageBitmap standard = Blank(256, 100);
  r.Draw(One(sig), 1, standard, false);
  EXPECT_EQ(BlackCount(standard), 8) << "half the rows on a standard page";
}

// Text is drawn in its box, half as many rows high on a standard page; a stamp adds a frame around
// the same text.
TEST(PageMarks, TextAndStampKeepToTheirBoxes) {
  MarkRasterizer r;
  Mark text = Mark::Words(MarkKind::Text, 1, 100, 100, 40, "DejaVu Sans", "Signed\nOK");
  int x, y, w, h;
  r.TextBox(text, x, y, w, h);
  EXPECT_EQ(h, 80);
  EXPECT_GT(w, 100);
  PageBitmap fine = Blank(1728, 400);
  r.DrawMark(text, fine, true);
  const int inside = BlackCount(fine, x, y, x + w, y + h);
  EXPECT_GT(inside, 300);
  EXPECT_EQ(BlackCount(fine), inside);

  PageBitmap standard = Blank(1728, 200);
  r.DrawMark(text, standard, false);
  EXPECT_EQ(BlackCount(standard), BlackCount(standard, x, y / 2, x + w, (y + h) / 2));
  EXPECT_NEAR(BlackCount(standard), inside / 2, inside / 6);

  Mark stamp = text;
  stamp.kind = MarkKind::Stamp;
  int sx, sy, sw, sh;
  r.TextBox(stamp, sx, sy, sw, sh);
  EXPECT_LT(sx, x);
  EXPECT_GT(sw, w);
  PageBitmap framed = Blank(1728, 400);
  r.DrawMark(stamp, framed, true);
  for (int col = sx; col < sx + sw; ++col) ASSERT_TRUE(framed.black(col, sy) && framed.black(col, sy + sh - 1));
  EXPECT_EQ(BlackCount(framed, x, y, x + w, y + h), inside) << "the frame keeps off the text";
}

// Turning a page: a half turn maps (x, y) to the opposite corner; a quarter turn of a standard page
// works on fine rows (each standard row becomes two columns) and makes the page fine.
TEST(PageMarks, RotatePage) {
  PageBitmap page = Blank(40, 10);
  SetPixel({page.row(2), 6}, 3, true);
  bool fine = true;
  PageBitmap half = page;
  ASSERT_EQ(RotatePage(half, fine, PageRotation::Half), 0);
  EXPECT_EQ(BlackCount(half), 1);
  EXPECT_TRUE(half.black(36, 7));
  EXPECT_TRUE(fine);

  fine = false;
  PageBitmap quarter = page;
  ASSERT_EQ(RotatePage(quarter, fine, PageRotation::Quarter), 0);
  EXPECT_TRUE(fine);
  EXPECT_EQ(quarter.width, 20);
  EXPECT_EQ(quarter.height, 40);
  EXPECT_EQ(BlackCount(quarter), 2);
  // Standard row 2 is fine rows 4 and 5; clockwise they become columns 15 and 14 of row 3.
  EXPECT_TRUE(quarter.black(15, 3) && quarter.black(14, 3));

  fine = true;
  PageBitmap back = page;
  ASSERT_EQ(RotatePage(back, fine, PageRotation::ThreeQuarters), 0);
  EXPECT_TRUE(back.black(2, 36));
}

// The document exports draw the marks onto the page as the user sees it (turned first), and with no
// marks set give the fax's own pixels.
TEST(PageMarks, DocumentExportDrawsRotationThenMarks) {
  TempDir dir;
  std::vector<std::vector<uint8_t>> rows(200, BlankRow(1728));
  rows[10] = RowWithPixel(1728, 5);
  QvfBuilder b;
  b.recordPage(rows, 1728, false);
  const std::string fax = dir.file("fax.qvf");
  b.save(fax);

  UnpackerState plain;
  std::vector<ExportPage> pages;
  ASSERT_EQ(UnpackAllPagesForExport(plain, fax, pages), 0);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_FALSE(pages[0].fine);
  EXPECT_EQ(BlackCount(pages[0].bitmap), 1);
  EXPECT_TRUE(pages[0].bitmap.black(5, 10));

  auto marks = std::make_shared<FaxMarks>();
  marks->SetRotation(1, PageRotation::Half);
  marks->marks.push_back(Mark::Box(MarkKind::Whiteout, 1, 1700, 360, 28, 40));
  marks->marks.push_back(Mark::Stroke(MarkKind::Pen, 1, 2, {{0, 0}, {9, 0}}));
  UnpackerState marked;
  marked.Marks = marks;
  ASSERT_EQ(UnpackAllPagesForExport(marked, fax, pages), 0);
  EXPECT_FALSE(pages[0].fine) << "a half turn keeps the resolution";
  // The pixel went to (1722, 189) by the turn, then the white-out (rows 180..199) took it; the pen
  // line at units 0..1 is row 0 of the standard page.
  EXPECT_EQ(BlackCount(pages[0].bitmap), 10);
  for (int x = 0; x < 10; ++x) EXPECT_TRUE(pages[0].bitmap.black(x, 0));
}
