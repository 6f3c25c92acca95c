// The far-end fax machine for qvline's interop tests, sharing no code with qvline: SIP from libre
// (qvline uses sofia-sip), its own RTP and session description code, and spandsp's own T.30
// terminal (fax_state) on the audio.
//   line_peer --sip ADDR:PORT (--answer | --call URI) (--send TIFF | --receive TIFF) [--seconds N]
//             [--refuse STATUS] [--hangup-after SECONDS]
// Prints "ready" once it listens and, at the end, "result COMPLETION pages N rate BPS sip STATUS"
// (COMPLETION: spandsp's T.30 completion code, -1 when T.30 never finished).
#include <arpa/inet.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <re.h>
#include <spandsp.h>
}

namespace {

constexpr int kSamples = 160;

struct Options {
  std::string sipAddr;
  int sipPort = 0;
  bool answer = false;
  std::string callUri;
  std::string sendTiff, receiveTiff;
  int seconds = 120;
  int refuse = 0;  // answer every INVITE with this final status instead
  int hangupAfter = 0;  // seconds after the answer: hang up (BYE) whatever T.30 is doing
};

// The audio path: RTP in and out on its own thread, 20 ms a packet on the monotonic clock.
class Media {
 public:
  bool Open(const std::string& addr) {
    sock_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, addr.c_str(), &local.sin_addr);
    if (sock_ < 0 || bind(sock_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return false;
    socklen_t len = sizeof local;
    getsockname(sock_, reinterpret_cast<sockaddr*>(&local), &len);
    port_ = ntohs(local.sin_port);
    return true;
  }
  int port() const { return port_; }

  void Start(const std::string& addr, int port, int pt, fax_state_t* fax) {
    remote_.sin_family = AF_INET;
    remote_.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, addr.c_str(), &remote_.sin_addr);
    pt_ = pt;
    fax_ = fax;
    running_ = true;
    thread_ = std::thread([this] { Run(); });
  }
  void Stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Run() {
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    uint16_t seq = 1000;
    uint32_t ts = 5000;
    std::deque<std::vector<uint8_t>> queue;
    bool playing = false;
    while (running_) {
      int16_t amp[kSamples] = {};
      int n = fax_tx(fax_, amp, kSamples);
      for (int i = n < 0 ? 0 : n; i < kSamples; ++i) amp[i] = 0;
      uint8_t pkt[12 + kSamples];
      pkt[0] = 0x80;
      pkt[1] = static_cast<uint8_t>(pt_);
      pkt[2] = static_cast<uint8_t>(seq >> 8);
      pkt[3] = static_cast<uint8_t>(seq);
      for (int i = 0; i < 4; ++i) pkt[4 + i] = static_cast<uint8_t>(ts >> (24 - 8 * i));
      pkt[8] = 0x12, pkt[9] = 0x34, pkt[10] = 0x56, pkt[11] = 0x78;
      for (int i = 0; i < kSamples; ++i) pkt[12 + i] = pt_ == 0 ? linear_to_ulaw(amp[i]) : linear_to_alaw(amp[i]);
      sendto(sock_, pkt, sizeof pkt, 0, reinterpret_cast<sockaddr*>(&remote_), sizeof remote_);
      ++seq;
      ts += kSamples;

      uint8_t in[2048];
      ssize_t got;
      while ((got = recv(sock_, in, sizeof in, 0)) > 0)
        if (got == 12 + kSamples && (in[0] >> 6) == 2 && (in[1] & 0x7F) == pt_)
          queue.emplace_back(in + 12, in + 12 + kSamples);
      // A fixed 120 ms of buffer, then one packet per tick: a loaded test machine can hold
      // either end off the CPU for longer than a network's jitter.
      if (!playing && queue.size() >= 6) playing = true;
      if (playing && !queue.empty()) {
        for (int i = 0; i < kSamples; ++i)
          amp[i] = pt_ == 0 ? ulaw_to_linear(queue.front()[i]) : alaw_to_linear(queue.front()[i]);
        queue.pop_front();
        fax_rx(fax_, amp, kSamples);
      } else if (playing) {
        fax_rx_fillin(fax_, kSamples);
      }
      next.tv_nsec += 20000000;
      if (next.tv_nsec >= 1000000000) {
        next.tv_nsec -= 1000000000;
        ++next.tv_sec;
      }
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
  }

  int sock_ = -1, port_ = 0, pt_ = 0;
  sockaddr_in remote_{};
  fax_state_t* fax_ = nullptr;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

struct Peer {
  Options o;
  struct sip* sip = nullptr;
  struct sipsess_sock* sock = nullptr;
  struct sipsess* sess = nullptr;
  struct tmr tick;
  Media media;
  fax_state_t* fax = nullptr;
  std::atomic<bool> faxDone{false};
  int completion = -1;
  t30_stats_t stats{};
  int sipStatus = 0;
  bool closed = false;
  int ticks = 0, doneTicks = -1, closedTicks = -1, answerAt = -1;
  bool mediaStarted = false;
  std::string offer;  // the caller's, kept until we answer
};
Peer g;

std::string Offer(int port) {
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "v=0\r\no=peer 1 1 IN IP4 %s\r\ns=peer\r\nc=IN IP4 %s\r\nt=0 0\r\nm=audio %d RTP/AVP 0 8\r\n"
                "a=rtpmap:0 PCMU/8000\r\na=rtpmap:8 PCMA/8000\r\na=ptime:20\r\n",
                g.o.sipAddr.c_str(), g.o.sipAddr.c_str(), port);
  return buf;
}

// The far side's audio address and first G.711 payload type from its description.
bool ReadSdp(const std::string& sdp, std::string& addr, int& port, int& pt) {
  const size_t c = sdp.find("c=IN IP4 ");
  const size_t m = sdp.find("m=audio ");
  if (c == std::string::npos || m == std::string::npos) return false;
  addr = sdp.substr(c + 9, sdp.find_first_of("\r\n/", c + 9) - (c + 9));
  char proto[32] = {};
  int first = -1;
  if (std::sscanf(sdp.c_str() + m, "m=audio %d %31s %d", &port, proto, &first) != 3) return false;
  pt = first;
  return pt == 0 || pt == 8;
}

std::string Body(const struct sip_msg* msg) {
  return msg && msg->mb ? std::string(reinterpret_cast<const char*>(mbuf_buf(msg->mb)), mbuf_get_left(msg->mb)) : "";
}

void StartFax(const std::string& sdp) {
  std::string addr;
  int port = 0, pt = 0;
  if (!ReadSdp(sdp, addr, port, pt)) {
    std::fprintf(stderr, "peer: unusable SDP\n%s\n", sdp.c_str());
    return;
  }
  g.mediaStarted = true;
  g.media.Start(addr, port, pt, g.fax);
}

void PhaseE(t30_state_t* t30, void*, int code) {
  t30_get_transfer_statistics(t30, &g.stats);
  g.completion = code;
  g.faxDone = true;
}

int Answered(const struct sip_msg* msg, void*) {
  g.sipStatus = msg->scode;
  StartFax(Body(msg));
  return 0;
}
void Progress(const struct sip_msg* msg, void*) { g.sipStatus = msg->scode; }
void Established(const struct sip_msg*, void*) {}
void Closed(int err, const struct sip_msg* msg, void*) {
  if (msg && msg->scode) g.sipStatus = msg->scode;
  std::fprintf(stderr, "peer: session closed (%d, %d)\n", err, msg ? msg->scode : 0);
  g.closed = true;
  g.sess = static_cast<struct sipsess*>(mem_deref(g.sess));
}
int Offered(struct mbuf**, const struct sip_msg*, void*) { return EPROTO; }  // no re-INVITE in G.711 tests

void Incoming(const struct sip_msg* msg, void*) {
  if (g.sess) {
    sip_treply(nullptr, g.sip, msg, 486, "Busy Here");
    return;
  }
  if (g.o.refuse) {
    sip_treply(nullptr, g.sip, msg, static_cast<uint16_t>(g.o.refuse), "Refused by the test");
    g.sipStatus = g.o.refuse;
    g.closed = true;
    return;
  }
  g.sipStatus = 0;
  const std::string offer = Body(msg);
  struct mbuf* none = nullptr;
  if (sipsess_accept(&g.sess, g.sock, msg, 180, "Ringing", "peer", "application/sdp", none, nullptr, nullptr, false,
                     Offered, Answered, Established, nullptr, nullptr, Closed, nullptr, nullptr) != 0) {
    std::fprintf(stderr, "peer: cannot accept\n");
    return;
  }
  // Answer a second later, as a fax machine picks up after its first ring.
  g.answerAt = g.ticks + 10;
  g.offer = offer;
  g.sipStatus = 180;
}

void Tick(void*) {
  ++g.ticks;
  if (g.answerAt == g.ticks && g.sess) {
    struct mbuf* mb = mbuf_alloc(512);
    mbuf_write_str(mb, Offer(g.media.port()).c_str());
    mb->pos = 0;
    // The content type was given to sipsess_accept; a second one here would make the 200 malformed.
    if (sipsess_answer(g.sess, 200, "OK", mb, "") != 0) std::fprintf(stderr, "peer: cannot answer\n");
    mem_deref(mb);
    g.sipStatus = 200;
    StartFax(g.offer);
  }
  if (g.o.hangupAfter > 0 && g.answerAt > 0 && g.ticks == g.answerAt + g.o.hangupAfter * 10 && g.sess) {
    std::fprintf(stderr, "peer: hanging up mid-call\n");
    g.sess = static_cast<struct sipsess*>(mem_deref(g.sess));  // BYE
    g.closed = true;
  }
  if (g.faxDone && g.doneTicks < 0) g.doneTicks = g.ticks;
  // After T.30 ends: the far side normally hangs up; if it does not within 5 s, we do.
  // A far side that hangs up on its DCN ends the call before spandsp's T.30 has seen its own
  // last frame out: the audio runs on for up to 3 s so that T.30 reaches its end.
  if (g.closed && g.closedTicks < 0) g.closedTicks = g.ticks;
  const bool over = g.ticks > g.o.seconds * 10 || (g.closed && (g.faxDone || g.ticks - g.closedTicks > 30)) ||
                    (g.doneTicks >= 0 && g.ticks - g.doneTicks > 50);
  if (over) {
    if (g.sess) g.sess = static_cast<struct sipsess*>(mem_deref(g.sess));  // BYE or CANCEL
    re_cancel();
    return;
  }
  tmr_start(&g.tick, 100, Tick, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc || (i < argc && std::string(argv[i]) == "--answer"); ++i) {
    const std::string a = argv[i];
    if (a == "--answer") {
      g.o.answer = true;
      continue;
    }
    const std::string v = argv[++i];
    if (a == "--sip") {
      g.o.sipAddr = v.substr(0, v.rfind(':'));
      g.o.sipPort = std::atoi(v.substr(v.rfind(':') + 1).c_str());
    } else if (a == "--call") g.o.callUri = v;
    else if (a == "--send") g.o.sendTiff = v;
    else if (a == "--receive") g.o.receiveTiff = v;
    else if (a == "--seconds") g.o.seconds = std::atoi(v.c_str());
    else if (a == "--refuse") g.o.refuse = std::atoi(v.c_str());
    else if (a == "--hangup-after") g.o.hangupAfter = std::atoi(v.c_str());
  }
  if (g.o.sipAddr.empty() || (g.o.answer == !g.o.callUri.empty()) || (g.o.sendTiff.empty() == g.o.receiveTiff.empty())) {
    std::fprintf(stderr, "usage: line_peer --sip ADDR:PORT (--answer | --call URI) (--send TIFF | --receive TIFF)\n");
    return 2;
  }
  const bool calling = !g.o.callUri.empty();
  g.fax = fax_init(nullptr, calling);
  fax_set_transmit_on_idle(g.fax, 1);
  t30_state_t* t30 = fax_get_t30_state(g.fax);
  t30_set_tx_ident(t30, "LINE PEER");
  t30_set_ecm_capability(t30, 0);
  t30_set_supported_modems(t30, T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
  t30_set_supported_compressions(t30, T30_SUPPORT_T4_1D_COMPRESSION);
  if (!g.o.sendTiff.empty()) t30_set_tx_file(t30, g.o.sendTiff.c_str(), -1, -1);
  else t30_set_rx_file(t30, g.o.receiveTiff.c_str(), -1);
  t30_set_phase_e_handler(t30, PhaseE, nullptr);
  if (std::getenv("QV_LINE_PEER_TRACE"))
    span_log_set_level(t30_get_logging_state(t30), SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_SHOW_PROTOCOL | SPAN_LOG_FLOW);

  if (libre_init() != 0 || !g.media.Open(g.o.sipAddr)) return 1;
  struct sa laddr, ns;
  sa_set_str(&laddr, g.o.sipAddr.c_str(), static_cast<uint16_t>(g.o.sipPort));
  sa_set_str(&ns, "127.0.0.1", 53);
  struct dnsc* dnsc = nullptr;
  dnsc_alloc(&dnsc, nullptr, &ns, 1);  // never asked: every address in these tests is numeric
  if (sip_alloc(&g.sip, dnsc, 32, 32, 32, "line-peer", nullptr, nullptr) != 0 ||
      sip_transp_add(g.sip, SIP_TRANSP_UDP, &laddr) != 0 || sipsess_listen(&g.sock, g.sip, 32, Incoming, nullptr) != 0) {
    std::fprintf(stderr, "peer: cannot listen on %s:%d\n", g.o.sipAddr.c_str(), g.o.sipPort);
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  if (calling) {
    struct mbuf* mb = mbuf_alloc(512);
    mbuf_write_str(mb, Offer(g.media.port()).c_str());
    mb->pos = 0;
    const std::string from = "sip:peer@" + g.o.sipAddr + ":" + std::to_string(g.o.sipPort);
    const int err = sipsess_connect(&g.sess, g.sock, g.o.callUri.c_str(), "peer", from.c_str(), "peer", nullptr, 0,
                                    "application/sdp", mb, nullptr, nullptr, false, Offered, Answered, Progress,
                                    Established, nullptr, nullptr, Closed, nullptr, nullptr);
    mem_deref(mb);
    if (err) {
      std::fprintf(stderr, "peer: cannot call %s (%d)\n", g.o.callUri.c_str(), err);
      return 1;
    }
  }
  tmr_init(&g.tick);
  tmr_start(&g.tick, 100, Tick, nullptr);
  re_main(nullptr);
  g.media.Stop();
  tmr_cancel(&g.tick);
  std::printf("result %d pages %d rate %d sip %d\n", g.faxDone ? g.completion : -1,
              calling ? g.stats.pages_tx : g.stats.pages_rx, g.stats.bit_rate, g.sipStatus);
  std::fflush(stdout);
  fax_free(g.fax);
  sip_close(g.sip, true);
  return 0;
}
