#include "line/sdp.h"

#include <arpa/inet.h>

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

}  // namespace qv::line
