// Class 1 (T.31): the DTE runs T.30, the modem only sends and receives HDLC frames and data.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "qvmodem/modem.h"

namespace qv::modem {

namespace {
bool parseInt(const std::string& s, int& v) {
  if (s.empty() || s.size() > 4) return false;
  v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  return true;
}
}  // namespace

Result Modem::class1(const std::string& name, char op, const std::string& arg, bool& done) {
  const bool hdlc = name == "+FTH" || name == "+FRH";
  const bool data = name == "+FTM" || name == "+FRM";
  const bool silence = name == "+FTS" || name == "+FRS";
  if (hdlc || data || silence) {
    if (op == 'L') {
      info(hdlc ? "3" : data ? profile_.modulationList() : "0-255");
      return Result::Ok;
    }
    int v = 0;
    if (op != '=' || !parseInt(arg, v)) return Result::Error;
    if (silence) {
      if (v > 255) return Result::Error;
      c1Silence(v, name == "+FRS");
      done = true;
      return Result::Ok;
    }
    if (hdlc && v != 3) return Result::Error;
    if (data) {
      const auto mods = profile_.modulations();
      if (std::find(mods.begin(), mods.end(), v) == mods.end()) return Result::Error;
    }
    if (!inCall_ && lostCall_) {
      lostCall_ = false;
      return Result::NoCarrier;  // the other side has gone
    }
    if (!inCall_ || !line_) return Result::Error;
    done = true;
    if (name == "+FTH") c1TransmitHdlc();
    else if (name == "+FRH") c1ReceiveHdlc(-1);
    else if (name == "+FTM") c1TransmitData(v);
    else c1ReceiveData(v);
    return Result::Ok;
  }
  if (name == "+FAR" || name == "+FCL" || name == "+FIT" || name == "+FAA" || name == "+FDD") {
    if (op == 'L') info(name == "+FAR" ? "0,1" : "0-255");
    else if (op == '?') info("0");
    return Result::Ok;
  }
  return Result::Error;
}

void Modem::c1TransmitHdlc() {
  line_->carrierOn(end_, 3);
  rxV21_ = rxSkipping_ = false;
  // The opening flags run for about a second before the first frame can follow them.
  auto due = Clock::now() + std::chrono::milliseconds(profile_.fast ? 0 : 1000);
  result(Result::Connect);
  Bytes frame;
  bool dle = false;
  for (;;) {
    uint8_t b;
    if (!takeByte(b)) {
      // A DTE that sends nothing for 5 s loses the carrier.
      if (waitAny(5000) == Wake::Timeout) {
        line_->carrierOff(end_);
        result(Result::Error);
        return;
      }
      continue;
    }
    if (dle) {
      dle = false;
      if (b == kDle) {
        frame.push_back(kDle);
      } else if (b == kEtx) {
        if (frame.empty()) continue;
        const bool final = frame.size() >= 2 && (frame[1] & 0x10);
        c1NoteSentFrame(frame);
        const Bytes wire = withFcs(frame);
        pace(due, wire.size() + 2, 300);
        const bool sent = line_->sendFrame(end_, wire);
        frame.clear();
        if (final) {
          pace(due, 2, 300);
          line_->carrierOff(end_);
          // A frame that went out on a live line is OK, even when the far end hangs up the moment
          // it has it (as after DCN): a transmitter cannot hear that. Only a line already gone
          // when the frame was sent is NO CARRIER.
          if (!sent && checkLost()) {
            goOnHook();
            result(Result::NoCarrier);
          } else {
            result(Result::Ok);
          }
          return;
        }
        result(Result::Connect);
      }
      continue;
    }
    if (b == kDle) {
      dle = true;
    } else if (frame.size() < 512) {
      frame.push_back(b);
    }
  }
}

void Modem::c1ReceiveHdlc(int firstCarrierTimeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(firstCarrierTimeoutMs < 0 ? 0 : firstCarrierTimeoutMs);
  bool connected = false;
  for (;;) {
    if (auto ev = line_->peek(end_)) {
      line_->pop(end_);
      switch (ev->kind) {
        case LineEvent::Kind::CarrierOn:
          rxV21_ = ev->mod == 3;
          rxSkipping_ = ev->mod != 3;  // a high-speed carrier means nothing to the V.21 receiver
          if (ev->mod != 3 && c1PageAfterEnd()) return;
          if (rxV21_ && !connected) {
            result(Result::Connect);
            connected = true;
          }
          continue;
        case LineEvent::Kind::Frame: {
          if (!rxV21_) continue;
          if (!connected) {
            result(Result::Connect);
            connected = true;
          }
          c1NoteReceivedFrame(ev->bytes);
          Bytes out;
          appendDleStuffed(out, ev->bytes.data(), ev->bytes.size());
          out.push_back(kDle);
          out.push_back(kEtx);
          sendBytes(out);
          const bool good = fcsValid(ev->bytes);
          if (isFinal(ev->bytes)) {
            // The closing flags: OK only once the carrier is gone.
            const auto until = Clock::now() + std::chrono::seconds(3);
            for (;;) {
              auto next = line_->peek(end_);
              if (next && next->kind == LineEvent::Kind::CarrierOff) {
                line_->pop(end_);
                rxV21_ = false;
                break;
              }
              if (next || checkLost()) break;
              const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
              if (left <= 0) break;
              std::deque<uint8_t> keep;
              keep.swap(in_);
              waitAny(left);
              keep.insert(keep.end(), in_.begin(), in_.end());
              in_.swap(keep);
              if (!in_.empty() && line_->peek(end_) == std::nullopt) {
                // Input waits for after the result; do not spin on it.
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
              }
            }
          }
          result(good ? Result::Ok : Result::Error);
          return;
        }
        case LineEvent::Kind::Data:
          continue;
        case LineEvent::Kind::CarrierOff: {
          const bool wasV21 = rxV21_;
          rxV21_ = rxSkipping_ = false;
          if (connected && wasV21) {
            result(Result::NoCarrier);
            return;
          }
          continue;
        }
      }
    }
    if (checkLost()) {
      goOnHook();
      result(Result::NoCarrier);
      return;
    }
    int timeout = -1;
    if (firstCarrierTimeoutMs >= 0 && !connected) {
      timeout = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      if (timeout <= 0) {
        goOnHook();
        result(Result::NoCarrier);
        return;
      }
    }
    if (waitAny(timeout) == Wake::Input) {
      // Any character from the DTE ends the wait.
      in_.pop_front();  // the key that aborted; the rest is read as commands
      result(Result::Ok);
      return;
    }
  }
}

void Modem::c1TransmitData(int mod) {
  const int rate = modulationRate(mod);
  line_->carrierOn(end_, mod);
  rxV21_ = rxSkipping_ = false;
  sleepMs(mod == 73 || mod == 97 || mod == 121 || mod == 145 ? 1400 : 300);  // training
  result(Result::Connect);
  auto due = Clock::now();
  Bytes chunk;
  bool dle = false;
  auto flush = [&] {
    if (chunk.empty()) return;
    pace(due, chunk.size(), rate);
    line_->sendData(end_, chunk);
    chunk.clear();
  };
  for (;;) {
    uint8_t b;
    if (!takeByte(b)) {
      flush();
      if (waitAny(10000) == Wake::Timeout) {
        line_->carrierOff(end_);
        result(Result::Error);
        return;
      }
      continue;
    }
    if (dle) {
      dle = false;
      if (b == kDle) chunk.push_back(kDle);
      else if (b == kEtx) break;
      continue;
    }
    if (b == kDle) {
      dle = true;
      continue;
    }
    chunk.push_back(b);
    if (chunk.size() >= 256) flush();
  }
  flush();
  line_->carrierOff(end_);
  if (checkLost()) {
    goOnHook();
    result(Result::NoCarrier);
  } else {
    result(Result::Ok);
  }
}

void Modem::c1ReceiveData(int mod) {
  bool receiving = false;
  Bytes out;
  for (;;) {
    if (auto ev = line_->peek(end_)) {
      switch (ev->kind) {
        case LineEvent::Kind::CarrierOn:
          if (ev->mod == 3) {
            // V.21 flags where page or training data was expected.
            if (receiving) break;
            result(Result::FcError);
            return;
          }
          line_->pop(end_);
          if (c1PageAfterEnd()) return;
          rxV21_ = false;
          if (!receiving && modulationsMatch(mod, ev->mod)) {
            receiving = true;
            rxSkipping_ = false;
            result(Result::Connect);
          } else {
            rxSkipping_ = true;
          }
          continue;
        case LineEvent::Kind::Frame:
          if (rxV21_ && !receiving) {
            result(Result::FcError);
            return;
          }
          line_->pop(end_);
          continue;
        case LineEvent::Kind::Data:
          line_->pop(end_);
          if (receiving && !rxSkipping_) {
            out.clear();
            appendDleStuffed(out, ev->bytes.data(), ev->bytes.size());
            sendBytes(out);
          }
          continue;
        case LineEvent::Kind::CarrierOff:
          line_->pop(end_);
          rxV21_ = rxSkipping_ = false;
          if (receiving) {
            sendBytes(Bytes{kDle, kEtx});
            result(Result::NoCarrier);
            return;
          }
          continue;
      }
      if (receiving) {
        // A V.21 carrier cannot start inside ours; treat it as the end of our carrier.
        sendBytes(Bytes{kDle, kEtx});
        result(Result::NoCarrier);
        return;
      }
    }
    if (checkLost()) {
      if (receiving) sendBytes(Bytes{kDle, kEtx});
      goOnHook();
      result(Result::NoCarrier);
      return;
    }
    if (waitAny(-1) == Wake::Input) {
      in_.pop_front();
      if (receiving) sendBytes(Bytes{kDle, kEtx});
      result(Result::Ok);
      return;
    }
  }
}

void Modem::c1NoteReceivedFrame(const Bytes& frame) {
  const uint8_t code = frameFcf(frame);
  c1EopHeard_ = code == fcf::kEop;
  if (code == fcf::kDcn) c1AwaitDcn_ = false;
}

void Modem::c1NoteSentFrame(const Bytes& frame) {
  // Our DTE answered the far side's EOP: MCF ends the document; RTN/RTP lead to retraining.
  if (c1EopHeard_ && frameFcf(frame) == fcf::kMcf) c1AwaitDcn_ = true;
  c1EopHeard_ = false;
}

bool Modem::c1PageAfterEnd() {
  if (!c1AwaitDcn_) return false;
  // A real receiver has filed the fax and waits only for DCN; a page now would be lost, so the
  // sender's fault must show: say so and drop the line, as a receiver timing out would.
  const std::string what = "protocol error: page carrier after EOP and MCF, DCN expected";
  std::fprintf(stderr, "qvmodem %c: %s\n", end_ == 0 ? 'A' : 'B', what.c_str());
  trace("! " + what);
  goOnHook();
  result(Result::NoCarrier);
  return true;
}

void Modem::c1Silence(int tenMs, bool listen) {
  if (listen) {
    // Wait until the line has been quiet that long; a DTE character ends the wait.
    auto quietSince = Clock::now();
    for (;;) {
      if (line_ && line_->pendingEvents(end_)) {
        auto ev = line_->peek(end_);
        if (ev && ev->kind == LineEvent::Kind::CarrierOn) break;  // leave it for the next command
        line_->pop(end_);
        quietSince = Clock::now();
        continue;
      }
      const int need = tenMs * 10 - static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - quietSince).count());
      if (need <= 0 || profile_.fast) break;
      if (waitAny(need) == Wake::Input) {
        in_.pop_front();
        break;
      }
    }
  } else {
    sleepMs(tenMs * 10);
  }
  result(Result::Ok);
}

}  // namespace qv::modem
