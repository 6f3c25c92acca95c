// A DTE for tests: opens a modem's pseudo-terminal like a serial port and talks AT to it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace qv::modem::test {

class TestDte {
 public:
  explicit TestDte(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
  }
  ~TestDte() { close(); }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  void write(const std::string& s) { writeBytes(std::vector<uint8_t>(s.begin(), s.end())); }
  void writeBytes(const std::vector<uint8_t>& b) {
    size_t off = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (off < b.size() && std::chrono::steady_clock::now() < deadline) {
      const ssize_t n = ::write(fd_, b.data() + off, b.size() - off);
      if (n > 0) off += static_cast<size_t>(n);
      else {
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, 50);
      }
    }
  }

  // Reads until `pattern` has arrived; returns everything up to and including it, "" on time-out
  // (what was read stays buffered for the next call... except on time-out, where it is kept too).
  std::string waitFor(const std::string& pattern, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const size_t at = buf_.find(pattern);
      if (at != std::string::npos) {
        std::string out = buf_.substr(0, at + pattern.size());
        buf_.erase(0, at + pattern.size());
        return out;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return "";
      pump(static_cast<int>(left));
    }
  }
  // Everything received within ms.
  std::string drain(int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      pump(static_cast<int>(left));
    }
    std::string out;
    out.swap(buf_);
    return out;
  }
  // Sends a command line and returns the reply through the final pattern (by default any
  // verbose final result).
  std::string command(const std::string& cmd, const std::string& until = "", int timeoutMs = 5000) {
    write(cmd + "\r");
    return until.empty() ? waitForResult(timeoutMs) : waitFor(until, timeoutMs);
  }
  std::string waitForResult(int timeoutMs = 5000) {
    static const char* const kFinal[] = {"OK\r\n", "ERROR\r\n", "CONNECT\r\n", "NO CARRIER\r\n", "BUSY\r\n",
                                         "NO DIALTONE\r\n", "NO ANSWER\r\n", "VOICE\r\n", "+FCERROR\r\n"};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      size_t best = std::string::npos, len = 0;
      for (const char* f : kFinal) {
        const size_t at = buf_.find(f);
        if (at != std::string::npos && at < best) {
          best = at;
          len = std::string(f).size();
        }
      }
      if (best != std::string::npos) {
        std::string out = buf_.substr(0, best + len);
        buf_.erase(0, best + len);
        return out;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return "";
      pump(static_cast<int>(left));
    }
  }
  // HDLC frame as a Class 1 DTE sends it.
  void sendFrame(const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> out;
    for (uint8_t b : frame) {
      out.push_back(b);
      if (b == 0x10) out.push_back(0x10);
    }
    out.push_back(0x10);
    out.push_back(0x03);
    writeBytes(out);
  }
  // Reads stuffed data up to DLE ETX and returns it unstuffed; empty on time-out.
  std::vector<uint8_t> readDleBlock(int timeoutMs = 5000, bool* complete = nullptr) {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t i = 0;
    for (;;) {
      while (i + 1 < buf_.size() || (i < buf_.size() && buf_[i] != 0x10)) {
        const uint8_t c = static_cast<uint8_t>(buf_[i]);
        if (c == 0x10) {
          const uint8_t n = static_cast<uint8_t>(buf_[i + 1]);
          i += 2;
          if (n == 0x03) {
            buf_.erase(0, i);
            if (complete) *complete = true;
            return out;
          }
          if (n == 0x10) out.push_back(0x10);
        } else {
          out.push_back(c);
          ++i;
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) {
        if (complete) *complete = false;
        buf_.erase(0, i);
        return out;
      }
      pump(static_cast<int>(left));
    }
  }

 private:
  void pump(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs < 100 ? timeoutMs : 100) > 0) {
      char tmp[4096];
      const ssize_t n = ::read(fd_, tmp, sizeof tmp);
      if (n > 0) buf_.append(tmp, static_cast<size_t>(n));
    }
  }
  int fd_ = -1;
  std::string buf_;
};

}  // namespace qv::modem::test
