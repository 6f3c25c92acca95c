// Line time of a 3-page fine text fax at 14400 through spandsp's T.31 modem to spandsp's T.30
// terminal, in real time: our Class 1 sender with MH and no error correction, the same with MMR
// and error correction, and, as the reference measured in the same run, spandsp's own T.30 sending
// the same pages to spandsp over the same 20 ms audio clock. Each call is one iteration (a call
// lasts tens of seconds); the figures are wall-clock seconds from the start of the call to the
// receiver's end of the call.
#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../../tests/interop/fax/fax_spandsp_peer.h"
#include "../text_page.h"
#include "comm/com_port.h"
#include "core/message_loop.h"
#include "fax/send_fax.h"
#include "faximage/qvf_file.h"
#include "faximage/qvf_writer.h"
#include "faximage/t4_coder.h"

namespace fs = std::filesystem;
using namespace qv;

namespace {

constexpr int kPages = 3;
constexpr int kBps = 14400;
constexpr int kStepMs = 20;  // 160 samples of audio: real time

struct Files {
  fs::path dir = fs::temp_directory_path() / ("qv_bench_ecm_" + std::to_string(::getpid()));
  std::string qvf, tif;
  Files() {
    fs::create_directories(dir);
    qvf = (dir / "doc.qvf").string();
    tif = (dir / "doc.tif").string();
    const auto page = bench::MakeTextPage();
    faximage::QvfWriter w;
    w.Create(qvf);
    w.SetPageFlags(static_cast<uint16_t>(faximage::pfRowRecords | faximage::pfHighRes));
    for (int p = 0; p < kPages; ++p) {
      for (const auto& row : page) {
        uint8_t out[faximage::kMaxCodedRow];
        const int n = faximage::CodeRow(row.data(), 1728, 0, false, out);
        w.WriteRowRecord(std::vector<uint8_t>(out, out + n));
      }
      w.EndPage();
    }
    w.Close("");
    TIFF* t = TIFFOpen(tif.c_str(), "w");
    for (int p = 0; p < kPages; ++p) {
      TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
      TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 1728);
      TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(page.size()));
      TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
      TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
      TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
      TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0);
      TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
      TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
      TIFFSetField(t, TIFFTAG_XRESOLUTION, 204.0f);
      TIFFSetField(t, TIFFTAG_YRESOLUTION, 196.0f);
      TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
      TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(page.size()));
      TIFFSetField(t, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(p), static_cast<uint16_t>(kPages));
      for (size_t r = 0; r < page.size(); ++r) {
        std::vector<uint8_t> row = page[r];
        TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(r), 0);
      }
      TIFFWriteDirectory(t);
    }
    TIFFClose(t);
  }
  ~Files() { fs::remove_all(dir); }
};

Files& TheFiles() {
  static Files files;
  return files;
}

// One call of our sender to the spandsp receiver; the seconds it took, or < 0 when it failed.
double OurCall(bool ecm, fax::LineCoding coding, int spandspCompressions, int* pagesRx, int* encoding) {
  Files& f = TheFiles();
  fax::test::SpandspPeer peer(false, "", (f.dir / "rx.tif").string());
  if (!peer.ok()) return -1;
  if (ecm) peer.EnableEcm();
  peer.SetCompressions(spandspCompressions);
  peer.Start(kStepMs);
  core::MessageLoop::instance().bindToCurrentThread();
  comm::TQvComPort port;
  fax::TQvSendFax send;
  port.SetDeviceName(peer.device());
  port.SetAutoOpen(false);
  send.SetComPort(&port);  // sizes the port's buffers for a fax session before it opens
  port.SetOpen(true);
  send.FaxClass = fax::fcClass1;
  send.DesiredBPS = kBps;
  send.DesiredECM = ecm;
  send.DesiredCoding = coding;
  send.StationID = "bench";
  send.PhoneNumber = "5551234";
  send.SetFaxFile(f.qvf);
  send.FaxFileExt = "qvf";
  bool finished = false;
  send.OnFaxFinish = [&](fax::TQvAbstractFax*, int) { finished = true; };
  const auto start = std::chrono::steady_clock::now();
  send.StartSending();
  const auto deadline = start + std::chrono::minutes(5);
  while (!peer.finished() && std::chrono::steady_clock::now() < deadline)
    core::MessageLoop::instance().waitAndPump(20);
  const auto end = std::chrono::steady_clock::now();
  while (!finished && std::chrono::steady_clock::now() < deadline + std::chrono::seconds(30))
    core::MessageLoop::instance().waitAndPump(20);
  if (send.Active()) send.AbortFax();
  port.SetOpen(false);
  peer.Stop();
  *pagesRx = peer.Stats().pages_rx;
  *encoding = peer.Stats().encoding;
  if (!peer.finished() || peer.completion() != T30_ERR_OK) return -1;
  return std::chrono::duration<double>(end - start).count();
}

// QV_SPANDSP_TRACE=1 also traces the reference call: both T.30s' frames on stderr, stamped in
// milliseconds from the call's start as the spandsp peer stamps our calls, so the two timelines
// can be laid side by side turn by turn.
std::chrono::steady_clock::time_point gTraceStart;
void TraceLine(int, const char* text) {
  const long ms = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - gTraceStart).count());
  std::fprintf(stderr, "%6ld ref %s", ms, text);
}

// The reference: spandsp's T.30 sends the same pages to spandsp's T.30, MH without error
// correction, over audio on the same real-time clock.
double SpandspCall(int* pagesRx) {
  Files& f = TheFiles();
  fax_state_t* tx = fax_init(nullptr, true);
  fax_state_t* rx = fax_init(nullptr, false);
  bool doneTx = false, doneRx = false;
  auto phaseE = [](t30_state_t*, void* user, int) { *static_cast<bool*>(user) = true; };
  for (auto [fax, done] : {std::pair{tx, &doneTx}, std::pair{rx, &doneRx}}) {
    t30_state_t* t30 = fax_get_t30_state(fax);
    fax_set_transmit_on_idle(fax, 1);
    t30_set_tx_ident(t30, "SPANDSP");
    t30_set_ecm_capability(t30, 0);
    t30_set_supported_modems(t30, T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
    t30_set_supported_compressions(t30, T30_SUPPORT_T4_1D_COMPRESSION);
    t30_set_phase_e_handler(t30, phaseE, done);
    if (std::getenv("QV_SPANDSP_TRACE")) {
      span_log_set_level(t30_get_logging_state(t30), SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_SHOW_PROTOCOL | SPAN_LOG_SHOW_TAG | SPAN_LOG_FLOW);
      span_log_set_tag(t30_get_logging_state(t30), fax == tx ? "tx" : "rx");
      span_log_set_message_handler(t30_get_logging_state(t30), TraceLine);
    }
  }
  t30_set_tx_file(fax_get_t30_state(tx), f.tif.c_str(), -1, -1);
  t30_set_rx_file(fax_get_t30_state(rx), (f.dir / "rx2.tif").string().c_str(), -1);
  int16_t a[160], b[160];
  const auto start = std::chrono::steady_clock::now();
  gTraceStart = start;
  auto next = start;
  const auto deadline = start + std::chrono::minutes(5);
  while (!doneRx && next < deadline) {
    fax_tx(tx, a, 160);
    fax_tx(rx, b, 160);
    fax_rx(rx, a, 160);
    fax_rx(tx, b, 160);
    next += std::chrono::milliseconds(kStepMs);
    std::this_thread::sleep_until(next);
  }
  const auto end = std::chrono::steady_clock::now();
  t30_stats_t stats{};
  t30_get_transfer_statistics(fax_get_t30_state(rx), &stats);
  *pagesRx = stats.pages_rx;
  fax_free(tx);
  fax_free(rx);
  return doneRx ? std::chrono::duration<double>(end - start).count() : -1;
}

void Report(benchmark::State& state, double seconds, int pages, int expectPages) {
  if (seconds < 0 || pages != expectPages) {
    state.SkipWithError("the call failed");
    return;
  }
  state.SetIterationTime(seconds);
  state.counters["call_s"] = seconds;
}

void BM_OurSenderMh(benchmark::State& state) {
  for (auto _ : state) {
    int pages = 0, encoding = 0;
    const double s = OurCall(false, fax::LineCoding::MH, T30_SUPPORT_T4_1D_COMPRESSION, &pages, &encoding);
    Report(state, s, pages, kPages);
  }
}
BENCHMARK(BM_OurSenderMh)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

void BM_OurSenderMmrEcm(benchmark::State& state) {
  for (auto _ : state) {
    int pages = 0, encoding = 0;
    const double s = OurCall(true, fax::LineCoding::MMR,
                             T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION | T30_SUPPORT_T6_COMPRESSION,
                             &pages, &encoding);
    if (encoding != T4_COMPRESSION_ITU_T6) state.SkipWithError("the call did not use MMR");
    Report(state, s, pages, kPages);
  }
}
BENCHMARK(BM_OurSenderMmrEcm)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

void BM_SpandspSenderMh(benchmark::State& state) {
  for (auto _ : state) {
    int pages = 0;
    const double s = SpandspCall(&pages);
    Report(state, s, pages, kPages);
  }
}
BENCHMARK(BM_SpandspSenderMh)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
