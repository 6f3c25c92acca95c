// SDP (RFC 4566) as this line offers and answers it (RFC 3264): G.711 audio only, PCMU and PCMA
// at 20 ms, with no telephone-event and no comfort noise, since anything that re-codes or
// suppresses audio breaks modem signals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv::line {

inline constexpr size_t kMaxSdpSize = 16 * 1024;
inline constexpr size_t kMaxSdpLines = 256;

struct SdpMedia {
  std::string type;     // "audio", "image"
  int port = 0;         // 0: the stream is rejected
  std::string proto;    // "RTP/AVP", "udptl"
  std::vector<std::string> formats;
  std::string address;  // the media-level c= or, when absent, the session's
  std::vector<std::pair<std::string, std::string>> attributes;  // a=name[:value], in order
};

struct SdpSession {
  std::string originUser, sessionId;
  uint64_t version = 0;
  std::vector<SdpMedia> media;
};

// Parses a session description. Returns "" or why it is not one we can use (for the call log);
// bounded in size and line count. Every media line needs an IPv4 connection address.
std::string ParseSdp(const std::string& text, SdpSession& out);

// The G.711 payload type to use for an offer or answer received: PCMU when offered, else PCMA;
// -1 when the description has no audio stream with either.
int ChooseG711(const SdpSession& remote, const SdpMedia** audio);

// Our audio description at address:port; `payloadTypes` in order of preference.
std::string AudioSdp(const std::string& address, int port, uint64_t sessionId, uint64_t version,
                     const std::vector<int>& payloadTypes);

}  // namespace qv::line
