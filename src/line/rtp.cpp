#include "line/rtp.h"

#include <cstring>
#include <random>

namespace qv::line {

std::string ParseRtp(const uint8_t* data, size_t size, RtpPacket& out) {
  if (size < kRtpHeaderSize) return "shorter than an RTP header (" + std::to_string(size) + " octets)";
  if ((data[0] >> 6) != 2) return "not RTP version 2";
  const size_t csrc = data[0] & 0x0F;
  size_t header = kRtpHeaderSize + 4 * csrc;
  if (size < header) return "CSRC list past the end";
  if (data[0] & 0x10) {  // header extension: 16-bit profile, 16-bit length in 32-bit words
    if (size < header + 4) return "extension header past the end";
    const size_t words = (static_cast<size_t>(data[header + 2]) << 8) | data[header + 3];
    header += 4 + 4 * words;
    if (size < header) return "extension past the end";
  }
  size_t end = size;
  if (data[0] & 0x20) {  // padding: the last octet counts the padding octets, itself included
    const size_t pad = data[size - 1];
    if (pad == 0 || pad > end - header) return "bad padding length";
    end -= pad;
  }
  out.marker = (data[1] & 0x80) != 0;
  out.payloadType = data[1] & 0x7F;
  out.seq = static_cast<uint16_t>((data[2] << 8) | data[3]);
  out.timestamp = (static_cast<uint32_t>(data[4]) << 24) | (data[5] << 16) | (data[6] << 8) | data[7];
  out.ssrc = (static_cast<uint32_t>(data[8]) << 24) | (data[9] << 16) | (data[10] << 8) | data[11];
  out.payload = data + header;
  out.payloadSize = end - header;
  return "";
}

RtpSender::RtpSender(int payloadType) : payloadType_(payloadType) {
  std::random_device rd;
  seq_ = static_cast<uint16_t>(rd());
  timestamp_ = rd();
  ssrc_ = rd();
}

size_t RtpSender::Build(const uint8_t* payload, size_t size, uint8_t* out) {
  out[0] = 0x80;
  out[1] = static_cast<uint8_t>((first_ ? 0x80 : 0) | payloadType_);
  out[2] = static_cast<uint8_t>(seq_ >> 8);
  out[3] = static_cast<uint8_t>(seq_);
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(timestamp_ >> (24 - 8 * i));
  for (int i = 0; i < 4; ++i) out[8 + i] = static_cast<uint8_t>(ssrc_ >> (24 - 8 * i));
  std::memcpy(out + kRtpHeaderSize, payload, size);
  first_ = false;
  ++seq_;
  timestamp_ += static_cast<uint32_t>(size);
  return kRtpHeaderSize + size;
}

}  // namespace qv::line
