// UDPTL as the line sends and receives it, and the T.38 parameters of a session description:
// both come from a far end or a stranger on the network.
#include <gtest/gtest.h>

#include <vector>

#include "line/sdp.h"
#include "line/udptl.h"

namespace qv::line {
namespace {

std::vector<uint8_t> Ifp(uint8_t last) { return {0xC0, 0x01, 0x80, 0x00, 0x00, last}; }

struct Got {
  uint16_t seq;
  std::vector<uint8_t> ifp;
};

struct Sink {
  std::vector<Got> got;
  UdptlReceiver::Deliver fn() {
    return [this](uint16_t seq, const uint8_t* p, size_t n) { got.push_back({seq, {p, p + n}}); };
  }
};

TEST(Udptl, RedundancyLayoutIsTheStandardOne) {
  // Three packets of a depth-2 stream; the third carries the two before it, newest first.
  UdptlSender t(2, 400);
  std::vector<uint8_t> out;
  for (uint8_t last : {0xFF, 0xC8, 0x01}) out = t.Build(Ifp(last).data(), 6);
  const std::vector<uint8_t> want = {0x00, 0x02, 0x06, 0xC0, 0x01, 0x80, 0x00, 0x00, 0x01, 0x00, 0x02,
                                     0x06, 0xC0, 0x01, 0x80, 0x00, 0x00, 0xC8, 0x06, 0xC0, 0x01, 0x80,
                                     0x00, 0x00, 0xFF};
  EXPECT_EQ(out, want);
  EXPECT_EQ(t.nextSeq(), 3);
}

TEST(Udptl, LostDatagramsAreFilledFromTheNextOnesSecondaries) {
  UdptlSender s(3, 400);
  std::vector<std::vector<uint8_t>> sent;
  for (int i = 0; i < 10; ++i) sent.push_back(s.Build(Ifp(static_cast<uint8_t>(i)).data(), 6));
  UdptlReceiver r;
  Sink sink;
  // 2, 3, 4 lost (a burst as deep as the redundancy), 6 lost, 8 arrives twice, 7 arrives late.
  for (int i : {0, 1, 5, 8, 8, 7, 9}) EXPECT_EQ(r.Receive(sent[i].data(), sent[i].size(), sink.fn()), "");
  ASSERT_EQ(sink.got.size(), 10u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(sink.got[i].seq, i);
    EXPECT_EQ(sink.got[i].ifp, Ifp(static_cast<uint8_t>(i)));
  }
  EXPECT_EQ(r.stats().recovered, 5u);  // 2, 3, 4 from 5; 6 and 7 from 8
  EXPECT_EQ(r.stats().lost, 0u);
  EXPECT_EQ(r.stats().late, 2u);       // the second 8, and 7 after 8 brought it
}

TEST(Udptl, ABurstDeeperThanTheRedundancyIsCountedLostAndSkipped) {
  UdptlSender s(1, 400);
  std::vector<std::vector<uint8_t>> sent;
  for (int i = 0; i < 6; ++i) sent.push_back(s.Build(Ifp(static_cast<uint8_t>(i)).data(), 6));
  UdptlReceiver r;
  Sink sink;
  for (int i : {0, 4, 5}) r.Receive(sent[i].data(), sent[i].size(), sink.fn());
  ASSERT_EQ(sink.got.size(), 4u);
  EXPECT_EQ(sink.got[1].seq, 3);  // only the newest secondary travelled
  EXPECT_EQ(r.stats().lost, 2u);
  EXPECT_EQ(r.stats().recovered, 1u);
}

TEST(Udptl, SequenceNumbersWrapWithoutLossOrReplay) {
  UdptlSender s(2, 400);
  for (int i = 0; i < 65534; ++i) s.Build(Ifp(0).data(), 6);
  std::vector<std::vector<uint8_t>> sent;
  for (int i = 0; i < 5; ++i) sent.push_back(s.Build(Ifp(static_cast<uint8_t>(i)).data(), 6));  // 65534..2
  UdptlReceiver r;
  Sink sink;
  for (int i : {0, 3, 4, 2}) r.Receive(sent[i].data(), sent[i].size(), sink.fn());  // 65535 and 0 lost
  ASSERT_EQ(sink.got.size(), 5u);
  const uint16_t want[] = {65534, 65535, 0, 1, 2};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(sink.got[i].seq, want[i]);
  EXPECT_EQ(r.stats().late, 1u);
}

TEST(Udptl, TheFarEndsMaxDatagramIsKeptByDroppingOldSecondaries) {
  UdptlSender s(4, 2 + 1 + 6 + 2 + 2 * 7);  // room for two secondaries only
  std::vector<uint8_t> out;
  for (int i = 0; i < 6; ++i) out = s.Build(Ifp(static_cast<uint8_t>(i)).data(), 6);
  EXPECT_LE(out.size(), 25u);
  UdptlPacket p;
  ASSERT_EQ(ParseUdptl(out.data(), out.size(), p), "");
  ASSERT_EQ(p.secondaries.size(), 2u);
  EXPECT_EQ(p.secondaries[0], Ifp(4));
  EXPECT_EQ(p.secondaries[1], Ifp(3));
  UdptlSender tiny(0, 8);
  EXPECT_TRUE(tiny.Build(Ifp(0).data(), 6).empty());  // the IFP itself does not fit
}

TEST(Udptl, GarbageIsRefusedWithAReasonAndNeverDelivered) {
  UdptlReceiver r;
  Sink sink;
  const std::vector<std::vector<uint8_t>> bad = {
      {},
      {0x00},
      {0x00, 0x01, 0x00, 0x00, 0x00},                    // empty primary
      {0x00, 0x01, 0x06, 0xC0, 0x01},                    // primary past the end
      {0x00, 0x01, 0x01, 0x02},                          // no recovery field
      {0x00, 0x01, 0x01, 0x02, 0x00, 0x01, 0x05, 0x01},  // secondary past the end
      {0x00, 0x01, 0x01, 0x02, 0x00, 0x7F},              // 127 secondaries
      {0x00, 0x01, 0xC1, 0x02},                          // fragmented length
      {0x00, 0x01, 0x01, 0x02, 0x40},                    // unknown recovery choice
      {0x00, 0x01, 0x01, 0x02, 0x00, 0x00, 0x99},        // trailing octets
      {0x00, 0x01, 0x01, 0x02, 0x80, 0x01, 0x03, 0x01, 0x09, 0x01},  // FEC entry past the end
  };
  for (const auto& b : bad) EXPECT_NE(r.Receive(b.data(), b.size(), sink.fn()), "") << b.size();
  std::vector<uint8_t> huge(kMaxUdptlDatagram + 1, 0);
  EXPECT_NE(r.Receive(huge.data(), huge.size(), sink.fn()), "");
  EXPECT_TRUE(sink.got.empty());
  EXPECT_EQ(r.stats().bad, bad.size() + 1);
  // An FEC packet still gives its primary.
  const std::vector<uint8_t> fec = {0x00, 0x05, 0x01, 0x02, 0x80, 0x01, 0x03, 0x01, 0x01, 0x02};
  EXPECT_EQ(r.Receive(fec.data(), fec.size(), sink.fn()), "");
  ASSERT_EQ(sink.got.size(), 1u);
  EXPECT_EQ(sink.got[0].seq, 5);
}

TEST(Udptl, AJumpFarAheadIsANewNumberingNotAFloodOfLoss) {
  UdptlSender a(2, 400);
  auto first = a.Build(Ifp(1).data(), 6);
  UdptlReceiver r;
  Sink sink;
  r.Receive(first.data(), first.size(), sink.fn());
  std::vector<uint8_t> far = first;
  far[0] = 0x10;  // 4096 ahead: taken up, not counted lost
  r.Receive(far.data(), far.size(), sink.fn());
  far[1] = 0x01;  // and the stream goes on from there
  r.Receive(far.data(), far.size(), sink.fn());
  far[0] = 0x00;  // back in the old numbering: behind what was delivered
  r.Receive(far.data(), far.size(), sink.fn());
  EXPECT_EQ(r.stats().lost, 0u);
  ASSERT_EQ(sink.got.size(), 3u);
  EXPECT_EQ(sink.got[2].seq, 4097);
  EXPECT_EQ(r.stats().late, 1u);
}

SdpSession Parse(const std::string& text) {
  SdpSession s;
  EXPECT_EQ(ParseSdp(text, s), "");
  return s;
}

const char* kT38Offer =
    "v=0\r\no=- 1 2 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
    "m=image 40002 UDPTL T38\r\n"
    "a=t38faxversion:1\r\na=T38MaxBitRate:9600\r\na=T38FaxRateManagement:transferredTCF\r\n"
    "a=T38FaxMaxBuffer:262\r\na=T38FaxMaxDatagram:72\r\na=T38FaxUdpEC:t38UDPFEC\r\n"
    "a=T38FaxFillBitRemoval:0\r\na=T38VendorInfo:0 0 0\r\n";

TEST(SdpT38, AttributesAreReadWhateverTheirCaseAndAnsweredWithinTheOffer) {
  T38Params p;
  const SdpMedia* image = nullptr;
  const SdpSession offer = Parse(kT38Offer);  // image points into it
  ASSERT_EQ(ChooseT38(offer, &image, p), "");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->port, 40002);
  EXPECT_EQ(p.version, 1);
  EXPECT_EQ(p.maxBitRate, 9600);
  EXPECT_EQ(p.maxDatagram, 72);
  EXPECT_EQ(p.maxBuffer, 262);
  EXPECT_FALSE(p.fillBitRemoval);
  EXPECT_EQ(p.errorCorrection, T38Params::ErrorCorrection::Fec);
  const T38Params a = AnswerT38(p, T38Params{});
  EXPECT_EQ(a.version, 0);
  EXPECT_EQ(a.maxBitRate, 9600);
  EXPECT_EQ(a.errorCorrection, T38Params::ErrorCorrection::Redundancy);  // no FEC here
  // What we write reads back the same.
  T38Params back;
  ASSERT_EQ(ChooseT38(Parse(ImageSdp("127.0.0.1", 5000, 7, 3, a)), nullptr, back), "");
  EXPECT_EQ(back.maxBitRate, 9600);
  EXPECT_EQ(back.errorCorrection, T38Params::ErrorCorrection::Redundancy);
  EXPECT_TRUE(back.transferredTcf);
}

TEST(SdpT38, DefaultsBooleansAndRefusals) {
  const std::string head = "v=0\r\no=- 1 2 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n";
  T38Params p;
  ASSERT_EQ(ChooseT38(Parse(head + "m=image 4 udptl t38\r\na=T38FaxFillBitRemoval\r\n"), nullptr, p), "");
  EXPECT_EQ(p.version, 0);
  EXPECT_TRUE(p.fillBitRemoval);
  EXPECT_EQ(p.errorCorrection, T38Params::ErrorCorrection::None);
  EXPECT_FALSE(AnswerT38(p, T38Params{}).fillBitRemoval);
  EXPECT_NE(ChooseT38(Parse(head + "m=image 4 tcptl t38\r\n"), nullptr, p), "");
  EXPECT_NE(ChooseT38(Parse(head + "m=image 0 udptl t38\r\n"), nullptr, p), "");  // rejected stream
  EXPECT_NE(ChooseT38(Parse(head + "m=audio 4 RTP/AVP 0\r\n"), nullptr, p), "");
  EXPECT_NE(ChooseT38(Parse(head + "m=image 4 udptl t38\r\na=T38FaxVersion:99999999999\r\n"), nullptr, p), "");
  EXPECT_NE(ChooseT38(Parse(head + "m=image 4 udptl t38\r\na=T38FaxMaxDatagram:-1\r\n"), nullptr, p), "");
  EXPECT_NE(ChooseT38(Parse(head + "m=image 4 udptl t38\r\na=T38FaxMaxDatagram:3\r\n"), nullptr, p), "");
}

}  // namespace
}  // namespace qv::line
