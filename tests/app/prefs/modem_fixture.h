// Virtual modems on pseudo-terminals for the modem dialogs' tests: qvmodem processes, a port
// held by another process, and a data directory whose [Ports] lead COM1-COM6 to them.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/store/settings.h"
#include "comm/port_names.h"
#include "core/ini_file.h"
#include "../../child_process.h"
#include "../test_support.h"

namespace qv::app::test {

// "qvmodem single --link <path> [options]" as a child process.
class VirtualModem {
 public:
  VirtualModem(const std::string& link, std::vector<std::string> options = {}) : link_(link) {
    std::vector<std::string> args = {QV_BIN_DIR "/qvmodem", "single", "--link", link};
    args.insert(args.end(), options.begin(), options.end());
    // One line once the modem is ready.
    ready_ = process_.StartWithPipe(args) && process_.ReadLines(1);
    process_.ClosePipe();
  }
  bool Ready() const { return ready_; }
  const std::string& Link() const { return link_; }

 private:
  std::string link_;
  qv::test::ChildProcess process_;
  bool ready_ = false;
};

// Another process that holds a device open and locked, as a running communications program does.
class PortHolder {
 public:
  explicit PortHolder(const std::string& path) {
    int ready[2], release[2];
    // Close-on-exec: modems started later must not keep the release pipe open.
    if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls in the child of a threaded process.
      close(ready[0]);
      close(release[1]);
      int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      char ok = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? '1' : '0';
      [[maybe_unused]] ssize_t w = write(ready[1], &ok, 1);
      char c;
      [[maybe_unused]] ssize_t r = read(release[0], &c, 1);  // until the parent lets go
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char ok = '0';
    held_ = read(ready[0], &ok, 1) == 1 && ok == '1';
    close(ready[0]);
  }
  ~PortHolder() {
    if (release_ >= 0) close(release_);
    if (pid_ > 0) {
      int status;
      waitpid(pid_, &status, 0);
    }
  }
  bool Held() const { return held_; }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool held_ = false;
};

// A data directory with QRV.INI whose [Ports] send every COM number to a path in the directory
// (nothing there unless a test starts a modem on it). The settings record starts fresh.
class ModemLab {
 public:
  ModemLab() {
    Settings() = TSettings{};
    Settings().ComPort = 0;
    core::TIniFile ini(Ini());
    ini.BeginUpdate();
    for (int n = 1; n <= 6; ++n) ini.WriteString("Ports", "COM" + std::to_string(n), Device(n));
    ini.CommitUpdate();
    comm::SetPortSettingsFile(Ini());
  }
  ~ModemLab() { comm::SetPortSettingsFile(""); }
  std::string Ini() const { return dir_.StdPath() + kSettingsFileName; }
  std::string Device(int n) const { return dir_.StdPath() + "modem" + std::to_string(n); }
  QString Path() const { return dir_.Path(); }
  // Starts a modem on COM n.
  VirtualModem& Modem(int n, std::vector<std::string> options = {}) {
    modems_.push_back(std::make_unique<VirtualModem>(Device(n), std::move(options)));
    return *modems_.back();
  }

 private:
  DataDir dir_;
  std::vector<std::unique_ptr<VirtualModem>> modems_;
};

}  // namespace qv::app::test
