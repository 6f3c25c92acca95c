// The line's media layer: RTP packets from the network and the fixed jitter buffer the modem's
// audio comes through. Both see whatever a far end or a stranger sends.
#include <gtest/gtest.h>

#include <vector>

#include "line/jitter_buffer.h"
#include "line/rtp.h"

namespace qv::line {
namespace {

std::vector<uint8_t> Packet(uint16_t seq, uint8_t first = 0x80, size_t payload = kSamplesPerPacket) {
  std::vector<uint8_t> p(kRtpHeaderSize + payload, 0x55);
  p[0] = first;
  p[1] = kPayloadPcma;
  p[2] = static_cast<uint8_t>(seq >> 8);
  p[3] = static_cast<uint8_t>(seq);
  return p;
}

TEST(Rtp, WhatWeSendParsesBackWithRunningNumbers) {
  RtpSender sender(kPayloadPcmu);
  uint8_t audio[kSamplesPerPacket] = {1, 2, 3};
  uint8_t out[2][kRtpHeaderSize + kSamplesPerPacket];
  RtpPacket a, b;
  ASSERT_EQ(sender.Build(audio, sizeof audio, out[0]), sizeof out[0]);
  sender.Build(audio, sizeof audio, out[1]);
  ASSERT_EQ(ParseRtp(out[0], sizeof out[0], a), "");
  ASSERT_EQ(ParseRtp(out[1], sizeof out[1], b), "");
  EXPECT_EQ(a.payloadType, kPayloadPcmu);
  EXPECT_TRUE(a.marker);  // the first packet of the stream only
  EXPECT_FALSE(b.marker);
  EXPECT_EQ(static_cast<uint16_t>(b.seq - a.seq), 1);
  EXPECT_EQ(b.timestamp - a.timestamp, static_cast<uint32_t>(kSamplesPerPacket));
  EXPECT_EQ(a.ssrc, b.ssrc);
  ASSERT_EQ(a.payloadSize, sizeof audio);
  EXPECT_EQ(a.payload[2], 3);
}

TEST(Rtp, HeadersReachingPastTheDatagramAreRefused) {
  RtpPacket p;
  EXPECT_NE(ParseRtp(Packet(1).data(), 11, p), "");                 // shorter than a header
  auto v1 = Packet(1, 0x40);
  EXPECT_NE(ParseRtp(v1.data(), v1.size(), p), "");                  // version 1
  auto csrc = Packet(1, 0x8F, 40);                                   // 15 CSRCs = 60 octets > 40
  EXPECT_NE(ParseRtp(csrc.data(), csrc.size(), p), "");
  auto ext = Packet(1, 0x90, 8);                                     // extension of 0xFFFF words
  ext[14] = 0xFF, ext[15] = 0xFF;
  EXPECT_NE(ParseRtp(ext.data(), ext.size(), p), "");
  auto pad = Packet(1, 0xA0, 10);                                    // padding longer than the payload
  pad.back() = 200;
  EXPECT_NE(ParseRtp(pad.data(), pad.size(), p), "");
  pad.back() = 0;                                                    // padding of zero octets is no padding
  EXPECT_NE(ParseRtp(pad.data(), pad.size(), p), "");
}

TEST(Rtp, CsrcExtensionAndPaddingAreSkipped) {
  auto pkt = Packet(7, 0xB1, 4 + 8 + 160 + 4);  // one CSRC, a one-word extension, 4 octets of padding
  pkt[16 + 2] = 0, pkt[16 + 3] = 1;
  pkt.back() = 4;
  RtpPacket p;
  ASSERT_EQ(ParseRtp(pkt.data(), pkt.size(), p), "");
  EXPECT_EQ(p.payload - pkt.data(), 12 + 4 + 8);
  EXPECT_EQ(p.payloadSize, 160u);
  EXPECT_EQ(p.seq, 7);
}

std::vector<uint8_t> Audio(uint8_t v) { return std::vector<uint8_t>(kSamplesPerPacket, v); }

TEST(FixedJitterBuffer, PlaysInSequenceOrderAfterTheFixedDelay) {
  FixedJitterBuffer jb(2);
  uint8_t out[kSamplesPerPacket];
  EXPECT_EQ(jb.Pop(out), FixedJitterBuffer::Turn::NotStarted);  // nothing yet: nothing is lost
  jb.Push(101, Audio(2).data());  // out of order
  jb.Push(100, Audio(1).data());
  EXPECT_EQ(jb.Pop(out), FixedJitterBuffer::Turn::NotStarted);
  EXPECT_EQ(jb.Pop(out), FixedJitterBuffer::Turn::NotStarted);
  ASSERT_EQ(jb.Pop(out), FixedJitterBuffer::Turn::Packet);
  EXPECT_EQ(out[0], 1);
  ASSERT_EQ(jb.Pop(out), FixedJitterBuffer::Turn::Packet);
  EXPECT_EQ(out[0], 2);
}

TEST(FixedJitterBuffer, AMissingPacketIsLostAtItsTurnAndLateOnesAreDropped) {
  FixedJitterBuffer jb(0);
  uint8_t out[kSamplesPerPacket];
  jb.Push(65535, Audio(1).data());  // the sequence wraps within the buffer
  jb.Push(1, Audio(3).data());
  EXPECT_EQ(jb.Pop(out), FixedJitterBuffer::Turn::Packet);
  EXPECT_EQ(jb.Pop(out), FixedJitterBuffer::Turn::Lost);  // 0 never came
  jb.Push(0, Audio(2).data());                            // after its turn
  ASSERT_EQ(jb.Pop(out), FixedJitterBuffer::Turn::Packet);
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(jb.stats().lost, 1u);
  EXPECT_EQ(jb.stats().late, 1u);
  EXPECT_EQ(jb.stats().received, 2u);
  // A packet is played once: its slot is empty at the next lap.
  for (int i = 0; i < FixedJitterBuffer::kSlots - 1; ++i) EXPECT_EQ(jb.Pop(out), FixedJitterBuffer::Turn::Lost);
}

TEST(FixedJitterBuffer, ASenderThatJumpsFarAheadIsFollowed) {
  FixedJitterBuffer jb(1);
  uint8_t out[kSamplesPerPacket];
  jb.Push(10, Audio(1).data());
  jb.Pop(out);
  jb.Pop(out);
  jb.Push(5000, Audio(9).data());
  EXPECT_EQ(jb.stats().resyncs, 1u);
  EXPECT_EQ(jb.Pop(out), FixedJitterBuffer::Turn::NotStarted);  // the fixed delay again
  ASSERT_EQ(jb.Pop(out), FixedJitterBuffer::Turn::Packet);
  EXPECT_EQ(out[0], 9);
}

}  // namespace
}  // namespace qv::line
