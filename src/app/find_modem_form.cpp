#include "app/find_modem_form.h"

#include "app/dialog_service.h"
#include "app/message_pump.h"
#include "app/modem_routines.h"
#include "app/placement.h"
#include "comm/com_port.h"
#include "core/error_codes.h"
#include "core/exceptions.h"
#include "core/string_table.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <exception>

namespace qv::app {

namespace {
const char* const kTesting = "Testing Communications ports...please wait.";
}

TFindModemForm::TFindModemForm(comm::TQvComPort& port, QWidget* parent) : QDialog(parent), port_(port) {
  setObjectName(QStringLiteral("FindModemForm"));
  setWindowTitle(QStringLiteral("Finding Modem...Please wait"));
  auto* layout = new QVBoxLayout(this);
  auto* heading = new QLabel(QStringLiteral("Communications Ports:"), this);
  heading->setObjectName(QStringLiteral("PortsLabel"));
  layout->addWidget(heading);
  for (int i = 0; i < kLastComPort; ++i) {
    rows_[i] = new QLabel(QStringLiteral("Com %1:").arg(i + 1), this);
    rows_[i]->setObjectName(QStringLiteral("ComLabel%1").arg(i + 1));
    rows_[i]->setIndent(16);
    layout->addWidget(rows_[i]);
  }
  summary_ = new QLabel(QString::fromLatin1(kTesting), this);
  summary_->setObjectName(QStringLiteral("SummaryLabel"));
  summary_->setWordWrap(true);
  summary_->setMinimumWidth(420);
  layout->addSpacing(8);
  layout->addWidget(summary_);
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName(QStringLiteral("OKButton"));
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  layout->addLayout(buttons);
  for (QLabel* l : rows_) l->setAccessibleName(l->text());
  heading->setAccessibleName(heading->text());
  summary_->setAccessibleName(QStringLiteral("Search result"));
  ok_->setAccessibleName(QStringLiteral("OK"));
}

void TFindModemForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!started_) QTimer::singleShot(0, this, &TFindModemForm::Search);
}

void TFindModemForm::reject() {
  if (started_ && !done_) return;  // the port is in use until the round ends
  QDialog::reject();
}

QString TFindModemForm::RowText(int port) const {
  return port >= 1 && port <= kLastComPort ? rows_[port - 1]->text() : QString();
}

QString TFindModemForm::Summary() const { return summary_->text(); }

QString TFindModemForm::TestPort(int n, bool& busy) {
  QString text;
  try {
    port_.SetOpen(true);
    bool responds = false;
    try {
      responds = port_.Open() && ModemResponds(port_);
    } catch (...) {
      responds = false;
    }
    if (responds) {
      text += QStringLiteral("MODEM");
      if (result_ == kNoModem) result_ = n;
    } else {
      text += QStringLiteral("Unknown");
    }
  } catch (const core::EQvException& e) {
    const int code = e.ErrorCode();
    if (code == core::ecAlreadyOpen || code == core::ecHardware) {
      text += QStringLiteral("Port is already open (could be modem)");
      busy = true;
    } else if (code == core::ecBadId) {
      text += QStringLiteral("Port does not exist");
    } else {
      const std::string t = core::QvErrorString(code < 0 ? -code : code);
      text += t.empty() ? QStringLiteral("Unknown Error") : QString::fromStdString(t);
    }
  } catch (const std::exception& e) {
    text += QStringLiteral("ERROR: ") + QString::fromStdString(e.what());
  }
  return text;
}

void TFindModemForm::Search() {
  if (started_) return;
  started_ = true;
  ok_->hide();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  bool busy = false;
  QString errors;
  try {
    for (int i = kFirstComPort; i <= kLastComPort; ++i) {
      rows_[i - 1]->setText(QStringLiteral("Com %1: TESTING").arg(i));
      PumpMessages();
      port_.SetComNumber(i);
      if (chooser_) chooser_(i);
      QString row = QStringLiteral("Com %1: ").arg(i) + TestPort(i, busy);
      port_.SetOpen(false);
      rows_[i - 1]->setText(row);
      rows_[i - 1]->setAccessibleName(row);
    }
  } catch (const std::exception& e) {
    errors = QStringLiteral("Unknown Error\r") + QString::fromStdString(e.what());
    try {
      port_.SetOpen(false);
    } catch (...) {
    }
  }
  QApplication::restoreOverrideCursor();
  QString summary;
  if (!errors.isEmpty()) {
    summary = DisplayText(errors);
  } else if (result_ == kNoModem) {
    summary = busy ? QStringLiteral(
                         "No modem found. Please make sure that all communication programs "
                         "(internet, AOL, etc) are closed, and then try again. If you know which "
                         "Com port your modem uses, you can also just set the Port to that setting")
                   : QStringLiteral(
                         "No modem found. If you know which Com port your modem uses, you can also "
                         "just set the Port to that setting");
  } else {
    summary = QStringLiteral("A modem was found on Com Port %1. We suggest setting the Port as Com %1.")
                  .arg(result_);
  }
  summary_->setText(summary);
  summary_->setAccessibleName(summary);
  ok_->show();
  ok_->setDefault(true);
  setWindowTitle(QStringLiteral("Find Modem"));
  done_ = true;
  Dialogs().Beep();
  emit searchFinished();
}

int FindModem(QWidget* mainWindow, comm::TQvComPort& port) {
  TFindModemForm form(port, mainWindow);
  form.adjustSize();
  CenterOver(&form, mainWindow);
  Dialogs().Exec(&form);
  return form.Result();
}

}  // namespace qv::app
