#include "faximage/t4_coder.h"

#include <algorithm>
#include <cstring>

#include "faximage/converter_state.h"
#include "faximage/t4_tables.h"
#include "faximage/unpacker_bitmap.h"

namespace qv::faximage {

namespace {

// Every run length 0..2560 of each colour as one code word: make-up and terminating code
// already joined, so the coder emits one entry per run.
struct RunCode {
  uint32_t Code;
  uint32_t Bits;
};

struct RunTables {
  RunCode Run[2][kT4MaxMakeUp + 1];

  RunTables() {
    for (int color = 0; color < 2; ++color) {
      const T4Code* t = color ? kBlackCodes : kWhiteCodes;
      for (int len = 0; len <= kT4MaxMakeUp; ++len) {
        const T4Code& term = t[T4TerminatingIndex(len % 64)];
        if (len < 64) {
          Run[color][len] = {term.Code, term.Bits};
        } else {
          const T4Code& mk = t[T4MakeUpIndex(len)];
          Run[color][len] = {mk.Code | (static_cast<uint32_t>(term.Code) << mk.Bits),
                             static_cast<uint32_t>(mk.Bits + term.Bits)};
        }
      }
    }
  }
};

const RunTables& runTables() {
  static const RunTables tables;
  return tables;
}

inline uint64_t loadBigEndian64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

// First pixel at or after x (below n) whose colour differs from `black`; n when there is none.
// Reads 64 pixels per step; only bytes below rowBytes are touched.
inline int nextChange(const uint8_t* row, int rowBytes, int x, int n, bool black) {
  const uint64_t flip = black ? ~uint64_t{0} : 0;
  while (x < n) {
    int byte = x >> 3;
    uint64_t w;
    if (byte + 8 <= rowBytes) {
      w = loadBigEndian64(row + byte);
    } else {
      uint8_t tail[8] = {0, 0, 0, 0, 0, 0, 0, 0};
      std::memcpy(tail, row + byte, static_cast<size_t>(rowBytes - byte));
      w = loadBigEndian64(tail);
    }
    w = (w ^ flip) << (x & 7);
    if (w) return std::min(n, x + __builtin_clzll(w));
    x += 64 - (x & 7);
  }
  return n;
}

// Least-significant-bit-first packer: codes collect in a 64-bit word, 32 bits go out at a time.
struct BitPacker {
  uint64_t acc;
  int bits;
  uint8_t* out;

  inline void put(uint32_t code, uint32_t n) {
    acc |= static_cast<uint64_t>(code) << bits;
    bits += static_cast<int>(n);
    if (bits >= 32) {
      uint32_t lo = static_cast<uint32_t>(acc);
      std::memcpy(out, &lo, 4);  // little-endian host: first bit lands in bit 0 of out[0]
      out += 4;
      acc >>= 32;
      bits -= 32;
    }
  }
};

inline void putRun(BitPacker& bp, const RunTables& t, int color, int len) {
  while (len > kT4MaxMakeUp) {
    const T4Code& ext = kWhiteCodes[T4MakeUpIndex(kT4MaxMakeUp)];
    bp.put(ext.Code, ext.Bits);
    len -= kT4MaxMakeUp;
  }
  const RunCode& rc = t.Run[color][len];
  bp.put(rc.Code, rc.Bits);
}

constexpr int kMaxFastRowBytes = 512;  // rows up to 4096 pixels take the fast path

}  // namespace

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the bit packer assumes little-endian");

// The common case: no doubling. The row is copied into a zero-padded buffer so every search
// can load eight bytes without a bounds check; colours alternate in an unrolled pair.
static int codeRowPlain(const uint8_t* raster, int width, int margin, uint8_t* out) {
  const RunTables& t = runTables();
  const int rowBytes = (width + 7) / 8;
  alignas(8) uint8_t row[kMaxFastRowBytes + 16];
  std::memcpy(row, raster, static_cast<size_t>(rowBytes));
  std::memset(row + rowBytes, 0, 16);
  const int n = width - margin;  // raster pixels that reach the coded row

  // First pixel at or after x (below n) that differs from the colour `flip` selects.
  auto next = [&](int x, uint64_t flip) {
    for (;;) {
      uint64_t w = (loadBigEndian64(row + (x >> 3)) ^ flip) << (x & 7);
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
    putRun(bp, t, 0, width);
  } else {
    int coded = margin + x;
    putRun(bp, t, 0, coded);
    for (;;) {
      int end = next(x, ~uint64_t{0});
      if (end >= n) {
        putRun(bp, t, 1, width - coded);
        break;
      }
      putRun(bp, t, 1, end - x);
      coded += end - x;
      x = end;
      end = next(x, 0);
      if (end >= n) {
        putRun(bp, t, 0, width - coded);
        break;
      }
      putRun(bp, t, 0, end - x);
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
  const RunTables& t = runTables();
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
      putRun(bp, t, black, width - coded);
      break;
    }
    putRun(bp, t, black, run);
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
