#include "core/file_util.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace qv::core {

std::string TempFileName(const std::string& prefix) {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) dir = "/tmp";
  std::string pattern = (dir / (prefix + "XXXXXX")).string();
  int fd = mkstemp(pattern.data());
  if (fd < 0) return {};
  close(fd);
  return pattern;
}

static bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool AtomicWriteFile(const std::string& path, std::string_view bytes) {
  std::string temp = path + ".~qvXXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  // Keep the permissions an existing file had (mkstemp makes 0600).
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) fchmod(fd, st.st_mode & 07777);
  else fchmod(fd, 0644);
  bool ok = writeAll(fd, bytes) && fsync(fd) == 0;
  int saved = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    errno = saved;
  }
  return ok;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bytes.clear();
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      int saved = errno;
      ::close(fd);
      errno = saved;
      return false;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

}  // namespace qv::core
