#pragma once
// A CUPS server of a test's own: Debian's cupsd with its configuration, state, spool, logs and
// socket in a temporary folder, CUPS's filters from the system and, as its only backend, ours
// under the name "quorvane". Nothing of the system's CUPS is read or touched, and it listens only
// on its own socket. Started and stopped with bounds; clients reach it through CUPS_SERVER.

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../../child_process.h"

namespace qv::app::test {

class PrivateCups {
 public:
  // dir: an empty folder of the test; backend: our backend program.
  PrivateCups(const std::string& dir, const std::string& backend) : dir_(dir) {
    namespace fs = std::filesystem;
    for (const char* sub : {"root/ppd", "bin/backend", "spool", "cache", "state", "log", "tmp"})
      fs::create_directories(dir_ + "/" + sub);
    // CUPS runs its filters as the user lp: they must reach the temporary folder.
    ::chmod(dir_.c_str(), 0755);
    ::chmod((dir_ + "/tmp").c_str(), 01777);
    for (const auto& e : fs::directory_iterator("/usr/lib/cups"))
      if (e.path().filename() != "backend") fs::create_symlink(e.path(), dir_ + "/bin/" + e.path().filename().string());
    fs::create_symlink(backend, dir_ + "/bin/backend/quorvane");
    std::ofstream(dir_ + "/root/cupsd.conf") << "LogLevel info\n"
                                                "Listen " << Socket() << "\n"
                                                "WebInterface No\nBrowsing No\nDefaultAuthType None\n"
                                                "JobRetryInterval 300\n"
                                                "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                                                "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n"
                                                "<Policy default>\n  <Limit All>\n    Order deny,allow\n"
                                                "  </Limit>\n</Policy>\n";
    // Sandboxing Relaxed: the backend and filters run from the test's folder, not CUPS's own.
    std::ofstream(dir_ + "/root/cups-files.conf") << "ServerRoot " << dir_ << "/root\n"
                                                     "ServerBin " << dir_ << "/bin\n"
                                                     "DataDir /usr/share/cups\n"
                                                     "RequestRoot " << dir_ << "/spool\n"
                                                     "CacheDir " << dir_ << "/cache\n"
                                                     "StateDir " << dir_ << "/state\n"
                                                     "TempDir " << dir_ << "/tmp\n"
                                                     "AccessLog " << dir_ << "/log/access_log\n"
                                                     "ErrorLog " << dir_ << "/log/error_log\n"
                                                     "PageLog " << dir_ << "/log/page_log\n"
                                                     "Printcap " << dir_ << "/printcap\n"
                                                     "Sandboxing Relaxed\nFileDevice No\nSystemGroup root\n";
    if (::access("/usr/sbin/cupsd", X_OK) != 0) {
      reason_ = "cupsd is not installed (cups-daemon)";
      return;
    }
    if (!daemon_.StartToFile({"/usr/sbin/cupsd", "-f", "-c", dir_ + "/root/cupsd.conf", "-s",
                              dir_ + "/root/cups-files.conf"},
                             dir_ + "/log/cupsd.out")) {
      reason_ = "cupsd could not be started";
      return;
    }
    // Ready when it answers on its socket.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      std::string out;
      if (Client({"lpstat", "-r"}, &out) == 0 && out.find("scheduler is running") != std::string::npos) {
        ok_ = true;
        return;
      }
      if (daemon_.Ended()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    reason_ = "cupsd did not come up: " + Log();
  }
  ~PrivateCups() { daemon_.Stop(20000); }

  bool ok() const { return ok_; }
  const std::string& reason() const { return reason_; }
  std::string Socket() const { return dir_ + "/cups.sock"; }
  std::string Env() const { return "CUPS_SERVER=" + Socket(); }

  // Runs a program against this server (CUPS_SERVER set), bounded; its exit code, -1 when it
  // could not run or did not end in time. out: its output and errors.
  int Client(const std::vector<std::string>& args, std::string* out = nullptr, int ms = 60000) const {
    const std::string file = dir_ + "/log/client.out";
    qv::test::ChildProcess child;
    if (!child.StartToFile(args, file, {Env()})) return -1;
    const bool ended = child.WaitEnd(ms);
    if (!ended) child.Stop(2000, SIGKILL);
    if (out) {
      std::ifstream in(file);
      *out = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return ended ? child.ExitStatus() : -1;
  }

  std::string Log() const {
    std::ifstream in(dir_ + "/log/error_log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string dir_;
  qv::test::ChildProcess daemon_;
  bool ok_ = false;
  std::string reason_;
};

}  // namespace qv::app::test
