#pragma once

#include <string>
#include <string_view>

namespace qv::core {

// A new, unique, empty file in the system's temporary directory whose name starts with prefix
// (for example "~QV"); the caller removes it. Empty string when none could be made.
std::string TempFileName(const std::string& prefix);

// Replaces path with bytes so that a crash or a full disk leaves either the old or the new
// contents, never a mix: writes a temporary file beside it (with the old file's permissions),
// syncs it, renames it into place and syncs the directory so the rename itself survives a crash.
// On failure the original file is untouched, errno tells why and the result is false.
bool AtomicWriteFile(const std::string& path, std::string_view bytes);

// Removes the temporary files a killed AtomicWriteFile of path may have left beside it.
void RemoveAtomicWriteLeftovers(const std::string& path);

// How many files AtomicWriteFile has put in place in this process (lets tests count rewrites).
unsigned long AtomicWritesDone();

// Flushes a directory entry change (rename, create, remove) of path's directory to disk.
void SyncDirectoryOf(const std::string& path);

// Reads a whole file; false (and errno) when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& bytes);

}  // namespace qv::core
