// The line's SIP account: REGISTER with digest authentication to a registrar that is also the
// outbound proxy, answers to the challenges of our own INVITEs, and the one rule that keeps a
// line on a public port from ringing for every SIP scanner: with an account, INVITEs are taken
// only from the registrar's addresses. The password stays in this object: it is never logged.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "line/sip_uri.h"

struct nua_s;
struct nua_handle_s;
struct sip_s;
struct msg_s;

namespace qv::line {

class CallLog;

struct SipAccount {
  std::string registrar;  // "sip:HOST[:PORT]": registrar and outbound proxy; "" = no account
  std::string user;
  std::string password;   // never logged, never on a command line
  std::string domain;     // of the address of record; "" = the registrar's host
  std::string callerId;   // display name in From; "" for none
  int expiresSeconds = 300;
  // How long one attempt to register waits for the server's final answer before it counts as
  // "no answer from the server". SIP's own transaction time-out (64 x T1 = 32 s) is the default;
  // a person pressing "Test" is told sooner.
  int registerTimeoutSeconds = kSipTransactionTimeoutSeconds;

  static constexpr int kSipTransactionTimeoutSeconds = 32;
  static constexpr int kMinRegisterTimeoutSeconds = 2;

  bool enabled() const { return !registrar.empty(); }
  // The domain digits are called in and our address of record lives in.
  std::string Domain() const;
  // "sip:USER@DOMAIN".
  std::string AddressOfRecord() const;
};

// Delays between attempts to register after a failure: doubling from `first` up to `most`, so
// a server that is down is not hammered and one that is back is found again soon enough.
class BackOff {
 public:
  BackOff(std::chrono::seconds first, std::chrono::seconds most) : first_(first), most_(most), next_(first) {}
  std::chrono::seconds Next();
  void Reset() { next_ = first_; }

 private:
  std::chrono::seconds first_, most_, next_;
};

// Where an INVITE may come from when the line has an account: the registrar's transport
// address. Over UDP that is address AND port:
// * a proxy sends a registered user's calls from the socket the registration came in on (kamailio
//   keeps that socket with the contact), which is the address and port it answered us from;
// * behind a NAT, the binding our REGISTER opened lets in only that address and port, so a
//   provider that sent from another port could not reach a line behind NAT at all;
// * what the port catches: a SIP scanner (or any other program) on the proxy's own host, which
//   cannot send from the port the proxy holds. Scanners work over UDP.
// Over TCP the address only: a proxy that has no connection to our contact opens one, from a
// port its system picks (kamailio does), so the port says nothing there.
// A proxy farm whose name leads (SRV) to another port or host is followed by learning the source
// of each successful answer to our REGISTER.
class TrustedSources {
 public:
  // Resolves host; its addresses at `port` replace those resolved before. "" or why not.
  std::string Resolve(const std::string& host, int port);
  // The registrar answered our REGISTER from `source`: requests from there are its own.
  void Learn(const sockaddr* source);
  // Over a stream (TCP) the port is not compared; see above.
  enum class Transport { Datagram, Stream };
  bool Contains(const sockaddr* address, Transport transport = Transport::Datagram) const;
  bool empty() const { return resolved_.empty() && learned_.empty(); }

  // Learned sources kept at most: a registrar has a handful of addresses, not a list that grows.
  static constexpr size_t kMaxLearned = 8;

 private:
  struct Source {
    in6_addr address;  // IPv4 as an IPv4-mapped IPv6 address, so one comparison serves both
    uint16_t port;     // host order
    bool operator==(const Source& o) const;
  };
  static bool From(const sockaddr* address, Source& out);

  std::vector<Source> resolved_;
  std::vector<Source> learned_;
};

class SipRegistration {
 public:
  using StatusSink = std::function<void(const std::string&)>;
  enum class State { Idle, Registering, Registered, WrongPassword, NoAnswer, DnsFailure, Refused };

  SipRegistration(SipAccount account, CallLog& log, StatusSink status);
  ~SipRegistration();
  SipRegistration(const SipRegistration&) = delete;
  SipRegistration& operator=(const SipRegistration&) = delete;

  // Parameters for the agent: the registrar as outbound proxy, our address of record in From.
  void Configure(nua_s* nua);
  // Sends the first REGISTER (or, when the registrar's name does not resolve, says so and waits
  // to try again).
  void Start(nua_s* nua);
  // Retries due after a failure; called from the agent's loop.
  void Poll();
  // A response to our REGISTER; `response` is its message (where it came from), may be null.
  void OnRegisterResponse(nua_handle_s* nh, int status, const char* phrase, const sip_s* sip, msg_s* response);
  // A 401/407 to any request of ours: true when credentials were sent and the request goes
  // again, false when the same credentials were already refused (a wrong password).
  bool Challenge(nua_handle_s* nh, int status, const sip_s* sip);
  // A call's handle is gone: its challenge count with it.
  void Forget(nua_handle_s* nh) { challenges_.erase(nh); }
  // Whether a request that arrived in `request` came from the registrar.
  bool Trusts(msg_s* request) const;
  // Removes our contact from the registrar (bounded by the agent's shutdown).
  void Shutdown();

  bool Owns(nua_handle_s* nh) const { return nh && nh == handle_; }
  State state() const { return state_; }

 private:
  void Register();
  void Failed(State why, const std::string& detail);
  void Report(State state, const std::string& line);

  SipAccount account_;
  CallLog& log_;
  StatusSink status_;
  nua_s* nua_ = nullptr;
  nua_handle_s* handle_ = nullptr;
  State state_ = State::Idle;
  std::string lastReported_;
  TrustedSources trusted_;
  std::string registrarHost_;
  int registrarPort_ = 5060;
  BackOff backOff_{std::chrono::seconds(5), std::chrono::seconds(300)};
  std::chrono::steady_clock::time_point retryAt_{};
  std::chrono::steady_clock::time_point answerDue_{};  // the attempt in progress gives up then
  bool retryPending_ = false;
  // Challenges answered per handle since its last success: a second one that is not "stale"
  // means the server refused our credentials.
  std::map<nua_handle_s*, int> challenges_;
};

}  // namespace qv::line
