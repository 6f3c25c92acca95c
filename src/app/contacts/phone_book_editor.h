#pragma once
// "Phone Book Editor": one phone book entry, its name and fax number.

#include <QDialog>

class QLineEdit;

namespace qv::app {

inline constexpr int kPhoneBookEditorHelpTopic = 1020;
inline constexpr int kModalAccept = 1;  // the forms' Accept
inline constexpr int kModalCancel = 2;  // their Cancel and Close

class TPhoneBookEditor : public QDialog {
  Q_OBJECT
 public:
  explicit TPhoneBookEditor(QWidget* parent = nullptr);

  QLineEdit* Name() const { return Name_; }
  QLineEdit* Number() const { return Number_; }

 signals:
  void HelpRequested(int topic);

 private:
  QLineEdit* Name_ = nullptr;
  QLineEdit* Number_ = nullptr;
};

}  // namespace qv::app
