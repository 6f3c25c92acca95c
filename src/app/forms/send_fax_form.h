#pragma once
// The Send Fax dialog: the number and dialling details to confirm, the configuration in use, and
// the attempts of a send session (TSendSession: port, transmit component, "Lastsend.log") started
// with "Send Fax Now". The dialog only shows and asks: it watches the session's attempts, shows
// their progress in the standard status window and its own status panel, and tells their end.

#include "app/flows/outgoing_fax.h"
#include "app/flows/session_log.h"

#include <QDateTime>
#include <QDialog>
#include <QString>

#include <memory>

class QCheckBox;
class QDateTimeEdit;
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

inline constexpr int kHelpSendFax = 1016;

class TSendFaxForm : public QDialog, private TSendObserver {
  Q_OBJECT
 public:
  // The dialog watches the session's attempts for as long as it lives.
  explicit TSendFaxForm(TSendSession& session, QWidget* parent = nullptr);
  ~TSendFaxForm() override;

  void SetRecipient(const QString& to);
  void SetSubject(const QString& subject);
  // The number handed in; shown when the dialog first appears.
  void SetPhoneNumber(const QString& number) { phoneNumber_ = number; }
  // Prefix, suffix and their disable boxes from the settings record.
  void LoadDialing();
  // The same back into the record (the caller saves it).
  void StoreDialing(TSettings& s) const;

  // The session's result text; "Sent" once any attempt from this dialog delivered the fax.
  QString ResultText() const;
  QString PhoneNumberShown() const;
  // The time chosen with "Send Later" (the dialog closed with it); invalid when none was.
  QDateTime SendLaterAt() const { return sendLaterAt_; }
  QDateTimeEdit& SendLaterTime() { return *SendLaterTime_; }
  bool Sending() const { return session_.Sending(); }
  QString HeaderLine() const { return session_.HeaderLine(); }
  QString StatusText() const;
  const TSessionLog& Log() const { return session_.Log(); }
  comm::TQvComPort& Port() { return session_.Port(); }
  fax::TQvSendFax& SendFax() { return session_.SendFax(); }
  ui::TQvFaxStatus& FaxStatus() { return *status_; }

 public slots:
  void SendFaxButtonClick();
  void SendLaterButtonClick();
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
  // The session's reports.
  void FlowBusy(bool busy) override { SetBusy(busy); }
  void FlowStatus(const QString& text) override { SetStatus(text); }
  void FlowInformation(const QString& text) override;
  void FlowError(const QString& title, const QString& text, bool stays) override;
  bool FlowAskContinue(const QString& title, const QString& text) override;
  void AttemptEnded() override;

  QString dataDir_;
  TSendSession& session_;
  TSendObserver* previousObserver_ = nullptr;
  bool firstActivation_ = true;
  QString phoneNumber_;
  bool busy_ = false;

  std::unique_ptr<ui::TQvFaxStatus> status_;

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
  QPushButton* SendLaterButton_ = nullptr;
  QDateTimeEdit* SendLaterTime_ = nullptr;
  QDateTime sendLaterAt_;
  QPushButton* Helpbutton_ = nullptr;
  QPushButton* ProblemSolverButton_ = nullptr;
  QPushButton* CloseButton_ = nullptr;
  QLabel* status_label_ = nullptr;
};

}  // namespace qv::app
