#include "line/sdp.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <sstream>

#include "line/rtp.h"

namespace qv::line {
namespace {

std::vector<std::string> Words(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

bool ParsePort(const std::string& text, int& port) {
  // "port" or "port/count"
  const std::string digits = text.substr(0, text.find('/'));
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  port = std::stoi(digits);
  return port <= 65535;
}

// "IN IP4 a.b.c.d" → the address; "" for anything else (IPv6 is not offered by this line).
std::string Ipv4Connection(const std::string& value) {
  const auto w = Words(value);
  if (w.size() < 3 || w[0] != "IN" || w[1] != "IP4") return "";
  const std::string addr = w[2].substr(0, w[2].find('/'));
  in_addr a{};
  return inet_pton(AF_INET, addr.c_str(), &a) == 1 ? addr : "";
}

}  // namespace

std::string ParseSdp(const std::string& text, SdpSession& out) {
  if (text.size() > kMaxSdpSize) return "session description larger than " + std::to_string(kMaxSdpSize) + " octets";
  out = SdpSession{};
  std::string sessionAddress;
  bool sawVersion = false;
  size_t lines = 0;
  std::vector<bool> mediaHasAddress;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (++lines > kMaxSdpLines) return "more than " + std::to_string(kMaxSdpLines) + " lines";
    if (line.size() < 2 || line[1] != '=') return "line without type: \"" + line.substr(0, 40) + "\"";
    const char type = line[0];
    const std::string value = line.substr(2);
    switch (type) {
      case 'v':
        if (value != "0") return "unknown version v=" + value.substr(0, 20);
        sawVersion = true;
        break;
      case 'o': {
        const auto w = Words(value);
        if (w.size() < 6) return "short origin line";
        out.originUser = w[0];
        out.sessionId = w[1];
        if (w[2].empty() || w[2].size() > 19 || w[2].find_first_not_of("0123456789") != std::string::npos)
          return "bad origin version";
        out.version = std::stoull(w[2]);
        break;
      }
      case 'c': {
        const std::string addr = Ipv4Connection(value);
        if (addr.empty()) return "connection not IN IP4: \"" + value.substr(0, 40) + "\"";
        if (out.media.empty())
          sessionAddress = addr;
        else {
          out.media.back().address = addr;
          mediaHasAddress.back() = true;
        }
        break;
      }
      case 'm': {
        const auto w = Words(value);
        if (w.size() < 4) return "short media line";
        SdpMedia m;
        m.type = w[0];
        if (!ParsePort(w[1], m.port)) return "bad media port \"" + w[1].substr(0, 20) + "\"";
        m.proto = w[2];
        m.formats.assign(w.begin() + 3, w.end());
        out.media.push_back(m);
        mediaHasAddress.push_back(false);
        break;
      }
      case 'a': {
        const size_t colon = value.find(':');
        std::pair<std::string, std::string> attr{value.substr(0, colon),
                                                 colon == std::string::npos ? "" : value.substr(colon + 1)};
        if (!out.media.empty()) out.media.back().attributes.push_back(attr);
        break;
      }
      default:
        break;  // s=, t=, b=, i=, ... carry nothing this line needs
    }
  }
  if (!sawVersion) return "no v= line";
  if (out.media.empty()) return "no media line";
  for (size_t i = 0; i < out.media.size(); ++i) {
    if (mediaHasAddress[i]) continue;
    if (sessionAddress.empty() && out.media[i].port != 0) return "no connection address for " + out.media[i].type;
    out.media[i].address = sessionAddress;
  }
  return "";
}

int ChooseG711(const SdpSession& remote, const SdpMedia** audio) {
  for (const auto& m : remote.media) {
    if (m.type != "audio" || m.port == 0 || m.proto != "RTP/AVP") continue;
    for (int wanted : {kPayloadPcmu, kPayloadPcma})
      for (const auto& f : m.formats)
        if (f == std::to_string(wanted)) {
          if (audio) *audio = &m;
          return wanted;
        }
  }
  return -1;
}

std::string AudioSdp(const std::string& address, int port, uint64_t sessionId, uint64_t version,
                     const std::vector<int>& payloadTypes) {
  std::ostringstream s;
  s << "v=0\r\n"
    << "o=- " << sessionId << ' ' << version << " IN IP4 " << address << "\r\n"
    << "s=-\r\n"
    << "c=IN IP4 " << address << "\r\n"
    << "t=0 0\r\n"
    << "m=audio " << port << " RTP/AVP";
  for (int pt : payloadTypes) s << ' ' << pt;
  s << "\r\n";
  for (int pt : payloadTypes) s << "a=rtpmap:" << pt << (pt == kPayloadPcmu ? " PCMU/8000" : " PCMA/8000") << "\r\n";
  s << "a=ptime:20\r\n"
    << "a=silenceSupp:off - - - -\r\n"
    << "a=sendrecv\r\n";
  return s.str();
}

namespace {

bool SameName(const std::string& a, const char* b) {
  const std::string bs = b;
  return a.size() == bs.size() && std::equal(a.begin(), a.end(), bs.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// A non-negative decimal of at most nine digits, so that nothing a far end writes overflows.
bool Number(const std::string& text, int& value) {
  std::string t = text;
  while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.pop_back();
  while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.erase(t.begin());
  if (t.empty() || t.size() > 9 || t.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::stoi(t);
  return true;
}

}  // namespace

std::string ChooseT38(const SdpSession& remote, const SdpMedia** image, T38Params& params) {
  const SdpMedia* found = nullptr;
  for (const auto& m : remote.media) {
    if (m.type != "image" || m.port == 0) continue;
    if (!SameName(m.proto, "udptl")) continue;
    if (std::find_if(m.formats.begin(), m.formats.end(), [](const std::string& f) { return SameName(f, "t38"); }) ==
        m.formats.end())
      continue;
    found = &m;
    break;
  }
  if (!found) return "no T.38 over UDPTL offered";
  T38Params p;
  p.errorCorrection = T38Params::ErrorCorrection::None;  // absent means none
  for (const auto& [name, value] : found->attributes) {
    int n = 0;
    if (SameName(name, "T38FaxVersion")) {
      if (!Number(value, n) || n > 3) return "bad T38FaxVersion \"" + value.substr(0, 20) + "\"";
      p.version = n;
    } else if (SameName(name, "T38MaxBitRate")) {
      if (!Number(value, n) || n < 2400) return "bad T38MaxBitRate \"" + value.substr(0, 20) + "\"";
      p.maxBitRate = n;
    } else if (SameName(name, "T38FaxRateManagement")) {
      if (SameName(value, "transferredTCF")) p.transferredTcf = true;
      else if (SameName(value, "localTCF")) p.transferredTcf = false;
      else return "bad T38FaxRateManagement \"" + value.substr(0, 20) + "\"";
    } else if (SameName(name, "T38FaxMaxBuffer")) {
      if (!Number(value, n)) return "bad T38FaxMaxBuffer";
      p.maxBuffer = n;
    } else if (SameName(name, "T38FaxMaxDatagram")) {
      // Below the smallest useful datagram (a sequence number and a short IFP) nothing could be sent.
      if (!Number(value, n) || n < 16) return "bad T38FaxMaxDatagram \"" + value.substr(0, 20) + "\"";
      p.maxDatagram = n;
    } else if (SameName(name, "T38FaxUdpEC")) {
      if (SameName(value, "t38UDPRedundancy")) p.errorCorrection = T38Params::ErrorCorrection::Redundancy;
      else if (SameName(value, "t38UDPFEC")) p.errorCorrection = T38Params::ErrorCorrection::Fec;
      else p.errorCorrection = T38Params::ErrorCorrection::None;
    } else if (SameName(name, "T38FaxFillBitRemoval")) {
      // A bare attribute is true (RFC 4612); some peers write :1 or :0.
      p.fillBitRemoval = value.empty() || value == "1";
    }
  }
  if (image) *image = found;
  params = p;
  return "";
}

T38Params AnswerT38(const T38Params& offered, const T38Params& ours) {
  T38Params a = ours;
  a.version = std::min(offered.version, ours.version);
  a.maxBitRate = std::min(offered.maxBitRate, ours.maxBitRate);
  a.transferredTcf = offered.transferredTcf;
  a.fillBitRemoval = false;
  a.errorCorrection = offered.errorCorrection == T38Params::ErrorCorrection::None
                          ? T38Params::ErrorCorrection::None
                          : T38Params::ErrorCorrection::Redundancy;
  return a;
}

std::string ImageSdp(const std::string& address, int port, uint64_t sessionId, uint64_t version,
                     const T38Params& params) {
  std::ostringstream s;
  s << "v=0\r\n"
    << "o=- " << sessionId << ' ' << version << " IN IP4 " << address << "\r\n"
    << "s=-\r\n"
    << "c=IN IP4 " << address << "\r\n"
    << "t=0 0\r\n"
    << "m=image " << port << " udptl t38\r\n"
    << "a=T38FaxVersion:" << params.version << "\r\n"
    << "a=T38MaxBitRate:" << params.maxBitRate << "\r\n"
    << "a=T38FaxRateManagement:" << (params.transferredTcf ? "transferredTCF" : "localTCF") << "\r\n"
    << "a=T38FaxMaxBuffer:" << params.maxBuffer << "\r\n"
    << "a=T38FaxMaxDatagram:" << params.maxDatagram << "\r\n";
  if (params.fillBitRemoval) s << "a=T38FaxFillBitRemoval\r\n";
  switch (params.errorCorrection) {
    case T38Params::ErrorCorrection::Redundancy: s << "a=T38FaxUdpEC:t38UDPRedundancy\r\n"; break;
    case T38Params::ErrorCorrection::Fec: s << "a=T38FaxUdpEC:t38UDPFEC\r\n"; break;
    case T38Params::ErrorCorrection::None: break;
  }
  return s.str();
}

}  // namespace qv::line
