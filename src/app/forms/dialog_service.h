#pragma once
// The one door through which the program asks the user anything: message boxes, questions, file
// dialogs, modal forms and the beep. Tests install their own service to script the answers.

#include <QString>

#include <optional>

class QDialog;
class QWidget;

namespace qv::app {

class DialogService {
 public:
  virtual ~DialogService() = default;

  // An information box captioned "Information" (or the given caption) with an OK button.
  virtual void Information(QWidget* parent, const QString& text,
                           const QString& caption = QStringLiteral("Information")) = 0;
  // A Yes/No question with a question icon; defaultYes chooses the default button.
  virtual bool Question(QWidget* parent, const QString& caption, const QString& text,
                        bool defaultYes) = 0;
  // A Yes/No/Cancel question with a question icon and Yes as the default: asked before a form
  // with unsaved changes closes (Yes stores them, No discards them, Cancel keeps the form open).
  enum class Choice { Yes, No, Cancel };
  virtual Choice YesNoCancel(QWidget* parent, const QString& caption, const QString& text) = 0;
  // An error box (the program's standard display of an unexpected exception).
  virtual void Error(QWidget* parent, const QString& text) = 0;
  virtual QString OpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                               const QString& filter) = 0;
  virtual QString SaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                               const QString& filter) = 0;
  // Shows a form modally; returns its QDialog result code.
  virtual int Exec(QDialog* dialog) = 0;
  virtual void Beep() = 0;
};

// The service for the running program: real Qt message boxes and dialogs.
class QtDialogService : public DialogService {
 public:
  void Information(QWidget* parent, const QString& text, const QString& caption) override;
  bool Question(QWidget* parent, const QString& caption, const QString& text,
                bool defaultYes) override;
  Choice YesNoCancel(QWidget* parent, const QString& caption, const QString& text) override;
  void Error(QWidget* parent, const QString& text) override;
  QString OpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                       const QString& filter) override;
  QString SaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                       const QString& filter) override;
  int Exec(QDialog* dialog) override;
  void Beep() override;
};

// The installed service (a QtDialogService until someone installs another).
DialogService& Dialogs();
// Installs a service (not owned); nullptr goes back to the Qt one. Returns the previous one.
DialogService* SetDialogs(DialogService* service);

// A form that closes with `result` while it holds unsaved changes asks `question` first: Yes
// closes it as accepted (QDialog::Accepted, so the form stores its content), No closes it as
// asked, Cancel keeps it open. Returns the result to close with, or nothing to stay open. A form
// without changes, or one closing as accepted anyway, is not asked.
std::optional<int> AskBeforeLosingChanges(QWidget* form, const QString& question, bool modified, int result);

// Routes the dispatchers' exception display (called from any thread) to an error box on the UI
// thread.
void ConnectExceptionDisplay();

// The texts carry Windows line breaks ("\r", "\r\n"); on screen they become plain new lines.
QString DisplayText(const QString& text);

// The text shown by commands whose forms are not part of the program yet.
inline const char* const kNotAvailableText = "This feature is not available yet.";

}  // namespace qv::app
