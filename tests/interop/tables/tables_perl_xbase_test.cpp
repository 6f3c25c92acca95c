// Perl's XBase modules as an outside judge: they read our DBF and FPT files and walk every tag
// of our CDX files, and must find the records, memos and key order we hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <vector>

#include "../../tables/temp_dir.h"
#include "run_tool.h"
#include "tables/cdx_file.h"
#include "tables/work_area.h"
#include "tables/xb_engine.h"
#include "tables/xbase_date.h"

using namespace qv::tables;

namespace {

const char* kDumpTable = R"PERL(
use strict; use XBase;
my $t = XBase->new($ARGV[0]) or die XBase->errstr;
print "fields ", join(",", $t->field_names), "\n";
for my $i (0 .. $t->last_record) {
  my ($del, @v) = $t->get_record($i);
  die $t->errstr unless defined $del;
  s/([\\\n\t])/sprintf("\\x%02x", ord($1))/ge for @v;
  print "rec ", $i + 1, " ", ($del ? "*" : " "), " ", join("\t", map { defined $_ ? $_ : "" } @v), "\n";
}
)PERL";



class PerlXBase : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveCommand("perl -MXBase -MXBase::Index -e 1") || !HaveCommand("command -v index_dump")) GTEST_SKIP() << "Perl XBase is not installed";
    WriteText(dir_ / "dump_table.pl", kDumpTable);
  }
  ToolResult Perl(const std::string& script, const std::string& args) {
    return RunTool("perl '" + (dir_ / script) + "' " + args + " 2>&1");
  }
  // (record, key text) pairs of a tag as the engine stores them (ascending).
  std::vector<std::pair<uint32_t, std::string>> OurTag(const std::string& tag) {
    std::vector<std::pair<uint32_t, std::string>> out;
    WorkArea* wa = xb_CurrentArea();
    IndexTag* t = wa->Tag(wa->TagArea(tag));
    const KeyStore& ks = t->Keys();
    for (KeyStore::Pos p = ks.Begin(); !ks.AtEnd(p); ks.Next(p)) {
      std::string text;
      const uint8_t* k = ks.At(p);
      switch (t->KeyType()) {
        case XType::Char: {
          std::string s(reinterpret_cast<const char*>(k), t->KeyLen());
          text = s.substr(0, s.find_last_not_of(' ') + 1);
          break;
        }
        default: {
          char buf[64];
          std::snprintf(buf, sizeof buf, "%.10g", DecodeNumberKey(k));
          text = buf;
        }
      }
      out.emplace_back(KeyStore::RecnoOf(k, t->KeyLen()), text);
    }
    return out;
  }
  std::vector<std::pair<uint32_t, std::string>> TheirTag(const std::string& table, const std::string& tag,
                                                         const std::string& type) {
    // index_dump (from the same Perl distribution) prints "key recno" per entry.
    ToolResult r = RunTool("index_dump --type=" + type + " '" + (dir_ / table) + "' " + tag + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<std::pair<uint32_t, std::string>> out;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
      auto tab = line.find_last_of(' ');
      if (tab == std::string::npos || tab + 1 == line.size()) {
        ADD_FAILURE() << tag << ": unexpected output line \"" << line << "\"";
        break;
      }
      std::string key = line.substr(0, tab);
      key = key.substr(0, key.find_last_not_of(' ') + 1);
      if (type != "char") {
        char buf[64];
        try {
          std::snprintf(buf, sizeof buf, "%.10g", std::stod(key));
        } catch (const std::exception&) {
          ADD_FAILURE() << tag << ": key is not a number in \"" << line << "\"";
          break;
        }
        key = buf;
      }
      out.emplace_back(static_cast<uint32_t>(std::stoul(line.substr(tab + 1))), key);
    }
    return out;
  }

  TempDir dir_;
};

}  // namespace

TEST_F(PerlXBase, ReadsOurRecordsAndMemos) {
  ASSERT_TRUE(CreateFaxTable(dir_ / "QRV.DBF"));
  ASSERT_NE(xb_Use(dir_ / "QRV.DBF", "", xbmExclusive, xbdFOX), 0);
  struct {
    const char* subject;
    const char* date;
    const char* recipient;
    int pages;
    std::string doc;
  } rows[] = {{"Offer", "20261208", "Smith", 3, "{\\rtf1 offer}"},
              {"Invoice", "20251231", "Jones & Co", 12, std::string(3000, 'x')},
              {"Gone", "20260101", "Adams", 1, "deleted memo"},
              {"No memo", "", "Brown", 0, ""}};
  for (const auto& r : rows) {
    ASSERT_TRUE(xb_AppendBlank());
    ASSERT_TRUE(xb_Replace("SUBJECT", rkString, r.subject));
    ASSERT_TRUE(xb_Replace("DATESENT", rkString, r.date));
    ASSERT_TRUE(xb_Replace("SENT", rkLogical, r.pages > 2 ? "T" : "F"));
    ASSERT_TRUE(xb_Replace("RECIPIENT", rkString, r.recipient));
    ASSERT_TRUE(xb_Replace("PAGES", rkDouble, std::to_string(r.pages)));
    ASSERT_TRUE(xb_Replace("RTFDOC", rkString, r.doc));
  }
  xb_Go(3);
  ASSERT_TRUE(xb_Delete());
  xb_CloseAll();

  ToolResult r = Perl("dump_table.pl", "'" + (dir_ / "QRV.DBF") + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("fields SUBJECT,SENT,DATESENT,TIMESENT,RECIPIENT,PHONE,PAGES,LASTRESULT,RTFCOVER,RTFDOC\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("rec 1   Offer\t1\t20261208\t\tSmith\t\t3\t\t\t{\\x5crtf1 offer}\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("rec 2   Invoice\t1\t20251231\t\tJones & Co\t\t12\t\t\t" + std::string(3000, 'x') + "\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("rec 3 * Gone\t0\t20260101\t\tAdams\t\t1\t\t\tdeleted memo\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("rec 4   No memo\t0\t\t\tBrown\t\t0\t\t\t\n"), std::string::npos) << r.out;
}

TEST_F(PerlXBase, WalksEveryTagInOurOrderWithOurKeys) {
  ASSERT_TRUE(CreateFaxTable(dir_ / "QRV.DBF"));
  ASSERT_NE(xb_Use(dir_ / "QRV.DBF", "", xbmExclusive, xbdFOX), 0);
  // The fax store's four tags after a rebuild, plus numeric and date tags.
  ASSERT_EQ(xb_IndexTag("", "DATESENT", "datesent", 0, true, ".not. deleted()"), 1);
  ASSERT_EQ(xb_IndexTag("", "DATEND", "DTOS(DATESENT)+TIMESENT", 0, false, ".not. deleted()"), 2);
  ASSERT_EQ(xb_IndexTag("", "SUBJECT", "UPPER(SUBJECT)", 0, false, ".not. deleted()"), 3);
  ASSERT_EQ(xb_IndexTag("", "RECIPIENT", "UPPER(RECIPIENT)", 0, false, ".not. deleted()"), 4);
  ASSERT_EQ(xb_IndexTag("", "PAGES", "PAGES", 0, false, ""), 5);
  // Enough records for trees of more than one level, added after the tags so every key is
  // placed by the upkeep, not by a bulk build.
  std::vector<uint8_t> rec(static_cast<size_t>(xb_RecSize()));
  for (int i = 0; i < 4000; ++i) {
    ASSERT_TRUE(xb_AppendBlank());
    xb_GetRecord(rec.data());
    char buf[300];
    int n = std::snprintf(buf, sizeof buf, "%-50s", ("Subject " + std::to_string((i * 37) % 1001)).c_str());
    std::copy(buf, buf + n, rec.begin() + 1);
    std::string date = DtosFromJdn(JdnFromYmd(2020, 1, 1) + (i * 13) % 2000);
    if (i % 97 == 0) date = "        ";
    std::copy(date.begin(), date.end(), rec.begin() + 53);
    std::snprintf(buf, sizeof buf, "%02d:%02d", (i / 60) % 24, i % 60);
    std::copy(buf, buf + 5, rec.begin() + 61);
    std::snprintf(buf, sizeof buf, "%-35s", (i % 3 ? "Smith" : "Recipient " + std::to_string(i % 500)).c_str());
    std::copy(buf, buf + 35, rec.begin() + 66);
    std::snprintf(buf, sizeof buf, "%2d", i % 99);
    std::copy(buf, buf + 2, rec.begin() + 126);
    if (i % 11 == 0) rec[0] = '*';
    ASSERT_TRUE(xb_PutRecord(rec.data()));
  }
  struct {
    const char* tag;
    const char* type;
  } tags[] = {  // Perl reads date keys as the Julian day numbers they hold
      {"DATESENT", "num"}, {"DATEND", "char"}, {"SUBJECT", "char"}, {"RECIPIENT", "char"}, {"PAGES", "num"}};
  std::vector<std::vector<std::pair<uint32_t, std::string>>> ours;
  for (const auto& t : tags) ours.push_back(OurTag(t.tag));
  EXPECT_EQ(ours[3].size(), 4000u - 364);  // every eleventh record is deleted and left out
  xb_CloseAll();
  for (size_t i = 0; i < std::size(tags); ++i) {
    auto theirs = TheirTag("QRV.CDX", tags[i].tag, tags[i].type);
    ASSERT_EQ(theirs.size(), ours[i].size()) << tags[i].tag;
    EXPECT_TRUE(theirs == ours[i]) << tags[i].tag;
  }
  // The DATESENT tag is descending: its stored order is ascending, our walk runs backwards.
  ASSERT_NE(xb_Use(dir_ / "QRV.DBF", "", xbmExclusive, xbdFOX), 0);
  xb_SetOrder(xb_TagArea("DATESENT"));
  std::vector<uint32_t> walk;
  for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) walk.push_back(xb_RecNo());
  std::vector<uint32_t> stored;
  for (const auto& [r, k] : ours[0]) stored.push_back(r);
  std::reverse(stored.begin(), stored.end());
  EXPECT_EQ(walk, stored);
}

TEST_F(PerlXBase, ReadsWideRecordNumbers) {
  // Past 65535 records a leaf entry needs more than two bytes for the record number.
  ASSERT_TRUE(xb_CreateNew(dir_ / "BIG.DBF", "XXXXXXXXXX", xbdFOX, 1));
  ASSERT_TRUE(xb_CreateField("CODE", 'C', 40, 0));
  ASSERT_TRUE(xb_CreateExec());
  ASSERT_NE(xb_Use(dir_ / "BIG.DBF", "", xbmExclusive, xbdFOX), 0);
  std::vector<uint8_t> rec(static_cast<size_t>(xb_RecSize()), ' ');
  for (int i = 0; i < 70000; ++i) {
    ASSERT_TRUE(xb_AppendBlank());
    std::string code = "C" + std::to_string((i * 7919) % 70001);
    std::copy(code.begin(), code.end(), rec.begin() + 1);
    std::fill(rec.begin() + 1 + static_cast<std::ptrdiff_t>(code.size()), rec.end(), ' ');
    ASSERT_TRUE(xb_PutRecord(rec.data()));
  }
  ASSERT_EQ(xb_IndexTag("", "CODE", "CODE", 0, false, ""), 1);
  auto ours = OurTag("CODE");
  xb_CloseAll();
  auto theirs = TheirTag("BIG.CDX", "CODE", "char");
  ASSERT_EQ(theirs.size(), 70000u);
  EXPECT_TRUE(theirs == ours);
  EXPECT_GT(*std::max_element(theirs.begin(), theirs.end()), std::make_pair(65536u, std::string()));
}
