// The editor and the page renderer at the sizes a user meets: a full page of 10-point text
// rendered and coded into a QVF file, a 50-page memo loaded into the editor, and the layout work
// of one keystroke in a 50-page document. References measured in the same run: coding an
// already-rendered page, reading the memo without the editor, and a keystroke in a one-page text.
#include <benchmark/benchmark.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QImage>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "faximage/fax_converter.h"
#include "rtf/rtf_reader.h"
#include "rtf/rtf_writer.h"
#include "ui/document_fax.h"
#include "ui/page_renderer.h"
#include "ui/rich_edit.h"

using namespace qv;

namespace {

const char* const kSentences[] = {
    "Please find attached the signed purchase order for the spring delivery.",
    "Our accounts department will settle invoice 4471 within thirty days of receipt.",
    "The warehouse closes early on Friday, so plan the pickup before noon.",
    "Could you confirm the revised price of the twelve replacement valves?",
    "We regret that the shipment of copper fittings has been delayed by two weeks.",
    "Kindly return the enclosed form with your bank details and a contact number.",
};

// Paragraphs of about 70 words of `halfPoints` text; ~8 of them fill a 10-point page.
rtf::Document Text(int paragraphs, int halfPoints) {
  rtf::Document doc;
  for (int p = 0; p < paragraphs; ++p) {
    std::string s;
    for (int i = 0; i < 6; ++i) s += std::string(s.empty() ? "" : " ") + kSentences[(p + i) % 6];
    rtf::Paragraph para;
    para.format.spaceAfter = 120;
    rtf::Run r;
    r.format.halfPoints = halfPoints;
    r.text = s;
    para.runs.push_back(r);
    doc.paragraphs.push_back(para);
  }
  return doc;
}

// A document of (about) n pages of 10-point text.
rtf::Document Pages(int n) {
  static const int perPage = [] {
    for (int k = 4;; ++k)
      if (ui::PageRenderer(Text(k, 20)).PageCount() > 1) return k - 1;
  }();
  return Text(perPage * n, 20);
}

std::string TempName(const char* base) {
  return (std::filesystem::temp_directory_path() / (std::string(base) + std::to_string(getpid()) + ".QVF"))
      .string();
}

void BM_RenderTextPageToQvf(benchmark::State& state) {
  rtf::Document page = Pages(1);
  std::string out = TempName("bench_render_");
  for (auto _ : state) {
    int pages = 0;
    int rc = ui::WriteDocumentFax(page, out, {}, &pages);
    if (rc != 0 || pages != 1) state.SkipWithError("render failed");
  }
  std::filesystem::remove(out);
}
BENCHMARK(BM_RenderTextPageToQvf)->Unit(benchmark::kMillisecond);

// Reference: coding the same page, already rendered, through the same converter.
void BM_Reference_CodeRenderedPage(benchmark::State& state) {
  ui::PageRenderer r(Pages(1));
  QImage page;
  r.RenderPage(1, page);
  std::string out = TempName("bench_code_");
  for (auto _ : state) {
    faximage::TQvCustomFaxConverter conv;
    conv.SetInputDocumentType(faximage::idUser);
    conv.SetOptions(0);
    conv.SetResolution(faximage::frHigh);
    conv.SetDocumentFile(out);
    conv.SetOutFileName(out);
    int row = 0;
    conv.OnReadUserLine = [&](faximage::TQvCustomFaxConverter*, uint8_t* data, int& len, bool& eop,
                              bool& more) {
      if (row == ui::kRenderPageHeight) {
        eop = true;
        more = false;
        return;
      }
      std::memcpy(data, page.constScanLine(row++), ui::kRenderPageWidth / 8);
      len = ui::kRenderPageWidth / 8;
    };
    conv.ConvertToFile();
  }
  std::filesystem::remove(out);
}
BENCHMARK(BM_Reference_CodeRenderedPage)->Unit(benchmark::kMillisecond);

// The renderer alone (layout + drawing + one-bit conversion), for the split.
void BM_RenderTextPageOnly(benchmark::State& state) {
  rtf::Document page = Pages(1);
  QImage img;
  for (auto _ : state) {
    ui::PageRenderer r(page);
    r.RenderPage(1, img);
    benchmark::DoNotOptimize(img.constBits());
  }
}
BENCHMARK(BM_RenderTextPageOnly)->Unit(benchmark::kMillisecond);

const std::string& Memo50() {
  static const std::string memo = rtf::WriteRtf(Pages(50));
  return memo;
}

void BM_LoadFiftyPageMemoIntoEditor(benchmark::State& state) {
  ui::TQvRichEdit edit;
  edit.resize(900, 700);
  const std::string& memo = Memo50();
  for (auto _ : state) {
    if (!edit.LoadRtf(memo)) state.SkipWithError("load failed");
    // What the user waits for: the text laid out as far as the window shows it.
    edit.TextEdit()->document()->documentLayout()->blockBoundingRect(edit.TextEdit()->document()->begin());
  }
  state.counters["pages"] = edit.TextEdit()->document()->pageCount();
}
BENCHMARK(BM_LoadFiftyPageMemoIntoEditor)->Unit(benchmark::kMillisecond);

// Reference: reading the same memo into the model, no toolkit.
void BM_Reference_ReadFiftyPageMemo(benchmark::State& state) {
  const std::string& memo = Memo50();
  for (auto _ : state) {
    rtf::Document doc;
    rtf::ReadRtf(memo, doc);
    benchmark::DoNotOptimize(doc.paragraphs.data());
  }
}
BENCHMARK(BM_Reference_ReadFiftyPageMemo)->Unit(benchmark::kMillisecond);

// One keystroke in the middle of the document and the layout the widget does for it
// synchronously (the edited paragraph); with full=1 the whole document is paginated again too.
void Keystroke(benchmark::State& state, int pages) {
  ui::TQvRichEdit edit;
  edit.resize(900, 700);
  edit.SetDocument(Pages(pages));
  QTextDocument* doc = edit.TextEdit()->document();
  doc->pageCount();
  QTextCursor c(doc);
  c.setPosition(doc->characterCount() / 2);
  const bool full = state.range(0) != 0;
  for (auto _ : state) {
    c.insertText(QStringLiteral("x"));
    QRectF r = doc->documentLayout()->blockBoundingRect(c.block());
    benchmark::DoNotOptimize(r);
    if (full) benchmark::DoNotOptimize(doc->pageCount());
    state.PauseTiming();
    c.deletePreviousChar();
    if (full) doc->pageCount();
    state.ResumeTiming();
  }
}
void BM_KeystrokeFiftyPages(benchmark::State& state) { Keystroke(state, 50); }
void BM_Reference_KeystrokeOnePage(benchmark::State& state) { Keystroke(state, 1); }
BENCHMARK(BM_KeystrokeFiftyPages)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_KeystrokeOnePage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
