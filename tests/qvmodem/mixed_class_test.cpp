// A Class 2 modem's own T.30 against a Class 1 DTE on the other end, and line faults seen by
// Class 1 DTEs.
#include "pair_fixture.h"

using namespace qv::modem;
using namespace qv::modem::test;

namespace {
std::vector<uint8_t> stuffed(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  for (uint8_t c : data) {
    out.push_back(c);
    if (c == 0x10) out.push_back(0x10);
  }
  out.push_back(0x10);
  out.push_back(0x03);
  return out;
}

// Reads HDLC frames (+FRH=3 after the first) until the final one; returns them without FCS.
std::vector<std::vector<uint8_t>> readFrames(TestDte& dte, bool alreadyConnected) {
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < 5; ++i) {
    const std::string reply = (!alreadyConnected || i > 0) ? dte.command("AT+FRH=3") : dte.waitForResult();
    EXPECT_EQ(reply, "\r\nCONNECT\r\n");
    auto f = dte.readDleBlock();
    EXPECT_TRUE(fcsValid(f));
    EXPECT_EQ(dte.waitForResult(), "\r\nOK\r\n");
    if (f.size() < 5) break;
    f.resize(f.size() - 2);
    frames.push_back(f);
    if (isFinal(f)) break;
  }
  return frames;
}
}  // namespace

TEST(MixedClasses, Class2ModemSendsToAClass1Dte) {
  Pair p;
  EXPECT_EQ(p.a.command("AT+FCLASS=2;+FLID=\"TWO\";+FDIS=0,3"), "\r\nOK\r\n");
  EXPECT_EQ(p.b.command("AT+FCLASS=1"), "\r\nOK\r\n");
  p.a.write("ATD1\r");
  EXPECT_EQ(p.b.waitFor("RING\r\n"), "\r\nRING\r\n");
  EXPECT_EQ(p.b.command("ATA"), "\r\nCONNECT\r\n");
  p.b.sendFrame(buildIdFrame(fcf::kCsi, "ONE", false));
  EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
  p.b.sendFrame({0xFF, 0x13, 0x80, 0x00, 0x6E, 0x08});
  EXPECT_EQ(p.b.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.waitForResult(), "\r\n+FCON\r\n\r\n+FCSI:\"ONE\"\r\n\r\n+FDIS:1,5,0,2,0,0,0,5\r\n\r\nOK\r\n");
  p.a.write("AT+FDT\r");
  // The Class 2 modem: TSI + DCS for 9600 normal resolution (what its DTE asked for), then TCF.
  const auto frames = readFrames(p.b, false);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0][2], 0x43);
  EXPECT_EQ(parseIdFrame(frames[0]), "TWO");
  EXPECT_EQ(frames[1][2], 0x83);
  const SessionParams dcs = parseDcs(frames[1]);
  EXPECT_EQ(dcs.br, 3);
  EXPECT_EQ(dcs.vr, 0);
  EXPECT_EQ(p.b.command("AT+FRM=96"), "\r\nCONNECT\r\n");
  const auto tcf = p.b.readDleBlock();
  EXPECT_EQ(tcf, std::vector<uint8_t>(1800, 0));  // 1.5 s of zeros at 9600
  EXPECT_EQ(p.b.waitForResult(), "\r\nNO CARRIER\r\n");
  EXPECT_EQ(p.b.command("AT+FTH=3"), "\r\nCONNECT\r\n");
  p.b.sendFrame({0xFF, 0x13, 0x84});  // CFR
  EXPECT_EQ(p.b.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.waitForResult(), "\r\n+FDCS:0,3,0,2,0,0,0,5\r\n\r\nCONNECT\r\n");
  // Page data without RTC: the modem appends it.
  std::vector<uint8_t> page(300, 0x5A);
  page[10] = 0x10;
  p.a.waitFor("\x11");
  p.a.writeBytes(stuffed(page));
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.b.command("AT+FRM=96"), "\r\nCONNECT\r\n");
  std::vector<uint8_t> want = page;
  const auto rtc = rtcBytes();
  want.insert(want.end(), rtc.begin(), rtc.end());
  EXPECT_EQ(p.b.readDleBlock(), want);
  EXPECT_EQ(p.b.waitForResult(), "\r\nNO CARRIER\r\n");
  // MPS answered with RTN: the Class 2 side reports it and retrains on the next +FDT.
  p.a.write("AT+FET=0\r");
  auto ppm = readFrames(p.b, false);
  ASSERT_EQ(ppm.size(), 1u);
  EXPECT_EQ(ppm[0][2], 0x4F);
  EXPECT_EQ(p.b.command("AT+FTH=3"), "\r\nCONNECT\r\n");
  p.b.sendFrame({0xFF, 0x13, 0x4C});
  EXPECT_EQ(p.b.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.waitForResult(), "\r\n+FPTS:2\r\n\r\nOK\r\n");
  p.a.write("AT+FDT\r");
  const auto again = readFrames(p.b, false);
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[1][2], 0x83);
  // Hang up from the Class 1 side: the Class 2 sender's training gets no answer.
  EXPECT_EQ(p.b.command("ATH"), "\r\nOK\r\n");
  EXPECT_EQ(p.a.waitForResult(15000), "\r\n+FHNG:20\r\n\r\nOK\r\n");
}

TEST(MixedClasses, Class1ReceiverSeesLineFaults) {
  ModemSetOptions o = fastPair();
  o.faults.maxRate = 9600;
  o.faults.corruptPage = 2;
  o.faults.dropInPage = 3;
  o.faults.dropAfterBytes = 50;
  Pair p(o);
  p.call("1", "1");
  EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
  EXPECT_EQ(p.a.waitForResult(), "\r\nCONNECT\r\n");
  p.b.sendFrame({0xFF, 0x13, 0x80, 0x00, 0x6E, 0x08});
  EXPECT_EQ(p.b.waitForResult(), "\r\nOK\r\n");
  p.a.readDleBlock();
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  auto sendDcsAndTcf = [&](int mod, size_t bytes) {
    p.b.write("AT+FRH=3\r");
    EXPECT_EQ(p.a.command("AT+FTH=3"), "\r\nCONNECT\r\n");
    p.a.sendFrame({0xFF, 0x13, 0x83, 0x00, 0x46, 0x00});
    EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
    EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
    p.b.readDleBlock();
    EXPECT_EQ(p.b.waitForResult(), "\r\nOK\r\n");
    p.b.write("AT+FRM=" + std::to_string(mod) + "\r");
    EXPECT_EQ(p.a.command("AT+FTM=" + std::to_string(mod)), "\r\nCONNECT\r\n");
    p.a.writeBytes(stuffed(std::vector<uint8_t>(bytes, 0)));
    EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
    EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
    const auto got = p.b.readDleBlock();
    EXPECT_EQ(p.b.waitForResult(), "\r\nNO CARRIER\r\n");
    return got;
  };
  // Training at 14400 arrives as noise, at 9600 clean.
  const auto noisy = sendDcsAndTcf(145, 2700);
  EXPECT_EQ(noisy.size(), 2700u);
  EXPECT_GT(std::count_if(noisy.begin(), noisy.end(), [](uint8_t b) { return b != 0; }), 2000);
  EXPECT_EQ(sendDcsAndTcf(96, 1800), std::vector<uint8_t>(1800, 0));
  // Pages: the first clean, the second with noise, the line dies in the third.
  std::vector<uint8_t> page(400);
  for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i);
  for (int n = 1; n <= 3; ++n) {
    p.b.write("AT+FRM=96\r");
    EXPECT_EQ(p.a.command("AT+FTM=96"), "\r\nCONNECT\r\n");
    p.a.writeBytes(stuffed(page));
    EXPECT_EQ(p.a.waitForResult(), n == 3 ? "\r\nNO CARRIER\r\n" : "\r\nOK\r\n") << n;
    EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
    bool complete = false;
    const auto got = p.b.readDleBlock(5000, &complete);
    EXPECT_TRUE(complete);
    EXPECT_EQ(p.b.waitForResult(), "\r\nNO CARRIER\r\n");
    if (n == 1) {
      EXPECT_EQ(got, page);
    } else if (n == 2) {
      EXPECT_EQ(got.size(), page.size());
      EXPECT_NE(got, page);
    } else {
      EXPECT_EQ(got, std::vector<uint8_t>(page.begin(), page.begin() + 50));
    }
  }
  // Both ends are on hook now.
  EXPECT_EQ(p.a.command("AT+FTH=3"), "\r\nERROR\r\n");
  EXPECT_EQ(p.b.command("AT+FRH=3"), "\r\nERROR\r\n");
}

TEST(MixedClasses, NumericResultsDuringAFaxCall) {
  Pair p;
  EXPECT_EQ(p.a.command("AT+FCLASS=1"), "\r\nOK\r\n");
  EXPECT_EQ(p.b.command("AT+FCLASS=1;V0", "\r"), "0\r");
  p.a.write("ATD1\r");
  EXPECT_EQ(p.b.waitFor("\r"), "2\r");  // RING
  EXPECT_EQ(p.b.command("ATA", "\r"), "1\r");
  p.b.sendFrame({0xFF, 0x13, 0x80, 0x00, 0x6E, 0x08});
  EXPECT_EQ(p.b.waitFor("\r"), "0\r");
  EXPECT_EQ(p.a.waitForResult(), "\r\nCONNECT\r\n");
  p.a.readDleBlock();
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.command("AT+FTH=3"), "\r\nCONNECT\r\n");
  p.a.sendFrame({0xFF, 0x13, 0x83, 0x00, 0x46, 0x00});
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.b.command("AT+FRM=96", "\r"), "+F4\r");  // +FCERROR
}
