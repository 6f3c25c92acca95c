#include "tables/fpt_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "tables/file_io.h"
#include "tables/xbase_error.h"

namespace qv::tables {

namespace {

constexpr uint32_t kHeaderBytes = 512;

uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

uint32_t FirstBlock(uint32_t blockSize) { return (kHeaderBytes + blockSize - 1) / blockSize; }

}  // namespace

uint32_t MemoBlockBytes(int setting) {
  if (setting >= 1 && setting <= 32) return static_cast<uint32_t>(setting) * 512;
  if (setting >= 33 && setting <= 65535) return static_cast<uint32_t>(setting);
  return 64;
}

FptFile::~FptFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::string FptFile::EmptyImage(uint32_t blockSize) {
  if (blockSize < 1 || blockSize > 65535) blockSize = 64;
  uint32_t first = FirstBlock(blockSize);
  std::string img(static_cast<size_t>(first) * blockSize, '\0');
  auto* p = reinterpret_cast<uint8_t*>(img.data());
  PutBe32(p, first);
  p[6] = static_cast<uint8_t>(blockSize >> 8);
  p[7] = static_cast<uint8_t>(blockSize);
  return img;
}

void FptFile::Open(const std::string& path, bool writable) {
  Close();
  int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) ThrowXb(core::ecTableOpenFailed, "Cannot open memo file " + path + ": " + SystemErrorText(errno));
  fd_ = fd;
  path_ = path;
  writable_ = writable;
  try {
    uint64_t size = FileSize(fd_, path_);
    if (size < 8) ThrowXb(core::ecMemoCorrupt, "Memo file " + path_ + " is damaged: too short");
    uint8_t h[8];
    PReadAll(fd_, h, 8, 0, path_);
    nextFree_ = Be32(h);
    blockSize_ = static_cast<uint32_t>((h[6] << 8) | h[7]);
    if (blockSize_ == 0) ThrowXb(core::ecMemoCorrupt, "Memo file " + path_ + " is damaged: block size 0");
  } catch (...) {
    ::close(fd_);
    fd_ = -1;
    throw;
  }
}

void FptFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

std::string FptFile::Read(uint32_t block, uint32_t* type) {
  if (fd_ < 0) ThrowXb(core::ecNoWorkArea, "Memo file is not open");
  uint64_t size = FileSize(fd_, path_);
  uint64_t off = static_cast<uint64_t>(block) * blockSize_;
  auto corrupt = [&](const std::string& why) {
    ThrowXb(core::ecMemoCorrupt, "Memo file " + path_ + " is damaged: block " + std::to_string(block) + " " + why);
  };
  if (block == 0 || off < std::min<uint64_t>(kHeaderBytes, blockSize_) || off + 8 > size) corrupt("lies outside the file");
  uint8_t h[8];
  PReadAll(fd_, h, 8, off, path_);
  uint32_t len = Be32(h + 4);
  if (len > size - off - 8) corrupt("claims more data than the file holds");
  if (type) *type = Be32(h);
  std::string data(len, '\0');
  if (len) PReadAll(fd_, data.data(), len, off + 8, path_);
  return data;
}

uint32_t FptFile::Write(std::string_view data, uint32_t type) {
  if (fd_ < 0) ThrowXb(core::ecNoWorkArea, "Memo file is not open");
  if (!writable_) ThrowXb(core::ecTableReadOnly, "Memo file " + path_ + " is read-only");
  if (data.size() > 0x7FFFFFF0u) ThrowXb(core::ecTableWriteFailed, "Memo is too large");
  uint64_t size = FileSize(fd_, path_);
  // Never trust a next-free pointer that points into existing data.
  uint64_t endBlock = (size + blockSize_ - 1) / blockSize_;
  uint64_t block = std::max<uint64_t>({nextFree_, endBlock, FirstBlock(blockSize_)});
  uint64_t blocks = (data.size() + 8 + blockSize_ - 1) / blockSize_;
  if (block + blocks > 0xFFFFFFFFull) ThrowXb(core::ecTableWriteFailed, "Memo file " + path_ + " is full");
  std::vector<uint8_t> buf(static_cast<size_t>(blocks) * blockSize_, 0);
  PutBe32(buf.data(), type);
  PutBe32(buf.data() + 4, static_cast<uint32_t>(data.size()));
  std::memcpy(buf.data() + 8, data.data(), data.size());
  PWriteAll(fd_, buf.data(), buf.size(), block * blockSize_, path_);
  uint8_t nf[4];
  PutBe32(nf, static_cast<uint32_t>(block + blocks));
  PWriteAll(fd_, nf, 4, 0, path_);
  nextFree_ = static_cast<uint32_t>(block + blocks);
  return static_cast<uint32_t>(block);
}

void FptFile::Flush(bool sync) {
  if (fd_ >= 0 && writable_ && sync) SyncFile(fd_, path_);
}

}  // namespace qv::tables
