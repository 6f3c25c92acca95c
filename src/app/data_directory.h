#pragma once
// Where the program keeps its tables, settings, logs and the receive folder.

#include <QString>
#include <QStringList>

namespace qv::app {

// The program file's directory when it is writable, else ~/.local/share/Quorvane/ (created when
// missing); programDir is the executable's directory. Always ends in "/".
QString ResolveDataDirectory(const QString& programDir, const QString& homeDir);

// The outcome of choosing the data directory: dir (ending in "/") or, when the chosen one cannot be
// used, an error text for the user.
struct DataDirectoryChoice {
  QString dir;
  QString error;
};

inline constexpr const char* kDataDirEnv = "QUORVANE_DATA_DIR";

// "--data-dir DIR" (or "--data-dir=DIR") among args wins, then envDir (the QUORVANE_DATA_DIR
// value), else ResolveDataDirectory. An explicitly named directory is created when missing and
// must be writable; otherwise error says why.
DataDirectoryChoice ChooseDataDirectory(const QStringList& args, const QString& envDir,
                                        const QString& programDir, const QString& homeDir);

// Appends the trailing "/" when missing.
QString WithTrailingSlash(const QString& dir);

}  // namespace qv::app
