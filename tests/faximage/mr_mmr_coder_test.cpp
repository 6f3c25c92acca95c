// The two-dimensional coders and decoders on their own: the mode choices and stream layout the
// standards fix, and what the decoders make of damaged or hostile data. (libtiff judges the
// pixels in tests/interop.)
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "faximage/mmr_coder.h"
#include "faximage/mmr_decoder.h"
#include "faximage/mr_coder.h"
#include "faximage/mr_decoder.h"
#include "faximage/t4_2d_line.h"
#include "faximage/t4_2d_tables.h"
#include "faximage/t4_decoder.h"
#include "faximage/t4_transcode.h"
#include "t4_test_coder.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

namespace {

using Rows = std::vector<std::vector<uint8_t>>;

std::vector<uint8_t> Span(int width, int from, int to) {  // black [from, to)
  std::vector<uint8_t> r(static_cast<size_t>((width + 7) / 8), 0);
  for (int x = from; x < to; ++x) r[static_cast<size_t>(x >> 3)] |= static_cast<uint8_t>(0x80u >> (x & 7));
  return r;
}

// One line coded against a reference, as a string of bits in transmission order.
std::string Code2D(const std::vector<uint8_t>& ref, const std::vector<uint8_t>& cur, int width) {
  std::vector<int32_t> r(static_cast<size_t>(ChangeCapacity(width))), c(r.size());
  RowChanges(ref.data(), width, r.data());
  RowChanges(cur.data(), width, c.data());
  BitStreamWriter w;
  BitPacker& bp = w.reserve(static_cast<size_t>(MaxCodedLineBytes(width)));
  Code2DLine(bp, r.data(), c.data(), width);
  w.commit();
  const uint64_t n = w.bitCount();
  std::vector<uint8_t> bytes = w.take();
  std::string s;
  for (uint64_t i = 0; i < n; ++i) s += ((bytes[i / 8] >> (i % 8)) & 1) ? '1' : '0';
  return s;
}

std::vector<bool> Bits(const std::vector<uint8_t>& bytes) {
  std::vector<bool> b;
  for (uint8_t v : bytes)
    for (int i = 0; i < 8; ++i) b.push_back((v >> i) & 1);
  return b;
}
std::vector<uint8_t> Bytes(const std::vector<bool>& bits) {
  std::vector<uint8_t> out((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i]) out[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
  return out;
}
// Bit positions just after each EOL (eleven 0 bits and a 1).
std::vector<size_t> EolEnds(const std::vector<bool>& bits) {
  std::vector<size_t> ends;
  int zeros = 0;
  for (size_t i = 0; i < bits.size(); ++i) {
    if (!bits[i]) {
      ++zeros;
      continue;
    }
    if (zeros >= 11) ends.push_back(i + 1);
    zeros = 0;
  }
  return ends;
}

struct MrResult {
  Rows rows;
  uint32_t good = 0, bad = 0, longestBad = 0;
  bool ended = false;
};
MrResult DecodeMr(const std::vector<uint8_t>& data, int width) {
  MrResult res;
  MrDecoder d(width, [&res](std::span<const uint8_t> r) { res.rows.emplace_back(r.begin(), r.end()); });
  res.ended = d.decodePage(data);
  EXPECT_EQ(d.ended(), res.ended);
  EXPECT_EQ(d.rows(), res.rows.size());
  res.good = d.goodRows();
  res.bad = d.badRows();
  res.longestBad = d.longestBadRun();
  return res;
}

Rows TestRows(int width, int n, unsigned seed) {
  std::mt19937 rng(seed);
  Rows rows;
  for (int i = 0; i < n; ++i) rows.push_back(RandomRow(rng, width, 20 + i % 40));
  return rows;
}

std::vector<uint8_t> CodeMr(const Rows& rows, int width, int k, int minBits = 0) {
  MrCoder c(width, k, minBits);
  for (const auto& r : rows) c.addRow(r.data());
  return c.finish();
}

}  // namespace

// The worked examples of two-dimensional coding (width 16).
TEST(TwoDimensionalCoding, ModeChoicesOfTheWorkedExamples) {
  const int w = 16;
  EXPECT_EQ(Code2D(Span(w, 0, 0), Span(w, 3, 6), w), "0011000101");      // H W3 B3, V0
  EXPECT_EQ(Code2D(Span(w, 2, 6), Span(w, 3, 7), w), "0110111");         // VR1, VR1, V0
  EXPECT_EQ(Code2D(Span(w, 2, 4), Span(w, 0, 0), w), "00011");           // P, V0
  EXPECT_EQ(Code2D(Span(w, 2, 9), Span(w, 1, 7), w), "0100000101");      // VL1, VL2, V0
  EXPECT_EQ(Code2D(Span(w, 5, 9), Span(w, 2, 12), w), "00000100000011" "1");  // VL3, VR3, V0
  EXPECT_EQ(Code2D(Span(w, 0, 16), Span(w, 0, 16), w), "11");            // black from pel 0: V0, V0
}

// EOL and tag before every line, a 1-D line after every K - 1 2-D lines, RTC of six EOL+1, fill
// only before an EOL; an all-white 16-pel line is W16 one-dimensionally and V0 against white.
TEST(TwoDimensionalCoding, MrLayoutKTagsRtcAndFill) {
  const int w = 16;
  Rows rows(6, Span(w, 0, 0));
  for (int k : {1, 2, 4}) {
    BitWriter want;
    for (int i = 0; i < 6; ++i) want.bits(i % k == 0 ? "0000000000011101010" : "00000000000101");
    for (int i = 0; i < 6; ++i) want.bits("0000000000011");
    EXPECT_EQ(CodeMr(rows, w, k), want.bytes()) << "K " << k;
  }
  // 40 bits per line at least: data + fill + EOL + tag.
  BitWriter want;
  want.bits("0000000000011101010");
  want.zeros(40 - 6 - 13);
  want.bits("0000000000010" "1");
  want.zeros(40 - 1 - 13);
  for (int i = 0; i < 6; ++i) want.bits("0000000000011");
  EXPECT_EQ(CodeMr(Rows(2, Span(w, 0, 0)), w, 2, 40), want.bytes());
  EXPECT_EQ(DecodeMr(want.bytes(), w).rows, Rows(2, Span(w, 0, 0)));
}

// Every width a fax line uses, and odd ones, through our own coders and back.
TEST(TwoDimensionalCoding, RoundTripsAtEveryWidth) {
  for (int width : {1728, 2048, 2432, 1000, 13, 4096}) {
    Rows rows = TestRows(width, 40, static_cast<unsigned>(width));
    for (auto& r : rows) {  // whole bytes; pels past the width are white
      r.resize(static_cast<size_t>((width + 7) / 8), 0x5A);
      if (width % 8) r.back() &= static_cast<uint8_t>(0xFF00u >> (width % 8));
    }
    MrResult mr = DecodeMr(CodeMr(rows, width, kMrKFine), width);
    EXPECT_EQ(mr.rows, rows) << width;
    EXPECT_TRUE(mr.ended);
    MmrCoder mmr(width);
    for (const auto& r : rows) mmr.addRow(r.data());
    Rows back;
    MmrDecoder md(width, [&back](std::span<const uint8_t> r) { back.emplace_back(r.begin(), r.end()); });
    EXPECT_TRUE(md.decodePage(mmr.finish()));
    EXPECT_EQ(back, rows) << width;
  }
}

// A damaged MR line is replaced by the last good row; the 2-D lines after it have lost their
// reference and are replaced too, until the next 1-D line decodes again.
TEST(MrDecoder, DamagedLinesAreReplacedAndCountedUntilTheNext1DLine) {
  const int w = 1728;
  Rows rows = TestRows(w, 12, 7);
  std::vector<bool> bits = Bits(CodeMr(rows, w, kMrKFine));
  std::vector<size_t> eols = EolEnds(bits);
  ASSERT_GE(eols.size(), 12u);
  // Line 5 (index 5) is 2-D; its first code becomes the extension code, which we never accept.
  size_t at = eols[5] + 1;
  const std::string ext = "0000001111";
  for (size_t i = 0; i < ext.size(); ++i) bits[at + i] = ext[i] == '1';
  MrResult got = DecodeMr(Bytes(bits), w);
  ASSERT_EQ(got.rows.size(), rows.size());
  for (size_t y = 0; y < rows.size(); ++y) {
    const bool lost = y >= 5 && y < 8;  // lines 5..7: the damaged one and the 2-D lines after it
    EXPECT_EQ(got.rows[y], lost ? rows[4] : rows[y]) << "row " << y;
  }
  EXPECT_EQ(got.bad, 3u);
  EXPECT_EQ(got.longestBad, 3u);
  EXPECT_EQ(got.good, 9u);
  EXPECT_TRUE(got.ended);
}

TEST(MrDecoder, NoiseFirstLinesThatDoNotEndAndMissingReferences) {
  const int w = 1728;
  Rows rows = TestRows(w, 6, 11);
  std::vector<uint8_t> coded = CodeMr(rows, w, kMrKStandard);
  // Noise before the first EOL is not the page.
  std::vector<uint8_t> noisy = {0xFF, 0x13, 0x7E};
  noisy.insert(noisy.end(), coded.begin(), coded.end());
  MrResult got = DecodeMr(noisy, w);
  EXPECT_EQ(got.rows, rows);
  EXPECT_EQ(got.bad, 0u);

  // A first line tagged 2-D has no line above it: replaced by white, and so is the 2-D line
  // after it (K = 2: lines 0 and 1 share a group); line 2 is 1-D again.
  std::vector<bool> bits = Bits(coded);
  std::vector<size_t> eols = EolEnds(bits);
  bits[eols[0]] = false;  // the first tag, 1, becomes 0
  got = DecodeMr(Bytes(bits), w);
  ASSERT_EQ(got.rows.size(), rows.size());
  EXPECT_EQ(got.rows[0], BlankRow(w));
  EXPECT_EQ(got.rows[1], BlankRow(w));
  EXPECT_EQ(got.rows[2], rows[2]);
  EXPECT_EQ(got.bad, 2u);

  // Bits between a whole line and the next EOL: the line is not trusted.
  bits = Bits(coded);
  eols = EolEnds(bits);
  std::vector<bool> junk = {true, false, true, true};
  bits.insert(bits.begin() + static_cast<long>(eols[3] - 12), junk.begin(), junk.end());
  got = DecodeMr(Bytes(bits), w);
  ASSERT_EQ(got.rows.size(), rows.size());
  EXPECT_EQ(got.rows[2], rows[1]);  // the line before EOL 3 is line 2 (1-D)
  EXPECT_EQ(got.rows[3], rows[1]);  // line 3, 2-D, lost its reference
  EXPECT_EQ(got.rows[4], rows[4]);
  EXPECT_EQ(got.bad, 2u);

  // Cut in the middle of a line: the rows before it, the cut one replaced.
  got = DecodeMr(std::vector<uint8_t>(coded.begin(), coded.begin() + static_cast<long>(coded.size() / 2)), w);
  EXPECT_FALSE(got.ended);
  EXPECT_EQ(got.bad, 1u);
  ASSERT_GE(got.rows.size(), 2u);
  EXPECT_EQ(got.rows.back(), got.rows[got.rows.size() - 2]);
}

TEST(MmrDecoder, DamageStopsThePageEofbAndPad) {
  const int w = 2048;
  Rows rows = TestRows(w, 30, 3);
  MmrCoder c(w);
  for (const auto& r : rows) c.addRow(r.data());
  std::vector<uint8_t> coded = c.finish();
  auto decode = [w](const std::vector<uint8_t>& data, MmrDecoder& d) {
    Rows out;
    d = MmrDecoder(w, [&out](std::span<const uint8_t> r) { out.emplace_back(r.begin(), r.end()); });
    d.decodePage(data);
    return out;
  };
  MmrDecoder d(w, nullptr);
  EXPECT_EQ(decode(coded, d), rows);
  EXPECT_TRUE(d.endOfBlock());
  EXPECT_FALSE(d.damaged());

  // Without EOFB but ending on a line with only pad bits after it: whole, no EOFB.
  std::vector<bool> bits = Bits(coded);
  std::vector<size_t> eols = EolEnds(bits);
  ASSERT_EQ(eols.size(), 2u);
  bits.resize(eols[0] - 12);
  EXPECT_EQ(decode(Bytes(bits), d), rows);
  EXPECT_FALSE(d.endOfBlock());
  EXPECT_FALSE(d.damaged());

  // A lone EOL is no part of T.6: damaged, the rows before it kept.
  bits = Bits(coded);
  bits.resize(eols[0]);
  for (int i = 0; i < 20; ++i) bits.push_back(true);
  EXPECT_EQ(decode(Bytes(bits), d), rows);
  EXPECT_TRUE(d.damaged());

  // Damage in the middle: decoding stops there, the rows before it are whole.
  std::vector<uint8_t> hit = coded;
  hit[hit.size() / 2] ^= 0x5A;
  Rows got = decode(hit, d);
  EXPECT_TRUE(d.damaged());
  EXPECT_LT(got.size(), rows.size());
  for (size_t y = 0; y + 1 < got.size(); ++y) EXPECT_EQ(got[y], rows[y]) << y;
}

// 1 bits are V0 against a white line: one row per bit. The page stops at the row limit.
TEST(MmrDecoder, RowsPerBitStopAtTheLimit) {
  std::vector<uint8_t> ones(MmrDecoder::kMaxRows / 8 + 100, 0xFF);
  uint32_t rows = 0;
  bool rightWidth = true;
  MmrDecoder d(1728, [&](std::span<const uint8_t> r) {
    ++rows;
    rightWidth = rightWidth && r.size() == 216;
  });
  d.decodePage(ones);
  EXPECT_EQ(rows, MmrDecoder::kMaxRows);
  EXPECT_TRUE(d.rowLimitReached());
  EXPECT_TRUE(rightWidth);
}

// The sender's path from a converter page (row records) and the receiver's back to MH.
TEST(T4Transcode, RowRecordPagesToEveryCodingAndBack) {
  const int w = 1728;
  Rows rows = TestRows(w, 50, 5);
  std::vector<uint8_t> image;
  auto add = [&image](const std::vector<uint8_t>& rec) {
    image.push_back(static_cast<uint8_t>(rec.size()));
    image.push_back(static_cast<uint8_t>(rec.size() >> 8));
    image.insert(image.end(), rec.begin(), rec.end());
  };
  for (const auto& r : rows) add(CodedRowRecord(r, w));
  add(kEndOfPageRecord);
  for (T4Coding coding : {T4Coding::kMh, T4Coding::kMr, T4Coding::kMmr}) {
    LinePage line = CodePageForLine(image, true, w, coding, kMrKFine, 0);
    EXPECT_EQ(line.rows, rows.size());
    FilePage back = MhPageFromLine(line.data, w, coding);
    EXPECT_EQ(back.rows, rows.size());
    EXPECT_TRUE(back.ended);
    EXPECT_EQ(back.badRows, 0u);
    Rows again;
    T4Decoder d([&again](std::span<const uint8_t> r) { again.emplace_back(r.begin(), r.end()); });
    d.feed(back.mh);
    EXPECT_EQ(again, rows) << static_cast<int>(coding);
  }
  // MR is smaller than MH on a page whose rows resemble each other.
  image.clear();
  for (int y = 0; y < 100; ++y) add(CodedRowRecord(Span(w, 100 + y % 3, 900 - y % 2), w));
  add(kEndOfPageRecord);
  EXPECT_LT(CodePageForLine(image, true, w, T4Coding::kMmr, 0, 0).data.size(),
            CodePageForLine(image, true, w, T4Coding::kMh, 0, 0).data.size() / 2);
}
