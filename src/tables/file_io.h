#pragma once

#include <cstdint>
#include <string>

#include "core/file_util.h"

namespace qv::tables {

// Small POSIX file helpers that turn every failure into an EXBaseError naming the file.
void PReadAll(int fd, void* buf, size_t len, uint64_t offset, const std::string& path);
void PWriteAll(int fd, const void* buf, size_t len, uint64_t offset, const std::string& path);
uint64_t FileSize(int fd, const std::string& path);
void SyncFile(int fd, const std::string& path);
bool FileExists(const std::string& path);

// Replaces `path` whole through core::AtomicWriteFile; a failure raises EXBaseError naming it.
void AtomicReplaceFile(const std::string& path, const std::string& bytes);
using core::SyncDirectoryOf;

// `base` with its extension replaced by `ext` (given without the dot, upper case); the case of
// the new extension follows the case of the old one ("t.dbf" -> "t.cdx", "T.DBF" -> "T.CDX").
// When only a file in the other case exists, that one is returned.
std::string SiblingFile(const std::string& base, const std::string& ext);

std::string BaseNameNoExt(const std::string& path);
std::string UpperAscii(std::string s);
std::string SystemErrorText(int err);

}  // namespace qv::tables
