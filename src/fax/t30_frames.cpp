#include "fax/t30_frames.h"

#include <algorithm>

namespace qv::fax {

namespace {

struct Speed {
  int bps;
  const char* train;
  const char* page;
};
constexpr Speed kSpeeds[kMaxSpeedIndex + 1] = {
    {0, "", ""},          {2400, "24", "24"},     {4800, "48", "48"},    {7200, "72", "72"},
    {9600, "96", "96"},   {12000, "121", "122"}, {14400, "145", "146"},
};

// ms at normal / fine resolution for the scan-time codes 0..7
constexpr int kScanTimes[8][2] = {{0, 0}, {5, 5}, {10, 5}, {10, 10}, {20, 10}, {20, 20}, {40, 20}, {40, 40}};

int ClampIndex(int index) { return std::clamp(index, kMinSpeedIndex, kMaxSpeedIndex); }

// DCS scan-time bits (FIF octet 3, bits 21..23) for a time in ms.
uint8_t DcsScanBits(int ms) {
  switch (ms) {
    case 0: return 0x70;
    case 5: return 0x10;
    case 10: return 0x20;
    case 40: return 0x40;
    default: return 0x00;  // 20 ms
  }
}

}  // namespace

FrameKind ClassifyFcf(uint8_t fcf) {
  switch (fcf) {
    case 0x40: return FrameKind::Csi;
    case 0x41: return FrameKind::Cig;
    case 0x80: return FrameKind::Dis;
    case 0x81: return FrameKind::Dtc;
    default: break;
  }
  switch (fcf & 0xFE) {
    case 0x42: return FrameKind::Tsi;
    case 0x82: return FrameKind::Dcs;
    case 0x84: return FrameKind::Cfr;
    case 0x44: return FrameKind::Ftt;
    case 0x8C: return FrameKind::Mcf;
    case 0x4C: return FrameKind::Rtn;
    case 0xCC: return FrameKind::Rtp;
    case 0x4E: return FrameKind::Mps;
    case 0x8E: return FrameKind::Eom;
    case 0x2E: return FrameKind::Eop;
    case 0xFA: return FrameKind::Dcn;
    case 0xBE: return FrameKind::Pps;
    case 0xBC: return FrameKind::Ppr;
    case 0x6E: return FrameKind::Rr;
    case 0xEC: return FrameKind::Rnr;
    case 0x12: return FrameKind::Ctc;
    case 0xC4: return FrameKind::Ctr;
    case 0xCE: return FrameKind::Eor;
    case 0x1C: return FrameKind::Err;
    default: return FrameKind::Other;
  }
}

int SpeedBps(int index) { return kSpeeds[ClampIndex(index)].bps; }
const char* TrainingCode(int index) { return kSpeeds[ClampIndex(index)].train; }
const char* PageDataCode(int index) { return kSpeeds[ClampIndex(index)].page; }

int SpeedIndexForBps(int bps) {
  for (int i = kMinSpeedIndex; i <= kMaxSpeedIndex; ++i)
    if (kSpeeds[i].bps == bps) return i;
  return 0;
}

int MinScanTimeMs(int code, bool fine) { return kScanTimes[code & 7][fine ? 1 : 0]; }

int MinBytesPerRow(int code, bool fine, int bps) { return MinScanTimeMs(code, fine) * bps / 8000; }

RemoteCaps DecodeDis(const uint8_t* fif, size_t length) {
  RemoteCaps caps;
  caps.speed[1] = caps.speed[2] = true;
  uint8_t o2 = length > 1 ? fif[1] : 0;
  uint8_t o3 = length > 2 ? fif[2] : 0;
  // V.17 (0x20) brings all its rates, 12000 among them; 0x10 alone is 12000 in our own offers.
  if (o2 & 0x20) caps.speed[5] = caps.speed[6] = true;
  if (o2 & 0x10) caps.speed[5] = true;
  if ((o2 & 0x0C) == 0x04) caps.speed[4] = true;
  if ((o2 & 0x0C) == 0x0C) caps.speed[3] = caps.speed[4] = true;
  caps.fine = (o2 & 0x40) != 0;
  caps.wide = (o3 & 0x03) == 0x01;
  static constexpr int kDisScan[8] = {5, 1, 3, 4, 7, 6, 2, 0};
  caps.scanCode = kDisScan[(o3 & 0x70) >> 4];
  caps.smallFramesPreferred = length > 0 && (fif[0] & 0x40) != 0;
  caps.mr = (o2 & 0x80) != 0;
  // Octet 4 is there only when octet 3 says it extends the field.
  const uint8_t o4 = (length > 3 && (o3 & 0x80)) ? fif[3] : 0;
  caps.ecm = (o4 & 0x04) != 0;
  caps.mmr = caps.ecm && (o4 & 0x40) != 0;
  return caps;
}

SessionParams DecodeDcs(const uint8_t* fif, size_t length) {
  SessionParams p;
  uint8_t o2 = length > 1 ? fif[1] : 0;
  uint8_t o3 = length > 2 ? fif[2] : 0;
  // Data-rate field, bits 11..14, as T.30 tables it for DCS (V.27 ter, V.29, V.33, V.17).
  switch (o2 & 0x3C) {
    case 0x08: p.speedIndex = 2; break;
    case 0x0C: case 0x2C: p.speedIndex = 3; break;
    case 0x04: case 0x24: p.speedIndex = 4; break;
    case 0x18: case 0x28: p.speedIndex = 5; break;
    case 0x10: case 0x20: p.speedIndex = 6; break;
    default: p.speedIndex = 1; break;
  }
  p.fine = (o2 & 0x40) != 0;
  p.wide = (o3 & 0x03) == 0x01;
  // DCS carries a time, not a capability: map it onto the code with that time at both resolutions.
  switch (o3 & 0x70) {
    case 0x70: p.scanCode = 0; break;
    case 0x10: p.scanCode = 1; break;
    case 0x20: p.scanCode = 3; break;
    case 0x40: p.scanCode = 7; break;
    default: p.scanCode = 5; break;
  }
  const uint8_t o4 = (length > 3 && (o3 & 0x80)) ? fif[3] : 0;
  p.ecm = (o4 & 0x04) != 0;
  p.ecmFrameSize = (o4 & 0x08) ? 64 : 256;
  if (p.ecm && (o4 & 0x40))
    p.coding = LineCoding::MMR;
  else if (o2 & 0x80)
    p.coding = LineCoding::MR;
  return p;
}

std::vector<uint8_t> BuildIdFrame(uint8_t fcf, std::string_view stationId, bool final) {
  std::vector<uint8_t> f{0xFF, static_cast<uint8_t>(final ? 0x13 : 0x03), fcf};
  std::string_view id = stationId.substr(0, 20);
  f.insert(f.end(), 20 - id.size(), ' ');
  for (size_t i = id.size(); i-- > 0;) f.push_back(static_cast<uint8_t>(id[i]));
  return f;
}

namespace {
// T.30 DCS rate codes: 4800 V.27 ter, 7200/9600 V.29, 12000/14400 V.17.
constexpr uint8_t kDcsRate[kMaxSpeedIndex + 1] = {0, 0x00, 0x08, 0x0C, 0x04, 0x28, 0x20};
}  // namespace

std::vector<uint8_t> BuildDcsFrame(int speedIndex, bool fine, bool wide, int remoteScanCode, const DcsOptions& options) {
  const bool mmr = options.ecm && options.coding == LineCoding::MMR;
  const bool mr = options.coding == LineCoding::MR;
  uint8_t o2 = static_cast<uint8_t>((fine ? 0x42 : 0x02) | kDcsRate[ClampIndex(speedIndex)] | (mr ? 0x80 : 0));
  const int scanMs = options.ecm ? 0 : MinScanTimeMs(remoteScanCode, fine);
  uint8_t o3 = static_cast<uint8_t>(DcsScanBits(scanMs) | 0x88 | (wide ? 0x01 : 0));
  uint8_t o4 = 0;
  if (options.ecm) o4 = static_cast<uint8_t>(0x04 | (options.ecmFrameSize == 64 ? 0x08 : 0) | (mmr ? 0x40 : 0));
  return {0xFF, 0x13, kFcfDcs, 0x00, o2, o3, o4};
}

std::vector<uint8_t> BuildDisFrame(int speedIndex, bool ecm, LineCoding coding) {
  // 12000 is V.17 like 14400: the rate bits have no code for "up to 12000", and 0x1C is an
  // invalid one that a T.30 sender refuses. The receiver answers FTT to training above its speed.
  static constexpr uint8_t kCaps[kMaxSpeedIndex + 1] = {0, 0x00, 0x08, 0x0C, 0x0C, 0x2C, 0x2C};
  const bool mr = coding != LineCoding::MH;
  const bool mmr = ecm && coding == LineCoding::MMR;
  uint8_t o4 = static_cast<uint8_t>((ecm ? 0x04 : 0) | (mmr ? 0x40 : 0));
  return {0xFF, 0x13, kFcfDis, 0x00, static_cast<uint8_t>(0x42 | kCaps[ClampIndex(speedIndex)] | (mr ? 0x80 : 0)), 0xF9, o4};
}

LineCoding ChooseCoding(const RemoteCaps& remote, bool ecm, LineCoding cap) {
  if (cap == LineCoding::MMR && ecm && remote.ecm && remote.mmr) return LineCoding::MMR;
  if (cap != LineCoding::MH && remote.mr) return LineCoding::MR;
  return LineCoding::MH;
}

std::vector<uint8_t> BuildPpsFrame(uint8_t postMessage, uint8_t pageCounter, uint8_t blockCounter, int frameCount) {
  const uint8_t fc = static_cast<uint8_t>(std::clamp(frameCount, 1, 256) - 1);
  return {0xFF, 0x13, kFcfPps, postMessage, pageCounter, blockCounter, fc};
}

std::vector<uint8_t> BuildPprFrame(const uint8_t (&map)[32]) {
  std::vector<uint8_t> f{0xFF, 0x13, kFcfPpr};
  f.insert(f.end(), map, map + 32);
  return f;
}

std::vector<uint8_t> BuildCtcFrame(int speedIndex) {
  return {0xFF, 0x13, kFcfCtc, 0x00, kDcsRate[ClampIndex(speedIndex)]};
}

std::vector<uint8_t> BuildEorFrame(uint8_t postMessage) { return {0xFF, 0x13, kFcfEor, postMessage}; }

std::vector<uint8_t> BuildFcdFrame(uint8_t number, const uint8_t* data, size_t length) {
  std::vector<uint8_t> f{0xFF, 0x03, kFcfFcd, number};
  f.insert(f.end(), data, data + length);
  return f;
}

std::vector<uint8_t> BuildRcpFrame() { return {0xFF, 0x03, kFcfRcp}; }

int DecodeCtcSpeed(const uint8_t* fif, size_t length) {
  if (length < 2) return 0;
  return DecodeDcs(fif, length).speedIndex;
}

std::vector<uint8_t> BuildSimpleFrame(uint8_t fcf, bool final) {
  return {0xFF, static_cast<uint8_t>(final ? 0x13 : 0x03), fcf};
}

std::vector<uint8_t> StuffFrame(const std::vector<uint8_t>& frame) {
  std::vector<uint8_t> out;
  out.reserve(frame.size() + 4);
  for (uint8_t b : frame) {
    out.push_back(b);
    if (b == kDle) out.push_back(kDle);
  }
  out.push_back(kDle);
  out.push_back(kEtx);
  return out;
}

std::string DecodeIdFrame(const uint8_t* frame, size_t length) {
  std::string id;
  size_t end = std::min<size_t>(length, 3 + 20);
  for (size_t i = end; i-- > 3;) id.push_back(static_cast<char>(frame[i]));
  size_t a = id.find_first_not_of(' ');
  if (a == std::string::npos) return {};
  size_t b = id.find_last_not_of(' ');
  return id.substr(a, b - a + 1);
}

}  // namespace qv::fax
