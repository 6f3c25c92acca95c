#pragma once
// The error dialog of sending and receiving: one at a time, closing itself after 30 seconds.

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace qv::app {

inline constexpr int kErrorAutoCloseMs = 30000;
inline constexpr int kErrorOk = 1;
inline constexpr int kErrorContinue = -99;
inline constexpr int kErrorTechnicalHelp = 4;

class TShowErrorForm : public QDialog {
  Q_OBJECT
 public:
  TShowErrorForm(const QString& title, const QString& text, bool continueButton, bool noAutoClose,
                 int tag, QWidget* parent = nullptr);
  int Choice() const { return choice_; }
  int Tag() const { return tag_; }
  QTimer* AutoCloseTimer() const { return timer_; }

 protected:
  void done(int r) override;

 private:
  void Finish(int choice);

  QPlainTextEdit* message_ = nullptr;
  QTimer* timer_ = nullptr;
  int choice_ = kErrorOk;
  int tag_ = 0;
};

// Shows the dialog modally; returns 1 (Ok or the time-out), -99 (Continue) or 4 (Technical Help,
// after which help topic 10000 opens). A call while one is shown does nothing and returns 0.
int ShowErrorDialog(QWidget* parent, const QString& title, const QString& text, bool continueButton,
                    bool noAutoClose, int tag = 0);
void ShowError(QWidget* parent, const QString& title, const QString& text, bool noAutoClose = false);
// True exactly when the user chose "Continue".
bool AskContinue(QWidget* parent, const QString& title, const QString& text, bool noAutoClose = false);
// Whether an error dialog is showing now.
bool ErrorDialogShowing();

}  // namespace qv::app
