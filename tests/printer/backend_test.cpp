// The backend program run as CUPS runs it: the device it lists, a job of two files on standard
// input, and the exit codes CUPS acts upon.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "../faximage/temp_dir.h"
#include "printer/print_job.h"

namespace fs = std::filesystem;
using qv::faximage::testing::TempDir;
using namespace qv::printer;

extern char** environ;

namespace {

const std::string kBackend = std::string(QV_BIN_DIR) + "/quorvane-backend";
constexpr int kCupsBackendOk = 0;
constexpr int kCupsBackendFailed = 1;
constexpr int kCupsBackendRetry = 6;

// Runs the backend with stdin from inFile and its output into outFile; its exit code.
int RunBackend(const std::vector<std::string>& args, const std::string& uri, const std::string& inFile,
               const std::string& outFile) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, inFile.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  std::vector<std::string> all{kBackend};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env{"DEVICE_URI=" + uri, "PATH=/usr/bin:/bin"};
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, kBackend.c_str(), &fa, nullptr, argv.data(), uri.empty() ? environ : envp.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}


}  // namespace

TEST(Backend, WithoutArgumentsListsItsDeviceForCups) {
  TempDir dir;
  EXPECT_EQ(RunBackend({}, "", "/dev/null", dir.file("out")), kCupsBackendOk);
  EXPECT_EQ(Slurp(dir.file("out")), "direct quorvane \"Quorvane\" \"Quorvane fax printer\"\n");
}

TEST(Backend, TwoFilesOnStandardInputMakeOneJobWithItsOptions) {
  if (geteuid() != 0) GTEST_SKIP() << "runs as root like under CUPS";
  TempDir dir;
  const std::string a = "%PDF-1.4\nfirst\n%%EOF\n", b = "%PDF-1.4\nsecond\n%%EOF\n";
  std::ofstream(dir.file("in"), std::ios::binary) << a << b;
  const std::string root = dir.file("spool");
  ASSERT_EQ(RunBackend({"17", "root", "Invoice 5", "1", "phone=5550100 recipient='Acme Ltd' job-uuid=x"},
                       "quorvane:" + root, dir.file("in"), dir.file("out")),
            kCupsBackendOk)
      << Slurp(dir.file("out"));
  auto jobs = ListJobFolders(root + "/root");
  ASSERT_EQ(jobs.size(), 1u);
  TPrintJob job;
  std::string error;
  ASSERT_TRUE(ReadPrintJob(jobs[0], job, &error)) << error;
  EXPECT_EQ(job.jobId, "17");
  EXPECT_EQ(job.title, "Invoice 5");
  EXPECT_EQ(job.Phone(), "5550100");
  EXPECT_EQ(job.Recipient(), "Acme Ltd");
  ASSERT_EQ(job.documents.size(), 2u);
  EXPECT_EQ(Slurp(job.documents[0]), a);
  EXPECT_EQ(Slurp(job.documents[1]), b);
}

TEST(Backend, AnUnwritableSpoolAsksCupsToRetryAndAnEmptyJobFails) {
  if (geteuid() != 0) GTEST_SKIP() << "runs as root like under CUPS";
  TempDir dir;
  std::ofstream(dir.file("in"), std::ios::binary) << "%PDF-1.4\n%%EOF\n";
  std::ofstream(dir.file("notadir")) << "x";
  EXPECT_EQ(RunBackend({"1", "root", "t", "1", ""}, "quorvane:" + dir.file("notadir") + "/spool",
                       dir.file("in"), dir.file("out")),
            kCupsBackendRetry);
  EXPECT_NE(Slurp(dir.file("out")).find("stays queued"), std::string::npos);
  EXPECT_EQ(RunBackend({"1", "root", "t", "1", ""}, "quorvane:" + dir.file("spool"), "/dev/null",
                       dir.file("out")),
            kCupsBackendFailed);
  EXPECT_FALSE(fs::exists(dir.file("spool")));
}
