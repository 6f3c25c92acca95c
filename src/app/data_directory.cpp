#include "app/data_directory.h"

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

DataDirectoryChoice ChooseDataDirectory(const QStringList& args, const QString& envDir,
                                        const QString& programDir, const QString& homeDir) {
  QString named;
  bool fromArgs = false;
  const QString option = QStringLiteral("--data-dir");
  for (qsizetype i = 1; i < args.size(); ++i) {
    if (args[i] == option) {
      if (i + 1 >= args.size() || args[i + 1].isEmpty())
        return {QString(), QStringLiteral("--data-dir needs a directory")};
      named = args[++i];
      fromArgs = true;
    } else if (args[i].startsWith(option + QLatin1Char('='))) {
      named = args[i].mid(option.size() + 1);
      if (named.isEmpty()) return {QString(), QStringLiteral("--data-dir needs a directory")};
      fromArgs = true;
    }
  }
  if (!fromArgs) named = envDir;
  if (named.isEmpty()) return {ResolveDataDirectory(programDir, homeDir), QString()};

  const QString dir = QDir::cleanPath(QDir(named).absolutePath());
  const QString source = fromArgs ? option : QString::fromLatin1(kDataDirEnv);
  if (!QDir().mkpath(dir) || !QFileInfo(dir).isDir())
    return {QString(), QStringLiteral("Cannot create the data directory %1 (%2)").arg(dir, source)};
  if (::access(QFile::encodeName(dir).constData(), W_OK | X_OK) != 0)
    return {QString(), QStringLiteral("The data directory %1 (%2) is not writable").arg(dir, source)};
  return {WithTrailingSlash(dir), QString()};
}

}  // namespace qv::app
