// spandsp's T.30 terminal calls `qvfax receive` (our Class 1 receiver in its own process) through
// spandsp's T.31 modem on a pseudo-terminal: every page must arrive pixel for pixel, filed with the
// resolution it was sent at, at every speed the receiver offers.
#include <tiffio.h>

#include "spandsp_receive_call.h"

namespace qv::fax::test {
namespace {

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
