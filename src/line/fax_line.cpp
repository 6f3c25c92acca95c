#include "line/fax_line.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <random>

extern "C" {
#include <spandsp.h>
// t31's AT interpreter (the first member of its state) speaks the result codes t31 itself does
// not give for a call that fails while dialling.
#include <spandsp/expose.h>
}

#include "line/line_status.h"
#include "line/sdp.h"

namespace qv::line {

namespace {
constexpr int kTickMs = 20;
constexpr long kTicksPerSecond = 1000 / kTickMs;
// More than this many ticks behind (the process was starved): the line resumes where it stands
// instead of catching up in a burst no real line would produce.
constexpr int kMaxCatchUpTicks = 5;
constexpr long kMaxBadMediaLogLines = 20;  // a flood of bad packets must not flood the log
constexpr size_t kMaxWatchedCommand = 64;  // longer than any +F command the DTE sends
// Not a spandsp call event: the dial failed in a way a modem reports as NO CARRIER. t31 answers
// AT_CALL_EVENT_HANGUP during the dial by going on hook silently, which leaves the DTE waiting.
constexpr int kEventNoCarrier = -1;
// The answering line offers T.38 this long after its 200: the far end's ACK has come by then,
// and the calling fax is still in its CNG, long before the first T.30 frame.
constexpr long kAnswererSwitchTicks = kTicksPerSecond;
// After a glare (491) each end retries after a random delay (RFC 3261 14.1): 2.1-4 s for the
// end that made the Call-ID (the caller), 0-2 s for the other, so the two offers cannot cross again.
constexpr long kGlareCallerMinMs = 2100, kGlareCallerMaxMs = 4000, kGlareCalleeMaxMs = 2000;

// The bit rate of a Class 1 high-speed modulation (+FTM/+FRM), 0 for one that is not.
int ModulationRate(int mod) {
  switch (mod) {
    case 24: return 2400;
    case 48: return 4800;
    case 72: case 73: case 74: return 7200;
    case 96: case 97: case 98: return 9600;
    case 121: case 122: return 12000;
    case 145: case 146: return 14400;
    default: return 0;
  }
}

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
}  // namespace

struct ModemCallbacks {
  static int AtTx(at_state_t*, void* user, const uint8_t* buf, size_t len) {
    static_cast<FaxLine*>(user)->ToDte(buf, len);
    return static_cast<int>(len);
  }
  static int Control(t31_state_t*, void* user, int op, const char* num) {
    return static_cast<FaxLine*>(user)->OnModemControl(op, num);
  }
};

std::string DialUri(const std::string& dial, const std::string& peer) {
  const size_t sip = dial.find("sip:");
  if (sip != std::string::npos) {
    std::string uri = dial.substr(sip);
    while (!uri.empty() && std::isspace(static_cast<unsigned char>(uri.back()))) uri.pop_back();
    return uri;
  }
  std::string digits;
  for (char c : dial)
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#' || c == '+') digits += c;
  if (digits.empty() || peer.empty()) return "";
  return "sip:" + digits + "@" + peer;
}

FaxLine::FaxLine(DtePort& dte, CallLog& log, LineOptions options)
    : dte_(dte), log_(log), options_(std::move(options)), sip_(*this, log), t38_(log) {
  std::random_device rd;
  sessionId_ = rd() & 0x7FFFFFFF;
}

FaxLine::~FaxLine() {
  StopMedia("");
  if (modem_) t31_free(modem_);
  if (cue_) modem_connect_tones_rx_free(cue_);
  if (mediaSocket_ >= 0) ::close(mediaSocket_);
}

std::string FaxLine::Start() {
  modem_ = t31_init(nullptr, &ModemCallbacks::AtTx, this, &ModemCallbacks::Control, this, nullptr, nullptr);
  if (!modem_) return "cannot start the soft modem";
  t31_set_transmit_on_idle(modem_, 1);

  mediaSocket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  if (mediaSocket_ < 0 || inet_pton(AF_INET, options_.sipAddress.c_str(), &local.sin_addr) != 1)
    return "bad address " + options_.sipAddress;
  if (::bind(mediaSocket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
    return "cannot bind a media port on " + options_.sipAddress + ": " + std::strerror(errno);
  socklen_t len = sizeof local;
  getsockname(mediaSocket_, reinterpret_cast<sockaddr*>(&local), &len);
  mediaPort_ = ntohs(local.sin_port);
  if (const std::string why = t38_.Open(options_.sipAddress); !why.empty()) return why;
  if (options_.account.enabled())
    account_ = std::make_unique<SipRegistration>(options_.account, log_, options_.onStatus);
  return sip_.Start(options_.sipAddress, options_.sipPort, account_.get());
}

void FaxLine::Run(const std::atomic<bool>& stop) {
  int64_t next = NowNs();
  while (!stop) {
    Tick();
    next += kTickMs * 1000000LL;
    int64_t now = NowNs();
    if (now - next > kMaxCatchUpTicks * kTickMs * 1000000LL) next = now;
    // SIP work fills the time to the next tick; it never delays the tick past its time by more
    // than one SIP event's handling.
    while ((now = NowNs()) < next) {
      const int ms = static_cast<int>((next - now) / 1000000);
      if (ms > 0) {
        sip_.Step(ms);
        continue;
      }
      timespec until{static_cast<time_t>(next / 1000000000), static_cast<long>(next % 1000000000)};
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
    }
  }
  if (call_ != Call::Idle) sip_.Hangup(603);
  sip_.Shutdown();
}

void FaxLine::Tick() {
  ++ticksInState_;
  ++tick_;
  while (!events_.empty()) {
    const int ev = events_.front();
    events_.pop_front();
    if (ev == kEventNoCarrier) {
      t31_call_event(modem_, AT_CALL_EVENT_HANGUP);
      at_put_response_code(&modem_->at_state, AT_RESPONSE_CODE_NO_CARRIER);
      continue;
    }
    t31_call_event(modem_, ev);
  }
  FromDte();
  Timers();
  Audio();
  NoMediaWatch();
}

void FaxLine::FromDte() {
  if (ctsOff_) return;  // the DTE's data waits in the pty, as behind a real modem's CTS
  uint8_t buf[512];
  const long n = dte_.Read(buf, sizeof buf);
  if (n < 0) {
    // No DTE has the port open: DTR is off, and a modem hangs up.
    if (!dteGone_ && call_ != Call::Idle) {
      log_.Line("the DTE closed the port: hanging up");
      sip_.Hangup(480);
      StopMedia("DTR dropped");
      call_ = Call::Idle;
    }
    dteGone_ = true;
    return;
  }
  dteGone_ = false;
  if (n == 0) return;
  WatchCommands(buf, n);
  t31_at_rx(modem_, reinterpret_cast<const char*>(buf), static_cast<int>(n));
}

// Counts packets per high-speed carrier (a page or a training check), which is what a person
// reading a failed call's log wants to see: did the page's packets arrive.
void FaxLine::WatchCommands(const uint8_t* data, long n) {
  for (long i = 0; i < n; ++i) {
    const char c = static_cast<char>(data[i]);
    // The DTE's page and training data (no CR in a run of zeros) come before its next command
    // on the same "line": keep the tail, where that command is, not the head.
    if (c != '\r' && c != '\n') {
      commandLine_ += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (commandLine_.size() > kMaxWatchedCommand) commandLine_.erase(0, commandLine_.size() - kMaxWatchedCommand);
      continue;
    }
    const size_t at = commandLine_.rfind("AT+F");
    const std::string cmd = at == std::string::npos ? std::string() : commandLine_.substr(at);
    commandLine_.clear();
    if (cmd.find('?') != std::string::npos || cmd.size() < 8) continue;
    const std::string what = cmd.substr(2);
    if ((what.compare(0, 5, "+FTM=") == 0 || what.compare(0, 5, "+FRM=") == 0) &&
        what.find_first_not_of("0123456789", 5) == std::string::npos)
      if (const int rate = ModulationRate(std::stoi(what.substr(5))); rate > 0) lastRate_ = rate;
    if (what.compare(0, 4, "+FRH") == 0 || what.compare(0, 4, "+FTH") == 0 || what.compare(0, 4, "+FRS") == 0 ||
        what.compare(0, 4, "+FTS") == 0 || what.compare(0, 4, "+FRM") == 0 || what.compare(0, 4, "+FTM") == 0) {
      LogCarrierStats(what);
    }
  }
}

// Both media's packets together, so that a carrier that spans the switch to T.38 still counts.
FaxLine::Counts FaxLine::CurrentCounts() const {
  Counts c;
  const auto t = t38_.counts();
  c.sent = sent_ + t.sent;
  c.received = (jitter_ ? jitter_->stats().received : 0) + t.received;
  c.lost = (jitter_ ? jitter_->stats().lost : 0) + t.lost;
  c.recovered = t.recovered;
  return c;
}

void FaxLine::LogCarrierStats(const std::string& next) {
  const Counts now = CurrentCounts();
  if (!carrier_.empty())
    log_.Line("carrier " + carrier_ + ": packets sent " + std::to_string(now.sent - mark_.sent) + ", received " +
              std::to_string(now.received - mark_.received) + ", lost " + std::to_string(now.lost - mark_.lost) +
              ", recovered " + std::to_string(now.recovered - mark_.recovered));
  mark_ = now;
  carrier_ = (next.compare(0, 4, "+FRM") == 0 || next.compare(0, 4, "+FTM") == 0) ? next : "";
}

void FaxLine::Timers() {
  if (call_ == Call::RingingIn && ticksInState_ % (options_.ringSeconds * kTicksPerSecond) == 0)
    events_.push_back(AT_CALL_EVENT_ALERTING);
  if (call_ == Call::Dialling && ticksInState_ >= options_.dialTimeoutSeconds * kTicksPerSecond) {
    log_.Line("no answer in " + std::to_string(options_.dialTimeoutSeconds) + " s");
    sip_.Hangup();
    call_ = Call::Idle;
    events_.push_back(AT_CALL_EVENT_NO_ANSWER);
  }
  if (call_ == Call::Connected && switch_ == Switch::Due && tick_ >= switchAt_) OfferT38();
}

// A far end that has gone (its host down, a NAT binding lost) sends no BYE: after this long
// without a packet the call is over, and the DTE hears NO CARRIER instead of waiting forever.
void FaxLine::NoMediaWatch() {
  if (call_ != Call::Connected || !mediaUp_) return;
  // A T.38 fax receiving our page listens in silence for as long as the page takes (well over
  // 10 s for a full page): while our modem sends, silence from the far end is no sign of death.
  if (carrier_.compare(0, 4, "+FTM") == 0) lastHeard_ = tick_;
  if (tick_ - lastHeard_ < options_.noMediaSeconds * kTicksPerSecond) return;
  log_.Line("nothing from the far end for " + std::to_string(options_.noMediaSeconds) + " s: hanging up");
  sip_.Hangup();
  StopMedia("no media from the far end");
  call_ = Call::Idle;
  events_.push_back(AT_CALL_EVENT_HANGUP);
}

// The calling side learns that the far end is a fax from its answer: CED, or the V.21 flags
// of its DIS. Then the call goes to T.38, which a far end that only accepts T.38 needs.
void FaxLine::WatchSwitchCue(const int16_t* fromFar) {
  if (!cue_ || !caller_ || switch_ != Switch::Idle || media_ != Media::G711 || !options_.t38) return;
  modem_connect_tones_rx(cue_, fromFar, kSamplesPerPacket);
  const int tone = modem_connect_tones_rx_get(cue_);
  if (tone == MODEM_CONNECT_TONES_NONE) return;
  log_.Line(std::string("heard the far end's ") + (tone == MODEM_CONNECT_TONES_FAX_PREAMBLE ? "V.21 flags" : "answer tone") +
            ": a fax, offering T.38");
  switch_ = Switch::Due;
  switchAt_ = tick_;
}

void FaxLine::OfferT38() {
  const std::string offer = ImageSdp(options_.sipAddress, t38_.port(), sessionId_, sdpVersion_ + 1, ours_);
  if (!sip_.Reinvite(offer)) {
    switchAt_ = tick_ + kTicksPerSecond;  // the call is between transactions: try again shortly
    return;
  }
  ++sdpVersion_;
  switch_ = Switch::Pending;
  log_.Line("offering T.38 (re-INVITE)");
}

void FaxLine::OnReofferAnswered(int status, const std::string& sdp) {
  if (switch_ != Switch::Pending || call_ != Call::Connected) return;
  if (status == 491) {
    std::random_device rd;
    const long ms = caller_ ? kGlareCallerMinMs + static_cast<long>(rd() % (kGlareCallerMaxMs - kGlareCallerMinMs))
                            : static_cast<long>(rd() % kGlareCalleeMaxMs);
    log_.Line("re-INVITEs crossed (491): offering T.38 again in " + std::to_string(ms) + " ms");
    switch_ = Switch::Due;
    switchAt_ = tick_ + ms / kTickMs;
    return;
  }
  switch_ = Switch::Over;
  if (status >= 300) {
    log_.Line("T.38 refused (" + std::to_string(status) + "): the call stays on G.711");
    return;
  }
  SdpSession session;
  const SdpMedia* image = nullptr;
  T38Params far;
  std::string why = ParseSdp(sdp, session);
  if (why.empty()) why = ChooseT38(session, &image, far);
  if (!why.empty()) {
    // The far end said yes to something else: whatever it is, G.711 is what both still have.
    log_.Line("unusable answer to our T.38 offer (" + why + "): the call stays on G.711");
    return;
  }
  localSdp_ = ImageSdp(options_.sipAddress, t38_.port(), sessionId_, sdpVersion_, ours_);
  StartT38(*image, AnswerT38(far, ours_), far);
}

std::string FaxLine::OnReoffer(const std::string& sdp) {
  if (call_ != Call::Connected) return "";
  SdpSession session;
  std::string why = ParseSdp(sdp, session);
  if (!why.empty()) {
    log_.Line("unusable re-INVITE: " + why);
    return "";
  }
  const SdpMedia* image = nullptr;
  T38Params far;
  if (ChooseT38(session, &image, far).empty()) {
    if (!options_.t38) {
      log_.Line("T.38 offered; this line is set to G.711 only");
      return "";
    }
    if (media_ == Media::T38) {
      // A session refresh: the relay goes on as it is, the page undisturbed.
      log_.Line("re-INVITE without a change of media: T.38 goes on");
      return localSdp_;
    }
    const T38Params agreed = AnswerT38(far, ours_);
    localSdp_ = ImageSdp(options_.sipAddress, t38_.port(), sessionId_, ++sdpVersion_, agreed);
    switch_ = Switch::Over;  // the far end switched first: ours is not needed
    StartT38(*image, agreed, far);
    return localSdp_;
  }
  const SdpMedia* audio = nullptr;
  const int pt = ChooseG711(session, &audio);
  if (pt < 0) {
    log_.Line("re-INVITE offers neither T.38 nor G.711: refused");
    return "";
  }
  sockaddr_in to{};
  inet_pton(AF_INET, audio->address.c_str(), &to.sin_addr);
  if (media_ == Media::G711 && pt == payloadType_ && to.sin_addr.s_addr == remote_.sin_addr.s_addr &&
      htons(static_cast<uint16_t>(audio->port)) == remote_.sin_port) {
    log_.Line("re-INVITE without a change of media: G.711 goes on");
    return localSdp_;
  }
  // Back to audio (a far end ending its T.38 phase), or audio somewhere else.
  if (media_ == Media::T38) StopT38("the far end went back to audio");
  SetRemoteMedia(sdp, "re-offer");
  jitter_ = std::make_unique<FixedJitterBuffer>(options_.jitterMs / kTickMs);
  localSdp_ = AudioSdp(options_.sipAddress, mediaPort_, sessionId_, ++sdpVersion_, {payloadType_});
  return localSdp_;
}

void FaxLine::StartT38(const SdpMedia& image, const T38Params& agreed, const T38Params& far) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(image.port));
  inet_pton(AF_INET, image.address.c_str(), &to.sin_addr);
  t38_.Start(to, agreed, far, options_.udptlRedundancy);
  media_ = Media::T38;
  lastHeard_ = tick_;
  const bool ec = agreed.errorCorrection != T38Params::ErrorCorrection::None;
  log_.Line("media: T.38 UDPTL version " + std::to_string(agreed.version) + ", up to " +
            std::to_string(agreed.maxBitRate) + " bit/s, " +
            (ec ? "redundancy " + std::to_string(options_.udptlRedundancy) : std::string("no redundancy")) +
            ", far datagram " + std::to_string(far.maxDatagram) + ", to " + image.address + ":" +
            std::to_string(image.port) + ", from port " + std::to_string(t38_.port()));
  if (options_.onStatus) options_.onStatus(std::string(status::kMedia) + "T.38");
}

void FaxLine::StopT38(const char* why) {
  if (media_ != Media::T38) return;
  t38_.Stop();
  media_ = Media::G711;
  log_.Line(std::string("T.38 ended: ") + why);
  // Back on audio: the codec the call agreed at its start carries on.
  if (options_.onStatus)
    options_.onStatus(std::string(status::kMedia) + "G.711 " + (payloadType_ == kPayloadPcmu ? "PCMU" : "PCMA"));
}

void FaxLine::Audio() {
  ReadMedia();
  if (!mediaUp_) {
    int16_t none[kSamplesPerPacket];
    t38_.Tick(none, none, 0);  // drains the UDPTL socket between calls
    return;
  }
  int16_t tx[kSamplesPerPacket];
  int n = t31_tx(modem_, tx, kSamplesPerPacket);
  if (n < 0) n = 0;
  for (int i = n; i < kSamplesPerPacket; ++i) tx[i] = 0;  // always a whole packet: no VAD, no DTX
  if (media_ == Media::T38) {
    int16_t rx[kSamplesPerPacket];
    t38_.Tick(tx, rx, kSamplesPerPacket);
    if (t38_.HeardSinceLastAsked()) lastHeard_ = tick_;
    t31_rx(modem_, rx, kSamplesPerPacket);
    return;
  }
  uint8_t coded[kSamplesPerPacket];
  for (int i = 0; i < kSamplesPerPacket; ++i)
    coded[i] = payloadType_ == kPayloadPcmu ? linear_to_ulaw(tx[i]) : linear_to_alaw(tx[i]);
  uint8_t packet[kRtpHeaderSize + kSamplesPerPacket];
  const size_t size = rtp_->Build(coded, kSamplesPerPacket, packet);
  if (::sendto(mediaSocket_, packet, size, 0, reinterpret_cast<const sockaddr*>(&remote_), sizeof remote_) ==
      static_cast<ssize_t>(size))
    ++sent_;

  uint8_t got[kSamplesPerPacket];
  int16_t rx[kSamplesPerPacket] = {};
  switch (jitter_->Pop(got)) {
    case FixedJitterBuffer::Turn::Packet:
      for (int i = 0; i < kSamplesPerPacket; ++i)
        rx[i] = payloadType_ == kPayloadPcmu ? ulaw_to_linear(got[i]) : alaw_to_linear(got[i]);
      t31_rx(modem_, rx, kSamplesPerPacket);
      WatchSwitchCue(rx);
      break;
    case FixedJitterBuffer::Turn::Lost:
      // Never concealment: a modem must see a gap as a gap, not as invented signal.
      t31_rx_fillin(modem_, kSamplesPerPacket);
      break;
    case FixedJitterBuffer::Turn::NotStarted:
      t31_rx(modem_, rx, kSamplesPerPacket);
      break;
  }
}

void FaxLine::ReadMedia() {
  uint8_t buf[kMaxRtpPacket + 1];
  // Bounded: at most a burst's worth per tick, so a flood cannot take the line's CPU.
  for (int i = 0; i < 16; ++i) {
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    const ssize_t n = ::recvfrom(mediaSocket_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0) return;
    // Before the call, after it, or late audio after the switch to T.38: nothing to play.
    if (!mediaUp_ || media_ != Media::G711) continue;
    std::string why;
    RtpPacket p;
    if (from.sin_addr.s_addr != remote_.sin_addr.s_addr || from.sin_port != remote_.sin_port)
      why = "from an address that is not the call's";
    else if (static_cast<size_t>(n) > kMaxRtpPacket)
      why = "larger than " + std::to_string(kMaxRtpPacket) + " octets";
    else if (!(why = ParseRtp(buf, static_cast<size_t>(n), p)).empty()) {
    } else if (p.payloadType != payloadType_)
      why = "payload type " + std::to_string(p.payloadType) + " where " + std::to_string(payloadType_) + " was agreed";
    else if (p.payloadSize != kSamplesPerPacket)
      why = std::to_string(p.payloadSize) + " samples where 160 (20 ms) were agreed";
    if (!why.empty()) {
      ++dropped_;
      if (++badMediaLogged_ <= kMaxBadMediaLogLines) log_.Line("media packet dropped: " + why);
      continue;
    }
    jitter_->Push(p.seq, p.payload);
    lastHeard_ = tick_;
  }
}

bool FaxLine::SetRemoteMedia(const std::string& sdp, const char* what) {
  SdpSession session;
  std::string why = ParseSdp(sdp, session);
  const SdpMedia* audio = nullptr;
  if (why.empty() && (payloadType_ = ChooseG711(session, &audio)) < 0) why = "no PCMU or PCMA audio offered";
  if (!why.empty()) {
    log_.Line(std::string("unusable ") + what + ": " + why);
    return false;
  }
  remote_ = sockaddr_in{};
  remote_.sin_family = AF_INET;
  remote_.sin_port = htons(static_cast<uint16_t>(audio->port));
  inet_pton(AF_INET, audio->address.c_str(), &remote_.sin_addr);
  log_.Line(std::string("media: G.711 ") + (payloadType_ == kPayloadPcmu ? "PCMU" : "PCMA") + " 20 ms, to " +
            audio->address + ":" + std::to_string(audio->port) + ", from port " + std::to_string(mediaPort_));
  return true;
}

void FaxLine::StartMedia() {
  rtp_ = std::make_unique<RtpSender>(payloadType_);
  jitter_ = std::make_unique<FixedJitterBuffer>(options_.jitterMs / kTickMs);
  sent_ = dropped_ = 0;
  badMediaLogged_ = 0;
  carrier_.clear();
  mark_ = CurrentCounts();
  callStart_ = mark_;
  lastRate_ = 0;
  media_ = Media::G711;
  lastHeard_ = tick_;
  // Both ends know the call is a fax; the answering end says so at once, the calling end once
  // it hears the far end answer as a fax (a far end that only takes T.38 needs our offer).
  switch_ = Switch::Idle;
  if (options_.t38 && !caller_) {
    switch_ = Switch::Due;
    switchAt_ = tick_ + kAnswererSwitchTicks;
  }
  if (options_.t38 && caller_) cue_ = modem_connect_tones_rx_init(cue_, MODEM_CONNECT_TONES_FAX_CED_OR_PREAMBLE, nullptr, nullptr);
  mediaUp_ = true;
  // Told when the call is up, not at an offer: a call that rang and was never answered carried
  // nothing, and must not lend its media to the next call's log.
  if (options_.onStatus)
    options_.onStatus(std::string(status::kMedia) + "G.711 " + (payloadType_ == kPayloadPcmu ? "PCMU" : "PCMA"));
}

void FaxLine::StopMedia(const std::string& why) {
  if (!mediaUp_) return;
  mediaUp_ = false;
  LogCarrierStats("");
  const auto& s = jitter_->stats();
  const Counts all = CurrentCounts();
  log_.Line("call media ended (" + why + "): packets sent " + std::to_string(all.sent - callStart_.sent) +
            ", received " + std::to_string(all.received - callStart_.received) + ", lost " +
            std::to_string(all.lost - callStart_.lost) + ", recovered " +
            std::to_string(all.recovered - callStart_.recovered) + ", late " + std::to_string(s.late) +
            ", refused " + std::to_string(dropped_));
  // One line for the desktop's call report: how the call went and at what rate.
  log_.Line(std::string("call summary: media ") +
            (media_ == Media::T38 ? "T.38" : (payloadType_ == kPayloadPcmu ? "G.711 PCMU" : "G.711 PCMA")) +
            ", rate " + std::to_string(lastRate_));
  StopT38("the call ended");
  switch_ = Switch::Idle;
}

int FaxLine::OnModemControl(int op, const char* num) {
  switch (op) {
    case AT_MODEM_CONTROL_CALL: {
      const std::string uri =
          DialUri(num ? num : "", options_.peer.empty() ? options_.account.Domain() : options_.peer);
      if (call_ != Call::Idle) {
        events_.push_back(AT_CALL_EVENT_BUSY);
        break;
      }
      if (uri.empty()) {
        log_.Line(std::string("cannot dial \"") + (num ? num : "") + "\": no SIP URI, no --peer and no account");
        events_.push_back(AT_CALL_EVENT_NO_DIALTONE);
        break;
      }
      call_ = Call::Dialling;
      caller_ = true;
      ticksInState_ = 0;
      localSdp_ = AudioSdp(options_.sipAddress, mediaPort_, sessionId_, ++sdpVersion_, {kPayloadPcmu, kPayloadPcma});
      sip_.Invite(uri, localSdp_);
      break;
    }
    case AT_MODEM_CONTROL_ANSWER:
      if (call_ != Call::RingingIn) {
        events_.push_back(AT_CALL_EVENT_HANGUP);
        break;
      }
      localSdp_ = AudioSdp(options_.sipAddress, mediaPort_, sessionId_, ++sdpVersion_, {payloadType_});
      sip_.Answer(localSdp_);
      call_ = Call::Connected;
      StartMedia();
      events_.push_back(AT_CALL_EVENT_ANSWERED);
      break;
    case AT_MODEM_CONTROL_HANGUP:
    case AT_MODEM_CONTROL_ONHOOK:
      if (call_ != Call::Idle) {
        sip_.Hangup(call_ == Call::RingingIn ? 603 : 486);
        StopMedia("hung up by the DTE");
        call_ = Call::Idle;
      }
      break;
    case AT_MODEM_CONTROL_CTS:
      // The modem's transmit buffer is nearly full (num == NULL) or has room again. A pty has
      // no CTS line; not reading it is the same to the DTE: its writes wait.
      ctsOff_ = num == nullptr;
      break;
    default:
      break;
  }
  return 0;
}

void FaxLine::OnIncomingCall(const std::string& from, const std::string& sdp) {
  if (call_ != Call::Idle) {
    sip_.Hangup(486);
    return;
  }
  if (!SetRemoteMedia(sdp, "offer")) {
    sip_.Hangup(488);
    return;
  }
  log_.Line("incoming call from " + from);
  call_ = Call::RingingIn;
  caller_ = false;
  ticksInState_ = 0;
  events_.push_back(AT_CALL_EVENT_ALERTING);
}

void FaxLine::OnRinging() { log_.Line("ringing at the far end"); }

void FaxLine::OnAnswered(const std::string& sdp) {
  if (call_ != Call::Dialling) return;
  if (!SetRemoteMedia(sdp, "answer")) {
    sip_.Hangup();
    call_ = Call::Idle;
    events_.push_back(kEventNoCarrier);
    return;
  }
  call_ = Call::Connected;
  StartMedia();
  events_.push_back(AT_CALL_EVENT_CONNECTED);
}

void FaxLine::OnFailed(int status) {
  if (call_ != Call::Dialling) return;
  call_ = Call::Idle;
  // What a modem says for each: a busy tone for 486/600, no answer for a time-out, and for a
  // number that does not exist or a far end that refuses, the line simply drops.
  if (status == 486 || status == 600)
    events_.push_back(AT_CALL_EVENT_BUSY);
  else if (status == 408 || status == 480)
    events_.push_back(AT_CALL_EVENT_NO_ANSWER);
  else
    events_.push_back(kEventNoCarrier);
}

void FaxLine::OnEnded(const std::string& why) {
  log_.Line("call ended: " + why);
  StopMedia(why);
  if (call_ == Call::Idle) return;  // ended here: the modem already knows
  call_ = Call::Idle;
  events_.push_back(AT_CALL_EVENT_HANGUP);
}

}  // namespace qv::line
