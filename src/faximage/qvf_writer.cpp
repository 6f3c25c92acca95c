#include "faximage/qvf_writer.h"

#include <limits>

#include "core/error_codes.h"
#include "faximage/t4_coder.h"

namespace qv::faximage {

int QvfWriter::Create(const std::string& fileName) {
  header_ = QvfFileHeader();
  pageOpen_ = false;
  imageLength_ = 0;
  if (int rc = out_.Create(fileName)) return rc;
  uint8_t raw[kQvfFileHeaderSize];
  header_.Encode(raw);
  return out_.Write(raw, sizeof raw);
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
  if (imageLength_ + static_cast<int64_t>(size) > std::numeric_limits<int32_t>::max()) {
    out_.Discard();
    return qv::core::ecDiskFull;
  }
  if (int rc = out_.Write(data, size)) return rc;
  imageLength_ += static_cast<int64_t>(size);
  return 0;
}

int QvfWriter::WriteRowRecord(std::span<const uint8_t> codedRow) {
  if (codedRow.size() > 0xFFFF) return qv::core::ecBadArgument;
  if (int rc = beginPageIfNeeded()) return rc;
  uint8_t len[2] = {static_cast<uint8_t>(codedRow.size()),
                    static_cast<uint8_t>(codedRow.size() >> 8)};
  if (int rc = appendToPage(len, 2)) return rc;
  return appendToPage(codedRow.data(), codedRow.size());
}

int QvfWriter::finishPage() {
  if (header_.PageCount == 0xFFFF) {  // PageCount is 16 bits
    out_.Discard();
    return qv::core::ecBadArgument;
  }
  ++header_.PageCount;
  QvfPageHeader ph;
  ph.ImageLength = static_cast<int32_t>(imageLength_);
  ph.PageFlags = pageFlags_;
  uint8_t raw[kQvfPageHeaderSize];
  ph.Encode(raw);
  pageOpen_ = false;
  return out_.WriteAt(pageHeaderPos_, raw, sizeof raw);
}

int QvfWriter::EndPage() {
  if (int rc = WriteRowRecord(kEndOfPageCode)) return rc;
  return finishPage();
}

int QvfWriter::WriteRaw(std::span<const uint8_t> data) {
  if (int rc = beginPageIfNeeded()) return rc;
  return appendToPage(data.data(), data.size());
}

int QvfWriter::EndRawPage() {
  if (int rc = beginPageIfNeeded()) return rc;
  return finishPage();
}

int QvfWriter::Close(std::string_view stationId, bool padStationId) {
  if (!out_.IsOpen()) return out_.Error() ? out_.Error() : qv::core::ecBadHandle;
  header_.DateTime = DosDateTimeNow();
  header_.SetStationId(stationId, padStationId);
  uint8_t raw[kQvfFileHeaderSize];
  header_.Encode(raw);
  if (int rc = out_.WriteAt(0, raw, sizeof raw)) return rc;
  return out_.Close();
}

}  // namespace qv::faximage
