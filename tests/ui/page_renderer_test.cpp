// Pages drawn for sending: size and format, page counts, crisp one-bit text, dithered pictures,
// merge fields filled at render time, and the rule for an editor with nothing to send.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include <QTextDocument>
#include <QTextEdit>

#include "ui/page_renderer.h"
#include "ui/rich_edit.h"
#include "ui_test_support.h"

using namespace qv;
using namespace qv::ui;
using namespace qv::ui::test;

namespace {

class PageRendererTest : public ::testing::Test {
 protected:
  void SetUp() override { App(); }
};

int64_t Ink(const QImage& img, QRect r = {}) {
  if (r.isNull()) r = img.rect();
  int64_t n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (img.pixelIndex(x, y) == 1) ++n;
  return n;
}

rtf::Document TextPages(int paragraphs, int halfPoints = 20) {
  rtf::Document doc;
  rtf::CharFormat f;
  f.halfPoints = halfPoints;
  for (int i = 0; i < paragraphs; ++i) doc.paragraphs.push_back(Para({TextRun(Words(60, i), f)}));
  return doc;
}

std::vector<uint8_t> GradientPng(int w, int h) {
  QImage img(w, h, QImage::Format_Grayscale8);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.scanLine(y)[x] = uint8_t(x * 255 / (w - 1));
  QByteArray b;
  QBuffer buf(&b);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "PNG");
  return {b.begin(), b.end()};
}

}  // namespace

TEST_F(PageRendererTest, PagesAreOneBitOfTheFaxSizeWithInkInsideTheMargins) {
  PageRenderer r(TextPages(3));
  EXPECT_EQ(r.PageCount(), 1);
  QImage page;
  EXPECT_EQ(r.RenderPage(1, page), 0);
  EXPECT_EQ(page.format(), QImage::Format_Mono);
  EXPECT_EQ(page.size(), QSize(kRenderPageWidth, kRenderPageHeight));
  EXPECT_EQ(page.color(1) & 0xFFFFFF, 0u) << "index 1 is black";
  EXPECT_GT(Ink(page), 10000);
  QRect inner(kRenderMargin, kRenderMargin, kRenderPageWidth - 2 * kRenderMargin,
              kRenderPageHeight - 2 * kRenderMargin);
  EXPECT_EQ(Ink(page), Ink(page, inner)) << "nothing drawn in the margins";
  EXPECT_TRUE(inner.contains(r.TextRect()));
  // The default page (8.5 x 11 in, 0.5 in margins) lays out 7.5 inches wide at 200 dpi.
  EXPECT_EQ(r.TextRect().width(), 1500);
}

TEST_F(PageRendererTest, TextIsCrispNotThresholdedGrey) {
  // Text without antialiasing rendered twice gives identical bits, and its strokes have no
  // isolated specks: nearly every black pixel has a black 4-neighbour.
  PageRenderer r(TextPages(6));
  QImage a, b;
  r.RenderPage(1, a);
  r.RenderPage(1, b);
  EXPECT_EQ(a, b);
  int64_t black = 0, lonely = 0;
  for (int y = 1; y < a.height() - 1; ++y)
    for (int x = 1; x < a.width() - 1; ++x) {
      if (a.pixelIndex(x, y) != 1) continue;
      ++black;
      if (a.pixelIndex(x - 1, y) != 1 && a.pixelIndex(x + 1, y) != 1 &&
          a.pixelIndex(x, y - 1) != 1 && a.pixelIndex(x, y + 1) != 1)
        ++lonely;
    }
  ASSERT_GT(black, 0);
  EXPECT_LT(double(lonely) / double(black), 0.002);
}

TEST_F(PageRendererTest, ExplicitBreaksAlwaysStartPagesAndLongTextPaginates) {
  rtf::Document doc;
  rtf::ParaFormat brk;
  brk.pageBreakBefore = true;
  doc.paragraphs.push_back(Para({TextRun("one")}));
  doc.paragraphs.push_back(Para({TextRun("two")}, brk));
  doc.paragraphs.push_back(Para({TextRun("three")}, brk));
  PageRenderer r(doc);
  ASSERT_EQ(r.PageCount(), 3);
  QImage page;
  int next = 1, rendered = 0;
  while (next) {
    next = r.RenderPage(next, page);
    ++rendered;
    EXPECT_GT(Ink(page), 0) << "page " << rendered;
  }
  EXPECT_EQ(rendered, 3);
  EXPECT_EQ(r.RenderPage(4, page), 0);
  EXPECT_EQ(Ink(page), 0) << "a page past the end is blank";
  EXPECT_EQ(r.RenderPage(0, page), 2) << "page 0 is the first page";

  // 10-point text: 60-word paragraphs of about 6 lines; about 65 lines of 10-point text on a
  // 10-inch text height, so 100 paragraphs (~600 lines + spacing) make about 9-10 pages.
  rtf::Document longDoc = TextPages(100);
  PageRenderer lr(longDoc);
  QImage last;
  int count = lr.PageCount();
  EXPECT_GE(count, 8);
  EXPECT_LE(count, 12);
  EXPECT_EQ(lr.RenderPage(count, last), 0);
  EXPECT_GT(Ink(last), 0);
  // A break on a paragraph that already starts a page adds none... but each break does start one.
  rtf::Document breaks = TextPages(10);
  for (auto& p : breaks.paragraphs) p.format.pageBreakBefore = true;
  EXPECT_EQ(PageRenderer(breaks).PageCount(), 10);
}

TEST_F(PageRendererTest, MergeFieldsAreFilledCutOrLeftEmpty) {
  rtf::Document doc;
  rtf::CharFormat big;
  big.halfPoints = 48;
  doc.paragraphs.push_back(Para({FieldRun(1, "[RECIPIENT]", big)}));
  QImage withPlaceholder, withValue, withEmpty, withLong, withCut;
  PageRenderer(doc).RenderPage(1, withPlaceholder);
  PageRenderer(doc, [](int) { return QString("Ann"); }).RenderPage(1, withValue);
  PageRenderer(doc, [](int) { return QString(); }).RenderPage(1, withEmpty);
  QString w100(100, QLatin1Char('W'));
  PageRenderer(doc, [&](int) { return w100 + "MORE TEXT"; }).RenderPage(1, withLong);
  PageRenderer(doc, [&](int) { return w100; }).RenderPage(1, withCut);
  EXPECT_GT(Ink(withPlaceholder), 0) << "no callback: the placeholder";
  EXPECT_GT(Ink(withValue), 0);
  EXPECT_LT(Ink(withValue), Ink(withPlaceholder));
  EXPECT_EQ(Ink(withEmpty), 0) << "an empty value is empty text";
  EXPECT_EQ(withLong, withCut) << "values are cut to 100 characters";
}

TEST_F(PageRendererTest, PicturesAreDitheredAndScaledIntoThePage) {
  rtf::Document doc;
  rtf::Run pic;
  pic.kind = rtf::Run::Kind::Picture;
  pic.picture.data = GradientPng(256, 64);
  pic.picture.pixelWidth = 256;
  pic.picture.pixelHeight = 64;
  pic.picture.widthTwips = 30 * 1440;  // far wider than the page: shown scaled down to fit
  pic.picture.heightTwips = 30 * 1440 / 4;
  doc.paragraphs.push_back(Para({pic}));
  PageRenderer r(doc);
  EXPECT_EQ(r.PageCount(), 1);
  QImage page;
  r.RenderPage(1, page);
  QRect tr = r.TextRect();
  // Along the gradient the share of black falls from dark to light.
  auto share = [&](int x0) {
    QRect box(tr.left() + x0, tr.top() + 20, 60, 60);
    return double(Ink(page, box)) / (60.0 * 60.0);
  };
  double dark = share(20), mid = share(tr.width() / 2 - 30), light = share(tr.width() - 100);
  EXPECT_GT(dark, 0.8);
  EXPECT_GT(mid, 0.3);
  EXPECT_LT(mid, 0.7);
  EXPECT_LT(light, 0.2);
  EXPECT_EQ(Ink(page, QRect(tr.right() + 1, 0, kRenderPageWidth - tr.right() - 1, kRenderPageHeight)), 0);
}

TEST_F(PageRendererTest, BlackAndWhitePicturesArriveBitForBit) {
  // A pure black-and-white pattern shown at exactly its pixel size (one inch = 200 pixels) passes
  // undithered: every pixel lands on the fax page where it was, whatever its place in a byte.
  // The pattern is irregular so that a bit order or byte boundary slip shows.
  constexpr int kW = 400, kH = 100;
  auto black = [](int x, int y) { return (x * 7 + y * 3) % 5 < 2 || x % 13 == 0; };
  QImage pattern(kW, kH, QImage::Format_Grayscale8);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) pattern.scanLine(y)[x] = black(x, y) ? 0 : 255;
  QByteArray png;
  QBuffer buf(&png);
  buf.open(QIODevice::WriteOnly);
  pattern.save(&buf, "PNG");
  rtf::Run pic;
  pic.kind = rtf::Run::Kind::Picture;
  pic.picture.data.assign(png.begin(), png.end());
  pic.picture.pixelWidth = kW;
  pic.picture.pixelHeight = kH;
  pic.picture.widthTwips = kW * 1440 / kRenderDpi;
  pic.picture.heightTwips = kH * 1440 / kRenderDpi;
  rtf::Document doc;
  doc.paragraphs.push_back(Para({pic}));
  PageRenderer r(doc);
  QImage page;
  r.RenderPage(1, page);
  // Where the picture sits: the first black pixel (the pattern's top-left pixel is black).
  QPoint origin(-1, -1);
  for (int y = 0; y < page.height() && origin.x() < 0; ++y)
    for (int x = 0; x < page.width(); ++x)
      if (page.pixelIndex(x, y) == 1) {
        origin = QPoint(x, y);
        break;
      }
  ASSERT_TRUE(r.TextRect().contains(origin));
  int wrong = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      wrong += (page.pixelIndex(origin.x() + x, origin.y() + y) == 1) != black(x, y);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(Ink(page), [&] {
    int64_t n = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) n += black(x, y);
    return n;
  }()) << "nothing else inked";
}

TEST_F(PageRendererTest, WhatCountsAsNothingToSend) {
  rtf::Document doc;
  EXPECT_TRUE(IsBlankForSending(doc));
  doc.paragraphs.push_back(Para({TextRun("  \t ")}));
  for (int i = 0; i < 50; ++i) doc.paragraphs.push_back(Para({}));
  EXPECT_TRUE(IsBlankForSending(doc));
  doc.paragraphs.push_back(Para({TextRun("x")}));
  EXPECT_FALSE(IsBlankForSending(doc));

  // Past line 201 of a short text a word is still content.
  rtf::Document late;
  for (int i = 0; i < 220; ++i) late.paragraphs.push_back(Para({}));
  EXPECT_TRUE(IsBlankForSending(late));
  late.paragraphs.push_back(Para({TextRun("Hi")}));
  EXPECT_FALSE(IsBlankForSending(late));

  // 256 blanks or more are content (drawn as empty pages), as is a field or a picture.
  rtf::Document spaces;
  spaces.paragraphs.push_back(Para({TextRun(std::string(256, ' '))}));
  EXPECT_FALSE(IsBlankForSending(spaces));
  rtf::Document field;
  field.paragraphs.push_back(Para({FieldRun(3, "[SUBJECT]")}));
  EXPECT_FALSE(IsBlankForSending(field));
  rtf::Document picture;
  rtf::Run pic;
  pic.kind = rtf::Run::Kind::Picture;
  pic.picture.data = GradientPng(8, 8);
  picture.paragraphs.push_back(Para({pic}));
  EXPECT_FALSE(IsBlankForSending(picture)) << "a page that is only a picture is sent";
}

TEST_F(PageRendererTest, IndentsAndSpacingAreTheirLengthOnTheFaxPage) {
  // One inch of left indent is 200 pixels at fax resolution; one inch of space before, too.
  rtf::Document doc;
  rtf::ParaFormat p;
  p.leftIndent = 1440;
  p.spaceBefore = 1440;
  rtf::CharFormat big;
  big.halfPoints = 40;
  doc.paragraphs.push_back(Para({}));  // space before is dropped at the top of a page
  doc.paragraphs.push_back(Para({TextRun("Indented", big)}, p));
  PageRenderer r(doc);
  QImage page;
  r.RenderPage(1, page);
  int minX = page.width(), minY = page.height();
  for (int y = 0; y < page.height(); ++y)
    for (int x = 0; x < page.width(); ++x)
      if (page.pixelIndex(x, y) == 1) {
        minX = std::min(minX, x);
        minY = std::min(minY, y);
      }
  QRect tr = r.TextRect();
  EXPECT_NEAR(minX - tr.left(), 200, 12);
  // An empty 12-point line (about 47 pixels), the inch, and a little above the capital.
  EXPECT_NEAR(minY - tr.top(), 47 + 200 + 10, 20);
}

TEST_F(PageRendererTest, TheEditorShowsThePagesThatAreSent) {
  for (int halfPoints : {20, 24}) {
    rtf::Document doc = TextPages(120, halfPoints);
    for (int i = 0; i < 120; i += 17) doc.paragraphs[size_t(i)].format.pageBreakBefore = true;
    TQvRichEdit e;
    e.SetDocument(doc);
    int editorPages = e.TextEdit()->document()->pageCount();
    int sent = PageRenderer(doc).PageCount();
    EXPECT_GT(sent, 8);
    EXPECT_NEAR(editorPages, sent, 1) << halfPoints / 2 << " points";
  }
}

namespace {

// The longest run of black pixels along one row of the page.
int LongestBlackRun(const QImage& img) {
  int best = 0;
  for (int y = 0; y < img.height(); ++y) {
    int run = 0;
    for (int x = 0; x < img.width(); ++x) {
      run = img.pixelIndex(x, y) == 1 ? run + 1 : 0;
      best = std::max(best, run);
    }
  }
  return best;
}

}  // namespace

TEST_F(PageRendererTest, ListMarkersAndTableBordersAreDrawn) {
  auto render = [](const rtf::Document& doc) {
    QImage page;
    PageRenderer(doc).RenderPage(1, page);
    return page;
  };
  rtf::Document plain;
  plain.paragraphs.push_back(Para({TextRun("Item")}));
  rtf::Document listed = plain;
  listed.paragraphs[0].list = {rtf::ListStyle::Decimal, 1, 0};
  const QImage plainPage = render(plain), listPage = render(listed);
  // The number stands in the list's indent, before the text, which is indented by it.
  const QRect tr = PageRenderer(plain).TextRect();
  const int indent = int(std::lround(rtf::kListIndentTwips / 1440.0 * kRenderDpi));
  const QRect firstLine(tr.left(), tr.top(), tr.width(), 60);
  EXPECT_GT(Ink(listPage, firstLine), Ink(plainPage, firstLine) + 50) << "the number is drawn";
  int plainLeft = tr.right(), listTextLeft = tr.right();
  for (int x = tr.left(); x < tr.right() && plainLeft == tr.right(); ++x)
    if (Ink(plainPage, QRect(x, tr.top(), 1, 60)) > 0) plainLeft = x;
  // The list's text: the first ink after a gap of white following the number.
  for (int x = tr.left() + indent - 4; x < tr.right() && listTextLeft == tr.right(); ++x)
    if (Ink(listPage, QRect(x, tr.top(), 1, 60)) > 0) listTextLeft = x;
  EXPECT_NEAR(listTextLeft - plainLeft, indent, 4);

  rtf::Document table;
  for (int column = 0; column < 2; ++column) {
    rtf::Paragraph p = Para({TextRun("cell")});
    p.cell = {1, 0, column, 2880, true};
    table.paragraphs.push_back(p);
  }
  const int tableWidth = int(std::lround(2 * 2880 / 1440.0 * kRenderDpi));
  EXPECT_GE(LongestBlackRun(render(table)), tableWidth - 4) << "the borders run the table's width";
  for (rtf::Paragraph& p : table.paragraphs) p.cell.borders = false;
  EXPECT_LT(LongestBlackRun(render(table)), 100) << "no borders: only the text";
}
