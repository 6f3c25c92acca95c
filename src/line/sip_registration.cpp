#include "line/sip_registration.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sofia-sip/msg_addr.h>
#include <sofia-sip/msg_header.h>
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/su_addrinfo.h>
#include <sofia-sip/url_tag.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "line/call_log.h"
#include "line/line_endpoint.h"
#include "line/line_status.h"

namespace qv::line {

namespace {

// The value of a challenge parameter ("realm", "stale"), quotes removed; "" when absent.
std::string ChallengeParam(const msg_auth_t* challenge, const char* name) {
  if (!challenge || !challenge->au_params) return "";
  const std::string key = std::string(name) + "=";
  const char* v = msg_params_find(challenge->au_params, key.c_str());
  if (!v) return "";
  std::string s = v;
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return s;
}

bool IsStale(const msg_auth_t* challenge) {
  std::string s = ChallengeParam(challenge, "stale");
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s == "true";
}
}  // namespace

std::string SipAccount::Domain() const {
  if (!domain.empty()) return domain;
  std::string host;
  int port = 0;
  return SipUriHostPort(registrar, host, port) ? host : "";
}

std::string SipAccount::AddressOfRecord() const { return "sip:" + user + "@" + Domain(); }

std::chrono::seconds BackOff::Next() {
  const auto now = next_;
  next_ = std::min(next_ * 2, most_);
  return now;
}

bool TrustedSources::Source::operator==(const Source& o) const {
  return port == o.port && std::memcmp(&address, &o.address, sizeof address) == 0;
}

bool TrustedSources::From(const sockaddr* address, Source& out) {
  if (!address) return false;
  out = Source{};
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    out.address.s6_addr[10] = out.address.s6_addr[11] = 0xff;
    std::memcpy(out.address.s6_addr + 12, &v4->sin_addr, sizeof v4->sin_addr);
    out.port = ntohs(v4->sin_port);
    return true;
  }
  if (address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    out.address = v6->sin6_addr;
    out.port = ntohs(v6->sin6_port);
    return true;
  }
  return false;
}

std::string TrustedSources::Resolve(const std::string& host, int port) {
  if (NameNeverResolves(host)) return "a reserved name that never resolves";
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) return gai_strerror(rc);
  resolved_.clear();
  Source s;
  for (addrinfo* a = found; a; a = a->ai_next)
    if (From(a->ai_addr, s)) resolved_.push_back(s);
  freeaddrinfo(found);
  return "";
}

void TrustedSources::Learn(const sockaddr* source) {
  Source s;
  if (!From(source, s) || Contains(source)) return;
  if (learned_.size() >= kMaxLearned) learned_.erase(learned_.begin());
  learned_.push_back(s);
}

bool TrustedSources::Contains(const sockaddr* address, Transport transport) const {
  Source s;
  if (!From(address, s)) return false;
  auto same = [&](const Source& t) {
    return transport == Transport::Stream ? std::memcmp(&t.address, &s.address, sizeof s.address) == 0 : t == s;
  };
  return std::any_of(resolved_.begin(), resolved_.end(), same) || std::any_of(learned_.begin(), learned_.end(), same);
}

SipRegistration::SipRegistration(SipAccount account, CallLog& log, StatusSink status)
    : account_(std::move(account)), log_(log), status_(std::move(status)) {
  SipUriHostPort(account_.registrar, registrarHost_, registrarPort_);
  account_.registerTimeoutSeconds = std::clamp(account_.registerTimeoutSeconds, SipAccount::kMinRegisterTimeoutSeconds,
                                               SipAccount::kSipTransactionTimeoutSeconds);
}

// The handle belongs to the agent's nua, which frees it with itself.
SipRegistration::~SipRegistration() = default;

void SipRegistration::Configure(nua_t* nua) {
  std::string from = "<" + account_.AddressOfRecord() + ">";
  if (!account_.callerId.empty()) {
    std::string name;
    for (char c : account_.callerId)
      if (c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20) name += c;
    from = "\"" + name + "\" " + from;
  }
  nua_set_params(nua, NUTAG_PROXY(account_.registrar.c_str()), SIPTAG_FROM_STR(from.c_str()),
                 NUTAG_M_USERNAME(account_.user.c_str()), TAG_END());
}

void SipRegistration::Start(nua_t* nua) {
  nua_ = nua;
  Register();
}

void SipRegistration::Register() {
  retryPending_ = false;
  // The registrar's addresses are the only ones INVITEs are taken from; they are looked up
  // again on every attempt so that a server that moved is followed.
  const std::string why = trusted_.Resolve(registrarHost_, registrarPort_);
  if (!why.empty()) {
    Failed(State::DnsFailure, registrarHost_ + ": " + why);
    return;
  }
  if (handle_) {
    challenges_.erase(handle_);
    nua_handle_destroy(handle_);
  }
  const std::string aor = account_.AddressOfRecord();
  handle_ = nua_handle(nua_, nullptr, SIPTAG_TO_STR(aor.c_str()), TAG_END());
  state_ = State::Registering;
  answerDue_ = std::chrono::steady_clock::now() + std::chrono::seconds(account_.registerTimeoutSeconds);
  log_.Line("-> REGISTER " + aor + " at " + account_.registrar);
  const std::string expires = std::to_string(account_.expiresSeconds);
  nua_register(handle_, NUTAG_REGISTRAR(account_.registrar.c_str()), SIPTAG_EXPIRES_STR(expires.c_str()), TAG_END());
}

void SipRegistration::Poll() {
  const auto now = std::chrono::steady_clock::now();
  // Our own bound on an attempt (sofia's is SIP's 32 s): Failed() drops the handle, and with it
  // the transaction and its retransmissions.
  if (state_ == State::Registering && handle_ && now >= answerDue_) {
    Failed(State::NoAnswer, "no final answer in " + std::to_string(account_.registerTimeoutSeconds) + " s");
    return;
  }
  if (retryPending_ && nua_ && now >= retryAt_) Register();
}

void SipRegistration::OnRegisterResponse(nua_handle_t* nh, int status, const char* phrase, const sip_t* sip,
                                         msg_t* response) {
  if (!Owns(nh) || status < 200) return;
  // The stack's own responses (a time-out, a port where nothing listens) come from no address.
  const su_addrinfo_t* from = response ? msg_addrinfo(response) : nullptr;
  const bool fromNetwork =
      from && from->ai_addr && (from->ai_addr->sa_family == AF_INET || from->ai_addr->sa_family == AF_INET6);
  if (status < 300) {
    if (fromNetwork) trusted_.Learn(from->ai_addr);
    challenges_.erase(nh);
    backOff_.Reset();
    if (state_ != State::Registered) log_.Line("registered " + account_.AddressOfRecord());
    Report(State::Registered, std::string(status::kRegistered) + account_.AddressOfRecord());
    return;
  }
  if ((status == 401 || status == 407) && Challenge(nh, status, sip)) return;
  const std::string what = std::to_string(status) + " " + (phrase ? phrase : "");
  if (status == 401 || status == 407 || status == 403)
    Failed(State::WrongPassword, what);
  else if (status == 408)
    Failed(State::NoAnswer, what);
  else if (status == 503 && phrase && std::strstr(phrase, "DNS"))
    Failed(State::DnsFailure, what);
  else if (status == 503 && response && !fromNetwork)
    // Our stack's 503: nothing takes SIP at the server's address (the host said the port is
    // closed). To a person that is a server that does not answer, not one that refused.
    Failed(State::NoAnswer, what + ", nothing listens at the server's address");
  else
    Failed(State::Refused, what);
}

bool SipRegistration::Challenge(nua_handle_t* nh, int status, const sip_t* sip) {
  if (!sip) return false;
  const msg_auth_t* challenge = status == 407 ? sip->sip_proxy_authenticate : sip->sip_www_authenticate;
  if (!challenge || !challenge->au_scheme || std::strcmp(challenge->au_scheme, "Digest") != 0) return false;
  int& answered = challenges_[nh];
  // A server that challenges credentials it was just given has refused them, unless it only
  // says its nonce went stale.
  if (answered > 0 && !IsStale(challenge)) return false;
  if (answered >= 3) return false;  // stale again and again: a server that never takes us
  ++answered;
  const std::string realm = ChallengeParam(challenge, "realm");
  // Never logged: it carries the password.
  const std::string auth = "Digest:\"" + realm + "\":" + account_.user + ":" + account_.password;
  nua_authenticate(nh, NUTAG_AUTH(auth.c_str()), TAG_END());
  log_.Line("-> credentials for realm \"" + realm + "\" as " + account_.user);
  return true;
}

bool SipRegistration::Trusts(msg_t* request) const {
  if (!request) return false;
  const su_addrinfo_t* from = msg_addrinfo(request);
  if (!from) return false;
  // Anything not known to be a stream is held to the stricter datagram rule.
  const bool stream = from->ai_protocol == IPPROTO_TCP || from->ai_socktype == SOCK_STREAM;
  return trusted_.Contains(from->ai_addr, stream ? TrustedSources::Transport::Stream : TrustedSources::Transport::Datagram);
}

void SipRegistration::Shutdown() {
  if (handle_ && state_ == State::Registered) {
    log_.Line("-> REGISTER (removing our contact)");
    nua_unregister(handle_, TAG_END());
  }
  handle_ = nullptr;  // nua_shutdown ends it; nua_destroy frees it
  retryPending_ = false;
  nua_ = nullptr;
}

void SipRegistration::Failed(State why, const std::string& detail) {
  log_.Line("registration failed (" + detail + ")");
  std::string reason;
  switch (why) {
    case State::WrongPassword: reason = status::kWrongPassword; break;
    case State::NoAnswer: reason = status::kNoAnswer; break;
    case State::DnsFailure: reason = status::kDnsFailure; break;
    default: reason = std::string(status::kRefusedOpen) + detail + ")"; break;
  }
  Report(why, std::string(status::kRegistrationFailed) + reason);
  if (handle_) {
    challenges_.erase(handle_);
    nua_handle_destroy(handle_);
    handle_ = nullptr;
  }
  const auto wait = backOff_.Next();
  log_.Line("next attempt to register in " + std::to_string(wait.count()) + " s");
  retryAt_ = std::chrono::steady_clock::now() + wait;
  retryPending_ = true;
}

void SipRegistration::Report(State state, const std::string& line) {
  state_ = state;
  if (line == lastReported_) return;  // one line per change, not per refresh or retry
  lastReported_ = line;
  if (status_) status_(line);
}

}  // namespace qv::line
