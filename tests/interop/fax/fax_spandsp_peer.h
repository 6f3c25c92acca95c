// An independent fax machine for our Class 1 engine: spandsp's T.31 modem answers AT commands on
// the master side of a pseudo-terminal, and its audio is looped to spandsp's own T.30 terminal.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "fax/t30_frames.h"

namespace qv::fax::test {

class SpandspPeer {
 public:
  // `calling`: the spandsp terminal places the call (it then sends `txTiff`); otherwise it answers
  // and stores what it gets in `rxTiff`.
  SpandspPeer(bool calling, const std::string& txTiff, const std::string& rxTiff) : calling_(calling) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slaveName_ = ptsname(master_);
    // Held open so the master never reads a hang-up between the engine's opens; raw from the
    // start so nothing is echoed back before the engine configures the line.
    slave_ = open(slaveName_.c_str(), O_RDWR | O_NOCTTY);
    if (slave_ < 0) return;
    termios tio{};
    tcgetattr(slave_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave_, TCSANOW, &tio);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);

    t31_ = t31_init(nullptr, &SpandspPeer::AtTx, this, &SpandspPeer::ModemControl, this, nullptr, nullptr);
    fax_ = fax_init(nullptr, calling);
    if (!t31_ || !fax_) return;
    t31_set_transmit_on_idle(t31_, 1);
    fax_set_transmit_on_idle(fax_, 1);
    t30_state_t* t30 = fax_get_t30_state(fax_);
    t30_set_tx_ident(t30, "SPANDSP PEER");
    t30_set_ecm_capability(t30, 0);
    t30_set_supported_modems(t30, T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
    t30_set_supported_compressions(t30, T30_SUPPORT_T4_1D_COMPRESSION);
    if (calling)
      t30_set_tx_file(t30, txTiff.c_str(), -1, -1);
    else
      t30_set_rx_file(t30, rxTiff.c_str(), -1);
    t30_set_phase_e_handler(t30, &SpandspPeer::PhaseE, this);
    t30_set_real_time_frame_handler(t30, &SpandspPeer::Frame, this);
    // QV_SPANDSP_TRACE=1 shows the AT traffic and spandsp's T.30 frames on stderr.
    if (trace_) {
      span_log_set_level(t30_get_logging_state(t30), SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_SHOW_PROTOCOL | SPAN_LOG_FLOW);
      // Stamped like the AT traffic, so a call's turns can be timed from the trace.
      TraceClock() = born_;
      span_log_set_message_handler(t30_get_logging_state(t30), &SpandspPeer::TraceLine);
    }
    ok_ = true;
  }
  ~SpandspPeer() {
    Stop();
    if (fax_) fax_free(fax_);
    if (t31_) t31_free(t31_);
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  bool ok() const { return ok_; }
  const std::string& device() const { return slaveName_; }

  // Runs the modem and the line until Stop(), 160 samples every `stepMs` milliseconds.
  void Start(int stepMs = 20) {
    running_ = true;
    thread_ = std::thread([this, stepMs] { Run(stepMs); });
  }
  void Stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    if (contSteps_ > 0) kill(stallPid_, SIGCONT);
  }
  // Rings the modem's line: the spandsp terminal calls our receiver.
  void Ring() { ringRequested_ = true; }

  // The `n`th AT+FRM command (queries not counted) from the engine reaches the modem `ms` of line time late, as from a
  // fax program kept off the CPU while the sender is already on the line. Call before Start().
  void DelayFrm(int n, int ms) {
    delayFrm_ = n;
    delayFrmMs_ = ms;
  }

  // The data the modem hands the engine for its `n`th AT+FRM (queries not counted; the training
  // check is the first, the first page the second) gets one byte of noise in every `spacing`,
  // as a noisy line would leave it after demodulation. The DLE codes stay intact, so the engine
  // sees the carrier end where it ends. Call before Start().
  // With `count`, the carriers of that many AT+FRMs from the `n`th on get it (a line that stays
  // noisy while the sender resends).
  void NoiseOnCarrier(int n, int spacing, int count = 1) {
    noiseFrm_ = n;
    noiseSpacing_ = spacing;
    noiseCarriers_ = count;
  }

  // Process `pid` (the engine's) is kept off the CPU for `ms` of line time from the moment the
  // modem is handed its `n`th frame with control field `fcf`; the line goes on meanwhile, as
  // it does for a fax program the system starves. Safe to call while the peer runs.
  void StallAfterFrame(pid_t pid, uint8_t fcf, int n, int ms) {
    stallFcf_ = fcf;
    stallFrame_ = n;
    stallMs_ = ms;
    stallPid_ = pid;
  }

  // The spandsp terminal offers (or accepts) error correction mode. Call before Start().
  void EnableEcm() { t30_set_ecm_capability(fax_get_t30_state(fax_), 1); }
  // The page codings the spandsp terminal offers or may choose (T30_SUPPORT_T4_1D_COMPRESSION,
  // _T4_2D_, _T6_). Call before Start().
  void SetCompressions(int mask) { t30_set_supported_compressions(fax_get_t30_state(fax_), mask); }

  // The page data the engine hands the modem after its `n`th AT+FTM (queries not counted; the
  // training check is the first) gets one octet in every `spacing` changed, as line noise would
  // reach the far end's demodulator; DLE codes stay intact. With `count` the next count - 1
  // AT+FTMs after it too (a line that stays bad). Call before Start().
  void CorruptFtm(int n, int spacing, int count = 1) {
    corruptFtm_ = n;
    corruptSpacing_ = spacing;
    corruptFtmLeft_ = count;
  }

  // The spandsp terminal asks for this minimum scan-line time (ms) in its DIS. Call before Start().
  void SetMinimumScanTime(int ms) { t30_set_minimum_scan_line_time(fax_get_t30_state(fax_), ms); }

  // Keeps the data the engine hands the modem after its `n`th AT+FTM (queries not counted; the
  // training check is the first), DLE codes undone, up to its DLE ETX. Call before Start().
  void CaptureFtm(int n) { captureFtm_ = n; }
  std::vector<uint8_t> CapturedFtm() {
    std::lock_guard<std::mutex> lock(mutex_);
    return captured_;
  }

  // Frames with control field `fcf` (the final-frame bit ignored) the spandsp terminal received.
  int FramesHeard(uint8_t fcf) {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (uint8_t f : heard_) n += (f & 0xFE) == (fcf & 0xFE);
    return n;
  }

  // The FIF of the last DCS the spandsp terminal received (empty before one).
  std::vector<uint8_t> LastDcsFif() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastDcsFif_;
  }

  bool finished() const { return phaseE_; }
  int completion() const { return completion_; }
  t30_stats_t Stats() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stats_;
  }

 private:
  static int AtTx(at_state_t*, void* user, const uint8_t* buf, size_t len) {
    auto* self = static_cast<SpandspPeer*>(user);
    size_t done = 0;
    if (self->trace_) std::fprintf(stderr, "%6ld <%.*s>\n", self->Ms(), static_cast<int>(len), reinterpret_cast<const char*>(buf));
    std::string noisy;
    if (self->noiseState_ != Noise::Off) {
      noisy.assign(reinterpret_cast<const char*>(buf), len);
      self->AddNoise(noisy);
      buf = reinterpret_cast<const uint8_t*>(noisy.data());
    }
    // The engine drains the slave continuously; a full pty buffer only needs a short wait.
    for (int tries = 0; done < len && tries < 2000; ++tries) {
      ssize_t n = write(self->master_, buf + done, len - done);
      if (n > 0)
        done += static_cast<size_t>(n);
      else
        usleep(1000);
    }
    return static_cast<int>(done);
  }
  static int ModemControl(t31_state_t*, void* user, int op, const char* num) {
    auto* self = static_cast<SpandspPeer*>(user);
    // Call events are raised from the loop, outside the interpreter's own call. The line stays
    // up after a hang-up so the spandsp terminal can finish its own closing exchange.
    switch (op) {
      case AT_MODEM_CONTROL_CALL: self->pendingEvent_ = AT_CALL_EVENT_CONNECTED; break;
      case AT_MODEM_CONTROL_ANSWER: self->pendingEvent_ = AT_CALL_EVENT_ANSWERED; break;
      // The modem's page buffer (4 KB) is nearly full, or has room again: CTS, which a pty
      // cannot carry, becomes not reading the line, so the sender meets a full tty instead of a
      // modem that drops what it cannot hold.
      case AT_MODEM_CONTROL_CTS:
        self->ctsOff_ = num == nullptr;
        if (self->trace_) std::fprintf(stderr, "(CTS %s)\n", num ? "on" : "off");
        break;
      default: break;
    }
    return 0;
  }
  static void Frame(t30_state_t*, void* user, int incoming, const uint8_t msg[], int len) {
    auto* self = static_cast<SpandspPeer*>(user);
    if (!incoming || len < 3) return;
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->heard_.push_back(msg[2]);
    if ((msg[2] & 0xFE) == (kFcfDcs & 0xFE)) self->lastDcsFif_.assign(msg + 3, msg + len);
  }
  static void PhaseE(t30_state_t* t30, void* user, int code) {
    auto* self = static_cast<SpandspPeer*>(user);
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      t30_get_transfer_statistics(t30, &self->stats_);
    }
    self->completion_ = code;
    self->phaseE_ = true;
  }

  // Milliseconds since the peer was made, for the trace.
  long Ms() const {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - born_).count());
  }
  // spandsp's log handler has no user pointer: its lines are stamped on the clock of the
  // last peer made with tracing on (one call at a time traces in practice).
  static std::chrono::steady_clock::time_point& TraceClock() {
    static std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    return start;
  }
  static void TraceLine(int, const char* text) {
    const long ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - TraceClock()).count());
    std::fprintf(stderr, "%6ld t30 %s", ms, text);
  }

  void Run(int stepMs) {
    constexpr int kStep = 160;
    int16_t toFax[kStep], toModem[kStep];
    char in[512];
    auto next = std::chrono::steady_clock::now();
    int ringSteps = 0;
    while (running_) {
      ssize_t n = ctsOff_ ? 0 : read(master_, in, sizeof in);
      if (n > 0) {
        if (trace_) std::fprintf(stderr, "%6ld [%.*s]\n", Ms(), static_cast<int>(n), in);
        held_.append(in, static_cast<size_t>(n));
      }
      PassToModem(stepMs);
      if (contSteps_ > 0 && --contSteps_ == 0) {
        kill(stallPid_, SIGCONT);
        if (trace_) std::fprintf(stderr, "%6ld engine running again\n", Ms());
      }
      int ev = pendingEvent_.exchange(0);
      if (ev) {
        t31_call_event(t31_, ev);
        lineUp_ = true;
      }
      if (ringRequested_ && !lineUp_ && ++ringSteps % 150 == 1) t31_call_event(t31_, AT_CALL_EVENT_ALERTING);
      std::memset(toFax, 0, sizeof toFax);
      std::memset(toModem, 0, sizeof toModem);
      if (lineUp_) {
        t31_tx(t31_, toFax, kStep);
        fax_tx(fax_, toModem, kStep);
        fax_rx(fax_, toFax, kStep);
        t31_rx(t31_, toModem, kStep);
      }
      next += std::chrono::milliseconds(stepMs);
      // A peer kept off the CPU resumes its line where it stopped. Catching up in a burst would
      // run the line many times faster than any real one, and the engine would get only a part
      // of the turn-round time T.30 gives it (a real line stays at real time while we stall).
      const auto now = std::chrono::steady_clock::now();
      if (now > next) {
        if (trace_ && now - next > std::chrono::milliseconds(100))
          std::fprintf(stderr, "%6ld line paused %ld ms\n", Ms(),
                       static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(now - next).count()));
        next = now;
      }
      std::this_thread::sleep_until(next);
    }
  }

  enum class Noise { Off, AwaitConnect, AwaitLineEnd, InData };

  // Noise on the page data of the watched carrier, from the line end after its CONNECT to its
  // DLE ETX. (The modem writes a result code and its line ends in separate pieces.)
  void AddNoise(std::string& out) {
    size_t i = 0;
    if (noiseState_ == Noise::AwaitConnect) {
      // An AT+FRM that found V.21 instead of its carrier brings no page data: the next CONNECT
      // is a V.21 frame's, whose check the modem has done already.
      if (out.find("+FCERROR") != std::string::npos) {
        noiseState_ = Noise::Off;
        return;
      }
      const size_t connect = out.find("CONNECT");
      if (connect == std::string::npos) return;
      i = connect + 7;
      noiseState_ = Noise::AwaitLineEnd;
    }
    for (; i < out.size() && noiseState_ == Noise::AwaitLineEnd; ++i) {
      if (out[i] != '\n') continue;
      noiseState_ = Noise::InData;
      noiseDle_ = false;
      noiseCount_ = 0;
    }
    for (; i < out.size() && noiseState_ == Noise::InData; ++i) {
      const uint8_t b = static_cast<uint8_t>(out[i]);
      if (noiseDle_) {
        noiseDle_ = false;
        if (b == 0x03) noiseState_ = Noise::Off;  // DLE ETX: the carrier has ended
        continue;
      }
      if (b == 0x10) {
        noiseDle_ = true;
        continue;
      }
      if (noiseCount_++ % noiseSpacing_ != 0) continue;
      noiseSeed_ = noiseSeed_ * 1103515245u + 12345u;
      const uint8_t hit = static_cast<uint8_t>(b ^ (0x5A ^ (noiseSeed_ >> 24)));
      if (hit != 0x10) out[i] = static_cast<char>(hit);
    }
  }

  // Counts the engine's AT+FRM commands (a command may span two reads) for NoiseOnCarrier.
  void WatchForNoisyFrm(const std::string& passed) {
    if (noiseFrm_ <= 0) return;
    const std::string seen = frmTail_ + passed;
    for (size_t pos = seen.find("AT+FRM="); pos != std::string::npos; pos = seen.find("AT+FRM=", pos + 1)) {
      // Counted in the read that brings the character after the '=' (the tail is one shorter).
      if (pos + 7 < frmTail_.size()) continue;
      if (pos + 7 >= seen.size()) break;
      if (seen[pos + 7] == '?') continue;
      if (++noiseFrmSeen_ >= noiseFrm_ && noiseFrmSeen_ < noiseFrm_ + noiseCarriers_) {
        noiseState_ = Noise::AwaitConnect;
        break;
      }
    }
    frmTail_ = seen.size() > 7 ? seen.substr(seen.size() - 7) : seen;
  }

  // Hands what the engine wrote to the modem, holding it back from the delayed AT+FRM on.
  void PassToModem(int stepMs) {
    if (holdSteps_ > 0) {
      --holdSteps_;
      return;
    }
    if (held_.empty()) return;
    size_t pass = held_.size();
    if (delayFrm_ > 0) {
      for (size_t pos = held_.find("AT+FRM="); pos != std::string::npos; pos = held_.find("AT+FRM=", pos + 1)) {
        if (held_.compare(pos, 8, "AT+FRM=?") == 0) continue;  // a query, not a carrier
        if (++frmSeen_ == delayFrm_) {
          pass = pos;
          holdSteps_ = delayFrmMs_ / stepMs;
          delayFrm_ = 0;
          if (trace_) std::fprintf(stderr, "%6ld holding AT+FRM for %d ms\n", Ms(), delayFrmMs_);
          break;
        }
      }
    }
    if (pass == 0) return;
    WatchForStallFrame(held_.substr(0, pass), stepMs);
    WatchForNoisyFrm(held_.substr(0, pass));
    CorruptFtmData(held_, pass);
    CaptureFtmData(held_, pass);
    t31_at_rx(t31_, held_.data(), static_cast<int>(pass));
    held_.erase(0, pass);
  }

  // Within the watched AT+FTM's data (from the command's CR to DLE ETX) changes one octet in
  // every corruptSpacing_. A command seen split across two passes is found in the next one.
  void CorruptFtmData(std::string& buf, size_t pass) {
    if (corruptFtm_ <= 0) return;
    for (size_t i = 0; i < pass; ++i) {
      const uint8_t b = static_cast<uint8_t>(buf[i]);
      if (ftmState_ == 0) {
        ftmTail_.push_back(static_cast<char>(b));
        if (ftmTail_.size() > 12) ftmTail_.erase(0, ftmTail_.size() - 12);
        if (b == '\r') {
          const size_t at = ftmTail_.find("AT+FTM=");
          if (at != std::string::npos && ftmTail_.compare(at + 7, 1, "?") != 0 && ++ftmSeen_ == corruptFtm_) {
            ftmState_ = 1;
            ftmCount_ = 0;
            ftmDle_ = false;
          }
          ftmTail_.clear();
        }
        continue;
      }
      if (ftmDle_) {
        ftmDle_ = false;
        if (b == 0x03) {
          ftmState_ = 0;
          corruptFtm_ = --corruptFtmLeft_ > 0 ? ftmSeen_ + 1 : 0;
          return;
        }
        continue;
      }
      if (b == 0x10) {
        ftmDle_ = true;
        continue;
      }
      if (++ftmCount_ % corruptSpacing_ != 0) continue;
      const uint8_t hit = static_cast<uint8_t>(b ^ 0x24);
      if (hit != 0x10) buf[i] = static_cast<char>(hit);
    }
  }

  // The watched AT+FTM's data, from the command's CR to DLE ETX, as the modem will send it.
  void CaptureFtmData(const std::string& buf, size_t pass) {
    if (captureFtm_ <= 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < pass && captureFtm_ > 0; ++i) {
      const uint8_t b = static_cast<uint8_t>(buf[i]);
      if (!capturing_) {
        captureTail_.push_back(static_cast<char>(b));
        if (captureTail_.size() > 12) captureTail_.erase(0, captureTail_.size() - 12);
        if (b == '\r') {
          const size_t at = captureTail_.find("AT+FTM=");
          if (at != std::string::npos && captureTail_.compare(at + 7, 1, "?") != 0 && ++captureSeen_ == captureFtm_)
            capturing_ = true;
          captureTail_.clear();
        }
        continue;
      }
      if (captureDle_) {
        captureDle_ = false;
        if (b == 0x03) {
          capturing_ = false;
          captureFtm_ = 0;
        } else if (b == 0x10) {
          captured_.push_back(b);
        }
        continue;
      }
      if (b == 0x10)
        captureDle_ = true;
      else
        captured_.push_back(b);
    }
  }

  // Counts the engine's frames of the watched kind in what goes to the modem; the watched one
  // stops the engine's process, and the line's clock (Run) starts it again.
  void WatchForStallFrame(const std::string& passed, int stepMs) {
    if (stallPid_ <= 0 || stallFrame_ <= 0) return;
    // Address and final control field, then the control field; a frame may span two reads.
    const std::string seen = watchTail_ + passed;
    const std::string head = std::string("\xFF\x13") + static_cast<char>(stallFcf_.load());
    for (size_t pos = seen.find(head); pos != std::string::npos; pos = seen.find(head, pos + 1)) {
      if (pos + head.size() <= watchTail_.size()) continue;  // counted with the previous read
      if (--stallFrame_ == 0) {
        kill(stallPid_, SIGSTOP);
        contSteps_ = std::max(1, stallMs_ / stepMs);
        if (trace_) std::fprintf(stderr, "%6ld engine stopped for %d ms\n", Ms(), stallMs_.load());
        break;
      }
    }
    watchTail_ = seen.size() > 2 ? seen.substr(seen.size() - 2) : seen;
  }

  bool calling_;
  std::chrono::steady_clock::time_point born_ = std::chrono::steady_clock::now();
  bool trace_ = std::getenv("QV_SPANDSP_TRACE") != nullptr;
  bool ok_ = false;
  int master_ = -1, slave_ = -1;
  std::string slaveName_;
  t31_state_t* t31_ = nullptr;
  fax_state_t* fax_ = nullptr;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> lineUp_{false};
  std::atomic<bool> ringRequested_{false};
  std::atomic<bool> ctsOff_{false};
  std::atomic<int> pendingEvent_{0};
  std::string held_;  // engine output not yet given to the modem
  int holdSteps_ = 0;
  int delayFrm_ = 0, delayFrmMs_ = 0, frmSeen_ = 0;
  std::atomic<uint8_t> stallFcf_{0};
  std::atomic<int> stallFrame_{0}, stallMs_{0};
  std::atomic<pid_t> stallPid_{0};
  int contSteps_ = 0;
  std::string watchTail_;
  int noiseFrm_ = 0, noiseSpacing_ = 1, noiseFrmSeen_ = 0, noiseCarriers_ = 1;
  std::string frmTail_;
  int corruptFtm_ = 0, corruptSpacing_ = 1, ftmSeen_ = 0, ftmState_ = 0;
  int corruptFtmLeft_ = 0;  // AT+FTMs still to corrupt, this one included
  long ftmCount_ = 0;
  bool ftmDle_ = false;
  std::string ftmTail_;
  int captureFtm_ = 0, captureSeen_ = 0;
  bool capturing_ = false, captureDle_ = false;
  std::string captureTail_;
  std::vector<uint8_t> captured_;
  std::atomic<Noise> noiseState_{Noise::Off};
  bool noiseDle_ = false;
  long noiseCount_ = 0;
  uint32_t noiseSeed_ = 1;
  std::atomic<bool> phaseE_{false};
  std::atomic<int> completion_{-1};
  std::mutex mutex_;
  t30_stats_t stats_{};
  std::vector<uint8_t> heard_;  // control fields of the frames received
  std::vector<uint8_t> lastDcsFif_;
};

}  // namespace qv::fax::test
