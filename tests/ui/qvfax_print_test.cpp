// qvfax print, run as the real program.
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "fax_files.h"
#include "ui_test_support.h"

namespace qv::ui {
namespace {

struct Result {
  int status = -1;
  QString err;
};

Result Qvfax(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral(QV_BIN_DIR "/qvfax"), QStringList{QStringLiteral("print")} + args);
  Result r;
  if (!p.waitForFinished(60000)) return r;
  r.status = p.exitCode();
  r.err = QString::fromLocal8Bit(p.readAllStandardError());
  return r;
}

int PdfPages(const QString& pdf) {
  QProcess p;
  p.start(QStringLiteral("pdfinfo"), {pdf});
  p.waitForFinished(30000);
  const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(QString::fromUtf8(p.readAllStandardOutput()));
  return m.hasMatch() ? m.captured(1).toInt() : -1;
}

TEST(QvfaxPrint, RangeAndPagesPerSheetReachThePdf) {
  test::App();
  QTemporaryDir dir;
  const QString fax = dir.filePath(QStringLiteral("f.qvf"));
  ASSERT_TRUE(test::WriteFax(fax, {test::NumberedPage(1), test::NumberedPage(2), test::NumberedPage(3),
                                   test::NumberedPage(4), test::NumberedPage(5)}));
  const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
  Result r = Qvfax({fax, QStringLiteral("--pages"), QStringLiteral("2-4"), QStringLiteral("--pdf"), pdf});
  ASSERT_EQ(r.status, 0) << r.err.toStdString();
  EXPECT_EQ(PdfPages(pdf), 3);
  r = Qvfax({fax, QStringLiteral("--per-sheet"), QStringLiteral("4"), QStringLiteral("--pdf"), pdf,
             QStringLiteral("--log"), dir.filePath(QStringLiteral("FAXPRINT.LOG"))});
  ASSERT_EQ(r.status, 0) << r.err.toStdString();
  EXPECT_EQ(PdfPages(pdf), 2);
  QFile log(dir.filePath(QStringLiteral("FAXPRINT.LOG")));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  EXPECT_TRUE(log.readAll().contains(" finished at "));
  r = Qvfax({fax, QStringLiteral("--per-sheet"), QStringLiteral("2"), QStringLiteral("--pdf"), pdf});
  ASSERT_EQ(r.status, 0) << r.err.toStdString();
  EXPECT_EQ(PdfPages(pdf), 3);
}

TEST(QvfaxPrint, BadRequestsSayWhy) {
  QTemporaryDir dir;
  const QString fax = dir.filePath(QStringLiteral("f.qvf"));
  ASSERT_TRUE(test::WriteFax(fax, {test::NumberedPage(1)}));
  const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
  EXPECT_EQ(Qvfax({fax, QStringLiteral("--per-sheet"), QStringLiteral("3")}).status, 2);
  EXPECT_EQ(Qvfax({fax, QStringLiteral("--pages"), QStringLiteral("4-2")}).status, 2);
  Result r = Qvfax({fax, QStringLiteral("--pages"), QStringLiteral("2-3"), QStringLiteral("--pdf"), pdf});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("not in the fax"))) << r.err.toStdString();
  r = Qvfax({dir.filePath(QStringLiteral("none.qvf")), QStringLiteral("--pdf"), pdf});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("File not found"))) << r.err.toStdString();
  r = Qvfax({fax, QStringLiteral("--printer"), QStringLiteral("No Such Printer 42")});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(r.err.isEmpty());
  EXPECT_FALSE(QFile::exists(pdf));
}

}  // namespace
}  // namespace qv::ui
