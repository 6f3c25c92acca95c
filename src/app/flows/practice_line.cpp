#include "app/flows/practice_line.h"

#include "app/flows/call_settings.h"
#include "app/flows/internet_line.h"
#include "comm/port_names.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <utility>

namespace qv::app {

namespace {
// qvmodem tells each modem it made on a line of its own ("A <pty> <link>", "B ..."): both are up
// once it has said two lines.
constexpr int kModemLines = 2;
}  // namespace

QString ModemProgram() {
  const QString set = qEnvironmentVariable("QV_MODEM_PROGRAM");
  return set.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/qvmodem") : set;
}

TPracticeLine::TPracticeLine(QString program, QString dataDir, QObject* parent)
    : QObject(parent), program_(std::move(program)), dataDir_(std::move(dataDir)) {}

TPracticeLine::~TPracticeLine() { Stop(); }

QString TPracticeLine::Start(int timeoutMs) {
  Stop();
  process_ = std::make_unique<QProcess>();
  process_->setProgram(program_);
  // The line runs at the fax's own pace, rings and all, as a real call would: the practice shows
  // what sending and receiving look like.
  process_->setArguments({QStringLiteral("pair"), QStringLiteral("--a"), SendDevice(), QStringLiteral("--b"),
                          ReceiveDevice()});
  stopping_ = false;
  process_->start();
  if (!process_->waitForStarted(timeoutMs)) {
    process_.reset();
    return QStringLiteral("The practice line did not start: %1 cannot be run.").arg(program_);
  }
  QByteArray said;
  QDeadlineTimer deadline(timeoutMs);
  while (said.count('\n') < kModemLines && Running() && !deadline.hasExpired()) {
    process_->waitForReadyRead(50);
    said += process_->readAllStandardOutput();
  }
  if (said.count('\n') < kModemLines) {
    const QString why = QString::fromLocal8Bit(process_->readAllStandardError()).trimmed();
    Stop();
    return why.isEmpty() ? QStringLiteral("The practice line did not start.")
                         : QStringLiteral("The practice line did not start: %1").arg(why);
  }
  connect(process_.get(), &QProcess::finished, this, &TPracticeLine::Finished);
  comm::SetPortOverride(kPracticeSendCom, SendDevice().toStdString());
  comm::SetPortOverride(kPracticeReceiveCom, ReceiveDevice().toStdString());
  return {};
}

void TPracticeLine::Unmap() {
  comm::SetPortOverride(kPracticeSendCom, "");
  comm::SetPortOverride(kPracticeReceiveCom, "");
}

void TPracticeLine::Finished() {
  if (stopping_) return;
  Unmap();
  emit failed(QStringLiteral("The practice line stopped. It starts again with the program."));
}

void TPracticeLine::Stop() {
  Unmap();
  if (!process_) return;
  stopping_ = true;
  StopLineProcess(*process_);
  process_.reset();
}

}  // namespace qv::app
