#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::fax {

// HDLC frame control fields as a Class 1 modem delivers them (first bit received in the
// least significant position). Frames we send carry the X bit of a caller where T.30 has one.
inline constexpr uint8_t kFcfCsi = 0x40;
inline constexpr uint8_t kFcfCig = 0x41;
inline constexpr uint8_t kFcfTsi = 0x43;
inline constexpr uint8_t kFcfDis = 0x80;
inline constexpr uint8_t kFcfDtc = 0x81;
inline constexpr uint8_t kFcfDcs = 0x83;
inline constexpr uint8_t kFcfCfr = 0x84;
inline constexpr uint8_t kFcfFtt = 0x44;
inline constexpr uint8_t kFcfMcf = 0x8C;
inline constexpr uint8_t kFcfRtn = 0x4C;
inline constexpr uint8_t kFcfRtp = 0xCC;
inline constexpr uint8_t kFcfMps = 0x4F;
inline constexpr uint8_t kFcfEom = 0x8F;
inline constexpr uint8_t kFcfEop = 0x2F;
inline constexpr uint8_t kFcfDcn = 0xFB;
// Error correction mode. FCD and RCP go at high speed with control 03 and have no X bit; the
// others are V.21 frames, the sender's with X = 1, the receiver's with X = 0.
inline constexpr uint8_t kFcfFcd = 0x06;
inline constexpr uint8_t kFcfRcp = 0x86;
inline constexpr uint8_t kFcfPps = 0xBF;
inline constexpr uint8_t kFcfPpr = 0xBC;
inline constexpr uint8_t kFcfRr = 0x6F;
inline constexpr uint8_t kFcfRnr = 0xEC;
inline constexpr uint8_t kFcfCtc = 0x13;
inline constexpr uint8_t kFcfCtr = 0xC4;
inline constexpr uint8_t kFcfEor = 0xCF;
inline constexpr uint8_t kFcfErr = 0x1C;
// The post-message command a PPS carries for a block that does not end the page.
inline constexpr uint8_t kPpsNull = 0x00;

inline constexpr uint8_t kDle = 0x10;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kXon = 0x11;
inline constexpr uint8_t kDc2 = 0x12;

enum class FrameKind { Other, Csi, Cig, Tsi, Dis, Dtc, Dcs, Cfr, Ftt, Mcf, Rtn, Rtp, Mps, Eom, Eop, Dcn,
                       Pps, Ppr, Rr, Rnr, Ctc, Ctr, Eor, Err };

// Identification, DIS and DTC compare the whole octet; every other frame ignores the X bit.
FrameKind ClassifyFcf(uint8_t fcf);

// Speeds of the Class 1 modulation table, index 1 (2400) to 6 (14400).
inline constexpr int kMinSpeedIndex = 1;
inline constexpr int kMaxSpeedIndex = 6;
int SpeedBps(int index);
const char* TrainingCode(int index);
const char* PageDataCode(int index);
int SpeedIndexForBps(int bps);  // 0 when the rate is not one of the six

// Minimum scan-line time in ms for a scan-time code 0..7 at normal or fine resolution.
int MinScanTimeMs(int code, bool fine);
// Minimum bytes per coded row: time x bit rate / 8000.
int MinBytesPerRow(int code, bool fine, int bps);

// Page coding on the line, in order of preference (each needs the ones before it to be offered
// too, and MMR needs error correction).
enum class LineCoding { MH = 0, MR = 1, MMR = 2 };

// What a received DIS/DTC offers.
struct RemoteCaps {
  bool speed[kMaxSpeedIndex + 1] = {};  // by speed index; 2400 and 4800 always true
  bool fine = false;
  bool wide = false;
  int scanCode = 0;
  bool mr = false;              // T.4 two-dimensional
  bool ecm = false;             // error correction mode
  bool mmr = false;             // T.6, counted only together with ecm
  bool smallFramesPreferred = false;  // 64-octet ECM frames asked for
};
RemoteCaps DecodeDis(const uint8_t* fif, size_t length);

// What a received DCS commands.
struct SessionParams {
  int speedIndex = 1;
  bool fine = false;
  bool wide = false;
  int scanCode = 0;
  bool ecm = false;
  int ecmFrameSize = 256;       // 256 or 64 octets, with ecm
  LineCoding coding = LineCoding::MH;
};
SessionParams DecodeDcs(const uint8_t* fif, size_t length);

// Frame bytes from the address on (no DLE stuffing, no DLE ETX).
std::vector<uint8_t> BuildIdFrame(uint8_t fcf, std::string_view stationId, bool final);
// What a DCS commands beyond speed, resolution and width. With ECM the scan time is 0 ms, as the
// receiver is fed from checked frames; MMR without ECM is refused (coded as MH).
struct DcsOptions {
  bool ecm = false;
  int ecmFrameSize = 256;
  LineCoding coding = LineCoding::MH;
};
std::vector<uint8_t> BuildDcsFrame(int speedIndex, bool fine, bool wide, int remoteScanCode, const DcsOptions& options = {});
// Our capabilities: with `ecm`, error correction; `coding` is the best coding we accept (MMR
// only with ecm).
std::vector<uint8_t> BuildDisFrame(int speedIndex, bool ecm = false, LineCoding coding = LineCoding::MH);

// The best coding both ends allow, capped by `cap`: MMR > MR > MH, MMR only with ECM.
LineCoding ChooseCoding(const RemoteCaps& remote, bool ecm, LineCoding cap);

// ECM V.21 frames (bytes from the address on). PPS: the post-message command (kPpsNull or MPS/
// EOP/EOM with X), page and block counters, frame count (1..256).
std::vector<uint8_t> BuildPpsFrame(uint8_t postMessage, uint8_t pageCounter, uint8_t blockCounter, int frameCount);
std::vector<uint8_t> BuildPprFrame(const uint8_t (&map)[32]);
// CTC: continue at the rate of speed index `speedIndex` (DCS rate bits in its second octet).
std::vector<uint8_t> BuildCtcFrame(int speedIndex);
std::vector<uint8_t> BuildEorFrame(uint8_t postMessage);
// The high-speed FCD frame: frame number and page data (control 03, as every ECM data frame).
std::vector<uint8_t> BuildFcdFrame(uint8_t number, const uint8_t* data, size_t length);
std::vector<uint8_t> BuildRcpFrame();
// The speed index a CTC asks for (its FIF from the first octet), 0 when unreadable.
int DecodeCtcSpeed(const uint8_t* fif, size_t length);
std::vector<uint8_t> BuildSimpleFrame(uint8_t fcf, bool final);

// Stuffs DLE bytes and appends DLE ETX: what goes to the modem after AT+FTH CONNECT.
std::vector<uint8_t> StuffFrame(const std::vector<uint8_t>& frame);

// The station identifier carried by a CSI/TSI/CIG frame (bytes from the address on).
std::string DecodeIdFrame(const uint8_t* frame, size_t length);

}  // namespace qv::fax
