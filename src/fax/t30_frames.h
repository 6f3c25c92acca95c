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

inline constexpr uint8_t kDle = 0x10;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kXon = 0x11;
inline constexpr uint8_t kDc2 = 0x12;

enum class FrameKind { Other, Csi, Cig, Tsi, Dis, Dtc, Dcs, Cfr, Ftt, Mcf, Rtn, Rtp, Mps, Eom, Eop, Dcn };

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

// What a received DIS/DTC offers.
struct RemoteCaps {
  bool speed[kMaxSpeedIndex + 1] = {};  // by speed index; 2400 and 4800 always true
  bool fine = false;
  bool wide = false;
  int scanCode = 0;
};
RemoteCaps DecodeDis(const uint8_t* fif, size_t length);

// What a received DCS commands.
struct SessionParams {
  int speedIndex = 1;
  bool fine = false;
  bool wide = false;
  int scanCode = 0;
};
SessionParams DecodeDcs(const uint8_t* fif, size_t length);

// Frame bytes from the address on (no DLE stuffing, no DLE ETX).
std::vector<uint8_t> BuildIdFrame(uint8_t fcf, std::string_view stationId, bool final);
std::vector<uint8_t> BuildDcsFrame(int speedIndex, bool fine, bool wide, int remoteScanCode);
std::vector<uint8_t> BuildDisFrame(int speedIndex);
std::vector<uint8_t> BuildSimpleFrame(uint8_t fcf, bool final);

// Stuffs DLE bytes and appends DLE ETX: what goes to the modem after AT+FTH CONNECT.
std::vector<uint8_t> StuffFrame(const std::vector<uint8_t>& frame);

// The station identifier carried by a CSI/TSI/CIG frame (bytes from the address on).
std::string DecodeIdFrame(const uint8_t* frame, size_t length);

}  // namespace qv::fax
