#include "app/forms/check_fax_class_form.h"

#include "app/forms/dialog_service.h"
#include "app/flows/message_pump.h"
#include "app/flows/modem_routines.h"
#include "app/forms/placement.h"
#include "comm/com_port.h"
#include "fax/abstract_fax.h"
#include "fax/port_channel.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <string>

namespace qv::app {

TCheckFaxClassForm::TCheckFaxClassForm(comm::TQvComPort& port, fax::TQvAbstractFax& fax, int portNumber,
                                       QWidget* parent)
    : QDialog(parent), port_(port), fax_(fax), portNumber_(portNumber) {
  setObjectName(QStringLiteral("CheckFaxClassForm"));
  setWindowTitle(QStringLiteral("Finding Fax Class...Please wait"));
  auto* layout = new QVBoxLayout(this);
  auto* heading = new QLabel(QStringLiteral("Fax Class support:"), this);
  heading->setObjectName(QStringLiteral("ClassLabel"));
  heading->setAccessibleName(heading->text());
  layout->addWidget(heading);
  for (int i = 0; i < 3; ++i) {
    rows_[i] = new QLabel(this);
    rows_[i]->setObjectName(QStringLiteral("ClassRow%1").arg(i + 1));
    rows_[i]->setIndent(16);
    rows_[i]->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));  // the padded labels line up
    layout->addWidget(rows_[i]);
  }
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("StatusLabel"));
  status_->setWordWrap(true);
  status_->setMinimumWidth(440);
  layout->addSpacing(8);
  layout->addWidget(status_);
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName(QStringLiteral("OKButton"));
  ok_->setAccessibleName(QStringLiteral("OK"));
  ok_->hide();
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  layout->addLayout(buttons);
  RowsUnknown();
}

void TCheckFaxClassForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!started_) QTimer::singleShot(0, this, &TCheckFaxClassForm::Check);
}

void TCheckFaxClassForm::reject() {
  if (started_ && !done_) return;
  QDialog::reject();
}

QString TCheckFaxClassForm::Status() const { return status_->text(); }

QStringList TCheckFaxClassForm::Rows() const {
  QStringList out;
  for (QLabel* r : rows_) out << r->text();
  return out;
}

bool TCheckFaxClassForm::RowBold(int row) const { return rows_[row]->font().bold(); }

void TCheckFaxClassForm::SetStatus(const QString& text) {
  status_->setText(DisplayText(text));
  status_->setAccessibleName(status_->text());
}

void TCheckFaxClassForm::RowsUnknown() {
  const char* const texts[] = {"Class 1   : unknown", "Class 2   : unknown", "Class 2.0 : unknown"};
  for (int i = 0; i < 3; ++i) {
    rows_[i]->setText(QString::fromLatin1(texts[i]));
    rows_[i]->setAccessibleName(rows_[i]->text());
  }
}

void TCheckFaxClassForm::Run() {
  const QString n = QString::number(portNumber_);
  result_ = TFaxClassCheck{};
  SetStatus(QStringLiteral("Opening Com Port...please wait"));
  PumpMessages();
  port_.SetComNumber(portNumber_);
  std::string message;
  if (!OpenPortWithMessage(port_, message)) {
    SetStatus(QString::fromStdString(message));
    RowsUnknown();
    return;
  }
  PauseTicks(kPortSettleTicks);
  const QString notModem = QStringLiteral("No response from device on COM") + n + QStringLiteral(". May not be a modem.");
  if (!ModemResponds(port_) &&
      !Dialogs().Question(this, QStringLiteral("NO MODEM RESPONSE"),
                          DisplayText(QStringLiteral("The device on COM") + n +
                                      QStringLiteral(" is not responding and may\rnot be a modem. "
                                                     "Continue with Fax Class Analysis?")),
                          true)) {
    SetStatus(notModem);
    RowsUnknown();
    return;
  }
  if (!ResetModem(port_)) {
    Dialogs().Information(
        this, DisplayText(QStringLiteral("We are unable to continue the test. \r\rThe modem did not respond to the "
                                         "reset string:   (AT&F)\r\rIs the Communications Port (COM") +
                          n +
                          QStringLiteral(") correct? Please\rclick the Find Modem Port button on the "
                                         "Preferences screen to be sure.")));
    SetStatus(notModem);
    RowsUnknown();
    return;
  }
  SetStatus(QStringLiteral("Querying modem Fax Class support..."));
  PumpMessages();
  fax::TFaxClassSet classes;
  try {
    fax_.SetComPort(&port_);
    // A fresh channel on this opening of the port: one kept from an earlier opening would talk to
    // a dispatcher that is gone.
    fax_.SetChannel(fax::MakePortChannel(&port_));
    classes = fax_.ModemClasses();
  } catch (...) {
    classes = {};
  }
  if (classes.empty()) {
    SetStatus(QStringLiteral("Unable to determine Fax Class support from modem on Com ") + n);
    RowsUnknown();
    return;
  }
  SetStatus(QString());
  result_.Class1 = classes.contains(fax::fcClass1);
  result_.Class2 = classes.contains(fax::fcClass2);
  result_.Class2_0 = classes.contains(fax::fcClass2_0);
  auto row = [](const char* label, bool supported) {
    return QString::fromLatin1(label) + (supported ? QStringLiteral("Supported") : QStringLiteral("Not Supported"));
  };
  rows_[0]->setText(row("Class 2.0 : ", result_.Class2_0));
  rows_[1]->setText(row("Class 2   : ", result_.Class2));
  rows_[2]->setText(row("Class 1   : ", result_.Class1));
  const QString recommended = QStringLiteral(" (recommended)");
  if (result_.Class1) {
    result_.Recommended = 0;
    result_.Name = QStringLiteral("Class 1");
    rows_[2]->setText(rows_[2]->text() + recommended);
  } else if (result_.Class2) {
    result_.Recommended = 1;
    result_.Name = QStringLiteral("Class 2");
    rows_[1]->setText(rows_[1]->text() + recommended);
  } else if (result_.Class2_0) {
    result_.Recommended = 2;
    result_.Name = QStringLiteral("Class 2.0");
    QFont bold = rows_[0]->font();
    bold.setBold(true);
    rows_[0]->setFont(bold);
  }
  for (QLabel* r : rows_) r->setAccessibleName(r->text());
  if (result_.Recommended < 0) {
    SetStatus(QStringLiteral("Unable to retrieve Fax Class supportinformation from the modem on Com ") + n);
  } else {
    SetStatus(QStringLiteral("Try using the recommended Fax Class (") + result_.Name +
              QStringLiteral(") or auto detect. If you experience problems, try another supported class.\r\r"
                             "(note: US Robotics users should read the help section on troubleshooting)"));
  }
}

void TCheckFaxClassForm::Check() {
  if (started_) return;
  started_ = true;
  Run();
  Dialogs().Beep();
  fax_.SetChannel(nullptr);  // its dispatcher ends with the port
  try {
    port_.SetOpen(false);
  } catch (...) {
  }
  PumpMessages();
  ok_->show();
  ok_->setDefault(true);
  setWindowTitle(QStringLiteral("Check Fax Class"));
  done_ = true;
  emit checkFinished();
}

TFaxClassCheck CheckFaxClass(QWidget* mainWindow, comm::TQvComPort& port, fax::TQvAbstractFax& fax,
                             int portNumber) {
  TCheckFaxClassForm form(port, fax, portNumber, mainWindow);
  form.adjustSize();
  CenterOver(&form, mainWindow);
  Dialogs().Exec(&form);
  return form.Result();
}

}  // namespace qv::app
