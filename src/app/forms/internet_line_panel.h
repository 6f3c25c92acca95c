#pragma once
// The Internet fax line's controls, beside the COM ports in the preferences wizard: whether the
// line is the program's modem, the SIP server, user, password, domain and caller ID, T.38, and a "Test"
// button that registers once and says in plain words how it went.

#include <QGroupBox>
#include <QString>

#include <string>

#include "app/store/line_settings.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qv::app {

// The qvline program beside this one (QV_LINE_PROGRAM overrides it, for tests and packagers).
QString LineProgram();

class TInternetLinePanel : public QGroupBox {
  Q_OBJECT
 public:
  TInternetLinePanel(const QString& dataDir, QWidget* parent = nullptr);

  // Fills the controls; the password field stays empty and shows whether one is stored.
  void Load(const TLineSettings& settings, bool passwordStored);
  TLineSettings Settings() const;
  // What was typed into the password field; "" keeps the stored one.
  QString NewPassword() const;
  QString TestResult() const;
  // The check that makes the line the program's modem: a form that offers other ways (a port,
  // the practice line) clears it when one of those is chosen.
  QCheckBox* UseCheck() const { return chkInternetLine_; }

  // Fills the panel from the settings file and the secret store.
  void LoadFrom(const std::string& iniFile);
  // Writes the settings to their section and a typed password to the secret store; false (after
  // saying why through the dialog service) when the password could not be kept.
  bool SaveTo(const std::string& iniFile, QWidget* parent) const;

  // The most the Test waits for the line's report: its attempt gives up on a silent server well
  // before (TInternetLine::kTestRegisterTimeoutSeconds).
  static constexpr int kTestTimeoutMs = 20000;

 public slots:
  void LineTestButtonClick();

 private:
  QString dataDir_;
  QCheckBox* chkInternetLine_ = nullptr;
  QLineEdit* LineServer_ = nullptr;
  QLineEdit* LineUser_ = nullptr;
  QLineEdit* LineDomain_ = nullptr;
  QLineEdit* LinePassword_ = nullptr;
  QLineEdit* LineCallerId_ = nullptr;
  QCheckBox* chkLineT38_ = nullptr;
  QPushButton* LineTestButton_ = nullptr;
  QLabel* LineTestResult_ = nullptr;
};

}  // namespace qv::app
