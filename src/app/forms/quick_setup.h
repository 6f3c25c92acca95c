#pragma once
// First-run quick setup: how faxes go out and come in (a modem's port, the Internet fax line, or
// the practice line for trying it without either), own name and fax number, the Motorola SM56
// switch.

#include <QDialog>

#include <memory>
#include <string>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace qv::comm {
class TQvComPort;
}

namespace qv::app {

struct TSettings;
class TInternetLinePanel;

class TQuickSetupForm : public QDialog {
  Q_OBJECT
 public:
  // The three ways to go on, in the order the form offers them.
  enum Way { kModemWay = 0, kInternetWay = 1, kPracticeWay = 2 };

  // dataDir ends in "/": where the Internet line's files go.
  explicit TQuickSetupForm(QWidget* parent = nullptr, const QString& dataDir = QString());
  ~TQuickSetupForm() override;

  // Presets the controls from the record.
  void Preset(const TSettings& s);
  // Copies the controls into the record (port, name, fax number, SM56 switch).
  void Store(TSettings& s) const;

  int PortIndex() const;  // 0..5, -1 when none is chosen
  void SetPortIndex(int index);
  Way ChosenWay() const;
  void ChooseWay(Way way);

  // "Find Modem Port": the modem search on the form's own port; offers a port found elsewhere.
  void FindModemPortClick();
  qv::comm::TQvComPort& Port() { return *port_; }
  // No modem: the Internet fax line (SIP) in its place.
  TInternetLinePanel* InternetLine() { return line_; }

 private:
  // Only the chosen way's controls take input.
  void WayChanged();

  QButtonGroup* way_;
  QWidget* modemPart_;
  QWidget* internetPart_;
  QGroupBox* comPortBox_;
  QButtonGroup* comPort_;
  QLineEdit* name_;
  QLineEdit* faxNumber_;
  QCheckBox* sm56_;
  QPushButton* findModem_;
  TInternetLinePanel* line_;
  std::unique_ptr<qv::comm::TQvComPort> port_;
};

// Runs the quick setup over the settings file: reloads the record, shows the form centred over
// mainWindow and, on Ok, stores the choices and saves the settings (a failed save is shown, not
// raised). True when the user chose Ok.
bool RunQuickSetup(QWidget* mainWindow, const std::string& iniFile);

}  // namespace qv::app
