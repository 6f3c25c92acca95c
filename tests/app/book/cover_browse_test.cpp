// Cover sheet templates: the starter templates of a new cover table, the browser's flows over the
// real table, the template editor's insert menu and editing commands, and the fax editor's
// "Load Template" and "&Phonebook".
#include "app/contacts/cover_browse.h"

#include "app/contacts/cover_editor.h"
#include "app/editor/enter_edit.h"
#include "app/editor/fax_editor.h"
#include "app/store/fax_store.h"
#include "app/contacts/phone_book.h"
#include "app/contacts/phone_book_editor.h"
#include "app/editor/rich_edit_memo.h"
#include "app/forms/table_model.h"
#include "app/store/table_pair.h"
#include "ui/document_fax.h"
#include "ui/rich_edit.h"
#include "book_support.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>

#include <set>

namespace qv::app {
namespace {

using test::Find;

class CoverTest : public test::BookTest {
 protected:
  TablePair& Cover() { return store_.Pair(TableId::Cover); }

  QStringList Descriptions() {
    QStringList out;
    for (Cover().First(); !Cover().Eof(); Cover().Next()) out << QString::fromStdString(Cover().FieldString("DESCRIPT"));
    return out;
  }

  // The current template's text as the editor loads it.
  rtf::Document Memo() {
    ui::TQvRichEdit edit;
    TRichEditMemo memo(edit);
    store_.LoadRichText(memo, "COVER", Cover());
    EXPECT_TRUE(memo.LoadError().isEmpty()) << memo.LoadError().toStdString();
    return edit.ToDocument();
  }

  static std::set<int> FieldKinds(const rtf::Document& doc) {
    std::set<int> kinds;
    for (const rtf::Paragraph& p : doc.paragraphs)
      for (const rtf::Run& r : p.runs)
        if (r.kind == rtf::Run::Kind::Field) kinds.insert(r.field.kind);
    return kinds;
  }

  TFaxStore store_{dir_.StdPath()};
};

TEST_F(CoverTest, ANewCoverTableGetsTheStarterTemplatesOnceAndTheyRender) {
  ASSERT_TRUE(store_.OpenCoverDBF());
  EXPECT_TRUE(QFile::exists(dir_.File(QStringLiteral("QRVCOV.CDX"))));
  // In DESCRIPT order.
  EXPECT_EQ(Descriptions(), (QStringList{QStringLiteral("Business letterhead"), QStringLiteral("Confidential notice"),
                                         QStringLiteral("Plain cover sheet")}));
  int n = 0;
  for (Cover().First(); !Cover().Eof(); Cover().Next(), ++n) {
    const rtf::Document doc = Memo();
    EXPECT_EQ(FieldKinds(doc), (std::set<int>{1, 2, 3, 4, 5})) << n;
    const std::string out = dir_.StdPath() + "T" + std::to_string(n) + ".QVF";
    ui::DocumentFaxOptions options;
    options.fieldValue = [](int kind) { return QStringLiteral("value %1").arg(kind); };
    int pages = 0;
    EXPECT_EQ(ui::WriteDocumentFax(doc, out, options, &pages), 0) << n;
    EXPECT_EQ(pages, 1) << n;
    EXPECT_GT(QFileInfo(QString::fromStdString(out)).size(), 1000) << n;
  }
  EXPECT_EQ(n, 3);
  // Opening an existing table adds nothing; neither does recreating a lost index.
  store_.Close(TableId::Cover);
  ASSERT_TRUE(QFile::remove(dir_.File(QStringLiteral("QRVCOV.CDX"))));
  TFaxStore again(dir_.StdPath());
  ASSERT_TRUE(again.OpenCoverDBF());
  EXPECT_EQ(again.Pair(TableId::Cover).QueryRecCount(), 3);
}

TEST_F(CoverTest, ModesAndEmptyTableBeeps) {
  ASSERT_TRUE(store_.OpenCoverDBF());
  for (Cover().First(); !Cover().Eof(); Cover().First()) ASSERT_TRUE(Cover().DeleteRecord());
  TCoverBrowse browser(store_, &main_);
  browser.show();
  EXPECT_EQ(browser.windowTitle(), QStringLiteral("Cover Sheet Template Browser"));
  EXPECT_TRUE(Find<QPushButton>(browser, "CloseButton")->isVisible());
  EXPECT_FALSE(Find<QPushButton>(browser, "Acceptbutton")->isVisible());
  EXPECT_FALSE(Find<QPushButton>(browser, "CancelButton")->isVisible());
  browser.SetChoosing();
  EXPECT_FALSE(Find<QPushButton>(browser, "CloseButton")->isVisible());
  EXPECT_TRUE(Find<QPushButton>(browser, "CancelButton")->isVisible());
  EXPECT_FALSE(Find<QPushButton>(browser, "Acceptbutton")->isEnabled());
  for (const char* b : {"ModifyButton", "CloneButton", "DeleteButton"}) Find<QPushButton>(browser, b)->click();
  EXPECT_EQ(dialogs_.beeps, 3);
  EXPECT_TRUE(dialogs_.shown.empty());
  EXPECT_FALSE(browser.CloneRequest());
  QList<int> topics;
  QObject::connect(&browser, &TCoverBrowse::HelpRequested, [&](int t) { topics << t; });
  browser.HelpButtonClick();
  dialogs_.forms.push_back([](QDialog* d) {
    Find<QPushButton>(*d, "HelpButton")->click();
    return kModalCancel;
  });
  browser.NewButtonClick();
  EXPECT_EQ(topics, (QList<int>{1017, 1018}));
}

TEST_F(CoverTest, NewWithMergeFieldsIsStoredAndReloadsInEdit) {
  ASSERT_TRUE(store_.OpenCoverDBF());
  TCoverBrowse browser(store_, &main_);
  dialogs_.forms.push_back([](QDialog* d) {
    auto* editor = qobject_cast<TCoverEditor*>(d);
    EXPECT_EQ(editor->windowTitle(), QStringLiteral("Cover Sheet Template Editor"));
    EXPECT_EQ(editor->CoverDescription()->text(), QStringLiteral("{description}"));
    EXPECT_EQ(editor->CoverDescription()->toolTip(),
              QStringLiteral("Enter a description for this cover sheet template here"));
    EXPECT_TRUE(editor->RTCover()->IsEmpty());
    editor->show();
    editor->CoverDescription()->setText(QStringLiteral("My sheet"));
    editor->RTCover()->TextEdit()->insertPlainText(QStringLiteral("Hello "));
    // Items by caption; the caption decides, whatever its letter case.
    for (const char* caption : {"Recipient", "Fax Number", "Subject", "Date", "Time"}) {
      QAction* item = test::MenuItem(editor->InsertMenu(), QString::fromLatin1(caption));
      EXPECT_NE(item, nullptr) << caption;
      if (item) item->trigger();
    }
    QAction lower(QStringLiteral("fax number"));
    editor->InsertItemClick(&lower);
    editor->hide();
    return test::AcceptForm(editor);
  });
  browser.NewButtonClick();
  // The new template is the current one.
  ASSERT_EQ(QString::fromStdString(Cover().FieldString("DESCRIPT")), QStringLiteral("My sheet"));
  const rtf::Document doc = Memo();
  EXPECT_EQ(doc.PlainText(), "Hello [RECIPIENT][FAX#][SUBJECT][DATE][TIME][FAX#]");
  EXPECT_EQ(FieldKinds(doc), (std::set<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(Descriptions().size(), 4);
  ASSERT_TRUE(browser.Model()->MakeCurrent(browser.Model()->rowCount() - 2));  // "My sheet" before "Plain..."

  // Edit shows both back; the accepted change is stored.
  dialogs_.forms.push_back([](QDialog* d) {
    auto* editor = qobject_cast<TCoverEditor*>(d);
    EXPECT_EQ(editor->CoverDescription()->text(), QStringLiteral("My sheet"));
    EXPECT_EQ(editor->RTCover()->ToDocument().PlainText(), "Hello [RECIPIENT][FAX#][SUBJECT][DATE][TIME][FAX#]");
    editor->CoverDescription()->setText(QStringLiteral("My sheet 2"));
    return test::AcceptForm(editor);
  });
  browser.ModifyButtonClick();
  EXPECT_EQ(QString::fromStdString(Cover().FieldString("DESCRIPT")), QStringLiteral("My sheet 2"));
  EXPECT_EQ(Memo().PlainText(), "Hello [RECIPIENT][FAX#][SUBJECT][DATE][TIME][FAX#]");
}

TEST_F(CoverTest, CloneCancelledLeavesTheNextNewBlankAndLongDescriptionsAreCut) {
  ASSERT_TRUE(store_.OpenCoverDBF());
  const std::string long35 = "A description that is 35 chars long";
  ASSERT_EQ(long35.size(), 35u);
  ASSERT_TRUE(Cover().Append() && Cover().SetFieldString("DESCRIPT", long35) && Cover().Post());
  TCoverBrowse browser(store_, &main_);
  // "A description..." sorts first, then the letterhead.
  ASSERT_TRUE(browser.Model()->MakeCurrent(1));
  const rtf::Document doc1 = Memo();
  ASSERT_EQ(Cover().FieldString("DESCRIPT"), "Business letterhead");
  dialogs_.forms.push_back([&](QDialog* d) {
    auto* editor = qobject_cast<TCoverEditor*>(d);
    EXPECT_EQ(editor->CoverDescription()->text(), QStringLiteral("[clone]Business letterhead"));
    EXPECT_EQ(editor->RTCover()->ToDocument().PlainText(), doc1.PlainText());
    return kModalCancel;
  });
  browser.CloneButtonClick();
  EXPECT_FALSE(browser.CloneRequest());
  dialogs_.forms.push_back([](QDialog* d) {
    auto* editor = qobject_cast<TCoverEditor*>(d);
    EXPECT_EQ(editor->CoverDescription()->text(), QStringLiteral("{description}"));
    EXPECT_TRUE(editor->RTCover()->IsEmpty());
    return kModalCancel;
  });
  browser.NewButtonClick();
  EXPECT_EQ(Descriptions().size(), 4);

  // A clone of a 35-character description is cut to the field on posting.
  ASSERT_TRUE(browser.Model()->MakeCurrent(0));
  ASSERT_EQ(Cover().FieldString("DESCRIPT"), long35);
  dialogs_.forms.push_back([](QDialog* d) { return test::AcceptForm(d); });
  browser.CloneButtonClick();
  EXPECT_TRUE(Descriptions().contains(QString::fromStdString(("[clone]" + long35).substr(0, 35))));
  EXPECT_EQ(Descriptions().size(), 5);
}

TEST_F(CoverTest, DeleteAsksAndDecliningKeepsTheTemplate) {
  ASSERT_TRUE(store_.OpenCoverDBF());
  TCoverBrowse browser(store_, &main_);
  ASSERT_TRUE(browser.Model()->MakeCurrent(2));
  dialogs_.answers.push_back(false);
  browser.DeleteButtonClick();
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0].caption, QStringLiteral("Delete"));
  EXPECT_EQ(dialogs_.shown[0].text, QStringLiteral("Delete the current cover template?:\r\nPlain cover sheet"));
  EXPECT_FALSE(dialogs_.shown[0].defaultYes);
  EXPECT_EQ(browser.Model()->rowCount(), 3);
  dialogs_.answers.push_back(true);
  browser.DeleteButtonClick();
  EXPECT_EQ(browser.Model()->rowCount(), 2);
  EXPECT_FALSE(Descriptions().contains(QStringLiteral("Plain cover sheet")));
}

TEST_F(CoverTest, EditorCommandsZoomPageBreakAndWordWrap) {
  TCoverEditor editor(dir_.Path(), &main_);
  editor.show();
  for (const char* name : {"CoverDescription", "RTCover", "RTToolBar1", "RTToolBar2", "InsertButton", "Zoombutton",
                           "PageBreakButton", "ParagraphButton", "WordWrapButton", "DefFontButton", "OKbutton",
                           "CancelButton", "HelpButton"}) {
    QWidget* w = editor.findChild<QWidget*>(QString::fromLatin1(name));
    ASSERT_NE(w, nullptr) << name;
    EXPECT_FALSE(w->accessibleName().isEmpty()) << name;
  }
  EXPECT_EQ(editor.RTCover()->PageSetup().paperWidth, 12240);
  EXPECT_EQ(editor.RTCover()->PageSetup().marginLeft, 720);
  // At the default size every button of both rows shows, none behind an overflow arrow.
  QApplication::processEvents();
  EXPECT_EQ(editor.width(), 760);
  for (const char* bar : {"RTToolBar1", "RTToolBar2"}) {
    const QStringList hidden = test::HiddenInOverflow(Find<QToolBar>(editor, bar));
    EXPECT_TRUE(hidden.isEmpty()) << bar << ": " << hidden.join(QStringLiteral(", ")).toStdString();
  }
  // Zoom: the check follows the editor, the choice sets it and the caption.
  editor.RTCover()->SetZoom(90);
  editor.ZoomMenuPopup();
  for (QAction* a : editor.ZoomMenu()->actions()) EXPECT_FALSE(a->isChecked());
  test::MenuItem(editor.ZoomMenu(), QStringLiteral("70%"))->trigger();
  EXPECT_EQ(editor.RTCover()->Zoom(), 70);
  EXPECT_EQ(Find<QToolButton>(editor, "Zoombutton")->text(), QStringLiteral("70%"));
  // Page break: No changes nothing, Yes sets the attribute.
  editor.RTCover()->TextEdit()->insertPlainText(QStringLiteral("one"));
  dialogs_.answers = {false, true};
  editor.PageBreakClick();
  EXPECT_FALSE(editor.RTCover()->CurrentParagraph().pageBreakBefore);
  editor.PageBreakClick();
  EXPECT_TRUE(editor.RTCover()->CurrentParagraph().pageBreakBefore);
  EXPECT_EQ(dialogs_.shown[0].caption, QStringLiteral("Page Break"));
  EXPECT_EQ(dialogs_.shown[0].text, QStringLiteral("Add a page break here?"));
  // Word wrap flips and its hint tells what the next click does.
  auto* wrap = Find<QToolButton>(editor, "WordWrapButton");
  const bool before = editor.RTCover()->WordWrap();
  wrap->click();
  EXPECT_NE(editor.RTCover()->WordWrap(), before);
  EXPECT_EQ(wrap->isChecked(), editor.RTCover()->WordWrap());
  EXPECT_EQ(wrap->toolTip(), editor.RTCover()->WordWrap() ? QStringLiteral("Toggle word wrap off")
                                                          : QStringLiteral("Toggle word wrap on"));
}

TEST_F(CoverTest, FaxEditorLoadsATemplateAndAPhoneBookEntry) {
  {
    TablePair phone("PhoneTable");
    ASSERT_TRUE(store_.OpenPhoneDBF(phone));
    for (const char* n : {"Ann", "Bea"}) {
      ASSERT_TRUE(phone.Append() && phone.SetFieldString("NAME", n) &&
                  phone.SetFieldString("PHONE", std::string("555 ") + n) && phone.Post());
    }
  }
  TFaxEditor editor(dir_.Path(), &main_);
  editor.SetFaxStore(&store_);
  editor.show();
  auto* address = Find<QToolButton>(editor, "AddressButton");
  auto* load = Find<QToolButton>(editor, "LoadCoverButton");
  EXPECT_TRUE(address->isVisibleTo(&editor));
  // The button's place on the cover's command row is shown, and with it nothing overflows.
  auto* bar = Find<QToolBar>(editor, "CoverCommandBar");
  QAction* loadAction = nullptr;
  for (QAction* a : bar->actions())
    if (bar->widgetForAction(a) == load) loadAction = a;
  ASSERT_NE(loadAction, nullptr);
  EXPECT_TRUE(loadAction->isVisible());
  Find<QToolButton>(editor, "CoverButton")->click();
  QApplication::processEvents();
  EXPECT_TRUE(load->isVisible());
  EXPECT_TRUE(test::HiddenInOverflow(bar).isEmpty()) << test::HiddenInOverflow(bar).join(QStringLiteral(", ")).toStdString();

  // Cancel changes nothing; Accept on the second template loads it.
  editor.RTCover()->TextEdit()->insertPlainText(QStringLiteral("old cover"));
  dialogs_.forms.push_back([](QDialog* d) {
    EXPECT_EQ(d->objectName(), QStringLiteral("CoverBrowse"));
    return kModalCancel;
  });
  load->click();
  EXPECT_EQ(editor.RTCover()->ToDocument().PlainText(), "old cover");
  dialogs_.forms.push_back([](QDialog* d) {
    auto* browser = qobject_cast<TCoverBrowse*>(d);
    EXPECT_TRUE(Find<QPushButton>(*d, "Acceptbutton")->isVisibleTo(d));
    EXPECT_FALSE(Find<QPushButton>(*d, "CloseButton")->isVisibleTo(d));
    browser->CoverGrid()->selectRow(1);
    Find<QPushButton>(*d, "Acceptbutton")->click();
    return d->result();
  });
  load->click();
  const std::string text = editor.RTCover()->ToDocument().PlainText();
  EXPECT_EQ(text.find("old cover"), std::string::npos);
  EXPECT_NE(text.find("CONFIDENTIAL"), std::string::npos);
  EXPECT_FALSE(store_.Pair(TableId::Cover).IsOpen());  // closed again

  // The phone book in choosing mode fills recipient and number.
  dialogs_.forms.push_back([](QDialog* d) {
    auto* book = qobject_cast<TPhoneBook*>(d);
    EXPECT_TRUE(book->Choosing());
    book->PhoneGrid()->selectRow(1);
    book->OKButtonClick();
    return book->result();
  });
  address->click();
  EXPECT_EQ(editor.Recipient()->text(), QStringLiteral("Bea"));
  EXPECT_EQ(editor.FaxNumber()->text(), QStringLiteral("555 Bea"));
  // The merge fields of the loaded template now show them.
  EXPECT_EQ(editor.MergeFieldValue(kFieldRecipient), QStringLiteral("Bea"));
}

}  // namespace
}  // namespace qv::app
