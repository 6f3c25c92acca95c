#include <cstring>

#include "core/error_codes.h"
#include "faximage/converter.h"
#include "faximage/converter_image.h"

namespace qv::faximage {

namespace {

// Ordered-dither threshold index for pixel (x mod 32, y mod 32).
int ditherLevel(int a, int b) {
  int d = 0;
  for (int i = 0; i < 4; ++i) {
    d = (((a ^ b) & 1) * 2) | (d * 2) | (b & 1);
    a >>= 1;
    b >>= 1;
  }
  return d;
}

int maskShift(uint32_t mask) { return mask ? __builtin_ctz(mask) : 0; }
// A channel scaled to 0..255. The mask has passed validMasks(), so it is one run of 1..31 bits.
int channel(uint32_t v, uint32_t mask) {
  if (!mask) return 0;
  const uint32_t max = mask >> maskShift(mask);
  return static_cast<int>(static_cast<uint64_t>((v & mask) >> maskShift(mask)) * 255 / max);
}

// Channel masks a bitmap may declare: each a single non-empty run of bits inside the pixel
// (never the whole 32-bit word), and no two sharing a bit. Anything else is a corrupt file,
// not something to guess at.
bool validMasks(const uint32_t (&masks)[3], int bpp) {
  const uint64_t pixelBits = bpp >= 32 ? 0xFFFFFFFFull : (1ull << bpp) - 1;
  uint32_t seen = 0;
  for (uint32_t m : masks) {
    if (m == 0 || m == 0xFFFFFFFFu || (m & ~pixelBits) || (m & seen)) return false;
    const uint32_t run = m >> maskShift(m);
    if (run & (run + 1)) return false;  // not contiguous
    seen |= m;
  }
  return true;
}

class BmpReader : public Reader {
 public:
  int OpenInput(ConverterState& s, const std::string& fileName) override {
    if (int rc = LoadInputFile(fileName, data_)) return rc;
    if (int rc = parse()) return rc;
    DecidePlacement(s, width_);
    nextRow_ = 0;
    s.BytesRead = 0;
    s.BytesTotal = static_cast<int64_t>(stride_) * height_;
    return 0;
  }

  int GetRow(ConverterState& s, uint8_t* raster, int& len, bool& morePages,
             bool& endOfPage) override {
    len = s.ResWidth / 8;
    if (nextRow_ >= height_) {
      endOfPage = true;
      morePages = false;
      return 0;
    }
    int y = nextRow_++;
    int fileRow = topDown_ ? y : height_ - 1 - y;
    const uint8_t* row = data_.data() + pixelOffset_ + static_cast<size_t>(fileRow) * stride_;
    s.BytesRead += stride_;
    if (bpp_ == 1) {
      PlaceImageRow(s, raster, row, stride_, width_, invert_);
      return 0;
    }
    const int x0 = s.CenterOffset * 8;
    for (int x = 0; x < width_; ++x) {
      int dx = x0 + x;
      if (dx >= s.ResWidth) break;
      if (sumRgb(row, x) < 10 * ditherLevel(x & 31, y & 31))
        raster[dx >> 3] |= static_cast<uint8_t>(0x80u >> (dx & 7));
      if ((x & 7) == 7)
        if (int rc = YieldToMessages(s)) return rc;
    }
    return 0;
  }

  void CloseInput(ConverterState&) override { data_.clear(); }

 private:
  int parse() {
    const int bad = qv::core::ecUnsupportedFormat;
    const size_t size = data_.size();
    if (size < 26 || data_[0] != 'B' || data_[1] != 'M') return bad;
    const uint8_t* d = data_.data();
    pixelOffset_ = Le32(d + 10);
    uint32_t hdr = Le32(d + 14);
    uint32_t compression = 0, colorsUsed = 0;
    int paletteEntrySize = 4;
    int64_t w, h;
    if (hdr == 12) {
      w = Le16(d + 18);
      h = static_cast<int16_t>(Le16(d + 20));
      bpp_ = Le16(d + 24);
      paletteEntrySize = 3;
    } else if (hdr >= 40 && hdr <= 124 && size >= 14 + hdr) {
      w = static_cast<int32_t>(Le32(d + 18));
      h = static_cast<int32_t>(Le32(d + 22));
      bpp_ = Le16(d + 28);
      compression = Le32(d + 30);
      colorsUsed = Le32(d + 46);
    } else {
      return bad;
    }
    if (w <= 0 || h == 0 || w > 65535 || h > 65535 || h < -65535) return bad;
    topDown_ = h < 0;
    width_ = static_cast<int>(w);
    height_ = static_cast<int>(topDown_ ? -h : h);
    if (bpp_ != 1 && bpp_ != 4 && bpp_ != 8 && bpp_ != 16 && bpp_ != 24 && bpp_ != 32) return bad;
    // Channel masks for direct colour.
    if (compression == 3 && (bpp_ == 16 || bpp_ == 32)) {
      if (size < 14 + 40 + 12) return bad;
      rMask_ = Le32(d + 54);
      gMask_ = Le32(d + 58);
      bMask_ = Le32(d + 62);
      if (!validMasks({rMask_, gMask_, bMask_}, bpp_)) return bad;
    } else if (compression != 0) {
      return bad;  // run-length coded and embedded formats are not read
    } else if (bpp_ == 16) {
      rMask_ = 0x7C00;
      gMask_ = 0x03E0;
      bMask_ = 0x001F;
    } else {
      rMask_ = 0xFF0000;
      gMask_ = 0x00FF00;
      bMask_ = 0x0000FF;
    }
    stride_ = static_cast<int>((static_cast<int64_t>(width_) * bpp_ + 31) / 32 * 4);
    if (pixelOffset_ > size ||
        static_cast<uint64_t>(stride_) * static_cast<uint64_t>(height_) > size - pixelOffset_)
      return bad;  // pixel data cut short
    if (bpp_ <= 8) {
      size_t entries = colorsUsed ? colorsUsed : (1u << bpp_);
      if (entries > 256) entries = 256;
      size_t at = 14 + hdr;
      palette_.assign(256, 0);
      for (size_t i = 0; i < entries && at + i * paletteEntrySize + 3 <= size; ++i) {
        const uint8_t* e = d + at + i * paletteEntrySize;
        palette_[i] = e[0] + e[1] + e[2];
      }
      // Bits of 1 are white when entry 1 is the brighter one (the usual mono bitmap); a
      // bitmap whose palette says the opposite is copied without inverting.
      invert_ = palette_[1] >= palette_[0];
    }
    return 0;
  }

  int sumRgb(const uint8_t* row, int x) const {
    switch (bpp_) {
      case 4:
        return palette_[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
      case 8:
        return palette_[row[x]];
      case 16: {
        uint32_t v = Le16(row + 2 * x);
        return channel(v, rMask_) + channel(v, gMask_) + channel(v, bMask_);
      }
      case 24:
        return row[3 * x] + row[3 * x + 1] + row[3 * x + 2];
      case 32: {
        uint32_t v = Le32(row + 4 * x);
        return channel(v, rMask_) + channel(v, gMask_) + channel(v, bMask_);
      }
      default:
        return 0;
    }
  }

  std::vector<uint8_t> data_;
  std::vector<int> palette_;  // R + G + B of each palette entry
  size_t pixelOffset_ = 0;
  int width_ = 0, height_ = 0, bpp_ = 0, stride_ = 0;
  bool topDown_ = false;
  bool invert_ = true;
  uint32_t rMask_ = 0, gMask_ = 0, bMask_ = 0;
  int nextRow_ = 0;
};

}  // namespace

std::unique_ptr<Reader> MakeBmpReader() { return std::make_unique<BmpReader>(); }

}  // namespace qv::faximage
