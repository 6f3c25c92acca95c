// A first start without a modem, end to end: a new data directory, the quick setup's "Try it
// without either", the practice fax sent from the Send Fax dialog over the program's own qvmodem
// pair while receive mode runs, and the fax in the Incoming list; the About box naming the line;
// a second start that picks the practice line up again; and Preferences leaving it for a modem.
// Any box or question the user was not meant to meet fails the test.
#include "app/forms/main_screen.h"

#include "app/flows/call_settings.h"
#include "app/flows/message_pump.h"
#include "app/forms/app_texts.h"
#include "app/forms/quick_setup.h"
#include "app/store/fax_store.h"
#include "app/store/settings.h"
#include "app/store/table_pair.h"
#include "comm/port_names.h"
#include "core/ini_file.h"
#include "core/product_version.h"

#include "../test_support.h"
#include "send_flow.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTableView>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace qv::app {
namespace {

using test::DataDir;
using test::ScriptedDialogs;

bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    PumpMessages();
  }
  return true;
}

QStringList Labels(QWidget& w) {
  QStringList out;
  for (QLabel* l : w.findChildren<QLabel*>()) out << l->text();
  return out;
}

class PracticeLine : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    ConnectMessageLoop();
    Settings() = TSettings();
    qputenv("QV_MODEM_PROGRAM", QByteArrayLiteral(QV_BIN_DIR "/qvmodem"));
  }
  void TearDown() override { qunsetenv("QV_MODEM_PROGRAM"); }

  std::unique_ptr<TMainScreen> Start() {
    auto w = std::make_unique<TMainScreen>(dir_.Path());
    w->show();
    EXPECT_TRUE(WaitFor([&] { return w->FirstActivationDone() || !w->TablesOpen(); }, 30000));
    return w;
  }
  // What the user met that was no form: questions, boxes, errors.
  QStringList Unasked() const {
    QStringList out;
    for (const auto& s : dialogs_.shown)
      if (s.kind != QLatin1String("form")) out << s.kind + QStringLiteral(": ") + s.caption + QStringLiteral(": ") + s.text;
    return out;
  }
  QStringList Forms() const {
    QStringList out;
    for (const auto& s : dialogs_.shown)
      if (s.kind == QLatin1String("form")) out << s.text;
    return out;
  }
  QString Link(const char* name) const { return dir_.File(QString::fromLatin1(name)); }

  DataDir dir_;
  ScriptedDialogs dialogs_;
};

TEST_F(PracticeLine, ANewUserSendsThePracticeFaxAndSeesItArriveWithoutAnyQuestion) {
  QElapsedTimer firstStart;
  firstStart.start();
  // The quick setup: the user reads the three ways and takes the last, by the keyboard's choice.
  dialogs_.forms.push_back([](QDialog* d) {
    auto* way = d->findChild<QRadioButton*>(QStringLiteral("WayPractice"));
    EXPECT_NE(way, nullptr);
    if (!way) return int(QDialog::Rejected);
    EXPECT_FALSE(way->accessibleName().isEmpty());
    way->setFocus();
    way->click();
    d->findChild<QLineEdit*>(QStringLiteral("Name"))->setText(QStringLiteral("Ann Smith"));
    return test::AcceptForm(d);
  });
  auto w = Start();
  ASSERT_TRUE(w->TablesOpen());
  EXPECT_EQ(Forms(), QStringList{QStringLiteral("QuickSetupForm")});
  EXPECT_EQ(Unasked(), QStringList());  // above all no reindex question
  ASSERT_TRUE(w->PracticeLineRunning());
  EXPECT_TRUE(Settings().PracticeLine);
  EXPECT_TRUE(core::TIniFile(SettingsFileName(dir_.StdPath())).ReadBool("PracticeLine", "On", false));
  auto* note = w->findChild<QLabel*>(QStringLiteral("PracticeLineNote"));
  ASSERT_NE(note, nullptr);
  EXPECT_TRUE(note->isVisible());
  EXPECT_EQ(note->text(), QString::fromLatin1(kPracticeLineNote));
  EXPECT_TRUE(w->windowTitle().contains(QString::fromLatin1(kPracticeLineNote)));
  // The two ends are the program's own modems, on ports of their own.
  EXPECT_EQ(comm::PortDevicePath(kPracticeSendCom), Link("practice-send.modem").toStdString());
  EXPECT_EQ(comm::PortDevicePath(kPracticeReceiveCom), Link("practice-receive.modem").toStdString());

  // Receive mode is on and the practice fax waits, selected, in the Outgoing list.
  EXPECT_TRUE(w->ReceiveMode());
  EXPECT_EQ(w->CurrentPage(), int(TMainScreen::kOutgoingPage));
  TablePair& fax = w->Store().Pair(TableId::Fax);
  ASSERT_TRUE(w->Store().HasRecord(TableId::Fax));
  EXPECT_EQ(fax.FieldString("SUBJECT"), "Practice fax");
  EXPECT_EQ(fax.FieldString("RECIPIENT"), "Ann Smith (practice line)");
  EXPECT_EQ(w->findChild<QTableView*>(QStringLiteral("FaxGrid"))->model()->rowCount(), 1);
  auto* send = w->findChild<QToolButton*>(QStringLiteral("SendButton"));
  ASSERT_TRUE(send->isEnabled());

  // Send: the Send Fax dialog's "Send Fax Now" while receive mode listens on the other end.
  dialogs_.Clear();
  test::SendRun run;
  test::ScriptSend(dialogs_, run, 150);
  send->click();
  EXPECT_TRUE(run.ended);
  EXPECT_TRUE(run.summary.contains(QStringLiteral("(practice line)"))) << run.summary.toStdString();
  EXPECT_TRUE(fax.FieldBool("SENT")) << fax.FieldString("LASTRESULT");
  // The fax arrives in the Incoming list, receive mode staying on throughout.
  auto* incoming = w->findChild<QTableView*>(QStringLiteral("RecFaxGrid"));
  ASSERT_TRUE(WaitFor([&] { return incoming->model()->rowCount() == 1 && !w->ReceivingNow(); }, 60000))
      << "nothing arrived";
  const double seconds = firstStart.elapsed() / 1000.0;
  std::printf("practice fax sent and received %.1f s after the first start\n", seconds);
  EXPECT_TRUE(w->ReceiveMode());
  TablePair& rec = w->Store().Pair(TableId::Rec);
  EXPECT_GE(rec.FieldInt("PAGES"), 1);
  const QString file = dir_.File(QStringLiteral("receive/")) + QString::fromStdString(rec.FieldString("FAXFILE")).trimmed();
  EXPECT_TRUE(QFileInfo(file).isFile()) << file.toStdString();
  EXPECT_EQ(Forms(), QStringList{QStringLiteral("SendFaxForm")});
  for (const QString& s : Unasked()) EXPECT_TRUE(s.startsWith(QStringLiteral("info: "))) << s.toStdString();

  // Help > About: the version, where the data lives, and the line.
  dialogs_.Clear();
  QStringList about;
  dialogs_.forms.push_back([&about](QDialog* d) {
    about = Labels(*d);
    return int(QDialog::Accepted);
  });
  w->findChild<QAction*>(QStringLiteral("About1"))->trigger();
  EXPECT_TRUE(about.contains(QStringLiteral("Version ") + QString::fromLatin1(core::kProductVersion)));
  EXPECT_TRUE(about.contains(QStringLiteral("Data directory: ") + dir_.Path()));
  EXPECT_TRUE(about.contains(QStringLiteral("Line in use: ") + QString::fromLatin1(kPracticeLineNote)))
      << about.join(QLatin1Char('|')).toStdString();

  // Closing stops the pair: its links go, and the ports lead nowhere of its.
  w->close();
  w.reset();
  EXPECT_FALSE(QFileInfo::exists(Link("practice-send.modem")));
  EXPECT_FALSE(QFileInfo::exists(Link("practice-receive.modem")));
  EXPECT_NE(comm::PortDevicePath(kPracticeSendCom), Link("practice-send.modem").toStdString());

  // The next start asks nothing, takes the practice line up again and adds no second practice fax.
  dialogs_.Clear();
  Settings() = TSettings();
  w = Start();
  EXPECT_TRUE(dialogs_.shown.empty());
  EXPECT_TRUE(w->PracticeLineRunning());
  EXPECT_FALSE(w->ReceiveMode());
  EXPECT_EQ(w->Store().Pair(TableId::Fax).QueryRecCount(), 1);

  // Preferences: picking a modem's port leaves the practice line.
  dialogs_.forms.push_back([](QDialog* d) {
    auto* practice = d->findChild<QCheckBox*>(QStringLiteral("chkPracticeLine"));
    EXPECT_NE(practice, nullptr);
    if (!practice) return int(QDialog::Rejected);
    EXPECT_TRUE(practice->isChecked());
    d->findChild<QRadioButton*>(QStringLiteral("ComPort1"))->click();
    EXPECT_FALSE(practice->isChecked());
    return int(QDialog::Accepted);
  });
  w->findChild<QAction*>(QStringLiteral("mnuPreferences"))->trigger();
  EXPECT_FALSE(w->PracticeLineRunning());
  EXPECT_FALSE(Settings().PracticeLine);
  EXPECT_EQ(Settings().ComPort, 1);
  EXPECT_FALSE(w->findChild<QLabel*>(QStringLiteral("PracticeLineNote"))->isVisible());
  EXPECT_EQ(w->windowTitle(), QStringLiteral("Quorvane"));
  EXPECT_TRUE(WaitFor([&] { return !QFileInfo::exists(Link("practice-send.modem")); }, 5000));
  w->close();
}

}  // namespace
}  // namespace qv::app
