#include "app/cover_editor.h"

#include "app/default_font.h"
#include "app/dialog_service.h"
#include "app/fax_editor.h"
#include "app/paragraph_dialog.h"
#include "app/phone_book_editor.h"
#include "app/placement.h"
#include "app/settings.h"
#include "app/spell_check_dialog.h"
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
const char* const kTagProperty = "tag";
constexpr int kZoomLevels[] = {70, 80, 100};

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
  CoverDescription_->setMaxLength(kCoverDescriptionWidth);

  RTCover_ = new ui::TQvRichEdit(this);
  RTCover_->setObjectName(QStringLiteral("RTCover"));
  RTCover_->setAccessibleName(QStringLiteral("Cover sheet template"));
  connect(RTCover_, &ui::TQvRichEdit::SpellCheckRequested, this, &TCoverEditor::SpellCheck);
  RTToolBar1_ = RTCover_->ToolBar();
  RTToolBar1_->setObjectName(QStringLiteral("RTToolBar1"));
  RTToolBar1_->setAccessibleName(QStringLiteral("Template formatting"));

  InsertButton_ = ToolButton("InsertButton", QStringLiteral("&Insert"), QStringLiteral("Insert a merge field"));
  InsertMenu_ = new QMenu(this);
  InsertMenu_->setObjectName(QStringLiteral("InsertMenu"));
  InsertMenu_->setAccessibleName(QStringLiteral("Insert"));
  for (const InsertItem& item : kInsertItems) InsertMenu_->addAction(QString::fromLatin1(item.caption));
  connect(InsertMenu_, &QMenu::triggered, this, &TCoverEditor::InsertItemClick);
  connect(InsertButton_, &QToolButton::clicked, this, &TCoverEditor::InsertButtonClick);

  Zoombutton_ = ToolButton("Zoombutton", QStringLiteral("100%"), QStringLiteral("Zoom"));
  ZoomMenu_ = new QMenu(this);
  ZoomMenu_->setObjectName(QStringLiteral("ZoomMenu"));
  ZoomMenu_->setAccessibleName(QStringLiteral("Zoom"));
  for (int percent : kZoomLevels) {
    QAction* item = ZoomMenu_->addAction(QString::number(percent) + QLatin1Char('%'));
    item->setObjectName(QStringLiteral("Zoom%1").arg(percent));
    item->setProperty(kTagProperty, percent);
    item->setCheckable(true);
  }
  connect(ZoomMenu_, &QMenu::aboutToShow, this, &TCoverEditor::ZoomMenuPopup);
  connect(ZoomMenu_, &QMenu::triggered, this, &TCoverEditor::ZoomItemClick);
  connect(Zoombutton_, &QToolButton::clicked, this, &TCoverEditor::ZoombuttonClick);

  PageBreakButton_ = ToolButton("PageBreakButton", QStringLiteral("Page Break"), QStringLiteral("Insert Page Break"));
  ParagraphButton_ =
      ToolButton("ParagraphButton", QStringLiteral("Paragraph"), QStringLiteral("Paragraph properties"));
  WordWrapButton_ =
      ToolButton("WordWrapButton", QStringLiteral("Word Wrap"), QString::fromLatin1(kWordWrapOnHint));
  WordWrapButton_->setCheckable(true);
  DefFontButton_ = ToolButton("DefFontButton", QStringLiteral("Default Font"),
                              QStringLiteral("Set the default font for the editor"));
  connect(PageBreakButton_, &QToolButton::clicked, this, &TCoverEditor::PageBreakClick);
  connect(ParagraphButton_, &QToolButton::clicked, this, &TCoverEditor::ParagraphClick);
  connect(WordWrapButton_, &QToolButton::clicked, this, &TCoverEditor::WordWrapClick);
  connect(DefFontButton_, &QToolButton::clicked, this, &TCoverEditor::DefFontClick);
  // The editing buttons join the editor's own tool bar.
  for (QToolButton* b : {PageBreakButton_, ParagraphButton_, WordWrapButton_, DefFontButton_, InsertButton_})
    RTToolBar1_->addWidget(b);
  UpdateWordWrapButton();

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
  top->addWidget(Zoombutton_);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch();
  bottom->addWidget(ok);
  bottom->addWidget(cancel);
  bottom->addWidget(help);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  if (!RTCover_->isAncestorOf(RTToolBar1_)) layout->addWidget(RTToolBar1_);
  layout->addWidget(RTCover_, 1);
  layout->addLayout(bottom);
  resize(760, 640);
  RestorePlacement(this, QString::fromLatin1(kFormClass), iniFile_);
}

TCoverEditor::~TCoverEditor() = default;

QToolButton* TCoverEditor::ToolButton(const char* name, const QString& caption, const QString& hint) {
  auto* b = new QToolButton(this);
  b->setObjectName(QString::fromLatin1(name));
  b->setText(caption);
  b->setToolTip(hint);
  b->setAccessibleName(QString(hint).remove(QLatin1Char('&')));
  b->setAutoRaise(true);
  b->setToolButtonStyle(Qt::ToolButtonTextOnly);
  return b;
}

void TCoverEditor::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (activated_) return;
  activated_ = true;
  RTCover_->SetPageSize(kFaxPageWidth, kFaxPageHeight);
  RTCover_->SetMargins(kFaxPageMargin, kFaxPageMargin, kFaxPageMargin, kFaxPageMargin);
  RTCover_->Reformat();
  RTCover_->SetCaretToStart();
  RTCover_->Repaint();
  Zoombutton_->setText(QString::number(RTCover_->Zoom()) + QLatin1Char('%'));
}

void TCoverEditor::done(int result) {
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

void TCoverEditor::ZoombuttonClick() {
  ZoomMenu_->popup(Zoombutton_->mapToGlobal(Zoombutton_->rect().bottomLeft()));
}

void TCoverEditor::ZoomMenuPopup() {
  const int zoom = RTCover_->Zoom();
  for (QAction* item : ZoomMenu_->actions()) item->setChecked(item->property(kTagProperty).toInt() == zoom);
}

void TCoverEditor::ZoomItemClick(QAction* item) {
  const int percent = item->property(kTagProperty).toInt();
  RTCover_->SetZoom(percent);
  Zoombutton_->setText(QString::number(percent) + QLatin1Char('%'));
}

void TCoverEditor::PageBreakClick() {
  if (!Dialogs().Question(this, QString::fromLatin1(kPageBreakCaption), QString::fromLatin1(kPageBreakQuestion),
                          false)) {
    return;
  }
  rtf::ParaFormat para = RTCover_->CurrentParagraph();
  para.pageBreakBefore = true;
  RTCover_->SetCurrentParagraph(para);
  RTCover_->Reformat();
}

void TCoverEditor::WordWrapClick() {
  RTCover_->SetWordWrap(!RTCover_->WordWrap());
  UpdateWordWrapButton();
  RTCover_->Repaint();
}

void TCoverEditor::UpdateWordWrapButton() {
  const bool on = RTCover_->WordWrap();
  WordWrapButton_->setChecked(on);
  WordWrapButton_->setToolTip(QString::fromLatin1(on ? kWordWrapOffHint : kWordWrapOnHint));
  WordWrapButton_->setAccessibleDescription(WordWrapButton_->toolTip());
}

void TCoverEditor::ParagraphClick() {
  TParagraphPropDlg dialog(RTCover_, this);
  dialog.adjustSize();
  CenterOver(&dialog, mainWindow_);
  Dialogs().Exec(&dialog);
}

void TCoverEditor::DefFontClick() { ChooseDefaultFont(this, iniFile_); }

void TCoverEditor::SpellCheck() { RunSpellCheck(RTCover_, dataDir_.toStdString(), mainWindow_); }

}  // namespace qv::app
