#include "faximage/t4_decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace qv::faximage {
namespace {

// The modified Huffman codes in transmission order (first bit leftmost). The decoder keeps its own
// copy because it needs the codes as lookup tables, not as bit patterns to emit.
struct CodeText {
  int run;
  const char* bits;
};

const CodeText kWhiteCodes[] = {
    {0, "00110101"}, {1, "000111"}, {2, "0111"}, {3, "1000"}, {4, "1011"}, {5, "1100"},
    {6, "1110"}, {7, "1111"}, {8, "10011"}, {9, "10100"}, {10, "00111"}, {11, "01000"},
    {12, "001000"}, {13, "000011"}, {14, "110100"}, {15, "110101"}, {16, "101010"}, {17, "101011"},
    {18, "0100111"}, {19, "0001100"}, {20, "0001000"}, {21, "0010111"}, {22, "0000011"}, {23, "0000100"},
    {24, "0101000"}, {25, "0101011"}, {26, "0010011"}, {27, "0100100"}, {28, "0011000"}, {29, "00000010"},
    {30, "00000011"}, {31, "00011010"}, {32, "00011011"}, {33, "00010010"}, {34, "00010011"}, {35, "00010100"},
    {36, "00010101"}, {37, "00010110"}, {38, "00010111"}, {39, "00101000"}, {40, "00101001"}, {41, "00101010"},
    {42, "00101011"}, {43, "00101100"}, {44, "00101101"}, {45, "00000100"}, {46, "00000101"}, {47, "00001010"},
    {48, "00001011"}, {49, "01010010"}, {50, "01010011"}, {51, "01010100"}, {52, "01010101"}, {53, "00100100"},
    {54, "00100101"}, {55, "01011000"}, {56, "01011001"}, {57, "01011010"}, {58, "01011011"}, {59, "01001010"},
    {60, "01001011"}, {61, "00110010"}, {62, "00110011"}, {63, "00110100"}, {64, "11011"}, {128, "10010"},
    {192, "010111"}, {256, "0110111"}, {320, "00110110"}, {384, "00110111"}, {448, "01100100"}, {512, "01100101"},
    {576, "01101000"}, {640, "01100111"}, {704, "011001100"}, {768, "011001101"}, {832, "011010010"}, {896, "011010011"},
    {960, "011010100"}, {1024, "011010101"}, {1088, "011010110"}, {1152, "011010111"}, {1216, "011011000"}, {1280, "011011001"},
    {1344, "011011010"}, {1408, "011011011"}, {1472, "010011000"}, {1536, "010011001"}, {1600, "010011010"}, {1664, "011000"},
    {1728, "010011011"},
};
const CodeText kBlackCodes[] = {
    {0, "0000110111"}, {1, "010"}, {2, "11"}, {3, "10"}, {4, "011"}, {5, "0011"},
    {6, "0010"}, {7, "00011"}, {8, "000101"}, {9, "000100"}, {10, "0000100"}, {11, "0000101"},
    {12, "0000111"}, {13, "00000100"}, {14, "00000111"}, {15, "000011000"}, {16, "0000010111"}, {17, "0000011000"},
    {18, "0000001000"}, {19, "00001100111"}, {20, "00001101000"}, {21, "00001101100"}, {22, "00000110111"}, {23, "00000101000"},
    {24, "00000010111"}, {25, "00000011000"}, {26, "000011001010"}, {27, "000011001011"}, {28, "000011001100"}, {29, "000011001101"},
    {30, "000001101000"}, {31, "000001101001"}, {32, "000001101010"}, {33, "000001101011"}, {34, "000011010010"}, {35, "000011010011"},
    {36, "000011010100"}, {37, "000011010101"}, {38, "000011010110"}, {39, "000011010111"}, {40, "000001101100"}, {41, "000001101101"},
    {42, "000011011010"}, {43, "000011011011"}, {44, "000001010100"}, {45, "000001010101"}, {46, "000001010110"}, {47, "000001010111"},
    {48, "000001100100"}, {49, "000001100101"}, {50, "000001010010"}, {51, "000001010011"}, {52, "000000100100"}, {53, "000000110111"},
    {54, "000000111000"}, {55, "000000100111"}, {56, "000000101000"}, {57, "000001011000"}, {58, "000001011001"}, {59, "000000101011"},
    {60, "000000101100"}, {61, "000001011010"}, {62, "000001100110"}, {63, "000001100111"}, {64, "0000001111"}, {128, "000011001000"},
    {192, "000011001001"}, {256, "000001011011"}, {320, "000000110011"}, {384, "000000110100"}, {448, "000000110101"}, {512, "0000001101100"},
    {576, "0000001101101"}, {640, "0000001001010"}, {704, "0000001001011"}, {768, "0000001001100"}, {832, "0000001001101"}, {896, "0000001110010"},
    {960, "0000001110011"}, {1024, "0000001110100"}, {1088, "0000001110101"}, {1152, "0000001110110"}, {1216, "0000001110111"}, {1280, "0000001010010"},
    {1344, "0000001010011"}, {1408, "0000001010100"}, {1472, "0000001010101"}, {1536, "0000001011010"}, {1600, "0000001011011"}, {1664, "0000001100100"},
    {1728, "0000001100101"},
};
const CodeText kExtendedCodes[] = {
    {1792, "00000001000"}, {1856, "00000001100"}, {1920, "00000001101"}, {1984, "000000010010"}, {2048, "000000010011"}, {2112, "000000010100"},
    {2176, "000000010101"}, {2240, "000000010110"}, {2304, "000000010111"}, {2368, "000000011100"}, {2432, "000000011101"}, {2496, "000000011110"},
    {2560, "000000011111"},
};

enum Kind : uint8_t { kRun = 0, kEol = 1, kInvalid = 2, kZeros = 3 };

struct Entry {
  uint16_t run;
  uint8_t bits;  // bits the entry consumes
  uint8_t kind;
};

constexpr int kWhiteBits = 12;  // longest white code (and EOL)
constexpr int kBlackBits = 13;  // longest black code
constexpr uint32_t kEolZeros = 11;

// Several short codes at once: for the next kMultiBits input bits and the colour of the next run,
// the terminating codes that lie wholly within them, as long as their runs stay within
// kMultiPixels, and the pixels they make as a pattern (first pixel in the high bit, 1 = black).
// Short runs alternate fast in text, where one lookup per code would bound the decoder.
constexpr int kMultiBits = 10;
constexpr int kMultiPixels = 25;  // the pattern shifted by up to 7 still fits 32 bits

struct Multi {
  uint32_t pattern;
  uint8_t bits;    // bits the codes take; kNoMulti when the first code is not such a code
  uint8_t pixels;  // sum of the runs
  uint8_t codes;   // number of codes
  uint8_t flip;    // 1 when that number is odd: the colour changes
};
constexpr uint8_t kNoMulti = 0xFF;  // more bits than the decoder ever holds

// A lookup table answers, for the next N input bits (bit 0 first), what a bit-by-bit walk of the
// code tree from its root would reach: a run, the EOL, or a dead end after so many bits.
struct Tables {
  std::vector<Entry> white;
  std::vector<Entry> black;
  // Both colours in one array each, so that the colour (0 white, 1 black) picks by arithmetic:
  // single codes at colour << kWhiteBits (white 4096 entries, then black 8192), masked with
  // kWhiteMask | colour << kWhiteBits; several codes at colour << kMultiBits.
  std::vector<Entry> single;
  std::vector<Multi> multi;
  Tables() : white(build(false, kWhiteBits)), black(build(true, kBlackBits)) {
    single = white;
    single.insert(single.end(), black.begin(), black.end());
    multi = buildMulti(false);
    const std::vector<Multi> blackMulti = buildMulti(true);
    multi.insert(multi.end(), blackMulti.begin(), blackMulti.end());
  }

  // Walks the single-code tables over each kMultiBits-bit pattern, as the decoder would, and
  // stops at the first code that is not a complete terminating code or would pass the pixel cap.
  std::vector<Multi> buildMulti(bool blackFirst) const {
    std::vector<Multi> table(size_t{1} << kMultiBits);
    for (uint32_t index = 0; index < table.size(); ++index) {
      Multi m{0, 0, 0, 0, 0};
      bool isBlack = blackFirst;
      for (;;) {
        const int left = kMultiBits - m.bits;
        const uint32_t rest = index >> m.bits;
        if (left <= 0 || (rest & ((1u << kEolZeros) - 1)) == 0) break;  // EOL or fill may begin
        const Entry& e = isBlack ? black[rest] : white[rest];  // bits above `left` read as 0
        if (e.kind != kRun || e.bits > left || e.run >= 64 || m.pixels + e.run > kMultiPixels) break;
        if (isBlack && e.run > 0) m.pattern |= (~uint32_t{0} << (32 - e.run)) >> m.pixels;
        m.bits = static_cast<uint8_t>(m.bits + e.bits);
        m.pixels = static_cast<uint8_t>(m.pixels + e.run);
        ++m.codes;
        isBlack = !isBlack;
      }
      if (m.codes == 0) m.bits = kNoMulti;
      m.flip = m.codes & 1;
      table[index] = m;
    }
    return table;
  }

  static std::vector<Entry> build(bool black, int tableBits) {
    struct Node {
      int child[2] = {-1, -1};
      int leafKind = -1;  // -1 inner, kRun or kEol
      int run = 0;
    };
    std::vector<Node> tree(1);
    auto insert = [&tree](const char* bits, int kind, int run) {
      int node = 0;
      for (const char* c = bits; *c; ++c) {
        int b = *c - '0';
        if (tree[static_cast<size_t>(node)].child[b] < 0) {
          tree[static_cast<size_t>(node)].child[b] = static_cast<int>(tree.size());
          tree.emplace_back();
        }
        node = tree[static_cast<size_t>(node)].child[b];
      }
      tree[static_cast<size_t>(node)].leafKind = kind;
      tree[static_cast<size_t>(node)].run = run;
    };
    if (black)
      for (const auto& c : kBlackCodes) insert(c.bits, kRun, c.run);
    else
      for (const auto& c : kWhiteCodes) insert(c.bits, kRun, c.run);
    for (const auto& c : kExtendedCodes) insert(c.bits, kRun, c.run);
    insert("000000000001", kEol, 0);

    std::vector<Entry> table(size_t{1} << tableBits);
    for (uint32_t index = 0; index < table.size(); ++index) {
      Entry e{0, 0, kZeros};
      int node = 0;
      for (int k = 0; k < tableBits; ++k) {
        int next = tree[static_cast<size_t>(node)].child[(index >> k) & 1];
        if (next < 0) {
          e = Entry{0, static_cast<uint8_t>(k + 1), kInvalid};
          break;
        }
        const Node& n = tree[static_cast<size_t>(next)];
        if (n.leafKind >= 0) {
          e = Entry{static_cast<uint16_t>(n.run), static_cast<uint8_t>(k + 1),
                    static_cast<uint8_t>(n.leafKind)};
          break;
        }
        node = next;
      }
      table[index] = e;  // kZeros only where the first eleven bits are 0: never looked up
    }
    return table;
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

inline uint64_t LoadLe64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

inline uint64_t LowMask(int n) { return n >= 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1; }

// Sets pixels [x, x + n) of the row to black; x + n <= 4096.
inline void FillBlack(uint8_t* row, int x, int n) {
  int end = x + n;
  int first = x >> 3, last = (end - 1) >> 3;
  uint8_t head = static_cast<uint8_t>(0xFFu >> (x & 7));
  uint8_t tail = static_cast<uint8_t>(0xFFu << (7 - ((end - 1) & 7)));
  if (first == last) {
    row[first] |= static_cast<uint8_t>(head & tail);
    return;
  }
  row[first] |= head;
  if (last - first > 1) std::memset(row + first + 1, 0xFF, static_cast<size_t>(last - first - 1));
  row[last] |= tail;
}

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
  tables();  // built once, before the first page
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
  const Tables& t = tables();
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
  const Entry* const single = t.single.data();
  const Multi* const multi = t.multi.data();
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
    // Refill: whole 64-bit loads while there is room, byte by byte at the end of the data. Bits
    // above nbits are either 0 or the true next bits, so or-ing them in again is harmless.
    if (end - p >= 8) {
      if (nbits <= 56) {
        acc |= LoadLe64(p) << nbits;
        int take = (63 - nbits) >> 3;
        p += take;
        nbits += take << 3;
      }
    } else {
      while (nbits <= 56 && p < end) {
        acc |= uint64_t{*p++} << nbits;
        nbits += 8;
      }
    }

    while (nbits > 0) {
      if ((acc & ((1u << kEolZeros) - 1)) != 0 && !resync && !zeroRun) {
        // Short terminating codes, several at a time, when their runs all fit the row.
        const Multi m = multi[(colour << kMultiBits) | (acc & kMultiMask)];
        if (m.bits <= nbits && pos + m.pixels <= limit) {
          acc >>= m.bits;
          nbits -= m.bits;
          if (m.pattern != 0) PutPattern(row, pos, m.pattern);
          pos += m.pixels;
          colour ^= m.flip;
          eols = 0;
          continue;
        }
        const Entry e = single[(colour << kWhiteBits) + (acc & (kWhiteMask | (colour << kWhiteBits)))];
        if (e.bits > nbits) break;  // code continues in the next input
        acc >>= e.bits;  // at most 13 bits
        nbits -= e.bits;
        if (e.kind == kRun) {
          int run = e.run;
          if (pos + run <= limit) {
            if (colour && run > 0) FillBlack(row, pos, run);
            pos += run;
          }
          if (run < 64) colour ^= 1;
          eols = 0;
        } else {  // kInvalid (an EOL always starts with eleven 0 bits, handled below)
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
