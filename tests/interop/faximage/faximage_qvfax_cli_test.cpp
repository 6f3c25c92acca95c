// qvfax convert and qvfax info as a user runs them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

struct Result {
  int status;
  std::string out;  // stdout and stderr together
};

Result qvfax(const std::string& args) {
  std::string cmd = std::string(QV_BIN_DIR) + "/qvfax " + args + " 2>&1";
  Result r{-1, ""};
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf{};
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

class Dir {
 public:
  Dir() {
    std::string t = (fs::temp_directory_path() / "qvfaxcliXXXXXX").string();
    path_ = mkdtemp(t.data());
  }
  ~Dir() { fs::remove_all(path_); }
  std::string file(const std::string& n) const { return (path_ / n).string(); }

 private:
  fs::path path_;
};

}  // namespace

TEST(QvfaxCli, ConvertTextAndShowInfo) {
  Dir d;
  std::ofstream(d.file("memo.txt"), std::ios::binary) << "one\r\ntwo\r\nthree\r\n";
  Result r = qvfax("convert " + d.file("memo.txt") + " --lines 2 --top 3 --fine --station 'QV 1'");
  ASSERT_EQ(r.status, 0) << r.out;
  ASSERT_TRUE(fs::exists(d.file("memo.QVF")));
  r = qvfax("info " + d.file("memo.QVF"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("station id:        \"QV 1\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("pages:             2"), std::string::npos) << r.out;
  // Page 1: three top rows, two lines of 32 fine rows, the end of page.
  EXPECT_NE(r.out.find("page 1: flags 5 (fine, 1728 wide, row records)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(", 68 row records"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("page 2: flags 5"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(", 36 row records"), std::string::npos) << r.out;
}

TEST(QvfaxCli, TypesOutputNamesAndWidth) {
  Dir d;
  std::ofstream(d.file("data.bin"), std::ios::binary) << "x";
  Result r = qvfax("convert " + d.file("data.bin") + " --type text --wide --margin 0 -o " + d.file("out"));
  ASSERT_EQ(r.status, 0) << r.out;
  r = qvfax("info " + d.file("out.QVF"));
  EXPECT_NE(r.out.find("flags 6 (standard, 2048 wide, row records)"), std::string::npos) << r.out;
  r = qvfax("convert " + d.file("data.bin"));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("cannot tell the type"), std::string::npos) << r.out;
  std::ofstream(d.file("font.txt"), std::ios::binary) << "Screen font";
  r = qvfax("convert " + d.file("font.txt") + " --font 'DejaVu Serif-14:italic'");
  EXPECT_EQ(r.status, 0) << r.out;
}

TEST(QvfaxCli, ErrorsGoToStderrWithNonZeroExit) {
  Dir d;
  Result r = qvfax("convert " + d.file("missing.tif"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("(-2)"), std::string::npos) << r.out;
  std::ofstream(d.file("bad.pcx"), std::ios::binary) << "not a picture";
  r = qvfax("convert " + d.file("bad.pcx"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Unsupported graphics file format"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(d.file("bad.QVF")));
  r = qvfax("convert " + d.file("bad.pcx") + " --margin lots");
  EXPECT_EQ(r.status, 2);
  r = qvfax("convert " + d.file("bad.pcx") + " --type gif");
  EXPECT_EQ(r.status, 2);
  r = qvfax("info " + d.file("bad.pcx"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("(-8001)"), std::string::npos) << r.out;
  r = qvfax("info");
  EXPECT_EQ(r.status, 2);
}
