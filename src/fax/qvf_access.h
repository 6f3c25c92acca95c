#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qv::fax {

// The pieces of the QVF format the fax engine reads and writes itself: the transmitter walks
// pages of a document, the receiver writes a file page by page as the data arrives.
inline constexpr size_t kQvfHeaderSize = 64;
inline constexpr size_t kQvfPageHeaderSize = 16;
inline constexpr uint16_t kPageHighRes = 0x0001;
inline constexpr uint16_t kPageWide = 0x0002;
inline constexpr uint16_t kPageRowRecords = 0x0004;

struct QvfPageInfo {
  int32_t imageLength = 0;
  uint16_t flags = 0;
  long dataOffset = 0;  // file offset of the page's first image byte
};

bool HasQvfSignature(const uint8_t* header);
uint32_t DosDateTimeNow();

// A 64-byte file header as the receiver writes it: the station ID is padded with spaces to
// 20 characters and its length byte is 20.
void BuildReceiverHeader(uint8_t* header, const std::string& remoteId, uint16_t pageCount);
uint16_t HeaderPageCount(const uint8_t* header);
void SetHeaderPageCount(uint8_t* header, uint16_t count);

// A document opened for sending. Every call returns 0 or a negative code.
class QvfReader {
 public:
  QvfReader() = default;
  QvfReader(const QvfReader&) = delete;
  QvfReader& operator=(const QvfReader&) = delete;
  ~QvfReader() { Close(); }

  int Open(const std::string& fileName);  // -8001 without the signature
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  int PageCount() const { return pageCount_; }
  int ReadPageInfo(int page, QvfPageInfo& info);  // 1-based; -8001 past the page count
  int Seek(long offset);
  // Reads up to count bytes; the number read or a negative code.
  long Read(uint8_t* buffer, size_t count);

 private:
  std::FILE* file_ = nullptr;
  int pageCount_ = 0;
};

// Negated errno as the library's run-time I/O code.
int IoError();

}  // namespace qv::fax
