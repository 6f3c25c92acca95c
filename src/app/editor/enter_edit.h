#pragma once
// A single-line edit in which Enter moves on to the next control of the dialog, like Tab, and is
// then swallowed: no beep, and the dialog's default button does not fire.

#include <QLineEdit>

namespace qv::app {

class TEnterEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit TEnterEdit(QWidget* parent = nullptr);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace qv::app
