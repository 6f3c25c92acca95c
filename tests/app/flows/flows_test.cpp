// The flows without any window: the settings a call uses, the session log, the pre-call checks
// of both directions, an outgoing fax sent through a qvmodem pair to `qvfax receive`, and receive
// mode answering a call from `qvfax send`, each watched by an observer that only records.

#include "app/store/fax_store.h"
#include "app/flows/call_settings.h"
#include "app/flows/outgoing_fax.h"
#include "app/flows/pre_call.h"
#include "app/flows/receive_service.h"
#include "app/flows/session_log.h"
#include "app/flows/message_pump.h"
#include "app/flows/modem_routines.h"
#include "app/store/receive_folder.h"
#include "app/store/settings.h"
#include "app/store/table_pair.h"
#include "comm/com_port.h"
#include "comm/port_names.h"
#include "core/ini_file.h"
#include "fax/receive_fax.h"
#include "fax/send_fax.h"

#include "../../fax/e2e/fax_harness.h"
#include "../prefs/modem_fixture.h"
#include "../receive/receive_fixture.h"
#include "../send/send_flow.h"
#include "../test_support.h"
#include "../window/send_helpers.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <filesystem>

namespace qv::app {
namespace {

using test::ReceiveLab;
using test::WaitFor;

constexpr int kCallMs = 90000;

// ---------------------------------------------------------------------------------------------
// Rules

TEST(CallSettings, TheFaxClassSettingIsDecodedByOneTable) {
  EXPECT_EQ(FaxClassOfSetting(0), fax::fcDetect);
  EXPECT_EQ(FaxClassOfSetting(1), fax::fcClass1);
  EXPECT_EQ(FaxClassOfSetting(2), fax::fcClass2);
  EXPECT_EQ(FaxClassOfSetting(3), fax::fcClass2_0);
  EXPECT_EQ(FaxClassOfSetting(4), fax::fcDetect);  // unknown: the session detects the class
  EXPECT_EQ(FaxClassOfSetting(-1), fax::fcDetect);
  EXPECT_EQ(FaxClassName(0), "AutoDetect");
  EXPECT_EQ(FaxClassName(3), "Class 2.0");
  EXPECT_EQ(FaxClassName(7), "unknown");
  EXPECT_EQ(FaxClassSummaryName(0), QStringLiteral("Autodetect"));
  EXPECT_EQ(FaxClassSummaryName(2), QStringLiteral("Class 2"));
  EXPECT_EQ(FaxClassSummaryName(9), QString());
}

TEST(CallSettings, BothDirectionsLogTheirSettingsInTheLogsOrder) {
  TSettings s;
  s.ComPort = 2;
  s.MaximumBPS = 14400;
  s.MaximumBPSReceive = 9600;
  s.ECM = true;
  s.ECMReceive = false;
  s.BlindDial = true;
  s.ToneOrPulse = 1;
  s.FaxClass = 2;
  s.FaxClassReceive = 0;
  s.Fax = "555 0199";
  s.InitString = "X4";
  s.InitStringReceive = "M0";
  const TCallSettings send = SendCallSettings(s, QStringLiteral("5550100"), QStringLiteral("9,"), std::nullopt);
  EXPECT_EQ(send.comNumber, 3);
  EXPECT_EQ(SettingsLogLines(send),
            (QStringList{"Desired BPS: 14400", "Desired ECM: ON", "Blind Dial: ON", "Negotiate between pages: OFF",
                         "Fax#: 5550100", "Dial Prefix: 9,", "Using Pulse Dialing ***", "Fax Class: Class 2",
                         "StationID: 555 0199", "User INIT String: X4"}));
  EXPECT_EQ(SettingsLogLines(ReceiveCallSettings(s)),
            (QStringList{"Desired BPS: 9600", "Using Pulse Dialing ***", "Fax Class: AutoDetect",
                         "User INIT String: M0"}));
  // The receive log names pulse dialling only for the wizard's "Pulse"; sending dials pulse for
  // anything but tone.
  s.ToneOrPulse = 2;
  EXPECT_TRUE(SendCallSettings(s, QString(), std::nullopt, std::nullopt).pulse);
  EXPECT_FALSE(ReceiveCallSettings(s).pulse);
}

TEST(SessionLog, TheReceiveLogIsATextFileOfThisSystem) {
  test::App();
  test::DataDir dir;
  TSessionLog log(TSessionLog::kReceive);
  log.Begin();
  log.Add(QStringLiteral("Opened com port OK"));
  log.Add(QStringLiteral("Opened com port OK"));
  log.Add(QStringLiteral("Empfang \u00fcber COM2"));
  log.SaveIn(dir.Path());
  QFile f(dir.Path() + QStringLiteral("Lastrec.log"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  EXPECT_FALSE(bytes.contains('\r'));
  const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 5);  // start, two lines, finish, and the empty rest after the last LF
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Start:")));
  EXPECT_EQ(lines[2], QStringLiteral("Empfang \u00fcber COM2"));
  EXPECT_TRUE(lines[3].startsWith(QStringLiteral("Finish: ")));
}

TEST(DialOptions, FromTheSettingsAsTheyAreSwitchedThere) {
  TSettings s;
  s.DialPrefix = "9,";
  s.DialSuffix = "#12";
  s.SuffixDisable = true;
  const TDialOptions d = TDialOptions::FromSettings(s, QStringLiteral(" 5550100 "));
  EXPECT_EQ(d.number, QStringLiteral("5550100"));
  EXPECT_EQ(d.prefix, QStringLiteral("9,"));
  EXPECT_FALSE(d.prefixOff);
  EXPECT_EQ(d.suffix, QStringLiteral("#12"));
  EXPECT_TRUE(d.suffixOff);
}

// ---------------------------------------------------------------------------------------------
// Observers that record

struct Recorder {
  QStringList infos, errors, asked, statuses;
  bool busy = false;  // the hourglass as the observer shows it
  bool goOn = false;
  void Busy(bool b) { busy = b; }
};

class SendRecorder : public TSendObserver, public Recorder {
 public:
  int ended = 0;
  void FlowBusy(bool b) override { Busy(b); }
  void FlowStatus(const QString& t) override { statuses << t; }
  void FlowInformation(const QString& t) override { infos << t; }
  void FlowError(const QString& title, const QString& text, bool) override { errors << title + u'|' + text; }
  bool FlowAskContinue(const QString& title, const QString&) override {
    asked << title;
    return goOn;
  }
  void AttemptEnded() override { ++ended; }
};

class ReceiveRecorder : public TReceiveObserver, public Recorder {
 public:
  QStringList events;
  struct Arrival {
    QString file, from;
    int pages = 0;
  };
  std::vector<Arrival> arrivals;
  void FlowBusy(bool b) override { Busy(b); }
  void FlowStatus(const QString& t) override { statuses << t; }
  void FlowInformation(const QString& t) override { infos << t; }
  void FlowError(const QString& title, const QString& text, bool) override { errors << title + u'|' + text; }
  bool FlowAskContinue(const QString& title, const QString&) override {
    asked << title;
    return goOn;
  }
  void ReceiveStarting() override { events << QStringLiteral("starting"); }
  void ReceiveNotice(bool shown) override { events << (shown ? QStringLiteral("notice") : QStringLiteral("no notice")); }
  void ReceiveModeChanged(bool on) override { events << (on ? QStringLiteral("on") : QStringLiteral("off")); }
  void ReceiveReady() override { events << QStringLiteral("ready"); }
  void FaxFiled() override { events << QStringLiteral("filed"); }
  void FaxArrived(const QString& file, const QString& from, int pages, const QString&) override {
    arrivals.push_back({file, from, pages});
  }
};

// ---------------------------------------------------------------------------------------------
// The pre-call checks

class Host : public TPreCallHost {
 public:
  QStringList errors, asked;
  int failed = 0;
  void PreCallStatus(const QString&) override {}
  void PreCallBusy(bool) override {}
  void PreCallFailed(const QString&) override { ++failed; }
  void PreCallError(const QString& title, const QString& text) override { errors << title + u'|' + text; }
  bool PreCallAskContinue(const QString& title, const QString&) override {
    asked << title;
    return false;
  }
};

TEST(PreCall, OneRoutineForBothDirectionsThatOnlyAdvisesDifferently) {
  test::App();
  test::ModemLab lab;  // nothing behind any COM port
  TSettings s;
  s.ComPort = 1;
  for (CallDirection direction : {CallDirection::kSend, CallDirection::kReceive}) {
    comm::TQvComPort port;
    ConfigureFormPort(port);
    Host host;
    TSessionLog log;
    const TCallSettings call = direction == CallDirection::kSend
                                   ? SendCallSettings(s, QStringLiteral("555"), std::nullopt, std::nullopt)
                                   : ReceiveCallSettings(s);
    EXPECT_EQ(RunPreCallChecks(port, call, direction, log, host), PreCallResult::kPortFailed);
    EXPECT_EQ(host.failed, 1);
    ASSERT_EQ(host.errors.size(), 1);
    EXPECT_TRUE(host.errors[0].startsWith(QStringLiteral("Error Opening Communications Port|Unable to open")));
    EXPECT_TRUE(host.errors[0].endsWith(direction == CallDirection::kSend
                                            ? QStringLiteral("button on the Preferences screen to be sure.")
                                            : QStringLiteral("button in Preferences to be sure.")))
        << host.errors[0].toStdString();
    ASSERT_EQ(log.Lines().size(), 3);
    EXPECT_EQ(log.Lines()[0], QStringLiteral("Opening com port: COM2"));
    EXPECT_EQ(log.Lines()[1], QStringLiteral("Error opening com port: COM2"));
    EXPECT_TRUE(log.Lines()[2].startsWith(QStringLiteral("Message:")));
  }
}

TEST(PreCall, ASilentModemIsAskedAboutAndOkStops) {
  test::App();
  ConnectMessageLoop();
  test::ModemLab lab;
  test::VirtualModem& modem = lab.Modem(1, {"--silent"});
  ASSERT_TRUE(modem.Ready());
  comm::TQvComPort port;
  ConfigureFormPort(port);
  Host host;
  TSessionLog log;
  TSettings s;
  s.ComPort = 0;
  EXPECT_EQ(RunPreCallChecks(port, ReceiveCallSettings(s), CallDirection::kReceive, log, host),
            PreCallResult::kNoModem);
  EXPECT_EQ(host.asked, QStringList{QStringLiteral("No Response From Modem")});
  EXPECT_EQ(host.failed, 1);
  EXPECT_TRUE(host.errors.isEmpty());
  EXPECT_EQ(log.Lines().mid(1), (QStringList{"Opened com port OK", "Checking for modem", "Error checking for modem", "Exit"}));
  if (port.Open()) port.SetOpen(false);
}

// ---------------------------------------------------------------------------------------------
// The outgoing fax

class OutgoingFaxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    ConnectMessageLoop();
  }

  // The settings of the lab's data directory, COM1 leading to `device`, in force and on disk.
  void Configure(const std::string& device) {
    core::TIniFile(lab_.Ini()).WriteString("Ports", "COM1", device);
    TSettings s;
    s.ComPort = 0;
    s.FaxClass = 1;
    s.Name = "Ann Example";
    s.Fax = "555 0199";
    s.DialAttempts = 1;
    s.RetryWait = 5;
    s.DialSuffix = "#77";
    s.SuffixDisable = true;
    SaveSettings(s, lab_.Ini());
    Settings() = s;
  }

  // The store with one outgoing fax of a 2-page cover sheet and a 3-page document; its number.
  int AddFax() {
    store_ = std::make_unique<TFaxStore>(lab_.Path().toStdString());
    EXPECT_TRUE(store_->OpenFaxDBF());
    EXPECT_TRUE(store_->OpenRecFaxDBF());
    EXPECT_TRUE(test::AddFaxWithMemos(*store_, test::RtfPages(2, "Cover"), test::RtfPages(3, "Document"),
                                      "Ann Example", "5550100", "Figures"));
    TablePair& fax = store_->Pair(TableId::Fax);
    fax.Go(fax.RecCount());
    return fax.RecNo();
  }

  QStringList LogLines() const {
    QFile f(lab_.Path() + QStringLiteral("Lastsend.log"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromLocal8Bit(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  }

  test::ModemLab lab_;
  std::unique_ptr<TFaxStore> store_;
};

TEST_F(OutgoingFaxTest, AFaxGoesOutWithoutAnyFormAndTheRecordSaysSent) {
  fax::test::TempDir line;
  fax::test::ModemPair modems(line);
  ASSERT_TRUE(modems.ready());
  Configure(modems.a());
  const int recNo = AddFax();
  std::filesystem::create_directories(line.path() / "in");
  fax::test::ReceiverProcess receiver;
  fax::test::ReceiverProcess::Options o;
  o.faxClass = fax::fcClass1;
  o.station = "REMOTE";
  receiver.Start(modems.b(), line.str("in"), line.str("receiver.out"), o);
  ASSERT_TRUE(WaitFor([&] { return receiver.Output().find("status 20") != std::string::npos; }, 20000))
      << receiver.Output();

  SendRecorder watch;
  TOutgoingFax outgoing(*store_, recNo, lab_.Path(), &watch);
  ASSERT_TRUE(outgoing.Render());
  EXPECT_EQ(outgoing.Pages(), 5);
  EXPECT_TRUE(QFile::exists(outgoing.FaxFile()));
  const QString rendered = outgoing.FaxFile();
  const auto sentRows = test::RenderedRows(rendered.toStdString());
  ASSERT_EQ(sentRows.size(), 5u);
  EXPECT_EQ(outgoing.Phone(), QStringLiteral("5550100"));

  ASSERT_TRUE(outgoing.Session().StartAttempt(TDialOptions::FromSettings(Settings(), outgoing.Phone())));
  EXPECT_TRUE(outgoing.Session().Sending());
  ASSERT_TRUE(WaitFor([&] { return watch.ended > 0; }, kCallMs));
  EXPECT_EQ(watch.ended, 1);
  EXPECT_FALSE(outgoing.Session().Sending());
  EXPECT_EQ(watch.infos, QStringList{QStringLiteral("Fax sent successfully")});
  EXPECT_TRUE(watch.errors.isEmpty());
  EXPECT_FALSE(watch.busy);  // the busy look has ended
  EXPECT_EQ(outgoing.Session().ResultText(), QStringLiteral("Sent"));
  EXPECT_FALSE(outgoing.Session().Port().Open());

  ASSERT_TRUE(outgoing.RecordOutcome(outgoing.Phone()));
  EXPECT_FALSE(QFile::exists(rendered));
  TablePair& fax = store_->Pair(TableId::Fax);
  EXPECT_EQ(fax.RecNo(), recNo);
  EXPECT_TRUE(fax.FieldBool("SENT"));
  EXPECT_EQ(fax.FieldString("LASTRESULT"), "Sent");
  EXPECT_EQ(fax.FieldInt("PAGES"), 5);
  EXPECT_EQ(fax.FieldDate("DATESENT"), QDate::currentDate().toString(QStringLiteral("yyyyMMdd")).toStdString());

  const QStringList log = LogLines();
  // Neither end asks for error correction; both offer MR (the receiver's DIS, the program's
  // default coding cap), so the pages go two-dimensional.
  for (const char* l : {"Opening com port: COM1", "Opened com port OK", "Fax#: 5550100", "Fax Class: Class 1",
                        "StationID: 555 0199", "Error control: off, MR", "Result: OK"})
    EXPECT_TRUE(log.contains(QString::fromLatin1(l))) << l << "\n" << log.join(u'\n').toStdString();
  EXPECT_FALSE(log.contains(QStringLiteral("Dial Suffix: #77")));  // switched off in the settings

  ASSERT_TRUE(WaitFor([&] { return receiver.Output().find("1 fax received") != std::string::npos; }, 20000))
      << receiver.Output();
  std::vector<std::string> files;
  for (auto& e : std::filesystem::directory_iterator(line.path() / "in")) files.push_back(e.path().string());
  ASSERT_EQ(files.size(), 1u);
  std::vector<fax::test::ReceivedPage> pages;
  ASSERT_TRUE(fax::test::ReadReceived(files[0], pages));
  ASSERT_EQ(pages.size(), 5u);
  for (size_t p = 0; p < pages.size(); ++p) EXPECT_TRUE(fax::test::PageMatches(pages[p], sentRows[p])) << p;
}

TEST_F(OutgoingFaxTest, APortThatCannotBeOpenedEndsTheAttemptAndTheRecordSaysWhy) {
  Configure(lab_.Device(1));  // nothing there
  const int recNo = AddFax();
  SendRecorder watch;
  TOutgoingFax outgoing(*store_, recNo, lab_.Path(), &watch);
  ASSERT_TRUE(outgoing.Render());
  EXPECT_FALSE(outgoing.Session().StartAttempt(TDialOptions::FromSettings(Settings(), outgoing.Phone())));
  EXPECT_EQ(watch.ended, 1);
  EXPECT_FALSE(watch.busy);
  ASSERT_EQ(watch.errors.size(), 1);
  EXPECT_TRUE(watch.errors[0].startsWith(QStringLiteral("Error Opening Communications Port|")));
  EXPECT_FALSE(outgoing.Session().Sending());
  // A second attempt may follow from the same flow.
  EXPECT_FALSE(outgoing.Session().StartAttempt(TDialOptions::FromSettings(Settings(), outgoing.Phone())));
  EXPECT_EQ(watch.ended, 2);
  ASSERT_TRUE(outgoing.RecordOutcome(QStringLiteral("5550100")));
  TablePair& fax = store_->Pair(TableId::Fax);
  EXPECT_FALSE(fax.FieldBool("SENT"));
  EXPECT_EQ(fax.FieldString("LASTRESULT"), "Error Opening Communications Port");
  EXPECT_EQ(fax.FieldInt("PAGES"), 5);
  const QStringList log = LogLines();
  EXPECT_TRUE(log.contains(QStringLiteral("Error opening com port: COM1")));
  EXPECT_TRUE(log.last().startsWith(QStringLiteral("Finish: ")));
}

TEST_F(OutgoingFaxTest, ARecordWithNothingToSendIsNotRendered) {
  Configure(lab_.Device(1));
  store_ = std::make_unique<TFaxStore>(lab_.Path().toStdString());
  ASSERT_TRUE(store_->OpenFaxDBF());
  ASSERT_TRUE(test::AddFaxWithMemos(*store_, "", ""));
  TablePair& fax = store_->Pair(TableId::Fax);
  fax.Go(fax.RecCount());
  SendRecorder watch;
  TOutgoingFax outgoing(*store_, fax.RecNo(), lab_.Path(), &watch);
  EXPECT_FALSE(outgoing.Render());
  EXPECT_EQ(watch.infos, QStringList{QStringLiteral("Fax has no contents or cover sheet")});
  EXPECT_FALSE(watch.busy);
  EXPECT_TRUE(test::FilesLike(lab_.Path(), QStringLiteral("QRV_*.QVF")).isEmpty());
}

// ---------------------------------------------------------------------------------------------
// The receive service

class ReceiveServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadSettings(Settings(), lab_.Ini());
    comm::SetPortSettingsFile(lab_.Ini());
    QDir(lab_.Path()).mkdir(QString::fromLatin1(kReceiveFolder));
    store_ = std::make_unique<TFaxStore>(lab_.StdPath());
    ASSERT_TRUE(store_->OpenFaxDBF());
    ASSERT_TRUE(store_->OpenRecFaxDBF());
  }
  QStringList Log() const { return test::ReadLines(lab_.Path() + QStringLiteral("Lastrec.log")); }

  ReceiveLab lab_;
  std::unique_ptr<TFaxStore> store_;
};

TEST_F(ReceiveServiceTest, StartsAndStopsWithoutTheMainWindow) {
  test::VirtualModem modem(lab_.Device(2));
  ASSERT_TRUE(modem.Ready());
  ReceiveRecorder watch;
  TReceiveService service(*store_, lab_.Path(), &watch);
  ASSERT_TRUE(service.Start());
  EXPECT_TRUE(service.On());
  EXPECT_TRUE(service.Port().Open());
  EXPECT_TRUE(service.ReceiveFax().Active());
  EXPECT_EQ(service.ReceiveFax().FaxClass, fax::fcClass1);
  EXPECT_EQ(watch.events, (QStringList{"starting", "notice", "on", "notice", "ready"}));
  EXPECT_FALSE(watch.busy);
  EXPECT_TRUE(WaitFor([&] { return !watch.statuses.isEmpty() && watch.statuses.last() == "Waiting for incoming call"; },
                      10000));
  service.Stop();
  EXPECT_FALSE(service.On());
  EXPECT_FALSE(service.Port().Open());
  EXPECT_FALSE(service.ReceiveFax().Active());
  EXPECT_EQ(watch.events.mid(5), (QStringList{"no notice", "off"}));
  EXPECT_TRUE(watch.errors.isEmpty());
  const QStringList log = Log();
  ASSERT_GE(log.size(), 4);
  EXPECT_TRUE(log[0].startsWith(QStringLiteral("Start:")));
  EXPECT_TRUE(log.contains(QStringLiteral("StartReceive")));
  EXPECT_TRUE(log[log.size() - 2].startsWith(QStringLiteral("Stopped receive mode:")));
}

TEST_F(ReceiveServiceTest, AStartThatCannotOpenThePortIsAbandonedAndLogged) {
  ReceiveRecorder watch;  // nothing behind COM2
  TReceiveService service(*store_, lab_.Path(), &watch);
  EXPECT_FALSE(service.Start());
  EXPECT_FALSE(service.On());
  EXPECT_EQ(watch.events.last(), QStringLiteral("off"));
  EXPECT_FALSE(watch.busy);
  ASSERT_EQ(watch.errors.size(), 1);
  EXPECT_TRUE(watch.errors[0].endsWith(QStringLiteral("in Preferences to be sure.")));
  const QStringList log = Log();
  // The log names the step at which the start was given up, as it always has.
  EXPECT_TRUE(log.contains(QStringLiteral("Exception: port")));
  EXPECT_EQ(log[log.size() - 2], QStringLiteral("Error..."));
}

TEST_F(ReceiveServiceTest, AnsweredCallBecomesARecordAndTheObserverHearsOfIt) {
  fax::test::TempDir tmp;
  auto modems = std::make_unique<fax::test::ModemPair>(tmp, std::vector<std::string>{}, true);
  ASSERT_TRUE(modems->ready());
  core::TIniFile(lab_.Ini()).WriteString("Ports", "COM2", modems->b());
  ReceiveRecorder watch;
  TReceiveService service(*store_, lab_.Path(), &watch);
  ASSERT_TRUE(service.Start());
  const auto sent = fax::test::MakeQvf(tmp.str("one.qvf"), 2, true, 40, 0);
  auto sender = test::SendFax(*modems, tmp.str("one.qvf"), tmp.str("send.out"), "OFFICE 1");
  ASSERT_TRUE(WaitFor([&] { return !watch.arrivals.empty(); }, kCallMs)) << fax::test::ReadText(tmp.str("send.out"));
  EXPECT_EQ(watch.arrivals[0].file, QStringLiteral("FAX0001.QVF"));
  EXPECT_EQ(watch.arrivals[0].from, QStringLiteral("OFFICE 1"));
  EXPECT_EQ(watch.arrivals[0].pages, 2);
  EXPECT_TRUE(watch.events.contains(QStringLiteral("filed")));
  const auto records = test::Records(*store_);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].file, "FAX0001.QVF");
  EXPECT_EQ(records[0].pages, 2);
  std::vector<fax::test::ReceivedPage> pages;
  ASSERT_TRUE(fax::test::ReadReceived(lab_.ReceiveFile(QStringLiteral("FAX0001.QVF")).toStdString(), pages));
  ASSERT_EQ(pages.size(), sent.size());
  for (size_t p = 0; p < pages.size(); ++p) EXPECT_TRUE(fax::test::PageMatches(pages[p], sent[p])) << p;
  EXPECT_FALSE(QFile::exists(lab_.Path() + QStringLiteral("Receiving.tmp")));  // the journal has ended
  EXPECT_TRUE(service.On());
  ASSERT_TRUE(WaitFor([&] { return sender->Exited(); }, kCallMs));
  service.Stop();
  EXPECT_TRUE(watch.errors.isEmpty()) << watch.errors.join(u'\n').toStdString();
}

}  // namespace
}  // namespace qv::app
