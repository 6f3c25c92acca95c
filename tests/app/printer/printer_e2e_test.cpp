// The fax printer end to end: a private CUPS server with our backend and PPD, the printer added
// with `qvfax printer add`, a letter LibreOffice made printed to it with `lp -o phone=...`, the
// job in the spool, the main window offscreen making it a fax and sending it through a qvmodem
// pair to `qvfax receive` in another process, and Tesseract reading the letter on the page that
// arrived. The same for plain text through CUPS's own filters; and a spool that cannot be
// written keeps the job queued in CUPS.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>

#include <filesystem>
#include <fstream>

#include "app/flows/message_pump.h"
#include "app/forms/main_screen.h"
#include "app/store/fax_store.h"
#include "app/store/settings.h"
#include "app/store/table_pair.h"
#include "core/ini_file.h"
#include "faximage/unpacker_bitmap.h"
#include "printer/print_job.h"
#include "../../fax/e2e/fax_harness.h"
#include "../prefs/modem_fixture.h"
#include "../send/send_flow.h"
#include "../test_support.h"
#include "../window/send_helpers.h"
#include "private_cups.h"

namespace qv::app {
namespace {

namespace fs = std::filesystem;

const char* const kPrinter = "QuorvaneTest";
const char* const kLetter =
    "Dear Customer,\n"
    "Thank you for your order of three garden chairs and one round table. "
    "The furniture will leave our warehouse on Monday morning and should reach your house "
    "before Friday evening. Please call our office if nobody will be at home.\n"
    "Kind regards,\n"
    "Martha Green, Sales Manager";

QStringList Words(const QString& text) {
  QStringList out;
  for (const QString& w : text.toLower().split(QRegularExpression(QStringLiteral("[^a-z]+")), Qt::SkipEmptyParts))
    out << w;
  return out;
}

// The share of the letter's words that the OCR text holds.
double WordsRead(const QString& letter, const QString& ocr) {
  const QStringList want = Words(letter);
  QSet<QString> got;
  for (const QString& w : Words(ocr)) got.insert(w);
  int found = 0;
  for (const QString& w : want) found += got.contains(w);
  return want.isEmpty() ? 0 : double(found) / want.size();
}

// Tesseract's reading of one received page.
QString OcrPage(const std::string& file, int page, const QString& dir) {
  faximage::UnpackerState state;
  faximage::PageBitmap bm;
  if (faximage::UnpackPageFullWidth(state, file, page, bm) < 0 || bm.empty()) return QString();
  QImage img(bm.width, bm.height, QImage::Format_Grayscale8);
  img.fill(255);
  for (int y = 0; y < bm.height; ++y) {
    const uint8_t* row = bm.row(y);
    uchar* out = img.scanLine(y);
    for (int x = 0; x < bm.width; ++x)
      if (((bm.inverted ? ~row[x / 8] : row[x / 8]) >> (7 - x % 8)) & 1) out[x] = 0;
  }
  const QString png = dir + QStringLiteral("/page%1.png").arg(page);
  img.save(png);
  QProcess ocr;
  auto env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("OMP_THREAD_LIMIT"), QStringLiteral("1"));
  ocr.setProcessEnvironment(env);
  ocr.start(QStringLiteral("tesseract"), {png, QStringLiteral("stdout"), QStringLiteral("-l"), QStringLiteral("eng")});
  if (!ocr.waitForFinished(120000) || ocr.exitCode() != 0) return QString();
  return QString::fromUtf8(ocr.readAllStandardOutput());
}

class PrinterE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "CUPS runs the backend as root only for a server run as root";
    test::App();
    ConnectMessageLoop();
    ::chmod(work_.str().c_str(), 0755);  // CUPS's filters run as lp and must reach the server's folder
    cups_ = std::make_unique<test::PrivateCups>(work_.str("cups"), QV_BIN_DIR "/quorvane-backend");
    if (!cups_->ok()) GTEST_SKIP() << cups_->reason();
    spool_ = work_.str("spool");
    const char* before = ::getenv("QUORVANE_SPOOL");
    spoolBefore_ = before ? before : "";
    ::setenv("QUORVANE_SPOOL", spool_.c_str(), 1);
    user_ = ::getpwuid(::geteuid())->pw_name;
    std::string out;
    ASSERT_EQ(cups_->Client({QV_BIN_DIR "/qvfax", "printer", "add", kPrinter, "--spool", spool_}, &out), 0) << out;
    ASSERT_EQ(cups_->Client({"lpstat", "-v", kPrinter}, &out), 0) << out;
    EXPECT_NE(out.find("quorvane:" + spool_), std::string::npos) << out;
  }
  void TearDown() override {
    if (spoolBefore_.empty()) ::unsetenv("QUORVANE_SPOOL");
    else ::setenv("QUORVANE_SPOOL", spoolBefore_.c_str(), 1);
  }

  // Prints a file with lp; the CUPS job id text.
  void Print(const std::string& file, const std::vector<std::string>& options) {
    std::vector<std::string> args{"lp", "-d", kPrinter, "-t", "Order letter"};
    for (const auto& o : options) args.insert(args.end(), {"-o", o});
    args.push_back(file);
    std::string out;
    ASSERT_EQ(cups_->Client(args, &out), 0) << out;
  }

  // Waits (bounded) until a job is in the user's spool folder.
  bool WaitForSpooledJob(int seconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000) {
      if (!printer::ListJobFolders(spool_ + "/" + user_).empty()) return true;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    }
    return false;
  }

  void Configure(const std::string& device) {
    core::TIniFile(lab_.Ini()).WriteString("Ports", "COM1", device);
    TSettings s;
    s.ComPort = 0;
    s.FaxClass = 1;
    s.Name = "Order Desk";
    s.Fax = "555 0199";
    s.DialAttempts = 1;
    SaveSettings(s, lab_.Ini());
  }

  // The scripts of one job: the notice's Check and Send, the editor's Accept, the send.
  void ScriptJob(test::SendRun& run) {
    dialogs_.forms.push_back([](QDialog*) { return int(QDialog::Accepted); });
    dialogs_.forms.push_back([](QDialog* d) { return test::AcceptForm(d); });
    test::ScriptSend(dialogs_, run);
  }

  QStringList Forms() const {
    QStringList out;
    for (const auto& s : dialogs_.shown)
      if (s.kind == QLatin1String("form")) out << s.caption;
    return out;
  }

  // The received fax's pages read back; the share of the letter's words on its last page.
  double ReadLastPage(const fax::test::TempDir& line, const std::string& letter) {
    std::vector<std::string> files;
    for (auto& e : fs::directory_iterator(line.path() / "in")) files.push_back(e.path().string());
    EXPECT_EQ(files.size(), 1u);
    if (files.empty()) return 0;
    std::vector<fax::test::ReceivedPage> pages;
    EXPECT_TRUE(fax::test::ReadReceived(files[0], pages));
    EXPECT_EQ(pages.size(), 2u) << "the cover sheet and the letter";
    const QString text = OcrPage(files[0], int(pages.size()), QString::fromStdString(line.str("")));
    const double share = WordsRead(QString::fromStdString(letter), text);
    EXPECT_GE(share, 0.95) << text.toStdString();
    ::testing::Test::RecordProperty("words_read_percent", int(share * 100));
    return share;
  }

  fax::test::TempDir work_;
  std::unique_ptr<test::PrivateCups> cups_;
  std::string spool_, user_, spoolBefore_;
  test::ModemLab lab_;
  test::ScriptedDialogs dialogs_;
};

TEST_F(PrinterE2eTest, ALetterPrintedFromLibreOfficeArrivesAtTheFarFaxReadable) {
  if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty() ||
      QStandardPaths::findExecutable(QStringLiteral("tesseract")).isEmpty())
    GTEST_SKIP() << "LibreOffice or Tesseract is not installed";
  // The letter as a word processor document, made into a PDF by LibreOffice.
  const std::string doc = work_.str("letter.fodt");
  {
    std::ofstream f(doc);
    f << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
         "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
         "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
         "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" office:version=\"1.2\" "
         "office:mimetype=\"application/vnd.oasis.opendocument.text\">"
         "<office:styles><style:default-style style:family=\"paragraph\"><style:paragraph-properties "
         "fo:margin-bottom=\"0.2in\"/><style:text-properties fo:font-size=\"14pt\" "
         "fo:font-family=\"Liberation Serif\"/></style:default-style></office:styles>"
         "<office:body><office:text>";
    std::string text = kLetter;
    size_t start = 0;
    while (start <= text.size()) {
      size_t nl = text.find('\n', start);
      f << "<text:p>" << text.substr(start, nl - start) << "</text:p>";
      if (nl == std::string::npos) break;
      start = nl + 1;
    }
    f << "</office:text></office:body></office:document>\n";
  }
  qv::test::ChildProcess office;
  ASSERT_TRUE(office.StartToFile({"soffice", "--headless", "--norestore",
                                  "-env:UserInstallation=file://" + work_.str("lo-profile"), "--convert-to", "pdf",
                                  "--outdir", work_.str(""), doc},
                                 work_.str("soffice.out")));
  ASSERT_TRUE(office.WaitEnd(180000)) << "LibreOffice did not finish";
  const std::string pdf = work_.str("letter.pdf");
  ASSERT_TRUE(fs::exists(pdf));

  Print(pdf, {"phone=5550100", "recipient='Jane Roe'"});
  ASSERT_TRUE(WaitForSpooledJob(90)) << cups_->Log();
  std::string out;
  ASSERT_EQ(cups_->Client({QV_BIN_DIR "/qvfax", "printer", "jobs"}, &out, 60000), 0) << out;
  EXPECT_NE(out.find("\"Order letter\"\t1 page\t"), std::string::npos) << out;
  EXPECT_NE(out.find("phone=5550100"), std::string::npos) << out;
  EXPECT_NE(out.find("recipient=Jane Roe"), std::string::npos) << out;

  fax::test::TempDir line;
  fax::test::ModemPair modems(line);
  ASSERT_TRUE(modems.ready());
  Configure(modems.a());
  fax::test::ReceiverProcess receiver;
  fax::test::ReceiverProcess::Options o;
  o.faxClass = fax::fcClass1;
  o.station = "CUSTOMER";
  fs::create_directories(line.str("in"));
  ASSERT_TRUE(receiver.Start(modems.b(), line.str("in"), line.str("receiver.out"), o)) << receiver.Output();

  // The job waits in the spool while Quorvane is closed: the window takes it when it starts.
  test::SendRun run;
  ScriptJob(run);
  auto w = test::StartReadyWindow(lab_.Path());
  ASSERT_TRUE(run.ended) << Forms().join(u',').toStdString();
  EXPECT_EQ(Forms(), (QStringList{QStringLiteral("Fax Printer"), QStringLiteral("Fax Editor"),
                                  QStringLiteral("Send Fax")}));
  EXPECT_TRUE(dialogs_.shown[0].text == QStringLiteral("PrintJobNotice"));
  TablePair& fax = w->Store().Pair(TableId::Fax);
  EXPECT_EQ(fax.FieldString("LASTRESULT"), "Sent");
  EXPECT_EQ(fax.FieldString("RECIPIENT"), "Jane Roe");
  EXPECT_EQ(fax.FieldString("SUBJECT"), "Order letter");
  EXPECT_TRUE(printer::ListJobFolders(spool_ + "/" + user_).empty()) << "the job left the spool";

  QElapsedTimer clock;
  clock.start();
  while (receiver.Output().find("1 fax received") == std::string::npos && clock.elapsed() < 30000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  ASSERT_NE(receiver.Output().find("1 fax received"), std::string::npos) << receiver.Output();
  ReadLastPage(line, kLetter);
}

TEST_F(PrinterE2eTest, PlainTextThroughCupssFiltersArrivesWhileQuorvaneRuns) {
  if (QStandardPaths::findExecutable(QStringLiteral("tesseract")).isEmpty()) GTEST_SKIP() << "no Tesseract";
  fax::test::TempDir line;
  fax::test::ModemPair modems(line);
  ASSERT_TRUE(modems.ready());
  Configure(modems.a());
  fax::test::ReceiverProcess receiver;
  fax::test::ReceiverProcess::Options o;
  o.faxClass = fax::fcClass1;
  o.station = "CUSTOMER";
  fs::create_directories(line.str("in"));
  ASSERT_TRUE(receiver.Start(modems.b(), line.str("in"), line.str("receiver.out"), o)) << receiver.Output();

  auto w = test::StartReadyWindow(lab_.Path());
  ASSERT_TRUE(dialogs_.shown.empty());
  test::SendRun run;
  ScriptJob(run);
  const std::string text = work_.str("letter.txt");
  std::ofstream(text) << kLetter << "\n";
  Print(text, {"phone=5550100", "cpi=10", "lpi=6"});
  // The watcher sees the job arrive; the notice, the editor and the send follow.
  QElapsedTimer clock;
  clock.start();
  while (!run.ended && clock.elapsed() < 180000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  ASSERT_TRUE(run.ended) << Forms().join(u',').toStdString() << cups_->Log();
  EXPECT_EQ(w->Store().Pair(TableId::Fax).FieldString("LASTRESULT"), "Sent");
  clock.restart();
  while (receiver.Output().find("1 fax received") == std::string::npos && clock.elapsed() < 30000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  ASSERT_NE(receiver.Output().find("1 fax received"), std::string::npos) << receiver.Output();
  ReadLastPage(line, kLetter);
}

TEST_F(PrinterE2eTest, AJobOfTwoFilesIsOneJobInTheSpool) {
  const std::string first = work_.str("first.txt"), second = work_.str("second.txt");
  std::ofstream(first) << "The first file of the job.\n";
  std::ofstream(second) << "The second file of the job.\n";
  std::string out;
  ASSERT_EQ(cups_->Client({"lp", "-d", kPrinter, "-o", "phone=5550100", first, second}, &out), 0) << out;
  ASSERT_TRUE(WaitForSpooledJob(90)) << cups_->Log();
  // CUPS pipes both files' PDFs through one run of the backend; the job is whole once it ran.
  QElapsedTimer clock;
  clock.start();
  while (cups_->Log().find("[Job 1] Job completed") == std::string::npos && clock.elapsed() < 60000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
  const auto jobs = printer::ListJobFolders(spool_ + "/" + user_);
  ASSERT_EQ(jobs.size(), 1u);
  printer::TPrintJob job;
  std::string error;
  ASSERT_TRUE(printer::ReadPrintJob(jobs[0], job, &error)) << error;
  EXPECT_EQ(job.documents.size(), 2u);
  EXPECT_EQ(job.Phone(), "5550100");
}

TEST_F(PrinterE2eTest, ASpoolThatCannotBeWrittenKeepsTheJobQueuedInCups) {
  const std::string blocker = work_.str("not-a-folder");
  std::ofstream(blocker) << "x";
  std::string out;
  ASSERT_EQ(cups_->Client({QV_BIN_DIR "/qvfax", "printer", "add", "Blocked", "--spool", blocker + "/spool"}, &out), 0)
      << out;
  const std::string text = work_.str("note.txt");
  std::ofstream(text) << "A short note.\n";
  ASSERT_EQ(cups_->Client({"lp", "-d", "Blocked", "-o", "phone=5550100", text}, &out), 0) << out;
  // The backend has run once it said why in the printer's state message.
  QElapsedTimer clock;
  clock.start();
  bool told = false;
  while (!told && clock.elapsed() < 60000) {
    cups_->Client({"lpstat", "-l", "-p", "Blocked"}, &out);
    told = out.find("the job stays queued") != std::string::npos;
    if (!told) QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
  }
  ASSERT_TRUE(told) << out << cups_->Log();
  EXPECT_NE(cups_->Log().find("Backend returned status 6"), std::string::npos);
  ASSERT_EQ(cups_->Client({"lpstat", "-o", "Blocked"}, &out), 0);
  EXPECT_NE(out.find("Blocked-"), std::string::npos) << "the job is still queued: " << out;
  ASSERT_EQ(cups_->Client({QV_BIN_DIR "/qvfax", "printer", "remove", "Blocked"}, &out), 0) << out;
}

}  // namespace
}  // namespace qv::app
