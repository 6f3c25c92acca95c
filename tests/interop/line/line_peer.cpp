// The far-end fax machine for qvline's interop tests, sharing no code with qvline: SIP from libre
// (qvline uses sofia-sip), its own RTP, UDPTL and session description code, and spandsp's own
// T.30 terminals: fax_state on the audio, t38_terminal once the call is on T.38.
//   line_peer --sip ADDR:PORT (--answer | --call URI) (--send TIFF | --receive TIFF) [--seconds N]
//             [--refuse STATUS] [--hangup-after SECONDS] [--t38 off|start|accept|refuse|cross]
//             [--loss PERCENT --seed N] [--refresh-after SECONDS] [--vanish-after SECONDS] [--ecm on]
// --t38: start = sends the re-INVITE to T.38 itself once the call is up; accept = only accepts
// one; refuse = answers one with 488; off = G.711 only, as a plain phone would refuse it too;
// cross = holds its own re-INVITE until the line's comes, then sends it and answers the line's
// with 491: the two offers cross as when both ends decide at the same moment (a glare), and each
// retries after its delay, the peer 2.1-4 s when it made the Call-ID (it called), else 0-2 s.
// --loss drops that share of the UDPTL datagrams it sends and of those it receives, chosen by
// a generator seeded with --seed, so a run is repeatable. --refresh-after re-INVITEs with the
// description already agreed (a session refresh) that many seconds after the switch.
// --vanish-after goes silent that many seconds after the switch to T.38, as a far end whose host
// died would: no packet, no BYE.
// Prints "ready" once it listens and, at the end, "result COMPLETION pages N rate BPS sip STATUS
// media g711|t38 dropped N t38ms MS" (MS: from the switch to T.38 to the end of T.30, -1 when
// there was none; COMPLETION: spandsp's T.30 completion code, -1 when T.30 never finished).
#include <arpa/inet.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
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
  std::string t38 = "off";
  double loss = 0;      // percent of UDPTL datagrams dropped each way
  unsigned seed = 1;
  int refreshAfter = 0;
  int vanishAfter = 0;
  bool ecm = false;  // --ecm on: its T.30 offers and takes error correction
};

// The peer's own UDPTL: two secondary IFPs in each datagram it sends, and the secondaries of
// what it receives used to fill gaps. Written apart from the line's, which is under test.
class PeerUdptl {
 public:
  std::vector<uint8_t> Wrap(const uint8_t* ifp, int len) {
    std::vector<uint8_t> d = {static_cast<uint8_t>(seq_ >> 8), static_cast<uint8_t>(seq_ & 0xFF)};
    Put(d, ifp, static_cast<size_t>(len));
    d.push_back(0x00);  // redundancy
    d.push_back(static_cast<uint8_t>(history_.size()));
    for (const auto& h : history_) Put(d, h.data(), h.size());
    history_.emplace_front(ifp, ifp + len);
    if (history_.size() > 2) history_.pop_back();
    ++seq_;
    return d;
  }
  // Hands on (seq, ifp, len): first what the secondaries fill of a gap, then the primary.
  template <class F>
  void Unwrap(const uint8_t* d, size_t n, F deliver) {
    size_t pos = 0;
    auto field = [&](std::vector<uint8_t>& out) {
      if (pos >= n) return false;
      size_t len = d[pos++];
      if (len & 0x80) {
        if (pos >= n || (len & 0x40)) return false;
        len = ((len & 0x3F) << 8) | d[pos++];
      }
      if (len == 0 || len > n - pos) return false;
      out.assign(d + pos, d + pos + len);
      pos += len;
      return true;
    };
    if (n < 4) return;
    const uint16_t seq = static_cast<uint16_t>(d[0] << 8 | d[1]);
    pos = 2;
    std::vector<uint8_t> primary;
    if (!field(primary) || pos >= n) return;
    std::vector<std::vector<uint8_t>> secondaries;
    if (d[pos++] == 0x00 && pos < n) {
      const size_t count = d[pos++];
      for (size_t i = 0; i < count && i < 16; ++i) {
        std::vector<uint8_t> f;
        if (!field(f)) break;
        secondaries.push_back(f);
      }
    }
    if (!started_) expected_ = seq, started_ = true;
    const int16_t ahead = static_cast<int16_t>(seq - expected_);
    if (ahead < 0) return;  // a repeat, or late
    for (int k = ahead; k > 0; --k)
      if (static_cast<size_t>(k) <= secondaries.size())
        deliver(static_cast<uint16_t>(seq - k), secondaries[k - 1].data(), static_cast<int>(secondaries[k - 1].size()));
    deliver(seq, primary.data(), static_cast<int>(primary.size()));
    expected_ = static_cast<uint16_t>(seq + 1);
  }

 private:
  static void Put(std::vector<uint8_t>& d, const uint8_t* p, size_t n) {
    if (n < 128) {
      d.push_back(static_cast<uint8_t>(n));
    } else {
      d.push_back(static_cast<uint8_t>(0x80 | (n >> 8)));
      d.push_back(static_cast<uint8_t>(n & 0xFF));
    }
    d.insert(d.end(), p, p + n);
  }
  uint16_t seq_ = 0, expected_ = 0;
  bool started_ = false;
  std::deque<std::vector<uint8_t>> history_;
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
  int udptlPort() const { return udptlPort_; }
  bool OpenUdptl(const std::string& addr) {
    udptl_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, addr.c_str(), &local.sin_addr);
    if (udptl_ < 0 || bind(udptl_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return false;
    socklen_t len = sizeof local;
    getsockname(udptl_, reinterpret_cast<sockaddr*>(&local), &len);
    udptlPort_ = ntohs(local.sin_port);
    return true;
  }
  // From the next tick on, the call is T.38 to addr:port, with `terminal` as the fax machine.
  void SwitchToT38(const std::string& addr, int port, t38_terminal_state_t* terminal, double loss, unsigned seed) {
    std::lock_guard<std::mutex> lock(switchMutex_);
    t38Remote_ = sockaddr_in{};
    t38Remote_.sin_family = AF_INET;
    t38Remote_.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, addr.c_str(), &t38Remote_.sin_addr);
    pendingTerminal_ = terminal;
    loss_ = loss / 100.0;
    rng_.seed(seed);
  }
  bool OnT38() const { return onT38_; }
  void Vanish() { vanished_ = true; }
  long Dropped() const { return dropped_; }

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
public:
  static int SendIfp(t38_core_state_t*, void* user, const uint8_t* ifp, int len, int count) {
    auto* self = static_cast<Media*>(user);
    for (int i = 0; i < count; ++i) {
      const auto d = self->udptlOut_.Wrap(ifp, len);
      if (self->vanished_ || self->Drop()) continue;
      sendto(self->udptl_, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&self->t38Remote_), sizeof self->t38Remote_);
    }
    return 0;
  }
  bool Drop() {
    if (loss_ <= 0 || std::uniform_real_distribution<double>(0, 1)(rng_) >= loss_) return false;
    ++dropped_;
    return true;
  }
private:
  void T38Tick() {
    uint8_t in[2048];
    ssize_t got;
    while ((got = recv(udptl_, in, sizeof in, 0)) > 0) {
      if (Drop()) continue;
      t38_core_state_t* core = t38_terminal_get_t38_core_state(terminal_);
      udptlIn_.Unwrap(in, static_cast<size_t>(got), [core](uint16_t seq, const uint8_t* ifp, int len) {
        t38_core_rx_ifp_packet(core, ifp, len, seq);
      });
    }
    t38_terminal_send_timeout(terminal_, kSamples);
  }

  void Run() {
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    uint16_t seq = 1000;
    uint32_t ts = 5000;
    std::deque<std::vector<uint8_t>> queue;
    bool playing = false;
    while (running_) {
      {
        std::lock_guard<std::mutex> lock(switchMutex_);
        if (pendingTerminal_) {
          terminal_ = pendingTerminal_;
          pendingTerminal_ = nullptr;
          onT38_ = true;
        }
      }
      if (onT38_) {
        T38Tick();
        uint8_t late[2048];
        while (recv(sock_, late, sizeof late, 0) > 0) {
        }  // audio after the switch: dropped
        next.tv_nsec += 20000000;
        if (next.tv_nsec >= 1000000000) {
          next.tv_nsec -= 1000000000;
          ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        continue;
      }
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
  int udptl_ = -1, udptlPort_ = 0;
  sockaddr_in t38Remote_{};
  std::mutex switchMutex_;
  t38_terminal_state_t* pendingTerminal_ = nullptr;
  t38_terminal_state_t* terminal_ = nullptr;  // the media thread's own once switched
  std::atomic<bool> onT38_{false};
  PeerUdptl udptlOut_, udptlIn_;
  double loss_ = 0;
  std::mt19937 rng_;
  std::atomic<long> dropped_{0};
  std::atomic<bool> vanished_{false};
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
  t38_terminal_state_t* t38 = nullptr;  // the fax machine once the call is on T.38
  int upAt = -1;                        // the tick the call was answered
  bool modifying = false, modifySent = false, refreshSent = false;
  int switchedAt = -1;
  struct sip_lsnr* crossLsnr = nullptr;  // --t38 cross: sees the line's re-INVITE before the session
  bool crossed = false;                  // our offer has crossed the line's
  int retryAt = -1;                      // after the 491 to our own offer: the tick it goes again
  timespec switchedTime{}, doneTime{};
  int sdpVersion = 1;
};
Peer g;

std::string ImageOffer(int port) {
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "v=0\r\no=peer 1 %d IN IP4 %s\r\ns=peer\r\nc=IN IP4 %s\r\nt=0 0\r\nm=image %d udptl t38\r\n"
                "a=T38FaxVersion:0\r\na=T38MaxBitRate:14400\r\na=T38FaxRateManagement:transferredTCF\r\n"
                "a=T38FaxMaxBuffer:1800\r\na=T38FaxMaxDatagram:300\r\na=T38FaxUdpEC:t38UDPRedundancy\r\n",
                ++g.sdpVersion, g.o.sipAddr.c_str(), g.o.sipAddr.c_str(), port);
  return buf;
}

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

// The far side's T.38 address from its description; false when it has no image stream.
bool ReadImage(const std::string& sdp, std::string& addr, int& port) {
  const size_t c = sdp.find("c=IN IP4 ");
  const size_t m = sdp.find("m=image ");
  if (c == std::string::npos || m == std::string::npos) return false;
  addr = sdp.substr(c + 9, sdp.find_first_of("\r\n/", c + 9) - (c + 9));
  return std::sscanf(sdp.c_str() + m, "m=image %d", &port) == 1 && port > 0;
}

void PhaseE(t30_state_t* t30, void*, int code);

// The T.30 trace, stamped in milliseconds on the monotonic clock (as qvline's --log is), so the
// two sides of a call can be laid side by side turn by turn.
void TraceLine(int, const char* text) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  std::fprintf(stderr, "%ld.%03ld t30 %s", static_cast<long>(now.tv_sec), now.tv_nsec / 1000000, text);
}

void ConfigureT30(t30_state_t* t30) {
  t30_set_tx_ident(t30, "LINE PEER");
  t30_set_ecm_capability(t30, g.o.ecm ? 1 : 0);
  t30_set_supported_modems(t30, T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
  t30_set_supported_compressions(t30, T30_SUPPORT_T4_1D_COMPRESSION);
  if (!g.o.sendTiff.empty()) t30_set_tx_file(t30, g.o.sendTiff.c_str(), -1, -1);
  else t30_set_rx_file(t30, g.o.receiveTiff.c_str(), -1);
  t30_set_phase_e_handler(t30, PhaseE, nullptr);
  if (std::getenv("QV_LINE_PEER_TRACE")) {
    span_log_set_level(t30_get_logging_state(t30), SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_SHOW_PROTOCOL | SPAN_LOG_FLOW);
    span_log_set_message_handler(t30_get_logging_state(t30), TraceLine);
  }
}

// From here on the fax machine is a T.38 terminal: a T.30 of its own, started afresh, as a
// gateway's far side would be; the audio one is no longer fed.
bool SwitchToT38(const std::string& sdp) {
  std::string addr;
  int port = 0;
  if (!ReadImage(sdp, addr, port)) {
    std::fprintf(stderr, "peer: no usable image stream\n%s\n", sdp.c_str());
    return false;
  }
  g.t38 = t38_terminal_init(nullptr, !g.o.callUri.empty(), &Media::SendIfp, &g.media);
  t38_core_state_t* core = t38_terminal_get_t38_core_state(g.t38);
  t38_set_t38_version(core, 0);
  t38_set_data_rate_management_method(core, T38_DATA_RATE_MANAGEMENT_TRANSFERRED_TCF);
  t38_set_max_datagram_size(core, 200);
  ConfigureT30(t38_terminal_get_t30_state(g.t38));
  g.media.SwitchToT38(addr, port, g.t38, g.o.loss, g.o.seed);
  g.switchedAt = g.ticks;
  clock_gettime(CLOCK_MONOTONIC, &g.switchedTime);
  std::fprintf(stderr, "peer: on T.38 to %s:%d\n", addr.c_str(), port);
  return true;
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
  clock_gettime(CLOCK_MONOTONIC, &g.doneTime);
  g.completion = code;
  g.faxDone = true;
}

int Answered(const struct sip_msg* msg, void*) {
  if (g.mediaStarted) {
    // The answer to our re-INVITE (or its refresh).
    g.modifying = false;
    if (msg->scode == 491) {
      // RFC 3261 14.1: the end that made the Call-ID waits 2.1-4 s, the other 0-2 s, in 10 ms units.
      std::mt19937 rng(g.o.seed);
      const int ms = !g.o.callUri.empty() ? 2100 + static_cast<int>(rng() % 191) * 10 : static_cast<int>(rng() % 201) * 10;
      g.retryAt = g.ticks + (ms + 99) / 100;
      std::fprintf(stderr, "peer: our re-INVITE met 491: again in %d ms unless the line's comes first\n", ms);
      return 0;
    }
    if (msg->scode < 300 && !g.media.OnT38()) SwitchToT38(Body(msg));
    return 0;
  }
  g.sipStatus = msg->scode;
  g.upAt = g.ticks;
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
// A re-INVITE from the line: T.38 taken or refused as --t38 says; audio answered as it is.
int Offered(struct mbuf** descp, const struct sip_msg* msg, void*) {
  const std::string body = Body(msg);
  std::string answer;
  if (body.find("m=image") != std::string::npos) {
    if (g.o.t38 != "accept" && g.o.t38 != "start" && g.o.t38 != "cross") {
      std::fprintf(stderr, "peer: refusing T.38\n");
      return EPROTO;  // libre answers an offer its handler fails with 488
    }
    answer = ImageOffer(g.media.udptlPort());
    if (!g.media.OnT38() && !SwitchToT38(body)) return EPROTO;
  } else {
    answer = Offer(g.media.port());
  }
  *descp = mbuf_alloc(512);
  mbuf_write_str(*descp, answer.c_str());
  (*descp)->pos = 0;
  return 0;
}

void Modify(const std::string& sdp) {
  struct mbuf* mb = mbuf_alloc(512);
  mbuf_write_str(mb, sdp.c_str());
  mb->pos = 0;
  const int err = sipsess_modify(g.sess, mb);
  mem_deref(mb);
  if (err == 0) g.modifying = true;
}

// --t38 cross: the line's re-INVITE to T.38, held back from the session. Our own offer goes out
// first, then the line's is answered 491: both offers were pending at each end at once.
bool CrossReinvite(const struct sip_msg* msg, void*) {
  if (g.crossed || !g.sess || g.media.OnT38() || pl_strcmp(&msg->met, "INVITE") != 0 || !pl_isset(&msg->to.tag))
    return false;
  g.crossed = true;
  Modify(ImageOffer(g.media.udptlPort()));
  std::fprintf(stderr, "peer: crossing the line's re-INVITE with ours (%s)\n", g.modifying ? "sent" : "NOT sent");
  sip_treply(nullptr, g.sip, msg, 491, "Request Pending");
  return true;
}

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
    g.upAt = g.ticks;
    StartFax(g.offer);
  }
  // --t38 start: the re-INVITE goes as soon as the call is up (the ACK has come by then).
  if (g.o.t38 == "start" && g.sess && g.upAt >= 0 && g.ticks >= g.upAt + 3 && !g.modifySent && !g.media.OnT38() &&
      !g.modifying) {
    Modify(ImageOffer(g.media.udptlPort()));
    g.modifySent = g.modifying;
  }
  if (g.retryAt >= 0 && g.ticks >= g.retryAt) {
    g.retryAt = -1;
    if (g.sess && !g.media.OnT38() && !g.modifying) {
      std::fprintf(stderr, "peer: offering T.38 again after the glare\n");
      Modify(ImageOffer(g.media.udptlPort()));
    }
  }
  if (g.o.vanishAfter > 0 && g.switchedAt >= 0 && g.ticks == g.switchedAt + g.o.vanishAfter * 10) {
    std::fprintf(stderr, "peer: vanishing\n");
    g.media.Vanish();
  }
  if (g.o.refreshAfter > 0 && g.sess && g.switchedAt >= 0 && !g.refreshSent && !g.modifying &&
      g.ticks >= g.switchedAt + g.o.refreshAfter * 10) {
    std::fprintf(stderr, "peer: session refresh\n");
    Modify(ImageOffer(g.media.udptlPort()));
    g.refreshSent = g.modifying;
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
    else if (a == "--t38") g.o.t38 = v;
    else if (a == "--loss") g.o.loss = std::atof(v.c_str());
    else if (a == "--seed") g.o.seed = static_cast<unsigned>(std::strtoul(v.c_str(), nullptr, 10));
    else if (a == "--refresh-after") g.o.refreshAfter = std::atoi(v.c_str());
    else if (a == "--vanish-after") g.o.vanishAfter = std::atoi(v.c_str());
    else if (a == "--ecm") g.o.ecm = v == "on";
  }
  if (g.o.sipAddr.empty() || (g.o.answer == !g.o.callUri.empty()) || (g.o.sendTiff.empty() == g.o.receiveTiff.empty())) {
    std::fprintf(stderr, "usage: line_peer --sip ADDR:PORT (--answer | --call URI) (--send TIFF | --receive TIFF)\n");
    return 2;
  }
  const bool calling = !g.o.callUri.empty();
  g.fax = fax_init(nullptr, calling);
  fax_set_transmit_on_idle(g.fax, 1);
  ConfigureT30(fax_get_t30_state(g.fax));

  if (libre_init() != 0 || !g.media.Open(g.o.sipAddr) || !g.media.OpenUdptl(g.o.sipAddr)) return 1;
  struct sa laddr, ns;
  sa_set_str(&laddr, g.o.sipAddr.c_str(), static_cast<uint16_t>(g.o.sipPort));
  sa_set_str(&ns, "127.0.0.1", 53);
  struct dnsc* dnsc = nullptr;
  dnsc_alloc(&dnsc, nullptr, &ns, 1);  // never asked: every address in these tests is numeric
  if (sip_alloc(&g.sip, dnsc, 32, 32, 32, "line-peer", nullptr, nullptr) != 0 ||
      sip_transp_add(g.sip, SIP_TRANSP_UDP, &laddr) != 0 ||
      (g.o.t38 == "cross" && sip_listen(&g.crossLsnr, g.sip, true, CrossReinvite, nullptr) != 0) || sipsess_listen(&g.sock, g.sip, 32, Incoming, nullptr) != 0) {
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
  const long t38ms = g.switchedAt >= 0 && g.faxDone
                        ? (g.doneTime.tv_sec - g.switchedTime.tv_sec) * 1000 +
                              (g.doneTime.tv_nsec - g.switchedTime.tv_nsec) / 1000000
                        : -1;
  std::printf("result %d pages %d rate %d sip %d media %s dropped %ld t38ms %ld\n", g.faxDone ? g.completion : -1,
              calling ? g.stats.pages_tx : g.stats.pages_rx, g.stats.bit_rate, g.sipStatus,
              g.media.OnT38() ? "t38" : "g711", g.media.Dropped(), t38ms);
  std::fflush(stdout);
  fax_free(g.fax);
  if (g.t38) t38_terminal_free(g.t38);
  g.crossLsnr = static_cast<struct sip_lsnr*>(mem_deref(g.crossLsnr));
  sip_close(g.sip, true);
  return 0;
}
