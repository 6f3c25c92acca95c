#include "app/store/receive_folder.h"

#include "app/store/fax_store.h"

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

bool IsPlainFileName(const QString& name) {
  return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
         !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}
}  // namespace

ReceiveFolder::ReceiveFolder(const QString& dataDir) {
  const QDir data(dataDir);
  folder_ = QDir(data.filePath(MatchCase(data, QString::fromLatin1(kReceiveFolder), QDir::Dirs)));
}

QString ReceiveFolder::FilePath(const QString& faxFile) {
  const QString name = faxFile.trimmed();
  if (!IsPlainFileName(name)) return QString();
  if (folder_.exists(name)) return folder_.filePath(name);
  if (!listed_) {
    listed_ = true;
    const QStringList entries = folder_.entryList(QDir::Files | QDir::Hidden | QDir::System);
    byFoldedName_.reserve(entries.size());
    for (const QString& entry : entries) byFoldedName_.insert(entry.toLower(), entry);
  }
  const auto it = byFoldedName_.constFind(name.toLower());
  return folder_.filePath(it == byFoldedName_.constEnd() ? name : it.value());
}

QString ReceiveFilePath(const QString& dataDir, const QString& faxFile) {
  return ReceiveFolder(dataDir).FilePath(faxFile);
}

}  // namespace qv::app
