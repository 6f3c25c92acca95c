// Compound indexes: tags with character, date and numeric keys, FOR conditions, descending
// order, seeking, upkeep on every change, the file layout and recovery from damage.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "tables/cdx_file.h"
#include "tables/table_check.h"
#include "tables/xb_engine.h"
#include "tables/xbase_error.h"
#include "temp_dir.h"

using namespace qv::tables;

namespace {

uint16_t Le16(const std::string& s, size_t o) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[o]) | (static_cast<uint8_t>(s[o + 1]) << 8));
}
uint32_t Le32(const std::string& s, size_t o) {
  return static_cast<uint32_t>(Le16(s, o)) | (static_cast<uint32_t>(Le16(s, o + 2)) << 16);
}

// Tag names and header offsets from the directory leaf of a one-page directory.
std::vector<std::pair<std::string, uint32_t>> Directory(const std::string& cdx) {
  std::vector<std::pair<std::string, uint32_t>> out;
  uint32_t root = Le32(cdx, 0);
  const char* page = cdx.data() + root;
  int n = Le16(cdx, root + 2);
  int nb = static_cast<uint8_t>(page[23]), rb = static_cast<uint8_t>(page[20]), db = static_cast<uint8_t>(page[21]);
  std::string prev(10, ' ');
  size_t pos = 512;
  for (int i = 0; i < n; ++i) {
    uint64_t v = 0;
    for (int k = 0; k < nb; ++k) v |= static_cast<uint64_t>(static_cast<uint8_t>(page[24 + i * nb + k])) << (8 * k);
    uint32_t off = static_cast<uint32_t>(v & ((1ull << rb) - 1));
    int dup = static_cast<int>((v >> rb) & 15), trail = static_cast<int>((v >> (rb + db)) & 15);
    size_t len = static_cast<size_t>(10 - dup - trail);
    pos -= len;
    std::string key = prev.substr(0, static_cast<size_t>(dup)) + std::string(page + pos, len) +
                      std::string(static_cast<size_t>(trail), ' ');
    prev = key;
    out.emplace_back(key.substr(0, key.find_last_not_of(' ') + 1), off);
  }
  return out;
}

struct Row {
  const char* date;
  const char* time;
  const char* recipient;
  int pages;
};

class Cdx : public ::testing::Test {
 protected:
  void SetUp() override {
    xb_SetDeleted(true);
    ASSERT_TRUE(CreateFaxTable(dir_ / "QRV.DBF"));
    Open();
    const Row rows[] = {{"20261208", "09:05", "Smith", 3}, {"20251231", "23:59", "jones", 12},
                        {"20261208", "08:00", "SMITH", 1}, {"", "", "Adams", 0},
                        {"20260101", "12:00", "Brown", 7}};
    for (const Row& r : rows) {
      ASSERT_TRUE(xb_AppendBlank());
      ASSERT_TRUE(xb_Replace("DATESENT", rkString, r.date));
      ASSERT_TRUE(xb_Replace("TIMESENT", rkString, r.time));
      ASSERT_TRUE(xb_Replace("RECIPIENT", rkString, r.recipient));
      ASSERT_TRUE(xb_Replace("PAGES", rkDouble, std::to_string(r.pages)));
    }
  }
  void TearDown() override {
    xb_SetDeleted(false);
    // Whatever a test did, the files it leaves behind must agree with each other.
    xb_CloseAll();
    for (const auto& problem : CheckTable(dir_ / "QRV.DBF")) ADD_FAILURE() << problem;
  }
  void Open() { ASSERT_NE(xb_Use(dir_ / "QRV.DBF", "", xbmExclusive, xbdFOX), 0) << xb_LastErrorText(); }
  void MakeTags() {
    ASSERT_EQ(xb_IndexTag("", "DATESENT", "DTOS(DATESENT)+TIMESENT", 0, true, ".not. deleted()"), 1)
        << xb_LastErrorText();
    ASSERT_EQ(xb_IndexTag("", "DATEND", "DTOS(DATESENT)+TIMESENT", 0, false, ".not. deleted()"), 2);
    ASSERT_EQ(xb_IndexTag("", "RECIPIENT", "UPPER(RECIPIENT)", 0, false, ".not. deleted()"), 3);
    ASSERT_EQ(xb_IndexTag("", "PAGES", "PAGES", 0, false, ""), 4);
    ASSERT_EQ(xb_IndexTag("", "DAY", "DATESENT", 0, true, ""), 5);
  }
  std::vector<uint32_t> Walk(const std::string& tag) {
    xb_SetOrder(xb_TagArea(tag));
    std::vector<uint32_t> out;
    for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) out.push_back(xb_RecNo());
    std::vector<uint32_t> back;
    for (xb_GoBottom(); !xb_Bof(); xb_Skip(-1)) back.insert(back.begin(), xb_RecNo());
    EXPECT_EQ(out, back) << "tag " << tag << " walks differently backwards";
    return out;
  }

  TempDir dir_;
};

using V = std::vector<uint32_t>;

}  // namespace

TEST_F(Cdx, TagsOrderTheTable) {
  MakeTags();
  EXPECT_EQ(Walk("DATEND"), (V{4, 2, 5, 3, 1}));
  EXPECT_EQ(Walk("DATESENT"), (V{1, 3, 5, 2, 4}));
  EXPECT_EQ(Walk("RECIPIENT"), (V{4, 5, 2, 1, 3}));  // equal keys in record order
  EXPECT_EQ(Walk("PAGES"), (V{4, 3, 1, 5, 2}));       // numbers, not text
  EXPECT_EQ(Walk("DAY"), (V{3, 1, 5, 2, 4}));          // descending: equal keys in reverse record order
  EXPECT_EQ(xb_TagName(3), "RECIPIENT");
  EXPECT_EQ(xb_IndexKey(4), "PAGES");
  EXPECT_EQ(xb_IndexKeyField(4), 7);
  EXPECT_EQ(xb_IndexKeyField(3), 0);
  EXPECT_EQ(xb_TagArea("nosuch"), 0);
  EXPECT_EQ(xb_SetOrder(0), 5);
  EXPECT_EQ(Walk(""), (V{1, 2, 3, 4, 5}));
  EXPECT_FALSE(xb_SetOrder(9) != 0 || xb_LastError() == 0);
}

TEST_F(Cdx, TagsAreKeptUpToDateOnEveryChange) {
  MakeTags();
  xb_SetOrder(xb_TagArea("RECIPIENT"));
  xb_Go(5);
  ASSERT_TRUE(xb_Replace("RECIPIENT", rkString, "Zed"));
  EXPECT_EQ(Walk("RECIPIENT"), (V{4, 2, 1, 3, 5}));
  xb_Go(2);
  ASSERT_TRUE(xb_Delete());  // the FOR condition drops it from the tag
  EXPECT_EQ(Walk("RECIPIENT"), (V{4, 1, 3, 5}));
  xb_SetDeleted(false);
  EXPECT_EQ(Walk("RECIPIENT"), (V{4, 1, 3, 5}));
  EXPECT_EQ(Walk("PAGES"), (V{4, 3, 1, 5, 2}));  // no FOR: still there
  xb_Go(2);
  ASSERT_TRUE(xb_Recall());
  EXPECT_EQ(Walk("RECIPIENT"), (V{4, 2, 1, 3, 5}));
  ASSERT_TRUE(xb_AppendBlank());
  ASSERT_TRUE(xb_Replace("RECIPIENT", rkString, "Baker"));
  EXPECT_EQ(Walk("RECIPIENT"), (V{4, 6, 2, 1, 3, 5}));
  EXPECT_EQ(Walk("DATEND"), (V{4, 6, 2, 5, 3, 1}));
  // Closing saves the tags; reopening finds them as they were.
  xb_CloseAll();
  Open();
  EXPECT_EQ(xb_IndexOrd(), 0);
  EXPECT_EQ(xb_TagArea("RECIPIENT"), 3);
  EXPECT_EQ(Walk("RECIPIENT"), (V{4, 6, 2, 1, 3, 5}));
  EXPECT_EQ(Walk("DAY"), (V{3, 1, 5, 2, 6, 4}));
}

TEST_F(Cdx, SeekFindsKeysInBothDirections) {
  MakeTags();
  xb_SetOrder(xb_TagArea("RECIPIENT"));
  EXPECT_TRUE(xb_Seek("SMITH"));
  EXPECT_EQ(xb_RecNo(), 1u);
  xb_Skip(1);
  EXPECT_EQ(xb_RecNo(), 3u);
  EXPECT_TRUE(xb_Seek("JO"));  // a prefix is enough unless EXACT is on
  EXPECT_EQ(xb_RecNo(), 2u);
  EXPECT_EQ(xb_KeyData().substr(0, 6), "JONES ");
  xb_SetExact(true);
  EXPECT_FALSE(xb_Seek("JO"));
  xb_SetExact(false);
  EXPECT_FALSE(xb_Seek("CARTER"));
  EXPECT_TRUE(xb_Eof());
  xb_SetSoftSeek(true);
  EXPECT_FALSE(xb_Seek("CARTER"));
  EXPECT_EQ(xb_RecNo(), 2u);  // soft seek stops on the next key
  xb_SetSoftSeek(false);
  xb_SetOrder(xb_TagArea("DAY"));  // descending date tag: the highest record of equal keys first
  EXPECT_TRUE(xb_Seek("20261208"));
  EXPECT_EQ(xb_RecNo(), 3u);
  xb_Skip(1);
  EXPECT_EQ(xb_RecNo(), 1u);
  xb_SetOrder(xb_TagArea("PAGES"));
  EXPECT_TRUE(xb_Seek("7"));
  EXPECT_EQ(xb_RecNo(), 5u);
  xb_SetOrder(0);
  EXPECT_FALSE(xb_Seek("7"));
}

TEST_F(Cdx, BadTagDefinitionsAreRefused) {
  EXPECT_EQ(xb_IndexTag("", "BAD", "NOSUCHFIELD", 0, false, ""), 0);
  EXPECT_EQ(xb_LastError(), qv::core::ecExprUnknownName);
  EXPECT_EQ(xb_IndexTag("", "BAD", "RECIPIENT", 0, false, "RECIPIENT"), 0);
  EXPECT_EQ(xb_LastError(), qv::core::ecExprType);
  EXPECT_EQ(xb_IndexTag("", "ELEVENCHARS", "RECIPIENT", 0, false, ""), 0);
  EXPECT_EQ(xb_IndexTag("", "WIDE", "LASTRESULT+LASTRESULT+LASTRESULT", 0, false, ""), 0);
  EXPECT_EQ(xb_IndexOrd(), 0);
}

TEST_F(Cdx, FileLayoutFollowsTheCompactFormat) {
  MakeTags();
  xb_CloseAll();
  std::string cdx = ReadFileBytes(dir_ / "QRV.CDX");
  ASSERT_EQ(cdx.size() % 512, 0u);
  EXPECT_EQ(Le16(cdx, 12), 10);  // directory keys are tag names
  EXPECT_EQ(static_cast<uint8_t>(cdx[14]), 0xE0);
  EXPECT_EQ(cdx[15], 1);
  EXPECT_EQ(std::memcmp(cdx.data() + 16, "\0\0\0\0", 4), 0);  // no stale mark after a clean close
  // The table says it has a structural index.
  EXPECT_EQ(static_cast<uint8_t>(ReadFileBytes(dir_ / "QRV.DBF")[28]) & 1, 1);

  // Directory leaf: five names in order, offsets of 1024-byte tag headers.
  uint32_t root = Le32(cdx, 0);
  ASSERT_EQ(root % 512, 0u);
  const char* page = cdx.data() + root;
  EXPECT_EQ(Le16(cdx, root), 3);  // root and leaf
  ASSERT_EQ(Le16(cdx, root + 2), 5);
  int nb = static_cast<uint8_t>(page[23]);
  int rb = static_cast<uint8_t>(page[20]);
  int db = static_cast<uint8_t>(page[21]);
  EXPECT_EQ(db, 4);
  std::vector<std::string> names;
  std::string prev(10, ' ');
  size_t pos = 512;
  for (int i = 0; i < 5; ++i) {
    uint64_t v = 0;
    for (int k = 0; k < nb; ++k) v |= static_cast<uint64_t>(static_cast<uint8_t>(page[24 + i * nb + k])) << (8 * k);
    uint32_t off = static_cast<uint32_t>(v & ((1ull << rb) - 1));
    int dup = static_cast<int>((v >> rb) & 15), trail = static_cast<int>((v >> (rb + db)) & 15);
    size_t n = static_cast<size_t>(10 - dup - trail);
    pos -= n;
    std::string key = prev.substr(0, static_cast<size_t>(dup)) + std::string(page + pos, n) + std::string(static_cast<size_t>(trail), ' ');
    prev = key;
    names.push_back(key.substr(0, key.find_last_not_of(' ') + 1));
    // The tag header this entry points to carries the key expression in its pool.
    ASSERT_EQ(off % 512, 0u);
    std::string pool(cdx.data() + off + 512);
    if (names.back() == "RECIPIENT") {
      EXPECT_EQ(pool, "UPPER(RECIPIENT)");
      EXPECT_EQ(std::string(cdx.data() + off + 512 + pool.size() + 1), ".not. deleted()");
      EXPECT_EQ(static_cast<uint8_t>(cdx[off + 14]), 0x68);  // compact, compound, FOR
      EXPECT_EQ(Le16(cdx, off + 12), 35);
      EXPECT_EQ(Le16(cdx, off + 502), 0);
      EXPECT_EQ(Le16(cdx, off + 504), 17);
      EXPECT_EQ(Le16(cdx, off + 506), 16);
      EXPECT_EQ(Le16(cdx, off + 510), 17);
    }
    if (names.back() == "DAY") {
      EXPECT_EQ(Le16(cdx, off + 502), 1);
      EXPECT_EQ(Le16(cdx, off + 12), 8);
      EXPECT_EQ(static_cast<uint8_t>(cdx[off + 14]), 0x60);
      EXPECT_EQ(Le16(cdx, off + 506), 1);
    }
  }
  EXPECT_EQ(names, (std::vector<std::string>{"DATEND", "DATESENT", "DAY", "PAGES", "RECIPIENT"}));
}

TEST(CdxKeys, NumbersAndDatesEncodeAsDocumented) {
  auto enc = [](double v) {
    uint8_t b[8];
    EncodeNumberKey(v, b);
    return std::string(reinterpret_cast<char*>(b), 8);
  };
  EXPECT_EQ(enc(0), std::string("\x80\0\0\0\0\0\0\0", 8));
  EXPECT_EQ(enc(-0.0), enc(0));
  EXPECT_EQ(enc(1.0), std::string("\xBF\xF0\0\0\0\0\0\0", 8));
  EXPECT_EQ(enc(12.5), std::string("\xC0\x29\0\0\0\0\0\0", 8));
  EXPECT_EQ(enc(-1.0), std::string("\x40\x0F\xFF\xFF\xFF\xFF\xFF\xFF", 8));
  EXPECT_EQ(enc(2451545), std::string("\xC1\x42\xB4\x2C\x80\0\0\0", 8));  // 2000-01-01
  EXPECT_LT(enc(-3), enc(-1));
  EXPECT_LT(enc(-1), enc(0));
  EXPECT_LT(enc(0), enc(0.001));
  uint8_t b[8];
  EncodeNumberKey(-3.25, b);
  EXPECT_EQ(DecodeNumberKey(b), -3.25);
}

TEST_F(Cdx, ManyRecordsMakeADeeperTreeThatReadsBack) {
  ASSERT_EQ(xb_IndexTag("", "RECIPIENT", "UPPER(RECIPIENT)", 0, false, ".not. deleted()"), 1);
  ASSERT_EQ(xb_IndexTag("", "DATEND", "DTOS(DATESENT)+TIMESENT", 0, true, ""), 2);
  std::mt19937 rng(42);
  for (int i = 0; i < 3000; ++i) {
    ASSERT_TRUE(xb_AppendBlank());
    std::string name = "N" + std::to_string(rng() % 100000);
    ASSERT_TRUE(xb_Replace("RECIPIENT", rkString, name));
    char date[16];
    std::snprintf(date, sizeof date, "2026%02u%02u", static_cast<unsigned>(1 + rng() % 12), static_cast<unsigned>(1 + rng() % 28));
    ASSERT_TRUE(xb_Replace("DATESENT", rkString, date));
    if (i % 7 == 0) {
      ASSERT_TRUE(xb_Delete());
    }
  }
  auto before = Walk("RECIPIENT");
  auto beforeDate = Walk("DATEND");
  EXPECT_EQ(before.size(), xb_QueryRecCount());
  xb_CloseAll();
  std::string cdx = ReadFileBytes(dir_ / "QRV.CDX");
  for (const auto& [name, off] : Directory(cdx)) EXPECT_EQ(Le16(cdx, Le32(cdx, off)), 1) << name << ": interior root";
  Open();
  EXPECT_EQ(Walk("RECIPIENT"), before);
  EXPECT_EQ(Walk("DATEND"), beforeDate);
  // A rebuild sorts all keys at once (a different path from inserting them one by one) and
  // must give the same order, ties between equal keys by record number included.
  ASSERT_TRUE(xb_Reindex());
  EXPECT_EQ(Walk("RECIPIENT"), before);
  EXPECT_EQ(Walk("DATEND"), beforeDate);
}

TEST_F(Cdx, ChangesAfterTheLastSaveAreNotTrusted) {
  MakeTags();
  ASSERT_TRUE(xb_Commit());  // index file now matches the table
  std::string clean = ReadFileBytes(dir_ / "QRV.CDX");
  xb_Go(4);
  ASSERT_TRUE(xb_Replace("RECIPIENT", rkString, "Zulu"));
  // The file on disk is marked stale at once, before the table changes.
  std::string marked = ReadFileBytes(dir_ / "QRV.CDX");
  EXPECT_EQ(marked.substr(16, 4), "QVDT");
  // Simulate a kill: the table has the change, the index file does not.
  std::string dbf = ReadFileBytes(dir_ / "QRV.DBF");
  xb_CloseAll();
  WriteFileBytes(dir_ / "QRV.DBF", dbf);
  WriteFileBytes(dir_ / "QRV.CDX", marked);
  Open();
  EXPECT_EQ(Walk("RECIPIENT"), (V{5, 2, 1, 3, 4}));  // rebuilt from the table
  xb_CloseAll();
  EXPECT_EQ(ReadFileBytes(dir_ / "QRV.CDX").substr(16, 4), std::string(4, '\0'));
}

TEST_F(Cdx, DamagedIndexFilesAreRebuiltOrReported) {
  MakeTags();
  xb_CloseAll();
  std::string good = ReadFileBytes(dir_ / "QRV.CDX");
  auto expectIntact = [&]() {
    EXPECT_EQ(Walk("RECIPIENT"), (V{4, 5, 2, 1, 3}));
    EXPECT_EQ(Walk("DAY"), (V{3, 1, 5, 2, 4}));
  };
  // Scribble over the root page of every tag but leave the headers: every tag is rebuilt.
  std::string bad = good;
  auto dir = Directory(good);
  ASSERT_EQ(dir.size(), 5u);
  for (const auto& [name, off] : dir) {
    uint32_t root = Le32(good, off);
    for (size_t k = 0; k < 512; k += 3) bad[root + k] = static_cast<char>(k * 13 + 1);
  }
  WriteFileBytes(dir_ / "QRV.CDX", bad);
  Open();
  expectIntact();
  xb_CloseAll();
  // A cut-off file cannot even list its tags: a clear error.
  WriteFileBytes(dir_ / "QRV.CDX", good.substr(0, 700));
  EXPECT_EQ(xb_Use(dir_ / "QRV.DBF", "", xbmExclusive, xbdFOX), 0);
  EXPECT_EQ(xb_LastError(), qv::core::ecIndexCorrupt);
  // Keys pointing past the table (an index from a longer table) are rebuilt too.
  WriteFileBytes(dir_ / "QRV.CDX", good);
  Open();
  xb_Go(5);
  ASSERT_TRUE(xb_Commit());
  xb_CloseAll();
  std::string dbf = ReadFileBytes(dir_ / "QRV.DBF");
  dbf[4] = 4;  // one record fewer
  WriteFileBytes(dir_ / "QRV.DBF", dbf);
  Open();
  EXPECT_EQ(Walk("DAY"), (V{3, 1, 2, 4}));
}

TEST_F(Cdx, ExtraIndexFilesAndClosing) {
  ASSERT_EQ(xb_IndexTag("EXTRA", "PHONE", "PHONE", 0, false, ""), 1) << xb_LastErrorText();
  EXPECT_TRUE(std::filesystem::exists(dir_ / "EXTRA.CDX"));
  EXPECT_EQ(xb_IndexName(1), dir_ / "EXTRA.CDX");
  ASSERT_TRUE(xb_CloseIndexes());
  EXPECT_EQ(xb_IndexOrd(), 0);
  EXPECT_EQ(xb_TagArea("PHONE"), 0);
  EXPECT_EQ(xb_IndexOpen("EXTRA"), 1);
  EXPECT_EQ(xb_TagArea("PHONE"), 1);
  EXPECT_EQ(xb_IndexOpen("MISSING.CDX"), 0);
  EXPECT_EQ(xb_LastError(), qv::core::ecTableOpenFailed);
}

TEST_F(Cdx, ClosedStructuralIndexIsMarkedStaleByLaterChanges) {
  MakeTags();
  ASSERT_TRUE(xb_CloseIndexes());
  xb_Go(1);
  ASSERT_TRUE(xb_Replace("RECIPIENT", rkString, "Aaron"));
  xb_CloseAll();
  Open();  // the structural index opens again and is rebuilt because it missed a change
  EXPECT_EQ(Walk("RECIPIENT"), (V{1, 4, 5, 2, 3}));
}

// A rebuild sorts every tag's keys at once, with short cuts for shared prefixes, keys of two
// shapes and ties; whatever the keys look like, it must give exactly the order (and for a
// unique tag exactly the records) that adding the records one by one gave.
TEST_F(Cdx, RebuildGivesTheInsertOrderForEveryKeyShape) {
  const char* tags[][3] = {
      {"SUBJECT", "SUBJECT", ""},                          // long, a shared prefix, many ties
      {"RECIPIENT", "UPPER(RECIPIENT)", ".not. deleted()"},  // two shapes of key
      {"PAGES", "PAGES", "PAGES > 3"},                     // numbers, few distinct
      {"DATEND", "DTOS(DATESENT)+TIMESENT", ""},           // dates and times, ties
      {"SENT", "SENT", ""},                                // two keys only
      {"UNIQ", "UPPER(RECIPIENT)", ""},                    // unique: first record of each key
      {"TRIMMED", "TRIM(PHONE)+SUBJECT", ""},              // evaluated, not copied
  };
  for (const auto& t : tags) {
    const std::string name = t[0];
    ASSERT_GT(xb_IndexTag("", name, t[1], name == "UNIQ" ? 1 : 0, name == "PAGES", t[2]), 0) << xb_LastErrorText();
  }
  std::mt19937 rng(5);
  std::vector<uint8_t> rec(static_cast<size_t>(xb_RecSize()));
  auto put = [&](size_t off, size_t width, const std::string& text) {
    std::fill(rec.begin() + static_cast<std::ptrdiff_t>(off), rec.begin() + static_cast<std::ptrdiff_t>(off + width), ' ');
    std::memcpy(rec.data() + off, text.data(), std::min(width, text.size()));
  };
  for (int i = 0; i < 4000; ++i) {
    std::fill(rec.begin(), rec.end(), ' ');
    rec[0] = rng() % 9 == 0 ? '*' : ' ';
    put(1, 50, "Monthly report number " + std::to_string(rng() % 700));
    put(51, 1, rng() % 2 ? "T" : "F");
    char date[16];
    std::snprintf(date, sizeof date, "20%02u%02u%02u", static_cast<unsigned>(20 + rng() % 3),
                  static_cast<unsigned>(1 + rng() % 12), static_cast<unsigned>(1 + rng() % 28));
    put(52, 8, rng() % 50 == 0 ? "" : date);
    put(60, 5, std::to_string(10 + rng() % 3) + ":" + std::to_string(10 + rng() % 4));
    put(65, 35, rng() % 20 == 0 ? "  smith" : "Recipient " + std::to_string(rng() % 1500));
    put(100, 25, std::to_string(rng() % 40));
    put(125, 2, std::to_string(rng() % 12));
    ASSERT_TRUE(xb_AppendRecord(rec.data())) << xb_LastErrorText();
  }
  std::map<std::string, V> inserted;
  for (const auto& t : tags) inserted[t[0]] = Walk(t[0]);
  EXPECT_GT(inserted["PAGES"].size(), 1000u);
  ASSERT_TRUE(xb_Reindex()) << xb_LastErrorText();
  for (const auto& t : tags) EXPECT_EQ(Walk(t[0]), inserted[t[0]]) << "tag " << t[0];
  // And as written to the file and read back.
  xb_CloseAll();
  Open();
  for (const auto& t : tags) EXPECT_EQ(Walk(t[0]), inserted[t[0]]) << "tag " << t[0] << " read back";
}
