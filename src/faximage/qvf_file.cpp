#include "faximage/qvf_file.h"

#include <fcntl.h>
#include <unistd.h>

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

// Owns a read-only descriptor for the duration of one header read.
class ReadFile {
 public:
  explicit ReadFile(const std::string& name) {
    if (name.empty()) {
      error_ = qv::core::ecFileNotFound;
      return;
    }
    do fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) error_ = OpenErrorFromErrno(errno, name, false);
  }
  ~ReadFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  int error() const { return error_; }

  // Reads exactly n bytes at offset; -100 when the file ends first.
  int readAt(int64_t offset, void* buf, size_t n) {
    auto* p = static_cast<uint8_t*>(buf);
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        return FileErrorFromErrno(errno, false);
      }
      if (r == 0) return qv::core::ecReadPastEof;
      done += static_cast<size_t>(r);
    }
    return 0;
  }

 private:
  int fd_ = -1;
  int error_ = 0;
};

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

bool IsQvfFile(const std::string& fileName) {
  ReadFile f(fileName);
  if (f.error()) return false;
  uint8_t sig[6];
  if (f.readAt(0, sig, sizeof sig) != 0) return false;
  return std::memcmp(sig, kQvfSignature.data(), 6) == 0;
}

int ReadFaxHeader(const std::string& fileName, QvfFileHeader& header) {
  ReadFile f(fileName);
  if (f.error()) return f.error();
  uint8_t raw[kQvfFileHeaderSize];
  if (int rc = f.readAt(0, raw, sizeof raw)) {
    // A file too short even for the signature is not ours; a short header after a good
    // signature is a truncated file.
    uint8_t sig[6];
    if (rc == qv::core::ecReadPastEof &&
        (f.readAt(0, sig, 6) != 0 || std::memcmp(sig, kQvfSignature.data(), 6) != 0))
      return qv::core::ecFaxBadFormat;
    return rc;
  }
  header = QvfFileHeader::Decode(raw);
  if (!header.HasSignature()) return qv::core::ecFaxBadFormat;
  return 0;
}

int ReadPageHeader(const std::string& fileName, int page, QvfPageHeader& header,
                   int64_t* dataOffset) {
  ReadFile f(fileName);
  if (f.error()) return f.error();
  uint8_t raw[kQvfFileHeaderSize];
  if (int rc = f.readAt(0, raw, sizeof raw)) return rc == qv::core::ecReadPastEof ? qv::core::ecFaxBadFormat : rc;
  QvfFileHeader fh = QvfFileHeader::Decode(raw);
  if (!fh.HasSignature() || page < 1 || fh.PageCount < page) return qv::core::ecFaxBadFormat;
  int64_t pos = fh.FirstPageOffset;
  QvfPageHeader ph;
  for (int k = 1; k <= page; ++k) {
    uint8_t rawPage[kQvfPageHeaderSize];
    if (int rc = f.readAt(pos, rawPage, sizeof rawPage)) return rc;
    ph = QvfPageHeader::Decode(rawPage);
    // A negative length would walk backwards into the file; such a file is damaged.
    if (ph.ImageLength < 0) return qv::core::ecFaxBadFormat;
    pos += kQvfPageHeaderSize;
    if (k < page) pos += ph.ImageLength;
  }
  header = ph;
  if (dataOffset) *dataOffset = pos;
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
