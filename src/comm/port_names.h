#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qv::comm {

// COMn -> device path. The settings file ("QRV.INI") may name each port in section [Ports],
// key COMn; otherwise COM1-COM4 are /dev/ttyS0-3, COM5 /dev/ttyUSB0 and COM6 /dev/ttyACM0.
// The application names its settings file once at start; without one only the defaults apply.
void SetPortSettingsFile(const std::string& iniFileName);
std::string PortSettingsFile();
std::string DefaultDevicePath(int comNumber);
std::string PortDevicePath(int comNumber);  // "" for n < 1
// A device that takes COM n's place while the program runs (the Internet fax line's modem);
// "" gives the port back to its settings. Never written to the settings file.
void SetPortOverride(int comNumber, const std::string& path);

// Whether port n exists: it opens, or it is held by another program.
bool ProbePort(int comNumber);
bool ProbeDevicePath(const std::string& path);
// The numbers from 1 to maxPort that ProbePort accepts (the port-selection list).
std::vector<int> ExistingPorts(int maxPort = 50);

// The port-selection dialog, installed by the application: returns the chosen number, 0 when
// the user cancels. Without one, a port without a number cannot be opened.
void SetPortSelector(std::function<int()> selector);
int SelectPort();

}  // namespace qv::comm
