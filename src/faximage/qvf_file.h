#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace qv::faximage {

// QVF fax files: a 64-byte file header, then per page a 16-byte page header followed by exactly
// ImageLength bytes of T.4 coded image data. All integers little-endian.

inline constexpr std::array<uint8_t, 6> kQvfSignature = {'Q', 'V', 'F', '1', '0', 0x1A};
inline constexpr int kQvfFileHeaderSize = 64;
inline constexpr int kQvfPageHeaderSize = 16;
inline constexpr int kQvfFirstPageOffset = 64;
inline constexpr int kQvfStationIdMax = 20;

// PageFlags bits.
inline constexpr uint16_t pfHighRes = 0x0001;
inline constexpr uint16_t pfWide = 0x0002;
inline constexpr uint16_t pfRowRecords = 0x0004;


struct QvfFileHeader {
  std::array<uint8_t, 6> Signature = kQvfSignature;
  uint32_t DateTime = 0;  // MS-DOS packed date/time
  uint8_t StationIdLength = 0;
  std::array<char, kQvfStationIdMax> StationId{};  // bytes after the identifier are spaces
  uint16_t PageCount = 0;
  uint32_t FirstPageOffset = kQvfFirstPageOffset;

  QvfFileHeader() { StationId.fill(' '); }

  bool HasSignature() const { return Signature == kQvfSignature; }
  // The identifier as stored: the first StationIdLength characters (at most 20).
  std::string StationIdString() const;
  // Keeps the first 20 characters and pads with spaces. The length byte holds the real length,
  // or 20 when padToFull is set (the receiver stores the remote identifier that way).
  void SetStationId(std::string_view id, bool padToFull = false);

  void Encode(uint8_t (&out)[kQvfFileHeaderSize]) const;
  static QvfFileHeader Decode(const uint8_t (&in)[kQvfFileHeaderSize]);
};

struct QvfPageHeader {
  int32_t ImageLength = 0;  // bytes of image data after this header
  uint16_t PageFlags = 0;

  void Encode(uint8_t (&out)[kQvfPageHeaderSize]) const;
  static QvfPageHeader Decode(const uint8_t (&in)[kQvfPageHeaderSize]);
};

// Where one page lies in a fax file: its header, and the offsets of the header and of the data.
struct QvfPageSpan {
  int64_t headerOffset = 0;
  int64_t dataOffset = 0;
  QvfPageHeader header;
};

// An open fax file read page by page: pages are found by walking the page headers from
// FirstPageOffset, and a page's data is read in order through a 4096-byte buffer (row records
// are small; one system call each would cost more than the rest of sending them).
class QvfReader {
 public:
  static constexpr size_t kBlockSize = 4096;

  QvfReader() = default;
  QvfReader(const QvfReader&) = delete;
  QvfReader& operator=(const QvfReader&) = delete;
  ~QvfReader() { Close(); }

  // Opens the file and reads its header; the codes of ReadFaxHeader.
  int Open(const std::string& fileName);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const QvfFileHeader& Header() const { return header_; }
  int PageCount() const { return header_.PageCount; }

  // The 1-based page's header and the file offset of its image data. ecFaxBadFormat for a page
  // outside the page count or a chain that runs backwards; ecReadPastEof when it runs past the
  // end of the file.
  int FindPage(int page, QvfPageHeader& header, int64_t& dataOffset);
  // The pages, from the first on and at most PageCount of them, that lie whole within the file:
  // the walk stops at the first page whose header or data runs past the end of the file or whose
  // length is not positive (a header never completed after its page). 0 or a negative code.
  int WholePages(std::vector<QvfPageSpan>& pages);
  // The offset just after the data of the last counted page. ecFaxBadFormat when a page's header
  // or data does not lie within the file or a length is negative.
  int EndOfPages(int64_t& end);
  // Where the next Read starts.
  void Seek(int64_t offset) { pos_ = offset; }
  // Reads up to n bytes from the position on and moves past them; the count (short only at the
  // end of the file) or a negative code.
  int64_t Read(void* buffer, size_t n);
  // Exactly n bytes at offset, unbuffered; ecReadPastEof when the file ends first.
  int ReadAt(int64_t offset, void* buffer, size_t n);

 private:
  // One step of the page chain: the header at headerOffset, and where its data starts.
  int ReadPageAt(int64_t headerOffset, QvfPageSpan& page);

  int fd_ = -1;
  QvfFileHeader header_;
  int64_t pos_ = 0;
  int64_t blockStart_ = 0;
  size_t blockLength_ = 0;
  uint8_t block_[kBlockSize] = {};
};

// True when the file can be read and starts with the six signature bytes.
bool IsQvfFile(const std::string& fileName);

// Reads the file header; ecFaxBadFormat (-8001) when the signature does not match, a negated file-system
// code when the file cannot be read (-2 for an empty name, -100 when it is too short).
int ReadFaxHeader(const std::string& fileName, QvfFileHeader& header);

// Walks the page headers from FirstPageOffset to the 1-based page and returns its header, and
// when dataOffset is given, the file offset of the page's image data.
int ReadPageHeader(const std::string& fileName, int page, QvfPageHeader& header,
                   int64_t* dataOffset = nullptr);

// MS-DOS packed date/time: time in the low 16 bits (seconds/2, minute, hour), date in the high
// 16 bits (day, month, year - 1980). Years outside 1980..2099 pack as 0.
uint32_t PackDosDateTime(const std::tm& local);
// False for 0 or an impossible value; otherwise fills year/month/day/hour/minute/second.
bool UnpackDosDateTime(uint32_t packed, std::tm& local);
// The current local time, packed.
uint32_t DosDateTimeNow();

}  // namespace qv::faximage
