// Sending a fax from the main window, the two costs a user waits for:
//  - CreateFaxFile on a composed fax of a 2-page cover sheet and a 3-page document, every page
//    full of 10-point text: render, convert to QVF, join the two editors' files. Reported per page.
//    References in the same run: the same five pages' worth of work without content (five blank
//    fine pages coded through the same converter into one file) and a plain copy of the produced
//    file.
//  - "Send Fax Now" to the modem's ATD: the real Send command with its Send Fax dialog, offscreen,
//    the button clicked and the time taken until a qvmodem on a pseudo-terminal has received the
//    dial command. Reference in the same run: one "AT" / "OK" exchange with the same modem through
//    plain system calls (open the port, ask, close).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QEventLoop>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "app/forms/dialog_service.h"
#include "app/store/fax_store.h"
#include "app/forms/main_screen.h"
#include "app/flows/message_pump.h"
#include "app/store/rich_text_editor.h"
#include "app/forms/send_fax_form.h"
#include "app/store/settings.h"
#include "app/store/table_pair.h"
#include "core/ini_file.h"
#include "faximage/fax_converter.h"
#include "rtf/rtf_writer.h"
#include "ui/page_renderer.h"
#include "../../tests/app/prefs/modem_fixture.h"

using namespace qv;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kCoverPages = 2;
constexpr int kDocumentPages = 3;
constexpr int kFaxPages = kCoverPages + kDocumentPages;
// Bounds for waiting on the modem; far above anything seen, only there so a fault cannot hang.
constexpr int kAtdWaitMs = 30000;
constexpr int kAttemptEndWaitMs = 60000;

const char* const kSentences[] = {
    "Please find attached the signed purchase order for the spring delivery.",
    "Our accounts department will settle invoice 4471 within thirty days of receipt.",
    "The warehouse closes early on Friday, so plan the pickup before noon.",
    "Could you confirm the revised price of the twelve replacement valves?",
    "We regret that the shipment of copper fittings has been delayed by two weeks.",
    "Kindly return the enclosed form with your bank details and a contact number.",
};

rtf::Paragraph TextParagraph(int seed, bool pageBreak) {
  std::string s;
  for (int i = 0; i < 6; ++i) s += std::string(s.empty() ? "" : " ") + kSentences[(seed + i) % 6];
  rtf::Paragraph p;
  p.format.spaceAfter = 120;
  p.format.pageBreakBefore = pageBreak;
  rtf::Run r;
  r.format.halfPoints = 20;
  r.text = s;
  p.runs.push_back(r);
  return p;
}

// How many ~70-word 10-point paragraphs fit one page, less one, so a page never spills over.
int ParagraphsPerPage() {
  static const int n = [] {
    for (int k = 2;; ++k) {
      rtf::Document d;
      for (int i = 0; i < k; ++i) d.paragraphs.push_back(TextParagraph(i, false));
      if (ui::PageRenderer(d).PageCount() > 1) return k - 2;
    }
  }();
  return n;
}

// `pages` pages of text, each begun on its own page; the cover's first page opens with a heading
// and the merge fields a cover sheet carries.
rtf::Document Composed(int pages, bool cover) {
  rtf::Document d;
  if (cover) {
    rtf::Paragraph h;
    h.format.alignment = rtf::Alignment::Center;
    h.format.spaceAfter = 240;
    rtf::Run r;
    r.format.halfPoints = 48;
    r.format.bold = true;
    r.text = "FAX";
    h.runs.push_back(r);
    d.paragraphs.push_back(h);
    const std::pair<const char*, int> fields[] = {{"To: ", 1}, {"Fax: ", 2}, {"Subject: ", 3}, {"Date: ", 4}};
    for (const auto& [label, kind] : fields) {
      rtf::Paragraph p;
      rtf::Run t;
      t.format.halfPoints = 24;
      t.text = label;
      rtf::Run f;
      f.kind = rtf::Run::Kind::Field;
      f.format.halfPoints = 24;
      f.field.kind = kind;
      f.field.placeholder = "[" + rtf::MergeFieldName(kind) + "]";
      p.runs = {t, f};
      d.paragraphs.push_back(p);
    }
  }
  const int per = ParagraphsPerPage();
  for (int page = 0; page < pages; ++page) {
    const int count = (cover && page == 0) ? per - 2 : per;
    for (int i = 0; i < count; ++i) d.paragraphs.push_back(TextParagraph(page + i, i == 0 && page > 0));
  }
  return d;
}

// Every box answered at once; the Send Fax dialog is run by the script below when one is set.
class BenchDialogs : public app::DialogService {
 public:
  void Information(QWidget*, const QString&, const QString&) override {}
  bool Question(QWidget*, const QString&, const QString&, bool) override { return true; }
  Choice YesNoCancel(QWidget*, const QString&, const QString&) override { return Choice::Yes; }
  void Error(QWidget*, const QString& text) override { errors.push_back(text); }
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  int Exec(QDialog* d) override {
    if (auto* form = qobject_cast<app::TSendFaxForm*>(d); form && sendScript) sendScript(form);
    return QDialog::Rejected;
  }
  void Beep() override {}
  std::function<void(app::TSendFaxForm*)> sendScript;
  std::vector<QString> errors;
};

BenchDialogs* gDialogs = nullptr;

// Watches the modem's trace file from its own thread and notes the moment a dial command arrives.
class AtdWatcher {
 public:
  explicit AtdWatcher(std::string path) : path_(std::move(path)) {
    QFile(QString::fromStdString(path_)).open(QIODevice::WriteOnly);  // exists before the watch
    fd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd_ >= 0) inotify_add_watch(fd_, path_.c_str(), IN_MODIFY);
    thread_ = std::thread([this] { Run(); });
  }
  ~AtdWatcher() {
    stop_ = true;
    thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  // Forget earlier dials; the next one seen is timed, and `onDial` is called then (on the
  // watcher's thread).
  void Arm(std::function<void()> onDial) {
    std::lock_guard lock(mu_);
    seenNs_.store(0);
    firstNs_.store(0);
    lines_.clear();
    onDial_ = std::move(onDial);
  }
  // No more calls (the times seen are kept).
  void Disarm() {
    std::lock_guard lock(mu_);
    onDial_ = nullptr;
  }
  // The trace lines since Arm(), each with the moment it was seen.
  std::vector<std::pair<Clock::time_point, std::string>> Lines() const {
    std::lock_guard lock(mu_);
    return lines_;
  }
  bool Seen() const { return seenNs_.load() != 0; }
  Clock::time_point When() const { return Clock::time_point(Clock::duration(seenNs_.load())); }
  // When the first command line after Arm() arrived.
  Clock::time_point First() const { return Clock::time_point(Clock::duration(firstNs_.load())); }

 private:
  void Run() {
    off_t offset = 0;
    std::string pending;
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const auto now = Clock::now();
      char events[4096];
      while (read(fd_, events, sizeof events) > 0) {
      }
      int f = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
      if (f < 0) continue;
      char buf[4096];
      ssize_t n;
      while ((n = pread(f, buf, sizeof buf, offset)) > 0) {
        offset += n;
        pending.append(buf, size_t(n));
      }
      close(f);
      for (size_t eol; (eol = pending.find('\n')) != std::string::npos; pending.erase(0, eol + 1)) {
        // "A <seconds> > <command line as received>"
        const std::string line = pending.substr(0, eol);
        {
          std::lock_guard lock(mu_);
          lines_.emplace_back(now, line);
        }
        const size_t received = line.find(" > ");
        if (received != std::string::npos) {
          std::string cmd = line.substr(received + 3);
          for (char& c : cmd) c = char(toupper(static_cast<unsigned char>(c)));
          if (firstNs_.load() == 0) firstNs_.store(now.time_since_epoch().count());
          if (cmd.find("ATD") != std::string::npos && seenNs_.load() == 0) {
            seenNs_.store(now.time_since_epoch().count());
            std::lock_guard lock(mu_);
            if (onDial_) onDial_();
          }
        }
      }
    }
  }

  std::string path_;
  mutable std::mutex mu_;
  std::vector<std::pair<Clock::time_point, std::string>> lines_;
  std::function<void()> onDial_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<Clock::rep> seenNs_{0};
  std::atomic<Clock::rep> firstNs_{0};
  std::thread thread_;
};

// "qvmodem single" on a link in the data directory (the modem dialogs' test fixture), tracing
// into a file there: the child inherits QVMODEM_TRACE.
std::unique_ptr<app::test::VirtualModem> StartTracedModem(const std::string& link, const std::string& trace) {
  setenv("QVMODEM_TRACE", trace.c_str(), 1);
  auto modem = std::make_unique<app::test::VirtualModem>(link);
  unsetenv("QVMODEM_TRACE");
  return modem;
}

// A data directory with the composed fax as its only outgoing record, COM1 led to a qvmodem, and
// the main window over it.
class Lab {
 public:
  Lab() {
    dir_.setAutoRemove(true);
    const std::string path = Path().toStdString();
    ini_ = app::SettingsFileName(path);
    core::TIniFile(ini_).WriteString("Ports", "COM1", path + "modem1");
    app::TSettings s;
    s.ComPort = 0;
    s.FaxClass = 1;
    s.Name = "Ann Example";
    s.Fax = "555 0199";
    s.DialAttempts = 1;
    app::SaveSettings(s, ini_);
    app::Settings() = s;
    {
      app::TFaxStore store(path);
      store.OpenFaxDBF();
      store.OpenRecFaxDBF();
      app::TablePair& t = store.Pair(app::TableId::Fax);
      bool ok = t.Append() && t.SetFieldString("RECIPIENT", "Ann Example") &&
                t.SetFieldString("PHONE", "5550100") && t.SetFieldString("SUBJECT", "Spring delivery") &&
                t.SetFieldBool("SENT", false);
      app::RtfBuffer memo;
      memo.SetRtf(rtf::WriteRtf(Composed(kCoverPages, true)));
      ok = ok && store.SaveRichText(memo, "RTFCOVER", t);
      memo.SetRtf(rtf::WriteRtf(Composed(kDocumentPages, false)));
      ok = ok && store.SaveRichText(memo, "RTFDOC", t);
      ok_ = ok && t.Post();
      store.RebuildIndexes(nullptr);
    }
    window_ = std::make_unique<app::TMainScreen>(Path());
    window_->show();
    QElapsedTimer clock;
    clock.start();
    while (!window_->FirstActivationDone() && window_->TablesOpen() && clock.elapsed() < 10000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ok_ = ok_ && window_->TablesOpen();
  }
  QString Path() const { return dir_.path() + QLatin1Char('/'); }
  std::string Device() const { return Path().toStdString() + "modem1"; }
  bool Ok() const { return ok_; }
  app::TMainScreen& Window() { return *window_; }
  // The modem and its watcher, started on first use.
  app::test::VirtualModem& TheModem() {
    if (!modem_) {
      const std::string trace = Path().toStdString() + "modem.trace";
      watcher_ = std::make_unique<AtdWatcher>(trace);
      modem_ = StartTracedModem(Device(), trace);
    }
    return *modem_;
  }
  AtdWatcher& Watcher() { return *watcher_; }
  void Close() {
    window_.reset();
    modem_.reset();
    watcher_.reset();
  }

 private:
  QTemporaryDir dir_;
  std::string ini_;
  bool ok_ = false;
  std::unique_ptr<app::TMainScreen> window_;
  std::unique_ptr<AtdWatcher> watcher_;
  std::unique_ptr<app::test::VirtualModem> modem_;
};

Lab* gLab = nullptr;
Lab& TheLab() {
  if (!gLab) gLab = new Lab;
  return *gLab;
}

void PerPage(benchmark::State& state) {
  // CPU time per page (the benchmark's rate, inverted).
  state.counters["per_page"] =
      benchmark::Counter(kFaxPages, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_CreateFaxFile_FivePages(benchmark::State& state) {
  Lab& lab = TheLab();
  if (!lab.Ok()) {
    state.SkipWithError("data directory not set up");
    return;
  }
  for (auto _ : state) {
    const QString file = lab.Window().CreateFaxFile();
    state.PauseTiming();
    if (file.isEmpty() || lab.Window().PageCount() != kFaxPages) {
      state.SkipWithError("CreateFaxFile did not make five pages");
      break;
    }
    QFile::remove(file);
    state.ResumeTiming();
  }
  PerPage(state);
}
BENCHMARK(BM_CreateFaxFile_FivePages)->Unit(benchmark::kMillisecond);

// Reference: five blank fine pages through the same converter into one file: the part of the
// work every page costs whatever it shows (rows fetched, coded, written).
void BM_Reference_CodeFiveBlankPages(benchmark::State& state) {
  const std::string out = TheLab().Path().toStdString() + "blank.qvf";
  std::vector<uint8_t> white(ui::kRenderPageWidth / 8, 0);
  for (auto _ : state) {
    faximage::TQvCustomFaxConverter conv;
    conv.SetInputDocumentType(faximage::idUser);
    conv.SetOptions(0);
    conv.SetResolution(faximage::frHigh);
    conv.SetDocumentFile(out);
    conv.SetOutFileName(out);
    int row = 0, page = 1;
    conv.OnReadUserLine = [&](faximage::TQvCustomFaxConverter*, uint8_t* data, int& len, bool& eop, bool& more) {
      if (row == ui::kRenderPageHeight) {
        eop = true;
        more = page < kFaxPages;
        ++page;
        row = 0;
        return;
      }
      std::memcpy(data, white.data(), white.size());
      len = int(white.size());
      ++row;
    };
    conv.ConvertToFile();
  }
  fs::remove(out);
  PerPage(state);
}
BENCHMARK(BM_Reference_CodeFiveBlankPages)->Unit(benchmark::kMillisecond);

// Reference: copying the file CreateFaxFile produces (the bytes that must reach the disk anyway).
void BM_Reference_CopyProducedFax(benchmark::State& state) {
  Lab& lab = TheLab();
  const QString file = lab.Window().CreateFaxFile();
  if (file.isEmpty()) {
    state.SkipWithError("CreateFaxFile failed");
    return;
  }
  const std::string copy = lab.Path().toStdString() + "copy.qvf";
  for (auto _ : state) fs::copy_file(file.toStdString(), copy, fs::copy_options::overwrite_existing);
  state.counters["bytes"] = double(fs::file_size(file.toStdString()));
  // QV_BENCH_KEEP=path: keep the produced fax there, to look at (qvfax export --all).
  if (const char* keep = std::getenv("QV_BENCH_KEEP"))
    fs::copy_file(file.toStdString(), keep, fs::copy_options::overwrite_existing);
  QFile::remove(file);
  fs::remove(copy);
  PerPage(state);
}
BENCHMARK(BM_Reference_CopyProducedFax)->Unit(benchmark::kMillisecond);

// The Send command as the user meets it, timed from the click on "Send Fax Now" until the modem
// has the dial command (wall clock: the dialog waits on the modem between its steps). The single
// modem has no line, so each attempt ends at once with "NO DIALTONE" and a Fax Failure box.
void BM_SendFaxNowToAtd(benchmark::State& state) {
  Lab& lab = TheLab();
  if (!lab.Ok() || !lab.TheModem().Ready()) {
    state.SkipWithError("lab or modem not ready");
    return;
  }
  AtdWatcher& watcher = lab.Watcher();
  bool failed = false;
  double seconds = 0;
  double toFirstCommand = 0, firstToAtd = 0;  // sums over the iterations, in ms
  gDialogs->sendScript = [&](app::TSendFaxForm* form) {
    form->show();
    // The dialog waits in an event loop as QDialog::exec does: asleep until something happens
    // (a spinning wait here would take a core from the port's threads and the modem).
    QEventLoop wait;
    bool ended = false;
    QObject::connect(form, &app::TSendFaxForm::attemptEnded, &wait, [&] {
      ended = true;
      wait.quit();
    });
    QCoreApplication::processEvents();  // the dialog's first activation, as the user waits to click
    watcher.Arm([&wait] { QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection); });
    const auto clicked = Clock::now();
    form->findChild<QPushButton*>(QStringLiteral("SendFaxButton"))->click();
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, &wait, &QEventLoop::quit);
    bound.start(kAtdWaitMs);
    if (!watcher.Seen() && !ended) wait.exec();
    watcher.Disarm();
    if (!watcher.Seen()) {
      failed = true;
    } else {
      seconds = std::chrono::duration<double>(watcher.When() - clicked).count();
      toFirstCommand += std::chrono::duration<double, std::milli>(watcher.First() - clicked).count();
      firstToAtd += std::chrono::duration<double, std::milli>(watcher.When() - watcher.First()).count();
    }
    // QV_BENCH_TIMELINE=1: what the modem received and answered, in ms after the click.
    if (qEnvironmentVariableIsSet("QV_BENCH_TIMELINE"))
      for (const auto& [when, line] : watcher.Lines())
        std::fprintf(stderr, "%8.1f  %s\n", std::chrono::duration<double, std::milli>(when - clicked).count(),
                     line.c_str());
    bound.start(kAttemptEndWaitMs);
    if (!ended) wait.exec();
    form->findChild<QPushButton*>(QStringLiteral("CloseButton"))->click();
  };
  for (auto _ : state) {
    lab.Window().SendButtonClick();
    if (failed) {
      state.SkipWithError("the modem never received ATD");
      break;
    }
    state.SetIterationTime(seconds);
  }
  gDialogs->sendScript = nullptr;
  // The split: click to the form's first "AT" (port opened, left to settle), then the session's
  // initialisation up to the dial command.
  state.counters["to_first_AT_ms"] = benchmark::Counter(toFirstCommand, benchmark::Counter::kAvgIterations);
  state.counters["AT_to_ATD_ms"] = benchmark::Counter(firstToAtd, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_SendFaxNowToAtd)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// Reference: open the same modem's port with plain system calls, "AT" until "OK", close.
void BM_Reference_ModemAtExchange(benchmark::State& state) {
  Lab& lab = TheLab();
  if (!lab.TheModem().Ready()) {
    state.SkipWithError("modem not ready");
    return;
  }
  const std::string device = lab.Device();
  for (auto _ : state) {
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      state.SkipWithError("cannot open the modem");
      break;
    }
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    const char at[] = "AT\r";
    bool ok = write(fd, at, 3) == 3;
    std::string got;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (ok && got.find("OK") == std::string::npos && Clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 100) > 0) {
        char buf[256];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) got.append(buf, size_t(n));
      }
    }
    close(fd);
    if (got.find("OK") == std::string::npos) {
      state.SkipWithError("no OK from the modem");
      break;
    }
  }
}
BENCHMARK(BM_Reference_ModemAtExchange)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  app::ConnectMessageLoop();
  BenchDialogs dialogs;
  gDialogs = &dialogs;
  app::SetDialogs(&dialogs);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (gLab) gLab->Close();
  delete gLab;
  app::SetDialogs(nullptr);
  return 0;
}
