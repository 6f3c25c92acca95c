// Fax calls through qvline on T.38: the call starts as G.711 and goes to T.38 by re-INVITE, from
// either end; the far end is line_peer, with spandsp's t38_terminal behind libre's SIP and a UDPTL
// of its own, dropping a seeded share of the datagrams both ways. Our Class 1 engine (qvfax)
// drives qvline's soft modem, whose audio goes through spandsp's t38_gateway and our UDPTL.
// Pages must arrive pixel for pixel. Calls run in real time; every process is bounded.
extern "C" {
#include <spandsp.h>
}

#include "line_harness.h"

namespace qv::fax::test {
namespace {

struct SendCase {
  const char* name;
  const char* peerT38;  // start, accept, refuse
  const char* loss;     // percent of UDPTL datagrams the peer drops each way
  bool fine;
  int bps;
  const char* media;    // what the call must end on: t38 or g711
  int refreshAfter;     // seconds after the switch: the peer's session refresh (0: none)
  int rows;             // rows of the page
  bool ecm = false;     // both ends with error correction
};

class LineT38Send : public ::testing::TestWithParam<SendCase> {};

// Our engine sends through qvline to line_peer, which answers.
TEST_P(LineT38Send, ThePageArrivesPixelExact) {
  const SendCase& c = GetParam();
  TempDir dir;
  auto doc = MakeQvf(dir.str("doc.qvf"), 1, c.fine, c.rows);
  Peer peer;
  std::vector<std::string> args = {"--answer", "--receive", dir.str("rx.tif"), "--seconds", "90", "--t38",
                                   c.peerT38, "--loss", c.loss, "--seed", "29"};
  if (c.refreshAfter > 0) args.insert(args.end(), {"--refresh-after", std::to_string(c.refreshAfter)});
  if (c.ecm) args.insert(args.end(), {"--ecm", "on"});
  ASSERT_TRUE(peer.Start(dir, args));
  Line line;
  ASSERT_TRUE(line.Start(dir, {"--peer", "127.0.0.1:" + std::to_string(peer.port())}, "on"));
  SenderProcess send;
  SenderProcess::Options o;
  o.faxClass = fcClass1;
  o.bps = c.bps;
  o.attempts = 1;
  if (c.ecm) o.ecm = "on";
  ASSERT_TRUE(send.Start(line.device(), dir.str("doc.qvf"), dir.str("send.out"), o));
  const int status = send.WaitExit(90);
  int completion = -1, pages = 0, rate = 0;
  ASSERT_TRUE(peer.Finish(20, completion, pages, rate)) << peer.Output();
  line.Stop();
  const std::string log = line.Log();
  EXPECT_EQ(status, 0) << send.Output() << log;
  EXPECT_EQ(completion, T30_ERR_OK) << t30_completion_code_to_str(completion) << "\n" << log << peer.Output();
  EXPECT_EQ(pages, 1);
  EXPECT_EQ(rate, c.bps);
  EXPECT_EQ(peer.media(), c.media) << log;
  auto got = ReadTiffPages(dir.str("rx.tif"));
  ASSERT_EQ(got.size(), 1u);
  size_t lead = 0;
  EXPECT_TRUE(SameRows(got[0], doc[0].raster, &lead));
  // The log says how the call went, for a person and for the desktop's call report.
  const std::string media = std::string(c.media) == "t38" ? "T.38" : "G.711 PCMU";
  EXPECT_NE(log.find("call summary: media " + media + ", rate " + std::to_string(c.bps)), std::string::npos) << log;
  EXPECT_NE(log.find("carrier +FTM="), std::string::npos) << log;
  if (std::string(c.peerT38) == "refuse") {
    EXPECT_NE(log.find("T.38 refused (488): the call stays on G.711"), std::string::npos) << log;
  }
  if (c.ecm) {
    // The call went with error correction (what it had to send again, redundancy may spare it).
    EXPECT_NE(send.Output().find("ECM on, "), std::string::npos) << send.Output();
  }
  if (std::string(c.loss) != "0") {
    // The loss did strike, and redundancy is what carried the page through it.
    EXPECT_GT(peer.dropped(), 0);
    EXPECT_EQ(log.find(", recovered 0, late"), std::string::npos) << log;
  }
  if (c.refreshAfter > 0) {
    // After the training check's carrier and before the page's carrier ended: during the page.
    const size_t refresh = log.find("re-INVITE without a change of media: T.38 goes on");
    const size_t training = log.find("carrier +FTM=");
    ASSERT_NE(refresh, std::string::npos) << log;
    ASSERT_NE(training, std::string::npos) << log;
    EXPECT_LT(training, refresh) << log;
    EXPECT_NE(log.find("carrier +FTM=", refresh), std::string::npos) << log;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Line, LineT38Send,
    ::testing::Values(
        // The far end re-INVITEs first, on a lossy network: redundancy fills the gaps. The page
        // takes longer than the line's 10 s of allowed silence, which a T.38 receiver keeps
        // while it takes a page in: that is no sign of a dead far end.
        SendCase{"PeerStartsLongFinePage9600Loss3", "start", "3", true, 9600, "t38", 0, 900},
        // A far end that only accepts: we offer on hearing its answer; it refreshes the
        // session mid-page (a full page runs from about 11 s to 18 s after the switch), which
        // must not disturb the page.
        SendCase{"WeStartFullStandardPage14400Refreshed", "accept", "0", false, 14400, "t38", 15, 1100},
        // Refused with 488: the page goes over G.711.
        SendCase{"RefusedStaysOnG711", "refuse", "0", false, 9600, "g711", 0, 200},
        // 5 % loss with error correction on both ends: whatever redundancy cannot fill, error
        // correction asks for again, and the page arrives pixel for pixel.
        SendCase{"WeStartFinePage9600Loss5WithEcm", "accept", "5", true, 9600, "t38", 0, 400, true}),
    [](const auto& info) { return std::string(info.param.name); });

// line_peer calls and sends a page; qvline answers for our receiving engine and offers T.38
// itself. Returns the line's log once the call is over and the page checked pixel for pixel;
// `dropped`: the UDPTL datagrams the peer's loss dropped.
std::string PeerSendsAPage(const TempDir& dir, const std::vector<std::string>& peerT38, long* dropped = nullptr) {
  std::vector<TiffPage> sent(1);
  for (int r = 0; r < 200; ++r) sent[0].rows.push_back(PatternRow(11, r));
  EXPECT_TRUE(WriteTiff(dir.str("tx.tif"), sent));
  Line line;
  if (!line.Start(dir, {}, "on")) return "qvline did not start";
  ReceiverProcess rx;
  ReceiverProcess::Options o;
  o.faxClass = fcClass1;
  o.bps = 14400;
  o.exitOnError = true;
  EXPECT_TRUE(rx.Start(line.device(), dir.str("in"), dir.str("rx.out"), o));
  Peer peer;
  std::vector<std::string> args = {"--call", "sip:fax@127.0.0.1:" + std::to_string(line.port()), "--send",
                                   dir.str("tx.tif"), "--seconds", "90"};
  args.insert(args.end(), peerT38.begin(), peerT38.end());
  EXPECT_TRUE(peer.Start(dir, args));
  const int status = rx.WaitExit(90);
  int completion = -1, pages = 0, rate = 0;
  EXPECT_TRUE(peer.Finish(20, completion, pages, rate)) << peer.Output();
  line.Stop();
  const std::string log = line.Log();
  if (dropped) *dropped = peer.dropped();
  EXPECT_EQ(status, 0) << rx.Output() << log;
  EXPECT_EQ(completion, T30_ERR_OK) << t30_completion_code_to_str(completion) << "\n" << log << peer.Output();
  EXPECT_EQ(pages, 1);
  EXPECT_EQ(rate, 14400);
  EXPECT_EQ(peer.media(), "t38") << log << peer.Output();
  std::vector<ReceivedPage> pagesIn;
  EXPECT_TRUE(ReadReceived(dir.str("in/FAX0001.QVF"), pagesIn));
  if (pagesIn.size() != 1u) {
    ADD_FAILURE() << pagesIn.size() << " pages received";
    return log;
  }
  Raster rows;
  faximage::T4Decoder decoder([&](std::span<const uint8_t> row) { rows.emplace_back(row.begin(), row.end()); });
  decoder.startPage();
  decoder.feed(pagesIn[0].data.data(), pagesIn[0].data.size());
  EXPECT_EQ(decoder.badCodes(), 0);
  EXPECT_TRUE(rows == sent[0].rows) << rows.size() << " rows";
  EXPECT_NE(log.find("offering T.38 (re-INVITE)"), std::string::npos) << log;
  EXPECT_NE(log.find("media: T.38 UDPTL version 0"), std::string::npos) << log;
  EXPECT_NE(log.find("call summary: media T.38, rate 14400"), std::string::npos) << log;
  return log;
}

TEST(LineT38Receive, WeStartAsTheReceiverAndThePageArrivesPixelExactThrough1PercentLoss) {
  TempDir dir;
  long dropped = 0;
  const std::string log = PeerSendsAPage(dir, {"--t38", "accept", "--loss", "1", "--seed", "7"}, &dropped);
  EXPECT_GT(dropped, 0);
  EXPECT_EQ(log.find(", recovered 0, late"), std::string::npos) << log;
}

// Both ends send their re-INVITE to T.38 at once: each answers the other's with 491, and each
// tries again after its own delay (we did not make the Call-ID: 0-2 s; the peer, which called:
// 2.1-4 s), so our second offer comes before the peer's and the call goes to T.38.
TEST(LineT38Receive, CrossingReInvitesAreResolvedWith491AndThePageArrivesOnT38) {
  TempDir dir;
  const std::string log = PeerSendsAPage(dir, {"--t38", "cross", "--seed", "3"});
  const std::string peerOut = ReadText(dir.str("peer.out"));
  EXPECT_NE(peerOut.find("crossing the line's re-INVITE with ours (sent)"), std::string::npos) << peerOut;
  // Ours crossed the peer's and was refused with 491; the line tried again after its delay. (The
  // peer's own offer is answered 491 by our SIP stack itself, which keeps no line of it.)
  EXPECT_NE(log.find("re-INVITEs crossed (491): offering T.38 again in"), std::string::npos) << log;
  // One switch to T.38, by our second offer; the peer's retry found the call on T.38 already.
  const size_t first = log.find("offering T.38 (re-INVITE)");
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_NE(log.find("offering T.38 (re-INVITE)", first + 1), std::string::npos) << log;
  EXPECT_EQ(peerOut.find("offering T.38 again after the glare"), std::string::npos) << peerOut;
}

// The far end goes silent mid-call on T.38 (its host gone: no packet, no BYE). The line hangs
// up after 10 s without a packet and tells the engine NO CARRIER, so the engine ends the call
// as failed instead of waiting on a modem that never speaks again.
TEST(LineT38Call, AFarEndThatVanishesIsHungUpOnAfterTenSilentSeconds) {
  TempDir dir;
  MakeQvf(dir.str("doc.qvf"), 1, false, 60);
  Peer peer;
  ASSERT_TRUE(peer.Start(dir, {"--answer", "--receive", dir.str("rx.tif"), "--seconds", "40", "--t38", "start",
                               "--vanish-after", "1"}));
  Line line;
  ASSERT_TRUE(line.Start(dir, {"--peer", "127.0.0.1:" + std::to_string(peer.port())}, "on"));
  SenderProcess send;
  SenderProcess::Options o;
  o.faxClass = fcClass1;
  o.attempts = 1;
  ASSERT_TRUE(send.Start(line.device(), dir.str("doc.qvf"), dir.str("send.out"), o));
  const int status = send.WaitExit(45);
  line.Stop();
  const std::string log = line.Log();
  EXPECT_EQ(status, 1) << send.Output() << log;
  EXPECT_NE(log.find("nothing from the far end for 10 s: hanging up"), std::string::npos) << log;
  EXPECT_NE(log.find("-> BYE"), std::string::npos) << log;
}

}  // namespace
}  // namespace qv::fax::test
