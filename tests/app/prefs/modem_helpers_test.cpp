// The initialisation-string assistant, the error dialog, the help pages, the serial device list
// and the configuration report.

#include "app/forms/configuration_info.h"
#include "app/forms/help_browser.h"
#include "app/forms/init_string_helper_form.h"
#include "app/flows/message_pump.h"
#include "app/store/settings.h"
#include "app/forms/show_error_form.h"
#include "comm/serial_devices.h"
#include "core/file_util.h"
#include "modem_fixture.h"

#include <QApplication>
#include <QClipboard>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTimer>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

using test::ModemLab;
using test::ScriptedDialogs;

// --- initialisation-string assistant ---

TEST(InitHelper, PreselectionReadsTheText) {
  EXPECT_TRUE(InitTextHasLongWait("AT&H3&I2&R2S7=120"));  // 120 > 90
  EXPECT_EQ(InitTextModemType("AT&H3&I2&R2S7=120"), imtUsRobotics);
  EXPECT_FALSE(InitTextHasLongWait("ATS7=60"));
  EXPECT_TRUE(InitTextHasLongWait("ats7=70x"));    // case ignored, above 65
  EXPECT_FALSE(InitTextHasLongWait("AT&H3S7=80"));  // with &H3 the limit is 90
  EXPECT_FALSE(InitTextHasLongWait("ATS7="));       // no number
  EXPECT_FALSE(InitTextHasLongWait("ATX4"));
  EXPECT_TRUE(InitTextHasLongWait("S7=1234"));  // three characters: 123
  EXPECT_EQ(InitTextModemType("AT&R2S36=0"), imtSportster288);  // first match wins
  EXPECT_EQ(InitTextModemType("S33=34S36=8"), imtSportsterX2);
  EXPECT_EQ(InitTextModemType("s36=8"), imtSportsterLate336);
  EXPECT_EQ(InitTextModemType("AT\\q3"), imtCirrusLogic);
  EXPECT_EQ(InitTextModemType(""), imtHayes);
}

TEST(InitHelper, ResultsByTypeAndDirection) {
  EXPECT_EQ(BuildInitString(imtSportster288, false, true), QStringLiteral("AT&H3&I2&R2S7=90S36=0"));
  EXPECT_EQ(BuildInitString(imtHayes, false, true), QStringLiteral("AT&F&C1&D2&K3S7=65"));
  EXPECT_EQ(BuildInitString(imtHayes, true, true), QStringLiteral("AT&F&C1&D2&K3S7=120"));
  EXPECT_EQ(BuildInitString(imtUsRobotics, false, false), QStringLiteral("AT&H3&I2&R2S7=65"));
  EXPECT_EQ(BuildInitString(imtSportsterLate336, false, true), QStringLiteral("AT&H3&I2&R2S7=90S36=8"));
  EXPECT_EQ(BuildInitString(imtSportsterX2, true, true), QStringLiteral("AT&H3&I2&R2S7=120S36=8S33=34"));
  EXPECT_EQ(BuildInitString(imtCirrusLogic, false, false), QStringLiteral("AT&F&C1&D2\\Q3S7=65"));
}

TEST(InitHelper, FormPreselectsAndAnswers) {
  test::App();
  ScriptedDialogs dialogs;
  {
    TModemInitStringHelperForm form(QStringLiteral("AT&H3&I2&R2S7=120"), true);
    EXPECT_EQ(form.ModemType(), imtUsRobotics);
    EXPECT_TRUE(form.EarlyHangup());
    EXPECT_FALSE(form.findChild<QCheckBox*>(QStringLiteral("CheckAT7"))->isHidden());
    EXPECT_EQ(form.findChild<QRadioButton*>(QStringLiteral("ModemType5"))->accessibleName(),
              QStringLiteral("Cirrus Logic or AT&T modem"));
  }
  {
    TModemInitStringHelperForm form(QStringLiteral("S7=120"), false);  // receiving: no box
    EXPECT_TRUE(form.findChild<QCheckBox*>(QStringLiteral("CheckAT7"))->isHidden());
  }
  // Receiving ignores a ticked box (it is not shown); Cancel keeps the text.
  dialogs.forms.push_back([](QDialog* d) {
    auto* form = static_cast<TModemInitStringHelperForm*>(d);
    form->SetModemType(imtHayes);
    form->findChild<QPushButton*>(QStringLiteral("OkButton"))->click();
    return d->result();
  });
  QString result;
  EXPECT_TRUE(ShowInitHelper(nullptr, QStringLiteral("S7=120"), false, result));
  EXPECT_EQ(result, QStringLiteral("AT&F&C1&D2&K3S7=65"));
  dialogs.forms.push_back([](QDialog* d) {
    d->findChild<QPushButton*>(QStringLiteral("CancelButton"))->click();
    return d->result();
  });
  EXPECT_FALSE(ShowInitHelper(nullptr, QStringLiteral("ATX3"), true, result));
  EXPECT_EQ(result, QStringLiteral("ATX3"));
}

// --- error dialog ---

class ErrorDialog : public ::testing::Test {
 protected:
  void SetUp() override { test::App(); }
  ScriptedDialogs dialogs_;
};

TEST_F(ErrorDialog, ClosesItselfUnlessToldNotTo) {
  dialogs_.forms.push_back([](QDialog* d) {
    auto* form = static_cast<TShowErrorForm*>(d);
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Fax Failed"));
    EXPECT_TRUE(form->AutoCloseTimer()->isActive());
    EXPECT_EQ(form->AutoCloseTimer()->interval(), 30000);
    EXPECT_TRUE(d->findChild<QPushButton*>(QStringLiteral("ContinueButton"))->isHidden());
    EXPECT_EQ(d->findChild<QPlainTextEdit*>()->toPlainText(), QStringLiteral("line one\nline two"));
    form->AutoCloseTimer()->start(20);  // the same timer, sooner
    return d->exec();
  });
  QElapsedTimer took;
  took.start();
  EXPECT_EQ(ShowErrorDialog(nullptr, QStringLiteral("Fax Failed"), QStringLiteral("line one\rline two"), false, false, 7),
            kErrorOk);
  EXPECT_LT(took.elapsed(), 20000);
  dialogs_.forms.push_back([](QDialog* d) {
    EXPECT_FALSE(static_cast<TShowErrorForm*>(d)->AutoCloseTimer()->isActive());
    return int(QDialog::Rejected);
  });
  EXPECT_EQ(ShowErrorDialog(nullptr, QStringLiteral("t"), QStringLiteral("x"), false, true), kErrorOk);
}

TEST_F(ErrorDialog, OnlyOneAtATimeAndTheButtonsResults) {
  int nested = -1;
  dialogs_.forms.push_back([&nested](QDialog* d) {
    EXPECT_TRUE(ErrorDialogShowing());
    nested = ShowErrorDialog(nullptr, QStringLiteral("second"), QStringLiteral("y"), false, false);
    d->findChild<QPushButton*>(QStringLiteral("ContinueButton"))->click();
    return d->result();
  });
  EXPECT_TRUE(AskContinue(nullptr, QStringLiteral("first"), QStringLiteral("x")));
  EXPECT_EQ(nested, 0);
  EXPECT_EQ(dialogs_.Count(QStringLiteral("form")), 1);
  EXPECT_FALSE(ErrorDialogShowing());

  // With Continue shown, Technical Help opens the help beside the dialog, which stays.
  dialogs_.forms.push_back([](QDialog* d) {
    d->findChild<QPushButton*>(QStringLiteral("TechnicalHelpButton"))->click();
    EXPECT_FALSE(d->isHidden() && d->result() != 0);
    EXPECT_NE(HelpWindow(), nullptr);
    HelpWindow()->close();
    PumpMessages();
    d->findChild<QPushButton*>(QStringLiteral("OkButton"))->click();
    return d->result();
  });
  EXPECT_FALSE(AskContinue(nullptr, QStringLiteral("t"), QStringLiteral("x")));
  PumpMessages();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  // Without it, Technical Help closes the dialog with 4 and then opens the help.
  dialogs_.forms.push_back([](QDialog* d) {
    d->findChild<QPushButton*>(QStringLiteral("TechnicalHelpButton"))->click();
    return d->result();
  });
  EXPECT_EQ(ShowErrorDialog(nullptr, QStringLiteral("t"), QStringLiteral("x"), false, false), kErrorTechnicalHelp);
  ASSERT_NE(HelpWindow(), nullptr);
  EXPECT_EQ(HelpWindow()->CurrentUrl().toString(), HelpTopicUrl(kHelpTechnical).toString());
  HelpWindow()->close();
}

// --- help ---

TEST(Help, EveryTopicOpensAPageThatExists) {
  test::App();
  for (int topic : {1009, 911, 10000, 1025, 1022, 3501, 3502, 3503, 1015, 1016, 1017, 1018, 1019, 1020, 1021, 21071}) {
    const QUrl url = HelpTopicUrl(topic);
    QFile page(url.toLocalFile());
    ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << topic << " " << url.toString().toStdString();
    const QString html = QString::fromUtf8(page.readAll());
    if (!url.fragment().isEmpty())
      EXPECT_TRUE(html.contains(QStringLiteral("id=\"%1\"").arg(url.fragment()))) << topic;
    // Links between the pages lead somewhere.
    static const QRegularExpression link(QStringLiteral("href=\"([a-z-]+\\.html)(#([a-z]+))?\""));
    for (auto m = link.globalMatch(html); m.hasNext();) {
      const auto hit = m.next();
      QFile target(QFileInfo(url.toLocalFile()).dir().filePath(hit.captured(1)));
      ASSERT_TRUE(target.open(QIODevice::ReadOnly)) << hit.captured(1).toStdString();
      if (!hit.captured(3).isEmpty())
        EXPECT_TRUE(QString::fromUtf8(target.readAll()).contains(QStringLiteral("id=\"%1\"").arg(hit.captured(3))))
            << hit.captured(0).toStdString();
    }
  }
  EXPECT_EQ(HelpTopicUrl(4242), HelpTopicUrl(1009));  // unknown: the contents
  ShowHelpTopic(3502);
  ASSERT_NE(HelpWindow(), nullptr);
  EXPECT_EQ(HelpWindow()->CurrentTitle(), QStringLiteral("The preferences explained"));
  HelpWindow()->close();
}

// --- serial devices ---

TEST(SerialDevices, ListsDevicesWithAUartAndTheirStableNames) {
  namespace fs = std::filesystem;
  ModemLab lab;
  ASSERT_TRUE(lab.Modem(1).Ready());
  ASSERT_TRUE(lab.Modem(2).Ready());
  const fs::path dev = fs::path(lab.Path().toStdString()) / "dev";
  fs::create_directories(dev / "serial" / "by-id");
  std::ofstream(dev / "ttyS0") << "not a terminal";  // a node without a UART behind it
  fs::create_symlink(lab.Device(1), dev / "ttyS1");
  fs::create_symlink(lab.Device(2), dev / "ttyUSB10");
  fs::create_symlink(lab.Device(2), dev / "ttyUSB2");
  fs::create_symlink("../../ttyUSB2", dev / "serial" / "by-id" / "usb-Acme_Modem_42-if00");
  std::ofstream(dev / "ttySX");  // not a serial name
  const auto found = comm::ListSerialDevices(dev.string());
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].Path, (dev / "ttyS1").string());
  EXPECT_EQ(found[1].Path, (dev / "ttyUSB2").string());  // by number, not by text
  EXPECT_EQ(found[2].Path, (dev / "ttyUSB10").string());
  // The by-id link resolves to the same pty as both USB names.
  ASSERT_EQ(found[1].StableNames.size(), 1u);
  EXPECT_EQ(comm::PreferredDeviceName(found[1]), (dev / "serial" / "by-id" / "usb-Acme_Modem_42-if00").string());
  EXPECT_EQ(comm::PreferredDeviceName(found[0]), found[0].Path);
  EXPECT_TRUE(comm::ListSerialDevices((dev / "missing").string()).empty());
}

// --- configuration report ---

TEST(ConfigurationReport, HeadingsSettingsDevicesAndLogs) {
  test::App();
  ConnectMessageLoop();
  ModemLab lab;
  ASSERT_TRUE(lab.Modem(2).Ready());
  Settings().FaxClass = 3;
  Settings().ToneOrPulse = 1;
  Settings().ComPort = 1;
  {
    std::ofstream log(lab.Path().toStdString() + "Lastsend.log");
    log << "Dialing 555\r\nFax sent\r\n";
  }
  const QStringList r = ConfigurationReport(lab.Path(), lab.Ini());
  for (const char* heading : {"[Product]", "[Environment]", "[Serial Devices and Modems]", "{general}", "{sending}",
                              "{receiving}", "{misc}", "[Last Send Session]"})
    EXPECT_TRUE(r.contains(QString::fromLatin1(heading))) << heading;
  EXPECT_FALSE(r.contains(QStringLiteral("[Last Receive Session]")));
  EXPECT_TRUE(r.contains(QStringLiteral("Program:     \tQuorvane")));
  EXPECT_TRUE(r.contains(QStringLiteral("Version:     \t2.9v")));
  EXPECT_TRUE(r.contains(QStringLiteral("COM Port:             \t2")));
  EXPECT_TRUE(r.contains(QStringLiteral("Tone/Pulse:           \tPulse")));
  EXPECT_TRUE(r.contains(QStringLiteral("Fax Class:            \tClass 2.0")));
  EXPECT_TRUE(r.contains(QStringLiteral("Fax sent")));
  EXPECT_TRUE(r.contains(QStringLiteral("[") + QFileInfo(QString::fromStdString(lab.Ini())).absoluteFilePath() +
                         QStringLiteral("]")));
  // The modem on COM2 is named and answers; COM1 leads nowhere.
  const int com2 = static_cast<int>(r.indexOf(QStringLiteral("Device:               \t") + QString::fromStdString(lab.Device(2))));
  ASSERT_GE(com2, 0);
  EXPECT_EQ(r[com2 + 1], QStringLiteral("Port:                 \tCOM2"));
  EXPECT_EQ(r[com2 + 2], QStringLiteral("Answer:               \ta modem answers"));
  const int com1 = static_cast<int>(r.indexOf(QStringLiteral("Device:               \t") + QString::fromStdString(lab.Device(1))));
  ASSERT_GE(com1, 0);
  EXPECT_EQ(r[com1 + 2], QStringLiteral("Answer:               \tdoes not exist"));
  for (const QString& line : SystemInformationLines()) EXPECT_TRUE(line.contains(QLatin1Char('\t'))) << line.toStdString();
}

TEST(ConfigurationReport, CopyAndSave) {
  test::App();
  class Files : public ScriptedDialogs {
   public:
    QString SaveFileName(QWidget*, const QString&, const QString&, const QString& filter) override {
      lastFilter = filter;
      return target;
    }
    QString target, lastFilter;
  } dialogs;
  test::DataDir dir;
  TConfigurationInfo form(dir.Path());
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Configuration Information"));
  form.AddLines({QStringLiteral("[Product]"), QStringLiteral("Program:     \tQuorvane")});
  form.findChild<QPushButton*>(QStringLiteral("CopyButton"))->click();
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("[Product]\nProgram:     \tQuorvane"));
  ASSERT_EQ(dialogs.Infos().size(), 1);
  EXPECT_EQ(dialogs.Infos()[0], QStringLiteral("Information copied to Windows clipboard"));
  EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("Configuration Information"));
  dialogs.target = dir.File(QStringLiteral("report.txt"));
  form.findChild<QPushButton*>(QStringLiteral("SaveAsButton"))->click();
  std::string bytes;
  ASSERT_TRUE(core::ReadWholeFile(dialogs.target.toStdString(), bytes));
  EXPECT_EQ(bytes, "[Product]\r\nProgram:     \tQuorvane\r\n");
  EXPECT_EQ(dialogs.Infos().back(), QStringLiteral("Information was saved as: ") + dialogs.target);
  EXPECT_TRUE(dialogs.lastFilter.contains(QStringLiteral("*.TXT")));
}

}  // namespace
}  // namespace qv::app
