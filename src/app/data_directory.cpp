#include "app/data_directory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace qv::app {

QString WithTrailingSlash(const QString& dir) {
  if (dir.endsWith(QLatin1Char('/'))) return dir;
  return dir + QLatin1Char('/');
}

QString ResolveDataDirectory(const QString& programDir, const QString& homeDir) {
  // access() asks the kernel (permissions, read-only mounts) rather than guessing from mode bits.
  const QByteArray native = QFile::encodeName(programDir);
  if (!programDir.isEmpty() && ::access(native.constData(), W_OK | X_OK) == 0) {
    return WithTrailingSlash(QDir::cleanPath(programDir));
  }
  const QString fallback = QDir::cleanPath(homeDir + QStringLiteral("/.local/share/Quorvane"));
  QDir().mkpath(fallback);
  return WithTrailingSlash(fallback);
}

QString DataDirectory() {
  return ResolveDataDirectory(QCoreApplication::applicationDirPath(), QDir::homePath());
}

}  // namespace qv::app
