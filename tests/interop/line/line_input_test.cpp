// What a stranger or a broken far end sends qvline's SIP port: an offer it cannot use is refused
// with 488 and a log line saying why, garbage is dropped, and the line still takes the next call.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>
#include <random>

#include "../../child_process.h"
#include "../../fax/e2e/fax_harness.h"

namespace qv::fax::test {
namespace {

// A UDP socket on 127.0.0.1 that sends raw text to qvline and reads its responses.
class RawSip {
 public:
  explicit RawSip(int target) : target_(target) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~RawSip() { close(fd_); }
  int port() const { return port_; }
  int target() const { return target_; }

  void Send(const std::string& bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(target_));
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }

  // The status of the first response to call `callId` at or above `atLeast`, within `ms`; 0 when
  // none came. (Final responses to earlier INVITEs come again until ACKed, which this never does.)
  int WaitStatus(int atLeast, const std::string& callId, int ms = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[4096];
      const ssize_t n = recv(fd_, buf, sizeof buf - 1, 0);
      if (n <= 12) continue;
      buf[n] = 0;
      int status = 0;
      if (std::strstr(buf, ("Call-ID: " + callId + "@").c_str()) == nullptr) continue;
      if (std::sscanf(buf, "SIP/2.0 %d", &status) == 1 && status >= atLeast) return status;
    }
    return 0;
  }

  std::string Invite(const std::string& callId, const std::string& sdp) const {
    const std::string me = "127.0.0.1:" + std::to_string(port_);
    const std::string uri = "sip:fax@127.0.0.1:" + std::to_string(target_);
    return "INVITE " + uri + " SIP/2.0\r\n" + "Via: SIP/2.0/UDP " + me + ";branch=z9hG4bK" + callId + ";rport\r\n" +
           "Max-Forwards: 70\r\nFrom: <sip:test@" + me + ">;tag=t" + callId + "\r\nTo: <" + uri + ">\r\n" +
           "Call-ID: " + callId + "@127.0.0.1\r\nCSeq: 1 INVITE\r\nContact: <sip:test@" + me + ">\r\n" +
           "Content-Type: application/sdp\r\nContent-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
  }

 private:
  int fd_ = -1, port_ = 0, target_ = 0;
};

int FreeUdpPort() {
  RawSip probe(0);
  return probe.port();
}

TEST(LineInput, BadOffersAndGarbageAreRefusedAndTheLineGoesOn) {
  TempDir dir;
  const int port = FreeUdpPort();
  qv::test::ChildProcess line;
  ASSERT_TRUE(line.StartWithPipe({QV_BIN_DIR "/qvline", "--link", dir.str("modem"), "--sip-listen",
                                  "127.0.0.1:" + std::to_string(port), "--log", dir.str("line.log"), "--t38", "off"},
                                 true));
  ASSERT_EQ(line.ReadLine().compare(0, 6, "ready "), 0);
  RawSip sip(port);

  // An offer with nothing a fax modem can use: IPv6 only, then a codec other than G.711.
  sip.Send(sip.Invite("bad1", "v=0\r\no=- 1 1 IN IP6 ::1\r\ns=-\r\nc=IN IP6 ::1\r\nt=0 0\r\nm=audio 4000 RTP/AVP 0\r\n"));
  EXPECT_EQ(sip.WaitStatus(200, "bad1"), 488);
  sip.Send(sip.Invite("bad2", "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                              "m=audio 4000 RTP/AVP 18\r\n"));
  EXPECT_EQ(sip.WaitStatus(200, "bad2"), 488);

  // Garbage of every size, and SIP that is not SIP: nothing answers, nothing breaks.
  std::mt19937 rng(29);
  for (int i = 0; i < 200; ++i) {
    std::string junk(rng() % 1400, '\0');
    for (auto& c : junk) c = static_cast<char>(rng());
    if (i % 4 == 0) junk = "INVITE sip:x SIP/2.0\r\nContent-Length: 99999999999\r\n\r\n" + junk;
    sip.Send(junk);
  }
  EXPECT_FALSE(line.Ended());

  // Still a working line: a good offer rings it. A burst larger than the socket's buffer loses
  // datagrams in the kernel, so the INVITE is sent again as a UA's timer A would (every 500 ms).
  const std::string good = sip.Invite("good", "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\n"
                                              "t=0 0\r\nm=audio 4000 RTP/AVP 8\r\n");
  int rang = 0;
  for (int i = 0; i < 8 && rang == 0; ++i) {
    sip.Send(good);
    rang = sip.WaitStatus(180, "good", 500);
  }
  EXPECT_EQ(rang, 180);
  line.Stop(5000);
  const std::string log = ReadText(dir.str("line.log"));
  EXPECT_NE(log.find("unusable offer: connection not IN IP4"), std::string::npos) << log;
  EXPECT_NE(log.find("unusable offer: no PCMU or PCMA audio offered"), std::string::npos) << log;
  EXPECT_NE(log.find("-> SIP/2.0 488 Not Acceptable Here"), std::string::npos) << log;
  EXPECT_NE(log.find("media: G.711 PCMA 20 ms"), std::string::npos) << log;
}

}  // namespace
}  // namespace qv::fax::test
