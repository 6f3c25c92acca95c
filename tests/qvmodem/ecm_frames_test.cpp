// Class 1 error correction through the virtual line: the DTE frames its FCD frames itself and sends
// them as high-speed data; the line carries them bit for bit, and the frame faults damage exactly
// the frames they name, counted over the call.
#include "fax/soft_hdlc.h"
#include "fax/t30_frames.h"
#include "pair_fixture.h"

using namespace qv::modem;
using namespace qv::modem::test;

namespace {

const std::vector<uint8_t> kDis = {0xFF, 0x13, 0x80, 0x00, 0x6E, 0x08, 0x04};

// A called B; B's DIS is through. The next high-speed carrier from A is a page (no DCS before it).
struct EcmLine {
  explicit EcmLine(const ModemSetOptions& o = fastPair()) : p(o) {
    p.call("1", "1");
    EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
    EXPECT_EQ(p.a.waitForResult(), "\r\nCONNECT\r\n");
    p.b.sendFrame(kDis);
    EXPECT_EQ(p.b.waitForResult(), "\r\nOK\r\n");
    EXPECT_EQ(p.a.readDleBlock(), withFcsBytes(kDis));
    EXPECT_EQ(p.a.waitForResult(), "\r\nOK\r\n");
  }
  // One burst from A at 14400; what B's DTE read of it (DLE codes undone).
  std::vector<uint8_t> burst(const std::vector<uint8_t>& octets) {
    p.b.write("AT+FRM=146\r");
    EXPECT_EQ(p.a.command("AT+FTM=146"), "\r\nCONNECT\r\n");
    std::vector<uint8_t> wire;
    for (uint8_t c : octets) {
      wire.push_back(c);
      if (c == 0x10) wire.push_back(0x10);
    }
    wire.push_back(0x10);
    wire.push_back(0x03);
    p.a.writeBytes(wire);
    EXPECT_EQ(p.a.waitForResult(10000), "\r\nOK\r\n");
    EXPECT_EQ(p.b.waitForResult(), "\r\nCONNECT\r\n");
    bool complete = false;
    auto got = p.b.readDleBlock(10000, &complete);
    EXPECT_TRUE(complete);
    EXPECT_EQ(p.b.waitForResult(), "\r\nNO CARRIER\r\n");
    return got;
  }
  Pair p;
};

// Frame data with every octet the framing must survive (flags, DLE, all ones).
std::vector<uint8_t> frameData(int number) {
  std::vector<uint8_t> d(256);
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(i * 29 + number * 7);
  d[10] = 0x7E;
  d[11] = 0x10;
  d[12] = 0xFF;
  d[13] = 0xFF;
  return d;
}

// The burst of frames `numbers` (FCD frame numbers) and three RCPs, as the DTE frames it.
std::vector<uint8_t> burstOf(const std::vector<int>& numbers) {
  std::vector<std::vector<uint8_t>> frames;
  for (int n : numbers) {
    const auto d = frameData(n);
    frames.push_back(qv::fax::BuildFcdFrame(static_cast<uint8_t>(n), d.data(), d.size()));
  }
  for (int i = 0; i < 3; ++i) frames.push_back(qv::fax::BuildRcpFrame());
  return qv::fax::HdlcBurst(frames, 40);
}

// The FCD frame numbers that arrived whole (right data, good FCS), and the RCPs.
struct Arrived {
  std::vector<int> fcd;
  int rcp = 0;
};
Arrived deframe(const std::vector<uint8_t>& octets) {
  qv::fax::HdlcDeframer d;
  d.Put(octets);
  Arrived a;
  for (const auto& f : d.Take()) {
    if (f.size() >= 3 && f[2] == qv::fax::kFcfRcp) ++a.rcp;
    if (f.size() == 4 + 256 && f[2] == qv::fax::kFcfFcd &&
        std::equal(f.begin() + 4, f.end(), frameData(f[3]).begin()))
      a.fcd.push_back(f[3]);
  }
  return a;
}

std::vector<int> upTo(int n) {
  std::vector<int> v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = i;
  return v;
}

}  // namespace

// A whole block of 256 frames (some 67 KB on the line) arrives octet for octet.
TEST(EcmFrames, ALongBurstPassesUnchanged) {
  EcmLine line;
  const auto sent = burstOf(upTo(256));
  const auto got = line.burst(sent);
  EXPECT_EQ(got, sent);
  const Arrived a = deframe(got);
  EXPECT_EQ(a.fcd, upTo(256));
  EXPECT_EQ(a.rcp, 3);
}

// --corrupt-frame and --drop-frame name FCD frames of the call, resent ones counted: the named
// frames fail (bad FCS) or vanish, every other frame and the RCPs arrive whole. Four rounds on one
// frame, as a receiver must answer with four PPRs for the block (and the sender then sends CTC).
TEST(EcmFrames, NamedFramesAreDamagedAndTheRestArriveWhole) {
  ModemSetOptions o = fastPair();
  o.faults.corruptFrames = {3, 12, 13, 14};
  o.faults.dropFrames = {7};
  EcmLine line(o);
  // Call frames 1-10 are FCD 0-9: 3 (FCD 2) corrupt, 7 (FCD 6) lost.
  Arrived a = deframe(line.burst(burstOf(upTo(10))));
  EXPECT_EQ(a.fcd, (std::vector<int>{0, 1, 3, 4, 5, 7, 8, 9}));
  EXPECT_EQ(a.rcp, 3);
  // Resent: FCD 2 and 6 are call frames 11 and 12; 12 is corrupt.
  a = deframe(line.burst(burstOf({2, 6})));
  EXPECT_EQ(a.fcd, (std::vector<int>{2}));
  EXPECT_EQ(a.rcp, 3);
  // FCD 6 again (13), and again (14): damaged both times; the fifth try (15) gets through.
  for (int round = 0; round < 2; ++round) EXPECT_TRUE(deframe(line.burst(burstOf({6}))).fcd.empty()) << round;
  EXPECT_EQ(deframe(line.burst(burstOf({6}))).fcd, (std::vector<int>{6}));
}
