#include "faximage/buffered_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <random>

#include "test_util.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

namespace {

// Caps the size of files this process may write, so writes fail as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit lim = old_;
    lim.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }

 private:
  rlimit old_{};
};

}  // namespace

TEST(BufferedWriter, MixedWriteSizesAndRewritesLandInOrder) {
  TempDir dir;
  std::mt19937 rng(7);
  std::vector<uint8_t> expect;
  BufferedWriter w;
  ASSERT_EQ(w.Create(dir.file("out.bin")), 0);
  // Sizes around and across the 4096-byte buffer, including writes of several whole buffers.
  for (size_t size : {1u, 4095u, 2u, 4096u, 9000u, 0u, 12288u, 17u, 4079u, 8192u, 3u}) {
    std::vector<uint8_t> chunk(size);
    for (auto& b : chunk) b = static_cast<uint8_t>(rng());
    ASSERT_EQ(w.Write(chunk.data(), chunk.size()), 0);
    expect.insert(expect.end(), chunk.begin(), chunk.end());
    ASSERT_EQ(w.Position(), static_cast<int64_t>(expect.size()));
  }
  // Rewrite bytes still in the buffer and bytes long on disk; the position stays at the end.
  const uint8_t patch[4] = {1, 2, 3, 4};
  ASSERT_EQ(w.WriteAt(10, patch, 4), 0);
  std::copy(patch, patch + 4, expect.begin() + 10);
  ASSERT_EQ(w.WriteAt(static_cast<int64_t>(expect.size()) - 2, patch, 2), 0);
  std::copy(patch, patch + 2, expect.end() - 2);
  EXPECT_EQ(w.Position(), static_cast<int64_t>(expect.size()));
  ASSERT_EQ(w.Write("xy", 2), 0);
  expect.push_back('x');
  expect.push_back('y');
  // Rewriting beyond what was written is refused.
  EXPECT_EQ(w.WriteAt(static_cast<int64_t>(expect.size()) - 1, patch, 4), -1002);
  ASSERT_EQ(w.Close(), 0);
  EXPECT_EQ(ReadAll(dir.file("out.bin")), expect);
}

TEST(BufferedWriter, CreateFailuresGiveFileSystemCodes) {
  TempDir dir;
  BufferedWriter w;
  EXPECT_EQ(w.Create(dir.file("no/such/dir/out.qvf")), -3);
  EXPECT_EQ(w.Create(dir.path().string()), -5);  // a directory
  EXPECT_EQ(w.Write("a", 1), -5);                // the error sticks
}

TEST(BufferedWriter, DiskFullDeletesTheFile) {
  TempDir dir;
  std::string name = dir.file("full.bin");
  {
    FileSizeLimit limit(10000);
    BufferedWriter w;
    ASSERT_EQ(w.Create(name), 0);
    std::vector<uint8_t> block(4096, 0x55);
    int rc = 0;
    for (int i = 0; i < 5 && rc == 0; ++i) rc = w.Write(block.data(), block.size());
    EXPECT_EQ(rc, -101);
    EXPECT_FALSE(w.IsOpen());
    EXPECT_EQ(w.Write(block.data(), 1), -101);
  }
  EXPECT_FALSE(std::filesystem::exists(name));
}

TEST(BufferedWriter, FailureAtCloseDeletesTheFile) {
  TempDir dir;
  std::string name = dir.file("close.bin");
  FileSizeLimit limit(100);
  BufferedWriter w;
  ASSERT_EQ(w.Create(name), 0);
  std::vector<uint8_t> small(200, 1);
  ASSERT_EQ(w.Write(small.data(), small.size()), 0);  // still buffered
  EXPECT_EQ(w.Close(), -101);
  EXPECT_FALSE(std::filesystem::exists(name));
}

TEST(BufferedWriter, UnclosedWriterLeavesNoFile) {
  TempDir dir;
  std::string name = dir.file("dropped.bin");
  {
    BufferedWriter w;
    ASSERT_EQ(w.Create(name), 0);
    ASSERT_EQ(w.Write("abc", 3), 0);
  }
  EXPECT_FALSE(std::filesystem::exists(name));
}

TEST(BufferedWriter, KeepFileSurvivesAFailureAndCanBeCutBack) {
  TempDir dir;
  std::string name = dir.file("kept.bin");
  std::vector<uint8_t> block(4096);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 13);
  {
    FileSizeLimit limit(10000);
    BufferedWriter w;
    ASSERT_EQ(w.Create(name, BufferedWriter::OnFailure::KeepFile), 0);
    ASSERT_EQ(w.Write(block.data(), block.size()), 0);
    ASSERT_EQ(w.Flush(), 0);
    int rc = 0;
    for (int i = 0; i < 5 && rc == 0; ++i) rc = w.Write(block.data(), block.size());
    EXPECT_EQ(rc, -101);
    EXPECT_TRUE(w.IsOpen());  // kept open for the owner to put right
    EXPECT_EQ(w.Write("x", 1), -101);
    EXPECT_EQ(w.Truncate(w.Position() + 1), -1002);
    ASSERT_EQ(w.Truncate(4096), 0);  // back to what is known to be whole
    EXPECT_EQ(w.Close(), -101);      // closing still tells of the failure
  }
  EXPECT_EQ(ReadAll(name), block);
  // Destroying an unclosed KeepFile writer leaves what reached the file.
  {
    BufferedWriter w;
    ASSERT_EQ(w.Create(name, BufferedWriter::OnFailure::KeepFile), 0);
    ASSERT_EQ(w.Write(block.data(), 100), 0);
    ASSERT_EQ(w.Flush(), 0);
    ASSERT_EQ(w.Truncate(60), 0);
  }
  EXPECT_EQ(ReadAll(name), std::vector<uint8_t>(block.begin(), block.begin() + 60));
}
