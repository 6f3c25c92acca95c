#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qv::faximage {

// Output file written through a 4096-byte buffer. A write that does not fit sends whole
// multiples of 4096 bytes straight to the file. Any failure closes the file and deletes it, so a
// half-written file is never left behind; the first error sticks and is returned by every later
// call. Destroying a writer that was not closed deletes the file as well.
class BufferedWriter {
 public:
  static constexpr size_t kBufferSize = 4096;

  BufferedWriter() = default;
  BufferedWriter(const BufferedWriter&) = delete;
  BufferedWriter& operator=(const BufferedWriter&) = delete;
  ~BufferedWriter();

  // Creates (truncates) the file. Returns 0 or a negated file-system code.
  int Create(const std::string& fileName);
  int Write(const void* data, size_t size);
  // Overwrites bytes at an earlier position (flushing first) and returns to the end.
  int WriteAt(int64_t position, const void* data, size_t size);
  // Logical position: bytes written so far.
  int64_t Position() const { return filePos_ + static_cast<int64_t>(used_); }
  // Flushes and closes; on failure the file is deleted.
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
  std::string fileName_;
  int64_t filePos_ = 0;  // file offset of buffer_[0]
  size_t used_ = 0;
  std::array<uint8_t, kBufferSize> buffer_{};
};

// Writes a whole in-memory file; on a failed write the partial output is removed.
// Returns 0 or the writer's negative error code.
int WriteWholeFile(const std::string& path, const void* data, size_t size);

}  // namespace qv::faximage
