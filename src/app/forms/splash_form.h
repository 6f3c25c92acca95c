#pragma once
// The About box.

#include <QDialog>

namespace qv::app {

class TSplashform : public QDialog {
  Q_OBJECT
 public:
  // dataDir, when given, is shown so the user knows where tables and settings live.
  explicit TSplashform(QWidget* parent = nullptr, const QString& dataDir = QString());
};

}  // namespace qv::app
