// New, Edit and Clone through the fax editor, over real tables in a temporary data directory.
#include "app/editor/fax_editor.h"

#include "app/editor/enter_edit.h"
#include "app/store/fax_store.h"
#include "app/forms/main_screen.h"
#include "app/store/settings.h"
#include "app/store/table_pair.h"
#include "core/ini_file.h"
#include "rtf/rtf_reader.h"
#include "ui/rich_edit.h"
#include "store_helpers.h"
#include "../test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolButton>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

namespace qv::app {
namespace {

using test::AddFax;
using test::DataDir;
using test::ScriptedDialogs;

class FaxEditorFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    Settings() = TSettings();
    core::TIniFile(SettingsFileName(dir_.StdPath())).WriteInteger("Modem", "ComPort", 0);
    {
      TFaxStore store(dir_.StdPath());
      store.OpenFaxDBF();
      store.OpenRecFaxDBF();
      store.RebuildIndexes(nullptr);
    }
    w_ = std::make_unique<TMainScreen>(dir_.Path());
    w_->show();
    QElapsedTimer clock;
    clock.start();
    while (!w_->FirstActivationDone() && clock.elapsed() < 10000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    dialogs_.Clear();
  }

  TablePair& Fax() { return w_->Store().Pair(TableId::Fax); }
  std::string Field(const char* name) { return Fax().FieldString(name); }

  // The memo's rich text as the store keeps it, read back into a document.
  rtf::Document Memo(const char* field) {
    const std::string path = dir_.StdPath() + "memo.rtf";
    rtf::Document doc;
    if (!Fax().BlobToFile(field, path)) return doc;
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    QFile::remove(QString::fromStdString(path));
    if (!bytes.empty()) EXPECT_TRUE(rtf::ReadRtf(bytes, doc)) << bytes.substr(0, 200);
    return doc;
  }

  static void Type(ui::TQvRichEdit* editor, const QString& text) {
    editor->TextEdit()->textCursor().insertText(text);
  }

  // Queues a script for the next fax editor. A script that answers Accepted has the form's own
  // Accept close it, which is where the form stores the fax.
  void OnEditor(std::function<int(TFaxEditor&)> script) {
    dialogs_.forms.push_back([script](QDialog* d) {
      auto* editor = qobject_cast<TFaxEditor*>(d);
      EXPECT_NE(editor, nullptr);
      if (!editor) return int(QDialog::Rejected);
      const int result = script(*editor);
      return result == QDialog::Accepted ? test::AcceptForm(editor) : result;
    });
  }

  int VisibleFaxes() {
    int n = 0;
    TablePair& t = Fax();
    for (t.First(); !t.Eof(); t.Next()) ++n;
    t.First();
    return n;
  }

  DataDir dir_;
  ScriptedDialogs dialogs_;
  std::unique_ptr<TMainScreen> w_;
};

TEST_F(FaxEditorFlowTest, NewStoresMemosAndFieldsAndCancelStoresNothing) {
  // Cancel: no record at all.
  OnEditor([](TFaxEditor& e) {
    e.Recipient()->setText(QStringLiteral("Nobody"));
    Type(e.RTDoc(), QStringLiteral("thrown away"));
    return int(QDialog::Rejected);
  });
  w_->NewbuttonClick();
  EXPECT_EQ(Fax().RecCount(), 0);
  EXPECT_FALSE(w_->Store().HasRecord(TableId::Fax));

  Settings().FontName = "DejaVu Sans";
  Settings().FontSize = 13;
  OnEditor([](TFaxEditor& e) {
    // A new blank fax: both editors carry the default font.
    EXPECT_EQ(e.RTCover()->CurrentFont().name, QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(e.RTDoc()->CurrentFont().pointSize, 13);
    EXPECT_TRUE(e.Recipient()->text().isEmpty());
    e.Recipient()->setText(QStringLiteral("Alice Example"));
    e.FaxNumber()->setText(QStringLiteral("555 0123"));
    e.Subject()->setText(QStringLiteral("Quarterly figures"));
    Type(e.RTCover(), QStringLiteral("Cover for "));
    e.RTCover()->InsertMergeField(kFieldRecipient, QStringLiteral("[RECIPIENT]"));
    Type(e.RTDoc(), QStringLiteral("Page one\nPage two"));
    return int(QDialog::Accepted);
  });
  w_->NewbuttonClick();
  ASSERT_EQ(dialogs_.Count(QStringLiteral("form")), 2);
  ASSERT_EQ(VisibleFaxes(), 1);
  EXPECT_EQ(Field("RECIPIENT"), "Alice Example");
  EXPECT_EQ(Field("PHONE"), "555 0123");
  EXPECT_EQ(Field("SUBJECT"), "Quarterly figures");
  EXPECT_FALSE(Fax().FieldBool("SENT"));
  const rtf::Document doc = Memo("RTFDOC");
  EXPECT_EQ(doc.PlainText(), "Page one\nPage two");
  const rtf::Document cover = Memo("RTFCOVER");
  ASSERT_FALSE(cover.paragraphs.empty());
  bool field = false;
  for (const rtf::Run& r : cover.paragraphs[0].runs) {
    if (r.kind == rtf::Run::Kind::Field) {
      field = true;
      EXPECT_EQ(r.field.kind, kFieldRecipient);
      EXPECT_EQ(r.field.placeholder, "[RECIPIENT]");
    }
  }
  EXPECT_TRUE(field);
  EXPECT_FALSE(QFile::exists(dir_.File(QStringLiteral("Eraseme.rtf"))));  // the working file is gone
  EXPECT_TRUE(w_->findChild<QToolButton*>(QStringLiteral("EditButton"))->isEnabled());
}

TEST_F(FaxEditorFlowTest, EditLoadsTheRecordAndStoresTheChangesOnAcceptOnly) {
  OnEditor([](TFaxEditor& e) {
    e.Recipient()->setText(QStringLiteral("Bob"));
    e.FaxNumber()->setText(QStringLiteral("555 0001"));
    e.Subject()->setText(QStringLiteral("Draft"));
    Type(e.RTDoc(), QStringLiteral("First version"));
    return int(QDialog::Accepted);
  });
  w_->NewbuttonClick();
  ASSERT_EQ(VisibleFaxes(), 1);
  // Mark it sent, as a send would: Edit must leave that alone.
  ASSERT_TRUE(Fax().Edit());
  Fax().SetFieldBool("SENT", true);
  Fax().SetFieldInt("PAGES", 3);
  ASSERT_TRUE(Fax().Post());
  w_->RefreshGrids();

  // Cancel after changing everything: the record is as it was.
  OnEditor([](TFaxEditor& e) {
    EXPECT_EQ(e.Recipient()->text(), QStringLiteral("Bob"));
    EXPECT_EQ(e.FaxNumber()->text(), QStringLiteral("555 0001"));
    EXPECT_EQ(e.Subject()->text(), QStringLiteral("Draft"));
    EXPECT_EQ(e.RTDoc()->TextEdit()->toPlainText(), QStringLiteral("First version"));
    e.Subject()->setText(QStringLiteral("changed"));
    Type(e.RTDoc(), QStringLiteral("changed "));
    return int(QDialog::Rejected);
  });
  w_->EditButtonClick();
  EXPECT_EQ(Field("SUBJECT"), "Draft");
  EXPECT_EQ(Memo("RTFDOC").PlainText(), "First version");

  OnEditor([](TFaxEditor& e) {
    e.Subject()->setText(QStringLiteral("Final"));
    QTextCursor c = e.RTDoc()->TextEdit()->textCursor();
    c.movePosition(QTextCursor::End);
    c.insertText(QStringLiteral(", revised"));
    return int(QDialog::Accepted);
  });
  w_->EditButtonClick();
  EXPECT_EQ(VisibleFaxes(), 1);
  EXPECT_EQ(Field("SUBJECT"), "Final");
  EXPECT_EQ(Field("RECIPIENT"), "Bob");
  EXPECT_EQ(Memo("RTFDOC").PlainText(), "First version, revised");
  EXPECT_TRUE(Fax().FieldBool("SENT"));
  EXPECT_EQ(Fax().FieldInt("PAGES"), 3);
}

TEST_F(FaxEditorFlowTest, CloneCopiesTheFaxWithAMarkedSubjectAndNewStartsEmptyAgain) {
  OnEditor([](TFaxEditor& e) {
    e.Recipient()->setText(QStringLiteral("Carol"));
    e.FaxNumber()->setText(QStringLiteral("555 0777"));
    e.Subject()->setText(QStringLiteral("Invoice"));
    Type(e.RTCover(), QStringLiteral("Cover text"));
    Type(e.RTDoc(), QStringLiteral("Invoice body"));
    return int(QDialog::Accepted);
  });
  w_->NewbuttonClick();
  ASSERT_EQ(VisibleFaxes(), 1);

  OnEditor([](TFaxEditor& e) {
    EXPECT_EQ(e.Subject()->text(), QStringLiteral("[clone]Invoice"));
    EXPECT_EQ(e.Recipient()->text(), QStringLiteral("Carol"));
    EXPECT_EQ(e.FaxNumber()->text(), QStringLiteral("555 0777"));
    EXPECT_EQ(e.RTCover()->TextEdit()->toPlainText(), QStringLiteral("Cover text"));
    EXPECT_EQ(e.RTDoc()->TextEdit()->toPlainText(), QStringLiteral("Invoice body"));
    return int(QDialog::Accepted);
  });
  w_->mnuCloneClick();
  EXPECT_FALSE(w_->CloneRequest());
  ASSERT_EQ(VisibleFaxes(), 2);
  int clones = 0;
  TablePair& t = Fax();
  for (t.First(); !t.Eof(); t.Next()) {
    if (t.FieldString("SUBJECT") != "[clone]Invoice") continue;
    ++clones;
    EXPECT_EQ(t.FieldString("RECIPIENT"), "Carol");
    EXPECT_EQ(Memo("RTFDOC").PlainText(), "Invoice body");
    EXPECT_EQ(Memo("RTFCOVER").PlainText(), "Cover text");
  }
  EXPECT_EQ(clones, 1);

  // A cancelled clone stores nothing; the New after it is blank.
  OnEditor([](TFaxEditor&) { return int(QDialog::Rejected); });
  w_->mnuCloneClick();
  EXPECT_EQ(VisibleFaxes(), 2);
  OnEditor([](TFaxEditor& e) {
    EXPECT_TRUE(e.Subject()->text().isEmpty());
    EXPECT_TRUE(e.RTDoc()->IsEmpty());
    EXPECT_TRUE(e.RTCover()->IsEmpty());
    return int(QDialog::Rejected);
  });
  w_->NewbuttonClick();
  EXPECT_EQ(VisibleFaxes(), 2);
}

TEST_F(FaxEditorFlowTest, AnUnreadableMemoIsReportedAndKeptAsStored) {
  ASSERT_TRUE(AddFax(w_->Store(), "Broken", false));
  w_->RefreshGrids();
  // A damaged document memo: an RTF group that never closes.
  const std::string bad = "{\\rtf1\\ansi {\\b unterminated";
  const std::string path = dir_.StdPath() + "bad.rtf";
  { std::ofstream(path, std::ios::binary) << bad; }
  Fax().First();
  ASSERT_TRUE(Fax().Edit());
  ASSERT_TRUE(Fax().Replace("RTFDOC", 8192, path));
  ASSERT_TRUE(Fax().Post());
  w_->RefreshGrids();

  OnEditor([](TFaxEditor& e) {
    EXPECT_TRUE(e.RTDoc()->TextEdit()->isReadOnly());
    EXPECT_FALSE(e.RTCover()->TextEdit()->isReadOnly());
    e.Subject()->setText(QStringLiteral("Broken, looked at"));
    return int(QDialog::Accepted);
  });
  w_->EditButtonClick();
  // Asked whether it may be replaced; No (the default) keeps it.
  ASSERT_EQ(dialogs_.Count(QStringLiteral("question")), 1);
  EXPECT_FALSE(dialogs_.shown[0].defaultYes);
  EXPECT_EQ(Field("SUBJECT"), "Broken, looked at");
  // The stored memo is the damaged one still, not an empty document in its place.
  ASSERT_TRUE(Fax().BlobToFile("RTFDOC", path));
  std::ifstream in(path, std::ios::binary);
  const std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, bad);
}

TEST_F(FaxEditorFlowTest, ReceiveModeRefusesNewAndEdit) {
  w_->SetReceiveMode(true);
  w_->NewbuttonClick();
  w_->EditButtonClick();
  EXPECT_EQ(dialogs_.Count(QStringLiteral("form")), 0);
  EXPECT_EQ(dialogs_.Count(QStringLiteral("info")), 2);
  EXPECT_EQ(Fax().RecCount(), 0);
}

}  // namespace
}  // namespace qv::app
