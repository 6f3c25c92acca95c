// spandsp's T.30 terminal sends to our Class 1 receiver (`qvfax receive --ecm on`) with error
// correction and the codings it may choose (MH, MR, MMR), through line errors that bring PPR and
// CTC; and MR without error correction. Every page is filed in MH, pixel for pixel.
#include <regex>
#include <string>

#include "spandsp_receive_call.h"

namespace qv::fax::test {
namespace {

// Error correction: spandsp sends its pages as numbered frames, our receiver asks for what it
// misses and files each page in MH, whatever coding the line used.
struct EcmCase {
  const char* name;
  int bps;
  int compressions;  // what spandsp's sender may choose from
  int encoding;      // what it must have chosen (T4_COMPRESSION_ITU_*)
  const char* coding;  // our receiver's report
  std::vector<bool> fine;
};

class ReceiveEcm : public ::testing::TestWithParam<EcmCase> {};

TEST_P(ReceiveEcm, PagesArrivePixelExactInTheBestCoding) {
  const EcmCase& c = GetParam();
  TempDir dir;
  std::vector<TiffPage> sent;
  for (size_t p = 0; p < c.fine.size(); ++p) {
    TiffPage page;
    page.fine = c.fine[p];
    for (int r = 0; r < (page.fine ? 120 : 60); ++r) page.rows.push_back(PatternRow(static_cast<int>(p) + 11, r));
    sent.push_back(page);
  }
  Received r = ReceiveCall(dir, sent, c.bps, 0, 0, {}, {}, EcmLine{true, c.compressions});
  ASSERT_EQ(r.exitStatus, 0) << r.output;
  EXPECT_NE(r.output.find("0 1 fax received"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(std::string("ECM on, ") + c.coding + ", 0 frames resent"), std::string::npos) << r.output;
  EXPECT_EQ(r.peerCompletion, T30_ERR_OK) << t30_completion_code_to_str(r.peerCompletion);
  EXPECT_EQ(r.stats.bit_rate, c.bps);
  EXPECT_NE(r.stats.error_correcting_mode, 0);
  EXPECT_EQ(r.stats.encoding, c.encoding);
  EXPECT_EQ(r.stats.pages_tx, static_cast<int>(c.fine.size()));
  ExpectFiled(dir, sent);
}

constexpr int kMhOnly = T30_SUPPORT_T4_1D_COMPRESSION;
constexpr int kUpToMr = kMhOnly | T30_SUPPORT_T4_2D_COMPRESSION;
constexpr int kUpToMmr = kUpToMr | T30_SUPPORT_T6_COMPRESSION;

INSTANTIATE_TEST_SUITE_P(
    Class1, ReceiveEcm,
    ::testing::Values(EcmCase{"MhStandardAt14400", 14400, kMhOnly, T4_COMPRESSION_ITU_T4_1D, "MH", {false}},
                      EcmCase{"MrFineAt9600TwoPages", 9600, kUpToMr, T4_COMPRESSION_ITU_T4_2D, "MR", {true, true}},
                      EcmCase{"MmrMixedAt14400ThreePages", 14400, kUpToMmr, T4_COMPRESSION_ITU_T6, "MMR",
                              {false, true, true}},
                      EcmCase{"MmrStandardAt9600", 9600, kUpToMmr, T4_COMPRESSION_ITU_T6, "MMR", {false}}),
    [](const auto& info) { return std::string(info.param.name); });

// Without error correction spandsp's sender may still choose MR (two-dimensional) from our DIS:
// the rows are turned back into MH for the file.
TEST(ReceiveMr, PagesArrivePixelExactWithoutEcm) {
  TempDir dir;
  auto sent = Pages({false, true}, 80);
  Received r = ReceiveCall(dir, sent, 9600, 0, 0, {}, {}, EcmLine{false, kUpToMr});
  ASSERT_EQ(r.exitStatus, 0) << r.output;
  EXPECT_NE(r.output.find("ECM off, MR"), std::string::npos) << r.output;
  EXPECT_EQ(r.peerCompletion, T30_ERR_OK) << t30_completion_code_to_str(r.peerCompletion);
  EXPECT_EQ(r.stats.error_correcting_mode, 0);
  EXPECT_EQ(r.stats.encoding, T4_COMPRESSION_ITU_T4_2D);
  ExpectFiled(dir, sent);
}

// Noise garbles an MR page: its damaged rows are counted by the same copy-quality measure as MH
// pages (a 2-D row after an error cannot be trusted until the next 1-D row), the page gets RTN and
// stays out of the file, and spandsp sends it again.
TEST(ReceiveMr, GarbledMrPageIsRefusedAndSentAgain) {
  TempDir dir;
  auto sent = Pages({false, false}, 60);
  Received r = ReceiveCall(dir, sent, 9600, 0, 0, {}, CarrierNoise{2, 7}, EcmLine{false, kUpToMr});
  ASSERT_EQ(r.exitStatus, 0) << r.output;
  EXPECT_EQ(r.peerCompletion, T30_ERR_OK) << t30_completion_code_to_str(r.peerCompletion);
  EXPECT_EQ(r.stats.encoding, T4_COMPRESSION_ITU_T4_2D);
  EXPECT_EQ(r.rtnHeard, 1);
  ExpectFiled(dir, sent);
}

// The number of frames our receiver reports it asked for again ("N frames resent").
int FramesResent(const std::string& output) {
  static const std::regex resent(R"(, (\d+) frames? resent)");
  std::smatch m;
  return std::regex_search(output, m, resent) ? std::stoi(m[1]) : -1;
}

// Line errors in the first block: the frames they break are asked for with PPR and sent again,
// and the page is filed whole.
TEST(ReceiveEcmErrors, BrokenFramesAreAskedForAgainAndThePageArrivesWhole) {
  TempDir dir;
  auto sent = Pages({true}, 400);
  Received r = ReceiveCall(dir, sent, 14400, 0, 0, {}, CarrierNoise{2, 600}, EcmLine{true, kUpToMmr});
  ASSERT_EQ(r.exitStatus, 0) << r.output;
  EXPECT_NE(r.output.find("0 1 fax received"), std::string::npos) << r.output;
  EXPECT_EQ(r.peerCompletion, T30_ERR_OK) << t30_completion_code_to_str(r.peerCompletion);
  EXPECT_GT(FramesResent(r.output), 0) << r.output;
  EXPECT_GT(r.stats.error_correcting_mode_retries, 0);
  ExpectFiled(dir, sent);
}

// A line that stays noisy through four resends of one block: spandsp's sender, seeing its resends
// get through, sends CTC (continue to correct; spandsp asks for the rate it had), our receiver
// answers CTR and listens for the long training that follows, and the page still arrives whole.
TEST(ReceiveEcmErrors, PersistentErrorsBringCtcAndTheBlockGoesOn) {
  TempDir dir;
  auto sent = Pages({true}, 600);
  EcmLine ecm{true, kMhOnly, 5};
  Received r = ReceiveCall(dir, sent, 14400, 0, 0, {}, CarrierNoise{2, 300}, ecm);
  ASSERT_EQ(r.exitStatus, 0) << r.output;
  EXPECT_EQ(r.peerCompletion, T30_ERR_OK) << t30_completion_code_to_str(r.peerCompletion);
  EXPECT_EQ(r.ctrHeard, 1) << r.output;
  ExpectFiled(dir, sent);
}


}  // namespace
}  // namespace qv::fax::test
