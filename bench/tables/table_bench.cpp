// The table engine on 100,000 records in the outgoing-fax layout with its four tags. Every
// figure is also given as a ratio to one plain sequential read of the same table, measured in
// the same run, so machines of different speed can be compared.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tables/xb_engine.h"
#include "tables/xbase_date.h"

using namespace qv::tables;

namespace {

constexpr int kRecords = 100000;

std::string Dir() {
  static std::string dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qvbench-XXXXXX").string();
    return std::string(mkdtemp(tmpl.data()));
  }();
  return dir;
}

std::string Path(const std::string& name) { return Dir() + "/" + name; }

bool CreateFaxTable(const std::string& path) {
  xb_CreateNew(path, "XXXXXXXXXX", xbdFOX, 10);
  bool ok = xb_CreateField("SUBJECT", 'C', 50, 0) && xb_CreateField("SENT", 'L', 1, 0) &&
            xb_CreateField("DATESENT", 'D', 8, 0) && xb_CreateField("TIMESENT", 'C', 5, 0) &&
            xb_CreateField("RECIPIENT", 'C', 35, 0) && xb_CreateField("PHONE", 'C', 25, 0) &&
            xb_CreateField("PAGES", 'N', 2, 0) && xb_CreateField("LASTRESULT", 'C', 100, 0) &&
            xb_CreateField("RTFCOVER", 'M', 10, 0) && xb_CreateField("RTFDOC", 'M', 10, 0);
  return xb_CreateExec() && ok;
}

// The tags the fax store has after "Rebuild Indexes".
void MakeTags() {
  xb_IndexTag("", "DATESENT", "datesent", 0, true, ".not. deleted()");
  xb_IndexTag("", "DATEND", "DTOS(DATESENT)+TIMESENT", 0, false, ".not. deleted()");
  xb_IndexTag("", "SUBJECT", "UPPER(SUBJECT)", 0, false, ".not. deleted()");
  xb_IndexTag("", "RECIPIENT", "UPPER(RECIPIENT)", 0, false, ".not. deleted()");
}

// A plausible record: varied subjects and recipients (one in fifty is a Smith), dates over
// six years.
void FillRecord(std::vector<uint8_t>& rec, int i) {
  std::fill(rec.begin(), rec.end(), ' ');
  char buf[128];
  auto put = [&](size_t off, const char* text, size_t width) {
    size_t n = std::min(width, std::strlen(text));
    std::copy(text, text + n, rec.begin() + static_cast<std::ptrdiff_t>(off));
  };
  std::snprintf(buf, sizeof buf, "Quarterly figures %d for branch %d", (i * 7919) % 100003, i % 97);
  put(1, buf, 50);
  put(51, i % 3 ? "T" : "F", 1);
  put(52, DtosFromJdn(JdnFromYmd(2020, 1, 1) + (i * 37) % 2190).c_str(), 8);
  std::snprintf(buf, sizeof buf, "%02d:%02d", (i / 60) % 24, i % 60);
  put(60, buf, 5);
  std::snprintf(buf, sizeof buf, i % 50 == 0 ? "  smith " : "Recipient %d", (i * 104729) % 99991);
  put(65, buf, 35);
  std::snprintf(buf, sizeof buf, "+1 555 %07d", i);
  put(100, buf, 25);
  std::snprintf(buf, sizeof buf, "%2d", i % 99);
  put(125, buf, 2);
  put(127, "Sent OK", 100);
}

void BuildTable(const std::string& name, bool tagsFirst) {
  std::filesystem::remove(Path(name) + ".CDX");
  CreateFaxTable(Path(name) + ".DBF");
  xb_Use(Path(name) + ".DBF", "", xbmExclusive, xbdFOX);
  if (tagsFirst) MakeTags();
  std::vector<uint8_t> rec(static_cast<size_t>(xb_RecSize()));
  for (int i = 0; i < kRecords; ++i) {
    FillRecord(rec, i);
    xb_AppendRecord(rec.data());
  }
  if (!tagsFirst) MakeTags();
  xb_CloseAll();
}

const std::string& Table() {
  static std::string t = [] {
    BuildTable("FAX", false);
    return Path("FAX.DBF");
  }();
  return t;
}

void CheckOk(benchmark::State& state, bool ok, const char* what) {
  if (!ok) state.SkipWithError((std::string(what) + ": " + xb_LastErrorText()).c_str());
}

// Reference: every record read once in physical order.
void BM_SequentialRead(benchmark::State& state) {
  const std::string& t = Table();
  xb_Use(t, "", xbmExclusive, xbdFOX);
  std::vector<uint8_t> rec(static_cast<size_t>(xb_RecSize()));
  for (auto _ : state) {
    long n = 0;
    for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) {
      xb_GetRecord(rec.data());
      ++n;
    }
    CheckOk(state, n == kRecords, "sequential read");
    benchmark::DoNotOptimize(rec.data());
  }
  xb_CloseAll();
  state.counters["records/s"] = benchmark::Counter(static_cast<double>(kRecords), benchmark::Counter::kIsIterationInvariantRate);
}

// Appending 100,000 records to a table whose four tags are kept up to date, index file saved.
void BM_AppendWithTags(benchmark::State& state) {
  std::vector<uint8_t> rec;
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(Path("APP.CDX"));
    CreateFaxTable(Path("APP.DBF"));
    xb_Use(Path("APP.DBF"), "", xbmExclusive, xbdFOX);
    MakeTags();
    rec.assign(static_cast<size_t>(xb_RecSize()), ' ');
    state.ResumeTiming();
    bool ok = true;
    for (int i = 0; i < kRecords; ++i) {
      FillRecord(rec, i);
      ok = xb_AppendRecord(rec.data()) && ok;
    }
    ok = xb_Commit() && ok;
    state.PauseTiming();
    CheckOk(state, ok && xb_RecCount() == static_cast<uint32_t>(kRecords), "append");
    xb_CloseAll();
    state.ResumeTiming();
  }
  state.counters["records/s"] = benchmark::Counter(static_cast<double>(kRecords), benchmark::Counter::kIsIterationInvariantRate);
}

// Rebuilding all four tags from the table and writing the index file.
void BM_Reindex(benchmark::State& state) {
  xb_Use(Table(), "", xbmExclusive, xbdFOX);
  for (auto _ : state) CheckOk(state, xb_Reindex(), "reindex");
  xb_CloseAll();
}

// A full scan under the query a user's search would set.
void BM_FilteredScan(benchmark::State& state) {
  xb_Use(Table(), "", xbmExclusive, xbdFOX);
  xb_Query("ALLTRIM(UPPER(RECIPIENT))==\"SMITH\"");
  for (auto _ : state) {
    long n = 0;
    for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) ++n;
    CheckOk(state, n == kRecords / 50, "filtered scan");
  }
  xb_Query("");
  xb_CloseAll();
}

// Packing away one record in ten (a fresh copy of the table each time).
void BM_Pack(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    for (const char* ext : {".DBF", ".FPT", ".CDX"})
      std::filesystem::copy_file(Path("FAX") + ext, Path("PCK") + ext, std::filesystem::copy_options::overwrite_existing);
    xb_Use(Path("PCK.DBF"), "", xbmExclusive, xbdFOX);
    for (int r = 1; r <= kRecords; r += 10) {
      xb_Go(r);
      xb_Delete();
    }
    xb_Commit();
    state.ResumeTiming();
    bool ok = xb_Pack();
    state.PauseTiming();
    CheckOk(state, ok && xb_RecCount() == static_cast<uint32_t>(kRecords - kRecords / 10), "pack");
    xb_CloseAll();
    state.ResumeTiming();
  }
}

BENCHMARK(BM_SequentialRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendWithTags)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Reindex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilteredScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pack)->Unit(benchmark::kMillisecond)->Iterations(3);

// Prints the usual table, then each figure as a multiple of the sequential read.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (!r.error_occurred) times_[r.benchmark_name()] = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    auto ref = times_.find("BM_SequentialRead");
    if (ref == times_.end() || ref->second.first <= 0 || ref->second.second <= 0) return;
    std::printf("\nRatio to one sequential read of %d records (%.2f ms wall, %.2f ms CPU):\n", kRecords,
                ref->second.first, ref->second.second);
    std::printf("  %-40s %10s %10s\n", "", "wall", "CPU");
    for (const auto& [name, t] : times_)
      std::printf("  %-40s %9.2fx %9.2fx\n", name.c_str(), t.first / ref->second.first, t.second / ref->second.second);
  }

 private:
  std::map<std::string, std::pair<double, double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Table();  // build the shared table before any timing
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(Dir(), ec);
  return 0;
}
