// The virtual phone line between two modems. It carries what a fax modem can hear: call set-up,
// V.21 HDLC frames and high-speed carriers with data, each direction a queue of events. Faults
// that belong to the line (a speed it cannot carry, noise in a page, a drop in mid-page) are
// applied here, to whatever class the modems on either end run.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "qvmodem/hdlc.h"

namespace qv::modem {

struct LineEvent {
  enum class Kind { CarrierOn, Frame, Data, CarrierOff };
  Kind kind = Kind::Data;
  int mod = 0;          // CarrierOn: modulation code (3 = V.21 channel 2)
  Bytes bytes;          // Frame: frame bytes with FCS; Data: payload
  bool damaged = false; // noise hit this data (a modem's copy-quality check notices)
};

// Bit rate of a T.31 modulation code, 0 when unknown.
int modulationRate(int mod);
// True when a receiver set to rxMod demodulates a carrier sent as txMod (same rate and family;
// long and short V.17 training are interchangeable).
bool modulationsMatch(int rxMod, int txMod);

struct LineFaults {
  int maxRate = 0;          // carriers above this bit rate arrive as noise (0: no limit)
  int dropInPage = 0;       // the line goes dead in the middle of this page (1-based; 0: never)
  int dropAfterBytes = 2048;
  int corruptPage = -1;     // noise on this page (0: every page, -1: none)
  int noiseSpacing = 7;     // ...on one byte in this many, counted from the page's first byte
  int garbleMcf = 0;        // noise on the Nth MCF frame of a call: its FCS fails (0: none)
  // Error correction data frames (FCD) a Class 1 DTE frames itself on a page carrier, counted
  // from 1 over the call and the sending end, resent frames included: these arrive with a bad
  // FCS (corrupt) or not at all (drop, an abort in their middle).
  std::vector<int> corruptFrames;
  std::vector<int> dropFrames;
};

// Finds the HDLC frames in a page carrier's bit stream (least significant bit first) and damages
// the FCD frames named in the faults, in place. Its own bit-level reading: a damaged frame loses
// its FCS (one 1 bit of its data becomes 0, which can never make a flag) or is aborted (eight 1
// bits in its data), and the frames around it stay whole.
class EcmFrameFaults {
 public:
  // counted: the FCD frames of the call so far (kept across its carriers), one more for each
  // FCD frame found here.
  void apply(Bytes& data, const LineFaults& faults, int& counted);
  void reset() { *this = EcmFrameFaults(); }

 private:
  enum class Action { None, Corrupt, Drop };
  int ones_ = 0;            // consecutive 1 bits as sent
  bool inFrame_ = false;
  long contentBits_ = 0;    // bits of the frame so far, inserted zeros left out
  uint8_t octet_ = 0;
  uint8_t head_[4] = {};
  Action action_ = Action::None;
  int forced_ = 0;          // 1 bits forced for an abort so far
};

enum class CallState { Idle, Ringing, Connected };

// Outcome the line gives a dialling modem.
enum class DialOutcome { Ringing, Busy, NoAnswer, NoDialtone, Voice, NoCarrier };

class VirtualLine {
 public:
  explicit VirtualLine(LineFaults faults = {});

  // Scripted outcome for calls from end 0 (Ringing = none).
  void setDialOutcome(DialOutcome outcome, int calls = -1);

  // Each end registers an eventfd-like notifier (a pipe write end) that is poked on changes.
  void setNotifier(int end, int fd);

  DialOutcome dial(int end);
  bool ringing(int end);  // an incoming call rings at this end
  bool answer(int end);   // false when nothing rings here
  void hangup(int end);
  CallState state(int end);
  bool connected(int end);
  // True once after the connection this end was part of went away (peer hang-up or drop).
  bool takeLost(int end);

  // Transmit side. carrierOn also clears what this end had not heard yet: a station cannot
  // hear while it talks. ecm: the modems' own T.30 sends this carrier's page in error
  // correction mode (Class 2/2.0), so noise on it costs frames sent again, not damaged rows.
  void carrierOn(int end, int mod, bool ecm = false);
  // False when the line was down and nothing went out.
  bool sendFrame(int end, const Bytes& frameWithFcs);
  void sendData(int end, const Bytes& data);
  void carrierOff(int end);

  // Receive side.
  std::optional<LineEvent> peek(int end);
  void pop(int end);
  bool pendingEvents(int end);

  int pagesSent(int end);
  // ECM frames (256 octets) of the current page that noise hit and the modems sent again.
  int ecmFramesResent(int end);

 private:
  struct Side {
    std::deque<LineEvent> inbox;   // what this end will hear
    int notifier = -1;
    bool lost = false;
    int txMod = 0;
    bool lastFramesHadDcs = false; // the last V.21 carrier sent carried a DCS
    bool txIsPage = false;
    int pages = 0;
    int pageBytes = 0;
    int mcfs = 0;                  // MCF frames sent in this call
    bool txEcm = false;            // the page on the carrier goes in ECM frames
    int ecmResent = 0;
    long lastHitFrame = -1;
    EcmFrameFaults frameFaults;    // Class 1 ECM frames on the current carrier
    int fcdFrames = 0;             // FCD frames sent in this call
  };
  void pokeLocked(int end);
  void dropLocked();
  bool pushLocked(int from, LineEvent ev);

  std::mutex mu_;
  LineFaults faults_;
  DialOutcome outcome_ = DialOutcome::Ringing;
  int outcomeCalls_ = -1;  // calls of A that still get outcome_; -1: every one
  CallState state_ = CallState::Idle;
  int caller_ = -1;
  Side sides_[2];
  unsigned noise_ = 0x2545F491u;
};

}  // namespace qv::modem
