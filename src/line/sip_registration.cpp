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

#include <cctype>
#include <cstring>

#include "line/call_log.h"
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

std::string TrustedSources::Resolve(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0) return gai_strerror(rc);
  v4_.clear();
  v6_.clear();
  for (addrinfo* a = found; a; a = a->ai_next) Add(a->ai_addr);
  freeaddrinfo(found);
  return "";
}

void TrustedSources::Add(const sockaddr* address) {
  if (address->sa_family == AF_INET)
    v4_.push_back(reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
  else if (address->sa_family == AF_INET6)
    v6_.push_back(reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
}

bool TrustedSources::Contains(const sockaddr* address) const {
  if (!address) return false;
  if (address->sa_family == AF_INET) {
    const in_addr a = reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
    for (const in_addr& t : v4_)
      if (t.s_addr == a.s_addr) return true;
  } else if (address->sa_family == AF_INET6) {
    const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    for (const in6_addr& t : v6_)
      if (std::memcmp(&t, &a, sizeof a) == 0) return true;
    // An IPv4 registrar reached over a dual-stack socket.
    if (IN6_IS_ADDR_V4MAPPED(&a)) {
      in_addr v4{};
      std::memcpy(&v4, a.s6_addr + 12, sizeof v4);
      for (const in_addr& t : v4_)
        if (t.s_addr == v4.s_addr) return true;
    }
  }
  return false;
}

SipRegistration::SipRegistration(SipAccount account, CallLog& log, StatusSink status)
    : account_(std::move(account)), log_(log), status_(std::move(status)) {
  int port = 0;
  SipUriHostPort(account_.registrar, registrarHost_, port);
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
  const std::string why = trusted_.Resolve(registrarHost_);
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
  log_.Line("-> REGISTER " + aor + " at " + account_.registrar);
  const std::string expires = std::to_string(account_.expiresSeconds);
  nua_register(handle_, NUTAG_REGISTRAR(account_.registrar.c_str()), SIPTAG_EXPIRES_STR(expires.c_str()), TAG_END());
}

void SipRegistration::Poll() {
  if (retryPending_ && nua_ && std::chrono::steady_clock::now() >= retryAt_) Register();
}

void SipRegistration::OnRegisterResponse(nua_handle_t* nh, int status, const char* phrase, const sip_t* sip) {
  if (!Owns(nh) || status < 200) return;
  if (status < 300) {
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
  return from && trusted_.Contains(from->ai_addr);
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
