#include "ui/find_replace_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>

namespace qv::ui {

namespace {
void name(QWidget* w, const char* objectName, const QString& accessible) {
  w->setObjectName(QString::fromLatin1(objectName));
  w->setAccessibleName(accessible);
}
}  // namespace

TFindReplaceDialog::TFindReplaceDialog(QTextEdit* edit, bool replaceMode, QWidget* parent)
    : QDialog(parent), edit_(edit) {
  setObjectName(replaceMode ? "ReplaceDialog" : "FindDialog");
  setWindowTitle(replaceMode ? tr("Replace") : tr("Find"));
  auto* form = new QFormLayout;
  find_ = new QLineEdit(this);
  name(find_, "FindText", tr("Find what:"));
  form->addRow(tr("Fi&nd what:"), find_);
  replace_ = new QLineEdit(this);
  name(replace_, "ReplaceText", tr("Replace with:"));
  if (replaceMode) form->addRow(tr("Re&place with:"), replace_);
  else replace_->hide();
  matchCase_ = new QCheckBox(tr("Match &case"), this);
  name(matchCase_, "MatchCase", tr("Match case"));
  wholeWord_ = new QCheckBox(tr("Match &whole word only"), this);
  name(wholeWord_, "WholeWord", tr("Match whole word only"));
  status_ = new QLabel(this);
  name(status_, "FindStatus", tr("Search result"));

  auto* buttons = new QDialogButtonBox(this);
  auto* next = buttons->addButton(tr("&Find Next"), QDialogButtonBox::ActionRole);
  name(next, "FindNextButton", tr("Find Next"));
  next->setDefault(true);
  connect(next, &QPushButton::clicked, this, [this] { FindNext(); });
  if (replaceMode) {
    auto* one = buttons->addButton(tr("&Replace"), QDialogButtonBox::ActionRole);
    name(one, "ReplaceButton", tr("Replace"));
    connect(one, &QPushButton::clicked, this, [this] { ReplaceOne(); });
    auto* all = buttons->addButton(tr("Replace &All"), QDialogButtonBox::ActionRole);
    name(all, "ReplaceAllButton", tr("Replace All"));
    connect(all, &QPushButton::clicked, this, [this] { ReplaceAll(); });
  }
  auto* close = buttons->addButton(QDialogButtonBox::Close);
  name(close, "CloseButton", tr("Close"));
  connect(close, &QPushButton::clicked, this, &QDialog::reject);

  auto* box = new QVBoxLayout(this);
  box->addLayout(form);
  box->addWidget(matchCase_);
  box->addWidget(wholeWord_);
  box->addWidget(status_);
  box->addWidget(buttons);
}

void TFindReplaceDialog::SetFindText(const QString& text) { find_->setText(text); }

bool TFindReplaceDialog::FindNext() {
  status_->clear();
  if (find_->text().isEmpty()) return false;
  QTextDocument::FindFlags flags;
  if (matchCase_->isChecked()) flags |= QTextDocument::FindCaseSensitively;
  if (wholeWord_->isChecked()) flags |= QTextDocument::FindWholeWords;
  QTextDocument* doc = edit_->document();
  QTextCursor hit = doc->find(find_->text(), edit_->textCursor(), flags);
  if (hit.isNull()) hit = doc->find(find_->text(), 0, flags);  // wrap once
  if (hit.isNull()) {
    status_->setText(tr("\"%1\" was not found.").arg(find_->text()));
    return false;
  }
  edit_->setTextCursor(hit);
  edit_->ensureCursorVisible();
  return true;
}

bool TFindReplaceDialog::selectionMatches() const {
  QString sel = edit_->textCursor().selectedText();
  if (sel.isEmpty()) return false;
  return sel.compare(find_->text(), matchCase_->isChecked() ? Qt::CaseSensitive
                                                            : Qt::CaseInsensitive) == 0;
}

bool TFindReplaceDialog::ReplaceOne() {
  if (selectionMatches()) edit_->textCursor().insertText(replace_->text());
  return FindNext();
}

int TFindReplaceDialog::ReplaceAll() {
  status_->clear();
  if (find_->text().isEmpty()) return 0;
  QTextDocument::FindFlags flags;
  if (matchCase_->isChecked()) flags |= QTextDocument::FindCaseSensitively;
  if (wholeWord_->isChecked()) flags |= QTextDocument::FindWholeWords;
  QTextDocument* doc = edit_->document();
  QTextCursor edit(doc);
  edit.beginEditBlock();
  int count = 0;
  QTextCursor hit = doc->find(find_->text(), 0, flags);
  while (!hit.isNull()) {
    hit.insertText(replace_->text());
    ++count;
    hit = doc->find(find_->text(), hit, flags);  // continues after the replacement
  }
  edit.endEditBlock();
  status_->setText(tr("%1 replaced.").arg(count));
  return count;
}

}  // namespace qv::ui
