#pragma once
// The notes of one received fax.

#include <QDialog>

class QLabel;
class QLineEdit;

namespace qv::app {

class TEditReceiveNotes : public QDialog {
  Q_OBJECT
 public:
  TEditReceiveNotes(const QString& from, const QString& notes, QWidget* parent = nullptr);
  QString Notes() const;

 private:
  QLabel* fromLabel_;
  QLineEdit* notesEdit_;
};

}  // namespace qv::app
