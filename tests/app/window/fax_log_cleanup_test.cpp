#include "app/forms/fax_log_cleanup.h"

#include "app/forms/date_selector.h"
#include "app/forms/delete_for_conditions.h"
#include "app/store/fax_store.h"
#include "app/forms/main_screen.h"
#include "app/store/settings.h"
#include "core/ini_file.h"
#include "faximage/marks_file.h"
#include "app/forms/table_model.h"
#include "app/store/table_pair.h"
#include "store_helpers.h"
#include "tables/table_check.h"
#include "../test_support.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QCalendarWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace qv::app {
namespace {

using test::AddFax;
using test::AddReceived;
using test::DataDir;
using test::ScriptedDialogs;

class FaxLogCleanupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    store_ = std::make_unique<TFaxStore>(dir_.StdPath());
    ASSERT_TRUE(store_->OpenFaxDBF());
    ASSERT_TRUE(store_->OpenRecFaxDBF());
  }

  TablePair& Fax() { return store_->Pair(TableId::Fax); }
  TablePair& Rec() { return store_->Pair(TableId::Rec); }

  // The form as the main window opens it: tables in their date order, first activation run.
  std::unique_ptr<TDMForm> Open() {
    store_->SyncOrder(TableId::Fax);
    store_->SyncOrder(TableId::Rec);
    auto form = std::make_unique<TDMForm>(Fax(), Rec(), dir_.Path(), nullptr);
    form->FormActivate();
    dialogs_.Clear();
    return form;
  }

  // Values of a field over the visible records, in physical order.
  std::multiset<std::string> Values(TablePair& pair, const char* field) {
    std::multiset<std::string> out;
    const int order = pair.IndexOrd();
    pair.SetOrder(0);
    for (pair.First(); !pair.Eof(); pair.Next()) out.insert(pair.FieldString(field));
    pair.SetOrder(order);
    return out;
  }

  // Marks beside a received fax, as the viewer saves them.
  void AddMarks(const char* fax) const {
    QFile f(MarksOf(fax));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("QVMARKS 1\ncheck 1 10 10 40 40\n");
  }
  QString MarksOf(const char* fax) const {
    return QString::fromStdString(qv::faximage::MarksFileName(
        dir_.File(QStringLiteral("receive/") + QString::fromLatin1(fax)).toStdString()));
  }

  bool ReceivedFile(const char* name) const {
    return QFileInfo::exists(dir_.File(QStringLiteral("receive/") + QString::fromLatin1(name)));
  }

  void AddOutgoingSample() {
    ASSERT_TRUE(AddFax(*store_, "sent 1", true, "20261201", "09:00", "Smith", "555 0101"));
    ASSERT_TRUE(AddFax(*store_, "sent 2", true, "20261115", "10:00", "  smithers ", "555 0102"));
    ASSERT_TRUE(AddFax(*store_, "draft 1", false, "", "", "John Smith", "555 0103"));
    ASSERT_TRUE(AddFax(*store_, "draft 2", false, "", "", "Jones", "555 0104"));
  }

  void AddReceivedSample() {
    ASSERT_TRUE(AddReceived(*store_, "ACME", "FAX00001.QVF", "20261130", "08:00"));
    ASSERT_TRUE(AddReceived(*store_, "acme corp", "FAX00002.QVF", "20261201", "09:00"));
    ASSERT_TRUE(AddReceived(*store_, "Harbour", "FAX00003.QVF", "20261202", "10:00"));
  }

  // The conditions dialog, filled in by `fill` and confirmed with Ok.
  void ScriptConditions(std::function<void(TDeleteForConditions&)> fill) {
    dialogs_.forms.push_back([fill](QDialog* d) {
      auto* form = qobject_cast<TDeleteForConditions*>(d);
      EXPECT_NE(form, nullptr);
      if (!form) return int(QDialog::Rejected);
      fill(*form);
      form->OkClick();
      return form->result();
    });
  }

  void ScriptDate(const QDate& date) {
    dialogs_.forms.push_back([date](QDialog* d) {
      auto* selector = qobject_cast<TDateSelector*>(d);
      EXPECT_NE(selector, nullptr);
      if (!selector) return int(QDialog::Rejected);
      EXPECT_EQ(selector->windowTitle(), QStringLiteral("Delete all before..."));
      EXPECT_EQ(selector->Date(), QDate::currentDate());
      selector->SetDate(date);
      return int(QDialog::Accepted);
    });
  }

  DataDir dir_;
  ScriptedDialogs dialogs_;
  std::unique_ptr<TFaxStore> store_;
};

TEST(FaxLogCleanupExpressions, AreTheEngineConditionsOfEachCommand) {
  EXPECT_EQ(BeforeDateExpression(true, QDate(2026, 3, 7)),
            "(DATESENT<CTOD(\"03/07/2026\")) .and. (.not. EMPTY(DATESENT))");
  EXPECT_EQ(BeforeDateExpression(false, QDate(1999, 12, 31)),
            "(DATEREC<CTOD(\"12/31/1999\")) .and. (.not. EMPTY(DATEREC))");
  EXPECT_EQ(ConditionExpression(ConditionField::Recipient, QStringLiteral("  smith "), true),
            "ALLTRIM(UPPER(RECIPIENT))==\"SMITH\"");
  EXPECT_EQ(ConditionExpression(ConditionField::From, QStringLiteral("acme"), false),
            "\"ACME\"$ALLTRIM(UPPER(FROM))");
  EXPECT_EQ(ConditionExpression(ConditionField::Phone, QStringLiteral("555"), false),
            "\"555\"$ALLTRIM(UPPER(PHONE))");
  // A text with quotes of its own is quoted with another delimiter, never closed early.
  EXPECT_EQ(ConditionExpression(ConditionField::From, QStringLiteral("O\"Neil"), true),
            "ALLTRIM(UPPER(FROM))=='O\"NEIL'");
  EXPECT_EQ(ConditionExpression(ConditionField::From, QStringLiteral("a\"b'c"), true),
            "ALLTRIM(UPPER(FROM))==[A\"B'C]");
  EXPECT_EQ(ConditionExpression(ConditionField::From, QStringLiteral("a\"b'c]"), true), "");
  // Only ASCII letters change case, as in the engine's UPPER().
  EXPECT_EQ(ConditionExpression(ConditionField::From, QString::fromUtf8("müller"), true),
            "ALLTRIM(UPPER(FROM))==\"M\xC3\xBCLLER\"");
}

TEST(DateSelector, ButtonsMoveTheCalendarAndThePanelFollows) {
  test::App();
  TDateSelector selector;
  EXPECT_EQ(selector.windowTitle(), QStringLiteral("Select Date"));
  EXPECT_EQ(selector.Date(), QDate::currentDate());
  selector.SetDate(QDate(2024, 2, 29));
  EXPECT_EQ(selector.PanelText(), QLocale().toString(QDate(2024, 2, 29), QStringLiteral("dddd, MMMM d, yyyy")));
  auto click = [&](const char* name) { selector.findChild<QPushButton*>(QString::fromLatin1(name))->click(); };
  click("YearPlus");
  EXPECT_EQ(selector.Date(), QDate(2025, 2, 28));  // no 29 February in 2025
  click("MonthPlus");
  EXPECT_EQ(selector.Date(), QDate(2025, 3, 28));
  click("MonthMinus");
  click("MonthMinus");
  click("YearMinus");
  EXPECT_EQ(selector.Date(), QDate(2024, 1, 28));
  EXPECT_EQ(selector.PanelText(), LongDateText(QDate(2024, 1, 28)));
  // A day picked on the calendar shows in the panel at once; activating it is Ok.
  selector.findChild<QCalendarWidget*>()->setSelectedDate(QDate(2023, 7, 4));
  EXPECT_EQ(selector.PanelText(), LongDateText(QDate(2023, 7, 4)));
  click("TodayButton");
  EXPECT_EQ(selector.Date(), QDate::currentDate());
  emit selector.findChild<QCalendarWidget*>()->activated(QDate::currentDate());
  EXPECT_EQ(selector.result(), int(QDialog::Accepted));
  for (const char* caption : {"Year-", "Month-", "Today", "Month +", "Year+", "Ok", "Cancel"}) {
    bool found = false;
    for (QPushButton* b : selector.findChildren<QPushButton*>()) found = found || b->text() == QLatin1String(caption);
    EXPECT_TRUE(found) << caption;
  }
}

TEST_F(FaxLogCleanupTest, EmptyTablesSayNoneAndOfferNoActions) {
  auto form = Open();
  auto* tabs = form->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
  auto* actions = form->findChild<QMenu*>(QStringLiteral("mnuActions"));
  ASSERT_TRUE(tabs && actions);
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Fax Log Cleanup Utility"));
  EXPECT_EQ(tabs->tabText(0), QStringLiteral("OutGoing Faxes (none)"));
  EXPECT_EQ(tabs->tabText(1), QStringLiteral("Incoming Faxes (none)"));
  EXPECT_FALSE(form->findChild<QTableView*>(QStringLiteral("SendGrid"))->isEnabled());
  EXPECT_FALSE(actions->menuAction()->isEnabled());
  // The archived variant is not part of this program.
  EXPECT_FALSE(form->findChild<QAction*>(QStringLiteral("mnuDeleteAllArchivedFaxes"))->isVisible());

  ASSERT_TRUE(AddFax(*store_, "one", false));
  form->SendModel()->Reload();
  form->UpdateControls();
  EXPECT_EQ(tabs->tabText(0), QStringLiteral("Outgoing Faxes"));
  EXPECT_TRUE(actions->menuAction()->isEnabled());
  EXPECT_TRUE(form->findChild<QAction*>(QStringLiteral("mnuDeleteAllthatHaveBeenSent"))->isVisible());
  form->SetCurrentPage(TDMForm::kIncomingPage);
  EXPECT_FALSE(actions->menuAction()->isEnabled());  // the received page is still empty
  EXPECT_FALSE(form->findChild<QAction*>(QStringLiteral("mnuDeleteAllthatHaveBeenSent"))->isVisible());
  EXPECT_FALSE(form->findChild<QAction*>(QStringLiteral("mnuDeleteAllThatHaveNOTBeenSent"))->isVisible());
  EXPECT_EQ(form->findChild<QTableView*>(QStringLiteral("SendGrid"))->model()->headerData(0, Qt::Horizontal),
            QStringLiteral("Deleted?"));
}

TEST_F(FaxLogCleanupTest, SentAndUnsentDeleteExactlyTheirFaxesAndTheQueriesComeBack) {
  AddOutgoingSample();
  auto form = Open();
  EXPECT_EQ(Fax().QueryText(), "");  // every record is seen while the form is open
  dialogs_.answers = {true};
  form->mnuDeleteAllthatHaveBeenSentClick();
  ASSERT_EQ(dialogs_.shown.size(), 2u);
  EXPECT_EQ(dialogs_.shown[0].caption, QStringLiteral("DELETE"));
  EXPECT_EQ(dialogs_.shown[0].text,
            QStringLiteral("Delete all outgoing faxes which have been sent? (action is permanent)"));
  EXPECT_FALSE(dialogs_.shown[0].defaultYes);
  EXPECT_EQ(dialogs_.Infos(), QStringList{QStringLiteral("2 deleted.")});
  EXPECT_EQ(Values(Fax(), "SUBJECT"), (std::multiset<std::string>{"draft 1", "draft 2"}));
  EXPECT_EQ(form->SendModel()->rowCount(), 2);
  EXPECT_TRUE(form->AnythingDeleted());

  dialogs_.Clear();
  dialogs_.answers = {true};
  form->mnuDeleteAllThatHaveNOTBeenSentClick();
  EXPECT_EQ(dialogs_.shown[0].text,
            QStringLiteral("Delete all outgoing faxes which have NOT been sent? (action is permanent)"));
  EXPECT_EQ(dialogs_.Infos(), QStringList{QStringLiteral("2 deleted.")});
  EXPECT_TRUE(Values(Fax(), "SUBJECT").empty());
  EXPECT_EQ(form->findChild<QTabWidget*>()->tabText(0), QStringLiteral("OutGoing Faxes (none)"));

  form->reject();
  EXPECT_EQ(Fax().QueryText(), kNotDeleted);
  EXPECT_EQ(Rec().QueryText(), kNotDeleted);
}

TEST_F(FaxLogCleanupTest, DeclinedConfirmationsChangeNothing) {
  AddOutgoingSample();
  AddReceivedSample();
  auto form = Open();
  dialogs_.answers = {false, false, false};
  form->mnuDeleteAllthatHaveBeenSentClick();
  form->mnuDeleteAllThatHaveNOTBeenSentClick();
  form->DeleteAllFaxes1Click();
  EXPECT_EQ(dialogs_.shown.back().caption, QStringLiteral("DELETE ALL"));
  EXPECT_EQ(dialogs_.shown.back().text, QStringLiteral("Delete all outgoing faxes ? (action is permanent)"));
  dialogs_.answers = {false};
  form->mnuToggleDeletedStateClick();
  EXPECT_EQ(dialogs_.shown.back().text, QStringLiteral("Delete this fax? (action is permanent)"));
  EXPECT_TRUE(dialogs_.shown.back().defaultYes);

  form->SetCurrentPage(TDMForm::kIncomingPage);
  ScriptDate(QDate(2030, 1, 1));
  dialogs_.answers = {false};
  form->mnuAllBeforeDateClick();
  dialogs_.forms.push_back([](QDialog*) { return int(QDialog::Rejected); });  // the calendar cancelled
  form->mnuAllBeforeDateClick();
  ScriptConditions([](TDeleteForConditions&) {});
  dialogs_.answers = {false};  // "VERIFY DELETE" answered No: the dialog stays, then is cancelled
  form->mnuDeleteAllFaxesMeetingCertainConditionsClick();
  dialogs_.answers = {false};
  form->DeleteAllFaxes1Click();
  EXPECT_EQ(dialogs_.shown.back().text, QStringLiteral("Delete all received faxes ? (action is permanent)"));

  EXPECT_TRUE(dialogs_.Infos().isEmpty());
  EXPECT_FALSE(form->AnythingDeleted());
  EXPECT_EQ(Values(Fax(), "SUBJECT").size(), 4u);
  EXPECT_EQ(Values(Rec(), "FROM").size(), 3u);
  for (const char* f : {"FAX00001.QVF", "FAX00002.QVF", "FAX00003.QVF"}) EXPECT_TRUE(ReceivedFile(f)) << f;
}

TEST_F(FaxLogCleanupTest, BeforeADateTakesOlderDatedFaxesWithTheirFilesWhateverTheCentury) {
  AddReceivedSample();
  ASSERT_TRUE(AddReceived(*store_, "undated", "FAX00004.QVF", "", ""));
  auto form = Open();
  form->SetCurrentPage(TDMForm::kIncomingPage);

  // 1940 is outside the two-digit-year window: as "01/01/40" it would read as 2040 and take all.
  ScriptDate(QDate(1940, 1, 1));
  dialogs_.answers = {true};
  form->mnuAllBeforeDateClick();
  EXPECT_EQ(dialogs_.Infos(), QStringList{QStringLiteral("0 deleted.")});
  EXPECT_FALSE(form->AnythingDeleted());

  dialogs_.Clear();
  ScriptDate(QDate(2026, 12, 1));
  dialogs_.answers = {true};
  form->mnuAllBeforeDateClick();
  ASSERT_GE(dialogs_.shown.size(), 2u);
  EXPECT_EQ(dialogs_.shown[1].text, QStringLiteral("Delete all received faxes prior to ") +
                                        QLocale().toString(QDate(2026, 12, 1), QLocale::ShortFormat) +
                                        QStringLiteral(" (action is permanent)?"));
  EXPECT_EQ(dialogs_.Infos(), QStringList{QStringLiteral("1 deleted.")});
  EXPECT_EQ(Values(Rec(), "FROM"), (std::multiset<std::string>{"acme corp", "Harbour", "undated"}));
  EXPECT_FALSE(ReceivedFile("FAX00001.QVF"));
  EXPECT_TRUE(ReceivedFile("FAX00002.QVF"));

  // 2050 as "01/01/50" would be 1950 and take nothing; the undated fax is never taken.
  dialogs_.Clear();
  ScriptDate(QDate(2050, 1, 1));
  dialogs_.answers = {true};
  form->mnuAllBeforeDateClick();
  EXPECT_EQ(dialogs_.Infos(), QStringList{QStringLiteral("2 deleted.")});
  EXPECT_EQ(Values(Rec(), "FROM"), (std::multiset<std::string>{"undated"}));
  EXPECT_TRUE(ReceivedFile("FAX00004.QVF"));
  EXPECT_FALSE(ReceivedFile("FAX00003.QVF"));
}

TEST_F(FaxLogCleanupTest, ConditionsMatchExactlyOrInPartAndTextIsOnlyText) {
  AddOutgoingSample();
  auto form = Open();
  // Outgoing: FROM is not offered; RECIPIENT is chosen and both edits hold the current fax.
  std::string currentRecipient = Fax().FieldString("RECIPIENT");
  std::string currentPhone = Fax().FieldString("PHONE");
  ScriptConditions([&](TDeleteForConditions& d) {
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Delete Faxes Where...."));
    EXPECT_FALSE(d.rFrom()->isEnabled());
    EXPECT_FALSE(d.FaxFROM()->isEnabled());
    EXPECT_TRUE(d.rRecipient()->isChecked());
    EXPECT_EQ(d.FaxRECIPIENT()->text().toStdString(), currentRecipient);
    EXPECT_EQ(d.FaxPHONE()->text().toStdString(), currentPhone);
    EXPECT_TRUE(d.ExactMatch()->isChecked());
    d.FaxRECIPIENT()->setText(QStringLiteral("   "));
    d.OkClick();  // blank: refused, the dialog stays
    EXPECT_EQ(d.result(), int(QDialog::Rejected));
    d.FaxRECIPIENT()->setText(QStringLiteral("X\" .or. .t. .or. \""));
  });
  dialogs_.answers = {true};
  form->mnuDeleteAllFaxesMeetingCertainConditionsClick();
  EXPECT_EQ(dialogs_.Infos(), (QStringList{QStringLiteral("Please enter a value"), QStringLiteral("0 deleted.")}));
  ASSERT_GE(dialogs_.shown.size(), 3u);
  EXPECT_EQ(dialogs_.shown[2].caption, QStringLiteral("VERIFY DELETE"));
  EXPECT_EQ(dialogs_.shown[2].text, QStringLiteral("Are you sure you wish to delete all faxes matching this criteria?"));
  EXPECT_EQ(Values(Fax(), "SUBJECT").size(), 4u);

  dialogs_.Clear();
  ScriptConditions([](TDeleteForConditions& d) { d.FaxRECIPIENT()->setText(QStringLiteral(" smith ")); });
  dialogs_.answers = {true};
  form->mnuDeleteAllFaxesMeetingCertainConditionsClick();
  EXPECT_EQ(dialogs_.Infos(), QStringList{QStringLiteral("1 deleted.")});
  EXPECT_EQ(Values(Fax(), "RECIPIENT"), (std::multiset<std::string>{"  smithers", "John Smith", "Jones"}));

  dialogs_.Clear();
  ScriptConditions([](TDeleteForConditions& d) {
    d.FaxRECIPIENT()->setText(QStringLiteral("SMI"));
    d.ExactMatch()->setChecked(false);
  });
  dialogs_.answers = {true};
  form->mnuDeleteAllFaxesMeetingCertainConditionsClick();
  EXPECT_EQ(dialogs_.Infos(), QStringList{QStringLiteral("2 deleted.")});
  EXPECT_EQ(Values(Fax(), "RECIPIENT"), (std::multiset<std::string>{"Jones"}));

  dialogs_.Clear();
  ScriptConditions([](TDeleteForConditions& d) {
    d.rPhone()->setChecked(true);
    d.FaxPHONE()->setText(QStringLiteral("555 0104"));
  });
  dialogs_.answers = {true};
  form->mnuDeleteAllFaxesMeetingCertainConditionsClick();
  EXPECT_EQ(dialogs_.Infos(), QStringList{QStringLiteral("1 deleted.")});
  EXPECT_TRUE(Values(Fax(), "RECIPIENT").empty());
}

TEST_F(FaxLogCleanupTest, ReceivedConditionsOfferFromOnlyAndTakeTheFiles) {
  AddReceivedSample();
  for (const char* f : {"FAX00001.QVF", "FAX00003.QVF"}) AddMarks(f);
  auto form = Open();
  form->SetCurrentPage(TDMForm::kIncomingPage);
  const std::string from = Rec().FieldString("FROM");
  ScriptConditions([&](TDeleteForConditions& d) {
    EXPECT_TRUE(d.rFrom()->isChecked());
    EXPECT_EQ(d.FaxFROM()->text().toStdString(), from);
    for (QWidget* w : std::initializer_list<QWidget*>{d.rRecipient(), d.FaxRECIPIENT(), d.rPhone(), d.FaxPHONE()})
      EXPECT_FALSE(w->isEnabled());
    d.FaxFROM()->setText(QStringLiteral("acme"));
    d.ExactMatch()->setChecked(false);
  });
  dialogs_.answers = {true};
  form->mnuDeleteAllFaxesMeetingCertainConditionsClick();
  EXPECT_EQ(dialogs_.Infos(), QStringList{QStringLiteral("2 deleted.")});
  EXPECT_EQ(Values(Rec(), "FROM"), (std::multiset<std::string>{"Harbour"}));
  EXPECT_FALSE(ReceivedFile("FAX00001.QVF"));
  EXPECT_FALSE(ReceivedFile("FAX00002.QVF"));
  EXPECT_TRUE(ReceivedFile("FAX00003.QVF"));
  EXPECT_FALSE(QFileInfo::exists(MarksOf("FAX00001.QVF"))) << "the marks go with their fax";
  EXPECT_TRUE(QFileInfo::exists(MarksOf("FAX00003.QVF")));
}

TEST_F(FaxLogCleanupTest, DeletedRecordsAreNotCountedAgainAndAMissingFileDoesNotKeepARecord) {
  AddReceivedSample();
  ASSERT_TRUE(AddReceived(*store_, "no file", "FAX00009.QVF", "20261203", "11:00", false));
  // One fax deleted before, the way the main window deletes.
  Rec().SetOrder(0);
  Rec().First();
  ASSERT_EQ(Rec().FieldString("FROM"), "ACME");
  ASSERT_TRUE(Rec().DeleteRecord());
  auto form = Open();
  form->SetCurrentPage(TDMForm::kIncomingPage);
  EXPECT_EQ(form->RecModel()->rowCount(), 3);
  EXPECT_EQ(form->DeleteFor(kAllFaxesExpression), 3);
  EXPECT_EQ(dialogs_.Infos(), QStringList{QStringLiteral("3 deleted.")});
  EXPECT_TRUE(ReceivedFile("FAX00001.QVF"));  // its record was deleted before, not by this run
  EXPECT_FALSE(ReceivedFile("FAX00002.QVF"));
  EXPECT_EQ(form->RecModel()->rowCount(), 0);
  // Nothing left to delete: the count is 0 and the deletion flag is what it was.
  dialogs_.Clear();
  TDMForm second(Fax(), Rec(), dir_.Path(), nullptr);
  second.FormActivate();
  second.SetCurrentPage(TDMForm::kIncomingPage);
  EXPECT_EQ(second.DeleteFor(kAllFaxesExpression), 0);
  EXPECT_FALSE(second.AnythingDeleted());
}

TEST_F(FaxLogCleanupTest, DeleteCurrentFaxTakesItsFileAndMovesToTheNext) {
  AddReceivedSample();
  AddMarks("FAX00002.QVF");
  auto form = Open();
  form->SetCurrentPage(TDMForm::kIncomingPage);
  auto* grid = form->findChild<QTableView*>(QStringLiteral("RecGrid"));
  // Newest first: row 1 is the fax of 20261201.
  grid->setCurrentIndex(form->RecModel()->index(1, 2));
  ASSERT_EQ(Rec().FieldString("FROM"), "acme corp");
  dialogs_.answers = {true};
  form->findChild<QAction*>(QStringLiteral("ToggleDeletedState1"))->trigger();
  EXPECT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0].caption, QStringLiteral("DELETE"));
  EXPECT_EQ(Rec().FieldString("FROM"), "ACME");  // the next one in the grid's order
  EXPECT_FALSE(ReceivedFile("FAX00002.QVF"));
  EXPECT_FALSE(QFileInfo::exists(MarksOf("FAX00002.QVF")));
  EXPECT_EQ(Values(Rec(), "FROM"), (std::multiset<std::string>{"ACME", "Harbour"}));
  EXPECT_EQ(form->RecModel()->rowCount(), 2);
  EXPECT_TRUE(form->AnythingDeleted());
  // A double click on the "Deleted?" column asks the same; elsewhere it does nothing.
  dialogs_.Clear();
  dialogs_.answers = {false};
  emit grid->doubleClicked(form->RecModel()->index(0, 3));
  EXPECT_TRUE(dialogs_.shown.empty());
  emit grid->doubleClicked(form->RecModel()->index(0, 0));
  EXPECT_EQ(dialogs_.Count(QStringLiteral("question")), 1);
}

// Makes a file impossible to remove, even for root: the immutable attribute where the file
// system has it, else a folder without write permission.
class Unremovable {
 public:
  Unremovable(const QString& file, const QString& folder) : file_(file), folder_(folder) {
    int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY);
    int flags = 0;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags |= FS_IMMUTABLE_FL;
      immutable_ = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (fd >= 0) ::close(fd);
    if (!immutable_) QFile(folder).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  }
  ~Unremovable() {
    if (immutable_) {
      int fd = ::open(QFile::encodeName(file_).constData(), O_RDONLY);
      int flags = 0;
      if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags &= ~FS_IMMUTABLE_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
      }
      if (fd >= 0) ::close(fd);
    } else {
      QFile(folder_).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
  }
  // Whether removing really fails here (a probe rename that must not succeed).
  bool Works() const {
    const QByteArray from = QFile::encodeName(file_);
    const QByteArray to = QFile::encodeName(file_ + QStringLiteral(".probe"));
    if (std::rename(from.constData(), to.constData()) == 0) {
      std::rename(to.constData(), from.constData());
      return false;
    }
    return true;
  }

 private:
  QString file_;
  QString folder_;
  bool immutable_ = false;
};

TEST_F(FaxLogCleanupTest, AFileThatCannotBeRemovedKeepsItsRecordAndIsReported) {
  AddReceivedSample();
  auto form = Open();
  form->SetCurrentPage(TDMForm::kIncomingPage);
  const QString folder = dir_.File(QStringLiteral("receive"));
  {
    Unremovable stuck(folder + QStringLiteral("/FAX00002.QVF"), folder);
    if (!stuck.Works()) GTEST_SKIP() << "no way to make a file unremovable here";
    EXPECT_EQ(form->DeleteFor(kAllFaxesExpression), 2);
  }
  ASSERT_EQ(dialogs_.Infos().size(), 2);
  EXPECT_EQ(dialogs_.Infos()[0], QStringLiteral("2 deleted."));
  EXPECT_TRUE(dialogs_.Infos()[1].startsWith(
      QStringLiteral("1 fax file(s) could not be removed; their records are kept:\rFAX00002.QVF: ")))
      << dialogs_.Infos()[1].toStdString();
  EXPECT_EQ(Values(Rec(), "FROM"), (std::multiset<std::string>{"acme corp"}));
  EXPECT_TRUE(ReceivedFile("FAX00002.QVF"));
  EXPECT_FALSE(ReceivedFile("FAX00001.QVF"));
  EXPECT_FALSE(ReceivedFile("FAX00003.QVF"));
  EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/FAX00001.QVF.deleting")));
  EXPECT_EQ(form->RecModel()->rowCount(), 1);
  // The tables agree with their indexes afterwards.
  form.reset();
  store_.reset();
  for (const char* table : {"QRV.DBF", "QRVREC.DBF"}) {
    EXPECT_EQ(tables::CheckTable(dir_.StdPath() + table), std::vector<std::string>()) << table;
  }
}

TEST_F(FaxLogCleanupTest, TheMainWindowRebuildsTheIndexesOnlyWhenSomethingWasDeleted) {
  AddOutgoingSample();
  AddReceivedSample();
  store_->RebuildIndexes(nullptr);
  store_.reset();
  core::TIniFile(SettingsFileName(dir_.StdPath())).WriteInteger("Modem", "ComPort", 0);
  Settings() = TSettings();
  TMainScreen w(dir_.Path());
  w.FormActivate();
  for (bool deleteSome : {false, true}) {
    dialogs_.Clear();
    dialogs_.forms.push_back([deleteSome](QDialog* d) {
      auto* form = qobject_cast<TDMForm*>(d);
      EXPECT_NE(form, nullptr);
      if (!form) return int(QDialog::Rejected);
      EXPECT_EQ(form->windowTitle(), QStringLiteral("Fax Log Cleanup Utility"));
      form->FormActivate();
      form->SetCurrentPage(TDMForm::kIncomingPage);
      if (deleteSome) form->DeleteFor(ConditionExpression(ConditionField::From, QStringLiteral("harbour"), true));
      form->reject();
      return int(QDialog::Rejected);
    });
    w.findChild<QAction*>(QStringLiteral("FaxlogCleanup1"))->trigger();
    QStringList forms;
    for (const auto& shown : dialogs_.shown)
      if (shown.kind == QLatin1String("form")) forms << shown.text;
    EXPECT_EQ(forms, deleteSome ? (QStringList{QStringLiteral("DMForm"), QStringLiteral("RebuildInd")})
                                : QStringList{QStringLiteral("DMForm")});
  }
  // Packed away with its file; the window lists what is left under the usual filter.
  TablePair& rec = w.Store().Pair(TableId::Rec);
  EXPECT_EQ(rec.RecCount(), 2);
  EXPECT_EQ(rec.QueryText(), kNotDeleted);
  EXPECT_FALSE(ReceivedFile("FAX00003.QVF"));
  EXPECT_EQ(w.findChild<QTableView*>(QStringLiteral("RecFaxGrid"))->model()->rowCount(), 2);
}

}  // namespace
}  // namespace qv::app
