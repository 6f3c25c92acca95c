#include "faximage/qvf_writer.h"

#include <algorithm>
#include <limits>

#include "core/error_codes.h"
#include "faximage/t4_coder.h"

namespace qv::faximage {

QvfWriter::~QvfWriter() {
  // A conversion's writer deletes its unfinished file on its own; a received fax keeps its
  // complete pages.
  if (pageByPage_ && out_.IsOpen()) Close();
}

int QvfWriter::start(const std::string& fileName, BufferedWriter::OnFailure onFailure) {
  pageOpen_ = false;
  imageLength_ = 0;
  header_.PageCount = 0;
  completePages_ = 0;
  completeEnd_ = kQvfFirstPageOffset;
  if (int rc = out_.Create(fileName, onFailure)) return rc;
  uint8_t raw[kQvfFileHeaderSize];
  header_.Encode(raw);
  return out_.Write(raw, sizeof raw);
}

int QvfWriter::Create(const std::string& fileName) {
  if (pageByPage_ && out_.IsOpen()) Close();  // the fax before keeps its pages
  header_ = QvfFileHeader();
  pageByPage_ = false;
  return start(fileName, BufferedWriter::OnFailure::DeleteFile);
}

int QvfWriter::CreatePageByPage(const std::string& fileName, std::string_view stationId, bool padStationId) {
  if (pageByPage_ && out_.IsOpen()) Close();  // the fax before keeps its pages
  header_ = QvfFileHeader();
  header_.SetStationId(stationId, padStationId);
  header_.DateTime = DosDateTimeNow();
  pageByPage_ = true;
  if (int rc = start(fileName, BufferedWriter::OnFailure::KeepFile)) return rc;
  // The header is on disk at once: a file that cannot take even that fails here, not pages later.
  return out_.Flush();
}

int QvfWriter::keepCompletePages(int rc) {
  if (rc == 0 || !pageByPage_) return rc;
  pageOpen_ = false;
  header_.PageCount = completePages_;
  // The header on disk already counts exactly these pages; only what follows them goes.
  out_.Truncate(std::min(completeEnd_, out_.Position()));
  return rc;
}

int QvfWriter::beginPageIfNeeded() {
  if (pageOpen_) return 0;
  pageHeaderPos_ = out_.Position();
  imageLength_ = 0;
  QvfPageHeader ph;
  ph.PageFlags = pageFlags_;
  uint8_t raw[kQvfPageHeaderSize];
  ph.Encode(raw);
  if (int rc = out_.Write(raw, sizeof raw)) return rc;
  pageOpen_ = true;
  return 0;
}

int QvfWriter::appendToPage(const void* data, size_t size) {
  // ImageLength is a signed 32-bit field; a page that outgrows it cannot be stored.
  if (imageLength_ + static_cast<int64_t>(size) > std::numeric_limits<int32_t>::max())
    return out_.Fail(qv::core::ecDiskFull);
  if (int rc = out_.Write(data, size)) return rc;
  imageLength_ += static_cast<int64_t>(size);
  return 0;
}

int QvfWriter::WriteRowRecord(std::span<const uint8_t> codedRow) {
  if (codedRow.size() > 0xFFFF) return qv::core::ecBadArgument;
  if (int rc = beginPageIfNeeded()) return keepCompletePages(rc);
  uint8_t len[2] = {static_cast<uint8_t>(codedRow.size()),
                    static_cast<uint8_t>(codedRow.size() >> 8)};
  if (int rc = appendToPage(len, 2)) return keepCompletePages(rc);
  return keepCompletePages(appendToPage(codedRow.data(), codedRow.size()));
}

int QvfWriter::writeFileHeader() {
  uint8_t raw[kQvfFileHeaderSize];
  header_.Encode(raw);
  return out_.WriteAt(0, raw, sizeof raw);
}

int QvfWriter::finishPage() {
  if (header_.PageCount == 0xFFFF)  // PageCount is 16 bits
    return keepCompletePages(out_.Fail(qv::core::ecBadArgument));
  QvfPageHeader ph;
  ph.ImageLength = static_cast<int32_t>(imageLength_);
  ph.PageFlags = pageFlags_;
  uint8_t raw[kQvfPageHeaderSize];
  ph.Encode(raw);
  pageOpen_ = false;
  // The page's data and its length reach the file before the header counts it.
  if (int rc = out_.WriteAt(pageHeaderPos_, raw, sizeof raw)) return keepCompletePages(rc);
  ++header_.PageCount;
  if (!pageByPage_) return 0;
  header_.DateTime = DosDateTimeNow();
  if (int rc = writeFileHeader()) return keepCompletePages(rc);
  completePages_ = header_.PageCount;
  completeEnd_ = out_.Position();
  return 0;
}

int QvfWriter::EndPage() {
  if (int rc = WriteRowRecord(kEndOfPageCode)) return rc;
  return finishPage();
}

int QvfWriter::WriteRaw(std::span<const uint8_t> data) {
  if (int rc = beginPageIfNeeded()) return keepCompletePages(rc);
  return keepCompletePages(appendToPage(data.data(), data.size()));
}

int QvfWriter::EndRawPage() {
  if (int rc = beginPageIfNeeded()) return keepCompletePages(rc);
  return finishPage();
}

int QvfWriter::CutPage() {
  if (!pageOpen_) return 0;
  pageOpen_ = false;
  imageLength_ = 0;
  return keepCompletePages(out_.Truncate(pageHeaderPos_));
}

int QvfWriter::Close(std::string_view stationId, bool padStationId) {
  if (!out_.IsOpen()) return out_.Error() ? out_.Error() : qv::core::ecBadHandle;
  if (pageByPage_) CutPage();
  header_.DateTime = DosDateTimeNow();
  header_.SetStationId(stationId, padStationId);
  const int rc = keepCompletePages(writeFileHeader());
  if (rc != 0 && !out_.IsOpen()) return rc;  // a conversion's file is gone already
  const int closed = out_.Close();
  return rc ? rc : closed;
}

int QvfWriter::Close() {
  if (!pageByPage_) return Close(std::string_view(), false);
  if (!out_.IsOpen()) return out_.Error() ? out_.Error() : qv::core::ecBadHandle;
  CutPage();
  return out_.Close();
}

}  // namespace qv::faximage
