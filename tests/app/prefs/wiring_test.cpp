// The commands that open the wizard, the report and the help, and the quick setup's modem search;
// every control of the modem dialogs carries a name people and tests can find it by.

#include "app/forms/check_fax_class_form.h"
#include "app/forms/configuration_info.h"
#include "app/store/fax_store.h"
#include "app/forms/find_modem_form.h"
#include "app/forms/help_browser.h"
#include "app/forms/init_string_helper_form.h"
#include "app/forms/main_screen.h"
#include "app/flows/message_pump.h"
#include "app/flows/modem_routines.h"
#include "app/forms/quick_setup.h"
#include "app/forms/show_error_form.h"
#include "comm/com_port.h"
#include "fax/send_fax.h"
#include "modem_fixture.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

using test::ModemLab;
using test::ScriptedDialogs;

TEST(Wiring, MainWindowOpensTheWizardTheReportAndTheHelp) {
  test::App();
  ConnectMessageLoop();
  ScriptedDialogs dialogs;
  test::DataDir dir;
  core::TIniFile(SettingsFileName(dir.StdPath())).WriteInteger("Modem", "ComPort", 0);
  {
    TFaxStore store(dir.StdPath());
    store.OpenFaxDBF();
    store.OpenRecFaxDBF();
    store.RebuildIndexes(nullptr);
  }
  Settings() = TSettings();
  TMainScreen w(dir.Path());
  w.show();
  QElapsedTimer clock;
  clock.start();
  while (!w.FirstActivationDone() && clock.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  dialogs.Clear();
  w.mnuPreferencesClick();
  ASSERT_EQ(dialogs.Count(QStringLiteral("form")), 1);
  EXPECT_EQ(dialogs.shown[0].caption, QStringLiteral("Preferences Wizard"));
  EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("Preferences"));
  dialogs.Clear();
  w.SetReceiveMode(true);
  w.mnuPreferencesClick();  // refused in receive mode
  EXPECT_EQ(dialogs.Count(QStringLiteral("form")), 0);
  EXPECT_EQ(dialogs.Infos().size(), 1);
  w.SetReceiveMode(false);
  dialogs.Clear();
  QStringList report;
  dialogs.forms.push_back([&report](QDialog* d) {
    report = static_cast<TConfigurationInfo*>(d)->Lines();
    return int(QDialog::Accepted);
  });
  w.ConfigurationInformation1Click();
  EXPECT_EQ(dialogs.shown.at(0).caption, QStringLiteral("Configuration Information"));
  EXPECT_TRUE(report.contains(QStringLiteral("[Product]")));
  EXPECT_TRUE(report.contains(QStringLiteral("Program Path          \t") + dir.Path()));
  dialogs.Clear();
  w.Contents1Click();
  EXPECT_TRUE(dialogs.shown.empty());  // no placeholder box
  ASSERT_NE(HelpWindow(), nullptr);
  EXPECT_EQ(HelpWindow()->CurrentUrl().toString(), HelpTopicUrl(kHelpContents).toString());
  w.TechnicalHelpClick();
  EXPECT_EQ(HelpWindow()->CurrentUrl().toString(), HelpTopicUrl(kHelpTechnical).toString());
  HelpWindow()->close();
  w.close();
}

TEST(Wiring, QuickSetupFindsTheModemAndOffersItsPort) {
  test::App();
  ConnectMessageLoop();
  ModemLab lab;
  ASSERT_TRUE(lab.Modem(4).Ready());
  ScriptedDialogs dialogs;
  TQuickSetupForm form;
  form.SetPortIndex(0);
  auto* find = form.findChild<QPushButton*>(QStringLiteral("FindModemPort"));
  ASSERT_NE(find, nullptr);
  EXPECT_FALSE(find->isHidden());
  dialogs.forms.push_back([](QDialog* d) {
    static_cast<TFindModemForm*>(d)->Search();
    return int(QDialog::Accepted);
  });
  dialogs.answers = {true};
  find->click();
  ASSERT_EQ(dialogs.Count(QStringLiteral("question")), 1);
  EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("Com Port"));
  EXPECT_EQ(dialogs.shown.back().text, QStringLiteral("Set Com Port to Com 4"));
  EXPECT_EQ(form.PortIndex(), 3);
  EXPECT_FALSE(form.Port().Open());
}

// Every button, edit, list and group of a form: an object name and an accessible name.
void ExpectNamed(QWidget& form) {
  int controls = 0;
  for (QWidget* c : form.findChildren<QWidget*>()) {
    if (!qobject_cast<QAbstractButton*>(c) && !qobject_cast<QLineEdit*>(c) && !qobject_cast<QComboBox*>(c) &&
        !qobject_cast<QGroupBox*>(c) && !qobject_cast<QPlainTextEdit*>(c))
      continue;
    if (qobject_cast<QLineEdit*>(c) && qobject_cast<QComboBox*>(c->parentWidget())) continue;
    ++controls;
    EXPECT_FALSE(c->objectName().isEmpty()) << form.objectName().toStdString() << ": " << c->metaObject()->className();
    EXPECT_FALSE(c->accessibleName().isEmpty()) << form.objectName().toStdString() << ": " << c->objectName().toStdString();
  }
  EXPECT_GT(controls, 0) << form.objectName().toStdString();
}

TEST(Wiring, EveryDialogControlIsNamed) {
  test::App();
  comm::TQvComPort port;
  fax::TQvSendFax fax;
  TFindModemForm find(port);
  TCheckFaxClassForm check(port, fax, 1);
  TModemInitStringHelperForm helper(QStringLiteral("ATX3"), true);
  TShowErrorForm error(QStringLiteral("Error"), QStringLiteral("text"), true, true, 0);
  TConfigurationInfo info(QStringLiteral("/tmp/"));
  THelpBrowser help;
  TQuickSetupForm setup;
  for (QWidget* form : std::initializer_list<QWidget*>{&find, &check, &helper, &error, &info, &help, &setup})
    ExpectNamed(*form);
}

}  // namespace
}  // namespace qv::app
