// The desktop's Internet fax line against a real SIP server (kamailio, started by the test on
// 127.0.0.1): the settings and the password kept apart, the "Test" report in plain words for a
// right and a wrong password, and a started line whose modem the program's own port routines
// find on its device like any modem.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "../../interop/line/kamailio.h"
#include "../test_support.h"
#include "app/flows/internet_line.h"
#include "app/flows/message_pump.h"
#include "app/flows/modem_routines.h"
#include "app/forms/internet_line_panel.h"
#include "app/forms/main_screen.h"
#include "app/forms/preferences.h"
#include "app/forms/quick_setup.h"
#include "app/store/fax_store.h"
#include "app/store/settings.h"
#include "app/store/line_settings.h"
#include "comm/port_names.h"
#include "comm/com_port.h"
#include "core/ini_file.h"

namespace qv::app::test {
namespace {

constexpr const char* kPassword = "line-pw-4711";
const QString kQvline = QStringLiteral(QV_BIN_DIR "/qvline");

class InternetLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    // No secret service in a test: the password goes to the file only the user may read.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_TRUE(server_.Start(data_.StdPath(), {{"1001", kPassword}}));
    settings_.enabled = true;
    settings_.server = QString::fromStdString("127.0.0.1:" + std::to_string(server_.port()));
    settings_.user = QStringLiteral("1001");
    settings_.callerId = QStringLiteral("Quorvane test");
    settings_.t38 = false;
  }
  DataDir data_;
  line::test::Kamailio server_;
  TLineSettings settings_;
};

TEST_F(InternetLineTest, SettingsGoToTheirSectionAndThePasswordNeverDoes) {
  const std::string ini = data_.StdPath() + "QRV.INI";
  SaveLineSettings(settings_, ini);
  TLineSecret secret(data_.Path());
  QString why;
  ASSERT_TRUE(secret.Store(settings_.user, QString::fromLatin1(kPassword), &why)) << why.toStdString();
  const TLineSettings back = LoadLineSettings(ini);
  EXPECT_TRUE(back.enabled);
  EXPECT_EQ(back.server, settings_.server);
  EXPECT_EQ(back.user, settings_.user);
  EXPECT_EQ(back.callerId, settings_.callerId);
  EXPECT_FALSE(back.t38);
  EXPECT_EQ(back.RegistrarUri(), QStringLiteral("sip:") + settings_.server);
  QFile file(QString::fromStdString(ini));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray text = file.readAll();
  EXPECT_TRUE(text.contains("[InternetLine]")) << text.toStdString();
  EXPECT_FALSE(text.contains(kPassword)) << text.toStdString();
  struct stat st {};
  ASSERT_EQ(stat(secret.FallbackFile().toStdString().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(secret.Load(settings_.user), QString::fromLatin1(kPassword));
  EXPECT_FALSE(secret.Store(settings_.user, QStringLiteral("two\nlines"), &why));
  EXPECT_EQ(secret.Load(settings_.user), QString::fromLatin1(kPassword));  // the stored one is kept
}

TEST_F(InternetLineTest, TheTestReportsRegisteredOrAWrongPasswordInPlainWords) {
  EXPECT_EQ(TInternetLine::Test(kQvline, data_.Path(), settings_, QString::fromLatin1(kPassword), 15000),
            QStringLiteral("Registered with the server."));
  EXPECT_EQ(TInternetLine::Test(kQvline, data_.Path(), settings_, QStringLiteral("wrong"), 15000),
            QStringLiteral("Wrong password: the server refused the user name or password."));
  // Nothing of the password stays behind in the data directory.
  EXPECT_FALSE(QFile::exists(data_.File(QStringLiteral("internet-line.secret"))));
  EXPECT_FALSE(QFile::exists(data_.File(QStringLiteral("internet-line-test.secret"))));
  QFile log(data_.File(QStringLiteral("internet-line-test.log")));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  EXPECT_FALSE(log.readAll().contains(kPassword));
}

TEST_F(InternetLineTest, TheStartedLineIsAModemOnItsDevice) {
  TInternetLine line(kQvline, data_.Path());
  QStringList statuses;
  QObject::connect(&line, &TInternetLine::statusChanged, [&](const QString& s) { statuses << s; });
  ASSERT_EQ(line.Start(settings_, QString::fromLatin1(kPassword)), QString());
  EXPECT_EQ(line.WaitForRegistration(15000), QStringLiteral("Registered with the server."));
  EXPECT_EQ(statuses, QStringList{QStringLiteral("Registered with the server.")});
  EXPECT_FALSE(QFile::exists(data_.File(QStringLiteral("internet-line.secret"))));
  // The port the program would use leads to the line's device; the modem answers there.
  const std::string ini = data_.StdPath() + "QRV.INI";
  {
    core::TIniFile f(ini);
    f.WriteString("Ports", "COM1", line.Device().toStdString());
  }
  comm::SetPortSettingsFile(ini);
  ConnectMessageLoop();
  comm::TQvComPort port;
  ConfigureFormPort(port);
  port.SetComNumber(1);
  port.SetOpen(true);
  EXPECT_TRUE(ModemResponds(port));
  port.SetOpen(false);
  comm::SetPortSettingsFile("");
  line.Stop();
  EXPECT_FALSE(line.Running());
  EXPECT_FALSE(QFile::exists(line.Device()));  // qvline removes its link on the way out
}

// A server that never answers: a UDP port on loopback that takes every packet and says nothing.
// The Test's attempt gives up by its own bound (not SIP's 32 s) and says so in plain words; the
// line's log tells why. Then the same port closed.
TEST_F(InternetLineTest, TheTestReportsNoAnswerFromASilentServer) {
  const int silent = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(silent, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&a), &len), 0);
  TLineSettings mute = settings_;
  mute.server = QStringLiteral("127.0.0.1:%1").arg(ntohs(a.sin_port));
  // The outer wait is well beyond SIP's own time-out: the report must come from the line's bound.
  EXPECT_EQ(TInternetLine::Test(kQvline, data_.Path(), mute, QString::fromLatin1(kPassword), 60000),
            QStringLiteral("No answer from the server."));
  const QString log = [&] {
    QFile f(data_.File(QStringLiteral("internet-line-test.log")));
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
  }();
  EXPECT_TRUE(log.contains(QStringLiteral("registration failed (no final answer in %1 s)")
                               .arg(TInternetLine::kTestRegisterTimeoutSeconds)))
      << log.toStdString();
  // The server did hear us: the REGISTER and its retransmissions arrived and were swallowed.
  pollfd p{silent, POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 1);
  char buf[2048];
  const ssize_t n = recv(silent, buf, sizeof buf, MSG_DONTWAIT);
  EXPECT_TRUE(n > 0 && std::string(buf, static_cast<size_t>(n)).compare(0, 9, "REGISTER ") == 0);
  close(silent);

  // A port where nothing listens: the host says so at once, and that too is no answer from the
  // server (not "the server refused").
  mute.server = QStringLiteral("127.0.0.1:%1").arg(ntohs(a.sin_port));
  EXPECT_EQ(TInternetLine::Test(kQvline, data_.Path(), mute, QString::fromLatin1(kPassword), 60000),
            QStringLiteral("No answer from the server."));
}

// A server name that cannot resolve, under the reserved domain that never does (nothing is
// asked of the network): the person reads "DNS failure", not a start-up error.
TEST_F(InternetLineTest, TheTestReportsADnsFailureForANameThatDoesNotResolve) {
  TLineSettings nowhere = settings_;
  nowhere.server = QStringLiteral("registrar.nonexistent.invalid");
  EXPECT_EQ(TInternetLine::Test(kQvline, data_.Path(), nowhere, QString::fromLatin1(kPassword), 15000),
            QStringLiteral("DNS failure: the server's name was not found."));
  nowhere.server = QStringLiteral("sip:Registrar.Example.INVALID.:5061");
  EXPECT_EQ(TInternetLine::Test(kQvline, data_.Path(), nowhere, QString::fromLatin1(kPassword), 15000),
            QStringLiteral("DNS failure: the server's name was not found."));
  EXPECT_FALSE(QFile::exists(data_.File(QStringLiteral("internet-line-test.secret"))));
}

// The wizard's modem page, offscreen: the line's fields filled in as a person would, "Test"
// pressed, the result read where the person reads it.
TEST_F(InternetLineTest, ThePreferencesTestButtonSaysRegisteredOrWrongPassword) {
  qputenv("QV_LINE_PROGRAM", kQvline.toUtf8());
  TPreferences wizard(data_.Path());
  auto* panel = wizard.findChild<TInternetLinePanel*>(QStringLiteral("InternetLine"));
  ASSERT_NE(panel, nullptr);
  wizard.InternetLine()->Load(TLineSettings{}, false);
  auto field = [&](const char* name) { return panel->findChild<QLineEdit*>(QString::fromLatin1(name)); };
  field("LineServer")->setText(settings_.server);
  field("LineUser")->setText(settings_.user);
  field("LinePassword")->setText(QString::fromLatin1(kPassword));
  panel->findChild<QCheckBox*>(QStringLiteral("chkInternetLine"))->setChecked(true);
  auto* test = panel->findChild<QPushButton*>(QStringLiteral("LineTestButton"));
  auto* result = panel->findChild<QLabel*>(QStringLiteral("LineTestResult"));
  test->click();
  EXPECT_EQ(result->text(), QStringLiteral("Registered with the server."));
  field("LinePassword")->setText(QStringLiteral("not it"));
  test->click();
  EXPECT_EQ(result->text(), QStringLiteral("Wrong password: the server refused the user name or password."));
  // What a Finish would store: the settings, and the typed password apart from them.
  const TLineSettings s = panel->Settings();
  EXPECT_TRUE(s.enabled);
  EXPECT_EQ(s.server, settings_.server);
  EXPECT_EQ(panel->NewPassword(), QStringLiteral("not it"));
  // Every control of the line can be found by what a person sees.
  for (QWidget* w : panel->findChildren<QWidget*>())
    if (!qobject_cast<QLabel*>(w) || w == result)
      EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
  qunsetenv("QV_LINE_PROGRAM");
}

// A provider whose registrar is reached by one name (here its address) and serves accounts of
// another domain takes only REGISTERs for its own domain: without the Domain field the line
// cannot register there. The field goes from the wizard's page to qvline and to the settings.
TEST_F(InternetLineTest, TheDomainFieldLetsTheLineRegisterWhereTheDomainIsNotTheServersName) {
  qputenv("QV_LINE_PROGRAM", kQvline.toUtf8());
  ASSERT_TRUE(QDir().mkpath(data_.File(QStringLiteral("strict"))));
  line::test::Kamailio strict;
  ASSERT_TRUE(strict.Start(data_.StdPath() + "strict", {{"1001", kPassword}}, line::test::DomainRule::Strict));
  TPreferences wizard(data_.Path());
  auto* panel = wizard.InternetLine();
  panel->Load(TLineSettings{}, false);
  auto field = [&](const char* name) { return panel->findChild<QLineEdit*>(QString::fromLatin1(name)); };
  ASSERT_NE(field("LineDomain"), nullptr);
  EXPECT_EQ(field("LineDomain")->accessibleName(), QStringLiteral("Domain"));
  field("LineServer")->setText(QString::fromStdString("127.0.0.1:" + std::to_string(strict.port())));
  field("LineUser")->setText(settings_.user);
  field("LinePassword")->setText(QString::fromLatin1(kPassword));
  panel->findChild<QCheckBox*>(QStringLiteral("chkInternetLine"))->setChecked(true);
  auto* test = panel->findChild<QPushButton*>(QStringLiteral("LineTestButton"));
  auto* result = panel->findChild<QLabel*>(QStringLiteral("LineTestResult"));
  test->click();
  EXPECT_EQ(result->text(), QStringLiteral("The server refused the registration: 404 Domain Not Served."));
  field("LineDomain")->setText(QString::fromLatin1(line::test::kTestDomain));
  test->click();
  EXPECT_EQ(result->text(), QStringLiteral("Registered with the server."));
  QFile log(data_.File(QStringLiteral("internet-line-test.log")));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  EXPECT_TRUE(log.readAll().contains(QByteArray("REGISTER sip:1001@") + line::test::kTestDomain));

  // Kept in the line's section, back in the field when the page is shown again; empty stays
  // empty (the server's host).
  const std::string ini = data_.StdPath() + "QRV.INI";
  ASSERT_TRUE(panel->SaveTo(ini, nullptr));
  EXPECT_EQ(core::TIniFile(ini).ReadString(kLineSection, "Domain", ""), line::test::kTestDomain);
  TPreferences again(data_.Path());
  again.InternetLine()->LoadFrom(ini);
  EXPECT_EQ(again.InternetLine()->Settings().domain, QString::fromLatin1(line::test::kTestDomain));
  TLineSettings none = settings_;
  SaveLineSettings(none, ini);
  EXPECT_EQ(LoadLineSettings(ini).domain, QString());
  qunsetenv("QV_LINE_PROGRAM");
}

// A new user with only a SIP account sets the line up in the quick setup: the settings go to
// their section, the password to the secret store (here: the user's own file), never the INI.
TEST_F(InternetLineTest, TheQuickSetupTakesTheLine) {
  Settings() = TSettings();
  const std::string ini = SettingsFileName(data_.StdPath());
  ScriptedDialogs dialogs;
  dialogs.forms.push_back([&](QDialog* d) {
    auto* panel = d->findChild<TInternetLinePanel*>(QStringLiteral("InternetLine"));
    if (!panel) return int(QDialog::Rejected);
    panel->findChild<QCheckBox*>(QStringLiteral("chkInternetLine"))->setChecked(true);
    panel->findChild<QLineEdit*>(QStringLiteral("LineServer"))->setText(settings_.server);
    panel->findChild<QLineEdit*>(QStringLiteral("LineUser"))->setText(settings_.user);
    panel->findChild<QLineEdit*>(QStringLiteral("LineDomain"))->setText(QStringLiteral("fax.example.org"));
    panel->findChild<QLineEdit*>(QStringLiteral("LinePassword"))->setText(QString::fromLatin1(kPassword));
    return int(QDialog::Accepted);
  });
  ASSERT_TRUE(RunQuickSetup(nullptr, ini));
  const TLineSettings got = LoadLineSettings(ini);
  EXPECT_TRUE(got.enabled);
  EXPECT_EQ(got.server, settings_.server);
  EXPECT_EQ(got.user, settings_.user);
  EXPECT_EQ(got.domain, QStringLiteral("fax.example.org"));
  EXPECT_EQ(TLineSecret(data_.Path()).Load(settings_.user), QString::fromLatin1(kPassword));
  QFile file(QString::fromStdString(ini));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_FALSE(file.readAll().contains(kPassword));
}

// The program starts the line itself when the settings choose it: the line's modem takes the
// chosen COM port's place while the program runs, the registration shows in the status line,
// and closing the program stops the line and gives the port back.
TEST_F(InternetLineTest, TheProgramStartsTheLineInPlaceOfItsPortAndStopsIt) {
  qputenv("QV_LINE_PROGRAM", kQvline.toUtf8());
  Settings() = TSettings();
  const std::string ini = SettingsFileName(data_.StdPath());
  core::TIniFile(ini).WriteInteger("Modem", "ComPort", 1);  // Com2
  SaveLineSettings(settings_, ini);
  ASSERT_TRUE(TLineSecret(data_.Path()).Store(settings_.user, QString::fromLatin1(kPassword)));
  {
    TFaxStore store(data_.StdPath());
    store.OpenFaxDBF();
    store.OpenRecFaxDBF();
    store.RebuildIndexes(nullptr);
  }
  {
    ScriptedDialogs dialogs;
    TMainScreen w(data_.Path());
    w.show();
    QElapsedTimer clock;
    clock.start();
    while ((!w.FirstActivationDone() || !w.StatusText().contains(QStringLiteral("Registered"))) &&
           clock.elapsed() < 15000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(w.StatusText(), QStringLiteral("Internet fax line: Registered with the server."));
    EXPECT_EQ(comm::PortDevicePath(2), data_.StdPath() + "internet-line.modem");
    ConnectMessageLoop();
    comm::TQvComPort port;
    ConfigureFormPort(port);
    port.SetComNumber(2);
    port.SetOpen(true);
    EXPECT_TRUE(ModemResponds(port));
    port.SetOpen(false);
    w.close();
    EXPECT_EQ(dialogs.Count(QStringLiteral("error")), 0);
  }
  EXPECT_NE(comm::PortDevicePath(2), data_.StdPath() + "internet-line.modem");
  EXPECT_FALSE(QFile::exists(data_.File(QStringLiteral("internet-line.modem"))));
  qunsetenv("QV_LINE_PROGRAM");
}

}  // namespace
}  // namespace qv::app::test
