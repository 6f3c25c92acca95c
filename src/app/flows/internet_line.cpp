#include "app/flows/internet_line.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QHash>

#include <utility>

#include "comm/port_names.h"
#include "core/secret_file.h"
#include "line/line_endpoint.h"
#include "line/line_status.h"
#include "line/sip_uri.h"

namespace qv::app {

namespace {
// A line that dies is started again this many times; after that the person is told.
constexpr int kMaxRestarts = 3;
constexpr int kStopGraceMs = 5000;

QString Words(std::string_view s) { return QString::fromLatin1(s.data(), static_cast<int>(s.size())); }

// The lines running now, by the device their modem is on: the flows know a call's port, not the
// line object behind it.
QHash<QString, TInternetLine*>& Lines() {
  static QHash<QString, TInternetLine*> lines;
  return lines;
}

}  // namespace

QString LineStatusText(const QString& line) {
  const std::string s = line.toStdString();
  if (s.rfind(line::status::kRegistered, 0) == 0) return QStringLiteral("Registered with the server.");
  if (s.rfind(line::status::kRegistrationFailed, 0) != 0) return {};
  const std::string why = s.substr(line::status::kRegistrationFailed.size());
  if (why == line::status::kWrongPassword) return QStringLiteral("Wrong password: the server refused the user name or password.");
  if (why == line::status::kNoAnswer) return QStringLiteral("No answer from the server.");
  if (why == line::status::kDnsFailure) return QStringLiteral("DNS failure: the server's name was not found.");
  // "refused (404 Not Found)": the server's code and phrase, said once.
  std::string answer = why;
  if (answer.rfind(line::status::kRefusedOpen, 0) == 0 && answer.back() == ')')
    answer = answer.substr(line::status::kRefusedOpen.size(), answer.size() - line::status::kRefusedOpen.size() - 1);
  return QStringLiteral("The server refused the registration: %1.").arg(QString::fromStdString(answer));
}

TInternetLine::TInternetLine(QString program, QString dataDir, QString name, QObject* parent)
    : QObject(parent), program_(std::move(program)), dataDir_(std::move(dataDir)), name_(std::move(name)) {
  passwordFile_ = dataDir_ + name_ + QStringLiteral(".secret");
  Lines().insert(Device(), this);
}

TInternetLine::~TInternetLine() {
  Stop();
  if (Lines().value(Device()) == this) Lines().remove(Device());
}

QString TInternetLine::TakeCallMedia() {
  // The media line comes early in the call; whatever qvline has said by now is read first.
  if (process_) {
    process_->waitForReadyRead(0);
    ReadOutput();
  }
  return std::exchange(media_, QString());
}

QString TakeLineCallLogEntry(int comNumber, int bps) {
  const QString device = QString::fromStdString(comm::PortDevicePath(comNumber));
  TInternetLine* line = device.isEmpty() ? nullptr : Lines().value(device);
  const QString media = line ? line->TakeCallMedia() : QString();
  if (media.isEmpty()) return {};
  return QStringLiteral("Internet line: ") + media + (bps > 0 ? QStringLiteral(", %1 bps").arg(bps) : QString());
}

QString TInternetLine::Start(const TLineSettings& settings, const QString& password, int timeoutMs) {
  Stop();
  settings_ = settings;
  restarts_ = 0;
  if (settings.RegistrarUri().isEmpty() || settings.user.trimmed().isEmpty())
    return QStringLiteral("The Internet fax line needs a server and a user name.");
  password_ = password;
  const QString launched = Launch();
  if (!launched.isEmpty()) return launched;
  QDeadlineTimer deadline(timeoutMs);
  while (!ready_ && Running() && !deadline.hasExpired()) process_->waitForReadyRead(50), ReadOutput();
  if (!ready_) {
    const QString said = process_ ? QString::fromLocal8Bit(process_->readAllStandardError()).trimmed() : QString();
    Stop();
    return said.isEmpty() ? QStringLiteral("The Internet fax line did not start.")
                          : QStringLiteral("The Internet fax line did not start: %1").arg(said);
  }
  return {};
}

QString TInternetLine::Launch() {
  std::string host, address;
  int port = 0, localPort = 0;
  if (!line::SipUriHostPort(settings_.RegistrarUri().toStdString(), host, port))
    return QStringLiteral("\"%1\" is not a server address.").arg(settings_.server);
  // The same words as qvline's own report of a name that does not resolve.
  if (!line::HostResolves(host))
    return LineStatusText(Words(line::status::kRegistrationFailed) + Words(line::status::kDnsFailure));
  if (!line::LocalEndpoint(host, port, address, localPort))
    return QStringLiteral("This computer has no network route to the server %1.").arg(settings_.server);
  QStringList args = {QStringLiteral("--link"), Device(),
                      QStringLiteral("--sip-listen"), QString::fromStdString(address) + QLatin1Char(':') + QString::number(localPort),
                      QStringLiteral("--registrar"), settings_.RegistrarUri(),
                      QStringLiteral("--user"), settings_.user.trimmed(),
                      QStringLiteral("--password-file"), passwordFile_,
                      QStringLiteral("--t38"), settings_.t38 ? QStringLiteral("on") : QStringLiteral("off"),
                      QStringLiteral("--log"), LogFile()};
  if (registerTimeoutSeconds_ > 0) args << QStringLiteral("--register-timeout") << QString::number(registerTimeoutSeconds_);
  if (!settings_.domain.trimmed().isEmpty()) args << QStringLiteral("--domain") << settings_.domain.trimmed();
  if (!settings_.callerId.trimmed().isEmpty()) args << QStringLiteral("--caller-id") << settings_.callerId.trimmed();
  // qvline reads the password at its start; the file goes again once its modem is up.
  const std::string why = core::WriteSecretFile(passwordFile_.toStdString(), password_.toStdString());
  if (!why.empty()) return QString::fromStdString(why);
  process_ = std::make_unique<QProcess>();
  process_->setProgram(program_);
  process_->setArguments(args);
  connect(process_.get(), &QProcess::readyReadStandardOutput, this, &TInternetLine::ReadOutput);
  connect(process_.get(), &QProcess::finished, this, &TInternetLine::Finished);
  ready_ = false;
  stopping_ = false;
  pending_.clear();
  process_->start();
  if (!process_->waitForStarted(5000)) return QStringLiteral("Cannot start %1.").arg(program_);
  return {};
}

void TInternetLine::ReadOutput() {
  if (!process_) return;
  pending_ += QString::fromLocal8Bit(process_->readAllStandardOutput());
  int end;
  while ((end = pending_.indexOf(QLatin1Char('\n'))) >= 0) {
    const QString line = pending_.left(end).trimmed();
    pending_.remove(0, end + 1);
    if (line.startsWith(Words(line::status::kMedia))) {
      media_ = line.mid(static_cast<int>(line::status::kMedia.size()));
      continue;
    }
    if (line.startsWith(Words(line::status::kReady))) {
      ready_ = true;
      QFile::remove(passwordFile_);
      continue;
    }
    const QString text = LineStatusText(line);
    if (!text.isEmpty() && text != status_) {
      status_ = text;
      emit statusChanged(status_);
    }
  }
}

QString TInternetLine::WaitForRegistration(int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  status_.clear();
  while (status_.isEmpty() && Running() && !deadline.hasExpired()) process_->waitForReadyRead(50), ReadOutput();
  if (!status_.isEmpty()) return status_;
  return Running() ? LineStatusText(Words(line::status::kRegistrationFailed) + Words(line::status::kNoAnswer))
                   : QStringLiteral("The Internet fax line stopped.");
}

void TInternetLine::Finished() {
  if (stopping_ || !process_) return;
  // The line died under the program: start it again, a few times, then say so.
  if (restarts_ < kMaxRestarts) {
    ++restarts_;
    process_.release()->deleteLater();
    if (Launch().isEmpty()) return;
  }
  emit failed(QStringLiteral("The Internet fax line stopped and could not be started again."));
}

void StopLineProcess(QProcess& process) {
  if (process.state() == QProcess::NotRunning) return;
  process.terminate();
  if (!process.waitForFinished(kStopGraceMs)) {
    process.kill();
    process.waitForFinished(kStopGraceMs);
  }
}

void TInternetLine::Stop() {
  if (process_) {
    stopping_ = true;
    StopLineProcess(*process_);
    process_.reset();
  }
  QFile::remove(passwordFile_);  // qvline read it at its start; no copy stays behind
}

QString TInternetLine::Test(const QString& program, const QString& dataDir, const TLineSettings& settings,
                            const QString& password, int timeoutMs) {
  TInternetLine line(program, dataDir, QStringLiteral("internet-line-test"));
  line.SetRegisterTimeout(kTestRegisterTimeoutSeconds);
  const QString why = line.Start(settings, password);
  if (!why.isEmpty()) return why;
  const QString result = line.WaitForRegistration(timeoutMs);
  line.Stop();
  return result;
}

}  // namespace qv::app
