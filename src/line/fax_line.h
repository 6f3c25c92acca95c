// One Internet fax line: a soft Class 1 fax modem (spandsp's t31 in audio mode) whose telephone
// line is a SIP call carrying G.711 audio over RTP, switched to T.38 (t38_gateway + UDPTL) by
// re-INVITE as soon as either end knows the call is a fax. The DTE (our fax engine, or any fax program)
// talks AT commands to it through a DtePort; Run() is the line's clock, a 20 ms tick on the
// monotonic clock that moves one packet of audio each way, with SIP work done between ticks.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "line/call_log.h"
#include "line/jitter_buffer.h"
#include "line/rtp.h"
#include "line/sdp.h"
#include "line/sip_agent.h"
#include "line/t38_media.h"
#include "line/sip_registration.h"

struct t31_state_s;
struct modem_connect_tones_rx_state_s;

namespace qv::line {

// The DTE's end of the modem: a pseudo-terminal in qvline, a pipe or buffer in tests.
class DtePort {
 public:
  virtual ~DtePort() = default;
  // What the DTE wrote, without blocking: the byte count, 0 when nothing waits, -1 when no DTE
  // holds the port open (DTR off).
  virtual long Read(uint8_t* buf, size_t size) = 0;
  virtual void Write(const uint8_t* data, size_t size) = 0;
};

struct LineOptions {
  std::string sipAddress = "127.0.0.1";  // SIP and media are on this address
  int sipPort = 5060;
  std::string peer;                       // HOST:PORT every INVITE goes to; "" for none
  int ringSeconds = 6;                    // one RING on the DTE per this many seconds of ringing
  int dialTimeoutSeconds = 60;            // no answer within this: CANCEL and NO ANSWER
  // The jitter buffer's fixed delay. A packet later than this is lost to the modem, so it covers
  // the far end's scheduling as well as the network: 60 ms lost packets mid-page on a loaded
  // machine. It adds to each T.30 turn, which has seconds to spare.
  int jitterMs = 120;
  bool t38 = true;                        // offer and accept T.38; off: G.711 only (488 to T.38)
  int udptlRedundancy = kDefaultUdptlRedundancy;
  int noMediaSeconds = 10;                // nothing from the far end this long: the call is dead
  // A SIP account: registration, calls through its registrar, digits dialled in its domain.
  SipAccount account;
  // Told each change of the registration and each call's media, in the words of line_status.h.
  std::function<void(const std::string&)> onStatus;
};

// A dial string as a SIP request URI: a "sip:" URI as it is, digits as sip:DIGITS@peer (the
// --peer address, or the account's domain). "" when there is nothing to call (no digits, or
// digits with neither).
std::string DialUri(const std::string& dial, const std::string& peer);

class FaxLine : private SipAgent::Listener {
 public:
  FaxLine(DtePort& dte, CallLog& log, LineOptions options);
  ~FaxLine() override;
  FaxLine(const FaxLine&) = delete;
  FaxLine& operator=(const FaxLine&) = delete;

  // Opens SIP and the media socket. Returns "" or why the line cannot work.
  std::string Start();
  // Runs the line until `stop` is set; hangs up a call in progress before returning.
  void Run(const std::atomic<bool>& stop);

 private:
  enum class Call { Idle, Dialling, RingingIn, Connected };
  enum class Media { G711, T38 };
  // Our re-INVITE to T.38: not yet due, due at switchAt_ (after a glare, or once answered),
  // waiting for its answer, or over (switched, refused, or the far end switched first).
  enum class Switch { Idle, Due, Pending, Over };

  void Tick();
  void FromDte();
  void Audio();
  void ReadMedia();
  void Timers();
  bool SetRemoteMedia(const std::string& sdp, const char* what);
  void StartMedia();
  void StopMedia(const std::string& why);
  void LogCarrierStats(const std::string& closing);
  void WatchSwitchCue(const int16_t* fromFar);
  void OfferT38();
  void StartT38(const SdpMedia& image, const T38Params& agreed, const T38Params& far);
  void StopT38(const char* why);
  void NoMediaWatch();
  struct Counts {
    uint64_t sent = 0, received = 0, lost = 0, recovered = 0;
  };
  Counts CurrentCounts() const;
  void WatchCommands(const uint8_t* data, long n);

  friend struct ModemCallbacks;
  void ToDte(const uint8_t* buf, size_t len) { dte_.Write(buf, len); }
  int OnModemControl(int op, const char* num);

  // SipAgent::Listener
  void OnIncomingCall(const std::string& from, const std::string& sdp) override;
  void OnRinging() override;
  void OnAnswered(const std::string& sdp) override;
  void OnFailed(int status) override;
  void OnEnded(const std::string& why) override;
  std::string OnReoffer(const std::string& sdp) override;
  void OnReofferAnswered(int status, const std::string& sdp) override;

  DtePort& dte_;
  CallLog& log_;
  LineOptions options_;
  std::unique_ptr<SipRegistration> account_;  // outlives sip_, which uses it
  SipAgent sip_;
  t31_state_s* modem_ = nullptr;
  std::deque<int> events_;  // call events for the modem, raised outside its own calls
  bool ctsOff_ = false;     // the modem's buffer is full: the DTE's data waits in the pty
  bool dteGone_ = false;

  Call call_ = Call::Idle;
  long ticksInState_ = 0;

  int mediaSocket_ = -1;
  int mediaPort_ = 0;
  uint64_t sessionId_ = 0, sdpVersion_ = 0;
  sockaddr_in remote_{};
  int payloadType_ = -1;
  bool mediaUp_ = false;
  std::unique_ptr<RtpSender> rtp_;
  std::unique_ptr<FixedJitterBuffer> jitter_;
  uint64_t sent_ = 0, dropped_ = 0;
  long badMediaLogged_ = 0;

  std::string commandLine_;  // the DTE's current command, watched for carrier boundaries
  std::string carrier_;      // "+FTM=146", ... while a high-speed carrier's packets are counted
  Counts mark_;              // the counts when the current carrier began
  Counts callStart_;         // and when the call's media began
  int lastRate_ = 0;         // bit/s of the last high-speed carrier, for the call's summary

  T38Media t38_;
  Media media_ = Media::G711;
  Switch switch_ = Switch::Idle;
  bool caller_ = false;        // we dialled: the far end's answer tone tells us it is a fax
  long tick_ = 0;              // ticks since the line started
  long switchAt_ = 0;          // when Switch::Due: the tick our re-INVITE goes
  long lastHeard_ = 0;         // the tick a packet last came from the far end
  modem_connect_tones_rx_state_s* cue_ = nullptr;  // CED or V.21 flags from the far end
  std::string localSdp_;       // our description in the call now
  T38Params ours_;             // what we offer
};

}  // namespace qv::line
