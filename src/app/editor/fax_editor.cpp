#include "app/editor/fax_editor.h"

#include "app/contacts/cover_browse.h"
#include "app/editor/default_font.h"
#include "app/forms/dialog_service.h"
#include "app/editor/editor_commands.h"
#include "app/editor/enter_edit.h"
#include "app/editor/field_limit.h"
#include "app/editor/insert_picture.h"
#include "app/store/fax_store.h"
#include "app/contacts/phone_book.h"
#include "app/forms/placement.h"
#include "app/editor/rich_edit_memo.h"
#include "app/store/settings.h"
#include "app/editor/spell_check_dialog.h"
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

#include <algorithm>

namespace qv::app {

namespace {
const char* const kFormClass = "TFaxEditor";
// Widths of the record's fields in bytes, so what the form shows is what gets stored.
constexpr size_t kRecipientWidth = 35;
constexpr size_t kPhoneWidth = 25;
constexpr size_t kSubjectWidth = 50;
const char* const kSaveChangesText = "Save changes to this fax?";

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
  // The page follows the buttons' checked state, not their clicks: a screen reader's Toggle
  // action checks a button without clicking it.
  auto follow = [this](QToolButton* button, void (TFaxEditor::*show)()) {
    connect(button, &QToolButton::toggled, this, [this, show](bool checked) {
      if (checked) (this->*show)();
    });
  };
  follow(CoverButton_, &TFaxEditor::CoverButtonClick);
  follow(DocumentButton_, &TFaxEditor::DocumentButtonClick);
  follow(RecipientButton_, &TFaxEditor::RecipientButtonClick);

  zoom_ = new TZoomControl(this, [this] { return CurrentEditor(); });
  Zoombutton_ = zoom_->Button();

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
  shownContent_ = ContentSnapshot();
}

TFaxEditor::~TFaxEditor() = default;

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

  // The same four commands on both pages, under each page's own control names, on the editor's
  // second row: with the formatting buttons on one row they would not all fit the form's width.
  const EditorButtonNames names =
      cover ? EditorButtonNames{"CoverDocPageBreakButton", "CoverParagraphSetupbutton", "CoverDocWordWrapButton",
                                "CoverDefFontbutton"}
            : EditorButtonNames{"DocPageBreakButton", "ParagraphSetupButton", "DocWordWrapButton",
                                "DocDefFontbutton"};
  auto* commands = new TEditorCommands(editor, names, this, mainWindow_, iniFile_);
  commands->Bar()->setObjectName(cover ? QStringLiteral("CoverCommandBar") : QStringLiteral("DocCommandBar"));
  commands->Bar()->setAccessibleName(cover ? QStringLiteral("Cover sheet commands")
                                           : QStringLiteral("Document commands"));
  (cover ? coverCommands_ : docCommands_) = commands;
  ConnectPictureImport(this, editor);
  return page;
}

QWidget* TFaxEditor::BuildRecipientPage() {
  auto* page = new QWidget(this);
  page->setObjectName(QStringLiteral("RecipientPage"));
  page->setAccessibleName(QStringLiteral("Recipient"));
  auto field = [page](const char* name, const QString& hint, size_t width) {
    auto* edit = new TEnterEdit(page);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setToolTip(hint);
    edit->setPlaceholderText(hint);
    edit->setAccessibleName(hint);
    LimitToField(edit, width);
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

  AddRecipientsButton_ = new QToolButton(page);
  Name(AddRecipientsButton_, "AddRecipientsButton", QStringLiteral("&Add recipients"));
  AddRecipientsButton_->setText(QStringLiteral("&Add recipients"));
  AddRecipientsButton_->setToolTip(QStringLiteral("Send this fax to several people of the phone book: one fax each, queued"));
  AddRecipientsButton_->setVisible(false);
  connect(AddRecipientsButton_, &QToolButton::clicked, this, &TFaxEditor::AddRecipientsButtonClick);
  RecipientsList_ = new QLabel(page);
  RecipientsList_->setObjectName(QStringLiteral("RecipientsList"));
  RecipientsList_->setWordWrap(true);
  RecipientsList_->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
  RecipientsList_->setVisible(false);

  auto* form = new QFormLayout;
  auto label = [page](const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text, page);
    l->setBuddy(buddy);
    return l;
  };
  auto* recipientRow = new QHBoxLayout;
  recipientRow->addWidget(Recipient_, 1);
  recipientRow->addWidget(AddressButton_);
  recipientRow->addWidget(AddRecipientsButton_);
  form->addRow(label(QStringLiteral("Recipient:"), Recipient_), recipientRow);
  form->addRow(label(QStringLiteral("Fax Number:"), FaxNumber_), FaxNumber_);
  form->addRow(label(QStringLiteral("Subject:"), Subject_), Subject_);
  form->addRow(RecipientsList_);
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(form);
  layout->addStretch();
  return page;
}

void TFaxEditor::FormCreate() {
  LoadCoverButton_ = MakeEditorButton(this, "LoadCoverButton", QStringLiteral("Load Template"),
                                      QStringLiteral("Load Template"));
  loadCoverAction_ = coverCommands_->Bar()->addWidget(LoadCoverButton_);
  loadCoverAction_->setVisible(false);  // until there are templates to choose from
  connect(LoadCoverButton_, &QToolButton::clicked, this, &TFaxEditor::LoadCoverButtonClick);
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
  for (ui::TQvRichEdit* editor : {RTCover_, RTDoc_}) PrepareFaxPage(editor);
  Recipient_->setFocus();
  shownContent_ = ContentSnapshot();
}

std::string TFaxEditor::ContentSnapshot() const {
  std::string all;
  for (const TEnterEdit* edit : {Recipient_, FaxNumber_, Subject_}) all += edit->text().toStdString() + '\n';
  return all + RTCover_->SaveRtf() + '\n' + RTDoc_->SaveRtf();
}

bool TFaxEditor::IsModified() const { return ContentSnapshot() != shownContent_; }

void TFaxEditor::done(int result) {
  const std::optional<int> closing =
      AskBeforeLosingChanges(this, QString::fromLatin1(kSaveChangesText), IsModified(), result);
  if (!closing) return;
  result = *closing;
  if (result == Accepted && storeHandler_ && !storeHandler_()) return;
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
    zoom_->ShowZoom();
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

QMenu* TFaxEditor::ZoomMenu() const { return zoom_->Menu(); }
void TFaxEditor::ZoombuttonClick() { zoom_->ButtonClick(); }
void TFaxEditor::ZoomMenuPopup() { zoom_->MenuPopup(); }

void TFaxEditor::SpellCheck(ui::TQvRichEdit* editor) {
  RunSpellCheck(editor, dataDir_.toStdString(), mainWindow_);
}

void TFaxEditor::HelpbuttonClick() { emit HelpRequested(kFaxEditorHelpTopic); }

void TFaxEditor::SetFaxStore(TFaxStore* store) {
  store_ = store;
  AddressButton_->setVisible(store != nullptr);
  AddRecipientsButton_->setVisible(store != nullptr);
  loadCoverAction_->setVisible(store != nullptr);
}

void TFaxEditor::AddressButtonClick() {
  if (!store_) return;
  QString name, number;
  if (!RunPhoneBook(*store_, mainWindow_, true, &name, &number)) return;
  Recipient_->setText(name);
  FaxNumber_->setText(number);
}

void TFaxEditor::AddRecipientsButtonClick() {
  if (!store_) return;
  std::vector<TPhoneEntry> chosen;
  if (!RunPhoneBookMany(*store_, mainWindow_, chosen)) return;
  std::vector<TPhoneEntry> all = recipients_;
  for (TPhoneEntry& e : chosen)
    if (std::find(all.begin(), all.end(), e) == all.end()) all.push_back(std::move(e));
  SetRecipients(std::move(all));
}

void TFaxEditor::SetRecipients(std::vector<TPhoneEntry> recipients) {
  recipients_ = std::move(recipients);
  QStringList names;
  for (const TPhoneEntry& e : recipients_) names << e.name + QStringLiteral(" (") + e.number + QLatin1Char(')');
  RecipientsList_->setText(recipients_.empty() ? QString()
                                               : QStringLiteral("Also to, one fax each, queued: ") + names.join(QStringLiteral("; ")));
  RecipientsList_->setAccessibleName(RecipientsList_->text());
  RecipientsList_->setVisible(!recipients_.empty());
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
