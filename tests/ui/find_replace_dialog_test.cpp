// The editor's Find and Replace dialog: finds forward with one wrap, replaces one or all (one undo
// step), and says when nothing is found.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QTextDocument>
#include <QTextEdit>

#include "ui/find_replace_dialog.h"
#include "ui/rich_edit.h"
#include "ui_test_support.h"

using namespace qv;
using namespace qv::ui;
using namespace qv::ui::test;

TEST(FindReplaceDialog, FindsReplacesAndReportsMisses) {
  App();
  TQvRichEdit e;
  rtf::Document doc;
  doc.paragraphs.push_back(Para({TextRun("Order one, order two, ORDER three.")}));
  e.SetDocument(doc);
  QTextEdit* edit = e.TextEdit();
  TFindReplaceDialog dlg(edit, true);
  dlg.SetFindText("order");
  ASSERT_TRUE(dlg.FindNext());
  EXPECT_EQ(edit->textCursor().selectionStart(), 0);
  ASSERT_TRUE(dlg.FindNext());
  EXPECT_EQ(edit->textCursor().selectionStart(), 11);
  dlg.FindNext();
  ASSERT_TRUE(dlg.FindNext()) << "wraps to the start";
  EXPECT_EQ(edit->textCursor().selectionStart(), 0);

  dlg.ReplaceEdit()->setText("item");
  EXPECT_TRUE(dlg.ReplaceOne());
  EXPECT_EQ(edit->toPlainText(), "item one, order two, ORDER three.");
  EXPECT_EQ(dlg.ReplaceAll(), 2);
  EXPECT_EQ(edit->toPlainText(), "item one, item two, item three.");
  edit->document()->undo();
  EXPECT_EQ(edit->toPlainText(), "item one, order two, ORDER three.") << "replace all is one step";

  dlg.SetFindText("missing");
  EXPECT_FALSE(dlg.FindNext());
  QLabel* status = dlg.findChild<QLabel*>("FindStatus");
  ASSERT_NE(status, nullptr);
  EXPECT_TRUE(status->text().contains("not found"));

  // The tool bar opens it with the selection as the text to find.
  edit->selectAll();
  e.findChild<QAction*>("FindButton")->trigger();
  auto* opened = e.findChild<TFindReplaceDialog*>("FindDialog");
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(opened->FindEdit()->text(), edit->textCursor().selectedText());
  EXPECT_FALSE(opened->FindEdit()->accessibleName().isEmpty());
}
