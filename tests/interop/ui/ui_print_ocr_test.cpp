// Faxes printed into PDF files as a reader would judge them: poppler gives the sheet count and
// size back and renders the sheets, and Tesseract reads the fax's text and the printed header and
// footer on them, upright, one sheet per page or two pages side by side on a landscape sheet.
#include <gtest/gtest.h>

#include <QApplication>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <map>
#include <string>

#include "../shell_command.h"
#include "rtf/rtf_reader.h"
#include "ui/document_fax.h"
#include "ui/fax_printer.h"

using namespace qv;

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "ui_print_ocr";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

bool Have(const char* tool) {
  return qv::testing::Shell(std::string("command -v ") + tool).find(tool) != std::string::npos;
}

// Words of each page: the page's own sentence, repeated so a few misreads do not matter.
const char* const kPageText[] = {
    "Please deliver the replacement valves to the northern warehouse before Friday noon.",
    "Our accounts department settles invoice number 4471 within thirty days of receipt.",
};

QStringList WordsOf(const QString& text) {
  QString t = text.toLower();
  t.replace(QRegularExpression(QStringLiteral("[^a-z0-9]+")), QStringLiteral(" "));
  return t.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Share of the words of `expected` found among those read.
double Recall(const QString& expected, const QStringList& read) {
  std::map<QString, int> have;
  for (const QString& w : read) ++have[w];
  const QStringList want = WordsOf(expected);
  int found = 0;
  for (const QString& w : want)
    if (have[w] > 0) {
      --have[w];
      ++found;
    }
  return want.isEmpty() ? 0.0 : double(found) / want.size();
}

// A two-page fine fax of 14-point text, rendered and coded as the desktop sends it.
std::string WriteTextFax(const QString& dir) {
  std::string rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\fs28 ";
  for (int p = 0; p < 2; ++p) {
    if (p) rtf += "\\page ";
    for (int i = 0; i < 3; ++i) rtf += std::string(kPageText[p]) + "\\par ";
  }
  rtf += "}";
  rtf::Document doc;
  EXPECT_TRUE(rtf::ReadRtf(rtf, doc));
  const std::string file = (dir + QStringLiteral("/text.qvf")).toStdString();
  int pages = 0;
  EXPECT_EQ(ui::WriteDocumentFax(doc, file, {}, &pages), 0);
  EXPECT_EQ(pages, 2);
  return file;
}

struct SheetSize {
  double w = 0, h = 0;
  int pages = -1;
};

SheetSize Info(const QString& pdf) {
  const QString info = QString::fromStdString(qv::testing::Shell("pdfinfo '" + pdf.toStdString() + "'"));
  SheetSize s;
  const auto pages = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
  if (pages.hasMatch()) s.pages = pages.captured(1).toInt();
  const auto size = QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+) pts")).match(info);
  if (size.hasMatch()) {
    s.w = size.captured(1).toDouble();
    s.h = size.captured(2).toDouble();
  }
  return s;
}

// Sheet n rendered at 200 dpi and read by Tesseract (which reads upright text only).
QStringList ReadSheet(const QString& pdf, int n, const QString& dir) {
  const std::string prefix = (dir + QStringLiteral("/sheet%1").arg(n)).toStdString();
  int status = 0;
  qv::testing::Shell("pdftoppm -gray -r 200 -f " + std::to_string(n) + " -l " + std::to_string(n) +
                         " -singlefile '" + pdf.toStdString() + "' '" + prefix + "'",
                     &status);
  EXPECT_EQ(status, 0);
  const std::string out = qv::testing::Shell("OMP_THREAD_LIMIT=1 timeout 120 tesseract '" + prefix +
                                                 ".pgm' stdout --dpi 200 -l eng 2>/dev/null",
                                             &status);
  EXPECT_EQ(status, 0);
  return WordsOf(QString::fromStdString(out));
}

class PrintOcr : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    if (!Have("tesseract") || !Have("pdftoppm") || !Have("pdfinfo"))
      GTEST_SKIP() << "tesseract or poppler-utils is not installed";
    fax_ = QString::fromStdString(WriteTextFax(dir_.path()));
  }
  QTemporaryDir dir_;
  QString fax_;
};

TEST_F(PrintOcr, EachPageOnItsOwnUprightSheetWithHeaderAndFooter) {
  ui::TFaxPrintOptions o;
  o.PdfFile = dir_.filePath(QStringLiteral("one.pdf"));
  o.Header = o.Footer = true;
  o.HeaderCaption = QStringLiteral("Received from Springfield office");
  o.FooterCaption = QStringLiteral("PAGE: $P of $N");
  QString error;
  ASSERT_TRUE(ui::TQvFaxPrinter::PrintFaxFile(fax_, QString(), o, &error)) << error.toStdString();
  const SheetSize s = Info(o.PdfFile);
  EXPECT_EQ(s.pages, 2);
  EXPECT_LT(s.w, s.h) << "portrait sheets";
  for (int sheet = 1; sheet <= 2; ++sheet) {
    SCOPED_TRACE(sheet);
    const QStringList read = ReadSheet(o.PdfFile, sheet, dir_.path());
    EXPECT_GE(Recall(QString::fromLatin1(kPageText[sheet - 1]), read), 0.9) << read.join(u' ').toStdString();
    EXPECT_LT(Recall(QString::fromLatin1(kPageText[2 - sheet]), read), 0.5) << "the other page's text";
    EXPECT_GE(Recall(o.HeaderCaption, read), 0.75) << read.join(u' ').toStdString();
    EXPECT_GE(Recall(QStringLiteral("page %1 of 2").arg(sheet), read), 0.75) << read.join(u' ').toStdString();
  }
}

TEST_F(PrintOcr, TwoPagesSideBySideOnALandscapeSheet) {
  ui::TFaxPrintOptions o;
  o.PdfFile = dir_.filePath(QStringLiteral("two.pdf"));
  o.PagesPerSheet = 2;
  QString error;
  ASSERT_TRUE(ui::TQvFaxPrinter::PrintFaxFile(fax_, QString(), o, &error)) << error.toStdString();
  const SheetSize s = Info(o.PdfFile);
  EXPECT_EQ(s.pages, 1);
  EXPECT_GT(s.w, s.h) << "a landscape sheet";
  const QStringList read = ReadSheet(o.PdfFile, 1, dir_.path());
  // Half-size text is still legible, and both pages are there.
  EXPECT_GE(Recall(QString::fromLatin1(kPageText[0]), read), 0.75) << read.join(u' ').toStdString();
  EXPECT_GE(Recall(QString::fromLatin1(kPageText[1]), read), 0.75) << read.join(u' ').toStdString();
}

}  // namespace
