// The SIP side of the line (sofia-sip's nua): one call at a time, INVITE out for a dial, INVITE
// in rings the modem, CANCEL and BYE both ways. The session descriptions are ours (sdp.h):
// nua's own offer/answer engine is switched off so that what is offered is exactly what a fax
// modem can bear. All of it runs on the caller's thread through Step().
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qv::line {

class CallLog;
class SipRegistration;

class SipAgent {
 public:
  // What the call does; called from inside Step().
  class Listener {
   public:
    virtual ~Listener() = default;
    // An INVITE for a new call; `sdp` is its offer. The agent has sent 180 Ringing.
    virtual void OnIncomingCall(const std::string& from, const std::string& sdp) = 0;
    virtual void OnRinging() = 0;                               // 180/183 to our INVITE
    virtual void OnAnswered(const std::string& sdp) = 0;        // 200 to our INVITE
    virtual void OnFailed(int status) = 0;                      // final failure to our INVITE
    virtual void OnEnded(const std::string& why) = 0;           // BYE, CANCEL or the dialog died
    // A re-INVITE in the call with this offer: returns our answer, or "" to refuse it (488).
    virtual std::string OnReoffer(const std::string& sdp) = 0;
    // The final response to our re-INVITE: 2xx with the far end's answer, or its refusal
    // (488, 491 for a glare, 408 when it never came); the session stays as it was unless 2xx.
    virtual void OnReofferAnswered(int status, const std::string& sdp) = 0;
  };

  SipAgent(Listener& listener, CallLog& log);
  ~SipAgent();
  SipAgent(const SipAgent&) = delete;
  SipAgent& operator=(const SipAgent&) = delete;

  // Listens for SIP over UDP on address:port. With an account, registers with it, sends every
  // request through its registrar and takes INVITEs only from there. Returns "" or why not.
  std::string Start(const std::string& address, int port, SipRegistration* account = nullptr);

  // Runs SIP work for up to `ms` milliseconds (0: only what is ready).
  void Step(int ms);

  // One call at a time: Invite() while a call exists fails the new one with 486 at once.
  void Invite(const std::string& uri, const std::string& sdp);
  void Answer(const std::string& sdp);
  // Offers a new description in the call that is up (a re-INVITE). False when there is no such
  // call or a re-INVITE of ours is still pending.
  bool Reinvite(const std::string& sdp);
  // Ends the call whatever its state: CANCEL (ringing out), 486/603 (ringing in) or BYE.
  void Hangup(int refuseStatus = 486);
  bool InCall() const;

  // Says goodbye to the network (BYE/CANCEL of a live call), bounded in time.
  void Shutdown();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv::line
