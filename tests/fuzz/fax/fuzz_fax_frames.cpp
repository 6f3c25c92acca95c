// Any bytes as a modem's answer line and as a received HDLC frame, through every parser the fax
// sessions apply to them, with the properties the sessions rely on:
// - station IDs (from a +FTSI-style report or a CSI/TSI frame) are at most 20 characters and
//   start with no blank, and an ID from a frame survives being sent back in a frame of ours;
// - DLE stuffing is undone exactly, and a frame's DLE ETX is its only one;
// - the parameters we put in a DCS or DIS frame read back as we wrote them;
// - a capability range (+FCC=?) lists at most 64 values, none negative.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fax/modem_responses.h"
#include "fax/t30_frames.h"

using namespace qv::fax;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

bool trimmed(const std::string& s) {
  return s.empty() || (static_cast<unsigned char>(s.front()) > ' ' &&
                       static_cast<unsigned char>(s.back()) > ' ');
}

void modemLine(std::string_view line) {
  HasOk(line);
  HasConnect(line);
  HasCarrier(line);
  HasError(line);
  const std::string rest = RemovePrefix(line);
  check(trimmed(rest) && rest.size() <= line.size());
  check(Trim(rest) == rest);
  check(CodeAfterColon(line).size() <= 3);
  HangupNumber(line);
  const TFaxClass preferred = PreferredClass(ParseClassList(line));
  check(preferred == fcUnknown || ParseClassList(line).contains(preferred));
  const Class2Params p = DecodeClass2Params(RemovePrefix(line));
  check(p.scanCode >= 0 && p.scanCode <= 7);
  check(SpeedIndexForBps(p.bps) != 0);
  check(p.df >= 0 && p.df <= 3);
  // A capability range answer lists a bounded number of values, none negative.
  for (int position = 1; position <= 8; ++position) {
    const std::vector<int> values = Class2RangeValues(line, position);
    check(values.size() <= 64);
    for (int v : values) check(v >= 0);
  }
  // Trimmed first, then cut to 20 characters: an overlong ID may end in a blank.
  const std::string id = CleanRemoteId(line);
  check(id.size() <= 20 && (id.empty() || static_cast<unsigned char>(id.front()) > ' '));
  check(UpperCase(line).size() == line.size());
}

void frame(const uint8_t* data, size_t size) {
  if (size >= 3) ClassifyFcf(data[2]);
  const uint8_t* fif = size > 3 ? data + 3 : data;
  const size_t fifLength = size > 3 ? size - 3 : 0;
  const RemoteCaps caps = DecodeDis(fif, fifLength);
  check(caps.speed[1] && caps.speed[2] && caps.scanCode >= 0 && caps.scanCode <= 7);
  const SessionParams dcs = DecodeDcs(fif, fifLength);
  check(dcs.speedIndex >= kMinSpeedIndex && dcs.speedIndex <= kMaxSpeedIndex);
  check(dcs.scanCode >= 0 && dcs.scanCode <= 7);

  const std::string id = DecodeIdFrame(data, size);
  check(id.size() <= 20 && (id.empty() || (id.front() != ' ' && id.back() != ' ')));
  const std::vector<uint8_t> sent = BuildIdFrame(kFcfTsi, id, true);
  check(sent.size() == 23 && DecodeIdFrame(sent.data(), sent.size()) == id);

  const std::vector<uint8_t> raw(data, data + size);
  const std::vector<uint8_t> stuffed = StuffFrame(raw);
  std::vector<uint8_t> back;
  bool dle = false, ended = false;
  for (uint8_t b : stuffed) {
    check(!ended);
    if (dle) {
      dle = false;
      if (b == kEtx) {
        ended = true;
      } else {
        check(b == kDle);
        back.push_back(kDle);
      }
    } else if (b == kDle) {
      dle = true;
    } else {
      back.push_back(b);
    }
  }
  check(ended && back == raw);
}

void roundTrips(const uint8_t* data, size_t size) {
  if (size < 2) return;
  const int index = kMinSpeedIndex + data[0] % kMaxSpeedIndex;
  const bool fine = data[1] & 1, wide = data[1] & 2;
  const int scan = (data[1] >> 2) & 7;
  const std::vector<uint8_t> dcsFrame = BuildDcsFrame(index, fine, wide, scan);
  const SessionParams p = DecodeDcs(dcsFrame.data() + 3, dcsFrame.size() - 3);
  check(ClassifyFcf(dcsFrame[2]) == FrameKind::Dcs);
  check(p.speedIndex == index && p.fine == fine && p.wide == wide);
  check(MinScanTimeMs(p.scanCode, fine) == MinScanTimeMs(scan, fine));
  const std::vector<uint8_t> disFrame = BuildDisFrame(index);
  check(ClassifyFcf(disFrame[2]) == FrameKind::Dis);
  check(DecodeDis(disFrame.data() + 3, disFrame.size() - 3).speed[index]);
  check(MinBytesPerRow(scan, fine, SpeedBps(index)) >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  modemLine(std::string_view(reinterpret_cast<const char*>(data), size));
  frame(data, size);
  roundTrips(data, size);
  return 0;
}
