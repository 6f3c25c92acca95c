// Row coder against libtiff's Group 3 one-dimensional encoder on the same rows of a fine,
// text-heavy page (1728 x 2156), and BMP -> QVF pages per second for a rendered page.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tiff_memory.h"
#include "faximage/converter.h"
#include "faximage/raster.h"
#include "faximage/t4_coder.h"

using namespace qv::faximage;

namespace {

using namespace qv::bench;  // the in-memory TIFF file (tiff_memory.h)

constexpr int kWidth = 1728;
constexpr int kRows = 2156;
constexpr int kMargin = 50;

// A page of text in the built-in font at fine resolution (32 rows per line), the margin drawn
// into the rows so both coders see identical full-width rows.
const std::vector<std::vector<uint8_t>>& textPage() {
  static const std::vector<std::vector<uint8_t>> rows = [] {
    ConverterState s;
    s.ResWidth = kWidth;
    LoadFaxFont(s, 48, true);
    const char* words =
        "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor "
        "incididunt ut labore et dolore magna aliqua. Ut enim ad minim veniam, quis nostrud "
        "exercitation ullamco laboris nisi ut aliquip ex ea commodo consequat. 0123456789 ";
    std::string text(words);
    std::vector<std::vector<uint8_t>> out;
    std::vector<uint8_t> line(kStandardRowBytes);
    for (int y = 0; y < kRows; ++y) {
      int textLine = y / 32, glyphRow = y % 32 + 1;
      std::vector<uint8_t> raster(kStandardRowBytes, 0);
      if (textLine % 20 != 19) {  // a blank line now and then, like paragraphs
        size_t start = static_cast<size_t>(textLine * 37) % (text.size() - 84);
        std::fill(line.begin(), line.end(), 0);
        RasterizeTextRow(s, text.substr(start, 84), glyphRow, line.data());
        for (int x = 0; x + kMargin < kWidth; ++x)
          if (GetPixel(line, x)) SetPixel(raster, x + kMargin, true);
      }
      out.push_back(raster);
    }
    return out;
  }();
  return rows;
}

void BM_CompressRow(benchmark::State& state) {
  const auto& rows = textPage();
  ConverterState s;
  s.ResWidth = kWidth;
  s.LeftMargin = 0;
  std::vector<uint8_t> sink(kRows * 64 + 4096);
  size_t bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    for (const auto& r : rows) {
      CompressRow(s, r.data());
      if (bytes + static_cast<size_t>(s.ByteOfs) > sink.size()) sink.resize(sink.size() * 2);
      std::memcpy(sink.data() + bytes, s.CodedRow.data(), static_cast<size_t>(s.ByteOfs));
      bytes += static_cast<size_t>(s.ByteOfs);
    }
    benchmark::DoNotOptimize(sink.data());
  }
  state.SetItemsProcessed(state.iterations() * kRows);
  state.counters["coded_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_CompressRow)->Unit(benchmark::kMillisecond);


// Tag 279 of the first directory of a little-endian classic TIFF held in memory.
uint64_t stripByteCount(const std::vector<uint8_t>& f) {
  auto u16 = [&](size_t at) { return static_cast<uint32_t>(f[at] | (f[at + 1] << 8)); };
  auto u32 = [&](size_t at) { return u16(at) | (u16(at + 2) << 16); };
  size_t ifd = u32(4);
  for (uint32_t i = 0, n = u16(ifd); i < n; ++i) {
    size_t e = ifd + 2 + 12 * i;
    if (u16(e) == 279) return u16(e + 2) == 3 ? u16(e + 8) : u32(e + 8);
  }
  return 0;
}

void BM_LibtiffG3Encode(benchmark::State& state) {
  const auto& rows = textPage();
  MemFile mem;
  mem.data.reserve(1 << 20);
  uint64_t stripBytes = 0;
  for (auto _ : state) {
    mem.pos = 0;
    mem.data.clear();
    TIFF* t = TIFFClientOpen("mem", "w", &mem, memRead, memWrite, memSeek, memClose, memSize,
                             memMap, memUnmap);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, kRows);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_FILLBITS);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, kRows);
    std::vector<uint8_t> buf(kStandardRowBytes);
    for (int y = 0; y < kRows; ++y) {
      std::memcpy(buf.data(), rows[static_cast<size_t>(y)].data(), buf.size());
      TIFFWriteScanline(t, buf.data(), static_cast<uint32_t>(y), 0);
    }
    TIFFClose(t);
    stripBytes = stripByteCount(mem.data);
    benchmark::DoNotOptimize(mem.data.data());
  }
  state.SetItemsProcessed(state.iterations() * kRows);
  state.counters["coded_bytes"] = static_cast<double>(stripBytes);
}
BENCHMARK(BM_LibtiffG3Encode)->Unit(benchmark::kMillisecond);

// BMP -> QVF for a rendered 1664 x 2156 page, the path every outgoing fax takes.
void BM_BmpToQvfPage(benchmark::State& state) {
  const auto& rows = textPage();
  const int w = 1664;
  const int stride = (w + 31) / 32 * 4;
  std::vector<uint8_t> v = {'B', 'M'};
  auto p32 = [&](uint32_t x) { for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i))); };
  auto p16 = [&](uint32_t x) { v.push_back(static_cast<uint8_t>(x)); v.push_back(static_cast<uint8_t>(x >> 8)); };
  p32(static_cast<uint32_t>(62 + stride * kRows)); p32(0); p32(62); p32(40);
  p32(w); p32(kRows); p16(1); p16(1);
  for (int i = 0; i < 6; ++i) p32(0);
  p32(0); p32(0xFFFFFF);
  for (int y = kRows - 1; y >= 0; --y)
    for (int b = 0; b < stride; ++b)
      v.push_back(b < w / 8 ? static_cast<uint8_t>(~rows[static_cast<size_t>(y)][static_cast<size_t>(b + 4)]) : 0xFF);
  std::string dir = (std::filesystem::temp_directory_path() / ("qvbench" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(dir);
  std::string in = dir + "/page.bmp", out = dir + "/page.qvf";
  std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(v.data()), static_cast<long>(v.size()));
  for (auto _ : state) {
    auto s = CreateConverterState(idBmp);
    s->Flags = coCenterImage;
    s->LeftMargin = 0;
    s->UseHighRes = true;
    if (ConvertToQvf(*s, in, out) != 0) state.SkipWithError("conversion failed");
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["qvf_bytes"] = static_cast<double>(std::filesystem::file_size(out));
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_BmpToQvfPage)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
