#pragma once
// A SIP URI's host and port, as a registrar or proxy is given in settings. Header-only and free
// of any library: the desktop reads the same settings without linking the line.

#include <string>

namespace qv::line {

// "sip:host", "sip:host:port", "sip:user@host;params", "<sip:host>", "sip:[v6]:port": host and
// port (5060 when none). False for anything that is not a sip: URI with a host.
inline bool SipUriHostPort(const std::string& text, std::string& host, int& port) {
  std::string uri = text;
  if (!uri.empty() && uri.front() == '<') {
    const size_t close = uri.find('>');
    if (close == std::string::npos) return false;
    uri = uri.substr(1, close - 1);
  }
  if (uri.compare(0, 4, "sip:") != 0) return false;
  std::string rest = uri.substr(4);
  const size_t at = rest.find('@');
  if (at != std::string::npos) rest = rest.substr(at + 1);
  rest = rest.substr(0, rest.find_first_of(";?"));
  port = 5060;
  if (!rest.empty() && rest.front() == '[') {  // an IPv6 reference
    const size_t close = rest.find(']');
    if (close == std::string::npos) return false;
    host = rest.substr(1, close - 1);
    rest = rest.substr(close + 1);
  } else {
    const size_t colon = rest.find(':');
    host = rest.substr(0, colon);
    rest = colon == std::string::npos ? "" : rest.substr(colon);
  }
  if (!rest.empty()) {
    const std::string digits = rest.substr(1);
    if (rest.front() != ':' || digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      return false;
    port = std::stoi(digits);
    if (port < 1 || port > 65535) return false;
  }
  return !host.empty();
}

}  // namespace qv::line
