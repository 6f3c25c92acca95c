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
// Not a spandsp call event: the dial failed in a way a modem reports as NO CARRIER. t31 answers
// AT_CALL_EVENT_HANGUP during the dial by going on hook silently, which leaves the DTE waiting.
constexpr int kEventNoCarrier = -1;

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
    : dte_(dte), log_(log), options_(std::move(options)), sip_(*this, log) {
  std::random_device rd;
  sessionId_ = rd() & 0x7FFFFFFF;
}

FaxLine::~FaxLine() {
  StopMedia("");
  if (modem_) t31_free(modem_);
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
    if (c != '\r' && c != '\n') {
      if (commandLine_.size() < 64) commandLine_ += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      continue;
    }
    const std::string cmd = commandLine_;
    commandLine_.clear();
    if (cmd.compare(0, 4, "AT+F") != 0 || cmd.find('?') != std::string::npos || cmd.size() < 8) continue;
    const std::string what = cmd.substr(2);
    if (what.compare(0, 4, "+FRH") == 0 || what.compare(0, 4, "+FTH") == 0 || what.compare(0, 4, "+FRS") == 0 ||
        what.compare(0, 4, "+FTS") == 0 || what.compare(0, 4, "+FRM") == 0 || what.compare(0, 4, "+FTM") == 0) {
      LogCarrierStats(what);
    }
  }
}

void FaxLine::LogCarrierStats(const std::string& next) {
  const uint64_t received = jitter_ ? jitter_->stats().received : 0;
  const uint64_t lost = jitter_ ? jitter_->stats().lost : 0;
  if (!carrier_.empty())
    log_.Line("carrier " + carrier_ + ": packets sent " + std::to_string(sent_ - markSent_) + ", received " +
              std::to_string(received - markReceived_) + ", lost " + std::to_string(lost - markLost_));
  markSent_ = sent_;
  markReceived_ = received;
  markLost_ = lost;
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
}

void FaxLine::Audio() {
  ReadMedia();
  if (!mediaUp_) return;
  int16_t tx[kSamplesPerPacket];
  int n = t31_tx(modem_, tx, kSamplesPerPacket);
  if (n < 0) n = 0;
  for (int i = n; i < kSamplesPerPacket; ++i) tx[i] = 0;  // always a whole packet: no VAD, no DTX
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
    if (!mediaUp_) continue;  // before the call or after it: nothing to play
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
  markSent_ = markReceived_ = markLost_ = 0;
  badMediaLogged_ = 0;
  carrier_.clear();
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
  log_.Line("call media ended (" + why + "): packets sent " + std::to_string(sent_) + ", received " +
            std::to_string(s.received) + ", lost " + std::to_string(s.lost) + ", late " + std::to_string(s.late) +
            ", refused " + std::to_string(dropped_));
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
      ticksInState_ = 0;
      sip_.Invite(uri, AudioSdp(options_.sipAddress, mediaPort_, sessionId_, ++sdpVersion_,
                                {kPayloadPcmu, kPayloadPcma}));
      break;
    }
    case AT_MODEM_CONTROL_ANSWER:
      if (call_ != Call::RingingIn) {
        events_.push_back(AT_CALL_EVENT_HANGUP);
        break;
      }
      sip_.Answer(AudioSdp(options_.sipAddress, mediaPort_, sessionId_, ++sdpVersion_, {payloadType_}));
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
