#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qv::faximage {

// Output file written through a 4096-byte buffer. A write that does not fit sends whole
// multiples of 4096 bytes straight to the file. The first error sticks and is returned by every
// later call. What happens to the file on a failure is chosen at Create:
//  - DeleteFile: any failure closes the file and deletes it, and so does destroying a writer that
//    was not closed, so a half-written file is never left behind.
//  - KeepFile: the file stays open and is never deleted by a failure or by the destructor; the
//    owner cuts it back to a consistent length with Truncate and closes it. This is for files
//    whose earlier contents are worth more than a clean failure (a fax being received).
class BufferedWriter {
 public:
  static constexpr size_t kBufferSize = 4096;
  enum class OnFailure { DeleteFile, KeepFile };

  BufferedWriter() = default;
  BufferedWriter(const BufferedWriter&) = delete;
  BufferedWriter& operator=(const BufferedWriter&) = delete;
  ~BufferedWriter();

  // Creates (truncates) the file. Returns 0 or a negated file-system code.
  int Create(const std::string& fileName, OnFailure onFailure = OnFailure::DeleteFile);
  int Write(const void* data, size_t size);
  // Overwrites bytes at an earlier position (flushing first) and returns to the end.
  int WriteAt(int64_t position, const void* data, size_t size);
  // Sends the buffered bytes to the file.
  int Flush();
  // Logical position: bytes written so far.
  int64_t Position() const { return filePos_ + static_cast<int64_t>(used_); }
  // Cuts the file to `length` bytes (at most Position()); buffered bytes beyond it are dropped.
  // With KeepFile it works after a failure too, so the owner can put the file back to the last
  // length it knows to be whole.
  int Truncate(int64_t length);
  // Marks the writer failed with the owner's own code, as a failed write would.
  int Fail(int code) { return fail(code); }
  // Flushes and closes; on failure the file is deleted (DeleteFile) or kept as it is (KeepFile).
  // After a KeepFile failure it closes without writing and returns the error.
  int Close();
  // Closes and deletes the file (conversion failed).
  void Discard();

  bool IsOpen() const { return fd_ >= 0; }
  int Error() const { return error_; }
  const std::string& FileName() const { return fileName_; }

 private:
  int flush();
  int writeAll(const uint8_t* data, size_t size);
  int fail(int code);

  int fd_ = -1;
  int error_ = 0;
  OnFailure onFailure_ = OnFailure::DeleteFile;
  std::string fileName_;
  int64_t filePos_ = 0;  // file offset of buffer_[0]
  size_t used_ = 0;
  std::array<uint8_t, kBufferSize> buffer_{};
};

// Writes a whole in-memory file; on a failed write the partial output is removed.
// Returns 0 or the writer's negative error code.
int WriteWholeFile(const std::string& path, const void* data, size_t size);

}  // namespace qv::faximage
