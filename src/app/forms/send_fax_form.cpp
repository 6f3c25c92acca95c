#include "app/forms/send_fax_form.h"

#include "app/forms/dialog_service.h"
#include "app/forms/help_browser.h"
#include "app/forms/preferences.h"
#include "app/store/settings.h"
#include "app/forms/show_error_form.h"
#include "fax/send_fax.h"
#include "ui/fax_status_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTimeEdit>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qv::app {

namespace {

const char* const kPrefixHint =
    "Enter the dial prefix here (i.e. calling card number).  \r...Do not include 'ATD' or a 'T' or 'P' "
    "tone/pulse modifier in the dial prefix. \r...Use a comma to insert a 2 second pause. ";
const char* const kSuffixHint =
    "Enter the dial suffix (i.e. an access code) here.\r...Do not include 'ATD' or a 'T' or 'P' "
    "tone/pulse modifier in the dial suffix. \r...Use a comma to insert a 2 second pause. ";

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Send Later offers an hour from now until the user picks a time.
constexpr int kDefaultLaterSeconds = 3600;

}  // namespace

// ---------------------------------------------------------------------------------------------
// The dialog

TSendFaxForm::TSendFaxForm(TSendSession& session, QWidget* parent)
    : QDialog(parent), dataDir_(session.DataDir()), session_(session) {
  setObjectName(QStringLiteral("SendFaxForm"));
  setWindowTitle(QStringLiteral("Send Fax"));
  // No border icons: the dialog is left through its Close button.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

  // The session's progress shows in the standard status window; the dialog watches its attempts.
  status_ = std::make_unique<ui::TQvFaxStatus>(this);
  session_.SendFax().SetStatusDisplay(status_.get());
  previousObserver_ = session_.SetObserver(this);

  auto hint = [](QWidget* w, const char* text) {
    const QString shown = DisplayText(QString::fromLatin1(text));
    w->setToolTip(shown);
    w->setAccessibleDescription(shown);
  };
  auto* layout = new QVBoxLayout(this);
  ToLabel_ = new QLabel(QStringLiteral("To:"), this);
  ToLabel_->setObjectName(QStringLiteral("ToLabel"));
  Subjectlabel_ = new QLabel(QStringLiteral("Subject:"), this);
  Subjectlabel_->setObjectName(QStringLiteral("Subjectlabel"));
  for (QLabel* l : {ToLabel_, Subjectlabel_}) {
    l->setAccessibleName(l->text());
    l->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    layout->addWidget(l);
  }

  auto* grid = new QGridLayout;
  layout->addLayout(grid);
  auto edit = [&](const char* name, const char* caption, int row) {
    auto* label = new QLabel(QString::fromLatin1(caption), this);
    auto* e = new QLineEdit(this);
    e->setObjectName(QString::fromLatin1(name));
    label->setBuddy(e);
    e->setAccessibleName(QString(QString::fromLatin1(caption)).remove(QLatin1Char('&')));
    grid->addWidget(label, row, 0);
    grid->addWidget(e, row, 1);
    return e;
  };
  auto check = [&](const char* name, const char* caption, int row) {
    auto* c = new QCheckBox(QString::fromLatin1(caption), this);
    c->setObjectName(QString::fromLatin1(name));
    c->setAccessibleName(c->text());
    grid->addWidget(c, row, 2);
    return c;
  };
  sfPhoneNumber_ = edit("sfPhoneNumber", "&Fax Number to dial:", 0);
  hint(sfPhoneNumber_, "Enter the recipient phone # here");
  sfDialPrefix_ = edit("sfDialPrefix", "&Dial prefix (dial before the fax#):", 1);
  hint(sfDialPrefix_, kPrefixHint);
  DisablePrefix_ = check("DisablePrefix", "Disable Prefix", 1);
  hint(DisablePrefix_, "Click here to temporarily disable use of the Dial prefix");
  sfDialsuffix_ = edit("sfDialsuffix", "&Dial suffix (dial after the fax#):", 2);
  hint(sfDialsuffix_, kSuffixHint);
  DisableSuffix_ = check("DisableSuffix", "Disable Suffix", 2);
  hint(DisableSuffix_, "Click here to temporarily disable use of the Dial suffix");

  auto* setupLabel = new QLabel(QStringLiteral("Configuration:"), this);
  layout->addWidget(setupLabel);
  SetupDisplayMemo_ = new QPlainTextEdit(this);
  SetupDisplayMemo_->setObjectName(QStringLiteral("SetupDisplayMemo"));
  SetupDisplayMemo_->setReadOnly(true);
  SetupDisplayMemo_->setAccessibleName(QStringLiteral("Configuration"));
  SetupDisplayMemo_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  SetupDisplayMemo_->setMinimumSize(420, 200);
  setupLabel->setBuddy(SetupDisplayMemo_);
  layout->addWidget(SetupDisplayMemo_);

  auto button = [&](const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromLatin1(caption), this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAccessibleName(b->text().remove(QLatin1Char('&')));
    b->setAutoDefault(false);
    return b;
  };
  PreferencesButton_ = button("PreferencesButton", "Preferences");
  hint(PreferencesButton_, "Load the Preferences screen");
  SendFaxButton_ = button("SendFaxButton", "&Send Fax Now");
  hint(SendFaxButton_, "Attempt to send the fax");
  SendFaxButton_->setDefault(true);
  SendLaterButton_ = button("SendLaterButton", "Send &Later");
  hint(SendLaterButton_, "Put the fax in the outbox to be sent at the time beside this button");
  SendLaterTime_ = new QDateTimeEdit(QDateTime::currentDateTime().addSecs(kDefaultLaterSeconds), this);
  SendLaterTime_->setObjectName(QStringLiteral("SendLaterTime"));
  SendLaterTime_->setAccessibleName(QStringLiteral("Send later at"));
  // The editor inside the spin box takes the focus; it answers a screen reader by the same name.
  if (auto* edit = SendLaterTime_->findChild<QLineEdit*>()) edit->setAccessibleName(SendLaterTime_->accessibleName());
  SendLaterTime_->setCalendarPopup(true);
  SendLaterTime_->setDisplayFormat(QLocale().dateTimeFormat(QLocale::ShortFormat));
  hint(SendLaterTime_, "The date and time at which Send Later sends the fax");
  Helpbutton_ = button("Helpbutton", "&Help");
  ProblemSolverButton_ = button("ProblemSolverButton", "Technical Help");
  CloseButton_ = button("CloseButton", "C&lose");
  hint(CloseButton_, "Close the Send Fax dialog");
  auto* later = new QHBoxLayout;
  later->addWidget(SendLaterButton_);
  later->addWidget(SendLaterTime_, 1);
  layout->addLayout(later);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {SendFaxButton_, PreferencesButton_, Helpbutton_, ProblemSolverButton_, CloseButton_})
    buttons->addWidget(b);
  layout->addLayout(buttons);
  status_label_ = new QLabel(this);
  status_label_->setObjectName(QStringLiteral("status"));
  status_label_->setFrameShape(QFrame::StyledPanel);
  status_label_->setAccessibleName(QStringLiteral("Status"));
  layout->addWidget(status_label_);

  connect(SendFaxButton_, &QPushButton::clicked, this, &TSendFaxForm::SendFaxButtonClick);
  connect(CloseButton_, &QPushButton::clicked, this, &TSendFaxForm::CloseButtonClick);
  connect(SendLaterButton_, &QPushButton::clicked, this, &TSendFaxForm::SendLaterButtonClick);
  connect(PreferencesButton_, &QPushButton::clicked, this, &TSendFaxForm::PreferencesButtonClick);
  connect(Helpbutton_, &QPushButton::clicked, this, &TSendFaxForm::HelpbuttonClick);
  connect(ProblemSolverButton_, &QPushButton::clicked, this, &TSendFaxForm::ProblemSolverButtonClick);
}

TSendFaxForm::~TSendFaxForm() {
  // A session still running (the dialog destroyed from outside) ends before its port goes.
  session_.Abort();
  session_.SendFax().SetStatusDisplay(nullptr);
  session_.SetObserver(previousObserver_);
  session_.ClosePort();
  if (busy_) QApplication::restoreOverrideCursor();
}

void TSendFaxForm::SetRecipient(const QString& to) {
  ToLabel_->setText(QStringLiteral("To: ") + to);
  ToLabel_->setAccessibleName(ToLabel_->text());
}

void TSendFaxForm::SetSubject(const QString& subject) {
  Subjectlabel_->setText(QStringLiteral("Subject: ") + subject);
  Subjectlabel_->setAccessibleName(Subjectlabel_->text());
}

void TSendFaxForm::LoadDialing() {
  const TSettings& s = Settings();
  sfDialPrefix_->setText(Q(s.DialPrefix));
  sfDialsuffix_->setText(Q(s.DialSuffix));
  DisablePrefix_->setChecked(s.PrefixDisable);
  DisableSuffix_->setChecked(s.SuffixDisable);
}

void TSendFaxForm::StoreDialing(TSettings& s) const {
  s.DialPrefix = sfDialPrefix_->text().toStdString();
  s.DialSuffix = sfDialsuffix_->text().toStdString();
  s.PrefixDisable = DisablePrefix_->isChecked();
  s.SuffixDisable = DisableSuffix_->isChecked();
}

QString TSendFaxForm::ResultText() const { return session_.ResultText(); }

QString TSendFaxForm::PhoneNumberShown() const { return sfPhoneNumber_->text(); }
QString TSendFaxForm::StatusText() const { return status_label_->text(); }

void TSendFaxForm::SetStatus(const QString& text) {
  status_label_->setText(text);
  status_label_->setAccessibleDescription(text);
}

void TSendFaxForm::SetBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
  else QApplication::restoreOverrideCursor();
}

void TSendFaxForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (firstActivation_) {
    firstActivation_ = false;
    FormActivate();
  }
}

void TSendFaxForm::FormActivate() {
  sfPhoneNumber_->setText(phoneNumber_);
  SetBusy(false);
  ShowSetup();
}

void TSendFaxForm::ShowSetup() {
  SetupDisplayMemo_->setPlainText(SendConfigurationSummary(Settings()).join(QLatin1Char('\n')));
}

void TSendFaxForm::PreferencesButtonClick() {
  if (ShowPreferences(this, SettingsFileName(dataDir_.toStdString()))) LoadDialing();
  ShowSetup();
}

void TSendFaxForm::HelpbuttonClick() { ShowHelpTopic(kHelpSendFax); }
void TSendFaxForm::ProblemSolverButtonClick() { ShowHelpTopic(kHelpTechnical); }

void TSendFaxForm::CloseButtonClick() {
  if (session_.Sending()) {
    Dialogs().Beep();
    return;
  }
  session_.ClosePort();
  QDialog::reject();
}

void TSendFaxForm::reject() { CloseButtonClick(); }

void TSendFaxForm::closeEvent(QCloseEvent* event) {
  if (session_.Sending()) {
    Dialogs().Beep();
    event->ignore();
    return;
  }
  session_.ClosePort();
  QDialog::closeEvent(event);
}

void TSendFaxForm::FlowInformation(const QString& text) { Dialogs().Information(this, text); }

void TSendFaxForm::FlowError(const QString& title, const QString& text, bool stays) {
  ShowError(this, title, text, stays);
}

bool TSendFaxForm::FlowAskContinue(const QString& title, const QString& text) {
  return AskContinue(this, title, text);
}

void TSendFaxForm::AttemptEnded() { emit attemptEnded(); }

void TSendFaxForm::SendFaxButtonClick() {
  const QString number = sfPhoneNumber_->text().trimmed();
  if (number.isEmpty()) {
    Dialogs().Information(this, QStringLiteral("Phone number is blank"));
    sfPhoneNumber_->setFocus();
    return;
  }
  if (session_.Sending()) {
    Dialogs().Beep();
    return;
  }
  TDialOptions dial;
  dial.number = number;
  dial.prefix = sfDialPrefix_->text();
  dial.suffix = sfDialsuffix_->text();
  dial.prefixOff = DisablePrefix_->isChecked();
  dial.suffixOff = DisableSuffix_->isChecked();
  session_.StartAttempt(dial);
}

}  // namespace qv::app

namespace qv::app {

// The dialog closes with the chosen time; the Send command queues the fax in the outbox.
void TSendFaxForm::SendLaterButtonClick() {
  if (sfPhoneNumber_->text().trimmed().isEmpty()) {
    Dialogs().Information(this, QStringLiteral("Phone number is blank"));
    sfPhoneNumber_->setFocus();
    return;
  }
  if (session_.Sending()) {
    Dialogs().Beep();
    return;
  }
  sendLaterAt_ = SendLaterTime_->dateTime();
  session_.ClosePort();
  QDialog::done(QDialog::Accepted);
}

}  // namespace qv::app
