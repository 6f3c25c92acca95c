#include "core/file_util.h"

#include <atomic>
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

namespace {
std::atomic<unsigned long> atomicWrites{0};
}

unsigned long AtomicWritesDone() { return atomicWrites.load(); }

void SyncDirectoryOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

namespace {
constexpr std::string_view kTempSuffix = ".~qv";
constexpr size_t kTempRandom = 6;  // mkstemp's XXXXXX
}  // namespace

void RemoveAtomicWriteLeftovers(const std::string& path) {
  std::filesystem::path p(path);
  std::filesystem::path dir = p.has_parent_path() ? p.parent_path() : std::filesystem::path(".");
  const std::string stem = p.filename().string() + std::string(kTempSuffix);
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    std::string name = entry.path().filename().string();
    if (name.size() == stem.size() + kTempRandom && name.compare(0, stem.size(), stem) == 0)
      std::filesystem::remove(entry.path(), ec);
  }
}

bool AtomicWriteFile(const std::string& path, std::string_view bytes) {
  std::string temp = path + std::string(kTempSuffix) + std::string(kTempRandom, 'X');
  int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  // Keep the permissions an existing file had (mkstemp makes 0600).
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) fchmod(fd, st.st_mode & 07777);
  else fchmod(fd, 0644);
  // EINVAL: the file system cannot sync (some special mounts); the write itself stands.
  bool ok = writeAll(fd, bytes) && (fsync(fd) == 0 || errno == EINVAL);
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
    return false;
  }
  SyncDirectoryOf(path);
  ++atomicWrites;
  return true;
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
