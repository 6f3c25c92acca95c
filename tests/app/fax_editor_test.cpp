#include "app/editor/fax_editor.h"

#include "app/contacts/cover_editor.h"
#include "app/editor/default_font.h"
#include "app/editor/enter_edit.h"
#include "app/store/field_fit.h"
#include "app/editor/insert_picture.h"
#include "app/editor/paragraph_dialog.h"
#include "app/contacts/phone_book_editor.h"
#include "app/editor/rich_edit_memo.h"
#include "app/store/settings.h"
#include "core/ini_file.h"
#include "ui/picture_import.h"
#include "ui/rich_edit.h"
#include "test_support.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFontDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QStackedWidget>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace qv::app {
namespace {

using test::DataDir;
using test::ScriptedDialogs;

class FaxEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    Settings() = TSettings();
    main_ = std::make_unique<QWidget>();
    main_->resize(900, 700);
  }

  std::unique_ptr<TFaxEditor> Open(bool show = true) {
    auto form = std::make_unique<TFaxEditor>(dir_.Path(), main_.get());
    if (show) {
      form->show();
      QApplication::processEvents();
    }
    return form;
  }

  template <class T>
  T* Find(QWidget& form, const char* name) {
    T* control = form.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
  }

  static void Type(ui::TQvRichEdit* editor, const QString& text) {
    editor->TextEdit()->textCursor().insertText(text);
  }

  static QString Text(ui::TQvRichEdit* editor) { return editor->TextEdit()->toPlainText(); }

  DataDir dir_;
  ScriptedDialogs dialogs_;
  std::unique_ptr<QWidget> main_;
};

TEST_F(FaxEditorTest, ANewFaxOpensOnTheRecipientPageWithTheDefaultFont) {
  Settings().FontName = "DejaVu Serif";
  Settings().FontSize = 14;
  Settings().FontBold = true;
  Settings().FontUnderline = true;
  auto form = Open(false);
  form->ApplyDefaultFont(Settings());
  form->show();
  QApplication::processEvents();
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Fax Editor"));
  EXPECT_EQ(form->CurrentPage(), TFaxEditor::kRecipientPage);
  EXPECT_TRUE(Find<QToolButton>(*form, "RecipientButton")->isChecked());
  EXPECT_FALSE(Find<QToolButton>(*form, "Zoombutton")->isVisible());
  for (ui::TQvRichEdit* editor : {form->RTCover(), form->RTDoc()}) {
    const ui::FontAttributes font = editor->CurrentFont();
    EXPECT_EQ(font.name, QStringLiteral("DejaVu Serif"));
    EXPECT_EQ(font.pointSize, 14);
    EXPECT_TRUE(font.bold);
    EXPECT_FALSE(font.italic);
    EXPECT_TRUE(font.underline);
    // The page is US Letter with half-inch margins.
    const rtf::PageSetup page = editor->PageSetup();
    EXPECT_EQ(page.paperWidth, 12240);
    EXPECT_EQ(page.paperHeight, 15840);
    EXPECT_EQ(page.marginLeft, 720);
    EXPECT_EQ(page.marginTop, 720);
    EXPECT_EQ(page.marginRight, 720);
    EXPECT_EQ(page.marginBottom, 720);
  }
  // Without a fax store to choose from, the template and phone book choosers are not offered.
  EXPECT_FALSE(Find<QToolButton>(*form, "LoadCoverButton")->isVisible());
  EXPECT_FALSE(Find<QToolButton>(*form, "AddressButton")->isVisible());
}

TEST_F(FaxEditorTest, EveryControlHasItsNameAndAnAccessibleName) {
  auto form = Open();
  const char* names[] = {"Notebook", "RTCover", "RTDoc", "RTToolCover", "RTToolDoc", "CoverCommandBar",
                         "DocCommandBar", "Recipient",
                         "FaxNumber", "Subject", "CoverButton", "DocumentButton", "RecipientButton",
                         "AddressButton", "LoadCoverButton", "Zoombutton", "DocPageBreakButton",
                         "CoverDocPageBreakButton", "ParagraphSetupButton",
                         "CoverParagraphSetupbutton", "DocWordWrapButton", "CoverDocWordWrapButton",
                         "DocDefFontbutton", "CoverDefFontbutton", "OKButton", "CancelButton",
                         "Helpbutton"};
  for (const char* name : names) {
    QWidget* w = Find<QWidget>(*form, name);
    if (w) EXPECT_FALSE(w->accessibleName().isEmpty()) << name;
  }
  EXPECT_EQ(Find<QWidget>(*form, "Recipient")->accessibleName(), QStringLiteral("Enter recipient name here"));
  EXPECT_EQ(Find<QWidget>(*form, "OKButton")->accessibleName(), QStringLiteral("Accept"));
  // The page's buttons sit on each editor's second tool bar row, under the formatting buttons.
  auto* docBar = Find<QToolBar>(*form, "DocCommandBar");
  for (const char* name : {"DocPageBreakButton", "ParagraphSetupButton", "DocWordWrapButton",
                           "DocDefFontbutton"}) {
    EXPECT_TRUE(docBar->isAncestorOf(Find<QWidget>(*form, name))) << name;
  }
  auto* coverBar = Find<QToolBar>(*form, "CoverCommandBar");
  for (const char* name : {"CoverDocPageBreakButton", "CoverParagraphSetupbutton",
                           "CoverDocWordWrapButton", "CoverDefFontbutton", "LoadCoverButton"}) {
    EXPECT_TRUE(coverBar->isAncestorOf(Find<QWidget>(*form, name))) << name;
  }
  EXPECT_EQ(Find<QMenu>(*form, "ZoomMenu")->actions().size(), 3);
}

TEST_F(FaxEditorTest, PageButtonsChooseThePageAndTheZoomMenuFollowsTheEditor) {
  auto form = Open();
  auto* zoom = Find<QToolButton>(*form, "Zoombutton");
  form->RTDoc()->SetZoom(80);
  Find<QToolButton>(*form, "CoverButton")->click();
  EXPECT_EQ(form->CurrentPage(), TFaxEditor::kCoverPage);
  EXPECT_TRUE(zoom->isVisible());
  EXPECT_EQ(zoom->text(), QStringLiteral("100%"));
  EXPECT_EQ(form->CurrentEditor(), form->RTCover());

  Find<QToolButton>(*form, "DocumentButton")->click();
  EXPECT_EQ(form->CurrentPage(), TFaxEditor::kDocumentPage);
  EXPECT_EQ(zoom->text(), QStringLiteral("80%"));
  EXPECT_EQ(form->CurrentEditor(), form->RTDoc());

  QMenu* menu = form->ZoomMenu();
  auto checked = [menu] {
    QStringList out;
    for (QAction* a : menu->actions())
      if (a->isChecked()) out << a->objectName();
    return out;
  };
  form->ZoomMenuPopup();
  EXPECT_EQ(checked(), QStringList{QStringLiteral("Zoom80")});
  // A zoom that is none of the menu's: no check mark at all.
  form->RTDoc()->SetZoom(125);
  form->ZoomMenuPopup();
  EXPECT_TRUE(checked().isEmpty());
  // Choosing 70% sets the document's zoom and the caption; the cover keeps its own.
  QAction* zoom70 = form->findChild<QAction*>(QStringLiteral("Zoom70"));
  ASSERT_NE(zoom70, nullptr);
  EXPECT_EQ(zoom70->property("tag").toInt(), 70);
  zoom70->trigger();
  EXPECT_EQ(form->RTDoc()->Zoom(), 70);
  EXPECT_EQ(form->RTCover()->Zoom(), 100);
  EXPECT_EQ(zoom->text(), QStringLiteral("70%"));
  // The menu pops up at the button's bottom-left corner (kept clear of the screen's edge).
  form->setGeometry(0, 0, 500, 400);
  QApplication::processEvents();
  form->ZoombuttonClick();
  QApplication::processEvents();
  EXPECT_TRUE(menu->isVisible());
  EXPECT_EQ(checked(), QStringList{QStringLiteral("Zoom70")});
  EXPECT_EQ(menu->pos(), zoom->mapToGlobal(zoom->rect().bottomLeft()));
  menu->hide();

  Find<QToolButton>(*form, "RecipientButton")->click();
  EXPECT_EQ(form->CurrentPage(), TFaxEditor::kRecipientPage);
  EXPECT_FALSE(zoom->isVisible());
}

TEST_F(FaxEditorTest, PageButtonsSwitchThePageThroughTheScreenReadersToggleAction) {
  auto form = Open();
  auto* zoom = Find<QToolButton>(*form, "Zoombutton");
  const struct {
    const char* button;
    TFaxEditor::Page page;
  } steps[] = {{"DocumentButton", TFaxEditor::kDocumentPage},
               {"CoverButton", TFaxEditor::kCoverPage},
               {"RecipientButton", TFaxEditor::kRecipientPage}};
  for (const auto& step : steps) {
    auto* button = Find<QToolButton>(*form, step.button);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
    ASSERT_NE(accessible, nullptr) << step.button;
    QAccessibleActionInterface* actions = accessible->actionInterface();
    ASSERT_NE(actions, nullptr) << step.button;
    ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::toggleAction())) << step.button;
    actions->doAction(QAccessibleActionInterface::toggleAction());
    QApplication::processEvents();
    EXPECT_TRUE(button->isChecked()) << step.button;
    EXPECT_EQ(form->CurrentPage(), step.page) << step.button;
    EXPECT_EQ(zoom->isVisible(), step.page != TFaxEditor::kRecipientPage) << step.button;
  }
  // Toggling the page already shown leaves it shown (the buttons are exclusive).
  QAccessible::queryAccessibleInterface(Find<QToolButton>(*form, "RecipientButton"))
      ->actionInterface()
      ->doAction(QAccessibleActionInterface::toggleAction());
  EXPECT_EQ(form->CurrentPage(), TFaxEditor::kRecipientPage);
}

TEST_F(FaxEditorTest, EditsHoldWhatTheirTableFieldsStoreAndNeverCutACharacter) {
  // 34 characters, 41 bytes of UTF-8: the 35-byte field holds the first 28 characters.
  const QString name = QStringLiteral("Ærøskøbing Bådeværft & Søn, Ålborg");
  const QString fitted = QString::fromStdString(FitField(name.toStdString(), 35));
  ASSERT_EQ(fitted, QStringLiteral("Ærøskøbing Bådeværft & Søn, "));
  auto form = Open();
  // Typed key by key, pasted, and set by the program alike.
  form->Recipient()->setFocus();
  for (QChar ch : name) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
    QApplication::sendEvent(form->Recipient(), &press);
    // Each key that would not fit is refused whole; a later one-byte key may still fit.
    ASSERT_LE(form->Recipient()->text().toUtf8().size(), 35);
  }
  EXPECT_TRUE(form->Recipient()->text().startsWith(fitted));
  form->Recipient()->clear();
  form->Recipient()->insert(name);
  EXPECT_EQ(form->Recipient()->text(), fitted);
  // 50 characters, 55 bytes, into the 50-byte subject.
  const QString subject = QStringLiteral("Årsopgørelse for 2026: bilag, kvitteringer og æøå!");
  ASSERT_EQ(subject.size(), 50);
  form->Subject()->setText(subject);
  EXPECT_EQ(form->Subject()->text(), QStringLiteral("Årsopgørelse for 2026: bilag, kvitteringer og æ"));
  form->FaxNumber()->setText(QStringLiteral("+45 98 76 54 32 ext. ÆØÅ 1234"));
  EXPECT_LE(form->FaxNumber()->text().toUtf8().size(), 25);
  EXPECT_TRUE(QStringLiteral("+45 98 76 54 32 ext. ÆØÅ 1234").startsWith(form->FaxNumber()->text()));
  // ASCII text still fills its field to the last byte.
  form->Subject()->setText(QString(60, QLatin1Char('s')));
  EXPECT_EQ(form->Subject()->text().size(), 50);

  // The phone book's and the cover template's edits follow the same rule.
  TPhoneBookEditor entry(main_.get());
  entry.Name()->setText(name);
  EXPECT_EQ(entry.Name()->text(), fitted);
  TCoverEditor cover(dir_.Path(), main_.get());
  cover.CoverDescription()->setText(name);
  EXPECT_EQ(cover.CoverDescription()->text(), fitted);
}

// Esc stands for every way of closing without Accept (Cancel, the window's close button).
void PressEsc(QWidget* form) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(form, &press);
  QApplication::processEvents();
}

TEST_F(FaxEditorTest, ClosingWithChangesAsksAndOnlyYesStores) {
  using Choice = DialogService::Choice;
  int stores = 0;
  bool storeWorks = false;
  auto open = [&] {
    auto form = Open();
    form->SetStoreHandler([&] {
      ++stores;
      return storeWorks;
    });
    return form;
  };

  // Nothing changed: Esc closes at once.
  auto form = open();
  PressEsc(form.get());
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->result(), QDialog::Rejected);
  EXPECT_EQ(dialogs_.Count(QStringLiteral("choice")), 0);

  // Typed text: Cancel keeps the form open, No throws the text away.
  form = open();
  Type(form->RTDoc(), QStringLiteral("A letter worth keeping"));
  dialogs_.choices = {Choice::Cancel, Choice::No};
  PressEsc(form.get());
  ASSERT_EQ(dialogs_.Count(QStringLiteral("choice")), 1);
  EXPECT_EQ(dialogs_.shown.back().caption, QStringLiteral("Fax Editor"));
  EXPECT_EQ(dialogs_.shown.back().text, QStringLiteral("Save changes to this fax?"));
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(Text(form->RTDoc()), QStringLiteral("A letter worth keeping"));
  PressEsc(form.get());
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->result(), QDialog::Rejected);
  EXPECT_EQ(stores, 0);

  // A changed subject counts too. Yes stores; a store that fails keeps the form open.
  form = open();
  form->Subject()->insert(QStringLiteral("Invoice"));
  dialogs_.choices = {Choice::Yes, Choice::Yes};
  PressEsc(form.get());
  EXPECT_EQ(stores, 1);
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(form->Subject()->text(), QStringLiteral("Invoice"));
  storeWorks = true;
  PressEsc(form.get());
  EXPECT_EQ(stores, 2);
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->result(), QDialog::Accepted);

  // Accept stores without asking, and likewise stays open when the store fails.
  form = open();
  storeWorks = false;
  dialogs_.Clear();
  Find<QAbstractButton>(*form, "OKButton")->click();
  EXPECT_EQ(stores, 3);
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(dialogs_.Count(QStringLiteral("choice")), 0);
}

TEST_F(FaxEditorTest, TheCoverTemplateEditorAsksTooBeforeChangesAreLost) {
  using Choice = DialogService::Choice;
  TCoverEditor form(dir_.Path(), main_.get());
  form.CoverDescription()->setText(QStringLiteral("Letterhead"));
  form.show();
  QApplication::processEvents();
  int stores = 0;
  form.SetStoreHandler([&] { return ++stores > 1; });
  Type(form.RTCover(), QStringLiteral("Dear [RECIPIENT]"));
  dialogs_.choices = {Choice::Cancel, Choice::Yes, Choice::Yes};
  PressEsc(&form);
  ASSERT_EQ(dialogs_.Count(QStringLiteral("choice")), 1);
  EXPECT_EQ(dialogs_.shown.back().text, QStringLiteral("Save changes to this cover sheet template?"));
  EXPECT_TRUE(form.isVisible());
  PressEsc(&form);  // Yes, but the store fails: still open
  EXPECT_EQ(stores, 1);
  EXPECT_TRUE(form.isVisible());
  PressEsc(&form);
  EXPECT_EQ(stores, 2);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), kModalAccept);

  // Unchanged: closes without a question.
  TCoverEditor unchanged(dir_.Path(), main_.get());
  unchanged.show();
  QApplication::processEvents();
  dialogs_.Clear();
  PressEsc(&unchanged);
  EXPECT_FALSE(unchanged.isVisible());
  EXPECT_EQ(dialogs_.Count(QStringLiteral("choice")), 0);
}

// Every tool bar button shows at the form's default size, and at the narrowest width the form is
// laid out for, so no command hides behind an overflow arrow.
TEST_F(FaxEditorTest, EveryToolBarButtonShowsWithoutOverflowAtTheDefaultWidth) {
  auto form = Open();
  EXPECT_EQ(form->width(), 760);
  for (const char* page : {"CoverButton", "DocumentButton"}) {
    Find<QToolButton>(*form, page)->click();
    QApplication::processEvents();
    const QList<QToolBar*> bars = form->findChildren<QToolBar*>();
    int shown = 0;
    for (QToolBar* bar : bars) {
      if (!bar->isVisible()) continue;
      ++shown;
      const QStringList hidden = test::HiddenInOverflow(bar);
      EXPECT_TRUE(hidden.isEmpty()) << page << " " << bar->objectName().toStdString() << ": "
                                    << hidden.join(QStringLiteral(", ")).toStdString();
    }
    EXPECT_EQ(shown, 2) << page;  // formatting and commands
  }
}

// A stored fax whose RTF holds pictures the editor cannot show (metafiles, bitmaps) opens with one
// notice naming how many were left out; text and PNG pictures load as always.
TEST_F(FaxEditorTest, PicturesThatCannotBeShownAreCountedInOneNotice) {
  auto form = Open();
  const QString path = dir_.File(QStringLiteral("with-pictures.rtf"));
  auto writeRtf = [&](const std::string& rtf) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(rtf.data(), qint64(rtf.size()));
  };
  writeRtf("{\\rtf1\\ansi Before {\\pict\\wmetafile8\\picw20\\pich20 0100090000}middle"
           "{\\pict\\dibitmap0\\picw20\\pich20 2800}{\\pict\\emfblip 0100}after\\par}");
  TRichEditMemo memo(*form->RTDoc());
  ASSERT_TRUE(memo.LoadRtfFile(path.toStdString()));
  form->DocumentButtonClick();
  QApplication::processEvents();
  ui::TQvRichEdit* doc = form->RTDoc();
  EXPECT_EQ(doc->SkippedPictures(), 3);
  EXPECT_EQ(doc->ToDocument().PlainText(), "Before middleafter");
  QWidget* notice = doc->PictureNotice();
  ASSERT_NE(notice, nullptr);
  EXPECT_TRUE(notice->isVisible());
  auto* text = notice->findChild<QLabel*>(QStringLiteral("PictureNoticeText"));
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(text->text().startsWith(QStringLiteral("3 pictures in this text"))) << text->text().toStdString();
  EXPECT_TRUE(text->text().contains(QStringLiteral("were left out")));
  EXPECT_FALSE(notice->accessibleName().isEmpty());
  // One notice, not one per picture, and only on the editor that lost them.
  EXPECT_EQ(doc->findChildren<QLabel*>(QStringLiteral("PictureNoticeText")).size(), 1);
  EXPECT_FALSE(form->RTCover()->PictureNotice()->isVisibleTo(form.get()));
  EXPECT_TRUE(dialogs_.shown.empty());  // a notice in the editor, no box to click away
  // Closing it hides it; it stays closed while the user edits.
  auto* close = notice->findChild<QToolButton*>(QStringLiteral("PictureNoticeClose"));
  ASSERT_NE(close, nullptr);
  EXPECT_FALSE(close->accessibleName().isEmpty());
  close->click();
  Type(doc, QStringLiteral("typed "));
  EXPECT_FALSE(notice->isVisible());

  // One picture is said in the singular; a load without such pictures takes the notice away.
  writeRtf("{\\rtf1 one {\\pict\\macpict 00}\\par}");
  ASSERT_TRUE(memo.LoadRtfFile(path.toStdString()));
  EXPECT_TRUE(notice->isVisible());
  EXPECT_TRUE(text->text().startsWith(QStringLiteral("1 picture in this text is"))) << text->text().toStdString();
  writeRtf("{\\rtf1 plain\\par}");
  ASSERT_TRUE(memo.LoadRtfFile(path.toStdString()));
  EXPECT_EQ(doc->SkippedPictures(), 0);
  EXPECT_FALSE(notice->isVisible());
  // A memo that cannot be read at all is reported by its caller; it leaves no picture notice.
  writeRtf("{\\rtf1 {\\pict\\wmetafile8 01}");
  EXPECT_FALSE(memo.LoadRtfFile(path.toStdString()));
  EXPECT_FALSE(notice->isVisible());
}

TEST_F(FaxEditorTest, PageBreakQuestionNoLeavesTheTextAndYesStartsANewPage) {
  auto form = Open();
  ui::TQvRichEdit* doc = form->RTDoc();
  Type(doc, QStringLiteral("First page\nSecond page"));
  rtf::ParaFormat indented = doc->CurrentParagraph();
  indented.leftIndent = 360;
  indented.spaceAfter = 120;
  doc->SetCurrentParagraph(indented);
  const std::string before = doc->SaveRtf();

  dialogs_.answers.push_back(false);
  Find<QToolButton>(*form, "DocPageBreakButton")->click();
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0].caption, QStringLiteral("Page Break"));
  EXPECT_EQ(dialogs_.shown[0].text, QStringLiteral("Add a page break here?"));
  EXPECT_FALSE(dialogs_.shown[0].defaultYes);
  EXPECT_EQ(doc->SaveRtf(), before);
  EXPECT_FALSE(doc->CurrentParagraph().pageBreakBefore);
  // The default answer (Enter) is No as well.
  Find<QToolButton>(*form, "DocPageBreakButton")->click();
  EXPECT_EQ(doc->SaveRtf(), before);

  dialogs_.answers.push_back(true);
  Find<QToolButton>(*form, "DocPageBreakButton")->click();
  const rtf::ParaFormat after = doc->CurrentParagraph();
  EXPECT_TRUE(after.pageBreakBefore);
  EXPECT_EQ(after.leftIndent, 360);  // the other attributes stay
  EXPECT_EQ(after.spaceAfter, 120);
  EXPECT_EQ(Text(doc), QStringLiteral("First page\nSecond page"));
  const rtf::Document saved = doc->ToDocument();
  ASSERT_EQ(saved.paragraphs.size(), 2u);
  EXPECT_FALSE(saved.paragraphs[0].format.pageBreakBefore);
  EXPECT_TRUE(saved.paragraphs[1].format.pageBreakBefore);
  // The cover's own button asks about the cover.
  dialogs_.answers.push_back(true);
  Find<QToolButton>(*form, "CoverDocPageBreakButton")->click();
  EXPECT_TRUE(form->RTCover()->CurrentParagraph().pageBreakBefore);
}

TEST_F(FaxEditorTest, WordWrapButtonsFlipTheirEditorAndTheHint) {
  auto form = Open();
  struct Case {
    const char* button;
    ui::TQvRichEdit* editor;
    ui::TQvRichEdit* other;
  } cases[] = {{"DocWordWrapButton", form->RTDoc(), form->RTCover()},
               {"CoverDocWordWrapButton", form->RTCover(), form->RTDoc()}};
  for (const Case& c : cases) {
    auto* button = Find<QToolButton>(*form, c.button);
    const bool start = c.editor->WordWrap();
    const bool otherStart = c.other->WordWrap();
    EXPECT_EQ(button->isChecked(), start);
    EXPECT_EQ(button->toolTip(), QString::fromLatin1(start ? kWordWrapOffHint : kWordWrapOnHint));
    button->click();
    EXPECT_EQ(c.editor->WordWrap(), !start);
    EXPECT_EQ(button->isChecked(), !start);
    EXPECT_EQ(button->toolTip(), QString::fromLatin1(!start ? kWordWrapOffHint : kWordWrapOnHint));
    EXPECT_EQ(c.other->WordWrap(), otherStart);
    button->click();
    EXPECT_EQ(c.editor->WordWrap(), start);
    EXPECT_EQ(button->toolTip(), QString::fromLatin1(start ? kWordWrapOffHint : kWordWrapOnHint));
  }
  EXPECT_EQ(QString::fromLatin1(kWordWrapOnHint), QStringLiteral("Toggle word wrap on"));
  EXPECT_EQ(QString::fromLatin1(kWordWrapOffHint), QStringLiteral("Toggle word wrap off"));
}

TEST_F(FaxEditorTest, EnterInARecipientFieldMovesOnAndDoesNotClose) {
  auto form = Open();
  form->activateWindow();
  form->Recipient()->setFocus();
  QApplication::processEvents();
  ASSERT_EQ(QApplication::focusWidget(), form->Recipient());
  int accepted = 0;
  int finished = 0;
  QObject::connect(form.get(), &QDialog::accepted, [&accepted] { ++accepted; });
  QObject::connect(form.get(), &QDialog::finished, [&finished] { ++finished; });
  for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
    form->Recipient()->setFocus();
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(form->Recipient(), &press);
    QApplication::processEvents();
    EXPECT_TRUE(press.isAccepted());
    EXPECT_EQ(QApplication::focusWidget(), form->FaxNumber());
  }
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
  QApplication::sendEvent(form->FaxNumber(), &press);
  EXPECT_EQ(QApplication::focusWidget(), form->Subject());
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(accepted, 0);
  EXPECT_EQ(finished, 0);
  EXPECT_TRUE(form->Recipient()->text().isEmpty());
}

TEST_F(FaxEditorTest, MergeFieldsGetTheFieldsTextCutTo100) {
  auto form = Open();
  EXPECT_EQ(form->MergeFieldValue(kFieldRecipient), QString());  // empty source, empty text
  // Longer than its field lets it be, to show the cut at 100 itself.
  form->Recipient()->setMaxLength(32767);
  form->Recipient()->setValidator(nullptr);
  const QString longName(150, QLatin1Char('N'));
  form->Recipient()->setText(longName);
  form->FaxNumber()->setText(QStringLiteral("555 0199"));
  form->Subject()->setText(QStringLiteral("Quarterly report"));
  EXPECT_EQ(form->MergeFieldValue(kFieldRecipient), longName.left(100));
  EXPECT_EQ(form->MergeFieldValue(kFieldFaxNumber), QStringLiteral("555 0199"));
  EXPECT_EQ(form->MergeFieldValue(kFieldSubject), QStringLiteral("Quarterly report"));
  EXPECT_EQ(form->MergeFieldValue(kFieldDate),
            QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat));
  EXPECT_FALSE(form->MergeFieldValue(kFieldTime).isEmpty());
  EXPECT_TRUE(form->MergeFieldValue(99).isEmpty());
  // One buffer serves every request.
  EXPECT_EQ(&form->MergeFieldValue(kFieldSubject), &form->MergeFieldValue(kFieldRecipient));
  // The cover sheet's editor asks the form.
  ASSERT_TRUE(form->RTCover()->FieldValue);
  EXPECT_EQ(form->RTCover()->FieldValue(kFieldRecipient), longName.left(100));
  // Shown on the cover sheet when its page is chosen, cut as well.
  Type(form->RTCover(), QStringLiteral("To: "));
  form->RTCover()->InsertMergeField(kFieldRecipient, QStringLiteral("[RECIPIENT]"));
  Find<QToolButton>(*form, "RecipientButton")->click();
  form->Recipient()->setText(QStringLiteral("Dora"));
  Find<QToolButton>(*form, "CoverButton")->click();
  EXPECT_EQ(Text(form->RTCover()), QStringLiteral("To: Dora"));
  Find<QToolButton>(*form, "RecipientButton")->click();
  form->Recipient()->setText(longName + QStringLiteral("X"));
  Find<QToolButton>(*form, "CoverButton")->click();
  EXPECT_EQ(Text(form->RTCover()), QStringLiteral("To: ") + longName.left(100));
  // The record's fields hold what they can store, so the form keeps to their widths.
  auto fresh = Open(false);
  EXPECT_EQ(fresh->Recipient()->maxLength(), 35);
  EXPECT_EQ(fresh->FaxNumber()->maxLength(), 25);
  EXPECT_EQ(fresh->Subject()->maxLength(), 50);
}

TEST_F(FaxEditorTest, DefaultFontButtonStoresTheChosenFontInTheSettings) {
  const std::string ini = SettingsFileName(dir_.StdPath());
  core::TIniFile(ini).WriteString("Default Font", "Name", "DejaVu Sans");
  core::TIniFile(ini).WriteInteger("Default Font", "Size", 11);
  core::TIniFile(ini).WriteBool("Default Font", "Italic", true);
  auto form = Open();
  Type(form->RTDoc(), QStringLiteral("kept as it is"));
  const ui::FontAttributes before = form->RTDoc()->CurrentFont();
  QFont preset;
  dialogs_.forms.push_back([&preset](QDialog* d) {
    auto* fonts = qobject_cast<QFontDialog*>(d);
    EXPECT_NE(fonts, nullptr);
    if (!fonts) return int(QDialog::Rejected);
    preset = fonts->currentFont();
    QFont chosen(QStringLiteral("DejaVu Serif"));
    chosen.setPointSize(16);
    chosen.setBold(true);
    chosen.setUnderline(true);
    fonts->setCurrentFont(chosen);
    return int(QDialog::Accepted);
  });
  Find<QToolButton>(*form, "DocDefFontbutton")->click();
  ASSERT_EQ(dialogs_.Count(QStringLiteral("form")), 1);
  EXPECT_EQ(preset.family(), QStringLiteral("DejaVu Sans"));  // read afresh from the file
  EXPECT_EQ(preset.pointSize(), 11);
  EXPECT_TRUE(preset.italic());
  EXPECT_FALSE(preset.bold());
  core::TIniFile file(ini);
  EXPECT_EQ(file.ReadString("Default Font", "Name", ""), "DejaVu Serif");
  EXPECT_EQ(file.ReadInteger("Default Font", "Size", 0), 16);
  EXPECT_TRUE(file.ReadBool("Default Font", "Bold", false));
  EXPECT_TRUE(file.ReadBool("Default Font", "Underline", false));
  EXPECT_EQ(Settings().FontName, "DejaVu Serif");
  EXPECT_EQ(form->RTDoc()->CurrentFont(), before);  // existing text keeps its font

  // Cancel in the font dialog changes nothing; the cover's button is the same command.
  dialogs_.forms.push_back([](QDialog*) { return int(QDialog::Rejected); });
  Find<QToolButton>(*form, "CoverDefFontbutton")->click();
  EXPECT_EQ(dialogs_.Count(QStringLiteral("form")), 2);
  EXPECT_EQ(core::TIniFile(ini).ReadInteger("Default Font", "Size", 0), 16);
}

TEST_F(FaxEditorTest, ParagraphButtonOpensTheDialogForItsEditor) {
  auto form = Open();
  rtf::ParaFormat para = form->RTCover()->CurrentParagraph();
  para.leftIndent = 1440;
  form->RTCover()->SetCurrentParagraph(para);
  QString seen;
  dialogs_.forms.push_back([&seen](QDialog* d) {
    seen = d->windowTitle();
    auto* dlg = qobject_cast<TParagraphPropDlg*>(d);
    EXPECT_NE(dlg, nullptr);
    if (dlg) EXPECT_EQ(dlg->Twips(TParagraphPropDlg::kLeftIndent), 1440);
    return int(QDialog::Rejected);
  });
  Find<QToolButton>(*form, "CoverParagraphSetupbutton")->click();
  EXPECT_EQ(seen, QStringLiteral("Paragraph Properties"));
}

TEST_F(FaxEditorTest, AcceptCancelHelpAndThePlacementStore) {
  auto form = Open();
  std::vector<int> help;
  QObject::connect(form.get(), &TFaxEditor::HelpRequested, [&help](int topic) { help.push_back(topic); });
  Find<QAbstractButton>(*form, "Helpbutton")->click();
  EXPECT_EQ(help, std::vector<int>{1015});
  form->setGeometry(40, 50, 700, 600);
  Find<QAbstractButton>(*form, "CancelButton")->click();
  EXPECT_EQ(form->result(), QDialog::Rejected);
  core::TIniFile ini(SettingsFileName(dir_.StdPath()));
  EXPECT_EQ(ini.ReadInteger("TFaxEditor_Placement", "Left", -1), form->geometry().x());
  EXPECT_EQ(ini.ReadInteger("TFaxEditor_Placement", "Right", -1),
            form->geometry().x() + form->geometry().width());

  auto again = Open(false);
  EXPECT_EQ(again->geometry().size(), form->geometry().size());
  again->show();
  Find<QAbstractButton>(*again, "OKButton")->click();
  EXPECT_EQ(again->result(), QDialog::Accepted);
}

TEST_F(FaxEditorTest, EachEditorsSpellRequestChecksThatEditor) {
  {
    QFile words(dir_.File(QStringLiteral("qrv.dct")));
    ASSERT_TRUE(words.open(QIODevice::WriteOnly));
    words.write("2\nhello\nworld\n");
  }
  auto form = Open();
  Type(form->RTCover(), QStringLiteral("hello wurld"));
  Type(form->RTDoc(), QStringLiteral("hello world"));
  QString word;
  dialogs_.forms.push_back([&word](QDialog* d) {
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Spell Check"));
    word = d->findChild<QLineEdit*>(QStringLiteral("WordEdit"))->text();
    return int(QDialog::Rejected);
  });
  emit form->RTCover()->SpellCheckRequested();
  EXPECT_EQ(word, QStringLiteral("wurld"));
  // The document has nothing unknown: no dialog, just the note that the check is complete.
  dialogs_.Clear();
  emit form->RTDoc()->SpellCheckRequested();
  EXPECT_EQ(dialogs_.Count(QStringLiteral("form")), 0);
  EXPECT_EQ(dialogs_.Infos(), QStringList{QStringLiteral("Spell check complete")});
}


int Pictures(const ui::TQvRichEdit* editor) {
  int n = 0;
  for (const rtf::Paragraph& p : editor->ToDocument().paragraphs)
    for (const rtf::Run& r : p.runs) n += r.kind == rtf::Run::Kind::Picture;
  return n;
}

TEST_F(FaxEditorTest, PictureAndPdfButtonsAskForTheFileAndReportWhatCannotBeRead) {
  auto form = Open();
  QImage img(120, 60, QImage::Format_RGB32);
  img.fill(Qt::white);
  ASSERT_TRUE(img.save(dir_.File(QStringLiteral("logo.png"))));
  QFile junk(dir_.File(QStringLiteral("junk.png")));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("not a picture at all");
  junk.close();

  // Cancelling the file dialog inserts nothing and says nothing.
  emit form->RTDoc()->InsertPictureRequested();
  EXPECT_EQ(Pictures(form->RTDoc()), 0);
  EXPECT_TRUE(dialogs_.Infos().isEmpty());

  dialogs_.openFiles = {dir_.File(QStringLiteral("logo.png")), dir_.File(QStringLiteral("junk.png"))};
  emit form->RTDoc()->InsertPictureRequested();
  EXPECT_EQ(Pictures(form->RTDoc()), 1);
  EXPECT_EQ(Pictures(form->RTCover()), 0);
  emit form->RTDoc()->InsertPictureRequested();
  EXPECT_EQ(Pictures(form->RTDoc()), 1);
  ASSERT_EQ(dialogs_.Infos().size(), 1);
  EXPECT_FALSE(dialogs_.Infos().front().isEmpty());

  if (!ui::PdfAvailable()) GTEST_SKIP() << "built without Poppler";
  {
    QPdfWriter pdf(dir_.File(QStringLiteral("two.pdf")));
    QPainter p(&pdf);
    p.drawText(100, 100, QStringLiteral("one"));
    pdf.newPage();
    p.drawText(100, 100, QStringLiteral("two"));
  }
  dialogs_.Clear();
  dialogs_.openFiles = {dir_.File(QStringLiteral("two.pdf")), dir_.File(QStringLiteral("junk.png"))};
  emit form->RTCover()->InsertPdfRequested();
  EXPECT_EQ(Pictures(form->RTCover()), 2);
  EXPECT_TRUE(dialogs_.Infos().isEmpty());
  emit form->RTCover()->InsertPdfRequested();
  EXPECT_EQ(Pictures(form->RTCover()), 2);
  EXPECT_EQ(dialogs_.Infos().size(), 1);
}

}  // namespace
}  // namespace qv::app
