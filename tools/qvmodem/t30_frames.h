// T.30 frames as the modem's own fax engine (Class 2 and 2.0) builds and reads them, and the
// Class 2 session-parameter string VR,BR,WD,LN,DF,EC,BF,ST.
#pragma once

#include <string>

#include "qvmodem/hdlc.h"

namespace qv::modem {

// Frame control field octets with the X bit clear (first transmitted bit least significant).
namespace fcf {
constexpr uint8_t kDis = 0x80, kCsi = 0x40, kNsf = 0x20, kDtc = 0x81;
constexpr uint8_t kDcs = 0x82, kTsi = 0x42, kNss = 0x22;
constexpr uint8_t kCfr = 0x84, kFtt = 0x44;
constexpr uint8_t kEom = 0x8E, kMps = 0x4E, kEop = 0x2E;
constexpr uint8_t kMcf = 0x8C, kRtn = 0x4C, kRtp = 0xCC, kPin = 0x2C, kPip = 0xAC;
constexpr uint8_t kDcn = 0xFA, kCrp = 0x1A;
}  // namespace fcf

// The FCF of a frame (address, control, FCF, ...) with the X bit masked where T.30 has one.
uint8_t frameFcf(const Bytes& frame);
bool isFinal(const Bytes& frame);

// Bit-rate codes of the parameter string and their rates.
int brToRate(int br);
int rateToBr(int rate);
// Class 1 modulation used for a bit rate (long training).
int rateToMod(int rate);

struct SessionParams {
  int vr = 1;  // 0 normal, 1 fine
  int br = 5;  // 0..5 = 2400..14400
  int wd = 0;
  int ln = 2;
  int df = 0;  // 0 MH, 1 MR, 3 MMR (2, uncompressed, is never offered)
  int ec = 0;  // Class 2 values: 0 off, 1 ECM with 64-octet frames, 2 ECM with 256-octet frames
  int bf = 0;
  int st = 0;
  // hex: the Class 2.0 form, where EC is 1 for any ECM (T.30 Annex A) and numbers are hexadecimal.
  std::string format(bool hex) const;
  // Parses "vr,br,..." (empty fields keep their value); false on garbage. A Class 2.0 EC of 1
  // is kept as ECM with 256-octet frames.
  bool parse(const std::string& text, bool hex);
};

// The coding and ECM of a session between two stations' capabilities (DIS and the DCE's own
// +FDIS): MMR > MR > MH, MMR only with ECM, and ECM only when both offer it.
void negotiateCoding(const SessionParams& local, const SessionParams& remote, SessionParams& session);

// DIS from capabilities (what a receiver can take).
Bytes buildDis(const SessionParams& caps, bool final);
// DCS for the chosen session; x = the station received a DIS.
Bytes buildDcs(const SessionParams& session, bool x);
// Capabilities read from a DIS frame (frame bytes without FCS).
SessionParams parseDis(const Bytes& frame);
// Session read from a DCS frame.
SessionParams parseDcs(const Bytes& frame);

// CSI/TSI frame: 20 ID bytes, last character first, space padded.
Bytes buildIdFrame(uint8_t fcfOctet, const std::string& id, bool final);
std::string parseIdFrame(const Bytes& frame);
Bytes buildSimpleFrame(uint8_t fcfOctet, bool final = true);

}  // namespace qv::modem
