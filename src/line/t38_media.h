// The T.38 half of the line's media: the soft modem's audio goes through spandsp's t38_gateway,
// which demodulates it into T.38 packets (IFPs) and modulates the far end's IFPs back into
// audio, and our UDPTL carries the IFPs. The modem (t31, in audio mode) never learns whether
// its line is G.711 or T.38: the switch only re-routes its 20 ms blocks of samples.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <string>

#include "line/sdp.h"
#include "line/udptl.h"

struct t38_gateway_state_s;
struct t38_core_state_s;

namespace qv::line {

class CallLog;

class T38Media {
 public:
  struct Counts {
    uint64_t sent = 0, received = 0, lost = 0, recovered = 0, late = 0, refused = 0;
  };

  explicit T38Media(CallLog& log);
  ~T38Media();
  T38Media(const T38Media&) = delete;
  T38Media& operator=(const T38Media&) = delete;

  // Binds the UDPTL socket on address (any port). Returns "" or why not.
  std::string Open(const std::string& address);
  int port() const { return port_; }

  // Relays to `remote` with the parameters both sides agreed (`agreed`) and the far end's own
  // limits (`far`: its largest datagram); `redundancy` secondary IFPs per datagram.
  void Start(const sockaddr_in& remote, const T38Params& agreed, const T38Params& far, int redundancy);
  void Stop();
  bool running() const { return gateway_ != nullptr; }

  // One 20 ms tick: the modem's audio in, the far end's signals (as audio) for the modem out.
  // Reads what UDPTL brought first, so the far end's IFPs reach the gateway in this tick.
  void Tick(const int16_t* fromModem, int16_t* toModem, int samples);
  // Datagrams read since the last call (any, good or bad): the line's no-media watchdog.
  bool HeardSinceLastAsked();
  Counts counts() const;

 private:
  static int SendIfp(t38_core_state_s*, void* user, const uint8_t* ifp, int len, int count);
  void Read();

  CallLog& log_;
  int socket_ = -1;
  int port_ = 0;
  sockaddr_in remote_{};
  t38_gateway_state_s* gateway_ = nullptr;
  std::unique_ptr<UdptlSender> sender_;
  std::unique_ptr<UdptlReceiver> receiver_;
  uint64_t sent_ = 0, refused_ = 0;
  Counts past_;  // what earlier T.38 periods of this call counted
  bool heard_ = false;
  long badLogged_ = 0;
};

}  // namespace qv::line
