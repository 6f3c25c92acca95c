// Joining the page files of a rendered fax: AppendFaxFile of four 40 KB pages onto the first,
// against copying the same bytes with the standard library in the same run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "faximage/qvf_append.h"
#include "faximage/qvf_writer.h"

using namespace qv::faximage;

namespace {

constexpr int kPages = 5;
constexpr size_t kPageBytes = 40 * 1024;  // about what a rendered text page codes to

struct Files {
  std::string dir;
  std::vector<std::string> pages;
  Files() {
    char tmpl[] = "/tmp/qvbenchappXXXXXX";
    dir = mkdtemp(tmpl);
    std::vector<uint8_t> data(kPageBytes);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 31);
    for (int p = 0; p < kPages; ++p) {
      pages.push_back(dir + "/page" + std::to_string(p) + ".qvf");
      QvfWriter w;
      w.Create(pages.back());
      w.WriteRaw(data);
      w.EndRawPage();
      w.Close("BENCH");
    }
  }
  ~Files() { std::filesystem::remove_all(dir); }
};

Files& Shared() {
  static Files f;
  return f;
}

void BM_AppendFaxFile(benchmark::State& state) {
  Files& f = Shared();
  const std::string target = f.dir + "/joined.qvf";
  for (auto _ : state) {
    std::filesystem::copy_file(f.pages[0], target, std::filesystem::copy_options::overwrite_existing);
    for (int p = 1; p < kPages; ++p) benchmark::DoNotOptimize(AppendFaxFile(target, f.pages[p]));
  }
  state.SetItemsProcessed(state.iterations() * kPages);
}
BENCHMARK(BM_AppendFaxFile)->Unit(benchmark::kMicrosecond);

// The same first-page copy and then four plain file copies of the page files.
void BM_Reference_CopyFiles(benchmark::State& state) {
  Files& f = Shared();
  const std::string target = f.dir + "/joined.qvf";
  const std::string other = f.dir + "/copy.qvf";
  for (auto _ : state) {
    std::filesystem::copy_file(f.pages[0], target, std::filesystem::copy_options::overwrite_existing);
    for (int p = 1; p < kPages; ++p)
      std::filesystem::copy_file(f.pages[p], other, std::filesystem::copy_options::overwrite_existing);
  }
  state.SetItemsProcessed(state.iterations() * kPages);
}
BENCHMARK(BM_Reference_CopyFiles)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
