// Opens a serial port the way the program does and holds it: "open" on standard output once
// open (or "error <code>"), then waits until standard input closes.
#include <unistd.h>

#include <cstdio>
#include <exception>

#include "comm/com_port.h"
#include "core/exceptions.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: comm_port_holder <device>\n");
    return 2;
  }
  qv::comm::TQvComPort port;
  port.SetAutoOpen(false);
  port.SetDeviceName(argv[1]);
  try {
    port.SetOpen(true);
  } catch (const std::exception& e) {
    std::printf("error %d\n", qv::core::ErrorCodeFromException(e));
    std::fflush(stdout);
    return 1;
  }
  std::printf("open\n");
  std::fflush(stdout);
  char c;
  while (::read(0, &c, 1) > 0) {
  }
  port.SetOpen(false);
  return 0;
}
