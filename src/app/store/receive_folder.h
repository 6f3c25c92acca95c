#pragma once
// Files of the "receive" folder.

#include <QDir>
#include <QHash>
#include <QString>

namespace qv::app {

// Finds received fax images by a record's FAXFILE. The folder and the names are matched without
// regard to letter case; the folder is listed at most once per object, on the first name that is
// not there as written, so looking up many missing files (a bulk delete of 100,000 records) costs
// one listing instead of one per record. Keep an object for one batch of work only: files created
// after the listing are found by their exact name, not by a case variant.
class ReceiveFolder {
 public:
  explicit ReceiveFolder(const QString& dataDir);

  // Full path of the image; empty when the name is not a plain file name (empty, "." or "..", or
  // holding a folder separator): such a name must never lead outside the folder. A name that
  // matches nothing keeps its place in the folder as written.
  QString FilePath(const QString& faxFile);

 private:
  QDir folder_;
  bool listed_ = false;
  QHash<QString, QString> byFoldedName_;  // lower-case name -> the entry as it is on disk
};

// One lookup; see ReceiveFolder.
QString ReceiveFilePath(const QString& dataDir, const QString& faxFile);

}  // namespace qv::app
