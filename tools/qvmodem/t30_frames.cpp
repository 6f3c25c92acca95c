#include "qvmodem/t30_frames.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <vector>

namespace qv::modem {

uint8_t frameFcf(const Bytes& frame) {
  if (frame.size() < 3) return 0;
  const uint8_t f = frame[2];
  switch (f) {
    case fcf::kDis: case fcf::kCsi: case fcf::kNsf: case fcf::kDtc: case 0x41: case 0x21:
      return f;
    default:
      return static_cast<uint8_t>(f & 0xFE);
  }
}

bool isFinal(const Bytes& frame) { return frame.size() >= 2 && (frame[1] & 0x10) != 0; }

int brToRate(int br) {
  static const int rates[] = {2400, 4800, 7200, 9600, 12000, 14400};
  return br >= 0 && br <= 5 ? rates[br] : 9600;
}

int rateToBr(int rate) {
  switch (rate) {
    case 2400: return 0;
    case 4800: return 1;
    case 7200: return 2;
    case 9600: return 3;
    case 12000: return 4;
    default: return 5;
  }
}

int rateToMod(int rate) {
  switch (rate) {
    case 2400: return 24;
    case 4800: return 48;
    case 7200: return 72;
    case 9600: return 96;
    case 12000: return 121;
    default: return 145;
  }
}

std::string SessionParams::format(bool hex) const {
  const int v[8] = {vr, br, wd, ln, df, hex && ec > 0 ? 1 : ec, bf, st};
  std::string out;
  char buf[16];
  for (int i = 0; i < 8; ++i) {
    std::snprintf(buf, sizeof buf, hex ? "%X" : "%d", v[i]);
    if (i) out += ',';
    out += buf;
  }
  return out;
}

bool SessionParams::parse(const std::string& text, bool hex) {
  int* fields[8] = {&vr, &br, &wd, &ln, &df, &ec, &bf, &st};
  std::vector<std::string> parts;
  std::string cur;
  for (char c : text) {
    if (c == ',') {
      parts.push_back(cur);
      cur.clear();
    } else if (c != ' ') {
      cur += c;
    }
  }
  parts.push_back(cur);
  if (parts.size() > 8) return false;
  SessionParams next = *this;
  int* nextFields[8] = {&next.vr, &next.br, &next.wd, &next.ln, &next.df, &next.ec, &next.bf, &next.st};
  for (size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].empty()) continue;
    if (parts[i].size() > 3) return false;
    int value = 0;
    for (char c : parts[i]) {
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else return false;
      value = value * (hex ? 16 : 10) + d;
    }
    *nextFields[i] = value;
  }
  // Class 2.0: 1 is T.30 Annex A ECM (kept as 256-octet frames), 2 and 3 are Annex C (kept as 3,
  // which no modem here offers).
  if (hex && parts.size() > 5 && !parts[5].empty() && next.ec >= 1) next.ec = next.ec == 1 ? 2 : 3;
  (void)fields;
  *this = next;
  return true;
}

static uint8_t scanBitsForSt(int st) {
  // Minimum scan-line time codes 0..7 to T.30 bits 21-23 (masks 0x10, 0x20, 0x40 of octet 3).
  static const uint8_t bits[8] = {0x70, 0x10, 0x60, 0x20, 0x30, 0x00, 0x50, 0x40};
  return st >= 0 && st <= 7 ? bits[st] : 0x00;
}

static int stForScanBits(uint8_t bits) {
  switch (bits & 0x70) {
    case 0x00: return 5;
    case 0x10: return 1;
    case 0x20: return 3;
    case 0x30: return 4;
    case 0x40: return 7;
    case 0x50: return 6;
    case 0x60: return 2;
    default: return 0;
  }
}

void negotiateCoding(const SessionParams& local, const SessionParams& remote, SessionParams& session) {
  const bool ecm = local.ec > 0 && remote.ec > 0;
  session.ec = ecm ? local.ec : 0;
  if (ecm && local.df >= 3 && remote.df >= 3) session.df = 3;
  else if (local.df >= 1 && remote.df >= 1) session.df = 1;
  else session.df = 0;
}

Bytes buildDis(const SessionParams& caps, bool final) {
  uint8_t rates = 0;
  if (caps.br >= 5) rates = 0x2C;       // V.27 ter + V.29 + V.17
  else if (caps.br == 4) rates = 0x2C;  // V.17 is needed for 12000 as well
  else if (caps.br >= 2) rates = 0x0C;  // V.27 ter + V.29
  else if (caps.br == 1) rates = 0x08;  // V.27 ter
  uint8_t o2 = static_cast<uint8_t>(0x02 | rates);
  if (caps.vr & 1) o2 |= 0x40;
  if (caps.df >= 1) o2 |= 0x80;
  uint8_t o3 = 0x80;  // extend
  if (caps.wd == 1) o3 |= 0x01;
  if (caps.wd >= 2) o3 |= 0x02;
  if (caps.ln == 1) o3 |= 0x04;
  if (caps.ln >= 2) o3 |= 0x08;
  o3 |= scanBitsForSt(caps.st);
  uint8_t o4 = 0x00;
  if (caps.ec) o4 |= 0x04;                     // bit 27: ECM
  if (caps.ec && caps.df >= 3) o4 |= 0x40;     // bit 31: T.6, only with ECM
  // Bit 7: 64-octet frames preferred.
  const uint8_t o1 = caps.ec == 1 ? 0x40 : 0x00;
  return {0xFF, static_cast<uint8_t>(final ? 0x13 : 0x03), fcf::kDis, o1, o2, o3, o4};
}

Bytes buildDcs(const SessionParams& s, bool x) {
  uint8_t rate = 0;
  switch (brToRate(s.br)) {
    case 4800: rate = 0x08; break;
    case 7200: rate = 0x0C; break;
    case 9600: rate = 0x04; break;
    case 12000: rate = 0x28; break;
    case 14400: rate = 0x20; break;
    default: rate = 0x00; break;
  }
  uint8_t o2 = static_cast<uint8_t>(0x02 | rate);
  if (s.vr & 1) o2 |= 0x40;
  if (s.df == 1) o2 |= 0x80;
  uint8_t o3 = 0x80;  // extend: the ECM and T.6 octet follows
  if (s.wd == 1) o3 |= 0x01;
  if (s.wd >= 2) o3 |= 0x02;
  if (s.ln == 1) o3 |= 0x04;
  if (s.ln >= 2) o3 |= 0x08;
  // A DCS carries one scan time: the normal-resolution time of the receiver's code.
  static const uint8_t dcsBits[8] = {0x70, 0x10, 0x20, 0x20, 0x00, 0x00, 0x40, 0x40};
  o3 |= dcsBits[s.st >= 0 && s.st <= 7 ? s.st : 0];
  uint8_t o4 = 0x00;
  if (s.ec) {
    o4 |= 0x04;                        // bit 27: ECM used
    if (s.ec == 1) o4 |= 0x08;         // bit 28: 64-octet frames
    if (s.df == 3) o4 |= 0x40;         // bit 31: T.6 used
  }
  return {0xFF, 0x13, static_cast<uint8_t>(fcf::kDcs | (x ? 1 : 0)), 0x00, o2, o3, o4};
}

SessionParams parseDis(const Bytes& frame) {
  SessionParams p;
  const uint8_t o2 = frame.size() > 4 ? frame[4] : 0;
  const uint8_t o3 = frame.size() > 5 ? frame[5] : 0;
  const uint8_t o4 = (frame.size() > 6 && (o3 & 0x80)) ? frame[6] : 0;
  if (o2 & 0x30) p.br = (o2 & 0x20) ? 5 : 4;
  else if (o2 & 0x04) p.br = 3;
  else if (o2 & 0x08) p.br = 1;
  else p.br = 0;
  const uint8_t o1 = frame.size() > 3 ? frame[3] : 0;
  p.vr = (o2 & 0x40) ? 1 : 0;
  p.ec = (o4 & 0x04) ? ((o1 & 0x40) ? 1 : 2) : 0;
  // T.6 counts only together with ECM.
  p.df = (p.ec && (o4 & 0x40)) ? 3 : (o2 & 0x80) ? 1 : 0;
  p.wd = (o3 & 0x02) ? 2 : (o3 & 0x01) ? 1 : 0;
  p.ln = (o3 & 0x08) ? 2 : (o3 & 0x04) ? 1 : 0;
  p.st = stForScanBits(o3);
  return p;
}

SessionParams parseDcs(const Bytes& frame) {
  SessionParams p = parseDis(frame);
  const uint8_t o2 = frame.size() > 4 ? frame[4] : 0;
  const uint8_t o3 = frame.size() > 5 ? frame[5] : 0;
  const uint8_t o4 = (frame.size() > 6 && (o3 & 0x80)) ? frame[6] : 0;
  // In a DCS the frame size is bit 28 (bit 7 is a DIS bit only).
  if (p.ec) p.ec = (o4 & 0x08) ? 1 : 2;
  switch (o2 & 0x3C) {
    case 0x00: p.br = 0; break;
    case 0x08: p.br = 1; break;
    case 0x0C: case 0x2C: p.br = 2; break;
    case 0x04: case 0x24: p.br = 3; break;
    case 0x28: case 0x18: case 0x10: p.br = 4; break;  // 0x10 is how some senders write 12000
    default: p.br = 5; break;
  }
  return p;
}

Bytes buildIdFrame(uint8_t fcfOctet, const std::string& id, bool final) {
  Bytes f{0xFF, static_cast<uint8_t>(final ? 0x13 : 0x03), fcfOctet};
  // The ID left-justified in 20 characters, sent last character first (padding leads).
  std::string padded = id.substr(0, 20);
  padded.resize(20, ' ');
  std::reverse(padded.begin(), padded.end());
  for (char c : padded) f.push_back(static_cast<uint8_t>(c));
  return f;
}

std::string parseIdFrame(const Bytes& frame) {
  std::string id;
  for (size_t i = frame.size(); i > 3; --i) {
    const char c = static_cast<char>(frame[i - 1]);
    id += (c >= 0x20 && c < 0x7F && c != '"') ? c : ' ';
  }
  const auto b = id.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  const auto e = id.find_last_not_of(' ');
  return id.substr(b, e - b + 1);
}

Bytes buildSimpleFrame(uint8_t fcfOctet, bool final) {
  return {0xFF, static_cast<uint8_t>(final ? 0x13 : 0x03), fcfOctet};
}

}  // namespace qv::modem
