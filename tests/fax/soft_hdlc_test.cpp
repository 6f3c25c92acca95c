// HDLC framed by the DTE for error correction frames: the check sequence, bursts that a deframer
// reads back at any bit offset, and damage that must cost a frame, never pass as good.
#include <gtest/gtest.h>

#include <random>

#include "fax/soft_hdlc.h"
#include "fax/t30_frames.h"

namespace qv::fax {
namespace {

std::vector<uint8_t> WithFcs(std::vector<uint8_t> f) {
  const uint16_t fcs = HdlcFcs(f);
  f.push_back(static_cast<uint8_t>(fcs & 0xFF));
  f.push_back(static_cast<uint8_t>(fcs >> 8));
  return f;
}

// Shifts a byte stream by `offset` bits (LSB-first order), the leading bits idle 1s.
std::vector<uint8_t> Shifted(const std::vector<uint8_t>& in, int offset) {
  std::vector<uint8_t> out;
  uint32_t acc = (1u << offset) - 1;
  int n = offset;
  for (uint8_t b : in) {
    acc |= static_cast<uint32_t>(b) << n;
    out.push_back(static_cast<uint8_t>(acc & 0xFF));
    acc >>= 8;
  }
  if (n) out.push_back(static_cast<uint8_t>(acc | (0xFFu << n)));
  return out;
}

std::vector<std::vector<uint8_t>> SomeFrames(unsigned seed, int count, size_t size) {
  std::mt19937 rng(seed);
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> data(size);
    // Flags, ones and DLEs inside the data are what stuffing has to get right.
    for (auto& b : data) {
      const unsigned r = rng() % 4;
      b = r == 0 ? 0x7E : r == 1 ? 0xFF : r == 2 ? 0x10 : static_cast<uint8_t>(rng());
    }
    frames.push_back(BuildFcdFrame(static_cast<uint8_t>(i), data.data(), data.size()));
  }
  frames.push_back(BuildRcpFrame());
  return frames;
}

TEST(SoftHdlc, CheckSequenceOfKnownFrames) {
  // RCP and a PPS-EOP as an established fax terminal sends them.
  EXPECT_EQ(WithFcs({0xFF, 0x03, 0x86}), (std::vector<uint8_t>{0xFF, 0x03, 0x86, 0x69, 0xCB}));
  EXPECT_EQ(WithFcs({0xFF, 0x13, 0xBF, 0x2F, 0x00, 0x00, 0x02}),
            (std::vector<uint8_t>{0xFF, 0x13, 0xBF, 0x2F, 0x00, 0x00, 0x02, 0xD8, 0x66}));
}

TEST(SoftHdlc, BurstReadsBackAtEveryBitOffsetAndInPieces) {
  for (size_t size : {256u, 64u}) {
    const auto frames = SomeFrames(static_cast<unsigned>(size), 12, size);
    const auto burst = HdlcBurst(frames, 20);
    for (int offset = 0; offset < 8; ++offset) {
      SCOPED_TRACE("offset " + std::to_string(offset) + ", size " + std::to_string(size));
      const auto line = Shifted(burst, offset);
      HdlcDeframer d;
      // Fed in uneven pieces, as reads from the modem come.
      for (size_t i = 0; i < line.size(); i += 37)
        d.Put(std::span<const uint8_t>(line).subspan(i, std::min<size_t>(37, line.size() - i)));
      EXPECT_EQ(d.Take(), frames);
      EXPECT_EQ(d.badFrames(), 0);
    }
  }
}

TEST(SoftHdlc, DamagedFramesAreDroppedAndTheRestSurvive) {
  const auto frames = SomeFrames(7, 10, 256);
  auto burst = HdlcBurst(frames, 10);
  // One flipped bit inside each of frames 2 and 6 (roughly: frame k starts near 10 + k * 262).
  for (int k : {2, 6}) burst[10 + k * 264 + 100] ^= 0x08;
  HdlcDeframer d;
  d.Put(burst);
  auto got = d.Take();
  EXPECT_EQ(got.size(), frames.size() - 2);
  EXPECT_GE(d.badFrames(), 2);  // a flip that makes a flag splits a frame in two bad pieces
  for (const auto& f : got) EXPECT_NE(std::find(frames.begin(), frames.end(), f), frames.end());

  // Zeros where the modem ran out of data, and a long run of ones (abort) inside a frame.
  auto zeros = HdlcBurst(frames, 4);
  std::fill(zeros.begin() + 600, zeros.begin() + 640, 0x00);
  std::fill(zeros.begin() + 1400, zeros.begin() + 1410, 0xFF);
  HdlcDeframer z;
  z.Put(zeros);
  got = z.Take();
  EXPECT_EQ(got.size(), frames.size() - 2);
  for (const auto& f : got) EXPECT_NE(std::find(frames.begin(), frames.end(), f), frames.end());

  // Noise of any kind yields no frame that was not sent (the check sequence guards them).
  std::mt19937 rng(3);
  std::vector<uint8_t> noise(100000);
  for (auto& b : noise) b = static_cast<uint8_t>(rng());
  HdlcDeframer n;
  n.Put(noise);
  for (const auto& f : n.Take()) EXPECT_GE(f.size(), 3u);
}

TEST(EcmFrames, DisAndDcsCarryErrorCorrectionAndCoding) {
  // An established terminal's DIS: ECM, T.6 and MR offered, 64-octet frames not asked for.
  const uint8_t dis[] = {0x00, 0xEE, 0xF8, 0xC4, 0x80, 0x91, 0x80, 0x80, 0x80, 0x18};
  RemoteCaps caps = DecodeDis(dis, sizeof dis);
  EXPECT_TRUE(caps.ecm && caps.mmr && caps.mr);
  EXPECT_FALSE(caps.smallFramesPreferred);
  // T.6 without ECM, or bits of a fourth octet the third does not announce, count for nothing.
  const uint8_t noEcm[] = {0x00, 0x6E, 0xF8, 0x40};
  caps = DecodeDis(noEcm, sizeof noEcm);
  EXPECT_FALSE(caps.ecm || caps.mmr);
  const uint8_t noExtend[] = {0x00, 0x6E, 0x78, 0x44};
  EXPECT_FALSE(DecodeDis(noExtend, sizeof noExtend).ecm);

  // Its DCS for ECM + T.6 at 14400 fine, and ours for the same.
  const uint8_t dcs[] = {0x00, 0x62, 0xF8, 0x44};
  SessionParams p = DecodeDcs(dcs, sizeof dcs);
  EXPECT_TRUE(p.ecm);
  EXPECT_EQ(p.ecmFrameSize, 256);
  EXPECT_EQ(p.coding, LineCoding::MMR);
  EXPECT_EQ(p.speedIndex, 6);
  auto ours = BuildDcsFrame(6, true, false, 5, DcsOptions{true, 256, LineCoding::MMR});
  EXPECT_EQ(ours[4], 0x62);
  EXPECT_EQ(ours[5] & 0x70, 0x70);  // no scan time with ECM
  EXPECT_EQ(ours[6], 0x44);
  for (int size : {256, 64})
    for (LineCoding c : {LineCoding::MH, LineCoding::MR, LineCoding::MMR}) {
      auto f = BuildDcsFrame(4, false, false, 5, DcsOptions{true, size, c});
      p = DecodeDcs(f.data() + 3, f.size() - 3);
      EXPECT_TRUE(p.ecm);
      EXPECT_EQ(p.ecmFrameSize, size);
      EXPECT_EQ(p.coding, c);
    }
  // MMR is never commanded without ECM; MR is.
  auto plain = BuildDcsFrame(4, false, false, 5, DcsOptions{false, 256, LineCoding::MMR});
  EXPECT_EQ(DecodeDcs(plain.data() + 3, plain.size() - 3).coding, LineCoding::MH);
  EXPECT_FALSE(DecodeDcs(plain.data() + 3, plain.size() - 3).ecm);

  // Our DIS offers what we take, and reads back so.
  auto ourDis = BuildDisFrame(6, true, LineCoding::MMR);
  caps = DecodeDis(ourDis.data() + 3, ourDis.size() - 3);
  EXPECT_TRUE(caps.ecm && caps.mmr && caps.mr && caps.speed[6]);
  ourDis = BuildDisFrame(6, false, LineCoding::MMR);
  caps = DecodeDis(ourDis.data() + 3, ourDis.size() - 3);
  EXPECT_TRUE(caps.mr);
  EXPECT_FALSE(caps.ecm || caps.mmr);
}

TEST(EcmFrames, CodingChoiceTakesTheBestBothAllow) {
  RemoteCaps all;
  all.ecm = all.mmr = all.mr = true;
  EXPECT_EQ(ChooseCoding(all, true, LineCoding::MMR), LineCoding::MMR);
  EXPECT_EQ(ChooseCoding(all, false, LineCoding::MMR), LineCoding::MR);  // no MMR without ECM
  EXPECT_EQ(ChooseCoding(all, true, LineCoding::MR), LineCoding::MR);
  EXPECT_EQ(ChooseCoding(all, true, LineCoding::MH), LineCoding::MH);
  RemoteCaps mhOnly;
  mhOnly.ecm = true;
  EXPECT_EQ(ChooseCoding(mhOnly, true, LineCoding::MMR), LineCoding::MH);
}

TEST(EcmFrames, ControlFramesAndTheirKinds) {
  auto pps = BuildPpsFrame(kFcfEop, 0, 0, 199);
  EXPECT_EQ(pps, (std::vector<uint8_t>{0xFF, 0x13, 0xBF, 0x2F, 0x00, 0x00, 0xC6}));
  EXPECT_EQ(BuildPpsFrame(kPpsNull, 3, 1, 256)[6], 0xFF);
  EXPECT_EQ(ClassifyFcf(pps[2]), FrameKind::Pps);
  EXPECT_EQ(ClassifyFcf(0xBC), FrameKind::Ppr);
  EXPECT_EQ(ClassifyFcf(0xBD), FrameKind::Ppr);
  EXPECT_EQ(ClassifyFcf(kFcfRr), FrameKind::Rr);
  EXPECT_EQ(ClassifyFcf(kFcfRnr), FrameKind::Rnr);
  EXPECT_EQ(ClassifyFcf(kFcfCtc), FrameKind::Ctc);
  EXPECT_EQ(ClassifyFcf(kFcfCtr), FrameKind::Ctr);
  EXPECT_EQ(ClassifyFcf(kFcfEor), FrameKind::Eor);
  EXPECT_EQ(ClassifyFcf(kFcfErr), FrameKind::Err);
  EXPECT_EQ(ClassifyFcf(kFcfCfr), FrameKind::Cfr);  // CTR is C4, CFR 84: not confused
  for (int speed = 1; speed <= 6; ++speed) {
    auto ctc = BuildCtcFrame(speed);
    EXPECT_EQ(DecodeCtcSpeed(ctc.data() + 3, ctc.size() - 3), speed);
  }
}

}  // namespace
}  // namespace qv::fax
