// A disk that fills up under the tables: appends, memo edits and packs fail with a clear
// error, and the files keep everything that was posted before — the table opens and checks
// clean once space is free again.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "../small_fs.h"
#include "tables/table_check.h"
#include "tables/xb_engine.h"
#include "temp_dir.h"

using namespace qv::tables;
namespace fs = std::filesystem;

namespace {

constexpr size_t kDiskSize = 512 * 1024;

// The outgoing fax table as the program makes it: its fields and its four tags.
void MakeFaxTable(const std::string& path) {
  ASSERT_TRUE(xb_CreateNew(path, "FAX", xbdFOX, 10));
  ASSERT_TRUE(xb_CreateField("SUBJECT", 'C', 50, 0));
  ASSERT_TRUE(xb_CreateField("SENT", 'L', 1, 0));
  ASSERT_TRUE(xb_CreateField("DATESENT", 'D', 8, 0));
  ASSERT_TRUE(xb_CreateField("TIMESENT", 'C', 5, 0));
  ASSERT_TRUE(xb_CreateField("RECIPIENT", 'C', 35, 0));
  ASSERT_TRUE(xb_CreateField("PHONE", 'C', 25, 0));
  ASSERT_TRUE(xb_CreateField("PAGES", 'N', 2, 0));
  ASSERT_TRUE(xb_CreateField("LASTRESULT", 'C', 100, 0));
  ASSERT_TRUE(xb_CreateField("RTFCOVER", 'M', 10, 0));
  ASSERT_TRUE(xb_CreateField("RTFDOC", 'M', 10, 0));
  ASSERT_TRUE(xb_CreateExec());
  ASSERT_NE(xb_Use(path, "", xbmExclusive, xbdFOX), 0);
  ASSERT_GT(xb_IndexTag("", "DATESENT", "DTOS(DATESENT)+TIMESENT", 0, true, ".not. deleted()"), 0);
  ASSERT_GT(xb_IndexTag("", "DATEND", "DTOS(DATESENT)+TIMESENT", 0, false, ".not. deleted()"), 0);
  ASSERT_GT(xb_IndexTag("", "SUBJECT", "UPPER(SUBJECT)", 0, false, ".not. deleted()"), 0);
  ASSERT_GT(xb_IndexTag("", "RECIPIENT", "UPPER(RECIPIENT)", 0, false, ".not. deleted()"), 0);
  xb_CloseAll();
}

std::string Subject(long id) { return "Fax number " + std::to_string(id); }
std::string Memo(long id) { return std::string(200 + id % 300, static_cast<char>('a' + id % 26)); }

// Appends one whole record; false at the first step that fails.
bool AppendFax(long id) {
  return xb_AppendBlank() && xb_Replace("SUBJECT", rkString, Subject(id)) &&
         xb_Replace("RECIPIENT", rkString, "Recipient " + std::to_string(id % 97)) &&
         xb_Replace("DATESENT", rkString, "20261209") && xb_Replace("RTFDOC", rkString, Memo(id)) &&
         xb_Commit();
}

// Subject to document memo of every live record.
std::map<std::string, std::string> Records(const std::string& path) {
  std::map<std::string, std::string> out;
  EXPECT_NE(xb_Use(path, "", xbmExclusive, xbdFOX), 0) << xb_LastErrorText();
  for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) {
    if (xb_Deleted()) continue;
    size_t len = 0;
    char* m = xb_GetMemo("RTFDOC", &len);
    out[xb_GetTrimString("SUBJECT")] = std::string(m ? m : "", len);
    xb_MemDealloc(m);
  }
  xb_CloseAll();
  return out;
}

std::map<std::string, std::string> Snapshot(const SmallFs& disk) {
  std::map<std::string, std::string> files;
  for (const char* name : {"FAX.DBF", "FAX.CDX", "FAX.FPT"}) files[name] = ReadFileBytes(disk / name);
  return files;
}

#define REQUIRE_SMALL_FS(disk) \
  if (!(disk).ok()) GTEST_SKIP() << (disk).reason()

}  // namespace

TEST(FullDisk, AppendsFailClearlyAndKeepEveryPostedRecord) {
  SmallFs disk(kDiskSize);
  REQUIRE_SMALL_FS(disk);
  const std::string path = disk / "FAX.DBF";
  MakeFaxTable(path);
  disk.Fill("filler", 96 * 1024);
  ASSERT_NE(xb_Use(path, "", xbmExclusive, xbdFOX), 0);
  long posted = 0;
  bool failed = false;
  for (long id = 1; id < 100000 && !failed; ++id) {
    if (AppendFax(id)) posted = id;
    else failed = true;
  }
  ASSERT_TRUE(failed) << "the disk never filled";
  EXPECT_NE(xb_LastErrorText().find("Disk is full"), std::string::npos) << xb_LastErrorText();
  EXPECT_GT(posted, 20);
  xb_CloseAll();

  fs::remove(disk / "filler");
  auto found = Records(path);
  for (long id = 1; id <= posted; ++id) {
    ASSERT_TRUE(found.count(Subject(id))) << "posted record " << id << " lost";
    EXPECT_EQ(found[Subject(id)], Memo(id));
  }
  // The record that was being written when the disk filled is either whole or gone.
  EXPECT_LE(found.size(), static_cast<size_t>(posted) + 1);
  auto problems = CheckTable(path);
  EXPECT_TRUE(problems.empty()) << problems.front();
}

TEST(FullDisk, MemoEditAndPackFailAndLeaveTheFilesAsTheyWere) {
  SmallFs disk(kDiskSize);
  REQUIRE_SMALL_FS(disk);
  const std::string path = disk / "FAX.DBF";
  MakeFaxTable(path);
  ASSERT_NE(xb_Use(path, "", xbmExclusive, xbdFOX), 0);
  for (long id = 1; id <= 60; ++id) ASSERT_TRUE(AppendFax(id)) << xb_LastErrorText();
  for (xb_GoTop(); !xb_Eof(); xb_Skip(2)) ASSERT_TRUE(xb_Delete());
  xb_CloseAll();
  const auto before = Records(path);
  disk.Fill("filler");

  // A memo much larger than the space left.
  ASSERT_NE(xb_Use(path, "", xbmExclusive, xbdFOX), 0);
  xb_GoBottom();
  EXPECT_FALSE(xb_Replace("RTFDOC", rkString, std::string(200 * 1024, 'x')));
  EXPECT_NE(xb_LastErrorText().find("Disk is full"), std::string::npos) << xb_LastErrorText();
  xb_CloseAll();
  EXPECT_EQ(Records(path), before);

  // A pack writes the table anew: with no room it fails and the table keeps every record.
  const auto files = Snapshot(disk);
  ASSERT_NE(xb_Use(path, "", xbmExclusive, xbdFOX), 0);
  EXPECT_FALSE(xb_Pack());
  EXPECT_NE(xb_LastErrorText().find("Disk is full"), std::string::npos) << xb_LastErrorText();
  xb_CloseAll();
  EXPECT_EQ(Snapshot(disk), files);
  for (const auto& [name, bytes] : files) EXPECT_FALSE(bytes.empty()) << name;

  fs::remove(disk / "filler");
  EXPECT_EQ(Records(path), before);
  auto problems = CheckTable(path);
  EXPECT_TRUE(problems.empty()) << problems.front();
  // With room again the pack succeeds and keeps exactly the live records.
  ASSERT_NE(xb_Use(path, "", xbmExclusive, xbdFOX), 0);
  EXPECT_TRUE(xb_Pack()) << xb_LastErrorText();
  xb_CloseAll();
  EXPECT_EQ(Records(path), before);
}
