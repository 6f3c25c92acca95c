#pragma once
// The serial devices this machine has, for choosing which device a COM number maps to.

#include <string>
#include <vector>

namespace qv::comm {

struct SerialDevice {
  std::string Path;                   // "/dev/ttyUSB0"
  std::vector<std::string> StableNames;  // "/dev/serial/by-id/..." names that lead to it
};

// /dev/ttyS* with a UART behind them (most of the 32 nodes a kernel makes have none),
// /dev/ttyUSB* and /dev/ttyACM* (USB modems and adapters), each with its /dev/serial/by-id/
// names, which survive re-plugging. Sorted by kind, then number. devRoot stands in for "/dev".
std::vector<SerialDevice> ListSerialDevices(const std::string& devRoot = "/dev");

// Whether two names (device nodes, links to them) lead to the same device.
bool SameSerialDevice(const std::string& a, const std::string& b);

// The by-id name of a device if it has one, else the device itself: the name worth storing.
std::string PreferredDeviceName(const SerialDevice& device);

}  // namespace qv::comm
