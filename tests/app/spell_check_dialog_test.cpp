#include "app/editor/spell_check_dialog.h"

#include "app/editor/spell_dictionary.h"
#include "ui/rich_edit.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace qv::app {
namespace {

using test::DataDir;
using test::ScriptedDialogs;

void Write(const QString& path, const std::string& bytes) {
  std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string Read(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class SpellCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    // A tiny main dictionary of our own, so the test does not hang on the system's.
    Write(dir_.File("qrv.dct"),
          "10\nthe\nfax\nis\nready\nto\nsend\ncover\nsheet\nfor\nyou\n");
    editor_ = std::make_unique<ui::TQvRichEdit>();
  }
  void SetText(const QString& text) {
    editor_->Clear();
    editor_->TextEdit()->textCursor().insertText(text);
  }
  QString Text() const { return editor_->TextEdit()->toPlainText(); }
  template <class T>
  static T* Child(QDialog* d, const char* name) {
    T* c = d->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
  }
  static QString Shown(QDialog* d) { return Child<QLineEdit>(d, "WordEdit")->text(); }
  static void Click(QDialog* d, const char* name) { Child<QPushButton>(d, name)->click(); }

  DataDir dir_;
  ScriptedDialogs dialogs_;
  std::unique_ptr<ui::TQvRichEdit> editor_;
};

TEST_F(SpellCheckTest, WalksTheUnknownWordsReplacingSkippingAndAdding) {
  SetText(QStringLiteral("The fax is redy to snd.\nCover sheet for Quorvane 2nd you, Quorvane."));
  bool ran = false;
  dialogs_.forms.push_back([&](QDialog* d) -> int {
    ran = true;
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Spell Check"));
    EXPECT_TRUE(Child<QPushButton>(d, "AddButton")->isEnabled());
    // First unknown word, with suggestions and the best one preset.
    EXPECT_EQ(Shown(d), QStringLiteral("redy"));
    auto* list = Child<QListWidget>(d, "SuggestionList");
    if (list->count() == 0) { ADD_FAILURE() << "no suggestions"; return 0; }
    EXPECT_LE(list->count(), kMaxSuggestions);
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("ready"));
    auto* replaceWith = Child<QLineEdit>(d, "ReplaceEdit");
    EXPECT_EQ(replaceWith->text(), QStringLiteral("ready"));
    // The word is selected in the editor.
    EXPECT_EQ(editor_->TextEdit()->textCursor().selectedText(), QStringLiteral("redy"));
    Click(d, "ReplaceButton");
    EXPECT_EQ(Shown(d), QStringLiteral("snd"));
    // A click on a suggestion puts it into "Replace with".
    for (int i = 0; i < list->count(); ++i) {
      if (list->item(i)->text() == QStringLiteral("send")) {
        emit list->itemClicked(list->item(i));
        break;
      }
    }
    EXPECT_EQ(replaceWith->text(), QStringLiteral("send"));
    Click(d, "ReplaceButton");
    // "2nd" holds a digit and is passed over; the name is added once and then known.
    EXPECT_EQ(Shown(d), QStringLiteral("Quorvane"));
    Click(d, "AddButton");
    EXPECT_TRUE(d->isHidden() || d->result() == QDialog::Accepted);
    return d->result();
  });
  RunSpellCheck(editor_.get(), dir_.StdPath(), nullptr);
  EXPECT_TRUE(ran);
  EXPECT_EQ(Text(), QStringLiteral("The fax is ready to send.\nCover sheet for Quorvane 2nd you, Quorvane."));
  EXPECT_EQ(dialogs_.Infos(), QStringList{QString::fromLatin1(kSpellCompleteText)});
  EXPECT_EQ(Read(dir_.File("qrvu.dct")), "Quorvane\n");

  // The next check knows the added word: nothing to ask, just the completion note.
  dialogs_.Clear();
  RunSpellCheck(editor_.get(), dir_.StdPath(), nullptr);
  EXPECT_EQ(dialogs_.Count(QStringLiteral("form")), 0);
  EXPECT_EQ(dialogs_.Infos(), QStringList{QString::fromLatin1(kSpellCompleteText)});
}

TEST_F(SpellCheckTest, SkipLeavesTheWordAndCancelStopsTheWalk) {
  SetText(QStringLiteral("Teh fax, teh sheet, xyzzy."));
  dialogs_.forms.push_back([&](QDialog* d) -> int {
    EXPECT_EQ(Shown(d), QStringLiteral("Teh"));
    Click(d, "SkipButton");
    EXPECT_EQ(Shown(d), QStringLiteral("teh"));  // skipping is for this place only
    Click(d, "SkipButton");
    EXPECT_EQ(Shown(d), QStringLiteral("xyzzy"));
    // Without suggestions "Replace with" holds the word itself.
    if (Child<QListWidget>(d, "SuggestionList")->count() == 0) {
      EXPECT_EQ(Child<QLineEdit>(d, "ReplaceEdit")->text(), QStringLiteral("xyzzy"));
    }
    Click(d, "CancelButton");
    EXPECT_EQ(d->result(), QDialog::Rejected);
    return d->result();
  });
  RunSpellCheck(editor_.get(), dir_.StdPath(), nullptr);
  EXPECT_EQ(Text(), QStringLiteral("Teh fax, teh sheet, xyzzy."));
  EXPECT_TRUE(dialogs_.Infos().isEmpty());  // cancelled: no completion note
  EXPECT_EQ(Read(dir_.File("qrvu.dct")), "");  // created empty
}

TEST_F(SpellCheckTest, MergeFieldsAreNotCheckedAndReplacingKeepsTheLook) {
  SetText(QStringLiteral("Dear "));
  editor_->InsertMergeField(1, QStringLiteral("[RECIPIENT]"));
  QTextCursor c = editor_->TextEdit()->textCursor();
  c.movePosition(QTextCursor::End);
  QTextCharFormat bold;
  bold.setFontWeight(QFont::Bold);
  c.insertText(QStringLiteral(" shet"), bold);
  dialogs_.forms.push_back([&](QDialog* d) -> int {
    EXPECT_EQ(Shown(d), QStringLiteral("Dear"));
    Click(d, "AddButton");
    EXPECT_EQ(Shown(d), QStringLiteral("shet"));  // the field's placeholder was passed over
    Child<QLineEdit>(d, "ReplaceEdit")->setText(QStringLiteral("sheet"));
    Click(d, "ReplaceButton");
    return d->result();
  });
  RunSpellCheck(editor_.get(), dir_.StdPath(), nullptr);
  EXPECT_TRUE(Text().endsWith(QStringLiteral(" sheet"))) << Text().toStdString();
  QTextCursor at(editor_->TextEdit()->document());
  at.movePosition(QTextCursor::End);
  at.movePosition(QTextCursor::Left);
  EXPECT_GE(at.charFormat().fontWeight(), QFont::Bold);
  EXPECT_EQ(dialogs_.Infos(), QStringList{QString::fromLatin1(kSpellCompleteText)});
}

TEST_F(SpellCheckTest, AddWordIsOffWhenTheUserDictionaryCannotBeOpened) {
  ASSERT_TRUE(QDir(dir_.Path()).mkdir(QStringLiteral("qrvu.dct")));
  SetText(QStringLiteral("Quorvane"));
  bool addEnabled = true;
  dialogs_.forms.push_back([&](QDialog* d) -> int {
    addEnabled = Child<QPushButton>(d, "AddButton")->isEnabled();
    return int(QDialog::Rejected);
  });
  RunSpellCheck(editor_.get(), dir_.StdPath(), nullptr);
  EXPECT_FALSE(addEnabled);
}

TEST_F(SpellCheckTest, WithoutAnyDictionaryTheUserIsTold) {
  QFile::remove(dir_.File("qrv.dct"));
  SetText(QStringLiteral("anything"));
  auto dictionary = std::make_unique<TSpellDictionary>(dir_.StdPath(), "/nonexistent.aff",
                                                       "/nonexistent.dic");
  EXPECT_FALSE(dictionary->HasMain());
  // The dialog over the program's dictionaries: qrv.dct gone, so the system's when it exists.
  RunSpellCheck(editor_.get(), dir_.StdPath(), nullptr);
  if (!QFile::exists(QString::fromLatin1(kSystemDictionaryFile))) {
    EXPECT_EQ(dialogs_.Infos(), QStringList{QString::fromLatin1(kNoDictionaryText)});
  } else {
    EXPECT_EQ(dialogs_.Infos(), QStringList{QString::fromLatin1(kSpellCompleteText)});
  }
}

}  // namespace
}  // namespace qv::app
