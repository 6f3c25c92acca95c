#include "tables/dbf_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "tables/file_io.h"
#include "tables/xbase_error.h"

namespace qv::tables {

namespace {

constexpr size_t kCacheBytes = 64 * 1024;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void PutLe16(uint8_t* p, uint16_t v) { p[0] = v & 0xFF; p[1] = v >> 8; }
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void TodayBytes(uint8_t* p) {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  p[0] = static_cast<uint8_t>(tm.tm_year);  // years since 1900
  p[1] = static_cast<uint8_t>(tm.tm_mon + 1);
  p[2] = static_cast<uint8_t>(tm.tm_mday);
}

bool ValidNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

DbfFile::~DbfFile() {
  try {
    Close();
  } catch (...) {
  }
}

std::vector<DbfField> DbfFile::NormalizeFields(const std::vector<DbfField>& in) {
  if (in.empty()) ThrowXb(core::ecTableBadField, "A table needs at least one field");
  if (in.size() > 255) ThrowXb(core::ecTableBadField, "A table can have at most 255 fields");
  std::vector<DbfField> out;
  uint32_t offset = 1;
  for (DbfField f : in) {
    f.name = UpperAscii(f.name);
    if (f.name.empty() || f.name.size() > 10 || !(f.name[0] >= 'A' && f.name[0] <= 'Z') ||
        !std::all_of(f.name.begin(), f.name.end(), ValidNameChar))
      ThrowXb(core::ecTableBadField, "Invalid field name \"" + f.name + "\"");
    for (const auto& o : out)
      if (o.name == f.name) ThrowXb(core::ecTableBadField, "Duplicate field name " + f.name);
    f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(f.type)));
    switch (f.type) {
      case 'C':
        if (f.width < 1 || f.width > 254) ThrowXb(core::ecTableBadField, "Field " + f.name + ": width must be 1 to 254");
        f.decimals = 0;
        break;
      case 'N':
      case 'F':
        if (f.width < 1 || f.width > 20) ThrowXb(core::ecTableBadField, "Field " + f.name + ": width must be 1 to 20");
        if (f.decimals > 0 && f.decimals + 2 > f.width)
          ThrowXb(core::ecTableBadField, "Field " + f.name + ": too many decimals for its width");
        break;
      case 'D': f.width = 8; f.decimals = 0; break;
      case 'L': f.width = 1; f.decimals = 0; break;
      case 'M':
      case 'B':
      case 'G':
      case 'P': f.width = 10; f.decimals = 0; break;
      default: ThrowXb(core::ecTableBadField, std::string("Field ") + f.name + ": unknown type '" + f.type + "'");
    }
    f.offset = offset;
    offset += f.width;
    out.push_back(f);
  }
  if (offset > 65500) ThrowXb(core::ecTableBadField, "Record is too long");
  return out;
}

std::string DbfFile::EmptyTableImage(const std::vector<DbfField>& fields, uint8_t codePage) {
  bool memo = std::any_of(fields.begin(), fields.end(),
                          [](const DbfField& f) { return f.type == 'M' || f.type == 'B' || f.type == 'G' || f.type == 'P'; });
  uint32_t hdrLen = 32 + 32 * static_cast<uint32_t>(fields.size()) + 1;
  uint32_t recLen = 1;
  for (const auto& f : fields) recLen += f.width;
  std::string img(hdrLen + 1, '\0');
  auto* p = reinterpret_cast<uint8_t*>(img.data());
  p[0] = memo ? kDbfVersionFoxMemo : kDbfVersionPlain;
  TodayBytes(p + 1);
  PutLe32(p + 4, 0);
  PutLe16(p + 8, static_cast<uint16_t>(hdrLen));
  PutLe16(p + 10, static_cast<uint16_t>(recLen));
  p[29] = codePage;
  for (size_t i = 0; i < fields.size(); ++i) {
    uint8_t* d = p + 32 + 32 * i;
    std::memcpy(d, fields[i].name.data(), fields[i].name.size());
    d[11] = static_cast<uint8_t>(fields[i].type);
    PutLe32(d + 12, fields[i].offset);
    d[16] = static_cast<uint8_t>(fields[i].width);
    d[17] = fields[i].decimals;
  }
  p[hdrLen - 1] = 0x0D;
  p[hdrLen] = 0x1A;
  return img;
}

void DbfFile::Open(const std::string& path, OpenMode mode) {
  Close();
  int flags = (mode == OpenMode::Exclusive ? O_RDWR : O_RDONLY) | O_CLOEXEC;
  int fd = ::open(path.c_str(), flags);
  if (fd < 0) {
    int err = errno;
    ThrowXb(core::ecTableOpenFailed, "Cannot open table " + path + ": " + SystemErrorText(err));
  }
  if (::flock(fd, (mode == OpenMode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK)
      ThrowXb(core::ecTableInUse, "Table " + path + " is in use by another program or work area");
    ThrowXb(core::ecTableOpenFailed, "Cannot lock table " + path + ": " + SystemErrorText(err));
  }
  OpenLocked(fd, path, mode);
}

void DbfFile::OpenLocked(int fd, const std::string& path, OpenMode mode) {
  Close();
  fd_ = fd;
  path_ = path;
  mode_ = mode;
  changed_ = false;
  try {
    ParseHeader(FileSize(fd_, path_));
  } catch (...) {
    ::close(fd_);
    fd_ = -1;
    throw;
  }
  cacheCapacity_ = std::max<uint32_t>(1, static_cast<uint32_t>(kCacheBytes / recLen_));
  cache_.assign(static_cast<size_t>(cacheCapacity_) * recLen_, 0);
  cacheFirst_ = cacheCount_ = 0;
}

void DbfFile::ParseHeader(uint64_t fileSize) {
  auto corrupt = [&](const std::string& why) { ThrowXb(core::ecTableCorrupt, "Table " + path_ + " is damaged: " + why); };
  if (fileSize < 33) corrupt("the file is too short for a table header");
  uint8_t h[32];
  PReadAll(fd_, h, 32, 0, path_);
  version_ = h[0];
  recCount_ = Le32(h + 4);
  hdrLen_ = Le16(h + 8);
  recLen_ = Le16(h + 10);
  flags_ = h[28];
  codePage_ = h[29];
  if (hdrLen_ < 33 || hdrLen_ > fileSize) corrupt("bad header length");
  if (recLen_ < 2) corrupt("bad record length");
  std::vector<uint8_t> desc(hdrLen_ - 32);
  PReadAll(fd_, desc.data(), desc.size(), 32, path_);
  fields_.clear();
  uint32_t offset = 1;
  for (size_t pos = 0; pos + 32 <= desc.size() && desc[pos] != 0x0D; pos += 32) {
    const uint8_t* d = desc.data() + pos;
    DbfField f;
    size_t n = 0;
    while (n < 11 && d[n] != 0) ++n;
    f.name = UpperAscii(std::string(reinterpret_cast<const char*>(d), n));
    while (!f.name.empty() && f.name.back() == ' ') f.name.pop_back();
    if (f.name.empty()) corrupt("a field has no name");
    f.type = static_cast<char>(std::toupper(d[11]));
    f.width = d[16];
    f.decimals = d[17];
    if (f.type == 'C' && f.decimals > 0) {  // wide character fields keep the high byte here
      f.width = static_cast<uint16_t>(d[16] + 256 * d[17]);
      f.decimals = 0;
    }
    if (f.width == 0) corrupt("field " + f.name + " has width 0");
    f.offset = offset;
    offset += f.width;
    fields_.push_back(std::move(f));
    if (fields_.size() > 1024) corrupt("too many fields");
  }
  if (fields_.empty()) corrupt("no fields");
  if (offset > recLen_) corrupt("fields are wider than the record");
  uint64_t need = static_cast<uint64_t>(hdrLen_) + static_cast<uint64_t>(recCount_) * recLen_;
  if (need > fileSize) {
    uint64_t whole = (fileSize - hdrLen_) / recLen_;
    corrupt("the file is truncated (header says " + std::to_string(recCount_) + " records, file holds " +
            std::to_string(whole) + ")");
  }
}

void DbfFile::Close() {
  if (fd_ < 0) return;
  int fd = fd_;
  try {
    Flush(changed_);
  } catch (...) {
    ::close(fd);
    fd_ = -1;
    throw;
  }
  ::close(fd);
  fd_ = -1;
  fields_.clear();
  cache_.clear();
}

bool DbfFile::HasMemoFields() const {
  return std::any_of(fields_.begin(), fields_.end(), [](const DbfField& f) {
    return f.type == 'M' || f.type == 'B' || f.type == 'G' || f.type == 'P';
  });
}

int DbfFile::FieldIndex(std::string_view name) const {
  std::string up = UpperAscii(std::string(name));
  for (size_t i = 0; i < fields_.size(); ++i)
    if (fields_[i].name == up) return static_cast<int>(i);
  return -1;
}

void DbfFile::CheckWritable() const {
  if (fd_ < 0) ThrowXb(core::ecNoWorkArea, "Table is not open");
  if (mode_ != OpenMode::Exclusive)
    ThrowXb(core::ecTableReadOnly, "Table " + path_ + " is not opened exclusively; it cannot be changed");
}

void DbfFile::TouchDate() {
  if (changed_) return;
  uint8_t d[3];
  TodayBytes(d);
  PWriteAll(fd_, d, 3, 1, path_);
  changed_ = true;
}

void DbfFile::SetTableFlags(uint8_t flags) {
  CheckWritable();
  if (flags == flags_) return;
  PWriteAll(fd_, &flags, 1, 28, path_);
  flags_ = flags;
}

namespace {
std::atomic<uint64_t> recordReads{0};
}  // namespace

uint64_t DbfFile::RecordReads() { return recordReads.load(std::memory_order_relaxed); }

void DbfFile::ReadRecord(uint32_t recno, uint8_t* buf) { std::memcpy(buf, CachedRecord(recno), recLen_); }

const uint8_t* DbfFile::CachedRecord(uint32_t recno) {
  recordReads.fetch_add(1, std::memory_order_relaxed);
  if (fd_ < 0) ThrowXb(core::ecNoWorkArea, "Table is not open");
  if (recno < 1 || recno > recCount_) ThrowXb(core::ecNoRecord, "Record " + std::to_string(recno) + " does not exist");
  if (recno >= cacheFirst_ && recno < cacheFirst_ + cacheCount_)
    return cache_.data() + static_cast<size_t>(recno - cacheFirst_) * recLen_;
  uint32_t count = std::min(cacheCapacity_, recCount_ - recno + 1);
  PReadAll(fd_, cache_.data(), static_cast<size_t>(count) * recLen_,
           hdrLen_ + static_cast<uint64_t>(recno - 1) * recLen_, path_);
  cacheFirst_ = recno;
  cacheCount_ = count;
  return cache_.data();
}

void DbfFile::WriteRecord(uint32_t recno, const uint8_t* buf) {
  CheckWritable();
  if (recno < 1 || recno > recCount_) ThrowXb(core::ecNoRecord, "Record " + std::to_string(recno) + " does not exist");
  TouchDate();
  PWriteAll(fd_, buf, recLen_, hdrLen_ + static_cast<uint64_t>(recno - 1) * recLen_, path_);
  if (recno >= cacheFirst_ && recno < cacheFirst_ + cacheCount_)
    std::memcpy(cache_.data() + static_cast<size_t>(recno - cacheFirst_) * recLen_, buf, recLen_);
}

uint32_t DbfFile::AppendRecord(const uint8_t* buf) {
  CheckWritable();
  if (recCount_ == 0xFFFFFFFEu) ThrowXb(core::ecTableWriteFailed, "Table " + path_ + " is full");
  TouchDate();
  uint32_t recno = recCount_ + 1;
  // Record and end-of-file mark in one write, then the count: a kill in between leaves the
  // previous, consistent table.
  std::vector<uint8_t>& tmp = appendBuf_;
  tmp.resize(recLen_ + 1u);
  std::memcpy(tmp.data(), buf, recLen_);
  tmp[recLen_] = 0x1A;
  PWriteAll(fd_, tmp.data(), tmp.size(), hdrLen_ + static_cast<uint64_t>(recno - 1) * recLen_, path_);
  uint8_t cnt[4];
  PutLe32(cnt, recno);
  PWriteAll(fd_, cnt, 4, 4, path_);
  recCount_ = recno;
  if (cacheCount_ > 0 && recno == cacheFirst_ + cacheCount_ && cacheCount_ < cacheCapacity_) {
    std::memcpy(cache_.data() + static_cast<size_t>(cacheCount_) * recLen_, buf, recLen_);
    ++cacheCount_;
  }
  return recno;
}

void DbfFile::Flush(bool sync) {
  if (fd_ < 0) return;
  if (sync && mode_ == OpenMode::Exclusive) SyncFile(fd_, path_);
}

}  // namespace qv::tables
