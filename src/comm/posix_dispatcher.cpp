#include "comm/posix_dispatcher.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <shared_mutex>

#include "comm/dispatcher_list.h"
#include "core/error_codes.h"

namespace qv::comm {

using namespace qv::core;

namespace {

// How often the reader looks at the modem lines and the error counters of a device that has
// them: poll reports input and hang-ups, not line changes.
constexpr int kLinePollMs = 50;

struct SpeedEntry {
  uint32_t baud;
  speed_t speed;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},         {75, B75},       {110, B110},     {134, B134},     {150, B150},
    {200, B200},       {300, B300},     {600, B600},     {1200, B1200},   {1800, B1800},
    {2400, B2400},     {4800, B4800},   {9600, B9600},   {19200, B19200}, {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
};

bool SpeedFor(uint32_t baud, speed_t& speed) {
  for (auto& e : kSpeeds) {
    if (e.baud == baud) {
      speed = e.speed;
      return true;
    }
  }
  return false;
}

uint32_t BaudFor(speed_t speed) {
  for (auto& e : kSpeeds)
    if (e.speed == speed) return e.baud;
  return 19200;
}

// Library code for a failed open: a missing device is "no such port", a locked one "in use".
int OpenErrorCode(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
    case ENOTTY:
    case EIO:  // a serial device node without a UART behind it
      return ecFileNotFound;
    case EBUSY:
    case EWOULDBLOCK:
      return ecAccessDenied;
    case ENOMEM:
      return ecOutOfMemory;
    default:
      // Minus the system error; permission problems stay "Permission denied", not "in use".
      return -err;
  }
}

// A refused line setting: the device's failure, not one of the file codes that mean "missing" or
// "in use" to the port.
int SettingsError(int err) {
  switch (err) {
    case EINVAL:
      return ecDefault;
    case EIO:
    case ENODEV:
    case ENXIO:
      return ecHardware;
    default:
      return ecGeneralFailure;
  }
}

}  // namespace

TQvPosixDispatcher::TQvPosixDispatcher() = default;

TQvPosixDispatcher::~TQvPosixDispatcher() { Shutdown(); }

int TQvPosixDispatcher::OpenDevice(const std::string& path, int& fd, bool exclusive) {
  fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return OpenErrorCode(errno);
  if (!::isatty(fd)) {
    ::close(fd);
    fd = -1;
    return ecFileNotFound;
  }
  // flock keeps out every process that asks the same (root is not stopped by TIOCEXCL).
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    ::close(fd);
    fd = -1;
    return OpenErrorCode(err);
  }
  if (exclusive) ::ioctl(fd, TIOCEXCL);
  return 0;
}

int TQvPosixDispatcher::ProbeDevice(const std::string& path) {
  // Only looks: no exclusive flag is set (or cleared) on a device someone else may be using.
  int fd = -1;
  int rc = OpenDevice(path, fd, false);
  if (rc == 0) ::close(fd);
  return rc;
}

int TQvPosixDispatcher::DevOpen(const std::string& name, int inSize, int outSize) {
  (void)inSize;
  (void)outSize;
  int fd = -1;
  int rc = OpenDevice(name, fd, true);
  if (rc != 0) return rc;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return ecOutOfMemory;
  }
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  termios t{};
  if (::tcgetattr(fd, &t) != 0) {
    int err = errno;
    ::close(fd);
    ::close(wakeRead_);
    ::close(wakeWrite_);
    wakeRead_ = wakeWrite_ = -1;
    return OpenErrorCode(err);
  }
  // Raw bytes both ways; reads return at once with what the driver holds.
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::tcsetattr(fd, TCSANOW, &t);
  {
    std::lock_guard lock(stateLock_);
    state_ = TQvLineSettings{};
    state_.BaudRate = BaudFor(::cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
      case CS5: state_.ByteSize = 5; break;
      case CS6: state_.ByteSize = 6; break;
      case CS7: state_.ByteSize = 7; break;
      default: state_.ByteSize = 8; break;
    }
    state_.Parity = kNoParity;
    state_.StopBits = (t.c_cflag & CSTOPB) ? kTwoStopBits : kOneStopBit;
    state_.Flags = lfBinary | lfDtrEnable | lfRtsEnable;
  }
  int lines = 0;
  linesSupported_ = ::ioctl(fd, TIOCMGET, &lines) == 0;
  serial_icounter_struct counts{};
  icountSupported_ = ::ioctl(fd, TIOCGICOUNT, &counts) == 0;
  {
    std::lock_guard lock(icountLock_);
    lastCounts_[0] = counts.frame;
    lastCounts_[1] = counts.overrun;
    lastCounts_[2] = counts.parity;
    lastCounts_[3] = counts.brk;
    lastCounts_[4] = counts.buf_overrun;
  }
  std::unique_lock fdGuard(fdLock_);
  hungUp_.store(false);
  fd_.store(fd);
  lastLines_ = LinesNow();
  return fd;
}

int TQvPosixDispatcher::DevClose() {
  // Waits for any device call still running on another thread (a close finished by the
  // dispatcher thread while the application asks for the output count, say).
  std::unique_lock fdGuard(fdLock_);
  int fd = fd_.exchange(-1);
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
  wakeRead_ = wakeWrite_ = -1;
  if (fd < 0) return -1;
  ::ioctl(fd, TIOCNXCL);
  return ::close(fd) == 0 ? 0 : -1;
}

void TQvPosixDispatcher::NoteHangUp() {
  if (!hungUp_.exchange(true)) AddLogEntry(dlError, 0, 0, nullptr, 0);
}

uint8_t TQvPosixDispatcher::LinesNow() {
  int fd = fd_.load();
  if (fd < 0 || hungUp_.load()) return 0;
  if (!linesSupported_) return msCts | msDsr | msDcd;
  int bits = 0;
  if (::ioctl(fd, TIOCMGET, &bits) != 0) return 0;
  uint8_t lines = 0;
  if (bits & TIOCM_CTS) lines |= msCts;
  if (bits & TIOCM_DSR) lines |= msDsr;
  if (bits & TIOCM_RNG) lines |= msRing;
  if (bits & TIOCM_CAR) lines |= msDcd;
  return lines;
}

uint8_t TQvPosixDispatcher::DevModemLines() {
  std::shared_lock fdGuard(fdLock_);
  return LinesNow();
}

uint32_t TQvPosixDispatcher::ErrorsSinceLast() {
  int fd = fd_.load();
  if (!icountSupported_ || fd < 0) return 0;
  serial_icounter_struct c{};
  if (::ioctl(fd, TIOCGICOUNT, &c) != 0) return 0;
  std::lock_guard lock(icountLock_);
  uint32_t errors = 0;
  if (c.frame != lastCounts_[0]) errors |= leFraming;
  if (c.overrun != lastCounts_[1]) errors |= leOverrun;
  if (c.parity != lastCounts_[2]) errors |= leParity;
  if (c.brk != lastCounts_[3]) errors |= leBreak;
  if (c.buf_overrun != lastCounts_[4]) errors |= leRxOverflow;
  lastCounts_[0] = c.frame;
  lastCounts_[1] = c.overrun;
  lastCounts_[2] = c.parity;
  lastCounts_[3] = c.brk;
  lastCounts_[4] = c.buf_overrun;
  return errors;
}

uint32_t TQvPosixDispatcher::DevClearErrors(TQvDeviceStatus& status) {
  std::shared_lock fdGuard(fdLock_);
  int fd = fd_.load();
  status.Errors = ErrorsSinceLast();
  int waiting = 0;
  // Asked even after a hang-up: a driver may still hold what came before it.
  if (fd >= 0 && ::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0)
    status.InQue = static_cast<uint32_t>(waiting);
  else
    status.InQue = 0;
  return status.Errors;
}

uint32_t TQvPosixDispatcher::DevOutputPending() {
  std::shared_lock fdGuard(fdLock_);
  int fd = fd_.load();
  int pending = 0;
  if (fd < 0 || hungUp_.load() || ::ioctl(fd, TIOCOUTQ, &pending) != 0 || pending < 0) return 0;
  return static_cast<uint32_t>(pending);
}

void TQvPosixDispatcher::DevDiscardOutput() {
  std::shared_lock fdGuard(fdLock_);
  int fd = fd_.load();
  if (fd >= 0) ::tcflush(fd, TCOFLUSH);
}

int TQvPosixDispatcher::DevEscape(int func) {
  std::shared_lock fdGuard(fdLock_);
  int fd = fd_.load();
  if (fd < 0 || !linesSupported_) return 0;
  int bit = 0;
  unsigned long request = 0;
  switch (func) {
    case escSetRts: bit = TIOCM_RTS; request = TIOCMBIS; break;
    case escClrRts: bit = TIOCM_RTS; request = TIOCMBIC; break;
    case escSetDtr: bit = TIOCM_DTR; request = TIOCMBIS; break;
    case escClrDtr: bit = TIOCM_DTR; request = TIOCMBIC; break;
    default: return 0;  // no UART base address to report: the kernel drives RS-485
  }
  ::ioctl(fd, request, &bit);
  return 0;
}

int TQvPosixDispatcher::DevPurge(int queue) {
  if (queue == 1) {
    std::shared_lock fdGuard(fdLock_);
    int fd = fd_.load();
    if (fd >= 0 && !hungUp_.load() && ::tcflush(fd, TCIFLUSH) != 0) return -errno;
    return 0;
  }
  return TQvBaseDispatcher::DevPurge(queue);
}

int TQvPosixDispatcher::DevGetState(TQvLineSettings& block) {
  if (fd_.load() < 0) return -1;
  std::lock_guard lock(stateLock_);
  block = state_;
  return 0;
}

int TQvPosixDispatcher::DevSetState(const TQvLineSettings& block) {
  std::shared_lock fdGuard(fdLock_);
  int fd = fd_.load();
  if (fd < 0) return ecCommNotOpen;
  speed_t speed;
  if (!SpeedFor(TranslateBaud(block.BaudRate), speed)) return ecBaudRate;
  if (block.ByteSize < 5 || block.ByteSize > 8) return ecByteSize;
  if (block.Parity > kSpaceParity || block.StopBits > kTwoStopBits) return ecDefault;
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return SettingsError(errno);
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[block.ByteSize - 5];
  switch (block.Parity) {
    case kOddParity: t.c_cflag |= PARENB | PARODD; break;
    case kEvenParity: t.c_cflag |= PARENB; break;
    case kMarkParity: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case kSpaceParity: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (block.Parity != kNoParity && (block.Flags & lfParity)) t.c_iflag |= INPCK;
  if (block.StopBits != kOneStopBit) t.c_cflag |= CSTOPB;
  // The kernel offers one switch for RTS/CTS flow in both directions.
  if ((block.Flags & lfOutxCtsFlow) || (block.Flags & lfRtsControlMask) == lfRtsHandshake) t.c_cflag |= CRTSCTS;
  if (block.Flags & lfOutX) t.c_iflag |= IXON;
  if (block.Flags & lfInX) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(block.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(block.XoffChar);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) {
    int err = errno;
    // Pseudo-terminals have no framing and some kernels refuse any but 8N1 there; keep the
    // framing asked for in the mirror and apply the rest.
    termios now{};
    if (err != EINVAL || linesSupported_ || ::tcgetattr(fd, &now) != 0) return SettingsError(err);
    t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB)) |
                (now.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB));
    t.c_iflag &= ~INPCK;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) return SettingsError(errno);
  }
  if ((block.Flags & lfRtsControlMask) == lfRtsToggle && linesSupported_) {
    serial_rs485 rs{};
    rs.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    ::ioctl(fd, TIOCSRS485, &rs);
  }
  std::lock_guard lock(stateLock_);
  state_ = block;
  return 0;
}

int TQvPosixDispatcher::DevRead(uint8_t* buffer, int count) {
  std::shared_lock fdGuard(fdLock_);
  int fd = fd_.load();
  if (fd < 0) return -EBADF;
  ssize_t n = ::read(fd, buffer, static_cast<size_t>(count));
  if (n >= 0) return static_cast<int>(n);
  if (errno == EAGAIN || errno == EINTR) return 0;
  if (errno == EIO) NoteHangUp();
  return -errno;
}

int TQvPosixDispatcher::DevWrite(const uint8_t* data, int count) {
  // Nothing leaves a device that is gone: the caller hears of it as a short write.
  if (hungUp_.load() || fd_.load() < 0) return 0;
  return TQvBaseDispatcher::DevWrite(data, count);
}

int TQvPosixDispatcher::DevWriteNow(const uint8_t* data, int count) {
  std::shared_lock fdGuard(fdLock_);
  int fd = fd_.load();
  if (fd < 0 || hungUp_.load()) return 0;
  // The descriptor is non-blocking: this never waits for the line.
  ssize_t n = ::write(fd, data, static_cast<size_t>(count));
  return n > 0 ? static_cast<int>(n) : 0;
}

int TQvPosixDispatcher::DevWriteBlock(const uint8_t* data, int count, const std::atomic<bool>& abort) {
  std::shared_lock fdGuard(fdLock_);
  int fd = fd_.load();
  if (fd < 0) return kWriteFailed;
  while (true) {
    if (abort.load()) return kWriteInterrupted;
    ssize_t n = ::write(fd, data, static_cast<size_t>(count));
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      if (errno == EIO) NoteHangUp();
      return kWriteFailed;
    }
    // The driver is full (or flow control holds it): wait a little for room.
    pollfd p{fd, POLLOUT, 0};
    int r = ::poll(&p, 1, 20);
    if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLOUT)) {
      NoteHangUp();
      return kWriteFailed;
    }
  }
}

bool TQvPosixDispatcher::DevSetQueues(int inSize, int outSize) {
  // The kernel sizes its own queues; the output ring is ours.
  return inSize > 0 && outSize > 0;
}

void TQvPosixDispatcher::DevCancelWait() {
  std::shared_lock fdGuard(fdLock_);
  if (wakeWrite_ >= 0) {
    char b = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &b, 1);
  }
}

bool TQvPosixDispatcher::DevWaitEvent(uint32_t& mask) {
  std::shared_lock fdGuard(fdLock_);
  mask = 0;
  int fd = fd_.load();
  if (fd < 0) return false;
  const bool hungUp = hungUp_.load();
  // In polling mode the dispatcher thread reads every 50 ms. While the ring is full the data
  // waits in the driver: the device would report it at once, again and again, so it is not
  // watched; the ring's RoomMade wakes this wait through the pipe when room is made.
  // While arrivals gather under a pace the device is not watched for them either: the wait
  // ends when the pace does.
  const int paceMs = InputPaceWaitMs();
  const bool watchInput = !PollingMode() && !MoreInputWaiting() && paceMs < 0;
  pollfd p[2];
  p[0].fd = hungUp ? -1 : fd;
  p[0].events = watchInput ? POLLIN : 0;
  p[0].revents = 0;
  p[1].fd = wakeRead_;
  p[1].events = POLLIN;
  p[1].revents = 0;
  // Line changes and error counts are looked at every kLinePollMs where the driver has them.
  int timeout = -1;
  if (!hungUp && (linesSupported_ || icountSupported_)) timeout = kLinePollMs;
  if (paceMs >= 0 && (timeout < 0 || paceMs < timeout)) timeout = paceMs;
  int r = ::poll(p, 2, timeout);
  if (r < 0) return errno == EINTR;
  if (p[1].revents) {
    char buf[64];
    while (::read(wakeRead_, buf, sizeof buf) > 0) {
    }
    return true;
  }
  uint8_t before = lastLines_;
  if (!hungUp && (p[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
    NoteHangUp();
    mask |= evError;
  }
  if (p[0].revents & POLLIN) mask |= evRxChar;
  uint8_t now = LinesNow();
  lastLines_ = now;
  uint8_t changed = before ^ now;
  if (changed & msCts) mask |= evCts;
  if (changed & msDsr) mask |= evDsr;
  if (changed & msDcd) mask |= evDcd;
  if ((changed & msRing) && !(now & msRing)) mask |= evRingTrailing;
  if ((changed & msRing) && (now & msRing)) mask |= evRing;
  if (icountSupported_ && !hungUp) {
    serial_icounter_struct c{};
    if (::ioctl(fd, TIOCGICOUNT, &c) == 0) {
      std::lock_guard lock(icountLock_);
      if (c.brk != lastCounts_[3]) mask |= evBreak;
      if (c.frame != lastCounts_[0] || c.overrun != lastCounts_[1] || c.parity != lastCounts_[2] ||
          c.buf_overrun != lastCounts_[4])
        mask |= evError;
    }
  }
  return true;
}

}  // namespace qv::comm
