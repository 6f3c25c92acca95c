// spandsp's T.30 terminal calls `qvfax receive` (our Class 1 receiver in its own process) through
// spandsp's T.31 modem on a pseudo-terminal: every page must arrive pixel for pixel, filed with the
// resolution it was sent at, at every speed the receiver offers.
#include <tiffio.h>

#include "../../fax/e2e/fax_harness.h"
#include "fax_spandsp_peer.h"
#include "spandsp_pages.h"

namespace qv::fax::test {
namespace {

struct Received {
  int exitStatus = -1;
  std::string output;
  int peerCompletion = -1;
  t30_stats_t stats{};
  int rtnHeard = 0, rtpHeard = 0;  // by spandsp's sender
};

// The receiver's process is stopped for `ms` once it has sent its `n`th frame of kind `fcf`.
struct Stall {
  uint8_t fcf = 0;
  int n = 0;
  int ms = 0;
};

// The data of the receiver's `frm`th carrier (1: the training check, 2: the first page) gets one
// byte of noise in every `spacing`.
struct CarrierNoise {
  int frm = 0;
  int spacing = 1;
};

// One call: spandsp sends `pages` to `qvfax receive --bps bps`, which files them in dir/in.
// `lateFrm`/`lateMs`: that AT+FRM of the receiver reaches the modem so much later.
Received ReceiveCall(const TempDir& dir, const std::vector<TiffPage>& pages, int bps, int lateFrm = 0,
                     int lateMs = 0, Stall stall = {}, CarrierNoise noise = {}) {
  Received r;
  if (!WriteTiff(dir.str("tx.tif"), pages)) return r;
  SpandspPeer peer(true, dir.str("tx.tif"), "");
  if (!peer.ok()) return r;
  if (lateFrm > 0) peer.DelayFrm(lateFrm, lateMs);
  if (noise.frm > 0) peer.NoiseOnCarrier(noise.frm, noise.spacing);
  // Real time: the receiver paces its frames for a real line.
  peer.Start(20);
  {
    ReceiverProcess rx;
    ReceiverProcess::Options o;
    o.faxClass = fcClass1;
    o.bps = bps;
    o.station = "RECEIVER 1";
    o.exitOnError = true;  // a failing case fails at once instead of at the time-out
    // Ringing before the receiver waits for calls would go unheard: Start waits for that.
    if (rx.Start(peer.device(), dir.str("in"), dir.str("rx.out"), o)) {
      if (stall.n > 0) peer.StallAfterFrame(rx.Pid(), stall.fcf, stall.n, stall.ms);
      peer.Ring();
      r.exitStatus = rx.WaitExit(150);
    }
    r.output = rx.Output();
  }
  for (int i = 0; i < 200 && !peer.finished(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  peer.Stop();
  r.peerCompletion = peer.finished() ? peer.completion() : -1;
  r.stats = peer.Stats();
  r.rtnHeard = peer.FramesHeard(kFcfRtn);
  r.rtpHeard = peer.FramesHeard(kFcfRtp);
  return r;
}

// The pages of the one file the receiver wrote, checked against what was sent.
void ExpectFiled(const TempDir& dir, const std::vector<TiffPage>& sent) {
  std::vector<std::string> files;
  for (auto& e : fs::directory_iterator(dir.path() / "in")) files.push_back(e.path().filename().string());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0], "FAX0001.QVF");
  std::vector<ReceivedPage> pages;
  std::string station;
  ASSERT_TRUE(ReadReceived(dir.str("in/FAX0001.QVF"), pages, &station));
  EXPECT_EQ(station, "SPANDSP PEER        ");
  ASSERT_EQ(pages.size(), sent.size());
  for (size_t p = 0; p < sent.size(); ++p) {
    Raster rows;
    faximage::T4Decoder decoder([&](std::span<const uint8_t> row) { rows.emplace_back(row.begin(), row.end()); });
    decoder.startPage();
    decoder.feed(pages[p].data.data(), pages[p].data.size());
    EXPECT_TRUE(decoder.pageEnded()) << "page " << p + 1;
    EXPECT_EQ(decoder.badCodes(), 0) << "page " << p + 1;
    EXPECT_EQ((pages[p].flags & kPageHighRes) != 0, sent[p].fine) << "page " << p + 1;
    EXPECT_TRUE(rows == sent[p].rows) << "page " << p + 1 << ": " << rows.size() << " rows";
  }
}

std::vector<TiffPage> Pages(std::initializer_list<bool> fine, int rows) {
  std::vector<TiffPage> pages;
  int p = 0;
  for (bool f : fine) {
    TiffPage page;
    page.fine = f;
    for (int r = 0; r < rows; ++r) page.rows.push_back(PatternRow(p + 11, r));
    pages.push_back(page);
    ++p;
  }
  return pages;
}

class ReceiveAtSpeed : public ::testing::TestWithParam<int> {};

// The receiver offers up to --bps; spandsp takes the fastest offered and trains at it.
TEST_P(ReceiveAtSpeed, PageArrivesPixelExact) {
  const int bps = GetParam();
  TempDir dir;
  auto sent = Pages({false}, 60);
  Received r = ReceiveCall(dir, sent, bps);
  ASSERT_EQ(r.exitStatus, 0) << r.output;
  EXPECT_NE(r.output.find("0 1 fax received"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("error"), std::string::npos) << r.output;
  EXPECT_EQ(r.peerCompletion, T30_ERR_OK) << t30_completion_code_to_str(r.peerCompletion);
  EXPECT_EQ(r.stats.bit_rate, bps);
  EXPECT_EQ(r.stats.pages_tx, 1);
  ExpectFiled(dir, sent);
}

INSTANTIATE_TEST_SUITE_P(Class1, ReceiveAtSpeed, ::testing::Values(14400, 12000, 9600, 7200),
                         [](const auto& info) { return std::to_string(info.param); });

// A standard cover page and two fine pages: the sender renegotiates when the resolution changes,
// and each page is filed with its own resolution in the one file of the call.
TEST(ReceiveMixedResolution, StandardCoverThenFinePages) {
  TempDir dir;
  auto sent = Pages({false, true, true}, 50);
  Received r = ReceiveCall(dir, sent, 9600);
  ASSERT_EQ(r.exitStatus, 0) << r.output;
  EXPECT_NE(r.output.find("0 1 fax received"), std::string::npos) << r.output;
  EXPECT_EQ(r.peerCompletion, T30_ERR_OK) << t30_completion_code_to_str(r.peerCompletion);
  EXPECT_EQ(r.stats.pages_tx, 3);
  ExpectFiled(dir, sent);
}

// A receiver kept off the CPU asks for a carrier when the sender has sent it and is back on V.21:
// the modem answers +FCERROR. A fax machine recovers. A missed training check: the sender, without
// an answer, repeats DCS and trains again. A missed page: its post-page command gets RTN, and the
// sender trains again and sends the page once more.
struct LateTurn {
  const char* name;
  int frm;  // which AT+FRM is late: 1 for the training check, 2 for the first page
  int ms;
};

class ReceiveLate : public ::testing::TestWithParam<LateTurn> {};

TEST_P(ReceiveLate, MissedCarrierIsAskedForAgain) {
  TempDir dir;
  auto sent = Pages({false, false}, 60);
  Received r = ReceiveCall(dir, sent, 9600, GetParam().frm, GetParam().ms);
  ASSERT_EQ(r.exitStatus, 0) << r.output;
  EXPECT_NE(r.output.find("0 1 fax received"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("error"), std::string::npos) << r.output;
  EXPECT_EQ(r.peerCompletion, T30_ERR_OK) << t30_completion_code_to_str(r.peerCompletion);
  EXPECT_EQ(r.stats.pages_tx, 2);
  ExpectFiled(dir, sent);
}

INSTANTIATE_TEST_SUITE_P(Class1, ReceiveLate,
                         ::testing::Values(LateTurn{"TrainingCheck", 1, 2000}, LateTurn{"FirstPage", 2, 1500}),
                         [](const auto& info) { return std::string(info.param.name); });

// The receiver is starved right after confirming a page, so its request for the next page's
// carrier comes after that page went by, and the modem hears the sender's MPS instead. It looks
// like a sender repeating an MPS whose MCF it missed; but a receiver that knows it was late must
// not confirm a page it never filed: it answers RTN and the page comes again.
TEST(ReceiveStarved, APageMissedAfterOurMcfIsSentAgainNotLost) {
  TempDir dir;
  auto sent = Pages({false, false, false}, 60);
  Received r = ReceiveCall(dir, sent, 9600, 0, 0, Stall{kFcfMcf, 1, 3000});
  ASSERT_EQ(r.exitStatus, 0) << r.output;
  EXPECT_NE(r.output.find("0 1 fax received"), std::string::npos) << r.output;
  EXPECT_EQ(r.peerCompletion, T30_ERR_OK) << t30_completion_code_to_str(r.peerCompletion);
  ExpectFiled(dir, sent);
}

// Noise garbles the first page on the line. Our receiver answers RTN and leaves it out of the
// file; spandsp's sender trains again and sends it once more, and both ends end well with every
// page filed pixel for pixel.
TEST(ReceiveNoisyLine, GarbledPageIsRefusedAndSentAgain) {
  TempDir dir;
  auto sent = Pages({false, false}, 60);
  Received r = ReceiveCall(dir, sent, 9600, 0, 0, {}, CarrierNoise{2, 7});
  ASSERT_EQ(r.exitStatus, 0) << r.output;
  EXPECT_NE(r.output.find("0 1 fax received"), std::string::npos) << r.output;
  EXPECT_EQ(r.peerCompletion, T30_ERR_OK) << t30_completion_code_to_str(r.peerCompletion);
  EXPECT_EQ(r.rtnHeard, 1);
  EXPECT_EQ(r.stats.pages_tx, 2);
  ExpectFiled(dir, sent);
}

// A few bytes of noise in the first page: it is kept as it came (a few rows of hundreds lost),
// RTP asks spandsp to train again, and the second page arrives whole.
TEST(ReceiveNoisyLine, PageWithAFewBadRowsIsKeptWithRtp) {
  TempDir dir;
  auto sent = Pages({false, false}, 250);
  Received r = ReceiveCall(dir, sent, 9600, 0, 0, {}, CarrierNoise{2, 1500});
  ASSERT_EQ(r.exitStatus, 0) << r.output;
  EXPECT_NE(r.output.find("0 1 fax received"), std::string::npos) << r.output;
  EXPECT_EQ(r.peerCompletion, T30_ERR_OK) << t30_completion_code_to_str(r.peerCompletion);
  EXPECT_EQ(r.rtpHeard, 1);
  EXPECT_EQ(r.rtnHeard, 0);
  EXPECT_EQ(r.stats.pages_tx, 2);
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(dir.str("in/FAX0001.QVF"), pages));
  ASSERT_EQ(pages.size(), 2u);
  faximage::T4Decoder first;
  first.feed(pages[0].data.data(), pages[0].data.size());
  EXPECT_GT(first.badRows(), 0u) << "the damaged copy is the one kept";
  EXPECT_GT(first.goodRows(), 240u);
  Raster rows;
  faximage::T4Decoder second([&](std::span<const uint8_t> row) { rows.emplace_back(row.begin(), row.end()); });
  second.feed(pages[1].data.data(), pages[1].data.size());
  EXPECT_EQ(second.badRows(), 0u);
  EXPECT_TRUE(rows == sent[1].rows) << rows.size() << " rows";
}

TEST(ReceiveOptions, BpsMustBeAFaxSpeed) {
  TempDir dir;
  ReceiverProcess rx;
  ReceiverProcess::Options o;
  o.bps = 8000;
  EXPECT_FALSE(rx.Start("/dev/null", dir.str("in"), dir.str("rx.out"), o));
  EXPECT_EQ(rx.WaitExit(20), 2);
  EXPECT_NE(rx.Output().find("--bps is 2400, 4800, 7200, 9600, 12000 or 14400"), std::string::npos) << rx.Output();
}

}  // namespace
}  // namespace qv::fax::test
