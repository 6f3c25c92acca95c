#include "faximage/unpacker_bitmap.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/error_codes.h"
#include "faximage/page_marks.h"

namespace qv::faximage {

using namespace qv::core;

namespace {
constexpr size_t kFullWidthReservedRows = 2560;  // a fine A4 or Letter page has about 2300
}  // namespace

int BitmapBuilder::startPage(const UnpackerState&) {
  rows_ = 0;
  widestUsed_ = 0;
  page_ = PageBitmap{};
  block_.clear();
  try {
    // Room for a fine page up front: reserved, not written, so growing never copies on the way.
    block_.reserve(kStoredRowBytes * kReservedRows);
  } catch (const std::bad_alloc&) {
    return ecOutOfMemory;
  }
  return ecOK;
}

int BitmapBuilder::row(std::span<const uint8_t> row) {
  if (rows_ >= kMaxPageRows) return ecOutOfMemory;
  const uint8_t white = invert_ ? 0xFF : 0x00;
  const size_t at = block_.size();
  try {
    block_.resize(at + kStoredRowBytes);
  } catch (const std::bad_alloc&) {
    return ecOutOfMemory;
  }
  uint8_t* dst = block_.data() + at;
  const size_t n = std::min(row.size(), kStoredRowBytes);
  if (n > 0) std::memcpy(dst, row.data(), n);  // an empty row may come with no data pointer
  std::memset(dst + n, white, kStoredRowBytes - n);
  // The row's used width: white words from the right first, then the bytes of the last word.
  const uint64_t white8 = invert_ ? ~uint64_t{0} : 0;
  size_t used = n;
  while (used >= 8) {
    uint64_t word;
    std::memcpy(&word, dst + used - 8, sizeof word);
    if (word != white8) break;
    used -= 8;
  }
  while (used > 0 && dst[used - 1] == white) --used;
  widestUsed_ = std::max(widestUsed_, static_cast<int>(used));
  ++rows_;
  return ecOK;
}

int BitmapBuilder::endPage(const UnpackerState&) {
  page_ = PageBitmap{};
  page_.inverted = invert_;
  if (rows_ == 0 || widestUsed_ == 0) {
    block_ = {};
    return ecOK;
  }
  const int w = (widestUsed_ + 1) & ~1;
  // Each row cut to w bytes, copied once into a block of exactly the page's size.
  std::vector<uint8_t> bits;
  try {
    bits.reserve(static_cast<size_t>(w) * static_cast<size_t>(rows_));
  } catch (const std::bad_alloc&) {
    return ecOutOfMemory;
  }
  for (int y = 0; y < rows_; ++y) {
    const uint8_t* src = block_.data() + static_cast<size_t>(y) * kStoredRowBytes;
    bits.insert(bits.end(), src, src + w);
  }
  block_ = {};
  page_.width = w * 8;
  page_.height = rows_;
  page_.stride = w;
  page_.bits = std::move(bits);
  return ecOK;
}

int FullWidthBuilder::startPage(const UnpackerState& state) {
  page_ = PageBitmap{};
  int width = (state.PageHeader.PageFlags & pfWide) ? 2048 : 1728;
  if (!(state.PageHeader.PageFlags & pfHighRes) && (state.UnpackFlags & kUnpackHalfWidth)) width /= 2;
  page_.width = width;
  page_.stride = width / 8;
  page_.inverted = state.Invert;
  try {
    // Room for a fine page up front, as the cut bitmap has: growing row by row would copy the
    // page over and over (on a page turn that cost more than decoding it).
    page_.bits.reserve(static_cast<size_t>(page_.stride) * kFullWidthReservedRows);
  } catch (const std::bad_alloc&) {
    return ecOutOfMemory;
  }
  return ecOK;
}

int FullWidthBuilder::row(std::span<const uint8_t> row) {
  if (page_.height >= kMaxPageRows) return ecOutOfMemory;
  // A row wider than the page says (a 2048-pixel row on a standard-width page) widens the image.
  if (static_cast<int>(row.size()) > page_.stride) {
    int stride = static_cast<int>(row.size());
    std::vector<uint8_t> wider(static_cast<size_t>(stride) * static_cast<size_t>(page_.height), page_.inverted ? 0xFF : 0);
    for (int y = 0; y < page_.height; ++y) std::memcpy(wider.data() + static_cast<size_t>(y * stride), page_.row(y), static_cast<size_t>(page_.stride));
    page_.bits = std::move(wider);
    page_.stride = stride;
    page_.width = stride * 8;
  }
  try {
    page_.bits.resize(page_.bits.size() + static_cast<size_t>(page_.stride), page_.inverted ? 0xFF : 0);
  } catch (const std::bad_alloc&) {
    return ecOutOfMemory;
  }
  std::memcpy(page_.row(page_.height), row.data(), row.size());
  ++page_.height;
  return ecOK;
}

int FullWidthBuilder::endPage(const UnpackerState&) { return ecOK; }

int StretchBitmap(const PageBitmap& src, int width, int height, PageBitmap& dst) {
  if (width <= 0 || height <= 0 || src.empty()) return ecCantMakeBitmap;
  const int stride = ((width + 15) / 16) * 2;
  if (int64_t{stride} * height > kMaxScaledBytes) return ecCantMakeBitmap;
  PageBitmap out;
  out.width = width;
  out.height = height;
  out.stride = stride;
  out.inverted = src.inverted;
  try {
    out.bits.assign(static_cast<size_t>(stride) * static_cast<size_t>(height), src.inverted ? 0xFF : 0x00);
  } catch (const std::bad_alloc&) {
    return ecCantMakeBitmap;
  }
  // Source columns of each target column: [x0[x], x1[x]).
  std::vector<int> x0(static_cast<size_t>(width)), x1(static_cast<size_t>(width));
  for (int x = 0; x < width; ++x) {
    x0[static_cast<size_t>(x)] = static_cast<int>(int64_t{x} * src.width / width);
    x1[static_cast<size_t>(x)] = std::max(x0[static_cast<size_t>(x)] + 1, static_cast<int>(int64_t{x + 1} * src.width / width));
  }
  // One source row per target row, black-ored over the rows it stands for.
  std::vector<uint8_t> merged(static_cast<size_t>(src.stride));
  for (int y = 0; y < height; ++y) {
    int sy0 = static_cast<int>(int64_t{y} * src.height / height);
    int sy1 = std::max(sy0 + 1, static_cast<int>(int64_t{y + 1} * src.height / height));
    std::fill(merged.begin(), merged.end(), 0);
    for (int sy = sy0; sy < sy1; ++sy) {
      const uint8_t* s = src.row(sy);
      for (int i = 0; i < src.stride; ++i) merged[static_cast<size_t>(i)] |= src.inverted ? static_cast<uint8_t>(~s[i]) : s[i];
    }
    uint8_t* d = out.row(y);
    for (int x = 0; x < width; ++x) {
      bool black = false;
      for (int sx = x0[static_cast<size_t>(x)]; sx < x1[static_cast<size_t>(x)] && !black; ++sx)
        black = (merged[static_cast<size_t>(sx >> 3)] >> (7 - (sx & 7))) & 1;
      if (black != src.inverted) d[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
      else d[x >> 3] &= static_cast<uint8_t>(~(0x80u >> (x & 7)));
    }
  }
  dst = std::move(out);
  return ecOK;
}

int ScaleBitmap(const UnpackerState& state, PageBitmap& page) {
  if (!state.scaled() || page.empty()) return ecOK;
  int64_t w = int64_t{state.HorizMult} * page.width / state.HorizDiv;
  int64_t h = int64_t{page.height} * state.VertMult / state.VertDiv;
  if (w <= 0 || h <= 0 || w > (int64_t{1} << 20) || h > (int64_t{1} << 20)) return ecCantMakeBitmap;
  PageBitmap scaled;
  int rc = StretchBitmap(page, static_cast<int>(w), static_cast<int>(h), scaled);
  if (rc < 0) return rc;
  page = std::move(scaled);
  return ecOK;
}

int UnpackPageToMemoryBitmap(UnpackerState& state, const std::string& fileName, int page,
                             bool invert, PageBitmap& bitmap) {
  bitmap = PageBitmap{};
  state.Invert = invert;
  BitmapBuilder builder(invert);
  int rc = UnpackPage(state, fileName, page, builder);
  if (rc < 0) return rc;
  PageBitmap result = builder.take();
  rc = ScaleBitmap(state, result);
  if (rc < 0) return rc;
  bitmap = std::move(result);
  return ecOK;
}

int UnpackPageForExport(UnpackerState& state, const std::string& fileName, int page,
                        PageBitmap& bitmap) {
  bitmap = PageBitmap{};
  state.Invert = false;
  BitmapBuilder builder(false);
  int rc = UnpackPage(state, fileName, page, builder);
  if (rc < 0) return rc;
  PageBitmap result = builder.take();
  if (result.empty()) {
    result.width = 16;
    result.stride = 2;
    result.height = std::max(builder.rows(), 1);
    result.bits.assign(static_cast<size_t>(result.height) * 2, 0);
  }
  rc = ScaleBitmap(state, result);
  if (rc < 0) return rc;
  bitmap = std::move(result);
  return ecOK;
}

int UnpackPageFullWidth(UnpackerState& state, const std::string& fileName, int page,
                        PageBitmap& bitmap, bool* fine) {
  bitmap = PageBitmap{};
  state.Invert = false;
  FullWidthBuilder builder;
  int rc = UnpackPage(state, fileName, page, builder);
  if (rc < 0) return rc;
  PageBitmap result = builder.take();
  if (result.height == 0) {
    result.height = 1;
    result.bits.assign(static_cast<size_t>(result.stride), 0);
  }
  const bool coarse = !(state.PageHeader.PageFlags & pfHighRes);
  bool rowsFine = !coarse || (state.UnpackFlags & kUnpackDoubleHeight);
  if (state.Marks && !(coarse && (state.UnpackFlags & kUnpackHalfWidth))) {
    if (!state.MarkDrawer) state.MarkDrawer = std::make_shared<MarkRasterizer>();
    rc = ApplyMarks(*state.Marks, page, result, rowsFine, *state.MarkDrawer);
    if (rc < 0) return rc;
  }
  if (fine) *fine = rowsFine;
  rc = ScaleBitmap(state, result);
  if (rc < 0) return rc;
  bitmap = std::move(result);
  return ecOK;
}

}  // namespace qv::faximage
