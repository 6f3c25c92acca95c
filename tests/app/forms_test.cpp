#include "app/forms/dialog_service.h"
#include "app/forms/edit_receive_notes.h"
#include "app/flows/message_pump.h"
#include "comm/dispatcher_list.h"
#include "app/forms/splash_form.h"
#include "core/product_version.h"
#include "test_support.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QCoreApplication>
#include <QTimer>

#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

QStringList Labels(QWidget& w) {
  QStringList out;
  for (QLabel* l : w.findChildren<QLabel*>()) out << l->text();
  return out;
}

TEST(Forms, AboutBoxShowsTheVersionAndClosesWithOk) {
  test::App();
  TSplashform about;
  EXPECT_EQ(about.windowTitle(), QStringLiteral("About Quorvane"));
  EXPECT_TRUE(Labels(about).contains(QStringLiteral("32-bit version")));
  // The release the project is numbered with, as every command's --version says it.
  EXPECT_TRUE(Labels(about).contains(QStringLiteral("Version ") + QString::fromLatin1(core::kProductVersion)));
  EXPECT_FALSE(QString::fromLatin1(core::kProductVersion).isEmpty());
  auto* ok = about.findChild<QPushButton*>(QStringLiteral("OkButton"));
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), QStringLiteral("Ok"));
  QTimer::singleShot(0, ok, &QPushButton::click);
  EXPECT_EQ(about.exec(), QDialog::Accepted);
  EXPECT_EQ(about.findChild<QLabel*>(QStringLiteral("DataDirLabel")), nullptr);
}

TEST(Forms, AboutBoxNamesTheDataDirectoryAndTheLineInUse) {
  test::App();
  TSplashform about(nullptr, QStringLiteral("/srv/fax/data/"), QStringLiteral("Fax modem on COM2 (/dev/ttyS1)"));
  EXPECT_TRUE(Labels(about).contains(QStringLiteral("Data directory: /srv/fax/data/")));
  EXPECT_TRUE(Labels(about).contains(QStringLiteral("Line in use: Fax modem on COM2 (/dev/ttyS1)")));
}

TEST(Forms, ReceivedNotesDialogKeepsTheFieldWidth) {
  test::App();
  TEditReceiveNotes notes(QStringLiteral("ACME"), QStringLiteral("old"));
  EXPECT_EQ(notes.windowTitle(), QStringLiteral("Received Fax Notes"));
  EXPECT_TRUE(Labels(notes).contains(QStringLiteral("From: ACME")));
  EXPECT_EQ(notes.Notes(), QStringLiteral("old"));
  auto* edit = notes.findChild<QLineEdit*>(QStringLiteral("NotesEdit"));
  edit->setText(QString(100, QLatin1Char('x')));
  EXPECT_EQ(notes.Notes().size(), 60);
  EXPECT_EQ(notes.findChild<QPushButton*>(QStringLiteral("AcceptButton"))->text(), QStringLiteral("&Accept"));
  EXPECT_EQ(notes.findChild<QPushButton*>(QStringLiteral("CancelButton"))->text(), QStringLiteral("Cance&l"));
}

TEST(Forms, WindowsLineBreaksBecomeNewLinesOnScreen) {
  EXPECT_EQ(DisplayText(QStringLiteral("a\rb\r\nc\nd")), QStringLiteral("a\nb\nc\nd"));
}

TEST(Forms, InstalledServiceReceivesTheCallsAndCanBeRemoved) {
  test::App();
  DialogService* qtService = &Dialogs();
  {
    test::ScriptedDialogs scripted;
    EXPECT_EQ(&Dialogs(), &scripted);
    Dialogs().Information(nullptr, QStringLiteral("hello"));
    EXPECT_EQ(scripted.Infos(), QStringList{QStringLiteral("hello")});
    EXPECT_EQ(scripted.shown[0].caption, QStringLiteral("Information"));
  }
  EXPECT_EQ(&Dialogs(), qtService);
}

TEST(Forms, ExceptionsFromWorkerThreadsReachAnErrorBoxOnTheUiThread) {
  test::App();
  test::ScriptedDialogs scripted;
  ConnectExceptionDisplay();
  std::thread worker([] {
    comm::ShowException(std::make_exception_ptr(std::runtime_error("port went away")));
  });
  worker.join();
  EXPECT_EQ(scripted.Count(QStringLiteral("error")), 0);  // not shown on the worker thread
  QCoreApplication::processEvents();
  ASSERT_EQ(scripted.Count(QStringLiteral("error")), 1);
  EXPECT_TRUE(scripted.shown[0].text.contains(QStringLiteral("port went away")));
  comm::SetExceptionDisplay(nullptr);
}

}  // namespace
}  // namespace qv::app
