#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::tables {

// One field descriptor of a DBF table. `offset` counts from the start of the record, so the
// first field sits at 1 (after the deletion flag).
struct DbfField {
  std::string name;
  char type = 'C';
  uint32_t offset = 0;
  uint16_t width = 0;
  uint8_t decimals = 0;
};

// How a table is opened; the numbers are the engine's mode numbers.
enum class OpenMode { Shared = 0, ReadOnly = 1, Exclusive = 2 };

inline constexpr uint8_t kDbfVersionPlain = 0x03;
inline constexpr uint8_t kDbfVersionFoxMemo = 0xF5;
inline constexpr uint8_t kDbfFlagStructuralCdx = 0x01;

// A DBF data file: header, field descriptors and fixed-width records. Every write reaches the
// file at once (a posted record survives the process being killed); the header's record count
// is updated after the record itself is in the file.
class DbfFile {
 public:
  DbfFile() = default;
  ~DbfFile();
  DbfFile(const DbfFile&) = delete;
  DbfFile& operator=(const DbfFile&) = delete;

  // Checks and completes a field list (upper-case names, widths, offsets); throws on a bad one.
  static std::vector<DbfField> NormalizeFields(const std::vector<DbfField>& fields);
  // The bytes of an empty table with these (normalized) fields.
  static std::string EmptyTableImage(const std::vector<DbfField>& fields, uint8_t codePage = 0x03);

  // Opens with an OS lock: exclusive for OpenMode::Exclusive, shared otherwise. A lock held
  // elsewhere gives EXBaseError core::ecTableInUse; a damaged header core::ecTableCorrupt.
  void Open(const std::string& path, OpenMode mode);
  // Takes over a descriptor that already holds the right lock (used when a packed copy
  // replaces the table without letting go of the lock).
  void OpenLocked(int fd, const std::string& path, OpenMode mode);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  const std::string& Path() const { return path_; }
  OpenMode Mode() const { return mode_; }
  bool Writable() const { return mode_ == OpenMode::Exclusive; }
  uint8_t Version() const { return version_; }
  uint8_t TableFlags() const { return flags_; }
  void SetTableFlags(uint8_t flags);
  uint8_t CodePage() const { return codePage_; }
  bool HasMemoFields() const;

  const std::vector<DbfField>& Fields() const { return fields_; }
  int FieldIndex(std::string_view name) const;  // case-insensitive; -1 when absent
  uint32_t RecordCount() const { return recCount_; }
  uint16_t RecordLength() const { return recLen_; }
  uint16_t HeaderLength() const { return hdrLen_; }

  void ReadRecord(uint32_t recno, uint8_t* buf);
  // The record inside the read cache, without a copy: valid until the next read, write or
  // append of this table. For passes over every record that only look at them.
  const uint8_t* CachedRecord(uint32_t recno);
  // Records read by every table of the process so far (cache hits included): lets a test tell
  // that a view fetched only what it showed.
  static uint64_t RecordReads();
  void WriteRecord(uint32_t recno, const uint8_t* buf);
  uint32_t AppendRecord(const uint8_t* buf);

  // Writes the update date (when the table changed) and optionally flushes to disk.
  void Flush(bool sync);
  int Fd() const { return fd_; }

 private:
  void CheckWritable() const;
  void TouchDate();
  void ParseHeader(uint64_t fileSize);

  int fd_ = -1;
  std::string path_;
  OpenMode mode_ = OpenMode::ReadOnly;
  uint8_t version_ = 0;
  uint8_t flags_ = 0;
  uint8_t codePage_ = 0;
  uint16_t hdrLen_ = 0;
  uint16_t recLen_ = 0;
  uint32_t recCount_ = 0;
  bool changed_ = false;
  std::vector<DbfField> fields_;

  // Read-ahead window of whole records, kept in step with every write.
  std::vector<uint8_t> cache_;
  std::vector<uint8_t> appendBuf_;
  uint32_t cacheFirst_ = 0;
  uint32_t cacheCount_ = 0;
  uint32_t cacheCapacity_ = 0;
};

}  // namespace qv::tables
