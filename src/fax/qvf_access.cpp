#include "fax/qvf_access.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <ctime>

namespace qv::fax {

namespace {
constexpr uint8_t kSignature[6] = {'Q', 'V', 'F', '1', '0', 0x1A};

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
}  // namespace

int IoError() {
  switch (errno) {
    case ENOENT: return -2;
    case ENOTDIR: return -3;
    case EMFILE: case ENFILE: return -4;
    case EACCES: case EPERM: case EROFS: return -5;
    case ENOMEM: return -8;
    case ENOSPC: return -101;
    default: return -162;
  }
}

bool HasQvfSignature(const uint8_t* header) { return std::memcmp(header, kSignature, 6) == 0; }

uint32_t DosDateTimeNow() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2099) return 0;
  uint32_t time = (tm.tm_sec / 2) | (tm.tm_min << 5) | (tm.tm_hour << 11);
  uint32_t date = tm.tm_mday | ((tm.tm_mon + 1) << 5) | ((year - 1980) << 9);
  return (date << 16) | time;
}

void BuildReceiverHeader(uint8_t* header, const std::string& remoteId, uint16_t pageCount) {
  std::memset(header, 0, kQvfHeaderSize);
  std::memcpy(header, kSignature, 6);
  Put32(header + 6, DosDateTimeNow());
  header[10] = 20;
  std::memset(header + 11, ' ', 20);
  std::memcpy(header + 11, remoteId.data(), std::min<size_t>(remoteId.size(), 20));
  Put16(header + 32, pageCount);
  Put32(header + 34, kQvfHeaderSize);
}

uint16_t HeaderPageCount(const uint8_t* header) { return static_cast<uint16_t>(header[32] | (header[33] << 8)); }
void SetHeaderPageCount(uint8_t* header, uint16_t count) { Put16(header + 32, count); }

int QvfReader::Open(const std::string& fileName) {
  Close();
  if (fileName.empty()) return -2;
  file_ = std::fopen(fileName.c_str(), "rb");
  if (!file_) return IoError();
  uint8_t header[kQvfHeaderSize];
  if (std::fread(header, 1, sizeof header, file_) != sizeof header || !HasQvfSignature(header)) {
    Close();
    return -8001;
  }
  pageCount_ = HeaderPageCount(header);
  return 0;
}

void QvfReader::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  pageCount_ = 0;
}

int QvfReader::ReadPageInfo(int page, QvfPageInfo& info) {
  if (!file_) return -2;
  if (page < 1 || page > pageCount_) return -8001;
  uint8_t header[kQvfHeaderSize];
  if (std::fseek(file_, 0, SEEK_SET) != 0 || std::fread(header, 1, sizeof header, file_) != sizeof header) return -100;
  long pos = static_cast<long>(Get32(header + 34));
  for (int p = 1;; ++p) {
    uint8_t ph[kQvfPageHeaderSize];
    if (std::fseek(file_, pos, SEEK_SET) != 0 || std::fread(ph, 1, sizeof ph, file_) != sizeof ph) return -100;
    int32_t length = static_cast<int32_t>(Get32(ph));
    if (length < 0) return -8001;
    if (p == page) {
      info.imageLength = length;
      info.flags = static_cast<uint16_t>(ph[4] | (ph[5] << 8));
      info.dataOffset = pos + static_cast<long>(kQvfPageHeaderSize);
      return 0;
    }
    pos += static_cast<long>(kQvfPageHeaderSize) + length;
  }
}

int QvfReader::Seek(long offset) {
  if (!file_) return -2;
  return std::fseek(file_, offset, SEEK_SET) == 0 ? 0 : IoError();
}

long QvfReader::Read(uint8_t* buffer, size_t count) {
  if (!file_) return -2;
  size_t n = std::fread(buffer, 1, count, file_);
  if (n < count && std::ferror(file_)) return IoError();
  return static_cast<long>(n);
}

}  // namespace qv::fax
