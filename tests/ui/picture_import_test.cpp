// Pictures and PDF pages into the editor: kept in the memo, fitted to the page, one PDF page per
// fax page, and clear refusals for files that cannot be used.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextEdit>

#include "ui/page_renderer.h"
#include "ui/picture_import.h"
#include "ui/rich_edit.h"
#include "ui_test_support.h"

using namespace qv;
using namespace qv::ui;
using namespace qv::ui::test;

namespace {

class PictureImportTest : public ::testing::Test {
 protected:
  void SetUp() override { App(); }
  QString File(const QString& name) const { return dir_.path() + "/" + name; }
  QTemporaryDir dir_;
};

QImage Sample(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.fillRect(w / 4, h / 4, w / 2, h / 2, Qt::black);
  return img;
}

void WritePdf(const QString& name, int pages) {
  QPdfWriter pdf(name);
  pdf.setResolution(72);
  QPainter p(&pdf);
  for (int i = 0; i < pages; ++i) {
    if (i) pdf.newPage();
    QFont f("DejaVu Sans");
    f.setPointSize(40);
    p.setFont(f);
    p.drawText(72, 144, QStringLiteral("Page %1").arg(i + 1));
    p.fillRect(72, 300, 300, 200, Qt::black);
  }
}

}  // namespace

TEST_F(PictureImportTest, ImageFilesAreKeptAndFittedToThePage) {
  QImage img = Sample(400, 200);
  img.setDotsPerMeterX(3937);  // 100 dpi
  img.setDotsPerMeterY(3937);
  ASSERT_TRUE(img.save(File("a.png")));
  ASSERT_TRUE(img.save(File("a.jpg")));
  ASSERT_TRUE(img.save(File("a.bmp")));
  rtf::Picture png, jpg, bmp;
  ASSERT_TRUE(LoadPictureFile(File("a.png"), 10800, 14400, png));
  EXPECT_EQ(png.format, rtf::PictureFormat::Png);
  EXPECT_EQ(png.widthTwips, 400 * 1440 / 100) << "shown at its own resolution";
  QFile f(File("a.png"));
  f.open(QIODevice::ReadOnly);
  QByteArray raw = f.readAll();
  EXPECT_EQ(std::vector<uint8_t>(raw.begin(), raw.end()), png.data) << "PNG stored as it is";
  ASSERT_TRUE(LoadPictureFile(File("a.jpg"), 10800, 14400, jpg));
  EXPECT_EQ(jpg.format, rtf::PictureFormat::Jpeg);
  ASSERT_TRUE(LoadPictureFile(File("a.bmp"), 1440, 14400, bmp));
  EXPECT_EQ(bmp.format, rtf::PictureFormat::Png) << "BMP travels as PNG";
  EXPECT_EQ(bmp.widthTwips, 1440) << "scaled down to the width";
  EXPECT_EQ(bmp.heightTwips, 720);
  EXPECT_FALSE(QImage::fromData(bmp.data.data(), int(bmp.data.size())).isNull());

  QFile junk(File("junk.png"));
  junk.open(QIODevice::WriteOnly);
  junk.write("not a picture at all");
  junk.close();
  std::string error;
  rtf::Picture untouched;
  EXPECT_FALSE(LoadPictureFile(File("junk.png"), 10800, 14400, untouched, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(LoadPictureFile(File("missing.png"), 10800, 14400, untouched, &error));

  // Through the editor: stored in the memo and back.
  TQvRichEdit e;
  ASSERT_TRUE(e.InsertPicture(File("a.jpg")));
  rtf::Document doc = e.ToDocument();
  ASSERT_EQ(doc.paragraphs.size(), 1u);
  ASSERT_EQ(doc.paragraphs[0].runs.size(), 1u);
  EXPECT_EQ(doc.paragraphs[0].runs[0].picture, jpg);
  TQvRichEdit back;
  ASSERT_TRUE(back.LoadRtf(e.SaveRtf()));
  EXPECT_EQ(back.ToDocument(), doc);
  EXPECT_FALSE(IsBlankForSending(doc));
}

TEST_F(PictureImportTest, PdfPagesBecomeFullPagesOfTheirOwn) {
  if (!PdfAvailable()) GTEST_SKIP() << "built without Poppler";
  WritePdf(File("three.pdf"), 3);
  TQvRichEdit e;
  e.SetDocument([] {
    rtf::Document d;
    d.paragraphs.push_back(Para({TextRun("Cover text")}));
    return d;
  }());
  QTextCursor end = e.TextEdit()->textCursor();
  end.movePosition(QTextCursor::End);
  e.TextEdit()->setTextCursor(end);
  int calls = 0;
  std::string error;
  ASSERT_TRUE(e.InsertPdfPages(File("three.pdf"), &error, [&](int, int total) {
    EXPECT_EQ(total, 3);
    ++calls;
    return true;
  })) << error;
  EXPECT_GE(calls, 3);
  rtf::Document doc = e.ToDocument();
  ASSERT_EQ(doc.paragraphs.size(), 4u);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_TRUE(doc.paragraphs[i].format.pageBreakBefore);
    ASSERT_EQ(doc.paragraphs[i].runs.size(), 1u);
    EXPECT_EQ(doc.paragraphs[i].runs[0].kind, rtf::Run::Kind::Picture);
  }
  // Rendered: the cover page and one page per PDF page, each with ink where the box was drawn.
  PageRenderer r(doc);
  EXPECT_EQ(r.PageCount(), 4);
  QImage page;
  r.RenderPage(2, page);
  int black = 0;
  for (int y = 0; y < page.height(); y += 4)
    for (int x = 0; x < page.width(); x += 4) black += page.pixelIndex(x, y);
  EXPECT_GT(black, 1000);

  // Cancel, broken, too long: refused, the text unchanged.
  rtf::Document before = e.ToDocument();
  EXPECT_FALSE(e.InsertPdfPages(File("three.pdf"), &error, [](int done, int) { return done < 1; }));
  EXPECT_NE(error.find("cancelled"), std::string::npos);
  QFile broken(File("broken.pdf"));
  broken.open(QIODevice::WriteOnly);
  broken.write("%PDF-1.4\n1 0 obj << /Type /Catalog >> garbage");
  broken.close();
  EXPECT_FALSE(e.InsertPdfPages(File("broken.pdf"), &error));
  EXPECT_FALSE(error.empty());
  WritePdf(File("long.pdf"), kMaxPdfPages + 1);
  EXPECT_FALSE(e.InsertPdfPages(File("long.pdf"), &error));
  EXPECT_NE(error.find("at most"), std::string::npos);
  EXPECT_EQ(e.ToDocument(), before);
}
