#include "faximage/t4_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "faximage/t4_bits.h"
#include "faximage/t4_decode_tables.h"

namespace qv::faximage {
namespace {

// Puts a pattern of up to 25 pixels (first pixel in bit 31) into the row at pixel x; the row has
// room for four bytes from x / 8. Rows fill from left to right on a cleared buffer, so only the
// byte holding x can have pixels already; the three after it are written whole. (Reading only
// that byte also lets the processor take it from the previous store.)
inline void PutPattern(uint8_t* row, int x, uint32_t pattern) {
  uint8_t* q = row + (x >> 3);
  uint32_t v = (uint32_t{*q} << 24) | (pattern >> (x & 7));
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
  std::memcpy(q, &v, sizeof v);
}

}  // namespace

T4Decoder::T4Decoder() { startPage(); }

T4Decoder::T4Decoder(RowHandler handler) : rowHandler_(std::move(handler)) { startPage(); }

void T4Decoder::startPage() {
  T4DecodingTables();  // built once, before the first page
  acc_ = 0;
  nbits_ = 0;
  pos_ = 0;
  black_ = false;
  beforeFirstEol_ = true;
  resync_ = false;
  zeroRun_ = false;
  ended_ = false;
  eolCount_ = 0;
  badCodes_ = 0;
  rows_ = 0;
  dropped_ = 0;
  rowBadCodes_ = 0;
  goodRows_ = badRows_ = badRun_ = longestBadRun_ = 0;
  std::memset(row_, 0, sizeof row_);
}

void T4Decoder::endOfLine() {
  int bytes = pos_ >> 3;
  if (pos_ > 0 && (bytes == 216 || bytes == 256)) {
    ++rows_;
    if (rowHandler_) rowHandler_(std::span<const uint8_t>(row_, static_cast<size_t>(bytes)));
  } else if (pos_ > 0) {
    ++dropped_;
  }
  if (!beforeFirstEol_) {
    const bool codeError = badCodes_ != rowBadCodes_;
    if (codeError || (pos_ > 0 && pos_ != 1728 && pos_ != 2048)) {
      ++badRows_;
      longestBadRun_ = std::max(longestBadRun_, ++badRun_);
    } else if (pos_ > 0) {
      ++goodRows_;
      badRun_ = 0;
    }
  }
  rowBadCodes_ = badCodes_;
  std::memset(row_, 0, static_cast<size_t>((pos_ + 7) >> 3));
  pos_ = 0;
  black_ = false;
  beforeFirstEol_ = false;
  if (++eolCount_ >= 3) ended_ = true;
}

bool T4Decoder::feed(std::span<const uint8_t> data) {
  if (ended_) return true;
  const T4DecodeTables& t = T4DecodingTables();
  const uint8_t* p = data.data();
  const uint8_t* const end = p + data.size();
  // The hot state lives in locals: stores into the row would otherwise force the compiler to
  // reload every member after each run.
  uint64_t acc = acc_;
  int nbits = nbits_;
  int pos = pos_;
  uint32_t colour = black_ ? 1 : 0;
  bool skipRuns = beforeFirstEol_;
  // Runs are taken while they end at or before this pixel; none before the first EOL.
  int limit = skipRuns ? -1 : kMaxRowPixels;
  bool resync = resync_;
  bool zeroRun = zeroRun_;
  int eols = eolCount_;
  uint32_t bad = badCodes_;
  uint8_t* const row = row_;
  const T4DecodeEntry* const single = t.single.data();
  const T4DecodeMulti* const multi = t.multi.data();
  constexpr uint32_t kWhiteMask = (1u << kWhiteBits) - 1;
  constexpr uint32_t kMultiMask = (1u << kMultiBits) - 1;

  auto consume = [&](int n) {
    acc = n >= 64 ? 0 : acc >> n;
    nbits -= n;
  };
  // EOL: hand the row on (or drop it), start a new white row.
  auto eol = [&]() -> bool {
    pos_ = pos;
    eolCount_ = eols;
    badCodes_ = bad;
    endOfLine();
    eols = eolCount_;
    pos = 0;
    colour = 0;
    skipRuns = false;
    limit = kMaxRowPixels;
    return ended_;
  };

  for (;;) {
    RefillBits(acc, nbits, p, end);

    while (nbits > 0) {
      if ((acc & ((1u << kEolZeros) - 1)) != 0 && !resync && !zeroRun) {
        // Short terminating codes, several at a time, when their runs all fit the row.
        const T4DecodeMulti m = multi[(colour << kMultiBits) | (acc & kMultiMask)];
        if (m.bits <= nbits && pos + m.pixels <= limit) {
          acc >>= m.bits;
          nbits -= m.bits;
          if (m.pattern != 0) PutPattern(row, pos, m.pattern);
          pos += m.pixels;
          colour ^= m.flip;
          eols = 0;
          continue;
        }
        const T4DecodeEntry e = single[(colour << kWhiteBits) + (acc & (kWhiteMask | (colour << kWhiteBits)))];
        if (e.bits > nbits) break;  // code continues in the next input
        acc >>= e.bits;  // at most 13 bits
        nbits -= e.bits;
        if (e.kind == kCodeRun) {
          int run = e.run;
          if (pos + run <= limit) {
            if (colour && run > 0) FillBlack(row, pos, run);
            pos += run;
          }
          if (run < 64) colour ^= 1;
          eols = 0;
        } else {  // kCodeInvalid (an EOL always starts with eleven 0 bits, handled below)
          ++bad;
          resync = true;
        }
        continue;
      }
      if (resync) {
        // After a bad code 1 bits are skipped; the next 0 bit starts a new code.
        uint64_t zeros = ~acc & LowMask(nbits);
        if (zeros == 0) {
          consume(nbits);
          break;
        }
        consume(std::countr_zero(zeros));
        resync = false;
        continue;
      }
      if (zeroRun) {
        uint64_t ones = acc & LowMask(nbits);
        if (ones == 0) {  // fill: any number of 0 bits before the EOL's 1
          consume(nbits);
          break;
        }
        consume(std::countr_zero(ones) + 1);
        zeroRun = false;
        if (eol()) goto done;
        continue;
      }
      // Eleven 0 bits: the start of an EOL (or fill before one).
      if (nbits < static_cast<int>(kEolZeros)) break;  // could still be anything
      consume(kEolZeros);
      zeroRun = true;
    }
    if (p == end) break;
  }
done:
  acc_ = acc;
  nbits_ = nbits;
  pos_ = pos;
  black_ = colour != 0;
  beforeFirstEol_ = skipRuns;
  resync_ = resync;
  zeroRun_ = zeroRun;
  eolCount_ = eols;
  badCodes_ = bad;
  return ended_;
}

}  // namespace qv::faximage
