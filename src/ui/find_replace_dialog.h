#pragma once
// The editor's small Find and Replace dialog (one form, two modes): searches the text edit from
// the caret forward and wraps once at the end; "Replace All" is one undo step.

#include <QDialog>

class QTextEdit;
class QLineEdit;
class QCheckBox;
class QLabel;
class QPushButton;

namespace qv::ui {

class TFindReplaceDialog : public QDialog {
  Q_OBJECT
 public:
  TFindReplaceDialog(QTextEdit* edit, bool replaceMode, QWidget* parent = nullptr);

  void SetFindText(const QString& text);
  // Selects the next match; false (and "not found" shown) when there is none.
  bool FindNext();
  // Replaces the selected match (if the selection is one) and finds the next one.
  bool ReplaceOne();
  // Replaces every match; returns how many.
  int ReplaceAll();

  QLineEdit* FindEdit() const { return find_; }
  QLineEdit* ReplaceEdit() const { return replace_; }

 private:
  bool selectionMatches() const;
  QTextEdit* edit_;
  QLineEdit* find_;
  QLineEdit* replace_;
  QCheckBox* matchCase_;
  QCheckBox* wholeWord_;
  QLabel* status_;
};

}  // namespace qv::ui
