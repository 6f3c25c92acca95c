#include "faximage/t4_decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "t4_test_coder.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

namespace {

using Rows = std::vector<std::vector<uint8_t>>;

struct Result {
  Rows rows;
  uint32_t badCodes = 0;
  bool ended = false;
};

Result Decode(const std::vector<uint8_t>& data, size_t piece = 0) {
  Result r;
  T4Decoder d([&r](std::span<const uint8_t> row) { r.rows.emplace_back(row.begin(), row.end()); });
  if (piece == 0) {
    r.ended = d.feed(data);
  } else {
    for (size_t i = 0; i < data.size() && !r.ended; i += piece)
      r.ended = d.feed(data.data() + i, std::min(piece, data.size() - i));
  }
  r.badCodes = d.badCodes();
  return r;
}

// The decoder as a plain walk of one code tree per colour, one bit at a time, built independently
// of the decoder's tables. Eleven 0 bits lead to a node that loops on 0 (fill) and reaches the EOL
// on a 1. Runs use the byte-position fit test with a generous buffer, so the comparison also shows
// that the decoder's exact 4096-pixel limit changes no delivered row.
class TreeWalker {
 public:
  TreeWalker() {
    for (int c = 0; c < 2; ++c) {
      trees_[c].assign(1, Node{});
      const CodeText* own = c ? kBlackCodes : kWhiteCodes;
      for (size_t i = 0; i < std::size(kWhiteCodes); ++i) insert(c, own[i].bits, own[i].run);
      for (const auto& e : kExtendedCodes) insert(c, e.bits, e.run);
      int z = 0;
      for (int i = 0; i < 11; ++i) z = child(c, z, 0);
      trees_[c][static_cast<size_t>(z)].next[0] = z;
      int eol = child(c, z, 1);
      trees_[c][static_cast<size_t>(eol)].leaf = kEolLeaf;
    }
  }

  Result run(const std::vector<uint8_t>& data) {
    Result r;
    std::vector<uint8_t> line(600, 0);
    int lineByte = 0, lineBit = 0, colour = 0, node = 0, eols = 0;
    bool beforeFirst = true, resync = false;
    for (uint8_t byte : data) {
      for (int b = 0; b < 8; ++b) {
        int bit = (byte >> b) & 1;
        if (bit == 1 && resync) continue;
        if (bit == 0) resync = false;
        node = trees_[colour][static_cast<size_t>(node)].next[bit];
        if (node < 0) {
          ++r.badCodes;
          node = 0;
          resync = true;
          continue;
        }
        int leaf = trees_[colour][static_cast<size_t>(node)].leaf;
        if (leaf == kInner) continue;
        if (leaf == kEolLeaf) {
          if ((lineByte > 0 || lineBit > 0) && (lineByte == 216 || lineByte == 256))
            r.rows.emplace_back(line.begin(), line.begin() + lineByte);
          std::fill(line.begin(), line.end(), 0);
          lineByte = lineBit = colour = node = 0;
          beforeFirst = false;
          if (++eols == 3) {
            r.ended = true;
            return r;
          }
          continue;
        }
        int len = leaf;
        if (!beforeFirst && len / 8 + lineByte < 512) {
          for (int i = 0; i < len; ++i) {
            if (colour) line[static_cast<size_t>(lineByte)] |= static_cast<uint8_t>(0x80u >> lineBit);
            if (++lineBit == 8) {
              lineBit = 0;
              ++lineByte;
            }
          }
        }
        if (len < 64) colour ^= 1;
        node = 0;
        eols = 0;
      }
    }
    return r;
  }

 private:
  static constexpr int kInner = -1, kEolLeaf = -2;
  struct Node {
    int next[2] = {-1, -1};
    int leaf = kInner;
  };
  int child(int c, int n, int bit) {
    if (trees_[c][static_cast<size_t>(n)].next[bit] < 0) {
      trees_[c][static_cast<size_t>(n)].next[bit] = static_cast<int>(trees_[c].size());
      trees_[c].push_back(Node{});
    }
    return trees_[c][static_cast<size_t>(n)].next[bit];
  }
  void insert(int c, const char* bits, int run) {
    int n = 0;
    for (const char* p = bits; *p; ++p) n = child(c, n, *p - '0');
    trees_[c][static_cast<size_t>(n)].leaf = run;
  }
  std::vector<Node> trees_[2];
};

std::vector<uint8_t> RowWithBlack(int width, std::initializer_list<std::pair<int, int>> runs) {
  std::vector<uint8_t> row(static_cast<size_t>(width / 8), 0);
  for (auto [x, n] : runs)
    for (int i = x; i < x + n; ++i) row[static_cast<size_t>(i / 8)] |= static_cast<uint8_t>(0x80 >> (i % 8));
  return row;
}

}  // namespace

// The worked examples of the code notes, LSB-first bytes as a modem delivers them.
TEST(T4Decoder, DecodesReferenceByteSequences) {
  std::vector<uint8_t> data = {0x00, 0x28, 0x9B, 0x15,         // EOL + white 1728
                               0x00, 0xC8, 0x6D, 0x28, 0x03,   // EOL + W10 B4 W1714
                               0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80};  // RTC
  Result r = Decode(data);
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[0], std::vector<uint8_t>(216, 0));
  EXPECT_EQ(r.rows[1], RowWithBlack(1728, {{10, 4}}));
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.badCodes, 0u);
}

// Row records as the converter writes them: aligned EOL, codes, fill, a zero byte; the page closes
// with the 12-byte end-of-page record. The zero bytes between records are fill before the EOL.
TEST(T4Decoder, DecodesRowRecordsAndEndOfPageRecord) {
  std::vector<uint8_t> blank = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
  std::vector<uint8_t> eop = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
  T4Decoder d;
  int rows = 0;
  d.setRowHandler([&](std::span<const uint8_t> row) {
    EXPECT_EQ(row.size(), 216u);
    EXPECT_EQ(std::count(row.begin(), row.end(), 0), 216);
    ++rows;
  });
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(d.feed(blank));
  EXPECT_TRUE(d.feed(eop));
  EXPECT_EQ(rows, 5);
  EXPECT_EQ(d.badCodes(), 0u);
  EXPECT_TRUE(d.feed(blank)) << "nothing is decoded after the end of the page";
  EXPECT_EQ(rows, 5);
}

// Random rows of both widths, with and without byte-aligned EOLs and fill, come back exactly,
// whatever the pieces the input arrives in.
TEST(T4Decoder, RoundTripsRandomRowsInAnyPieces) {
  std::mt19937 rng(42);
  for (int width : {1728, 2048}) {
    for (bool aligned : {false, true}) {
      BitWriter w;
      Rows rows;
      w.bits("1111");  // noise before the first EOL is skipped
      for (int i = 0; i < 60; ++i) {
        rows.push_back(RandomRow(rng, width, i % 7 == 0 ? 100 : 30));
        if (i == 3) rows.back().assign(rows.back().size(), 0xFF);  // all black: runs over 1728
        aligned ? w.alignedEol() : w.eol();
        w.row(rows.back(), width);
        if (i % 5 == 0) w.zeros(37);  // fill before the next EOL
      }
      w.rtc();
      for (size_t piece : {size_t{0}, size_t{1}, size_t{3}, size_t{7}, size_t{4096}}) {
        Result r = Decode(w.bytes(), piece);
        EXPECT_EQ(r.rows, rows) << "width " << width << " piece " << piece;
        EXPECT_EQ(r.badCodes, 0u);
        EXPECT_TRUE(r.ended);
      }
    }
  }
}

TEST(T4Decoder, DropsRowsOfWrongLengthAndIgnoresRunsBeforeFirstEol) {
  BitWriter w;
  w.run(false, 1728);  // before the first EOL: ignored
  w.eol();
  w.run(false, 1000);  // 1000 pixels: dropped
  w.eol();
  w.run(false, 100);
  w.run(true, 1628);  // a good row
  w.eol();
  w.run(false, 3456);  // 432 bytes: neither width, dropped
  w.eol();
  w.run(false, 2040);
  w.run(true, 8);  // 2048 pixels
  w.rtc();
  Result r = Decode(w.bytes());
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[0], RowWithBlack(1728, {{100, 1628}}));
  EXPECT_EQ(r.rows[1], RowWithBlack(2048, {{2040, 8}}));
  EXPECT_EQ(r.badCodes, 0u);
}

// Runs that would carry the row past 4096 pixels are ignored; the next rows are unharmed.
TEST(T4Decoder, IgnoresOverflowingRuns) {
  BitWriter w;
  w.eol();
  w.run(false, 4090);
  w.run(true, 7);  // ends at 4097: ignored
  w.run(false, 6);  // ends at 4096: taken
  w.run(true, 2560);
  w.run(false, 2560);
  w.eol();
  w.run(false, 1728);
  w.rtc();
  Result r = Decode(w.bytes());
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0], std::vector<uint8_t>(216, 0));
}

TEST(T4Decoder, PageEndsAfterThreeEolsInARowOnly) {
  BitWriter w;
  w.eol();
  w.run(false, 1728);
  w.eol();
  w.eol();  // an empty line between two EOLs does not end the page
  w.run(false, 1728);
  w.eol();
  w.eol();
  w.eol();  // third EOL in a row
  w.run(false, 1728);
  w.eol();
  Result r = Decode(w.bytes());
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.rows.size(), 2u);
}

// A bad code is counted, 1 bits after it are skipped, and decoding picks up again; the damaged row
// comes out at the wrong length and is dropped while its neighbours survive. (Without fill the
// garbage may swallow part of the next EOL and so take the following row with it.)
TEST(T4Decoder, CountsBadCodesAndResynchronises) {
  std::mt19937 rng(7);
  BitWriter w;
  Rows good;
  for (int i = 0; i < 6; ++i) {
    auto row = RandomRow(rng, 1728);
    w.eol();
    if (i == 2) {
      w.run(false, 30);
      w.bits("0000000011111");  // eight 0s then a 1: no code in the black table, then 1s
      w.run(false, 40);
      w.zeros(30);  // fill: whatever code the garbage left open, the next EOL is still found
    } else {
      w.row(row, 1728);
      good.push_back(row);
    }
  }
  w.rtc();
  Result r = Decode(w.bytes());
  EXPECT_EQ(r.rows, good);
  EXPECT_GE(r.badCodes, 1u);
  EXPECT_TRUE(r.ended);
}

// What a receiver judges a page by: a row is bad when it held no-code bits or reached its EOL at
// another width, even when its whole bytes make 216 and it is handed on; empty lines and what
// comes before the first EOL are no rows; the longest run of bad rows is kept across good rows.
TEST(T4Decoder, CountsGoodAndBadRowsForCopyQuality) {
  BitWriter w;
  w.bits("0000000011111");  // noise before the first EOL: not judged
  w.eol();
  auto good = [&w] {
    w.run(false, 100);
    w.run(true, 1628);
    w.eol();
  };
  good();
  w.run(false, 1000);  // short: bad
  w.eol();
  w.run(false, 1730);  // 216 whole bytes, two pixels over: handed on, but bad
  w.eol();
  w.run(false, 30);
  w.bits("0000000011111");  // a bad code: the row is bad whatever width it comes to
  w.run(false, 1698);
  w.zeros(30);
  w.eol();
  w.eol();  // an empty line: no row, and the run of bad rows goes on
  w.run(false, 2048);  // the other width: good
  w.eol();
  good();
  w.run(false, 5);  // one more bad row: a run of one
  w.eol();
  good();
  w.rtc();
  T4Decoder d;
  d.feed(w.bytes());
  EXPECT_TRUE(d.pageEnded());
  EXPECT_EQ(d.goodRows(), 4u);
  EXPECT_EQ(d.badRows(), 4u);
  EXPECT_EQ(d.longestBadRun(), 3u);
  EXPECT_GE(d.rowsAccepted(), 5u);  // the 1730-pixel row among them
  d.startPage();
  EXPECT_EQ(d.goodRows() + d.badRows() + d.longestBadRun(), 0u);
}

// Differential check against the bit-by-bit tree walk: random noise, and valid pages with random
// bit flips, decode to the same rows, bad-code counts and page ends.
TEST(T4Decoder, AgreesWithBitByBitTreeWalk) {
  TreeWalker walker;
  std::mt19937 rng(1234);
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<uint8_t> data;
    if (trial % 3 == 0) {
      data.resize(2000);
      std::uniform_int_distribution<int> byte(0, 255), kind(0, 9);
      for (auto& b : data) {
        int k = kind(rng);
        b = static_cast<uint8_t>(k < 3 ? 0 : k < 5 ? 0xFF : byte(rng));
      }
    } else {
      BitWriter w;
      int width = trial % 2 ? 1728 : 2048;
      for (int i = 0; i < 20; ++i) {
        w.eol();
        w.row(RandomRow(rng, width), width);
      }
      w.rtc();
      data = w.bytes();
      std::uniform_int_distribution<size_t> at(0, data.size() * 8 - 1);
      int flips = trial % 5;
      for (int f = 0; f < flips; ++f) {
        size_t bit = at(rng);
        data[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
      }
    }
    Result expected = walker.run(data);
    for (size_t piece : {size_t{0}, size_t{5}}) {
      Result got = Decode(data, piece);
      ASSERT_EQ(got.rows, expected.rows) << "trial " << trial;
      ASSERT_EQ(got.badCodes, expected.badCodes) << "trial " << trial;
      ASSERT_EQ(got.ended, expected.ended) << "trial " << trial;
    }
  }
}

// Rows that stress taking several short codes in one step: every run length up to past the
// step's pixel cap at every bit offset, single-pixel alternation, solid rows, make-up and extended
// codes (1792 to 2560), and widths the decoder drops (2432, 4096). The rows of accepted widths
// come back exactly, and everything agrees with the tree walk, whatever the input's pieces.
TEST(T4Decoder, ShortCodesTakenTogetherAgreeWithTreeWalk) {
  std::mt19937 rng(5);
  BitWriter w;
  Rows accepted;
  int n = 0;
  auto add = [&](const std::vector<uint8_t>& row, int width) {
    (n++ % 2) ? w.alignedEol() : w.eol();
    w.row(row, width);
    if (width == 1728 || width == 2048) accepted.push_back(row);
  };
  for (int width : {1728, 2048, 2432}) {
    const size_t bytes = static_cast<size_t>(width / 8);
    add(std::vector<uint8_t>(bytes, 0x00), width);
    add(std::vector<uint8_t>(bytes, 0xFF), width);
    add(std::vector<uint8_t>(bytes, 0xAA), width);
    add(std::vector<uint8_t>(bytes, 0x55), width);
    for (int len = 1; len <= 30; ++len)
      for (int offset = 0; offset < 8; ++offset) {
        std::vector<uint8_t> row(bytes, 0);
        for (int x = offset; x < width; ++x)
          if ((x - offset) / len % 2 == 1) row[static_cast<size_t>(x >> 3)] |= static_cast<uint8_t>(0x80u >> (x & 7));
        add(row, width);
      }
    for (int white = 18; white <= 30; ++white)  // long white, short black: near the cap
      for (int black = 1; black <= 3; ++black)
        for (int offset = 0; offset < 8; ++offset) {
          std::vector<uint8_t> row(bytes, 0);
          for (int x = offset; x < width; ++x)
            if ((x - offset) % (white + black) >= white)
              row[static_cast<size_t>(x >> 3)] |= static_cast<uint8_t>(0x80u >> (x & 7));
          add(row, width);
        }
    for (int i = 0; i < 20; ++i) {  // random runs of 1 to 12 pixels
      std::vector<uint8_t> row(bytes, 0);
      bool black = false;
      for (int x = 0; x < width;) {
        const int len = static_cast<int>(rng() % 12) + 1;
        for (int k = x; k < std::min(width, x + len); ++k)
          if (black) row[static_cast<size_t>(k >> 3)] |= static_cast<uint8_t>(0x80u >> (k & 7));
        x += len;
        black = !black;
      }
      add(row, width);
    }
  }
  // Make-up and extended codes inside accepted rows, then rows too wide to keep.
  add(RowWithBlack(2048, {{1797, 1}, {1800, 3}}), 2048);
  add(RowWithBlack(2048, {{3, 1856}, {1900, 148}}), 2048);
  add(RowWithBlack(1728, {{0, 1727}}), 1728);
  w.eol();
  w.run(false, 2560);
  w.run(true, 1000);
  w.run(false, 536);  // 4096 pixels: dropped
  add(RowWithBlack(1728, {{7, 2}, {9, 1}, {30, 25}, {56, 26}}), 1728);
  w.rtc();

  const Result expected = TreeWalker().run(w.bytes());
  ASSERT_EQ(expected.rows, accepted);
  for (size_t piece : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{13}}) {
    const Result got = Decode(w.bytes(), piece);
    EXPECT_EQ(got.rows, accepted) << "piece " << piece;
    EXPECT_EQ(got.badCodes, 0u);
    EXPECT_TRUE(got.ended);
  }
}
