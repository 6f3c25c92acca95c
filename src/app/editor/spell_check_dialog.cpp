#include "app/editor/spell_check_dialog.h"

#include "app/forms/dialog_service.h"
#include "app/forms/placement.h"
#include "app/editor/spell_dictionary.h"
#include "ui/rich_document.h"
#include "ui/rich_edit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>

namespace qv::app {

namespace {
bool IsWordChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('\'') || c == QChar(0x2019); }
bool IsApostrophe(QChar c) { return c == QLatin1Char('\'') || c == QChar(0x2019); }

// Finds the next word at or after `from`: a run of letters, digits and inner apostrophes.
// Words holding a digit (numbers, part codes) are not checked.
bool NextWord(const QString& text, int from, int* start, int* length) {
  int i = from;
  const int n = static_cast<int>(text.size());
  while (i < n) {
    while (i < n && !IsWordChar(text[i])) ++i;
    int s = i;
    while (i < n && IsWordChar(text[i])) ++i;
    int e = i;
    while (s < e && IsApostrophe(text[s])) ++s;
    while (e > s && IsApostrophe(text[e - 1])) --e;
    if (e <= s) continue;
    bool digit = false;
    for (int k = s; k < e && !digit; ++k) digit = text[k].isDigit();
    if (digit) continue;
    *start = s;
    *length = e - s;
    return true;
  }
  return false;
}
}  // namespace

TSpellCheckDialog::TSpellCheckDialog(ui::TQvRichEdit* editor,
                                     std::unique_ptr<TSpellDictionary> dictionary, QWidget* parent)
    : QDialog(parent), editor_(editor), dictionary_(std::move(dictionary)) {
  setObjectName(QStringLiteral("SpellCheckDialog"));
  setWindowTitle(QStringLiteral("Spell Check"));
  setAccessibleName(windowTitle());

  auto* wordLabel = new QLabel(QStringLiteral("Possible spelling error"), this);
  WordEdit_ = new QLineEdit(this);
  WordEdit_->setObjectName(QStringLiteral("WordEdit"));
  WordEdit_->setReadOnly(true);
  WordEdit_->setAccessibleName(wordLabel->text());
  wordLabel->setBuddy(WordEdit_);

  auto* listLabel = new QLabel(QStringLiteral("Possible replacements"), this);
  SuggestionList_ = new QListWidget(this);
  SuggestionList_->setObjectName(QStringLiteral("SuggestionList"));
  SuggestionList_->setAccessibleName(listLabel->text());
  listLabel->setBuddy(SuggestionList_);

  auto* replaceLabel = new QLabel(QStringLiteral("Replace with"), this);
  ReplaceEdit_ = new QLineEdit(this);
  ReplaceEdit_->setObjectName(QStringLiteral("ReplaceEdit"));
  ReplaceEdit_->setAccessibleName(replaceLabel->text());
  replaceLabel->setBuddy(ReplaceEdit_);

  auto button = [this](const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAccessibleName(QString(caption).remove(QLatin1Char('&')).trimmed());
    b->setAutoDefault(false);
    return b;
  };
  ReplaceButton_ = button("ReplaceButton", QStringLiteral("Replace "));
  ReplaceButton_->setDefault(true);
  SkipButton_ = button("SkipButton", QStringLiteral("&Skip Word"));
  AddButton_ = button("AddButton", QStringLiteral("&Add Word"));
  CancelButton_ = button("CancelButton", QStringLiteral("Cancel"));
  AddButton_->setEnabled(dictionary_->UserWritable());

  connect(SuggestionList_, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { ReplaceEdit_->setText(item->text()); });
  connect(ReplaceButton_, &QPushButton::clicked, this, &TSpellCheckDialog::ReplaceButtonClick);
  connect(SkipButton_, &QPushButton::clicked, this, &TSpellCheckDialog::SkipButtonClick);
  connect(AddButton_, &QPushButton::clicked, this, &TSpellCheckDialog::AddButtonClick);
  connect(CancelButton_, &QPushButton::clicked, this, &QDialog::reject);

  auto* left = new QVBoxLayout;
  left->addWidget(wordLabel);
  left->addWidget(WordEdit_);
  left->addWidget(listLabel);
  left->addWidget(SuggestionList_);
  left->addWidget(replaceLabel);
  left->addWidget(ReplaceEdit_);
  auto* right = new QVBoxLayout;
  for (QPushButton* b : {ReplaceButton_, SkipButton_, AddButton_, CancelButton_}) right->addWidget(b);
  right->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(right);
}

TSpellCheckDialog::~TSpellCheckDialog() = default;

bool TSpellCheckDialog::FindNext() {
  if (!editor_) return false;
  QTextDocument* doc = editor_->TextEdit()->document();
  const QString text = doc->toPlainText();
  int start = 0;
  int length = 0;
  int from = position_;
  while (NextWord(text, from, &start, &length)) {
    from = start + length;
    const QString word = text.mid(start, length);
    // A merge field's placeholder or value is not the user's spelling.
    QTextCursor at(doc);
    at.setPosition(start + 1);
    if (at.charFormat().hasProperty(ui::kFieldKindProperty)) continue;
    if (dictionary_->Check(word.toStdString())) continue;
    cursor_ = QTextCursor(doc);
    cursor_.setPosition(start);
    cursor_.setPosition(start + length, QTextCursor::KeepAnchor);
    position_ = start + length;
    word_ = word;
    ShowWord();
    return true;
  }
  position_ = static_cast<int>(text.size());
  word_.clear();
  return false;
}

void TSpellCheckDialog::ShowWord() {
  WordEdit_->setText(word_);
  SuggestionList_->clear();
  const std::vector<std::string> suggestions = dictionary_->Suggest(word_.toStdString());
  for (const std::string& s : suggestions) SuggestionList_->addItem(QString::fromStdString(s));
  ReplaceEdit_->setText(suggestions.empty() ? word_ : QString::fromStdString(suggestions.front()));
  // Show the word in its place.
  editor_->TextEdit()->setTextCursor(cursor_);
  editor_->TextEdit()->ensureCursorVisible();
}

void TSpellCheckDialog::Advance() {
  if (FindNext()) return;
  QTextCursor end(editor_->TextEdit()->document());
  end.setPosition(position_);
  editor_->TextEdit()->setTextCursor(end);
  Dialogs().Information(this, QString::fromLatin1(kSpellCompleteText));
  done(QDialog::Accepted);
}

void TSpellCheckDialog::ReplaceButtonClick() {
  if (word_.isEmpty()) return;
  const QString replacement = ReplaceEdit_->text();
  // The replacement takes the look of the word it replaces.
  QTextCursor first(cursor_.document());
  first.setPosition(cursor_.selectionStart());
  first.setPosition(cursor_.selectionStart() + 1, QTextCursor::KeepAnchor);
  const QTextCharFormat format = first.charFormat();
  cursor_.beginEditBlock();
  cursor_.insertText(replacement, format);
  cursor_.endEditBlock();
  position_ = cursor_.position();
  Advance();
}

void TSpellCheckDialog::SkipButtonClick() { Advance(); }

void TSpellCheckDialog::AddButtonClick() {
  if (word_.isEmpty()) return;
  if (!dictionary_->AddWord(word_.toStdString())) {
    Dialogs().Information(this, QStringLiteral("The word could not be written to the user "
                                               "dictionary \"%1\".")
                                    .arg(QString::fromStdString(dictionary_->UserFile())));
  }
  Advance();
}

void RunSpellCheck(ui::TQvRichEdit* editor, const std::string& dataDir, QWidget* mainWindow) {
  auto dictionary = std::make_unique<TSpellDictionary>(dataDir);
  if (!dictionary->HasMain()) {
    Dialogs().Information(mainWindow, QString::fromLatin1(kNoDictionaryText));
    return;
  }
  TSpellCheckDialog dialog(editor, std::move(dictionary), editor->window());
  if (!dialog.FindNext()) {
    Dialogs().Information(mainWindow, QString::fromLatin1(kSpellCompleteText));
    return;
  }
  dialog.adjustSize();
  CenterOver(&dialog, mainWindow);
  Dialogs().Exec(&dialog);
}

}  // namespace qv::app
