#include "comm/serial_devices.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace qv::comm {

namespace fs = std::filesystem;

namespace {

// Kinds in the order they are listed.
const char* const kPrefixes[] = {"ttyS", "ttyUSB", "ttyACM"};

int KindOf(const std::string& name, int& number) {
  for (int k = 2; k >= 0; --k) {  // "ttyS" is a prefix of neither other name, but check long first
    const std::string prefix = kPrefixes[k];
    if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
        std::all_of(name.begin() + static_cast<long>(prefix.size()), name.end(),
                    [](unsigned char c) { return std::isdigit(c); })) {
      number = std::stoi(name.substr(prefix.size()));
      return k;
    }
  }
  return -1;
}

// A ttyS node answers when it opens as a terminal and the driver knows a UART behind it. Only
// looks: the device is opened without waiting for carrier and closed again at once.
bool UartAnswers(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EBUSY || errno == EACCES;  // held or forbidden, but there
  bool ok = false;
  termios t{};
  if (::tcgetattr(fd, &t) == 0) {
    serial_struct ss{};
    // Not every tty driver knows TIOCGSERIAL (a pty in a test, say); those count as answering.
    ok = ::ioctl(fd, TIOCGSERIAL, &ss) != 0 || ss.type != PORT_UNKNOWN;
  }
  ::close(fd);
  return ok;
}

// Whether two names lead to the same device (std::filesystem::equivalent refuses device nodes).
bool SameDevice(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

bool SameSerialDevice(const std::string& a, const std::string& b) { return SameDevice(a, b); }

std::vector<SerialDevice> ListSerialDevices(const std::string& devRoot) {
  struct Found {
    int kind, number;
    SerialDevice device;
  };
  std::vector<Found> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(devRoot, ec)) {
    const std::string name = entry.path().filename().string();
    int number = 0;
    const int kind = KindOf(name, number);
    if (kind < 0) continue;
    const std::string path = entry.path().string();
    if (kind == 0 && !UartAnswers(path)) continue;
    found.push_back({kind, number, SerialDevice{path, {}}});
  }
  // The stable names: symlinks in serial/by-id that resolve to one of the devices.
  const fs::path byId = fs::path(devRoot) / "serial" / "by-id";
  for (const auto& entry : fs::directory_iterator(byId, ec)) {
    for (Found& f : found)
      if (SameDevice(entry.path().string(), f.device.Path)) f.device.StableNames.push_back(entry.path().string());
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return a.kind != b.kind ? a.kind < b.kind : a.number < b.number;
  });
  std::vector<SerialDevice> out;
  for (Found& f : found) {
    std::sort(f.device.StableNames.begin(), f.device.StableNames.end());
    out.push_back(std::move(f.device));
  }
  return out;
}

std::string PreferredDeviceName(const SerialDevice& device) {
  return device.StableNames.empty() ? device.Path : device.StableNames.front();
}

}  // namespace qv::comm
