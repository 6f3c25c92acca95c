#include "core/file_util.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace qv::core;
namespace fs = std::filesystem;

TEST(FileUtil, TempFileNamesAreUniqueAndCarryThePrefix) {
  std::string a = TempFileName("~QV"), b = TempFileName("~QV");
  ASSERT_FALSE(a.empty());
  EXPECT_NE(a, b);
  EXPECT_EQ(fs::path(a).filename().string().rfind("~QV", 0), 0u);
  EXPECT_TRUE(fs::exists(a));
  fs::remove(a);
  fs::remove(b);
}

TEST(FileUtil, AtomicWriteReplacesWholeFileAndKeepsMode) {
  fs::path dir = fs::temp_directory_path() / ("qv_fu_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::string path = (dir / "data.bin").string();
  std::ofstream(path) << "old contents that are longer";
  chmod(path.c_str(), 0640);
  std::string bytes("new\0bytes", 9);
  ASSERT_TRUE(AtomicWriteFile(path, bytes));
  std::string back;
  ASSERT_TRUE(ReadWholeFile(path, back));
  EXPECT_EQ(back, bytes);
  struct stat st {};
  stat(path.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // No temporary files are left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  // A failed write (no such directory) reports false and leaves nothing behind.
  EXPECT_FALSE(AtomicWriteFile((dir / "missing" / "x").string(), "abc"));
  EXPECT_FALSE(ReadWholeFile((dir / "missing" / "x").string(), back));
  fs::remove_all(dir);
}

TEST(FileUtil, AtomicWritesAreCountedOnlyWhenPutInPlaceAndLeftoversGo) {
  fs::path dir = fs::temp_directory_path() / ("qv_fu2_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::string path = (dir / "T.CDX").string();
  const unsigned long before = AtomicWritesDone();
  ASSERT_TRUE(AtomicWriteFile(path, "one"));
  ASSERT_TRUE(AtomicWriteFile(path, "two"));
  EXPECT_FALSE(AtomicWriteFile((dir / "missing" / "x").string(), "abc"));
  EXPECT_EQ(AtomicWritesDone(), before + 2);
  // Leftovers of a killed write of this file go; other files, even with similar names, stay.
  std::ofstream(path + ".~qvAbC123") << "half";
  std::ofstream(path + ".~qv") << "keep";
  std::ofstream((dir / "OTHER.CDX.~qvAbC123").string()) << "keep";
  RemoveAtomicWriteLeftovers(path);
  EXPECT_FALSE(fs::exists(path + ".~qvAbC123"));
  EXPECT_TRUE(fs::exists(path + ".~qv"));
  EXPECT_TRUE(fs::exists(dir / "OTHER.CDX.~qvAbC123"));
  std::string back;
  ASSERT_TRUE(ReadWholeFile(path, back));
  EXPECT_EQ(back, "two");
  fs::remove_all(dir);
}
