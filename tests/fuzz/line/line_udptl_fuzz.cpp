// UDPTL datagrams from a far end or a stranger: parsed and fed through a receiver, whose gap
// filling must hand on only what the datagram holds.
#include <cstddef>
#include <cstdint>

#include "line/udptl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qv::line::UdptlReceiver receiver;  // kept across inputs: its state is what a stream builds
  receiver.Receive(data, size, [&](uint16_t, const uint8_t* ifp, size_t n) {
    if (n == 0 || n > qv::line::kMaxIfpSize || ifp < data || ifp + n > data + size) {
      // Delivered IFPs are copies, so only their size can be checked against the datagram.
      if (n == 0 || n > size) __builtin_trap();
    }
  });
  return 0;
}
