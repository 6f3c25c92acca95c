// Feeds arbitrary bytes to the virtual modem's T.30 frame, parameter-string and T.4 scanners.
#include <cstddef>
#include <cstdint>
#include <string>

#include "qvmodem/hdlc.cpp"
#include "qvmodem/t30_frames.cpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv::modem;
  const Bytes bytes(data, data + size);
  (void)frameFcf(bytes);
  (void)isFinal(bytes);
  const SessionParams dis = parseDis(bytes);
  const SessionParams dcs = parseDcs(bytes);
  (void)buildDis(dis, true);
  (void)buildDcs(dcs, true);
  (void)parseIdFrame(bytes);
  (void)fcsValid(bytes);
  const T4Tail tail = scanT4(bytes);
  if (tail.lineCount() < 0) __builtin_trap();
  SessionParams p;
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (p.parse(text, size % 2 == 0)) (void)p.format(size % 2 == 0);
  Bytes stuffed;
  appendDleStuffed(stuffed, data, size);
  if (stuffed.size() < size) __builtin_trap();
  return 0;
}
