#include "app/forms/internet_line_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/flows/internet_line.h"
#include "app/forms/dialog_service.h"

namespace qv::app {

namespace {
template <class W>
W* Named(W* w, const char* name, const QString& accessible) {
  w->setObjectName(QString::fromLatin1(name));
  w->setAccessibleName(accessible);
  return w;
}

QLineEdit* Field(QFormLayout* form, const char* name, const QString& label, QWidget* parent) {
  auto* edit = Named(new QLineEdit(parent), name, label);
  auto* l = new QLabel(label + QLatin1Char(':'), parent);
  l->setBuddy(edit);
  form->addRow(l, edit);
  return edit;
}
}  // namespace

QString LineProgram() {
  const QString set = qEnvironmentVariable("QV_LINE_PROGRAM");
  return set.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/qvline") : set;
}

TInternetLinePanel::TInternetLinePanel(const QString& dataDir, QWidget* parent)
    : QGroupBox(QStringLiteral("Internet fax line (SIP)"), parent), dataDir_(dataDir) {
  setObjectName(QStringLiteral("InternetLine"));
  setAccessibleName(title());
  auto* l = new QVBoxLayout(this);
  chkInternetLine_ = Named(new QCheckBox(QStringLiteral("Use the Internet fax line instead of a modem port"), this),
                           "chkInternetLine", QStringLiteral("Use the Internet fax line instead of a modem port"));
  l->addWidget(chkInternetLine_);
  auto* form = new QFormLayout;
  LineServer_ = Field(form, "LineServer", QStringLiteral("Server (registrar or proxy)"), this);
  LineServer_->setPlaceholderText(QStringLiteral("sip.example.net or sip.example.net:5060"));
  LineUser_ = Field(form, "LineUser", QStringLiteral("User"), this);
  LinePassword_ = Field(form, "LinePassword", QStringLiteral("Password"), this);
  LinePassword_->setEchoMode(QLineEdit::Password);
  LineDomain_ = Field(form, "LineDomain", QStringLiteral("Domain"), this);
  LineDomain_->setPlaceholderText(QStringLiteral("optional: when empty, the server's host"));
  LineDomain_->setToolTip(QStringLiteral("The part after the @ of your SIP address, when your provider's differs from the "
                                         "server's name"));
  LineCallerId_ = Field(form, "LineCallerId", QStringLiteral("Caller ID"), this);
  l->addLayout(form);
  chkLineT38_ = Named(new QCheckBox(QStringLiteral("Use T.38 when the far end offers it"), this), "chkLineT38",
                      QStringLiteral("Use T.38 when the far end offers it"));
  l->addWidget(chkLineT38_);
  auto* test = new QHBoxLayout;
  LineTestButton_ = Named(new QPushButton(QStringLiteral("&Test"), this), "LineTestButton", QStringLiteral("Test"));
  LineTestResult_ = Named(new QLabel(this), "LineTestResult", QStringLiteral("Test result"));
  LineTestResult_->setWordWrap(true);
  test->addWidget(LineTestButton_);
  test->addWidget(LineTestResult_, 1);
  l->addLayout(test);
  connect(LineTestButton_, &QPushButton::clicked, this, &TInternetLinePanel::LineTestButtonClick);
}

void TInternetLinePanel::Load(const TLineSettings& s, bool passwordStored) {
  chkInternetLine_->setChecked(s.enabled);
  LineServer_->setText(s.server);
  LineUser_->setText(s.user);
  LineDomain_->setText(s.domain);
  LineCallerId_->setText(s.callerId);
  chkLineT38_->setChecked(s.t38);
  LinePassword_->clear();
  LinePassword_->setPlaceholderText(passwordStored ? QStringLiteral("(stored; type to change)") : QString());
}

TLineSettings TInternetLinePanel::Settings() const {
  TLineSettings s;
  s.enabled = chkInternetLine_->isChecked();
  s.server = LineServer_->text().trimmed();
  s.user = LineUser_->text().trimmed();
  s.domain = LineDomain_->text().trimmed();
  s.callerId = LineCallerId_->text().trimmed();
  s.t38 = chkLineT38_->isChecked();
  return s;
}

void TInternetLinePanel::LoadFrom(const std::string& iniFile) {
  TLineSettings line;
  try {
    line = LoadLineSettings(iniFile);
  } catch (...) {
    // An unreadable settings file shows the line unset, as for a first run.
  }
  Load(line, !line.user.isEmpty() && !TLineSecret(dataDir_).Load(line.user).isEmpty());
}

bool TInternetLinePanel::SaveTo(const std::string& iniFile, QWidget* parent) const {
  const TLineSettings line = Settings();
  SaveLineSettings(line, iniFile);
  QString why;
  if (!NewPassword().isEmpty() && !TLineSecret(dataDir_).Store(line.user, NewPassword(), &why)) {
    Dialogs().Error(parent, why);
    return false;
  }
  return true;
}

QString TInternetLinePanel::NewPassword() const { return LinePassword_->text(); }
QString TInternetLinePanel::TestResult() const { return LineTestResult_->text(); }

void TInternetLinePanel::LineTestButtonClick() {
  const TLineSettings s = Settings();
  QString password = NewPassword();
  if (password.isEmpty()) password = TLineSecret(dataDir_).Load(s.user);
  LineTestResult_->setText(QStringLiteral("Testing..."));
  LineTestButton_->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const QString result = TInternetLine::Test(LineProgram(), dataDir_, s, password, kTestTimeoutMs);
  QApplication::restoreOverrideCursor();
  LineTestButton_->setEnabled(true);
  LineTestResult_->setText(result);
}

}  // namespace qv::app
