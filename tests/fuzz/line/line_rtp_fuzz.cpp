// RTP datagrams: each parsed as the line does, and the 160-sample ones played through the jitter
// buffer, so odd sequence numbers (jumps, wraps, repeats) meet it too.
#include <cstddef>
#include <cstdint>

#include "line/jitter_buffer.h"
#include "line/rtp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qv::line::FixedJitterBuffer jb;
  uint8_t out[qv::line::kSamplesPerPacket];
  // The input is a run of datagrams, each preceded by its length (one octet, times 4).
  while (size > 0) {
    const size_t len = static_cast<size_t>(data[0]) * 4;
    ++data;
    --size;
    const size_t take = len < size ? len : size;
    qv::line::RtpPacket p;
    if (qv::line::ParseRtp(data, take, p).empty()) {
      if (p.payload < data || p.payload + p.payloadSize > data + take) __builtin_trap();
      if (p.payloadSize == qv::line::kSamplesPerPacket) jb.Push(p.seq, p.payload);
    }
    jb.Pop(out);
    data += take;
    size -= take;
  }
  return 0;
}
