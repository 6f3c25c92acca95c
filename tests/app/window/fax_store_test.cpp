#include "app/store/fax_store.h"

#include "app/forms/rebuild_indexes.h"
#include "app/store/rich_text_editor.h"
#include "app/store/table_pair.h"
#include "store_helpers.h"
#include "../test_support.h"

#include <QDate>
#include <QFile>
#include <QLabel>
#include <QFileInfo>
#include <QLocale>
#include <QTime>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

using test::AddFax;
using test::AddReceived;
using test::DataDir;

class FaxStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { test::App(); }
  bool Exists(const char* name) const { return QFileInfo(dir_.File(QString::fromLatin1(name))).isFile(); }
  DataDir dir_;
};

TEST_F(FaxStoreTest, OpeningCreatesTablesWithTheirFieldsAndEveryTag) {
  TFaxStore store(dir_.StdPath());
  ASSERT_TRUE(store.OpenFaxDBF());
  ASSERT_TRUE(store.OpenRecFaxDBF());
  ASSERT_TRUE(store.OpenCoverDBF());
  ASSERT_TRUE(store.OpenPhoneDBF(store.Pair(TableId::Phone)));
  for (const char* f : {"QRV.DBF", "QRVREC.DBF", "QRVCOV.DBF", "QRVPB.DBF", "QRV.CDX", "QRVREC.CDX",
                        "QRVCOV.CDX", "QRVPB.CDX"}) {
    EXPECT_TRUE(Exists(f)) << f;
  }
  // A new table has every tag a rebuild makes: nothing for the window to offer to reindex.
  for (const char* tag : {"DATESENT", "DATEND", "SUBJECT", "RECIPIENT"})
    EXPECT_TRUE(store.HasTag(TableId::Fax, tag)) << tag;
  for (const char* tag : {"DATETIME", "DATEND", "FROM"}) EXPECT_TRUE(store.HasTag(TableId::Rec, tag)) << tag;
  EXPECT_TRUE(store.HasTag(TableId::Cover, "DESCRIPT"));
  EXPECT_TRUE(store.HasTag(TableId::Phone, "NAME"));
  // Cover and phone tables are ordered by their tag from the start.
  EXPECT_EQ(store.Pair(TableId::Cover).IndexOrd(), store.Pair(TableId::Cover).TagArea("DESCRIPT"));
  EXPECT_EQ(store.Pair(TableId::Phone).IndexOrd(), store.Pair(TableId::Phone).TagArea("NAME"));
  EXPECT_FALSE(store.HasRecord(TableId::Fax));
  EXPECT_FALSE(store.HasRecord(TableId::Rec));

  // Every field in file order, with the stored values coming back.
  ASSERT_TRUE(AddFax(store, "Quarterly report", true, "20261130", "09:05", "Ann", "555 0101"));
  TablePair& fax = store.Pair(TableId::Fax);
  ASSERT_TRUE(store.HasRecord(TableId::Fax));
  EXPECT_EQ(fax.FieldString("SUBJECT"), "Quarterly report");
  EXPECT_TRUE(fax.FieldBool("SENT"));
  EXPECT_EQ(fax.FieldDate("DATESENT"), "20261130");
  EXPECT_EQ(fax.FieldString("TIMESENT"), "09:05");
  EXPECT_EQ(fax.FieldString("RECIPIENT"), "Ann");
  EXPECT_EQ(fax.FieldInt("PAGES"), 2);
}

TEST_F(FaxStoreTest, ADeletedIndexFileIsMadeAgainWithItsFirstTag) {
  {
    TFaxStore store(dir_.StdPath());
    ASSERT_TRUE(store.OpenFaxDBF());
    ASSERT_TRUE(store.OpenRecFaxDBF());
    ASSERT_TRUE(AddFax(store, "kept", false));
    store.RebuildIndexes(nullptr);
    EXPECT_TRUE(store.HasTag(TableId::Fax, "DATEND"));
  }
  ASSERT_TRUE(QFile::remove(dir_.File(QStringLiteral("QRV.CDX"))));
  TFaxStore store(dir_.StdPath());
  ASSERT_TRUE(store.OpenFaxDBF());
  EXPECT_TRUE(Exists("QRV.CDX"));
  EXPECT_TRUE(store.HasTag(TableId::Fax, "DATESENT"));
  EXPECT_FALSE(store.HasTag(TableId::Fax, "DATEND"));
  EXPECT_TRUE(store.HasRecord(TableId::Fax));
  EXPECT_EQ(store.Pair(TableId::Fax).FieldString("SUBJECT"), "kept");
}

// An index file whose table is gone describes other records: a table made in its place gets an
// index of its own, with every tag, and lists only its own records.
TEST_F(FaxStoreTest, ATableMadeAgainDoesNotTakeOverALeftOverIndexFile) {
  {
    TFaxStore store(dir_.StdPath());
    ASSERT_TRUE(store.OpenFaxDBF());
    ASSERT_TRUE(store.OpenRecFaxDBF());
    for (const char* subject : {"old 1", "old 2", "old 3"}) ASSERT_TRUE(AddFax(store, subject, false));
  }
  ASSERT_TRUE(QFile::remove(dir_.File(QStringLiteral("QRV.DBF"))));
  QFile::remove(dir_.File(QStringLiteral("QRV.FPT")));
  TFaxStore store(dir_.StdPath());
  ASSERT_TRUE(store.OpenFaxDBF());
  EXPECT_TRUE(store.HasTag(TableId::Fax, "DATEND"));
  EXPECT_FALSE(store.HasRecord(TableId::Fax));
  ASSERT_TRUE(AddFax(store, "new", false));
  TablePair& fax = store.Pair(TableId::Fax);
  std::vector<std::string> seen;
  for (fax.First(); !fax.Eof(); fax.Next()) seen.push_back(fax.FieldString("SUBJECT"));
  EXPECT_EQ(seen, std::vector<std::string>{"new"});
}

TEST_F(FaxStoreTest, DeletedRecordsAreHiddenUntilRebuildPacksThem) {
  TFaxStore store(dir_.StdPath());
  ASSERT_TRUE(store.OpenFaxDBF());
  ASSERT_TRUE(store.OpenRecFaxDBF());
  ASSERT_TRUE(AddFax(store, "first", false));
  ASSERT_TRUE(AddFax(store, "second", false));
  ASSERT_TRUE(AddFax(store, "third", false));
  TablePair& fax = store.Pair(TableId::Fax);
  EXPECT_EQ(fax.QueryRecCount(), 3);

  // Delete "second".
  fax.First();
  while (!fax.Eof() && fax.FieldString("SUBJECT") != "second") fax.Next();
  ASSERT_FALSE(fax.Eof());
  ASSERT_TRUE(fax.DeleteRecord());
  fax.Refresh();
  EXPECT_EQ(fax.QueryRecCount(), 2);
  EXPECT_EQ(fax.RecCount(), 3);  // still in the file
  std::vector<std::string> seen;
  for (fax.First(); !fax.Eof(); fax.Next()) seen.push_back(fax.FieldString("SUBJECT"));
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "second"), 0);

  // Survives a close and reopen, still hidden.
  store.FaxTableCloseAndOpen();
  EXPECT_EQ(fax.RecCount(), 3);
  EXPECT_EQ(fax.QueryRecCount(), 2);

  std::vector<std::string> steps;
  store.RebuildIndexes([&](const char* s) { steps.emplace_back(s); });
  EXPECT_EQ(fax.RecCount(), 2);
  EXPECT_EQ(fax.QueryRecCount(), 2);
  EXPECT_TRUE(store.HasTag(TableId::Fax, "DATEND"));
  EXPECT_TRUE(store.HasTag(TableId::Fax, "SUBJECT"));
  EXPECT_TRUE(store.HasTag(TableId::Fax, "RECIPIENT"));
  EXPECT_TRUE(store.HasTag(TableId::Rec, "DATEND"));
  EXPECT_TRUE(store.HasTag(TableId::Rec, "FROM"));
  EXPECT_EQ(fax.IndexOrd(), fax.TagArea("DATESENT"));
  EXPECT_EQ(steps, (std::vector<std::string>{
                       "Removing FAX file records marked for deletion", "Rebuilding FAX file indexes",
                       "Removing Received FAX records marked for deletion",
                       "Rebuilding Received FAX indexes",
                       "Removing PHONE file records marked for deletion",
                       "Rebuilding PHONE file indexes",
                       "Removing COVER file records marked for deletion",
                       "Rebuilding COVER file indexes"}));
  // The rebuild made the phone and cover tables too, and closed them again.
  EXPECT_TRUE(Exists("QRVPB.DBF"));
  EXPECT_TRUE(Exists("QRVCOV.CDX"));
  EXPECT_FALSE(store.Pair(TableId::Phone).IsOpen());
  EXPECT_FALSE(store.Pair(TableId::Cover).IsOpen());
}

TEST_F(FaxStoreTest, CloseAndOpenKeepsTheCurrentRecord) {
  TFaxStore store(dir_.StdPath());
  ASSERT_TRUE(store.OpenFaxDBF());
  ASSERT_TRUE(AddFax(store, "a", false));
  ASSERT_TRUE(AddFax(store, "b", false));
  TablePair& fax = store.Pair(TableId::Fax);
  fax.Go(1);
  EXPECT_EQ(fax.FieldString("SUBJECT"), "a");
  std::vector<std::pair<TableId, bool>> hooks;
  store.SetReopenHook([&](TableId id, bool reopened) { hooks.emplace_back(id, reopened); });
  store.FaxTableCloseAndOpen();
  EXPECT_TRUE(fax.IsOpen());
  EXPECT_EQ(fax.RecNo(), 1);
  EXPECT_EQ(fax.FieldString("SUBJECT"), "a");
  ASSERT_EQ(hooks.size(), 2u);
  EXPECT_FALSE(hooks[0].second);
  EXPECT_TRUE(hooks[1].second);
}

TEST_F(FaxStoreTest, RichTextRoundTripsThroughMemos) {
  TFaxStore store(dir_.StdPath());
  ASSERT_TRUE(store.OpenFaxDBF());
  ASSERT_TRUE(AddFax(store, "memo", false));
  TablePair& fax = store.Pair(TableId::Fax);

  RtfBuffer empty;
  empty.SetRtf("left over");
  store.LoadRichText(empty, "RTFDOC", fax);
  EXPECT_TRUE(empty.IsEmpty());  // an empty memo leaves the editor empty

  // Without a current record nothing is loaded, not even a working file left behind earlier.
  {
    QFile stale(dir_.File(QStringLiteral("Eraseme.rtf")));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("{\\rtf1 stale}");
  }
  fax.Go(fax.RecCount() + 1);
  RtfBuffer none;
  store.LoadRichText(none, "RTFDOC", fax);
  EXPECT_TRUE(none.IsEmpty());
  fax.First();

  const std::string cover = "{\\rtf1\\ansi {\\b Cover} sheet\\par}";
  std::string doc = "{\\rtf1\\ansi ";
  for (int i = 0; i < 2000; ++i) doc += "line " + std::to_string(i) + "\\par ";
  doc += "}";
  RtfBuffer in;
  in.SetRtf(cover);
  ASSERT_TRUE(fax.Edit());
  ASSERT_TRUE(store.SaveRichText(in, "RTFCOVER", fax));
  in.SetRtf(doc);
  ASSERT_TRUE(store.SaveRichText(in, "RTFDOC", fax));
  fax.Post();
  EXPECT_FALSE(Exists("Eraseme.rtf"));

  store.FaxTableCloseAndOpen();
  RtfBuffer out;
  store.LoadRichText(out, "RTFCOVER", fax);
  EXPECT_EQ(out.Rtf(), cover);
  store.LoadRichText(out, "RTFDOC", fax);
  EXPECT_EQ(out.Rtf(), doc);
  EXPECT_FALSE(Exists("Eraseme.rtf"));
}

TEST_F(FaxStoreTest, DateTimeTexts) {
  TFaxStore store(dir_.StdPath());
  ASSERT_TRUE(store.OpenFaxDBF());
  ASSERT_TRUE(store.OpenRecFaxDBF());
  EXPECT_EQ(store.GetDatetimeAsString(true), "");  // no record
  ASSERT_TRUE(AddFax(store, "unsent", false));
  EXPECT_EQ(store.GetDatetimeAsString(true), "not sent");

  const QLocale locale;
  const QString date = locale.toString(QDate(2026, 11, 30), QLocale::ShortFormat);
  TablePair& fax = store.Pair(TableId::Fax);
  ASSERT_TRUE(fax.Edit());
  fax.SetFieldBool("SENT", true);
  fax.SetFieldDate("DATESENT", "20261130");
  fax.SetFieldString("TIMESENT", "09:05");
  ASSERT_TRUE(fax.Post());
  EXPECT_EQ(QString::fromStdString(store.GetDatetimeAsString(true)),
            date + " at " + locale.toString(QTime(9, 5), QLocale::ShortFormat));

  // An unreadable time keeps the stored text; an unreadable date reads "unknown".
  ASSERT_TRUE(fax.Edit());
  fax.SetFieldString("TIMESENT", "9h05");
  fax.SetFieldDate("DATESENT", "");
  ASSERT_TRUE(fax.Post());
  EXPECT_EQ(store.GetDatetimeAsString(true), "unknown at 9h05");

  ASSERT_TRUE(AddReceived(store, "+1 555 0199", "F1.QVF", "20261201", "23:59", false));
  EXPECT_EQ(QString::fromStdString(store.GetDatetimeAsString(false)),
            locale.toString(QDate(2026, 12, 1), QLocale::ShortFormat) + " at " +
                locale.toString(QTime(23, 59), QLocale::ShortFormat));
}

TEST_F(FaxStoreTest, AnUnusableDataDirectoryFailsTheOpening) {
  TFaxStore store(dir_.StdPath() + "missing/");
  EXPECT_FALSE(store.OpenFaxDBF());
  EXPECT_FALSE(store.HasRecord(TableId::Fax));
  // A file that is not a table is refused, not opened.
  QFile junk(dir_.File(QStringLiteral("QRVREC.DBF")));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("this is not a table");
  junk.close();
  TFaxStore other(dir_.StdPath());
  EXPECT_FALSE(other.OpenRecFaxDBF());
  // ... and left as it was.
  EXPECT_EQ(QFileInfo(dir_.File(QStringLiteral("QRVREC.DBF"))).size(), 19);
}

TEST_F(FaxStoreTest, RebuildDialogWorksWhenShownAndClosesItself) {
  TFaxStore store(dir_.StdPath());
  ASSERT_TRUE(store.OpenFaxDBF());
  ASSERT_TRUE(store.OpenRecFaxDBF());
  TRebuildInd form(store);
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Rebuild Indexes"));
  auto* label = form.findChild<QLabel*>(QStringLiteral("WhatAmIDoing"));
  ASSERT_NE(label, nullptr);
  EXPECT_TRUE(label->isHidden());
  EXPECT_EQ(form.exec(), QDialog::Accepted);  // ends by itself
  EXPECT_TRUE(form.Ran());
  EXPECT_EQ(form.Steps().size(), 8);
  EXPECT_EQ(label->text(), QStringLiteral("Rebuilding COVER file indexes"));
  EXPECT_TRUE(store.HasTag(TableId::Fax, "DATEND"));
}

TEST(IndexFileNameTest, ReplacesTheLastThreeCharacters) {
  EXPECT_EQ(IndexFileName("QRV.DBF"), "QRV.CDX");
  EXPECT_EQ(IndexFileName("QRVREC.DBF"), "QRVREC.CDX");
}

}  // namespace
}  // namespace qv::app
