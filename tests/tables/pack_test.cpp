// Packing: deleted records and their memos go, everything else stays, and a pack cut short
// at any point leaves a table that opens with all its records.
#include <gtest/gtest.h>

#include <filesystem>

#include "tables/table_check.h"
#include "tables/xb_engine.h"
#include "tables/xbase_error.h"
#include "temp_dir.h"

using namespace qv::tables;

namespace {

class Pack : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateFaxTable(dir_ / "QRV.DBF"));
    Open();
    for (int i = 1; i <= 6; ++i) {
      ASSERT_TRUE(xb_AppendBlank());
      ASSERT_TRUE(xb_Replace("SUBJECT", rkString, "Fax " + std::to_string(i)));
      ASSERT_TRUE(xb_Replace("RECIPIENT", rkString, std::string(1, static_cast<char>('G' - i))));
      ASSERT_TRUE(xb_Replace("RTFDOC", rkString, "document " + std::to_string(i) + std::string(200, '.')));
      ASSERT_TRUE(xb_Replace("RTFDOC", rkString, "document " + std::to_string(i)));  // leaves a dead memo
    }
    ASSERT_EQ(xb_IndexTag("", "RECIPIENT", "UPPER(RECIPIENT)", 0, false, ".not. deleted()"), 1);
    for (int r : {2, 5}) {
      xb_Go(r);
      ASSERT_TRUE(xb_Delete());
    }
  }
  void TearDown() override {
    // Whatever a test did, the files it leaves behind must agree with each other.
    xb_CloseAll();
    for (const auto& problem : CheckTable(dir_ / "QRV.DBF")) ADD_FAILURE() << problem;
  }
  void Open() { ASSERT_NE(xb_Use(dir_ / "QRV.DBF", "", xbmExclusive, xbdFOX), 0) << xb_LastErrorText(); }
  std::vector<std::string> Subjects() {
    std::vector<std::string> out;
    for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) {
      char* m = xb_GetMemo("RTFDOC");
      out.push_back(xb_GetTrimString("SUBJECT") + "|" + (m ? m : "?"));
      xb_MemDealloc(m);
    }
    return out;
  }

  TempDir dir_;
};

const std::vector<std::string> kKept = {"Fax 1|document 1", "Fax 3|document 3", "Fax 4|document 4",
                                        "Fax 6|document 6"};

}  // namespace

TEST_F(Pack, RemovesDeletedRecordsAndCompactsMemos) {
  auto fptBefore = std::filesystem::file_size(dir_ / "QRV.FPT");
  ASSERT_TRUE(xb_Pack()) << xb_LastErrorText();
  EXPECT_EQ(xb_RecCount(), 4u);
  EXPECT_EQ(xb_IndexOrd(), 1);  // the controlling tag survives the pack
  xb_SetOrder(0);
  EXPECT_EQ(Subjects(), kKept);
  EXPECT_LT(std::filesystem::file_size(dir_ / "QRV.FPT"), fptBefore);
  // The tag follows the new record numbers; the table stays usable and locked.
  xb_SetOrder(xb_TagArea("RECIPIENT"));
  std::vector<uint32_t> order;
  for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) order.push_back(xb_RecNo());
  EXPECT_EQ(order, (std::vector<uint32_t>{4, 3, 2, 1}));
  EXPECT_EQ(xb_Use(dir_ / "QRV.DBF", "AGAIN", xbmExclusive, xbdFOX), 0);
  EXPECT_EQ(xb_LastError(), qv::core::ecTableInUse);
  ASSERT_TRUE(xb_AppendBlank());
  ASSERT_TRUE(xb_Replace("SUBJECT", rkString, "after"));
  xb_CloseAll();
  Open();
  EXPECT_EQ(xb_RecCount(), 5u);
  EXPECT_EQ(Subjects().front(), kKept.front());
  for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
    EXPECT_EQ(e.path().string().find(".~"), std::string::npos) << e.path();
}

TEST_F(Pack, AnInterruptedPackBeforeItsJournalKeepsTheOldTable) {
  xb_CloseAll();
  std::string dbf = ReadFileBytes(dir_ / "QRV.DBF");
  // Leftovers of a pack killed while writing its copies.
  WriteFileBytes(dir_ / "QRV.DBF.~pk", dbf.substr(0, 400));
  WriteFileBytes(dir_ / "QRV.FPT.~pk", "partial");
  Open();
  EXPECT_EQ(xb_RecCount(), 6u);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "QRV.DBF.~pk"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "QRV.FPT.~pk"));
}

TEST_F(Pack, AnInterruptedPackAfterItsJournalIsCompleted) {
  // Make a real packed copy, then put the old files back as a pack killed between its two
  // renames would leave them: new memo file in place, packed table still under its temp name.
  xb_CloseAll();
  std::string oldDbf = ReadFileBytes(dir_ / "QRV.DBF");
  std::string oldCdx = ReadFileBytes(dir_ / "QRV.CDX");
  Open();
  ASSERT_TRUE(xb_Pack());
  xb_CloseAll();
  std::string newDbf = ReadFileBytes(dir_ / "QRV.DBF");
  WriteFileBytes(dir_ / "QRV.DBF", oldDbf);
  WriteFileBytes(dir_ / "QRV.CDX", oldCdx);
  WriteFileBytes(dir_ / "QRV.DBF.~pk", newDbf);
  WriteFileBytes(dir_ / "QRV.DBF.~pj", "pack\n");
  Open();
  EXPECT_EQ(xb_RecCount(), 4u);
  xb_SetDeleted(true);
  EXPECT_EQ(Subjects(), kKept);
  xb_SetOrder(xb_TagArea("RECIPIENT"));  // the old index was marked stale and rebuilt
  xb_GoTop();
  EXPECT_EQ(xb_RecNo(), 4u);
  xb_SetDeleted(false);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "QRV.DBF.~pj"));
}

TEST_F(Pack, NeedsAnExclusiveTable) {
  xb_CloseAll();
  ASSERT_NE(xb_Use(dir_ / "QRV.DBF", "", xbmReadOnly, xbdFOX), 0);
  EXPECT_FALSE(xb_Pack());
  EXPECT_EQ(xb_LastError(), qv::core::ecTableReadOnly);
  EXPECT_EQ(xb_RecCount(), 6u);
}
