// SDP (RFC 4566) as this line offers and answers it (RFC 3264): G.711 audio, PCMU and PCMA at
// 20 ms, with no telephone-event and no comfort noise, since anything that re-codes or
// suppresses audio breaks modem signals; and T.38 over UDPTL (m=image) for the fax relay.
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

// The T.38 session parameters (T.38 Annex D) of one side's image stream.
struct T38Params {
  enum class ErrorCorrection { None, Redundancy, Fec };
  int version = 0;            // T38FaxVersion: changes the IFP encoding, 0 when absent
  int maxBitRate = 14400;     // T38MaxBitRate: the fastest modem the call may train
  bool transferredTcf = true; // T38FaxRateManagement: the training check crosses the network
  int maxBuffer = 2000;       // T38FaxMaxBuffer: octets the sender of the description can buffer
  int maxDatagram = 400;      // T38FaxMaxDatagram: the largest UDPTL payload it accepts
  ErrorCorrection errorCorrection = ErrorCorrection::Redundancy;
  bool fillBitRemoval = false;
};

// The T.38-over-UDPTL stream of a description and its parameters (attribute names compared
// without regard to case, booleans bare or as :0/:1, unknown attributes ignored). Returns ""
// or why there is none we can use (for the call log and a 488).
std::string ChooseT38(const SdpSession& remote, const SdpMedia** image, T38Params& params);

// What this line answers to a T.38 offer: never more than offered (version, rate), none of the
// options it cannot do (fill bit removal, FEC: answered as redundancy).
T38Params AnswerT38(const T38Params& offered, const T38Params& ours);

// Our T.38 description at address:port.
std::string ImageSdp(const std::string& address, int port, uint64_t sessionId, uint64_t version,
                     const T38Params& params);

}  // namespace qv::line
