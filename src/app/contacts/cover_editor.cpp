#include "app/contacts/cover_editor.h"

#include "app/forms/dialog_service.h"
#include "app/editor/editor_commands.h"
#include "app/editor/fax_editor.h"
#include "app/editor/field_limit.h"
#include "app/contacts/phone_book_editor.h"
#include "app/forms/placement.h"
#include "app/store/settings.h"
#include "app/editor/spell_check_dialog.h"
#include "ui/rich_edit.h"

#include <QAction>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace qv::app {

namespace {

const char* const kFormClass = "TCoverEditor";
const char* const kSaveChangesText = "Save changes to this cover sheet template?";

struct InsertItem {
  const char* caption;
  const char* match;  // the caption compared without regard to case
  int kind;
  const char* placeholder;
};
constexpr InsertItem kInsertItems[] = {
    {"Recipient", "RECIPIENT", kFieldRecipient, "[RECIPIENT]"},
    {"Fax Number", "FAX NUMBER", kFieldFaxNumber, "[FAX#]"},
    {"Subject", "SUBJECT", kFieldSubject, "[SUBJECT]"},
    {"Date", "DATE", kFieldDate, "[DATE]"},
    {"Time", "TIME", kFieldTime, "[TIME]"},
};

}  // namespace

TCoverEditor::TCoverEditor(const QString& dataDir, QWidget* mainWindow)
    : QDialog(mainWindow),
      dataDir_(dataDir),
      iniFile_(SettingsFileName(dataDir.toStdString())),
      mainWindow_(mainWindow) {
  setObjectName(QStringLiteral("CoverEditor"));
  setWindowTitle(QStringLiteral("Cover Sheet Template Editor"));
  setAccessibleName(windowTitle());
  setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint | Qt::WindowSystemMenuHint);
  setSizeGripEnabled(true);

  CoverDescription_ = new QLineEdit(this);
  CoverDescription_->setObjectName(QStringLiteral("CoverDescription"));
  const QString hint = QStringLiteral("Enter a description for this cover sheet template here");
  CoverDescription_->setToolTip(hint);
  CoverDescription_->setPlaceholderText(hint);
  CoverDescription_->setAccessibleName(hint);
  LimitToField(CoverDescription_, kCoverDescriptionWidth);

  RTCover_ = new ui::TQvRichEdit(this);
  RTCover_->setObjectName(QStringLiteral("RTCover"));
  RTCover_->setAccessibleName(QStringLiteral("Cover sheet template"));
  connect(RTCover_, &ui::TQvRichEdit::SpellCheckRequested, this, &TCoverEditor::SpellCheck);
  RTToolBar1_ = RTCover_->ToolBar();
  RTToolBar1_->setObjectName(QStringLiteral("RTToolBar1"));
  RTToolBar1_->setAccessibleName(QStringLiteral("Template formatting"));

  InsertButton_ = MakeEditorButton(this, "InsertButton", QStringLiteral("&Insert"), QStringLiteral("Insert a merge field"));
  InsertMenu_ = new QMenu(this);
  InsertMenu_->setObjectName(QStringLiteral("InsertMenu"));
  InsertMenu_->setAccessibleName(QStringLiteral("Insert"));
  for (const InsertItem& item : kInsertItems) InsertMenu_->addAction(QString::fromLatin1(item.caption));
  connect(InsertMenu_, &QMenu::triggered, this, &TCoverEditor::InsertItemClick);
  connect(InsertButton_, &QToolButton::clicked, this, &TCoverEditor::InsertButtonClick);

  zoom_ = new TZoomControl(this, [this] { return RTCover_; });

  // The editing commands and Insert on the editor's second row, under the formatting buttons.
  commands_ = new TEditorCommands(RTCover_, {"PageBreakButton", "ParagraphButton", "WordWrapButton", "DefFontButton"},
                                  this, mainWindow_, iniFile_);
  commands_->Bar()->setObjectName(QStringLiteral("RTToolBar2"));
  commands_->Bar()->setAccessibleName(QStringLiteral("Template commands"));
  commands_->Bar()->addWidget(InsertButton_);

  auto button = [this](const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
    b->setAutoDefault(false);  // Enter belongs to the editor
    return b;
  };
  QPushButton* ok = button("OKbutton", QStringLiteral("&Accept"));
  QPushButton* cancel = button("CancelButton", QStringLiteral("Cance&l"));
  QPushButton* help = button("HelpButton", QStringLiteral("&Help"));
  connect(ok, &QPushButton::clicked, this, [this] { done(kModalAccept); });
  connect(cancel, &QPushButton::clicked, this, [this] { done(kModalCancel); });
  connect(help, &QPushButton::clicked, this, [this] { emit HelpRequested(kCoverEditorHelpTopic); });

  auto* descriptionLabel = new QLabel(QStringLiteral("&Description:"), this);
  descriptionLabel->setBuddy(CoverDescription_);
  auto* top = new QHBoxLayout;
  top->addWidget(descriptionLabel);
  top->addWidget(CoverDescription_, 1);
  top->addWidget(zoom_->Button());
  auto* bottom = new QHBoxLayout;
  bottom->addStretch();
  bottom->addWidget(ok);
  bottom->addWidget(cancel);
  bottom->addWidget(help);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(RTCover_, 1);
  layout->addLayout(bottom);
  resize(760, 640);
  RestorePlacement(this, QString::fromLatin1(kFormClass), iniFile_);
  shownContent_ = ContentSnapshot();
}

TCoverEditor::~TCoverEditor() = default;

void TCoverEditor::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (activated_) return;
  activated_ = true;
  PrepareFaxPage(RTCover_);
  zoom_->ShowZoom();
  shownContent_ = ContentSnapshot();
}

std::string TCoverEditor::ContentSnapshot() const {
  return CoverDescription_->text().toStdString() + '\n' + RTCover_->SaveRtf();
}

bool TCoverEditor::IsModified() const { return ContentSnapshot() != shownContent_; }

void TCoverEditor::done(int result) {
  const std::optional<int> closing =
      AskBeforeLosingChanges(this, QString::fromLatin1(kSaveChangesText), IsModified(), result);
  if (!closing) return;
  result = *closing;
  if (result == kModalAccept && storeHandler_ && !storeHandler_()) return;
  SavePlacement(this, QString::fromLatin1(kFormClass), iniFile_);
  QDialog::done(result);
}

void TCoverEditor::InsertButtonClick() {
  InsertMenu_->popup(InsertButton_->mapToGlobal(InsertButton_->rect().bottomLeft()));
}

void TCoverEditor::InsertItemClick(QAction* item) {
  const QString caption = item->text().remove(QLatin1Char('&'));
  for (const InsertItem& entry : kInsertItems) {
    if (caption.compare(QLatin1String(entry.match), Qt::CaseInsensitive) == 0) {
      RTCover_->InsertMergeField(entry.kind, QString::fromLatin1(entry.placeholder));
      return;
    }
  }
}

QMenu* TCoverEditor::ZoomMenu() const { return zoom_->Menu(); }
void TCoverEditor::ZoombuttonClick() { zoom_->ButtonClick(); }
void TCoverEditor::ZoomMenuPopup() { zoom_->MenuPopup(); }
void TCoverEditor::PageBreakClick() { commands_->PageBreakClick(); }

void TCoverEditor::SpellCheck() { RunSpellCheck(RTCover_, dataDir_.toStdString(), mainWindow_); }

}  // namespace qv::app
