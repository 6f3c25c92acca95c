#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qv::tables {

// A FoxPro FPT memo file: a 512-byte header (big-endian next free block and block size) and
// memos of type + length + data in whole blocks. New or rewritten memos always go to fresh
// blocks at the end, so a record's old memo stays readable until the record points elsewhere.
class FptFile {
 public:
  FptFile() = default;
  ~FptFile();
  FptFile(const FptFile&) = delete;
  FptFile& operator=(const FptFile&) = delete;

  static std::string EmptyImage(uint32_t blockSize);

  void Open(const std::string& path, bool writable);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }
  uint32_t BlockSize() const { return blockSize_; }

  // Reads the memo at `block`; a block outside the file or a length running past its end
  // gives EXBaseError core::ecMemoCorrupt.
  std::string Read(uint32_t block, uint32_t* type = nullptr);
  // Appends a memo and returns its first block number.
  uint32_t Write(std::string_view data, uint32_t type = 1);
  void Flush(bool sync);

 private:
  int fd_ = -1;
  std::string path_;
  bool writable_ = false;
  uint32_t blockSize_ = 64;
  uint32_t nextFree_ = 0;
};

// The block size a memo file gets from the engine's MemoBlockSize setting: 1..32 mean that many
// 512-byte units, larger values are bytes; anything unusable falls back to 64.
uint32_t MemoBlockBytes(int setting);

}  // namespace qv::tables
