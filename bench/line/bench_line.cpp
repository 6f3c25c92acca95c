// What a call through qvline costs, measured on real calls on 127.0.0.1: our engine (qvfax send,
// Class 1) through qvline to line_peer (spandsp's T.30 behind libre), one standard page.
//
// * CPU of the qvline process per minute of call, on T.38 (the peer starts the re-INVITE) and on
//   G.711 (--t38 off): its user + system time over its life, divided by its life. Its life is the
//   call plus a second or two of start-up and hang-up, when it idles on its 20 ms tick.
// * The page's T.38 call time, from the switch to T.38 to the end of the peer's T.30 (the peer
//   says it), against the reference measured in the same run: two spandsp t38_terminals joined
//   directly, sending the very page the peer received (its TIFF), on a simulated 20 ms clock.
//   Ratio = ours / reference; the goal is <= 1.05.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "faximage/qvf_file.h"
#include "faximage/qvf_writer.h"
#include "faximage/t4_coder.h"

namespace fs = std::filesystem;
using namespace qv;

extern char** environ;

namespace {

constexpr int kRows = 1100;  // a full standard page

std::vector<uint8_t> Row(int row) {
  std::vector<uint8_t> r(216, 0);
  for (int k = 0; k < 5; ++k) {
    const int x0 = (row * 13 + k * 311) % 1600;
    const int len = 10 + (row * 7 + k * 29) % 80;
    for (int x = x0; x < x0 + len && x < 1728; ++x) r[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }
  return r;
}

void WriteDocument(const std::string& path) {
  faximage::QvfWriter w;
  w.Create(path);
  w.SetPageFlags(static_cast<uint16_t>(faximage::pfRowRecords));
  uint8_t out[faximage::kMaxCodedRow];
  for (int r = 0; r < kRows; ++r) {
    const auto raster = Row(r);
    const int n = faximage::CodeRow(raster.data(), 1728, 0, false, out);
    w.WriteRowRecord(std::vector<uint8_t>(out, out + n));
  }
  w.EndPage();
  w.Close("");
}

int FreeUdpPort() {
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& out) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (auto& s : args) argv.push_back(const_cast<char*>(s.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

std::string Read(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Waits (bounded, on the file's content) for a program's "ready".
bool WaitReady(const std::string& out) {
  for (int i = 0; i < 500; ++i) {
    if (Read(out).find("ready") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

bool WaitExit(pid_t pid, int seconds, rusage* usage = nullptr) {
  int status = 0;
  rusage u{};
  for (int i = 0; i < seconds * 50; ++i) {
    if (wait4(pid, &status, WNOHANG, &u) == pid) {
      if (usage) *usage = u;
      return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  wait4(pid, &status, 0, &u);
  if (usage) *usage = u;
  return false;
}

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

struct CallFigures {
  bool ok = false;
  double lineCpu = 0, lineLife = 0;  // seconds
  long t38Ms = -1;
};

CallFigures OneCall(const fs::path& dir, bool t38) {
  CallFigures f;
  const int peerPort = FreeUdpPort(), linePort = FreeUdpPort();
  const std::string peerOut = (dir / "peer.out").string(), lineOut = (dir / "line.out").string();
  fs::remove(dir / "rx.tif");
  const pid_t peer = Spawn({QV_BIN_DIR "/line_peer", "--sip", "127.0.0.1:" + std::to_string(peerPort), "--answer",
                            "--receive", (dir / "rx.tif").string(), "--seconds", "120", "--t38", t38 ? "start" : "off"},
                           peerOut);
  if (peer < 0 || !WaitReady(peerOut)) return f;
  const auto born = std::chrono::steady_clock::now();
  const pid_t line = Spawn({QV_BIN_DIR "/qvline", "--link", (dir / "modem").string(), "--sip-listen",
                            "127.0.0.1:" + std::to_string(linePort), "--peer", "127.0.0.1:" + std::to_string(peerPort),
                            "--t38", t38 ? "on" : "off", "--log", (dir / "line.log").string()},
                           lineOut);
  if (line < 0 || !WaitReady(lineOut)) return f;
  const pid_t send = Spawn({QV_BIN_DIR "/qvfax", "send", "--device", (dir / "modem").string(), "--number", "1",
                            "--class", "1", "--bps", "14400", "--attempts", "1", (dir / "doc.qvf").string()},
                           (dir / "send.out").string());
  const bool sent = WaitExit(send, 120);
  const bool peerOk = WaitExit(peer, 30);
  kill(line, SIGTERM);
  rusage u{};
  WaitExit(line, 10, &u);
  f.lineLife = std::chrono::duration<double>(std::chrono::steady_clock::now() - born).count();
  f.lineCpu = Seconds(u.ru_utime) + Seconds(u.ru_stime);
  std::smatch m;
  const std::string out = Read(peerOut);
  static const std::regex result(R"(result 0 pages 1 .* t38ms (-?\d+))");
  f.ok = sent && peerOk && std::regex_search(out, m, result);
  if (f.ok) f.t38Ms = std::stol(m[1]);
  return f;
}

// The reference: two spandsp T.38 terminals, their IFPs handed straight across, on a simulated
// 20 ms clock; the call time is the simulated time until both T.30s end.
struct Terminal {
  t38_terminal_state_t* s = nullptr;
  Terminal* far = nullptr;
  uint16_t seq = 0;
  bool done = false;
  int completion = -1;
};

int Deliver(t38_core_state_t*, void* user, const uint8_t* ifp, int len, int count) {
  auto* t = static_cast<Terminal*>(user);
  for (int i = 0; i < count; ++i) t38_core_rx_ifp_packet(t38_terminal_get_t38_core_state(t->far->s), ifp, len, t->seq++);
  return 0;
}

void PhaseE(t30_state_t*, void* user, int code) {
  auto* t = static_cast<Terminal*>(user);
  t->done = true;
  t->completion = code;
}

long ReferenceCallMs(const std::string& tiff, const std::string& rxTiff) {
  Terminal tx, rx;
  tx.far = &rx;
  rx.far = &tx;
  tx.s = t38_terminal_init(nullptr, 1, Deliver, &tx);
  rx.s = t38_terminal_init(nullptr, 0, Deliver, &rx);
  for (Terminal* t : {&tx, &rx}) {
    t38_core_state_t* core = t38_terminal_get_t38_core_state(t->s);
    t38_set_t38_version(core, 0);
    t38_set_data_rate_management_method(core, T38_DATA_RATE_MANAGEMENT_TRANSFERRED_TCF);
    t30_state_t* t30 = t38_terminal_get_t30_state(t->s);
    t30_set_ecm_capability(t30, 0);
    t30_set_supported_modems(t30, T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
    t30_set_supported_compressions(t30, T30_SUPPORT_T4_1D_COMPRESSION);
    t30_set_phase_e_handler(t30, PhaseE, t);
  }
  t30_set_tx_file(t38_terminal_get_t30_state(tx.s), tiff.c_str(), -1, -1);
  t30_set_rx_file(t38_terminal_get_t30_state(rx.s), rxTiff.c_str(), -1);
  long ticks = 0;
  while (!(tx.done && rx.done) && ticks < 120 * 50) {
    t38_terminal_send_timeout(tx.s, 160);
    t38_terminal_send_timeout(rx.s, 160);
    ++ticks;
  }
  const bool ok = tx.completion == T30_ERR_OK && rx.completion == T30_ERR_OK;
  t38_terminal_free(tx.s);
  t38_terminal_free(rx.s);
  return ok ? ticks * 20 : -1;
}

fs::path BenchDir() {
  fs::path dir = fs::temp_directory_path() / ("qvline_bench_" + std::to_string(getpid()));
  fs::create_directories(dir);
  if (!fs::exists(dir / "doc.qvf")) WriteDocument((dir / "doc.qvf").string());
  return dir;
}

void CpuPerMinute(benchmark::State& state, bool t38) {
  const fs::path dir = BenchDir();
  double cpu = 0, life = 0;
  for (auto _ : state) {
    const CallFigures f = OneCall(dir, t38);
    if (!f.ok) {
      state.SkipWithError("the call failed");
      break;
    }
    cpu += f.lineCpu;
    life += f.lineLife;
  }
  if (life > 0) {
    state.counters["cpu_percent_of_a_core"] = 100.0 * cpu / life;
    state.counters["cpu_s_per_call_minute"] = 60.0 * cpu / life;
  }
}

void BM_QvlineCpuT38(benchmark::State& state) { CpuPerMinute(state, true); }
BENCHMARK(BM_QvlineCpuT38)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

void BM_QvlineCpuG711(benchmark::State& state) { CpuPerMinute(state, false); }
BENCHMARK(BM_QvlineCpuG711)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

void BM_T38CallTimeVsSpandspPair(benchmark::State& state) {
  const fs::path dir = BenchDir();
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    const CallFigures f = OneCall(dir, true);
    const long ref = f.ok ? ReferenceCallMs((dir / "rx.tif").string(), (dir / "ref_rx.tif").string()) : -1;
    if (!f.ok || f.t38Ms < 0 || ref <= 0) {
      state.SkipWithError("a call failed");
      break;
    }
    ours += static_cast<double>(f.t38Ms);
    theirs += static_cast<double>(ref);
  }
  if (theirs > 0) {
    state.counters["ours_ms"] = ours / static_cast<double>(state.iterations());
    state.counters["spandsp_pair_ms"] = theirs / static_cast<double>(state.iterations());
    state.counters["ratio"] = ours / theirs;
  }
  fs::remove_all(dir);
}
BENCHMARK(BM_T38CallTimeVsSpandspPair)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
