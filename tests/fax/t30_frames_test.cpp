#include "fax/t30_frames.h"

#include <gtest/gtest.h>

namespace qv::fax {
namespace {

TEST(T30Frames, IdFrameReversesAndPadsAndDecodesBack) {
  auto f = BuildIdFrame(kFcfTsi, "+1 555 1234", false);
  ASSERT_EQ(f.size(), 23u);
  EXPECT_EQ(f[0], 0xFF);
  EXPECT_EQ(f[1], 0x03);
  EXPECT_EQ(f[2], 0x43);
  // 9 spaces, then the characters from last to first
  for (int i = 3; i < 12; ++i) EXPECT_EQ(f[i], ' ');
  EXPECT_EQ(f[12], '4');
  EXPECT_EQ(f[22], '+');
  EXPECT_EQ(DecodeIdFrame(f.data(), f.size()), "+1 555 1234");
  // The other common layout (reversed characters first, padding last) decodes the same way,
  // and trailing FCS bytes after the 20 ID bytes are ignored.
  std::vector<uint8_t> other = {0xFF, 0x03, 0x43, '4', '3', '2', '1', ' ', '5', '5', '5', ' ', '1', '+'};
  other.insert(other.end(), 9, ' ');
  other.push_back(0x12);
  other.push_back(0x34);
  EXPECT_EQ(DecodeIdFrame(other.data(), other.size()), "+1 555 1234");
  // IDs longer than 20 are cut.
  EXPECT_EQ(BuildIdFrame(kFcfCsi, "ABCDEFGHIJKLMNOPQRSTUVWXYZ", true).size(), 23u);
}

TEST(T30Frames, ClassifyIgnoresXBitExceptForIdentificationFrames) {
  EXPECT_EQ(ClassifyFcf(0x80), FrameKind::Dis);
  EXPECT_EQ(ClassifyFcf(0x81), FrameKind::Dtc);
  EXPECT_EQ(ClassifyFcf(0x40), FrameKind::Csi);
  EXPECT_EQ(ClassifyFcf(0x41), FrameKind::Cig);
  EXPECT_EQ(ClassifyFcf(0x42), FrameKind::Tsi);
  EXPECT_EQ(ClassifyFcf(0x43), FrameKind::Tsi);
  EXPECT_EQ(ClassifyFcf(0x82), FrameKind::Dcs);
  EXPECT_EQ(ClassifyFcf(0x85), FrameKind::Cfr);
  EXPECT_EQ(ClassifyFcf(0x45), FrameKind::Ftt);
  EXPECT_EQ(ClassifyFcf(0x8C), FrameKind::Mcf);
  EXPECT_EQ(ClassifyFcf(0x4D), FrameKind::Rtn);
  EXPECT_EQ(ClassifyFcf(0xCC), FrameKind::Rtp);
  EXPECT_EQ(ClassifyFcf(0x4F), FrameKind::Mps);
  EXPECT_EQ(ClassifyFcf(0x8F), FrameKind::Eom);
  EXPECT_EQ(ClassifyFcf(0x2E), FrameKind::Eop);
  EXPECT_EQ(ClassifyFcf(0xFA), FrameKind::Dcn);
  EXPECT_EQ(ClassifyFcf(0x20), FrameKind::Other);
}

TEST(T30Frames, DisOfferAndDecode) {
  // Our DIS at 14400: V.27 + V.29 + V.17, fine, 20 ms class of scan time (0xF9 -> 0x70 = 0 ms).
  auto dis = BuildDisFrame(6);
  ASSERT_EQ(dis.size(), 7u);
  EXPECT_EQ(dis[2], 0x80);
  EXPECT_EQ(dis[4], 0x42 | 0x2C);
  EXPECT_EQ(dis[5], 0xF9);
  RemoteCaps caps = DecodeDis(dis.data() + 3, dis.size() - 3);
  EXPECT_TRUE(caps.speed[6]);
  EXPECT_TRUE(caps.speed[5]);  // V.17 runs at 12000 as well
  EXPECT_TRUE(caps.speed[4]);
  EXPECT_TRUE(caps.speed[3]);
  EXPECT_TRUE(caps.fine);
  EXPECT_TRUE(caps.wide);  // 0xF9 & 3 == 1
  EXPECT_EQ(caps.scanCode, 0);

  // A peer's V.17 offer (V.27 + V.29 + V.17, as T.30 codes it) lets a sender pick 12000.
  uint8_t v17[3] = {0x00, 0x2C, 0x00};
  caps = DecodeDis(v17, 3);
  EXPECT_TRUE(caps.speed[3] && caps.speed[4] && caps.speed[5] && caps.speed[6]);

  // DIS "V.29 only" (bits 0x0C == 0x04): 9600 without 7200; no fine; 20 ms (code 5).
  uint8_t v29[3] = {0x00, 0x06, 0x00};
  caps = DecodeDis(v29, 3);
  EXPECT_TRUE(caps.speed[1] && caps.speed[2] && caps.speed[4]);
  EXPECT_FALSE(caps.speed[3] || caps.speed[5] || caps.speed[6]);
  EXPECT_FALSE(caps.fine);
  EXPECT_EQ(caps.scanCode, 5);

  // Scan-time bits of a DIS map onto the codes 0..7.
  const int expected[8] = {5, 1, 3, 4, 7, 6, 2, 0};
  for (int b = 0; b < 8; ++b) {
    uint8_t fif[3] = {0, 0x02, static_cast<uint8_t>(b << 4)};
    EXPECT_EQ(DecodeDis(fif, 3).scanCode, expected[b]) << b;
  }
  // A truncated DIS decodes to the fall-back capabilities instead of reading past the frame.
  caps = DecodeDis(v29, 1);
  EXPECT_TRUE(caps.speed[1] && caps.speed[2]);
  EXPECT_FALSE(caps.speed[4]);
}

TEST(T30Frames, DcsRoundTripsEverySpeedResolutionAndWidth) {
  for (int speed = 1; speed <= 6; ++speed)
    for (int fine = 0; fine < 2; ++fine)
      for (int wide = 0; wide < 2; ++wide) {
        auto dcs = BuildDcsFrame(speed, fine, wide, 5);
        ASSERT_EQ(dcs.size(), 7u);
        EXPECT_EQ(dcs[1], 0x13);
        EXPECT_EQ(dcs[2], 0x83);
        SessionParams p = DecodeDcs(dcs.data() + 3, dcs.size() - 3);
        EXPECT_EQ(p.speedIndex, speed);
        EXPECT_EQ(p.fine, fine == 1);
        EXPECT_EQ(p.wide, wide == 1);
      }
  // T.30 worked example: 9600 V.29, fine, 20 ms -> 00 46 .. with no scan bits.
  auto dcs = BuildDcsFrame(4, true, false, 5);
  EXPECT_EQ(dcs[4], 0x46);
  EXPECT_EQ(dcs[5] & 0x70, 0x00);
  EXPECT_EQ(dcs[5] & 0x88, 0x88);
  // The remote's scan time at the page's resolution: code 4 is 20 ms normal, 10 ms fine.
  EXPECT_EQ(BuildDcsFrame(4, false, false, 4)[5] & 0x70, 0x00);
  EXPECT_EQ(BuildDcsFrame(4, true, false, 4)[5] & 0x70, 0x20);
  EXPECT_EQ(BuildDcsFrame(4, true, false, 0)[5] & 0x70, 0x70);
}

TEST(T30Frames, StuffingDoublesDleAndEndsWithDleEtx) {
  auto out = StuffFrame({0xFF, 0x13, 0x10, 0x10, 0x03});
  std::vector<uint8_t> want = {0xFF, 0x13, 0x10, 0x10, 0x10, 0x10, 0x03, 0x10, 0x03};
  EXPECT_EQ(out, want);
}

TEST(T30Frames, SpeedsAndMinimumRowBytes) {
  EXPECT_EQ(SpeedBps(1), 2400);
  EXPECT_STREQ(TrainingCode(5), "121");
  EXPECT_STREQ(PageDataCode(5), "122");
  EXPECT_STREQ(PageDataCode(6), "146");
  EXPECT_EQ(SpeedIndexForBps(7200), 3);
  EXPECT_EQ(SpeedIndexForBps(1200), 0);
  EXPECT_EQ(MinBytesPerRow(7, false, 14400), 72);  // 40 ms
  EXPECT_EQ(MinBytesPerRow(6, true, 14400), 36);   // 20 ms fine
  EXPECT_EQ(MinBytesPerRow(0, true, 14400), 0);
  EXPECT_EQ(MinBytesPerRow(2, false, 9600), 12);
}

}  // namespace
}  // namespace qv::fax
