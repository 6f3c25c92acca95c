// Two-dimensional coding speed: our MR (T.4 2-D, K = 4) and MMR (T.6) coders and decoders
// against libtiff's Group 3 2-D and Group 4 codecs on the same fine text page (1728 x 2156), in
// the same run. Coders take the page's rows; decoders get the same bytes (libtiff's strip) and
// produce every row.
#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <cstring>
#include <string>
#include <vector>

#include "tiff_memory.h"
#include "faximage/converter.h"
#include "faximage/mmr_coder.h"
#include "faximage/mmr_decoder.h"
#include "faximage/mr_coder.h"
#include "faximage/mr_decoder.h"
#include "faximage/raster.h"
#include "faximage/t4_2d_tables.h"
#include "faximage/t4_coder.h"

using namespace qv::faximage;

namespace {

using namespace qv::bench;  // the in-memory TIFF file (tiff_memory.h)

constexpr int kWidth = 1728;
constexpr int kRows = 2156;
constexpr int kMargin = 50;
constexpr size_t kRowBytes = kWidth / 8;

// A page of text in the built-in font at fine resolution, as the row coder's benchmark draws it.
const std::vector<uint8_t>& textPage() {
  static const std::vector<uint8_t> page = [] {
    ConverterState s;
    s.ResWidth = kWidth;
    LoadFaxFont(s, 48, true);
    const std::string text =
        "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor "
        "incididunt ut labore et dolore magna aliqua. Ut enim ad minim veniam, quis nostrud "
        "exercitation ullamco laboris nisi ut aliquip ex ea commodo consequat. 0123456789 ";
    std::vector<uint8_t> out(kRowBytes * kRows, 0);
    std::vector<uint8_t> line(kStandardRowBytes);
    for (int y = 0; y < kRows; ++y) {
      int textLine = y / 32, glyphRow = y % 32 + 1;
      if (textLine % 20 == 19) continue;  // a blank line now and then, like paragraphs
      size_t start = static_cast<size_t>(textLine * 37) % (text.size() - 84);
      std::fill(line.begin(), line.end(), 0);
      RasterizeTextRow(s, text.substr(start, 84), glyphRow, line.data());
      std::vector<uint8_t> raster(kStandardRowBytes, 0);
      for (int x = 0; x + kMargin < kWidth; ++x)
        if (GetPixel(line, x)) SetPixel(raster, x + kMargin, true);
      std::memcpy(out.data() + static_cast<size_t>(y) * kRowBytes, raster.data(), kRowBytes);
    }
    return out;
  }();
  return page;
}


// libtiff codes the page into mem (G3 2-D at 196 dpi, so K = 4, or G4); returns its strip size.
uint64_t libtiffEncode(MemFile& m, bool g4) {
  m.data.clear();
  TIFF* t = memOpen(m, "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, kRows);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, g4 ? COMPRESSION_CCITTFAX4 : COMPRESSION_CCITTFAX3);
  if (!g4) TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_2DENCODING);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(t, TIFFTAG_XRESOLUTION, 204.0f);
  TIFFSetField(t, TIFFTAG_YRESOLUTION, 196.0f);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, kRows);
  std::vector<uint8_t> page = textPage();  // libtiff may scribble on its input
  TIFFWriteEncodedStrip(t, 0, page.data(), static_cast<tmsize_t>(page.size()));
  TIFFClose(t);
  t = memOpen(m, "r");
  uint64_t size = static_cast<uint64_t>(TIFFRawStripSize(t, 0));
  TIFFClose(t);
  return size;
}

// The strip libtiff made, for both decoders.
std::vector<uint8_t> libtiffStrip(bool g4) {
  MemFile m;
  libtiffEncode(m, g4);
  TIFF* t = memOpen(m, "r");
  std::vector<uint8_t> strip(static_cast<size_t>(TIFFRawStripSize(t, 0)));
  TIFFReadRawStrip(t, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
  TIFFClose(t);
  return strip;
}

void BM_Encode_Ours_MR(benchmark::State& state) {
  const auto& page = textPage();
  size_t bytes = 0;
  MrCoder coder(kWidth, kMrKFine);
  for (auto _ : state) {
    for (int y = 0; y < kRows; ++y) coder.addRow(page.data() + static_cast<size_t>(y) * kRowBytes);
    std::vector<uint8_t> out = coder.finish();
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kRows);
  state.counters["coded_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Encode_Ours_MR)->Unit(benchmark::kMicrosecond);

void BM_Encode_Libtiff_MR(benchmark::State& state) {
  MemFile m;
  m.data.reserve(1 << 20);
  uint64_t bytes = 0;
  for (auto _ : state) bytes = libtiffEncode(m, false);
  state.SetItemsProcessed(state.iterations() * kRows);
  state.counters["coded_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Encode_Libtiff_MR)->Unit(benchmark::kMicrosecond);

void BM_Encode_Ours_MMR(benchmark::State& state) {
  const auto& page = textPage();
  size_t bytes = 0;
  MmrCoder coder(kWidth);
  for (auto _ : state) {
    for (int y = 0; y < kRows; ++y) coder.addRow(page.data() + static_cast<size_t>(y) * kRowBytes);
    std::vector<uint8_t> out = coder.finish();
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kRows);
  state.counters["coded_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Encode_Ours_MMR)->Unit(benchmark::kMicrosecond);

void BM_Encode_Libtiff_MMR(benchmark::State& state) {
  MemFile m;
  m.data.reserve(1 << 20);
  uint64_t bytes = 0;
  for (auto _ : state) bytes = libtiffEncode(m, true);
  state.SetItemsProcessed(state.iterations() * kRows);
  state.counters["coded_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Encode_Libtiff_MMR)->Unit(benchmark::kMicrosecond);

// Ours decodes libtiff's strip; every row is copied out, as a caller storing the page would.
template <class Decoder>
void decodeOurs(benchmark::State& state, bool g4) {
  const std::vector<uint8_t> strip = libtiffStrip(g4);
  std::vector<uint8_t> page(kRowBytes * kRows);
  size_t rows = 0;
  Decoder d(kWidth, [&](std::span<const uint8_t> r) {
    if (rows < kRows) std::memcpy(page.data() + rows * kRowBytes, r.data(), kRowBytes);
    ++rows;
  });
  for (auto _ : state) {
    rows = 0;
    d.decodePage(strip);
    benchmark::DoNotOptimize(page.data());
  }
  if (rows != kRows || page != textPage()) state.SkipWithError("decoded page differs");
  state.SetItemsProcessed(state.iterations() * kRows);
}

void decodeLibtiff(benchmark::State& state, bool g4) {
  MemFile m;
  libtiffEncode(m, g4);
  std::vector<uint8_t> page(kRowBytes * kRows);
  for (auto _ : state) {
    TIFF* t = memOpen(m, "r");
    TIFFReadEncodedStrip(t, 0, page.data(), static_cast<tmsize_t>(page.size()));
    TIFFClose(t);
    benchmark::DoNotOptimize(page.data());
  }
  if (page != textPage()) state.SkipWithError("libtiff's page differs");
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_Decode_Ours_MR(benchmark::State& s) { decodeOurs<MrDecoder>(s, false); }
void BM_Decode_Libtiff_MR(benchmark::State& s) { decodeLibtiff(s, false); }
void BM_Decode_Ours_MMR(benchmark::State& s) { decodeOurs<MmrDecoder>(s, true); }
void BM_Decode_Libtiff_MMR(benchmark::State& s) { decodeLibtiff(s, true); }
BENCHMARK(BM_Decode_Ours_MR)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Decode_Libtiff_MR)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Decode_Ours_MMR)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Decode_Libtiff_MMR)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
