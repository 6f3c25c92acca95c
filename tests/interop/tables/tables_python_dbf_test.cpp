// Python's dbf package as an outside judge: it reads the tables and memos we write, and we
// read the tables and memos it writes (including its own header variant).
#include <gtest/gtest.h>

#include <string>

#include "../../tables/temp_dir.h"
#include "run_tool.h"
#include "tables/table_check.h"
#include "tables/xb_engine.h"

using namespace qv::tables;

namespace {

// Debian's python3-dbf belongs to the system interpreter.
const char* kPython = "/usr/bin/python3";

const char* kReadScript = R"PY(
import sys, dbf
t = dbf.Table(sys.argv[1])
t.open(dbf.READ_ONLY)
print("fields", ",".join(t.field_names))
for r in t:
    vals = []
    for name in t.field_names:
        v = r[name]
        if isinstance(v, str):
            v = v.rstrip().replace("\\", "\\\\").replace("\n", "\\n").replace("\t", "\\t")
        elif v is None:
            v = ""
        elif hasattr(v, "isoformat"):
            v = v.isoformat() if v else ""
        vals.append(str(v))
    print("*" if dbf.is_deleted(r) else " ", "|".join(vals))
t.close()
)PY";

const char* kWriteScript = R"PY(
import sys, dbf
t = dbf.Table(sys.argv[1] + "/PY.DBF", "NAME C(20); AMOUNT N(8,2); BORN D; OK L; NOTE M", dbf_type="fp")
t.open(dbf.READ_WRITE)
t.append(("Alice", 12.5, dbf.Date(2026, 12, 8), True, "memo text\nline 2"))
t.append(("Bob", -3, None, False, ""))
t.append(("Carol", 0, dbf.Date(1999, 1, 1), None, "x" * 1000))
with t[1] as r:
    dbf.delete(r)
t.close()
p = dbf.Table(sys.argv[1] + "/PLAIN.DBF", "CODE C(6); QTY N(5,0)", dbf_type="db3")
p.open(dbf.READ_WRITE)
for i in range(50):
    p.append(("K%03d" % (49 - i), i))
p.close()
)PY";

class PythonDbf : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveCommand(std::string(kPython) + " -c 'import dbf'")) GTEST_SKIP() << "python3-dbf is not installed";
    WriteText(dir_ / "read.py", kReadScript);
    WriteText(dir_ / "write.py", kWriteScript);
  }
  ToolResult Py(const std::string& script, const std::string& arg) {
    return RunTool(std::string(kPython) + " '" + (dir_ / script) + "' '" + arg + "' 2>&1");
  }
  TempDir dir_;
};

}  // namespace

TEST_F(PythonDbf, ReadsWhatWeWrite) {
  ASSERT_TRUE(CreateFaxTable(dir_ / "QRV.DBF"));
  ASSERT_NE(xb_Use(dir_ / "QRV.DBF", "", xbmExclusive, xbdFOX), 0);
  ASSERT_TRUE(xb_AppendBlank());
  ASSERT_TRUE(xb_Replace("SUBJECT", rkString, "Offer"));
  ASSERT_TRUE(xb_Replace("SENT", rkLogical, "T"));
  ASSERT_TRUE(xb_Replace("DATESENT", rkString, "20261208"));
  ASSERT_TRUE(xb_Replace("TIMESENT", rkString, "09:05"));
  ASSERT_TRUE(xb_Replace("RECIPIENT", rkString, "Smith"));
  ASSERT_TRUE(xb_Replace("PAGES", rkDouble, "3"));
  ASSERT_TRUE(xb_Replace("RTFCOVER", rkString, "{\\rtf1 cover}"));
  ASSERT_TRUE(xb_Replace("RTFDOC", rkString, std::string(2000, 'd') + "\nend"));
  ASSERT_TRUE(xb_AppendBlank());
  ASSERT_TRUE(xb_Replace("SUBJECT", rkString, "Draft"));
  ASSERT_TRUE(xb_Replace("SENT", rkLogical, "F"));
  ASSERT_TRUE(xb_Delete());
  // A structural index beside it must not bother the reader.
  ASSERT_EQ(xb_IndexTag("", "RECIPIENT", "UPPER(RECIPIENT)", 0, false, ".not. deleted()"), 1);
  xb_CloseAll();

  ToolResult r = Py("read.py", dir_ / "QRV.DBF");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("fields subject,sent,datesent,timesent,recipient,phone,pages,lastresult,rtfcover,rtfdoc"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("  Offer|True|2026-12-08|09:05|Smith||3||{\\\\rtf1 cover}|" + std::string(2000, 'd') + "\\nend\n"),
            std::string::npos)
      << r.out.substr(0, 400);
  EXPECT_NE(r.out.find("* Draft|False||||||||\n"), std::string::npos) << r.out.substr(r.out.size() > 300 ? r.out.size() - 300 : 0);
}

TEST_F(PythonDbf, WeReadWhatItWrites) {
  ToolResult w = Py("write.py", dir_.path());
  ASSERT_EQ(w.status, 0) << w.out;

  ASSERT_NE(xb_Use(dir_ / "PY.DBF", "", xbmExclusive, xbdFOX), 0) << xb_LastErrorText();
  EXPECT_EQ(xb_RecCount(), 3u);
  EXPECT_EQ(xb_FieldCount(), 5);
  xb_Go(1);
  EXPECT_EQ(xb_GetTrimString("NAME"), "Alice");
  EXPECT_EQ(xb_GetString("AMOUNT"), "   12.50");
  EXPECT_EQ(xb_GetString("BORN"), "20261208");
  EXPECT_TRUE(xb_GetLogical("OK"));
  size_t len = 0;
  char* m = xb_GetMemo("NOTE", &len);
  ASSERT_NE(m, nullptr) << xb_LastErrorText();
  EXPECT_EQ(std::string(m, len), "memo text\nline 2");
  xb_MemDealloc(m);
  xb_Go(2);
  EXPECT_TRUE(xb_Deleted());
  EXPECT_EQ(xb_GetTrimString("NAME"), "Bob");
  EXPECT_EQ(xb_GetString("BORN"), "        ");
  m = xb_GetMemo("NOTE", &len);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(len, 0u);
  xb_MemDealloc(m);
  xb_Go(3);
  m = xb_GetMemo("NOTE", &len);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(std::string(m, len), std::string(1000, 'x'));
  xb_MemDealloc(m);

  // We can add to its table, index it, pack it, and it still reads the result.
  ASSERT_TRUE(xb_AppendBlank());
  ASSERT_TRUE(xb_Replace("NAME", rkString, "Dave"));
  ASSERT_TRUE(xb_Replace("NOTE", rkString, "added by us"));
  ASSERT_EQ(xb_IndexTag("", "NAME", "UPPER(NAME)", 0, true, ""), 1);
  ASSERT_TRUE(xb_Pack());
  xb_CloseAll();
  ToolResult r = Py("read.py", dir_ / "PY.DBF");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("  Alice|12.5|2026-12-08|True|memo text\\nline 2\n"), std::string::npos) << r.out.substr(0, 600);
  EXPECT_NE(r.out.find("  Dave|"), std::string::npos);
  EXPECT_EQ(r.out.find("Bob"), std::string::npos);

  // A dBase III table of its making, indexed by us.
  ASSERT_NE(xb_Use(dir_ / "PLAIN.DBF", "", xbmExclusive, xbdFOX), 0) << xb_LastErrorText();
  EXPECT_EQ(xb_RecCount(), 50u);
  ASSERT_EQ(xb_IndexTag("", "CODE", "CODE", 0, false, ""), 1);
  xb_GoTop();
  EXPECT_EQ(xb_GetTrimString("CODE"), "K000");
  EXPECT_EQ(xb_GetString("QTY"), "   49");
  xb_CloseAll();
  EXPECT_EQ(Py("read.py", dir_ / "PLAIN.DBF").status, 0);
  for (const char* t : {"PY.DBF", "PLAIN.DBF"})
    for (const auto& problem : CheckTable(dir_ / t)) ADD_FAILURE() << t << ": " << problem;
}
