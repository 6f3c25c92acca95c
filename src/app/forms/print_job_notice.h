#pragma once
// "Fax Printer": the short notice that a print job arrived and is now an outgoing fax. "Check and
// Send" opens it in the fax editor and then the Send Fax dialog; "Later" leaves it in the list.

#include <QDialog>

class QLabel;
class QPushButton;

namespace qv::app {

struct TTakenJob;

class TPrintJobNotice : public QDialog {
  Q_OBJECT
 public:
  // canSend: false in receive mode, where the fax waits in the list and the notice says so.
  TPrintJobNotice(const TTakenJob& job, bool canSend, QWidget* parent = nullptr);
  QString Text() const;
  static QString TextFor(const TTakenJob& job, bool canSend);

 private:
  QLabel* JobText_ = nullptr;
  QPushButton* CheckButton_ = nullptr;
  QPushButton* LaterButton_ = nullptr;
};

}  // namespace qv::app
