#include "app/editor/enter_edit.h"

#include <QKeyEvent>

namespace qv::app {

TEnterEdit::TEnterEdit(QWidget* parent) : QLineEdit(parent) {}

void TEnterEdit::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if ((key == Qt::Key_Return || key == Qt::Key_Enter) &&
      !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
    focusNextChild();
    event->accept();  // not passed on to the dialog, which would press its default button
    return;
  }
  QLineEdit::keyPressEvent(event);
}

}  // namespace qv::app
