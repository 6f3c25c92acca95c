// What the user is told and given when a fax arrives in receive mode: the print-out on receipt
// (into a PDF file, judged by poppler's tools), the desktop notification for a window that is not
// in front, the tray count, and the notification's way into the viewer.

#include "app/forms/arrival_notice.h"
#include "app/forms/fax_viewer_form.h"
#include "ui/fax_printer.h"
#include "../receive/receive_fixture.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

using fax::test::MakeQvf;
using test::ModemPair;
using test::ReceiveLab;
using test::Records;
using test::ScriptedDialogs;
using test::TempDir;
using test::WaitFor;

constexpr int kCallMs = 60000;

QString Run(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return QString();
  return QString::fromUtf8(p.readAllStandardOutput());
}

int PdfPages(const QString& pdf) {
  const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(Run(QStringLiteral("pdfinfo"), {pdf}));
  return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Dark pixels on one sheet of the PDF, rendered grey at a low resolution.
int DarkPixels(const QString& pdf, int sheet, const QString& dir) {
  const QString prefix = dir + QStringLiteral("sheet");
  Run(QStringLiteral("pdftoppm"), {QStringLiteral("-gray"), QStringLiteral("-r"), QStringLiteral("40"),
                                   QStringLiteral("-f"), QString::number(sheet), QStringLiteral("-l"),
                                   QString::number(sheet), QStringLiteral("-singlefile"), pdf, prefix});
  const QImage img(prefix + QStringLiteral(".pgm"));
  int dark = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) dark += qGray(img.pixel(x, y)) < 128;
  return img.isNull() ? -1 : dark;
}

std::unique_ptr<ModemPair> PairOnCom2(const ReceiveLab& lab, TempDir& tmp) {
  auto pair = std::make_unique<ModemPair>(tmp);
  if (pair->ready()) core::TIniFile(lab.Ini()).WriteString("Ports", "COM2", pair->b());
  return pair;
}

// Puts another window in front of the main window (or the main window itself back).
bool BringToFront(QWidget& window) {
  window.show();
  window.raise();
  window.activateWindow();
  return WaitFor([&] { return window.isActiveWindow(); }, 5000);
}

class ReceiveNoticeTest : public ::testing::Test {
 protected:
  void SetUp() override { qunsetenv("QUORVANE_PRINT_TO_PDF"); }
  void TearDown() override { qunsetenv("QUORVANE_PRINT_TO_PDF"); }
};

TEST_F(ReceiveNoticeTest, PrintOnReceiptPrintsEachArrivingFaxWholeThroughTheFaxPrinter) {
  if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty() ||
      QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
    GTEST_SKIP() << "poppler-utils (pdfinfo, pdftoppm) not installed";
  TempDir tmp;
  ReceiveLab lab;
  auto modems = PairOnCom2(lab, tmp);
  ASSERT_TRUE(modems->ready());
  lab.Set("Receive", "PrintOnReceipt", "1");
  const QString pdf = QString::fromStdString(tmp.str("printed.pdf"));
  qputenv("QUORVANE_PRINT_TO_PDF", pdf.toLocal8Bit());
  ScriptedDialogs dialogs;
  auto w = lab.Open();
  w->ReceiveButtonClick();
  ASSERT_TRUE(w->ReceiveMode());

  MakeQvf(tmp.str("three.qvf"), 3, true, 400, 3);
  auto sender = test::SendFax(*modems, tmp.str("three.qvf"), tmp.str("send.out"), "PRINT ME");
  ASSERT_TRUE(WaitFor([&] { return Records(w->Store()).size() == 1; }, kCallMs))
      << fax::test::ReadText(tmp.str("send.out"));
  // The print-out is made in the arrival handling itself: by now the file is complete.
  ASSERT_TRUE(WaitFor([&] { return QFileInfo(pdf).size() > 0; }, 10000));
  EXPECT_EQ(PdfPages(pdf), 3);
  const QString dir = QString::fromStdString(tmp.str(""));
  for (int sheet = 1; sheet <= 3; ++sheet) EXPECT_GT(DarkPixels(pdf, sheet, dir), 0) << "sheet " << sheet;
  EXPECT_FALSE(test::ReadLines(lab.Path() + QStringLiteral("Lastrec.log")).join(u'\n').contains(
      QStringLiteral("Print on receipt failed")));
  EXPECT_TRUE(dialogs.shown.empty());  // printing on receipt asks nothing

  // Without the option no print-out is made.
  ASSERT_TRUE(WaitFor([&] { return sender->Exited(); }, kCallMs));
  w->ReceiveButtonClick();
  ASSERT_TRUE(QFile::remove(pdf));
  lab.Set("Receive", "PrintOnReceipt", "0");
  Settings().PrintOnReceipt = false;
  w->ReceiveButtonClick();
  ASSERT_TRUE(w->ReceiveMode());
  MakeQvf(tmp.str("one.qvf"), 1, false, 100, 8);
  sender = test::SendFax(*modems, tmp.str("one.qvf"), tmp.str("send2.out"), "NO PRINT");
  ASSERT_TRUE(WaitFor([&] { return Records(w->Store()).size() == 2; }, kCallMs))
      << fax::test::ReadText(tmp.str("send2.out"));
  EXPECT_FALSE(QFile::exists(pdf));
  w->ReceiveButtonClick();
}

TEST_F(ReceiveNoticeTest, AFaxArrivingBehindAnotherWindowIsAnnouncedAndOpensInTheViewer) {
  TempDir tmp;
  ReceiveLab lab;
  auto modems = PairOnCom2(lab, tmp);
  ASSERT_TRUE(modems->ready());
  ScriptedDialogs dialogs;
  auto w = lab.Open();
  w->ReceiveButtonClick();
  ASSERT_TRUE(w->ReceiveMode());
  TArrivalNotice& notice = w->ArrivalNotice();
  EXPECT_EQ(notice.Count(), 0);
  // The tray icon shows while receive mode is on where the desktop has a tray; without one
  // (as offscreen) there is none, and receiving goes on regardless.
  EXPECT_EQ(notice.TrayShown(), QSystemTrayIcon::isSystemTrayAvailable());

  QWidget other;
  other.setWindowTitle(QStringLiteral("another program"));
  ASSERT_TRUE(BringToFront(other));
  ASSERT_FALSE(w->isActiveWindow());
  MakeQvf(tmp.str("two.qvf"), 2, false, 60, 1);
  auto sender = test::SendFax(*modems, tmp.str("two.qvf"), tmp.str("send.out"), "BRANCH OFFICE");
  ASSERT_TRUE(WaitFor([&] { return Records(w->Store()).size() == 1; }, kCallMs))
      << fax::test::ReadText(tmp.str("send.out"));
  EXPECT_EQ(notice.Count(), 1);
  EXPECT_EQ(notice.LastTitle(), QStringLiteral("Fax received from BRANCH OFFICE"));
  EXPECT_EQ(notice.LastText(), QStringLiteral("BRANCH OFFICE sent 2 pages. Click to view it."));
  EXPECT_EQ(notice.LastFile(), QStringLiteral("FAX0001.QVF"));
  EXPECT_TRUE(notice.ToolTip().endsWith(QStringLiteral("1 fax received")));
  EXPECT_TRUE(dialogs.shown.empty());

  // With the main window in front the grid shows the fax already: only the count changes.
  ASSERT_TRUE(WaitFor([&] { return sender->Exited(); }, kCallMs));
  ASSERT_TRUE(BringToFront(*w));
  MakeQvf(tmp.str("one.qvf"), 1, false, 60, 2);
  sender = test::SendFax(*modems, tmp.str("one.qvf"), tmp.str("send2.out"), "");
  ASSERT_TRUE(WaitFor([&] { return Records(w->Store()).size() == 2; }, kCallMs))
      << fax::test::ReadText(tmp.str("send2.out"));
  EXPECT_EQ(notice.Count(), 2);
  EXPECT_EQ(notice.LastFile(), QStringLiteral("FAX0001.QVF"));
  EXPECT_TRUE(notice.ToolTip().endsWith(QStringLiteral("2 faxes received")));

  // Clicking the notification opens the fax it told about, on the incoming page.
  w->SetCurrentPage(TMainScreen::kOutgoingPage);
  QString viewed, header;
  dialogs.forms.push_back([&](QDialog* d) {
    if (auto* viewer = qobject_cast<TFaxViewer*>(d)) {
      viewed = viewer->FaxFileName;
      header = viewer->PrintHeaderText;
    }
    return int(QDialog::Rejected);
  });
  emit notice.openRequested(notice.LastFile());
  ASSERT_TRUE(WaitFor([&] { return !viewed.isEmpty(); }, 10000));
  EXPECT_EQ(QFileInfo(viewed).fileName(), QStringLiteral("FAX0001.QVF"));
  EXPECT_TRUE(header.startsWith(QStringLiteral("From: BRANCH OFFICE"))) << header.toStdString();
  EXPECT_EQ(w->CurrentPage(), TMainScreen::kIncomingPage);
  EXPECT_TRUE(w->ReceiveMode());

  // A new start of receive mode counts afresh.
  w->ReceiveButtonClick();
  EXPECT_FALSE(notice.TrayShown());
  w->ReceiveButtonClick();
  EXPECT_EQ(notice.Count(), 0);
  EXPECT_TRUE(notice.LastTitle().isEmpty());
  w->ReceiveButtonClick();
}

// The printer chosen for print on receipt is gone: the default printer takes the print-out. With
// no printer at all the print-out fails, and the user is told why by the arrival notice (even with
// the window in front: the grid shows the fax, not the failure) and by the fax's notes, which
// outlast the receive log.
TEST_F(ReceiveNoticeTest, AMissingPrinterFallsBackToTheDefaultAndAFailedPrintOutIsTold) {
  if (ui::TQvFaxPrinter::PrinterInstalled()) GTEST_SKIP() << "this machine has a printer: nothing would fail";
  if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty())
    GTEST_SKIP() << "poppler-utils (pdfinfo) not installed";
  TempDir tmp;
  ReceiveLab lab;
  auto modems = PairOnCom2(lab, tmp);
  ASSERT_TRUE(modems->ready());
  lab.Set("Receive", "PrintOnReceipt", "1");
  lab.Set("Receive", "PrintOnReceiptPrinter", "Gone Laser");
  lab.Set("Other", "ImposeWaitBeforePrinting", "1");
  lab.Set("Receive", "DisableReceivingFaxesNotification", "1");
  ScriptedDialogs dialogs;
  auto w = lab.Open();
  w->ReceiveButtonClick();
  ASSERT_TRUE(w->ReceiveMode());
  ASSERT_TRUE(BringToFront(*w));
  TArrivalNotice& notice = w->ArrivalNotice();

  MakeQvf(tmp.str("one.qvf"), 1, false, 60, 4);
  auto sender = test::SendFax(*modems, tmp.str("one.qvf"), tmp.str("send.out"), "NO PAPER");
  ASSERT_TRUE(WaitFor([&] { return notice.Count() == 1; }, kCallMs)) << fax::test::ReadText(tmp.str("send.out"));
  EXPECT_TRUE(w->isActiveWindow());
  EXPECT_EQ(notice.LastTitle(), QStringLiteral("Fax received from NO PAPER"));
  EXPECT_EQ(notice.LastText(), QStringLiteral("NO PAPER sent 1 page. It could not be printed: No printer is "
                                              "installed. Click to view it."));
  EXPECT_EQ(notice.LastFile(), QStringLiteral("FAX0001.QVF"));
  auto records = Records(w->Store());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].notes, "Not printed: No printer is installed.");
  EXPECT_TRUE(dialogs.shown.empty());  // receive mode asks nothing
  ASSERT_TRUE(WaitFor([&] { return sender->Exited(); }, kCallMs));

  // A default printer (here a PDF file standing in for it) takes what was meant for the one gone.
  const QString pdf = QString::fromStdString(tmp.str("default.pdf"));
  qputenv("QUORVANE_PRINT_TO_PDF", pdf.toLocal8Bit());
  ASSERT_TRUE(BringToFront(*w));
  MakeQvf(tmp.str("two.qvf"), 2, false, 60, 5);
  sender = test::SendFax(*modems, tmp.str("two.qvf"), tmp.str("send2.out"), "PAPER");
  ASSERT_TRUE(WaitFor([&] { return notice.Count() == 2; }, kCallMs)) << fax::test::ReadText(tmp.str("send2.out"));
  EXPECT_EQ(PdfPages(pdf), 2);
  records = Records(w->Store());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].notes, "");
  EXPECT_EQ(notice.LastFile(), QStringLiteral("FAX0001.QVF"));  // printed: nothing new to tell
  w->ReceiveButtonClick();

  const QString log = test::ReadLines(lab.Path() + QStringLiteral("Lastrec.log")).join(u'\n');
  EXPECT_EQ(log.count(QStringLiteral("Printer \"Gone Laser\" not found: printing on the default printer")), 2)
      << log.toStdString();
  EXPECT_EQ(log.count(QStringLiteral("Print on receipt failed: No printer is installed.")), 1) << log.toStdString();
}

TEST(ArrivalNoticeTexts, SenderAndPageCountAreToldAndAnAnonymousSenderSaysSo) {
  EXPECT_EQ(TArrivalNotice::TitleFor(QStringLiteral("  ACME  ")), QStringLiteral("Fax received from ACME"));
  EXPECT_EQ(TArrivalNotice::TitleFor(QStringLiteral("   ")), QStringLiteral("Fax received"));
  EXPECT_EQ(TArrivalNotice::TextFor(QStringLiteral("ACME"), 1), QStringLiteral("ACME sent 1 page. Click to view it."));
  EXPECT_EQ(TArrivalNotice::TextFor(QString(), 12),
            QStringLiteral("A sender without identification sent 12 pages. Click to view it."));
  EXPECT_EQ(TArrivalNotice::TextFor(QStringLiteral("ACME"), 2, QStringLiteral("The printer jammed")),
            QStringLiteral("ACME sent 2 pages. It could not be printed: The printer jammed. Click to view it."));
}

}  // namespace
}  // namespace qv::app
