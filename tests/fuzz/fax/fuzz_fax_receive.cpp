// The whole receive side fed the modem's half of a call: the input is what a modem sends, in
// chunks separated by 0x1E (the first byte picks the fax class). A chunk is released each time
// the session sends the modem something, or waits with nothing to read; once they are used up,
// the session's timers fire one after another, and after a long silence the receiver is
// stopped. Whatever the bytes, the session must end, never crash, and leave at most one fax file
// per document (in Class 2 and 2.0 each +FET report may end a document and start the next file).
//
// The session pauses between commands and times its waits on the monotonic clock. So that a
// call takes microseconds rather than seconds, this program replaces the monotonic clock,
// nanosleep() and timed condition waits with a virtual clock while an input runs: a pause moves
// the clock on instead of sleeping, and every reading moves it on a microsecond so a wait on the
// clock alone still ends.
// Each input starts from the same clock, so a run is reproducible. Real time (libFuzzer's own
// clock and its -timeout alarm) is untouched.
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/message_loop.h"
#include "core/ticks.h"
#include "fax/fax_channel.h"
#include "fax/receive_fax.h"

namespace {

std::atomic<bool> gVirtual{false};
std::atomic<int64_t> gVirtualNs{0};
constexpr int64_t kVirtualStartNs = int64_t{1000} * 1000000000;
constexpr int64_t kReadingStepNs = 1000;

bool monotonic(clockid_t id) {
  return id == CLOCK_MONOTONIC || id == CLOCK_MONOTONIC_RAW || id == CLOCK_MONOTONIC_COARSE ||
         id == CLOCK_BOOTTIME;
}

}  // namespace

extern "C" int clock_gettime(clockid_t id, struct timespec* ts) {
  using Fn = int (*)(clockid_t, struct timespec*);
  static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "clock_gettime"));
  if (!gVirtual.load(std::memory_order_relaxed) || !monotonic(id)) return real(id, ts);
  const int64_t ns = gVirtualNs.fetch_add(kReadingStepNs) + kReadingStepNs;
  ts->tv_sec = static_cast<time_t>(ns / 1000000000);
  ts->tv_nsec = static_cast<long>(ns % 1000000000);
  return 0;
}

extern "C" int nanosleep(const struct timespec* req, struct timespec* rem) {
  using Fn = int (*)(const struct timespec*, struct timespec*);
  static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "nanosleep"));
  if (!gVirtual.load(std::memory_order_relaxed)) return real(req, rem);
  gVirtualNs.fetch_add(static_cast<int64_t>(req->tv_sec) * 1000000000 + req->tv_nsec);
  if (rem) *rem = {};
  return 0;
}

// The session's pauses are timed waits on a condition variable (so that stopping the component
// cuts them short): in virtual time such a wait ends at once at its deadline, as nanosleep does.
extern "C" int pthread_cond_clockwait(pthread_cond_t* cond, pthread_mutex_t* mutex, clockid_t id,
                                      const struct timespec* abstime) {
  using Fn = int (*)(pthread_cond_t*, pthread_mutex_t*, clockid_t, const struct timespec*);
  static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pthread_cond_clockwait"));
  if (!gVirtual.load(std::memory_order_relaxed) || !monotonic(id)) return real(cond, mutex, id, abstime);
  const int64_t deadline = static_cast<int64_t>(abstime->tv_sec) * 1000000000 + abstime->tv_nsec;
  int64_t now = gVirtualNs.load();
  while (now < deadline && !gVirtualNs.compare_exchange_weak(now, deadline)) {
  }
  return ETIMEDOUT;
}

namespace {

using qv::fax::FaxChannel;

constexpr uint8_t kChunkEnd = 0x1E;
constexpr int kTickNs = qv::core::kTickMs * 1000000;
// Events (status ticks once a second, time-outs) of silence before the user stops the receiver,
// and events after which a session that is still going is stuck.
constexpr int kSilentEvents = 300;
constexpr int kMaxEvents = 20000;

// The modem: released chunks are what it has sent; timers are kept by deadline on the virtual
// clock; output is taken at once.
class ScriptedModem final : public FaxChannel {
 public:
  explicit ScriptedModem(std::deque<std::vector<uint8_t>> chunks) : chunks_(std::move(chunks)) {}

  bool ReleaseChunk() {
    if (chunks_.empty()) return false;
    input_.insert(input_.end(), chunks_.front().begin(), chunks_.front().end());
    chunks_.pop_front();
    return true;
  }
  bool Idle() const { return chunks_.empty() && input_.empty(); }

  int ReadChar(uint8_t& c) override {
    if (input_.empty()) return -1;
    c = input_.front();
    input_.pop_front();
    return 0;
  }
  // Page data is read a run at a time. The runs are cut in a rotating pattern of lengths, so
  // that DLE pairs and DLE ETX fall across their ends as they may across a port's arrivals.
  std::span<const uint8_t> PeekInput() override {
    static constexpr size_t kRunLengths[] = {1, 2, 3, 7, 64, 5, 4096};
    const size_t n = std::min(input_.size(), kRunLengths[runs_++ % std::size(kRunLengths)]);
    peek_.assign(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    return peek_;
  }
  void TakeInput(size_t n) override {
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(std::min(n, input_.size())));
  }
  bool HasInput() override { return !input_.empty(); }
  void PurgeInput() override { input_.clear(); }

  int SendBlock(const uint8_t*, size_t count) override {
    sent_ += count;
    ReleaseChunk();  // the modem's answer to what it was told
    return static_cast<int>(count);
  }
  int OutputUsed() override { return 0; }
  int OutputFree() override { return kOutputSize; }
  int OutputSize() override { return kOutputSize; }
  void PurgeOutput() override {}

  int SetBaud(int baud) override {
    baud_ = baud;
    return 0;
  }
  int CurrentBaud() override { return baud_; }
  void DriveDtr(bool) override {}
  void DriveRts(bool) override {}
  bool CheckCarrier() override { return true; }
  void SetSoftwareFlow(int, int, int) override {}
  void ClearSoftwareFlow() override {}

  int NewTimerTrigger() override { return newTrigger(false); }
  int NewStatusTrigger(int) override { return newTrigger(true); }
  int ArmTimerTrigger(int handle, int ticks, bool activate) override {
    Trigger* t = find(handle);
    if (!t) return -1;
    t->armed = activate;
    t->deadline = gVirtualNs.load() + int64_t{ticks} * kTickNs;
    return 0;
  }
  int ArmStatusTrigger(int handle, int, bool activate) override {
    Trigger* t = find(handle);
    if (!t) return -1;
    t->armed = activate;  // output is always drained: the condition holds at once
    t->deadline = 0;
    return 0;
  }
  int DeleteTrigger(int handle) override {
    Trigger* t = find(handle);
    if (!t) return -1;
    *t = Trigger{};
    return 0;
  }

  int RegisterHandler(Handler handler) override {
    handler_ = std::move(handler);
    return 0;
  }
  void UnregisterHandler() override { handler_ = nullptr; }
  bool SetDispatchBusy(bool busy) override {
    bool was = busy_;
    busy_ = busy;
    return was;
  }
  void LogFaxState(int, int) override {}

  // Delivers the next event; false when there is nothing left that could happen.
  bool Dispatch() {
    if (!handler_) return false;
    if (input_.empty()) ReleaseChunk();
    if (!input_.empty()) {
      handler_(qv::fax::kMsgDataAvailable, 0);
      return true;
    }
    Trigger* next = nullptr;
    for (Trigger& t : triggers_)
      if (t.used && t.armed && (!next || t.deadline < next->deadline)) next = &t;
    if (!next) return false;
    next->armed = false;
    if (next->status) {
      handler_(qv::fax::kMsgStatusChanged, next->handle);
    } else {
      if (next->deadline > gVirtualNs.load()) gVirtualNs.store(next->deadline);
      handler_(qv::fax::kMsgTimerExpired, next->handle);
    }
    return true;
  }

 private:
  static constexpr int kOutputSize = 16384;
  struct Trigger {
    bool used = false, status = false, armed = false;
    int handle = 0;
    int64_t deadline = 0;
  };
  int newTrigger(bool status) {
    for (Trigger& t : triggers_)
      if (!t.used) {
        t = Trigger{true, status, false, nextHandle_++, 0};
        return t.handle;
      }
    return -1;
  }
  Trigger* find(int handle) {
    for (Trigger& t : triggers_)
      if (t.used && t.handle == handle) return &t;
    return nullptr;
  }

  std::deque<std::vector<uint8_t>> chunks_;
  std::deque<uint8_t> input_;
  std::vector<uint8_t> peek_;
  size_t runs_ = 0;
  Trigger triggers_[8];
  int nextHandle_ = 1;
  Handler handler_;
  bool busy_ = false;
  int baud_ = 19200;
  size_t sent_ = 0;
};

const std::string& OutputDir() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/qvfaxrxfuzzXXXXXX";
    const char* made = mkdtemp(tmpl);
    if (!made) std::abort();
    return std::string(made);
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const qv::fax::TFaxClass kClasses[] = {qv::fax::fcClass1, qv::fax::fcClass2,
                                                qv::fax::fcClass2_0, qv::fax::fcDetect};
  std::deque<std::vector<uint8_t>> chunks(1);
  for (size_t i = 1; i < size; ++i) {
    if (data[i] == kChunkEnd) chunks.emplace_back();
    else chunks.back().push_back(data[i]);
  }

  auto& loop = qv::core::MessageLoop::instance();
  loop.bindToCurrentThread();
  gVirtualNs.store(kVirtualStartNs);
  gVirtual.store(true);
  {
    auto channel = std::make_unique<ScriptedModem>(std::move(chunks));
    ScriptedModem* modem = channel.get();
    qv::fax::TQvReceiveFax rx;
    rx.FaxClass = kClasses[data[0] % 4];
    rx.OneFax = true;
    rx.ExitOnError = true;
    rx.StationID = "QV FUZZ";
    rx.SetDestinationDir(OutputDir());
    rx.SetChannel(std::move(channel));
    bool finished = false;
    int result = 0;
    rx.OnFaxFinish = [&](qv::fax::TQvAbstractFax*, int code) {
      finished = true;
      result = code;
    };
    try {
      rx.StartReceiving();
    } catch (const std::exception&) {
      std::abort();  // the channel is there and large enough: starting must not fail
    }
    // A receiver waiting for a call waits for good: after a long silence the user stops it,
    // and that must end the session.
    int events = 0, silent = 0;
    bool stopped = false;
    while (rx.Active()) {
      if (!stopped && modem->Idle() && ++silent > kSilentEvents) {
        rx.AbortFax();
        stopped = true;
        continue;
      }
      if (!modem->Dispatch()) {
        if (stopped) break;
        rx.AbortFax();
        stopped = true;
      }
      if (++events > kMaxEvents) std::abort();
    }
    loop.pumpPending();
    if (rx.Active() || !finished) std::abort();
    // QV_FUZZ_TRACE=1 tells how far each input got (for writing seeds).
    if (std::getenv("QV_FUZZ_TRACE"))
      std::fprintf(stderr, "receive: class %d, result %d, pages %d, events %d, stopped %d\n",
                   static_cast<int>(rx.FaxClass), result, rx.CurrentPage(), events, stopped);
  }
  gVirtual.store(false);
  loop.pumpPending();

  // One fax file per document at most: the first, and one more for each post-page report that
  // may have announced another document (+FET:1; any +FET is counted, however garbled).
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t documents = 1;
  for (size_t at = input.find("FET"); at != std::string_view::npos; at = input.find("FET", at + 1)) ++documents;
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(OutputDir())) {
    ++files;
    std::filesystem::remove(e.path());
  }
  if (files > documents) std::abort();
  return 0;
}
