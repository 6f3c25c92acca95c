// Composing against a store that fails: Accept on a full disk, a memo the table cannot read, and
// names that do not fit their fields. The main window and its forms run for real over real tables.
#include "app/contacts/cover_browse.h"
#include "app/contacts/cover_editor.h"
#include "app/editor/enter_edit.h"
#include "app/editor/fax_editor.h"
#include "app/store/fax_store.h"
#include "app/forms/main_screen.h"
#include "app/store/table_pair.h"
#include "rtf/rtf_reader.h"
#include "ui/rich_edit.h"
#include "send_helpers.h"
#include "../../small_fs.h"
#include "../test_support.h"

#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTableView>
#include <QTextCursor>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <memory>

namespace qv::app {
namespace {

using test::AddFaxWithMemos;
using test::FilesLike;

constexpr size_t kDiskSize = 4 * 1024 * 1024;
// Room for a record and a small memo, not for a long document.
constexpr size_t kSpareRoom = 64 * 1024;
// A script's answer when the form closed itself (Esc and the question): take the form's result.
constexpr int kClosedByTheForm = -1;

// A document far larger than the room left.
QString LongDocument() {
  QStringList lines;
  for (int line = 0; line < 6000; ++line) lines << QStringLiteral("Line %1 of the quarterly report.").arg(line);
  return lines.join(QLatin1Char('\n'));
}

void Type(ui::TQvRichEdit* editor, const QString& text) {
  QTextCursor c = editor->TextEdit()->textCursor();
  c.movePosition(QTextCursor::End);
  c.insertText(text);
}

QString Text(ui::TQvRichEdit* editor) { return editor->TextEdit()->toPlainText(); }

void PressEsc(QWidget* form) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(form, &press);
}

class ComposeStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { test::App(); }
  void TearDown() override {
    if (w_) w_->close();
    w_.reset();
    if (!dir_.isEmpty()) QDir(dir_).removeRecursively();
  }

  // The main window over a data directory on the small disk (skipped where none can be mounted).
  bool StartOnSmallDisk() {
    if (!disk_.ok()) return false;
    dir_ = QString::fromStdString(disk_ / "");
    w_ = test::StartReadyWindow(dir_);
    dialogs_.Clear();
    return true;
  }

  TablePair& Fax() { return w_->Store().Pair(TableId::Fax); }

  int VisibleFaxes() {
    int n = 0;
    for (Fax().First(); !Fax().Eof(); Fax().Next()) ++n;
    Fax().First();
    return n;
  }

  // A memo's plain text as the store keeps it.
  std::string MemoText(TablePair& t, const char* field) {
    RtfBuffer memo;
    std::string why;
    EXPECT_TRUE(w_->Store().LoadRichText(memo, field, t, &why)) << why;
    rtf::Document doc;
    if (!memo.IsEmpty()) EXPECT_TRUE(rtf::ReadRtf(memo.Rtf(), doc));
    return doc.PlainText();
  }

  // Queues a script for the next fax editor; Accepted has the form's own Accept close it.
  void OnEditor(std::function<int(TFaxEditor&)> script) {
    dialogs_.forms.push_back([script](QDialog* d) {
      auto* editor = qobject_cast<TFaxEditor*>(d);
      EXPECT_NE(editor, nullptr);
      if (!editor) return int(QDialog::Rejected);
      const int result = script(*editor);
      if (result == kClosedByTheForm) return editor->result();
      return result == QDialog::Accepted ? test::AcceptForm(editor) : result;
    });
  }

  void FillDisk() { disk_.Fill("filler", kSpareRoom); }
  void FreeDisk() { QFile::remove(QString::fromStdString(disk_ / "filler")); }

  SmallFs disk_{kDiskSize};
  QString dir_;
  test::ScriptedDialogs dialogs_;
  std::unique_ptr<TMainScreen> w_;
};

TEST_F(ComposeStoreTest, AcceptOnAFullDiskSaysSoKeepsTheEditorOpenAndLeavesNoRecord) {
  if (!StartOnSmallDisk()) GTEST_SKIP() << disk_.reason();
  const QString document = LongDocument();
  OnEditor([&](TFaxEditor& e) {
    e.show();
    e.Recipient()->setText(QStringLiteral("Alice Example"));
    e.FaxNumber()->setText(QStringLiteral("555 0123"));
    e.Subject()->setText(QStringLiteral("Quarterly report"));
    Type(e.RTCover(), QStringLiteral("Cover sheet"));
    Type(e.RTDoc(), document);
    FillDisk();
    e.accept();
    // Said so, over the editor, which stays open with everything typed.
    EXPECT_EQ(dialogs_.Count(QStringLiteral("error")), 1);
    const QString said = dialogs_.shown.empty() ? QString() : dialogs_.shown.back().text;
    EXPECT_TRUE(said.startsWith(QStringLiteral("The fax could not be stored: "))) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("Disk is full"))) << said.toStdString();
    EXPECT_TRUE(e.isVisible());
    EXPECT_EQ(Text(e.RTDoc()), document);
    EXPECT_EQ(e.Subject()->text(), QStringLiteral("Quarterly report"));
    // No record, not even one without its document.
    EXPECT_EQ(VisibleFaxes(), 0);
    EXPECT_TRUE(FilesLike(dir_, QStringLiteral("Eraseme.rtf")).isEmpty());
    // With room again the same Accept stores it whole.
    FreeDisk();
    return int(QDialog::Accepted);
  });
  w_->NewbuttonClick();
  ASSERT_EQ(VisibleFaxes(), 1);
  EXPECT_EQ(Fax().FieldString("SUBJECT"), "Quarterly report");
  EXPECT_EQ(MemoText(Fax(), "RTFCOVER"), "Cover sheet");
  EXPECT_EQ(QString::fromStdString(MemoText(Fax(), "RTFDOC")), document);

  // Edit on a full disk: the record keeps what it held, fields and both memos.
  dialogs_.Clear();
  OnEditor([&](TFaxEditor& e) {
    e.show();
    e.Subject()->setText(QStringLiteral("Quarterly report, revised"));
    e.RTCover()->TextEdit()->setPlainText(QStringLiteral("A new cover"));
    Type(e.RTDoc(), document);
    FillDisk();
    e.accept();
    EXPECT_EQ(dialogs_.Count(QStringLiteral("error")), 1);
    EXPECT_TRUE(e.isVisible());
    // Esc now asks first; No gives the changes up.
    dialogs_.choices = {DialogService::Choice::No};
    PressEsc(&e);
    EXPECT_EQ(dialogs_.Count(QStringLiteral("choice")), 1);
    EXPECT_FALSE(e.isVisible());
    return kClosedByTheForm;
  });
  w_->EditButtonClick();
  FreeDisk();
  ASSERT_EQ(VisibleFaxes(), 1);
  EXPECT_EQ(Fax().FieldString("SUBJECT"), "Quarterly report");
  EXPECT_EQ(MemoText(Fax(), "RTFCOVER"), "Cover sheet");
  EXPECT_EQ(QString::fromStdString(MemoText(Fax(), "RTFDOC")), document);

  // A new fax that could not be stored and is then given up leaves no trace in the list.
  OnEditor([&](TFaxEditor& e) {
    e.show();
    e.Subject()->setText(QStringLiteral("Never stored"));
    Type(e.RTDoc(), document);
    FillDisk();
    e.accept();
    EXPECT_TRUE(e.isVisible());
    dialogs_.choices = {DialogService::Choice::No};
    PressEsc(&e);
    return kClosedByTheForm;
  });
  w_->NewbuttonClick();
  FreeDisk();
  EXPECT_EQ(VisibleFaxes(), 1);
  EXPECT_EQ(w_->findChild<QTableView*>(QStringLiteral("FaxGrid"))->model()->rowCount(), 1);
  EXPECT_EQ(Fax().FieldString("SUBJECT"), "Quarterly report");
}

TEST_F(ComposeStoreTest, TheCoverTemplateEditorKeepsATemplateThatCannotBeStored) {
  if (!StartOnSmallDisk()) GTEST_SKIP() << disk_.reason();
  TFaxStore& store = w_->Store();
  ASSERT_TRUE(store.OpenCoverDBF());
  TablePair& cover = store.Pair(TableId::Cover);
  const long before = cover.QueryRecCount();
  const QString text = LongDocument();
  {
    TCoverBrowse browser(store, w_.get());
    dialogs_.forms.push_back([&](QDialog* d) {
      auto* editor = qobject_cast<TCoverEditor*>(d);
      EXPECT_NE(editor, nullptr);
      if (!editor) return int(QDialog::Rejected);
      editor->show();
      editor->CoverDescription()->setText(QStringLiteral("Long letterhead"));
      Type(editor->RTCover(), text);
      FillDisk();
      editor->accept();
      EXPECT_EQ(dialogs_.Count(QStringLiteral("error")), 1);
      EXPECT_TRUE(editor->isVisible());
      EXPECT_EQ(Text(editor->RTCover()), text);
      EXPECT_EQ(cover.QueryRecCount(), before);
      FreeDisk();
      return test::AcceptForm(editor);
    });
    browser.NewButtonClick();
  }
  EXPECT_EQ(cover.QueryRecCount(), before + 1);
  EXPECT_EQ(cover.FieldString("DESCRIPT"), "Long letterhead");
  EXPECT_EQ(QString::fromStdString(MemoText(cover, "COVER")), text);
  store.Close(TableId::Cover);
}

// Damages the memo block that holds `memo`: its header's length (the 4 bytes before the data)
// claims more than the file holds, so the table cannot read it. Returns where that length is and
// what it was, to mend it again.
struct Damage {
  qint64 offset = -1;
  QByteArray original;
};

Damage DamageMemo(const QString& fpt, const std::string& memo) {
  Damage d;
  QFile f(fpt);
  if (!f.open(QIODevice::ReadWrite)) return d;
  const QByteArray all = f.readAll();
  const qint64 at = all.indexOf(QByteArray::fromStdString(memo));
  if (at < 8) return d;
  d.offset = at - 4;
  d.original = all.mid(d.offset, 4);
  f.seek(d.offset);
  f.write(QByteArray("\x7F\xFF\xFF\xF0", 4));
  return d;
}

void Mend(const QString& fpt, const Damage& d) {
  QFile f(fpt);
  ASSERT_TRUE(f.open(QIODevice::ReadWrite));
  f.seek(d.offset);
  f.write(d.original);
}

class UnreadableMemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    w_ = test::StartReadyWindow(dir_.Path());
    ASSERT_TRUE(AddFaxWithMemos(w_->Store(), kCover, kDocument, "Ann Example", "5550100", "Figures"));
    w_->RefreshGrids();
    fpt_ = dir_.File(QStringLiteral("QRV.FPT"));
    ASSERT_TRUE(QFile::exists(fpt_));
    damage_ = DamageMemo(fpt_, kDocument);
    ASSERT_GE(damage_.offset, 0);
    dialogs_.Clear();
  }
  void TearDown() override { w_->close(); }

  TablePair& Fax() { return w_->Store().Pair(TableId::Fax); }

  static constexpr const char* kCover = "{\\rtf1\\ansi Cover of the figures\\par}";
  static constexpr const char* kDocument = "{\\rtf1\\ansi The figures themselves, page one\\par}";

  test::DataDir dir_;
  test::ScriptedDialogs dialogs_;
  std::unique_ptr<TMainScreen> w_;
  QString fpt_;
  Damage damage_;
};

TEST_F(UnreadableMemoTest, SendRefusesAndSaysWhichPartCannotBeRead) {
  w_->SendButtonClick();
  EXPECT_EQ(dialogs_.Count(QStringLiteral("form")), 0);  // never offered for dialling
  const QStringList infos = dialogs_.Infos();
  ASSERT_FALSE(infos.isEmpty());
  EXPECT_TRUE(infos[0].startsWith(QStringLiteral("The document of this fax cannot be read: "))) << infos[0].toStdString();
  EXPECT_TRUE(infos[0].contains(QStringLiteral("damaged"))) << infos[0].toStdString();
  for (const char* p : {"QRV_*.QVF", "QRVAX*.QVF", "Eraseme.rtf"})
    EXPECT_TRUE(FilesLike(dir_.Path(), QString::fromLatin1(p)).isEmpty()) << p;
  EXPECT_FALSE(Fax().FieldBool("SENT"));
  // Mended, the same fax renders with both parts.
  Mend(fpt_, damage_);
  dialogs_.Clear();
  const QString file = w_->CreateFaxFile();
  EXPECT_FALSE(file.isEmpty());
  EXPECT_EQ(w_->PageCount(), 2);
  QFile::remove(file);
}

TEST_F(UnreadableMemoTest, EditSaysSoAndReplacesTheMemoOnlyWhenTheUserLetsIt) {
  // No (the default): the document stays as stored, whatever else is changed.
  dialogs_.forms.push_back([](QDialog* d) {
    auto* e = qobject_cast<TFaxEditor*>(d);
    EXPECT_TRUE(e->RTDoc()->TextEdit()->isReadOnly());
    EXPECT_FALSE(e->RTCover()->TextEdit()->isReadOnly());
    EXPECT_EQ(Text(e->RTCover()), QStringLiteral("Cover of the figures"));
    e->Subject()->setText(QStringLiteral("Figures, looked at"));
    return test::AcceptForm(e);
  });
  w_->EditButtonClick();
  ASSERT_EQ(dialogs_.Count(QStringLiteral("question")), 1);
  EXPECT_FALSE(dialogs_.shown[0].defaultYes);
  EXPECT_TRUE(dialogs_.shown[0].text.startsWith(QStringLiteral("The document of this fax cannot be read: ")))
      << dialogs_.shown[0].text.toStdString();
  EXPECT_EQ(Fax().FieldString("SUBJECT"), "Figures, looked at");
  Mend(fpt_, damage_);
  RtfBuffer kept;
  ASSERT_TRUE(w_->Store().LoadRichText(kept, "RTFDOC", Fax()));
  EXPECT_EQ(kept.Rtf(), kDocument);

  // Yes: what the user writes now replaces it.
  damage_ = DamageMemo(fpt_, kDocument);
  ASSERT_GE(damage_.offset, 0);
  dialogs_.Clear();
  dialogs_.answers = {true};
  dialogs_.forms.push_back([](QDialog* d) {
    auto* e = qobject_cast<TFaxEditor*>(d);
    EXPECT_FALSE(e->RTDoc()->TextEdit()->isReadOnly());
    Type(e->RTDoc(), QStringLiteral("Written again"));
    return test::AcceptForm(e);
  });
  w_->EditButtonClick();
  EXPECT_EQ(dialogs_.Count(QStringLiteral("question")), 1);
  RtfBuffer replaced;
  ASSERT_TRUE(w_->Store().LoadRichText(replaced, "RTFDOC", Fax()));
  rtf::Document doc;
  ASSERT_TRUE(rtf::ReadRtf(replaced.Rtf(), doc));
  EXPECT_EQ(doc.PlainText(), "Written again");
}

TEST(ComposeFields, NamesAndSubjectsAreStoredWithWholeCharacters) {
  test::App();
  test::DataDir dir;
  test::ScriptedDialogs dialogs;
  auto w = test::StartReadyWindow(dir.Path());
  const QString name = QStringLiteral("Ærøskøbing Bådeværft & Søn, Ålborg");
  const QString subject = QStringLiteral("Årsopgørelse for 2026: bilag, kvitteringer og æøå!");
  QString shownName, shownSubject;
  dialogs.forms.push_back([&](QDialog* d) {
    auto* e = qobject_cast<TFaxEditor*>(d);
    e->Recipient()->setText(name);
    e->Subject()->setText(subject);
    e->FaxNumber()->setText(QStringLiteral("45 98 76 54 32"));
    e->RTDoc()->TextEdit()->setPlainText(QStringLiteral("Hej"));
    shownName = e->Recipient()->text();
    shownSubject = e->Subject()->text();
    return test::AcceptForm(e);
  });
  w->NewbuttonClick();
  TablePair& fax = w->Store().Pair(TableId::Fax);
  ASSERT_TRUE(w->Store().HasRecord(TableId::Fax));
  const std::string storedName = fax.FieldString("RECIPIENT");
  const std::string storedSubject = fax.FieldString("SUBJECT");
  // Valid UTF-8 (it survives a round trip), and what the editor showed, less trailing blanks.
  EXPECT_EQ(QString::fromUtf8(storedName.c_str()).toStdString(), storedName);
  EXPECT_EQ(QString::fromUtf8(storedSubject.c_str()).toStdString(), storedSubject);
  EXPECT_EQ(storedName, shownName.trimmed().toStdString());
  EXPECT_EQ(storedSubject, shownSubject.toStdString());
  EXPECT_EQ(QString::fromStdString(storedName), QStringLiteral("Ærøskøbing Bådeværft & Søn,"));
  EXPECT_EQ(QString::fromStdString(storedSubject), QStringLiteral("Årsopgørelse for 2026: bilag, kvitteringer og æ"));
  w->close();
}

}  // namespace
}  // namespace qv::app
