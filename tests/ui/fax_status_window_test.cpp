#include "ui/fax_status_window.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include "fax/receive_fax.h"
#include "fax/send_fax.h"
#include "ui/meter.h"
#include "ui_test_support.h"

namespace qv::ui {
namespace {

// The transmit component with its session record set by hand, as a running call would set it.
struct SessionSend : fax::TQvSendFax {
  void Set(int code, int page, int total, int length, long bytes) {
    SetStatus(code);
    page_ = page;
    totalPages_ = total;
    pageLength_ = length;
    bytesTransferred_ = bytes;
  }
  void Session(bool fine, bool wide, bool ecm) {
    sessionFine_ = fine;
    sessionWide_ = wide;
    sessionEcm_ = ecm;
    sessionCoding_ = ecm ? fax::LineCoding::MMR : fax::LineCoding::MH;
  }
};

struct SessionReceive : fax::TQvReceiveFax {
  void Set(int code, int page) {
    SetStatus(code);
    page_ = page;
  }
};

QString Shown(TQvFaxStatus& s, const char* caption) {
  return s.Display()->Value(QString::fromLatin1(caption))->text();
}

TEST(FaxStatusTexts, FileNamesAndTimes) {
  EXPECT_EQ(StatusFileName("/data/QRV_1.QVF"), QStringLiteral("QRV_1.QVF"));
  EXPECT_EQ(StatusFileName("/data/abcdefghijklmnopqrstu.QVF"), QStringLiteral("abcdefghijklmnopqrst..."));  // 25
  EXPECT_EQ(StatusFileName("/data/abcdefghijklmnop.QVF"), QStringLiteral("abcdefghijklmnop.QVF"));    // 20
  EXPECT_EQ(StatusTime(0), QStringLiteral("  0:00"));
  EXPECT_EQ(StatusTime(65), QStringLiteral("  1:05"));
  EXPECT_EQ(StatusTime(6000), QStringLiteral("100:00"));
  EXPECT_EQ(StatusTime(-3), QStringLiteral("  0:00"));
}

TEST(FaxStatus, ShowsTheTransmitSessionAndHidesAtTheEnd) {
  test::App();
  SessionSend fax;
  TQvFaxStatus status;
  fax.SetStatusDisplay(&status);
  EXPECT_EQ(status.Fax, &fax);
  fax.PhoneNumber = "5550100#77";
  fax.SetFaxFile("/data/a_rather_long_fax_file_name.QVF");
  fax.DialRetryWait = 30;
  fax.Set(fax::fpDialing, 0, 5, 0, 0);
  status.UpdateDisplay(true, false);
  TStandardFaxDisplay* d = status.Display();
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(d->windowTitle(), QStringLiteral("Fax Status"));
  EXPECT_FALSE(d->windowFlags() & Qt::WindowCloseButtonHint);
  // Centred on the screen.
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE(std::abs(d->frameGeometry().center().x() - screen.center().x()), 20);
  EXPECT_EQ(Shown(status, "Phone number:"), QStringLiteral("5550100#77"));
  EXPECT_EQ(Shown(status, "Fax file name:"), QStringLiteral("a_rather_long_fax_fi..."));
  EXPECT_FALSE(d->Value(QStringLiteral("Fax file name:"))->isVisible());
  EXPECT_FALSE(d->Value(QStringLiteral("Cover file name:"))->isVisible());
  EXPECT_EQ(Shown(status, "Total pages:"), QStringLiteral("5"));
  EXPECT_EQ(Shown(status, "Current page:"), QStringLiteral("<cover page>"));
  EXPECT_EQ(Shown(status, "Resolution:"), QStringLiteral("standard"));
  EXPECT_EQ(Shown(status, "Width:"), QStringLiteral("1728"));
  EXPECT_EQ(Shown(status, "Error control:"), QStringLiteral("off, MH"));
  EXPECT_EQ(Shown(status, "Elapsed time:"), QStringLiteral("00:00"));
  EXPECT_EQ(Shown(status, "Status:"), QString::fromStdString(fax::StatusText(fax::fpDialing)));
  EXPECT_FALSE(status.ElapsedRunning());

  // Busy: the redial countdown runs from the retry wait.
  fax.Set(fax::fpBusyWait, 0, 5, 0, 0);
  status.UpdateDisplay(false, false);
  EXPECT_TRUE(status.CountdownRunning());
  EXPECT_EQ(Shown(status, "Status:"),
            QString::fromStdString(fax::StatusText(fax::fpBusyWait)) + QStringLiteral("  0:30"));
  fax.Set(fax::fpDialing, 0, 5, 0, 0);
  status.UpdateDisplay(false, false);
  EXPECT_FALSE(status.CountdownRunning());

  // Connected: the clock starts; the page's progress shows in the meter.
  fax.Session(true, true, true);
  fax.Set(fax::fpSessionParams, 0, 5, 0, 0);
  status.UpdateDisplay(false, false);
  EXPECT_TRUE(status.ElapsedRunning());
  EXPECT_EQ(Shown(status, "Elapsed time:"), QStringLiteral("  0:00"));
  EXPECT_EQ(d->Meter()->Position(), 0);
  fax.Set(fax::fpSendPage, 2, 5, 3000, 1000);
  status.UpdateDisplay(false, false);
  EXPECT_EQ(Shown(status, "Current page:"), QStringLiteral("2"));
  EXPECT_EQ(Shown(status, "Resolution:"), QStringLiteral("high"));
  EXPECT_EQ(Shown(status, "Width:"), QStringLiteral("2048"));
  // Error correction, the coding and the frames a receiver asked for again.
  EXPECT_EQ(Shown(status, "Error control:"), QStringLiteral("on, MMR, 0 frames resent"));
  EXPECT_EQ(Shown(status, "Page length:"), QStringLiteral("3000"));
  EXPECT_EQ(Shown(status, "Bytes transferred:"), QStringLiteral("1000"));
  EXPECT_EQ(d->Meter()->Position(), 33);  // truncated
  EXPECT_TRUE(d->Meter()->isVisible());
  EXPECT_EQ(d->Meter()->geometry().size(), QSize(406, 20));
  EXPECT_EQ(d->Meter()->Step(), 10);
  EXPECT_EQ(d->PageProgressLabel()->text(), QStringLiteral("Page progress:"));
  EXPECT_TRUE(status.ElapsedRunning());
  fax.Set(fax::fpFinished, 5, 5, 3000, 3000);
  status.UpdateDisplay(false, false);
  EXPECT_FALSE(status.ElapsedRunning());

  // The last call hides the window and leaves the values.
  status.UpdateDisplay(false, true);
  EXPECT_FALSE(d->isVisible());
  EXPECT_EQ(Shown(status, "Current page:"), QStringLiteral("5"));
  fax.SetStatusDisplay(nullptr);
}

TEST(FaxStatus, TheReceiveSideHasNoNumberAndNoMeter) {
  test::App();
  SessionReceive fax;
  TQvFaxStatus status;
  fax.SetStatusDisplay(&status);
  fax.Set(fax::fpGetPage, 1);
  status.UpdateDisplay(true, false);
  EXPECT_EQ(Shown(status, "Phone number:"), QString());
  EXPECT_EQ(Shown(status, "Dial attempt:"), QStringLiteral("1"));
  EXPECT_EQ(Shown(status, "Current page:"), QStringLiteral("1"));
  EXPECT_FALSE(status.Display()->Meter()->isVisible());
  EXPECT_EQ(status.Display()->PageProgressLabel()->text(), QStringLiteral("Page progress: N/A"));
  // Cancel on an idle component is harmless; the window stays until the session ends it.
  QTest::mouseClick(status.Display()->CancelButton(), Qt::LeftButton);
  EXPECT_TRUE(status.Display()->isVisible());
  for (QLabel* l : status.Display()->findChildren<QLabel*>())
    EXPECT_FALSE(l->accessibleName().isEmpty() && l->accessibleDescription().isEmpty()) << l->objectName().toStdString();
  fax.SetStatusDisplay(nullptr);
}

}  // namespace
}  // namespace qv::ui
