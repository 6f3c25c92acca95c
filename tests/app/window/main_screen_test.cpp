#include "app/forms/main_screen.h"

#include "app/forms/app_texts.h"
#include "app/forms/edit_receive_notes.h"
#include "app/store/fax_store.h"
#include "app/store/settings.h"
#include "app/store/table_pair.h"
#include "core/ini_file.h"
#include "store_helpers.h"
#include "../test_support.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTabBar>
#include <QTableView>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

namespace qv::app {
namespace {

using test::AddFax;
using test::AddReceived;
using test::DataDir;
using test::ScriptedDialogs;

const QString kGuard = QString::fromLatin1(kGuardText);
const QString kNotAvailable = QString::fromLatin1(kNotAvailableText);

class MainScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    Settings() = TSettings();
  }

  // A data directory that has been set up before: the port is known, indexes are rebuilt.
  void Configure() { core::TIniFile(Ini()).WriteInteger("Modem", "ComPort", 0); }
  std::string Ini() const { return SettingsFileName(dir_.StdPath()); }

  std::unique_ptr<TMainScreen> Start() {
    auto w = std::make_unique<TMainScreen>(dir_.Path());
    w->show();
    QElapsedTimer clock;
    clock.start();
    while (!w->FirstActivationDone() && w->TablesOpen() && clock.elapsed() < 10000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return w;
  }

  // A configured directory with rebuilt indexes, so that no offer interrupts the test.
  std::unique_ptr<TMainScreen> StartReady() {
    Configure();
    {
      TFaxStore store(dir_.StdPath());
      store.OpenFaxDBF();
      store.OpenRecFaxDBF();
      store.RebuildIndexes(nullptr);
    }
    auto w = Start();
    dialogs_.Clear();
    return w;
  }

  template <class T>
  T* Find(TMainScreen& w, const char* name) {
    T* control = w.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  bool Enabled(TMainScreen& w, const char* name) {
    if (auto* b = w.findChild<QToolButton*>(QString::fromLatin1(name))) return b->isEnabled();
    if (auto* a = w.findChild<QAction*>(QString::fromLatin1(name))) return a->isEnabled();
    if (auto* g = w.findChild<QTableView*>(QString::fromLatin1(name))) return g->isEnabled();
    ADD_FAILURE() << "no control " << name;
    return false;
  }
  void Click(TMainScreen& w, const char* name) {
    if (auto* b = w.findChild<QToolButton*>(QString::fromLatin1(name))) {
      b->click();
    } else if (auto* a = w.findChild<QAction*>(QString::fromLatin1(name))) {
      a->trigger();
    } else {
      ADD_FAILURE() << "no control " << name;
    }
  }
  bool Exists(const char* name) const { return QFileInfo::exists(dir_.File(QString::fromLatin1(name))); }

  DataDir dir_;
  ScriptedDialogs dialogs_;
};

// A new user cannot answer a question about reindexing, and tables made a moment ago lack
// nothing: the first start shows the quick setup and asks nothing else.
TEST_F(MainScreenTest, FirstStartCreatesTheStoreAndAsksNothingButTheQuickSetup) {
  dialogs_.forms.push_back([](QDialog* d) {
    EXPECT_EQ(d->objectName(), QStringLiteral("QuickSetupForm"));
    return int(QDialog::Accepted);
  });
  auto w = Start();
  ASSERT_TRUE(w->TablesOpen());
  EXPECT_TRUE(QDir(dir_.File(QStringLiteral("receive"))).exists());
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0].kind, QStringLiteral("form"));
  for (const char* f : {"QRV.DBF", "QRVREC.DBF", "QRV.CDX", "QRVREC.CDX"}) EXPECT_TRUE(Exists(f)) << f;
  EXPECT_TRUE(w->Store().HasTag(TableId::Fax, "DATEND"));
  EXPECT_TRUE(w->Store().HasTag(TableId::Rec, "DATEND"));
  EXPECT_FALSE(w->QuickSetupDue());
  w->close();
  // The next start asks nothing.
  dialogs_.Clear();
  Settings() = TSettings();
  auto again = Start();
  EXPECT_TRUE(dialogs_.shown.empty());
}

// Tables of an older version (or another program) have only the first tag of each table, as an
// opening makes when the index file is missing: those are offered a rebuild, each start until done.
TEST_F(MainScreenTest, TablesLackingTheNewerTagsAreOfferedAReindexUntilItIsDone) {
  Configure();
  {
    TFaxStore store(dir_.StdPath());
    ASSERT_TRUE(store.OpenFaxDBF());
    ASSERT_TRUE(store.OpenRecFaxDBF());
  }
  ASSERT_TRUE(QFile::remove(dir_.File(QStringLiteral("QRV.CDX"))));
  ASSERT_TRUE(QFile::remove(dir_.File(QStringLiteral("QRVREC.CDX"))));
  dialogs_.answers = {false};
  {
    auto w = Start();
    ASSERT_EQ(dialogs_.Count(QStringLiteral("question")), 1);
    EXPECT_EQ(dialogs_.shown[0].caption, QStringLiteral("REINDEX"));
    EXPECT_EQ(dialogs_.shown[0].text, QStringLiteral("The log files need to be reindexed.\rDo this now?"));
    EXPECT_TRUE(dialogs_.shown[0].defaultYes);
    EXPECT_EQ(dialogs_.Count(QStringLiteral("form")), 0);  // no quick setup: the port is set
    EXPECT_FALSE(w->Store().HasTag(TableId::Fax, "DATEND"));
    EXPECT_FALSE(Exists("QRVPB.DBF"));  // only the rebuild makes the phone book
    w->close();
  }
  dialogs_.Clear();
  dialogs_.answers = {true};
  {
    auto w = Start();
    ASSERT_EQ(dialogs_.Count(QStringLiteral("question")), 1);
    ASSERT_EQ(dialogs_.shown.size(), 2u);
    EXPECT_EQ(dialogs_.shown[1].text, QStringLiteral("RebuildInd"));  // the rebuild ran
    EXPECT_TRUE(w->Store().HasTag(TableId::Fax, "DATEND"));
    EXPECT_TRUE(w->Store().HasTag(TableId::Rec, "DATEND"));
    w->close();
  }
  dialogs_.Clear();
  auto w = Start();
  EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(MainScreenTest, QuickSetupShowsOnceWhenThePortIsMissing) {
  {
    auto w = Start();
    EXPECT_EQ(dialogs_.Count(QStringLiteral("form")), 1);  // cancelled (no script)
    EXPECT_EQ(dialogs_.shown[0].text, QStringLiteral("QuickSetupForm"));
    EXPECT_EQ(Settings().ComPort, 0);  // the cancelled setup left the first-run port
    EXPECT_TRUE(Settings().FirstRun);
    w->close();
  }
  // Cancel stored nothing; closing saved the settings with the first-run port (COM1).
  EXPECT_EQ(core::TIniFile(Ini()).ReadInteger("Modem", "ComPort", -1), 0);
  dialogs_.Clear();
  Settings() = TSettings();
  auto w = Start();
  EXPECT_TRUE(dialogs_.shown.empty());
}

// A practice line whose modems cannot be started is said so, once, in plain words; the window
// claims no practice line it does not have, and About says so too.
TEST_F(MainScreenTest, APracticeLineThatCannotStartIsToldAndNotShownAsRunning) {
  qputenv("QV_MODEM_PROGRAM", "/nonexistent/qvmodem");
  Configure();
  core::TIniFile(Ini()).WriteBool("PracticeLine", "On", true);
  auto w = Start();
  qunsetenv("QV_MODEM_PROGRAM");
  EXPECT_FALSE(w->PracticeLineRunning());
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0].kind, QStringLiteral("error"));
  EXPECT_TRUE(dialogs_.shown[0].text.startsWith(QStringLiteral("The practice line did not start"))) << dialogs_.shown[0].text.toStdString();
  auto* note = Find<QLabel>(*w, "PracticeLineNote");
  EXPECT_FALSE(note->isVisible());
  EXPECT_EQ(w->windowTitle(), QStringLiteral("Quorvane"));
  EXPECT_EQ(w->LineInUse(), QString::fromLatin1(kPracticeLineNote) + QStringLiteral(" (not running)"));
  EXPECT_FALSE(w->ReceiveMode());
  EXPECT_FALSE(w->Store().HasRecord(TableId::Fax));  // no practice fax without the line
}

TEST_F(MainScreenTest, WindowCarriesItsControlsAndTexts) {
  auto w = StartReady();
  EXPECT_EQ(w->windowTitle(), QStringLiteral("Quorvane"));
  const char* buttons[] = {"Newbutton", "EditButton", "DeleteButton", "SendButton",
                           "ReceiveButton", "ViewFaxButton", "Printbutton", "Exitbutton"};
  const char* captions[] = {"&New", "&Edit", "&Delete", "&Send", "&Receive", "&View", "&Print", "E&xit"};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(Find<QToolButton>(*w, buttons[i])->text(), captions[i]);
  EXPECT_EQ(Find<QToolButton>(*w, "DeleteButton")->toolTip(),
            QStringLiteral("Delete  the currently selected fax"));
  EXPECT_EQ(Find<QToolButton>(*w, "Printbutton")->property("tag").toInt(), 99);
  EXPECT_EQ(Find<QAction>(*w, "mnuSend")->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
  EXPECT_EQ(Find<QAction>(*w, "Exit1")->shortcut(), QKeySequence(QStringLiteral("Ctrl+X")));
  EXPECT_EQ(Find<QAction>(*w, "mnuRebuildIndexes")->statusTip(), QStringLiteral("Do this every 2 weeks "));
  auto* tabs = Find<QTabBar>(*w, "TabSet1");
  ASSERT_EQ(tabs->count(), 2);
  EXPECT_EQ(tabs->tabText(0), QStringLiteral("Outgoing"));
  EXPECT_EQ(tabs->tabText(1), QStringLiteral("Incoming"));
  QStringList titles;
  for (QLabel* l : w->findChildren<QLabel*>()) titles << l->text();
  EXPECT_TRUE(titles.contains(QStringLiteral("Outgoing Faxes")));
  EXPECT_TRUE(titles.contains(QStringLiteral("Incoming Faxes")));
  auto* grid = Find<QTableView>(*w, "FaxGrid");
  QStringList headers;
  for (int c = 0; c < grid->model()->columnCount(); ++c)
    headers << grid->model()->headerData(c, Qt::Horizontal).toString();
  EXPECT_EQ(headers, (QStringList{"Sent", "Date Sent", "Time Sent", "Recipient", "Phone", "Pages",
                                  "Subject", "Last Attempt", "Outbox"}));
  auto* rec = Find<QTableView>(*w, "RecFaxGrid");
  headers.clear();
  for (int c = 0; c < rec->model()->columnCount(); ++c)
    headers << rec->model()->headerData(c, Qt::Horizontal).toString();
  EXPECT_EQ(headers, (QStringList{"Date Rec'd", "Time Rec'd", "From", "Pages", "Notes", "Fax File"}));
}

TEST_F(MainScreenTest, ButtonRulesOnEmptyAndFilledTables) {
  auto w = StartReady();
  // Empty outgoing page: only New (and Receive) are on; the grid is off; no order.
  for (const char* off : {"SendButton", "EditButton", "DeleteButton", "ViewFaxButton", "Printbutton",
                          "mnuSend", "mnuEdit", "mnuDelete", "mnuViewPrint", "mnuClone", "FaxGrid"}) {
    EXPECT_FALSE(Enabled(*w, off)) << off;
  }
  EXPECT_TRUE(Enabled(*w, "Newbutton"));
  EXPECT_TRUE(Enabled(*w, "mnuReceive"));
  EXPECT_EQ(w->Store().Pair(TableId::Fax).IndexOrd(), 0);

  ASSERT_TRUE(AddFax(w->Store(), "Hello", true, "20261130", "09:05", "Ann", "555 0101"));
  w->RefreshGrids();
  w->SetButtons();
  for (const char* on : {"SendButton", "EditButton", "DeleteButton", "ViewFaxButton", "Printbutton",
                         "mnuSend", "mnuEdit", "mnuDelete", "mnuViewPrint", "mnuClone", "FaxGrid"}) {
    EXPECT_TRUE(Enabled(*w, on)) << on;
  }
  TablePair& fax = w->Store().Pair(TableId::Fax);
  EXPECT_EQ(fax.IndexOrd(), fax.TagArea("DATESENT"));
  auto* grid = Find<QTableView>(*w, "FaxGrid");
  ASSERT_EQ(grid->model()->rowCount(), 1);
  EXPECT_EQ(grid->model()->index(0, 0).data().toString(), QStringLiteral("Yes"));
  EXPECT_EQ(grid->model()->index(0, 6).data().toString(), QStringLiteral("Hello"));

  // The incoming page is empty: New is off, Send stays on (the outgoing table has a fax).
  w->SetCurrentPage(TMainScreen::kIncomingPage);
  w->SetButtons();
  for (const char* off : {"Newbutton", "mnuNew", "mnuClone", "EditButton", "DeleteButton",
                          "ViewFaxButton", "Printbutton", "mnuViewPrint", "RecFaxGrid"}) {
    EXPECT_FALSE(Enabled(*w, off)) << off;
  }
  EXPECT_TRUE(Enabled(*w, "SendButton"));
  // Send from the incoming page says where to go.
  Click(*w, "SendButton");
  EXPECT_EQ(dialogs_.Infos(),
            QStringList{QStringLiteral("Please switch to the Outgoing Faxes tab\rand highlight a fax to send")});

  ASSERT_TRUE(AddReceived(w->Store(), "+1 555 0199", "FAX0001.QVF"));
  w->RefreshGrids();
  w->SetButtons();
  for (const char* on : {"EditButton", "DeleteButton", "ViewFaxButton", "Printbutton", "RecFaxGrid"}) {
    EXPECT_TRUE(Enabled(*w, on)) << on;
  }
  EXPECT_FALSE(Enabled(*w, "Newbutton"));
}

TEST_F(MainScreenTest, TheRowChosenInTheGridIsTheRecordCommandsActOn) {
  auto w = StartReady();
  ASSERT_TRUE(AddFax(w->Store(), "older", true, "20261101", "08:00"));
  ASSERT_TRUE(AddFax(w->Store(), "newer", true, "20261201", "08:00"));
  w->RefreshGrids();
  w->SetButtons();
  auto* grid = Find<QTableView>(*w, "FaxGrid");
  ASSERT_EQ(grid->model()->rowCount(), 2);
  EXPECT_EQ(grid->model()->index(0, 6).data().toString(), QStringLiteral("newer"));
  grid->setCurrentIndex(grid->model()->index(1, 0));
  EXPECT_EQ(w->Store().Pair(TableId::Fax).FieldString("SUBJECT"), "older");
  dialogs_.answers = {true};
  Click(*w, "DeleteButton");
  EXPECT_EQ(dialogs_.shown.at(0).text, QStringLiteral("Delete the current fax?\r\n(subject: \"older\")"));
  ASSERT_EQ(grid->model()->rowCount(), 1);
  EXPECT_EQ(grid->model()->index(0, 6).data().toString(), QStringLiteral("newer"));
  EXPECT_EQ(w->Store().Pair(TableId::Fax).FieldString("SUBJECT"), "newer");
}

TEST_F(MainScreenTest, ReceiveModeGuardsItsCommands) {
  auto w = StartReady();
  ASSERT_TRUE(AddFax(w->Store(), "Guarded", false));
  ASSERT_TRUE(AddReceived(w->Store(), "Sender", "G.QVF"));
  w->RefreshGrids();
  w->SetReceiveMode(true);
  EXPECT_EQ(Find<QToolButton>(*w, "ReceiveButton")->text(), QStringLiteral("STOP"));
  EXPECT_EQ(Find<QToolButton>(*w, "ReceiveButton")->toolTip(), QStringLiteral("Stop receiving faxes"));
  EXPECT_FALSE(Enabled(*w, "mnuReceive"));

  for (const char* guarded : {"Newbutton", "EditButton", "mnuPhoneBook", "mnuCover",
                              "mnuRebuildIndexes", "FaxlogCleanup1", "mnuPreferences",
                              "VisitOurInternetWebsite1"}) {
    dialogs_.Clear();
    Click(*w, guarded);
    EXPECT_EQ(dialogs_.Infos(), QStringList{kGuard}) << guarded;
    EXPECT_EQ(dialogs_.Count(QStringLiteral("form")), 0) << guarded;
  }
  // Sending shares the modem with receive mode now (receive mode steps aside): no guard.
  dialogs_.Clear();
  Click(*w, "SendButton");
  EXPECT_FALSE(dialogs_.Infos().contains(QString::fromLatin1(kSendGuardText)));

  // Delete: guarded on the incoming page only; the outgoing page asks.
  dialogs_.Clear();
  w->SetCurrentPage(TMainScreen::kIncomingPage);
  w->SetButtons();
  Click(*w, "DeleteButton");
  EXPECT_EQ(dialogs_.Infos(), QStringList{kGuard});
  EXPECT_EQ(dialogs_.Count(QStringLiteral("question")), 0);
  EXPECT_TRUE(w->Store().HasRecord(TableId::Rec));
  dialogs_.Clear();
  w->SetCurrentPage(TMainScreen::kOutgoingPage);
  w->SetButtons();
  dialogs_.answers = {false};
  Click(*w, "DeleteButton");
  ASSERT_EQ(dialogs_.Count(QStringLiteral("question")), 1);
  EXPECT_EQ(dialogs_.shown[0].text, QStringLiteral("Delete the current fax?\r\n(subject: \"Guarded\")"));
  EXPECT_FALSE(dialogs_.shown[0].defaultYes);
  EXPECT_TRUE(w->Store().HasRecord(TableId::Fax));  // answered No

  w->SetReceiveMode(false);
  EXPECT_EQ(Find<QToolButton>(*w, "ReceiveButton")->text(), QStringLiteral("&Receive"));
  EXPECT_TRUE(Enabled(*w, "mnuReceive"));
}

TEST_F(MainScreenTest, DeletingTheLastReceivedFaxRemovesItsFile) {
  auto w = StartReady();
  ASSERT_TRUE(AddReceived(w->Store(), "Alpha", "A1.QVF", "20261201", "10:00"));
  ASSERT_TRUE(AddReceived(w->Store(), "Beta", "B2.QVF", "20261202", "11:00"));
  w->RefreshGrids();
  w->SetCurrentPage(TMainScreen::kIncomingPage);
  w->SetButtons();
  auto* grid = Find<QTableView>(*w, "RecFaxGrid");
  ASSERT_EQ(grid->model()->rowCount(), 2);
  // Newest first.
  EXPECT_EQ(grid->model()->index(0, 2).data().toString(), QStringLiteral("Beta"));
  // Both signed: the marks files lie beside the faxes.
  for (const char* marks : {"receive/A1.QVM", "receive/B2.QVM"}) {
    QFile f(dir_.File(QString::fromLatin1(marks)));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("QVMARKS 1\ncheck 1 10 10 40 40\n");
  }

  dialogs_.answers = {true};
  Click(*w, "DeleteButton");
  EXPECT_EQ(dialogs_.shown.at(0).text, QStringLiteral("Delete the current fax?\r\n(from: \"Beta\")"));
  EXPECT_FALSE(Exists("receive/B2.QVF"));
  EXPECT_FALSE(Exists("receive/B2.QVM")) << "the marks go with their fax";
  EXPECT_TRUE(Exists("receive/A1.QVF"));
  EXPECT_TRUE(Exists("receive/A1.QVM"));
  ASSERT_EQ(grid->model()->rowCount(), 1);
  EXPECT_TRUE(Enabled(*w, "DeleteButton"));

  dialogs_.answers = {true};
  Click(*w, "DeleteButton");
  EXPECT_FALSE(Exists("receive/A1.QVF"));
  EXPECT_FALSE(Exists("receive/A1.QVM"));
  EXPECT_EQ(grid->model()->rowCount(), 0);
  for (const char* off : {"EditButton", "DeleteButton", "ViewFaxButton", "Printbutton", "RecFaxGrid",
                          "mnuDelete"}) {
    EXPECT_FALSE(Enabled(*w, off)) << off;
  }
  // The records stay in the file, marked, until a rebuild packs them.
  EXPECT_EQ(w->Store().Pair(TableId::Rec).RecCount(), 2);
  dialogs_.Clear();
  w->DeleteButtonClick();  // nothing left: a beep
  EXPECT_EQ(dialogs_.beeps, 1);
  EXPECT_TRUE(dialogs_.shown.empty());
  Click(*w, "mnuRebuildIndexes");
  EXPECT_EQ(w->Store().Pair(TableId::Rec).RecCount(), 0);
}

TEST_F(MainScreenTest, AFaxFileNameLeadingOutOfTheFolderIsNeverDeleted) {
  auto w = StartReady();
  ASSERT_TRUE(AddReceived(w->Store(), "Mallory", "../QRV.INI", "20261201", "10:00", false));
  core::TIniFile(Ini()).WriteString("Test", "Key", "value");
  w->RefreshGrids();
  w->SetCurrentPage(TMainScreen::kIncomingPage);
  w->SetButtons();
  dialogs_.answers = {true};
  Click(*w, "DeleteButton");
  EXPECT_FALSE(w->Store().HasRecord(TableId::Rec));  // the record goes
  EXPECT_TRUE(Exists("QRV.INI"));                    // the file outside the folder stays
}

TEST_F(MainScreenTest, ReceivedNotesAreEditedInTheirDialog) {
  auto w = StartReady();
  ASSERT_TRUE(AddReceived(w->Store(), "Carol", "C.QVF"));
  w->RefreshGrids();
  w->SetCurrentPage(TMainScreen::kIncomingPage);
  w->SetButtons();
  dialogs_.forms.push_back([](QDialog* d) {
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Received Fax Notes"));
    EXPECT_EQ(d->findChild<QLabel*>(QStringLiteral("FromLabel"))->text(), QStringLiteral("From: Carol"));
    auto* edit = d->findChild<QLineEdit*>(QStringLiteral("NotesEdit"));
    EXPECT_EQ(edit->maxLength(), 60);
    edit->setText(QStringLiteral("call back on Monday"));
    return int(QDialog::Accepted);
  });
  Click(*w, "EditButton");
  EXPECT_EQ(w->Store().Pair(TableId::Rec).FieldString("NOTES"), "call back on Monday");
  auto* grid = Find<QTableView>(*w, "RecFaxGrid");
  EXPECT_EQ(grid->model()->index(0, 4).data().toString(), QStringLiteral("call back on Monday"));
  // Cancel leaves the notes alone.
  dialogs_.forms.push_back([](QDialog* d) {
    d->findChild<QLineEdit*>(QStringLiteral("NotesEdit"))->setText(QStringLiteral("changed"));
    return int(QDialog::Rejected);
  });
  Click(*w, "EditButton");
  EXPECT_EQ(w->Store().Pair(TableId::Rec).FieldString("NOTES"), "call back on Monday");
}

TEST_F(MainScreenTest, CommandsOnEmptyTablesBeepAndLaterFormsSaySo) {
  auto w = StartReady();
  w->mnuCloneClick();
  w->EditButtonClick();
  w->DeleteButtonClick();
  w->SendButtonClick();
  EXPECT_EQ(dialogs_.beeps, 4);
  EXPECT_TRUE(dialogs_.shown.empty());
  EXPECT_FALSE(w->CloneRequest());

  ASSERT_TRUE(AddFax(w->Store(), "x", false));
  w->RefreshGrids();
  w->SetButtons();
  dialogs_.Clear();
  w->mnuCloneClick();
  EXPECT_FALSE(w->CloneRequest());  // New ran and cleared it
  Click(*w, "Newbutton");
  EXPECT_EQ(dialogs_.Count(QStringLiteral("form")), 2);  // clone and New open the fax editor
  // The phone book and the cover sheets open their browsers in the managing mode.
  dialogs_.Clear();
  Click(*w, "mnuPhoneBook");
  Click(*w, "mnuCover");
  EXPECT_TRUE(dialogs_.Infos().isEmpty());
  ASSERT_EQ(dialogs_.Count(QStringLiteral("form")), 2);
  EXPECT_EQ(dialogs_.shown[0].caption, QStringLiteral("Phone Book Browser"));
  EXPECT_EQ(dialogs_.shown[1].caption, QStringLiteral("Cover Sheet Template Browser"));
  EXPECT_FALSE(w->Store().Pair(TableId::Cover).IsOpen());  // closed again afterwards
  // A refused clone in receive mode does not make the next New a clone.
  w->SetReceiveMode(true);
  w->mnuCloneClick();
  EXPECT_FALSE(w->CloneRequest());
}

TEST_F(MainScreenTest, ViewingAReceivedFaxWithoutItsFileSaysSo) {
  auto w = StartReady();
  ASSERT_TRUE(AddReceived(w->Store(), "Dave", "GONE.QVF", "20261201", "10:00", false));
  w->RefreshGrids();
  w->SetCurrentPage(TMainScreen::kIncomingPage);
  w->SetButtons();
  Click(*w, "ViewFaxButton");
  EXPECT_EQ(dialogs_.Infos(), QStringList{QString::fromLatin1(kFaxFileMissingText)});
  EXPECT_EQ(w->StatusText(), QString());
}

TEST_F(MainScreenTest, HintsSwitchIsStored) {
  auto w = StartReady();
  auto* hint = Find<QAction>(*w, "mnuShowHint");
  EXPECT_TRUE(hint->isChecked());
  EXPECT_FALSE(Find<QToolButton>(*w, "Newbutton")->toolTip().isEmpty());
  w->SetStatus(QStringLiteral("something"));
  hint->trigger();
  EXPECT_FALSE(hint->isChecked());
  EXPECT_TRUE(Find<QToolButton>(*w, "Newbutton")->toolTip().isEmpty());
  EXPECT_EQ(w->StatusText(), QString());
  EXPECT_FALSE(core::TIniFile(Ini()).ReadBool("Hints", "On", true));
}

TEST_F(MainScreenTest, ClosingSavesPlacementAndSettings) {
  auto w = StartReady();
  w->setGeometry(30, 40, 640, 420);
  Settings().Name = "Closing Test";
  w->close();
  core::TIniFile ini(Ini());
  EXPECT_EQ(ini.ReadString("User", "Name", ""), "Closing Test");
  EXPECT_EQ(ini.ReadString("Version", "Version", ""), "2.9v");
  const auto sections = ini.ReadSections();
  bool placement = false;
  for (const auto& s : sections) placement = placement || s.rfind("TMainScreen_Placement", 0) == 0;
  EXPECT_TRUE(placement);
  EXPECT_FALSE(w->Store().Pair(TableId::Fax).IsOpen());

  // The next start restores it.
  Settings() = TSettings();
  auto again = Start();
  EXPECT_EQ(again->geometry(), QRect(30, 40, 640, 420));
}

TEST_F(MainScreenTest, AnUnwritableSettingsFileDoesNotKeepTheProgramOpen) {
  auto w = StartReady();
  // The settings file replaced by a folder: every write fails.
  ASSERT_TRUE(QFile::remove(dir_.File(QStringLiteral("QRV.INI"))));
  ASSERT_TRUE(QDir(dir_.Path()).mkdir(QStringLiteral("QRV.INI")));
  EXPECT_TRUE(w->close());
  ASSERT_EQ(dialogs_.Infos().size(), 1);
  EXPECT_TRUE(dialogs_.Infos()[0].startsWith(QStringLiteral("Unable to write to ")));
}

TEST_F(MainScreenTest, ClosingWhileReceivingAsksFirst) {
  auto w = StartReady();
  w->SetReceivingNow(true);
  dialogs_.answers = {false};
  EXPECT_FALSE(w->close());
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0].caption, QStringLiteral("Exit"));
  EXPECT_EQ(dialogs_.shown[0].text, QStringLiteral("You are receiving a fax. Exit the program?"));
  EXPECT_TRUE(w->Store().Pair(TableId::Fax).IsOpen());
  dialogs_.answers = {true};
  EXPECT_TRUE(w->close());
  EXPECT_FALSE(w->ReceiveMode());
}

TEST_F(MainScreenTest, ATableThatCannotBeOpenedClosesTheProgram) {
  Configure();
  QFile junk(dir_.File(QStringLiteral("QRV.DBF")));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("garbage that is no table");
  junk.close();
  TMainScreen w(dir_.Path());
  w.show();
  EXPECT_EQ(dialogs_.Infos(),
            QStringList{QStringLiteral("Unable to open/create the FAX datafile - closing program")});
  QCoreApplication::processEvents();
  EXPECT_FALSE(w.isVisible());
}

}  // namespace
}  // namespace qv::app
