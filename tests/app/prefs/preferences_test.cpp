// The preferences wizard: controls from and back to the settings record, validation, Cancel,
// Finish and the settings file, and the modem dialogs it opens.

#include "app/forms/check_fax_class_form.h"
#include "app/forms/dialog_service.h"
#include "app/forms/find_modem_form.h"
#include "app/forms/help_browser.h"
#include "app/flows/message_pump.h"
#include "app/forms/preferences.h"
#include "app/store/settings.h"
#include "comm/com_port.h"
#include "comm/port_names.h"
#include "core/file_util.h"
#include "modem_fixture.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

using test::ModemLab;
using test::ScriptedDialogs;

template <class W>
W* Find(QWidget& form, const char* name) {
  W* w = form.findChild<W*>(QString::fromLatin1(name));
  EXPECT_NE(w, nullptr) << name;
  return w;
}

void Click(QWidget& form, const char* name) { Find<QAbstractButton>(form, name)->click(); }

// The radio position chosen in a group box.
int Chosen(QWidget& form, const char* box) {
  const auto radios = Find<QGroupBox>(form, box)->findChildren<QRadioButton*>();
  for (int i = 0; i < radios.size(); ++i)
    if (radios[i]->isChecked()) return i;
  return -1;
}

void Choose(QWidget& form, const char* box, int position) {
  Find<QGroupBox>(form, box)->findChildren<QRadioButton*>()[position]->setChecked(true);
}

// A record in which every setting the wizard shows differs from its default.
TSettings Unusual() {
  TSettings s;
  s.ComPort = 3;
  s.FaxClass = 2;
  s.FaxClassReceive = 3;
  s.MaximumBPS = 14400;
  s.MaximumBPSReceive = 4800;
  s.InitString = "X3";
  s.InitStringReceive = "S7=65";
  s.RenegotiateBetween = true;
  s.DialPrefix = "9,";
  s.DialSuffix = "#";
  s.DialAttempts = 5;
  s.RetryWait = 120;
  s.ToneOrPulse = 1;
  s.BlindDial = true;
  s.IgnoreBusy = true;
  s.ECM = true;
  s.ECMReceive = false;
  s.AtStartup = true;
  s.AnswerOnRing = 3;
  s.Wav = "/tmp/ring.wav";
  s.PrintOnReceipt = true;
  s.DisableReceivingFaxesNotification = true;
  s.Fax = "+1 555 0100";
  s.Name = "Ada Lovelace";
  s.ResetString = "AT&F";
  s.ResetAfterString = "ATZ";
  s.UseMotorolaSM56Fix = true;
  s.ImposeWaitBeforePrinting = true;
  s.UseAlternateHeaderFont = true;
  s.GlobalUseAlternateNamingRec = true;
  return s;
}

// The settings the wizard owns, compared field by field.
void ExpectSameWizardSettings(const TSettings& a, const TSettings& b) {
  EXPECT_EQ(a.ComPort, b.ComPort);
  EXPECT_EQ(a.FaxClass, b.FaxClass);
  EXPECT_EQ(a.FaxClassReceive, b.FaxClassReceive);
  EXPECT_EQ(a.MaximumBPS, b.MaximumBPS);
  EXPECT_EQ(a.MaximumBPSReceive, b.MaximumBPSReceive);
  EXPECT_EQ(a.InitString, b.InitString);
  EXPECT_EQ(a.InitStringReceive, b.InitStringReceive);
  EXPECT_EQ(a.RenegotiateBetween, b.RenegotiateBetween);
  EXPECT_EQ(a.DialPrefix, b.DialPrefix);
  EXPECT_EQ(a.DialSuffix, b.DialSuffix);
  EXPECT_EQ(a.DialAttempts, b.DialAttempts);
  EXPECT_EQ(a.RetryWait, b.RetryWait);
  EXPECT_EQ(a.ToneOrPulse, b.ToneOrPulse);
  EXPECT_EQ(a.Timeout, b.Timeout);
  EXPECT_EQ(a.BlindDial, b.BlindDial);
  EXPECT_EQ(a.IgnoreBusy, b.IgnoreBusy);
  EXPECT_EQ(a.ECM, b.ECM);
  EXPECT_EQ(a.ECMReceive, b.ECMReceive);
  EXPECT_EQ(a.AtStartup, b.AtStartup);
  EXPECT_EQ(a.AnswerOnRing, b.AnswerOnRing);
  EXPECT_EQ(a.Wav, b.Wav);
  EXPECT_EQ(a.PrintOnReceipt, b.PrintOnReceipt);
  EXPECT_EQ(a.PrintOnReceiptPrinter, b.PrintOnReceiptPrinter);
  EXPECT_EQ(a.DisableReceivingFaxesNotification, b.DisableReceivingFaxesNotification);
  EXPECT_EQ(a.Fax, b.Fax);
  EXPECT_EQ(a.Name, b.Name);
  EXPECT_EQ(a.ResetString, b.ResetString);
  EXPECT_EQ(a.ResetAfterString, b.ResetAfterString);
  EXPECT_EQ(a.UseMotorolaSM56Fix, b.UseMotorolaSM56Fix);
  EXPECT_EQ(a.ImposeWaitBeforePrinting, b.ImposeWaitBeforePrinting);
  EXPECT_EQ(a.UseAlternateHeaderFont, b.UseAlternateHeaderFont);
  EXPECT_EQ(a.GlobalUseAlternateNamingRec, b.GlobalUseAlternateNamingRec);
}

std::string FileBytes(const std::string& path) {
  std::string bytes;
  core::ReadWholeFile(path, bytes);
  return bytes;
}

class Wizard : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    ConnectMessageLoop();
  }
  // Runs ShowPreferences with a script that works the wizard and then finishes (or not).
  bool Run(std::function<void(TPreferences&)> work, bool finish, bool saveAnswer = true) {
    dialogs_.forms.push_back([work, finish, saveAnswer, this](QDialog* d) {
      auto& wizard = *static_cast<TPreferences*>(d);
      work(wizard);
      if (!finish) return int(QDialog::Rejected);
      dialogs_.answers.push_back(saveAnswer);
      wizard.SetCurrentPage(kPreferencePages - 1);
      Click(wizard, "Finishbutton");
      return wizard.result();
    });
    return ShowPreferences(nullptr, lab_.Ini());
  }

  ModemLab lab_;
  ScriptedDialogs dialogs_;
};

TEST_F(Wizard, ShowsTheRecordAndFinishingUnchangedWritesItBack) {
  Settings() = Unusual();
  Settings().MaximumBPSReceive = 8000;  // none of the six: shows and saves as 9600
  Settings().PrintOnReceiptPrinter = "A printer long gone";
  const TSettings before = Settings();
  ASSERT_TRUE(Run(
      [](TPreferences& w) {
        EXPECT_EQ(w.windowTitle(), QStringLiteral("Preferences Wizard"));
        EXPECT_EQ(Chosen(w, "ComPort"), 3);
        EXPECT_EQ(Chosen(w, "FaxClass"), 2);
        EXPECT_EQ(Chosen(w, "FaxClassReceive"), 3);
        EXPECT_EQ(Chosen(w, "ToneOrPulse"), 1);
        EXPECT_EQ(Chosen(w, "AnswerOnRing"), 2);  // the third button
        EXPECT_EQ(Find<QComboBox>(w, "TransferRate")->currentText(), QStringLiteral("14400"));
        EXPECT_EQ(Find<QComboBox>(w, "TransferRateReceive")->currentText(), QStringLiteral("9600"));
        EXPECT_EQ(Find<QLineEdit>(w, "DialAttempts")->text(), QStringLiteral("5"));
        EXPECT_EQ(Find<QLineEdit>(w, "RetryWait")->text(), QStringLiteral("120"));
        EXPECT_EQ(Find<QLineEdit>(w, "Name")->text(), QStringLiteral("Ada Lovelace"));
        EXPECT_EQ(Find<QLineEdit>(w, "FaxNumber")->maxLength(), 20);
        EXPECT_EQ(Find<QLineEdit>(w, "Name")->maxLength(), 35);
        EXPECT_TRUE(Find<QCheckBox>(w, "chkSM56")->isChecked());
        EXPECT_EQ(Find<QComboBox>(w, "PrintFaxOnReceiptPrinter")->currentText(),
                  QString::fromLatin1(kDefaultPrinterEntry));
      },
      true));
  TSettings expected = before;
  expected.MaximumBPSReceive = 9600;
  expected.PrintOnReceiptPrinter = kDefaultPrinterEntry;
  ExpectSameWizardSettings(Settings(), expected);
  // A fresh start reads back exactly what the wizard left in the record.
  TSettings fresh;
  LoadSettings(fresh, lab_.Ini());
  ExpectSameWizardSettings(fresh, Settings());
  ASSERT_EQ(dialogs_.Count(QStringLiteral("question")), 1);
  EXPECT_EQ(dialogs_.shown[1].caption, QStringLiteral("Save Preferences"));
  EXPECT_EQ(dialogs_.shown[1].text, QStringLiteral("Save changes?"));
}

TEST_F(Wizard, EveryChangedControlReachesTheFileAndAFreshLoad) {
  Settings() = TSettings{};
  Settings().ComPort = 0;
  ASSERT_TRUE(Run(
      [](TPreferences& w) {
        Choose(w, "ComPort", 2);
        Choose(w, "ToneOrPulse", 1);
        Find<QLineEdit>(w, "ResetString")->setText("AT&F");
        Find<QLineEdit>(w, "ResetAfterString")->setText("ATZ");
        Choose(w, "FaxClass", 3);
        Find<QComboBox>(w, "TransferRate")->setCurrentIndex(1);
        Find<QLineEdit>(w, "ModemInit")->setText("S7=90");
        Click(w, "SameClassButton");
        Click(w, "SameRateButton");
        Click(w, "SameInitButton");
        Find<QLineEdit>(w, "FaxNumber")->setText("555 0199");
        Find<QLineEdit>(w, "Name")->setText("Grace");
        Find<QCheckBox>(w, "UseECM")->setChecked(true);
        Find<QLineEdit>(w, "DialPrefix")->setText("0");
        Find<QLineEdit>(w, "DialSuffix")->setText(";");
        Find<QLineEdit>(w, "DialAttempts")->setText("7");
        Find<QLineEdit>(w, "RetryWait")->setText(" 45 ");
        Find<QCheckBox>(w, "CheckBlindDial")->setChecked(true);
        Find<QCheckBox>(w, "CheckIgnoreBusy")->setChecked(true);
        Find<QCheckBox>(w, "RenegotiateBetween")->setChecked(true);
        Choose(w, "AnswerOnRing", 7);
        Find<QCheckBox>(w, "ReceiveAtStartup")->setChecked(true);
        Find<QCheckBox>(w, "UseECMReceive")->setChecked(true);
        Find<QLineEdit>(w, "WaveFileEdit")->setText("/x/fax.wav");
        Find<QCheckBox>(w, "PrintFaxOnReceipt")->setChecked(true);
        Find<QCheckBox>(w, "DisableReceivingFaxesNotification")->setChecked(true);
        Find<QCheckBox>(w, "ImposeWaitBeforePrinting")->setChecked(true);
        Find<QCheckBox>(w, "UseAltHeaderFont")->setChecked(true);
        Find<QCheckBox>(w, "UseAlternateNameReceive")->setChecked(true);
        Find<QComboBox>(w, "PortDevice3")->setEditText("/dev/serial/by-id/usb-Acme_Fax_Modem-if00");
        Find<QCheckBox>(w, "chkSM56")->setChecked(true);
      },
      true));
  const TSettings& s = Settings();
  EXPECT_EQ(s.ComPort, 2);
  EXPECT_EQ(s.ToneOrPulse, 1);
  EXPECT_EQ(s.FaxClass, 3);
  EXPECT_EQ(s.FaxClassReceive, 3);
  EXPECT_EQ(s.MaximumBPS, 4800);
  EXPECT_EQ(s.MaximumBPSReceive, 4800);
  EXPECT_EQ(s.InitStringReceive, "S7=90");
  EXPECT_EQ(s.RetryWait, 45);
  EXPECT_EQ(s.AnswerOnRing, 8);
  EXPECT_TRUE(PollingMode());
  TSettings fresh;
  LoadSettings(fresh, lab_.Ini());
  ExpectSameWizardSettings(fresh, s);
  // The device chosen for COM3 is what the port layer now opens for it.
  EXPECT_EQ(comm::PortDevicePath(3), "/dev/serial/by-id/usb-Acme_Fax_Modem-if00");
  EXPECT_EQ(LoadPortDevices(lab_.Ini())[0].toStdString(), lab_.Device(1));
  SetPollingMode(false);
}

TEST_F(Wizard, CancelLeavesRecordAndFileAsTheyWere) {
  Settings() = Unusual();
  SaveSettings(Settings(), lab_.Ini());
  const std::string fileBefore = FileBytes(lab_.Ini());
  const TSettings before = Settings();
  EXPECT_FALSE(Run(
      [](TPreferences& w) {
        for (QLineEdit* e : w.findChildren<QLineEdit*>()) e->setText(QStringLiteral("7"));
        for (QCheckBox* c : w.findChildren<QCheckBox*>()) c->setChecked(!c->isChecked());
        for (QGroupBox* g : w.findChildren<QGroupBox*>()) {
          const auto radios = g->findChildren<QRadioButton*>();
          if (!radios.isEmpty()) radios.front()->setChecked(true);
        }
        for (QComboBox* c : w.findChildren<QComboBox*>())
          if (c->objectName() != QLatin1String("PageCombo")) c->setCurrentIndex(0);
        Click(w, "SameInitButton");
      },
      false));
  ExpectSameWizardSettings(Settings(), before);
  EXPECT_EQ(FileBytes(lab_.Ini()), fileBefore);
  // The SM56 box acts at once, Cancel or not, until the settings are loaded or saved again.
  EXPECT_FALSE(PollingMode());
  LoadSettings(Settings(), lab_.Ini());
  EXPECT_TRUE(PollingMode());
  SetPollingMode(false);
}

TEST_F(Wizard, SaveQuestionAnsweredNoKeepsTheWizardOpen) {
  Settings() = TSettings{};
  Settings().ComPort = 0;
  dialogs_.forms.push_back([this](QDialog* d) {
    auto& w = *static_cast<TPreferences*>(d);
    dialogs_.answers.push_back(false);
    Click(w, "Finishbutton");
    EXPECT_EQ(w.result(), 0);  // not closed
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(lab_.Ini())) &&
                 FileBytes(lab_.Ini()).find("Version") != std::string::npos);
    return int(QDialog::Rejected);
  });
  EXPECT_FALSE(ShowPreferences(nullptr, lab_.Ini()));
}

TEST_F(Wizard, NonIntegerNumberStopsFinishAndLosesNothing) {
  Settings() = Unusual();
  SaveSettings(Settings(), lab_.Ini());
  const std::string fileBefore = FileBytes(lab_.Ini());
  const TSettings before = Settings();
  dialogs_.forms.push_back([this](QDialog* d) {
    auto& w = *static_cast<TPreferences*>(d);
    Find<QLineEdit>(w, "Name")->setText("Changed");
    Find<QLineEdit>(w, "RetryWait")->setText("1O");  // a letter O
    w.SetCurrentPage(0);
    Click(w, "Finishbutton");
    EXPECT_EQ(dialogs_.Count(QStringLiteral("question")), 0);  // no save question
    EXPECT_EQ(dialogs_.Count(QStringLiteral("error")), 1);
    EXPECT_EQ(dialogs_.shown.back().text, QStringLiteral("'1O' is not a valid integer value"));
    EXPECT_EQ(w.CurrentPage(), 4);  // the page of the field
    EXPECT_EQ(Find<QLineEdit>(w, "Name")->text(), QStringLiteral("Changed"));  // the edits are still there
    // StoreControls on its own refuses as well, without copying anything.
    TSettings copy = Settings();
    EXPECT_THROW(w.StoreControls(copy), EConvertError);
    ExpectSameWizardSettings(copy, Settings());
    return int(QDialog::Rejected);
  });
  EXPECT_FALSE(ShowPreferences(nullptr, lab_.Ini()));
  ExpectSameWizardSettings(Settings(), before);
  EXPECT_EQ(FileBytes(lab_.Ini()), fileBefore);
}

TEST_F(Wizard, FirstRunKeepsFinishForTheLastPage) {
  Settings() = TSettings{};
  Settings().FirstRun = true;
  Settings().ComPort = 0;
  dialogs_.forms.push_back([](QDialog* d) {
    auto& w = *static_cast<TPreferences*>(d);
    d->show();
    EXPECT_TRUE(Find<QLabel>(w, "FirstTimeLabel")->isVisible());
    for (int page = 0; page < kPreferencePages; ++page) {
      w.SetCurrentPage(page);
      EXPECT_EQ(Find<QPushButton>(w, "Finishbutton")->isEnabled(), page == kPreferencePages - 1) << page;
      EXPECT_EQ(Find<QPushButton>(w, "BackButton")->isEnabled(), page > 0);
      EXPECT_EQ(Find<QPushButton>(w, "Nextbutton")->isEnabled(), page < kPreferencePages - 1);
      EXPECT_EQ(Find<QLabel>(w, "PageLabel")->text(), w.PageText(page));
      EXPECT_EQ(Find<QComboBox>(w, "PageCombo")->currentIndex(), page);
    }
    w.SetCurrentPage(0);
    Click(w, "Nextbutton");
    Click(w, "Nextbutton");
    Click(w, "BackButton");
    EXPECT_EQ(w.CurrentPage(), 1);
    d->hide();
    return int(QDialog::Rejected);
  });
  EXPECT_FALSE(ShowPreferences(nullptr, lab_.Ini()));
  EXPECT_FALSE(Settings().FirstRun);  // handed over and cleared
  // Not a first run any more: Finish everywhere, and no first-run text.
  dialogs_.forms.push_back([](QDialog* d) {
    auto& w = *static_cast<TPreferences*>(d);
    d->show();
    EXPECT_FALSE(Find<QLabel>(w, "FirstTimeLabel")->isVisible());
    EXPECT_TRUE(Find<QPushButton>(w, "Finishbutton")->isEnabled());
    d->hide();
    return int(QDialog::Rejected);
  });
  ShowPreferences(nullptr, lab_.Ini());
}

TEST_F(Wizard, PagesOpenTheirHelpTopics) {
  EXPECT_EQ(TPreferences::PageHelpTopic(0), 1022);
  EXPECT_EQ(TPreferences::PageHelpTopic(1), 3501);
  for (int p : {2, 3, 4}) EXPECT_EQ(TPreferences::PageHelpTopic(p), 3502);
  for (int p : {5, 6, 7}) EXPECT_EQ(TPreferences::PageHelpTopic(p), 3503);
  EXPECT_EQ(TPreferences::PageHelpTopic(8), 0);
  TPreferences w(lab_.Path());
  w.SetCurrentPage(1);
  Click(w, "Helpbutton");
  ASSERT_NE(HelpWindow(), nullptr);
  EXPECT_EQ(HelpWindow()->CurrentUrl().toString(), HelpTopicUrl(3501).toString());
  Click(w, "ProblemSolverButton");
  EXPECT_EQ(HelpWindow()->CurrentUrl().toString(), HelpTopicUrl(10000).toString());
  HelpWindow()->close();
}

TEST_F(Wizard, RateListsMapTheSixRates) {
  EXPECT_EQ(RateToPosition(2400), 0);
  EXPECT_EQ(RateToPosition(14400), 5);
  EXPECT_EQ(RateToPosition(8000), 3);
  EXPECT_EQ(RateToPosition(0), 3);
  EXPECT_EQ(PositionToRate(0), 2400);
  EXPECT_EQ(PositionToRate(4), 12000);
  EXPECT_EQ(PositionToRate(-1), 9600);
  EXPECT_EQ(PositionToRate(6), 9600);
}

TEST_F(Wizard, SoundFileChoiceTakesOnlyWaveFiles) {
  class Files : public ScriptedDialogs {
   public:
    QString OpenFileName(QWidget*, const QString&, const QString& dir, const QString& filter) override {
      lastDir = dir;
      lastFilter = filter;
      return next;
    }
    QString next, lastDir, lastFilter;
  } files;
  TPreferences w(lab_.Path());
  files.next = QStringLiteral("/music/song.mp3");
  Click(w, "SelectWavButton");
  EXPECT_EQ(Find<QLineEdit>(w, "WaveFileEdit")->text(), QString());
  EXPECT_EQ(files.lastDir, lab_.Path());
  EXPECT_TRUE(files.lastFilter.contains(QStringLiteral("*.wav")));
  files.next = QStringLiteral("/sounds/Fax.WAV");
  Click(w, "SelectWavButton");
  EXPECT_EQ(Find<QLineEdit>(w, "WaveFileEdit")->text(), QStringLiteral("/sounds/Fax.WAV"));
  Click(w, "PlayWAVbutton");  // a missing file plays nothing and does not fail
  Click(w, "NoWAVButton");
  EXPECT_EQ(Find<QLineEdit>(w, "WaveFileEdit")->text(), QString());
}

TEST_F(Wizard, FindModemOffersThePortItFound) {
  ASSERT_TRUE(lab_.Modem(2).Ready());
  Settings() = TSettings{};
  Settings().ComPort = 0;
  TPreferences w(lab_.Path());
  w.LoadControls(Settings(), LoadPortDevices(lab_.Ini()));
  dialogs_.forms.push_back([](QDialog* d) {
    static_cast<TFindModemForm*>(d)->Search();
    return int(QDialog::Accepted);
  });
  dialogs_.answers = {true};
  Click(w, "FindModemButton");
  ASSERT_EQ(dialogs_.Count(QStringLiteral("question")), 1);
  EXPECT_EQ(dialogs_.shown.back().caption, QStringLiteral("Com Port"));
  EXPECT_EQ(dialogs_.shown.back().text, QStringLiteral("Set Com Port to Com 2"));
  EXPECT_EQ(Chosen(w, "ComPort"), 1);
  EXPECT_EQ(w.Port().ComNumber(), 1);  // back to the port chosen before the search
  EXPECT_EQ(w.Port().DeviceName(), "");
}

TEST_F(Wizard, FindModemTriesADeviceTypedButNotSaved) {
  ASSERT_TRUE(lab_.Modem(6).Ready());
  const std::string elsewhere = lab_.Device(6);
  Settings() = TSettings{};
  Settings().ComPort = 0;
  TPreferences w(lab_.Path());
  TPortDevices devices = LoadPortDevices(lab_.Ini());
  devices[5] = QStringLiteral("/nonexistent/tty");
  w.LoadControls(Settings(), devices);
  Find<QComboBox>(w, "PortDevice5")->setEditText(QString::fromStdString(elsewhere));
  int found = 0;
  dialogs_.forms.push_back([&found](QDialog* d) {
    auto* form = static_cast<TFindModemForm*>(d);
    form->Search();
    found = form->Result();
    return int(QDialog::Accepted);
  });
  dialogs_.answers = {false};
  Click(w, "FindModemButton");
  EXPECT_EQ(found, 5);
  EXPECT_EQ(Chosen(w, "ComPort"), 0);  // answered No
}

TEST_F(Wizard, CheckFaxClassOffersTheRecommendedClassForReceiving) {
  ASSERT_TRUE(lab_.Modem(1, {"--classes", "0,2,2.0"}).Ready());
  Settings() = TSettings{};
  Settings().ComPort = 0;
  Settings().FaxClassReceive = 1;
  TPreferences w(lab_.Path());
  w.LoadControls(Settings(), LoadPortDevices(lab_.Ini()));
  for (int round = 0; round < 2; ++round) {
    dialogs_.forms.push_back([](QDialog* d) {
      static_cast<TCheckFaxClassForm*>(d)->Check();
      return int(QDialog::Accepted);
    });
  }
  dialogs_.answers = {true};
  Click(w, "CheckFaxClassButton");
  EXPECT_EQ(dialogs_.shown.back().caption, QStringLiteral("Fax Class"));
  EXPECT_EQ(dialogs_.shown.back().text, QStringLiteral("Set fax class as Class 2 ?"));
  EXPECT_EQ(Chosen(w, "FaxClassReceive"), 2);
  // Again from the receiving page, with the same port and fax component: nothing to offer now.
  dialogs_.Clear();
  Click(w, "CheckRecFaxClassbutton");
  EXPECT_EQ(dialogs_.Count(QStringLiteral("question")), 0);
  EXPECT_EQ(dialogs_.Count(QStringLiteral("form")), 1);
}

TEST_F(Wizard, InitStringAssistantFillsTheField) {
  TPreferences w(lab_.Path());
  Find<QLineEdit>(w, "ModemInit")->setText("AT&H3&I2&R2S7=60");
  dialogs_.forms.push_back([](QDialog* d) {
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Modem Initialization String Helper"));
    Click(*d, "OkButton");
    return d->result();
  });
  Click(w, "HelpWithInitbutton");
  EXPECT_EQ(Find<QLineEdit>(w, "ModemInit")->text(), QStringLiteral("AT&H3&I2&R2S7=90"));
  Find<QLineEdit>(w, "ModemInitReceive")->setText("X");
  dialogs_.forms.push_back([](QDialog* d) {
    Click(*d, "BlankButton");
    return d->result();
  });
  Click(w, "HelpWithInitRECButton");
  EXPECT_EQ(Find<QLineEdit>(w, "ModemInitReceive")->text(), QString());
}

TEST_F(Wizard, PortDevicesKeepOnlyWhatDiffersFromTheDefaults) {
  test::DataDir dir;
  const std::string ini = dir.StdPath() + kSettingsFileName;
  TPortDevices devices;
  for (int i = 0; i < kComPorts; ++i) devices[i] = QString::fromStdString(comm::DefaultDevicePath(i + 1));
  devices[4] = QStringLiteral("/dev/serial/by-id/usb-Modem");
  devices[5] = QString();
  SavePortDevices(devices, ini);
  const std::string bytes = FileBytes(ini);
  EXPECT_NE(bytes.find("COM5=/dev/serial/by-id/usb-Modem"), std::string::npos);
  EXPECT_EQ(bytes.find("COM1="), std::string::npos);
  EXPECT_EQ(bytes.find("COM6="), std::string::npos);
  const TPortDevices back = LoadPortDevices(ini);
  EXPECT_EQ(back[4], devices[4]);
  EXPECT_EQ(back[5].toStdString(), comm::DefaultDevicePath(6));
}

TEST_F(Wizard, EveryControlIsNamedForPeopleAndTests) {
  TPreferences w(lab_.Path());
  int controls = 0;
  for (QWidget* c : w.findChildren<QWidget*>()) {
    if (!qobject_cast<QAbstractButton*>(c) && !qobject_cast<QLineEdit*>(c) && !qobject_cast<QComboBox*>(c) &&
        !qobject_cast<QGroupBox*>(c))
      continue;
    if (qobject_cast<QLineEdit*>(c) && qobject_cast<QComboBox*>(c->parentWidget())) continue;  // a combo's own edit
    ++controls;
    EXPECT_FALSE(c->objectName().isEmpty()) << c->metaObject()->className() << " " << c->accessibleName().toStdString();
    EXPECT_FALSE(c->accessibleName().isEmpty()) << c->objectName().toStdString();
  }
  EXPECT_GT(controls, 60);
  for (const char* name :
       {"ComPort", "FindModemButton", "ToneOrPulse", "ResetString", "ResetAfterString", "chkSM56", "FaxClass",
        "CheckFaxClassButton", "TransferRate", "ModemInit", "HelpWithInitbutton", "FaxNumber", "Name", "UseECM",
        "DialPrefix", "DialSuffix", "DialAttempts", "RetryWait", "CheckBlindDial", "CheckIgnoreBusy",
        "RenegotiateBetween", "FaxClassReceive", "CheckRecFaxClassbutton", "TransferRateReceive", "ModemInitReceive",
        "HelpWithInitRECButton", "AnswerOnRing", "ReceiveAtStartup", "UseECMReceive", "WaveFileEdit",
        "SelectWavButton", "PlayWAVbutton", "NoWAVButton", "PrintFaxOnReceipt", "PrintFaxOnReceiptPrinter",
        "DisableReceivingFaxesNotification", "ImposeWaitBeforePrinting", "UseAltHeaderFont",
        "UseAlternateNameReceive", "Helpbutton", "Cancelbutton", "BackButton", "Nextbutton", "Finishbutton",
        "ProblemSolverButton", "PageLabel", "PageCombo", "FirstTimeLabel"})
    EXPECT_NE(w.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
  EXPECT_EQ(Find<QPushButton>(w, "Cancelbutton")->accessibleName(), QStringLiteral("Cancel"));
  EXPECT_EQ(Find<QGroupBox>(w, "FaxClass")->accessibleName(), QStringLiteral("Fax class for SENDING Faxes"));
}

}  // namespace
}  // namespace qv::app
