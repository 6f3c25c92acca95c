// Drawing a page with 200 marks at 100 %: the page turn of a fine text page with its marks burnt
// in, against the same page turn without marks in the same run (the reference), and the marks
// alone on a decoded page.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "faximage/page_marks.h"
#include "faximage/qvf_writer.h"
#include "faximage/t4_coder.h"
#include "faximage/unpacker_bitmap.h"

using namespace qv::faximage;

namespace {

constexpr int kRows = 2287;  // fine A4

struct Fixture {
  std::string dir, qvf;
  FaxMarks marks;
  Fixture() {
    char tmpl[] = "/tmp/qvbenchmarksXXXXXX";
    dir = mkdtemp(tmpl);
    qvf = dir + "/page.qvf";
    std::mt19937 rng(2026);
    QvfWriter w;
    w.Create(qvf);
    w.SetPageFlags(pfRowRecords | pfHighRes);
    std::vector<uint8_t> row(216 + 8);
    uint8_t coded[kMaxCodedRow];
    for (int y = 0; y < kRows; ++y) {
      std::fill(row.begin(), row.end(), 0);
      if (y % 36 < 28 && y > 100 && y < kRows - 100)
        for (int x = 8; x < 200; ++x) row[static_cast<size_t>(x)] = (rng() % 3 == 0) ? static_cast<uint8_t>(rng()) & 0x66 : 0;
      w.WriteRowRecord({coded, static_cast<size_t>(CodeRow(row.data(), 1728, 0, false, coded))});
    }
    w.EndPage();
    w.Close("BENCH");

    // 200 marks of every kind, as a busy form might carry: mostly handwriting.
    MarkPicture sig;
    sig.width = 200;
    sig.height = 60;
    sig.bits.resize(25 * 60);
    for (auto& b : sig.bits) b = static_cast<uint8_t>(rng() & 0x18);
    auto at = [&](int span) { return static_cast<int>(rng() % static_cast<unsigned>(span)); };
    for (int i = 0; i < 200; ++i) {
      const int x = at(1500), y = at(2100);
      switch (i % 20) {
        case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 9: case 10: case 11: {
          std::vector<MarkPoint> pts;
          for (int k = 0; k < 30; ++k) pts.push_back({x + k * 6, y + at(40)});
          marks.marks.push_back(Mark::Stroke(MarkKind::Pen, 1, 3, std::move(pts)));
          break;
        }
        case 12: case 13:
          marks.marks.push_back(Mark::Stroke(MarkKind::Highlight, 1, kMarkHighlightDefault, {{x, y}, {x + 200, y}}));
          break;
        case 14: case 15:
          marks.marks.push_back(Mark::Words(MarkKind::Text, 1, x, y, 40, "Sans", "Approved 42"));
          break;
        case 16:
          marks.marks.push_back(Mark::Words(MarkKind::Stamp, 1, x, y, 32, "Sans", "10.12.2026"));
          break;
        case 17:
          marks.marks.push_back(Mark::Box(MarkKind::Check, 1, x, y, 60, 60));
          break;
        case 18:
          marks.marks.push_back(Mark::Box(MarkKind::Whiteout, 1, x, y, 120, 40));
          break;
        default:
          marks.marks.push_back(Mark::Signature(1, x, y, 400, 120, sig));
          break;
      }
    }
  }
  ~Fixture() {
    std::remove(qvf.c_str());
    rmdir(dir.c_str());
  }
};

Fixture& F() {
  static Fixture f;
  return f;
}

// The reference: a page turn at 100 % as the viewer decodes it (full width, standard rows doubled).
void BM_PageTurn_NoMarks(benchmark::State& state) {
  Fixture& f = F();
  for (auto _ : state) {
    UnpackerState st;
    st.setAutoScale(kUnpackDoubleHeight);
    PageBitmap bm;
    if (UnpackPageFullWidth(st, f.qvf, 1, bm) != 0 || bm.height != kRows) state.SkipWithError("unpack failed");
    benchmark::DoNotOptimize(bm.bits.data());
  }
}

// The same page turn with the 200 marks drawn (the rasteriser and its fonts kept, as the viewer
// keeps them between pages).
void BM_PageTurn_200Marks(benchmark::State& state) {
  Fixture& f = F();
  auto marks = std::make_shared<const FaxMarks>(f.marks);
  auto drawer = std::make_shared<MarkRasterizer>();
  for (auto _ : state) {
    UnpackerState st;
    st.setAutoScale(kUnpackDoubleHeight);
    st.Marks = marks;
    st.MarkDrawer = drawer;
    PageBitmap bm;
    if (UnpackPageFullWidth(st, f.qvf, 1, bm) != 0 || bm.height != kRows) state.SkipWithError("unpack failed");
    benchmark::DoNotOptimize(bm.bits.data());
  }
}

// Today's page turn of the viewer (the display bitmap, cut at the rightmost black pixel), for
// comparison with the figures of the decoder benchmark.
void BM_ViewerBitmap_NoMarks(benchmark::State& state) {
  Fixture& f = F();
  for (auto _ : state) {
    UnpackerState st;
    st.setAutoScale(kUnpackDoubleHeight);
    PageBitmap bm;
    if (UnpackPageToMemoryBitmap(st, f.qvf, 1, true, bm) != 0) state.SkipWithError("unpack failed");
    benchmark::DoNotOptimize(bm.bits.data());
  }
}

// The 200 marks alone, onto a copy of the decoded page.
void BM_Draw200Marks(benchmark::State& state) {
  Fixture& f = F();
  UnpackerState st;
  PageBitmap page;
  UnpackPageFullWidth(st, f.qvf, 1, page);
  MarkRasterizer r;
  for (auto _ : state) {
    PageBitmap bm = page;
    r.Draw(f.marks, 1, bm, true);
    benchmark::DoNotOptimize(bm.bits.data());
  }
}

}  // namespace

BENCHMARK(BM_PageTurn_NoMarks)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PageTurn_200Marks)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ViewerBitmap_NoMarks)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Draw200Marks)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
