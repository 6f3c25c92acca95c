#pragma once
// Where the program keeps its tables, settings, logs and the receive folder.

#include <QString>
#include <QStringList>

namespace qv::app {

// The program file's directory when it is writable and the program is not installed, else
// ~/.local/share/Quorvane/ (created when missing); programDir is the executable's directory.
// Always ends in "/". An installed program never keeps data beside itself, even where its user
// may write there (root and /usr/bin): the package manager owns that folder.
QString ResolveDataDirectory(const QString& programDir, const QString& homeDir);

// The read-only data folder of an installed program, <prefix>/share/quorvane for a program in
// <prefix>/bin (the user guide is in it); empty when the program is not installed (a build tree).
QString InstalledShareDirectory(const QString& programDir);

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

// Removes the working files an earlier run left in the data directory (a crash, or a kill, during
// a send or a view): the rendered copies of a fax ("QRV_n.QVF" for n from 1 to 1000, "QRV1.QVF",
// "QRVAXk.QVF" for k from 2), the page bitmap "_TMP.BMP" and the memo carrier "Eraseme.rtf".
// Only names of exactly that form, only plain files, only in that directory (nothing below it).
// A running program may be using such files: call this only while holding the data directory's
// single-instance lock, before anything of this run has made one. Returns the names removed.
QStringList RemoveStaleWorkFiles(const QString& dataDir);

}  // namespace qv::app
