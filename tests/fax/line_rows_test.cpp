// Stored rows on their way to the line: the zero bytes of fill after a row's last code are left
// off, and every row must still decode on its own, whatever follows it.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "fax/send_fax.h"
#include "faximage/t4_coder.h"
#include "faximage/t4_decoder.h"
#include "faximage/t4_tables.h"

namespace qv::fax {
namespace {

using faximage::T4Code;

// Zero bits a code ends with, in the order they are sent (codes are held bit-reversed, bit 0 first).
int TrailingZerosSent(const T4Code& c) {
  int highest = c.Bits - 1;
  while (highest >= 0 && ((c.Code >> highest) & 1) == 0) --highest;
  return c.Bits - 1 - highest;
}

// The cut keeps three 0 bits after a row's last 1 because no code ends with more: the longest
// tail is white 12 ("001000") and the extended make-up 1792 ("00000001000").
TEST(LineRows, NoModifiedHuffmanCodeEndsWithMoreThanThreeZeros) {
  int most = 0;
  for (const T4Code* table : {faximage::kWhiteCodes, faximage::kBlackCodes})
    for (int i = 0; i < faximage::kT4CodeCount; ++i) {
      ASSERT_GT(table[i].Bits, 0) << i;
      most = std::max(most, TrailingZerosSent(table[i]));
    }
  EXPECT_EQ(most, 3);
  EXPECT_EQ(TrailingZerosSent(faximage::kWhiteCodes[12]), 3);
}

TEST(LineRows, CutsOnlyFillAfterTheLastCode) {
  // The blank row: EOL, white 1728, white 0 ending at bit 0 of 0x01, then a zero byte.
  const auto& blank = faximage::kBlankCodedRow;
  EXPECT_EQ(RowWithoutSurplusFill(blank.data(), blank.size()), 5u);
  // A last 1 in bit 5 leaves two 0 bits in its byte: one zero byte stays for a code's third.
  const uint8_t lateOne[] = {0x00, 0x80, 0x20, 0x00, 0x00};
  EXPECT_EQ(RowWithoutSurplusFill(lateOne, sizeof lateOne), 4u);
  // Bit 4 leaves three: nothing more is needed.
  const uint8_t earlierOne[] = {0x00, 0x80, 0x10, 0x00, 0x00};
  EXPECT_EQ(RowWithoutSurplusFill(earlierOne, sizeof earlierOne), 3u);
  // No zero byte to keep: the row stays as it is; nothing but zeros: not a row, left whole.
  const uint8_t full[] = {0x00, 0x80, 0x80};
  EXPECT_EQ(RowWithoutSurplusFill(full, sizeof full), 3u);
  const uint8_t zeros[] = {0x00, 0x00};
  EXPECT_EQ(RowWithoutSurplusFill(zeros, sizeof zeros), 2u);
}

// Appends bits [from, to) of `row` to a least-significant-bit-first stream.
void AppendBits(std::vector<uint8_t>& out, size_t& bit, const uint8_t* row, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i, ++bit) {
    if (bit / 8 >= out.size()) out.push_back(0);
    if ((row[i / 8] >> (i % 8)) & 1) out[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
  }
}

// Rows that end in every way a row can: white 12 (three trailing 0 bits) and black runs closing
// the row at every bit offset, and random text-like rows.
std::vector<std::vector<uint8_t>> Rows() {
  std::vector<std::vector<uint8_t>> rows;
  for (int lastWhite : {0, 1, 12, 13, 63, 64}) {
    for (int shift = 0; shift < 24; ++shift) {
      std::vector<uint8_t> r(216, 0);
      const int blackEnd = 1728 - lastWhite;
      for (int x = 100 + shift; x < blackEnd; x += 7 + shift % 5)
        for (int k = 0; k < 3 && x + k < blackEnd; ++k) r[(x + k) / 8] |= static_cast<uint8_t>(0x80 >> ((x + k) % 8));
      if (lastWhite > 0 && blackEnd > 0) r[(blackEnd - 1) / 8] |= static_cast<uint8_t>(0x80 >> ((blackEnd - 1) % 8));
      rows.push_back(r);
    }
  }
  std::mt19937 rng(7);
  for (int n = 0; n < 200; ++n) {
    std::vector<uint8_t> r(216, 0);
    for (int x = 0; x < 1728; x += 1 + static_cast<int>(rng() % 40))
      if (rng() % 2) r[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    rows.push_back(r);
  }
  return rows;
}

// Each cut row is followed directly by the next row's bare EOL (its four bits of fill left out
// as well), so a row that lost any bit of its last code would take the EOL's zeros for it and the
// decoder would miss the EOL.
TEST(LineRows, CutRowsDecodeAsCodedWithNothingBetweenThem) {
  const auto rows = Rows();
  std::vector<uint8_t> stream;
  size_t bit = 0;
  size_t cutBytes = 0, storedBytes = 0;
  uint8_t coded[faximage::kMaxCodedRow];
  for (const auto& r : rows) {
    const size_t n = static_cast<size_t>(faximage::CodeRow(r.data(), 1728, 0, false, coded));
    const size_t keep = RowWithoutSurplusFill(coded, n);
    ASSERT_LE(keep, n);
    storedBytes += n;
    cutBytes += keep;
    AppendBits(stream, bit, coded, 4, keep * 8);  // from the EOL itself
  }
  for (int i = 0; i < 6; ++i) AppendBits(stream, bit, faximage::kBlankCodedRow.data(), 4, 16);  // RTC
  // Most rows lose a byte or two (a last 1 late in its byte keeps one).
  EXPECT_GE((storedBytes - cutBytes) * 4, rows.size() * 3);

  std::vector<std::vector<uint8_t>> decoded;
  faximage::T4Decoder decoder([&](std::span<const uint8_t> row) { decoded.emplace_back(row.begin(), row.end()); });
  decoder.startPage();
  EXPECT_TRUE(decoder.feed(stream.data(), stream.size()));
  EXPECT_EQ(decoder.badCodes(), 0u);
  ASSERT_EQ(decoded.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(decoded[i], rows[i]) << "row " << i;
}

}  // namespace
}  // namespace qv::fax
