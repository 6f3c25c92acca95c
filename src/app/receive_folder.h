#pragma once
// Files of the "receive" folder.

#include <QString>

namespace qv::app {

// Full path of a received fax image named by a record's FAXFILE. The folder and the name are
// matched without regard to letter case. Empty when the name is not a plain file name (empty,
// "." or "..", or holding a folder separator): such a name must never lead outside the folder.
QString ReceiveFilePath(const QString& dataDir, const QString& faxFile);

}  // namespace qv::app
