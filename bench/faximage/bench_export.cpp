// Document exports of a 10-page fine fax: the whole file as PDF and as TIFF, against the existing
// per-page PNG export of the same pages in the same run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "faximage/export_pdf.h"
#include "faximage/export_png.h"
#include "faximage/export_tiff.h"
#include "faximage/qvf_writer.h"
#include "faximage/t4_coder.h"

using namespace qv::faximage;

namespace {

constexpr int kPages = 10;
constexpr int kRows = 2287;  // fine A4

// Ten fine A4 pages of text-like strokes: 60 lines of short black runs.
struct Fax {
  std::string dir;
  std::string qvf;
  Fax() {
    char tmpl[] = "/tmp/qvbenchexpXXXXXX";
    dir = mkdtemp(tmpl);
    qvf = dir + "/ten.qvf";
    std::mt19937 rng(2026);
    QvfWriter w;
    w.Create(qvf);
    w.SetPageFlags(pfRowRecords | pfHighRes);
    std::vector<uint8_t> row(216 + 8);
    uint8_t coded[kMaxCodedRow];
    for (int p = 0; p < kPages; ++p) {
      for (int y = 0; y < kRows; ++y) {
        std::fill(row.begin(), row.end(), 0);
        if (y % 36 < 28 && y > 100 && y < kRows - 100)
          for (int x = 8; x < 200; ++x) row[static_cast<size_t>(x)] = (rng() % 3 == 0) ? static_cast<uint8_t>(rng()) & 0x66 : 0;
        w.WriteRowRecord({coded, static_cast<size_t>(CodeRow(row.data(), 1728, 0, false, coded))});
      }
      w.EndPage();
    }
    w.Close("BENCH");
  }
  ~Fax() {
    std::remove(qvf.c_str());
    for (const char* f : {"/out.pdf", "/out.tif", "/out.png"}) std::remove((dir + f).c_str());
    rmdir(dir.c_str());
  }
};

const Fax& fax() {
  static const Fax f;
  return f;
}

void BM_Export10Pages_Pdf(benchmark::State& s) {
  for (auto _ : s) {
    UnpackerState st;
    if (UnpackFileToPdf(st, fax().qvf, fax().dir + "/out.pdf") != 0) s.SkipWithError("pdf export failed");
  }
}

void BM_Export10Pages_Tiff(benchmark::State& s) {
  for (auto _ : s) {
    UnpackerState st;
    if (UnpackFileToTiff(st, fax().qvf, fax().dir + "/out.tif") != 0) s.SkipWithError("tiff export failed");
  }
}

// Reference: the existing PNG export, one file per page, at the coded size.
void BM_Export10Pages_PngReference(benchmark::State& s) {
  for (auto _ : s) {
    for (int p = 1; p <= kPages; ++p) {
      UnpackerState st;
      if (UnpackPageToPng(st, fax().qvf, p, fax().dir + "/out.png") != 0) s.SkipWithError("png export failed");
    }
  }
}

}  // namespace

BENCHMARK(BM_Export10Pages_Pdf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Export10Pages_Tiff)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Export10Pages_PngReference)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
