#include "faximage/qvf_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/error_codes.h"
#include "faximage/file_errors.h"

namespace qv::faximage {

namespace {

void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Reads up to n bytes at offset; the count (short only at the end of the file) or a negative code.
int64_t ReadSome(int fd, int64_t offset, void* buf, size_t n) {
  auto* p = static_cast<uint8_t*>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pread(fd, p + done, n - done, static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (r < 0) {
      if (errno == EINTR) continue;
      return FileErrorFromErrno(errno, false);
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

}  // namespace

std::string QvfFileHeader::StationIdString() const {
  size_t n = StationIdLength > kQvfStationIdMax ? kQvfStationIdMax : StationIdLength;
  return std::string(StationId.data(), n);
}

void QvfFileHeader::SetStationId(std::string_view id, bool padToFull) {
  if (id.size() > kQvfStationIdMax) id = id.substr(0, kQvfStationIdMax);
  StationId.fill(' ');
  if (!id.empty()) std::memcpy(StationId.data(), id.data(), id.size());
  StationIdLength = static_cast<uint8_t>(padToFull ? kQvfStationIdMax : id.size());
}

void QvfFileHeader::Encode(uint8_t (&out)[kQvfFileHeaderSize]) const {
  std::memset(out, 0, sizeof out);
  std::memcpy(out, Signature.data(), 6);
  put32(out + 6, DateTime);
  out[10] = StationIdLength;
  std::memcpy(out + 11, StationId.data(), kQvfStationIdMax);
  // out[31] filler stays 0
  put16(out + 32, PageCount);
  put32(out + 34, FirstPageOffset);
}

QvfFileHeader QvfFileHeader::Decode(const uint8_t (&in)[kQvfFileHeaderSize]) {
  QvfFileHeader h;
  std::memcpy(h.Signature.data(), in, 6);
  h.DateTime = get32(in + 6);
  h.StationIdLength = in[10];
  std::memcpy(h.StationId.data(), in + 11, kQvfStationIdMax);
  h.PageCount = get16(in + 32);
  h.FirstPageOffset = get32(in + 34);
  return h;
}

void QvfPageHeader::Encode(uint8_t (&out)[kQvfPageHeaderSize]) const {
  std::memset(out, 0, sizeof out);
  put32(out, static_cast<uint32_t>(ImageLength));
  put16(out + 4, PageFlags);
}

QvfPageHeader QvfPageHeader::Decode(const uint8_t (&in)[kQvfPageHeaderSize]) {
  QvfPageHeader h;
  h.ImageLength = static_cast<int32_t>(get32(in));
  h.PageFlags = get16(in + 4);
  return h;
}

int QvfReader::Open(const std::string& fileName) {
  Close();
  if (fileName.empty()) return qv::core::ecFileNotFound;
  do fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) return OpenErrorFromErrno(errno, fileName, false);
  uint8_t raw[kQvfFileHeaderSize];
  int rc = ReadAt(0, raw, sizeof raw);
  if (rc == 0) {
    header_ = QvfFileHeader::Decode(raw);
    if (header_.HasSignature()) return 0;
    rc = qv::core::ecFaxBadFormat;
  } else if (rc == qv::core::ecReadPastEof && std::memcmp(raw, kQvfSignature.data(), 6) != 0) {
    // A file too short even for the signature is not ours; a short header after a good
    // signature is a truncated file. (ReadAt leaves the bytes it got in raw.)
    rc = qv::core::ecFaxBadFormat;
  }
  Close();
  return rc;
}

void QvfReader::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  header_ = QvfFileHeader();
  pos_ = blockStart_ = 0;
  blockLength_ = 0;
}

int QvfReader::ReadAt(int64_t offset, void* buffer, size_t n) {
  if (fd_ < 0) return qv::core::ecBadHandle;
  std::memset(buffer, 0, n);
  int64_t got = ReadSome(fd_, offset, buffer, n);
  if (got < 0) return static_cast<int>(got);
  return static_cast<size_t>(got) < n ? qv::core::ecReadPastEof : 0;
}

int QvfReader::ReadPageAt(int64_t headerOffset, QvfPageSpan& page) {
  uint8_t raw[kQvfPageHeaderSize];
  if (int rc = ReadAt(headerOffset, raw, sizeof raw)) return rc;
  page.header = QvfPageHeader::Decode(raw);
  page.headerOffset = headerOffset;
  page.dataOffset = headerOffset + kQvfPageHeaderSize;
  return 0;
}

int QvfReader::FindPage(int page, QvfPageHeader& header, int64_t& dataOffset) {
  if (fd_ < 0) return qv::core::ecBadHandle;
  if (page < 1 || page > header_.PageCount) return qv::core::ecFaxBadFormat;
  QvfPageSpan at;
  int64_t pos = header_.FirstPageOffset;
  for (int k = 1; k <= page; ++k) {
    if (int rc = ReadPageAt(pos, at)) return rc;
    // A negative length would walk backwards into the file; such a file is damaged.
    if (at.header.ImageLength < 0) return qv::core::ecFaxBadFormat;
    pos = at.dataOffset + at.header.ImageLength;
  }
  header = at.header;
  dataOffset = at.dataOffset;
  return 0;
}

int QvfReader::WholePages(std::vector<QvfPageSpan>& pages) {
  pages.clear();
  if (fd_ < 0) return qv::core::ecBadHandle;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return FileErrorFromErrno(errno, false);
  const int64_t size = st.st_size;
  int64_t pos = header_.FirstPageOffset;
  for (int k = 1; k <= header_.PageCount; ++k) {
    if (pos + kQvfPageHeaderSize > size) break;
    QvfPageSpan at;
    if (int rc = ReadPageAt(pos, at)) return rc;
    if (at.header.ImageLength <= 0 || at.dataOffset + at.header.ImageLength > size) break;
    pages.push_back(at);
    pos = at.dataOffset + at.header.ImageLength;
  }
  return 0;
}

int QvfReader::EndOfPages(int64_t& end) {
  if (fd_ < 0) return qv::core::ecBadHandle;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return FileErrorFromErrno(errno, false);
  int64_t pos = header_.FirstPageOffset;
  for (int k = 1; k <= header_.PageCount; ++k) {
    QvfPageSpan at;
    if (int rc = ReadPageAt(pos, at)) return rc == qv::core::ecReadPastEof ? qv::core::ecFaxBadFormat : rc;
    if (at.header.ImageLength < 0) return qv::core::ecFaxBadFormat;
    pos = at.dataOffset + at.header.ImageLength;
    if (pos > st.st_size) return qv::core::ecFaxBadFormat;
  }
  end = pos;
  return 0;
}

int64_t QvfReader::Read(void* buffer, size_t n) {
  if (fd_ < 0) return qv::core::ecBadHandle;
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < n) {
    if (pos_ >= blockStart_ && pos_ < blockStart_ + static_cast<int64_t>(blockLength_)) {
      const size_t at = static_cast<size_t>(pos_ - blockStart_);
      const size_t take = std::min(n - done, blockLength_ - at);
      std::memcpy(out + done, block_ + at, take);
      done += take;
      pos_ += static_cast<int64_t>(take);
      continue;
    }
    if (n - done >= kBlockSize) {  // large reads go straight to the caller
      int64_t got = ReadSome(fd_, pos_, out + done, n - done);
      if (got < 0) return got;
      done += static_cast<size_t>(got);
      pos_ += got;
      break;
    }
    int64_t got = ReadSome(fd_, pos_, block_, kBlockSize);
    if (got < 0) return got;
    blockStart_ = pos_;
    blockLength_ = static_cast<size_t>(got);
    if (got == 0) break;
  }
  return static_cast<int64_t>(done);
}

bool IsQvfFile(const std::string& fileName) {
  QvfReader f;
  const int rc = f.Open(fileName);
  // A truncated header still starts with the signature.
  return rc == 0 || rc == qv::core::ecReadPastEof;
}

int ReadFaxHeader(const std::string& fileName, QvfFileHeader& header) {
  QvfReader f;
  if (int rc = f.Open(fileName)) return rc;
  header = f.Header();
  return 0;
}

int ReadPageHeader(const std::string& fileName, int page, QvfPageHeader& header,
                   int64_t* dataOffset) {
  QvfReader f;
  if (int rc = f.Open(fileName)) return rc == qv::core::ecReadPastEof ? qv::core::ecFaxBadFormat : rc;
  int64_t at = 0;
  if (int rc = f.FindPage(page, header, at)) return rc;
  if (dataOffset) *dataOffset = at;
  return 0;
}

uint32_t PackDosDateTime(const std::tm& t) {
  int year = t.tm_year + 1900;
  if (year < 1980 || year > 2099) return 0;
  uint32_t time = static_cast<uint32_t>((t.tm_sec / 2) | (t.tm_min << 5) | (t.tm_hour << 11));
  uint32_t date =
      static_cast<uint32_t>(t.tm_mday | ((t.tm_mon + 1) << 5) | ((year - 1980) << 9));
  return (date << 16) | (time & 0xFFFF);
}

bool UnpackDosDateTime(uint32_t packed, std::tm& t) {
  if (packed == 0) return false;
  uint32_t time = packed & 0xFFFF, date = packed >> 16;
  int sec = static_cast<int>(time & 31) * 2, min = static_cast<int>((time >> 5) & 63),
      hour = static_cast<int>(time >> 11);
  int day = static_cast<int>(date & 31), month = static_cast<int>((date >> 5) & 15),
      year = static_cast<int>(date >> 9) + 1980;
  if (sec > 59 || min > 59 || hour > 23 || day < 1 || day > 31 || month < 1 || month > 12)
    return false;
  t = std::tm{};
  t.tm_sec = sec;
  t.tm_min = min;
  t.tm_hour = hour;
  t.tm_mday = day;
  t.tm_mon = month - 1;
  t.tm_year = year - 1900;
  t.tm_isdst = -1;
  return true;
}

uint32_t DosDateTimeNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return PackDosDateTime(local);
}

}  // namespace qv::faximage
