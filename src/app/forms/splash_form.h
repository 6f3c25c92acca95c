#pragma once
// The About box.

#include <QDialog>

namespace qv::app {

class TSplashform : public QDialog {
  Q_OBJECT
 public:
  // dataDir, when given, is shown so the user knows where tables and settings live; line, when
  // given, says in plain words what carries the faxes (a modem's port, the Internet fax line, the
  // practice line).
  explicit TSplashform(QWidget* parent = nullptr, const QString& dataDir = QString(),
                       const QString& line = QString());
};

}  // namespace qv::app
