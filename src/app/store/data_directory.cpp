#include "app/store/data_directory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <unistd.h>

namespace qv::app {

QString WithTrailingSlash(const QString& dir) {
  if (dir.endsWith(QLatin1Char('/'))) return dir;
  return dir + QLatin1Char('/');
}

QString InstalledShareDirectory(const QString& programDir) {
  if (programDir.isEmpty()) return QString();
  const QString share = QDir::cleanPath(programDir + QStringLiteral("/../share/quorvane"));
  return QFileInfo(share).isDir() ? share : QString();
}

QString ResolveDataDirectory(const QString& programDir, const QString& homeDir) {
  // access() asks the kernel (permissions, read-only mounts) rather than guessing from mode bits.
  const QByteArray native = QFile::encodeName(programDir);
  if (!programDir.isEmpty() && InstalledShareDirectory(programDir).isEmpty() &&
      ::access(native.constData(), W_OK | X_OK) == 0) {
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

namespace {
// The rendered copy's base names run from 1 to this (see the fax rendering); page files from 2.
constexpr int kMaxRenderBaseNumber = 1000;
constexpr int kFirstPageFileNumber = 2;

// True for a name this program gives its working files, written exactly as it writes them.
bool IsWorkFileName(const QString& name) {
  if (name == QLatin1String("QRV1.QVF") || name == QLatin1String("_TMP.BMP") ||
      name == QLatin1String("Eraseme.rtf"))
    return true;
  // Numbers as std::to_string writes them: no sign, no leading zero.
  static const QRegularExpression base(QStringLiteral("^QRV_([1-9][0-9]{0,3})\\.QVF$"));
  static const QRegularExpression page(QStringLiteral("^QRVAX([1-9][0-9]{0,5})\\.QVF$"));
  if (const auto m = base.match(name); m.hasMatch()) return m.captured(1).toInt() <= kMaxRenderBaseNumber;
  if (const auto m = page.match(name); m.hasMatch()) return m.captured(1).toInt() >= kFirstPageFileNumber;
  return false;
}
}  // namespace

QStringList RemoveStaleWorkFiles(const QString& dataDir) {
  QStringList removed;
  const QDir dir(dataDir);
  const QStringList names = dir.entryList({QStringLiteral("QRV*.QVF"), QStringLiteral("_TMP.BMP"),
                                           QStringLiteral("Eraseme.rtf")},
                                          QDir::Files | QDir::Hidden | QDir::System | QDir::CaseSensitive);
  for (const QString& name : names) {
    if (!IsWorkFileName(name)) continue;
    const QFileInfo info(dir.filePath(name));
    if (info.isSymLink() || !info.isFile()) continue;  // never ours: we write plain files
    if (QFile::remove(info.filePath())) removed << name;
  }
  return removed;
}

}  // namespace qv::app
