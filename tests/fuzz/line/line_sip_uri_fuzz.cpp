// The registrar URI as a person typed it into the line's settings: any text either yields a
// host and a port in range or is refused.
#include <cstddef>
#include <cstdint>
#include <string>

#include "line/sip_registration.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string host;
  int port = 0;
  if (qv::line::SipUriHostPort(std::string(reinterpret_cast<const char*>(data), size), host, port) &&
      (host.empty() || port < 1 || port > 65535))
    __builtin_trap();
  return 0;
}
