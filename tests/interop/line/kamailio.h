#pragma once
// Debian's kamailio as the SIP server a line registers with: registrar and proxy with digest
// authentication (REGISTER challenged with 401, INVITEs from our own domain with 407), users and
// passwords in its configuration (no database), on 127.0.0.1 at a free port. Started by the test
// in a temporary folder of its own, ready once it answers an OPTIONS, always stopped.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "../../child_process.h"

namespace qv::line::test {

// The domain of the test accounts: an alias of the server, so its own "myself" checks take it.
inline constexpr const char* kTestDomain = "faxtest.example";

// A UDP port free on 127.0.0.1 at this moment, for a program that is told which one to use.
inline int FreeUdpPort() {
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

// Sends one UDP datagram from `fromAddress` to 127.0.0.1:port and waits up to timeoutMs for the
// first answer; "" when none came.
inline std::string UdpExchange(const std::string& fromAddress, int port, const std::string& datagram, int timeoutMs) {
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, fromAddress.c_str(), &local.sin_addr);
  std::string answer;
  if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(s, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    pollfd p{s, POLLIN, 0};
    char buf[4096];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (answer.empty()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      const ssize_t n = recv(s, buf, sizeof buf, 0);
      // Provisional answers (100 Trying) are not the answer.
      if (n > 0 && std::string(buf, n).compare(0, 11, "SIP/2.0 100") != 0) answer.assign(buf, n);
    }
  }
  if (s >= 0) close(s);
  return answer;
}

// Which addresses of record the registrar takes. A provider's registrar serves its own domain,
// whatever the name its server is reached by: Strict refuses a REGISTER for any other domain
// (404), as such a server does, so a line that does not give the domain cannot register.
enum class DomainRule { Lenient, Strict };

class Kamailio {
 public:
  // users: name → password. dir: a folder of its own (configuration, runtime files, output).
  bool Start(const std::string& dir, const std::map<std::string, std::string>& users,
             DomainRule domains = DomainRule::Lenient) {
    port_ = FreeUdpPort();
    dir_ = dir;
    std::string passwords;
    for (const auto& [user, password] : users)
      passwords += "  if ($fU == \"" + user + "\") $var(pw) = \"" + password + "\";\n";
    std::ofstream(dir + "/kamailio.cfg")
        << "#!KAMAILIO\n"
           "debug=2\nlog_stderror=yes\nfork=yes\nchildren=1\ndisable_tcp=yes\ndisable_sctp=yes\nauto_aliases=no\n"
           "listen=udp:127.0.0.1:"
        << port_ << "\nalias=\"" << kTestDomain
        << "\"\n"
           "mpath=\"/usr/lib/x86_64-linux-gnu/kamailio/modules/\"\n"
           "loadmodule \"tm.so\"\nloadmodule \"sl.so\"\nloadmodule \"rr.so\"\nloadmodule \"pv.so\"\n"
           "loadmodule \"maxfwd.so\"\nloadmodule \"textops.so\"\nloadmodule \"siputils.so\"\n"
           "loadmodule \"usrloc.so\"\nloadmodule \"registrar.so\"\nloadmodule \"auth.so\"\n"
           "modparam(\"usrloc\", \"db_mode\", 0)\n"
           "request_route {\n"
           "  if (!mf_process_maxfwd_header(\"10\")) { sl_send_reply(\"483\", \"Too Many Hops\"); exit; }\n"
           "  if (is_method(\"OPTIONS\") && uri==myself && $rU==$null) { sl_send_reply(\"200\", \"OK\"); exit; }\n"
           "  if (has_totag()) {\n"
           "    if (loose_route()) { t_relay(); exit; }\n"
           "    if (is_method(\"ACK\")) { if (t_check_trans()) t_relay(); exit; }\n"
           "    sl_send_reply(\"404\", \"Not here\"); exit;\n"
           "  }\n"
           "  if (is_method(\"CANCEL\")) { if (t_check_trans()) t_relay(); exit; }\n"
           "  $var(pw) = \"\";\n"
        << passwords
        << "  if (is_method(\"REGISTER\")) {\n"
        << (domains == DomainRule::Strict
                ? std::string("    if ($td != \"") + kTestDomain + "\") { sl_send_reply(\"404\", \"Domain Not Served\"); exit; }\n"
                : std::string())
        << "    if (!pv_www_authenticate(\"faxtest\", \"$var(pw)\", \"0\")) { www_challenge(\"faxtest\", \"1\"); exit; }\n"
           "    save(\"location\");\n"
           "    exit;\n"
           "  }\n"
           "  if (is_method(\"INVITE\") && from_uri==myself) {\n"
           "    if (!pv_proxy_authenticate(\"faxtest\", \"$var(pw)\", \"0\")) { proxy_challenge(\"faxtest\", \"1\"); exit; }\n"
           "    consume_credentials();\n"
           "  }\n"
           "  if (is_method(\"INVITE\")) record_route();\n"
           "  if (!lookup(\"location\")) { sl_send_reply(\"404\", \"Not Found\"); exit; }\n"
           "  t_relay();\n"
           "}\n";
    // Small memory pools: it serves a handful of test requests.
    if (!process_.StartToFile({"kamailio", "-f", dir + "/kamailio.cfg", "-DD", "-E", "-Y", dir, "-w", dir, "-m", "32",
                               "-M", "8"},
                              dir + "/kamailio.out"))
      return false;
    const std::string options = "OPTIONS sip:127.0.0.1:" + std::to_string(port_) +
                                " SIP/2.0\r\n"
                                "Via: SIP/2.0/UDP 127.0.0.1:9;rport;branch=z9hG4bKprobe\r\n"
                                "Max-Forwards: 70\r\nFrom: <sip:probe@127.0.0.1>;tag=1\r\n"
                                "To: <sip:127.0.0.1>\r\nCall-ID: probe\r\nCSeq: 1 OPTIONS\r\nContent-Length: 0\r\n\r\n";
    for (int i = 0; i < 50; ++i) {  // up to 10 s
      if (process_.Ended()) return false;
      if (UdpExchange("127.0.0.1", port_, options, 200).compare(0, 11, "SIP/2.0 200") == 0) return true;
    }
    return false;
  }
  int port() const { return port_; }
  std::string uri() const { return "sip:127.0.0.1:" + std::to_string(port_); }
  std::string Output() const {
    std::ifstream in(dir_ + "/kamailio.out");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Stop() { process_.Stop(5000); }
  ~Kamailio() { Stop(); }

 private:
  qv::test::ChildProcess process_;
  int port_ = 0;
  std::string dir_;
};

}  // namespace qv::line::test
