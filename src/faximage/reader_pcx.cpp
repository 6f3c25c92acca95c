#include <algorithm>
#include <cstring>

#include "core/error_codes.h"
#include "faximage/converter.h"
#include "faximage/converter_image.h"

namespace qv::faximage {

namespace {

constexpr size_t kPcxHeader = 128;
constexpr size_t kDcxHeader = 4100;
constexpr uint32_t kDcxMagic = 0x3ADE68B1;

// One PCX image held in data[begin, end): header checks, then run-length decoded rows until the
// image data is used up.
class PcxPage {
 public:
  int Open(ConverterState& s, const std::vector<uint8_t>& data, size_t begin, size_t end) {
    const int bad = qv::core::ecUnsupportedFormat;
    if (end > data.size() || begin > end || end - begin < kPcxHeader) return bad;
    const uint8_t* h = data.data() + begin;
    int xmin = Le16(h + 4), xmax = Le16(h + 8), ymin = Le16(h + 6), ymax = Le16(h + 10);
    bytesPerLine_ = Le16(h + 66);
    if (h[0] != 10 || h[2] != 1 || h[3] != 1) return bad;
    // Several bit planes would be a colour image whose planes we cannot merge.
    if (h[65] > 1) return bad;
    if (xmax < xmin || xmax - xmin > s.ResWidth) return bad;
    width_ = xmax - xmin + 1;
    if (ymax < ymin) return bad;
    rowsLeft_ = ymax - ymin + 1;
    if (bytesPerLine_ == 0) return bad;
    data_ = &data;
    pos_ = begin + kPcxHeader;
    end_ = end;
    runLeft_ = 0;
    row_.assign(bytesPerLine_, 0);
    DecidePlacement(s, width_);
    return 0;
  }

  // Next row into the raster; false when the image data is used up.
  bool Row(ConverterState& s, uint8_t* raster) {
    // The image ends after its rows even when data follows (a palette block, say), or when the
    // data is used up first.
    if (rowsLeft_ <= 0 || (pos_ >= end_ && runLeft_ == 0)) return false;
    --rowsLeft_;
    std::fill(row_.begin(), row_.end(), 0xFF);  // white where a short last row has no data
    const std::vector<uint8_t>& d = *data_;
    size_t got = 0;
    while (got < row_.size()) {
      if (runLeft_ == 0) {
        if (pos_ >= end_) break;
        uint8_t b = d[pos_++];
        if (b >= 192) {
          if (pos_ >= end_) break;
          runLeft_ = b & 63u;
          runByte_ = d[pos_++];
          if (runLeft_ == 0) continue;
        } else {
          runLeft_ = 1;
          runByte_ = b;
        }
      }
      // A run may carry on into the next row.
      size_t take = std::min<size_t>(runLeft_, row_.size() - got);
      std::memset(row_.data() + got, runByte_, take);
      got += take;
      runLeft_ -= static_cast<uint32_t>(take);
    }
    if (got == 0) return false;
    // Only the image's own bytes are placed: the padding of each line would turn black.
    PlaceImageRow(s, raster, row_.data(), static_cast<int64_t>(row_.size()), width_, true);
    s.BytesRead = static_cast<int64_t>(pos_);
    return true;
  }

 private:
  const std::vector<uint8_t>* data_ = nullptr;
  size_t pos_ = 0, end_ = 0;
  int width_ = 0;
  int rowsLeft_ = 0;
  uint16_t bytesPerLine_ = 0;
  std::vector<uint8_t> row_;
  uint32_t runLeft_ = 0;
  uint8_t runByte_ = 0;
};

class PcxReader : public Reader {
 public:
  int OpenInput(ConverterState& s, const std::string& fileName) override {
    if (int rc = LoadInputFile(fileName, data_)) return rc;
    s.BytesRead = 0;
    s.BytesTotal = static_cast<int64_t>(data_.size());
    return page_.Open(s, data_, 0, data_.size());
  }
  int GetRow(ConverterState& s, uint8_t* raster, int& len, bool& morePages,
             bool& endOfPage) override {
    len = s.ResWidth / 8;
    if (!page_.Row(s, raster)) {
      endOfPage = true;
      morePages = false;
    }
    return 0;
  }
  void CloseInput(ConverterState&) override { data_.clear(); }

 private:
  std::vector<uint8_t> data_;
  PcxPage page_;
};

class DcxReader : public Reader {
 public:
  int OpenInput(ConverterState& s, const std::string& fileName) override {
    const int bad = qv::core::ecUnsupportedFormat;
    if (int rc = LoadInputFile(fileName, data_)) return rc;
    s.BytesRead = 0;
    s.BytesTotal = static_cast<int64_t>(data_.size());
    if (data_.size() < 8 || Le32(data_.data()) != kDcxMagic) return bad;
    offsets_.clear();
    for (size_t i = 0; i < 1024 && 4 + 4 * i + 4 <= data_.size(); ++i) {
      uint32_t off = Le32(data_.data() + 4 + 4 * i);
      if (off == 0) break;
      if (off >= data_.size()) return bad;
      // A page listed twice would be converted twice over: 1024 copies of one image from a
      // file a few kilobytes long.
      if (std::find(offsets_.begin(), offsets_.end(), off) != offsets_.end()) return bad;
      offsets_.push_back(off);
    }
    if (offsets_.empty()) return bad;
    next_ = 0;
    return openNext(s);
  }

  int GetRow(ConverterState& s, uint8_t* raster, int& len, bool& morePages,
             bool& endOfPage) override {
    len = s.ResWidth / 8;
    if (pageDone_) {
      if (int rc = openNext(s)) return rc;
    }
    if (!page_.Row(s, raster)) {
      endOfPage = true;
      morePages = next_ < offsets_.size();
      pageDone_ = true;
    }
    return 0;
  }

  void CloseInput(ConverterState&) override { data_.clear(); }

 private:
  int openNext(ConverterState& s) {
    uint32_t start = offsets_[next_++];
    // A page runs to the next larger offset in the list, or to the end of the file.
    size_t end = data_.size();
    for (uint32_t o : offsets_)
      if (o > start && o < end) end = o;
    pageDone_ = false;
    return page_.Open(s, data_, start, end);
  }

  std::vector<uint8_t> data_;
  std::vector<uint32_t> offsets_;
  size_t next_ = 0;
  bool pageDone_ = false;
  PcxPage page_;
};

}  // namespace

std::unique_ptr<Reader> MakePcxReader() { return std::make_unique<PcxReader>(); }
std::unique_ptr<Reader> MakeDcxReader() { return std::make_unique<DcxReader>(); }

}  // namespace qv::faximage
