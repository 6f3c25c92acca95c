// Fax calls through qvline on G.711: our Class 1 engine (qvfax, in a process of its own) drives
// qvline's soft modem on its pseudo-terminal, and the far end is line_peer: another SIP stack
// (libre), its own RTP and spandsp's T.30 terminal. Pages must arrive pixel for pixel both ways.
// Calls run in real time; every process is bounded and ended by the test.
extern "C" {
#include <spandsp.h>
}

#include "line_harness.h"
#include "line/line_status.h"

namespace qv::fax::test {
namespace {

// A call that rings and is never answered carried nothing: the line tells no media for it, so
// that the log of whatever call comes next cannot take this one's.
TEST(LineG711, ACallNobodyAnswersTellsNoMedia) {
  TempDir dir;
  Line line;
  ASSERT_TRUE(line.Start(dir));
  Peer peer;
  ASSERT_TRUE(peer.Start(dir, {"--call", "sip:fax@127.0.0.1:" + std::to_string(line.port()), "--receive",
                               dir.str("rx.tif"), "--seconds", "4"}));
  int completion = -1, pages = 0, rate = 0;
  peer.Finish(15, completion, pages, rate);
  const std::string out = line.StopAndRead();
  EXPECT_NE(line.Log().find("incoming call from"), std::string::npos) << line.Log();
  EXPECT_EQ(out.find(std::string(qv::line::status::kMedia)), std::string::npos) << out;
}

TEST(LineG711, OurSenderDeliversAPagePixelExact) {
  TempDir dir;
  auto doc = MakeQvf(dir.str("doc.qvf"), 1, false, 60);
  Peer peer;
  ASSERT_TRUE(peer.Start(dir, {"--answer", "--receive", dir.str("rx.tif"), "--seconds", "90"}));
  Line line;
  ASSERT_TRUE(line.Start(dir, {"--peer", "127.0.0.1:" + std::to_string(peer.port())}));
  SenderProcess send;
  SenderProcess::Options o;
  o.faxClass = fcClass1;
  o.bps = 9600;
  o.attempts = 1;
  ASSERT_TRUE(send.Start(line.device(), dir.str("doc.qvf"), dir.str("send.out"), o));
  const int status = send.WaitExit(90);
  int completion = -1, pages = 0, rate = 0;
  ASSERT_TRUE(peer.Finish(20, completion, pages, rate)) << peer.Output();
  line.Stop();
  EXPECT_EQ(status, 0) << send.Output() << line.Log();
  EXPECT_EQ(completion, T30_ERR_OK) << t30_completion_code_to_str(completion) << "\n"
                                    << line.Log() << peer.Output();
  EXPECT_EQ(pages, 1);
  EXPECT_EQ(rate, 9600);
  auto got = ReadTiffPages(dir.str("rx.tif"));
  ASSERT_EQ(got.size(), 1u);
  size_t lead = 0;
  EXPECT_TRUE(SameRows(got[0], doc[0].raster, &lead));
  // The call log tells what happened: the SIP exchange and the media with its packet counts.
  const std::string log = line.Log();
  EXPECT_NE(log.find("-> INVITE sip:"), std::string::npos) << log;
  EXPECT_NE(log.find("<- SIP/2.0 200 OK"), std::string::npos) << log;
  EXPECT_NE(log.find("media: G.711 PCMU 20 ms"), std::string::npos) << log;
  EXPECT_NE(log.find("carrier +FTM=96: packets sent"), std::string::npos) << log;
}

TEST(LineG711, OurReceiverFilesAPagePixelExact) {
  TempDir dir;
  std::vector<TiffPage> sent(1);
  for (int r = 0; r < 60; ++r) sent[0].rows.push_back(PatternRow(11, r));
  ASSERT_TRUE(WriteTiff(dir.str("tx.tif"), sent));
  Line line;
  ASSERT_TRUE(line.Start(dir));
  ReceiverProcess rx;
  ReceiverProcess::Options o;
  o.faxClass = fcClass1;
  o.bps = 14400;
  o.exitOnError = true;
  ASSERT_TRUE(rx.Start(line.device(), dir.str("in"), dir.str("rx.out"), o));
  Peer peer;
  ASSERT_TRUE(peer.Start(dir, {"--call", "sip:fax@127.0.0.1:" + std::to_string(line.port()), "--send",
                               dir.str("tx.tif"), "--seconds", "90"}));
  const int status = rx.WaitExit(90);
  int completion = -1, pages = 0, rate = 0;
  ASSERT_TRUE(peer.Finish(20, completion, pages, rate)) << peer.Output();
  line.Stop();
  EXPECT_EQ(status, 0) << rx.Output() << line.Log();
  EXPECT_NE(rx.Output().find("0 1 fax received"), std::string::npos) << rx.Output();
  EXPECT_EQ(completion, T30_ERR_OK) << t30_completion_code_to_str(completion) << "\n"
                                    << line.Log() << peer.Output();
  EXPECT_EQ(pages, 1);
  EXPECT_EQ(rate, 14400);
  std::vector<ReceivedPage> pagesIn;
  ASSERT_TRUE(ReadReceived(dir.str("in/FAX0001.QVF"), pagesIn));
  ASSERT_EQ(pagesIn.size(), 1u);
  Raster rows;
  faximage::T4Decoder decoder([&](std::span<const uint8_t> row) { rows.emplace_back(row.begin(), row.end()); });
  decoder.startPage();
  decoder.feed(pagesIn[0].data.data(), pagesIn[0].data.size());
  EXPECT_EQ(decoder.badCodes(), 0);
  EXPECT_TRUE(rows == sent[0].rows) << rows.size() << " rows";
  const std::string log = line.Log();
  EXPECT_NE(log.find("<- INVITE sip:fax@"), std::string::npos) << log;
  EXPECT_NE(log.find("-> SIP/2.0 200 OK"), std::string::npos) << log;
}

// The far end hangs up in the middle of the call: the modem says NO CARRIER and the engine ends
// the call as failed at once, instead of waiting on a modem that never speaks again.
TEST(LineG711, AFarEndThatHangsUpMidCallEndsTheEnginesCall) {
  TempDir dir;
  MakeQvf(dir.str("doc.qvf"), 1, false, 60);
  Peer peer;
  ASSERT_TRUE(peer.Start(dir, {"--answer", "--receive", dir.str("rx.tif"), "--hangup-after", "4", "--seconds", "30"}));
  Line line;
  ASSERT_TRUE(line.Start(dir, {"--peer", "127.0.0.1:" + std::to_string(peer.port())}));
  SenderProcess send;
  SenderProcess::Options o;
  o.faxClass = fcClass1;
  o.attempts = 1;
  ASSERT_TRUE(send.Start(line.device(), dir.str("doc.qvf"), dir.str("send.out"), o));
  const auto start = std::chrono::steady_clock::now();
  const int status = send.WaitExit(40);
  const auto took = std::chrono::steady_clock::now() - start;
  line.Stop();
  EXPECT_EQ(status, 1) << send.Output();
  // Well before T.30's own give-up (three T4 time-outs and more) would end it.
  EXPECT_LT(took, std::chrono::seconds(20)) << send.Output();
  EXPECT_NE(line.Log().find("call ended: BYE from the far end"), std::string::npos) << line.Log();
}

// A far end that refuses the INVITE: the modem says BUSY, NO ANSWER or NO CARRIER as a modem
// does, and the engine ends the dial with its own code.
struct Refusal {
  int sipStatus;
  const char* engineError;  // "" when any failure other than busy or no answer will do
};

class LineRefused : public ::testing::TestWithParam<Refusal> {};

TEST_P(LineRefused, EndsTheDialWithTheModemsWord) {
  TempDir dir;
  MakeQvf(dir.str("doc.qvf"), 1, false, 10);
  Peer peer;
  ASSERT_TRUE(peer.Start(dir, {"--answer", "--receive", dir.str("rx.tif"), "--refuse",
                               std::to_string(GetParam().sipStatus), "--seconds", "20"}));
  Line line;
  ASSERT_TRUE(line.Start(dir, {"--peer", "127.0.0.1:" + std::to_string(peer.port())}));
  SenderProcess send;
  SenderProcess::Options o;
  o.faxClass = fcClass1;
  o.attempts = 1;
  ASSERT_TRUE(send.Start(line.device(), dir.str("doc.qvf"), dir.str("send.out"), o));
  const int status = send.WaitExit(40);
  line.Stop();
  const std::string out = send.Output();
  EXPECT_EQ(status, 1) << out;
  const std::string expected = GetParam().engineError;
  if (!expected.empty()) {
    EXPECT_NE(out.find(expected), std::string::npos) << out << line.Log();
  } else {
    EXPECT_EQ(out.find("busy"), std::string::npos) << out;
    EXPECT_EQ(out.find("did not answer"), std::string::npos) << out;
  }
  EXPECT_NE(line.Log().find("<- SIP/2.0 " + std::to_string(GetParam().sipStatus)), std::string::npos) << line.Log();
}

INSTANTIATE_TEST_SUITE_P(G711, LineRefused,
                         ::testing::Values(Refusal{486, "Called fax number was busy"},
                                           Refusal{480, "Remote fax did not answer"}, Refusal{404, ""},
                                           Refusal{603, ""}),
                         [](const auto& info) { return std::to_string(info.param.sipStatus); });

}  // namespace
}  // namespace qv::fax::test
