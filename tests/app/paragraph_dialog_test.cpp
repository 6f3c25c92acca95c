#include "app/editor/paragraph_dialog.h"

#include "ui/rich_edit.h"
#include "test_support.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

using test::ScriptedDialogs;
using F = TParagraphPropDlg;

TEST(ParagraphConversions, TwipsShownInInchesCentimetresAndPoints) {
  test::App();
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(TwipsToText(1440, false, false), QStringLiteral("1.00"));
  EXPECT_EQ(TwipsToText(720, false, false), QStringLiteral("0.50"));
  EXPECT_EQ(TwipsToText(567, false, true), QStringLiteral("1.00"));
  EXPECT_EQ(TwipsToText(1440, false, true), QStringLiteral("2.54"));
  EXPECT_EQ(TwipsToText(-360, false, false), QStringLiteral("-0.25"));
  EXPECT_EQ(TwipsToText(240, true, false), QStringLiteral("12"));
  EXPECT_EQ(TwipsToText(250, true, false), QStringLiteral("13"));  // 12.5 points rounds up
  EXPECT_EQ(TwipsToText(0, true, true), QStringLiteral("0"));

  int twips = -1;
  EXPECT_TRUE(TextToTwips(QStringLiteral("1"), false, false, &twips));
  EXPECT_EQ(twips, 1440);
  EXPECT_TRUE(TextToTwips(QStringLiteral("0.33"), false, false, &twips));
  EXPECT_EQ(twips, 475);  // 475.2 rounded
  EXPECT_TRUE(TextToTwips(QStringLiteral("2.54"), false, true, &twips));
  EXPECT_EQ(twips, 1440);
  EXPECT_TRUE(TextToTwips(QStringLiteral("1"), false, true, &twips));
  EXPECT_EQ(twips, 567);
  EXPECT_TRUE(TextToTwips(QStringLiteral("6"), true, false, &twips));
  EXPECT_EQ(twips, 120);
  EXPECT_TRUE(TextToTwips(QStringLiteral("1.5"), true, true, &twips));
  EXPECT_EQ(twips, 30);
  EXPECT_TRUE(TextToTwips(QStringLiteral("  "), false, false, &twips));
  EXPECT_EQ(twips, 0);  // empty is 0
  twips = 77;
  for (const char* bad : {"abc", "1,2,3", "1e400", "--1", "1in"}) {
    EXPECT_FALSE(TextToTwips(QString::fromLatin1(bad), false, false, &twips)) << bad;
    EXPECT_EQ(twips, 77) << bad;
  }
}

class ParagraphDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    QLocale::setDefault(QLocale::c());
    editor_ = std::make_unique<ui::TQvRichEdit>();
    editor_->TextEdit()->textCursor().insertText(QStringLiteral("One\nTwo"));
  }
  void SetParagraph(int first, int left, int right, int before, int after, int line) {
    rtf::ParaFormat p = editor_->CurrentParagraph();
    p.firstIndent = first;
    p.leftIndent = left;
    p.rightIndent = right;
    p.spaceBefore = before;
    p.spaceAfter = after;
    p.lineHeight = line;
    editor_->SetCurrentParagraph(p);
  }
  QString Text(F& d, F::Field f) { return d.Edit(f)->text(); }

  std::unique_ptr<ui::TQvRichEdit> editor_;
  ScriptedDialogs dialogs_;
};

TEST_F(ParagraphDialogTest, ShowsTheCurrentParagraphAndSwitchesUnits) {
  // The editor keeps the first line relative to the left indent: 1 inch + half an inch.
  SetParagraph(720, 1440, 567, 120, 240, 280);
  F d(editor_.get());
  EXPECT_EQ(d.windowTitle(), QStringLiteral("Paragraph Properties"));
  auto* units = d.findChild<QComboBox*>(QStringLiteral("ComboBox1"));
  auto* firstMode = d.findChild<QComboBox*>(QStringLiteral("FirstIndentCombo"));
  ASSERT_TRUE(units && firstMode);
  EXPECT_EQ(units->currentText(), QStringLiteral("Inch"));
  EXPECT_EQ(firstMode->currentText(), QStringLiteral("Indented by"));
  EXPECT_TRUE(d.Edit(F::kFirstIndent)->isEnabled());
  EXPECT_EQ(d.Twips(F::kFirstIndent), 2160);
  EXPECT_EQ(Text(d, F::kFirstIndent), QStringLiteral("1.50"));
  EXPECT_EQ(Text(d, F::kLeftIndent), QStringLiteral("1.00"));
  EXPECT_EQ(Text(d, F::kRightIndent), QStringLiteral("0.39"));
  EXPECT_EQ(Text(d, F::kSpaceBefore), QStringLiteral("6"));
  EXPECT_EQ(Text(d, F::kSpaceAfter), QStringLiteral("12"));
  EXPECT_EQ(Text(d, F::kLineHeight), QStringLiteral("14"));
  EXPECT_EQ(d.Edit(F::kLeftIndent)->toolTip(),
            QStringLiteral("Specify left indent for the paragraph in inches"));
  EXPECT_EQ(d.Edit(F::kFirstIndent)->toolTip(),
            QStringLiteral("Specify first line indent for the paragraph in inches"));

  units->setCurrentIndex(1);  // "Cm"
  EXPECT_EQ(Text(d, F::kLeftIndent), QStringLiteral("2.54"));
  EXPECT_EQ(Text(d, F::kRightIndent), QStringLiteral("1.00"));
  EXPECT_EQ(Text(d, F::kSpaceAfter), QStringLiteral("12"));  // points stay points
  EXPECT_EQ(d.Edit(F::kRightIndent)->toolTip(),
            QStringLiteral("Specify right indent for the paragraph in centimeters"));
  // Typing in centimetres stores twips.
  d.Edit(F::kRightIndent)->setText(QStringLiteral("2"));
  EXPECT_EQ(d.Twips(F::kRightIndent), 1134);
  // Every control is named for a screen reader.
  for (QWidget* w : d.findChildren<QWidget*>()) {
    if (qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) || qobject_cast<QPushButton*>(w))
      EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
  }
}

TEST_F(ParagraphDialogTest, SameAsLeftIndentCopiesTheLeftIndent) {
  SetParagraph(0, 720, 0, 0, 0, 0);
  F d(editor_.get());
  auto* firstMode = d.findChild<QComboBox*>(QStringLiteral("FirstIndentCombo"));
  EXPECT_EQ(firstMode->currentText(), QStringLiteral("Same as Left Indent"));
  EXPECT_FALSE(d.Edit(F::kFirstIndent)->isEnabled());
  d.Edit(F::kLeftIndent)->setText(QStringLiteral("1.25"));
  EXPECT_EQ(d.Twips(F::kLeftIndent), 1800);
  EXPECT_EQ(d.Twips(F::kFirstIndent), 1800);
  EXPECT_EQ(Text(d, F::kFirstIndent), QStringLiteral("1.25"));

  firstMode->setCurrentIndex(1);  // "Indented by": the two part ways
  EXPECT_TRUE(d.Edit(F::kFirstIndent)->isEnabled());
  d.Edit(F::kFirstIndent)->setText(QStringLiteral("2"));
  d.Edit(F::kLeftIndent)->setText(QStringLiteral("1"));
  EXPECT_EQ(d.Twips(F::kFirstIndent), 2880);
  EXPECT_EQ(d.Twips(F::kLeftIndent), 1440);
  firstMode->setCurrentIndex(0);  // back: copied at once
  EXPECT_EQ(d.Twips(F::kFirstIndent), 1440);
  EXPECT_EQ(Text(d, F::kFirstIndent), QStringLiteral("1.00"));

  d.OKButtonClick();
  EXPECT_EQ(d.result(), QDialog::Accepted);
  const rtf::ParaFormat p = editor_->CurrentParagraph();
  EXPECT_EQ(p.leftIndent, 1440);
  EXPECT_EQ(p.firstIndent, 0);
}

TEST_F(ParagraphDialogTest, OkAppliesEveryValueAndANonNumberKeepsTheDialogOpen) {
  SetParagraph(0, 0, 0, 0, 0, 0);
  F d(editor_.get());
  d.show();
  d.findChild<QComboBox*>(QStringLiteral("FirstIndentCombo"))->setCurrentIndex(1);
  d.Edit(F::kFirstIndent)->setText(QStringLiteral("0.75"));
  d.Edit(F::kLeftIndent)->setText(QStringLiteral("0.5"));
  d.Edit(F::kRightIndent)->setText(QString());  // empty counts as 0
  d.Edit(F::kSpaceBefore)->setText(QStringLiteral("3"));
  d.Edit(F::kSpaceAfter)->setText(QStringLiteral("9"));
  d.Edit(F::kLineHeight)->setText(QStringLiteral("abc"));
  EXPECT_EQ(d.Twips(F::kLineHeight), 0);  // the stored value is left as it was

  d.findChild<QPushButton*>(QStringLiteral("OKButton"))->click();
  ASSERT_EQ(dialogs_.Count(QStringLiteral("error")), 1);
  EXPECT_EQ(dialogs_.shown.back().text, QStringLiteral("'abc' is not a valid floating point value"));
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(editor_->CurrentParagraph().leftIndent, 0);  // nothing applied yet

  d.Edit(F::kLineHeight)->setText(QStringLiteral("15"));
  d.findChild<QPushButton*>(QStringLiteral("OKButton"))->click();
  EXPECT_FALSE(d.isVisible());
  EXPECT_EQ(d.result(), QDialog::Accepted);
  const rtf::ParaFormat p = editor_->CurrentParagraph();
  EXPECT_EQ(p.leftIndent, 720);
  EXPECT_EQ(p.firstIndent, 360);  // 0.75 inch from the margin, 0.25 beyond the left indent
  EXPECT_EQ(p.rightIndent, 0);
  EXPECT_EQ(p.spaceBefore, 60);
  EXPECT_EQ(p.spaceAfter, 180);
  EXPECT_EQ(p.lineHeight, 300);
  // Only the caret's paragraph changed.
  const rtf::Document doc = editor_->ToDocument();
  ASSERT_EQ(doc.paragraphs.size(), 2u);
  EXPECT_EQ(doc.paragraphs[0].format.leftIndent, 0);
  EXPECT_EQ(doc.paragraphs[1].format.leftIndent, 720);

  // Cancel applies nothing.
  F again(editor_.get());
  again.Edit(F::kLeftIndent)->setText(QStringLiteral("3"));
  again.findChild<QPushButton*>(QStringLiteral("CancelButton"))->click();
  EXPECT_EQ(editor_->CurrentParagraph().leftIndent, 720);
}

}  // namespace
}  // namespace qv::app
