// Feeds arbitrary bytes to the virtual modem's T.30 frame, parameter-string and T.4 scanners, and
// to the line's reader of a Class 1 DTE's ECM bit stream (which must keep the stream's length and
// change bits only of frames it was told to damage).
#include <cstddef>
#include <cstdint>
#include <string>

#include "qvmodem/hdlc.cpp"
#include "qvmodem/t30_frames.cpp"
#include "qvmodem/virtual_line.cpp"

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
  (void)rtcBytes(size % 2 == 0);
  SessionParams session;
  negotiateCoding(dis, dcs, session);
  if (session.df == 3 && session.ec == 0) __builtin_trap();  // no MMR without ECM

  // The ECM frame faults: no faults named, nothing changes; with faults, only the length is kept.
  LineFaults none;
  EcmFrameFaults reader;
  Bytes copy = bytes;
  int counted = 0;
  reader.apply(copy, none, counted);
  if (copy != bytes) __builtin_trap();
  LineFaults faults;
  faults.corruptFrames = {1, 2};
  faults.dropFrames = {3};
  EcmFrameFaults damaging;
  Bytes hit = bytes;
  int hitCount = 0;
  damaging.apply(hit, faults, hitCount);
  if (hit.size() != bytes.size() || hitCount != counted) __builtin_trap();
  return 0;
}
