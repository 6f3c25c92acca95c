#include <algorithm>
#include <cstring>

#include "core/error_codes.h"
#include "faximage/converter.h"
#include "faximage/converter_image.h"
#include "faximage/unpacker_bitmap.h"

namespace qv::faximage {

namespace {

constexpr int kMaxKeptRow = 4096;  // bytes of a row that are kept
// Rows beyond the tallest page the viewer opens are cut, as columns beyond the page width are.
constexpr uint32_t kMaxRows = static_cast<uint32_t>(kMaxPageRows);

// Bit reversal for FillOrder 2 (first pixel in the low bit).
struct ReverseTable {
  uint8_t t[256];
  constexpr ReverseTable() : t() {
    for (int i = 0; i < 256; ++i) {
      int r = 0;
      for (int b = 0; b < 8; ++b) r |= ((i >> b) & 1) << (7 - b);
      t[i] = static_cast<uint8_t>(r);
    }
  }
  uint8_t operator[](uint8_t i) const { return t[i]; }
};
constexpr ReverseTable kReverse{};

class TiffReader : public Reader {
 public:
  int OpenInput(ConverterState& s, const std::string& fileName) override {
    if (int rc = LoadInputFile(fileName, data_)) return rc;
    if (int rc = parse()) return rc;
    DecidePlacement(s, static_cast<int>(std::min<uint32_t>(width_, 1u << 20)));
    row_ = 0;
    strip_ = -1;
    pos_ = stripStart_ = consumed_ = 0;
    s.BytesRead = 0;
    s.BytesTotal = static_cast<int64_t>(data_.size());
    rowBuf_.assign(static_cast<size_t>(std::min<int64_t>(rowBytes_, kMaxKeptRow)), 0);
    return 0;
  }

  int GetRow(ConverterState& s, uint8_t* raster, int& len, bool& morePages,
             bool& endOfPage) override {
    len = s.ResWidth / 8;
    if (row_ >= std::min(length_, kMaxRows)) {
      endOfPage = true;
      morePages = false;
      return 0;
    }
    int strip = static_cast<int>(row_ / rowsPerStrip_);
    if (strip != strip_) {
      if (static_cast<size_t>(strip) >= offsets_.size()) return qv::core::ecDeviceReadError;
      strip_ = strip;
      uint64_t start = offsets_[static_cast<size_t>(strip)];
      uint64_t count = static_cast<size_t>(strip) < counts_.size()
                           ? counts_[static_cast<size_t>(strip)]
                           : data_.size();  // no counts: up to the end of the file
      if (start > data_.size()) return qv::core::ecDeviceReadError;
      consumed_ += pos_ - stripStart_;
      stripStart_ = start;
      pos_ = start;
      end_ = std::min<uint64_t>(data_.size(), start + count);
      runLeft_ = 0;
    }
    if (int rc = readRow()) return rc;
    // Strips hold separate parts of the file: one whose data another strip has already been
    // decoded from would let a small file be decoded again and again.
    if (consumed_ + (pos_ - stripStart_) > data_.size()) return qv::core::ecUnsupportedFormat;
    ++row_;
    s.BytesRead = static_cast<int64_t>(pos_);
    if (fillOrder_ == 2)
      for (auto& b : rowBuf_) b = kReverse[b];
    PlaceImageRow(s, raster, rowBuf_.data(), static_cast<int64_t>(rowBuf_.size()),
                  static_cast<int>(std::min<uint64_t>(width_, uint64_t{kMaxKeptRow} * 8)),
                  photometric_ != 0);
    return 0;
  }

  void CloseInput(ConverterState&) override { data_.clear(); }

 private:

  uint32_t u16(uint64_t at) const { return bigEndian_ ? Be16(&data_[at]) : Le16(&data_[at]); }
  uint32_t u32(uint64_t at) const { return bigEndian_ ? Be32(&data_[at]) : Le32(&data_[at]); }

  // Values of one directory entry (SHORT or LONG); false when malformed.
  bool values(uint64_t entry, std::vector<uint32_t>& out) const {
    uint32_t type = u16(entry + 2), count = u32(entry + 4);
    int size = type == 3 ? 2 : type == 4 ? 4 : 0;
    if (size == 0 || count == 0 || count > (1u << 24)) return false;
    uint64_t bytes = uint64_t{count} * size;
    uint64_t at = bytes <= 4 ? entry + 8 : u32(entry + 8);
    if (at + bytes > data_.size()) return false;
    out.resize(count);
    for (uint32_t i = 0; i < count; ++i) out[i] = size == 2 ? u16(at + 2 * i) : u32(at + 4 * i);
    return true;
  }

  int parse() {
    const int bad = qv::core::ecUnsupportedFormat;
    if (data_.size() < 8) return bad;
    if (data_[0] == 'I' && data_[1] == 'I') bigEndian_ = false;
    else if (data_[0] == 'M' && data_[1] == 'M') bigEndian_ = true;
    else return bad;
    if (u16(2) != 42) return bad;
    uint64_t ifd = u32(4);
    if (ifd + 2 > data_.size()) return bad;
    uint32_t n = u16(ifd);
    if (ifd + 2 + uint64_t{n} * 12 > data_.size()) return bad;
    bool haveWidth = false, haveLength = false, haveOffsets = false;
    std::vector<uint32_t> seenTags;
    uint32_t compression = 1, bits = 1, samples = 1;
    rowsPerStrip_ = 0;
    std::vector<uint32_t> v;
    for (uint32_t i = 0; i < n; ++i) {
      uint64_t e = ifd + 2 + uint64_t{i} * 12;
      uint32_t tag = u16(e);
      bool known = tag == 256 || tag == 257 || tag == 258 || tag == 259 || tag == 262 ||
                   tag == 266 || tag == 273 || tag == 277 || tag == 278 || tag == 279;
      if (!known) continue;
      // Tags are listed once each (in ascending order): a repeated one is a corrupt directory,
      // and reading its values again for every copy would make the work grow with the square
      // of the file.
      if (std::find(seenTags.begin(), seenTags.end(), tag) != seenTags.end()) return bad;
      seenTags.push_back(tag);
      if (!values(e, v)) return bad;
      switch (tag) {
        case 256: width_ = v[0]; haveWidth = true; break;
        case 257: length_ = v[0]; haveLength = true; break;
        case 258: bits = v[0]; break;
        case 259: compression = v[0]; break;
        case 262: photometric_ = v[0]; break;
        case 266: fillOrder_ = v[0]; break;
        case 273: offsets_ = v; haveOffsets = true; break;
        case 277: samples = v[0]; break;
        case 278: rowsPerStrip_ = v[0]; break;
        case 279: counts_ = v; break;
      }
    }
    if (!haveWidth || !haveLength || !haveOffsets || width_ == 0 || length_ == 0) return bad;
    if (bits != 1 || samples != 1) return bad;
    if (compression != 1 && compression != 32773) return bad;
    packBits_ = compression == 32773;
    if (rowsPerStrip_ == 0 || rowsPerStrip_ > length_) rowsPerStrip_ = length_;
    rowBytes_ = (uint64_t{width_} + 7) / 8;
    return 0;
  }

  // Decodes the next row of the current strip into rowBuf_ (the first 4096 bytes kept).
  int readRow() {
    std::fill(rowBuf_.begin(), rowBuf_.end(), 0);
    const size_t keep = rowBuf_.size();
    if (!packBits_) {
      if (pos_ + rowBytes_ > end_) return qv::core::ecDeviceReadError;
      std::memcpy(rowBuf_.data(), &data_[pos_], keep);
      pos_ += rowBytes_;
      return 0;
    }
    uint64_t got = 0;
    while (got < rowBytes_) {
      if (runLeft_ == 0) {
        if (pos_ >= end_) return qv::core::ecDeviceReadError;
        int8_t h = static_cast<int8_t>(data_[pos_++]);
        if (h == -128) continue;
        if (h >= 0) {
          literal_ = true;
          runLeft_ = static_cast<uint32_t>(h) + 1;
        } else {
          if (pos_ >= end_) return qv::core::ecDeviceReadError;
          literal_ = false;
          runByte_ = data_[pos_++];
          runLeft_ = static_cast<uint32_t>(1 - h);
        }
      }
      // Runs may carry on into the next row. Only the kept part of a row is copied, so a run
      // costs the same whatever its length.
      uint64_t take = std::min<uint64_t>(runLeft_, rowBytes_ - got);
      if (literal_ && pos_ + take > end_) return qv::core::ecDeviceReadError;
      if (got < keep) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(take, keep - got));
        if (literal_) std::memcpy(rowBuf_.data() + got, &data_[pos_], n);
        else std::memset(rowBuf_.data() + got, runByte_, n);
      }
      if (literal_) pos_ += take;
      got += take;
      runLeft_ -= static_cast<uint32_t>(take);
    }
    return 0;
  }

  std::vector<uint8_t> data_;
  bool bigEndian_ = false;
  uint32_t width_ = 0, length_ = 0, photometric_ = 0, fillOrder_ = 1, rowsPerStrip_ = 0;
  std::vector<uint32_t> offsets_, counts_;
  bool packBits_ = false;
  uint64_t rowBytes_ = 0;
  std::vector<uint8_t> rowBuf_;
  uint32_t row_ = 0;
  int strip_ = -1;
  uint64_t pos_ = 0, end_ = 0;
  uint64_t stripStart_ = 0;  // where the current strip's data begins
  uint64_t consumed_ = 0;    // bytes decoded from the strips before it
  uint32_t runLeft_ = 0;
  bool literal_ = false;
  uint8_t runByte_ = 0;
};

}  // namespace

std::unique_ptr<Reader> MakeTiffReader() { return std::make_unique<TiffReader>(); }

}  // namespace qv::faximage
