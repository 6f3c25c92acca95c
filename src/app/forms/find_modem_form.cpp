#include "app/forms/find_modem_form.h"

#include "app/forms/dialog_service.h"
#include "app/flows/message_pump.h"
#include "app/flows/modem_routines.h"
#include "app/forms/placement.h"
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
#include <memory>
#include <vector>

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

QString TFindModemForm::OpenForTest(comm::TQvComPort& port, bool& busy) {
  try {
    port.SetOpen(true);
    return port.Open() ? QString() : QStringLiteral("Unknown");
  } catch (const core::EQvException& e) {
    const int code = e.ErrorCode();
    if (code == core::ecAlreadyOpen || code == core::ecHardware) {
      busy = true;
      return QStringLiteral("Port is already open (could be modem)");
    }
    if (code == core::ecBadId) return QStringLiteral("Port does not exist");
    const std::string t = core::QvErrorString(code < 0 ? -code : code);
    return t.empty() ? QStringLiteral("Unknown Error") : QString::fromStdString(t);
  } catch (const std::exception& e) {
    return QStringLiteral("ERROR: ") + QString::fromStdString(e.what());
  }
}

// All six ports are tried at once: each waits for its answer in the same window, so a search
// over six silent ports takes as long as one (settle pause and two reply waits, about 4.7 s)
// instead of six times that.
void TFindModemForm::Search() {
  if (started_) return;
  started_ = true;
  ok_->hide();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  bool busy = false;
  QString errors;
  std::array<QString, kLastComPort> rowText;
  std::vector<std::unique_ptr<comm::TQvComPort>> probes;
  try {
    std::vector<comm::TQvComPort*> open;
    std::vector<int> openNumbers;
    for (int i = kFirstComPort; i <= kLastComPort; ++i) {
      rows_[i - 1]->setText(QStringLiteral("Com %1: TESTING").arg(i));
      auto probe = std::make_unique<comm::TQvComPort>();
      probe->Assign(port_);
      probe->SetDeviceName(std::string());
      probe->SetComNumber(i);
      if (chooser_) chooser_(i, *probe);
      rowText[i - 1] = OpenForTest(*probe, busy);
      if (rowText[i - 1].isEmpty()) {
        open.push_back(probe.get());
        openNumbers.push_back(i);
      }
      probes.push_back(std::move(probe));
    }
    PumpMessages();
    const std::vector<bool> answered = ModemsRespond(open);
    for (size_t k = 0; k < open.size(); ++k) {
      rowText[openNumbers[k] - 1] = answered[k] ? QStringLiteral("MODEM") : QStringLiteral("Unknown");
      if (answered[k] && result_ == kNoModem) result_ = openNumbers[k];
    }
  } catch (const std::exception& e) {
    errors = QStringLiteral("Unknown Error\r") + QString::fromStdString(e.what());
  }
  for (auto& probe : probes) {
    try {
      probe->SetOpen(false);
    } catch (...) {
    }
  }
  probes.clear();
  for (int i = kFirstComPort; i <= kLastComPort; ++i) {
    if (rowText[i - 1].isEmpty()) continue;
    const QString row = QStringLiteral("Com %1: ").arg(i) + rowText[i - 1];
    rows_[i - 1]->setText(row);
    rows_[i - 1]->setAccessibleName(row);
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
