#include "comm/port_names.h"

#include <map>
#include <mutex>

#include "comm/posix_dispatcher.h"
#include "core/error_codes.h"
#include "core/ini_file.h"

namespace qv::comm {

namespace {

std::mutex gLock;
std::string gSettingsFile;
std::function<int()> gSelector;
std::map<int, std::string> gOverrides;

}  // namespace

void SetPortSettingsFile(const std::string& iniFileName) {
  std::lock_guard lock(gLock);
  gSettingsFile = iniFileName;
}

std::string PortSettingsFile() {
  std::lock_guard lock(gLock);
  return gSettingsFile;
}

std::string DefaultDevicePath(int comNumber) {
  if (comNumber >= 1 && comNumber <= 4) return "/dev/ttyS" + std::to_string(comNumber - 1);
  if (comNumber == 5) return "/dev/ttyUSB0";
  if (comNumber == 6) return "/dev/ttyACM0";
  return "";
}

void SetPortOverride(int comNumber, const std::string& path) {
  std::lock_guard lock(gLock);
  if (path.empty())
    gOverrides.erase(comNumber);
  else
    gOverrides[comNumber] = path;
}

std::string PortDevicePath(int comNumber) {
  if (comNumber < 1) return "";
  {
    std::lock_guard lock(gLock);
    const auto o = gOverrides.find(comNumber);
    if (o != gOverrides.end()) return o->second;
  }
  std::string file = PortSettingsFile();
  std::string def = DefaultDevicePath(comNumber);
  if (file.empty()) return def;
  try {
    core::TIniFile ini(file);
    return ini.ReadString("Ports", "COM" + std::to_string(comNumber), def);
  } catch (...) {
    return def;
  }
}

bool ProbeDevicePath(const std::string& path) {
  if (path.empty()) return false;
  int rc = TQvPosixDispatcher::ProbeDevice(path);
  return rc == 0 || rc == core::ecAccessDenied;
}

bool ProbePort(int comNumber) {
  if (comNumber == 0) return false;
  return ProbeDevicePath(PortDevicePath(comNumber));
}

std::vector<int> ExistingPorts(int maxPort) {
  std::vector<int> found;
  for (int n = 1; n <= maxPort; ++n)
    if (ProbePort(n)) found.push_back(n);
  return found;
}

void SetPortSelector(std::function<int()> selector) {
  std::lock_guard lock(gLock);
  gSelector = std::move(selector);
}

int SelectPort() {
  std::function<int()> selector;
  {
    std::lock_guard lock(gLock);
    selector = gSelector;
  }
  return selector ? selector() : 0;
}

}  // namespace qv::comm
