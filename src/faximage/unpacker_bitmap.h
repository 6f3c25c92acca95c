#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "faximage/unpacker_state.h"

namespace qv::faximage {

// A decoded page in memory: one bit per pixel, leftmost pixel in the high bit, rows of `stride`
// bytes (always even). With `inverted` a 1 bit is white (ready for display), else a 1 bit is black.
// Bits beyond `width` in a row are white.
struct PageBitmap {
  int width = 0;
  int height = 0;
  int stride = 0;
  bool inverted = false;
  std::vector<uint8_t> bits;

  bool empty() const { return width <= 0 || height <= 0; }
  const uint8_t* row(int y) const { return bits.data() + static_cast<size_t>(y) * static_cast<size_t>(stride); }
  uint8_t* row(int y) { return bits.data() + static_cast<size_t>(y) * static_cast<size_t>(stride); }
  bool black(int x, int y) const { return (((row(y)[x >> 3] >> (7 - (x & 7))) & 1) != 0) != inverted; }
};

// Rows a page bitmap may hold: far beyond any paper fax, small enough that a hostile file cannot
// make the unpacker allocate without bound (65536 rows of 256 bytes = 16 MiB).
inline constexpr int kMaxPageRows = 65536;
// Largest scaled bitmap, in bytes.
inline constexpr int64_t kMaxScaledBytes = int64_t{256} << 20;

// Row sink that collects a page as the viewer and the exports see it: rows stored 256 bytes apart,
// then cut to the widest used byte (rounded up to an even count, so to 16 pixels).
class BitmapBuilder : public UnpackRowSink {
 public:
  explicit BitmapBuilder(bool invert) : invert_(invert) {}
  int startPage(const UnpackerState& state) override;
  int row(std::span<const uint8_t> row) override;
  int endPage(const UnpackerState& state) override;

  // The page after endPage: cut, not yet scaled; empty when no row holds black.
  PageBitmap take() { return std::move(page_); }
  int rows() const { return rows_; }

 private:
  static constexpr size_t kStoredRowBytes = 256;
  static constexpr size_t kReservedRows = 2560;  // a fine A4 or Letter page has about 2300
  bool invert_;
  std::vector<uint8_t> block_;
  int rows_ = 0;
  int widestUsed_ = 0;
  PageBitmap page_;
};

// Full-width rows (1728 or 2048 pixels, halved with asHalfWidth on standard pages), not cut; for
// the PBM and PNG exports. Rows are 1 = black.
class FullWidthBuilder : public UnpackRowSink {
 public:
  int startPage(const UnpackerState& state) override;
  int row(std::span<const uint8_t> row) override;
  int endPage(const UnpackerState& state) override;
  PageBitmap take() { return std::move(page_); }

 private:
  PageBitmap page_;
};

// Stretches src into a new bitmap of width x height (a plain copy when the sizes agree). Shrinking
// keeps black: a target pixel is black when any source pixel it stands for is black, so thin lines
// of a fax survive a zoomed-out view. -8005 for a size that cannot be made.
int StretchBitmap(const PageBitmap& src, int width, int height, PageBitmap& dst);

// Applies the state's scale factors (HorizMult x width div HorizDiv, rows x VertMult div VertDiv).
int ScaleBitmap(const UnpackerState& state, PageBitmap& page);

// Decodes a page into a bitmap cut at its rightmost black pixel, scaled by the state's factors,
// inverted (1 = white) when asked. An all-white page gives an empty bitmap (width and height 0).
int UnpackPageToMemoryBitmap(UnpackerState& state, const std::string& fileName, int page,
                             bool invert, PageBitmap& bitmap);

// The page for the picture-file exports: rows 1 = black, cut and scaled as for the viewer. A page
// without black still becomes an image (white, 16 pixels wide, as many rows as it had, at least
// one), so exporting a blank page gives a blank picture rather than a broken file.
int UnpackPageForExport(UnpackerState& state, const std::string& fileName, int page,
                        PageBitmap& bitmap);

// Full-width page (1728 or 2048 pixels, scaled by the state's factors), rows 1 = black; at least
// one row. With the state's Marks, the page is turned and marked as the user sees it (not with
// half-width auto-scaling, whose pixels are no longer the page's); `fine` then tells whether its
// rows are fine ones (a doubled standard page or a quarter-turned one is).
int UnpackPageFullWidth(UnpackerState& state, const std::string& fileName, int page,
                        PageBitmap& bitmap, bool* fine = nullptr);

}  // namespace qv::faximage
