// Moving through a table: top, bottom, skip, go, BOF/EOF, hidden deleted records and queries.
#include <gtest/gtest.h>

#include <vector>

#include "tables/xb_engine.h"
#include "tables/xbase_error.h"
#include "temp_dir.h"

using namespace qv::tables;

namespace {

class Nav : public ::testing::Test {
 protected:
  void SetUp() override {
    xb_SetDeleted(false);
    ASSERT_TRUE(xb_CreateNew(dir_ / "PB.DBF", "XXXXXXXXXX", xbdFOX, 2));
    ASSERT_TRUE(xb_CreateField("NAME", 'C', 20, 0));
    ASSERT_TRUE(xb_CreateField("PHONE", 'C', 10, 0));
    ASSERT_TRUE(xb_CreateExec());
    ASSERT_NE(xb_Use(dir_ / "PB.DBF", "", xbmExclusive, xbdFOX), 0);
    for (const char* n : {"Delta", "alpha", "Charlie", "bravo", "Echo"}) {
      ASSERT_TRUE(xb_AppendBlank());
      ASSERT_TRUE(xb_Replace("NAME", rkString, n));
    }
  }
  void TearDown() override { xb_SetDeleted(false); }

  std::vector<uint32_t> Forward() {
    std::vector<uint32_t> out;
    for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) out.push_back(xb_RecNo());
    return out;
  }
  std::vector<uint32_t> Backward() {
    std::vector<uint32_t> out;
    for (xb_GoBottom(); !xb_Bof(); xb_Skip(-1)) out.push_back(xb_RecNo());
    return out;
  }

  TempDir dir_;
};

using V = std::vector<uint32_t>;

}  // namespace

TEST_F(Nav, PhysicalOrderWithBofAndEof) {
  EXPECT_EQ(Forward(), (V{1, 2, 3, 4, 5}));
  EXPECT_EQ(Backward(), (V{5, 4, 3, 2, 1}));
  xb_GoBottom();
  xb_Skip(1);
  EXPECT_TRUE(xb_Eof());
  EXPECT_EQ(xb_RecNo(), 6u);
  EXPECT_EQ(xb_GetTrimString("NAME"), "");  // past the end reads a blank record
  xb_Skip(-1);  // from the end back onto the last record
  EXPECT_FALSE(xb_Eof());
  EXPECT_EQ(xb_RecNo(), 5u);
  xb_GoTop();
  xb_Skip(-1);
  EXPECT_TRUE(xb_Bof());
  EXPECT_EQ(xb_RecNo(), 1u);  // BOF stays on the first record
  xb_Skip(3);
  EXPECT_EQ(xb_RecNo(), 4u);
  EXPECT_FALSE(xb_Bof());
  xb_Skip(10);
  EXPECT_TRUE(xb_Eof());
  xb_Go(3);
  EXPECT_EQ(xb_GetTrimString("NAME"), "Charlie");
  xb_Go(99);
  EXPECT_TRUE(xb_Eof());
  xb_Go(0);
  EXPECT_TRUE(xb_Eof());
}

TEST_F(Nav, DeletedRecordsDisappearWhenTheSettingIsOn) {
  xb_Go(1);
  ASSERT_TRUE(xb_Delete());
  xb_Go(3);
  ASSERT_TRUE(xb_Delete());
  xb_Go(5);
  ASSERT_TRUE(xb_Delete());
  EXPECT_EQ(Forward(), (V{1, 2, 3, 4, 5}));
  xb_SetDeleted(true);
  EXPECT_EQ(Forward(), (V{2, 4}));
  EXPECT_EQ(Backward(), (V{4, 2}));
  EXPECT_EQ(xb_RecCount(), 5u);
  EXPECT_EQ(xb_QueryRecCount(), 2u);
  xb_Go(3);  // going to a record by number still reaches it
  EXPECT_TRUE(xb_Deleted());
  xb_Skip(1);
  EXPECT_EQ(xb_RecNo(), 4u);
}

TEST_F(Nav, QueryRestrictsWhatIsVisible) {
  ASSERT_TRUE(xb_Query("UPPER(NAME) > 'B'"));
  EXPECT_EQ(xb_DBFilter(), "UPPER(NAME) > 'B'");
  EXPECT_EQ(xb_SysProp(xspConditionActive, 0), 1);
  // With EXACT off, "BRAVO" > "B" is false: the comparison ends with the right side.
  EXPECT_EQ(Forward(), (V{1, 3, 5}));
  EXPECT_EQ(xb_QueryRecCount(), 3u);
  EXPECT_FALSE(xb_Query("NAME + 1"));  // a type error leaves the old query in force
  EXPECT_EQ(xb_LastError(), qv::core::ecExprType);
  EXPECT_FALSE(xb_Query("NAME"));  // not a condition
  EXPECT_EQ(xb_DBFilter(), "UPPER(NAME) > 'B'");
  ASSERT_TRUE(xb_Query(""));
  EXPECT_EQ(Forward(), (V{1, 2, 3, 4, 5}));
  ASSERT_TRUE(xb_Query("NAME = 'nobody'"));
  xb_GoTop();
  EXPECT_TRUE(xb_Eof());
  EXPECT_TRUE(xb_Bof());
}

TEST_F(Nav, EvaluationOnTheCurrentRecord) {
  xb_Go(2);
  EXPECT_TRUE(xb_EvalLogical("NAME = 'alpha'"));
  EXPECT_FALSE(xb_EvalLogical("NAME = 'Delta'"));
  EXPECT_FALSE(xb_EvalLogical("NAME"));
  EXPECT_EQ(xb_LastError(), qv::core::ecExprType);
  EXPECT_EQ(xb_EvalString("UPPER(TRIM(NAME)) + '!'"), "ALPHA!");
  EXPECT_EQ(xb_EvalString("RECNO() * 2"), "4");
  EXPECT_TRUE(xb_EvalTest("LEN(NAME) > 3"));
  EXPECT_FALSE(xb_EvalTest("LEN(NAME > 3"));
}

TEST(WorkAreas, SelectionAliasesAndProperties) {
  TempDir d;
  for (const char* n : {"ONE.DBF", "TWO.DBF"}) {
    ASSERT_TRUE(xb_CreateNew(d / n, "XXXXXXXXXX", xbdFOX, 1));
    ASSERT_TRUE(xb_CreateField("A", 'C', 3, 0));
    ASSERT_TRUE(xb_CreateExec());
  }
  int one = xb_Use(d / "ONE.DBF", "", xbmExclusive, xbdFOX);
  int two = xb_Use(d / "TWO.DBF", "SECOND", xbmExclusive, xbdFOX);
  ASSERT_NE(one, 0);
  ASSERT_NE(two, 0);
  EXPECT_NE(one, two);
  EXPECT_EQ(xb_WorkArea(), two);  // opening selects
  EXPECT_EQ(xb_WorkArea("one"), one);
  EXPECT_EQ(xb_WorkArea("SECOND"), two);
  EXPECT_EQ(xb_WorkArea("NONE"), 0);
  EXPECT_EQ(xb_Select(one), two);
  ASSERT_TRUE(xb_AppendBlank());
  xb_Select(two);
  EXPECT_EQ(xb_RecCount(), 0u);
  xb_Select(one);
  EXPECT_EQ(xb_RecCount(), 1u);
  EXPECT_EQ(xb_SysProp(xspAreaInUse, two), 1);
  EXPECT_EQ(xb_SysProp(xspAreaInUse, 200), 0);
  EXPECT_EQ(xb_SysProp(xspFieldIsVariable, 1), 0);
  // The same alias twice is refused.
  EXPECT_EQ(xb_Use(d / "TWO.DBF", "ONE", xbmReadOnly, xbdFOX), 0);
  EXPECT_EQ(xb_Use(d / "ONE.DBF", "", xbmExclusive, 7), 0);  // no such driver
  xb_Select(two);
  EXPECT_TRUE(xb_Close());
  EXPECT_EQ(xb_SysProp(xspAreaInUse, two), 0);
  EXPECT_FALSE(xb_AppendBlank());  // nothing open in the selected area
  EXPECT_EQ(xb_LastError(), qv::core::ecNoWorkArea);
  EXPECT_EQ(xb_Version().substr(0, 4), "2.40");
}
