// The fax viewer and printer at the sizes a user meets: turning to a fine A4 page at the viewer
// form's "100%" (display scale 1/2: decode, scale, paint into the widget's image), a page fitted
// to a 1000-pixel-high window with greyscale filtering, the thumbnails of a 50-page fax, and
// printing a page into a PDF. References measured in the same run: decoding the page alone, Qt's
// own smooth scaling of the same page, decoding the 50 pages alone, and the PDF export of the
// same page (the fax data embedded without drawing).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <random>
#include <string>
#include <vector>

#include "faximage/qvf_writer.h"
#include "faximage/t4_coder.h"
#include "faximage/unpacker.h"
#include "faximage/unpacker_bitmap.h"
#include "ui/fax_printer.h"
#include "ui/fax_thumbnails.h"
#include "ui/fax_viewer.h"

using namespace qv;

namespace {

constexpr int kFineA4Rows = 2287;

// A fine A4 page of text-like lines: 24-row bands of scattered glyph bits every 40 rows.
void WriteTextFax(const std::string& file, int pages) {
  std::mt19937 rng(7);
  faximage::QvfWriter w;
  w.Create(file);
  w.SetPageFlags(faximage::pfRowRecords | faximage::pfHighRes);
  uint8_t coded[faximage::kMaxCodedRow];
  std::vector<uint8_t> row(1728 / 8 + 8);
  for (int p = 0; p < pages; ++p) {
    for (int y = 0; y < kFineA4Rows; ++y) {
      std::fill(row.begin(), row.end(), 0);
      const bool text = y > 150 && y < 2100 && y % 40 < 24;
      if (text)
        for (int i = 12; i < 200; ++i)
          if (rng() % 3 == 0) row[size_t(i)] = uint8_t(rng() & 0x66);
      const int n = faximage::CodeRow(row.data(), 1728, 0, false, coded);
      w.WriteRowRecord({coded, size_t(n)});
    }
    w.EndPage();
  }
  w.Close("BENCH");
}

struct Files {
  QTemporaryDir dir;
  QString two, fifty;
  Files() {
    two = dir.filePath(QStringLiteral("two.qvf"));
    fifty = dir.filePath(QStringLiteral("fifty.qvf"));
    WriteTextFax(two.toStdString(), 2);
    WriteTextFax(fifty.toStdString(), 50);
  }
};

Files& F() {
  static Files f;
  return f;
}

void BM_PageTurnFineHalfScale(benchmark::State& state) {
  ui::TQvFaxViewer viewer;
  viewer.resize(900, 1000);
  viewer.SetFileName(F().two);
  viewer.BeginUpdate();
  viewer.SetScaling(true);
  viewer.SetHorizMult(50);
  viewer.SetHorizDiv(100);
  viewer.SetVertMult(50);
  viewer.SetVertDiv(100);
  viewer.EndUpdate();
  QImage backing(viewer.viewport()->size(), QImage::Format_RGB32);
  for (auto _ : state) {
    viewer.SetActivePage(viewer.ActivePage() == 1 ? 2 : 1);
    viewer.viewport()->render(&backing);
    benchmark::DoNotOptimize(backing.bits());
  }
}
BENCHMARK(BM_PageTurnFineHalfScale)->Unit(benchmark::kMillisecond);

void BM_Reference_DecodePage(benchmark::State& state) {
  for (auto _ : state) {
    faximage::UnpackerState st;
    faximage::PageBitmap bm;
    faximage::UnpackPageForExport(st, F().two.toStdString(), 1, bm);
    benchmark::DoNotOptimize(bm.bits.data());
  }
}
BENCHMARK(BM_Reference_DecodePage)->Unit(benchmark::kMillisecond);

faximage::PageBitmap FullPage() {
  faximage::UnpackerState st;
  faximage::PageBitmap bm;
  faximage::UnpackPageFullWidth(st, F().two.toStdString(), 1, bm);
  return bm;
}

void BM_FitTo1000RowsFiltered(benchmark::State& state) {
  const faximage::PageBitmap bm = FullPage();
  const int h = 1000, w = int(int64_t(bm.width) * h / bm.height);
  for (auto _ : state) {
    QImage img = ui::RenderPageImage(bm, w, h, qRgb(0, 0, 0), qRgb(255, 255, 255), true);
    benchmark::DoNotOptimize(img.bits());
  }
}
BENCHMARK(BM_FitTo1000RowsFiltered)->Unit(benchmark::kMillisecond);

void BM_Reference_QtSmoothScale(benchmark::State& state) {
  const faximage::PageBitmap bm = FullPage();
  QImage mono(bm.width, bm.height, QImage::Format_Mono);
  mono.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  for (int y = 0; y < bm.height; ++y) std::memcpy(mono.scanLine(y), bm.row(y), size_t(bm.width / 8));
  const int h = 1000, w = int(int64_t(bm.width) * h / bm.height);
  for (auto _ : state) {
    QImage img = mono.convertToFormat(QImage::Format_Grayscale8).scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    benchmark::DoNotOptimize(img.bits());
  }
}
BENCHMARK(BM_Reference_QtSmoothScale)->Unit(benchmark::kMillisecond);

void BM_FiftyThumbnails(benchmark::State& state) {
  for (auto _ : state)
    for (int p = 1; p <= 50; ++p) benchmark::DoNotOptimize(ui::MakeFaxThumbnail(F().fifty, p).bits());
}
BENCHMARK(BM_FiftyThumbnails)->Unit(benchmark::kMillisecond);

void BM_Reference_DecodeFiftyPages(benchmark::State& state) {
  for (auto _ : state)
    for (int p = 1; p <= 50; ++p) {
      faximage::UnpackerState st;
      faximage::PageBitmap bm;
      faximage::UnpackPageFullWidth(st, F().fifty.toStdString(), p, bm);
      benchmark::DoNotOptimize(bm.bits.data());
    }
}
BENCHMARK(BM_Reference_DecodeFiftyPages)->Unit(benchmark::kMillisecond);

void BM_PrintPageToPdf(benchmark::State& state) {
  ui::TFaxPrintOptions o;
  o.PdfFile = F().dir.filePath(QStringLiteral("print.pdf"));
  o.LastPage = 1;
  o.Header = o.Footer = true;
  for (auto _ : state) benchmark::DoNotOptimize(ui::TQvFaxPrinter::PrintFaxFile(F().two, QString(), o));
}
BENCHMARK(BM_PrintPageToPdf)->Unit(benchmark::kMillisecond);

void BM_Reference_ExportPdf(benchmark::State& state) {
  // The two-page file exported whole; halved when read, to compare with one printed page.
  faximage::TQvFaxUnpacker u;
  u.SetOptions(0);
  u.SetInFileName(F().two.toStdString());
  u.SetOutFileName(F().dir.filePath(QStringLiteral("export.pdf")).toStdString());
  for (auto _ : state) u.UnpackFileToPdf();
}
BENCHMARK(BM_Reference_ExportPdf)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
