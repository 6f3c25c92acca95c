#include "line/sip_agent.h"

#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip_header.h>
#include <sofia-sip/sip_status.h>
#include <sofia-sip/sip_tag.h>
#include <sofia-sip/su.h>
#include <sofia-sip/su_tag_io.h>
#include <sofia-sip/su_wait.h>
#include <sofia-sip/url.h>
#include <sofia-sip/msg_addr.h>
#include <sofia-sip/nta_tag.h>
#include <sofia-sip/su_addrinfo.h>
#include <netdb.h>

#include <chrono>

#include "line/call_log.h"
#include "line/sip_registration.h"

namespace qv::line {

namespace {
enum class CallState { Idle, Calling, RingingIn, Up };

// SIP messages bigger than this are dropped unread: a fax line's requests are a few KiB.
constexpr size_t kMaxSipMessageBytes = 64 * 1024;
// Refused strangers are logged in full this many times, then once per kStrangerLogEvery, so a
// scanner's flood cannot fill the disk.
constexpr long kStrangerLogLines = 10;
constexpr long kStrangerLogEvery = 100;

const char* ReasonPhrase(int status) {
  switch (status) {
    case 480: return "Temporarily Unavailable";
    case 491: return "Request Pending";
    case 486: return "Busy Here";
    case 488: return "Not Acceptable Here";
    case 603: return "Decline";
    default: return "Refused";
  }
}
}  // namespace

struct SipAgent::Impl {
  Listener& listener;
  CallLog& log;
  su_home_t home[1] = {SU_HOME_INIT(home)};
  su_root_t* root = nullptr;
  nua_t* nua = nullptr;
  nua_handle_t* call = nullptr;
  CallState state = CallState::Idle;
  bool cancelled = false;        // we sent CANCEL: a 200 that crosses it is answered with BYE
  std::string endWhy;            // what ended the call, for OnEnded
  std::string localSdp;          // our current description, for a re-INVITE that changes nothing
  std::string offeredSdp;        // our re-INVITE's offer while it is pending
  bool reinviting = false;       // a re-INVITE of ours waits for its final response
  bool shutDown = false;
  SipRegistration* account = nullptr;  // with an account, INVITEs come only through its registrar
  long strangersRefused = 0;

  Impl(Listener& l, CallLog& lg) : listener(l), log(lg) {}

  static void Callback(nua_event_t event, int status, char const* phrase, nua_t*, nua_magic_t* magic,
                       nua_handle_t* nh, nua_hmagic_t*, sip_t const* sip, tagi_t tags[]) {
    static_cast<Impl*>(static_cast<void*>(magic))->Event(event, status, phrase, nh, sip, tags);
  }

  std::string HeaderLine(const sip_header_t* h) {
    if (!h) return "";
    char* s = sip_header_as_string(home, h);
    std::string out = s ? s : "";
    su_free(home, s);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }

  static std::string Payload(sip_t const* sip) {
    return sip && sip->sip_payload && sip->sip_payload->pl_data
               ? std::string(sip->sip_payload->pl_data, sip->sip_payload->pl_len)
               : std::string();
  }

  void Respond(nua_handle_t* nh, int status, const char* phrase, const std::string& sdp = "") {
    log.Line("-> SIP/2.0 " + std::to_string(status) + " " + phrase);
    if (sdp.empty())
      nua_respond(nh, status, phrase, TAG_END());
    else
      nua_respond(nh, status, phrase, SIPTAG_CONTENT_TYPE_STR("application/sdp"), SIPTAG_PAYLOAD_STR(sdp.c_str()),
                  TAG_END());
  }

  // An INVITE that did not come from our registrar's address and port (TrustedSources says why
  // the port counts): a SIP scanner or a caller bypassing the proxy. 403, and the fax never rings.
  bool RefusedStranger(nua_handle_t* nh, sip_t const* sip) {
    if (!account || account->Trusts(nua_current_request(nua))) return false;
    ++strangersRefused;
    if (strangersRefused <= kStrangerLogLines || strangersRefused % kStrangerLogEvery == 0) {
      const su_addrinfo_t* from = msg_addrinfo(nua_current_request(nua));
      char host[64] = "?", port[8] = "?";
      if (from && from->ai_addr)
        getnameinfo(from->ai_addr, static_cast<socklen_t>(from->ai_addrlen), host, sizeof host, port, sizeof port,
                    NI_NUMERICHOST | NI_NUMERICSERV);
      log.Line("refused an INVITE from " + std::string(host) + " port " + port + ", not our registrar (" +
               std::to_string(strangersRefused) + " so far)" +
               (sip && sip->sip_from ? ": " + HeaderLine(reinterpret_cast<const sip_header_t*>(sip->sip_from)) : ""));
    }
    nua_respond(nh, 403, "Forbidden", TAG_END());
    return true;
  }

  void Event(nua_event_t event, int status, char const* phrase, nua_handle_t* nh, sip_t const* sip, tagi_t tags[]) {
    if (event == nua_i_invite && RefusedStranger(nh, sip)) return;
    if (sip && sip->sip_request) log.Line("<- " + HeaderLine(reinterpret_cast<const sip_header_t*>(sip->sip_request)));
    if (sip && sip->sip_status) log.Line("<- " + HeaderLine(reinterpret_cast<const sip_header_t*>(sip->sip_status)));
    switch (event) {
      case nua_i_invite: Invited(nh, sip); break;
      case nua_r_invite: InviteAnswered(nh, status, phrase, sip); break;
      case nua_i_cancel:
        if (nh == call) endWhy = "cancelled by the caller";
        break;
      case nua_i_bye:
        if (nh == call) endWhy = "BYE from the far end";
        break;
      case nua_r_bye:
        break;
      case nua_r_register:
      case nua_r_unregister:
        if (account) {
          // The response's message tells where the registrar answered from; the event is
          // taken over only to read it, and freed at once.
          nua_saved_event_t saved[1] = {};
          const bool kept = nua_save_event(nua, saved) != 0;
          const nua_event_data_t* data = kept ? nua_event_data(saved) : nullptr;
          account->OnRegisterResponse(nh, status, phrase, sip, data ? data->e_msg : nullptr);
          if (kept) nua_destroy_event(saved);
        }
        break;
      case nua_i_state: {
        int callState = nua_callstate_init;
        tl_gets(tags, NUTAG_CALLSTATE_REF(callState), TAG_END());
        if (callState == nua_callstate_terminated) Terminated(nh);
        break;
      }
      case nua_r_shutdown:
        if (status >= 200) shutDown = true;
        break;
      case nua_i_error:
        log.Line("SIP error: " + std::to_string(status) + " " + (phrase ? phrase : ""));
        break;
      default:
        // Requests outside a call (OPTIONS, MESSAGE, ...) are answered by nua itself.
        if (nh && nh != call && event == nua_i_terminated) nua_handle_destroy(nh);
        break;
    }
  }

  void Invited(nua_handle_t* nh, sip_t const* sip) {
    if (nh == call && state == CallState::Up) {
      const std::string sdp = Payload(sip);
      if (reinviting) {
        // Both ends offered at once: neither offer wins; each retries after its own delay.
        Respond(nh, 491, ReasonPhrase(491));
        return;
      }
      // An offerless re-INVITE asks for our offer: the description we have. Anything else is
      // the line's to judge; a refresh that changes nothing gets what we have, undisturbed.
      const std::string answer = sdp.empty() ? localSdp : listener.OnReoffer(sdp);
      if (answer.empty()) {
        Respond(nh, 488, ReasonPhrase(488));
        return;
      }
      localSdp = answer;
      Respond(nh, 200, "OK", answer);
      return;
    }
    if (call) {
      Respond(nh, 486, "Busy Here");
      return;
    }
    call = nh;
    state = CallState::RingingIn;
    cancelled = false;
    endWhy.clear();
    std::string from;
    if (sip && sip->sip_from) {
      char* u = url_as_string(home, sip->sip_from->a_url);
      from = u ? u : "";
      su_free(home, u);
    }
    Respond(nh, 180, "Ringing");
    listener.OnIncomingCall(from, Payload(sip));
  }

  void InviteAnswered(nua_handle_t* nh, int status, char const*, sip_t const* sip) {
    if (nh != call) return;
    if (state == CallState::Up) {
      // The answer to a re-INVITE of ours; anything else here is a 2xx retransmission.
      if (!reinviting || status < 200) return;
      reinviting = false;
      if (status < 300) localSdp = offeredSdp;
      listener.OnReofferAnswered(status, Payload(sip));
      return;
    }
    if ((status == 401 || status == 407) && account && account->Challenge(nh, status, sip)) return;
    if (status < 200) {
      if (status == 180 || status == 183) listener.OnRinging();
      return;
    }
    if (status < 300) {
      if (cancelled) {
        log.Line("-> BYE (the answer crossed our CANCEL)");
        nua_bye(nh, TAG_END());
        return;
      }
      state = CallState::Up;
      listener.OnAnswered(Payload(sip));
      return;
    }
    state = CallState::Idle;
    if (!cancelled) listener.OnFailed(status);
  }

  void Terminated(nua_handle_t* nh) {
    if (account) account->Forget(nh);
    if (nh == call) {
      const CallState was = state;
      call = nullptr;
      reinviting = false;
      state = CallState::Idle;
      if (was == CallState::Up || was == CallState::RingingIn)
        listener.OnEnded(endWhy.empty() ? "the dialog ended" : endWhy);
      else if (was == CallState::Calling && !cancelled)
        listener.OnFailed(500);  // ended without a final response we saw
    }
    nua_handle_destroy(nh);
  }
};

SipAgent::SipAgent(Listener& listener, CallLog& log) : impl_(std::make_unique<Impl>(listener, log)) {}

SipAgent::~SipAgent() {
  Shutdown();
  if (impl_->root) su_root_destroy(impl_->root);
  su_home_deinit(impl_->home);
  su_deinit();
}

std::string SipAgent::Start(const std::string& address, int port, SipRegistration* account) {
  su_init();
  impl_->root = su_root_create(nullptr);
  if (!impl_->root) return "cannot create the SIP event loop";
  const std::string url = "sip:" + address + ":" + std::to_string(port);
  impl_->nua = nua_create(impl_->root, &Impl::Callback, reinterpret_cast<nua_magic_t*>(impl_.get()), NUTAG_URL(url.c_str()),
                          NUTAG_MEDIA_ENABLE(0), SIPTAG_USER_AGENT_STR("qvline"),
                          SIPTAG_FROM_STR(("<sip:fax@" + address + ":" + std::to_string(port) + ">").c_str()),
                          NUTAG_AUTOALERT(0), NUTAG_AUTOANSWER(0), NTATAG_MAXSIZE(kMaxSipMessageBytes), TAG_END());
  if (!impl_->nua) return "cannot listen for SIP on " + address + ":" + std::to_string(port);
  nua_set_params(impl_->nua, NUTAG_ALLOW("INVITE, ACK, BYE, CANCEL, OPTIONS"), TAG_END());
  impl_->account = account;
  if (account) {
    account->Configure(impl_->nua);
    account->Start(impl_->nua);
  }
  return "";
}

void SipAgent::Step(int ms) {
  if (impl_->root) su_root_step(impl_->root, ms);
  if (impl_->account) impl_->account->Poll();
}

void SipAgent::Invite(const std::string& uri, const std::string& sdp) {
  Impl& d = *impl_;
  if (d.call) {
    d.listener.OnFailed(486);
    return;
  }
  d.call = nua_handle(d.nua, nullptr, SIPTAG_TO_STR(uri.c_str()), TAG_END());
  d.state = CallState::Calling;
  d.cancelled = false;
  d.endWhy.clear();
  d.localSdp = sdp;
  d.log.Line("-> INVITE " + uri);
  nua_invite(d.call, SIPTAG_CONTENT_TYPE_STR("application/sdp"), SIPTAG_PAYLOAD_STR(sdp.c_str()), TAG_END());
}

void SipAgent::Answer(const std::string& sdp) {
  Impl& d = *impl_;
  if (!d.call || d.state != CallState::RingingIn) return;
  d.localSdp = sdp;
  d.state = CallState::Up;
  d.Respond(d.call, 200, "OK", sdp);
}

bool SipAgent::Reinvite(const std::string& sdp) {
  Impl& d = *impl_;
  if (!d.call || d.state != CallState::Up || d.reinviting) return false;
  d.reinviting = true;
  d.offeredSdp = sdp;
  d.log.Line("-> INVITE (re-INVITE)");
  nua_invite(d.call, SIPTAG_CONTENT_TYPE_STR("application/sdp"), SIPTAG_PAYLOAD_STR(sdp.c_str()), TAG_END());
  return true;
}

void SipAgent::Hangup(int refuseStatus) {
  Impl& d = *impl_;
  if (!d.call) return;
  switch (d.state) {
    case CallState::Calling:
      d.cancelled = true;
      d.log.Line("-> CANCEL");
      nua_cancel(d.call, TAG_END());
      break;
    case CallState::RingingIn:
      d.Respond(d.call, refuseStatus, ReasonPhrase(refuseStatus));
      d.endWhy = "refused";
      break;
    case CallState::Up:
      d.log.Line("-> BYE");
      d.endWhy = "hung up here";
      nua_bye(d.call, TAG_END());
      break;
    case CallState::Idle:
      break;
  }
}

bool SipAgent::InCall() const { return impl_->call != nullptr; }

void SipAgent::Shutdown() {
  Impl& d = *impl_;
  if (!d.nua) return;
  if (d.call) Hangup(603);
  if (d.account) d.account->Shutdown();
  nua_shutdown(d.nua);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!d.shutDown && std::chrono::steady_clock::now() < deadline) su_root_step(d.root, 50);
  nua_destroy(d.nua);
  d.nua = nullptr;
}

}  // namespace qv::line
