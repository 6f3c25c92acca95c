#include "app/receive_folder.h"

#include "app/fax_store.h"

#include <QDir>

namespace qv::app {

namespace {
// The entry of dir whose name equals name in any letter case; name itself when there is none.
QString MatchCase(const QDir& dir, const QString& name, QDir::Filters filters) {
  if (dir.exists(name)) return name;
  const QStringList entries = dir.entryList(filters | QDir::Hidden | QDir::System);
  for (const QString& entry : entries) {
    if (entry.compare(name, Qt::CaseInsensitive) == 0) return entry;
  }
  return name;
}
}  // namespace

QString ReceiveFilePath(const QString& dataDir, const QString& faxFile) {
  const QString name = faxFile.trimmed();
  if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
      name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))) {
    return QString();
  }
  const QDir data(dataDir);
  const QString folder = MatchCase(data, QString::fromLatin1(kReceiveFolder), QDir::Dirs);
  const QDir receive(data.filePath(folder));
  return receive.filePath(MatchCase(receive, name, QDir::Files));
}

}  // namespace qv::app
