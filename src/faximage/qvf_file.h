#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

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
