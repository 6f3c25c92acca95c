// qvline with a SIP account on a real SIP server: Debian's kamailio as registrar and proxy with
// digest authentication, started by the test on 127.0.0.1. The line registers and says so, says
// "wrong password" for a wrong one, and refuses an INVITE that does not come through the server.
// The password never shows: not in qvline's output, its log or its command line.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../../fax/e2e/fax_harness.h"
#include "line/line_status.h"
#include "registered_line.h"

namespace qv::line::test {
namespace {

using qv::fax::test::TempDir;

constexpr const char* kPassword = "correct-horse-7";

// An INVITE for the line's user from a caller at fromAddress, for `target` (the line itself, or
// its address of record at the server).
std::string Invite(const std::string& target, const std::string& fromAddress, int n) {
  const std::string sdp =
      "v=0\r\no=- 1 1 IN IP4 " + fromAddress + "\r\ns=-\r\nc=IN IP4 " + fromAddress +
      "\r\nt=0 0\r\nm=audio 40000 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n";
  return "INVITE " + target +
         " SIP/2.0\r\n"
         "Via: SIP/2.0/UDP " + fromAddress + ":5060;rport;branch=z9hG4bKscan" + std::to_string(n) +
         "\r\n"
         "Max-Forwards: 70\r\nFrom: \"scanner\" <sip:100@" + fromAddress + ">;tag=s" + std::to_string(n) +
         "\r\nTo: <" + target + ">\r\nCall-ID: scan" + std::to_string(n) +
         "\r\nCSeq: 1 INVITE\r\nContact: <sip:100@" + fromAddress +
         ":5060>\r\nContent-Type: application/sdp\r\nContent-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
}

std::string Invite(int linePort, const std::string& fromAddress, int n) {
  return Invite("sip:1001@127.0.0.1:" + std::to_string(linePort), fromAddress, n);
}

// The same INVITE as sent over TCP (its Via says so).
std::string TcpInvite(int linePort, const std::string& fromAddress, int n) {
  std::string invite = Invite(linePort, fromAddress, n);
  invite.replace(invite.find("SIP/2.0/UDP"), 11, "SIP/2.0/TCP");
  return invite;
}

// Connects from `fromAddress` to 127.0.0.1:port over TCP, sends `request` and returns the first
// response that is not provisional 100; "" when none came within timeoutMs.
std::string TcpExchange(const std::string& fromAddress, int port, const std::string& request, int timeoutMs) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, fromAddress.c_str(), &local.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string got, answer;
  if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
      connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
      send(s, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd p{s, POLLIN, 0};
    char buf[4096];
    while (answer.empty()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      const ssize_t n = recv(s, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
      // Responses on a stream follow one another; each ends its headers with a blank line (no
      // body in these).
      size_t end;
      while (answer.empty() && (end = got.find("\r\n\r\n")) != std::string::npos) {
        const std::string one = got.substr(0, end + 4);
        got.erase(0, end + 4);
        if (one.compare(0, 11, "SIP/2.0 100") != 0) answer = one;
      }
    }
  }
  if (s >= 0) close(s);
  return answer;
}

class LineRegistrar : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start(dir_.str(""), {{"1001", kPassword}, {"1002", "other-pw"}})); }
  void ExpectNoPassword(const RegisteredLine& line) {
    EXPECT_EQ(line.Output().find(kPassword), std::string::npos) << line.Output();
    EXPECT_EQ(line.Log().find(kPassword), std::string::npos) << line.Log();
    for (const std::string& a : line.args()) EXPECT_EQ(a.find(kPassword), std::string::npos) << a;
  }
  TempDir dir_;
  Kamailio server_;
};

TEST_F(LineRegistrar, RegistersAndSaysSo) {
  RegisteredLine line;
  ASSERT_TRUE(line.Start(dir_.str(""), "a", server_.uri(), "1001", kPassword)) << line.Output();
  ASSERT_TRUE(line.WaitFor(std::string(status::kRegistered) + "sip:1001@" + kTestDomain, 10))
      << line.Output() << line.Log() << server_.Output();
  EXPECT_EQ(line.Output().find(status::kRegistrationFailed), std::string::npos) << line.Output();
  // The server's challenge was answered: a 401 and then the 200.
  const std::string log = line.Log();
  EXPECT_NE(log.find("<- SIP/2.0 401"), std::string::npos) << log;
  EXPECT_NE(log.find("<- SIP/2.0 200"), std::string::npos) << log;
  ExpectNoPassword(line);
}

TEST_F(LineRegistrar, AWrongPasswordIsReportedAsSuchAndRetriedLater) {
  RegisteredLine line;
  ASSERT_TRUE(line.Start(dir_.str(""), "a", server_.uri(), "1001", "not-the-password")) << line.Output();
  ASSERT_TRUE(line.WaitFor(std::string(status::kRegistrationFailed) + std::string(status::kWrongPassword), 10))
      << line.Output() << line.Log();
  EXPECT_EQ(line.Output().find(status::kRegistered), std::string::npos) << line.Output();
  // It stays up and tries again later, without hammering the server.
  EXPECT_TRUE(line.Running());
  EXPECT_NE(line.Log().find("next attempt to register in 5 s"), std::string::npos) << line.Log();
  EXPECT_EQ(line.Log().find("not-the-password"), std::string::npos) << line.Log();
}

TEST_F(LineRegistrar, ANameThatDoesNotResolveIsADnsFailure) {
  RegisteredLine line;
  ASSERT_TRUE(line.Start(dir_.str(""), "a", "sip:registrar.nonexistent.invalid", "1001", kPassword)) << line.Output();
  EXPECT_TRUE(line.WaitFor(std::string(status::kRegistrationFailed) + std::string(status::kDnsFailure), 10))
      << line.Output() << line.Log();
}

TEST_F(LineRegistrar, APasswordFileOthersMayReadIsRefused) {
  const std::string secret = dir_.str("open.secret");
  std::ofstream(secret) << kPassword << "\n";
  chmod(secret.c_str(), 0644);
  qv::test::ChildProcess p;
  const std::string out = dir_.str("open.out");
  ASSERT_TRUE(p.StartToFile({QV_BIN_DIR "/qvline", "--link", dir_.str("m"), "--sip-listen",
                             "127.0.0.1:" + std::to_string(FreeUdpPort()), "--registrar", server_.uri(), "--user",
                             "1001", "--password-file", secret},
                            out));
  ASSERT_TRUE(p.WaitEnd(5000));
  EXPECT_NE(p.ExitStatus(), 0);
  const std::string said = ReadWhole(out);
  EXPECT_NE(said.find("may be read by others"), std::string::npos) << said;
  EXPECT_EQ(said.find(kPassword), std::string::npos) << said;
  EXPECT_EQ(said.find("ready"), std::string::npos) << said;
}

// A SIP scanner on another address: 403, a log line, and the modem never rings. A flood of them
// leaves the line up and its log short.
TEST_F(LineRegistrar, AnInviteFromAStrangerIsRefusedAndLogged) {
  RegisteredLine line;
  ASSERT_TRUE(line.Start(dir_.str(""), "a", server_.uri(), "1001", kPassword)) << line.Output();
  ASSERT_TRUE(line.WaitFor(std::string(status::kRegistered), 10)) << line.Output() << line.Log();
  const std::string answer = UdpExchange("127.0.0.3", line.port(), Invite(line.port(), "127.0.0.3", 0), 3000);
  EXPECT_EQ(answer.compare(0, 12, "SIP/2.0 403 "), 0) << answer;
  EXPECT_NE(line.Log().find("refused an INVITE from 127.0.0.3 port "), std::string::npos) << line.Log();
  EXPECT_NE(line.Log().find(", not our registrar"), std::string::npos) << line.Log();
  EXPECT_EQ(line.Log().find("incoming call"), std::string::npos) << line.Log();

  for (int i = 1; i <= 300; ++i) UdpExchange("127.0.0.4", line.port(), Invite(line.port(), "127.0.0.4", i), 500);
  EXPECT_TRUE(line.Running());
  const std::string log = line.Log();
  size_t lines = 0;
  for (size_t at = log.find("refused an INVITE"); at != std::string::npos; at = log.find("refused an INVITE", at + 1))
    ++lines;
  EXPECT_LE(lines, 13u) << log;  // ten in full, then one per hundred
  EXPECT_NE(log.find("(300 so far)"), std::string::npos) << log;
  EXPECT_EQ(log.find("incoming call"), std::string::npos) << log;
}

// A program on the server's own host, sending from a port that is not the server's (a scanner
// beside the proxy), is a stranger too; the same request relayed by the server is a call. The
// check is where the request comes from, address and port, not what it says about itself.
TEST_F(LineRegistrar, OnlyTheServersOwnPortIsTheServer) {
  RegisteredLine line;
  ASSERT_TRUE(line.Start(dir_.str(""), "a", server_.uri(), "1001", kPassword)) << line.Output();
  ASSERT_TRUE(line.WaitFor(std::string(status::kRegistered), 10)) << line.Output() << line.Log();
  const std::string beside = UdpExchange("127.0.0.1", line.port(), Invite(line.port(), "127.0.0.1", 1), 3000);
  EXPECT_EQ(beside.compare(0, 12, "SIP/2.0 403 "), 0) << beside;
  EXPECT_NE(line.Log().find("refused an INVITE from 127.0.0.1 port "), std::string::npos) << line.Log();
  EXPECT_EQ(line.Log().find("incoming call"), std::string::npos) << line.Log();

  // Through the server: it relays the INVITE from its own socket, the line rings, and the 180
  // comes back through the server to the caller.
  const std::string relayed =
      UdpExchange("127.0.0.5", server_.port(), Invite(std::string("sip:1001@") + kTestDomain, "127.0.0.5", 2), 5000);
  EXPECT_EQ(relayed.compare(0, 11, "SIP/2.0 180"), 0) << relayed << line.Log() << server_.Output();
  // The line logs the call just after its 180 has gone.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (line.Log().find("incoming call") == std::string::npos && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_NE(line.Log().find("incoming call"), std::string::npos) << line.Log();
}

// Over TCP a proxy that has no connection to the line opens one from a port its system picks:
// there the server's address is enough (a second call while the first rings is busy, 486).
TEST_F(LineRegistrar, OverTcpTheServersAddressIsEnough) {
  RegisteredLine line;
  ASSERT_TRUE(line.Start(dir_.str(""), "a", server_.uri(), "1001", kPassword)) << line.Output();
  ASSERT_TRUE(line.WaitFor(std::string(status::kRegistered), 10)) << line.Output() << line.Log();
  EXPECT_EQ(TcpExchange("127.0.0.3", line.port(), TcpInvite(line.port(), "127.0.0.3", 1), 3000).compare(0, 12, "SIP/2.0 403 "),
            0)
      << line.Log();
  const std::string fromServer = TcpExchange("127.0.0.1", line.port(), TcpInvite(line.port(), "127.0.0.1", 2), 3000);
  EXPECT_EQ(fromServer.compare(0, 11, "SIP/2.0 180"), 0) << fromServer << line.Log();
}

}  // namespace
}  // namespace qv::line::test
