// RTP (RFC 3550) for G.711 audio: the 12-octet header we send, and the checks on what arrives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv::line {

inline constexpr int kPayloadPcmu = 0;
inline constexpr int kPayloadPcma = 8;
inline constexpr int kSamplesPerPacket = 160;  // 20 ms at 8000 Hz, one octet per sample
inline constexpr size_t kRtpHeaderSize = 12;
inline constexpr size_t kMaxRtpPacket = 1500;

struct RtpPacket {
  int payloadType = -1;
  uint16_t seq = 0;
  uint32_t timestamp = 0;
  uint32_t ssrc = 0;
  bool marker = false;
  const uint8_t* payload = nullptr;
  size_t payloadSize = 0;
};

// Parses one datagram. Returns "" when it is an RTP version 2 packet with its CSRC list,
// extension and padding inside the datagram; otherwise why it is not (for the call log).
std::string ParseRtp(const uint8_t* data, size_t size, RtpPacket& out);

// The sender's side of one RTP stream: random start values, as RFC 3550 asks, so a stream
// restarted on the same ports is not taken for the old one.
class RtpSender {
 public:
  explicit RtpSender(int payloadType);
  // Writes header + payload into out (at least kRtpHeaderSize + size octets); returns the length.
  size_t Build(const uint8_t* payload, size_t size, uint8_t* out);

 private:
  int payloadType_;
  uint16_t seq_;
  uint32_t timestamp_;
  uint32_t ssrc_;
  bool first_ = true;
};

}  // namespace qv::line
