#include "app/forms/quick_setup.h"

#include "app/forms/dialog_service.h"
#include "app/store/settings.h"
#include "core/file_util.h"
#include "core/ini_file.h"
#include "test_support.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

using test::DataDir;
using test::ScriptedDialogs;

class QuickSetup : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    Settings() = TSettings();
    ini_ = SettingsFileName(dir_.StdPath());
  }
  DataDir dir_;
  std::string ini_;
  ScriptedDialogs dialogs_;
};

TEST_F(QuickSetup, FormShowsItsTextsAndTheModemSearch) {
  TQuickSetupForm form;
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Quick Setup Form"));
  QStringList texts;
  for (QLabel* label : form.findChildren<QLabel*>()) texts << label->text();
  EXPECT_TRUE(texts.contains(QStringLiteral(
      "Which communications port is your modem on? It is usually COM1 or COM2. (Click on the "
      "Find Modem Port button for assistance.)")));
  EXPECT_TRUE(texts.contains(
      QStringLiteral("Enter your name and fax number for identifying your sent faxes:")));
  EXPECT_TRUE(texts.contains(QStringLiteral("(Note: these are optional fields)")));
  auto* find = form.findChild<QPushButton*>(QStringLiteral("FindModemPort"));
  ASSERT_NE(find, nullptr);
  EXPECT_FALSE(find->isHidden());
  auto* ports = form.findChild<QGroupBox*>(QStringLiteral("ComPort"));
  ASSERT_NE(ports, nullptr);
  EXPECT_EQ(ports->findChildren<QRadioButton*>().size(), 6);
  EXPECT_EQ(form.findChild<QLineEdit*>(QStringLiteral("Name"))->maxLength(), 35);
  EXPECT_EQ(form.findChild<QLineEdit*>(QStringLiteral("FaxNumber"))->maxLength(), 20);
}

TEST_F(QuickSetup, OkStoresTheChoicesAndSaves) {
  core::TIniFile(ini_).WriteString("User", "Name", "Old Name");
  dialogs_.forms.push_back([](QDialog* d) {
    auto* form = static_cast<TQuickSetupForm*>(d);
    EXPECT_EQ(form->PortIndex(), -1);  // the port was never set
    EXPECT_EQ(form->findChild<QLineEdit*>(QStringLiteral("Name"))->text(), QStringLiteral("Old Name"));
    form->findChild<QRadioButton*>(QStringLiteral("Com3"))->setChecked(true);
    form->findChild<QLineEdit*>(QStringLiteral("Name"))->setText(QStringLiteral("Ann Smith"));
    form->findChild<QLineEdit*>(QStringLiteral("FaxNumber"))->setText(QStringLiteral("555 0199"));
    form->findChild<QCheckBox*>(QStringLiteral("chkSM56"))->setChecked(true);
    return int(QDialog::Accepted);
  });
  SetPollingMode(false);
  EXPECT_TRUE(RunQuickSetup(nullptr, ini_));
  EXPECT_TRUE(PollingMode());
  TSettings back;
  LoadSettings(back, ini_);
  EXPECT_EQ(back.ComPort, 2);
  EXPECT_EQ(back.Name, "Ann Smith");
  EXPECT_EQ(back.Fax, "555 0199");
  EXPECT_TRUE(back.UseMotorolaSM56Fix);
}

TEST_F(QuickSetup, OkWithoutAPortStoresCom1SoItIsNotDueAgain) {
  dialogs_.forms.push_back([](QDialog*) { return int(QDialog::Accepted); });
  EXPECT_TRUE(RunQuickSetup(nullptr, ini_));
  EXPECT_EQ(core::TIniFile(ini_).ReadInteger("Modem", "ComPort", -1), 0);
}

TEST_F(QuickSetup, CancelChangesNothing) {
  core::TIniFile(ini_).WriteInteger("Modem", "ComPort", 1);
  dialogs_.forms.push_back([](QDialog* d) {
    auto* form = static_cast<TQuickSetupForm*>(d);
    EXPECT_EQ(form->PortIndex(), 1);
    form->SetPortIndex(4);
    form->findChild<QLineEdit*>(QStringLiteral("Name"))->setText(QStringLiteral("X"));
    return int(QDialog::Rejected);
  });
  EXPECT_FALSE(RunQuickSetup(nullptr, ini_));
  core::TIniFile ini(ini_);
  EXPECT_EQ(ini.ReadInteger("Modem", "ComPort", -1), 1);
  EXPECT_FALSE(ini.ValueExists("User", "Name"));
}

TEST_F(QuickSetup, AnUnwritableSettingsFileIsReportedAndTheRunGoesOn) {
  const std::string blocker = dir_.StdPath() + "plain";
  ASSERT_TRUE(core::AtomicWriteFile(blocker, "x"));
  const std::string ini = blocker + "/" + kSettingsFileName;
  dialogs_.forms.push_back([](QDialog* d) {
    d->findChild<QLineEdit*>(QStringLiteral("Name"))->setText(QStringLiteral("Ann Smith"));
    return int(QDialog::Accepted);
  });
  bool ok = false;
  EXPECT_NO_THROW(ok = RunQuickSetup(nullptr, ini));
  EXPECT_TRUE(ok);
  EXPECT_EQ(dialogs_.Infos(), QStringList{QString::fromStdString("Unable to write to " + ini)});
  EXPECT_EQ(Settings().Name, "Ann Smith");  // the choices hold for this run
}

// The three ways to go on: each is a radio button named for a screen reader and described in
// plain words; only the chosen way's controls take input, and what is stored follows the choice.
TEST_F(QuickSetup, ThreeWaysAreOfferedAndOnlyTheChosenOneTakesInput) {
  TQuickSetupForm form;
  const char* ways[] = {"WayModem", "WayInternet", "WayPractice"};
  for (const char* name : ways) {
    auto* way = form.findChild<QRadioButton*>(QString::fromLatin1(name));
    ASSERT_NE(way, nullptr) << name;
    EXPECT_FALSE(way->accessibleName().isEmpty()) << name;
    EXPECT_FALSE(way->accessibleDescription().isEmpty()) << name;
  }
  EXPECT_EQ(form.findChild<QRadioButton*>(QStringLiteral("WayPractice"))->accessibleName(),
            QStringLiteral("Try it without either"));
  auto* ports = form.findChild<QGroupBox*>(QStringLiteral("ComPort"));
  auto* line = form.findChild<QGroupBox*>(QStringLiteral("InternetLine"));
  auto* lineUse = line->findChild<QCheckBox*>(QStringLiteral("chkInternetLine"));
  // A new user starts on the modem, as before.
  EXPECT_EQ(form.ChosenWay(), TQuickSetupForm::kModemWay);
  EXPECT_TRUE(ports->isEnabled());
  EXPECT_FALSE(line->isEnabled());

  form.findChild<QRadioButton*>(QStringLiteral("WayPractice"))->click();
  EXPECT_FALSE(ports->isEnabled());
  EXPECT_FALSE(line->isEnabled());
  TSettings s;
  form.Store(s);
  EXPECT_TRUE(s.PracticeLine);
  EXPECT_FALSE(lineUse->isChecked());

  // The Internet line's own switch and the way are one.
  form.findChild<QRadioButton*>(QStringLiteral("WayInternet"))->click();
  EXPECT_TRUE(line->isEnabled());
  EXPECT_TRUE(lineUse->isChecked());
  form.Store(s);
  EXPECT_FALSE(s.PracticeLine);
  // Back to the modem: the line is off, and a port can be picked.
  form.findChild<QRadioButton*>(QStringLiteral("WayModem"))->click();
  EXPECT_FALSE(lineUse->isChecked());
  EXPECT_FALSE(line->isEnabled());
  form.findChild<QRadioButton*>(QStringLiteral("Com2"))->click();
  form.Store(s);
  EXPECT_EQ(s.ComPort, 1);
  EXPECT_FALSE(s.PracticeLine);
}

// The ways are one group for the keyboard: the arrow keys go from one to the next and take it.
TEST_F(QuickSetup, TheWaysAreChosenWithTheArrowKeys) {
  TQuickSetupForm form;
  form.show();
  form.activateWindow();
  QCoreApplication::processEvents();
  auto* modem = form.findChild<QRadioButton*>(QStringLiteral("WayModem"));
  modem->setFocus();
  ASSERT_TRUE(modem->hasFocus());
  for (QWidget* at : {static_cast<QWidget*>(modem), form.findChild<QWidget*>(QStringLiteral("WayInternet"))}) {
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(at, &down);
  }
  EXPECT_EQ(form.ChosenWay(), TQuickSetupForm::kPracticeWay);
  EXPECT_TRUE(form.findChild<QRadioButton*>(QStringLiteral("WayPractice"))->hasFocus());
}

TEST_F(QuickSetup, ThePracticeLineIsStoredInItsOwnSectionAndShownAgain) {
  dialogs_.forms.push_back([](QDialog* d) {
    d->findChild<QRadioButton*>(QStringLiteral("WayPractice"))->click();
    return int(QDialog::Accepted);
  });
  ASSERT_TRUE(RunQuickSetup(nullptr, ini_));
  core::TIniFile ini(ini_);
  EXPECT_TRUE(ini.ReadBool("PracticeLine", "On", false));
  EXPECT_EQ(ini.ReadInteger("Modem", "ComPort", -1), 0);  // the modem's key keeps its meaning
  EXPECT_TRUE(Settings().PracticeLine);
  // The next run of the setup shows the way taken, whatever the Internet line's section says.
  ini.WriteBool("InternetLine", "Enabled", true);
  dialogs_.forms.push_back([](QDialog* d) {
    EXPECT_EQ(static_cast<TQuickSetupForm*>(d)->ChosenWay(), TQuickSetupForm::kPracticeWay);
    return int(QDialog::Rejected);
  });
  EXPECT_FALSE(RunQuickSetup(nullptr, ini_));
}

}  // namespace
}  // namespace qv::app
