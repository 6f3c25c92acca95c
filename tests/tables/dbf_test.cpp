// DBF and FPT files through the engine: creation, byte layout, records, memos, locking and
// damaged files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "tables/dbf_file.h"
#include "tables/xb_engine.h"
#include "tables/xbase_error.h"
#include "temp_dir.h"

using namespace qv::tables;

namespace {

uint32_t Le32(const std::string& s, size_t off) {
  return static_cast<uint8_t>(s[off]) | (static_cast<uint8_t>(s[off + 1]) << 8) |
         (static_cast<uint8_t>(s[off + 2]) << 16) | (static_cast<uint32_t>(static_cast<uint8_t>(s[off + 3])) << 24);
}

int OpenFax(const TempDir& d) { return xb_Use(d / "QRV.DBF", "", xbmExclusive, xbdFOX); }

}  // namespace

TEST(DbfFile, CreatedFilesHaveTheFoxProLayout) {
  TempDir d;
  ASSERT_TRUE(CreateFaxTable(d / "QRV.DBF")) << xb_LastErrorText();
  std::string dbf = ReadFileBytes(d / "QRV.DBF");
  ASSERT_EQ(dbf.size(), 32u + 32 * 10 + 1 + 1);
  EXPECT_EQ(static_cast<uint8_t>(dbf[0]), 0xF5);  // memo fields present
  EXPECT_EQ(Le32(dbf, 4), 0u);
  EXPECT_EQ(static_cast<uint8_t>(dbf[8]) | (static_cast<uint8_t>(dbf[9]) << 8), 32 + 320 + 1);
  int recLen = static_cast<uint8_t>(dbf[10]) | (static_cast<uint8_t>(dbf[11]) << 8);
  EXPECT_EQ(recLen, 1 + 50 + 1 + 8 + 5 + 35 + 25 + 2 + 100 + 10 + 10);
  EXPECT_EQ(dbf.substr(32, 7), "SUBJECT");
  EXPECT_EQ(dbf[32 + 11], 'C');
  EXPECT_EQ(Le32(dbf, 32 + 12), 1u);  // displacement of the first field
  EXPECT_EQ(static_cast<uint8_t>(dbf[32 + 16]), 50);
  EXPECT_EQ(dbf[32 + 32 * 6 + 11], 'N');
  EXPECT_EQ(static_cast<uint8_t>(dbf[32 + 32 * 6 + 16]), 2);
  EXPECT_EQ(dbf[32 + 32 * 8 + 11], 'M');
  EXPECT_EQ(static_cast<uint8_t>(dbf[32 + 32 * 8 + 16]), 10);
  EXPECT_EQ(dbf[352], '\x0D');
  EXPECT_EQ(dbf[353], '\x1A');

  std::string fpt = ReadFileBytes(d / "QRV.FPT");
  ASSERT_EQ(fpt.size(), 512u);
  EXPECT_EQ(fpt.substr(0, 4), std::string("\0\0\0\x08", 4));  // first free block 8 of 64 bytes
  EXPECT_EQ(fpt.substr(6, 2), std::string("\0\x40", 2));

  ASSERT_TRUE(xb_CreateNew(d / "QRVPB.DBF", "XXXXXXXXXX", xbdFOX, 2));
  ASSERT_TRUE(xb_CreateField("NAME", 'C', 35, 0));
  ASSERT_TRUE(xb_CreateField("PHONE", 'C', 25, 0));
  ASSERT_TRUE(xb_CreateExec());
  EXPECT_EQ(static_cast<uint8_t>(ReadFileBytes(d / "QRVPB.DBF")[0]), 0x03);
  EXPECT_FALSE(std::filesystem::exists(d / "QRVPB.FPT"));
}

TEST(DbfFile, BadDefinitionsAreRefusedWithTheirReason) {
  TempDir d;
  ASSERT_TRUE(xb_CreateNew(d / "A.DBF", "XXXXXXXXXX", xbdFOX, 2));
  EXPECT_FALSE(xb_CreateField("TOOLONGNAME1", 'C', 5, 0));
  EXPECT_NE(xb_LastErrorText().find("TOOLONGNAME1"), std::string::npos);
  EXPECT_TRUE(xb_CreateField("A", 'C', 5, 0));
  EXPECT_FALSE(xb_CreateField("B", 'X', 5, 0));
  EXPECT_FALSE(xb_CreateExec());  // only one of two fields was accepted
  EXPECT_FALSE(std::filesystem::exists(d / "A.DBF"));
}

TEST(DbfFile, RecordsAndFieldsRoundTripThroughTheFile) {
  TempDir d;
  ASSERT_TRUE(CreateFaxTable(d / "QRV.DBF"));
  ASSERT_NE(OpenFax(d), 0) << xb_LastErrorText();
  EXPECT_EQ(xb_RecCount(), 0u);
  EXPECT_TRUE(xb_Eof());
  EXPECT_TRUE(xb_Bof());
  ASSERT_TRUE(xb_AppendBlank());
  ASSERT_TRUE(xb_Replace("SUBJECT", rkString, "Quarterly report"));
  ASSERT_TRUE(xb_Replace("SENT", rkLogical, "T"));
  ASSERT_TRUE(xb_Replace("DATESENT", rkString, "20261208"));
  ASSERT_TRUE(xb_Replace("TIMESENT", rkString, "09:05"));
  ASSERT_TRUE(xb_Replace("PAGES", rkDouble, "3"));
  ASSERT_TRUE(xb_Replace("RECIPIENT", rkString, "A name that is far longer than thirty-five characters"));
  ASSERT_TRUE(xb_AppendBlank());
  ASSERT_TRUE(xb_Replace("SUBJECT", rkString, "Second"));
  ASSERT_TRUE(xb_Close());

  ASSERT_NE(OpenFax(d), 0);
  EXPECT_EQ(xb_RecCount(), 2u);
  xb_Go(1);
  EXPECT_EQ(xb_GetTrimString("SUBJECT"), "Quarterly report");
  EXPECT_EQ(xb_GetString("SUBJECT").size(), 50u);
  EXPECT_TRUE(xb_GetLogical("SENT"));
  EXPECT_EQ(xb_GetString("DATESENT"), "20261208");
  EXPECT_EQ(xb_GetString("PAGES"), " 3");
  EXPECT_EQ(xb_GetString("RECIPIENT"), "A name that is far longer than thir");
  xb_Go(2);
  EXPECT_FALSE(xb_GetLogical("SENT"));
  EXPECT_EQ(xb_GetString("DATESENT"), "        ");
  EXPECT_EQ(xb_FieldNum("pages"), 7);
  EXPECT_EQ(xb_FieldType(7), 'N');
  EXPECT_EQ(xb_FieldWidth(7), 2);
  EXPECT_EQ(xb_FieldOffset(2), 51);
  EXPECT_FALSE(xb_Replace("PAGES", rkDouble, "123"));  // does not fit N(2,0)
  EXPECT_EQ(xb_LastError(), 10019);
  EXPECT_FALSE(xb_Replace("NOSUCH", rkString, "x"));
  xb_CloseAll();

  // One 0x1A after the last record, and the size the header promises.
  std::string dbf = ReadFileBytes(d / "QRV.DBF");
  EXPECT_EQ(dbf.size(), 353u + 2 * 247 + 1);
  EXPECT_EQ(dbf.back(), '\x1A');
}

TEST(DbfFile, WholeRecordsAndTheDeletionFlag) {
  TempDir d;
  ASSERT_TRUE(CreateFaxTable(d / "QRV.DBF"));
  ASSERT_NE(OpenFax(d), 0);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(xb_AppendBlank());
  std::vector<uint8_t> rec(static_cast<size_t>(xb_RecSize()));
  xb_Go(2);
  ASSERT_TRUE(xb_GetRecord(rec.data()));
  EXPECT_EQ(rec[0], ' ');
  std::memcpy(rec.data() + 1, "Raw write", 9);
  ASSERT_TRUE(xb_PutRecord(rec.data()));
  ASSERT_TRUE(xb_Delete());
  EXPECT_TRUE(xb_Deleted());
  xb_Go(1);
  EXPECT_FALSE(xb_Deleted());
  xb_Go(2);
  EXPECT_TRUE(xb_Deleted());
  EXPECT_EQ(xb_GetTrimString("SUBJECT"), "Raw write");
  ASSERT_TRUE(xb_Recall());
  EXPECT_FALSE(xb_Deleted());
  ASSERT_TRUE(xb_Delete());
  xb_CloseAll();
  std::string dbf = ReadFileBytes(d / "QRV.DBF");
  EXPECT_EQ(dbf[353 + 247], '*');
  EXPECT_EQ(dbf[353], ' ');
}

TEST(DbfFile, MemosGoToTheFptFileAndBackThroughFiles) {
  TempDir d;
  ASSERT_TRUE(CreateFaxTable(d / "QRV.DBF"));
  ASSERT_NE(OpenFax(d), 0);
  ASSERT_TRUE(xb_AppendBlank());
  std::string rtf = "{\\rtf1\\ansi Hello}\r\n";
  std::string big(5000, 'x');
  WriteFileBytes(d / "in.rtf", rtf);
  ASSERT_TRUE(xb_Replace("RTFCOVER", rkFile, d / "in.rtf"));
  ASSERT_TRUE(xb_Replace("RTFDOC", rkString, big));
  EXPECT_EQ(xb_GetString("RTFCOVER"), "         8");
  size_t len = 0;
  char* m = xb_GetMemo("RTFDOC", &len);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(std::string(m, len), big);
  xb_MemDealloc(m);
  // Rewriting a memo leaves the old blocks alone and points elsewhere.
  ASSERT_TRUE(xb_Replace("RTFCOVER", rkString, "short"));
  EXPECT_NE(xb_GetString("RTFCOVER"), "         8");
  ASSERT_TRUE(xb_BlobToFile("RTFCOVER", d / "out.rtf"));
  EXPECT_EQ(ReadFileBytes(d / "out.rtf"), "short");
  // An empty memo is a blank pointer and reads back empty.
  ASSERT_TRUE(xb_AppendBlank());
  EXPECT_TRUE(xb_BlobToFile("RTFDOC", d / "empty.rtf"));
  EXPECT_EQ(ReadFileBytes(d / "empty.rtf"), "");
  EXPECT_FALSE(xb_Replace("RTFDOC", rkFile, d / "missing.rtf"));
  xb_CloseAll();

  std::string fpt = ReadFileBytes(d / "QRV.FPT");
  ASSERT_GE(fpt.size(), 512u + 64);
  EXPECT_EQ(fpt.substr(512, 8), std::string("\0\0\0\x01\0\0\0", 7) + static_cast<char>(rtf.size()));
  EXPECT_EQ(fpt.substr(520, rtf.size()), rtf);
  EXPECT_EQ(fpt.size() % 64, 0u);
}

TEST(DbfFile, ExclusiveOpenKeepsOthersOut) {
  TempDir d;
  ASSERT_TRUE(CreateFaxTable(d / "QRV.DBF"));
  ASSERT_NE(OpenFax(d), 0);
  // The same file again in this process, under another alias.
  EXPECT_EQ(xb_Use(d / "QRV.DBF", "OTHER", xbmExclusive, xbdFOX), 0);
  EXPECT_EQ(xb_LastError(), qv::core::ecTableInUse);
  EXPECT_NE(xb_LastErrorText().find("in use"), std::string::npos);
  EXPECT_EQ(xb_Use(d / "QRV.DBF", "OTHER", xbmReadOnly, xbdFOX), 0);
  // And from another process.
  pid_t pid = fork();
  if (pid == 0) {
    int wa = xb_Use(d / "QRV.DBF", "CHILD", xbmExclusive, xbdFOX);
    _exit(wa == 0 && xb_LastError() == qv::core::ecTableInUse ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // Creating over an open table is refused too.
  ASSERT_TRUE(xb_CreateNew(d / "QRV.DBF", "XXXXXXXXXX", xbdFOX, 1));
  ASSERT_TRUE(xb_CreateField("X", 'C', 1, 0));
  EXPECT_FALSE(xb_CreateExec());
  xb_CloseAll();
  EXPECT_NE(OpenFax(d), 0);
}

TEST(DbfFile, ReadOnlyTablesRefuseChanges) {
  TempDir d;
  ASSERT_TRUE(CreateFaxTable(d / "QRV.DBF"));
  ASSERT_NE(xb_Use(d / "QRV.DBF", "", xbmReadOnly, xbdFOX), 0);
  EXPECT_FALSE(xb_AppendBlank());
  EXPECT_EQ(xb_LastError(), qv::core::ecTableReadOnly);
  // Two readers may share it.
  EXPECT_NE(xb_Use(d / "QRV.DBF", "SECOND", xbmShared, xbdFOX), 0);
}

TEST(DbfFile, DamagedFilesGiveClearErrors) {
  TempDir d;
  ASSERT_TRUE(CreateFaxTable(d / "QRV.DBF"));
  ASSERT_NE(OpenFax(d), 0);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(xb_AppendBlank());
  ASSERT_TRUE(xb_Replace("RTFDOC", rkString, std::string(300, 'm')));
  xb_CloseAll();
  std::string good = ReadFileBytes(d / "QRV.DBF");

  WriteFileBytes(d / "QRV.DBF", good.substr(0, good.size() - 300));
  EXPECT_EQ(OpenFax(d), 0);
  EXPECT_EQ(xb_LastError(), qv::core::ecTableCorrupt);
  EXPECT_NE(xb_LastErrorText().find("truncated"), std::string::npos);

  WriteFileBytes(d / "QRV.DBF", good.substr(0, 20));
  EXPECT_EQ(OpenFax(d), 0);
  EXPECT_EQ(xb_LastError(), qv::core::ecTableCorrupt);

  std::string bad = good;
  bad[8] = '\xFF';
  bad[9] = '\xFF';  // header longer than the file
  WriteFileBytes(d / "QRV.DBF", bad);
  EXPECT_EQ(OpenFax(d), 0);

  WriteFileBytes(d / "QRV.DBF", good);
  std::string fpt = ReadFileBytes(d / "QRV.FPT");
  WriteFileBytes(d / "QRV.FPT", fpt.substr(0, 600));  // memo cut short
  ASSERT_NE(OpenFax(d), 0);
  xb_Go(4);
  EXPECT_EQ(xb_GetMemo("RTFDOC"), nullptr);
  EXPECT_EQ(xb_LastError(), qv::core::ecMemoCorrupt);
  xb_CloseAll();

  EXPECT_EQ(xb_Use(d / "NOSUCH.DBF", "", xbmExclusive, xbdFOX), 0);
  EXPECT_EQ(xb_LastError(), qv::core::ecTableOpenFailed);
}

TEST(DbfFile, ForeignHeaderVariantsAreRead) {
  // A table whose header has one padding byte after the terminator, no field displacements
  // and no end-of-file mark, as other writers make them.
  TempDir d;
  std::vector<DbfField> fields = DbfFile::NormalizeFields({{"NAME", 'C', 0, 6, 0}, {"N", 'N', 0, 5, 2}});
  std::string img = DbfFile::EmptyTableImage(fields);
  img.pop_back();  // no 0x1A
  img.insert(img.end() - 0, '\0');
  img[8] = static_cast<char>(32 + 64 + 2);
  std::memset(img.data() + 32 + 12, 0, 4);
  std::memset(img.data() + 64 + 12, 0, 4);
  img[4] = 2;
  img += " Alice 12.50";
  img += "*Bob   -3.00";
  WriteFileBytes(d / "f.dbf", img);
  ASSERT_NE(xb_Use(d / "f.dbf", "", xbmReadOnly, xbdFOX), 0) << xb_LastErrorText();
  xb_GoTop();
  EXPECT_EQ(xb_GetTrimString("NAME"), "Alice");
  EXPECT_EQ(xb_GetString("N"), "12.50");
  xb_Skip(1);
  EXPECT_TRUE(xb_Deleted());
  EXPECT_EQ(xb_GetTrimString("name"), "Bob");
}
