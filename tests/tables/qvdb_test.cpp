// The qvdb tool run as a user runs it: output, exit status and error messages.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "tables/xb_engine.h"
#include "temp_dir.h"

using namespace qv::tables;

namespace {

struct ToolRun {
  int status;
  std::string out;
};

ToolRun Qvdb(const std::string& args) {
  std::string cmd = std::string(QV_BIN_DIR) + "/qvdb " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

class QvdbTool : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateFaxTable(dir_ / "QRV.DBF"));
    ASSERT_NE(xb_Use(dir_ / "QRV.DBF", "", xbmExclusive, xbdFOX), 0);
    const char* names[] = {"Smith", "adams", "Jones\tTab"};
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(xb_AppendBlank());
      ASSERT_TRUE(xb_Replace("RECIPIENT", rkString, names[i]));
      ASSERT_TRUE(xb_Replace("PAGES", rkDouble, std::to_string(i + 1)));
      ASSERT_TRUE(xb_Replace("RTFDOC", rkString, "memo\nline " + std::to_string(i + 1)));
    }
    ASSERT_EQ(xb_IndexTag("", "RECIPIENT", "UPPER(RECIPIENT)", 0, false, ".not. deleted()"), 1);
    xb_Go(2);
    ASSERT_TRUE(xb_Delete());
    xb_CloseAll();
    table_ = "'" + (dir_ / "QRV.DBF") + "'";
  }

  TempDir dir_;
  std::string table_;
};

}  // namespace

TEST_F(QvdbTool, InfoListsFieldsCountAndTags) {
  ToolRun r = Qvdb("info " + table_);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("records 3"), std::string::npos);
  EXPECT_NE(r.out.find("RECIPIENT  C  35 0"), std::string::npos);
  EXPECT_NE(r.out.find("PAGES      N   2 0"), std::string::npos);
  EXPECT_NE(r.out.find("RECIPIENT  key \"UPPER(RECIPIENT)\" for \".not. deleted()\" ascending"), std::string::npos)
      << r.out;
}

TEST_F(QvdbTool, DumpFollowsTheTagAndHidesDeletedRecords) {
  ToolRun r = Qvdb("dump " + table_ + " --tag RECIPIENT");
  ASSERT_EQ(r.status, 0) << r.out;
  // Jones sorts before Smith; adams is deleted; the tab and the line end are escaped.
  EXPECT_EQ(r.out, "\t\t\t\tJones\\tTab\t\t3\t\t\tmemo\\nline 3\n\t\t\t\tSmith\t\t1\t\t\tmemo\\nline 1\n");
  r = Qvdb("dump " + table_ + " --deleted");
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("adams"), std::string::npos);
  r = Qvdb("dump " + table_ + " --tag NOSUCH");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("NOSUCH"), std::string::npos);
}

TEST_F(QvdbTool, CheckFindsAStaleOrDamagedIndex) {
  ToolRun r = Qvdb("check " + table_);
  EXPECT_EQ(r.status, 0) << r.out;
  // Change the table behind the index's back: the key of record 1 no longer matches.
  std::string dbf = ReadFileBytes(dir_ / "QRV.DBF");
  size_t pos = dbf.find("Smith");
  ASSERT_NE(pos, std::string::npos);
  dbf.replace(pos, 5, "Zebra");
  WriteFileBytes(dir_ / "QRV.DBF", dbf);
  r = Qvdb("check " + table_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("tag RECIPIENT"), std::string::npos) << r.out;
  // Reindex repairs it.
  ASSERT_EQ(Qvdb("reindex " + table_).status, 0);
  EXPECT_EQ(Qvdb("check " + table_).status, 0);
  // A memo pointer past the end of the memo file.
  pos = dbf.find("         8");
  ASSERT_NE(pos, std::string::npos);
  dbf.replace(pos, 10, "     99999");
  WriteFileBytes(dir_ / "QRV.DBF", dbf);
  r = Qvdb("check " + table_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("RTFDOC"), std::string::npos) << r.out;
}

TEST_F(QvdbTool, IndexPackAndEval) {
  ToolRun r = Qvdb("index " + table_ + " PAGES 'PAGES' --descending");
  ASSERT_EQ(r.status, 0) << r.out;
  r = Qvdb("dump " + table_ + " --tag PAGES --deleted");
  EXPECT_EQ(r.out.substr(0, 9), "\t\t\t\tJones");
  EXPECT_EQ(Qvdb("check " + table_).status, 0);
  r = Qvdb("eval " + table_ + " 'PAGES >= 2'");
  EXPECT_EQ(r.out, "2\n3\n");
  r = Qvdb("eval " + table_ + " 'PAGES >= '");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("Error in expression"), std::string::npos);
  r = Qvdb("eval " + table_ + " 'PAGES'");
  EXPECT_EQ(r.status, 2);
  r = Qvdb("pack " + table_);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("2 records, 1 removed"), std::string::npos);
  EXPECT_EQ(Qvdb("check " + table_).status, 0);
  r = Qvdb("eval " + table_ + " '.T.'");
  EXPECT_EQ(r.out, "1\n2\n");
  r = Qvdb("index " + table_ + " BAD 'NOFIELD'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("NOFIELD"), std::string::npos);
}

TEST_F(QvdbTool, ErrorsGoToStderrWithAStatus) {
  EXPECT_EQ(Qvdb("").status, 2);
  EXPECT_EQ(Qvdb("frobnicate " + table_).status, 2);
  ToolRun r = Qvdb("info '" + (dir_ / "MISSING.DBF") + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("MISSING.DBF"), std::string::npos);
  // A table held by another program.
  ASSERT_NE(xb_Use(dir_ / "QRV.DBF", "", xbmExclusive, xbdFOX), 0);
  r = Qvdb("pack " + table_);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("in use"), std::string::npos) << r.out;
}
