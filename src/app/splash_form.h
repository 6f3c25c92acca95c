#pragma once
// The About box.

#include <QDialog>

namespace qv::app {

class TSplashform : public QDialog {
  Q_OBJECT
 public:
  explicit TSplashform(QWidget* parent = nullptr);
};

}  // namespace qv::app
