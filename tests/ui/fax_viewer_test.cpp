#include "ui/fax_viewer.h"

#include <QClipboard>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <random>

#include "core/error_codes.h"
#include "core/exceptions.h"
#include "fax_files.h"
#include "ui/fax_thumbnails.h"
#include "ui_test_support.h"

namespace qv::ui {
namespace {

using test::Block;
using test::FaxPage;
using test::NumberedPage;
using test::WriteFax;
using qv::faximage::PageBitmap;

int CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return qv::core::ErrorCodeFromException(e);
  }
  return 0;
}

// The application comes before any widget.
struct AppFirst {
  AppFirst() { test::App(); }
};

class FaxViewerTest : public ::testing::Test, private AppFirst {
 protected:
  void SetUp() override {
    viewer_.resize(400, 300);
    viewer_.show();
  }
  QString File(const char* name) const { return dir_.filePath(QLatin1String(name)); }
  QString Numbered(int pages, const char* name = "numbered.qvf") {
    std::vector<FaxPage> p;
    for (int i = 1; i <= pages; ++i) p.push_back(NumberedPage(i));
    const QString f = File(name);
    EXPECT_TRUE(WriteFax(f, p));
    return f;
  }
  // The page's identity: the width of its top-left block, in hundreds of pixels.
  int PageNumberShown() const {
    const auto* b = viewer_.CurrentBitmap();
    if (!b) return 0;
    int w = 0;
    while (w < b->width && b->black(w, 0)) ++w;
    return w / 100;
  }
  void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(&viewer_, Qt::Key(key), mods);
  }
  void Mouse(QEvent::Type type, QPoint pos) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, QPointF(pos), viewer_.viewport()->mapToGlobal(QPointF(pos)), Qt::LeftButton, held,
                  Qt::NoModifier);
    QApplication::sendEvent(viewer_.viewport(), &e);
  }

  QTemporaryDir dir_;
  TQvFaxViewer viewer_;
};

TEST_F(FaxViewerTest, KeysTurnPagesAndStopAtEitherEnd) {
  viewer_.SetFileName(Numbered(3));
  QSignalSpy changes(&viewer_, &TQvFaxViewer::PageChange);
  EXPECT_EQ(viewer_.NumPages(), 3);
  EXPECT_EQ(PageNumberShown(), 1);
  Key(Qt::Key_PageUp);  // before the first page: nothing
  EXPECT_EQ(viewer_.ActivePage(), 1);
  EXPECT_EQ(changes.count(), 0);
  Key(Qt::Key_PageDown);
  EXPECT_EQ(viewer_.ActivePage(), 2);
  EXPECT_EQ(PageNumberShown(), 2);
  Key(Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(PageNumberShown(), 3);
  Key(Qt::Key_PageDown);  // past the last page: nothing
  EXPECT_EQ(viewer_.ActivePage(), 3);
  EXPECT_EQ(changes.count(), 2);
  Key(Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(PageNumberShown(), 1);
  viewer_.NextPage();
  viewer_.PrevPage();
  EXPECT_EQ(viewer_.ActivePage(), 1);
  EXPECT_EQ(CodeOf([&] { viewer_.SetActivePage(0); }), qv::core::ecBadArgument);
  EXPECT_EQ(CodeOf([&] { viewer_.SetActivePage(4); }), qv::core::ecBadArgument);
}

TEST_F(FaxViewerTest, ArrowsAndCtrlEndScrollAOnePageFax) {
  // A tall, wide page in a small window: there is room to scroll both ways.
  ASSERT_TRUE(WriteFax(File("one.qvf"), {FaxPage{1728, 1500, true, Block(0, 0, 1728, 4)}}));
  viewer_.SetFileName(File("one.qvf"));
  viewer_.SetVertScroll(10);
  Key(Qt::Key_Down);
  EXPECT_EQ(viewer_.VScrollPos(), 10);
  Key(Qt::Key_Down, Qt::ControlModifier);
  EXPECT_EQ(viewer_.VScrollPos(), 110);
  Key(Qt::Key_End);  // right edge
  EXPECT_EQ(viewer_.HScrollPos(), viewer_.horizontalScrollBar()->maximum());
  EXPECT_GT(viewer_.HScrollPos(), 0);
  Key(Qt::Key_PageDown, Qt::ControlModifier);  // bottom of the page
  EXPECT_EQ(viewer_.VScrollPos(), viewer_.ScaledHeight() - viewer_.viewport()->height());
  Key(Qt::Key_End, Qt::ControlModifier);  // last page of a one-page fax: back to the top-left
  EXPECT_EQ(viewer_.VScrollPos(), 0);
  EXPECT_EQ(viewer_.HScrollPos(), 0);
  EXPECT_EQ(viewer_.ActivePage(), 1);
}

TEST_F(FaxViewerTest, StandardPagesKeepThePapersProportions) {
  ASSERT_TRUE(WriteFax(File("std.qvf"), {FaxPage{1728, 100, false, Block(0, 0, 1600, 100)}}));
  viewer_.SetFileName(File("std.qvf"));  // default: rows doubled
  EXPECT_EQ(viewer_.PageHeight(), 200);
  EXPECT_EQ(viewer_.PageWidth(), 1600);
  viewer_.SetFileName(QString());
  viewer_.SetAutoScaleMode(qv::faximage::asHalfWidth);
  viewer_.SetFileName(File("std.qvf"));
  EXPECT_EQ(viewer_.PageHeight(), 100);
  EXPECT_EQ(viewer_.PageWidth(), 800);
  viewer_.SetFileName(QString());
  viewer_.SetAutoScaleMode(qv::faximage::asNone);
  viewer_.SetFileName(File("std.qvf"));
  EXPECT_EQ(viewer_.PageHeight(), 100);
  EXPECT_EQ(viewer_.PageWidth(), 1600);
  // A fine page is left as it is in every mode.
  ASSERT_TRUE(WriteFax(File("fine.qvf"), {FaxPage{1728, 100, true, Block(0, 0, 1600, 100)}}));
  viewer_.SetAutoScaleMode(qv::faximage::asDoubleHeight);
  viewer_.SetFileName(File("fine.qvf"));
  EXPECT_EQ(viewer_.PageHeight(), 100);
}

TEST_F(FaxViewerTest, ScaleFactorsResetWithANewFileAndZeroIsIgnored) {
  viewer_.SetFileName(Numbered(2));
  const int w = viewer_.PageWidth(), h = viewer_.PageHeight();
  viewer_.BeginUpdate();
  viewer_.SetScaling(true);
  viewer_.SetHorizMult(1);
  viewer_.SetHorizDiv(2);
  viewer_.SetVertMult(3);
  viewer_.SetVertDiv(2);
  viewer_.SetVertDiv(0);  // ignored
  viewer_.EndUpdate();
  EXPECT_EQ(viewer_.ScaledWidth(), w / 2);
  EXPECT_EQ(viewer_.ScaledHeight(), h * 3 / 2);
  viewer_.SetScaling(false);
  EXPECT_EQ(viewer_.ScaledWidth(), w);
  viewer_.SetScaling(true);
  viewer_.SetHorizMult(2);
  EXPECT_EQ(viewer_.HorizMult(), 2);
  viewer_.SetFileName(Numbered(1, "other.qvf"));
  EXPECT_EQ(viewer_.HorizMult(), 1);
  EXPECT_EQ(viewer_.HorizDiv(), 1);
  EXPECT_EQ(viewer_.ScaledWidth(), viewer_.PageWidth());
}

TEST_F(FaxViewerTest, FittingShrinksWithGreyLevelsInsteadOfDroppingLines) {
  // Every other column black: a shrunk view averages to grey rather than all black or all white.
  ASSERT_TRUE(WriteFax(File("lines.qvf"), {FaxPage{1728, 800, true, [](int x, int) { return x % 2 == 0; }}}));
  viewer_.SetFileName(File("lines.qvf"));
  viewer_.FitToWindow(true);
  EXPECT_LE(viewer_.ScaledHeight(), viewer_.viewport()->height());
  EXPECT_LE(viewer_.ScaledWidth(), viewer_.viewport()->width());
  const double ratio = double(viewer_.ScaledWidth()) / viewer_.ScaledHeight();
  EXPECT_NEAR(ratio, double(viewer_.PageWidth()) / viewer_.PageHeight(), 0.02);
  const QImage smooth = RenderPageImage(*viewer_.CurrentBitmap(), 100, 100, qRgb(0, 0, 0), qRgb(255, 255, 255), true);
  EXPECT_NEAR(qGray(smooth.pixel(50, 50)), 128, 8);
  const QImage plain = RenderPageImage(*viewer_.CurrentBitmap(), 100, 100, qRgb(0, 0, 0), qRgb(255, 255, 255), false);
  EXPECT_TRUE(qGray(plain.pixel(50, 50)) == 0 || qGray(plain.pixel(50, 50)) == 255);
  // Colours: black pixels in FGColor, white ones in BGColor.
  const QImage red = RenderPageImage(*viewer_.CurrentBitmap(), 1728, 10, qRgb(200, 0, 0), qRgb(0, 0, 50), false);
  EXPECT_EQ(red.pixel(0, 0), qRgb(200, 0, 0));
  EXPECT_EQ(red.pixel(1, 0), qRgb(0, 0, 50));
}

// The scaler against a pixel-by-pixel reference: a shrunk target pixel is the share of black
// among the source pixels it covers (columns x * width / w, rows y0..y1 as the viewer bands them);
// otherwise it samples its nearest source pixel. Pages of random density with blank and solid
// rows, both polarities, odd widths, columns straddling bytes and bands too tall for packed counts.
TEST(RenderPageImageTest, AgreesWithAPixelByPixelBoxAverage) {
  std::mt19937 rng(99);
  auto page = [&rng](int w, int h, bool inverted) {
    PageBitmap b;
    b.width = w;
    b.height = h;
    b.stride = ((w + 15) / 16) * 2;
    b.inverted = inverted;
    b.bits.assign(size_t(b.stride) * size_t(h), 0);
    for (int y = 0; y < h; ++y) {
      const int kind = int(rng() % 6);  // blank, solid, sparse, dense, short runs, long runs
      bool black = false;
      for (int x = 0; x < w; ++x) {
        if (kind == 1) black = true;
        else if (kind == 2) black = rng() % 50 == 0;
        else if (kind == 3) black = rng() % 2 == 0;
        else if (kind == 4 && rng() % 3 == 0) black = !black;
        else if (kind == 5 && rng() % 200 == 0) black = !black;
        if (black) b.row(y)[x >> 3] |= uint8_t(0x80 >> (x & 7));
      }
      if (inverted)  // 1 = white; the bits beyond the width stay white
        for (int x = 0; x < b.stride * 8; ++x) b.row(y)[x >> 3] ^= uint8_t(0x80 >> (x & 7));
    }
    return b;
  };
  auto expected = [](const PageBitmap& b, int width, int height, bool smooth, int tx, int ty) {
    const int w = b.width, h = b.height;
    const bool sx = smooth && width < w, sy = smooth && height < h;
    int x0 = int(int64_t(tx) * w / width), x1 = x0 + 1;
    if (sx) {
      x0 = int((int64_t(tx) * w + width - 1) / width);  // the first x with x * width / w == tx
      x1 = x0;
      while (x1 < w && int64_t(x1) * width / w == tx) ++x1;
    }
    const int y0 = int(int64_t(ty) * h / height);
    const int y1 = sy ? std::max(y0 + 1, int(int64_t(ty + 1) * h / height)) : y0 + 1;
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += b.black(x, y);
    const int total = (x1 - x0) * (y1 - y0);
    return 255 - std::min(255, (n * 255 + total / 2) / total);  // black on white: grey = 255 - level
  };
  struct Case {
    int w, h, width, height;
    bool smooth;
  };
  const Case cases[] = {
      {1728, 300, 864, 150, true},   // the viewer's "100%" on a fine page
      {1728, 300, 1000, 173, true},  // columns straddling bytes
      {1728, 300, 1727, 299, true},  // barely shrunk
      {1728, 300, 150, 40, true},    // more than eight pixels a column
      {1728, 300, 20, 10, true},     // columns wider than eight bytes
      {1728, 300, 864, 300, true},   // shrunk across only
      {1728, 300, 1728, 100, true},  // shrunk down only
      {1001, 700, 333, 20, true},    // odd width; 35 rows a band: counted without packing
      {2048, 120, 2048, 120, true},  // same size
      {1728, 100, 2000, 250, true},  // enlarged
      {1728, 300, 864, 150, false},  // sampled
  };
  for (const Case& c : cases)
    for (bool inverted : {false, true}) {
      const PageBitmap b = page(c.w, c.h, inverted);
      const QImage img = RenderPageImage(b, c.width, c.height, qRgb(0, 0, 0), qRgb(255, 255, 255), c.smooth);
      ASSERT_EQ(img.size(), QSize(c.width, c.height));
      int wrong = 0;
      for (int ty = 0; ty < c.height; ++ty)
        for (int tx = 0; tx < c.width; ++tx) {
          const QRgb px = img.pixel(tx, ty);
          const int want = expected(b, c.width, c.height, c.smooth, tx, ty);
          if (qRed(px) != want || qGreen(px) != want || qBlue(px) != want) {
            if (++wrong <= 3)
              ADD_FAILURE() << c.w << "x" << c.h << " -> " << c.width << "x" << c.height
                            << (inverted ? " inverted" : "") << " at " << tx << "," << ty << ": "
                            << qRed(px) << " want " << want;
          }
        }
      EXPECT_EQ(wrong, 0);
    }
  // Colours: levels between BGColor and FGColor.
  const PageBitmap b = page(64, 2, false);
  const QImage img = RenderPageImage(b, 32, 1, qRgb(200, 0, 0), qRgb(0, 0, 50), true);
  for (int tx = 0; tx < 32; ++tx) {
    const int level = 255 - expected(b, 32, 1, true, tx, 0);
    EXPECT_EQ(img.pixel(tx, 0), qRgb((200 * level + 127) / 255, 0, (50 * (255 - level) + 127) / 255)) << tx;
  }
}

TEST_F(FaxViewerTest, RotationTurnsByTheDifferenceAndBack) {
  // A mark near the top-left corner of a wide, short page.
  ASSERT_TRUE(WriteFax(File("rot.qvf"), {FaxPage{1728, 100, true, [](int x, int y) {
                                               return (x < 10 && y < 5) || (x == 799 && y == 99);
                                             }}}));
  viewer_.SetFileName(File("rot.qvf"));
  const auto original = *viewer_.CurrentBitmap();
  const int w = original.width, h = original.height;
  viewer_.SetRotation(1);  // 90 degrees clockwise: the top-left corner goes to the top right
  const auto* r = viewer_.CurrentBitmap();
  EXPECT_EQ(r->width, h);
  EXPECT_EQ(r->height, w);
  EXPECT_TRUE(r->black(h - 1, 0));
  EXPECT_TRUE(r->black(h - 5, 9));
  EXPECT_FALSE(r->black(0, 0));
  EXPECT_TRUE(r->black(h - 1 - 99, 799));
  viewer_.SetRotation(2);
  EXPECT_TRUE(viewer_.CurrentBitmap()->black(w - 1, h - 1));
  EXPECT_EQ(viewer_.CurrentBitmap()->width, w);
  viewer_.SetRotation(3);
  EXPECT_TRUE(viewer_.CurrentBitmap()->black(0, w - 1));
  viewer_.SetRotation(0);  // 270 more degrees: the page as decoded
  EXPECT_EQ(viewer_.CurrentBitmap()->width, w);
  EXPECT_EQ(viewer_.CurrentBitmap()->height, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_EQ(viewer_.CurrentBitmap()->black(x, y), original.black(x, y)) << x << "," << y;
}

TEST_F(FaxViewerTest, RotationCarriesOverToTheNextPage) {
  viewer_.SetFileName(Numbered(2));
  viewer_.SetRotation(1);
  viewer_.NextPage();
  const auto* b = viewer_.CurrentBitmap();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->height, 208);  // page 2's block is 200 pixels wide, cut at 16-pixel steps
  EXPECT_EQ(b->width, 400);
}

TEST_F(FaxViewerTest, WhitespaceCompressionShortensBlankRuns) {
  ASSERT_TRUE(WriteFax(File("ws.qvf"), {FaxPage{1728, 300, true, [](int x, int y) {
                                              return x < 64 && (y == 0 || y == 299);
                                            }}}));
  viewer_.SetFileName(File("ws.qvf"));
  EXPECT_EQ(viewer_.PageHeight(), 300);
  viewer_.SetFileName(QString());
  viewer_.SetWhitespaceCompression(true);
  viewer_.SetWhitespaceFrom(50);
  viewer_.SetWhitespaceTo(10);
  viewer_.SetFileName(File("ws.qvf"));
  EXPECT_EQ(viewer_.PageHeight(), 12);
  EXPECT_TRUE(viewer_.CurrentBitmap()->black(0, 11));
}

TEST_F(FaxViewerTest, MouseMarksNormalisedClampedAndCopiesPixels) {
  // Black block at (8..23, 4..11) on a small page.
  ASSERT_TRUE(WriteFax(File("mark.qvf"), {FaxPage{1728, 100, true, [](int x, int y) {
                                                return (x >= 8 && x < 24 && y >= 4 && y < 12) || (x == 199 && y == 0);
                                              }}}));
  viewer_.SetFileName(File("mark.qvf"));
  ASSERT_EQ(viewer_.PageWidth(), 208);
  // Dragged from bottom right to top left.
  Mouse(QEvent::MouseButtonPress, QPoint(40, 30));
  Mouse(QEvent::MouseMove, QPoint(20, 15));
  Mouse(QEvent::MouseMove, QPoint(4, 2));
  Mouse(QEvent::MouseButtonRelease, QPoint(4, 2));
  ASSERT_TRUE(viewer_.Marked());
  EXPECT_EQ(viewer_.MarkRect(), QRect(QPoint(4, 2), QPoint(40, 30)));
  QApplication::clipboard()->clear();
  Key(Qt::Key_C, Qt::ControlModifier);
  const QImage clip = QApplication::clipboard()->image();
  ASSERT_EQ(clip.size(), QSize(37, 29));
  EXPECT_EQ(qGray(clip.pixel(8 - 4, 4 - 2)), 0);     // block's top-left pixel
  EXPECT_EQ(qGray(clip.pixel(23 - 4, 11 - 2)), 0);   // its bottom-right pixel
  EXPECT_EQ(qGray(clip.pixel(24 - 4, 11 - 2)), 255);
  EXPECT_EQ(qGray(clip.pixel(0, 0)), 255);
  // Beyond the page the mark stops at its last row and column.
  Mouse(QEvent::MouseButtonPress, QPoint(100, 50));
  Mouse(QEvent::MouseMove, QPoint(399, 299));
  Mouse(QEvent::MouseButtonRelease, QPoint(399, 299));
  EXPECT_EQ(viewer_.MarkRect().right(), viewer_.ScaledWidth() - 1);
  EXPECT_EQ(viewer_.MarkRect().bottom(), viewer_.ScaledHeight() - 1);
  // A click without a drag leaves no mark, and copying then says so.
  Mouse(QEvent::MouseButtonPress, QPoint(10, 10));
  Mouse(QEvent::MouseButtonRelease, QPoint(10, 10));
  EXPECT_FALSE(viewer_.Marked());
  EXPECT_EQ(CodeOf([&] { viewer_.CopyToClipboard(); }), qv::core::ecNoImageBlockMarked);
  viewer_.SetFileName(QString());
  EXPECT_EQ(CodeOf([&] { viewer_.CopyToClipboard(); }), qv::core::ecNoImageLoaded);
  EXPECT_EQ(CodeOf([&] { viewer_.SelectAll(); }), qv::core::ecNoImageLoaded);
}

TEST_F(FaxViewerTest, CopyOfAShrunkViewIsStretchedFromThePagePixels) {
  // Black in the even columns only; shown at half width every screen column stands for an even
  // page column, so a plain copy of the screen-sized area would be a different picture.
  ASSERT_TRUE(WriteFax(File("half.qvf"), {FaxPage{1728, 40, true, [](int x, int y) {
                                                return x < 64 && x % 4 == 0 && y < 40;
                                              }}}));
  viewer_.SetFileName(File("half.qvf"));
  viewer_.BeginUpdate();
  viewer_.SetScaling(true);
  viewer_.SetHorizMult(1);
  viewer_.SetHorizDiv(2);
  viewer_.EndUpdate();
  viewer_.Select(QRect(0, 0, 32, 10));
  const QImage img = viewer_.MarkedImage();
  ASSERT_EQ(img.size(), QSize(32, 10));
  for (int x = 0; x < 32; ++x) EXPECT_EQ(qGray(img.pixel(x, 0)) == 0, (2 * x) % 4 == 0) << x;
}

TEST_F(FaxViewerTest, MarkingBeyondTheEdgeScrollsOnItsOwn) {
  ASSERT_TRUE(WriteFax(File("tall.qvf"), {FaxPage{1728, 2000, true, Block(0, 0, 1728, 2)}}));
  viewer_.SetFileName(File("tall.qvf"));
  Mouse(QEvent::MouseButtonPress, QPoint(10, 10));
  Mouse(QEvent::MouseMove, QPoint(50, viewer_.viewport()->height() + 40));  // far below
  QElapsedTimer t;
  t.start();
  while (viewer_.VScrollPos() < 40 && t.elapsed() < 10000) QTest::qWait(20);
  Mouse(QEvent::MouseButtonRelease, QPoint(50, viewer_.viewport()->height() + 40));
  EXPECT_GE(viewer_.VScrollPos(), 40);
  EXPECT_EQ(viewer_.MarkRect().top(), 10);
  EXPECT_GT(viewer_.MarkRect().bottom(), viewer_.viewport()->height());
}

TEST_F(FaxViewerTest, BadFilesGiveTheirCodes) {
  EXPECT_EQ(CodeOf([&] { viewer_.SetFileName(File("none.qvf")); }), qv::core::ecFileNotFound);
  QFile junk(File("junk.qvf"));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("this is not a fax file at all, but long enough for a header.............");
  junk.close();
  EXPECT_EQ(CodeOf([&] { viewer_.SetFileName(File("junk.qvf")); }), qv::core::ecFaxBadFormat);
  EXPECT_EQ(viewer_.NumPages(), 0);
  EXPECT_EQ(viewer_.ActivePage(), 0);
}

TEST_F(FaxViewerTest, AVanishedOrTruncatedFileKeepsThePageShown) {
  const QString f = Numbered(3);
  viewer_.SetFileName(f);
  QSignalSpy errors(&viewer_, &TQvFaxViewer::ViewerError);
  // Cut the file in the middle of page 2: page 3's header is gone.
  QFile file(f);
  const qint64 size = file.size();
  ASSERT_TRUE(file.resize(size * 2 / 3));
  viewer_.LastPage();
  ASSERT_EQ(errors.count(), 1);
  EXPECT_LT(errors.at(0).at(0).toInt(), 0);
  EXPECT_EQ(viewer_.FileName(), f);
  EXPECT_EQ(viewer_.ActivePage(), 1);
  EXPECT_EQ(PageNumberShown(), 1);
  // Deleted while shown: the page stays, turning says why it cannot.
  ASSERT_TRUE(QFile::remove(f));
  viewer_.NextPage();
  ASSERT_EQ(errors.count(), 2);
  EXPECT_EQ(errors.at(1).at(0).toInt(), qv::core::ecFileNotFound);
  EXPECT_EQ(PageNumberShown(), 1);
}

TEST_F(FaxViewerTest, LoadWholeFaxKeepsEveryPage) {
  const QString f = Numbered(3);
  viewer_.SetLoadWholeFax(true);
  viewer_.SetFileName(f);
  viewer_.SetRotation(2);
  ASSERT_TRUE(QFile::remove(f));  // nothing is read from now on
  QSignalSpy errors(&viewer_, &TQvFaxViewer::ViewerError);
  viewer_.LastPage();
  EXPECT_EQ(viewer_.ActivePage(), 3);
  EXPECT_EQ(errors.count(), 0);
  // Every kept page was turned, not only the one on screen.
  const auto* b = viewer_.CurrentBitmap();
  EXPECT_TRUE(b->black(b->width - 1, b->height - 1));
  viewer_.SetLoadWholeFax(false);
  viewer_.FirstPage();
  EXPECT_EQ(errors.count(), 1);  // page 1 was let go and cannot be read again
}

TEST_F(FaxViewerTest, DroppingTwoFilesLoadsTheFirst) {
  const QString first = Numbered(2, "first.qvf");
  const QString second = Numbered(3, "second.qvf");
  QSignalSpy drops(&viewer_, &TQvFaxViewer::DropFile);
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewer_.viewport(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewer_.viewport(), &drop);
  ASSERT_EQ(drops.count(), 1);
  EXPECT_EQ(drops.at(0).at(0).toString(), first);
  EXPECT_EQ(viewer_.FileName(), first);
  EXPECT_EQ(viewer_.NumPages(), 2);
}

// A file that fails the checks, by a drop or by name, changes nothing: the fax shown keeps its
// name, pages, page, turn and zoom, so print and export still have their file.
TEST_F(FaxViewerTest, AFileThatIsNoFaxLeavesTheFaxShownAsItWas) {
  const QString f = Numbered(3);
  viewer_.SetFileName(f);
  viewer_.NextPage();
  viewer_.SetRotation(1);
  viewer_.SetScaling(true);
  viewer_.SetHorizDiv(2);
  const int width = viewer_.PageWidth();
  const int scaled = viewer_.ScaledWidth();
  QFile text(File("notes.txt"));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("Shopping list: bread, milk, and a fax machine that does not forget its page.\n");
  text.close();
  // A QVF whose first page is cut off in its header: it passes the signature check only.
  ASSERT_TRUE(QFile::copy(f, File("cut.qvf")));
  ASSERT_TRUE(QFile(File("cut.qvf")).resize(70));

  auto expectUnchanged = [&](const char* what) {
    EXPECT_EQ(viewer_.FileName(), f) << what;
    EXPECT_EQ(viewer_.NumPages(), 3) << what;
    EXPECT_EQ(viewer_.ActivePage(), 2) << what;
    EXPECT_EQ(PageNumberShown(), 0) << what << ": turned, the block is no longer at the top left";
    EXPECT_EQ(viewer_.Rotation(), 1) << what;
    EXPECT_EQ(viewer_.HorizDiv(), 2) << what;
    EXPECT_EQ(viewer_.PageWidth(), width) << what;
    EXPECT_EQ(viewer_.ScaledWidth(), scaled) << what;
    EXPECT_NE(viewer_.CurrentBitmap(), nullptr) << what;
  };
  QSignalSpy errors(&viewer_, &TQvFaxViewer::ViewerError);
  QSignalSpy drops(&viewer_, &TQvFaxViewer::DropFile);
  const struct {
    QString file;
    int code;
  } bad[] = {{File("notes.txt"), qv::core::ecFaxBadFormat},
             {File("cut.qvf"), 0},  // whatever the reader says about the cut page
             {File("gone.qvf"), qv::core::ecFileNotFound}};
  for (const auto& b : bad) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(b.file)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewer_.viewport(), &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewer_.viewport(), &drop);
    ASSERT_EQ(errors.count(), 1) << b.file.toStdString();
    const int code = errors.takeFirst().at(0).toInt();
    if (b.code != 0) EXPECT_EQ(code, b.code) << b.file.toStdString();
    else EXPECT_LT(code, 0);
    expectUnchanged("drop");
    EXPECT_LT(CodeOf([&] { viewer_.SetFileName(b.file); }), 0);
    expectUnchanged("by name");
  }
  EXPECT_EQ(drops.count(), 0);
  // The fax shown still turns pages, from the kept turn.
  viewer_.NextPage();
  EXPECT_EQ(viewer_.ActivePage(), 3);
  EXPECT_EQ(viewer_.PageWidth(), width);
}

TEST_F(FaxViewerTest, ThumbnailsOfEveryPageAreMadeWithoutHoldingTheWindow) {
  const QString f = Numbered(6);
  TQvFaxThumbnails strip;
  QSignalSpy chosen(&strip, &TQvFaxThumbnails::PageChosen);
  strip.SetFaxFile(f, 6);
  EXPECT_EQ(strip.count(), 6);
  EXPECT_LT(strip.Done(), 6);  // made later, between events
  QElapsedTimer t;
  t.start();
  while (strip.Building() && t.elapsed() < 10000) QTest::qWait(10);
  EXPECT_EQ(strip.Done(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_FALSE(strip.item(i)->icon().isNull()) << i;
  const QImage thumb = MakeFaxThumbnail(f, 6);
  EXPECT_EQ(thumb.width(), kThumbnailWidth);
  // Page 6's block covers 600 of 1728 pixels: about a third of the thumbnail's top row is dark.
  EXPECT_LT(qGray(thumb.pixel(10, 0)), 200);
  EXPECT_EQ(qGray(thumb.pixel(60, 0)), 255);
  emit strip.itemClicked(strip.item(3));
  ASSERT_EQ(chosen.count(), 1);
  EXPECT_EQ(chosen.at(0).at(0).toInt(), 4);
}

// The thumbnails turn with the view: a picture made with a half turn has page 6's top-left block
// at its bottom right, and turning the strip makes its pictures again.
TEST_F(FaxViewerTest, ThumbnailsTurnWithTheView) {
  const QString f = Numbered(6);
  const QImage turned = MakeFaxThumbnail(f, 6, kThumbnailWidth, 2);
  ASSERT_FALSE(turned.isNull());
  EXPECT_EQ(qGray(turned.pixel(10, 0)), 255);
  EXPECT_LT(qGray(turned.pixel(turned.width() - 10, turned.height() - 1)), 200);
  const QImage sideways = MakeFaxThumbnail(f, 6, kThumbnailWidth, 1);
  EXPECT_GT(sideways.height(), sideways.width()) << "the page, wider than tall, stands up when turned a quarter";

  TQvFaxThumbnails strip;
  strip.SetFaxFile(f, 6);
  QElapsedTimer t;
  t.start();
  while (strip.Building() && t.elapsed() < 10000) QTest::qWait(10);
  strip.SetCurrentPage(4);
  strip.SetRotation(2);
  EXPECT_EQ(strip.Rotation(), 2);
  EXPECT_LT(strip.Done(), 6) << "the pictures are made again";
  EXPECT_EQ(strip.currentRow(), 3);
  while (strip.Building() && t.elapsed() < 20000) QTest::qWait(10);
  EXPECT_EQ(strip.Done(), 6);
}

}  // namespace
}  // namespace qv::ui
