// The data set binding as the fax store uses it: creating and opening the four tables,
// tags, the query, calculated fields, edits with memos through files, field kinds and value
// rules, aliases and drivers, the call bracket and the views' suspend/resume.
#include <gtest/gtest.h>

#include <filesystem>

#include "tables/data_set.h"
#include "tables/table_check.h"
#include "tables/xb_engine.h"
#include "tables/xbase_component.h"
#include "tables/xbase_date.h"
#include "temp_dir.h"

using namespace qv::tables;

namespace {

struct Pair {
  TTable table;
  TDataSource source{&table};
  TXBase xbase;
  Pair() { xbase.SetDataSource(&source); }
};

bool MakeFaxDBF(TXBase& x, const std::string& path) {
  bool ok = x.CreateNew(path, 2, 10);
  const struct { const char* n; char t; int w; } f[] = {
      {"SUBJECT", 'C', 50}, {"SENT", 'L', 1},       {"DATESENT", 'D', 8}, {"TIMESENT", 'C', 5},
      {"RECIPIENT", 'C', 35}, {"PHONE", 'C', 25},   {"PAGES", 'N', 2},    {"LASTRESULT", 'C', 100},
      {"RTFCOVER", 'M', 10}, {"RTFDOC", 'M', 10}};
  for (const auto& d : f) ok = ok && x.CreateField(d.n, d.t, 0, d.w);
  return x.CreateExec() && ok && std::filesystem::exists(path);
}

class Binding : public ::testing::Test {
 protected:
  void SetUp() override {
    StartTableEngine();
    env_.SetDeleted(true);
  }
  void TearDown() override {
    env_.SetDeleted(false);
    // The tables the test built must pass the same check qvdb runs.
    xb_CloseAll();
    if (std::filesystem::exists(dir_ / "QRV.DBF"))
      for (const auto& problem : CheckTable(dir_ / "QRV.DBF")) ADD_FAILURE() << problem;
  }

  // The outgoing table opened the way the fax store opens it.
  void OpenFax(Pair& p) {
    p.table.DatabaseName = dir_.path();
    p.table.TableName = "QRV.DBF";
    p.table.Exclusive = true;
    if (!std::filesystem::exists(dir_ / "QRV.DBF")) {
      ASSERT_TRUE(MakeFaxDBF(p.xbase, dir_ / "QRV.DBF"));
    }
    p.table.Open();
    if (!std::filesystem::exists(dir_ / "QRV.CDX")) {
      ASSERT_EQ(p.xbase.IndexTag("", "DATESENT", ".not. deleted()", true, 0, "DTOS(DATESENT)+TIMESENT"), 1);
    }
    p.table.First();
    p.xbase.Query(".not. deleted()");
  }
  void AddFax(Pair& p, const std::string& subject, const std::string& date, bool sent) {
    p.table.Append();
    p.table.FieldByName("SUBJECT").SetAsString(subject);
    p.table.FieldByName("DATESENT").SetAsString(date);
    p.table.FieldByName("SENT").SetAsBoolean(sent);
    p.table.Post();
  }
  std::vector<std::string> Subjects(TTable& t) {
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName("SUBJECT").AsString());
    return out;
  }

  TXBaseEnv env_;
  TempDir dir_;
};

using S = std::vector<std::string>;

}  // namespace

TEST_F(Binding, FieldKindsFollowTheXBaseTypes) {
  Pair p;
  OpenFax(p);
  EXPECT_EQ(p.table.FieldCount(), 10);
  EXPECT_EQ(p.table.FieldByName("SUBJECT").DataType(), TFieldType::ftString);
  EXPECT_EQ(p.table.FieldByName("SUBJECT").Size(), 50);
  EXPECT_EQ(p.table.FieldByName("SUBJECT").BufferSize(), 51);
  EXPECT_EQ(p.table.FieldByName("SENT").DataType(), TFieldType::ftBoolean);
  EXPECT_EQ(p.table.FieldByName("DATESENT").DataType(), TFieldType::ftDate);
  EXPECT_EQ(p.table.FieldByName("DATESENT").BufferSize(), 4);
  EXPECT_EQ(p.table.FieldByName("PAGES").DataType(), TFieldType::ftSmallint);  // N(2,0)
  EXPECT_EQ(p.table.FieldByName("RTFDOC").DataType(), TFieldType::ftMemo);
  EXPECT_EQ(p.table.FieldByName("RTFDOC").BufferSize(), 0);
  EXPECT_EQ(p.table.Driver(), 2);
  EXPECT_EQ(p.table.Alias(), "QRV");

  // Width 5 and decimals make floating point fields.
  TXBase x;
  ASSERT_TRUE(x.CreateNew(dir_ / "NUM.DBF", 2, 3));
  ASSERT_TRUE(x.CreateField("W4", 'N', 0, 4));
  ASSERT_TRUE(x.CreateField("W5", 'N', 0, 5));
  ASSERT_TRUE(x.CreateField("D2", 'N', 2, 5));
  ASSERT_TRUE(x.CreateExec());
  TTable t;
  t.DatabaseName = dir_.path();
  t.TableName = "NUM";
  t.Exclusive = true;
  t.Open();
  EXPECT_EQ(t.FieldByName("W4").DataType(), TFieldType::ftSmallint);
  EXPECT_EQ(t.FieldByName("W5").DataType(), TFieldType::ftFloat);
  EXPECT_EQ(t.FieldByName("D2").DataType(), TFieldType::ftFloat);

  // Writing floats: too wide with all decimals is refused with 10019; otherwise decimals are
  // dropped until the text fits.
  t.Append();
  try {
    t.FieldByName("D2").SetAsFloat(123456.7);
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), qv::core::ecNumberTooWide);
  }
  t.FieldByName("D2").SetAsFloat(1234.5);
  t.FieldByName("W5").SetAsFloat(-12.25);
  t.FieldByName("W4").SetAsInteger(-123);
  EXPECT_THROW(t.FieldByName("W4").SetAsInteger(12345), EDatabaseError);
  t.Post();
  std::vector<uint8_t> raw = t.ActiveBuffer();
  EXPECT_EQ(std::string(raw.begin() + 1, raw.end()), "-123  -12 1235");
  EXPECT_EQ(t.FieldByName("W4").AsInteger(), -123);
  EXPECT_DOUBLE_EQ(t.FieldByName("D2").AsFloat(), 1235);
  t.Edit();
  t.FieldByName("D2").SetAsFloat(3.14159);
  t.Post();
  EXPECT_EQ(t.FieldByName("D2").AsString(), "3.14");
  t.Edit();
  t.FieldByName("D2").Clear();
  t.Post();
  EXPECT_TRUE(t.FieldByName("D2").IsNull());
}

TEST_F(Binding, InvalidFieldTypesAreRejectedWhenOpening) {
  // A general (G) field is none of the kinds the forms know.
  ASSERT_TRUE(xb_CreateNew(dir_ / "G.DBF", "XXXXXXXXXX", 2, 1));
  ASSERT_TRUE(xb_CreateField("PIC", 'G', 10, 0));
  ASSERT_TRUE(xb_CreateExec());
  TTable t;
  t.DatabaseName = dir_.path();
  t.TableName = "G.DBF";
  try {
    t.Open();
    FAIL() << "opened";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Invalid Field Type G");
  }
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(xb_WorkArea("G"), 0);  // nothing left open in the engine

  TTable noDir;
  noDir.TableName = "QRV.DBF";
  try {
    noDir.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Could not find directory associated with this database");
  }
  TTable missing;
  missing.DatabaseName = dir_.path();
  missing.TableName = "NONE.DBF";
  try {
    missing.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "File Open Error");
    EXPECT_EQ(e.ErrorCode(), qv::core::ecTableOpenFailed);
    EXPECT_NE(e.Detail().find("NONE.DBF"), std::string::npos);
  }
  EXPECT_THROW(missing.SetRange("a", "b"), EDatabaseError);
  try {
    missing.Locate("A", "b");
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "This function not supported by the table adapter : Locate");
  }
}

TEST_F(Binding, EditsPostsDeletesAndTheQuery) {
  Pair p;
  OpenFax(p);
  EXPECT_TRUE(p.table.IsEmpty());
  EXPECT_EQ(p.xbase.RecNo(), 1u);  // empty table: RecCount + 1
  AddFax(p, "first", "20261201", true);
  AddFax(p, "second", "20261205", false);
  AddFax(p, "third", "20261203", true);
  EXPECT_EQ(p.table.IndexName(), "DATESENT");
  EXPECT_EQ(Subjects(p.table), (S{"second", "third", "first"}));  // descending dates
  // Edit and cancel leaves the record as it was.
  p.table.First();
  p.table.Edit();
  p.table.FieldByName("SUBJECT").SetAsString("changed");
  p.table.Cancel();
  EXPECT_EQ(p.table.FieldByName("SUBJECT").AsString(), "second");
  // Delete hides the record at once; RecCount still counts it; IsDeleted sees the flag.
  p.table.Next();
  ASSERT_EQ(p.table.FieldByName("SUBJECT").AsString(), "third");
  uint32_t third = p.table.Bookmark();
  p.table.Delete();
  EXPECT_EQ(p.table.FieldByName("SUBJECT").AsString(), "first");  // the next one is current
  EXPECT_EQ(Subjects(p.table), (S{"second", "first"}));
  EXPECT_EQ(p.xbase.RecCount(), 3u);
  EXPECT_EQ(p.xbase.QueryRecCount(), 2u);
  EXPECT_EQ(p.table.RecordCount(), 2u);
  EXPECT_FALSE(p.xbase.IsDeleted());
  env_.SetDeleted(false);
  p.xbase.Query("");
  p.xbase.SetOrder(0);
  p.table.GotoBookmark(third);
  EXPECT_TRUE(p.xbase.IsDeleted());
  // Bookmarks list what a grid shows, in order.
  p.xbase.SetOrder(1);
  env_.SetDeleted(true);
  p.xbase.Query(".not. deleted()");
  EXPECT_EQ(p.table.Bookmarks(), (std::vector<uint32_t>{2, 1}));
  EXPECT_EQ(p.xbase.DBFilter(), ".not. deleted()");
}

TEST_F(Binding, CalculatedFieldsAreComputedPerRecord) {
  Pair p;
  p.table.AddCalcField("SentYesNo", TFieldType::ftString, 3);
  p.table.AddCalcField("ISDELETED", TFieldType::ftString, 3);
  p.table.OnCalcFields = [&](TTable& t) {
    t.FieldByName("SentYesNo").SetAsString(t.FieldByName("SENT").AsBoolean() ? "Yes" : "No ");
    t.FieldByName("ISDELETED").SetAsString(p.xbase.IsDeleted() ? "Yes" : "No ");
  };
  OpenFax(p);
  AddFax(p, "a", "20261201", true);
  AddFax(p, "b", "20261202", false);
  p.table.First();
  EXPECT_EQ(p.table.FieldByName("SUBJECT").AsString(), "b");
  EXPECT_EQ(p.table.FieldByName("SentYesNo").AsString(), "No ");
  EXPECT_EQ(p.table.FieldByName("ISDELETED").AsString(), "No ");
  EXPECT_TRUE(p.table.FieldByName("SentYesNo").Calculated());
  p.table.Next();
  EXPECT_EQ(p.table.FieldByName("SentYesNo").AsString(), "Yes");
  env_.SetDeleted(false);
  p.xbase.Query("");
  p.table.Delete();
  p.xbase.SetOrder(0);  // the deleted record has left the tag
  p.table.GotoBookmark(1);
  EXPECT_EQ(p.table.FieldByName("SUBJECT").AsString(), "a");
  EXPECT_EQ(p.table.FieldByName("ISDELETED").AsString(), "Yes");
  EXPECT_THROW(p.table.FieldByName("SentYesNo").SetAsString("x"), EDatabaseError);  // not computing now
}

// Either end of a view that shows no record is the blank record with no calculated values: a
// form bound to it shows nothing left from the record before, whichever end it went to.
TEST_F(Binding, EitherEndOfAnEmptyViewClearsCalculatedFields) {
  Pair p;
  p.table.AddCalcField("SentYesNo", TFieldType::ftString, 3);
  p.table.OnCalcFields = [&](TTable& t) {
    t.FieldByName("SentYesNo").SetAsString(t.FieldByName("SENT").AsBoolean() ? "Yes" : "No ");
  };
  OpenFax(p);
  AddFax(p, "a", "20261201", true);
  auto setEngineFilter = [&](const std::string& condition) {
    // Behind the data set's back, as another user of the work area would.
    const int previous = xb_Select(p.table.WorkArea());
    xb_Query(condition);
    xb_Select(previous);
  };
  for (bool toLast : {false, true}) {
    SCOPED_TRACE(toLast ? "Last" : "First");
    p.table.First();
    ASSERT_EQ(p.table.FieldByName("SentYesNo").AsString(), "Yes");
    setEngineFilter("SUBJECT = 'none'");
    if (toLast)
      p.table.Last();
    else
      p.table.First();
    EXPECT_TRUE(p.table.Bof());
    EXPECT_TRUE(p.table.Eof());
    EXPECT_EQ(p.table.FieldByName("SUBJECT").AsString(), "");
    EXPECT_EQ(p.table.FieldByName("SentYesNo").AsString(), "");
    setEngineFilter("");
  }
}

TEST_F(Binding, MemosThroughFilesWhileInserting) {
  Pair p;
  OpenFax(p);
  // A new record: append; save the memos (posts the insert first); set fields; post.
  p.table.Append();
  WriteFileBytes(dir_ / "Eraseme.rtf", "{\\rtf1 cover}");
  p.xbase.Replace("RTFCOVER", rkFile, dir_ / "Eraseme.rtf");
  EXPECT_EQ(p.table.State(), TDataSetState::dsEdit);  // back in edit state
  WriteFileBytes(dir_ / "Eraseme.rtf", "{\\rtf1 document}");
  p.xbase.Replace("RTFDOC", rkFile, dir_ / "Eraseme.rtf");
  p.table.FieldByName("SUBJECT").SetAsString("with memos");
  p.table.Post();
  EXPECT_EQ(p.xbase.RecCount(), 1u);
  ASSERT_TRUE(p.xbase.BlobToFile("RTFCOVER", dir_ / "out.rtf"));
  EXPECT_EQ(ReadFileBytes(dir_ / "out.rtf"), "{\\rtf1 cover}");
  EXPECT_EQ(p.table.FieldByName("RTFDOC").AsString(), "{\\rtf1 document}");
  // The data set and the engine may stand on different records: the component follows the
  // data set's record and puts the engine back.
  AddFax(p, "other", "20200101", false);
  p.table.Last();  // the blank date sorts last in the descending tag
  ASSERT_EQ(p.table.FieldByName("SUBJECT").AsString(), "with memos");
  int prev = xb_Select(p.table.WorkArea());
  xb_Go(2);
  xb_Select(prev);
  ASSERT_TRUE(p.xbase.BlobToFile("RTFDOC", dir_ / "out2.rtf"));
  EXPECT_EQ(ReadFileBytes(dir_ / "out2.rtf"), "{\\rtf1 document}");
  EXPECT_TRUE(p.xbase.EvalLogical("SUBJECT = 'with'"));
  xb_Select(p.table.WorkArea());
  EXPECT_EQ(xb_RecNo(), 2u);
  // Memo text set through the field is written on post.
  p.table.Edit();
  p.table.FieldByName("RTFCOVER").SetAsString("direct");
  p.table.Post();
  EXPECT_EQ(p.table.FieldByName("RTFCOVER").AsString(), "direct");
  EXPECT_THROW(p.xbase.Replace("RTFDOC", rkFile, dir_ / "missing.rtf"), EDatabaseError);
}

TEST_F(Binding, CloseAndReopenKeepsPositionAndTags) {
  Pair p;
  OpenFax(p);
  for (int i = 1; i <= 5; ++i) AddFax(p, "fax" + std::to_string(i), "2026120" + std::to_string(i), i % 2);
  EXPECT_EQ(p.xbase.IndexTag("", "DATEND", ".not. deleted()", false, 0, "DTOS(DATESENT)+TIMESENT"), 2);
  EXPECT_EQ(p.xbase.IndexTag("", "SUBJECT", ".not. deleted()", false, 0, "UPPER(SUBJECT)"), 3);
  EXPECT_EQ(p.table.IndexDefs(), (S{"DATESENT", "DATEND", "SUBJECT"}));
  EXPECT_EQ(p.xbase.SetOrder(p.xbase.TagArea("DATESENT")), 3);
  EXPECT_EQ(p.table.IndexName(), "DATESENT");
  p.table.First();
  p.table.Next();
  uint32_t here = p.xbase.RecNo();
  // FaxTableCloseAndOpen
  p.table.DisableControls();
  p.table.Close();
  p.table.Open();
  p.xbase.Query(".not. deleted()");
  p.xbase.Go(here);
  p.table.EnableControls();
  EXPECT_EQ(p.xbase.RecNo(), here);
  EXPECT_EQ(p.table.FieldByName("SUBJECT").AsString(), "fax4");
  EXPECT_EQ(p.xbase.TagName(2), "DATEND");
  EXPECT_EQ(p.xbase.TagArea("SUBJECT"), 3);
  // Rebuild Indexes: close indexes, delete the file, pack, recreate.
  p.table.First();
  p.table.Delete();
  p.xbase.CloseIndexes();
  std::filesystem::remove(dir_ / "QRV.CDX");
  EXPECT_TRUE(p.xbase.Pack());
  EXPECT_EQ(p.xbase.RecCount(), 4u);
  EXPECT_EQ(p.xbase.IndexTag("", "DATESENT", ".not. deleted()", true, 0, "datesent"), 1);
  EXPECT_EQ(Subjects(p.table), (S{"fax4", "fax3", "fax2", "fax1"}));
}

TEST_F(Binding, ATableWhoseIndexFileWentMissingStillOpens) {
  {
    Pair p;
    OpenFax(p);
    AddFax(p, "fax1", "20261201", true);
    AddFax(p, "fax2", "20261202", false);
    p.table.Close();
  }
  std::filesystem::remove(dir_ / "QRV.CDX");
  Pair q;
  q.table.DatabaseName = dir_.path();
  q.table.TableName = "QRV.DBF";
  q.table.Exclusive = true;
  q.table.Open();
  EXPECT_EQ(q.xbase.RecCount(), 2u);
  EXPECT_EQ(Subjects(q.table), (S{"fax1", "fax2"}));
  // And the tags can be made again.
  EXPECT_EQ(q.xbase.IndexTag("", "DATESENT", ".not. deleted()", true, 0, "datesent"), 1);
  EXPECT_EQ(Subjects(q.table), (S{"fax2", "fax1"}));
  q.table.Close();
  q.table.Open();
  EXPECT_EQ(q.table.IndexDefs(), (S{"DATESENT"}));
}

TEST_F(Binding, AliasesAndDrivers) {
  for (const char* n : {"LONGNAME1.DBF", "LONGNAME2.DBF", "LONGNAME3.DBF", "A-B~C D.DBF"}) {
    ASSERT_TRUE(xb_CreateNew(dir_ / n, "XXXXXXXXXX", 2, 1));
    ASSERT_TRUE(xb_CreateField("X", 'C', 1, 0));
    ASSERT_TRUE(xb_CreateExec());
  }
  TTable a, b, c, d;
  for (auto [t, n] : {std::pair{&a, "LONGNAME1.DBF"}, {&b, "LONGNAME2.DBF"}, {&c, "LONGNAME3.DBF"}, {&d, "A-B~C D.DBF"}}) {
    t->DatabaseName = dir_.path();
    t->TableName = n;
    t->Exclusive = true;
    t->Open();
  }
  EXPECT_EQ(a.Alias(), "LONGNAME");
  EXPECT_EQ(b.Alias(), "LONGNAME_1");
  EXPECT_EQ(c.Alias(), "LONGNAME_2");
  EXPECT_EQ(d.Alias(), "A_B_C_D");
  // Version byte 0x03 with both a CDX and an NSX beside it: driver 2; with only an NSX: 3.
  a.Close();
  TXBase x;
  TDataSource src(&a);
  x.SetDataSource(&src);
  a.Open();
  ASSERT_EQ(x.IndexTag("", "X", "", false, 0, "X"), 1);
  WriteFileBytes(dir_ / "LONGNAME1.NSX", "x");
  a.Close();
  a.Open();
  EXPECT_EQ(a.Driver(), 2);
  a.Close();
  std::filesystem::remove(dir_ / "LONGNAME1.CDX");
  TTable e;
  e.DatabaseName = dir_.path();
  e.TableName = "LONGNAME1.DBF";
  e.Exclusive = true;
  e.Open();
  EXPECT_EQ(e.Driver(), 3);  // only an NSX beside it
  EXPECT_EQ(TTable::GetTableNames(dir_.path()).size(), 4u);
}

TEST_F(Binding, TheCallBracketRestoresTheSelection) {
  Pair fax, other;
  OpenFax(fax);
  ASSERT_TRUE(xb_CreateNew(dir_ / "QRVPB.DBF", "XXXXXXXXXX", 2, 2));
  ASSERT_TRUE(xb_CreateField("NAME", 'C', 35, 0));
  ASSERT_TRUE(xb_CreateField("PHONE", 'C', 25, 0));
  ASSERT_TRUE(xb_CreateExec());
  other.table.DatabaseName = dir_.path();
  other.table.TableName = "QRVPB.DBF";
  other.table.Exclusive = true;
  other.table.Open();
  EXPECT_EQ(other.xbase.IndexTag("", "NAME", ".not. deleted()", false, 0, "UPPER(NAME)"), 1);
  xb_Select(fax.table.WorkArea());
  EXPECT_EQ(other.xbase.RecCount(), 0u);
  EXPECT_EQ(xb_WorkArea(), fax.table.WorkArea());
  // Even when the operation fails.
  EXPECT_EQ(other.xbase.IndexTag("", "BAD", "", false, 0, "NOFIELD"), 0);
  EXPECT_EQ(xb_WorkArea(), fax.table.WorkArea());
  EXPECT_THROW(other.xbase.Replace("NOFIELD", rkFile, "x"), EDatabaseError);
  EXPECT_EQ(xb_WorkArea(), fax.table.WorkArea());
  other.table.Append();
  other.table.FieldByName("NAME").SetAsString("zed");
  other.table.Post();
  EXPECT_EQ(xb_WorkArea(), fax.table.WorkArea());
  EXPECT_EQ(fax.xbase.RecCount(), 0u);
  EXPECT_EQ(other.xbase.RecCount(), 1u);
}

TEST_F(Binding, ViewsHearChangesAndCanBeSuspended) {
  struct Counter : TDataSetListener {
    int changed = 0, scrolled = 0, active = 0, state = 0;
    void DataSetChanged(TTable&) override { ++changed; }
    void Scrolled(TTable&) override { ++scrolled; }
    void ActiveChanged(TTable&) override { ++active; }
    void StateChanged(TTable&) override { ++state; }
  } view;
  Pair p;
  p.table.AddListener(&view);
  OpenFax(p);
  EXPECT_EQ(view.active, 1);
  AddFax(p, "x", "20260101", false);
  EXPECT_GT(view.changed, 0);
  EXPECT_EQ(view.state, 2);  // insert, browse
  int before = view.changed;
  p.table.DisableControls();
  AddFax(p, "y", "20260102", false);
  AddFax(p, "z", "20260103", false);
  p.table.First();
  EXPECT_EQ(view.changed, before);
  p.table.EnableControls();
  EXPECT_EQ(view.changed, before + 1);  // one summary notice
  p.table.RemoveListener(&view);
  p.table.Close();
  EXPECT_EQ(view.active, 1);
}

TEST_F(Binding, DateSettingsReachTheForms) {
  env_.SetDateFormat(dfGerman);
  env_.SetCentury(true);
  Pair p;
  OpenFax(p);
  AddFax(p, "d", "08.12.2026", false);
  EXPECT_EQ(p.table.FieldByName("DATESENT").AsString(), "08.12.2026");
  EXPECT_EQ(p.table.FieldByName("DATESENT").AsDate(), JdnFromYmd(2026, 12, 8));
  env_.SetCentury(false);
  EXPECT_EQ(p.table.FieldByName("DATESENT").AsString(), "08.12.26");
  env_.SetDateFormat(dfAmerican);
  p.table.Edit();
  p.table.FieldByName("DATESENT").SetAsString("12/09/26");  // two-digit years stay in this century
  p.table.Post();
  EXPECT_EQ(p.table.FieldByName("DATESENT").AsDate(), JdnFromYmd(2026, 12, 9));
  p.table.Edit();
  EXPECT_THROW(p.table.FieldByName("DATESENT").SetAsString("13/45/26"), EDatabaseError);
  p.table.Cancel();
}

TEST_F(Binding, FilterAndExtraIndexesAreReappliedOnEveryOpen) {
  Pair p;
  OpenFax(p);
  AddFax(p, "alpha", "20260101", true);
  AddFax(p, "beta", "20260102", false);
  AddFax(p, "gamma", "20260103", true);
  ASSERT_EQ(p.xbase.IndexTag("BYSUBJ", "SUBJ", "", false, 0, "UPPER(SUBJECT)"), 2);
  p.xbase.CloseIndexes();
  p.table.Close();
  // Set while closed: remembered, and applied by the data link when the table opens.
  p.xbase.SetFilter("SENT");
  p.xbase.SetExtraIndexes({"BYSUBJ.CDX"});
  p.table.Open();
  EXPECT_EQ(p.xbase.DBFilter(), "SENT");
  EXPECT_EQ(p.xbase.QueryRecCount(), 2u);
  EXPECT_EQ(p.xbase.TagArea("SUBJ"), 2);
  EXPECT_EQ(p.xbase.IndexOrd(), 2);  // no order before: the extra file's tag is taken
  p.xbase.SetOrder(2);
  EXPECT_EQ(p.xbase.DBFilter(), "SENT");
  EXPECT_EQ(p.table.Bookmarks(), (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ(Subjects(p.table), (S{"alpha", "gamma"}));
  // A filter set while open applies at once.
  p.xbase.SetFilter("");
  EXPECT_EQ(Subjects(p.table), (S{"alpha", "beta", "gamma"}));
}
