#include "tables/file_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tables/xbase_error.h"

namespace qv::tables {

std::string SystemErrorText(int err) {
  if (err == ENOSPC) return "Disk is full";
  return std::strerror(err);
}

void PReadAll(int fd, void* buf, size_t len, uint64_t offset, const std::string& path) {
  auto* p = static_cast<uint8_t*>(buf);
  while (len > 0) {
    ssize_t n = ::pread(fd, p, len, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowXb(core::ecTableReadFailed, "Cannot read " + path + ": " + SystemErrorText(errno));
    }
    if (n == 0) ThrowXb(core::ecTableReadFailed, "Cannot read " + path + ": unexpected end of file");
    p += n;
    len -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
}

void PWriteAll(int fd, const void* buf, size_t len, uint64_t offset, const std::string& path) {
  auto* p = static_cast<const uint8_t*>(buf);
  while (len > 0) {
    ssize_t n = ::pwrite(fd, p, len, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowXb(core::ecTableWriteFailed, "Cannot write " + path + ": " + SystemErrorText(errno));
    }
    p += n;
    len -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
}

uint64_t FileSize(int fd, const std::string& path) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) ThrowXb(core::ecTableReadFailed, "Cannot examine " + path + ": " + SystemErrorText(errno));
  return static_cast<uint64_t>(st.st_size);
}

void SyncFile(int fd, const std::string& path) {
  if (::fsync(fd) != 0 && errno != EINVAL)
    ThrowXb(core::ecTableWriteFailed, "Cannot flush " + path + ": " + SystemErrorText(errno));
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void AtomicReplaceFile(const std::string& path, const std::string& bytes) {
  if (core::AtomicWriteFile(path, bytes)) return;
  int err = errno;
  ThrowXb(core::ecTableWriteFailed, "Cannot replace " + path + ": " + SystemErrorText(err));
}

std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string SiblingFile(const std::string& base, const std::string& ext) {
  auto slash = base.find_last_of('/');
  auto dot = base.find_last_of('.');
  std::string stem = (dot == std::string::npos || (slash != std::string::npos && dot < slash))
                         ? base
                         : base.substr(0, dot);
  bool lower = false;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash) && dot + 1 < base.size())
    lower = base[dot + 1] >= 'a' && base[dot + 1] <= 'z';
  std::string lowerExt = ext;
  for (char& c : lowerExt)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  std::string preferred = stem + "." + (lower ? lowerExt : ext);
  std::string other = stem + "." + (lower ? ext : lowerExt);
  if (!FileExists(preferred) && FileExists(other)) return other;
  return preferred;
}

std::string BaseNameNoExt(const std::string& path) {
  auto slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  auto dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace qv::tables
