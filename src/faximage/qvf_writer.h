#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "faximage/buffered_writer.h"
#include "faximage/qvf_file.h"

namespace qv::faximage {

// Writes a QVF file page by page. The page header goes out just before the first record of a
// page and is rewritten with the final ImageLength when the page ends.
//
// Two ways to create the file:
//  - Create (a conversion): the file header is completed on Close with the date/time and station
//    identifier; every failure leaves no file.
//  - CreatePageByPage (a fax being received): the file header carries the station identifier and
//    the date/time from the start and is rewritten after every completed page, so the file on
//    disk is always a readable fax of its complete pages, even when the program dies mid-page.
//    A failure (a full disk) cuts the file back to the end of the last complete page and keeps
//    it; so does dropping the writer without Close. Pages once completed are never lost.
class QvfWriter {
 public:
  QvfWriter() = default;
  QvfWriter(const QvfWriter&) = delete;
  QvfWriter& operator=(const QvfWriter&) = delete;
  ~QvfWriter();

  // Creates the file and writes a provisional file header.
  int Create(const std::string& fileName);
  // Creates the file with its final header (page count 0, DateTime now, the station identifier
  // as SetStationId stores it).
  int CreatePageByPage(const std::string& fileName, std::string_view stationId, bool padStationId);

  // Flags for the pages that start from now on (pfRowRecords, pfHighRes, pfWide).
  void SetPageFlags(uint16_t flags) { pageFlags_ = flags; }
  // The station identifier of the next header rewrite (page by page: the next completed page).
  void SetStationId(std::string_view id, bool padToFull = false) { header_.SetStationId(id, padToFull); }

  // Appends one row record (2-byte length + coded bytes) to the current page.
  int WriteRowRecord(std::span<const uint8_t> codedRow);
  // Appends the end-of-page record, counts the page and completes its header.
  int EndPage();

  // Raw pages (the coded stream as received): data is appended as it comes; EndRawPage completes
  // the page header and counts the page.
  int WriteRaw(std::span<const uint8_t> data);
  int EndRawPage();

  // Drops the page being written: the file is cut back to where its page header began, as if the
  // page had never started (a page the far side must send again). 0 when no page is open.
  int CutPage();
  bool PageOpen() const { return pageOpen_; }

  // Sets DateTime to now and the station identifier, rewrites the file header and closes (page
  // by page, an open page is cut off first).
  int Close(std::string_view stationId, bool padStationId = false);
  // Page by page: closes the file as it stands (its header was written with the last page); an
  // open page is cut off first. Returns the writer's error, if it had one; the file stays. For a
  // conversion it is Close with an empty station identifier.
  int Close();
  // Closes and deletes the file.
  void Discard() { out_.Discard(); }

  // Pages completed; page by page, after a failure, the pages the file still holds.
  int PageCount() const { return header_.PageCount; }
  int Error() const { return out_.Error(); }
  bool IsOpen() const { return out_.IsOpen(); }
  const std::string& FileName() const { return out_.FileName(); }

 private:
  int start(const std::string& fileName, BufferedWriter::OnFailure onFailure);
  int beginPageIfNeeded();
  int appendToPage(const void* data, size_t size);
  int finishPage();
  int writeFileHeader();
  // Page by page: after a failure, back to the last complete page.
  int keepCompletePages(int rc);

  BufferedWriter out_;
  QvfFileHeader header_;
  bool pageByPage_ = false;
  uint16_t pageFlags_ = pfRowRecords;
  bool pageOpen_ = false;
  int64_t pageHeaderPos_ = 0;
  int64_t imageLength_ = 0;
  int64_t completeEnd_ = kQvfFirstPageOffset;  // file length after the last complete page
  uint16_t completePages_ = 0;                  // the page count the header on disk holds
};

}  // namespace qv::faximage
