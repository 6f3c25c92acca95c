#include "app/store/line_settings.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <qt6keychain/keychain.h>

#include "core/ini_file.h"
#include "core/secret_file.h"

namespace qv::app {

namespace {
constexpr const char* kKeychainService = "Quorvane Internet fax line";
// A secret service that does not answer within this is taken as absent.
constexpr int kKeychainTimeoutMs = 5000;

std::string Std(const QString& s) { return s.toStdString(); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

// Runs a keychain job to its end, bounded.
bool RunJob(QKeychain::Job& job) {
  QEventLoop loop;
  QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
  QTimer::singleShot(kKeychainTimeoutMs, &loop, &QEventLoop::quit);
  job.setAutoDelete(false);
  job.start();
  loop.exec();
  return job.error() == QKeychain::NoError;
}
}  // namespace

QString TLineSettings::RegistrarUri() const {
  const QString s = server.trimmed();
  if (s.isEmpty()) return {};
  return s.startsWith(QStringLiteral("sip:")) ? s : QStringLiteral("sip:") + s;
}

TLineSettings LoadLineSettings(const std::string& iniFile) {
  core::TIniFile ini(iniFile);
  TLineSettings s;
  s.enabled = ini.ReadBool(kLineSection, "Enabled", false);
  s.server = Q(ini.ReadString(kLineSection, "Server", ""));
  s.user = Q(ini.ReadString(kLineSection, "User", ""));
  s.domain = Q(ini.ReadString(kLineSection, "Domain", ""));
  s.callerId = Q(ini.ReadString(kLineSection, "CallerID", ""));
  s.t38 = ini.ReadBool(kLineSection, "T38", true);
  return s;
}

void SaveLineSettings(const TLineSettings& s, const std::string& iniFile) {
  core::TIniFile ini(iniFile);
  ini.BeginUpdate();
  ini.WriteBool(kLineSection, "Enabled", s.enabled);
  ini.WriteString(kLineSection, "Server", Std(s.server.trimmed()));
  ini.WriteString(kLineSection, "User", Std(s.user.trimmed()));
  ini.WriteString(kLineSection, "Domain", Std(s.domain.trimmed()));
  ini.WriteString(kLineSection, "CallerID", Std(s.callerId.trimmed()));
  ini.WriteBool(kLineSection, "T38", s.t38);
  ini.CommitUpdate();
}

TLineSecret::TLineSecret(const QString& dataDir) : dataDir_(dataDir) {}

bool TLineSecret::SecretServiceAvailable() { return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"); }

bool TLineSecret::Store(const QString& user, const QString& password, QString* error) {
  if (password.contains(QLatin1Char('\n')) || password.contains(QLatin1Char('\r'))) {
    if (error) *error = QStringLiteral("A password cannot hold a line break.");
    return false;
  }
  if (SecretServiceAvailable()) {
    QKeychain::WritePasswordJob job(QString::fromLatin1(kKeychainService));
    job.setKey(user);
    job.setTextData(password);
    if (RunJob(job)) {
      QFile::remove(FallbackFile());  // one place only: no stale copy left in a file
      return true;
    }
  }
  const std::string why = core::WriteSecretFile(Std(FallbackFile()), Std(password));
  if (!why.empty() && error) *error = Q(why);
  return why.empty();
}

QString TLineSecret::Load(const QString& user) const {
  if (SecretServiceAvailable()) {
    QKeychain::ReadPasswordJob job(QString::fromLatin1(kKeychainService));
    job.setKey(user);
    if (RunJob(job)) return job.textData();
  }
  std::string secret;
  if (!core::ReadSecretFile(Std(FallbackFile()), secret).empty()) return {};
  return Q(secret);
}

}  // namespace qv::app
