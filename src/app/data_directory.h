#pragma once
// Where the program keeps its tables, settings, logs and the receive folder.

#include <QString>

namespace qv::app {

// The program file's directory when it is writable, else ~/.local/share/Quorvane/ (created when
// missing). Always ends in "/".
QString DataDirectory();

// Decides between the two places; programDir is the executable's directory.
QString ResolveDataDirectory(const QString& programDir, const QString& homeDir);

// Appends the trailing "/" when missing.
QString WithTrailingSlash(const QString& dir);

}  // namespace qv::app
