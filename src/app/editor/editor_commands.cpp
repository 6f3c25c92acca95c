#include "app/editor/editor_commands.h"

#include "app/editor/default_font.h"
#include "app/forms/dialog_service.h"
#include "app/editor/fax_editor.h"
#include "app/editor/paragraph_dialog.h"
#include "app/forms/placement.h"
#include "ui/rich_edit.h"

#include <QAction>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>

namespace qv::app {

namespace {
constexpr int kZoomLevels[] = {70, 80, 100};
const char* const kTagProperty = "tag";

QString Percent(int percent) { return QString::number(percent) + QLatin1Char('%'); }
}  // namespace

QToolButton* MakeEditorButton(QWidget* parent, const char* name, const QString& caption, const QString& hint) {
  auto* b = new QToolButton(parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setText(caption);
  b->setToolTip(hint);
  b->setAccessibleName(QString(hint).remove(QLatin1Char('&')));
  b->setAutoRaise(true);
  b->setToolButtonStyle(Qt::ToolButtonTextOnly);
  return b;
}

void PrepareFaxPage(ui::TQvRichEdit* editor) {
  editor->SetPageSize(kFaxPageWidth, kFaxPageHeight);
  editor->SetMargins(kFaxPageMargin, kFaxPageMargin, kFaxPageMargin, kFaxPageMargin);
  editor->Reformat();
  editor->SetCaretToStart();
  editor->Repaint();
}

TEditorCommands::TEditorCommands(ui::TQvRichEdit* editor, const EditorButtonNames& names, QWidget* form,
                                 QWidget* mainWindow, std::string iniFile)
    : QObject(form), editor_(editor), form_(form), mainWindow_(mainWindow), iniFile_(std::move(iniFile)) {
  bar_ = editor->CommandBar();
  pageBreak_ = MakeEditorButton(form, names.pageBreak, QStringLiteral("Page Break"), QStringLiteral("Insert Page Break"));
  paragraph_ =
      MakeEditorButton(form, names.paragraph, QStringLiteral("Paragraph"), QStringLiteral("Paragraph properties"));
  wordWrap_ =
      MakeEditorButton(form, names.wordWrap, QStringLiteral("Word Wrap"), QString::fromLatin1(kWordWrapOnHint));
  wordWrap_->setCheckable(true);
  defaultFont_ = MakeEditorButton(form, names.defaultFont, QStringLiteral("Default Font"),
                                  QStringLiteral("Set the default font for the editor"));
  for (QToolButton* b : {pageBreak_, paragraph_, wordWrap_, defaultFont_}) bar_->addWidget(b);
  connect(pageBreak_, &QToolButton::clicked, this, &TEditorCommands::PageBreakClick);
  connect(paragraph_, &QToolButton::clicked, this, &TEditorCommands::ParagraphClick);
  connect(wordWrap_, &QToolButton::clicked, this, &TEditorCommands::WordWrapClick);
  connect(defaultFont_, &QToolButton::clicked, this, &TEditorCommands::DefFontClick);
  UpdateWordWrapButton();
}

void TEditorCommands::PageBreakClick() {
  if (!Dialogs().Question(form_, QString::fromLatin1(kPageBreakCaption), QString::fromLatin1(kPageBreakQuestion),
                          false)) {
    return;
  }
  rtf::ParaFormat para = editor_->CurrentParagraph();
  para.pageBreakBefore = true;
  editor_->SetCurrentParagraph(para);
  editor_->Reformat();
}

void TEditorCommands::ParagraphClick() {
  TParagraphPropDlg dialog(editor_, form_);
  dialog.adjustSize();
  CenterOver(&dialog, mainWindow_);
  Dialogs().Exec(&dialog);
}

void TEditorCommands::WordWrapClick() {
  editor_->SetWordWrap(!editor_->WordWrap());
  UpdateWordWrapButton();
  editor_->Repaint();
}

void TEditorCommands::UpdateWordWrapButton() {
  const bool on = editor_->WordWrap();
  wordWrap_->setChecked(on);
  wordWrap_->setToolTip(QString::fromLatin1(on ? kWordWrapOffHint : kWordWrapOnHint));
  wordWrap_->setAccessibleDescription(wordWrap_->toolTip());
}

void TEditorCommands::DefFontClick() { ChooseDefaultFont(form_, iniFile_); }

TZoomControl::TZoomControl(QWidget* form, std::function<ui::TQvRichEdit*()> editor)
    : QObject(form), editor_(std::move(editor)) {
  button_ = MakeEditorButton(form, "Zoombutton", Percent(100), QStringLiteral("Zoom"));
  button_->setAutoRaise(false);
  menu_ = new QMenu(form);
  menu_->setObjectName(QStringLiteral("ZoomMenu"));
  menu_->setAccessibleName(QStringLiteral("Zoom"));
  for (int percent : kZoomLevels) {
    QAction* item = menu_->addAction(Percent(percent));
    item->setObjectName(QStringLiteral("Zoom%1").arg(percent));
    item->setProperty(kTagProperty, percent);
    item->setCheckable(true);
  }
  connect(menu_, &QMenu::aboutToShow, this, &TZoomControl::MenuPopup);
  connect(menu_, &QMenu::triggered, this, &TZoomControl::ItemClick);
  connect(button_, &QToolButton::clicked, this, &TZoomControl::ButtonClick);
}

void TZoomControl::ButtonClick() { menu_->popup(button_->mapToGlobal(button_->rect().bottomLeft())); }

void TZoomControl::MenuPopup() {
  const int zoom = editor_()->Zoom();
  for (QAction* item : menu_->actions()) item->setChecked(item->property(kTagProperty).toInt() == zoom);
}

void TZoomControl::ShowZoom() { button_->setText(Percent(editor_()->Zoom())); }

void TZoomControl::ItemClick(QAction* item) {
  editor_()->SetZoom(item->property(kTagProperty).toInt());
  ShowZoom();
}

}  // namespace qv::app
