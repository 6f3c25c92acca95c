// Whole calls into receive mode: "qvfax send" in another process dials through a qvmodem pair to
// the main window, which answers on its own port. The records, the files and their pixels; calls
// that fail part-way, a full disk, a run killed during a call, and many calls in a row.

#include "app/forms/app_texts.h"
#include "app/store/receive_folder.h"
#include "app/forms/starting_fax_form.h"
#include "comm/com_port.h"
#include "fax/receive_fax.h"
#include "../receive/receive_fixture.h"
#include "../../small_fs.h"

#include <QDate>
#include <QSoundEffect>
#include <QUrl>
#include <QTableView>
#include <QTime>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace qv::app {
namespace {

using fax::test::MakeQvf;
using fax::test::PageMatches;
using fax::test::PageRows;
using fax::test::ReadReceived;
using fax::test::ReceivedPage;
using test::ModemPair;
using test::ReceiveLab;
using test::Records;
using test::ScriptedDialogs;
using test::TempDir;
using test::WaitFor;

constexpr int kCallMs = 60000;

// The pair's B modem is COM2 of the lab.
std::unique_ptr<ModemPair> PairOnCom2(const ReceiveLab& lab, TempDir& tmp, std::vector<std::string> options = {},
                                      bool fast = true) {
  auto pair = std::make_unique<ModemPair>(tmp, std::move(options), fast);
  if (!pair->ready()) return pair;
  core::TIniFile(lab.Ini()).WriteString("Ports", "COM2", pair->b());
  return pair;
}

int RecordCount(TMainScreen& w) { return static_cast<int>(Records(w.Store()).size()); }

// Every file in the receive folder has a record and every record its file.
void ExpectFilesMatchRecords(TMainScreen& w, const ReceiveLab& lab) {
  std::set<std::string> files, named;
  for (const QString& f : QDir(lab.Path() + QStringLiteral("receive")).entryList(QDir::Files))
    files.insert(f.toStdString());
  for (const auto& r : Records(w.Store())) named.insert(r.file);
  EXPECT_EQ(files, named);
}

// The pages of a received file, each decoded against what was sent.
void ExpectPages(const QString& file, const std::vector<PageRows>& sent) {
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(file.toStdString(), pages)) << file.toStdString();
  ASSERT_EQ(pages.size(), sent.size());
  for (size_t p = 0; p < pages.size(); ++p) EXPECT_TRUE(PageMatches(pages[p], sent[p])) << "page " << p + 1;
}

// A short silent PCM WAV file.
void WriteWav(const std::string& path) {
  constexpr uint32_t kRate = 8000, kSamples = 800;
  std::ofstream f(path, std::ios::binary);
  auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
  f.write("RIFF", 4); u32(36 + kSamples * 2); f.write("WAVEfmt ", 8); u32(16); u16(1); u16(1);
  u32(kRate); u32(kRate * 2); u16(2); u16(16); f.write("data", 4); u32(kSamples * 2);
  const std::vector<char> silence(kSamples * 2, 0);
  f.write(silence.data(), static_cast<std::streamsize>(silence.size()));
}

TEST(ReceiveCalls, EachFaxBecomesARecordTheGridShowsAndItsPagesAreThoseSent) {
  TempDir tmp;
  ReceiveLab lab;
  auto modems = PairOnCom2(lab, tmp);
  ASSERT_TRUE(modems->ready());
  // The arrival sound plays whether or not the machine has a sound device.
  WriteWav(tmp.str("arrived.wav"));
  lab.Set("Receive", "Wav", tmp.str("arrived.wav"));
  ScriptedDialogs dialogs;
  auto w = lab.Open();
  test::ReceiveButton(*w)->click();
  ASSERT_TRUE(w->ReceiveMode());
  auto* grid = w->findChild<QTableView*>(QStringLiteral("RecFaxGrid"));
  ASSERT_NE(grid, nullptr);
  EXPECT_EQ(grid->model()->rowCount(), 0);

  const auto sent1 = MakeQvf(tmp.str("one.qvf"), 2, true, 40, 0);
  auto sender = test::SendFax(*modems, tmp.str("one.qvf"), tmp.str("send1.out"), "OFFICE 1");
  ASSERT_TRUE(WaitFor([&] { return RecordCount(*w) == 1; }, kCallMs)) << fax::test::ReadText(tmp.str("send1.out"));
  ASSERT_TRUE(WaitFor([&] { return sender->Exited(); }, kCallMs));
  EXPECT_EQ(sender->exitStatus, 0) << fax::test::ReadText(tmp.str("send1.out"));
  auto records = Records(w->Store());
  EXPECT_EQ(records[0].file, "FAX0001.QVF");
  EXPECT_EQ(records[0].from, "OFFICE 1");
  EXPECT_EQ(records[0].pages, 2);
  EXPECT_EQ(records[0].notes, "");
  EXPECT_EQ(records[0].date, QDate::currentDate().toString(QStringLiteral("yyyyMMdd")).toStdString());
  EXPECT_EQ(records[0].time.size(), 5u);
  EXPECT_EQ(records[0].time[2], ':');
  EXPECT_EQ(grid->model()->rowCount(), 1);  // shown at once
  EXPECT_TRUE(grid->isEnabled());
  ExpectPages(lab.ReceiveFile(QStringLiteral("FAX0001.QVF")), sent1);
  EXPECT_TRUE(w->ReceiveMode());
  ASSERT_TRUE(WaitFor([&] { return w->findChild<QSoundEffect*>() != nullptr; }, 10000));
  EXPECT_EQ(w->findChild<QSoundEffect*>()->source(), QUrl::fromLocalFile(QString::fromStdString(tmp.str("arrived.wav"))));

  // The next fax takes the next name; receive mode carries on.
  const auto sent2 = MakeQvf(tmp.str("two.qvf"), 1, false, 30, 5);
  sender = test::SendFax(*modems, tmp.str("two.qvf"), tmp.str("send2.out"), "");
  ASSERT_TRUE(WaitFor([&] { return RecordCount(*w) == 2; }, kCallMs)) << fax::test::ReadText(tmp.str("send2.out"));
  records = Records(w->Store());
  EXPECT_EQ(records[1].file, "FAX0002.QVF");
  EXPECT_EQ(records[1].from, "");  // a sender without identification
  EXPECT_EQ(records[1].pages, 1);
  ExpectPages(lab.ReceiveFile(QStringLiteral("FAX0002.QVF")), sent2);
  EXPECT_EQ(grid->model()->rowCount(), 2);
  EXPECT_TRUE(dialogs.shown.empty());
  ExpectFilesMatchRecords(*w, lab);
  test::ReceiveButton(*w)->click();
  EXPECT_FALSE(w->ReceiveMode());
}

TEST(ReceiveCalls, Class2And20ReceiversUseTheSecondNamingScheme) {
  for (const char* cls : {"2", "3"}) {
    SCOPED_TRACE(cls);
    TempDir tmp;
    ReceiveLab lab;
    auto modems = PairOnCom2(lab, tmp);
    ASSERT_TRUE(modems->ready());
    lab.Set("Modem", "FaxClassReceive", cls);
    lab.Set("Other", "GlobalUseAlternateNamingRec", "1");
    ScriptedDialogs dialogs;
    auto w = lab.Open();
    w->ReceiveButtonClick();
    ASSERT_TRUE(w->ReceiveMode());
    EXPECT_EQ(w->QvReceiveFax1().FaxClass, std::string(cls) == "2" ? fax::fcClass2 : fax::fcClass2_0);
    const auto sent = MakeQvf(tmp.str("doc.qvf"), 3, true, 30, 2);
    auto sender = test::SendFax(*modems, tmp.str("doc.qvf"), tmp.str("send.out"), "CLASS TWO");
    ASSERT_TRUE(WaitFor([&] { return RecordCount(*w) == 1; }, kCallMs)) << fax::test::ReadText(tmp.str("send.out"));
    const QString name = QDate::currentDate().toString(QStringLiteral("MMdd")) + QStringLiteral("0001.QVF");
    const auto records = Records(w->Store());
    EXPECT_EQ(records[0].file, name.toStdString());
    EXPECT_EQ(records[0].file.size(), 12u);
    EXPECT_EQ(records[0].from, "CLASS TWO");
    EXPECT_EQ(records[0].pages, 3);
    ExpectPages(lab.ReceiveFile(name), sent);
    w->ReceiveButtonClick();
  }
}

TEST(ReceiveCalls, ACallThatFailsMidFaxKeepsTheCompletePagesAndReceiveModeStaysOn) {
  TempDir tmp;
  ReceiveLab lab;
  auto modems = PairOnCom2(lab, tmp, {"--drop-page", "2", "--drop-after", "300"});
  ASSERT_TRUE(modems->ready());
  ScriptedDialogs dialogs;
  QStringList errors;
  test::AnswerErrorDialogs(dialogs, errors);
  auto w = lab.Open();
  w->ReceiveButtonClick();
  ASSERT_TRUE(w->ReceiveMode());
  const auto sent = MakeQvf(tmp.str("three.qvf"), 3, false, 60, 1);
  auto sender = test::SendFax(*modems, tmp.str("three.qvf"), tmp.str("send.out"), "DROPPER");
  ASSERT_TRUE(WaitFor([&] { return !errors.isEmpty(); }, kCallMs)) << fax::test::ReadText(tmp.str("send.out"));
  EXPECT_TRUE(errors[0].startsWith(QStringLiteral(
      "Failed To Receive Incoming Fax|Quorvane failed to receive an incoming fax.\n\nThe error message was:   ")))
      << errors[0].toStdString();
  ASSERT_EQ(RecordCount(*w), 1);
  auto records = Records(w->Store());
  EXPECT_EQ(records[0].file, "FAX0001.QVF");
  EXPECT_EQ(records[0].pages, 1);
  EXPECT_EQ(records[0].from, "DROPPER");
  EXPECT_EQ(records[0].notes, "Incomplete: the call ended after page 1");
  ExpectPages(lab.ReceiveFile(QStringLiteral("FAX0001.QVF")), {sent[0]});
  EXPECT_TRUE(w->ReceiveMode());
  EXPECT_TRUE(w->QvReceiveFax1().Active());

  // A one-page fax afterwards arrives whole: the line drops only in page 2.
  ASSERT_TRUE(WaitFor([&] { return sender->Exited(); }, kCallMs));
  const auto one = MakeQvf(tmp.str("one.qvf"), 1, false, 20, 9);
  sender = test::SendFax(*modems, tmp.str("one.qvf"), tmp.str("send2.out"), "AFTER");
  ASSERT_TRUE(WaitFor([&] { return RecordCount(*w) == 2; }, kCallMs)) << fax::test::ReadText(tmp.str("send2.out"));
  records = Records(w->Store());
  EXPECT_EQ(records[1].file, "FAX0002.QVF");
  EXPECT_EQ(records[1].notes, "");
  ExpectPages(lab.ReceiveFile(QStringLiteral("FAX0002.QVF")), one);
  ExpectFilesMatchRecords(*w, lab);
  w->ReceiveButtonClick();
}

TEST(ReceiveCalls, ACallThatFailsInItsFirstPageLeavesNoFileAndNoRecord) {
  TempDir tmp;
  ReceiveLab lab;
  auto modems = PairOnCom2(lab, tmp, {"--drop-page", "1", "--drop-after", "300"});
  ASSERT_TRUE(modems->ready());
  ScriptedDialogs dialogs;
  QStringList errors;
  test::AnswerErrorDialogs(dialogs, errors);
  auto w = lab.Open();
  w->ReceiveButtonClick();
  MakeQvf(tmp.str("doc.qvf"), 2, false, 60, 1);
  auto sender = test::SendFax(*modems, tmp.str("doc.qvf"), tmp.str("send.out"), "DROPPER");
  ASSERT_TRUE(WaitFor([&] { return !errors.isEmpty(); }, kCallMs)) << fax::test::ReadText(tmp.str("send.out"));
  EXPECT_EQ(RecordCount(*w), 0);
  ExpectFilesMatchRecords(*w, lab);
  EXPECT_FALSE(QFile::exists(lab.Path() + QStringLiteral("Receiving.tmp")));
  EXPECT_TRUE(w->ReceiveMode());
  w->ReceiveButtonClick();
}

TEST(ReceiveCalls, StopDuringACallCancelsItAndLeavesNoStrayFile) {
  TempDir tmp;
  ReceiveLab lab;
  // A paced line: the call lasts long enough to be stopped in the middle of a page.
  auto modems = PairOnCom2(lab, tmp, {}, false);
  ASSERT_TRUE(modems->ready());
  ScriptedDialogs dialogs;
  auto w = lab.Open();
  w->ReceiveButtonClick();
  MakeQvf(tmp.str("long.qvf"), 3, true, 1500, 4);
  auto sender = test::SendFax(*modems, tmp.str("long.qvf"), tmp.str("send.out"), "LONG ONE");
  QStringList statuses;
  ASSERT_TRUE(WaitFor([&] {
    if (statuses.isEmpty() || statuses.last() != w->StatusText()) statuses << w->StatusText();
    return w->ReceivingNow() && w->StatusText().startsWith(QStringLiteral("Receiving fax from: LONG ONE, page "));
  }, kCallMs)) << statuses.join(" / ").toStdString();
  // Closing now asks first; No keeps the program and the call.
  dialogs.answers = {false};
  EXPECT_FALSE(w->close());
  ASSERT_EQ(dialogs.Count(QStringLiteral("question")), 1);
  EXPECT_EQ(dialogs.shown.back().caption, QStringLiteral("Exit"));
  EXPECT_EQ(dialogs.shown.back().text, QString::fromLatin1(kReceivingExitText));
  EXPECT_TRUE(w->ReceiveMode());
  dialogs.Clear();
  test::ReceiveButton(*w)->click();
  EXPECT_FALSE(w->ReceiveMode());
  EXPECT_FALSE(w->ReceivingNow());
  EXPECT_EQ(dialogs.Count(QStringLiteral("form")), 0);  // the user's own cancel is no failure
  ExpectFilesMatchRecords(*w, lab);
  for (const auto& r : Records(w->Store())) {
    EXPECT_EQ(r.notes.rfind("Incomplete: the call ended after page ", 0), 0u);
    std::vector<ReceivedPage> pages;
    EXPECT_TRUE(ReadReceived(lab.ReceiveFile(QString::fromStdString(r.file)).toStdString(), pages));
    EXPECT_EQ(static_cast<int>(pages.size()), r.pages);
  }
  EXPECT_FALSE(QFile::exists(lab.Path() + QStringLiteral("Receiving.tmp")));
}

}  // namespace
}  // namespace qv::app
