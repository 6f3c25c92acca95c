// The outbox without any window, against qvmodem pairs and qvfax in another process: a fax due
// in a few seconds goes out then and not before; a busy line is tried again at the configured
// interval (on a clock that runs faster than the wall's); receive mode steps aside for a due fax,
// comes back by itself and files the fax that arrives next.

#include "app/flows/outbox.h"
#include "app/flows/receive_service.h"
#include "app/store/fax_store.h"
#include "app/store/receive_folder.h"
#include "app/store/settings.h"
#include "app/store/table_pair.h"
#include "comm/port_names.h"
#include "core/ini_file.h"

#include "../../child_process.h"
#include "../../fax/e2e/fax_harness.h"
#include "app/contacts/phone_book.h"
#include "app/editor/enter_edit.h"
#include "app/editor/fax_editor.h"
#include "app/forms/app_texts.h"
#include "app/forms/main_screen.h"
#include "app/forms/send_fax_form.h"

#include <QDateTimeEdit>
#include <QPushButton>
#include "ui/rich_edit.h"

#include <QTableView>
#include <QToolButton>
#include "../receive/receive_fixture.h"
#include "../test_support.h"
#include "../send/send_flow.h"
#include "../window/send_helpers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <filesystem>

namespace qv::app {
namespace {

using test::ReceiveLab;
using test::WaitFor;

constexpr int kCallMs = 90000;

// The outgoing record's SENT and LASTRESULT.
std::pair<bool, std::string> Outcome(TablePair& fax, int recNo) {
  fax.Go(recNo);
  return {fax.FieldBool("SENT"), fax.FieldString("LASTRESULT")};
}
constexpr int kPollMs = 100;

// A clock that runs `factor` times as fast as the wall's from its making.
class FastClock : public TOutboxClock {
 public:
  explicit FastClock(int factor) : factor_(factor), start_(QDateTime::currentDateTimeUtc()) { wall_.start(); }
  QDateTime Now() const override { return start_.addMSecs(wall_.elapsed() * factor_); }

 private:
  int factor_;
  QDateTime start_;
  QElapsedTimer wall_;
};

// Records what the outbox tells, and each try's start on the outbox's clock.
class OutboxRecorder : public TOutboxObserver {
 public:
  explicit OutboxRecorder(const TOutbox*& outbox) : outbox_(outbox) {}
  QStringList errors, infos;
  std::vector<QDateTime> tryStarts, tryEnds, retryAt;
  std::vector<OutboxState> states;
  bool sendOverdue = true;
  int askedOverdue = 0;
  void FlowError(const QString& title, const QString& text, bool) override { errors << title + u'|' + text; }
  void FlowInformation(const QString& text) override { infos << text; }
  bool OutboxSendOverdue(int count) override {
    askedOverdue += count;
    return sendOverdue;
  }
  void OutboxChanged() override {
    if (!outbox_ || outbox_->Entries().empty()) return;
    const TOutboxEntry& e = outbox_->Entries().front();
    if (states.empty() || states.back() != e.state) {
      states.push_back(e.state);
      if (e.state == OutboxState::kSending) tryStarts.push_back(outbox_->Now());
      if (e.state == OutboxState::kRetryWait) {
        tryEnds.push_back(outbox_->Now());
        retryAt.push_back(QDateTime::fromSecsSinceEpoch(e.nextTry, QTimeZone::utc()));
      }
    }
  }

 private:
  const TOutbox*& outbox_;
};

class OutboxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lab_.Set("Modem", "FaxClass", "1");
    lab_.Set("Dialing", "DialAttempts", "3");
    lab_.Set("Dialing", "RetryWait", "60");
    LoadSettings(Settings(), lab_.Ini());
    comm::SetPortSettingsFile(lab_.Ini());
    QDir(lab_.Path()).mkdir(QString::fromLatin1(kReceiveFolder));
    store_ = std::make_unique<TFaxStore>(lab_.StdPath());
    ASSERT_TRUE(store_->OpenFaxDBF());
    ASSERT_TRUE(store_->OpenRecFaxDBF());
  }
  void TearDown() override { comm::SetPortSettingsFile(""); }

  // Our modem (COM2) is A of the pair.
  void UseModem(const std::string& device) {
    lab_.Set("Ports", "COM2", device);
  }

  int AddFax(const std::string& recipient = "Ann Example") {
    EXPECT_TRUE(test::AddFaxWithMemos(*store_, test::RtfPages(1, "Cover"), test::RtfPages(1, "Document"), recipient,
                                      "5550100", "Figures"));
    TablePair& fax = store_->Pair(TableId::Fax);
    return fax.RecCount();
  }

  std::pair<bool, std::string> Outcome(int recNo);

  static OutboxState StateOf(const TOutbox& outbox, int recNo) {
    const TOutboxEntry* e = outbox.EntryFor(recNo);
    return e ? e->state : OutboxState::kQueued;
  }

  ReceiveLab lab_;
  std::unique_ptr<TFaxStore> store_;
};

std::pair<bool, std::string> OutboxTest::Outcome(int recNo) { return qv::app::Outcome(store_->Pair(TableId::Fax), recNo); }

std::unique_ptr<fax::test::ReceiverProcess> Receiver(const std::string& device, const fax::test::TempDir& line) {
  std::filesystem::create_directories(line.path() / "in");
  auto receiver = std::make_unique<fax::test::ReceiverProcess>();
  fax::test::ReceiverProcess::Options o;
  o.faxClass = fax::fcClass1;
  o.station = "REMOTE";
  EXPECT_TRUE(receiver->Start(device, line.str("in"), line.str("receiver.out"), o)) << receiver->Output();
  return receiver;
}

TEST_F(OutboxTest, AFaxDueInFiveSecondsGoesOutThenAndNotBefore) {
  fax::test::TempDir line;
  fax::test::ModemPair modems(line);
  ASSERT_TRUE(modems.ready());
  UseModem(modems.a());
  const int recNo = AddFax();
  auto receiver = Receiver(modems.b(), line);

  const TOutbox* seen = nullptr;
  OutboxRecorder watch(seen);
  TOutbox outbox(*store_, lab_.Path(), &watch);
  seen = &outbox;
  outbox.Start(kPollMs);
  const QDateTime due = outbox.Now().addSecs(5);
  ASSERT_TRUE(outbox.Enqueue(recNo, due));
  EXPECT_EQ(StateOf(outbox, recNo), OutboxState::kQueued);
  EXPECT_TRUE(outbox.StateText(recNo).startsWith(QStringLiteral("Queued for "))) << outbox.StateText(recNo).toStdString();

  ASSERT_TRUE(WaitFor([&] { return StateOf(outbox, recNo) == OutboxState::kSent; }, 5000 + kCallMs))
      << outbox.StateText(recNo).toStdString() << "\n" << receiver->Output();
  ASSERT_EQ(watch.tryStarts.size(), 1u);
  EXPECT_GE(watch.tryStarts[0], due);
  EXPECT_LE(due.secsTo(watch.tryStarts[0]), 5);
  EXPECT_EQ(watch.askedOverdue, 0);
  EXPECT_TRUE(watch.errors.isEmpty()) << watch.errors.join(u'\n').toStdString();
  EXPECT_EQ(Outcome(recNo), std::make_pair(true, std::string("Sent")));
  ASSERT_TRUE(WaitFor([&] { return receiver->Output().find("1 fax received") != std::string::npos; }, 20000))
      << receiver->Output();

  // The queue on disk says so too.
  std::vector<TOutboxEntry> stored;
  std::string problem;
  ASSERT_TRUE(ReadOutbox(lab_.StdPath(), stored, problem));
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].state, OutboxState::kSent);
  EXPECT_EQ(stored[0].attempts, 1);
}

TEST_F(OutboxTest, BusyTwiceThenAnsweredIsSentOnTheThirdTryAtTheConfiguredInterval) {
  fax::test::TempDir line;
  fax::test::ModemPair modems(line, {"--dial-result", "busy", "--dial-result-calls", "2"});
  ASSERT_TRUE(modems.ready());
  UseModem(modems.a());
  const int recNo = AddFax();
  auto receiver = Receiver(modems.b(), line);

  // 60 s between tries pass in 2 s.
  FastClock clock(30);
  const TOutbox* seen = nullptr;
  OutboxRecorder watch(seen);
  TOutbox outbox(*store_, lab_.Path(), &watch, &clock);
  seen = &outbox;
  outbox.Start(kPollMs);
  ASSERT_TRUE(outbox.Enqueue(recNo, outbox.Now()));

  // After the first busy line, the entry waits for its next try and says when.
  ASSERT_TRUE(WaitFor([&] { return StateOf(outbox, recNo) == OutboxState::kRetryWait; }, kCallMs));
  const TOutboxEntry first = *outbox.EntryFor(recNo);
  EXPECT_EQ(first.attempts, 1);
  EXPECT_EQ(QString::fromStdString(first.reason), QStringLiteral("Called fax number was busy")) << first.reason;
  EXPECT_TRUE(outbox.StateText(recNo).startsWith(QStringLiteral("Retry at "))) << outbox.StateText(recNo).toStdString();
  EXPECT_EQ(Outcome(recNo).first, false);

  ASSERT_TRUE(WaitFor([&] { return StateOf(outbox, recNo) == OutboxState::kSent; }, 3 * kCallMs))
      << outbox.StateText(recNo).toStdString() << "\n" << receiver->Output();
  EXPECT_EQ(outbox.EntryFor(recNo)->attempts, 3);
  ASSERT_EQ(watch.tryStarts.size(), 3u);
  ASSERT_EQ(watch.tryEnds.size(), 2u);
  // Each retry was set for the configured 60 seconds after the try before had ended, and came
  // then: never early, and late only by the poll and the rendering (on the outbox's clock, which
  // runs 30 times as fast, a few of its seconds; the end is seen a moment after it is stamped).
  for (int i = 0; i < 2; ++i) {
    const qint64 interval = watch.tryEnds[i].secsTo(watch.retryAt[i]);
    EXPECT_GE(interval, 60 - 5) << i;
    EXPECT_LE(interval, 60 + 1) << i;
    EXPECT_GE(watch.tryStarts[i + 1], watch.retryAt[i]) << i;
    EXPECT_LE(watch.retryAt[i].secsTo(watch.tryStarts[i + 1]), 30) << i;
  }
  EXPECT_EQ(Outcome(recNo), std::make_pair(true, std::string("Sent")));
  EXPECT_TRUE(watch.errors.isEmpty()) << watch.errors.join(u'\n').toStdString();
  ASSERT_TRUE(WaitFor([&] { return receiver->Output().find("1 fax received") != std::string::npos; }, 20000));
}

TEST_F(OutboxTest, AWrongNumberIsNotTriedAgain) {
  fax::test::TempDir line;
  fax::test::ModemPair modems(line, {"--dial-result", "voice"});
  ASSERT_TRUE(modems.ready());
  UseModem(modems.a());
  const int recNo = AddFax();
  const TOutbox* seen = nullptr;
  OutboxRecorder watch(seen);
  TOutbox outbox(*store_, lab_.Path(), &watch);
  seen = &outbox;
  outbox.Start(kPollMs);
  ASSERT_TRUE(outbox.Enqueue(recNo, outbox.Now()));
  ASSERT_TRUE(WaitFor([&] { return StateOf(outbox, recNo) == OutboxState::kFailed; }, kCallMs))
      << outbox.StateText(recNo).toStdString();
  EXPECT_EQ(outbox.EntryFor(recNo)->attempts, 1);
  EXPECT_TRUE(outbox.StateText(recNo).startsWith(QStringLiteral("Failed: "))) << outbox.StateText(recNo).toStdString();
  const auto outcome = Outcome(recNo);
  EXPECT_FALSE(outcome.first);
  EXPECT_EQ(QString::fromStdString(outcome.second), QString::fromStdString(outbox.EntryFor(recNo)->reason));
}

// Closing the program cancels a try in progress: that is no fault of the fax, which stays queued
// (due again at once, so the next start asks about it) instead of being given up as cancelled.
TEST_F(OutboxTest, ClosingDuringATryKeepsTheFaxQueued) {
  fax::test::TempDir line;
  fax::test::ModemPair modems(line);  // nobody answers on B: the call rings on
  ASSERT_TRUE(modems.ready());
  UseModem(modems.a());
  const int recNo = AddFax();
  const TOutbox* seen = nullptr;
  OutboxRecorder watch(seen);
  TOutbox outbox(*store_, lab_.Path(), &watch);
  seen = &outbox;
  outbox.Start(kPollMs);
  ASSERT_TRUE(outbox.Enqueue(recNo, outbox.Now()));
  ASSERT_TRUE(WaitFor([&] { return outbox.Sending() && StateOf(outbox, recNo) == OutboxState::kSending; }, kCallMs));
  outbox.Stop();
  EXPECT_FALSE(outbox.Sending());
  const TOutboxEntry* e = outbox.EntryFor(recNo);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->state, OutboxState::kRetryWait) << outbox.StateText(recNo).toStdString();
  EXPECT_EQ(e->attempts, 1);
  EXPECT_EQ(e->reason, "The program ended during this try");
  std::vector<TOutboxEntry> stored;
  std::string problem;
  ASSERT_TRUE(ReadOutbox(lab_.StdPath(), stored, problem));
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].state, OutboxState::kRetryWait);
  EXPECT_FALSE(Outcome(recNo).first);
}

TEST_F(OutboxTest, ReceiveModeStepsAsideForAQueuedFaxComesBackAndFilesTheNextCall) {
  fax::test::TempDir line;
  fax::test::ModemPair modems(line);
  ASSERT_TRUE(modems.ready());
  UseModem(modems.a());
  const int recNo = AddFax();

  TReceiveService receive(*store_, lab_.Path());
  ASSERT_TRUE(receive.Start());
  const TOutbox* seen = nullptr;
  OutboxRecorder watch(seen);
  TOutbox outbox(*store_, lab_.Path(), &watch);
  seen = &outbox;
  outbox.SetReceiveService(&receive);
  outbox.Start(kPollMs);

  auto receiver = Receiver(modems.b(), line);
  ASSERT_TRUE(outbox.Enqueue(recNo, outbox.Now()));
  // Receive mode stands aside (its port released) while the fax goes out.
  ASSERT_TRUE(WaitFor([&] { return receive.Paused(); }, 10000));
  EXPECT_FALSE(receive.Port().Open());
  ASSERT_TRUE(WaitFor([&] { return StateOf(outbox, recNo) == OutboxState::kSent; }, kCallMs))
      << outbox.StateText(recNo).toStdString() << "\n" << receiver->Output();
  // ... and comes back by itself.
  ASSERT_TRUE(WaitFor([&] { return receive.On() && receive.ReceiveFax().Active(); }, 20000));
  EXPECT_FALSE(receive.Paused());
  ASSERT_TRUE(WaitFor([&] { return receiver->Exited(); }, 20000)) << receiver->Output();

  // A fax then arrives and is filed.
  const auto sent = fax::test::MakeQvf(line.str("one.qvf"), 1, true, 40, 0);
  fax::test::SenderProcess sender;
  fax::test::SenderProcess::Options o;
  o.faxClass = fax::fcClass1;
  o.station = "CALLER";
  o.attempts = 1;
  ASSERT_TRUE(sender.Start(modems.b(), line.str("one.qvf"), line.str("send.out"), o));
  ASSERT_TRUE(WaitFor([&] { return test::Records(*store_).size() == 1u; }, kCallMs))
      << fax::test::ReadText(line.str("send.out"));
  const auto records = test::Records(*store_);
  EXPECT_EQ(records[0].from, "CALLER");
  EXPECT_EQ(records[0].pages, 1);
  EXPECT_TRUE(receive.On());
  ASSERT_TRUE(WaitFor([&] { return sender.Exited(); }, kCallMs));
  receive.Stop();
  EXPECT_TRUE(watch.errors.isEmpty()) << watch.errors.join(u'\n').toStdString();
}


// The program itself is killed with a fax in its outbox that a try of its was interrupted in
// (the state a kill during a call leaves in the file) and that fell due while it was closed: the
// first start asks about it and is killed while it asks; the next start asks again, counts the
// interrupted try and sends the fax.
TEST(OutboxRestart, TheProgramKilledWithAQueuedFaxSendsItAtTheNextStart) {
  fax::test::TempDir line;
  ReceiveLab lab;
  lab.Set("Modem", "FaxClass", "1");
  int recNo = 0;
  {
    TFaxStore store(lab.StdPath());
    ASSERT_TRUE(store.OpenFaxDBF());
    ASSERT_TRUE(test::AddFaxWithMemos(store, test::RtfPages(1, "Cover"), "", "Ann Example", "5550100", "Figures"));
    recNo = store.Pair(TableId::Fax).RecCount();
    TOutboxEntry e;
    e.recNo = recNo;
    e.due = QDateTime::currentSecsSinceEpoch() - 60;
    e.attempts = 1;
    e.state = OutboxState::kSending;
    e.recipient = "Ann Example";
    e.phone = "5550100";
    e.subject = "Figures";
    e.asked = true;
    ASSERT_TRUE(WriteOutbox(lab.StdPath(), {e}));
  }
  {
    qv::test::ChildProcess program;
    ASSERT_TRUE(program.StartToFile({QV_BIN_DIR "/quorvane", "--data-dir", lab.StdPath()}, line.str("quorvane.out"),
                                    {"QT_QPA_PLATFORM=offscreen"}));
    // Running over the data directory (its lock taken), and not ended by itself.
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(lab.Path() + QStringLiteral("quorvane.lock")); }, 30000))
        << fax::test::ReadText(line.str("quorvane.out"));
    EXPECT_FALSE(program.Ended());
    program.Stop(0, SIGKILL);
  }
  std::vector<TOutboxEntry> left;
  std::string problem;
  ASSERT_TRUE(ReadOutbox(lab.StdPath(), left, problem));
  ASSERT_EQ(left.size(), 1u);
  EXPECT_NE(left[0].state, OutboxState::kSent);
  EXPECT_EQ(left[0].attempts, 1);

  // The next start: a line that answers, and the user says yes to sending what fell due.
  fax::test::ModemPair modems(line);
  ASSERT_TRUE(modems.ready());
  lab.Set("Ports", "COM2", modems.a());
  auto receiver = Receiver(modems.b(), line);
  test::ScriptedDialogs dialogs;
  dialogs.answers.push_back(true);
  auto w = lab.Open();
  ASSERT_TRUE(w->TablesOpen());
  ASSERT_TRUE(WaitFor([&] {
    const TOutboxEntry* e = w->Outbox().EntryFor(recNo);
    return e && e->state == OutboxState::kSent;
  }, kCallMs)) << receiver->Output() << w->Outbox().StateText(recNo).toStdString();
  bool asked = false;
  for (const auto& shown : dialogs.shown) asked |= shown.kind == QStringLiteral("question") && shown.caption == QStringLiteral("Outbox");
  EXPECT_TRUE(asked);
  EXPECT_EQ(w->Outbox().EntryFor(recNo)->attempts, 2);  // the interrupted try counted
  TablePair& fax = w->Store().Pair(TableId::Fax);
  fax.Go(recNo);
  EXPECT_TRUE(fax.FieldBool("SENT"));
  ASSERT_TRUE(WaitFor([&] { return receiver->Output().find("1 fax received") != std::string::npos; }, 20000))
      << receiver->Output();
  w->close();
}

// A broadcast from the fax editor: "Add recipients" picks three entries of the phone book; New
// makes one outgoing fax each with the same cover sheet and document, all queued, and each goes
// out with its own recipient and number in the merge fields of its cover.
TEST(OutboxBroadcast, ThreeRecipientsMakeThreeFaxesEachWithItsOwnMergeFields) {
  fax::test::TempDir line;
  ReceiveLab lab;
  lab.Set("Modem", "FaxClass", "1");
  fax::test::ModemPair modems(line);
  ASSERT_TRUE(modems.ready());
  lab.Set("Ports", "COM2", modems.a());
  const std::vector<std::pair<std::string, std::string>> people = {
      {"Ann Example", "5550101"}, {"Bob Sample", "5550102"}, {"Cy Tester", "5550103"}};
  {
    TFaxStore store(lab.StdPath());
    TablePair book("PhoneTable");
    ASSERT_TRUE(store.OpenPhoneDBF(book));
    for (const auto& [name, number] : people)
      ASSERT_TRUE(book.Append() && book.SetFieldString("NAME", name) && book.SetFieldString("PHONE", number) && book.Post());
  }
  std::filesystem::create_directories(line.path() / "in");
  fax::test::ReceiverProcess receiver;
  fax::test::ReceiverProcess::Options o;
  o.faxClass = fax::fcClass1;
  o.station = "REMOTE";
  o.once = false;
  ASSERT_TRUE(receiver.Start(modems.b(), line.str("in"), line.str("receiver.out"), o)) << receiver.Output();

  test::ScriptedDialogs dialogs;
  auto w = lab.Open();
  ASSERT_TRUE(w->TablesOpen());
  const std::string cover =
      "{\\rtf1\\ansi\\fs40 To: {\\field{\\*\\fldinst MERGEFIELD RECIPIENT}{\\fldrslt [RECIPIENT]}}"
      "\\par Fax: {\\field{\\*\\fldinst MERGEFIELD FAXNUMBER}{\\fldrslt [FAXNUMBER]}}\\par}";
  dialogs.forms.push_back([&](QDialog* d) {
    auto* editor = qobject_cast<TFaxEditor*>(d);
    EXPECT_NE(editor, nullptr);
    if (!editor) return int(QDialog::Rejected);
    editor->Subject()->setText(QStringLiteral("Price list"));
    EXPECT_TRUE(editor->RTCover()->LoadRtf(cover));
    auto* add = editor->findChild<QToolButton*>(QStringLiteral("AddRecipientsButton"));
    EXPECT_NE(add, nullptr);
    if (add) add->click();
    EXPECT_EQ(editor->Recipients().size(), 3u);
    return test::AcceptForm(editor);
  });
  dialogs.forms.push_back([&](QDialog* d) {
    auto* book = qobject_cast<TPhoneBook*>(d);
    EXPECT_NE(book, nullptr);
    if (!book) return int(QDialog::Rejected);
    book->PhoneGrid()->selectAll();
    book->OKButtonClick();
    return book->result();
  });
  w->NewbuttonClick();

  // Three records, each with its own recipient and number, all in the outbox.
  TablePair& fax = w->Store().Pair(TableId::Fax);
  ASSERT_EQ(fax.RecCount(), 3);
  for (int recNo = 1; recNo <= 3; ++recNo) {
    std::vector<uint8_t> raw;
    ASSERT_TRUE(fax.ReadRecord(recNo, raw));
    EXPECT_EQ(QString::fromStdString(fax.FieldStringFrom(raw, "RECIPIENT")).trimmed().toStdString(), people[recNo - 1].first);
    EXPECT_EQ(QString::fromStdString(fax.FieldStringFrom(raw, "PHONE")).trimmed().toStdString(), people[recNo - 1].second);
    EXPECT_NE(w->Outbox().EntryFor(recNo), nullptr) << recNo;
  }
  ASSERT_TRUE(WaitFor([&] {
    int sent = 0;
    for (int recNo = 1; recNo <= 3; ++recNo) {
      const TOutboxEntry* e = w->Outbox().EntryFor(recNo);
      sent += e && e->state == OutboxState::kSent;
    }
    return sent == 3;
  }, 3 * kCallMs)) << receiver.Output();
  ASSERT_TRUE(WaitFor([&] { return receiver.Output().find("3 faxes received") != std::string::npos ||
                                   fax::test::FilesIn(line.path() / "in").size() == 3u; }, 20000))
      << receiver.Output();

  // Each received cover is the cover rendered with that recipient's fields, and they all differ.
  const auto files = fax::test::FilesIn(line.path() / "in");
  ASSERT_EQ(files.size(), 3u);
  std::vector<fax::test::PageRows> covers;
  for (size_t i = 0; i < 3; ++i) {
    std::vector<fax::test::ReceivedPage> pages;
    ASSERT_TRUE(fax::test::ReadReceived((line.path() / "in" / files[i]).string(), pages));
    ASSERT_EQ(pages.size(), 1u);
    fax.Go(static_cast<int>(i) + 1);
    TSendObserver quiet;
    const TRenderedFax rendered = RenderFaxRecord(w->Store(), lab.StdPath(), quiet);
    ASSERT_FALSE(rendered.file.isEmpty());
    const auto rows = test::RenderedRows(rendered.file.toStdString());
    QFile::remove(rendered.file);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(fax::test::PageMatches(pages[0], rows[0])) << people[i].first;
    for (const auto& other : covers) EXPECT_FALSE(fax::test::PageMatches(pages[0], other)) << people[i].first;
    covers.push_back(rows[0]);
  }
  receiver.Stop();
  w->close();
}

// The window: Send Later in the Send Fax dialog queues the fax for the chosen time (no port is
// opened) and the outgoing grid's Outbox column says so; Send Fax Now with receive mode on sends
// at once, receive mode stepping aside and coming back by itself.
TEST(OutboxWindow, SendLaterQueuesAndSendNowStepsAroundReceiveMode) {
  fax::test::TempDir line;
  ReceiveLab lab;
  lab.Set("Modem", "FaxClass", "1");
  lab.Set("Receive", "DisableReceivingFaxesNotification", "1");
  fax::test::ModemPair modems(line);
  ASSERT_TRUE(modems.ready());
  lab.Set("Ports", "COM2", modems.a());
  test::ScriptedDialogs dialogs;
  auto w = lab.Open();
  ASSERT_TRUE(w->TablesOpen());
  ASSERT_TRUE(test::AddFaxWithMemos(w->Store(), test::RtfPages(1, "Cover"), "", "Ann Example", "5550100", "Figures"));
  w->RefreshGrids();
  w->SetCurrentPage(TMainScreen::kOutgoingPage);
  TablePair& fax = w->Store().Pair(TableId::Fax);
  fax.Go(1);

  const QDateTime later = QDateTime::currentDateTime().addSecs(2 * 3600);
  dialogs.forms.push_back([&](QDialog* d) {
    auto* form = qobject_cast<TSendFaxForm*>(d);
    EXPECT_NE(form, nullptr);
    if (!form) return int(QDialog::Rejected);
    form->show();
    form->SendLaterTime().setDateTime(later);
    auto* button = form->findChild<QPushButton*>(QStringLiteral("SendLaterButton"));
    EXPECT_NE(button, nullptr);
    EXPECT_EQ(button->accessibleName(), QStringLiteral("Send Later"));
    if (button) button->click();
    return form->result();
  });
  w->SendButtonClick();
  const TOutboxEntry* e = w->Outbox().EntryFor(1);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->state, OutboxState::kQueued);
  EXPECT_EQ(e->due, later.toSecsSinceEpoch() + (later.time().msec() ? 1 : 0));
  auto* grid = w->findChild<QTableView*>(QStringLiteral("FaxGrid"));
  const int outboxColumn = grid->model()->columnCount() - 1;
  EXPECT_TRUE(grid->model()->index(0, outboxColumn).data().toString().startsWith(QStringLiteral("Queued for ")))
      << grid->model()->index(0, outboxColumn).data().toString().toStdString();
  EXPECT_FALSE(Outcome(fax, 1).first);

  // Receive mode on; Send Fax Now does not ask to stop it.
  auto receiver = Receiver(modems.b(), line);
  w->ReceiveButtonClick();
  ASSERT_TRUE(WaitFor([&] { return w->Receive().On() && w->Receive().ReceiveFax().Active(); }, 20000));
  w->SetCurrentPage(TMainScreen::kOutgoingPage);  // receive mode showed the incoming faxes
  fax.Go(1);
  bool pausedMeanwhile = false;
  dialogs.forms.push_back([&](QDialog* d) {
    auto* form = qobject_cast<TSendFaxForm*>(d);
    EXPECT_NE(form, nullptr);
    if (!form) return int(QDialog::Rejected);
    form->show();
    bool ended = false;
    QObject::connect(form, &TSendFaxForm::attemptEnded, form, [&] { ended = true; });
    form->SendFaxButtonClick();
    pausedMeanwhile = w->Receive().Paused() && !w->Receive().Port().Open();
    EXPECT_TRUE(WaitFor([&] { return ended; }, kCallMs)) << receiver->Output();
    form->CloseButtonClick();
    return form->result();
  });
  w->SendButtonClick();
  EXPECT_TRUE(pausedMeanwhile);
  EXPECT_FALSE(dialogs.Infos().contains(QString::fromLatin1(kSendGuardText)));
  EXPECT_TRUE(dialogs.Infos().contains(QStringLiteral("Fax sent successfully"))) << dialogs.Infos().join(u'|').toStdString();
  EXPECT_TRUE(Outcome(fax, 1).first);
  // Sent by hand: the queued copy is gone, and receive mode is back by itself.
  EXPECT_EQ(w->Outbox().EntryFor(1), nullptr);
  ASSERT_TRUE(WaitFor([&] { return w->Receive().On() && w->Receive().ReceiveFax().Active(); }, 20000));
  EXPECT_TRUE(w->ReceiveMode());
  w->ReceiveButtonClick();
  w->close();
}

// Rebuild Indexes packs the outgoing table, which renumbers its records: while a queued fax is
// being sent it waits (the user is told), so the try's outcome lands in that fax's own record.
TEST(OutboxWindow, RebuildIndexesWaitsForAQueuedFaxBeingSent) {
  fax::test::TempDir line;
  ReceiveLab lab;
  lab.Set("Modem", "FaxClass", "1");
  fax::test::ModemPair modems(line);  // nobody answers on B: the call rings on
  ASSERT_TRUE(modems.ready());
  lab.Set("Ports", "COM2", modems.a());
  test::ScriptedDialogs dialogs;
  auto w = lab.Open();
  ASSERT_TRUE(w->TablesOpen());
  ASSERT_TRUE(test::AddFaxWithMemos(w->Store(), test::RtfPages(1, "Cover"), "", "Ann Example", "5550100", "Figures"));
  w->RefreshGrids();
  ASSERT_TRUE(w->Outbox().Enqueue(1, w->Outbox().Now()));
  ASSERT_TRUE(WaitFor([&] { return w->Outbox().Sending(); }, kCallMs));
  dialogs.Clear();
  w->RebuildIndexes();
  EXPECT_EQ(dialogs.Count(QStringLiteral("form")), 0);
  EXPECT_EQ(dialogs.Infos(), QStringList{QStringLiteral("A queued fax is being sent now. Rebuild the indexes when it has gone out.")});
  w->close();
}

}  // namespace
}  // namespace qv::app
