// What the line offers and accepts in SIP: the session descriptions and the dial string.
#include <gtest/gtest.h>

#include "line/fax_line.h"
#include "line/rtp.h"
#include "line/sdp.h"

namespace qv::line {
namespace {

TEST(Sdp, OurOfferParsesBackAsG711Only) {
  const std::string offer = AudioSdp("127.0.0.1", 40000, 4711, 2, {kPayloadPcmu, kPayloadPcma});
  EXPECT_EQ(offer.find("telephone-event"), std::string::npos);
  EXPECT_EQ(offer.find(" 13"), std::string::npos);  // no comfort noise
  SdpSession s;
  ASSERT_EQ(ParseSdp(offer, s), "");
  EXPECT_EQ(s.sessionId, "4711");
  EXPECT_EQ(s.version, 2u);
  ASSERT_EQ(s.media.size(), 1u);
  EXPECT_EQ(s.media[0].address, "127.0.0.1");
  EXPECT_EQ(s.media[0].port, 40000);
  const SdpMedia* audio = nullptr;
  EXPECT_EQ(ChooseG711(s, &audio), kPayloadPcmu);
  EXPECT_EQ(audio, &s.media[0]);
}

TEST(Sdp, PicksTheG711StreamAndItsOwnAddress) {
  // A video stream first, the audio with its own c= line, PCMA only, bare LF line ends.
  const std::string text =
      "v=0\no=x 1 1 IN IP4 10.0.0.1\ns=-\nc=IN IP4 10.0.0.1\nt=0 0\n"
      "m=video 5000 RTP/AVP 96\n"
      "m=audio 6000 RTP/AVP 18 8 101\nc=IN IP4 10.0.0.2\na=rtpmap:8 PCMA/8000\n";
  SdpSession s;
  ASSERT_EQ(ParseSdp(text, s), "");
  const SdpMedia* audio = nullptr;
  EXPECT_EQ(ChooseG711(s, &audio), kPayloadPcma);
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(audio->address, "10.0.0.2");
  EXPECT_EQ(s.media[0].address, "10.0.0.1");
  ASSERT_EQ(audio->attributes.size(), 1u);
  EXPECT_EQ(audio->attributes[0].first, "rtpmap");
  EXPECT_EQ(audio->attributes[0].second, "8 PCMA/8000");
}

TEST(Sdp, UnusableDescriptionsSayWhy) {
  SdpSession s;
  EXPECT_NE(ParseSdp("", s), "");
  EXPECT_NE(ParseSdp("v=0\r\nm=audio 1 RTP/AVP 0\r\n", s), "");  // no address for it
  EXPECT_NE(ParseSdp("v=0\r\nc=IN IP6 ::1\r\nm=audio 1 RTP/AVP 0\r\n", s), "");
  EXPECT_NE(ParseSdp("v=0\r\nc=IN IP4 1.2.3.4\r\nm=audio 99999 RTP/AVP 0\r\n", s), "");
  EXPECT_NE(ParseSdp("v=0\r\nc=IN IP4 1.2.3.4\r\nm=audio 1\r\n", s), "");
  EXPECT_NE(ParseSdp("v=0\r\no=- 1 99999999999999999999999 IN IP4 1.2.3.4\r\n", s), "");
  EXPECT_NE(ParseSdp("garbage", s), "");
  std::string many = "v=0\r\nc=IN IP4 1.2.3.4\r\n";
  for (size_t i = 0; i < kMaxSdpLines; ++i) many += "a=x\r\n";
  EXPECT_NE(ParseSdp(many, s), "");
  EXPECT_NE(ParseSdp(std::string(kMaxSdpSize + 1, 'a'), s), "");
  // Parsed but useless to a fax line: no G.711, or the audio stream refused (port 0).
  ASSERT_EQ(ParseSdp("v=0\r\nc=IN IP4 1.2.3.4\r\nm=audio 1 RTP/AVP 18\r\n", s), "");
  EXPECT_EQ(ChooseG711(s, nullptr), -1);
  ASSERT_EQ(ParseSdp("v=0\r\nc=IN IP4 1.2.3.4\r\nm=audio 0 RTP/AVP 0\r\n", s), "");
  EXPECT_EQ(ChooseG711(s, nullptr), -1);
}

TEST(DialUri, DigitsGoToThePeerAndSipUrisAsTheyAre) {
  EXPECT_EQ(DialUri("T555-1234", "127.0.0.1:5062"), "sip:5551234@127.0.0.1:5062");
  EXPECT_EQ(DialUri("sip:fax@example.org ", "127.0.0.1:5062"), "sip:fax@example.org");
  EXPECT_EQ(DialUri("5551234", ""), "");  // nowhere to send it
  EXPECT_EQ(DialUri("T,W", "127.0.0.1:5062"), "");
}

}  // namespace
}  // namespace qv::line
