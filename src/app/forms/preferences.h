#pragma once
// The preferences wizard: the settings record on nine pages, the modem-port search and the
// fax-class check, and on Finish the record written back to the settings file.

#include <QDialog>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <stdexcept>
#include <string>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSoundEffect;
class QStackedWidget;

namespace qv::comm {
class TQvComPort;
}
namespace qv::fax {
class TQvSendFax;
}

namespace qv::app {

struct TSettings;
class TInternetLinePanel;

// A number field that does not hold an integer.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr int kPreferencePages = 9;
inline constexpr int kComPorts = 6;

// The six rates of the rate lists; a stored rate that is none of them shows as 9600, and so is a
// position that is none of the others stored.
int RateToPosition(int bps);
int PositionToRate(int position);

// The device each COM number maps to ([Ports] in the settings file), COM1 first.
using TPortDevices = std::array<QString, kComPorts>;
TPortDevices LoadPortDevices(const std::string& iniFile);
// Writes the keys that differ from the built-in default (and removes the others), in one write.
void SavePortDevices(const TPortDevices& devices, const std::string& iniFile);

class TPreferences : public QDialog {
  Q_OBJECT
 public:
  // dataDir ends in "/": the folder the sound file dialog starts in.
  TPreferences(const QString& dataDir, QWidget* parent = nullptr);
  ~TPreferences() override;

  void SetFirstTime(bool firstTime);
  bool FirstTime() const { return firstTime_; }

  // Fills the controls from the record and the port map.
  void LoadControls(const TSettings& s, const TPortDevices& devices);
  // The problem of the controls that would stop a save (a number field that is not an integer),
  // as the user reads it; empty when there is none.
  QString ValidationError() const;
  // Copies the controls into the record in the wizard's order. Raises EConvertError (and leaves
  // the record unchanged) when a number field is not an integer.
  void StoreControls(TSettings& s) const;
  TPortDevices PortDevices() const;

  int CurrentPage() const;
  void SetCurrentPage(int page);
  QString PageText(int page) const;
  // The help topic of a page; 0 for none.
  static int PageHelpTopic(int page);

  qv::comm::TQvComPort& Port() { return *port_; }
  TInternetLinePanel* InternetLine() { return InternetLine_; }
  qv::fax::TQvSendFax& Fax() { return *fax_; }

 public slots:
  void UpdateButtons();
  void BackButtonClick();
  void NextbuttonClick();
  void FinishbuttonClick();
  void HelpbuttonClick();
  void ProblemSolverButtonClick();
  void FindModemButtonClick();
  void CheckFaxClassButtonClick();
  void HelpWithInitbuttonClick();
  void HelpWithInitRECButtonClick();
  void SelectWavButtonClick();
  void PlayWAVbuttonClick();
  void NoWAVButtonClick();
  void RefreshDevicesClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* BuildIntroPage();
  QWidget* BuildModemPage();
  QWidget* BuildSendPage1();
  QWidget* BuildSendPage2();
  QWidget* BuildSendPage3();
  QWidget* BuildReceivePage1();
  QWidget* BuildReceivePage2();
  QWidget* BuildReceivePage3();
  QWidget* BuildAdvancedPage();
  void FillPrinters();
  int PortPosition() const;
  // Points the wizard's port at what the modem page shows for COM n (edits not yet saved count).
  void AimPort(int comNumber);

  QString dataDir_;
  bool firstTime_ = false;
  std::unique_ptr<qv::comm::TQvComPort> port_;
  std::unique_ptr<qv::fax::TQvSendFax> fax_;
  QSoundEffect* sound_ = nullptr;

  QLabel* PageLabel_ = nullptr;
  QComboBox* PageCombo_ = nullptr;
  QStackedWidget* NoteBook_ = nullptr;
  QLabel* FirstTimeLabel_ = nullptr;
  // Modem and port
  QGroupBox* ComPortBox_ = nullptr;
  QButtonGroup* ComPort_ = nullptr;
  QPushButton* FindModemButton_ = nullptr;
  QGroupBox* ToneOrPulseBox_ = nullptr;
  QButtonGroup* ToneOrPulse_ = nullptr;
  QLineEdit* ResetString_ = nullptr;
  QLineEdit* ResetAfterString_ = nullptr;
  QCheckBox* chkSM56_ = nullptr;
  std::array<QComboBox*, kComPorts> PortDevice_{};
  QPushButton* RefreshDevicesButton_ = nullptr;
  TInternetLinePanel* InternetLine_ = nullptr;
  QCheckBox* chkPracticeLine_ = nullptr;
  // Sending
  QGroupBox* FaxClassBox_ = nullptr;
  QButtonGroup* FaxClass_ = nullptr;
  QPushButton* CheckFaxClassButton_ = nullptr;
  QComboBox* TransferRate_ = nullptr;
  QLineEdit* ModemInit_ = nullptr;
  QPushButton* HelpWithInitbutton_ = nullptr;
  QLineEdit* FaxNumber_ = nullptr;
  QLineEdit* Name_ = nullptr;
  QCheckBox* UseECM_ = nullptr;
  QLineEdit* DialPrefix_ = nullptr;
  QLineEdit* DialSuffix_ = nullptr;
  QLineEdit* DialAttempts_ = nullptr;
  QLineEdit* RetryWait_ = nullptr;
  QCheckBox* CheckBlindDial_ = nullptr;
  QCheckBox* CheckIgnoreBusy_ = nullptr;
  QCheckBox* RenegotiateBetween_ = nullptr;
  // Receiving
  QGroupBox* FaxClassReceiveBox_ = nullptr;
  QButtonGroup* FaxClassReceive_ = nullptr;
  QPushButton* CheckRecFaxClassbutton_ = nullptr;
  QComboBox* TransferRateReceive_ = nullptr;
  QLineEdit* ModemInitReceive_ = nullptr;
  QPushButton* HelpWithInitRECButton_ = nullptr;
  QGroupBox* AnswerOnRingBox_ = nullptr;
  QButtonGroup* AnswerOnRing_ = nullptr;
  QCheckBox* ReceiveAtStartup_ = nullptr;
  QCheckBox* UseECMReceive_ = nullptr;
  QLineEdit* WaveFileEdit_ = nullptr;
  QPushButton* SelectWavButton_ = nullptr;
  QPushButton* PlayWAVbutton_ = nullptr;
  QPushButton* NoWAVButton_ = nullptr;
  QCheckBox* PrintFaxOnReceipt_ = nullptr;
  QComboBox* PrintFaxOnReceiptPrinter_ = nullptr;
  QCheckBox* DisableReceivingFaxesNotification_ = nullptr;
  // Advanced
  QCheckBox* ImposeWaitBeforePrinting_ = nullptr;
  QCheckBox* UseAltHeaderFont_ = nullptr;
  QCheckBox* UseAlternateNameReceive_ = nullptr;
  // Bottom row
  QPushButton* Helpbutton_ = nullptr;
  QPushButton* Cancelbutton_ = nullptr;
  QPushButton* BackButton_ = nullptr;
  QPushButton* Nextbutton_ = nullptr;
  QPushButton* Finishbutton_ = nullptr;
  QPushButton* ProblemSolverButton_ = nullptr;
};

// Runs the wizard over the settings record and the file: hands it the first-run flag (and clears
// it), fills it, shows it centred over mainWindow and on Finish copies it back and saves the
// record and the port map. True when the user finished with saving.
bool ShowPreferences(QWidget* mainWindow, const std::string& iniFile);

}  // namespace qv::app
