// Receive mode when the machine misbehaves: the disk fills up during a page, and the program is
// killed in the middle of a call. Nothing received before is lost, and no record ever lacks its
// file.

#include "app/store/receive_folder.h"
#include "fax/receive_fax.h"
#include "faximage/qvf_file.h"
#include "../receive/receive_fixture.h"
#include "../../small_fs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace qv::app {
namespace {

using fax::test::MakeQvf;
using fax::test::PageMatches;
using fax::test::ReadReceived;
using fax::test::ReceivedPage;
using test::ModemPair;
using test::ReceiveLab;
using test::Records;
using test::ScriptedDialogs;
using test::TempDir;
using test::WaitFor;

constexpr int kCallMs = 90000;

void ExpectFilesMatchRecords(TFaxStore& store, const QString& dataDir) {
  std::set<std::string> files, named;
  for (const QString& f : QDir(dataDir + QStringLiteral("receive")).entryList(QDir::Files)) files.insert(f.toStdString());
  for (const auto& r : Records(store)) named.insert(r.file);
  EXPECT_EQ(files, named);
}

TEST(ReceiveFaults, AFullDiskEndsThatCallWithItsErrorAndKeepsEarlierFaxes) {
  SmallFs disk(4 * 1024 * 1024);
  if (!disk.ok()) GTEST_SKIP() << disk.reason();
  const QString dataDir = QString::fromStdString(disk / "");
  TempDir tmp;
  ReceiveLab lab(dataDir);
  ModemPair modems(tmp);
  ASSERT_TRUE(modems.ready());
  lab.Set("Ports", "COM2", modems.b());
  ScriptedDialogs dialogs;
  QStringList errors;
  test::AnswerErrorDialogs(dialogs, errors);
  auto w = lab.Open();
  w->ReceiveButtonClick();
  ASSERT_TRUE(w->ReceiveMode());

  const auto first = MakeQvf(tmp.str("first.qvf"), 1, false, 30, 3);
  auto sender = test::SendFax(modems, tmp.str("first.qvf"), tmp.str("send1.out"), "EARLY");
  ASSERT_TRUE(WaitFor([&] { return Records(w->Store()).size() == 1; }, kCallMs))
      << fax::test::ReadText(tmp.str("send1.out"));
  const std::string firstFile = lab.ReceiveFile(QStringLiteral("FAX0001.QVF")).toStdString();
  const auto firstSize = std::filesystem::file_size(firstFile);

  ASSERT_TRUE(WaitFor([&] { return sender->Exited(); }, kCallMs));
  // Leave a few blocks: the next fax's first page cannot fit.
  disk.Fill("filler", 12 * 1024);
  MakeQvf(tmp.str("big.qvf"), 2, true, 1500, 7);
  sender = test::SendFax(modems, tmp.str("big.qvf"), tmp.str("send2.out"), "LATE");
  ASSERT_TRUE(WaitFor([&] { return !errors.isEmpty(); }, kCallMs)) << fax::test::ReadText(tmp.str("send2.out"));
  EXPECT_EQ(errors[0], QStringLiteral("Failed To Receive Incoming Fax|Quorvane failed to receive an incoming "
                                      "fax.\n\nThe error message was:   Disk is full"));
  EXPECT_TRUE(w->ReceiveMode());
  EXPECT_TRUE(WaitFor([&] { return w->QvReceiveFax1().Active() && !w->ReceivingNow(); }, 20000));
  auto records = Records(w->Store());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].file, "FAX0001.QVF");
  EXPECT_EQ(std::filesystem::file_size(firstFile), firstSize);
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(firstFile, pages));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_TRUE(PageMatches(pages[0], first[0]));
  ExpectFilesMatchRecords(w->Store(), dataDir);

  ASSERT_TRUE(WaitFor([&] { return sender->Exited(); }, kCallMs));
  // With room again the next call is received as usual.
  std::filesystem::remove(disk / "filler");
  const auto third = MakeQvf(tmp.str("third.qvf"), 1, false, 30, 8);
  sender = test::SendFax(modems, tmp.str("third.qvf"), tmp.str("send3.out"), "AGAIN");
  ASSERT_TRUE(WaitFor([&] { return Records(w->Store()).size() == 2; }, kCallMs))
      << fax::test::ReadText(tmp.str("send3.out"));
  ExpectFilesMatchRecords(w->Store(), dataDir);
  w->ReceiveButtonClick();
  w->close();
  w.reset();
  TFaxStore store(dataDir.toStdString());
  ASSERT_TRUE(store.OpenRecFaxDBF());
  EXPECT_EQ(Records(store).size(), 2u);
}

// The program itself, in receive mode from its start, killed while a page comes in.
TEST(ReceiveFaults, KilledDuringACallTheNextStartRecordsTheCompletePages) {
  TempDir tmp;
  ReceiveLab lab;
  ModemPair modems(tmp, {}, false);  // paced: pages take seconds
  ASSERT_TRUE(modems.ready());
  lab.Set("Ports", "COM2", modems.b());
  lab.Set("Receive", "AtStartup", "1");
  lab.Set("Receive", "DisableReceivingFaxesNotification", "1");
  const std::string earlier = lab.ReceiveFile(QStringLiteral("FAX0001.QVF")).toStdString();
  {
    qv::test::ChildProcess program;
    ASSERT_TRUE(program.StartToFile({QV_BIN_DIR "/quorvane", "--data-dir", lab.StdPath()}, tmp.str("quorvane.out"),
                                    {"QT_QPA_PLATFORM=offscreen"}));
    const auto sent = MakeQvf(tmp.str("doc.qvf"), 3, true, 700, 2);
    auto sender = test::SendFax(modems, tmp.str("doc.qvf"), tmp.str("send.out"), "KILLED");
    // Once the first page is in the file and the second is arriving, the program dies.
    const bool firstPageIn = WaitFor([&] {
      faximage::QvfFileHeader header;
      if (faximage::ReadFaxHeader(earlier, header) != 0 || header.PageCount < 1) return false;
      std::error_code ec;
      return std::filesystem::file_size(earlier, ec) > 0;
    }, kCallMs);
    ASSERT_TRUE(firstPageIn) << fax::test::ReadText(tmp.str("send.out")) << fax::test::ReadText(tmp.str("quorvane.out"));
    program.Stop(0, SIGKILL);
    sender->Stop();
    ASSERT_TRUE(QFile::exists(lab.Path() + QStringLiteral("Receiving.tmp")));
  }
  ScriptedDialogs dialogs;
  lab.Set("Receive", "AtStartup", "0");
  auto w = lab.Open();
  ASSERT_TRUE(w->TablesOpen());
  const auto records = Records(w->Store());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].file, "FAX0001.QVF");
  EXPECT_EQ(records[0].from, "KILLED");
  EXPECT_GE(records[0].pages, 1);
  EXPECT_EQ(records[0].notes.rfind("Incomplete: the program ended during this call, page ", 0), 0u);
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(earlier, pages));
  EXPECT_EQ(static_cast<int>(pages.size()), records[0].pages);
  EXPECT_FALSE(QFile::exists(lab.Path() + QStringLiteral("Receiving.tmp")));
  ExpectFilesMatchRecords(w->Store(), lab.Path());
  // A second start finds nothing more to do.
  w->close();
  w.reset();
  w = lab.Open();
  EXPECT_EQ(Records(w->Store()).size(), 1u);
}

// A call whose file was created but which never delivered a page, and a run that ended just
// after the record was written: neither leaves a record without a file or a file without one.
TEST(ReceiveFaults, StartUpSettlesWhatTheJournalNames) {
  ReceiveLab lab;
  QDir(lab.Path()).mkpath(QStringLiteral("receive"));
  {
    QFile empty(lab.ReceiveFile(QStringLiteral("FAX0001.QVF")));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    uint8_t header[64];
    faximage::QvfFileHeader h;
    h.Encode(header);
    empty.write(reinterpret_cast<const char*>(header), sizeof header);
  }
  {
    QFile journal(lab.Path() + QStringLiteral("Receiving.tmp"));
    ASSERT_TRUE(journal.open(QIODevice::WriteOnly));
    journal.write("FAX0001.QVF");
  }
  ScriptedDialogs dialogs;
  auto w = lab.Open();
  EXPECT_TRUE(Records(w->Store()).empty());
  EXPECT_FALSE(QFile::exists(lab.ReceiveFile(QStringLiteral("FAX0001.QVF"))));
  EXPECT_FALSE(QFile::exists(lab.Path() + QStringLiteral("Receiving.tmp")));
  w->close();
  w.reset();

  // Recorded already: only the journal goes.
  {
    TFaxStore store(lab.StdPath());
    ASSERT_TRUE(store.OpenRecFaxDBF());
    TablePair& rec = store.Pair(TableId::Rec);
    ASSERT_TRUE(rec.Append());
    rec.SetFieldString("FAXFILE", "FAX0002.QVF");
    rec.SetFieldInt("PAGES", 1);
    ASSERT_TRUE(rec.Post());
  }
  fax::test::MakeQvf(lab.ReceiveFile(QStringLiteral("FAX0002.QVF")).toStdString(), 1, false);
  {
    QFile journal(lab.Path() + QStringLiteral("Receiving.tmp"));
    ASSERT_TRUE(journal.open(QIODevice::WriteOnly));
    journal.write("FAX0002.QVF");
  }
  w = lab.Open();
  EXPECT_EQ(Records(w->Store()).size(), 1u);
  EXPECT_TRUE(QFile::exists(lab.ReceiveFile(QStringLiteral("FAX0002.QVF"))));
  EXPECT_FALSE(QFile::exists(lab.Path() + QStringLiteral("Receiving.tmp")));
}

TEST(ReceiveFaults, AFaxLongerThanThePagesFieldHoldsKeepsItsCountInTheNotes) {
  ReceiveLab lab;
  QDir(lab.Path()).mkpath(QStringLiteral("receive"));
  fax::test::MakeQvf(lab.ReceiveFile(QStringLiteral("FAX0001.QVF")).toStdString(), 120, false, 4);
  {
    QFile journal(lab.Path() + QStringLiteral("Receiving.tmp"));
    ASSERT_TRUE(journal.open(QIODevice::WriteOnly));
    journal.write("FAX0001.QVF");
  }
  ScriptedDialogs dialogs;
  auto w = lab.Open();
  const auto records = Records(w->Store());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].file, "FAX0001.QVF");
  EXPECT_EQ(records[0].pages, 99);  // the most two digits hold; the file keeps all 120
  EXPECT_EQ(records[0].notes, "Incomplete: the program ended during this call, page 120");
  faximage::QvfFileHeader h;
  ASSERT_EQ(faximage::ReadFaxHeader(lab.ReceiveFile(QStringLiteral("FAX0001.QVF")).toStdString(), h), 0);
  EXPECT_EQ(h.PageCount, 120);
}

}  // namespace
}  // namespace qv::app
