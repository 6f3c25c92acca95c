// CPU cost of the fax engine per page: a 10-page fine fax from a transmitter in this process to a
// receiver in a child process ("qvfax receive"), through "qvmodem pair --fast". The reference is
// the CPU time to T.4-code the same pages once, measured in the same run.
//
// A call's CPU also holds fixed costs that have nothing to do with pages (modem set-up, the
// hang-up). Each iteration therefore makes a 1-page call as well, and the per-page figure of each
// side is (CPU of 10 pages - CPU of 1 page) / 9. Both sides are counted from the moment the call
// starts: the receiver's start-up and its wait in receive mode before the call vary by tens of
// milliseconds from one process to the next, and in a difference of two calls that variation
// would weigh more than a page.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <thread>
#include <string>
#include <vector>

#include "comm/com_port.h"
#include "core/message_loop.h"
#include "fax/send_fax.h"
#include "faximage/t4_coder.h"

namespace fs = std::filesystem;
using namespace qv;

namespace {

constexpr int kPages = 10;
constexpr int kRowsPerPage = 2200;  // a full fine page

std::vector<uint8_t> Row(int page, int row) {
  std::vector<uint8_t> r(216, 0);
  for (int k = 0; k < 6; ++k) {
    int x0 = (page * 97 + row * 13 + k * 271) % 1600;
    int len = 5 + (row * 7 + k * 31) % 60;
    for (int x = x0; x < x0 + len && x < 1728; ++x) r[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }
  return r;
}

double CpuSeconds(const rusage& u) {
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Context switches a process's threads made: voluntary ones are the thread hand-offs (a thread
// waits for another), involuntary ones the machine's load.
double Switches(const rusage& u) { return static_cast<double>(u.ru_nvcsw + u.ru_nivcsw); }

rusage ProcessUsage() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u;
}

// What a running process has used so far: CPU seconds of all its threads (its CPU-time clock,
// the figure wait4's user + system time add up to at its end) and the context switches of its
// threads.
struct LiveFigures {
  double cpu = 0;
  double switches = 0;
};

LiveFigures LiveProcess(pid_t pid) {
  LiveFigures f;
  clockid_t clock;
  timespec t{};
  if (clock_getcpuclockid(pid, &clock) == 0 && clock_gettime(clock, &t) == 0)
    f.cpu = static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
  std::error_code ec;
  for (const auto& task : fs::directory_iterator(fs::path("/proc") / std::to_string(pid) / "task", ec)) {
    std::ifstream status(task.path() / "status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        f.switches += std::stod(line.substr(line.find(':') + 1));
    }
  }
  return f;
}

void WriteDocument(const std::string& path, int pages) {
  std::ofstream f(path, std::ios::binary);
  uint8_t header[64] = {};
  std::memcpy(header, "QVF10\x1A", 6);
  header[32] = static_cast<uint8_t>(pages);
  header[34] = 64;
  f.write(reinterpret_cast<char*>(header), 64);
  uint8_t out[faximage::kMaxCodedRow];
  for (int p = 0; p < pages; ++p) {
    std::vector<uint8_t> data;
    for (int r = 0; r < kRowsPerPage; ++r) {
      auto raster = Row(p, r);
      int n = faximage::CodeRow(raster.data(), 1728, 0, false, out);
      data.push_back(static_cast<uint8_t>(n));
      data.push_back(static_cast<uint8_t>(n >> 8));
      data.insert(data.end(), out, out + n);
    }
    const uint8_t eop[12] = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
    data.push_back(12);
    data.push_back(0);
    data.insert(data.end(), eop, eop + 12);
    uint8_t ph[16] = {};
    uint32_t len = static_cast<uint32_t>(data.size());
    std::memcpy(ph, &len, 4);
    ph[4] = 4 | 1;
    f.write(reinterpret_cast<char*>(ph), 16);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  }
}

pid_t Spawn(const std::vector<std::string>& args, int* stdoutFd) {
  int out[2];
  if (pipe(out) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    std::vector<char*> argv;
    for (auto& s : args) argv.push_back(const_cast<char*>(s.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  *stdoutFd = out[0];
  return pid;
}

// The reference: coding the document's rows once.
void BM_CodeTenFinePages(benchmark::State& state) {
  uint8_t out[faximage::kMaxCodedRow];
  std::vector<std::vector<uint8_t>> rows;
  for (int r = 0; r < kRowsPerPage; ++r) rows.push_back(Row(1, r));
  for (auto _ : state) {
    for (int p = 0; p < kPages; ++p)
      for (const auto& row : rows) benchmark::DoNotOptimize(faximage::CodeRow(row.data(), 1728, 0, false, out));
  }
}
BENCHMARK(BM_CodeTenFinePages)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

struct CallCpu {
  double send = 0;     // this process during the call
  double receive = 0;  // the whole receiver process
  double sendSwitches = 0, receiveSwitches = 0;
  int result = 1;
};

CallCpu OneCall(const fs::path& dir, const std::string& document) {
  CallCpu cpu;
  int modemOut;
  pid_t modem = Spawn({QV_BIN_DIR "/qvmodem", "pair", "--a", (dir / "a").string(), "--b", (dir / "b").string(), "--fast"},
                      &modemOut);
  FILE* f = fdopen(modemOut, "r");
  char line[256];
  for (int i = 0; i < 2 && fgets(line, sizeof line, f); ++i) {
  }
  int recvOut;
  pid_t receiver = Spawn({QV_BIN_DIR "/qvfax", "receive", "--device", (dir / "b").string(), "--dir",
                          (dir / "in").string(), "--once", "--class", "1"},
                         &recvOut);
  std::this_thread::sleep_for(std::chrono::seconds(2));  // receive mode up
  LiveFigures receiverBefore;
  {
    comm::TQvComPort port;
    port.SetAutoOpen(false);
    port.SetDeviceName((dir / "a").string());
    fax::TQvSendFax send;
    send.SetComPort(&port);
    send.FaxClass = fax::fcClass1;
    send.DesiredBPS = 14400;
    send.SetFaxFile(document);
    send.PhoneNumber = "1";
    bool done = false;
    send.OnFaxFinish = [&](fax::TQvAbstractFax*, int code) {
      done = true;
      cpu.result = code;
    };
    port.SetOpen(true);
    receiverBefore = LiveProcess(receiver);
    rusage before = ProcessUsage();
    send.StartSending();
    // As the application's UI thread: asleep until a message comes (the end of the call is one),
    // not waking twenty times a second to look.
    while (!done) core::MessageLoop::instance().waitAndPump(1000);
    rusage after = ProcessUsage();
    cpu.send = CpuSeconds(after) - CpuSeconds(before);
    cpu.sendSwitches = Switches(after) - Switches(before);
    port.SetOpen(false);
  }
  rusage u{};
  int status;
  wait4(receiver, &status, 0, &u);
  cpu.receive = CpuSeconds(u) - receiverBefore.cpu;
  cpu.receiveSwitches = Switches(u) - receiverBefore.switches;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) cpu.result = cpu.result != 0 ? cpu.result : 2;
  close(recvOut);
  kill(modem, SIGTERM);
  waitpid(modem, &status, 0);
  fclose(f);
  fs::remove_all(dir / "in");
  fs::create_directories(dir / "in");
  return cpu;
}

void BM_TenPageFineFax(benchmark::State& state) {
  fs::path dir = fs::temp_directory_path() / ("qvfax_bench_" + std::to_string(getpid()));
  fs::create_directories(dir / "in");
  WriteDocument((dir / "one.qvf").string(), 1);
  WriteDocument((dir / "doc.qvf").string(), kPages);
  core::MessageLoop::instance().bindToCurrentThread();
  CallCpu one, ten;
  constexpr double kNone = std::numeric_limits<double>::infinity();  // no call yet
  CallCpu oneLeast{kNone, kNone}, tenLeast{kNone, kNone};
  int faxes = 0;
  for (auto _ : state) {
    CallCpu a = OneCall(dir, (dir / "one.qvf").string());
    CallCpu b = OneCall(dir, (dir / "doc.qvf").string());
    if (a.result != 0 || b.result != 0) {
      state.SkipWithError("the fax failed");
      break;
    }
    std::fprintf(stderr, "call %d: 1 page: send %.1f ms, receive %.1f ms; %d pages: send %.1f ms, receive %.1f ms\n",
                 faxes + 1, a.send * 1e3, a.receive * 1e3, kPages, b.send * 1e3, b.receive * 1e3);
    one.send += a.send;
    one.receive += a.receive;
    ten.send += b.send;
    ten.receive += b.receive;
    one.sendSwitches += a.sendSwitches;
    one.receiveSwitches += a.receiveSwitches;
    ten.sendSwitches += b.sendSwitches;
    ten.receiveSwitches += b.receiveSwitches;
    oneLeast.send = std::min(oneLeast.send, a.send);
    oneLeast.receive = std::min(oneLeast.receive, a.receive);
    tenLeast.send = std::min(tenLeast.send, b.send);
    tenLeast.receive = std::min(tenLeast.receive, b.receive);
    ++faxes;
  }
  if (faxes > 0) {
    const double perCall = 1000.0 / faxes;
    state.counters["send_cpu_ms_per_page"] = (ten.send - one.send) * perCall / (kPages - 1);
    state.counters["receive_cpu_ms_per_page"] = (ten.receive - one.receive) * perCall / (kPages - 1);
    // From the least CPU each kind of call took: time the host takes from this machine's CPUs
    // without saying so is counted as the running thread's CPU time and only ever adds (see
    // README, "CPU time on a machine whose host does not report steal").
    state.counters["send_cpu_ms_per_page_least"] = (tenLeast.send - oneLeast.send) * 1000.0 / (kPages - 1);
    state.counters["receive_cpu_ms_per_page_least"] = (tenLeast.receive - oneLeast.receive) * 1000.0 / (kPages - 1);
    state.counters["send_switches_per_page"] = (ten.sendSwitches - one.sendSwitches) / faxes / (kPages - 1);
    state.counters["receive_switches_per_page"] = (ten.receiveSwitches - one.receiveSwitches) / faxes / (kPages - 1);
    state.counters["send_cpu_ms_1page_call"] = one.send * perCall;
    state.counters["receive_cpu_ms_1page_call"] = one.receive * perCall;
    state.counters["send_cpu_ms_10page_call"] = ten.send * perCall;
    state.counters["receive_cpu_ms_10page_call"] = ten.receive * perCall;
  }
  fs::remove_all(dir);
}
BENCHMARK(BM_TenPageFineFax)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
