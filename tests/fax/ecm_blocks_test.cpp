// Error correction mode's building blocks: a page cut into numbered frames and blocks, the PPR
// map in both directions, the receiver's block assembly, and the sender's PPR count.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "fax/ecm_block_assembler.h"
#include "fax/ecm_page_frames.h"
#include "fax/ecm_ppr.h"

namespace qv::fax {
namespace {

std::vector<uint8_t> Page(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> p(size);
  for (auto& b : p) b = static_cast<uint8_t>(rng());
  return p;
}

TEST(EcmPageFrames, CutsIntoNumberedFramesAndBlocksPaddingTheLast) {
  struct Case {
    size_t bytes;
    int frameSize;
    int frames, blocks, lastBlockFrames;
  } cases[] = {
      {1, 256, 1, 1, 1},
      {256, 256, 1, 1, 1},
      {257, 256, 2, 1, 2},
      {256 * 256, 256, 256, 1, 256},       // exactly one full block
      {256 * 256 + 1, 256, 257, 2, 1},     // one octet into a second block
      {100000, 64, 1563, 7, 1563 - 6 * 256},
      {0, 64, 1, 1, 1},                    // a page of nothing still has a frame
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bytes) + " bytes in " + std::to_string(c.frameSize));
    std::vector<uint8_t> page = Page(c.bytes, 1);
    EcmPageFrames f(page, c.frameSize);
    EXPECT_EQ(f.totalFrames(), c.frames);
    ASSERT_EQ(f.blockCount(), c.blocks);
    EXPECT_EQ(f.framesInBlock(c.blocks - 1), c.lastBlockFrames);
    EXPECT_EQ(f.framesInBlock(c.blocks), 0);
    // The frames in order give the page back, then 0x00 padding to the last frame's end.
    std::vector<uint8_t> joined;
    for (int b = 0; b < f.blockCount(); ++b) {
      if (b + 1 < f.blockCount()) {
        EXPECT_EQ(f.framesInBlock(b), 256);
      }
      for (int n = 0; n < f.framesInBlock(b); ++n) {
        std::vector<uint8_t> fif = f.fcdFif(b, n);
        ASSERT_EQ(fif.size(), static_cast<size_t>(c.frameSize) + 1);
        EXPECT_EQ(fif[0], n);  // numbers restart in every block
        joined.insert(joined.end(), fif.begin() + 1, fif.end());
      }
    }
    ASSERT_EQ(joined.size(), static_cast<size_t>(c.frames) * static_cast<size_t>(c.frameSize));
    EXPECT_TRUE(std::equal(page.begin(), page.end(), joined.begin()));
    EXPECT_TRUE(std::all_of(joined.begin() + static_cast<long>(page.size()), joined.end(), [](uint8_t v) { return v == 0; }));
    EXPECT_TRUE(f.fcdFif(0, f.framesInBlock(0)).empty());
  }
}

// Octet k bit j is frame 8k + j, 1 = send again; bits past the block are set as well.
TEST(EcmPpr, MapBitOrderBothWays) {
  EcmFrameSet got;
  for (int f = 0; f < 20; ++f) got.set(static_cast<size_t>(f));
  got.reset(3);
  got.reset(10);
  PprMap map = BuildPprMap(got, 20);
  EXPECT_EQ(map[0], 0x08);
  EXPECT_EQ(map[1], 0x04);
  EXPECT_EQ(map[2], 0xF0);
  for (size_t k = 3; k < kPprMapOctets; ++k) EXPECT_EQ(map[k], 0xFF) << k;
  EXPECT_EQ(FramesToResend(map, 20), (std::vector<int>{3, 10}));

  // A full block with the last frame and frame 0 missing.
  EcmFrameSet most;
  most.set();
  most.reset(0);
  most.reset(255);
  map = BuildPprMap(most, 256);
  EXPECT_EQ(map[0], 0x01);
  EXPECT_EQ(map[31], 0x80);
  EXPECT_EQ(FramesToResend(map, 256), (std::vector<int>{0, 255}));

  // The sender reads a peer's map and ignores bits past its frame count.
  std::vector<uint8_t> fif(kPprMapOctets, 0xFF);
  fif[0] = 0x21;
  fif[1] = 0x00;
  ASSERT_TRUE(ReadPprMap(fif, map));
  EXPECT_EQ(FramesToResend(map, 12), (std::vector<int>{0, 5}));
  EXPECT_FALSE(ReadPprMap(std::vector<uint8_t>(31, 0), map));
}

TEST(EcmPpr, FourthPprOfABlockAsksForCtcOrEor) {
  EcmPprCounter c;
  EXPECT_FALSE(c.onPpr(40));
  EXPECT_FALSE(c.onPpr(12));
  EXPECT_FALSE(c.onPpr(5));
  EXPECT_TRUE(c.onPpr(2));
  EXPECT_TRUE(c.madeProgress());  // CTC: the resends were getting through
  c.continueAfterCtc();
  EXPECT_EQ(c.count(), 0);
  EXPECT_FALSE(c.onPpr(2));
  EXPECT_FALSE(c.onPpr(2));
  EXPECT_FALSE(c.onPpr(2));
  EXPECT_TRUE(c.onPpr(2));
  EXPECT_FALSE(c.madeProgress());  // EOR
  c.newBlock();
  EXPECT_FALSE(c.onPpr(1));
}

// Sends the frames of block b of the sender's page to the receiver, except those `drop` names.
void Send(EcmBlockAssembler& rx, const EcmPageFrames& tx, int b, const std::vector<int>& frames,
          const std::vector<int>& drop = {}) {
  for (int n : frames)
    if (std::find(drop.begin(), drop.end(), n) == drop.end()) rx.addFrame(tx.fcdFif(b, n));
}

std::vector<int> All(int n) {
  std::vector<int> v(static_cast<size_t>(n));
  std::iota(v.begin(), v.end(), 0);
  return v;
}

// Two pages, the first of three blocks; frames out of order, repeated and lost, resent after
// PPR, a repeated PPS after a lost MCF: the pages come out whole and only when complete.
TEST(EcmBlockAssembler, PagesCompleteOnlyWhenEveryFrameOfEveryBlockArrived) {
  std::vector<uint8_t> page1 = Page(256 * 256 * 2 + 5000, 7), page2 = Page(3000, 8);
  EcmPageFrames tx1(page1, 256), tx2(page2, 256);
  ASSERT_EQ(tx1.blockCount(), 3);
  EcmBlockAssembler rx(256);
  EcmPprCounter counter;

  // Block 0: reversed order, every tenth frame twice, frames 7 and 200 lost.
  std::vector<int> order = All(256);
  std::reverse(order.begin(), order.end());
  for (int n = 0; n < 256; n += 10) order.push_back(n);
  Send(rx, tx1, 0, order, {7, 200});
  ASSERT_EQ(rx.onPps(0, 0, 256, false), EcmBlockAssembler::Answer::kResend);
  std::vector<int> again = FramesToResend(rx.pprMap(), tx1.framesInBlock(0));
  EXPECT_EQ(again, (std::vector<int>{7, 200}));
  EXPECT_FALSE(counter.onPpr(static_cast<int>(again.size())));
  // The resend burst's PPS counts only the two frames; the block keeps its 256.
  Send(rx, tx1, 0, again, {200});
  ASSERT_EQ(rx.onPps(0, 0, 2, false), EcmBlockAssembler::Answer::kResend);
  EXPECT_EQ(FramesToResend(rx.pprMap(), 256), (std::vector<int>{200}));
  Send(rx, tx1, 0, {200});
  ASSERT_EQ(rx.onPps(0, 0, 1, false), EcmBlockAssembler::Answer::kComplete);
  EXPECT_FALSE(rx.pageComplete());
  EXPECT_TRUE(rx.takePage().empty());
  // Our MCF was lost: the same PPS again is answered without adding the block twice.
  EXPECT_EQ(rx.onPps(0, 0, 1, false), EcmBlockAssembler::Answer::kRepeat);

  // Block 1 whole; block 2 (the page's last, PPS-EOP) with a short frame in the middle, which
  // cannot be placed and is asked for again.
  Send(rx, tx1, 1, All(256));
  ASSERT_EQ(rx.onPps(0, 1, 256, false), EcmBlockAssembler::Answer::kComplete);
  const int last = tx1.framesInBlock(2);
  Send(rx, tx1, 2, All(last));
  std::vector<uint8_t> shortFrame = tx1.fcdFif(2, 3);
  shortFrame.resize(100);
  rx.addFrame(shortFrame);
  ASSERT_EQ(rx.onPps(0, 2, last, true), EcmBlockAssembler::Answer::kResend);
  EXPECT_EQ(FramesToResend(rx.pprMap(), last), (std::vector<int>{3}));
  EXPECT_FALSE(rx.pageComplete());
  Send(rx, tx1, 2, {3});
  ASSERT_EQ(rx.onPps(0, 2, 1, true), EcmBlockAssembler::Answer::kComplete);
  ASSERT_TRUE(rx.pageComplete());
  EXPECT_FALSE(rx.pageDamaged());
  std::vector<uint8_t> got = rx.takePage();
  ASSERT_EQ(got.size(), static_cast<size_t>(tx1.totalFrames()) * 256);  // the last frame padded
  EXPECT_TRUE(std::equal(page1.begin(), page1.end(), got.begin()));
  EXPECT_FALSE(rx.pageComplete());

  // Page 2: one block whose last frame arrives short (unpadded); accepted as it is.
  Send(rx, tx2, 0, All(tx2.framesInBlock(0) - 1));
  std::vector<uint8_t> tail = tx2.fcdFif(0, tx2.framesInBlock(0) - 1);
  tail.resize(1 + page2.size() % 256);
  rx.addFrame(tail);
  ASSERT_EQ(rx.onPps(1, 0, tx2.framesInBlock(0), true), EcmBlockAssembler::Answer::kComplete);
  EXPECT_EQ(rx.takePage(), page2);
}

TEST(EcmBlockAssembler, HostileFramesAndGivingUpABlock) {
  std::vector<uint8_t> page = Page(64 * 10, 3);
  EcmPageFrames tx(page, 64);
  EcmBlockAssembler rx(64);
  // Too long, empty, or a bare frame number: dropped.
  rx.addFrame(std::vector<uint8_t>(66, 0xAA));
  rx.addFrame({});
  rx.addFrame(std::vector<uint8_t>{5});
  EXPECT_TRUE(rx.received().none());
  // EOR after frames 0..9 except 4: the page is kept with the gap as 0x00 fill, marked damaged.
  Send(rx, tx, 0, All(10), {4});
  ASSERT_EQ(rx.onPps(0, 0, 10, true), EcmBlockAssembler::Answer::kResend);
  rx.giveUpBlock(true);
  ASSERT_TRUE(rx.pageComplete());
  EXPECT_TRUE(rx.pageDamaged());
  std::vector<uint8_t> got = rx.takePage();
  ASSERT_EQ(got.size(), page.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], i / 64 == 4 ? 0 : page[i]) << i;
  EXPECT_FALSE(rx.pageDamaged());
}

}  // namespace
}  // namespace qv::fax
