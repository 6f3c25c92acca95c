#include "qvmodem/modem.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace qv::modem {

namespace {
// What a babbling device keeps sending: a GPS receiver's position sentence, which holds no "OK".
const char* const kBabbleLine = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
constexpr int kBabbleIntervalMs = 2;

std::string upper(std::string s) {
  bool quoted = false;
  for (auto& c : s) {
    if (c == '"') quoted = !quoted;
    if (!quoted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return s;
}
}  // namespace

Modem::Modem(pty::PtyPort& port, VirtualLine* line, int end, ModemProfile profile)
    : port_(port), line_(line), end_(end), profile_(std::move(profile)) {
  if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
  if (line_) line_->setNotifier(end_, wake_[1]);
  resetSettings();
}

Modem::~Modem() {
  stop();
  if (line_) line_->setNotifier(end_, -1);
  if (wake_[0] >= 0) ::close(wake_[0]);
  if (wake_[1] >= 0) ::close(wake_[1]);
}

void Modem::start() { thread_ = std::thread([this] { run(); }); }

void Modem::stop() {
  stop_ = true;
  if (wake_[1] >= 0) {
    const char c = 0;
    [[maybe_unused]] ssize_t n = ::write(wake_[1], &c, 1);
  }
  if (thread_.joinable()) thread_.join();
}

void Modem::resetSettings() {
  echo_ = true;
  quiet_ = false;
  verbose_ = true;
  xLevel_ = 4;
  std::fill(std::begin(s_), std::end(s_), 0);
  s_[2] = 43;
  s_[3] = 13;
  s_[4] = 10;
  s_[5] = 8;
  s_[6] = 2;
  s_[7] = 50;
  s_[8] = 2;
  s_[10] = 14;
  fclass_ = "0";
  const int br = rateToBr(profile_.maxRate);
  c2Caps_ = SessionParams{1, br, 0, 2, 0, 0, 0, 0};
  c2Dis_ = c2Caps_;
  localId_.clear();
  fcr_ = faa_ = bor_ = fie_ = 0;
  flo_ = 1;
  std::fill(std::begin(fnr_), std::end(fnr_), 0);
  pageStatus_ = 1;
}

void Modem::run() {
  while (!stop_) {
    try {
      commandLoop();
    } catch (const Unwind&) {
      // The DTE went away in the middle of something (or we are stopping): like DTR dropping.
      goOnHook();
    }
  }
  goOnHook();
}

void Modem::onDteGone() {
  in_.clear();
  port_.discardOutput();
  if (inCall_) goOnHook();
}

// ---------------------------------------------------------------------------------------------
// I/O

Modem::Wake Modem::waitAny(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    if (stop_) throw Unwind{};
    if (!in_.empty()) return Wake::Input;
    int left = -1;
    if (timeoutMs >= 0) {
      left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      if (left <= 0) return Wake::Timeout;
    }
    pollfd fds[2] = {{wake_[0], POLLIN, 0}, {port_.fd(), POLLIN, 0}};
    const int nfds = attached_ ? 2 : 1;
    int slice = attached_ ? left : 100;  // a pty with no slave polls as hung up: look again soon
    if (!attached_ && left >= 0 && left < slice) slice = left;
    ::poll(fds, nfds, slice);
    bool lineWake = false;
    if (fds[0].revents & POLLIN) {
      char buf[64];
      while (::read(wake_[0], buf, sizeof buf) > 0) {
      }
      lineWake = true;
    }
    uint8_t buf[4096];
    const long n = port_.readSome(buf, sizeof buf);
    if (n > 0) {
      attached_ = true;
      in_.insert(in_.end(), buf, buf + n);
    } else if (n < 0) {
      if (attached_) {
        attached_ = false;
        onDteGone();
        throw Unwind{};
      }
    } else {
      attached_ = true;
    }
    if (stop_) throw Unwind{};
    if (!in_.empty()) return Wake::Input;
    if (lineWake) return Wake::Line;
  }
}

bool Modem::takeByte(uint8_t& b) {
  if (in_.empty()) return false;
  b = in_.front();
  in_.pop_front();
  return true;
}

void Modem::sleepMs(int ms, bool abortOnInput) {
  if (profile_.fast || ms <= 0) return;
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
    if (left <= 0) return;
    // Input that arrives meanwhile stays queued unless it is meant to abort the wait.
    std::deque<uint8_t> keep;
    keep.swap(in_);
    Wake w;
    try {
      w = waitAny(left);
    } catch (...) {
      keep.insert(keep.end(), in_.begin(), in_.end());
      in_.swap(keep);
      throw;
    }
    keep.insert(keep.end(), in_.begin(), in_.end());
    in_.swap(keep);
    if (w == Wake::Input && abortOnInput) return;
    if (w == Wake::Input) {
      // Already queued: sleep the rest without polling the pty for it again.
      const int rest = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
      if (rest > 0) std::this_thread::sleep_for(std::chrono::milliseconds(std::min(rest, 20)));
    }
  }
}

void Modem::pace(Clock::time_point& due, size_t bytes, int rate) {
  if (profile_.fast || rate <= 0) return;
  due += std::chrono::microseconds(static_cast<long long>(bytes) * 8'000'000LL / rate);
  const auto now = Clock::now();
  if (due < now) {
    due = now;
    return;
  }
  std::this_thread::sleep_until(due);
  if (stop_) throw Unwind{};
}

void Modem::trace(const std::string& text) {
  static std::mutex mu;
  const char* path = std::getenv("QVMODEM_TRACE");
  if (!path || !*path) return;
  std::lock_guard lock(mu);
  if (FILE* f = std::fopen(path, "a")) {
    std::string clean;
    for (char c : text) clean += (c == '\r' || c == '\n') ? ' ' : c;
    // Seconds since the first trace line: the order of both ends' lines and the gaps between them
    // are what a timing fault shows in.
    static const Clock::time_point start = Clock::now();
    const double t = std::chrono::duration<double>(Clock::now() - start).count();
    std::fprintf(f, "%c %8.3f %s\n", end_ == 0 ? 'A' : 'B', t, clean.c_str());
    std::fclose(f);
  }
}

void Modem::send(const std::string& text) {
  trace("< " + text);
  if (attached_) port_.write(text);
}

void Modem::sendBytes(const Bytes& bytes) {
  if (attached_ && !bytes.empty()) port_.write(bytes.data(), bytes.size());
}

void Modem::result(Result r) {
  if (quiet_ || profile_.silent) return;
  Result shown = r;
  if (verbose_) {
    const char* text = "OK";
    switch (shown) {
      case Result::Ok: text = "OK"; break;
      case Result::Connect: text = "CONNECT"; break;
      case Result::Ring: text = "RING"; break;
      case Result::NoCarrier: text = "NO CARRIER"; break;
      case Result::Error: text = "ERROR"; break;
      case Result::NoDialtone: text = "NO DIALTONE"; break;
      case Result::Busy: text = "BUSY"; break;
      case Result::NoAnswer: text = "NO ANSWER"; break;
      case Result::FcError: text = "+FCERROR"; break;
      case Result::Voice: text = "VOICE"; break;
    }
    send(std::string("\r\n") + text + "\r\n");
  } else {
    int code = static_cast<int>(shown);
    if (shown == Result::FcError) {
      send("+F4\r");
      return;
    }
    if (shown == Result::Voice) code = 3;
    send(std::to_string(code) + "\r");
  }
}

void Modem::info(const std::string& text) {
  if (profile_.silent) return;
  send(verbose_ ? "\r\n" + text + "\r\n" : text + "\r\n");
}

// ---------------------------------------------------------------------------------------------
// Command mode

void Modem::commandLoop() {
  std::string lineBuf;
  for (;;) {
    handleRing();
    const bool babbling = profile_.babble && attached_ && !inCall_;
    const int timeout = babbling ? kBabbleIntervalMs : (line_ && line_->ringing(end_)) ? 50 : 500;
    const Wake w = waitAny(timeout);
    // Output nobody asked for, in between whatever the modem says itself.
    if (profile_.babble && attached_ && !inCall_) send(kBabbleLine);
    if (w != Wake::Input) {
      if (!inCall_ && line_) line_->takeLost(end_);
      if (inCall_ && line_ && !line_->connected(end_) && !line_->pendingEvents(end_)) {
        // The other side hung up while we sat in command mode.
        line_->takeLost(end_);
        goOnHook();
        lostCall_ = true;
      }
      continue;
    }
    uint8_t c;
    while (takeByte(c)) {
      if (profile_.silent) continue;
      if (echo_) sendBytes(Bytes{c});
      if (c == s_[3]) {
        const std::string cmd = lineBuf;
        lineBuf.clear();
        executeLine(cmd);
      } else if (c == s_[5] || c == 0x7F) {
        if (!lineBuf.empty()) lineBuf.pop_back();
      } else if (c == '\n' || c == 0) {
        // ignored between commands
      } else if (lineBuf.size() < 256) {
        lineBuf.push_back(static_cast<char>(c));
        // "A/" repeats the last command line at once.
        if (lineBuf.size() >= 2 && (lineBuf.substr(lineBuf.size() - 2) == "A/" || lineBuf.substr(lineBuf.size() - 2) == "a/")) {
          lineBuf.clear();
          executeLine(lastLine_);
        }
      }
    }
  }
}

void Modem::handleRing() {
  if (!line_ || inCall_) return;
  if (!line_->ringing(end_)) {
    rings_ = 0;
    s_[1] = 0;
    return;
  }
  const auto now = Clock::now();
  if (rings_ == 0 && nextRing_ < now - std::chrono::seconds(30)) nextRing_ = now;
  if (now < nextRing_) return;
  result(Result::Ring);
  ++rings_;
  s_[1] = std::min(rings_, 255);
  nextRing_ = now + std::chrono::milliseconds(profile_.fast ? 400 : 6000);
  if (s_[0] > 0 && rings_ >= s_[0]) answerCall();
  if (!line_->ringing(end_)) rings_ = 0;
}

void Modem::executeLine(const std::string& raw) {
  // Anything before "AT" is line noise (or the "+++" of an escape attempt).
  trace("> " + raw);
  std::string up = upper(raw);
  const size_t at = up.find("AT");
  if (at == std::string::npos) return;
  up = up.substr(at + 2);
  lastLine_ = raw.substr(at);
  std::string compact;
  for (char c : up)
    if (c != ' ') compact += c;
  if (profile_.ignoreAt && compact.empty()) return;
  if (profile_.ignoreAtF && compact.find("&F") != std::string::npos) return;
  for (const auto& bad : profile_.refuse) {
    if (!bad.empty() && (upper("AT" + up)).find(upper(bad)) != std::string::npos) {
      result(Result::Error);
      return;
    }
  }
  size_t i = 0;
  Result r = Result::Ok;
  bool done = false;
  while (i < up.size() && !done) {
    if (up[i] == ' ' || up[i] == ';') {
      ++i;
      continue;
    }
    if (up[i] == '+') {
      size_t j = i + 1;
      while (j < up.size() && (std::isalnum(static_cast<unsigned char>(up[j])) || up[j] == '.')) ++j;
      std::string name = up.substr(i, j - i);
      char op = 0;
      std::string arg;
      if (j < up.size() && up[j] == '?') {
        op = '?';
        ++j;
      } else if (j < up.size() && up[j] == '=') {
        ++j;
        if (j < up.size() && up[j] == '?') {
          op = 'L';  // =? list
          ++j;
        } else {
          op = '=';
          bool quoted = false;
          while (j < up.size() && (quoted || up[j] != ';')) {
            if (up[j] == '"') quoted = !quoted;
            arg += up[j];
            ++j;
          }
        }
      }
      i = j;
      r = executeExtended(name, op, arg, done);
      if (r == Result::Error) break;
      continue;
    }
    if (!executeBasic(up, i, r, done)) {
      r = Result::Error;
      break;
    }
    if (r == Result::Error) break;
  }
  if (!done) result(r);
}

// Returns false for an unknown command.
bool Modem::executeBasic(const std::string& up, size_t& i, Result& r, bool& done) {
  const char c = up[i++];
  auto number = [&](int def) {
    if (i < up.size() && std::isdigit(static_cast<unsigned char>(up[i]))) {
      int v = 0;
      while (i < up.size() && std::isdigit(static_cast<unsigned char>(up[i])) && v < 10000) v = v * 10 + (up[i++] - '0');
      return v;
    }
    return def;
  };
  switch (c) {
    case 'E': { const int n = number(0); if (n > 1) { r = Result::Error; return true; } echo_ = n == 1; return true; }
    case 'Q': { const int n = number(0); if (n > 1) { r = Result::Error; return true; } quiet_ = n == 1; return true; }
    case 'V': { const int n = number(0); if (n > 1) { r = Result::Error; return true; } verbose_ = n == 1; return true; }
    case 'X': { const int n = number(0); if (n > 4) { r = Result::Error; return true; } xLevel_ = n; return true; }
    case 'L': case 'M': case 'B': case 'N': case 'Y': case 'C': case 'W':
      number(0);
      return true;
    case 'Z':
      number(0);
      goOnHook();
      resetSettings();
      return true;
    case 'I': r = identification(number(0)); return true;
    case 'H': {
      const int n = number(0);
      if (n == 0) goOnHook();
      return true;
    }
    case 'O':
      number(0);
      r = inCall_ ? Result::Ok : Result::NoCarrier;
      return true;
    case 'A':
      answerCall();
      done = true;
      return true;
    case 'D': {
      std::string rest = up.substr(i);
      i = up.size();
      dial(rest);
      done = true;
      return true;
    }
    case 'S':
      r = sRegister(up, i);
      return true;
    case '&': {
      if (i >= up.size()) return false;
      const char k = up[i++];
      const int n = number(0);
      if (k == 'F') {
        if (n != 0) { r = Result::Error; return true; }
        resetSettings();
        return true;
      }
      return std::string("CDKSWVY").find(k) != std::string::npos;
    }
    default:
      return false;
  }
}

Result Modem::sRegister(const std::string& up, size_t& i) {
  int reg = 0;
  bool any = false;
  while (i < up.size() && std::isdigit(static_cast<unsigned char>(up[i]))) {
    reg = reg * 10 + (up[i++] - '0');
    any = true;
    if (reg > 255) return Result::Error;
  }
  if (!any) return Result::Error;
  if (i < up.size() && up[i] == '?') {
    ++i;
    char buf[8];
    std::snprintf(buf, sizeof buf, "%03d", s_[reg]);
    info(buf);
    return Result::Ok;
  }
  if (i < up.size() && up[i] == '=') {
    ++i;
    int v = 0;
    bool digits = false;
    while (i < up.size() && std::isdigit(static_cast<unsigned char>(up[i]))) {
      v = v * 10 + (up[i++] - '0');
      digits = true;
      if (v > 255) return Result::Error;
    }
    if (!digits) v = 0;
    if (reg == 1) return Result::Ok;  // the ring counter is read-only
    s_[reg] = v;
    return Result::Ok;
  }
  return Result::Ok;  // "Sn" selects a register: nothing to do for us
}

Result Modem::identification(int n) {
  switch (n) {
    case 0: info("qvmodem"); break;
    case 3: info(profile_.manufacturer + " " + profile_.model); break;
    case 4: info(profile_.revision); break;
    default: info(profile_.model); break;
  }
  return Result::Ok;
}

Result Modem::classCommand(char op, const std::string& arg) {
  if (op == 'L') {
    info(profile_.classes);
    return Result::Ok;
  }
  if (op == '?') {
    info(fclass_);
    return Result::Ok;
  }
  if (op != '=') return Result::Error;
  std::string v = arg;
  if (v == "1.0") v = "1";
  if (v.empty() || !profile_.supportsClass(v)) return Result::Error;
  if (v == "2.0" || v == "2") {
    // Choosing a fax class starts a fresh fax configuration.
    if (v != fclass_) std::fill(std::begin(fnr_), std::end(fnr_), 0);
  }
  fclass_ = v;
  return Result::Ok;
}

Result Modem::executeExtended(const std::string& name, char op, const std::string& arg, bool& done) {
  if (name == "+FCLASS") return classCommand(op, arg);
  if (name == "+FMFR" || name == "+FMI" || name == "+GMI") { info(profile_.manufacturer); return Result::Ok; }
  if (name == "+FMDL" || name == "+FMM" || name == "+GMM") { info(profile_.model); return Result::Ok; }
  if (name == "+FREV" || name == "+FMR" || name == "+GMR") { info(profile_.revision); return Result::Ok; }
  if (fclass_ == "1") return class1(name, op, arg, done);
  if (isClass2()) return class2(name, op, arg, done);
  return Result::Error;
}

// ---------------------------------------------------------------------------------------------
// Calls

void Modem::goOnHook() {
  lostCall_ = false;
  if (inCall_ && line_) line_->hangup(end_);
  inCall_ = false;
  rxV21_ = rxSkipping_ = false;
  c1EopHeard_ = c1AwaitDcn_ = false;
  trained_ = false;
  haveRemoteCaps_ = false;
  responsePending_ = false;
  c2Sender_ = false;
  if (line_) line_->takeLost(end_);
}

bool Modem::checkLost() {
  if (!line_) return true;
  if (line_->connected(end_) || line_->pendingEvents(end_)) return false;
  return true;
}

void Modem::dial(const std::string& rest) {
  bool quietAnswer = false;
  bool waitTone = false;
  int pauses = 0;
  bool stayCommand = false;
  for (char c : rest) {
    if (c == '@') quietAnswer = true;
    else if (c == 'W') waitTone = true;
    else if (c == ',') ++pauses;
    else if (c == ';') stayCommand = true;
  }
  if (!line_) {
    // No line plugged in: there is never a dial tone.
    sleepMs(2000);
    result(xLevel_ == 2 || xLevel_ == 4 ? Result::NoDialtone : Result::NoCarrier);
    return;
  }
  inCall_ = true;
  const DialOutcome outcome = line_->dial(end_);
  auto fail = [&](Result r, int delayMs) {
    sleepMs(delayMs);
    goOnHook();
    inCall_ = false;
    result(r);
  };
  switch (outcome) {
    case DialOutcome::Busy: return fail(xLevel_ >= 3 ? Result::Busy : Result::NoCarrier, 4000);
    case DialOutcome::NoDialtone:
      // Blind-dialling modems (X0, X1, X3) dial anyway and end with no carrier.
      return fail(xLevel_ == 2 || xLevel_ == 4 ? Result::NoDialtone : Result::NoCarrier, waitTone ? 5000 : 2000);
    case DialOutcome::NoAnswer: return fail(xLevel_ >= 1 ? Result::NoAnswer : Result::NoCarrier, 10000);
    case DialOutcome::Voice: return fail(Result::Voice, 5000);
    case DialOutcome::NoCarrier: return fail(Result::NoCarrier, 8000);
    case DialOutcome::Ringing: break;
  }
  sleepMs(pauses * s_[8] * 1000 + 1000);
  if (stayCommand) {
    result(Result::Ok);
    return;
  }
  const auto deadline = Clock::now() + std::chrono::seconds(s_[7] > 0 ? s_[7] : 50);
  // Ringback until the other side answers, S7 runs out or the DTE gives up.
  while (!line_->connected(end_)) {
    const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (left <= 0) {
      goOnHook();
      result(quietAnswer && xLevel_ >= 1 ? Result::NoAnswer : Result::NoCarrier);
      return;
    }
    if (waitAny(left) == Wake::Input) {
      in_.pop_front();  // the key that aborted; the rest is read as commands
      goOnHook();
      result(Result::NoCarrier);
      return;
    }
    if (line_->state(end_) == CallState::Idle) {
      goOnHook();
      result(Result::NoCarrier);
      return;
    }
  }
  const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
  if (fclass_ == "1") {
    c1ReceiveHdlc(std::max(left, 1));
  } else if (isClass2()) {
    c2DialSession();
  } else {
    // No data modem on this line: a data call never trains.
    sleepMs(std::max(left, 0));
    goOnHook();
    result(Result::NoCarrier);
  }
}

void Modem::answerCall() {
  if (!line_ || !line_->answer(end_)) {
    result(Result::NoCarrier);
    return;
  }
  inCall_ = true;
  rings_ = 0;
  s_[1] = 0;
  rxV21_ = rxSkipping_ = false;
  if (fclass_ == "1") {
    sleepMs(3000);  // CED
    c1TransmitHdlc();
  } else if (isClass2()) {
    c2AnswerSession();
  } else {
    sleepMs(5000);
    goOnHook();
    result(Result::NoCarrier);
  }
}

}  // namespace qv::modem
