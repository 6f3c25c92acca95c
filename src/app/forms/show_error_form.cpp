#include "app/forms/show_error_form.h"

#include "app/forms/dialog_service.h"
#include "app/forms/help_browser.h"
#include "app/forms/placement.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace qv::app {

namespace {
bool gShowing = false;
constexpr int kExtraLines = 3;
}  // namespace

TShowErrorForm::TShowErrorForm(const QString& title, const QString& text, bool continueButton,
                               bool noAutoClose, int tag, QWidget* parent)
    : QDialog(parent), tag_(tag) {
  setObjectName(QStringLiteral("ShowErrorForm"));
  setWindowTitle(title);
  message_ = new QPlainTextEdit(this);
  message_->setObjectName(QStringLiteral("ErrorMemo"));
  message_->setAccessibleName(title);
  message_->setReadOnly(true);
  const QString shown = DisplayText(text);
  message_->setPlainText(shown);
  auto* ok = new QPushButton(QStringLiteral("Ok"), this);
  ok->setObjectName(QStringLiteral("OkButton"));
  auto* cont = new QPushButton(QStringLiteral("Continue"), this);
  cont->setObjectName(QStringLiteral("ContinueButton"));
  cont->setVisible(continueButton);
  auto* help = new QPushButton(QStringLiteral("Technical Help"), this);
  help->setObjectName(QStringLiteral("TechnicalHelpButton"));
  for (QPushButton* b : {ok, cont, help}) b->setAccessibleName(b->text());
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, [this] { Finish(kErrorOk); });
  connect(cont, &QPushButton::clicked, this, [this] { Finish(kErrorContinue); });
  connect(help, &QPushButton::clicked, this, [this, continueButton] {
    // With Continue to choose, help opens beside the dialog; otherwise the dialog makes way.
    if (continueButton) ShowHelpTopic(kHelpTechnical);
    else Finish(kErrorTechnicalHelp);
  });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cont);
  buttons->addWidget(help);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(message_);
  layout->addLayout(buttons);
  // Tall enough for every line of the text and three more.
  const int lineHeight = QFontMetrics(font()).boundingRect(QStringLiteral("Wj")).height();
  const int lines = static_cast<int>(shown.count(QLatin1Char('\n'))) + 1 + kExtraLines;
  message_->setMinimumHeight(lines * lineHeight);
  setMinimumWidth(420);
  timer_ = new QTimer(this);
  timer_->setSingleShot(true);
  timer_->setInterval(kErrorAutoCloseMs);
  connect(timer_, &QTimer::timeout, this, [this] { Finish(kErrorOk); });
  if (!noAutoClose) timer_->start();
}

void TShowErrorForm::Finish(int choice) {
  choice_ = choice;
  accept();
}

void TShowErrorForm::done(int r) {
  timer_->stop();  // however the dialog closes
  QDialog::done(r);
}

bool ErrorDialogShowing() { return gShowing; }

int ShowErrorDialog(QWidget* parent, const QString& title, const QString& text, bool continueButton,
                    bool noAutoClose, int tag) {
  if (gShowing) return 0;
  // Cleared however the dialog ends, an exception included.
  struct Showing {
    Showing() { gShowing = true; }
    ~Showing() { gShowing = false; }
  };
  int choice = kErrorOk;
  {
    const Showing showing;
    TShowErrorForm form(title, text, continueButton, noAutoClose, tag, parent);
    form.adjustSize();
    CenterOver(&form, parent ? parent->window() : nullptr);
    Dialogs().Exec(&form);
    choice = form.Choice();
  }
  if (choice == kErrorTechnicalHelp) ShowHelpTopic(kHelpTechnical);
  return choice;
}

void ShowError(QWidget* parent, const QString& title, const QString& text, bool noAutoClose) {
  ShowErrorDialog(parent, title, text, false, noAutoClose);
}

bool AskContinue(QWidget* parent, const QString& title, const QString& text, bool noAutoClose) {
  return ShowErrorDialog(parent, title, text, true, noAutoClose) == kErrorContinue;
}

}  // namespace qv::app
