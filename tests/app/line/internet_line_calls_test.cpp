// Whole faxes over the desktop's Internet fax line: the main window offscreen starts qvline itself
// (its settings in the data directory, registered with Debian's kamailio on 127.0.0.1), a fax
// composed in the program goes out from the Send Fax dialog and one sent by the far end is taken
// in receive mode and filed. The far end is a second qvline on the same server with our Class 1
// engine (`qvfax`) in another process. Real time: e2e, alone.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QToolButton>

#include "../../interop/line/registered_line.h"
#include "../receive/receive_fixture.h"
#include "../send/send_flow.h"
#include "../window/send_helpers.h"
#include "app/flows/internet_line.h"
#include "app/flows/session_log.h"
#include "app/store/line_settings.h"
#include "app/store/table_pair.h"
#include "comm/port_names.h"
#include "line/line_status.h"

namespace qv::app::test {
namespace {

using fax::test::MakeQvf;
using fax::test::PageMatches;
using fax::test::ReadReceived;
using fax::test::ReceivedPage;

constexpr const char* kDeskPassword = "desk-pw-2718";
constexpr const char* kFarPassword = "far-pw-3141";
constexpr const char* kDeskUser = "1001";
constexpr const char* kFarUser = "1002";
constexpr int kCallMs = 120000;
const QString kQvline = QStringLiteral(QV_BIN_DIR "/qvline");

// The program's data directory with the line chosen in place of COM2, and the far end registered.
class InternetLineCallsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");  // the password goes to the user's own file
    qputenv("QV_LINE_PROGRAM", kQvline.toUtf8());
    ASSERT_TRUE(server_.Start(tmp_.str(""), {{kDeskUser, kDeskPassword}, {kFarUser, kFarPassword}}));
    TLineSettings line;
    line.enabled = true;
    line.server = QString::fromStdString("127.0.0.1:" + std::to_string(server_.port()));
    line.user = QString::fromLatin1(kDeskUser);
    // The account's domain is the server's alias, not its address: the desk's calls come from a
    // domain the server serves, and it challenges them.
    line.domain = QString::fromLatin1(line::test::kTestDomain);
    line.callerId = QStringLiteral("QUORVANE DESK");
    line.t38 = false;
    SaveLineSettings(line, lab_.Ini());
    ASSERT_TRUE(TLineSecret(lab_.Path()).Store(line.user, QString::fromLatin1(kDeskPassword)));
    ASSERT_TRUE(far_.Start(tmp_.str(""), "far", server_.uri(), kFarUser, kFarPassword)) << far_.Output();
    ASSERT_TRUE(far_.WaitFor(std::string(line::status::kRegistered), 10)) << far_.Output() << far_.Log();
  }
  void TearDown() override {
    far_.Stop();
    qunsetenv("QV_LINE_PROGRAM");
  }

  // The main window, once its line is registered (so calls can reach it).
  std::unique_ptr<TMainScreen> Open() {
    auto w = lab_.Open();
    EXPECT_TRUE(WaitFor([&] { return w->StatusText().contains(QStringLiteral("Registered")); }, 15000))
        << w->StatusText().toStdString();
    EXPECT_EQ(comm::PortDevicePath(2), lab_.StdPath() + "internet-line.modem");
    return w;
  }
  std::string DeskLog() const { return line::test::ReadWhole(lab_.StdPath() + "internet-line.log"); }
  QStringList SessionLog(const char* file) const {
    QFile f(lab_.Path() + QString::fromLatin1(file));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromLocal8Bit(f.readAll()).split(QRegularExpression(QStringLiteral("\r?\n")), Qt::SkipEmptyParts);
  }

  fax::test::TempDir tmp_;
  ReceiveLab lab_;
  line::test::Kamailio server_;
  line::test::RegisteredLine far_;
};

TEST_F(InternetLineCallsTest, AFaxFromTheSendFaxDialogArrivesAtTheFarEndPixelExact) {
  {
    core::TIniFile ini(lab_.Ini());
    ini.WriteInteger("Modem", "FaxClass", 1);
    ini.WriteInteger("Dialing", "DialAttempts", 1);
    ini.WriteString("Dialing", "DialPrefix", "");
  }
  ScriptedDialogs dialogs;
  auto w = Open();
  ASSERT_TRUE(AddFaxWithMemos(w->Store(), "", RtfPages(2, "Line"), "Far Office", kFarUser, "Over the line"));
  w->RefreshGrids();
  w->SetButtons();
  const QString rendered = w->CreateFaxFile();
  ASSERT_FALSE(rendered.isEmpty());
  const auto sentRows = RenderedRows(rendered.toStdString());
  QFile::remove(rendered);
  ASSERT_EQ(sentRows.size(), 2u);

  fax::test::ReceiverProcess rx;
  fax::test::ReceiverProcess::Options ro;
  ro.faxClass = fax::fcClass1;
  ro.station = "FAR OFFICE";
  ro.exitOnError = true;
  ASSERT_TRUE(rx.Start(far_.device(), tmp_.str("in"), tmp_.str("rx.out"), ro)) << rx.Output();
  dialogs.Clear();
  SendRun run;
  ScriptSend(dialogs, run, kCallMs / 1000);
  auto* send = w->findChild<QToolButton*>(QStringLiteral("SendButton"));
  ASSERT_TRUE(send->isEnabled());
  send->click();

  ASSERT_TRUE(run.ended) << rx.Output() << DeskLog() << far_.Log();
  EXPECT_EQ(run.remoteId.trimmed(), QStringLiteral("FAR OFFICE"));
  EXPECT_EQ(dialogs.Infos(), QStringList{QStringLiteral("Fax sent successfully")}) << DeskLog() << far_.Log();
  TablePair& fax = w->Store().Pair(TableId::Fax);
  EXPECT_EQ(fax.FieldString("LASTRESULT"), "Sent");
  EXPECT_TRUE(fax.FieldBool("SENT"));

  ASSERT_TRUE(WaitFor([&] { return rx.Output().find("1 fax received") != std::string::npos; }, 30000)) << rx.Output();
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(tmp_.str("in/FAX0001.QVF"), pages)) << rx.Output();
  ASSERT_EQ(pages.size(), sentRows.size());
  for (size_t p = 0; p < pages.size(); ++p) EXPECT_TRUE(PageMatches(pages[p], sentRows[p])) << "page " << p + 1;
  // The send log tells how the line carried the call: as audio (T.38 is off) at the rate agreed.
  const QStringList log = SessionLog(kSendLogFile);
  const qsizetype result = log.indexOf(QStringLiteral("Result: OK"));
  ASSERT_GT(result, 0) << log.join(u'\n').toStdString();
  EXPECT_EQ(log[result - 1], QStringLiteral("Internet line: G.711 PCMU, %1 bps").arg(run.connectBps))
      << log.join(u'\n').toStdString();
  EXPECT_EQ(run.connectBps, 9600);
  // The call went through the server to the far end's registration, dialled as digits.
  EXPECT_NE(DeskLog().find(std::string("-> INVITE sip:") + kFarUser + "@" + line::test::kTestDomain), std::string::npos)
      << DeskLog();
  EXPECT_NE(DeskLog().find("<- SIP/2.0 407"), std::string::npos) << DeskLog();
  w->close();
}

TEST_F(InternetLineCallsTest, AFaxFromTheFarEndIsTakenInReceiveModeAndFiled) {
  ScriptedDialogs dialogs;
  auto w = Open();
  ReceiveButton(*w)->click();
  ASSERT_TRUE(w->ReceiveMode());

  const auto sent = MakeQvf(tmp_.str("far.qvf"), 2, true, 40, 0);
  fax::test::SenderProcess tx;
  fax::test::SenderProcess::Options so;
  so.faxClass = fax::fcClass1;
  so.station = "FAR OFFICE";
  so.number = kDeskUser;
  so.attempts = 1;
  ASSERT_TRUE(tx.Start(far_.device(), tmp_.str("far.qvf"), tmp_.str("tx.out"), so));
  ASSERT_TRUE(WaitFor([&] { return Records(w->Store()).size() == 1; }, kCallMs))
      << fax::test::ReadText(tmp_.str("tx.out")) << DeskLog() << far_.Log();
  ASSERT_TRUE(WaitFor([&] { return tx.Exited(); }, 30000));
  EXPECT_EQ(tx.exitStatus, 0) << fax::test::ReadText(tmp_.str("tx.out"));
  const auto records = Records(w->Store());
  EXPECT_EQ(records[0].file, "FAX0001.QVF");
  EXPECT_EQ(records[0].from, "FAR OFFICE");
  EXPECT_EQ(records[0].pages, 2);
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(lab_.ReceiveFile(QStringLiteral("FAX0001.QVF")).toStdString(), pages));
  ASSERT_EQ(pages.size(), sent.size());
  for (size_t p = 0; p < pages.size(); ++p) EXPECT_TRUE(PageMatches(pages[p], sent[p])) << "page " << p + 1;
  EXPECT_TRUE(w->ReceiveMode());
  EXPECT_TRUE(dialogs.shown.empty());
  // The call came in from the far end's account, through the server.
  EXPECT_NE(DeskLog().find(std::string("incoming call from sip:") + kFarUser + "@"), std::string::npos) << DeskLog();
  ReceiveButton(*w)->click();
  EXPECT_FALSE(w->ReceiveMode());
  // The receive log has the call's media and rate, once.
  const QStringList log = SessionLog(kReceiveLogFile);
  EXPECT_EQ(log.filter(QStringLiteral("Internet line:")), QStringList{QStringLiteral("Internet line: G.711 PCMU, 9600 bps")})
      << log.join(u'\n').toStdString();
  w->close();
}

}  // namespace
}  // namespace qv::app::test
