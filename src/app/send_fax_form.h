#pragma once
// The Send Fax dialog: the number and dialling details to confirm, the configuration in use, and
// one send attempt after another through the dialog's own port and transmit component, with the
// standard status window, a log of the attempt in "Lastsend.log" and the result text read back
// by the Send command.

#include <QDate>
#include <QDialog>
#include <QString>
#include <QStringList>
#include <QTime>

#include <memory>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace qv::comm {
class TQvComPort;
}
namespace qv::fax {
class TQvSendFax;
}
namespace qv::ui {
class TQvFaxStatus;
}

namespace qv::app {

struct TSettings;

inline constexpr const char* kSendLogFile = "Lastsend.log";
inline constexpr int kHelpSendFax = 1016;
// The seconds the modem waits for the far end to answer, unless the init string says otherwise.
inline constexpr int kDefaultDialWait = 60;
inline constexpr int kMinimumDialWait = 55;

// The dial wait (seconds) an initialisation string implies through its S7 register.
int DialWaitFromInit(const std::string& initString);
// The line the transmit component prints on top of every page ($I, $P and $N are its tags).
QString SendHeaderLine(const TSettings& s, const QDate& date, const QTime& time);
// The configuration summary of the dialog, one line each.
QStringList SendConfigurationSummary(const TSettings& s);
// "AT" put in front of a modem string that holds none (upper-cased).
std::string WithAtPrefix(const std::string& text);

// The log of one send attempt: a line equal to the one before is not repeated; saving adds the
// finish time and replaces the file (a failed save is of no consequence to the fax).
class TSendLog {
 public:
  void Clear();
  void Add(const QString& line);
  void Save(const std::string& path);
  const QStringList& Lines() const { return lines_; }

 private:
  QStringList lines_;
  QString last_;
};

// The date and time as the send log writes them (long formats).
QString LogDateTime(const QDateTime& when);

class TSendFaxForm : public QDialog {
  Q_OBJECT
 public:
  // dataDir ends in "/".
  explicit TSendFaxForm(const QString& dataDir, QWidget* parent = nullptr);
  ~TSendFaxForm() override;

  void SetFaxFile(const QString& file) { faxFile_ = file; }
  void SetRecipient(const QString& to);
  void SetSubject(const QString& subject);
  // The number handed in; shown when the dialog first appears.
  void SetPhoneNumber(const QString& number) { phoneNumber_ = number; }
  void SetPortNumber(int n) { portNumber_ = n; }
  // Prefix, suffix and their disable boxes from the settings record.
  void LoadDialing();
  // The same back into the record (the caller saves it).
  void StoreDialing(TSettings& s) const;

  // The last attempt's result text; "Sent" once any attempt from this dialog delivered the fax.
  QString ResultText() const;
  QString PhoneNumberShown() const;
  bool Sending() const { return sending_; }
  QString HeaderLine() const { return headerLine_; }
  QString StatusText() const;
  const TSendLog& Log() const { return log_; }
  comm::TQvComPort& Port() { return *port_; }
  fax::TQvSendFax& SendFax() { return *fax_; }
  ui::TQvFaxStatus& FaxStatus() { return *status_; }

 public slots:
  void SendFaxButtonClick();
  void CloseButtonClick();
  void PreferencesButtonClick();
  void HelpbuttonClick();
  void ProblemSolverButtonClick();

 signals:
  // A send attempt ended (finished, failed or refused before the call).
  void attemptEnded();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void FormActivate();
  void ShowSetup();
  void SetStatus(const QString& text);
  void SetBusy(bool busy);
  // Ends an attempt that did not reach the call: normal cursor, port closed, not sending.
  void ResetAttempt();
  void ClosePort();
  void FailBeforeCall(const QString& title, const QString& text);
  void QvSendFax1FaxFinish(int code);
  std::string LogPath() const;

  QString dataDir_;
  // Private state, in the form's order.
  bool sending_ = false;
  bool firstActivation_ = true;
  TSendLog log_;
  QString faxFile_;
  QString coverFile_;  // always empty: the cover sheet is part of the fax file
  QString phoneNumber_;
  QString resultText_;
  // An attempt from this dialog delivered the fax: a later attempt that fails does not make it
  // unsent (the user would be led to send it again).
  bool delivered_ = false;
  QString headerLine_;
  int portNumber_ = 1;
  bool busy_ = false;

  std::unique_ptr<comm::TQvComPort> port_;
  std::unique_ptr<ui::TQvFaxStatus> status_;
  std::unique_ptr<fax::TQvSendFax> fax_;

  QLabel* ToLabel_ = nullptr;
  QLabel* Subjectlabel_ = nullptr;
  QLineEdit* sfPhoneNumber_ = nullptr;
  QLineEdit* sfDialPrefix_ = nullptr;
  QCheckBox* DisablePrefix_ = nullptr;
  QLineEdit* sfDialsuffix_ = nullptr;
  QCheckBox* DisableSuffix_ = nullptr;
  QPlainTextEdit* SetupDisplayMemo_ = nullptr;
  QPushButton* PreferencesButton_ = nullptr;
  QPushButton* SendFaxButton_ = nullptr;
  QPushButton* Helpbutton_ = nullptr;
  QPushButton* ProblemSolverButton_ = nullptr;
  QPushButton* CloseButton_ = nullptr;
  QLabel* status_label_ = nullptr;
};

}  // namespace qv::app
