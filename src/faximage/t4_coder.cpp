#include "faximage/t4_coder.h"

#include <algorithm>
#include <cstring>

#include "faximage/converter_state.h"
#include "faximage/t4_bits.h"
#include "faximage/t4_run_codes.h"
#include "faximage/t4_tables.h"
#include "faximage/unpacker_bitmap.h"

namespace qv::faximage {

namespace {

// First pixel at or after x (below n) whose colour differs from `black`; n when there is none.
// Reads 64 pixels per step; only bytes below rowBytes are touched.
inline int nextChange(const uint8_t* row, int rowBytes, int x, int n, bool black) {
  const uint64_t flip = black ? ~uint64_t{0} : 0;
  while (x < n) {
    int byte = x >> 3;
    uint64_t w;
    if (byte + 8 <= rowBytes) {
      w = LoadBigEndian64(row + byte);
    } else {
      uint8_t tail[8] = {0, 0, 0, 0, 0, 0, 0, 0};
      std::memcpy(tail, row + byte, static_cast<size_t>(rowBytes - byte));
      w = LoadBigEndian64(tail);
    }
    w = (w ^ flip) << (x & 7);
    if (w) return std::min(n, x + __builtin_clzll(w));
    x += 64 - (x & 7);
  }
  return n;
}

constexpr int kMaxFastRowBytes = 512;  // rows up to 4096 pixels take the fast path

}  // namespace

// The common case: no doubling. The row is copied into a zero-padded buffer so every search
// can load eight bytes without a bounds check; colours alternate in an unrolled pair.
static int codeRowPlain(const uint8_t* raster, int width, int margin, uint8_t* out) {
  const RunTables& t = T4RunTables();
  const int rowBytes = (width + 7) / 8;
  alignas(8) uint8_t row[kMaxFastRowBytes + 16];
  std::memcpy(row, raster, static_cast<size_t>(rowBytes));
  std::memset(row + rowBytes, 0, 16);
  const int n = width - margin;  // raster pixels that reach the coded row

  // First pixel at or after x (below n) that differs from the colour `flip` selects.
  auto next = [&](int x, uint64_t flip) {
    for (;;) {
      uint64_t w = (LoadBigEndian64(row + (x >> 3)) ^ flip) << (x & 7);
      if (w) {
        int r = x + __builtin_clzll(w);
        return r < n ? r : n;
      }
      x = (x & ~7) + 64;
      if (x >= n) return n;
    }
  };

  BitPacker bp{kAlignedEolCode.Code, kAlignedEolCode.Bits, out};
  int x = n > 0 ? next(0, 0) : 0;
  if (x >= n) {
    PutRun(bp, t, 0, width);
  } else {
    int coded = margin + x;
    PutRun(bp, t, 0, coded);
    for (;;) {
      int end = next(x, ~uint64_t{0});
      if (end >= n) {
        PutRun(bp, t, 1, width - coded);
        break;
      }
      PutRun(bp, t, 1, end - x);
      coded += end - x;
      x = end;
      end = next(x, 0);
      if (end >= n) {
        PutRun(bp, t, 0, width - coded);
        break;
      }
      PutRun(bp, t, 0, end - x);
      coded += end - x;
      x = end;
    }
  }
  uint64_t rest = bp.acc;
  std::memcpy(bp.out, &rest, 8);  // remaining bits, zero beyond them
  return static_cast<int>(bp.out - out) + bp.bits / 8 + 2;
}

int CodeRow(const uint8_t* raster, int width, int leftMargin, bool doubleWidth, uint8_t* out) {
  int margin = std::clamp(leftMargin, 0, width);
  if (!doubleWidth && (width + 7) / 8 <= kMaxFastRowBytes)
    return codeRowPlain(raster, width, margin, out);
  const RunTables& t = T4RunTables();
  int rowBytes = (width + 7) / 8;
  // Raster pixels that reach the coded row.
  int n = doubleWidth ? (width - margin + 1) / 2 : width - margin;

  BitPacker bp{kAlignedEolCode.Code, kAlignedEolCode.Bits, out};
  int coded = 0;  // pixels coded so far
  int x = 0;
  bool black = false;
  for (;;) {
    int end = nextChange(raster, rowBytes, x, n, black);
    int run = end - x;
    if (doubleWidth) run *= 2;
    if (coded == 0 && !black) run += margin;
    if (end >= n) {
      // Last run: whatever is left of the width (doubling may overshoot by one pixel).
      PutRun(bp, t, black, width - coded);
      break;
    }
    PutRun(bp, t, black, run);
    coded += run;
    x = end;
    black = !black;
  }
  uint64_t rest = bp.acc;
  std::memcpy(bp.out, &rest, 8);  // remaining bits, zero beyond them
  int full = static_cast<int>(bp.out - out) + bp.bits / 8;
  return full + 2;
}

void CompressRow(ConverterState& state, const uint8_t* raster) {
  state.ByteOfs =
      CodeRow(raster, state.ResWidth, state.LeftMargin, state.DoubleWidth, state.CodedRow.data());
  state.BitOfs = 0;
}

void MakeEndOfPage(ConverterState&, uint8_t* buffer, int& length) {
  std::memcpy(buffer, kEndOfPageCode.data(), kEndOfPageCode.size());
  length = static_cast<int>(kEndOfPageCode.size());
}

int RasterizeTextRow(ConverterState& state, std::string_view text, int glyphRow, uint8_t* raster) {
  const FaxFont& font = state.Font;
  const FaxFontDescriptor& d = font.Desc;
  if (!font.Loaded || glyphRow < 1 || glyphRow > d.GlyphRows) return 0;
  int rowBytes = state.ResWidth / 8;
  int covered = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    int x0 = static_cast<int>(i) * d.GlyphWidth;
    if (x0 + d.GlyphWidth > state.ResWidth) break;
    const uint8_t* g = font.Glyphs.data() +
                       static_cast<size_t>(static_cast<uint8_t>(text[i])) * d.BytesPerGlyph +
                       static_cast<size_t>(glyphRow - 1) * d.BytesPerRow;
    // Glyph row as a left-aligned 32-bit pattern, shifted into place.
    uint32_t bits = 0;
    for (int b = 0; b < d.BytesPerRow; ++b) bits |= static_cast<uint32_t>(g[b]) << (24 - 8 * b);
    int byte = x0 >> 3, shift = x0 & 7;
    uint64_t placed = static_cast<uint64_t>(bits) << (32 - shift);  // pattern in bits 63..
    for (int b = 0; b < 5 && byte + b < rowBytes; ++b) {
      uint8_t v = static_cast<uint8_t>(placed >> (56 - 8 * b));
      if (v) raster[byte + b] |= v;
    }
    covered = std::max(covered, std::min(rowBytes, (x0 + d.GlyphWidth + 7) / 8));
  }
  return covered;
}

std::vector<uint8_t> CodePageRows(const PageBitmap& page, bool endOfPage) {
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(page.height) * 32 + kEndOfPageCode.size());
  std::vector<uint8_t> raster(static_cast<size_t>(page.width + 7) / 8 + 8, 0);
  uint8_t coded[kMaxCodedRow];
  const size_t rowBytes = static_cast<size_t>(page.width + 7) / 8;
  for (int y = 0; y < page.height; ++y) {
    const uint8_t* src = page.row(y);
    for (size_t i = 0; i < rowBytes; ++i) raster[i] = page.inverted ? static_cast<uint8_t>(~src[i]) : src[i];
    int n = CodeRow(raster.data(), page.width, 0, false, coded);
    out.insert(out.end(), coded, coded + n);
  }
  if (endOfPage) out.insert(out.end(), kEndOfPageCode.begin(), kEndOfPageCode.end());
  return out;
}

}  // namespace qv::faximage
