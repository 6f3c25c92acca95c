// The main window with many faxes: opening it (tables, settings, grids, first activation),
// scrolling a grid a screenful and to its end, switching the outgoing grid's sort order and the
// page, and deleting the current fax. Each runs over 1,000 faxes per table (the reference, in the
// same run) and over 100,000; the ratio between the two tells whether the window's cost grows
// with the tables.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <string>

#include "app/forms/dialog_service.h"
#include "app/forms/fax_log_cleanup.h"
#include "app/store/fax_store.h"
#include "app/forms/main_screen.h"
#include "app/store/settings.h"
#include "app/store/table_pair.h"
#include "core/ini_file.h"

using namespace qv;

namespace {

// Every question answered Yes, no box shown, no form run except the index rebuild.
class BenchDialogs : public app::DialogService {
 public:
  void Information(QWidget*, const QString&, const QString&) override {}
  bool Question(QWidget*, const QString&, const QString&, bool) override { return true; }
  Choice YesNoCancel(QWidget*, const QString&, const QString&) override { return Choice::Yes; }
  void Error(QWidget*, const QString&) override {}
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  int Exec(QDialog*) override { return QDialog::Rejected; }
  void Beep() override {}
};

// A data directory with n outgoing and n received faxes, indexes rebuilt, the port set up.
class Sample {
 public:
  explicit Sample(int n) {
    dir_.setAutoRemove(true);
    const std::string path = Path().toStdString();
    app::TFaxStore store(path);
    store.OpenFaxDBF();
    store.OpenRecFaxDBF();
    app::TablePair& fax = store.Pair(app::TableId::Fax);
    app::TablePair& rec = store.Pair(app::TableId::Rec);
    char date[9];
    for (int i = 0; i < n; ++i) {
      std::snprintf(date, sizeof date, "%04d%02d%02d", 2016 + i % 10, 1 + i % 12, 1 + i % 28);
      fax.Append();
      fax.SetFieldString("SUBJECT", "Order confirmation " + std::to_string(i));
      fax.SetFieldBool("SENT", i % 4 != 0);
      if (i % 4 != 0) fax.SetFieldDate("DATESENT", date);
      fax.SetFieldString("TIMESENT", "10:15");
      fax.SetFieldString("RECIPIENT", "Customer " + std::to_string(i % 977));
      fax.SetFieldString("PHONE", "555 " + std::to_string(1000 + i % 9000));
      fax.SetFieldInt("PAGES", 1 + i % 9);
      fax.SetFieldString("LASTRESULT", "Fax sent successfully");
      fax.Post();
      rec.Append();
      rec.SetFieldDate("DATEREC", date);
      rec.SetFieldString("TIMEREC", "08:40");
      rec.SetFieldString("FROM", "Sender " + std::to_string(i % 601));
      rec.SetFieldInt("PAGES", 1 + i % 5);
      rec.SetFieldString("FAXFILE", "FAX" + std::to_string(i) + ".QVF");
      rec.Post();
    }
    store.RebuildIndexes(nullptr);
    core::TIniFile(app::SettingsFileName(path)).WriteInteger("Modem", "ComPort", 0);
  }
  QString Path() const { return dir_.path() + QLatin1Char('/'); }

 private:
  QTemporaryDir dir_;
};

Sample& SampleOf(int n) {
  static std::map<int, std::unique_ptr<Sample>> samples;
  auto& s = samples[n];
  if (!s) s = std::make_unique<Sample>(n);
  return *s;
}

std::unique_ptr<app::TMainScreen> OpenWindow(const QString& dir) {
  app::Settings() = app::TSettings();
  auto w = std::make_unique<app::TMainScreen>(dir);
  w->resize(1000, 700);
  w->show();
  QElapsedTimer clock;
  clock.start();
  while (!w->FirstActivationDone() && w->TablesOpen() && clock.elapsed() < 30000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return w;
}

QTableView* Grid(app::TMainScreen& w, const char* name) {
  return w.findChild<QTableView*>(QString::fromLatin1(name));
}

// Paints the grid now, as the screen would.
void Paint(QTableView* grid) { grid->viewport()->repaint(); }

void BM_OpenMainWindow(benchmark::State& state) {
  const QString dir = SampleOf(static_cast<int>(state.range(0))).Path();
  for (auto _ : state) {
    auto w = OpenWindow(dir);
    Paint(Grid(*w, "FaxGrid"));
    if (!w->TablesOpen()) state.SkipWithError("tables did not open");
    state.PauseTiming();
    w.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OpenMainWindow)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ScrollScreenful(benchmark::State& state) {
  auto w = OpenWindow(SampleOf(static_cast<int>(state.range(0))).Path());
  QTableView* grid = Grid(*w, "FaxGrid");
  QScrollBar* bar = grid->verticalScrollBar();
  for (auto _ : state) {
    int next = bar->value() + bar->pageStep();
    if (next > bar->maximum()) next = 0;
    bar->setValue(next);
    Paint(grid);
  }
}
BENCHMARK(BM_ScrollScreenful)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_ScrollToEndAndBack(benchmark::State& state) {
  auto w = OpenWindow(SampleOf(static_cast<int>(state.range(0))).Path());
  QTableView* grid = Grid(*w, "FaxGrid");
  for (auto _ : state) {
    grid->scrollToBottom();
    Paint(grid);
    grid->scrollToTop();
    Paint(grid);
  }
}
BENCHMARK(BM_ScrollToEndAndBack)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_SwitchSortOrder(benchmark::State& state) {
  auto w = OpenWindow(SampleOf(static_cast<int>(state.range(0))).Path());
  app::TablePair& fax = w->Store().Pair(app::TableId::Fax);
  const int orders[] = {fax.TagArea("SUBJECT"), fax.TagArea("DATESENT")};
  QTableView* grid = Grid(*w, "FaxGrid");
  int i = 0;
  for (auto _ : state) {
    fax.SetOrder(orders[i++ % 2]);
    w->RefreshGrids();
    Paint(grid);
  }
}
BENCHMARK(BM_SwitchSortOrder)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_SwitchPage(benchmark::State& state) {
  auto w = OpenWindow(SampleOf(static_cast<int>(state.range(0))).Path());
  int i = 0;
  for (auto _ : state) {
    const int page = ++i % 2;
    w->SetCurrentPage(page);
    w->SetButtons();
    Paint(Grid(*w, page ? "RecFaxGrid" : "FaxGrid"));
  }
}
BENCHMARK(BM_SwitchPage)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// The Delete button on the outgoing page, answered Yes: the record, the refresh, the grids.
void BM_DeleteCurrentFax(benchmark::State& state) {
  Sample sample(static_cast<int>(state.range(0)));  // its own copy: the records go
  auto w = OpenWindow(sample.Path());
  QTableView* grid = Grid(*w, "FaxGrid");
  for (auto _ : state) {
    w->DeleteButtonClick();
    Paint(grid);
  }
}
BENCHMARK(BM_DeleteCurrentFax)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(200);

// Fax Log Cleanup, "Delete All Faxes" on the outgoing page: every record checked and deleted.
void BM_CleanupDeleteAll(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto sample = std::make_unique<Sample>(static_cast<int>(state.range(0)));
    auto store = std::make_unique<app::TFaxStore>(sample->Path().toStdString());
    store->OpenFaxDBF();
    store->OpenRecFaxDBF();
    store->SyncOrder(app::TableId::Fax);
    auto form = std::make_unique<app::TDMForm>(store->Pair(app::TableId::Fax), store->Pair(app::TableId::Rec),
                                               sample->Path(), nullptr);
    form->FormActivate();
    state.ResumeTiming();
    if (form->DeleteFor(app::kAllFaxesExpression) != state.range(0)) state.SkipWithError("not all deleted");
    state.PauseTiming();
    form.reset();
    store.reset();
    sample.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_CleanupDeleteAll)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  BenchDialogs dialogs;
  app::SetDialogs(&dialogs);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  app::SetDialogs(nullptr);
  return 0;
}
