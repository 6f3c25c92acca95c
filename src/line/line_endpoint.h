// Where a line's SIP and media must listen to reach a server or peer: the local address the
// system routes towards it, and a UDP port free on that address now. Header-only and free of any
// library, like line_status.h, so that whoever starts qvline (the desktop, qvfax) can use it
// without linking the line.
#pragma once

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace qv::line {

// false when the host does not resolve or no route leads to it.
inline bool LocalEndpoint(const std::string& host, int port, std::string& address, int& localPort) {
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
