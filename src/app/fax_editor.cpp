#include "app/fax_editor.h"

#include "app/cover_browse.h"
#include "app/default_font.h"
#include "app/dialog_service.h"
#include "app/enter_edit.h"
#include "app/insert_picture.h"
#include "app/fax_store.h"
#include "app/paragraph_dialog.h"
#include "app/phone_book.h"
#include "app/placement.h"
#include "app/rich_edit_memo.h"
#include "app/settings.h"
#include "app/spell_check_dialog.h"
#include "ui/rich_edit.h"

#include <QAction>
#include <QButtonGroup>
#include <QDate>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QTime>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace qv::app {

namespace {
const char* const kFormClass = "TFaxEditor";
constexpr int kZoomLevels[] = {70, 80, 100};
constexpr int kSpacerWidth = 2;
const char* const kTagProperty = "tag";
// Widths of the record's fields, so what the form shows is what gets stored.
constexpr int kRecipientWidth = 35;
constexpr int kPhoneWidth = 25;
constexpr int kSubjectWidth = 50;

QWidget* Spacer(QWidget* parent) {
  auto* panel = new QWidget(parent);
  panel->setFixedWidth(kSpacerWidth);
  return panel;
}

void Name(QWidget* control, const char* name, const QString& accessible) {
  control->setObjectName(QString::fromLatin1(name));
  control->setAccessibleName(QString(accessible).remove(QLatin1Char('&')));
}
}  // namespace

TFaxEditor::TFaxEditor(const QString& dataDir, QWidget* mainWindow)
    : QDialog(mainWindow),
      dataDir_(dataDir),
      iniFile_(SettingsFileName(dataDir.toStdString())),
      mainWindow_(mainWindow) {
  setObjectName(QStringLiteral("FaxEditor"));
  setWindowTitle(QStringLiteral("Fax Editor"));
  setAccessibleName(windowTitle());
  setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint | Qt::WindowSystemMenuHint);
  setSizeGripEnabled(true);

  // Page choice and zoom along the top.
  auto pageButton = [this](const char* name, const QString& caption) {
    auto* b = new QToolButton(this);
    Name(b, name, caption);
    b->setText(caption);
    b->setCheckable(true);
    b->setAutoRaise(true);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return b;
  };
  CoverButton_ = pageButton("CoverButton", QStringLiteral("&Cover Sheet"));
  DocumentButton_ = pageButton("DocumentButton", QStringLiteral("&Fax Document"));
  RecipientButton_ = pageButton("RecipientButton", QStringLiteral("&Recipient Info"));
  pageButtons_ = new QButtonGroup(this);
  pageButtons_->setExclusive(true);
  for (QToolButton* b : {CoverButton_, DocumentButton_, RecipientButton_}) pageButtons_->addButton(b);
  connect(CoverButton_, &QToolButton::clicked, this, &TFaxEditor::CoverButtonClick);
  connect(DocumentButton_, &QToolButton::clicked, this, &TFaxEditor::DocumentButtonClick);
  connect(RecipientButton_, &QToolButton::clicked, this, &TFaxEditor::RecipientButtonClick);

  Zoombutton_ = new QToolButton(this);
  Name(Zoombutton_, "Zoombutton", QStringLiteral("Zoom"));
  Zoombutton_->setToolTip(QStringLiteral("Zoom"));
  ZoomMenu_ = new QMenu(this);
  ZoomMenu_->setObjectName(QStringLiteral("ZoomMenu"));
  ZoomMenu_->setAccessibleName(QStringLiteral("Zoom"));
  for (int percent : kZoomLevels) {
    QAction* item = ZoomMenu_->addAction(QString::number(percent) + QLatin1Char('%'));
    item->setObjectName(QStringLiteral("Zoom%1").arg(percent));
    item->setProperty(kTagProperty, percent);
    item->setCheckable(true);
  }
  connect(ZoomMenu_, &QMenu::aboutToShow, this, &TFaxEditor::ZoomMenuPopup);
  connect(ZoomMenu_, &QMenu::triggered, this, &TFaxEditor::ZoomItemClick);
  connect(Zoombutton_, &QToolButton::clicked, this, &TFaxEditor::ZoombuttonClick);

  auto* top = new QHBoxLayout;
  top->addWidget(CoverButton_);
  top->addWidget(DocumentButton_);
  top->addWidget(RecipientButton_);
  top->addStretch();
  top->addWidget(Zoombutton_);

  // The two editors and the recipient page.
  RTCover_ = new ui::TQvRichEdit(this);
  RTCover_->setObjectName(QStringLiteral("RTCover"));
  RTCover_->setAccessibleName(QStringLiteral("Cover Sheet"));
  RTDoc_ = new ui::TQvRichEdit(this);
  RTDoc_->setObjectName(QStringLiteral("RTDoc"));
  RTDoc_->setAccessibleName(QStringLiteral("Fax Document"));
  for (ui::TQvRichEdit* editor : {RTCover_, RTDoc_}) {
    editor->FieldValue = [this](int kind) { return MergeFieldValue(kind); };
    connect(editor, &ui::TQvRichEdit::SpellCheckRequested, this, [this, editor] { SpellCheck(editor); });
  }

  Notebook_ = new QStackedWidget(this);
  Notebook_->setObjectName(QStringLiteral("Notebook"));
  Notebook_->setAccessibleName(QStringLiteral("Fax Editor pages"));
  Notebook_->addWidget(BuildEditorPage(RTCover_, true));
  Notebook_->addWidget(BuildEditorPage(RTDoc_, false));
  Notebook_->addWidget(BuildRecipientPage());

  auto* OKButton = new QPushButton(QStringLiteral("&Accept"), this);
  Name(OKButton, "OKButton", OKButton->text());
  auto* CancelButton = new QPushButton(QStringLiteral("Cance&l"), this);
  Name(CancelButton, "CancelButton", CancelButton->text());
  auto* Helpbutton = new QPushButton(QStringLiteral("&Help"), this);
  Name(Helpbutton, "Helpbutton", Helpbutton->text());
  // Enter belongs to the editors and the recipient fields, never to a default button.
  for (QPushButton* b : {OKButton, CancelButton, Helpbutton}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(Helpbutton, &QPushButton::clicked, this, &TFaxEditor::HelpbuttonClick);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch();
  bottom->addWidget(OKButton);
  bottom->addWidget(CancelButton);
  bottom->addWidget(Helpbutton);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(Notebook_, 1);
  layout->addLayout(bottom);
  resize(760, 640);

  FormCreate();
  ShowPage(kRecipientPage);
}

TFaxEditor::~TFaxEditor() = default;

QToolButton* TFaxEditor::EditorButton(const char* name, const QString& caption, const QString& hint) {
  auto* b = new QToolButton(this);
  Name(b, name, hint);
  b->setText(caption);
  b->setToolTip(hint);
  b->setAutoRaise(true);
  b->setToolButtonStyle(Qt::ToolButtonTextOnly);
  return b;
}

QWidget* TFaxEditor::BuildEditorPage(ui::TQvRichEdit* editor, bool cover) {
  auto* page = new QWidget(this);
  page->setObjectName(cover ? QStringLiteral("CoverPage") : QStringLiteral("DocumentPage"));
  page->setAccessibleName(cover ? QStringLiteral("Cover Sheet") : QStringLiteral("Fax Document"));
  QToolBar* bar = editor->ToolBar();
  bar->setObjectName(cover ? QStringLiteral("RTToolCover") : QStringLiteral("RTToolDoc"));
  bar->setAccessibleName(cover ? QStringLiteral("Cover sheet formatting")
                               : QStringLiteral("Document formatting"));
  (cover ? RTToolCover_ : RTToolDoc_) = bar;
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  // The editor may carry its tool bar itself; otherwise the page puts it above the text.
  if (!editor->isAncestorOf(bar)) layout->addWidget(bar);
  layout->addWidget(editor, 1);

  // The same four buttons on both pages, under each page's own control names.
  QToolButton* pageBreak = (cover ? CoverDocPageBreakButton_ : DocPageBreakButton_) =
      EditorButton(cover ? "CoverDocPageBreakButton" : "DocPageBreakButton", QStringLiteral("Page Break"),
                   QStringLiteral("Insert Page Break"));
  QToolButton* paragraph = (cover ? CoverParagraphSetupbutton_ : ParagraphSetupButton_) =
      EditorButton(cover ? "CoverParagraphSetupbutton" : "ParagraphSetupButton", QStringLiteral("Paragraph"),
                   QStringLiteral("Paragraph properties"));
  QToolButton* wrap = (cover ? CoverDocWordWrapButton_ : DocWordWrapButton_) =
      EditorButton(cover ? "CoverDocWordWrapButton" : "DocWordWrapButton", QStringLiteral("Word Wrap"),
                   QString::fromLatin1(kWordWrapOnHint));
  QToolButton* font = (cover ? CoverDefFontbutton_ : DocDefFontbutton_) =
      EditorButton(cover ? "CoverDefFontbutton" : "DocDefFontbutton", QStringLiteral("Default Font"),
                   QStringLiteral("Set the default font for the editor"));
  if (cover)
    LoadCoverButton_ = EditorButton("LoadCoverButton", QStringLiteral("Load Template"), QStringLiteral("Load Template"));
  wrap->setCheckable(true);
  connect(pageBreak, &QToolButton::clicked, this, [this, editor] { PageBreakClick(editor); });
  connect(paragraph, &QToolButton::clicked, this, [this, editor] { ParagraphSetupClick(editor); });
  // The button's own toggling is undone: its down state follows the editor.
  connect(wrap, &QToolButton::clicked, this, [this, editor, wrap] { WordWrapClick(editor, wrap); });
  connect(font, &QToolButton::clicked, this, &TFaxEditor::DefFontClick);
  ConnectPictureImport(this, editor);
  return page;
}

QWidget* TFaxEditor::BuildRecipientPage() {
  auto* page = new QWidget(this);
  page->setObjectName(QStringLiteral("RecipientPage"));
  page->setAccessibleName(QStringLiteral("Recipient"));
  auto field = [page](const char* name, const QString& hint, int width) {
    auto* edit = new TEnterEdit(page);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setToolTip(hint);
    edit->setPlaceholderText(hint);
    edit->setAccessibleName(hint);
    edit->setMaxLength(width);
    return edit;
  };
  Recipient_ = field("Recipient", QStringLiteral("Enter recipient name here"), kRecipientWidth);
  FaxNumber_ = field("FaxNumber", QStringLiteral("Enter recipient fax number here"), kPhoneWidth);
  Subject_ = field("Subject", QStringLiteral("Enter subject (topic) of fax here"), kSubjectWidth);
  AddressButton_ = new QToolButton(page);
  Name(AddressButton_, "AddressButton", QStringLiteral("&Phonebook"));
  AddressButton_->setText(QStringLiteral("&Phonebook"));
  AddressButton_->setVisible(false);  // until there is a phone book to choose from
  connect(AddressButton_, &QToolButton::clicked, this, &TFaxEditor::AddressButtonClick);

  auto* form = new QFormLayout;
  auto label = [page](const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text, page);
    l->setBuddy(buddy);
    return l;
  };
  auto* recipientRow = new QHBoxLayout;
  recipientRow->addWidget(Recipient_, 1);
  recipientRow->addWidget(AddressButton_);
  form->addRow(label(QStringLiteral("Recipient:"), Recipient_), recipientRow);
  form->addRow(label(QStringLiteral("Fax Number:"), FaxNumber_), FaxNumber_);
  form->addRow(label(QStringLiteral("Subject:"), Subject_), Subject_);
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(form);
  layout->addStretch();
  return page;
}

void TFaxEditor::FormCreate() {
  // The page's editing buttons join the editor's tool bar, each followed by a narrow spacer.
  for (QToolButton* b : {DocPageBreakButton_, ParagraphSetupButton_, DocWordWrapButton_}) {
    RTToolDoc_->addWidget(b);
    RTToolDoc_->addWidget(Spacer(RTToolDoc_));
  }
  RTToolDoc_->addWidget(DocDefFontbutton_);
  RTToolDoc_->setFixedHeight(RTToolCover_->sizeHint().height());
  for (QToolButton* b : {CoverDocPageBreakButton_, CoverParagraphSetupbutton_,
                         CoverDocWordWrapButton_, CoverDefFontbutton_}) {
    RTToolCover_->addWidget(b);
  }
  loadCoverAction_ = RTToolCover_->addWidget(LoadCoverButton_);
  loadCoverAction_->setVisible(false);  // until there are templates to choose from
  connect(LoadCoverButton_, &QToolButton::clicked, this, &TFaxEditor::LoadCoverButtonClick);
  UpdateWordWrapButton(RTCover_, CoverDocWordWrapButton_);
  UpdateWordWrapButton(RTDoc_, DocWordWrapButton_);
  RestorePlacement(this, QString::fromLatin1(kFormClass), iniFile_);
}

void TFaxEditor::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!activated_) {
    activated_ = true;
    FormActivate();
  }
}

void TFaxEditor::FormActivate() {
  ShowPage(kRecipientPage);
  for (ui::TQvRichEdit* editor : {RTCover_, RTDoc_}) {
    editor->SetPageSize(kFaxPageWidth, kFaxPageHeight);
    editor->SetMargins(kFaxPageMargin, kFaxPageMargin, kFaxPageMargin, kFaxPageMargin);
    editor->Reformat();
    editor->SetCaretToStart();
    editor->Repaint();
  }
  Recipient_->setFocus();
}

void TFaxEditor::done(int result) {
  SavePlacement(this, QString::fromLatin1(kFormClass), iniFile_);
  QDialog::done(result);
}

int TFaxEditor::CurrentPage() const { return Notebook_->currentIndex(); }

void TFaxEditor::ShowPage(Page page) {
  Notebook_->setCurrentIndex(page);
  QToolButton* button = page == kCoverPage      ? CoverButton_
                        : page == kDocumentPage ? DocumentButton_
                                                : RecipientButton_;
  button->setChecked(true);
  if (page == kRecipientPage) {
    Zoombutton_->setVisible(false);
  } else {
    Zoombutton_->setVisible(true);
    Zoombutton_->setText(QString::number(CurrentEditor()->Zoom()) + QLatin1Char('%'));
    // The recipient page may have changed what the merge fields show.
    CurrentEditor()->Repaint();
  }
}

void TFaxEditor::CoverButtonClick() { ShowPage(kCoverPage); }
void TFaxEditor::DocumentButtonClick() { ShowPage(kDocumentPage); }
void TFaxEditor::RecipientButtonClick() { ShowPage(kRecipientPage); }

ui::TQvRichEdit* TFaxEditor::CurrentEditor() const {
  return DocumentButton_->isChecked() ? RTDoc_ : RTCover_;
}

void TFaxEditor::ZoombuttonClick() {
  ZoomMenu_->popup(Zoombutton_->mapToGlobal(Zoombutton_->rect().bottomLeft()));
}

void TFaxEditor::ZoomMenuPopup() {
  const int zoom = CurrentEditor()->Zoom();
  for (QAction* item : ZoomMenu_->actions()) {
    item->setChecked(item->property(kTagProperty).toInt() == zoom);
  }
}

void TFaxEditor::ZoomItemClick(QAction* item) {
  const int percent = item->property(kTagProperty).toInt();
  CurrentEditor()->SetZoom(percent);
  Zoombutton_->setText(QString::number(percent) + QLatin1Char('%'));
}

void TFaxEditor::PageBreakClick(ui::TQvRichEdit* editor) {
  if (!Dialogs().Question(this, QString::fromLatin1(kPageBreakCaption),
                          QString::fromLatin1(kPageBreakQuestion), false)) {
    return;
  }
  rtf::ParaFormat para = editor->CurrentParagraph();
  para.pageBreakBefore = true;
  editor->SetCurrentParagraph(para);
  editor->Reformat();
}

void TFaxEditor::WordWrapClick(ui::TQvRichEdit* editor, QToolButton* button) {
  editor->SetWordWrap(!editor->WordWrap());
  UpdateWordWrapButton(editor, button);
  editor->Repaint();
}

void TFaxEditor::UpdateWordWrapButton(ui::TQvRichEdit* editor, QToolButton* button) {
  const bool on = editor->WordWrap();
  button->setChecked(on);
  button->setToolTip(QString::fromLatin1(on ? kWordWrapOffHint : kWordWrapOnHint));
  button->setAccessibleDescription(button->toolTip());
}

void TFaxEditor::ParagraphSetupClick(ui::TQvRichEdit* editor) {
  TParagraphPropDlg dialog(editor, this);
  dialog.adjustSize();
  CenterOver(&dialog, mainWindow_);
  Dialogs().Exec(&dialog);
}

void TFaxEditor::DefFontClick() { ChooseDefaultFont(this, iniFile_); }

void TFaxEditor::SpellCheck(ui::TQvRichEdit* editor) {
  RunSpellCheck(editor, dataDir_.toStdString(), mainWindow_);
}

void TFaxEditor::HelpbuttonClick() { emit HelpRequested(kFaxEditorHelpTopic); }

void TFaxEditor::SetFaxStore(TFaxStore* store) {
  store_ = store;
  AddressButton_->setVisible(store != nullptr);
  loadCoverAction_->setVisible(store != nullptr);
}

void TFaxEditor::AddressButtonClick() {
  if (!store_) return;
  QString name, number;
  if (!RunPhoneBook(*store_, mainWindow_, true, &name, &number)) return;
  Recipient_->setText(name);
  FaxNumber_->setText(number);
}

void TFaxEditor::LoadCoverButtonClick() {
  if (!store_) return;
  RunCoverBrowse(*store_, mainWindow_, true, [this](TablePair& cover) {
    TRichEditMemo memo(*RTCover_);
    store_->LoadRichText(memo, "COVER", cover);
    if (!memo.LoadError().isEmpty()) {
      Dialogs().Error(this, QStringLiteral("The text of this template cannot be read: ") + memo.LoadError());
    }
    RTCover_->Reformat();
    RTCover_->SetCaretToStart();
    RTCover_->Repaint();
  });
}

void TFaxEditor::ApplyDefaultFont(const TSettings& settings) {
  qv::app::ApplyDefaultFont(*RTCover_, settings);
  qv::app::ApplyDefaultFont(*RTDoc_, settings);
}

const QString& TFaxEditor::MergeFieldValue(int kind) {
  switch (kind) {
    case kFieldRecipient: fieldValue_ = Recipient_->text(); break;
    case kFieldFaxNumber: fieldValue_ = FaxNumber_->text(); break;
    case kFieldSubject: fieldValue_ = Subject_->text(); break;
    case kFieldDate:
      fieldValue_ = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
      break;
    case kFieldTime:
      fieldValue_ = QLocale::system().toString(QTime::currentTime(), QLocale::ShortFormat);
      break;
    default: fieldValue_.clear(); break;
  }
  fieldValue_.truncate(ui::kMaxMergeFieldLength);
  return fieldValue_;
}

}  // namespace qv::app
