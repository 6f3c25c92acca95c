// Class 2 and 2.0 calls: the modems run T.30 themselves; the DTEs only give commands and pages.
#include "pair_fixture.h"

using namespace qv::modem;
using namespace qv::modem::test;

namespace {
// An MH page of `lines` scan lines with a black run in each, closed by RTC; bits LSB first.
std::vector<uint8_t> makePage(int lines, bool rtc = true) {
  std::string bits;
  for (int i = 0; i < lines; ++i) {
    bits += "000000000001";  // EOL
    bits += "0111";          // white 2
    bits += "11";            // black 2
    bits += "010011011";     // white makeup 1664
    bits += "00110100";      // white terminating 60 (2 + 2 + 1724 = 1728)
  }
  if (rtc)
    for (int i = 0; i < 6; ++i) bits += "000000000001";
  std::vector<uint8_t> out((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') out[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
  return out;
}

std::vector<uint8_t> stuff(const std::vector<uint8_t>& data, std::vector<uint8_t> tail = {0x10, 0x03}) {
  std::vector<uint8_t> out;
  for (uint8_t c : data) {
    out.push_back(c);
    if (c == 0x10) out.push_back(0x10);
  }
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

std::vector<uint8_t> reversed(std::vector<uint8_t> v) {
  for (auto& b : v) b = reverseBits(b);
  return v;
}

// Brings a Class 2 (or 2.0) pair to the point where the receiver's ATA has reported.
void connect2(Pair& p, const std::string& cls) {
  const bool v20 = cls == "2.0";
  EXPECT_EQ(p.a.command("AT+FCLASS=" + cls), "\r\nOK\r\n");
  EXPECT_EQ(p.b.command("AT+FCLASS=" + cls), "\r\nOK\r\n");
  EXPECT_EQ(p.a.command(v20 ? "AT+FLI=\"SENDER 1\"" : "AT+FLID=\"SENDER 1\""), "\r\nOK\r\n");
  EXPECT_EQ(p.b.command(v20 ? "AT+FLI=\"RECEIVER\";+FCR=1" : "AT+FLID=\"RECEIVER\";+FCR=1"), "\r\nOK\r\n");
  if (v20) {
    EXPECT_EQ(p.a.command("AT+FNR=1,1,1,0"), "\r\nOK\r\n");
    EXPECT_EQ(p.b.command("AT+FNR=1,1,1,0"), "\r\nOK\r\n");
  }
  p.a.write("ATD5551234\r");
  EXPECT_EQ(p.b.waitFor("RING\r\n", 5000), "\r\nRING\r\n");
  p.b.write("ATA\r");
  if (v20)
    EXPECT_EQ(p.a.waitForResult(), "\r\n+FCO\r\n\r\n+FCI:\"RECEIVER\"\r\n\r\n+FIS:1,5,0,2,0,0,0,0\r\n\r\nOK\r\n");
  else
    EXPECT_EQ(p.a.waitForResult(), "\r\n+FCON\r\n\r\n+FCSI:\"RECEIVER\"\r\n\r\n+FDIS:1,5,0,2,0,0,0,0\r\n\r\nOK\r\n");
}

// A call whose DTEs set their capabilities first (vr,br,wd,ln,df,ec,bf,st): the receiver with
// +FDCC/+FCC, the sender with +FDIS/+FIS. Returns the sender's +FDCS/+FCS report line.
std::string connectWithCaps(Pair& p, const std::string& cls, const std::string& receiverCaps,
                            const std::string& senderCaps) {
  const bool v20 = cls == "2.0";
  EXPECT_EQ(p.a.command("AT+FCLASS=" + cls), "\r\nOK\r\n");
  EXPECT_EQ(p.b.command("AT+FCLASS=" + cls), "\r\nOK\r\n");
  if (v20) {
    EXPECT_EQ(p.a.command("AT+FNR=1,1,1,0"), "\r\nOK\r\n");
    EXPECT_EQ(p.b.command("AT+FNR=1,1,1,0"), "\r\nOK\r\n");
  }
  EXPECT_EQ(p.b.command(std::string(v20 ? "AT+FCC=" : "AT+FDCC=") + receiverCaps + ";+FCR=1"), "\r\nOK\r\n");
  EXPECT_EQ(p.a.command(std::string(v20 ? "AT+FIS=" : "AT+FDIS=") + senderCaps), "\r\nOK\r\n");
  p.a.write("ATD5551234\r");
  EXPECT_EQ(p.b.waitFor("RING\r\n", 5000), "\r\nRING\r\n");
  p.b.write("ATA\r");
  const std::string dial = p.a.waitForResult();
  EXPECT_NE(dial.find(std::string(v20 ? "+FIS:" : "+FDIS:") + receiverCaps), std::string::npos) << dial;
  const std::string fdt = p.a.command("AT+FDT");
  if (!v20) p.a.waitFor("\x11");
  const std::string answered = p.b.waitForResult();
  EXPECT_NE(answered.find(v20 ? "+FCS:" : "+FDCS:"), std::string::npos) << answered;
  return fdt;
}
}  // namespace

// The two modems settle on the best coding both DTEs offer, MMR only when both take ECM, and pass
// the DTE's page through as it is: no RTC after an MMR page (it ends in EOFB), a 2-D RTC after an
// MR page that had none.
TEST(Class2Call, CodingAndErrorCorrectionAreNegotiated) {
  const auto data = makePage(25, false);  // any bytes: the modems do not decode MMR
  for (const std::string cls : {"2", "2.0"}) {
    SCOPED_TRACE("Class " + cls);
    const bool v20 = cls == "2.0";
    {
      Pair p;
      const std::string caps = v20 ? "1,5,0,2,3,1,0,0" : "1,5,0,2,3,2,0,0";
      const std::string fdt = connectWithCaps(p, cls, caps, caps);
      EXPECT_EQ(fdt, std::string("\r\n") + (v20 ? "+FCS:1,5,0,2,3,1,0,0" : "+FDCS:1,5,0,2,3,2,0,0") + "\r\n\r\nCONNECT\r\n");
      p.a.writeBytes(stuff(data, v20 ? std::vector<uint8_t>{0x10, '.'} : std::vector<uint8_t>{0x10, 0x03}));
      if (!v20) {
        EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
        p.a.write("AT+FET=2\r");
      }
      EXPECT_EQ(p.b.command("AT+FDR"), "\r\nCONNECT\r\n");
      p.b.writeBytes({0x12});
      const auto got = p.b.readDleBlock();
      EXPECT_EQ(v20 ? got : reversed(got), data);
    }
    {
      // The receiver offers ECM and MMR, the sender MR without ECM: MR, and the modem closes the
      // page with RTC in 2-D form (EOL + 1).
      Pair p;
      const std::string fdt = connectWithCaps(p, cls, "1,5,0,2,3,1,0,0", "1,5,0,2,1,0,0,0");
      EXPECT_EQ(fdt, std::string("\r\n") + (v20 ? "+FCS:" : "+FDCS:") + "1,5,0,2,1,0,0,0\r\n\r\nCONNECT\r\n");
      p.a.writeBytes(stuff(data, v20 ? std::vector<uint8_t>{0x10, '.'} : std::vector<uint8_t>{0x10, 0x03}));
      if (!v20) {
        EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
        p.a.write("AT+FET=2\r");
      }
      EXPECT_EQ(p.b.command("AT+FDR"), "\r\nCONNECT\r\n");
      p.b.writeBytes({0x12});
      auto want = data;
      const auto rtc = rtcBytes(true);
      want.insert(want.end(), rtc.begin(), rtc.end());
      const auto got = p.b.readDleBlock();
      EXPECT_EQ(v20 ? got : reversed(got), want);
      EXPECT_TRUE(scanT4(want).hasCleanRtc());
    }
  }
}

// With ECM the modems' own T.30 sends the frames that noise hits again: the page reaches the DTE
// as it was sent and the copy-quality check passes it.
TEST(Class2Call, ErrorCorrectionCarriesThePageThroughNoise) {
  ModemSetOptions o = fastPair();
  o.faults.corruptPage = 1;
  Pair p(o);
  const auto page = makePage(30);
  connectWithCaps(p, "2", "1,5,0,2,0,2,0,0", "1,5,0,2,0,2,0,0");
  p.a.writeBytes(stuff(page));
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  p.a.write("AT+FET=2\r");
  EXPECT_EQ(p.b.command("AT+FDR"), "\r\nCONNECT\r\n");
  p.b.writeBytes({0x12});
  EXPECT_EQ(reversed(p.b.readDleBlock()), page);
  EXPECT_EQ(p.b.waitForResult(), "\r\n+FPTS:1,30,0,0,0\r\n\r\n+FET:2\r\n\r\nOK\r\n");
  EXPECT_GT(p.set.line()->ecmFramesResent(0), 0);
}

TEST(Class2Call, OnePageClass2ToClass2) {
  Pair p;
  connect2(p, "2");
  const auto page = makePage(40);
  // +FDT trains, reports the session, CONNECT, then XON.
  EXPECT_EQ(p.a.command("AT+FDT"), "\r\n+FDCS:1,5,0,2,0,0,0,0\r\n\r\nCONNECT\r\n");
  EXPECT_EQ(p.a.waitFor("\x11"), "\x11");
  EXPECT_EQ(p.b.waitForResult(), "\r\n+FCON\r\n\r\n+FTSI:\"SENDER 1\"\r\n\r\n+FDCS:1,5,0,2,0,0,0,0\r\n\r\nOK\r\n");
  p.a.writeBytes(stuff(page));
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  p.a.write("AT+FET=2\r");
  // The receiver: CONNECT, DC2 starts delivery, page data MSB first.
  EXPECT_EQ(p.b.command("AT+FDR"), "\r\nCONNECT\r\n");
  p.b.writeBytes({0x12});
  bool complete = false;
  EXPECT_EQ(p.b.readDleBlock(5000, &complete), reversed(page));
  EXPECT_TRUE(complete);
  EXPECT_EQ(p.b.waitForResult(), "\r\n+FPTS:1,40,0,0,0\r\n\r\n+FET:2\r\n\r\nOK\r\n");
  EXPECT_EQ(p.b.command("AT+FDR"), "\r\n+FHNG:0\r\n\r\nOK\r\n");
  EXPECT_EQ(p.a.waitForResult(), "\r\n+FPTS:1\r\n\r\n+FHNG:0\r\n\r\nOK\r\n");
  EXPECT_EQ(p.a.command("AT+FDT"), "\r\nERROR\r\n");  // the call is over
}

TEST(Class2Call, TwoPagesClass20WithPostPageCharacters) {
  Pair p;
  connect2(p, "2.0");
  const auto page1 = makePage(30, false);  // the modem adds RTC
  const auto page2 = makePage(50);
  std::vector<uint8_t> withDle = page2;
  withDle.insert(withDle.begin(), {0x10, 0x10});  // DLE SUB stands for two data DLEs
  EXPECT_EQ(p.a.command("AT+FDT"), "\r\n+FCS:1,5,0,2,0,0,0,0\r\n\r\nCONNECT\r\n");
  EXPECT_EQ(p.b.waitForResult(), "\r\n+FCO\r\n\r\n+FTI:\"SENDER 1\"\r\n\r\n+FCS:1,5,0,2,0,0,0,0\r\n\r\nOK\r\n");
  p.a.writeBytes(stuff(page1, {0x10, ','}));  // MPS
  EXPECT_EQ(p.b.command("AT+FDR"), "\r\nCONNECT\r\n");
  p.b.writeBytes({0x12});
  std::vector<uint8_t> want1 = page1;
  const auto rtc = rtcBytes();
  want1.insert(want1.end(), rtc.begin(), rtc.end());
  EXPECT_EQ(p.b.readDleBlock(), want1);  // 2.0: LSB first as on the line
  EXPECT_EQ(p.b.waitForResult(), "\r\n+FPS:1,1E,0,0,0\r\n\r\n+FET:0\r\n\r\nOK\r\n");
  p.b.write("AT+FDR\r");  // MCF, then the next page
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.command("AT+FDT"), "\r\nCONNECT\r\n");  // same session: no new training
  std::vector<uint8_t> wire{0x10, 0x1A};
  auto rest = stuff(page2, {0x10, '.'});
  wire.insert(wire.end(), rest.begin(), rest.end());
  p.a.writeBytes(wire);
  EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
  p.b.writeBytes({0x12});
  EXPECT_EQ(p.b.readDleBlock(), withDle);
  EXPECT_EQ(p.b.waitForResult(), "\r\n+FPS:1,32,0,0,0\r\n\r\n+FET:2\r\n\r\nOK\r\n");
  EXPECT_EQ(p.b.command("AT+FDR"), "\r\n+FHS:00\r\n\r\nOK\r\n");
  EXPECT_EQ(p.a.waitForResult(), "\r\n+FHS:00\r\n\r\nOK\r\n");
}

TEST(Class2Call, Class1DteSendsToAClass20Modem) {
  Pair p;
  EXPECT_EQ(p.a.command("AT+FCLASS=1"), "\r\nOK\r\n");
  EXPECT_EQ(p.b.command("AT+FCLASS=2.0;+FLI=\"C20\";+FCR=1;+FNR=1,1,1,0"), "\r\nOK\r\n");
  p.a.write("ATD5551234\r");
  EXPECT_EQ(p.b.waitFor("RING\r\n", 5000), "\r\nRING\r\n");
  p.b.write("ATA\r");
  // The Class 2.0 modem's own T.30 sends CSI and DIS.
  EXPECT_EQ(p.a.waitForResult(), "\r\nCONNECT\r\n");
  auto csi = p.a.readDleBlock();
  ASSERT_GE(csi.size(), 3u);
  EXPECT_EQ(csi[2], 0x40);
  EXPECT_EQ(parseIdFrame(std::vector<uint8_t>(csi.begin(), csi.end() - 2)), "C20");
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.command("AT+FRH=3"), "\r\nCONNECT\r\n");
  auto dis = p.a.readDleBlock();
  ASSERT_GE(dis.size(), 5u);
  EXPECT_EQ(dis[2], 0x80);
  EXPECT_TRUE(fcsValid(dis));
  EXPECT_EQ(parseDis(std::vector<uint8_t>(dis.begin(), dis.end() - 2)).br, 5);
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  // TSI + DCS at 9600, TCF.
  EXPECT_EQ(p.a.command("AT+FTH=3"), "\r\nCONNECT\r\n");
  p.a.sendFrame(buildIdFrame(0x43, "C1", false));
  EXPECT_EQ(p.a.waitForResult(), "\r\nCONNECT\r\n");
  p.a.sendFrame({0xFF, 0x13, 0x83, 0x00, 0x46, 0x80, 0x00});
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.command("AT+FTM=96"), "\r\nCONNECT\r\n");
  p.a.writeBytes(stuff(std::vector<uint8_t>(1800, 0)));
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.command("AT+FRH=3"), "\r\nCONNECT\r\n");
  EXPECT_EQ(p.a.readDleBlock(), (std::vector<uint8_t>{0xFF, 0x13, 0x84, 0xEA, 0x7D}));  // CFR
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.b.waitForResult(), "\r\n+FCO\r\n\r\n+FTI:\"C1\"\r\n\r\n+FCS:1,3,0,0,0,0,0,5\r\n\r\nOK\r\n");
  // The page, then EOP.
  const auto page = makePage(20);
  EXPECT_EQ(p.a.command("AT+FTM=96"), "\r\nCONNECT\r\n");
  p.a.writeBytes(stuff(page));
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.command("AT+FTH=3"), "\r\nCONNECT\r\n");
  p.a.sendFrame({0xFF, 0x13, 0x2F});
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.b.command("AT+FDR"), "\r\nCONNECT\r\n");
  p.b.writeBytes({0x12});
  EXPECT_EQ(p.b.readDleBlock(), page);
  EXPECT_EQ(p.b.waitForResult(), "\r\n+FPS:1,14,0,0,0\r\n\r\n+FET:2\r\n\r\nOK\r\n");
  p.b.write("AT+FDR\r");
  EXPECT_EQ(p.a.command("AT+FRH=3"), "\r\nCONNECT\r\n");
  EXPECT_EQ(p.a.readDleBlock(), (std::vector<uint8_t>{0xFF, 0x13, 0x8C, 0xA2, 0xF1}));  // MCF
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.command("AT+FTH=3"), "\r\nCONNECT\r\n");
  p.a.sendFrame({0xFF, 0x13, 0xFB});
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.b.waitForResult(), "\r\n+FHS:00\r\n\r\nOK\r\n");
}

TEST(Class2Call, RtnAfterPageOneMakesTheSenderRetrain) {
  ModemSetOptions o = fastPair();
  o.b.rtnPage = 1;
  Pair p(o);
  connect2(p, "2");
  const auto page = makePage(10);
  EXPECT_EQ(p.a.command("AT+FDT"), "\r\n+FDCS:1,5,0,2,0,0,0,0\r\n\r\nCONNECT\r\n");
  p.b.waitForResult();
  p.a.waitFor("\x11");
  p.a.writeBytes(stuff(page));
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  p.a.write("AT+FET=2\r");
  EXPECT_EQ(p.b.command("AT+FDR"), "\r\nCONNECT\r\n");
  p.b.writeBytes({0x12});
  p.b.readDleBlock();
  EXPECT_EQ(p.b.waitForResult(), "\r\n+FPTS:2,10,0,0,0\r\n\r\n+FET:2\r\n\r\nOK\r\n");
  p.b.write("AT+FDR\r");  // sends RTN, waits for the retrained page
  EXPECT_EQ(p.a.waitForResult(), "\r\n+FPTS:2\r\n\r\nOK\r\n");
  EXPECT_EQ(p.a.command("AT+FDT"), "\r\n+FDCS:1,5,0,2,0,0,0,0\r\n\r\nCONNECT\r\n");
  p.a.waitFor("\x11");
  p.a.writeBytes(stuff(page));
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  p.a.write("AT+FET=2\r");
  EXPECT_EQ(p.b.waitForResult(), "\r\n+FDCS:1,5,0,2,0,0,0,0\r\n\r\nCONNECT\r\n");
  p.b.writeBytes({0x12});
  EXPECT_EQ(p.b.readDleBlock(), reversed(page));
  EXPECT_EQ(p.b.waitForResult(), "\r\n+FPTS:1,10,0,0,0\r\n\r\n+FET:2\r\n\r\nOK\r\n");
  EXPECT_EQ(p.b.command("AT+FDR"), "\r\n+FHNG:0\r\n\r\nOK\r\n");
  EXPECT_EQ(p.a.waitForResult(), "\r\n+FPTS:1\r\n\r\n+FHNG:0\r\n\r\nOK\r\n");
}

TEST(Class2Call, TrainingFailsAboveTheLineSpeed) {
  ModemSetOptions o = fastPair();
  o.faults.maxRate = 7200;
  Pair p(o);
  connect2(p, "2");
  // 14400, 12000 and 9600 fail training (FTT); 7200 goes through.
  EXPECT_EQ(p.a.command("AT+FDT", "", 20000), "\r\n+FDCS:1,2,0,2,0,0,0,0\r\n\r\nCONNECT\r\n");
  EXPECT_EQ(p.b.waitForResult(20000), "\r\n+FCON\r\n\r\n+FTSI:\"SENDER 1\"\r\n\r\n+FDCS:1,2,0,2,0,0,0,0\r\n\r\nOK\r\n");
  // At 2400 nothing is left to fall back to.
  ModemSetOptions slow = fastPair();
  slow.faults.maxRate = 2400;
  slow.a.maxRate = 4800;
  Pair q(slow);
  connect2(q, "2");
  EXPECT_EQ(q.a.command("AT+FDT", "", 20000), "\r\n+FDCS:1,0,0,2,0,0,0,0\r\n\r\nCONNECT\r\n");
}

TEST(Class2Call, TrainingFailsAtEverySpeed) {
  // --train-fail-all: the frames get through, no high-speed carrier does.
  ModemSetOptions parsed;
  ASSERT_EQ(parseModemSetOptions({"pair", "--a", "/x/a", "--b", "/x/b", "--train-fail-all"}, parsed), "");
  ModemSetOptions o = fastPair();
  o.faults = parsed.faults;
  o.a.maxRate = 4800;
  Pair p(o);
  connect2(p, "2");
  // 4800 and 2400 both get FTT: the sender gives up with "no training at 2400".
  EXPECT_EQ(p.a.command("AT+FDT", "", 20000), "\r\n+FHNG:27\r\n\r\nOK\r\n");
  EXPECT_EQ(p.b.waitForResult(20000), "\r\n+FHNG:70\r\n\r\nOK\r\n");
}

TEST(Class2Call, NoiseOnThePageIsReportedAsBad) {
  ModemSetOptions o = fastPair();
  o.faults.corruptPage = 1;
  Pair p(o);
  connect2(p, "2");
  const auto page = makePage(30);
  EXPECT_EQ(p.a.command("AT+FDT"), "\r\n+FDCS:1,5,0,2,0,0,0,0\r\n\r\nCONNECT\r\n");
  p.b.waitForResult();
  p.a.waitFor("\x11");
  p.a.writeBytes(stuff(page));
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  p.a.write("AT+FET=0\r");
  EXPECT_EQ(p.b.command("AT+FDR"), "\r\nCONNECT\r\n");
  p.b.writeBytes({0x12});
  const auto got = reversed(p.b.readDleBlock());
  EXPECT_EQ(got.size(), page.size());
  EXPECT_NE(got, page);
  const std::string rep = p.b.waitForResult();
  EXPECT_EQ(rep.substr(0, 10), "\r\n+FPTS:2,");
  // The DTE may override the modem's verdict.
  EXPECT_EQ(p.b.command("AT+FPTS=1"), "\r\nOK\r\n");
  p.b.write("AT+FDR\r");
  EXPECT_EQ(p.a.waitForResult(), "\r\n+FPTS:1\r\n\r\nOK\r\n");
}

// Line faults name pages of the fax: page 1 is the first page after training, whatever class the
// sending modem runs (the Class 1 sender's count is checked in MixedClasses).
void linePagesCountFromTheFirstPage(const std::string& cls) {
  const bool v20 = cls == "2.0";
  ModemSetOptions o = fastPair();
  o.faults.corruptPage = 2;
  o.faults.dropInPage = 3;
  o.faults.dropAfterBytes = 100;
  Pair p(o);
  connect2(p, cls);
  auto hang = [&](int code) {
    return std::string("\r\n") + (v20 ? "+FHS:" : "+FHNG:") + std::to_string(code) + "\r\n\r\nOK\r\n";
  };
  const auto page = makePage(30);
  EXPECT_EQ(p.a.command("AT+FDT"), std::string("\r\n") + (v20 ? "+FCS:" : "+FDCS:") + "1,5,0,2,0,0,0,0\r\n\r\nCONNECT\r\n");
  p.b.waitForResult();
  for (int n = 1; n <= 3; ++n) {
    SCOPED_TRACE("page " + std::to_string(n));
    if (n > 1) {
      EXPECT_EQ(p.a.command("AT+FDT"), "\r\nCONNECT\r\n");
    }
    if (!v20) {
      EXPECT_EQ(p.a.waitFor("\x11"), "\x11");
    }
    p.a.writeBytes(stuff(page, {0x10, static_cast<uint8_t>(v20 ? (n == 3 ? '.' : ',') : 0x03)}));
    if (n == 3) {
      EXPECT_EQ(p.a.waitForResult(), hang(40));
    } else if (!v20) {
      EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
      p.a.write("AT+FET=0\r");
    }
    if (n == 1) EXPECT_EQ(p.b.command("AT+FDR"), "\r\nCONNECT\r\n");
    else EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
    p.b.writeBytes({0x12});
    auto got = p.b.readDleBlock();
    if (!v20) got = reversed(got);
    if (n == 3) {
      EXPECT_EQ(got, std::vector<uint8_t>(page.begin(), page.begin() + 100));
      EXPECT_EQ(p.b.waitForResult(), hang(90));
      break;
    }
    EXPECT_EQ(got.size(), page.size());
    EXPECT_EQ(got == page, n == 1);
    EXPECT_EQ(p.b.waitForResult().substr(0, v20 ? 8 : 9), std::string("\r\n") + (v20 ? "+FPS:" : "+FPTS:") + (n == 1 ? "1" : "2"));
    if (n == 2) {
      EXPECT_EQ(p.b.command(v20 ? "AT+FPS=1" : "AT+FPTS=1"), "\r\nOK\r\n");  // take it anyway
    }
    p.b.write("AT+FDR\r");
    EXPECT_EQ(p.a.waitForResult(), v20 ? "\r\nOK\r\n" : "\r\n+FPTS:1\r\n\r\nOK\r\n");
  }
}

TEST(Class2Call, LineFaultsHitTheNamedPageClass2Sender) { linePagesCountFromTheFirstPage("2"); }
TEST(Class2Call, LineFaultsHitTheNamedPageClass20Sender) { linePagesCountFromTheFirstPage("2.0"); }

// The receiving DTE ends the session with +FK/+FKS while the page is on its way: its modem says
// goodbye (DCN) and hangs up; the sender's modem reports the lost call instead of a sent page.
void receiverAbortEndsTheCall(const std::string& cls) {
  const bool v20 = cls == "2.0";
  Pair p;
  connect2(p, cls);
  EXPECT_EQ(p.a.command("AT+FDT"), std::string("\r\n") + (v20 ? "+FCS:" : "+FDCS:") + "1,5,0,2,0,0,0,0\r\n\r\nCONNECT\r\n");
  p.b.waitForResult();
  if (!v20) {
    EXPECT_EQ(p.a.waitFor("\x11"), "\x11");
  }
  EXPECT_EQ(p.b.command(v20 ? "AT+FKS" : "AT+FK"), v20 ? "\r\n+FHS:02\r\n\r\nOK\r\n" : "\r\n+FHNG:2\r\n\r\nOK\r\n");
  p.a.writeBytes(stuff(makePage(30), {0x10, static_cast<uint8_t>(v20 ? '.' : 0x03)}));
  EXPECT_EQ(p.a.waitForResult(), v20 ? "\r\n+FHS:40\r\n\r\nOK\r\n" : "\r\n+FHNG:40\r\n\r\nOK\r\n");
  EXPECT_EQ(p.a.command("AT+FDT"), "\r\nERROR\r\n");
  EXPECT_EQ(p.b.command("AT+FDR"), "\r\nERROR\r\n");
}

TEST(Class2Call, ReceiverFkEndsTheCallClass2) { receiverAbortEndsTheCall("2"); }
TEST(Class2Call, ReceiverFksEndsTheCallClass20) { receiverAbortEndsTheCall("2.0"); }

TEST(Class2Call, LineDroppedInThePage) {
  ModemSetOptions o = fastPair();
  o.faults.dropInPage = 1;
  o.faults.dropAfterBytes = 100;
  Pair p(o);
  connect2(p, "2");
  const auto page = makePage(200);
  EXPECT_EQ(p.a.command("AT+FDT"), "\r\n+FDCS:1,5,0,2,0,0,0,0\r\n\r\nCONNECT\r\n");
  p.b.waitForResult();
  p.a.waitFor("\x11");
  p.b.write("AT+FDR\r");
  p.a.writeBytes(stuff(page));
  EXPECT_EQ(p.a.waitForResult(), "\r\n+FHNG:40\r\n\r\nOK\r\n");
  EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
  p.b.writeBytes({0x12});
  bool complete = false;
  const auto got = p.b.readDleBlock(5000, &complete);
  EXPECT_TRUE(complete);
  EXPECT_EQ(got.size(), 100u);
  EXPECT_EQ(p.b.waitForResult(), "\r\n+FHNG:90\r\n\r\nOK\r\n");
}

TEST(Class2Call, AbortWithFkAndOnlySomeClasses) {
  ModemSetOptions o = fastPair();
  o.b.classes = "0,1";
  Pair p(o);
  EXPECT_EQ(p.b.command("AT+FCLASS=2"), "\r\nERROR\r\n");
  EXPECT_EQ(p.b.command("AT+FCLASS=2.0"), "\r\nERROR\r\n");
  EXPECT_EQ(p.b.command("AT+FCLASS=?"), "\r\n0,1\r\n\r\nOK\r\n");
  // A Class 2 caller to a Class 1 answerer that sends a DIS; the caller aborts with +FK.
  EXPECT_EQ(p.a.command("AT+FCLASS=2"), "\r\nOK\r\n");
  EXPECT_EQ(p.b.command("AT+FCLASS=1"), "\r\nOK\r\n");
  p.a.write("ATD1\r");
  EXPECT_EQ(p.b.waitFor("RING\r\n"), "\r\nRING\r\n");
  EXPECT_EQ(p.b.command("ATA"), "\r\nCONNECT\r\n");
  p.b.sendFrame({0xFF, 0x13, 0x80, 0x00, 0x4E, 0x08});  // DIS: up to 9600, fine
  EXPECT_EQ(p.b.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.waitForResult(), "\r\n+FCON\r\n\r\n+FDIS:1,3,0,2,0,0,0,5\r\n\r\nOK\r\n");
  p.b.write("AT+FRH=3\r");
  EXPECT_EQ(p.a.command("AT+FK"), "\r\n+FHNG:2\r\n\r\nOK\r\n");
  EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
  EXPECT_EQ(p.b.readDleBlock(), withFcsBytes({0xFF, 0x13, 0xFB}));  // DCN
}
