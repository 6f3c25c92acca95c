// Class 2 (SP-2388) and Class 2.0 (T.32): the modem runs T.30 itself and the DTE only gives
// session parameters, page data and post-page commands.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "qvmodem/modem.h"

namespace qv::modem {

namespace {
constexpr int kT1Ms = 35000;
constexpr int kT2Ms = 6000;
constexpr int kT4Ms = 3000;

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

bool parseNumber(const std::string& s, int& v, bool hex) {
  if (s.empty() || s.size() > 4) return false;
  v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v * (hex ? 16 : 10) + d;
  }
  return true;
}

std::string unquote(const std::string& s) {
  std::string v = s;
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  return v;
}
}  // namespace

bool Modem::c2ReportEnabled(int which) const { return !is20() || fnr_[which] != 0; }

std::string Modem::hangupText(int code) const {
  char buf[32];
  if (is20()) {
    if (code >= 100) std::snprintf(buf, sizeof buf, "+FHS:A%d", code - 100);
    else std::snprintf(buf, sizeof buf, "+FHS:%02d", code);
  } else {
    std::snprintf(buf, sizeof buf, "+FHNG:%d", code);
  }
  return buf;
}

void Modem::c2Hangup(int code) {
  goOnHook();
  info(hangupText(code));
  result(Result::Ok);
}

Result Modem::class2(const std::string& name, char op, const std::string& arg, bool& done) {
  const bool v20 = is20();
  auto is = [&](const char* c2, const char* c20) { return name == (v20 ? c20 : c2); };
  auto paramCmd = [&](SessionParams& p) -> Result {
    if (op == 'L') {
      char buf[128];
      std::snprintf(buf, sizeof buf, "(0,1),(0-%d),(0-2),(0-2),%s,%s,(0),(0-7)", rateToBr(profile_.maxRate),
                    profile_.codingRange().c_str(), profile_.ecmRange(v20).c_str());
      info(buf);
      return Result::Ok;
    }
    if (op == '?') {
      info(p.format(v20));
      return Result::Ok;
    }
    if (op != '=') return Result::Error;
    SessionParams next = p;
    if (!next.parse(arg, v20)) return Result::Error;
    if (next.vr < 0 || next.vr > (v20 ? 0x7F : 1) || next.br < 0 || next.br > 5 || next.wd < 0 || next.wd > 4 ||
        next.ln < 0 || next.ln > 2 || next.df < 0 || next.df > 3 || next.st < 0 || next.st > 7)
      return Result::Error;
    // Offer no more than the modem can do: its best coding (uncompressed mode is not among
    // them) and error correction if it has it.
    next.br = std::min(next.br, rateToBr(profile_.maxRate));
    if (next.df == 2) next.df = 1;
    next.df = std::min(next.df, profile_.bestCoding);
    if (next.df == 2) next.df = 1;
    if (!profile_.ecm || next.ec > 2) next.ec = 0;
    next.bf = 0;
    p = next;
    return Result::Ok;
  };
  auto intParam = [&](int& value, int max, const char* range) -> Result {
    if (op == 'L') { info(range); return Result::Ok; }
    if (op == '?') { info(std::to_string(value)); return Result::Ok; }
    int v = 0;
    if (op != '=' || !parseNumber(arg, v, v20) || v > max) return Result::Error;
    value = v;
    return Result::Ok;
  };
  if (is("+FDCC", "+FCC")) return paramCmd(c2Caps_);
  if (is("+FDIS", "+FIS")) return paramCmd(c2Dis_);
  if (is("+FLID", "+FLI") || (v20 && name == "+FPI") || (!v20 && name == "+FCIG")) {
    if (op == 'L') { info("(20)(32-127)"); return Result::Ok; }
    if (op == '?') { info(quoted(localId_)); return Result::Ok; }
    if (op != '=') return Result::Error;
    std::string id = unquote(arg);
    if (id.size() > 20) return Result::Error;
    if (name == "+FLID" || name == "+FLI") localId_ = id;
    return Result::Ok;
  }
  if (name == "+FCR") return intParam(fcr_, 1, "(0,1)");
  if (name == "+FAA") return intParam(faa_, 1, "(0,1)");
  if (is("+FBOR", "+FBO")) return intParam(bor_, 3, "(0-3)");
  if (v20 && name == "+FLO") return intParam(flo_, 2, "(0-2)");
  if (v20 && name == "+FIE") return intParam(fie_, 1, "(0,1)");
  if (v20 && name == "+FNR") {
    if (op == 'L') { info("(0,1),(0,1),(0,1),(0,1)"); return Result::Ok; }
    if (op == '?') {
      info(std::to_string(fnr_[0]) + "," + std::to_string(fnr_[1]) + "," + std::to_string(fnr_[2]) + "," + std::to_string(fnr_[3]));
      return Result::Ok;
    }
    if (op != '=') return Result::Error;
    int vals[4] = {fnr_[0], fnr_[1], fnr_[2], fnr_[3]};
    size_t start = 0;
    for (int k = 0; k < 4 && start <= arg.size(); ++k) {
      size_t comma = arg.find(',', start);
      if (comma == std::string::npos) comma = arg.size();
      const std::string part = arg.substr(start, comma - start);
      if (!part.empty()) {
        int v;
        if (!parseNumber(part, v, true) || v > 1) return Result::Error;
        vals[k] = v;
      }
      start = comma + 1;
    }
    std::copy(std::begin(vals), std::end(vals), std::begin(fnr_));
    return Result::Ok;
  }
  if (is("+FPTS", "+FPS")) {
    if (op == 'L') { info("(1-5)"); return Result::Ok; }
    if (op == '?') { info(std::string(v20 ? "+FPS:" : "+FPTS:") + std::to_string(pageStatus_)); return Result::Ok; }
    int v;
    if (op != '=' || !parseNumber(arg, v, v20) || v < 1 || v > 5) return Result::Error;
    pageStatus_ = v;
    return Result::Ok;
  }
  // Accepted and remembered by real modems; nothing in our T.30 depends on them.
  static const char* const kAccepted2[] = {"+FMINSP", "+FPHCTO", "+FBUG", "+FTBC", "+FCQ", "+FSPL", "+FAXERR", "+FBADLIN", "+FBADMUL", "+FREL", "+FECM", "+FBS", "+FBUF", "+FCTCRTY", "+FWDFC", "+FVRFC", "+FLNFC", "+FDFFC"};
  static const char* const kAccepted20[] = {"+FMS", "+FCT", "+FBU", "+FPP", "+FCQ", "+FSP", "+FAP", "+FRQ", "+FRY", "+FEA", "+FBS", "+FND", "+FPR", "+FCS", "+FPA", "+FSA"};
  if (v20 && name == "+FIP") {
    // Back to the factory fax parameters (the class stays).
    if (op != 0 && op != '=') return Result::Error;
    const int br = rateToBr(profile_.maxRate);
    c2Caps_ = SessionParams{1, br, 0, 2, 0, 0, 0, 0};
    c2Dis_ = c2Caps_;
    localId_.clear();
    fcr_ = faa_ = bor_ = fie_ = 0;
    flo_ = 1;
    std::fill(std::begin(fnr_), std::end(fnr_), 0);
    pageStatus_ = 1;
    return Result::Ok;
  }
  if (name == "+FDT") {
    if (op != 0 && op != '=') return Result::Error;
    if (!inCall_ || !c2Sender_) return Result::Error;
    done = true;
    c2Transmit();
    return Result::Ok;
  }
  if (name == "+FDR") {
    if (op != 0) return Result::Error;
    if (!inCall_ || c2Sender_) return Result::Error;
    done = true;
    c2Receive();
    return Result::Ok;
  }
  if (name == "+FET") {
    int v;
    if (op == 'L') { info("(0-2)"); return Result::Ok; }
    if (op != '=' || !parseNumber(arg, v, v20) || v > 5) return Result::Error;
    if (!inCall_ || !c2Sender_) return Result::Error;
    done = true;
    c2PostPage(v % 3);
    return Result::Ok;
  }
  if (name == "+FK" || name == "+FKS") {
    done = true;
    c2Abort();
    return Result::Ok;
  }
  const auto* first = v20 ? std::begin(kAccepted20) : std::begin(kAccepted2);
  const auto* last = v20 ? std::end(kAccepted20) : std::end(kAccepted2);
  if (std::find_if(first, last, [&](const char* n) { return name == n; }) != last) {
    if (op == '?') info("0");
    return Result::Ok;
  }
  return Result::Error;
}

// ---------------------------------------------------------------------------------------------
// Line primitives for the modem's own T.30

void Modem::lineSendFrames(const std::vector<Bytes>& frames) {
  line_->carrierOn(end_, 3);
  auto due = Clock::now() + std::chrono::milliseconds(profile_.fast ? 0 : 1000);
  for (const Bytes& f : frames) {
    const Bytes wire = withFcs(f);
    pace(due, wire.size() + 2, 300);
    line_->sendFrame(end_, wire);
  }
  pace(due, 2, 300);
  line_->carrierOff(end_);
}

void Modem::skipCarrier() {
  // Drop the rest of a carrier already begun (we were not listening for it).
  while (auto ev = line_->peek(end_)) {
    line_->pop(end_);
    if (ev->kind == LineEvent::Kind::CarrierOff) return;
  }
}

Modem::RxStatus Modem::lineReceiveFrames(std::vector<Bytes>& frames, int timeoutMs) {
  frames.clear();
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  bool inV21 = false;
  bool skipping = false;
  auto guard = Clock::now() + std::chrono::milliseconds(timeoutMs + 15000);
  for (;;) {
    if (auto ev = line_->peek(end_)) {
      line_->pop(end_);
      switch (ev->kind) {
        case LineEvent::Kind::CarrierOn:
          inV21 = ev->mod == 3;
          skipping = !inV21;
          break;
        case LineEvent::Kind::Frame:
          if (inV21 && fcsValid(ev->bytes)) frames.push_back(Bytes(ev->bytes.begin(), ev->bytes.end() - 2));
          break;
        case LineEvent::Kind::Data:
          break;
        case LineEvent::Kind::CarrierOff:
          if (inV21) return RxStatus::Ok;
          skipping = false;
          break;
      }
      continue;
    }
    if (checkLost()) return RxStatus::Lost;
    const auto limit = (inV21 || skipping) ? guard : deadline;
    const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(limit - Clock::now()).count());
    if (left <= 0) return inV21 ? RxStatus::Ok : RxStatus::Timeout;
    // DTE input stays queued for the command that follows (only CAN matters meanwhile).
    std::deque<uint8_t> keep;
    keep.swap(in_);
    waitAny(std::min(left, 200));
    keep.insert(keep.end(), in_.begin(), in_.end());
    in_.swap(keep);
  }
}

Modem::RxStatus Modem::lineReceiveData(Bytes& data, int& rate, bool& damaged, int timeoutMs, bool deliver, T4Scanner* scan,
                                       size_t keepMax) {
  data.clear();
  damaged = false;
  rate = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  bool receiving = false;
  const bool reverse = is20() ? (bor_ & 1) != 0 : (profile_.class2ReceiveReversed != ((bor_ & 1) != 0));
  Bytes out;
  for (;;) {
    if (auto ev = line_->peek(end_)) {
      if (!receiving) {
        if (ev->kind == LineEvent::Kind::CarrierOn && ev->mod == 3) return RxStatus::Timeout;  // frames instead
        line_->pop(end_);
        if (ev->kind == LineEvent::Kind::CarrierOn) {
          receiving = true;
          rate = modulationRate(ev->mod);
          if (deliver) {
            result(Result::Connect);
            // The DTE says when it is ready: DC2 (DC1 accepted from Class 2 DTEs).
            const auto until = Clock::now() + std::chrono::seconds(5);
            for (;;) {
              uint8_t b;
              bool ready = false;
              while (takeByte(b)) {
                if (b == kDc2 || (!is20() && b == kXon)) ready = true;
              }
              if (ready) break;
              const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
              if (left <= 0) break;
              waitAny(left);
            }
          }
        }
        continue;
      }
      line_->pop(end_);
      if (ev->kind == LineEvent::Kind::Data) {
        const size_t room = keepMax > data.size() ? keepMax - data.size() : 0;
        data.insert(data.end(), ev->bytes.begin(), ev->bytes.begin() + static_cast<long>(std::min(room, ev->bytes.size())));
        if (scan) scan->feed(ev->bytes);
        damaged = damaged || ev->damaged;
        if (deliver) {
          out.clear();
          for (uint8_t b : ev->bytes) {
            const uint8_t v = reverse ? reverseBits(b) : b;
            out.push_back(v);
            if (v == kDle) out.push_back(kDle);
          }
          sendBytes(out);
        }
      } else if (ev->kind == LineEvent::Kind::CarrierOff || ev->kind == LineEvent::Kind::CarrierOn) {
        if (deliver) sendBytes(Bytes{kDle, kEtx});
        return RxStatus::Ok;
      }
      continue;
    }
    if (checkLost()) {
      if (receiving && deliver) sendBytes(Bytes{kDle, kEtx});
      return RxStatus::Lost;
    }
    int left = 200;
    if (!receiving) {
      left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      if (left <= 0) return RxStatus::Timeout;
    }
    std::deque<uint8_t> keep;
    keep.swap(in_);
    waitAny(std::min(left, 200));
    keep.insert(keep.end(), in_.begin(), in_.end());
    in_.swap(keep);
  }
}

void Modem::lineSendData(int mod, const Bytes& data) {
  line_->carrierOn(end_, mod);
  auto due = Clock::now() + std::chrono::milliseconds(profile_.fast ? 0 : 300);
  const int rate = modulationRate(mod);
  for (size_t i = 0; i < data.size(); i += 256) {
    const size_t n = std::min<size_t>(256, data.size() - i);
    pace(due, n, rate);
    line_->sendData(end_, Bytes(data.begin() + static_cast<long>(i), data.begin() + static_cast<long>(i + n)));
  }
  line_->carrierOff(end_);
}

// ---------------------------------------------------------------------------------------------
// Calling side

void Modem::c2DialSession() {
  c2Sender_ = true;
  pagesDone_ = 0;
  trained_ = false;
  needDis_ = false;
  remoteCaps_ = {};
  const auto deadline = Clock::now() + std::chrono::milliseconds(kT1Ms);
  std::string remoteId;
  for (;;) {
    const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    std::vector<Bytes> frames;
    const RxStatus st = left > 0 ? lineReceiveFrames(frames, left) : RxStatus::Timeout;
    if (st != RxStatus::Ok) {
      goOnHook();
      result(Result::NoCarrier);
      return;
    }
    bool gotDis = false;
    for (const Bytes& f : frames) {
      const uint8_t code = frameFcf(f);
      if (code == fcf::kCsi) remoteId = parseIdFrame(f);
      if (code == fcf::kDis) {
        remoteCaps_ = parseDis(f);
        gotDis = true;
      }
    }
    if (gotDis) break;
  }
  haveRemoteCaps_ = true;
  info(rep("+FCON", "+FCO"));
  if (!remoteId.empty() && c2ReportEnabled(2)) info(rep("+FCSI:", "+FCI:") + quoted(remoteId));
  if (c2ReportEnabled(0)) info(rep("+FDIS:", "+FIS:") + remoteCaps_.format(is20()));
  result(Result::Ok);
}

bool Modem::c2SendPhaseB() {
  session_.vr = std::min(c2Dis_.vr & 1, remoteCaps_.vr);
  session_.br = std::min({c2Dis_.br, remoteCaps_.br, rateToBr(profile_.maxRate)});
  session_.wd = std::min(c2Dis_.wd, remoteCaps_.wd);
  session_.ln = std::min(c2Dis_.ln, remoteCaps_.ln);
  negotiateCoding(c2Dis_, remoteCaps_, session_);
  session_.bf = 0;
  // With ECM the receiver is fed from checked frames: no minimum scan-line time.
  session_.st = session_.ec ? 0 : remoteCaps_.st;
  int tries = 0;
  for (;;) {
    std::vector<Bytes> out;
    if (!localId_.empty()) out.push_back(buildIdFrame(fcf::kTsi | 1, localId_, false));
    out.push_back(buildDcs(session_, true));
    lineSendFrames(out);
    sleepMs(75);
    const int rate = brToRate(session_.br);
    lineSendData(rateToMod(rate), Bytes(static_cast<size_t>(rate * 3 / 16), 0));  // 1.5 s of zeros
    std::vector<Bytes> resp;
    const RxStatus st = lineReceiveFrames(resp, kT4Ms);
    if (st == RxStatus::Lost) {
      c2Hangup(20);
      return false;
    }
    uint8_t answer = 0;
    for (const Bytes& f : resp) {
      const uint8_t code = frameFcf(f);
      if (code == fcf::kCfr || code == fcf::kFtt || code == fcf::kDcn) answer = code;
      if (code == fcf::kDis) remoteCaps_ = parseDis(f);
    }
    if (answer == fcf::kCfr) {
      trained_ = true;
      return true;
    }
    if (answer == fcf::kDcn) {
      c2Hangup(22);
      return false;
    }
    if (answer == fcf::kFtt) {
      if (session_.br == 0) {
        c2Hangup(27);
        return false;
      }
      --session_.br;
      tries = 0;
      continue;
    }
    if (++tries >= 3) {
      c2Hangup(25);
      return false;
    }
  }
}

void Modem::c2Transmit() {
  if (needDis_) {
    // After EOM the receiver starts phase B again with a new DIS.
    std::vector<Bytes> frames;
    bool gotDis = false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kT1Ms);
    while (!gotDis) {
      const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      if (left <= 0 || lineReceiveFrames(frames, left) != RxStatus::Ok) {
        c2Hangup(left <= 0 ? 23 : 20);
        return;
      }
      for (const Bytes& f : frames)
        if (frameFcf(f) == fcf::kDis) {
          remoteCaps_ = parseDis(f);
          gotDis = true;
        }
    }
    needDis_ = false;
    if (c2ReportEnabled(0)) info(rep("+FDIS:", "+FIS:") + remoteCaps_.format(is20()));
  }
  if (!trained_) {
    if (!c2SendPhaseB()) return;
    if (c2ReportEnabled(1)) info(rep("+FDCS:", "+FCS:") + session_.format(is20()));
  }
  const int rate = brToRate(session_.br);
  line_->carrierOn(end_, rateToMod(rate), session_.ec != 0);
  sleepMs(300);
  result(Result::Connect);
  if (!is20() && profile_.class2SendXon) sendBytes(Bytes{kXon});
  auto due = Clock::now();
  T4Scanner scan;
  size_t pageBytes = 0;
  Bytes chunk;
  const bool reverse = (bor_ & 1) != 0;
  int ppm = -1;
  bool dle = false;
  bool ended = false;
  auto flush = [&] {
    if (chunk.empty()) return;
    pace(due, chunk.size(), rate);
    line_->sendData(end_, chunk);
    scan.feed(chunk);
    pageBytes += chunk.size();
    chunk.clear();
  };
  while (!ended) {
    uint8_t b;
    if (!takeByte(b)) {
      flush();
      if (waitAny(30000) == Wake::Timeout) {
        // The DTE stopped feeding the page.
        line_->carrierOff(end_);
        c2Hangup(43);
        return;
      }
      continue;
    }
    if (dle) {
      dle = false;
      if (b == kDle) chunk.push_back(reverse ? reverseBits(kDle) : kDle);
      else if (b == kEtx) ended = true;
      else if (is20() && b == kSub) {
        chunk.push_back(reverse ? reverseBits(kDle) : kDle);
        chunk.push_back(reverse ? reverseBits(kDle) : kDle);
      } else if (is20() && (b == ',' || b == ';' || b == '.')) {
        ppm = b == ',' ? 0 : b == ';' ? 1 : 2;
        ended = true;
      }
      continue;
    }
    if (b == kDle) {
      dle = true;
      continue;
    }
    chunk.push_back(reverse ? reverseBits(b) : b);
    if (chunk.size() >= 256) flush();
  }
  flush();
  // The DCE closes the page with RTC when the DTE did not. An RTC with fill between its EOLs
  // (efax's sender pads the last one to a byte boundary) is no RTC to a strict receiver: efax's
  // Class 2 receiver then warns of reception errors and answers RTN to a flawless page. A real
  // DCE appends its own RTC, which such a receiver takes.
  trace("page sent: " + std::to_string(pageBytes) + " bytes, " + std::to_string(scan.tail().eolCount) + " EOLs");
  // MMR ends in its own EOFB, which the DTE sends: there is no RTC to add.
  if (session_.df != 3 && !scan.tail().hasCleanRtc()) {
    chunk = rtcBytes(session_.df == 1);
    flush();
  }
  if (const int resent = line_->ecmFramesResent(end_); resent > 0)
    trace("ECM: " + std::to_string(resent) + " frames sent again in this page");
  line_->carrierOff(end_);
  // A transmitter hears nothing: frames the far side sent before it hung up (a DCN after +FK)
  // do not keep the call alive.
  if (!line_->connected(end_)) {
    c2Hangup(40);
    return;
  }
  if (ppm < 0) {
    result(Result::Ok);  // +FET follows
    return;
  }
  c2PostPage(ppm);
}

void Modem::c2PostPage(int ppm) {
  static const uint8_t kPpm[3] = {fcf::kMps, fcf::kEom, fcf::kEop};
  sleepMs(75);
  int status = 0;
  for (int tries = 0; tries < 3 && status == 0; ++tries) {
    lineSendFrames({buildSimpleFrame(static_cast<uint8_t>(kPpm[ppm] | 1))});
    std::vector<Bytes> resp;
    const RxStatus st = lineReceiveFrames(resp, kT4Ms);
    if (st == RxStatus::Lost) {
      c2Hangup(50);
      return;
    }
    for (const Bytes& f : resp) {
      switch (frameFcf(f)) {
        case fcf::kMcf: status = 1; break;
        case fcf::kRtn: status = 2; break;
        case fcf::kRtp: status = 3; break;
        case fcf::kPin: status = 4; break;
        case fcf::kPip: status = 5; break;
        case fcf::kDcn: c2Hangup(51); return;
        default: break;
      }
    }
  }
  if (status == 0) {
    lineSendFrames({buildSimpleFrame(fcf::kDcn | 1)});
    c2Hangup(ppm == 0 ? 52 : ppm == 1 ? 56 : 54);
    return;
  }
  ++pagesDone_;
  lastPageStatus_ = status;
  pageStatus_ = status;
  if (!is20()) info("+FPTS:" + std::to_string(status));
  const bool good = status == 1 || status == 3;
  if (good && ppm == 2) {
    lineSendFrames({buildSimpleFrame(fcf::kDcn | 1)});
    c2Hangup(profile_.endHangup);
    return;
  }
  if (good && ppm == 1) needDis_ = true;
  trained_ = status == 1 && ppm == 0;
  if (status == 4 || status == 5) {
    // No operator to talk to: the procedure interrupt ends the call.
    lineSendFrames({buildSimpleFrame(fcf::kDcn | 1)});
    c2Hangup(58);
    return;
  }
  result(is20() && !good ? Result::Error : Result::Ok);
}

void Modem::c2Abort() {
  if (inCall_ && line_ && line_->connected(end_)) {
    lineSendFrames({buildSimpleFrame(c2Sender_ ? fcf::kDcn | 1 : fcf::kDcn)});
    c2Hangup(2);
    return;
  }
  goOnHook();
  result(Result::Ok);
}

// ---------------------------------------------------------------------------------------------
// Answering side

bool Modem::c2ReceivePhaseB(bool sendDisFirst) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kT1Ms);
  bool sendDis = sendDisFirst;
  bool gotDcs = false;
  for (;;) {
    if (Clock::now() > deadline) {
      c2Hangup(70);
      return false;
    }
    if (sendDis) {
      std::vector<Bytes> out;
      if (!localId_.empty()) out.push_back(buildIdFrame(fcf::kCsi, localId_, false));
      SessionParams caps = c2Caps_;
      caps.br = std::min(caps.br, rateToBr(profile_.maxRate));
      out.push_back(buildDis(caps, true));
      lineSendFrames(out);
    }
    sendDis = true;
    std::vector<Bytes> frames;
    const RxStatus st = lineReceiveFrames(frames, kT4Ms);
    if (st == RxStatus::Lost) {
      c2Hangup(70);
      return false;
    }
    if (st == RxStatus::Timeout) {
      // Nothing heard: repeat DIS, or after a DCS (training never came) wait on.
      if (gotDcs) sendDis = false;
      continue;
    }
    bool dcsNow = false;
    for (const Bytes& f : frames) {
      const uint8_t code = frameFcf(f);
      if (code == fcf::kTsi) remoteId_ = parseIdFrame(f);
      if (code == fcf::kDcs) {
        session_ = parseDcs(f);
        dcsNow = true;
      }
      if (code == fcf::kDcn) {
        c2Hangup(lastPpm_ == 2 ? 0 : 70);
        return false;
      }
    }
    if (!dcsNow) continue;
    gotDcs = true;
    Bytes tcf;
    int rate = 0;
    bool damaged = false;
    const RxStatus ts = lineReceiveData(tcf, rate, damaged, kT2Ms, false);
    if (ts == RxStatus::Lost) {
      c2Hangup(70);
      return false;
    }
    if (ts == RxStatus::Timeout) {
      sendDis = false;
      continue;
    }
    const size_t nonZero = static_cast<size_t>(std::count_if(tcf.begin(), tcf.end(), [](uint8_t b) { return b != 0; }));
    const bool good = tcf.size() >= static_cast<size_t>(rate / 16) && nonZero * 10 < tcf.size();
    if (good) {
      session_.br = rateToBr(rate);  // what actually trained
      sleepMs(75);
      lineSendFrames({buildSimpleFrame(fcf::kCfr)});
      trained_ = true;
      return true;
    }
    sleepMs(75);
    lineSendFrames({buildSimpleFrame(fcf::kFtt)});
    sendDis = false;
  }
}

// True when the frames repeat a post-page message (MPS, EOM or EOP, with or without the
// procedure-interrupt variants).
static bool isPostPage(uint8_t code) {
  return code == fcf::kMps || code == fcf::kEom || code == fcf::kEop || code == (0x5E & 0xFE) ||
         code == (0x9E & 0xFE) || code == (0x3E & 0xFE);
}

bool Modem::repeatsPostPage(const std::vector<Bytes>& frames) const {
  for (const Bytes& f : frames)
    if (isPostPage(frameFcf(f))) return true;
  return false;
}

void Modem::c2AnswerSession() {
  c2Sender_ = false;
  pagesDone_ = 0;
  lastPpm_ = -1;
  lastResponse_ = 0;
  responsePending_ = false;
  remoteId_.clear();
  pageStatus_ = 1;
  sleepMs(3000);  // CED
  if (!c2ReceivePhaseB(true)) return;
  info(rep("+FCON", "+FCO"));
  if (!remoteId_.empty() && c2ReportEnabled(2)) info(rep("+FTSI:", "+FTI:") + quoted(remoteId_));
  if (c2ReportEnabled(1)) info(rep("+FDCS:", "+FCS:") + session_.format(is20()));
  result(Result::Ok);
}

void Modem::c2Receive() {
  if (responsePending_) {
    static const uint8_t kResp[6] = {0, fcf::kMcf, fcf::kRtn, fcf::kRtp, fcf::kPin, fcf::kPip};
    const int status = pageStatus_ >= 1 && pageStatus_ <= 5 ? pageStatus_ : 1;
    sleepMs(75);
    lastResponse_ = kResp[status];
    lineSendFrames({buildSimpleFrame(lastResponse_)});
    responsePending_ = false;
    const bool good = status == 1 || status == 3;
    if (lastPpm_ == 2 && good) {
      // The end: the sender says goodbye with DCN. A sender that missed our answer repeats its
      // post-page message; answer it again, as a real modem does. Like any wait of the answering
      // side for a command this one is T2, not T4: the sender's own T4 and its turn-around come
      // before its repeat, and a sender slow to send DCN has not gone away.
      for (int repeats = 0; repeats < 3 && !profile_.noDcnWait; ++repeats) {
        std::vector<Bytes> frames;
        if (lineReceiveFrames(frames, kT2Ms) != RxStatus::Ok || !repeatsPostPage(frames)) break;
        sleepMs(75);
        lineSendFrames({buildSimpleFrame(lastResponse_)});
      }
      c2Hangup(0);
      return;
    }
    if (status == 4 || status == 5) {
      c2Hangup(103);
      return;
    }
    if (lastPpm_ == 1 && good) {
      if (!c2ReceivePhaseB(true)) return;
      if (c2ReportEnabled(1)) info(rep("+FDCS:", "+FCS:") + session_.format(is20()));
    } else if (!good || status == 3) {
      // RTN / RTP: the sender trains again (or gives up with DCN).
      if (!c2ReceivePhaseB(false)) return;
      if (c2ReportEnabled(1)) info(rep("+FDCS:", "+FCS:") + session_.format(is20()));
    }
    pageStatus_ = 1;
  }
  Bytes page;
  int rate = 0;
  bool damaged = false;
  T4Scanner scan;
  for (;;) {
    scan = T4Scanner();
    const RxStatus st = lineReceiveData(page, rate, damaged, kT2Ms + 4000, true, &scan, 1 << 20);
    if (st == RxStatus::Lost) {
      c2Hangup(page.empty() ? 73 : 90);
      return;
    }
    if (st == RxStatus::Ok) break;
    // No page carrier: the sender may have repeated its DCS (it missed our CFR) or given up.
    std::vector<Bytes> frames;
    if (lineReceiveFrames(frames, 200) == RxStatus::Ok) {
      bool dcs = false;
      for (const Bytes& f : frames) {
        if (frameFcf(f) == fcf::kDcn) {
          c2Hangup(lastPpm_ == 2 ? 0 : 73);
          return;
        }
        if (frameFcf(f) == fcf::kDcs) {
          session_ = parseDcs(f);
          dcs = true;
        }
      }
      if (!dcs && lastResponse_ != 0 && repeatsPostPage(frames)) {
        // The sender missed our answer to its last page and asks again.
        sleepMs(75);
        lineSendFrames({buildSimpleFrame(lastResponse_)});
        continue;
      }
      if (dcs) {
        Bytes tcf;
        int r = 0;
        bool d = false;
        if (lineReceiveData(tcf, r, d, kT2Ms, false) == RxStatus::Ok) {
          sleepMs(75);
          lineSendFrames({buildSimpleFrame(fcf::kCfr)});
        }
      }
      continue;
    }
    c2Hangup(73);
    return;
  }
  // Post-page message.
  int ppm = -1;
  for (int tries = 0; tries < 3 && ppm < 0; ++tries) {
    std::vector<Bytes> frames;
    const RxStatus st = lineReceiveFrames(frames, kT2Ms + 4000);
    if (st == RxStatus::Lost) {
      c2Hangup(100);
      return;
    }
    for (const Bytes& f : frames) {
      const uint8_t code = frameFcf(f);
      if (code == fcf::kMps || code == (0x5E & 0xFE)) ppm = 0;
      else if (code == fcf::kEom || code == (0x9E & 0xFE)) ppm = 1;
      else if (code == fcf::kEop || code == (0x3E & 0xFE)) ppm = 2;
      else if (code == fcf::kDcn) {
        c2Hangup(100);
        return;
      }
    }
  }
  if (ppm < 0) {
    c2Hangup(100);
    return;
  }
  if (const char* t = std::getenv("QVMODEM_TRACE")) {
    if (FILE* f = std::fopen((std::string(t) + ".page").c_str(), "wb")) {
      std::fwrite(page.data(), 1, page.size(), f);
      std::fclose(f);
    }
  }
  ++pagesDone_;
  const bool bad = damaged || (profile_.rtnPage > 0 && pagesDone_ == profile_.rtnPage);
  pageStatus_ = lastPageStatus_ = bad ? 2 : 1;
  const T4Tail tail = scan.tail();
  char buf[64];
  if (is20()) std::snprintf(buf, sizeof buf, "+FPS:%d,%X,0,0,0", pageStatus_, tail.lineCount());
  else std::snprintf(buf, sizeof buf, "+FPTS:%d,%d,0,0,0", pageStatus_, tail.lineCount());
  info(buf);
  info("+FET:" + std::to_string(ppm));
  lastPpm_ = ppm;
  responsePending_ = true;
  result(Result::Ok);
}

}  // namespace qv::modem
