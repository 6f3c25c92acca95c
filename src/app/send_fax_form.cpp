#include "app/send_fax_form.h"

#include "app/dialog_service.h"
#include "app/help_browser.h"
#include "app/message_pump.h"
#include "app/modem_routines.h"
#include "app/preferences.h"
#include "app/settings.h"
#include "app/show_error_form.h"
#include "comm/com_port.h"
#include "core/error_text.h"
#include "core/exceptions.h"
#include "core/file_util.h"
#include "fax/send_fax.h"
#include "ui/fax_status_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace qv::app {

namespace {

const char* const kFaxFileExtension = "QVF";
const char* const kS7 = "S7=";
constexpr int kS7ChunkLength = 6;   // "S7=" and up to three digits
constexpr int kS7ShortestValue = 4;  // "S7=" and at least one digit

const char* const kPrefixHint =
    "Enter the dial prefix here (i.e. calling card number).  \r...Do not include 'ATD' or a 'T' or 'P' "
    "tone/pulse modifier in the dial prefix. \r...Use a comma to insert a 2 second pause. ";
const char* const kSuffixHint =
    "Enter the dial suffix (i.e. an access code) here.\r...Do not include 'ATD' or a 'T' or 'P' "
    "tone/pulse modifier in the dial suffix. \r...Use a comma to insert a 2 second pause. ";
const char* const kFindModemAdvice =
    ") correct? Please\r\nclick on the Find Modem button on the Preferences screen to be sure.";

QString Q(const std::string& s) { return QString::fromStdString(s); }

uint16_t Clamp16(int v) {
  return static_cast<uint16_t>(std::clamp(v, 0, int(std::numeric_limits<uint16_t>::max())));
}

QString SummaryClassName(int code) {
  switch (code) {
    case 0: return QStringLiteral("Autodetect");
    case 1: return QStringLiteral("Class 1");
    case 2: return QStringLiteral("Class 2");
    case 3: return QStringLiteral("Class 2.0");
    default: return QString();
  }
}

fax::TFaxClass FaxClassOf(int stored) {
  switch (stored) {
    case 0: return fax::fcDetect;
    case 1: return fax::fcClass1;
    case 2: return fax::fcClass2;
    case 3: return fax::fcClass2_0;
    default: return fax::fcDetect;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Rules of the dialog that need no window

int DialWaitFromInit(const std::string& initString) {
  const QString upper = Q(initString).toUpper();
  const int at = upper.indexOf(QLatin1String(kS7));
  if (at < 0) return kDefaultDialWait;
  QString chunk = upper.mid(at, kS7ChunkLength);
  while (!chunk.isEmpty() && !chunk.back().isDigit()) chunk.chop(1);
  if (chunk.size() < kS7ShortestValue) return kDefaultDialWait;
  bool ok = false;
  const int seconds = chunk.mid(int(std::char_traits<char>::length(kS7))).toInt(&ok);
  if (!ok) return kDefaultDialWait;
  return std::max(seconds, kMinimumDialWait);
}

QString SendHeaderLine(const TSettings& s, const QDate& date, const QTime& time) {
  const QLocale locale = QLocale::system();
  QString h = QStringLiteral("Sent");
  if (!Q(s.Name + s.Fax).trimmed().isEmpty()) h += QStringLiteral(" by");
  if (!s.Name.empty()) h += QStringLiteral(": ") + Q(s.Name) + QStringLiteral("    ");
  if (!s.Fax.empty()) h += QStringLiteral("         $I          ");
  h += QString(11, QLatin1Char(' ')) + locale.toString(date, QLocale::ShortFormat) + QString(4, QLatin1Char(' ')) +
       locale.toString(time, QLocale::ShortFormat);
  h += QStringLiteral("              Page $P of $N");
  return h;
}

QStringList SendConfigurationSummary(const TSettings& s) {
  QStringList out;
  out << QStringLiteral("Communications Port: COM") + QString::number(s.ComPort + 1)
      << QStringLiteral("Fax Class: ") + SummaryClassName(s.FaxClass)
      << QStringLiteral("Transfer Rate: ") + QString::number(s.MaximumBPS)
      << QStringLiteral("Dialing with: ") + (s.ToneOrPulse == 0 ? QStringLiteral("Tone") : QStringLiteral("Pulse"))
      << QStringLiteral("Modem Init String :") + Q(s.InitString)
      << QStringLiteral("Modem Reset String :") + Q(s.ResetString)
      << QStringLiteral("Post Reset String :") + Q(s.ResetAfterString)
      << QStringLiteral("Station ID (Fax #) :") + Q(s.Fax)
      << QStringLiteral("Dial Attempts :") + QString::number(s.DialAttempts)
      << QStringLiteral("Retry in :") + QString::number(s.RetryWait) + QStringLiteral(" seconds");
  if (s.BlindDial) out << QStringLiteral("Blind Dial is ACTIVE");
  if (s.IgnoreBusy) out << QStringLiteral("Ignore Busy is ACTIVE");
  if (s.ECM) out << QStringLiteral("Using Error Correction");
  return out;
}

std::string WithAtPrefix(const std::string& text) {
  return Q(text).toUpper().contains(QLatin1String("AT")) ? text : "AT" + text;
}

QString LogDateTime(const QDateTime& when) {
  const QLocale locale = QLocale::system();
  return locale.toString(when.date(), QLocale::LongFormat) + QLatin1Char(' ') +
         locale.toString(when.time(), QLocale::LongFormat);
}

void TSendLog::Clear() {
  lines_.clear();
  last_.clear();
}

void TSendLog::Add(const QString& line) {
  if (!lines_.isEmpty() && line == last_) return;
  lines_ << line;
  last_ = line;
}

void TSendLog::Save(const std::string& path) {
  Add(QStringLiteral("Finish: ") + LogDateTime(QDateTime::currentDateTime()));
  QString text;
  for (const QString& l : lines_) text += l + QStringLiteral("\r\n");
  const QByteArray bytes = text.toLocal8Bit();
  core::AtomicWriteFile(path, std::string_view(bytes.constData(), size_t(bytes.size())));
}

// ---------------------------------------------------------------------------------------------
// The dialog

TSendFaxForm::TSendFaxForm(const QString& dataDir, QWidget* parent)
    : QDialog(parent), dataDir_(dataDir) {
  setObjectName(QStringLiteral("SendFaxForm"));
  setWindowTitle(QStringLiteral("Send Fax"));
  // No border icons: the dialog is left through its Close button.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

  port_ = std::make_unique<comm::TQvComPort>();
  ConfigureFormPort(*port_);
  status_ = std::make_unique<ui::TQvFaxStatus>(this);
  fax_ = std::make_unique<fax::TQvSendFax>();
  fax_->SetComPort(port_.get());
  fax_->SetStatusDisplay(status_.get());
  fax_->FaxClass = fax::fcUnknown;
  fax_->FaxFileExt = kFaxFileExtension;
  fax_->EnhTextEnabled = true;
  // Handled from the window loop: the finish shows a modal box and closes the port, which must not
  // happen inside the engine's own delivery of its messages.
  fax_->OnFaxFinish = [this](fax::TQvAbstractFax*, int code) {
    QMetaObject::invokeMethod(this, [this, code] { QvSendFax1FaxFinish(code); }, Qt::QueuedConnection);
  };

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
  Helpbutton_ = button("Helpbutton", "&Help");
  ProblemSolverButton_ = button("ProblemSolverButton", "Technical Help");
  CloseButton_ = button("CloseButton", "C&lose");
  hint(CloseButton_, "Close the Send Fax dialog");
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
  connect(PreferencesButton_, &QPushButton::clicked, this, &TSendFaxForm::PreferencesButtonClick);
  connect(Helpbutton_, &QPushButton::clicked, this, &TSendFaxForm::HelpbuttonClick);
  connect(ProblemSolverButton_, &QPushButton::clicked, this, &TSendFaxForm::ProblemSolverButtonClick);
}

TSendFaxForm::~TSendFaxForm() {
  // A session still running (the dialog destroyed from outside) ends before its port goes.
  if (fax_->Active()) fax_->AbortFax();
  fax_->SetStatusDisplay(nullptr);
  fax_->OnFaxFinish = nullptr;
  ClosePort();
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

QString TSendFaxForm::ResultText() const { return delivered_ ? QStringLiteral("Sent") : resultText_; }

QString TSendFaxForm::PhoneNumberShown() const { return sfPhoneNumber_->text(); }
QString TSendFaxForm::StatusText() const { return status_label_->text(); }
std::string TSendFaxForm::LogPath() const { return (dataDir_ + QLatin1String(kSendLogFile)).toStdString(); }

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
  if (sending_) {
    Dialogs().Beep();
    return;
  }
  ClosePort();
  QDialog::reject();
}

void TSendFaxForm::reject() { CloseButtonClick(); }

void TSendFaxForm::closeEvent(QCloseEvent* event) {
  if (sending_) {
    Dialogs().Beep();
    event->ignore();
    return;
  }
  ClosePort();
  QDialog::closeEvent(event);
}

void TSendFaxForm::ClosePort() {
  fax_->SetChannel(nullptr);  // its dispatcher ends with the port
  try {
    if (port_->Open()) port_->SetOpen(false);
  } catch (...) {
  }
}

void TSendFaxForm::ResetAttempt() {
  SetBusy(false);
  ClosePort();
  sending_ = false;
  SetStatus(QString());
}

// A failure before the call: the attempt ends and the user reads why; the text also becomes the
// attempt's result, so the record says what went wrong.
void TSendFaxForm::FailBeforeCall(const QString& title, const QString& text) {
  ResetAttempt();
  resultText_ = title;
  ShowError(this, title, text);
}

void TSendFaxForm::SendFaxButtonClick() {
  const QString number = sfPhoneNumber_->text().trimmed();
  if (number.isEmpty()) {
    Dialogs().Information(this, QStringLiteral("Phone number is blank"));
    sfPhoneNumber_->setFocus();
    return;
  }
  if (sending_) {
    Dialogs().Beep();
    return;
  }
  const TSettings& s = Settings();
  sending_ = true;
  SetBusy(true);
  log_.Clear();
  SetStatus(QStringLiteral("Opening communications port..."));
  portNumber_ = s.ComPort + 1;
  const QString n = QString::number(portNumber_);
  log_.Add(QStringLiteral("Start:") + LogDateTime(QDateTime::currentDateTime()));
  log_.Add(QStringLiteral("Opening com port: COM") + n);

  port_->SetComNumber(portNumber_);
  std::string message;
  if (!OpenPortWithMessage(*port_, message)) {
    log_.Add(QStringLiteral("Error opening com port: COM") + n);
    log_.Add(QStringLiteral("Message:") + Q(message));
    FailBeforeCall(QStringLiteral("Error Opening Communications Port"),
                   Q(message) + QStringLiteral("\r\n\r\nIs the Communications Port (COM") + n +
                       QLatin1String(kFindModemAdvice));
    log_.Save(LogPath());
    emit attemptEnded();
    return;
  }

  log_.Add(QStringLiteral("Opened com port OK"));
  log_.Add(QStringLiteral("Checking for modem"));
  if (!ModemResponds(*port_)) {
    log_.Add(QStringLiteral("Error checking for modem"));
    const QString title = QStringLiteral("No Response From Modem");
    const QString text =
        QStringLiteral("We did not receive a modem response from COM") + n +
        QStringLiteral(".\r\n\r\nTo verify the communications port, please click on the Find Modem button on "
                       "the Preferences screen.\r\n\r\nIf you are sure there is a modem on COM") +
        n + QStringLiteral(", press CONTINUE\r\nto continue, otherwise press OK to stop the fax session.");
    SetBusy(false);
    const bool goOn = AskContinue(this, title, text);
    if (!goOn) {
      ResetAttempt();
      resultText_ = title;
      log_.Add(QStringLiteral("Exit"));
      log_.Save(LogPath());
      emit attemptEnded();
      return;
    }
    SetBusy(true);
  }

  if (!s.ResetString.empty()) {
    SetStatus(QStringLiteral("Sending reset string..."));
    log_.Add(QStringLiteral("Sending reset string: ") + Q(s.ResetString));
    if (!SendInitString(*port_, s.ResetString)) {
      log_.Add(QStringLiteral("Failure sending reset string: ") + Q(s.ResetString));
      FailBeforeCall(QStringLiteral("Unable to Continue"),
                     QStringLiteral("We are unable to continue the fax session. \r\n\r\nThe modem did not respond "
                                    "to the reset string:   (") +
                         Q(s.ResetString) + QStringLiteral(")\r\n\r\nIs the Communications Port (COM") + n +
                         QLatin1String(kFindModemAdvice));
      log_.Add(QStringLiteral("Exiting..."));
      log_.Save(LogPath());
      emit attemptEnded();
      return;
    }
  }

  const QString prefix = sfDialPrefix_->text();
  const QString suffix = sfDialsuffix_->text();
  const bool prefixOff = DisablePrefix_->isChecked();
  const bool suffixOff = DisableSuffix_->isChecked();
  log_.Add(QStringLiteral("Desired BPS: ") + QString::number(s.MaximumBPS));
  if (s.ECM) log_.Add(QStringLiteral("Desired ECM: ON"));
  if (s.BlindDial) log_.Add(QStringLiteral("Blind Dial: ON"));
  if (s.IgnoreBusy) log_.Add(QStringLiteral("Ignore Busy: ON"));
  log_.Add(s.RenegotiateBetween ? QStringLiteral("Negotiate between pages: ON")
                                : QStringLiteral("Negotiate between pages: OFF"));
  log_.Add(QStringLiteral("Fax#: ") + number);
  if (!prefixOff) log_.Add(QStringLiteral("Dial Prefix: ") + prefix);
  if (!suffixOff) log_.Add(QStringLiteral("Dial Suffix: ") + suffix);
  if (s.ToneOrPulse != 0) log_.Add(QStringLiteral("Using Pulse Dialing ***"));
  log_.Add(QStringLiteral("Fax Class: ") + Q(FaxClassName(s.FaxClass)));
  log_.Add(QStringLiteral("StationID: ") + Q(s.Fax));
  log_.Add(QStringLiteral("User INIT String: ") + Q(s.InitString));

  try {
    fax::TQvSendFax& f = *fax_;
    f.DesiredBPS = Clamp16(s.MaximumBPS);
    f.DesiredECM = s.ECM;
    f.BlindDial = s.BlindDial;
    f.DetectBusy = !s.IgnoreBusy;
    f.SetFaxFile(faxFile_.toStdString());
    f.CoverFile.clear();
    f.PhoneNumber = (number + (suffixOff ? QString() : suffix)).toStdString();
    f.UseMPS = !s.RenegotiateBetween;
    f.ToneDial = s.ToneOrPulse == 0;
    f.FaxClass = FaxClassOf(s.FaxClass);
    f.DialAttempts = Clamp16(s.DialAttempts);
    f.DialRetryWait = Clamp16(s.RetryWait);
    f.DialWait = Clamp16(DialWaitFromInit(s.InitString));
    f.StationID = s.Fax;
    f.DialPrefix = prefixOff ? std::string() : prefix.toStdString();
    if (!s.InitString.empty()) f.SetModemInit(WithAtPrefix(s.InitString));
    headerLine_ = SendHeaderLine(s, QDate::currentDate(), QTime::currentTime());
    f.HeaderLine = headerLine_.toStdString();
    f.EnhTextEnabled = !s.UseAlternateHeaderFont;
    SetStatus(QString());
    SetBusy(false);
    f.StartSending();
  } catch (const std::exception& e) {
    // The session never started: nothing will finish it, so the attempt ends here and says why.
    const int code = core::ErrorCodeFromException(e);
    const QString why = code != 0 ? Q(core::ErrorText(code)) : Q(e.what());
    ResetAttempt();
    log_.Add(QStringLiteral("Error..."));
    log_.Add(QStringLiteral("Message:") + why);
    log_.Save(LogPath());
    resultText_ = why;
    ShowError(this, QStringLiteral("Fax Failure"),
              QStringLiteral("We have received an error message while trying to send the fax\r\n\r\nError message: ") +
                  why + QStringLiteral("\r\n\r\n"));
    emit attemptEnded();
  }
}

void TSendFaxForm::QvSendFax1FaxFinish(int code) {
  const QString message = Q(core::ErrorText(code));
  resultText_ = message;
  log_.Add(QStringLiteral("Result: ") + resultText_);
  if (code == 0 || resultText_.toUpper() == QLatin1String("OK")) {
    resultText_ = QStringLiteral("Sent");
    delivered_ = true;
  }
  PumpMessages();
  const TSettings& s = Settings();
  if (!s.ResetAfterString.empty()) {
    SetStatus(QStringLiteral("Sending AFTER reset string..."));
    SendInitString(*port_, s.ResetAfterString);
  }
  ClosePort();
  PumpMessages();
  sending_ = false;
  SetStatus(QString());
  if (resultText_ != QLatin1String("Sent")) {
    ShowError(this, QStringLiteral("Fax Failure"),
              QStringLiteral("We have received an error message while trying to send the fax\r\n\r\nError message: ") +
                  message + QStringLiteral("\r\n\r\n"));
  } else {
    Dialogs().Information(this, QStringLiteral("Fax sent successfully"));
  }
  log_.Save(LogPath());
  emit attemptEnded();
}

}  // namespace qv::app
