#pragma once
// A program a test runs as a child process: the far end of a call, a virtual modem, a peer tool.
// Started with posix_spawnp, so nothing runs in the child of a threaded test between fork and
// exec; the pipe it writes to is close-on-exec in the parent, so a child started later never
// holds it open. It is always ended and reaped: the signal asked for (SIGTERM unless told), then
// SIGKILL when it has not ended within the grace time.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace qv::test {

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    Stop();
    ClosePipe();
  }

  // Starts args[0] (a path, or a name looked up in PATH) with its standard output and error in
  // outFile. env: NAME=value entries that replace or add to the test's environment.
  bool StartToFile(const std::vector<std::string>& args, const std::string& outFile,
                   const std::vector<std::string>& env = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    bool ok = Spawn(args, actions, env);
    posix_spawn_file_actions_destroy(&actions);
    return ok;
  }

  // Starts it with its standard output (and standard error, with errorsToo) on a pipe that
  // ReadLine reads.
  bool StartWithPipe(const std::vector<std::string>& args, bool errorsToo = false) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    if (errorsToo) posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    bool ok = Spawn(args, actions, {});
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    lines_ = fdopen(fds[0], "r");
    if (!lines_) close(fds[0]);
    return ok && lines_;
  }

  // The next line it printed, with its line end; "" once it closed its output. Blocks until then.
  std::string ReadLine() {
    char buf[512];
    return lines_ && std::fgets(buf, sizeof buf, lines_) ? std::string(buf) : std::string();
  }

  // Reads the lines a helper prints once it is ready; false when its output ended first.
  bool ReadLines(int count) {
    for (int i = 0; i < count; ++i)
      if (ReadLine().empty()) return false;
    return true;
  }

  // Stops reading: what it prints after this goes nowhere (it gets EPIPE), so a chatty helper can
  // never stall on a full pipe nobody reads.
  void ClosePipe() {
    if (lines_) std::fclose(lines_);
    lines_ = nullptr;
  }

  pid_t Pid() const { return pid_; }

  // True once it has ended (it is reaped then); ExitStatus() is its exit code, -1 for a signal.
  bool Ended() {
    if (pid_ <= 0) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    Reaped(status);
    return true;
  }
  int ExitStatus() const { return status_; }

  // Waits up to ms for its end; true when it has ended.
  bool WaitEnd(int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!Ended()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  void Signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
  }

  // Ends it: sig, then SIGKILL when it has not ended after graceMs; returns once it is reaped.
  void Stop(int graceMs = 20000, int sig = SIGTERM) {
    if (pid_ <= 0) return;
    kill(pid_, sig);
    kill(pid_, SIGCONT);  // a test may have stopped it; a stopped process would not see sig
    if (WaitEnd(graceMs)) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    Reaped(status);
  }

 private:
  bool Spawn(const std::vector<std::string>& args, const posix_spawn_file_actions_t& actions,
             const std::vector<std::string>& env) {
    if (args.empty() || pid_ > 0) return false;
    std::vector<std::string> a = args;
    std::vector<char*> argv;
    for (auto& s : a) argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<std::string> e;
    for (char** p = environ; *p; ++p) {
      const std::string entry(*p);
      const std::string name = entry.substr(0, entry.find('=') + 1);
      bool replaced = false;
      for (const auto& v : env) replaced = replaced || v.compare(0, name.size(), name) == 0;
      if (!replaced) e.push_back(entry);
    }
    e.insert(e.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (auto& s : e) envp.push_back(s.data());
    envp.push_back(nullptr);
    status_ = -1;
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    return pid_ > 0;
  }

  void Reaped(int status) {
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
  }

  pid_t pid_ = -1;
  int status_ = -1;
  FILE* lines_ = nullptr;
};

}  // namespace qv::test
