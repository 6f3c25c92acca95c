#pragma once
// qvline with a SIP account on a registrar: its modem at dir/NAME.modem, its status lines (the
// "ready" line and the registration's changes) in a file the test reads, its call log beside.
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "../../child_process.h"
#include "kamailio.h"

namespace qv::line::test {

inline std::string ReadWhole(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class RegisteredLine {
 public:
  // Writes the password to a file only we may read, as the desktop does, and starts the line.
  bool Start(const std::string& dir, const std::string& name, const std::string& registrar, const std::string& user,
             const std::string& password, std::vector<std::string> extra = {}) {
    port_ = FreeUdpPort();
    link_ = dir + "/" + name + ".modem";
    log_ = dir + "/" + name + ".log";
    out_ = dir + "/" + name + ".out";
    const std::string secret = dir + "/" + name + ".secret";
    {
      std::ofstream(secret) << password << "\n";
    }
    chmod(secret.c_str(), 0600);
    std::vector<std::string> args = {QV_BIN_DIR "/qvline", "--link", link_, "--sip-listen",
                                     "127.0.0.1:" + std::to_string(port_), "--log", log_, "--t38", "off",
                                     "--registrar", registrar, "--user", user, "--password-file", secret,
                                     "--domain", kTestDomain};
    args.insert(args.end(), extra.begin(), extra.end());
    args_ = args;
    return process_.StartToFile(args, out_) && WaitFor("ready ", 10);
  }
  // Waits (bounded) until its output holds `text`; false when it did not come or qvline ended.
  bool WaitFor(const std::string& text, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Output().find(text) != std::string::npos) return true;
      if (process_.Ended()) return Output().find(text) != std::string::npos;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  int port() const { return port_; }
  const std::string& device() const { return link_; }
  const std::vector<std::string>& args() const { return args_; }
  std::string Output() const { return ReadWhole(out_); }
  std::string Log() const { return ReadWhole(log_); }
  bool Running() { return !process_.Ended(); }
  void Stop() { process_.Stop(5000); }
  ~RegisteredLine() { Stop(); }

 private:
  qv::test::ChildProcess process_;
  int port_ = 0;
  std::string link_, log_, out_;
  std::vector<std::string> args_;
};

}  // namespace qv::line::test
