#include "faximage/qvf_append.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdint>
#include <limits>

#include "core/error_codes.h"
#include "faximage/file_errors.h"
#include "faximage/qvf_file.h"

namespace qv::faximage {

namespace {

constexpr size_t kCopyBufferSize = 4096;

// A descriptor closed on every path out.
class Fd {
 public:
  Fd(const std::string& name, int flags) {
    do fd_ = ::open(name.c_str(), flags | O_CLOEXEC);
    while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) error_ = OpenErrorFromErrno(errno, name, (flags & O_ACCMODE) != O_RDONLY);
  }
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

// Reads up to n bytes at offset; returns the count (0 at the end) or a negative code.
int64_t ReadSome(int fd, int64_t offset, void* buf, size_t n) {
  for (;;) {
    ssize_t r = ::pread(fd, buf, n, static_cast<off_t>(offset));
    if (r >= 0) return r;
    if (errno != EINTR) return FileErrorFromErrno(errno, false);
  }
}

int WriteExact(int fd, int64_t offset, const void* buf, size_t n) {
  const auto* p = static_cast<const uint8_t*>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t w = ::pwrite(fd, p + done, n - done, static_cast<off_t>(offset + int64_t(done)));
    if (w < 0) {
      if (errno == EINTR) continue;
      return FileErrorFromErrno(errno, true);
    }
    done += size_t(w);
  }
  return 0;
}

int64_t FileSize(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? int64_t(st.st_size) : -1;
}

// Opens a fax file for reading its header and page chain; a header cut short is a damaged file.
int OpenLayout(QvfReader& reader, const std::string& name) {
  const int rc = reader.Open(name);
  return rc == core::ecReadPastEof ? core::ecFaxBadFormat : rc;
}

}  // namespace

int AppendFaxFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return core::ecFileNotFound;
  Fd fa(a, O_RDWR);
  if (fa.error()) return fa.error();
  Fd fb(b, O_RDONLY);
  if (fb.error()) return fb.error();

  QvfReader ra, rb;
  if (int rc = OpenLayout(ra, a)) return rc;
  if (int rc = OpenLayout(rb, b)) return rc;
  QvfFileHeader ha = ra.Header();
  const QvfFileHeader hb = rb.Header();
  const int64_t sizeA = FileSize(fa.get());
  // b's length as of now bounds the copy: appending a file to itself must not chase its own end.
  const int64_t sizeB = FileSize(fb.get());
  if (sizeA < 0 || sizeB < 0) return FileErrorFromErrno(errno, false);
  // Every page of a must lie within it, or the append would land inside (or far beyond) its data;
  // b's count must describe pages that are there, or a would claim pages it does not hold.
  int64_t end = 0, endB = 0;
  if (int rc = ra.EndOfPages(end)) return rc;
  if (int rc = rb.EndOfPages(endB)) return rc;
  ra.Close();
  rb.Close();
  if (int(ha.PageCount) + int(hb.PageCount) > std::numeric_limits<uint16_t>::max())
    return core::ecFaxBadFormat;

  // From here a is changed; a failure puts its old length back, so its header (untouched until
  // the copy is complete) still describes exactly what is there.
  auto restore = [&](int rc) {
    [[maybe_unused]] int t = ::ftruncate(fa.get(), static_cast<off_t>(sizeA));
    return rc;
  };
  uint8_t buffer[kCopyBufferSize];
  int64_t from = hb.FirstPageOffset;
  int64_t to = end;
  while (from < sizeB) {
    int64_t n = ReadSome(fb.get(), from, buffer, size_t(std::min<int64_t>(sizeB - from, kCopyBufferSize)));
    if (n < 0) return restore(int(n));
    if (n == 0) break;
    if (int rc = WriteExact(fa.get(), to, buffer, size_t(n))) return restore(rc);
    from += n;
    to += n;
  }
  // Anything a held after its last page would otherwise trail the appended pages.
  if (to < sizeA && ::ftruncate(fa.get(), static_cast<off_t>(to)) != 0)
    return restore(FileErrorFromErrno(errno, true));

  ha.PageCount = static_cast<uint16_t>(ha.PageCount + hb.PageCount);
  uint8_t raw[kQvfFileHeaderSize];
  ha.Encode(raw);
  if (int rc = WriteExact(fa.get(), 0, raw, sizeof raw)) return restore(rc);
  return 0;
}

}  // namespace qv::faximage
