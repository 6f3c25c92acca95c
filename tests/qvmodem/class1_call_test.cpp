// Class 1 calls through the virtual line: both DTEs run T.30 themselves.
#include "pair_fixture.h"

using namespace qv::modem;
using namespace qv::modem::test;

namespace {
const std::vector<uint8_t> kCsi = {0xFF, 0x03, 0x40, ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', '4', '3', '2', '1'};
const std::vector<uint8_t> kDis = {0xFF, 0x13, 0x80, 0x00, 0x6E, 0x08};
const std::vector<uint8_t> kDcs = {0xFF, 0x13, 0x83, 0x00, 0x46, 0x00};
}  // namespace

TEST(Class1Call, AWholeSessionBothWays) {
  Pair p;
  p.call("1", "1");
  // Called side: CSI (not final) then DIS (final).
  EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
  EXPECT_EQ(p.a.waitForResult(), "\r\nCONNECT\r\n");  // ATD acts as +FRH=3
  p.b.sendFrame(kCsi);
  EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
  p.b.sendFrame(kDis);
  EXPECT_EQ(p.b.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.readDleBlock(), withFcsBytes(kCsi));
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.command("AT+FRH=3"), "\r\nCONNECT\r\n");  // the frame already in progress
  EXPECT_EQ(p.a.readDleBlock(), withFcsBytes(kDis));
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");

  // Caller: DCS, then TCF at 9600.
  p.b.write("AT+FRH=3\r");
  EXPECT_EQ(p.a.command("AT+FTH=3"), "\r\nCONNECT\r\n");
  p.a.sendFrame(kDcs);
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
  EXPECT_EQ(p.b.readDleBlock(), withFcsBytes(kDcs));
  EXPECT_EQ(p.b.waitForResult(), "\r\nOK\r\n");
  p.b.write("AT+FRM=96\r");
  EXPECT_EQ(p.a.command("AT+FTS=8"), "\r\nOK\r\n");
  EXPECT_EQ(p.a.command("AT+FTM=96"), "\r\nCONNECT\r\n");
  std::vector<uint8_t> tcf(1800, 0);
  std::vector<uint8_t> stuffed = tcf;
  stuffed.push_back(0x10);
  stuffed.push_back(0x03);
  p.a.writeBytes(stuffed);
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
  bool complete = false;
  EXPECT_EQ(p.b.readDleBlock(5000, &complete), tcf);
  EXPECT_TRUE(complete);
  EXPECT_EQ(p.b.waitForResult(), "\r\nNO CARRIER\r\n");

  // CFR back, then a page full of DLE and ETX bytes.
  p.a.write("AT+FRH=3\r");
  EXPECT_EQ(p.b.command("AT+FTH=3"), "\r\nCONNECT\r\n");
  p.b.sendFrame({0xFF, 0x13, 0x84});
  EXPECT_EQ(p.b.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.waitForResult(), "\r\nCONNECT\r\n");
  EXPECT_EQ(p.a.readDleBlock(), (std::vector<uint8_t>{0xFF, 0x13, 0x84, 0xEA, 0x7D}));
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  p.b.write("AT+FRM=146\r");
  EXPECT_EQ(p.a.command("AT+FTM=145"), "\r\nCONNECT\r\n");  // long and short V.17 training meet
  std::vector<uint8_t> page;
  for (int i = 0; i < 5000; ++i) page.push_back(static_cast<uint8_t>(i * 7 + (i % 3 == 0 ? 0x10 : 0)));
  page.push_back(0x10);
  page.push_back(0x03);
  std::vector<uint8_t> wire;
  for (uint8_t c : page) {
    wire.push_back(c);
    if (c == 0x10) wire.push_back(0x10);
  }
  wire.push_back(0x10);
  wire.push_back(0x03);
  p.a.writeBytes(wire);
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
  EXPECT_EQ(p.b.readDleBlock(5000, &complete), page);
  EXPECT_TRUE(complete);
  EXPECT_EQ(p.b.waitForResult(), "\r\nNO CARRIER\r\n");

  // EOP / MCF / DCN, then both hang up.
  p.b.write("AT+FRH=3\r");
  EXPECT_EQ(p.a.command("AT+FTH=3"), "\r\nCONNECT\r\n");
  p.a.sendFrame({0xFF, 0x13, 0x2F});
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
  EXPECT_EQ(p.b.readDleBlock(), (std::vector<uint8_t>{0xFF, 0x13, 0x2F, 0x33, 0x66}));
  EXPECT_EQ(p.b.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.command("ATH0"), "\r\nOK\r\n");
  // The caller has gone: the next receive finds no carrier, and then the modem is on hook.
  EXPECT_EQ(p.b.command("AT+FRH=3"), "\r\nNO CARRIER\r\n");
  EXPECT_EQ(p.b.command("AT+FRH=3"), "\r\nERROR\r\n");
}

TEST(Class1Call, WrongCarrierAndDteAbort) {
  Pair p;
  p.call("1", "1");
  EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
  p.b.sendFrame(kDis);
  EXPECT_EQ(p.b.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.waitForResult(), "\r\nCONNECT\r\n");
  p.a.readDleBlock();
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  // The receiver expects training at 9600 but V.21 flags come: +FCERROR, then the frames are
  // still there for +FRH=3.
  EXPECT_EQ(p.a.command("AT+FTH=3"), "\r\nCONNECT\r\n");
  p.a.sendFrame(kDcs);
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.b.command("AT+FRM=96"), "\r\n+FCERROR\r\n");
  EXPECT_EQ(p.b.command("AT+FRH=3"), "\r\nCONNECT\r\n");
  EXPECT_EQ(p.b.readDleBlock(), withFcsBytes(kDcs));
  EXPECT_EQ(p.b.waitForResult(), "\r\nOK\r\n");
  // A carrier at another speed is not demodulated; any character from the DTE ends the wait.
  p.b.write("AT+FRM=48\r");
  EXPECT_EQ(p.a.command("AT+FTM=96"), "\r\nCONNECT\r\n");
  p.a.writeBytes({0, 0, 0, 0, 0x10, 0x03});
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.b.drain(300), "");
  p.b.write(" ");
  EXPECT_EQ(p.b.waitForResult(), "\r\nOK\r\n");
  // A transmitter that sends nothing after CONNECT loses its carrier with ERROR after 5 s.
  EXPECT_EQ(p.a.command("AT+FTH=3"), "\r\nCONNECT\r\n");
  EXPECT_EQ(p.a.waitForResult(7000), "\r\nERROR\r\n");
}

TEST(Class1Call, BadFrameChecksumGivesError) {
  // Noise on the line: the receiver gets the frame with a broken FCS and answers ERROR.
  ModemSetOptions o = fastPair();
  Pair p(o);
  p.call("1", "1");
  EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
  EXPECT_EQ(p.a.waitForResult(), "\r\nCONNECT\r\n");
  // The line carries what the modem computed; corrupt it through the line's own API.
  p.set.line()->sendFrame(1, {0xFF, 0x13, 0x80, 0x00, 0x00, 0x00});
  p.set.line()->carrierOff(1);
  EXPECT_EQ(p.a.readDleBlock(), (std::vector<uint8_t>{0xFF, 0x13, 0x80, 0x00, 0x00, 0x00}));
  EXPECT_EQ(p.a.waitForResult(), "\r\nERROR\r\n");
}

TEST(Class1Call, AutoAnswerAndRings) {
  Pair p;
  EXPECT_EQ(p.a.command("AT+FCLASS=1"), "\r\nOK\r\n");
  EXPECT_EQ(p.b.command("AT+FCLASS=1;S0=2"), "\r\nOK\r\n");
  p.a.write("ATD5551234\r");
  // Two rings, then the modem answers by itself (as +FTH=3 after ATA).
  EXPECT_EQ(p.b.waitFor("CONNECT\r\n", 5000), "\r\nRING\r\n\r\nRING\r\n\r\nCONNECT\r\n");
  p.b.sendFrame(kDis);
  EXPECT_EQ(p.b.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.waitForResult(), "\r\nCONNECT\r\n");
  EXPECT_EQ(p.a.readDleBlock(), withFcsBytes(kDis));
}

TEST(Class1Call, NobodyAnswersWithinS7) {
  Pair p;
  EXPECT_EQ(p.a.command("AT+FCLASS=1;S7=1"), "\r\nOK\r\n");
  p.a.write("ATD5551234\r");
  EXPECT_EQ(p.b.waitFor("RING\r\n", 3000), "\r\nRING\r\n");
  EXPECT_EQ(p.a.waitForResult(3000), "\r\nNO CARRIER\r\n");
  // The ring stops with the call: answering now finds nothing.
  p.b.drain(500);
  EXPECT_EQ(p.b.command("ATA"), "\r\nNO CARRIER\r\n");
  // With "@" in the number the caller reports NO ANSWER instead.
  p.a.write("ATD@5551234\r");
  EXPECT_EQ(p.a.waitForResult(3000), "\r\nNO ANSWER\r\n");
}

TEST(Class1Call, DteKeystrokeCancelsDialling) {
  Pair p;
  EXPECT_EQ(p.a.command("AT+FCLASS=1"), "\r\nOK\r\n");
  p.a.write("ATD5551234\r");
  EXPECT_EQ(p.b.waitFor("RING\r\n", 3000), "\r\nRING\r\n");
  p.a.write("\r");
  EXPECT_EQ(p.a.waitForResult(), "\r\nNO CARRIER\r\n");
}

TEST(Class1Call, ScriptedDialOutcomesFollowTheResultSet) {
  struct Case {
    DialOutcome outcome;
    const char* x4;
    const char* x0;
  } cases[] = {
      {DialOutcome::Busy, "BUSY", "NO CARRIER"},
      {DialOutcome::NoDialtone, "NO DIALTONE", "NO CARRIER"},
      {DialOutcome::NoAnswer, "NO ANSWER", "NO CARRIER"},
      {DialOutcome::Voice, "VOICE", "VOICE"},
      {DialOutcome::NoCarrier, "NO CARRIER", "NO CARRIER"},
  };
  for (const auto& c : cases) {
    ModemSetOptions o = fastPair();
    o.dialOutcome = c.outcome;
    Pair p(o);
    EXPECT_EQ(p.a.command("AT+FCLASS=1;X4"), "\r\nOK\r\n");
    EXPECT_EQ(p.a.command("ATDT5551234"), std::string("\r\n") + c.x4 + "\r\n");
    EXPECT_EQ(p.a.command("ATX0DT5551234"), std::string("\r\n") + c.x0 + "\r\n");
    EXPECT_EQ(p.b.drain(200), "");  // nothing ever rang
    EXPECT_EQ(p.a.command("AT+FRH=3"), "\r\nERROR\r\n");  // back on hook
  }
  // Numeric results: BUSY is 7.
  ModemSetOptions o = fastPair();
  o.dialOutcome = DialOutcome::Busy;
  Pair p(o);
  EXPECT_EQ(p.a.command("ATV0X4D1", "\r"), "7\r");
}

TEST(Class1Call, PacedLineRunsAtTheModulationRate) {
  // Only A paces (the transmitting side sets the pace); B answers at once.
  ModemSetOptions o = fastPair();
  o.a.fast = false;
  Pair p(o);
  p.call("1", "1");
  EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
  p.b.sendFrame(kDis);
  EXPECT_EQ(p.b.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.waitForResult(8000), "\r\nCONNECT\r\n");
  p.a.readDleBlock();
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  p.b.write("AT+FRM=96\r");
  EXPECT_EQ(p.a.command("AT+FTM=96"), "\r\nCONNECT\r\n");
  // 2400 bytes at 9600 bit/s take two seconds on the line; OK comes when the last bit has left.
  std::vector<uint8_t> data(2400, 0x55);
  data.push_back(0x10);
  data.push_back(0x03);
  const auto start = std::chrono::steady_clock::now();
  p.a.writeBytes(data);
  EXPECT_EQ(p.a.waitForResult(8000), "\r\nOK\r\n");
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 1900);
  EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
  EXPECT_EQ(p.b.readDleBlock(), std::vector<uint8_t>(2400, 0x55));
}

TEST(Class1Call, PageAfterEopAndMcfIsAProtocolErrorThatEndsTheCall) {
  // A receiver that answered EOP with MCF has filed the fax; only DCN may follow. A sender that
  // starts another page instead must see the call end, not have the page swallowed.
  Pair p;
  p.call("1", "1");
  EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
  p.b.sendFrame(kDis);
  EXPECT_EQ(p.b.waitForResult(), "\r\nOK\r\n");
  EXPECT_EQ(p.a.waitForResult(), "\r\nCONNECT\r\n");
  p.a.readDleBlock();
  EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  Pair::passFrame(p.a, p.b, {0xFF, 0x13, 0x2F});  // EOP
  Pair::passFrame(p.b, p.a, {0xFF, 0x13, 0x8C});  // MCF
  // The receiver waits for DCN; a page carrier comes.
  p.b.write("AT+FRH=3\r");
  EXPECT_EQ(p.a.command("AT+FTM=96"), "\r\nCONNECT\r\n");
  EXPECT_EQ(p.b.waitForResult(), "\r\nNO CARRIER\r\n");
  p.a.writeBytes({0, 0, 0, 0, 0x10, 0x03});
  EXPECT_EQ(p.a.waitForResult(), "\r\nNO CARRIER\r\n");
  EXPECT_EQ(p.b.command("AT+FRH=3"), "\r\nERROR\r\n");  // on hook
}
