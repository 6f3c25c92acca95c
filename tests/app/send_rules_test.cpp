// The Send Fax dialog's rules that need no modem: dial wait, header line, configuration summary,
// the send log, and the form's controls.
#include "app/forms/send_fax_form.h"

#include "app/flows/call_settings.h"
#include "app/store/settings.h"
#include "comm/com_port.h"
#include "fax/send_fax.h"
#include "ui/fax_status_window.h"
#include "test_support.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

TEST(SendRules, DialWaitComesFromTheS7RegisterOfTheInitString) {
  EXPECT_EQ(DialWaitFromInit(""), 60);
  EXPECT_EQ(DialWaitFromInit("ATX4&K3"), 60);
  EXPECT_EQ(DialWaitFromInit("ATS7=90"), 90);
  EXPECT_EQ(DialWaitFromInit("at&fs7=90x4"), 90);  // case does not matter
  EXPECT_EQ(DialWaitFromInit("ATS7=30"), 55);      // never shorter than 55
  EXPECT_EQ(DialWaitFromInit("ATS7=1"), 55);
  EXPECT_EQ(DialWaitFromInit("ATS7=120S0=0"), 120);
  EXPECT_EQ(DialWaitFromInit("ATS7=2550"), 255);  // three digits at most
  EXPECT_EQ(DialWaitFromInit("ATS7=X"), 60);      // no digits after it
  EXPECT_EQ(DialWaitFromInit("ATS7="), 60);
  EXPECT_EQ(DialWaitFromInit("ATS7=9X5"), 60);  // not a number
  EXPECT_EQ(DialWaitFromInit("ATS7=75&"), 75);  // what follows the digits is dropped
}

TEST(SendRules, HeaderLineNamesTheSenderWhenKnown) {
  const QDate date(2026, 12, 9);
  const QTime time(14, 5);
  const QLocale l = QLocale::system();
  const QString tail = QString(11, u' ') + l.toString(date, QLocale::ShortFormat) + QString(4, u' ') +
                       l.toString(time, QLocale::ShortFormat) + QStringLiteral("              Page $P of $N");
  TSettings s;
  EXPECT_EQ(SendHeaderLine(s, date, time), QStringLiteral("Sent") + tail);
  s.Name = "Ann Example";
  EXPECT_EQ(SendHeaderLine(s, date, time), QStringLiteral("Sent by: Ann Example    ") + tail);
  s.Fax = "555 0199";
  EXPECT_EQ(SendHeaderLine(s, date, time),
            QStringLiteral("Sent by: Ann Example             $I          ") + tail);
  s.Name.clear();
  EXPECT_EQ(SendHeaderLine(s, date, time), QStringLiteral("Sent by         $I          ") + tail);
  s.Fax = "   ";  // blank together with the name: no " by", but the tag stays
  EXPECT_EQ(SendHeaderLine(s, date, time), QStringLiteral("Sent         $I          ") + tail);
}

TEST(SendRules, ConfigurationSummaryListsTheSettingsInUse) {
  TSettings s;
  s.ComPort = 1;
  s.FaxClass = 0;
  s.MaximumBPS = 14400;
  s.ToneOrPulse = 1;
  s.InitString = "ATX4";
  s.ResetString = "ATZ";
  s.ResetAfterString = "";
  s.Fax = "555 0199";
  s.DialAttempts = 5;
  s.RetryWait = 45;
  const QStringList base = {QStringLiteral("Communications Port: COM2"), QStringLiteral("Fax Class: Autodetect"),
                            QStringLiteral("Transfer Rate: 14400"),      QStringLiteral("Dialing with: Pulse"),
                            QStringLiteral("Modem Init String :ATX4"),   QStringLiteral("Modem Reset String :ATZ"),
                            QStringLiteral("Post Reset String :"),       QStringLiteral("Station ID (Fax #) :555 0199"),
                            QStringLiteral("Dial Attempts :5"),          QStringLiteral("Retry in :45 seconds")};
  EXPECT_EQ(SendConfigurationSummary(s), base);
  s.FaxClass = 3;
  s.ToneOrPulse = 0;
  s.BlindDial = s.IgnoreBusy = s.ECM = true;
  const QStringList all = SendConfigurationSummary(s);
  ASSERT_EQ(all.size(), 13);
  EXPECT_EQ(all[1], QStringLiteral("Fax Class: Class 2.0"));
  EXPECT_EQ(all[3], QStringLiteral("Dialing with: Tone"));
  EXPECT_EQ(all.mid(10), (QStringList{QStringLiteral("Blind Dial is ACTIVE"), QStringLiteral("Ignore Busy is ACTIVE"),
                                      QStringLiteral("Using Error Correction")}));
}

// Sending and receive mode share the modem's port; the practice line's ends are two ports of
// their own, so a send there needs no step aside of receive mode, and the modem's setting stays.
TEST(SendRules, ThePracticeLineSendsAndReceivesOnItsOwnTwoPorts) {
  TSettings s;
  s.ComPort = 2;
  EXPECT_EQ(SendCallSettings(s, QStringLiteral("1"), std::nullopt, std::nullopt).comNumber, 3);
  EXPECT_EQ(ReceiveCallSettings(s).comNumber, 3);
  EXPECT_TRUE(SendSharesReceivePort(s));
  s.PracticeLine = true;
  EXPECT_EQ(SendCallSettings(s, QStringLiteral("1"), std::nullopt, std::nullopt).comNumber, kPracticeSendCom);
  EXPECT_EQ(ReceiveCallSettings(s).comNumber, kPracticeReceiveCom);
  EXPECT_FALSE(SendSharesReceivePort(s));
  EXPECT_GT(kPracticeSendCom, 6);  // beyond the ports a modem is chosen from
  EXPECT_EQ(SendConfigurationSummary(s)[0], QStringLiteral("Communications Port: COM%1 (practice line)").arg(kPracticeSendCom));
  EXPECT_EQ(s.ComPort, 2);
}

TEST(SendRules, LogSkipsRepeatsAndSavesWithTheFinishTime) {
  test::App();
  test::DataDir dir;
  const std::string path = dir.StdPath() + kSendLogFile;
  TSessionLog log(TSessionLog::kSend);
  log.Add(QStringLiteral("Start:x"));
  log.Add(QStringLiteral("Checking for modem"));
  log.Add(QStringLiteral("Checking for modem"));
  log.Add(QStringLiteral("Opened"));
  log.Add(QStringLiteral("Checking for modem"));  // only a direct repeat is dropped
  EXPECT_EQ(log.Lines().size(), 4);
  QFile old(QString::fromStdString(path));
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write("an older session that is much longer than this one\r\n");
  old.close();
  log.Save(path);
  QFile f(QString::fromStdString(path));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromLocal8Bit(f.readAll()).split(QStringLiteral("\r\n"));
  ASSERT_EQ(lines.size(), 6);  // four, the finish line, and the empty rest after the last CR LF
  EXPECT_EQ(lines[3], QStringLiteral("Checking for modem"));
  EXPECT_TRUE(lines[4].startsWith(QStringLiteral("Finish: ")));
  EXPECT_EQ(lines[5], QString());
  // A folder that cannot be written is no error of the fax.
  log.Save("/nonexistent-folder/" + std::string(kSendLogFile));
  log.Clear();
  EXPECT_TRUE(log.Lines().isEmpty());
  EXPECT_EQ(WithAtPrefix("X4"), "ATX4");
  EXPECT_EQ(WithAtPrefix("at&f"), "at&f");
}

TEST(SendFaxFormControls, TextsHintsAndNamesAreThere) {
  test::App();
  test::DataDir dir;
  Settings() = TSettings();
  Settings().DialPrefix = "9,";
  Settings().DialSuffix = "#12";
  Settings().SuffixDisable = true;
  TSendSession session(dir.Path());
  TSendFaxForm form(session);
  form.SetRecipient(QStringLiteral("Ann Example"));
  form.SetSubject(QStringLiteral("Figures"));
  form.SetPhoneNumber(QStringLiteral("5550100"));
  form.LoadDialing();
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Send Fax"));
  EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
  form.show();
  auto* number = form.findChild<QLineEdit*>(QStringLiteral("sfPhoneNumber"));
  ASSERT_NE(number, nullptr);
  EXPECT_EQ(number->text(), QStringLiteral("5550100"));  // shown on the first activation
  EXPECT_EQ(number->toolTip(), QStringLiteral("Enter the recipient phone # here"));
  EXPECT_EQ(form.findChild<QLineEdit*>(QStringLiteral("sfDialPrefix"))->text(), QStringLiteral("9,"));
  EXPECT_EQ(form.findChild<QLineEdit*>(QStringLiteral("sfDialsuffix"))->text(), QStringLiteral("#12"));
  EXPECT_FALSE(form.findChild<QCheckBox*>(QStringLiteral("DisablePrefix"))->isChecked());
  EXPECT_TRUE(form.findChild<QCheckBox*>(QStringLiteral("DisableSuffix"))->isChecked());
  EXPECT_EQ(form.findChild<QLabel*>(QStringLiteral("ToLabel"))->text(), QStringLiteral("To: Ann Example"));
  EXPECT_EQ(form.findChild<QPlainTextEdit*>(QStringLiteral("SetupDisplayMemo"))->toPlainText().split(u'\n'),
            SendConfigurationSummary(Settings()));
  const std::pair<const char*, const char*> buttons[] = {
      {"SendFaxButton", "&Send Fax Now"}, {"PreferencesButton", "Preferences"}, {"Helpbutton", "&Help"},
      {"ProblemSolverButton", "Technical Help"}, {"CloseButton", "C&lose"}};
  for (auto [name, caption] : buttons) {
    auto* b = form.findChild<QPushButton*>(QString::fromLatin1(name));
    ASSERT_NE(b, nullptr) << name;
    EXPECT_EQ(b->text(), QString::fromLatin1(caption));
  }
  for (QWidget* w : form.findChildren<QWidget*>()) {
    if (qobject_cast<QLineEdit*>(w) || qobject_cast<QPushButton*>(w) || qobject_cast<QCheckBox*>(w) ||
        qobject_cast<QPlainTextEdit*>(w)) {
      EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
    }
  }
  // The transmit component as the dialog holds it before any send.
  EXPECT_EQ(form.SendFax().FaxFileExt, "QVF");
  EXPECT_TRUE(form.SendFax().EnhTextEnabled);
  EXPECT_EQ(form.SendFax().StatusDisplay(), static_cast<fax::TQvAbstractFaxStatus*>(&form.FaxStatus()));
  // A blank number is refused before anything opens.
  test::ScriptedDialogs dialogs;
  number->setText(QStringLiteral("   "));
  form.SendFaxButtonClick();
  EXPECT_EQ(dialogs.Infos(), QStringList{QStringLiteral("Phone number is blank")});
  EXPECT_FALSE(form.Sending());
  EXPECT_FALSE(form.Port().Open());
  // Prefix, suffix and the boxes go back into the settings as edited.
  form.findChild<QLineEdit*>(QStringLiteral("sfDialsuffix"))->setText(QStringLiteral("#34"));
  TSettings back;
  form.StoreDialing(back);
  EXPECT_EQ(back.DialPrefix, "9,");
  EXPECT_EQ(back.DialSuffix, "#34");
  EXPECT_TRUE(back.SuffixDisable);
}

}  // namespace
}  // namespace qv::app
