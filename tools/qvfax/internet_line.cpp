#include "internet_line.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "line/line_endpoint.h"
#include "line/line_status.h"
#include "line/sip_uri.h"

extern char** environ;

namespace qv::qvfax {

namespace fs = std::filesystem;

namespace {
constexpr int kStopGraceMs = 5000;

// qvline beside qvfax, unless QV_LINE_PROGRAM names another (as for the desktop).
std::string LineProgram() {
  if (const char* p = std::getenv("QV_LINE_PROGRAM"); p && *p) return p;
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("qvline") : (self.parent_path() / "qvline").string();
}

bool StartsWith(const std::string& s, std::string_view prefix) { return s.compare(0, prefix.size(), prefix) == 0; }
}  // namespace

int LineOptions::Parse(const std::vector<std::string>& args, size_t& i, std::string* why) {
  struct Option {
    const char* name;
    std::string* value;
    const char* missing;
  } const options[] = {
      {"--peer", &peer, "--peer needs HOST:PORT"},
      {"--registrar", &registrar, "--registrar needs a sip: URI"},
      {"--user", &user, "--user needs a name"},
      {"--password-file", &passwordFile, "--password-file needs a file"},
      {"--domain", &domain, "--domain needs a domain"},
      {"--sip-listen", &listen, "--sip-listen needs ADDR:PORT"},
      {"--t38", &t38, "--t38 is on or off"},
      {"--line-log", &log, "--line-log needs a file"},
  };
  for (const Option& o : options) {
    if (args[i] != o.name) continue;
    if (i + 1 >= args.size() || args[i + 1].empty()) {
      *why = o.missing;
      return -1;
    }
    *o.value = args[++i];
    return 1;
  }
  return 0;
}

std::string LineOptions::Check() const {
  if (!peer.empty() && !registrar.empty()) return "give either --peer or --registrar";
  if (!registrar.empty() && (user.empty() || passwordFile.empty())) return "--registrar needs --user and --password-file";
  if (registrar.empty() && (!user.empty() || !passwordFile.empty() || !domain.empty()))
    return "--user, --password-file and --domain go with --registrar";
  if (t38 != "on" && t38 != "off") return "--t38 is on or off";
  return {};
}

std::string RunningLine::Start(const LineOptions& o, int timeoutMs) {
  Stop();
  std::string listen = o.listen;
  if (listen.empty()) {
    // SIP and media listen on the address that reaches the server or the peer.
    std::string host, address;
    int port = 0, localPort = 0;
    const std::string towards = o.registrar.empty() ? "sip:" + o.peer : o.registrar;
    if (!line::SipUriHostPort(towards, host, port)) return "\"" + towards + "\" is not a server address";
    if (!line::LocalEndpoint(host, port, address, localPort)) return std::string(line::status::kDnsFailure) + ": " + host;
    listen = address + ":" + std::to_string(localPort);
  }
  char dirTemplate[] = "/tmp/qvfax-line-XXXXXX";
  if (!mkdtemp(dirTemplate)) return "cannot make a folder for the line's modem";
  dir_ = dirTemplate;
  link_ = dir_ + "/modem";
  std::vector<std::string> args = {LineProgram(), "--link", link_, "--sip-listen", listen, "--t38", o.t38};
  if (!o.peer.empty()) args.insert(args.end(), {"--peer", o.peer});
  if (!o.registrar.empty())
    args.insert(args.end(), {"--registrar", o.registrar, "--user", o.user, "--password-file", o.passwordFile});
  if (!o.domain.empty()) args.insert(args.end(), {"--domain", o.domain});
  if (!o.log.empty()) args.insert(args.end(), {"--log", o.log});

  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return "cannot start the line: no pipe";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  out_ = pipeFds[0];
  if (spawned != 0) {
    pid_ = -1;
    return "cannot start " + args[0];
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!ready_ && out_ >= 0 && std::chrono::steady_clock::now() < deadline) ReadStatus(50);
  if (!ready_) {
    Stop();
    return "the Internet fax line did not start";
  }
  return {};
}

void RunningLine::ReadStatus(int timeoutMs) {
  if (out_ < 0) return;
  pollfd p{out_, POLLIN, 0};
  while (poll(&p, 1, timeoutMs) > 0) {
    char buf[512];
    const ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) {  // the line ended
      close(out_);
      out_ = -1;
      break;
    }
    pending_.append(buf, static_cast<size_t>(n));
    timeoutMs = 0;  // take what is there, wait no longer
  }
  size_t end;
  while ((end = pending_.find('\n')) != std::string::npos) {
    const std::string line = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    if (StartsWith(line, line::status::kReady)) ready_ = true;
    else if (StartsWith(line, line::status::kMedia)) media_ = line.substr(line::status::kMedia.size());
  }
}

std::string RunningLine::Media() {
  ReadStatus(0);
  return std::exchange(media_, std::string());
}

void RunningLine::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopGraceMs);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      ReadStatus(20);  // keeps its output flowing while it hangs up
    }
    pid_ = -1;
  }
  if (out_ >= 0) close(out_);
  out_ = -1;
  ready_ = false;
  if (!dir_.empty()) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
    dir_.clear();
  }
}

}  // namespace qv::qvfax
