#pragma once
// "Spell Check": walks an editor's words from the start and stops at each one its dictionaries do
// not know, offering replacements.

#include <QDialog>
#include <QTextCursor>

#include <memory>
#include <string>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace qv::ui {
class TQvRichEdit;
}

namespace qv::app {

class TSpellDictionary;

inline constexpr const char* kSpellCompleteText = "Spell check complete";
inline constexpr const char* kNoDictionaryText =
    "The spelling dictionary \"qrv.dct\" is missing and no system dictionary was found.";

class TSpellCheckDialog : public QDialog {
  Q_OBJECT
 public:
  // dataDir ends in "/"; the dictionaries are read from there (see spell_dictionary.h).
  TSpellCheckDialog(ui::TQvRichEdit* editor, std::unique_ptr<TSpellDictionary> dictionary,
                    QWidget* parent = nullptr);
  ~TSpellCheckDialog() override;

  // Moves to the next unknown word after the current one; false when the text has none left.
  bool FindNext();
  QString CurrentWord() const { return word_; }
  TSpellDictionary& Dictionary() { return *dictionary_; }

 public slots:
  void ReplaceButtonClick();
  void SkipButtonClick();
  void AddButtonClick();

 private:
  void ShowWord();
  void Advance();  // next word, or "Spell check complete" and close

  ui::TQvRichEdit* editor_;
  std::unique_ptr<TSpellDictionary> dictionary_;
  QTextCursor cursor_;  // selects the word shown; its end is where the walk goes on
  int position_ = 0;
  QString word_;
  QLineEdit* WordEdit_ = nullptr;
  QListWidget* SuggestionList_ = nullptr;
  QLineEdit* ReplaceEdit_ = nullptr;
  QPushButton* ReplaceButton_ = nullptr;
  QPushButton* SkipButton_ = nullptr;
  QPushButton* AddButton_ = nullptr;
  QPushButton* CancelButton_ = nullptr;
};

// The editor's spell-check command: opens the dialog centred over mainWindow when the text has an
// unknown word, otherwise just says the check is complete.
void RunSpellCheck(ui::TQvRichEdit* editor, const std::string& dataDir, QWidget* mainWindow);

}  // namespace qv::app
