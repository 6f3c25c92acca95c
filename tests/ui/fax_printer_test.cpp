#include "ui/fax_printer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "fax_files.h"
#include "ui/fax_printer_status.h"
#include "ui_test_support.h"

namespace qv::ui {
namespace {

using test::Block;
using test::FaxPage;
using test::WriteFax;

QString RunTool(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(30000) || p.exitCode() != 0) return QString();
  return QString::fromUtf8(p.readAllStandardOutput());
}

int PdfPages(const QString& pdf) {
  const QString info = RunTool(QStringLiteral("pdfinfo"), {pdf});
  const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
  return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Sheet n of the PDF as a grey picture at a low resolution.
QImage Sheet(const QString& pdf, int n, const QString& dir) {
  const QString prefix = dir + QStringLiteral("/sheet");
  RunTool(QStringLiteral("pdftoppm"), {QStringLiteral("-gray"), QStringLiteral("-r"), QStringLiteral("30"),
                                   QStringLiteral("-f"), QString::number(n), QStringLiteral("-l"),
                                   QString::number(n), QStringLiteral("-singlefile"), pdf, prefix});
  QImage img(prefix + QStringLiteral(".pgm"));
  QFile::remove(prefix + QStringLiteral(".pgm"));
  return img;
}

// Share of dark pixels in a part of a sheet.
double Ink(const QImage& img, QRectF part) {
  const QRect r(int(part.x() * img.width()), int(part.y() * img.height()), int(part.width() * img.width()),
                int(part.height() * img.height()));
  int dark = 0, all = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) {
      ++all;
      dark += qGray(img.pixel(x, y)) < 128;
    }
  return all ? double(dark) / all : 0;
}

class FaxPrinterTest : public ::testing::Test {
 protected:
  void SetUp() override { test::App(); }
  QString File(const char* name) const { return dir_.filePath(QLatin1String(name)); }
  // Pages whose upper half is black: ink shows where each fax page landed on the sheet.
  QString HalfBlackFax(int pages) {
    std::vector<FaxPage> p(size_t(pages), FaxPage{1728, 2200, true, Block(0, 0, 1728, 1100)});
    const QString f = File("half.qvf");
    EXPECT_TRUE(WriteFax(f, p));
    return f;
  }
  QString ReadLog() {
    QFile f(File("FAXPRINT.LOG"));
    if (!f.open(QIODevice::ReadOnly)) return QString();
    return QString::fromLocal8Bit(f.readAll());
  }

  QTemporaryDir dir_;
};

TEST_F(FaxPrinterTest, CaptionPlaceholdersAreReplacedByTheirWholeRun) {
  const QDateTime now(QDate(2026, 12, 9), QTime(13, 5));
  EXPECT_EQ(ExpandMarginCaption(QStringLiteral("FILE: $F"), QStringLiteral("/tmp/A B.qvf"), 2, 5, now),
            QStringLiteral("FILE: /tmp/A B.qvf"));
  EXPECT_EQ(ExpandMarginCaption(QStringLiteral("PAGE: $P of $N"), QString(), 2, 5, now), QStringLiteral("PAGE: 2 of 5"));
  EXPECT_EQ(ExpandMarginCaption(QStringLiteral("PAGE: $Pof $n"), QString(), 2, 5, now), QStringLiteral("PAGE: 2 5"));
  EXPECT_EQ(ExpandMarginCaption(QStringLiteral("a $Xyz b"), QString(), 1, 1, now), QStringLiteral("a  b"));
  EXPECT_EQ(ExpandMarginCaption(QStringLiteral("cost $ 5 $"), QString(), 1, 1, now), QStringLiteral("cost $ 5 $"));
  EXPECT_EQ(ExpandMarginCaption(QStringLiteral("$D"), QString(), 1, 1, now),
            QLocale::system().toString(now.date(), QLocale::ShortFormat));
}

TEST_F(FaxPrinterTest, FileNameSetsPageCountRangeAndResolution) {
  ASSERT_TRUE(WriteFax(File("w.qvf"), {FaxPage{2048, 20, false, Block(0, 0, 10, 10)}, FaxPage{}, FaxPage{}}));
  TQvFaxPrinter printer;
  printer.SetFileName(File("w.qvf"));
  EXPECT_EQ(printer.PageCount(), 3);
  EXPECT_EQ(printer.FirstPageToPrint(), 1);
  EXPECT_EQ(printer.LastPageToPrint(), 3);
  EXPECT_EQ(printer.FaxResolution(), 0);
  EXPECT_EQ(printer.FaxWidthCode(), 1);
  printer.SetFileName(File("missing.qvf"));
  EXPECT_EQ(printer.PageCount(), 0);
  EXPECT_EQ(printer.FirstPageToPrint(), 0);
  EXPECT_EQ(printer.LastPageToPrint(), 0);
}

TEST_F(FaxPrinterTest, FourToASheetInPortraitTwoInLandscape) {
  const QString fax = HalfBlackFax(5);
  const QString pdf = File("four.pdf");
  TFaxPrintOptions o;
  o.PdfFile = pdf;
  o.PagesPerSheet = 4;
  QString error;
  ASSERT_TRUE(TQvFaxPrinter::PrintFaxFile(fax, QString(), o, &error)) << error.toStdString();
  ASSERT_EQ(PdfPages(pdf), 2);
  const QImage first = Sheet(pdf, 1, dir_.path());
  ASSERT_FALSE(first.isNull());
  EXPECT_GT(first.height(), first.width());  // portrait
  // Each quarter: ink in its upper half (the fax page's black half), none in its lower half.
  for (int q = 0; q < 4; ++q) {
    const double x = (q & 1) * 0.5, y = (q >> 1) * 0.5;
    EXPECT_GT(Ink(first, QRectF(x + 0.1, y + 0.05, 0.3, 0.15)), 0.9) << q;
    EXPECT_LT(Ink(first, QRectF(x + 0.1, y + 0.33, 0.3, 0.1)), 0.05) << q;
  }
  const QImage second = Sheet(pdf, 2, dir_.path());
  EXPECT_GT(Ink(second, QRectF(0.1, 0.05, 0.3, 0.15)), 0.9);  // page 5 top left
  EXPECT_LT(Ink(second, QRectF(0.6, 0.05, 0.3, 0.15)), 0.05);
  EXPECT_LT(Ink(second, QRectF(0.1, 0.55, 0.3, 0.15)), 0.05);

  o.PagesPerSheet = 2;
  o.PdfFile = File("two.pdf");
  ASSERT_TRUE(TQvFaxPrinter::PrintFaxFile(fax, QString(), o, &error)) << error.toStdString();
  ASSERT_EQ(PdfPages(o.PdfFile), 3);
  const QImage land = Sheet(o.PdfFile, 1, dir_.path());
  EXPECT_GT(land.width(), land.height());
  EXPECT_GT(Ink(land, QRectF(0.1, 0.1, 0.2, 0.2)), 0.9);
  EXPECT_GT(Ink(land, QRectF(0.6, 0.1, 0.2, 0.2)), 0.0);
}

TEST_F(FaxPrinterTest, FitToPageKeepsProportionsAndNoneUsesTwoHundredDotsPerInch) {
  const QString fax = HalfBlackFax(1);
  TFaxPrintOptions o;
  o.PdfFile = File("fit.pdf");
  ASSERT_TRUE(TQvFaxPrinter::PrintFaxFile(fax, QString(), o));
  const QImage fit = Sheet(o.PdfFile, 1, dir_.path());
  // The black upper half of a 215 x 286 mm page drawn into the printable area of an A4 sheet:
  // the width is the limit, so the page fills the width and the band ends a little above the
  // middle of the sheet.
  int firstDark = -1, lastDark = 0;
  const int x = fit.width() / 4;
  for (int y = 0; y < fit.height(); ++y)
    if (qGray(fit.pixel(x, y)) < 128) {
      if (firstDark < 0) firstDark = y;
      lastDark = y;
    }
  ASSERT_GE(firstDark, 0);
  EXPECT_NEAR(double(lastDark) / fit.height(), 0.47, 0.05);
  int darkWidth = 0;
  for (int xx = 0; xx < fit.width(); ++xx) darkWidth += qGray(fit.pixel(xx, (firstDark + lastDark) / 2)) < 128;
  EXPECT_GT(darkWidth, fit.width() * 0.8);
  // Width / height of the drawn page keeps 1728 x 2200 pixels at 204 x 196 dots per inch.
  const double drawnHeight = 2.0 * (lastDark - firstDark + 1);
  EXPECT_NEAR(darkWidth / drawnHeight, (1728 / 204.1) / (2200 / 195.6), 0.05);

  ASSERT_TRUE(WriteFax(File("narrow.qvf"), {FaxPage{1728, 400, true, Block(0, 0, 400, 100)}}));
  o.Stretch = false;
  o.PdfFile = File("none.pdf");
  ASSERT_TRUE(TQvFaxPrinter::PrintFaxFile(File("narrow.qvf"), QString(), o));
  const QImage none = Sheet(o.PdfFile, 1, dir_.path());
  int w = 0;
  for (int y = 0; y < none.height(); ++y) {
    int row = 0;
    for (int xx = 0; xx < none.width(); ++xx) row += qGray(none.pixel(xx, y)) < 128;
    w = std::max(w, row);
  }
  // 400 pixels at 200 per inch = 2 inches, rendered at 30 dots per inch.
  EXPECT_NEAR(w, 2 * 30, 3);
}

// A print of a turned view: every page is turned before it is fitted. The black upper half of the
// fax page lands at the bottom after a half turn and at the right after a quarter turn, and the
// quarter-turned page, lying on its side, keeps its proportions (rows across, pixels down).
TEST_F(FaxPrinterTest, RotationTurnsEveryPagePrinted) {
  const QString fax = HalfBlackFax(2);
  TQvFaxPrinter printer;
  printer.FaxHeader().Enabled = false;
  printer.FaxFooter().Enabled = false;
  printer.SetFileName(fax);
  printer.SetRotation(2);
  printer.SetOutputPdf(File("half.pdf"));
  printer.PrintFax();
  ASSERT_EQ(PdfPages(File("half.pdf")), 2);
  for (int n = 1; n <= 2; ++n) {
    const QImage sheet = Sheet(File("half.pdf"), n, dir_.path());
    EXPECT_LT(Ink(sheet, QRectF(0.1, 0.05, 0.8, 0.3)), 0.05) << n;
    EXPECT_GT(Ink(sheet, QRectF(0.1, 0.6, 0.8, 0.25)), 0.9) << n;
  }

  printer.SetRotation(5);  // any number of turns: one quarter
  EXPECT_EQ(printer.Rotation(), 1);
  printer.SetOutputPdf(File("quarter.pdf"));
  printer.PrintFax();
  const QImage sheet = Sheet(File("quarter.pdf"), 1, dir_.path());
  int firstDark = -1, lastDark = 0, left = sheet.width(), right = 0;
  for (int y = 0; y < sheet.height(); ++y)
    for (int x = 0; x < sheet.width(); ++x)
      if (qGray(sheet.pixel(x, y)) < 128) {
        if (firstDark < 0) firstDark = y;
        lastDark = y;
        left = std::min(left, x);
        right = std::max(right, x);
      }
  ASSERT_GE(firstDark, 0);
  // The black half is the right half of the drawn page, which fills the sheet's width.
  EXPECT_GT(left, sheet.width() * 0.4);
  EXPECT_GT(right, sheet.width() * 0.85);
  // Drawn height / width of the black half: 1728 pixels down at 204 per inch against 1100 rows
  // across at 196 per inch.
  EXPECT_NEAR(double(lastDark - firstDark + 1) / (right - left + 1), (1728 / 204.1) / (1100 / 195.6), 0.1);
}

TEST_F(FaxPrinterTest, HeaderAndFooterTextsAreOnEveryPage) {
  ASSERT_TRUE(WriteFax(File("hf.qvf"), {FaxPage{1728, 300, true, Block(0, 0, 100, 100)},
                                        FaxPage{1728, 300, true, Block(0, 0, 100, 100)}}));
  TFaxPrintOptions o;
  o.PdfFile = File("hf.pdf");
  o.Header = true;
  o.HeaderCaption = QStringLiteral("From: Dave             Received: today");
  o.Footer = true;
  QString error;
  ASSERT_TRUE(TQvFaxPrinter::PrintFaxFile(File("hf.qvf"), QString(), o, &error)) << error.toStdString();
  ASSERT_EQ(PdfPages(o.PdfFile), 2);
  for (int page = 1; page <= 2; ++page) {
    const QString text = RunTool(QStringLiteral("pdftotext"), {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                                                           QString::number(page), o.PdfFile, QStringLiteral("-")});
    EXPECT_TRUE(text.contains(QStringLiteral("From: Dave"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("PAGE: %1 of 2").arg(page))) << text.toStdString();
  }
}

TEST_F(FaxPrinterTest, LogSaysStartedAndFinishedOrAborted) {
  const QString fax = HalfBlackFax(3);
  TQvFaxPrinter printer;
  TQvFaxPrinterLog log;
  log.SetLogFileName(File("FAXPRINT.LOG"));
  printer.SetFaxPrinterLog(&log);
  printer.SetFileName(fax);
  printer.SetOutputPdf(File("log.pdf"));
  std::vector<int> codes;
  QObject::connect(&printer, &TQvFaxPrinter::FaxPrintLog, [&](int c) { codes.push_back(c); });
  printer.PrintFax();
  EXPECT_EQ(codes, (std::vector<int>{lcStart, lcFinish}));
  const QString text = ReadLog();
  const QString esc = QRegularExpression::escape(fax);
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^Printing %1 started at [^\r\n]+\r\nPrinting %1 finished at [^\r\n]+\r\n\r\n$")
                                     .arg(esc)).match(text).hasMatch())
      << text.toStdString();

  // The status window's Abort during page 2: no page after it, no "finished".
  QFile::remove(File("FAXPRINT.LOG"));
  codes.clear();
  TQvFaxPrinterStatus status;
  printer.SetStatusDisplay(&status);
  std::vector<int> pagesStarted;
  QObject::connect(&printer, &TQvFaxPrinter::NextPage, [&](int p, int) {
    pagesStarted.push_back(p);
    EXPECT_TRUE(status.isVisible());
    EXPECT_TRUE(status.StatusLine().endsWith(QStringLiteral(" %1 of 3").arg(p))) << status.StatusLine().toStdString();
    if (p == 2) status.AbortButton()->click();
  });
  printer.PrintFax();
  EXPECT_EQ(pagesStarted, (std::vector<int>{1, 2}));
  EXPECT_EQ(codes, (std::vector<int>{lcStart, lcAborted}));
  EXPECT_TRUE(ReadLog().contains(QStringLiteral(" aborted at ")));
  EXPECT_FALSE(ReadLog().contains(QStringLiteral(" finished at ")));
  EXPECT_FALSE(status.isVisible());
  EXPECT_FALSE(printer.Printing());
}

TEST_F(FaxPrinterTest, NothingToPrintWritesNoLogAndSaysWhy) {
  TQvFaxPrinter printer;
  TQvFaxPrinterLog log;
  log.SetLogFileName(File("FAXPRINT.LOG"));
  printer.SetFaxPrinterLog(&log);
  printer.SetFileName(File("missing.qvf"));
  printer.SetOutputPdf(File("x.pdf"));
  printer.PrintFax();
  EXPECT_FALSE(QFile::exists(File("FAXPRINT.LOG")));
  EXPECT_FALSE(QFile::exists(File("x.pdf")));

  TFaxPrintOptions o;
  o.PdfFile = File("y.pdf");
  QString error;
  EXPECT_FALSE(TQvFaxPrinter::PrintFaxFile(File("missing.qvf"), QString(), o, &error));
  EXPECT_TRUE(error.contains(QStringLiteral("File not found"))) << error.toStdString();
  const QString fax = HalfBlackFax(2);
  o.FirstPage = 3;
  EXPECT_FALSE(TQvFaxPrinter::PrintFaxFile(fax, QString(), o, &error));
  EXPECT_TRUE(error.contains(QStringLiteral("it has 2"))) << error.toStdString();
  o = TFaxPrintOptions();
  EXPECT_FALSE(TQvFaxPrinter::PrintFaxFile(fax, QStringLiteral("No Such Printer 42"), o, &error));
  EXPECT_FALSE(error.isEmpty());
}

// Print on receipt and the command line print through PrintFaxFile: a driver that needs the wait
// gets it there too, two ticks of 55 ms before and after each page's picture.
TEST_F(FaxPrinterTest, OneCallPrintImposesTheWaitAroundEachPageWhenAsked) {
  const QString fax = HalfBlackFax(3);
  TFaxPrintOptions o;
  o.PdfFile = File("wait.pdf");
  o.ImposeWait = true;
  QElapsedTimer clock;
  clock.start();
  QString error;
  ASSERT_TRUE(TQvFaxPrinter::PrintFaxFile(fax, QString(), o, &error)) << error.toStdString();
  EXPECT_GE(clock.elapsed(), 3 * 2 * 2 * 55);
  EXPECT_EQ(PdfPages(o.PdfFile), 3);
}

TEST_F(FaxPrinterTest, ADamagedPageEndsThePrintAsFailed) {
  const QString fax = HalfBlackFax(3);
  QFile f(fax);
  ASSERT_TRUE(f.resize(f.size() / 2));  // pages 2 and 3 are gone
  TQvFaxPrinter printer;
  TQvFaxPrinterLog log;
  log.SetLogFileName(File("FAXPRINT.LOG"));
  printer.SetFaxPrinterLog(&log);
  printer.SetFileName(fax);
  printer.SetOutputPdf(File("bad.pdf"));
  EXPECT_THROW(printer.PrintFax(), std::exception);
  EXPECT_TRUE(ReadLog().contains(QStringLiteral(" failed at "))) << ReadLog().toStdString();
  EXPECT_FALSE(printer.Printing());
}

}  // namespace
}  // namespace qv::ui
