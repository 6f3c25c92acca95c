// Serial dispatcher figures on pseudo-terminals: throughput of 1 MB each way, CPU used by an idle
// open port (polling off and on) and the latency from a byte written on the far side to the avail
// handler. Each figure comes with a reference measured in the same process: the same work done
// with plain blocking system calls on a pty pair, without the dispatcher.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "comm/com_port.h"
#include "comm/dispatcher_list.h"
#include "comm/posix_dispatcher.h"
#include "core/message_loop.h"

namespace {

using namespace qv::comm;
using Clock = std::chrono::steady_clock;

constexpr size_t kMegabyte = 1 << 20;

struct Pty {
  int master = -1;
  std::string slave;
  Pty() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) || ::unlockpt(master)) throw std::runtime_error("pty");
    slave = ::ptsname(master);
  }
  ~Pty() { ::close(master); }
};

double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void WriteAll(int fd, const char* data, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t w = ::write(fd, data + done, n - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
    } else {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 100);
    }
  }
}

size_t ReadAll(int fd, size_t n) {
  std::vector<char> buf(65536);
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::read(fd, buf.data(), std::min(buf.size(), n - done));
    if (r > 0) {
      done += static_cast<size_t>(r);
    } else {
      pollfd p{fd, POLLIN, 0};
      ::poll(&p, 1, 100);
    }
  }
  return done;
}

int OpenRawSlave(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
  return fd;
}

// Averages over the iterations (1 MB each).
void SetThroughput(benchmark::State& state, double secs, double cpu) {
  double n = static_cast<double>(state.iterations());
  state.counters["MB_per_s"] = n / secs;
  state.counters["cpu_s_per_MB"] = cpu / n;
}

// --- reference: 1 MB far side -> slave with plain reads ------------------------------------------

void BM_RawPtyIn(benchmark::State& state) {
  std::string data(kMegabyte, 'x');
  double totalSecs = 0, totalCpu = 0;
  for (auto _ : state) {
    Pty pty;
    int slave = OpenRawSlave(pty.slave);
    double cpu0 = CpuSeconds();
    auto t0 = Clock::now();
    std::thread far([&] { WriteAll(pty.master, data.data(), data.size()); });
    ReadAll(slave, data.size());
    far.join();
    totalSecs += std::chrono::duration<double>(Clock::now() - t0).count();
    totalCpu += CpuSeconds() - cpu0;
    ::close(slave);
  }
  SetThroughput(state, totalSecs, totalCpu);
}
BENCHMARK(BM_RawPtyIn)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- dispatcher: 1 MB far side -> procedure handler -----------------------------------------------

std::atomic<size_t> gReceived{0};
TQvBaseDispatcher* gDispatcher = nullptr;
std::atomic<int64_t> gHandlerNs{0};

void Drain(uint32_t msg, uint32_t wParam, uint32_t) {
  if (msg != MSG_DATA_AVAILABLE) return;
  char c;
  size_t n = 0;
  for (uint32_t i = 0; i < wParam && gDispatcher->ReadChar(c) == 0; ++i) ++n;
  gHandlerNs = Clock::now().time_since_epoch().count();
  gReceived += n;
  gReceived.notify_all();
}

void BM_DispatcherPtyIn(benchmark::State& state) {
  std::string data(kMegabyte, 'x');
  double totalSecs = 0, totalCpu = 0;
  for (auto _ : state) {
    Pty pty;
    TQvPosixDispatcher d;
    d.OpenPort(pty.slave, 115200, kNoParity, 8, 1, 8192, 8192, true, true);
    gDispatcher = &d;
    gReceived = 0;
    d.RegisterProcHandler(&Drain);
    d.SetAvailThreshold(1);
    double cpu0 = CpuSeconds();
    auto t0 = Clock::now();
    std::thread far([&] { WriteAll(pty.master, data.data(), data.size()); });
    while (gReceived.load() < data.size()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    far.join();
    totalSecs += std::chrono::duration<double>(Clock::now() - t0).count();
    totalCpu += CpuSeconds() - cpu0;
    d.ClosePort();
  }
  SetThroughput(state, totalSecs, totalCpu);
}
BENCHMARK(BM_DispatcherPtyIn)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- reference and dispatcher: 1 MB slave -> far side -------------------------------------------

void BM_RawPtyOut(benchmark::State& state) {
  std::string data(kMegabyte, 'y');
  double totalSecs = 0, totalCpu = 0;
  for (auto _ : state) {
    Pty pty;
    int slave = OpenRawSlave(pty.slave);
    double cpu0 = CpuSeconds();
    auto t0 = Clock::now();
    std::thread far([&] { ReadAll(pty.master, data.size()); });
    WriteAll(slave, data.data(), data.size());
    far.join();
    totalSecs += std::chrono::duration<double>(Clock::now() - t0).count();
    totalCpu += CpuSeconds() - cpu0;
    ::close(slave);
  }
  SetThroughput(state, totalSecs, totalCpu);
}
BENCHMARK(BM_RawPtyOut)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DispatcherPtyOut(benchmark::State& state) {
  std::string data(kMegabyte, 'y');
  double totalSecs = 0, totalCpu = 0;
  for (auto _ : state) {
    Pty pty;
    TQvPosixDispatcher d;
    d.OpenPort(pty.slave, 115200, kNoParity, 8, 1, 8192, 8192, true, true);
    double cpu0 = CpuSeconds();
    auto t0 = Clock::now();
    std::thread far([&] { ReadAll(pty.master, data.size()); });
    size_t sent = 0;
    while (sent < data.size()) {
      int free = d.OutputFree();
      int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(free), data.size() - sent));
      if (n > 0 && d.SendBlock(data.data() + sent, n) == 0)
        sent += static_cast<size_t>(n);
      else
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    far.join();
    totalSecs += std::chrono::duration<double>(Clock::now() - t0).count();
    totalCpu += CpuSeconds() - cpu0;
    d.ClosePort();
  }
  SetThroughput(state, totalSecs, totalCpu);
}
BENCHMARK(BM_DispatcherPtyOut)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- idle CPU ----------------------------------------------------------------------------------

void IdleFor(benchmark::State& state, bool openPort, bool polling) {
  SetPollingMode(polling);
  const double seconds = 10.0;
  for (auto _ : state) {
    Pty pty;
    TQvComPort port;
    port.SetAutoOpen(false);
    port.SetDeviceName(pty.slave);
    port.SetOnTriggerAvail([](TQvCustomComPort& cp, uint16_t n) {
      for (uint16_t i = 0; i < n; ++i) cp.TakeChar();
    });
    if (openPort) port.SetOpen(true);
    double cpu0 = CpuSeconds();
    auto until = Clock::now() + std::chrono::duration<double>(seconds);
    auto& loop = qv::core::MessageLoop::instance();
    while (Clock::now() < until) loop.waitAndPump(100);
    state.counters["core_percent"] = (CpuSeconds() - cpu0) / seconds * 100.0;
    port.SetOpen(false);
  }
  SetPollingMode(false);
}

void BM_IdleReference(benchmark::State& state) { IdleFor(state, false, false); }
void BM_IdlePortPollingOff(benchmark::State& state) { IdleFor(state, true, false); }
void BM_IdlePortPollingOn(benchmark::State& state) { IdleFor(state, true, true); }
BENCHMARK(BM_IdleReference)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_IdlePortPollingOff)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_IdlePortPollingOn)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- latency -----------------------------------------------------------------------------------

void Report(benchmark::State& state, std::vector<double>& us) {
  std::sort(us.begin(), us.end());
  state.counters["median_us"] = us[us.size() / 2];
  state.counters["p99_us"] = us[us.size() * 99 / 100];
}

constexpr int kSamples = 500;

void BM_LatencyRawPoll(benchmark::State& state) {
  for (auto _ : state) {
    Pty pty;
    int slave = OpenRawSlave(pty.slave);
    std::vector<double> us;
    char c = 'L';
    for (int i = 0; i < kSamples; ++i) {
      auto t0 = Clock::now();
      WriteAll(pty.master, &c, 1);
      pollfd p{slave, POLLIN, 0};
      ::poll(&p, 1, 1000);
      us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
      ::read(slave, &c, 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Report(state, us);
    ::close(slave);
  }
}
BENCHMARK(BM_LatencyRawPoll)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LatencyProcHandler(benchmark::State& state) {
  for (auto _ : state) {
    Pty pty;
    TQvPosixDispatcher d;
    d.OpenPort(pty.slave, 115200, kNoParity, 8, 1, 8192, 8192, true, true);
    gDispatcher = &d;
    gReceived = 0;
    d.RegisterProcHandler(&Drain);
    d.SetAvailThreshold(1);
    std::vector<double> us;
    char c = 'L';
    for (int i = 0; i < kSamples; ++i) {
      size_t before = gReceived.load();
      auto t0 = Clock::now();
      WriteAll(pty.master, &c, 1);
      gReceived.wait(before);
      int64_t at = gHandlerNs.load();
      us.push_back(static_cast<double>(at - t0.time_since_epoch().count()) / 1000.0);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Report(state, us);
    d.ClosePort();
  }
}
BENCHMARK(BM_LatencyProcHandler)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LatencyPortEvent(benchmark::State& state) {
  auto& loop = qv::core::MessageLoop::instance();
  loop.bindToCurrentThread();
  for (auto _ : state) {
    Pty pty;
    TQvComPort port;
    port.SetAutoOpen(false);
    port.SetDeviceName(pty.slave);
    Clock::time_point handled;
    int count = 0;
    port.SetOnTriggerAvail([&](TQvCustomComPort& cp, uint16_t n) {
      handled = Clock::now();
      for (uint16_t i = 0; i < n; ++i) cp.TakeChar();
      ++count;
    });
    port.SetOpen(true);
    std::vector<double> us;
    char c = 'L';
    for (int i = 0; i < kSamples; ++i) {
      int before = count;
      auto t0 = Clock::now();
      WriteAll(pty.master, &c, 1);
      while (count == before) loop.waitAndPump(5);
      us.push_back(std::chrono::duration<double, std::micro>(handled - t0).count());
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Report(state, us);
    port.SetOpen(false);
  }
}
BENCHMARK(BM_LatencyPortEvent)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
