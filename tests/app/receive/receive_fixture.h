// Receive mode's tests: the real main window over a temporary data directory whose COM ports lead
// to qvmodem pseudo-terminals, a sender in a process of its own, and waits that pump the window.
#pragma once

#include "app/fax_store.h"
#include "app/main_screen.h"
#include "app/message_pump.h"
#include "app/settings.h"
#include "app/show_error_form.h"
#include "app/table_pair.h"
#include "comm/port_names.h"
#include "core/ini_file.h"
#include "../../fax/e2e/fax_harness.h"
#include "../test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace qv::app::test {

using fax::test::TempDir;

// "qvmodem pair" as a child process; A dials, B answers. Fast: no line pacing (a ring every
// 0.4 s, pages as fast as the programs go); paced: the line runs at the negotiated bit rate.
class ModemPair {
 public:
  ModemPair(const TempDir& dir, std::vector<std::string> options = {}, bool fast = true) {
    a_ = dir.str("modemA");
    b_ = dir.str("modemB");
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> args = {QV_BIN_DIR "/qvmodem", "pair", "--a", a_, "--b", b_};
    if (fast) args.push_back("--fast");
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // One line per modem once both are ready.
    FILE* f = fdopen(out[0], "r");
    char line[512];
    int lines = 0;
    while (pid_ > 0 && lines < 2 && f && fgets(line, sizeof line, f)) ++lines;
    if (f) fclose(f);
    ready_ = lines == 2;
  }
  ~ModemPair() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status;
      waitpid(pid_, &status, 0);
    }
  }
  bool ready() const { return ready_; }
  const std::string& a() const { return a_; }
  const std::string& b() const { return b_; }

 private:
  pid_t pid_ = -1;
  std::string a_, b_;
  bool ready_ = false;
};

// Pumps the window's events until the condition holds or the time is up.
inline bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    PumpMessages();
  }
  return true;
}

// A program run in a process of its own; killed when the object goes.
class Process {
 public:
  Process(const std::vector<std::string>& args, const std::string& output,
          const std::vector<std::string>& env = {}) {
    std::vector<char*> argv;
    std::vector<std::string> a = args;
    for (auto& s : a) argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<std::string> e;
    for (char** p = environ; *p; ++p) e.emplace_back(*p);
    e.insert(e.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (auto& s : e) envp.push_back(s.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Process() { Kill(SIGTERM); }
  bool Started() const { return pid_ > 0; }
  // True once it has ended; status is its exit status (-1 when killed by a signal).
  bool Ended() {
    if (pid_ <= 0) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return true;
  }
  int Status() const { return status_; }
  void Kill(int sig) {
    if (pid_ <= 0) return;
    kill(pid_, sig);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// "qvfax send" of a document to the A modem of a pair.
inline std::unique_ptr<Process> SendFax(const ModemPair& modems, const std::string& doc, const std::string& output,
                                        const std::string& station, const std::string& faxClass = "1") {
  return std::make_unique<Process>(
      std::vector<std::string>{QV_BIN_DIR "/qvfax", "send", "--device", modems.a(), "--number", "5551234",
                               "--class", faxClass, "--station", station, "--attempts", "1", doc},
      output);
}

// A data directory set up as after the first run: tables with rebuilt indexes (so no offer to
// reindex interrupts), the modem on COM2, and COM1-COM6 mapped to paths in the directory.
class ReceiveLab {
 public:
  explicit ReceiveLab(const QString& dataDir = QString()) : dir_(dataDir.isEmpty() ? own_.Path() : dataDir) {
    App();
    ConnectMessageLoop();
    Settings() = TSettings();
    {
      core::TIniFile ini(Ini());
      ini.BeginUpdate();
      ini.WriteInteger("Modem", "ComPort", 1);
      ini.WriteInteger("Modem", "FaxClassReceive", 1);
      ini.WriteInteger("Modem", "MaximumBPSReceive", 9600);
      ini.WriteString("User", "Fax", "QUORVANE DESK");
      for (int n = 1; n <= 6; ++n) ini.WriteString("Ports", "COM" + std::to_string(n), Device(n));
      ini.CommitUpdate();
    }
    TFaxStore store(dir_.toStdString());
    store.OpenFaxDBF();
    store.OpenRecFaxDBF();
    store.RebuildIndexes(nullptr);
  }
  ~ReceiveLab() { comm::SetPortSettingsFile(""); }

  QString Path() const { return dir_; }
  std::string StdPath() const { return dir_.toStdString(); }
  std::string Ini() const { return SettingsFileName(StdPath()); }
  std::string Device(int n) const { return StdPath() + "modem" + std::to_string(n); }
  void Set(const std::string& section, const std::string& key, const std::string& value) {
    core::TIniFile(Ini()).WriteString(section, key, value);
  }
  QString ReceiveFile(const QString& name) const { return dir_ + QStringLiteral("receive/") + name; }

  // The main window after its first activation.
  std::unique_ptr<TMainScreen> Open() {
    auto w = std::make_unique<TMainScreen>(dir_);
    w->show();
    WaitFor([&] { return w->FirstActivationDone() || !w->TablesOpen(); }, 10000);
    return w;
  }

 private:
  DataDir own_;
  QString dir_;
};

inline QToolButton* ReceiveButton(TMainScreen& w) {
  return w.findChild<QToolButton*>(QStringLiteral("ReceiveButton"));
}

// The received table's records, in record order: FAXFILE, FROM, PAGES, NOTES, DATEREC, TIMEREC.
struct RecRecord {
  std::string file, from, notes, date, time;
  int pages = 0;
};
inline std::vector<RecRecord> Records(TFaxStore& store) {
  std::vector<RecRecord> out;
  TablePair& rec = store.Pair(TableId::Rec);
  const int at = rec.RecNo();
  for (rec.First(); !rec.Eof(); rec.Next()) {
    out.push_back({rec.FieldString("FAXFILE"), rec.FieldString("FROM"), rec.FieldString("NOTES"),
                   rec.FieldDate("DATEREC"), rec.FieldString("TIMEREC"), rec.FieldInt("PAGES")});
  }
  rec.Go(at);
  std::sort(out.begin(), out.end(), [](const RecRecord& a, const RecRecord& b) { return a.file < b.file; });
  return out;
}

// The error dialogs shown: title and text. The dialog is answered by the given button
// ("OkButton" or "ContinueButton").
inline void AnswerErrorDialogs(ScriptedDialogs& dialogs, QStringList& seen, const QString& button = "OkButton",
                               int count = 8) {
  for (int i = 0; i < count; ++i) {
    dialogs.forms.push_back([&seen, button](QDialog* d) {
      auto* memo = d->findChild<QPlainTextEdit*>(QStringLiteral("ErrorMemo"));
      seen << d->windowTitle() + QStringLiteral("|") + (memo ? memo->toPlainText() : QString());
      if (auto* b = d->findChild<QPushButton*>(button)) b->click();
      return int(QDialog::Accepted);
    });
  }
}

inline QStringList ReadLines(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

}  // namespace qv::app::test
