// Error correction over the line octets of a Class 1 modem: a page goes out as bursts built by
// the sender, comes in through the receiver's burst reader, loses frames to line noise, and the
// PPR round trips bring back exactly what was lost until the page is whole.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "fax/ecm_line.h"
#include "fax/t30_frames.h"

namespace qv::fax {
namespace {

std::vector<uint8_t> CodedPage(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> p(size);
  // DLE, flags and runs of ones are the octets the line layers have to carry through.
  for (auto& b : p) {
    const unsigned r = rng() % 5;
    b = r == 0 ? kDle : r == 1 ? 0x7E : r == 2 ? 0xFF : static_cast<uint8_t>(rng());
  }
  return p;
}

// Line noise: flips a bit in `hits` places of the stuffed burst, never making or breaking a DLE
// code (the modem's DLE codes do not travel on the line, only the data between them does).
void Noise(std::vector<uint8_t>& burst, int hits, std::mt19937& rng) {
  for (int done = 0; done < hits;) {
    const size_t at = 1 + rng() % (burst.size() - 3);
    const uint8_t hit = burst[at] ^ static_cast<uint8_t>(1u << (rng() % 8));
    if (burst[at] == kDle || hit == kDle || burst[at - 1] == kDle) continue;
    burst[at] = hit;
    ++done;
  }
}

struct CallResult {
  std::vector<uint8_t> page;
  int bursts = 0;
  int resentFrames = 0;
};

// One page through sender and receiver, with `hits` bit errors on each burst until `cleanAfter`
// bursts of a block have gone (then the line is clean, so the block always completes).
CallResult RunPage(const std::vector<uint8_t>& coded, int frameSize, int hits, int cleanAfter, unsigned seed) {
  std::mt19937 rng(seed);
  EcmPageFrames page(coded, frameSize);
  EcmBlockAssembler assembler(frameSize);
  EcmBurstReader reader(assembler);
  CallResult r;
  for (int block = 0; block < page.blockCount(); ++block) {
    std::vector<int> frames = AllFramesOf(page, block);
    const bool last = block + 1 == page.blockCount();
    for (int round = 0;; ++round) {
      auto burst = EcmBlockBurst(page, block, frames, 14400);
      if (round < cleanAfter) Noise(burst, hits, rng);
      // The modem's result follows the carrier in the same read.
      const std::string tail = "\r\nNO CARRIER\r\n";
      burst.insert(burst.end(), tail.begin(), tail.end());
      reader.Start();
      size_t used = 0;
      for (size_t i = 0; i < burst.size() && !reader.ended(); i += 333)
        used += reader.Put(std::span<const uint8_t>(burst).subspan(i, std::min<size_t>(333, burst.size() - i)));
      EXPECT_TRUE(reader.ended());
      EXPECT_EQ(std::string(burst.begin() + static_cast<long>(used), burst.end()), tail);
      ++r.bursts;
      if (round > 0) r.resentFrames += static_cast<int>(frames.size());
      auto answer = assembler.onPps(0, static_cast<uint8_t>(block), static_cast<int>(frames.size()), last);
      if (answer == EcmBlockAssembler::Answer::kComplete) break;
      EXPECT_EQ(answer, EcmBlockAssembler::Answer::kResend);
      // What the sender reads from the PPR, and only that goes again.
      frames = FramesToResend(assembler.pprMap(), page.framesInBlock(block));
      EXPECT_FALSE(frames.empty());
      if (round > 20) {
        ADD_FAILURE() << "block " << block << " never completed";
        return r;
      }
    }
  }
  r.page = assembler.takePage();
  return r;
}

TEST(EcmLine, CleanPagesArriveWholeInOneBurstPerBlock) {
  for (int size : {256, 64}) {
    SCOPED_TRACE(size);
    // Two blocks with 256-octet frames, seven with 64-octet ones.
    const auto coded = CodedPage(100000, 5);
    CallResult r = RunPage(coded, size, 0, 0, 1);
    EcmPageFrames page(coded, size);
    EXPECT_EQ(r.bursts, page.blockCount());
    EXPECT_EQ(r.resentFrames, 0);
    ASSERT_GE(r.page.size(), coded.size());
    EXPECT_TRUE(std::equal(coded.begin(), coded.end(), r.page.begin()));
    // Past the page, only the last frame's padding.
    EXPECT_LT(r.page.size() - coded.size(), static_cast<size_t>(size));
    EXPECT_TRUE(std::all_of(r.page.begin() + static_cast<long>(coded.size()), r.page.end(), [](uint8_t b) { return b == 0; }));
  }
}

TEST(EcmLine, NoisyBurstsCostResendsOfTheDamagedFramesOnly) {
  for (int size : {256, 64}) {
    SCOPED_TRACE(size);
    const auto coded = CodedPage(70000, 8);
    // Ten hits on each of the first three bursts of a block: at most ten frames lost each time.
    CallResult r = RunPage(coded, size, 10, 3, 42);
    EcmPageFrames page(coded, size);
    EXPECT_GT(r.bursts, page.blockCount());
    EXPECT_GT(r.resentFrames, 0);
    EXPECT_LE(r.resentFrames, 3 * 10 * page.blockCount() + 3 * 10);
    ASSERT_GE(r.page.size(), coded.size());
    EXPECT_TRUE(std::equal(coded.begin(), coded.end(), r.page.begin()));
  }
}

TEST(EcmLine, BurstLeadsWithFlagsAndEndsWithRcpAndDleEtx) {
  const auto coded = CodedPage(1000, 2);
  EcmPageFrames page(coded, 256);
  const std::vector<int> frames{1, 3};
  auto burst = EcmBlockBurst(page, 0, frames, 9600);
  ASSERT_GE(burst.size(), 240u);
  // 200 ms of flags at 9600: 240 octets of 7E.
  EXPECT_TRUE(std::all_of(burst.begin(), burst.begin() + 240, [](uint8_t b) { return b == 0x7E; }));
  EXPECT_EQ(burst[burst.size() - 2], kDle);
  EXPECT_EQ(burst.back(), kEtx);
  EcmBlockAssembler a(256);
  EcmBurstReader reader(a);
  reader.Start();
  reader.Put(burst);
  EXPECT_TRUE(reader.ended());
  EXPECT_EQ(reader.framesStored(), 2);
  EXPECT_EQ(reader.rcpSeen(), 3);
  EXPECT_TRUE(a.received().test(1) && a.received().test(3));
  EXPECT_EQ(a.received().count(), 2u);
}

}  // namespace
}  // namespace qv::fax
