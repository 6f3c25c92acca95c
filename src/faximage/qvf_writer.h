#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "faximage/buffered_writer.h"
#include "faximage/qvf_file.h"

namespace qv::faximage {

// Writes a QVF file page by page. The page header goes out just before the first record of a
// page and is rewritten with the final ImageLength when the page ends; the file header is
// rewritten on close with the date/time and station identifier. Every failure leaves no file.
class QvfWriter {
 public:
  // Creates the file and writes a provisional file header.
  int Create(const std::string& fileName);

  // Flags for the pages that start from now on (pfRowRecords, pfHighRes, pfWide).
  void SetPageFlags(uint16_t flags) { pageFlags_ = flags; }

  // Appends one row record (2-byte length + coded bytes) to the current page.
  int WriteRowRecord(std::span<const uint8_t> codedRow);
  // Appends the end-of-page record, counts the page and completes its header.
  int EndPage();

  // Raw pages (the coded stream as received): data is appended as it comes; EndRawPage completes
  // the page header and counts the page.
  int WriteRaw(std::span<const uint8_t> data);
  int EndRawPage();

  // Sets DateTime to now and the station identifier, rewrites the file header and closes.
  int Close(std::string_view stationId, bool padStationId = false);
  // Closes and deletes the file.
  void Discard() { out_.Discard(); }

  int PageCount() const { return header_.PageCount; }
  int Error() const { return out_.Error(); }
  const std::string& FileName() const { return out_.FileName(); }

 private:
  int beginPageIfNeeded();
  int appendToPage(const void* data, size_t size);
  int finishPage();

  BufferedWriter out_;
  QvfFileHeader header_;
  uint16_t pageFlags_ = pfRowRecords;
  bool pageOpen_ = false;
  int64_t pageHeaderPos_ = 0;
  int64_t imageLength_ = 0;
};

}  // namespace qv::faximage
