// Decoding speed: our T.4 decoder against libtiff's Group 3 1-D decoder on the same coded page, and
// the time the viewer waits for the memory bitmap of a fine page.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../text_page.h"
#include "faximage/qvf_writer.h"
#include "faximage/t4_coder.h"
#include "faximage/t4_decoder.h"
#include "faximage/unpacker.h"
#include "faximage/unpacker_bitmap.h"

using namespace qv::faximage;
using qv::bench::MakeTextPage;

namespace {

constexpr int kWidth = 1728;
constexpr int kRowBytes = kWidth / 8;


struct Fixture {
  std::vector<std::vector<uint8_t>> page = MakeTextPage();
  std::string tiffPath, qvfPath, rawQvfPath;
  std::vector<uint8_t> strip;  // libtiff's G3 1-D coding of the page, LSB first

  Fixture() {
    char tmpl[] = "/tmp/qvbenchXXXXXX";
    int fd = mkstemp(tmpl);
    close(fd);
    std::string base = tmpl;
    tiffPath = base + ".tif";
    qvfPath = base + ".qvf";
    rawQvfPath = base + "-raw.qvf";
    std::remove(tmpl);

    TIFF* t = TIFFOpen(tiffPath.c_str(), "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(page.size()));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(page.size()));
    for (size_t y = 0; y < page.size(); ++y) TIFFWriteScanline(t, page[y].data(), static_cast<uint32_t>(y), 0);
    TIFFClose(t);
    t = TIFFOpen(tiffPath.c_str(), "r");
    strip.resize(static_cast<size_t>(TIFFRawStripSize(t, 0)));
    TIFFReadRawStrip(t, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
    TIFFClose(t);

    // The converter's way: one row record per row, coded by its row coder.
    QvfWriter records;
    records.Create(qvfPath);
    records.SetPageFlags(pfRowRecords | pfHighRes);
    std::vector<uint8_t> coded(kMaxCodedRow);
    for (const auto& row : page) {
      int n = CodeRow(row.data(), kWidth, 0, false, coded.data());
      records.WriteRowRecord(std::span<const uint8_t>(coded.data(), static_cast<size_t>(n)));
    }
    records.EndPage();
    records.Close("BENCH");
    // The receiver's way: libtiff's coded rows as one raw stream, closed by RTC.
    std::vector<uint8_t> raw = strip;
    for (int i = 0; i < 6; ++i) raw.insert(raw.end(), {0x00, 0x08, 0x80});
    QvfWriter receiver;
    receiver.Create(rawQvfPath);
    receiver.SetPageFlags(pfHighRes);
    receiver.WriteRaw(raw);
    receiver.EndRawPage();
    receiver.Close("BENCH");
  }
  ~Fixture() {
    std::remove(tiffPath.c_str());
    std::remove(qvfPath.c_str());
    std::remove(rawQvfPath.c_str());
  }
};

Fixture& F() {
  static Fixture f;
  return f;
}

constexpr uint8_t kEol[] = {0x00, 0x08};

// Decoding into a whole-page buffer, which is what libtiff's strip read produces too.
void BM_T4Decoder_FinePage(benchmark::State& state) {
  Fixture& f = F();
  std::vector<uint8_t> out(f.page.size() * kRowBytes);
  size_t at = 0;
  T4Decoder d([&](std::span<const uint8_t> row) {
    if (at + row.size() <= out.size()) std::memcpy(out.data() + at, row.data(), row.size());
    at += row.size();
  });
  for (auto _ : state) {
    at = 0;
    d.startPage();
    d.feed(f.strip);
    d.feed(kEol, sizeof kEol);  // libtiff writes an EOL before each row; ours ends the last
    benchmark::DoNotOptimize(out.data());
  }
  if (at != out.size() || std::memcmp(out.data(), f.page[0].data(), kRowBytes) != 0) state.SkipWithError("decoded page differs");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.strip.size()));
  state.counters["rows"] = static_cast<double>(f.page.size());
}

void BM_Libtiff_FinePage(benchmark::State& state) {
  Fixture& f = F();
  TIFF* t = TIFFOpen(f.tiffPath.c_str(), "r");
  std::vector<uint8_t> out(static_cast<size_t>(TIFFStripSize(t)));
  for (auto _ : state) {
    tmsize_t n = TIFFReadEncodedStrip(t, 0, out.data(), static_cast<tmsize_t>(out.size()));
    benchmark::DoNotOptimize(n);
  }
  if (std::memcmp(out.data() + 300 * kRowBytes, f.page[300].data(), kRowBytes) != 0) state.SkipWithError("libtiff page differs");
  TIFFClose(t);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.strip.size()));
}

// What the viewer waits for on every page turn: the display bitmap of a fine page from the file.
void BM_MemoryBitmap_FinePage(benchmark::State& state) {
  Fixture& f = F();
  UnpackerState st;
  st.setAutoScale(kUnpackHalfWidth);
  for (auto _ : state) {
    PageBitmap bm;
    int rc = UnpackPageToMemoryBitmap(st, state.range(0) ? f.rawQvfPath : f.qvfPath, 1, true, bm);
    if (rc != 0 || bm.height != static_cast<int>(f.page.size())) state.SkipWithError("unpack failed");
    benchmark::DoNotOptimize(bm.bits.data());
  }
}

// The same through the component with its defaults: yielding to the message loop as it decodes.
void BM_UnpackPageToBitmap_Yielding(benchmark::State& state) {
  Fixture& f = F();
  TQvFaxUnpacker unpacker;
  unpacker.SetInFileName(f.qvfPath);
  for (auto _ : state) {
    PageBitmap bm = unpacker.UnpackPageToBitmap(1);
    if (bm.height != static_cast<int>(f.page.size())) state.SkipWithError("unpack failed");
    benchmark::DoNotOptimize(bm.bits.data());
  }
}

}  // namespace

BENCHMARK(BM_UnpackPageToBitmap_Yielding)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_T4Decoder_FinePage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Libtiff_FinePage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemoryBitmap_FinePage)->Arg(0)->Arg(1)->ArgName("raw")->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
