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

#ifdef QV_HAVE_SQLITE
#include <memory>
#include <sqlite3.h>
#endif

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

// Seeking: 10,000 look-ups of existing recipients through the RECIPIENT tag, each landing on
// (and reading) its record.
constexpr int kSeeks = 10000;

std::string RecipientKey(int i) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "RECIPIENT %d", (i * 104729) % 99991);
  return buf;
}

void BM_SeekRecipient(benchmark::State& state) {
  xb_Use(Table(), "", xbmExclusive, xbdFOX);
  xb_SetOrder(xb_TagArea("RECIPIENT"));
  std::vector<uint8_t> rec(static_cast<size_t>(xb_RecSize()));
  for (auto _ : state) {
    int found = 0;
    for (int k = 0; k < kSeeks; ++k) {
      const int i = 1 + (k * 7) % (kRecords - 1);
      if (i % 50 == 0) continue;  // the Smiths have no such key
      found += xb_Seek(RecipientKey(i)) ? 1 : 0;
      xb_GetRecord(rec.data());
    }
    CheckOk(state, found > kSeeks * 9 / 10, "seek");
  }
  xb_CloseAll();
}

#ifdef QV_HAVE_SQLITE
// The same work in SQLite, the store a user might pick instead: a table of the same columns
// and the same 100,000 rows, with the four indexes on the same keys.
struct Sqlite {
  sqlite3* db = nullptr;
  explicit Sqlite(const std::string& path) {
    std::filesystem::remove(path);
    sqlite3_open(path.c_str(), &db);
    Exec("CREATE TABLE fax(subject TEXT, sent INTEGER, datesent TEXT, timesent TEXT, recipient TEXT,"
         " phone TEXT, pages INTEGER, lastresult TEXT, rtfcover BLOB, rtfdoc BLOB)");
  }
  ~Sqlite() { sqlite3_close(db); }
  bool Exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
  bool MakeIndexes() {
    return Exec("CREATE INDEX datesent ON fax(datesent DESC)") &&
           Exec("CREATE INDEX datend ON fax(datesent || timesent)") &&
           Exec("CREATE INDEX subject ON fax(upper(subject))") &&
           Exec("CREATE INDEX recipient ON fax(upper(recipient))");
  }
  void DropIndexes() {
    for (const char* sql : {"DROP INDEX IF EXISTS datesent", "DROP INDEX IF EXISTS datend",
                            "DROP INDEX IF EXISTS subject", "DROP INDEX IF EXISTS recipient"})
      Exec(sql);
  }
  // The rows of FillRecord, in one transaction.
  bool Insert() {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO fax VALUES(?,?,?,?,?,?,?,?,NULL,NULL)", -1, &st, nullptr);
    std::vector<uint8_t> rec(228);
    bool ok = Exec("BEGIN");
    auto text = [&](int col, size_t off, size_t width) {
      size_t end = off + width;
      while (end > off && rec[end - 1] == ' ') --end;
      sqlite3_bind_text(st, col, reinterpret_cast<const char*>(rec.data() + off), static_cast<int>(end - off),
                        SQLITE_TRANSIENT);
    };
    for (int i = 0; i < kRecords && ok; ++i) {
      FillRecord(rec, i);
      text(1, 1, 50);
      sqlite3_bind_int(st, 2, rec[51] == 'T');
      text(3, 52, 8);
      text(4, 60, 5);
      text(5, 65, 35);
      text(6, 100, 25);
      sqlite3_bind_int(st, 7, i % 99);
      text(8, 127, 100);
      ok = sqlite3_step(st) == SQLITE_DONE;
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    return Exec("COMMIT") && ok;
  }
};

Sqlite& SqliteTable() {
  static Sqlite* s = [] {
    auto* t = new Sqlite(Path("fax.sqlite"));
    t->Insert();
    t->MakeIndexes();
    return t;
  }();
  return *s;
}

void BM_SqliteInsertWithIndexes(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto t = std::make_unique<Sqlite>(Path("app.sqlite"));
    t->MakeIndexes();
    state.ResumeTiming();
    CheckOk(state, t->Insert(), "sqlite insert");
  }
  state.counters["records/s"] = benchmark::Counter(static_cast<double>(kRecords), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_SqliteCreateIndexes(benchmark::State& state) {
  Sqlite& t = SqliteTable();
  for (auto _ : state) {
    state.PauseTiming();
    t.DropIndexes();
    state.ResumeTiming();
    CheckOk(state, t.MakeIndexes(), "sqlite create index");
  }
}

void BM_SqliteSeekRecipient(benchmark::State& state) {
  Sqlite& t = SqliteTable();
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(t.db, "SELECT * FROM fax WHERE upper(recipient) = ? LIMIT 1", -1, &st, nullptr);
  for (auto _ : state) {
    int found = 0;
    for (int k = 0; k < kSeeks; ++k) {
      const int i = 1 + (k * 7) % (kRecords - 1);
      if (i % 50 == 0) continue;
      const std::string key = RecipientKey(i);
      sqlite3_bind_text(st, 1, key.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(st) == SQLITE_ROW) {
        ++found;
        benchmark::DoNotOptimize(sqlite3_column_text(st, 0));
      }
      sqlite3_reset(st);
    }
    CheckOk(state, found > kSeeks * 9 / 10, "sqlite seek");
  }
  sqlite3_finalize(st);
}
BENCHMARK(BM_SqliteInsertWithIndexes)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SqliteCreateIndexes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteSeekRecipient)->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(BM_SeekRecipient)->Unit(benchmark::kMillisecond);

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
