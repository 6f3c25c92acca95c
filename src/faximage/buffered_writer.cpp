#include "faximage/buffered_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/error_codes.h"
#include "faximage/file_errors.h"

namespace qv::faximage {

BufferedWriter::~BufferedWriter() {
  if (fd_ < 0) return;
  if (onFailure_ == OnFailure::KeepFile)
    ::close(fd_);  // what reached the file stays; the owner decided its length
  else
    Discard();
}

int BufferedWriter::Create(const std::string& fileName, OnFailure onFailure) {
  if (fd_ >= 0) Discard();
  error_ = 0;
  onFailure_ = onFailure;
  fileName_ = fileName;
  filePos_ = 0;
  used_ = 0;
  if (fileName.empty()) return error_ = qv::core::ecPathNotFound;
  do fd_ = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) return error_ = OpenErrorFromErrno(errno, fileName, true);
  return 0;
}

int BufferedWriter::fail(int code) {
  error_ = code;
  used_ = 0;  // nothing more reaches the file
  if (fd_ >= 0 && onFailure_ == OnFailure::DeleteFile) {
    ::close(fd_);
    fd_ = -1;
    std::remove(fileName_.c_str());
  }
  return code;
}

int BufferedWriter::writeAll(const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t w = ::pwrite(fd_, data, size, static_cast<off_t>(filePos_));
    if (w < 0) {
      if (errno == EINTR) continue;
      return fail(FileErrorFromErrno(errno, true));
    }
    if (w == 0) return fail(FileErrorFromErrno(ENOSPC, true));
    data += w;
    size -= static_cast<size_t>(w);
    filePos_ += w;
  }
  return 0;
}

int BufferedWriter::flush() {
  if (used_ == 0) return 0;
  size_t n = used_;
  used_ = 0;
  return writeAll(buffer_.data(), n);
}

int BufferedWriter::Write(const void* data, size_t size) {
  if (error_) return error_;
  if (fd_ < 0) return error_ = qv::core::ecBadHandle;  // not created
  if (size == 0) return 0;
  auto* p = static_cast<const uint8_t*>(data);
  if (used_ + size <= kBufferSize) {
    std::memcpy(buffer_.data() + used_, p, size);
    used_ += size;
    return 0;
  }
  // Top the buffer up and flush it, send whole blocks directly, keep the tail.
  size_t head = kBufferSize - used_;
  std::memcpy(buffer_.data() + used_, p, head);
  used_ = kBufferSize;
  p += head;
  size -= head;
  if (int rc = flush()) return rc;
  size_t direct = size - size % kBufferSize;
  if (direct > 0) {
    if (int rc = writeAll(p, direct)) return rc;
    p += direct;
    size -= direct;
  }
  std::memcpy(buffer_.data(), p, size);
  used_ = size;
  return 0;
}

int BufferedWriter::Flush() {
  if (error_) return error_;
  if (fd_ < 0) return error_ = qv::core::ecBadHandle;
  return flush();
}

int BufferedWriter::WriteAt(int64_t position, const void* data, size_t size) {
  if (error_) return error_;
  if (fd_ < 0) return error_ = qv::core::ecBadHandle;
  if (position < 0 || position + static_cast<int64_t>(size) > Position())
    return qv::core::ecBadArgument;  // only bytes already written can be rewritten
  if (int rc = flush()) return rc;
  int64_t end = filePos_;
  filePos_ = position;
  int rc = writeAll(static_cast<const uint8_t*>(data), size);
  filePos_ = end;
  return rc;
}

int BufferedWriter::Truncate(int64_t length) {
  if (fd_ < 0) return error_ ? error_ : qv::core::ecBadHandle;
  if (length < 0 || length > Position()) return qv::core::ecBadArgument;
  if (length >= filePos_) {
    used_ = static_cast<size_t>(length - filePos_);  // the cut falls inside the buffer
    return 0;
  }
  used_ = 0;
  int rc;
  do rc = ::ftruncate(fd_, static_cast<off_t>(length));
  while (rc != 0 && errno == EINTR);
  if (rc != 0) return error_ ? error_ : fail(FileErrorFromErrno(errno, true));
  filePos_ = length;
  return 0;
}

int BufferedWriter::Close() {
  if (fd_ < 0) return error_;
  if (!error_ && flush() != 0 && fd_ < 0) return error_;  // failed and deleted
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR && !error_) {
    error_ = FileErrorFromErrno(errno, true);
    if (onFailure_ == OnFailure::DeleteFile) std::remove(fileName_.c_str());
  }
  return error_;
}

void BufferedWriter::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!fileName_.empty()) std::remove(fileName_.c_str());
}

int WriteWholeFile(const std::string& path, const void* data, size_t size) {
  BufferedWriter out;
  int rc = out.Create(path);
  if (rc < 0) return rc;
  rc = out.Write(data, size);
  if (rc < 0) {
    out.Discard();
    return rc;
  }
  return out.Close();
}

}  // namespace qv::faximage
