#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/message_loop.h"

namespace qv::comm::testing {

// A pseudo-terminal: the port under test opens SlavePath(); the test plays the far side on the
// master descriptor.
class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
      throw std::runtime_error("cannot create a pseudo-terminal");
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname");
    slave_ = name;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slave_; }
  int Master() const { return master_; }

  // The far side goes away (a USB modem pulled out).
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  // Writes everything, waiting for room when the slave side is not reading.
  void Write(const std::string& bytes, int timeoutMs = 5000) {
    size_t done = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (done < bytes.size()) {
      ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (std::chrono::steady_clock::now() > until) throw std::runtime_error("pty write timed out");
      pollfd p{master_, POLLOUT, 0};
      ::poll(&p, 1, 10);
    }
  }

  // Reads until count bytes arrived or the time is up.
  std::string Read(size_t count, int timeoutMs = 3000) {
    std::string out;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[4096];
    while (out.size() < count && std::chrono::steady_clock::now() < until) {
      ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
      if (n > 0) {
        out.append(buf, static_cast<size_t>(n));
        continue;
      }
      pollfd p{master_, POLLIN, 0};
      ::poll(&p, 1, 10);
    }
    return out;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

// Pumps the UI thread's message loop until pred holds or the time is up.
inline bool PumpUntil(const std::function<bool()>& pred, int timeoutMs = 10000) {
  auto& loop = qv::core::MessageLoop::instance();
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    loop.waitAndPump(5);
  }
  return true;
}

// Pumps for a while regardless (to see that something does NOT happen).
inline void PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}

}  // namespace qv::comm::testing
