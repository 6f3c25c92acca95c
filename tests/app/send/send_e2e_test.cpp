// Sending from the main window end to end: the window offscreen, a composed fax, the Send command,
// the Send Fax dialog's "Send Fax Now" through a qvmodem pair on pseudo-terminals, answered by
// `qvfax receive` in another process; and the sends that fail before or during the call.
#include "app/store/fax_store.h"
#include "app/forms/main_screen.h"
#include "app/flows/message_pump.h"
#include "app/forms/send_fax_form.h"
#include "app/store/settings.h"
#include "app/forms/show_error_form.h"
#include "app/store/table_pair.h"
#include "comm/port_names.h"
#include "core/error_codes.h"
#include "core/error_text.h"
#include "core/ini_file.h"
#include "faximage/qvf_file.h"
#include "faximage/unpacker_bitmap.h"

#include "../../fax/e2e/fax_harness.h"
#include "../prefs/modem_fixture.h"
#include "../test_support.h"
#include "../window/reply_helpers.h"
#include "../window/send_helpers.h"
#include "send_flow.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QAction>
#include <QPushButton>
#include <QToolButton>

#include <optional>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

namespace fs = std::filesystem;

// `qvfax receive` as another process, its output in a file.
class Receiver {
 public:
  Receiver(const std::string& device, const std::string& dir, const std::string& out) {
    fs::create_directories(dir);
    fax::test::ReceiverProcess::Options o;
    o.faxClass = fax::fcClass1;
    o.station = "REMOTE";
    process_.Start(device, dir, out, o);
  }
  std::string Output() const { return process_.Output(); }
  // Waits (pumping the window) until the output holds the text.
  bool WaitFor(const std::string& text, int seconds) const {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000) {
      if (Output().find(text) != std::string::npos) return true;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return false;
  }

 private:
  fax::test::ReceiverProcess process_;
};

// The header line at the top of a received page as Tesseract reads it: the band of rows from the
// first ink to the first white row after it, enlarged so the small header font reads well.
QString OcrHeaderLine(const std::string& file, int page, const QString& dir) {
  faximage::UnpackerState state;
  faximage::PageBitmap bm;
  if (faximage::UnpackPageFullWidth(state, file, page, bm) < 0 || bm.empty()) return QString();
  auto inked = [&](int y) {
    const uint8_t* row = bm.row(y);
    for (int i = 0; i < bm.width / 8; ++i)
      if ((bm.inverted ? uint8_t(~row[i]) : row[i]) != 0) return true;
    return false;
  };
  int top = 0;
  while (top < bm.height && !inked(top)) ++top;
  int bottom = top;
  while (bottom < bm.height && inked(bottom)) ++bottom;
  if (bottom <= top) return QString();
  constexpr int kMargin = 12, kEnlarge = 3;
  QImage band(bm.width + 2 * kMargin, bottom - top + 2 * kMargin, QImage::Format_Grayscale8);
  band.fill(255);
  for (int y = top; y < bottom; ++y) {
    uchar* out = band.scanLine(y - top + kMargin) + kMargin;
    const uint8_t* row = bm.row(y);
    for (int x = 0; x < bm.width; ++x) {
      const bool black = ((bm.inverted ? ~row[x / 8] : row[x / 8]) >> (7 - x % 8)) & 1;
      if (black) out[x] = 0;
    }
  }
  const QString png = dir + QStringLiteral("/header%1.png").arg(page);
  // The header's pixel font reads best to Tesseract with its edges softened: enlarged smoothly,
  // then brought down to half of that.
  const QImage large =
      band.scaled(band.width() * kEnlarge, band.height() * kEnlarge, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  large.scaled(large.width() / 2, large.height() / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).save(png);
  QProcess ocr;
  ocr.setProcessEnvironment([] {
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("OMP_THREAD_LIMIT"), QStringLiteral("1"));
    return env;
  }());
  ocr.start(QStringLiteral("tesseract"), {png, QStringLiteral("stdout"), QStringLiteral("--psm"), QStringLiteral("7"),
                                          QStringLiteral("-l"), QStringLiteral("eng")});
  if (!ocr.waitForFinished(120000) || ocr.exitCode() != 0) return QString();
  return QString::fromUtf8(ocr.readAllStandardOutput()).simplified();
}

class SendE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    ConnectMessageLoop();
  }

  // The settings of the data directory; COM1 leads to `device`.
  void Configure(const std::string& device, const std::function<void(TSettings&)>& adjust = {}) {
    core::TIniFile(lab_.Ini()).WriteString("Ports", "COM1", device);
    TSettings s;
    s.ComPort = 0;
    s.FaxClass = 1;
    s.Name = "Ann Example";
    s.Fax = "555 0199";
    s.DialAttempts = 1;
    s.RetryWait = 5;
    s.DialPrefix = "";
    s.DialSuffix = "#77";
    s.SuffixDisable = true;  // dialled without it, but kept
    if (adjust) adjust(s);
    SaveSettings(s, lab_.Ini());
  }

  std::unique_ptr<TMainScreen> Start() {
    auto w = test::StartReadyWindow(lab_.Path());
    EXPECT_TRUE(test::AddFaxWithMemos(w->Store(), test::RtfPages(2, "Cover"), test::RtfPages(3, "Document"),
                                      "Ann Example", "5550100", "Figures"));
    w->RefreshGrids();
    w->SetButtons();
    dialogs_.Clear();
    return w;
  }

  void ScriptSend(test::SendRun& run, int seconds = 120) { test::ScriptSend(dialogs_, run, seconds); }

  QStringList Forms() const {
    QStringList out;
    for (const auto& s : dialogs_.shown)
      if (s.kind == QLatin1String("form")) out << s.caption;
    return out;
  }
  QStringList LogLines() const {
    QFile f(lab_.Path() + QString::fromLatin1(kSendLogFile));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromLocal8Bit(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  }
  QStringList WorkFiles() const {
    QStringList all;
    for (const char* p : {"QRV_*.QVF", "QRVAX*.QVF", "_TMP.BMP", "Eraseme.rtf"})
      all += test::FilesLike(lab_.Path(), QString::fromLatin1(p));
    return all;
  }
  // The record is unsent, with PAGES and PHONE from the dialog and the result text.
  void ExpectUnsent(TMainScreen& w, const std::string& result) {
    TablePair& fax = w.Store().Pair(TableId::Fax);
    EXPECT_FALSE(fax.FieldBool("SENT"));
    EXPECT_EQ(fax.FieldDate("DATESENT"), "");
    EXPECT_EQ(fax.FieldString("TIMESENT"), "");
    EXPECT_EQ(fax.FieldString("LASTRESULT"), result);
    EXPECT_EQ(fax.FieldInt("PAGES"), 5);
    EXPECT_EQ(fax.FieldString("PHONE"), "5550100");
    EXPECT_TRUE(WorkFiles().isEmpty()) << WorkFiles().join(u' ').toStdString();
  }

  test::ModemLab lab_;
  test::ScriptedDialogs dialogs_;
};

TEST_F(SendE2eTest, AComposedFaxGoesOutFromTheMainWindowAndTheRecordSaysSent) {
  fax::test::TempDir line;
  fax::test::ModemPair modems(line);
  ASSERT_TRUE(modems.ready());
  Configure(modems.a());
  auto w = Start();

  // The pages as the renderer makes them, to compare with what arrives.
  const QString rendered = w->CreateFaxFile();
  ASSERT_FALSE(rendered.isEmpty());
  const auto sentRows = test::RenderedRows(rendered.toStdString());
  QFile::remove(rendered);
  ASSERT_EQ(sentRows.size(), 5u);

  Receiver receiver(modems.b(), line.str("in"), line.str("receiver.out"));
  ASSERT_TRUE(receiver.WaitFor("status 20", 20)) << receiver.Output();
  test::SendRun run;
  ScriptSend(run);
  auto* sendButton = w->findChild<QToolButton*>(QStringLiteral("SendButton"));
  ASSERT_TRUE(sendButton->isEnabled());
  sendButton->click();

  ASSERT_TRUE(run.ended);
  EXPECT_TRUE(run.statusShown);
  EXPECT_TRUE(run.statusHiddenAfter);
  EXPECT_EQ(run.remoteId.trimmed(), QStringLiteral("REMOTE"));
  EXPECT_EQ(run.beepsWhileSending, 1);
  EXPECT_TRUE(run.headerLine.startsWith(QStringLiteral("Sent by: Ann Example             $I          ")))
      << run.headerLine.toStdString();
  EXPECT_TRUE(run.summary.startsWith(QStringLiteral("Communications Port: COM1\nFax Class: Class 1\n")));
  EXPECT_EQ(dialogs_.Infos(), QStringList{QStringLiteral("Fax sent successfully")});
  EXPECT_EQ(Forms(), QStringList{QStringLiteral("Send Fax")});

  TablePair& fax = w->Store().Pair(TableId::Fax);
  EXPECT_EQ(fax.FieldString("LASTRESULT"), "Sent");
  EXPECT_TRUE(fax.FieldBool("SENT"));
  EXPECT_EQ(fax.FieldDate("DATESENT"), QDate::currentDate().toString(QStringLiteral("yyyyMMdd")).toStdString());
  const QTime at = QTime::fromString(QString::fromStdString(fax.FieldString("TIMESENT")), QStringLiteral("hh:mm"));
  ASSERT_TRUE(at.isValid()) << fax.FieldString("TIMESENT");
  EXPECT_LE(std::abs(at.secsTo(QTime::currentTime())), 180);
  EXPECT_EQ(fax.FieldInt("PAGES"), 5);
  EXPECT_TRUE(WorkFiles().isEmpty()) << WorkFiles().join(u' ').toStdString();
  // The suffix was not dialled, but is still kept.
  EXPECT_EQ(Settings().DialSuffix, "#77");
  EXPECT_TRUE(Settings().SuffixDisable);

  const QStringList log = LogLines();
  ASSERT_FALSE(log.isEmpty());
  EXPECT_TRUE(log.first().startsWith(QStringLiteral("Start:")));
  for (const char* l : {"Opening com port: COM1", "Opened com port OK", "Checking for modem", "Desired BPS: 9600",
                        "Negotiate between pages: OFF", "Fax#: 5550100", "Dial Prefix: ", "Fax Class: Class 1",
                        "StationID: 555 0199", "User INIT String: ", "Result: OK"})
    EXPECT_TRUE(log.contains(QString::fromLatin1(l))) << l << "\n" << log.join(u'\n').toStdString();
  EXPECT_FALSE(log.contains(QStringLiteral("Dial Suffix: #77")));
  EXPECT_TRUE(log.last().startsWith(QStringLiteral("Finish: ")));

  // The far side got five pages: below the header line, the rendered rows pixel for pixel.
  ASSERT_TRUE(receiver.WaitFor("1 fax received", 20)) << receiver.Output();
  std::vector<std::string> files;
  for (auto& e : fs::directory_iterator(line.path() / "in")) files.push_back(e.path().string());
  ASSERT_EQ(files.size(), 1u);
  std::vector<fax::test::ReceivedPage> pages;
  std::string station;
  ASSERT_TRUE(fax::test::ReadReceived(files[0], pages, &station));
  ASSERT_EQ(pages.size(), 5u);
  for (size_t p = 0; p < pages.size(); ++p) {
    EXPECT_TRUE(pages[p].flags & faximage::pfHighRes) << p;
    EXPECT_TRUE(fax::test::PageMatches(pages[p], sentRows[p])) << "page " << p + 1;
  }

  // A person reading the received pages sees who sent them, from which number, and which page.
  if (QStandardPaths::findExecutable(QStringLiteral("tesseract")).isEmpty()) {
    GTEST_SKIP() << "tesseract is not installed: the header line was not read";
  }
  for (int p : {1, 5}) {
    SCOPED_TRACE(p);
    const QString read = OcrHeaderLine(files[0], p, QString::fromStdString(line.str("")));
    EXPECT_TRUE(read.contains(QStringLiteral("Sent by"), Qt::CaseInsensitive)) << read.toStdString();
    EXPECT_TRUE(read.contains(QStringLiteral("Ann Example"))) << read.toStdString();
    EXPECT_TRUE(read.contains(QStringLiteral("555 0199"))) << read.toStdString();
    EXPECT_TRUE(read.contains(QStringLiteral("Page %1 of 5").arg(p), Qt::CaseInsensitive)) << read.toStdString();
  }
}

// A reply to a signed, ticked fax with a page turned: the far machine gets the pages as the
// viewer showed them, the same pixels below the header line, the fine page fine and the standard
// page standard.
TEST_F(SendE2eTest, AReplyArrivesAsTheMarkedPagesFineAndStandardKept) {
  fax::test::TempDir line;
  fax::test::ModemPair modems(line);
  ASSERT_TRUE(modems.ready());
  Configure(modems.a());
  auto w = test::StartReadyWindow(lab_.Path());
  ASSERT_TRUE(test::AddMarkedReceivedFax(w->Store(), "5550100"));
  w->RefreshGrids();
  w->SetCurrentPage(TMainScreen::kIncomingPage);
  w->SetButtons();
  dialogs_.Clear();
  dialogs_.forms.push_back([](QDialog* d) { return test::AcceptForm(d); });
  w->findChild<QAction*>(QStringLiteral("mnuReply"))->trigger();
  ASSERT_TRUE(w->Store().HasRecord(TableId::Fax));
  std::vector<bool> fine;
  const auto shown = test::MarkedPages(test::MarkedFaxPath(lab_.Path()), &fine);
  ASSERT_EQ(shown.size(), 2u);

  Receiver receiver(modems.b(), line.str("in"), line.str("receiver.out"));
  ASSERT_TRUE(receiver.WaitFor("status 20", 20)) << receiver.Output();
  test::SendRun run;
  ScriptSend(run);
  w->findChild<QToolButton*>(QStringLiteral("SendButton"))->click();
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(dialogs_.Infos(), QStringList{QStringLiteral("Fax sent successfully")});
  EXPECT_TRUE(w->Store().Pair(TableId::Fax).FieldBool("SENT"));
  EXPECT_EQ(w->Store().Pair(TableId::Fax).FieldInt("PAGES"), 2);

  ASSERT_TRUE(receiver.WaitFor("1 fax received", 20)) << receiver.Output();
  std::vector<std::string> files;
  for (auto& e : fs::directory_iterator(line.path() / "in")) files.push_back(e.path().string());
  ASSERT_EQ(files.size(), 1u);
  std::vector<fax::test::ReceivedPage> pages;
  ASSERT_TRUE(fax::test::ReadReceived(files[0], pages));
  ASSERT_EQ(pages.size(), 2u);
  for (size_t p = 0; p < pages.size(); ++p) {
    EXPECT_EQ(bool(pages[p].flags & faximage::pfHighRes), fine[p]) << "page " << p + 1;
    EXPECT_TRUE(fax::test::PageMatches(pages[p], shown[p])) << "page " << p + 1;
  }
}

TEST_F(SendE2eTest, ABusyNumberEndsInFaxFailureAndTheRecordStaysUnsent) {
  fax::test::TempDir line;
  fax::test::ModemPair modems(line, {"--dial-result", "busy"});
  ASSERT_TRUE(modems.ready());
  Configure(modems.a(), [](TSettings& s) {
    s.DialAttempts = 2;
    s.RetryWait = 1;
  });
  auto w = Start();
  test::SendRun run;
  ScriptSend(run);
  w->SendButtonClick();
  ASSERT_TRUE(run.ended);
  EXPECT_TRUE(run.statusShown);
  EXPECT_EQ(Forms(), (QStringList{QStringLiteral("Send Fax"), QStringLiteral("Fax Failure")}));
  EXPECT_TRUE(dialogs_.Infos().isEmpty());
  ExpectUnsent(*w, "Called fax number was busy");
  const QStringList log = LogLines();
  EXPECT_TRUE(log.contains(QStringLiteral("Result: Called fax number was busy"))) << log.join(u'\n').toStdString();
}

TEST_F(SendE2eTest, CancelInTheStatusWindowEndsTheCallAndTheFaxStaysUnsent) {
  fax::test::TempDir line;
  fax::test::ModemPair modems(line);
  ASSERT_TRUE(modems.ready());
  Configure(modems.a());
  auto w = Start();
  Receiver receiver(modems.b(), line.str("in"), line.str("receiver.out"));
  ASSERT_TRUE(receiver.WaitFor("status 20", 20)) << receiver.Output();
  test::SendRun run;
  run.cancel = true;
  ScriptSend(run);
  w->SendButtonClick();
  ASSERT_TRUE(run.ended);
  EXPECT_TRUE(run.statusHiddenAfter);
  EXPECT_EQ(Forms(), (QStringList{QStringLiteral("Send Fax"), QStringLiteral("Fax Failure")}));
  EXPECT_TRUE(dialogs_.Infos().isEmpty());
  ExpectUnsent(*w, core::ErrorText(core::ecCancelRequested));
}

TEST_F(SendE2eTest, AModemUnpluggedMidCallEndsWithTheEnginesErrorAndLosesNothing) {
  fax::test::TempDir line;
  std::optional<fax::test::ModemPair> modems(std::in_place, line);
  ASSERT_TRUE(modems->ready());
  Configure(modems->a());
  auto w = Start();
  Receiver receiver(modems->b(), line.str("in"), line.str("receiver.out"));
  ASSERT_TRUE(receiver.WaitFor("status 20", 20)) << receiver.Output();
  test::SendRun run;
  // The call is up: both modems go away, as a USB modem pulled out does.
  run.onRemoteId = [&modems] { modems.reset(); };
  ScriptSend(run, 150);
  w->SendButtonClick();
  ASSERT_TRUE(run.ended);
  EXPECT_FALSE(modems.has_value());
  EXPECT_TRUE(run.statusHiddenAfter);
  EXPECT_EQ(Forms(), (QStringList{QStringLiteral("Send Fax"), QStringLiteral("Fax Failure")}));
  EXPECT_TRUE(dialogs_.Infos().isEmpty());
  TablePair& fax = w->Store().Pair(TableId::Fax);
  const std::string result = fax.FieldString("LASTRESULT");
  EXPECT_FALSE(result.empty());
  EXPECT_NE(result, "Sent");
  RecordProperty("result", result);
  // The call ends with the port's own error, not a time-out.
  EXPECT_EQ(result, core::ErrorText(core::ecDeviceReadError));
  ExpectUnsent(*w, result);
  const QStringList log = LogLines();
  EXPECT_TRUE(log.contains(QStringLiteral("Result: ") + QString::fromStdString(result)))
      << log.join(u'\n').toStdString();
}

// Several attempts from one Send Fax dialog, with "ATZ" after each: the second is initialised as
// the first was and goes out too; a third that fails (the modem pulled out) does not make the
// delivered fax unsent.
TEST_F(SendE2eTest, EveryAttemptFromTheDialogInitialisesTheModemAndADeliveredFaxStaysSent) {
  fax::test::TempDir line;
  std::optional<fax::test::ModemPair> modems(std::in_place, line);
  ASSERT_TRUE(modems->ready());
  Configure(modems->a(), [](TSettings& s) {
    s.FaxClass = 2;  // Class 2: the session itself sends no command that would set the modem up
    s.ResetAfterString = "ATZ";
  });
  auto w = Start();
  QStringList results;
  int attemptsEnded = 0;
  dialogs_.forms.push_back([&](QDialog* d) {
    auto* form = qobject_cast<TSendFaxForm*>(d);
    EXPECT_NE(form, nullptr);
    if (!form) return int(QDialog::Rejected);
    form->show();
    QObject::connect(form, &TSendFaxForm::attemptEnded, form, [&] { ++attemptsEnded; });
    auto attempt = [&](const std::function<void()>& before) {
      const int ended = attemptsEnded;
      if (before) before();
      form->findChild<QPushButton*>(QStringLiteral("SendFaxButton"))->click();
      QElapsedTimer clock;
      clock.start();
      while (attemptsEnded == ended && clock.elapsed() < 120000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      results << form->ResultText();
    };
    for (int i = 0; i < 2; ++i) {
      std::optional<Receiver> far;
      attempt([&] {
        far.emplace(modems->b(), line.str("in"), line.str("receiver" + std::to_string(i) + ".out"));
        EXPECT_TRUE(far->WaitFor("status 20", 20)) << far->Output();
      });
      if (far) EXPECT_TRUE(far->WaitFor("1 fax received", 30)) << far->Output();
    }
    attempt([&] { modems.reset(); });
    form->findChild<QPushButton*>(QStringLiteral("CloseButton"))->click();
    return int(QDialog::Rejected);
  });
  w->SendButtonClick();
  EXPECT_EQ(results, (QStringList{QStringLiteral("Sent"), QStringLiteral("Sent"), QStringLiteral("Sent")}));
  EXPECT_EQ(Forms(), (QStringList{QStringLiteral("Send Fax"), QStringLiteral("Error Opening Communications Port")}));
  EXPECT_EQ(dialogs_.Infos(), (QStringList{QStringLiteral("Fax sent successfully"), QStringLiteral("Fax sent successfully")}));
  TablePair& fax = w->Store().Pair(TableId::Fax);
  EXPECT_EQ(fax.FieldString("LASTRESULT"), "Sent");
  EXPECT_TRUE(fax.FieldBool("SENT"));
  EXPECT_EQ(fax.FieldDate("DATESENT"), QDate::currentDate().toString(QStringLiteral("yyyyMMdd")).toStdString());
  int received = 0;
  for ([[maybe_unused]] auto& e : fs::directory_iterator(line.path() / "in")) ++received;
  EXPECT_EQ(received, 2);
  // The log is the last attempt's: it says what went wrong there.
  EXPECT_TRUE(LogLines().contains(QStringLiteral("Error opening com port: COM1"))) << LogLines().join(u'\n').toStdString();
}

TEST_F(SendE2eTest, FailuresBeforeTheCallSayWhyAndLeaveTheRecordUnsent) {
  // A port that leads nowhere.
  Configure(lab_.Device(1));
  auto w = Start();
  test::SendRun run;
  ScriptSend(run, 30);
  w->SendButtonClick();
  ASSERT_TRUE(run.ended);
  EXPECT_FALSE(run.statusShown);
  EXPECT_EQ(Forms(), (QStringList{QStringLiteral("Send Fax"), QStringLiteral("Error Opening Communications Port")}));
  ExpectUnsent(*w, "Error Opening Communications Port");
  QStringList log = LogLines();
  EXPECT_TRUE(log.contains(QStringLiteral("Error opening com port: COM1")));
  w->close();
  w.reset();

  // A modem that never answers, stopped with OK.
  {
    test::VirtualModem& silent = lab_.Modem(1, {"--silent"});
    ASSERT_TRUE(silent.Ready());
    auto w2 = Start();
    dialogs_.Clear();
    test::SendRun run2;
    ScriptSend(run2, 60);
    w2->SendButtonClick();
    ASSERT_TRUE(run2.ended);
    EXPECT_EQ(Forms(), (QStringList{QStringLiteral("Send Fax"), QStringLiteral("No Response From Modem")}));
    ExpectUnsent(*w2, "No Response From Modem");
    log = LogLines();
    EXPECT_TRUE(log.contains(QStringLiteral("Error checking for modem")));
    EXPECT_TRUE(log.contains(QStringLiteral("Exit")));
    w2->close();
  }
}

TEST_F(SendE2eTest, ContinueAfterASilentModemGoesOnToTheCallAndEndsWithTheEnginesError) {
  test::VirtualModem& silent = lab_.Modem(1, {"--silent"});
  ASSERT_TRUE(silent.Ready());
  Configure(lab_.Device(1));
  auto w = Start();
  test::SendRun run;
  ScriptSend(run, 180);
  // The user is sure there is a modem: CONTINUE.
  QString question;
  dialogs_.forms.push_back([&question](QDialog* d) {
    question = d->windowTitle();
    d->findChild<QPushButton*>(QStringLiteral("ContinueButton"))->click();
    return int(QDialog::Accepted);
  });
  w->SendButtonClick();
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(question, QStringLiteral("No Response From Modem"));
  // The session went on to the engine, which could not get the modem going either.
  EXPECT_EQ(Forms(), (QStringList{QStringLiteral("Send Fax"), QStringLiteral("No Response From Modem"),
                                  QStringLiteral("Fax Failure")}));
  EXPECT_TRUE(dialogs_.Infos().isEmpty());
  const QStringList log = LogLines();
  EXPECT_TRUE(log.contains(QStringLiteral("Error checking for modem")));
  EXPECT_FALSE(log.contains(QStringLiteral("Exit")));
  EXPECT_TRUE(log.contains(QStringLiteral("Fax#: 5550100"))) << log.join(u'\n').toStdString();
  TablePair& fax = w->Store().Pair(TableId::Fax);
  const std::string result = fax.FieldString("LASTRESULT");
  EXPECT_FALSE(result.empty());
  EXPECT_NE(result, "No Response From Modem");
  EXPECT_NE(result, "Sent");
  EXPECT_TRUE(log.contains(QStringLiteral("Result: ") + QString::fromStdString(result)))
      << log.join(u'\n').toStdString();
  ExpectUnsent(*w, result);
}

TEST_F(SendE2eTest, AFaxLongerThanThePagesFieldHoldsIsStoredAsTheMostItHolds) {
  Configure(lab_.Device(1));
  auto w = test::StartReadyWindow(lab_.Path());
  ASSERT_TRUE(test::AddFaxWithMemos(w->Store(), test::RtfPages(1, "Cover"), test::RtfPages(100, "Long"),
                                    "Ann Example", "5550100", "Long"));
  w->RefreshGrids();
  dialogs_.Clear();
  // The dialog is closed without sending: PAGES and PHONE are written all the same.
  dialogs_.forms.push_back([](QDialog* d) {
    d->show();
    d->findChild<QPushButton*>(QStringLiteral("CloseButton"))->click();
    return int(QDialog::Rejected);
  });
  w->SendButtonClick();
  EXPECT_EQ(w->PageCount(), 101);
  EXPECT_EQ(Forms(), QStringList{QStringLiteral("Send Fax")});
  TablePair& fax = w->Store().Pair(TableId::Fax);
  EXPECT_EQ(fax.FieldInt("PAGES"), 99);
  EXPECT_EQ(fax.FieldString("PHONE"), "5550100");
  EXPECT_FALSE(fax.FieldBool("SENT"));
  EXPECT_TRUE(WorkFiles().isEmpty()) << WorkFiles().join(u' ').toStdString();
}

TEST_F(SendE2eTest, ARefusedResetStringStopsTheSession) {
  test::VirtualModem& modem = lab_.Modem(1, {"--refuse", "S95=1"});
  ASSERT_TRUE(modem.Ready());
  Configure(lab_.Device(1), [](TSettings& s) { s.ResetString = "ATS95=1"; });
  auto w = Start();
  test::SendRun run;
  ScriptSend(run, 60);
  w->SendButtonClick();
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(Forms(), (QStringList{QStringLiteral("Send Fax"), QStringLiteral("Unable to Continue")}));
  ExpectUnsent(*w, "Unable to Continue");
  const QStringList log = LogLines();
  EXPECT_TRUE(log.contains(QStringLiteral("Sending reset string: ATS95=1")));
  EXPECT_TRUE(log.contains(QStringLiteral("Failure sending reset string: ATS95=1")));
  EXPECT_TRUE(log.contains(QStringLiteral("Exiting...")));
}

}  // namespace
}  // namespace qv::app
