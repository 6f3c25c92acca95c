#include "pty/pty_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace qv::pty {

PtyPort::PtyPort() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master_ < 0) throw std::runtime_error(std::string("posix_openpt: ") + std::strerror(errno));
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    const int err = errno;
    ::close(master_);
    throw std::runtime_error(std::string("unlockpt: ") + std::strerror(err));
  }
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    const int err = errno;
    ::close(master_);
    throw std::runtime_error(std::string("ptsname: ") + std::strerror(err));
  }
  slavePath_ = name;
  // A serial port's DTE expects a raw line: no echo, no CR/LF translation, no signals.
  const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (slave >= 0) {
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
      cfmakeraw(&tio);
      cfsetispeed(&tio, B19200);
      cfsetospeed(&tio, B19200);
      tcsetattr(slave, TCSANOW, &tio);
    }
    ::close(slave);
  }
}

PtyPort::~PtyPort() {
  if (!link_.empty()) {
    struct stat st{};
    if (lstat(link_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(link_.c_str());
  }
  if (master_ >= 0) ::close(master_);
}

void PtyPort::makeLink(const std::string& path) {
  struct stat st{};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) throw std::runtime_error(path + " exists and is not a symlink");
    ::unlink(path.c_str());
  }
  if (::symlink(slavePath_.c_str(), path.c_str()) != 0)
    throw std::runtime_error("symlink " + path + ": " + std::strerror(errno));
  link_ = path;
}

long PtyPort::readSome(uint8_t* buf, size_t size) {
  const ssize_t n = ::read(master_, buf, size);
  if (n > 0) return static_cast<long>(n);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  return -1;  // EIO: no slave open
}

void PtyPort::write(const uint8_t* data, size_t size, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (size > 0) {
    const ssize_t n = ::write(master_, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return;
    pollfd p{master_, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(left < 50 ? left : 50));
  }
}

void PtyPort::discardOutput() { tcflush(master_, TCIOFLUSH); }

}  // namespace qv::pty
