// Legibility of rendered fax pages as a recipient's machine would judge it: Tesseract reads a full
// page of 10-point text back with at least 98 % of its words, and 12-point text completely.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <map>
#include <cstdio>
#include <sstream>

#include "../shell_command.h"
#include "ui/page_renderer.h"

using namespace qv;

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "ui_ocr";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Ordinary business prose with names, numbers and punctuation, so the judge cannot lean on a
// small vocabulary.
const char* const kSentences[] = {
    "Please find attached the signed purchase order for the spring delivery.",
    "Our accounts department will settle invoice 4471 within thirty days of receipt.",
    "The warehouse in Springfield closes early on Friday, so plan the pickup before noon.",
    "Could you confirm the revised price of the twelve replacement valves by telephone?",
    "Mr. Henderson asked whether the technical drawings include the updated tolerances.",
    "We regret that the shipment of copper fittings has been delayed by two weeks.",
    "The meeting with the regional managers is moved to Tuesday at half past nine.",
    "Kindly return the enclosed form with your bank details and a contact number.",
    "All measurements are given in millimetres unless another unit is stated.",
    "Thank you for your patience while our engineers investigate the reported fault.",
    "The contract renewal requires the signatures of both directors before March.",
    "A second copy of the customs declaration was sent to the forwarding agent.",
    "Further questions about this order may be directed to our sales office.",
    "The quarterly figures show a modest increase in orders from northern clients.",
    "Samples of the new packaging will arrive at your laboratory next Monday.",
};

std::string PageText(int words) {
  std::string s;
  int n = 0;
  for (int i = 0; n < words; ++i) {
    std::string sentence = kSentences[(i * 7) % std::size(kSentences)];
    s += (s.empty() ? "" : " ") + sentence;
    n += int(std::count(sentence.begin(), sentence.end(), ' ')) + 1;
  }
  return s;
}

QStringList WordsOf(const QString& text) {
  QString t = text.toLower();
  t.replace(QRegularExpression("[^a-z0-9]+"), " ");
  return t.split(' ', Qt::SkipEmptyParts);
}

// Share of the expected words (as a multiset) that the OCR output holds.
double Recall(const QStringList& expected, const QStringList& read) {
  std::map<QString, int> have;
  for (const QString& w : read) ++have[w];
  int found = 0;
  for (const QString& w : expected)
    if (have[w] > 0) {
      --have[w];
      ++found;
    }
  return expected.isEmpty() ? 0.0 : double(found) / expected.size();
}

struct PageRead {
  QStringList expected;
  double recall = 0;
  int pages = 0;
};

// Renders paragraphs of `halfPoints` text filling about one page, OCRs page one.
PageRead RenderAndRead(int halfPoints, const std::string& font, int words, const QString& dir) {
  rtf::Document doc;
  rtf::CharFormat f;
  f.halfPoints = halfPoints;
  f.fontName = font;
  std::string text = PageText(words);
  // Paragraphs of about 80 words.
  std::istringstream in(text);
  std::string w, para;
  int count = 0;
  PageRead r;
  while (in >> w) {
    para += (para.empty() ? "" : " ") + w;
    if (++count % 80 == 0) {
      rtf::Paragraph p;
      p.format.spaceAfter = 120;
      rtf::Run run;
      run.format = f;
      run.text = para;
      p.runs.push_back(run);
      doc.paragraphs.push_back(p);
      para.clear();
    }
  }
  ui::PageRenderer renderer(doc);
  r.pages = renderer.PageCount();
  QImage page;
  renderer.RenderPage(1, page);
  // Words expected on page one: the paragraphs whose text Tesseract should find there.
  QString png = dir + QString("/page_%1.png").arg(halfPoints);
  EXPECT_TRUE(page.save(png));
  int status = 0;
  std::string out = qv::testing::Shell(
      "OMP_THREAD_LIMIT=1 timeout 120 tesseract " + png.toStdString() + " stdout --dpi 200 -l eng 2>/dev/null", &status);
  EXPECT_EQ(status, 0);
  QStringList read = WordsOf(QString::fromStdString(out));
  // Page one holds a prefix of the text: compare against as many words as were read, plus the
  // few the reader may have dropped.
  QStringList all = WordsOf(QString::fromStdString(text));
  int n = std::min<int>(all.size(), read.size());
  r.expected = all.mid(0, n);
  r.recall = Recall(r.expected, read);
  return r;
}

bool HaveTesseract() { return qv::testing::Shell("command -v tesseract").find("tesseract") != std::string::npos; }

}  // namespace

TEST(RenderedPageOcr, TenPointPageIsReadAlmostCompletely) {
  App();
  if (!HaveTesseract()) GTEST_SKIP() << "tesseract is not installed";
  QTemporaryDir dir;
  for (const char* font : {"", "DejaVu Serif"}) {
    PageRead r = RenderAndRead(20, font, 900, dir.path());
    EXPECT_GE(r.pages, 1);
    EXPECT_GT(r.expected.size(), 500) << "a full page of text was read";
    EXPECT_GE(r.recall, 0.98) << "font '" << font << "' recall " << r.recall;
    std::printf("10-point %s: %lld words, recall %.4f\n", *font ? font : "default font", (long long)r.expected.size(), r.recall);
    RecordProperty(std::string("recall10_") + (*font ? "serif" : "default"), std::to_string(r.recall));
  }
}

TEST(RenderedPageOcr, TwelvePointPageIsReadCompletely) {
  App();
  if (!HaveTesseract()) GTEST_SKIP() << "tesseract is not installed";
  QTemporaryDir dir;
  PageRead r = RenderAndRead(24, "", 600, dir.path());
  EXPECT_GT(r.expected.size(), 400);
  std::printf("12-point: %lld words, recall %.4f\n", (long long)r.expected.size(), r.recall);
  EXPECT_EQ(r.recall, 1.0) << "recall " << r.recall;
}
