#include <gtest/gtest.h>

#include "qvmodem/hdlc.h"
#include "qvmodem/t30_frames.h"

using namespace qv::modem;

TEST(Hdlc, FcsMatchesX25VectorsAndKnownFrames) {
  const std::string check = "123456789";
  const uint16_t fcs = frameCheckSequence(reinterpret_cast<const uint8_t*>(check.data()), check.size());
  EXPECT_EQ(fcs & 0xFF, 0x6E);
  EXPECT_EQ(fcs >> 8, 0x90);
  EXPECT_EQ(withFcs({0xFF, 0x13, 0x84}), (Bytes{0xFF, 0x13, 0x84, 0xEA, 0x7D}));
  EXPECT_EQ(withFcs({0xFF, 0x13, 0x8C}), (Bytes{0xFF, 0x13, 0x8C, 0xA2, 0xF1}));
  EXPECT_EQ(withFcs({0xFF, 0x13, 0x80, 0x00, 0x6E, 0x08}), (Bytes{0xFF, 0x13, 0x80, 0x00, 0x6E, 0x08, 0x4A, 0xFD}));
  EXPECT_TRUE(fcsValid({0xFF, 0x13, 0x2F, 0x33, 0x66}));
  EXPECT_FALSE(fcsValid({0xFF, 0x13, 0x2F, 0x33, 0x67}));
  EXPECT_FALSE(fcsValid({0xFF, 0x13}));
}

TEST(Hdlc, DleStuffingAndBitReversal) {
  Bytes out;
  const Bytes in{0x10, 0x03, 0x10, 0x10, 0xAA};
  appendDleStuffed(out, in.data(), in.size());
  EXPECT_EQ(out, (Bytes{0x10, 0x10, 0x03, 0x10, 0x10, 0x10, 0x10, 0xAA}));
  EXPECT_EQ(reverseBits(0x01), 0x80);
  EXPECT_EQ(reverseBits(0x10), 0x08);
  EXPECT_EQ(reverseBits(0xCA), 0x53);
  for (int b = 0; b < 256; ++b) EXPECT_EQ(reverseBits(reverseBits(static_cast<uint8_t>(b))), b);
}

TEST(Hdlc, T4ScanFindsLinesAndRtc) {
  // One white 1728 line in MH (EOL, makeup 1728 = 010011011, terminating white 0 = 00110101), LSB first.
  auto bitsToBytes = [](const std::string& bits) {
    Bytes out((bits.size() + 7) / 8, 0);
    for (size_t i = 0; i < bits.size(); ++i)
      if (bits[i] == '1') out[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    return out;
  };
  const std::string eol = "000000000001";
  const std::string line = eol + "010011011" + "00110101";
  std::string page;
  for (int i = 0; i < 3; ++i) page += line;
  const Bytes noRtc = bitsToBytes(page);
  T4Tail t = scanT4(noRtc);
  EXPECT_EQ(t.eolCount, 3);
  EXPECT_FALSE(t.hasRtc());
  EXPECT_EQ(t.lineCount(), 3);

  std::string withRtc = page;
  for (int i = 0; i < 6; ++i) withRtc += eol;
  t = scanT4(bitsToBytes(withRtc + "0000"));
  EXPECT_TRUE(t.hasRtc());
  EXPECT_EQ(t.lineCount(), 3);

  // RTC as the modem appends it is recognised as RTC, and fill bits between EOLs are allowed.
  Bytes appended = noRtc;
  const Bytes rtc = rtcBytes();
  appended.insert(appended.end(), rtc.begin(), rtc.end());
  EXPECT_TRUE(scanT4(appended).hasRtc());
  std::string filled = page;
  for (int i = 0; i < 6; ++i) filled += "0000" + eol;
  EXPECT_TRUE(scanT4(bitsToBytes(filled)).hasRtc());
  // Five EOLs are not RTC; 2-D EOLs with their tag bit are.
  std::string five = page;
  for (int i = 0; i < 5; ++i) five += eol;
  EXPECT_FALSE(scanT4(bitsToBytes(five)).hasRtc());
  std::string mr = page;
  for (int i = 0; i < 6; ++i) mr += eol + "1";
  EXPECT_TRUE(scanT4(bitsToBytes(mr)).hasRtc());
  // Fill inside RTC: still counted as the end of the page, but not an RTC a strict receiver takes;
  // the sending modem then appends its own.
  EXPECT_TRUE(scanT4(bitsToBytes(withRtc)).hasCleanRtc());
  EXPECT_TRUE(scanT4(appended).hasCleanRtc());
  EXPECT_TRUE(scanT4(bitsToBytes(mr)).hasCleanRtc());
  EXPECT_FALSE(scanT4(bitsToBytes(filled)).hasCleanRtc());
  std::string lastPadded = page;
  for (int i = 0; i < 5; ++i) lastPadded += eol;
  lastPadded += "00000" + eol;
  EXPECT_TRUE(scanT4(bitsToBytes(lastPadded)).hasRtc());
  EXPECT_FALSE(scanT4(bitsToBytes(lastPadded)).hasCleanRtc());
  Bytes repaired = bitsToBytes(lastPadded);
  repaired.insert(repaired.end(), rtc.begin(), rtc.end());
  EXPECT_TRUE(scanT4(repaired).hasCleanRtc());
}

TEST(Hdlc, T4ScannerFedInPiecesAgreesWithAWholeScan) {
  Bytes page;
  unsigned seed = 7;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 1103515245u + 12345u;
    // Mostly zeros with sparse ones: plenty of EOL-like runs across byte boundaries.
    page.push_back((seed >> 16) % 5 == 0 ? static_cast<uint8_t>(1u << ((seed >> 8) % 8)) : 0);
  }
  const Bytes rtc = rtcBytes();
  page.insert(page.end(), rtc.begin(), rtc.end());
  const T4Tail whole = scanT4(page);
  EXPECT_GT(whole.eolCount, 50);
  EXPECT_TRUE(whole.hasRtc());
  for (size_t piece : {1u, 3u, 64u}) {
    T4Scanner scanner;
    for (size_t i = 0; i < page.size(); i += piece) scanner.feed(page.data() + i, std::min(piece, page.size() - i));
    EXPECT_EQ(scanner.tail().eolCount, whole.eolCount) << piece;
    EXPECT_EQ(scanner.tail().trailingEols, whole.trailingEols) << piece;
  }
}

TEST(T30Frames, FcfIgnoresXBitExceptForTheDisGroup) {
  EXPECT_EQ(frameFcf({0xFF, 0x13, 0x83}), fcf::kDcs);
  EXPECT_EQ(frameFcf({0xFF, 0x13, 0x82}), fcf::kDcs);
  EXPECT_EQ(frameFcf({0xFF, 0x13, 0x80}), fcf::kDis);
  EXPECT_EQ(frameFcf({0xFF, 0x13, 0x81}), fcf::kDtc);
  EXPECT_EQ(frameFcf({0xFF, 0x13, 0xFB}), fcf::kDcn);
  EXPECT_TRUE(isFinal({0xFF, 0x13, 0x84}));
  EXPECT_FALSE(isFinal({0xFF, 0x03, 0x40}));
}

// ECM and coding bits: the DIS and DCS of a T.6 session with ECM as a real fax terminal sends
// them, and every combination the modems can offer surviving DIS/DCS and the Class 2 strings.
TEST(T30Frames, ErrorCorrectionAndCodingBits) {
  const SessionParams dis = parseDis({0xFF, 0x13, 0x80, 0x04, 0xEE, 0xF8, 0xC4, 0x80});
  EXPECT_EQ(dis.ec, 2);  // 256-octet frames
  EXPECT_EQ(dis.df, 3);
  const SessionParams dcs = parseDcs({0xFF, 0x13, 0x83, 0x00, 0x62, 0xF8, 0x44});
  EXPECT_EQ(dcs.ec, 2);
  EXPECT_EQ(dcs.df, 3);
  EXPECT_EQ(dcs.br, 5);
  EXPECT_EQ(dcs.st, 0);
  // T.6 without ECM is no T.6.
  EXPECT_EQ(parseDis({0xFF, 0x13, 0x80, 0x00, 0xEE, 0xF8, 0xC0}).df, 1);
  for (int ec : {0, 1, 2})
    for (int df : {0, 1, 3}) {
      SessionParams s;
      s.ec = ec;
      s.df = df;
      const int wantDf = df == 3 && ec == 0 ? 0 : df;  // MR bit clear with T.6: no MR fallback here
      EXPECT_EQ(parseDcs(buildDcs(s, true)).ec, ec) << ec << df;
      EXPECT_EQ(parseDcs(buildDcs(s, true)).df, wantDf) << ec << df;
      EXPECT_EQ(parseDis(buildDis(s, true)).ec, ec) << ec << df;
      EXPECT_EQ(parseDis(buildDis(s, true)).df, df == 3 && ec == 0 ? 1 : df) << ec << df;
    }
  // The negotiation: MMR > MR > MH, MMR and ECM only when both ends offer ECM.
  auto caps = [](int df, int ec) {
    SessionParams p;
    p.df = df;
    p.ec = ec;
    return p;
  };
  SessionParams s;
  negotiateCoding(caps(3, 2), caps(3, 1), s);
  EXPECT_EQ(s.df, 3);
  EXPECT_EQ(s.ec, 2);  // the sender's frame size
  negotiateCoding(caps(3, 2), caps(3, 0), s);
  EXPECT_EQ(s.df, 1);
  EXPECT_EQ(s.ec, 0);
  negotiateCoding(caps(1, 2), caps(3, 2), s);
  EXPECT_EQ(s.df, 1);
  negotiateCoding(caps(3, 2), caps(0, 2), s);
  EXPECT_EQ(s.df, 0);
  // Class 2.0 writes any ECM as 1; Annex C (2, 3) is not taken for Annex A.
  SessionParams p;
  ASSERT_TRUE(p.parse("1,5,0,2,3,1,0,0", true));
  EXPECT_EQ(p.ec, 2);
  EXPECT_EQ(p.format(true), "1,5,0,2,3,1,0,0");
  EXPECT_EQ(p.format(false), "1,5,0,2,3,2,0,0");
  ASSERT_TRUE(p.parse("1,5,0,2,3,2,0,0", true));
  EXPECT_EQ(p.ec, 3);
}

TEST(T30Frames, DisAndDcsDecodeTheWorkedExamples) {
  // DIS: can receive, V.17, fine, 215 mm, unlimited, 20 ms.
  const SessionParams dis = parseDis({0xFF, 0x13, 0x80, 0x00, 0x6E, 0x08});
  EXPECT_EQ(dis.br, 5);
  EXPECT_EQ(dis.vr, 1);
  EXPECT_EQ(dis.wd, 0);
  EXPECT_EQ(dis.ln, 2);
  EXPECT_EQ(dis.st, 5);
  // DCS: 9600 V.29, fine, A4, 20 ms.
  const SessionParams dcs = parseDcs({0xFF, 0x13, 0x83, 0x00, 0x46, 0x00});
  EXPECT_EQ(dcs.br, 3);
  EXPECT_EQ(dcs.vr, 1);
  EXPECT_EQ(dcs.ln, 0);
  // Every rate survives DCS encoding and decoding.
  for (int br = 0; br <= 5; ++br) {
    SessionParams s;
    s.br = br;
    EXPECT_EQ(parseDcs(buildDcs(s, true)).br, br) << br;
    EXPECT_EQ(buildDcs(s, true)[2], 0x83);
  }
  // A DIS offers no more than asked and is always "can receive".
  for (int br = 0; br <= 5; ++br) {
    SessionParams caps;
    caps.br = br;
    caps.vr = 0;
    const Bytes f = buildDis(caps, true);
    EXPECT_TRUE(f[4] & 0x02);
    EXPECT_EQ(parseDis(f).vr, 0);
    EXPECT_GE(brToRate(parseDis(f).br), brToRate(br) == 7200 ? 9600 : brToRate(br) == 12000 ? 14400 : brToRate(br));
  }
  // Scan-time codes survive the DIS encoding.
  for (int st = 0; st <= 7; ++st) {
    SessionParams caps;
    caps.st = st;
    EXPECT_EQ(parseDis(buildDis(caps, true)).st, st);
  }
}

TEST(T30Frames, IdFramesAreSentLastCharacterFirst) {
  const Bytes f = buildIdFrame(fcf::kTsi | 1, "+1 555 1234", false);
  ASSERT_EQ(f.size(), 23u);
  EXPECT_EQ(f[1], 0x03);
  EXPECT_EQ(f[2], 0x43);
  EXPECT_EQ(std::string(f.begin() + 3, f.end()), "         4321 555 1+");
  EXPECT_EQ(parseIdFrame(f), "+1 555 1234");
  // The other padding order and control characters are read sensibly too.
  Bytes other{0xFF, 0x03, 0x40};
  for (char c : std::string("4321\x01 \"                ")) other.push_back(static_cast<uint8_t>(c));
  EXPECT_EQ(parseIdFrame(other), "1234");
}

TEST(T30Frames, SessionParameterStrings) {
  SessionParams p;
  EXPECT_TRUE(p.parse("0,3,0,2,0,0,0,7", false));
  EXPECT_EQ(p.format(false), "0,3,0,2,0,0,0,7");
  EXPECT_TRUE(p.parse(",5", false));  // empty fields keep their value
  EXPECT_EQ(p.format(false), "0,5,0,2,0,0,0,7");
  EXPECT_TRUE(p.parse("7F", true));
  EXPECT_EQ(p.vr, 0x7F);
  EXPECT_EQ(p.format(true).substr(0, 3), "7F,");
  const SessionParams before = p;
  EXPECT_FALSE(p.parse("1,2,3,4,5,6,7,8,9", false));
  EXPECT_FALSE(p.parse("1,x", false));
  EXPECT_FALSE(p.parse("A", false));
  EXPECT_FALSE(p.parse("99999", false));
  EXPECT_EQ(p.format(true), before.format(true));  // a bad string changes nothing
}
