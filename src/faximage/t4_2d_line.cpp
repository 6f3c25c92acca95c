#include "faximage/t4_2d_line.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "faximage/t4_2d_tables.h"
#include "faximage/t4_run_codes.h"

namespace qv::faximage {

int RowChanges(const uint8_t* row, int width, int32_t* changes) {
  const int rowBytes = (width + 7) / 8;
  int n = 0;
  uint64_t prev = 0;  // the pel left of the word, as its top bit would be
  for (int base = 0; base < width; base += 64) {
    const int byte = base >> 3;
    uint64_t w;
    if (byte + 8 <= rowBytes) {
      w = LoadBigEndian64(row + byte);
    } else {
      uint8_t tail[8] = {0, 0, 0, 0, 0, 0, 0, 0};
      std::memcpy(tail, row + byte, static_cast<size_t>(rowBytes - byte));
      w = LoadBigEndian64(tail);
    }
    // A bit is set where the pel differs from the one before it.
    uint64_t d = w ^ ((w >> 1) | (prev << 63));
    prev = w & 1;
    while (d) {
      const int lz = std::countl_zero(d);
      const int x = base + lz;
      if (x >= width) break;  // pels past the width are not part of the line
      changes[n++] = x;
      d ^= uint64_t{1} << (63 - lz);
    }
  }
  changes[n] = changes[n + 1] = changes[n + 2] = width;
  return n;
}

void RowFromChanges(const int32_t* changes, int count, int width, uint8_t* row) {
  // Spans are set in 64-bit words (first pel in the top bit), then stored big-endian: text has
  // many short spans, for which a byte loop or memset call per span costs more than the span.
  constexpr int kWords = (kMaxLinePixels + 63) / 64;
  uint64_t words[kWords];
  const int nwords = (width + 63) / 64;
  std::memset(words, 0, static_cast<size_t>(nwords) * 8);
  for (int i = 0; i < count; i += 2) {
    const int start = changes[i];
    const int end = i + 1 < count ? changes[i + 1] : width;  // end > start: the list ascends
    const int ws = start >> 6, we = (end - 1) >> 6;
    const uint64_t head = ~uint64_t{0} >> (start & 63);
    const uint64_t tail = ~uint64_t{0} << (63 - ((end - 1) & 63));
    if (ws == we) {
      words[ws] |= head & tail;
    } else {
      words[ws] |= head;
      for (int w = ws + 1; w < we; ++w) words[w] = ~uint64_t{0};
      words[we] |= tail;
    }
  }
  const int rowBytes = (width + 7) / 8;
  const int whole = rowBytes / 8;
  for (int w = 0; w < whole; ++w) {
    const uint64_t v = __builtin_bswap64(words[w]);
    std::memcpy(row + 8 * w, &v, 8);
  }
  if (whole < nwords) {
    const uint64_t v = __builtin_bswap64(words[whole]);
    std::memcpy(row + 8 * whole, &v, static_cast<size_t>(rowBytes - 8 * whole));
  }
}

void WhiteLine(int width, int32_t* changes) { changes[0] = changes[1] = changes[2] = width; }

void Code1DLine(BitPacker& bp, const int32_t* cur, int count, int width) {
  const RunTables& t = T4RunTables();
  int x = 0;
  for (int i = 0; i < count; ++i) {
    PutRun(bp, t, i & 1, cur[i] - x);
    x = cur[i];
  }
  PutRun(bp, t, count & 1, width - x);
}

void Code2DLine(BitPacker& bp, const int32_t* ref, const int32_t* cur, int width) {
  const RunTables& t = T4RunTables();
  int a0 = -1;   // the imaginary white pel left of the line
  int colour = 0;
  int ci = 0;    // cur[ci] is a1, the next changing element right of a0 (its parity is colour)
  int bi = 0;    // ref[bi] is b1
  while (a0 < width) {
    // b1: the first changing element of the reference line right of a0 whose colour is the
    // opposite of a0's. Entries two and more below the last b1 lie left of a0 already.
    int i = bi > 0 ? bi - 1 : 0;
    if ((i & 1) != colour) ++i;
    while (ref[i] <= a0) i += 2;
    bi = i;
    const int b1 = ref[i], b2 = ref[i + 1];
    const int a1 = cur[ci];
    if (b2 < a1) {
      bp.put(kPassCode.Code, kPassCode.Bits);
      a0 = b2;
    } else if (a1 - b1 <= kMaxVerticalOffset && b1 - a1 <= kMaxVerticalOffset) {
      const T4Code& v = kVerticalCodes[static_cast<size_t>(a1 - b1 + kMaxVerticalOffset)];
      bp.put(v.Code, v.Bits);
      a0 = a1;
      colour ^= 1;
      ++ci;
    } else {
      const int a2 = cur[ci + 1];
      bp.put(kHorizontalCode.Code, kHorizontalCode.Bits);
      PutRun(bp, t, colour, a1 - std::max(a0, 0));
      PutRun(bp, t, colour ^ 1, a2 - a1);
      a0 = a2;
      ci += 2;
    }
  }
}

bool T4BitReader::onlyZerosLeft() {
  for (;;) {
    need(57);
    if (nbits_ == 0) return true;
    if ((acc_ & LowMask(nbits_)) != 0) return false;
    skip(nbits_);
  }
}

int64_t T4BitReader::skipZerosAndOne() {
  int64_t zeros = 0;
  for (;;) {
    need(57);
    if (nbits_ == 0) return -1;
    const uint64_t v = acc_ & LowMask(nbits_);
    if (v == 0) {
      zeros += nbits_;
      skip(nbits_);
      continue;
    }
    const int tz = std::countr_zero(v);
    skip(tz + 1);
    return zeros + tz;
  }
}

bool T4BitReader::skipToEol() {
  for (;;) {
    const int64_t zeros = skipZerosAndOne();
    if (zeros < 0) return false;
    if (zeros >= static_cast<int64_t>(kEolZeros)) return true;
  }
}

bool T4BitReader::takeEol() {
  need(57);
  if (nbits_ < 12 || (acc_ & LowMask(static_cast<int>(kEolZeros))) != 0) return false;
  // Eleven 0 bits: only fill or an EOL can start like that. Find the 1 that ends it.
  const uint64_t v = acc_ & LowMask(nbits_);
  if (v != 0) {
    skip(std::countr_zero(v) + 1);
    return true;
  }
  return skipZerosAndOne() >= 0;
}

// The reader's state copied into locals for the length of one line: held in the reader, every
// store of a changing element (an int) could alias its bit count and force a reload.
struct T4BitCursor {
  explicit T4BitCursor(T4BitReader& r) : acc(r.acc_), nbits(r.nbits_), p(r.p_), end(r.end_), owner(r) {}
  ~T4BitCursor() {
    owner.acc_ = acc;
    owner.nbits_ = nbits;
    owner.p_ = p;
  }
  void need(int n) {
    if (nbits < n) RefillBits(acc, nbits, p, end);
  }
  uint64_t bits() const { return acc; }
  int available() const { return nbits; }
  void skip(int n) {
    acc >>= n;  // n < 64: one code at a time
    nbits -= n;
  }

  uint64_t acc;
  int nbits;
  const uint8_t* p;
  const uint8_t* const end;
  T4BitReader& owner;
};

namespace {

constexpr int kRunBad = -1, kRunEol = -2, kRunEnd = -3;

// One run of the colour: make-up codes, then its terminating code. The run may not pass `limit`.
inline int DecodeRun(T4BitCursor& in, const T4DecodeTables& t, uint32_t colour, int limit) {
  int run = 0;
  for (;;) {
    in.need(kBlackBits);
    const T4DecodeEntry& e = T4RunEntry(t, colour, in.bits());
    if (e.kind == kCodeRun) {
      if (e.bits > in.available()) return kRunEnd;
      in.skip(e.bits);
      run += e.run;
      if (run > limit) return kRunBad;
      if (e.run < 64) return run;
    } else if (e.kind == kCodeInvalid) {
      return e.bits > in.available() ? kRunEnd : kRunBad;
    } else {
      return in.available() < static_cast<int>(kEolZeros) ? kRunEnd : kRunEol;
    }
  }
}

inline LineStatus RunFailure(int r) {
  return r == kRunEol ? LineStatus::kEol : r == kRunEnd ? LineStatus::kEnd : LineStatus::kBad;
}

// Appends a changing element; one at the same place as the last cancels it (a run of length 0
// in the middle of a line), so the list stays strictly ascending.
inline void PushChange(int32_t* cur, int& count, int x) {
  if (count > 0 && cur[count - 1] == x)
    --count;
  else
    cur[count++] = x;
}

inline void EndLine(int32_t* cur, int count, int width) {
  cur[count] = cur[count + 1] = cur[count + 2] = width;
}

}  // namespace

LineStatus Decode1DLine(T4BitReader& reader, int width, int32_t* cur, int& countOut) {
  const T4DecodeTables& t = T4DecodingTables();
  T4BitCursor in(reader);
  int count = 0;  // a local: stores into cur cannot alias it
  struct Report {
    int& out;
    const int& value;
    ~Report() { out = value; }
  } report{countOut, count};
  int pos = 0;
  uint32_t colour = 0;
  for (;;) {
    const int r = DecodeRun(in, t, colour, width - pos);
    if (r < 0) return RunFailure(r);
    pos += r;
    if (pos == width) break;
    PushChange(cur, count, pos);
    colour ^= 1;
  }
  EndLine(cur, count, width);
  return LineStatus::kOk;
}

LineStatus Decode2DLine(T4BitReader& reader, int width, const int32_t* ref, int32_t* cur, int& countOut) {
  const T4DecodeTables& t = T4DecodingTables();
  const T4ModeEntry* const modes = kModeLookup.data();
  T4BitCursor in(reader);
  int count = 0;  // a local: stores into cur cannot alias it
  struct Report {
    int& out;
    const int& value;
    ~Report() { out = value; }
  } report{countOut, count};
  int a0 = -1;
  uint32_t colour = 0;
  // ref[bi] is b1 once the loop below has run: the first changing element of the reference line
  // right of a0 whose colour is the opposite of a0's (even entries for a white a0). Each mode
  // moves bi to where the next b1 can first be; entries further left are at or left of a0.
  int bi = 0;
  while (a0 < width) {
    while (ref[bi] <= a0) bi += 2;
    in.need(kModeLookupBits);
    if (in.bits() & 1) {
      // V0 codes (one 1 bit each) in a row, as where a line repeats the one above: each takes b1
      // as a1, and the next b1 is the reference line's next changing element.
      const int ones = std::min(std::countr_one(in.bits()), in.available());
      int k = 0;
      while (k < ones) {
        const int a1 = ref[bi];
        ++k;
        if (a1 >= width) {
          a0 = width;
          break;
        }
        cur[count++] = a1;  // right of a0, which is at or right of the last entry
        a0 = a1;
        ++bi;
        colour ^= 1;
      }
      in.skip(k);
      continue;
    }
    const int b1 = ref[bi], b2 = ref[bi + 1];
    const T4ModeEntry m = modes[in.bits() & ((1u << kModeLookupBits) - 1)];
    if (m.bits > in.available()) return LineStatus::kEnd;
    if (m.mode == T4Mode::kVertical) {  // most codes of a text page
      const int a1 = b1 + m.offset;
      if (a1 <= a0 || a1 > width) return LineStatus::kBad;
      in.skip(m.bits);
      if (a1 < width) PushChange(cur, count, a1);
      a0 = a1;
      colour ^= 1;
      // The colour flips: the next b1 has the other parity. Left of b1 only ref[bi - 1] can
      // still be right of a1.
      bi += m.offset < 0 && bi > 0 ? -1 : 1;
      continue;
    }
    switch (m.mode) {
      case T4Mode::kPass:
        if (b2 >= width) return LineStatus::kBad;
        in.skip(m.bits);
        a0 = b2;
        bi += 2;
        break;
      case T4Mode::kHorizontal: {
        in.skip(m.bits);
        const int start = std::max(a0, 0);
        const int r1 = DecodeRun(in, t, colour, width - start);
        if (r1 < 0) return RunFailure(r1);
        const int r2 = DecodeRun(in, t, colour ^ 1, width - start - r1);
        if (r2 < 0) return RunFailure(r2);
        const int a1 = start + r1, a2 = a1 + r2;
        if (a1 < width) PushChange(cur, count, a1);
        if (a2 < width) PushChange(cur, count, a2);
        a0 = a2;
        break;
      }
      case T4Mode::kExtension:
        return LineStatus::kBad;  // uncompressed mode is never offered
      case T4Mode::kZeros:
      case T4Mode::kVertical:
        return LineStatus::kEol;
    }
  }
  EndLine(cur, count, width);
  return LineStatus::kOk;
}

}  // namespace qv::faximage
