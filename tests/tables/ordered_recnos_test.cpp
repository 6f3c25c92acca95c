// Listing the visible records from a tag's keys alone: only when the tag leaves out exactly
// what the query and SET DELETED hide, and then the same list navigation gives.
#include <gtest/gtest.h>

#include <vector>

#include "tables/work_area.h"
#include "tables/xb_engine.h"
#include "temp_dir.h"

using namespace qv::tables;

namespace {

class OrderedRecnos : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(xb_CreateNew(dir_ / "T.DBF", "XXXXXXXXXX", xbdFOX, 1));
    ASSERT_TRUE(xb_CreateField("NAME", 'C', 10, 0));
    ASSERT_TRUE(xb_CreateExec());
    ASSERT_NE(xb_Use(dir_ / "T.DBF", "", xbmExclusive, xbdFOX), 0);
    for (const char* n : {"delta", "alpha", "charlie", "bravo", "echo", "alpha"}) {
      ASSERT_TRUE(xb_AppendBlank());
      ASSERT_TRUE(xb_Replace("NAME", rkString, n));
    }
    xb_Go(3);
    ASSERT_TRUE(xb_Delete());
    ASSERT_GT(xb_IndexTag("", "LIVE", "NAME", 0, true, ".not. deleted()"), 0);
    ASSERT_GT(xb_IndexTag("", "ALL", "NAME", 0, false, ""), 0);
  }
  void TearDown() override { xb_SetDeleted(false); }

  std::vector<uint32_t> Navigated() {
    std::vector<uint32_t> out;
    for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) out.push_back(xb_RecNo());
    return out;
  }
  bool Listed(std::vector<uint32_t>& out) { return xb_CurrentArea()->OrderedRecnos(out); }

  TempDir dir_;
};

TEST_F(OrderedRecnos, AreTheNavigatedRecordsWhenTheTagCoversTheFilter) {
  std::vector<uint32_t> out;
  xb_SetDeleted(true);
  xb_SetOrder(xb_TagArea("LIVE"));  // descending, deleted records left out
  ASSERT_TRUE(Listed(out));
  EXPECT_EQ(out, Navigated());
  EXPECT_EQ(out, (std::vector<uint32_t>{5, 1, 4, 6, 2}));
  xb_Query(".NOT. Deleted()");  // the same condition, written otherwise
  ASSERT_TRUE(Listed(out));
  EXPECT_EQ(out, Navigated());

  xb_Query("");
  xb_SetDeleted(false);
  xb_SetOrder(xb_TagArea("ALL"));  // nothing hidden: every key is a row
  ASSERT_TRUE(Listed(out));
  EXPECT_EQ(out, Navigated());
  EXPECT_EQ(out.size(), 6u);
}

TEST_F(OrderedRecnos, RefuseWhenRecordsWouldHaveToBeRead) {
  std::vector<uint32_t> out{42};
  xb_SetDeleted(true);
  xb_SetOrder(xb_TagArea("ALL"));  // holds the deleted record, which SET DELETED hides
  EXPECT_FALSE(Listed(out));
  xb_SetOrder(xb_TagArea("LIVE"));
  xb_Query("NAME <> \"alpha\"");  // a query the tag knows nothing of
  EXPECT_FALSE(Listed(out));
  xb_Query("");
  xb_SetOrder(0);  // physical order has no keys
  EXPECT_FALSE(Listed(out));
  EXPECT_EQ(out, std::vector<uint32_t>{42});
}

}  // namespace
