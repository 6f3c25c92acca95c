#include "fax/header_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <utility>

#include "faximage/t4_coder.h"
#include "faximage/t4_decoder.h"

namespace qv::fax {
namespace {

TEST(HeaderLine, TagsAreReplacedUpToTheNextSpace) {
  HeaderValues v{"ACME", "Bob", "Offer", "+1 555", 4, 1};
  EXPECT_EQ(ExpandHeaderTags("Page $P of $N", v), "Page 1 of 4");
  // the tag runs to the next space, so the colon belongs to it
  EXPECT_EQ(ExpandHeaderTags("From $f to $R: $s id $I", v), "From ACME to Bob Offer id +1 555");
  EXPECT_EQ(ExpandHeaderTags("$X unknown", v), " unknown");
  EXPECT_EQ(ExpandHeaderTags("trailing $", v), "trailing ");
  EXPECT_EQ(ExpandHeaderTags("no tags", v), "no tags");
  EXPECT_FALSE(ExpandHeaderTags("$D", v).empty());
  EXPECT_FALSE(ExpandHeaderTags("$T", v).empty());
}

// Decodes coded rows back to pixels (1 = black, 1728 per row).
std::vector<std::vector<uint8_t>> Decode(const std::vector<std::vector<uint8_t>>& rows) {
  std::vector<std::vector<uint8_t>> out;
  faximage::T4Decoder decoder([&](std::span<const uint8_t> row) { out.emplace_back(row.begin(), row.end()); });
  decoder.startPage();
  for (const auto& r : rows) decoder.feed(r.data(), r.size());
  decoder.feed(faximage::kEndOfPageCode.data(), faximage::kEndOfPageCode.size());  // ends the last row
  EXPECT_EQ(decoder.badCodes(), 0u);
  return out;
}

bool Black(const std::vector<uint8_t>& row, int x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }

// The leftmost and rightmost black pixel over all rows (-1 when there is no ink).
std::pair<int, int> InkSpan(const std::vector<std::vector<uint8_t>>& rows) {
  int lo = -1, hi = -1;
  for (const auto& row : rows)
    for (int x = 0; x < static_cast<int>(row.size()) * 8; ++x)
      if (Black(row, x)) {
        if (lo < 0 || x < lo) lo = x;
        hi = std::max(hi, x);
      }
  return {lo, hi};
}

TEST(HeaderLine, TextRowsKeepTheMarginFitWholeGlyphsAndDoubleForFine) {
  std::vector<std::vector<uint8_t>> standard, fine;
  ASSERT_EQ(CodeTextLine("HHHH", 48, false, standard), 0);
  ASSERT_EQ(CodeTextLine("HHHH", 48, true, fine), 0);
  ASSERT_EQ(standard.size(), 16u);
  ASSERT_EQ(fine.size(), 32u);
  for (size_t i = 0; i < standard.size(); ++i) {
    EXPECT_EQ(fine[2 * i], standard[i]) << i;
    EXPECT_EQ(fine[2 * i + 1], standard[i]) << i;
  }
  const auto pixels = Decode(standard);
  ASSERT_EQ(pixels.size(), 16u);
  for (const auto& row : pixels) ASSERT_EQ(row.size(), 1728u / 8);
  const auto [lo, hi] = InkSpan(pixels);
  EXPECT_GE(lo, 16);       // nothing inside the margin
  EXPECT_LT(hi, 16 + 80);  // four glyphs of 20 pixels

  // A header line far longer than the row: only whole glyphs, none cut at the right edge.
  std::vector<std::vector<uint8_t>> longLine;
  ASSERT_EQ(CodeTextLine(std::string(300, 'H'), 16, false, longLine), 0);
  ASSERT_EQ(longLine.size(), 8u);
  const auto wide = InkSpan(Decode(longLine));
  EXPECT_GE(wide.first, 16);
  EXPECT_LT(wide.second, 16 + 142 * 12);  // 142 glyphs of 12 pixels fit in 1712
  EXPECT_GT(wide.second, 16 + 141 * 12);  // and the 142nd is drawn
}

}  // namespace
}  // namespace qv::fax
