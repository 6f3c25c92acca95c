// Where a line's SIP and media must listen to reach a server or peer: the local address the
// system routes towards it, and a UDP port free on that address now. Header-only and free of any
// library, like line_status.h, so that whoever starts qvline (the desktop, qvfax) can use it
// without linking the line.
#pragma once

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <string>
#include <string_view>

namespace qv::line {

// Names under the reserved top-level domain "invalid" never resolve, and the resolver is not
// asked about them (as the reservation asks of resolvers): no query leaves the machine for a name
// that is known to fail, and a mistyped placeholder fails at once instead of after a DNS
// time-out.
inline bool NameNeverResolves(std::string host) {
  while (!host.empty() && host.back() == '.') host.pop_back();
  for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  constexpr std::string_view kReserved = "invalid";
  if (host == kReserved) return true;
  return host.size() > kReserved.size() && host.compare(host.size() - kReserved.size(), kReserved.size(), kReserved) == 0 &&
         host[host.size() - kReserved.size() - 1] == '.';
}

// Whether host resolves to an IPv4 address (what the line listens on).
inline bool HostResolves(const std::string& host) {
  if (NameNeverResolves(host)) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (found) freeaddrinfo(found);
  return rc == 0;
}

// false when the host does not resolve or no route leads to it.
inline bool LocalEndpoint(const std::string& host, int port, std::string& address, int& localPort) {
  if (NameNeverResolves(host)) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) return false;
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  bool ok = s >= 0 && ::connect(s, found->ai_addr, found->ai_addrlen) == 0;
  freeaddrinfo(found);
  sockaddr_in local{};
  socklen_t len = sizeof local;
  ok = ok && getsockname(s, reinterpret_cast<sockaddr*>(&local), &len) == 0;
  if (s >= 0) ::close(s);
  if (!ok) return false;
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
  address = text;
  const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  local.sin_port = 0;
  ok = probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
       getsockname(probe, reinterpret_cast<sockaddr*>(&local), &len) == 0;
  if (probe >= 0) ::close(probe);
  localPort = ntohs(local.sin_port);
  return ok;
}

}  // namespace qv::line
