// Our Class 1 sender against spandsp at the speeds and page mixes the other file does not cover:
// 12000 and 7200, and a fax whose pages change resolution (each change renegotiated).
#include <tiffio.h>

#include "../../fax/e2e/fax_harness.h"
#include "fax_spandsp_peer.h"
#include "spandsp_pages.h"

namespace qv::fax::test {
namespace {

struct Sent {
  std::vector<PageRows> pages;  // in the order they go out
  std::vector<bool> fine;
};

// Sends the document (and cover) to a spandsp receiver and checks every page's pixels, its
// resolution as spandsp filed it, and the rate.
struct Ecm {
  bool on = false;
  int corruptFtm = 0;      // the AT+FTM whose data gets line errors (0: none)
  int corruptSpacing = 0;  // one octet in this many
  int compressions = T30_SUPPORT_T4_1D_COMPRESSION;  // what spandsp's receiver offers
  int encoding = T4_COMPRESSION_ITU_T4_1D;           // what the call must have used
  int frameSize = 256;                               // our sender's EcmFrameSize
};

// What the first page looked like on the line, when a test asks for it.
struct LineCapture {
  int minScanMs = -1;          // the scan-line time spandsp's receiver asks for (-1: its default)
  std::vector<uint8_t> page;   // the first page's data as the modem sent it
};

// Runs `send` (set up by the caller) on spandsp's modem until our call has ended (at most 80 s)
// and spandsp's T.30 has finished; then closes the port and stops the peer. False when our call
// did not end in time or the port would not open; `events` has the call's trail either way.
bool RunCall(SpandspPeer& peer, comm::TQvComPort& port, TQvSendFax& send, Events& events) {
  port.SetDeviceName(peer.device());
  port.SetAutoOpen(false);
  send.SetComPort(&port);
  port.SetOpen(true);
  if (!port.Open()) {
    peer.Stop();
    return false;
  }
  events.Attach(send);
  send.StartSending();
  const bool done = PumpUntil({&events}, 80);
  for (int i = 0; i < 300 && !peer.finished(); ++i) core::MessageLoop::instance().waitAndPump(20);
  if (send.Active()) send.AbortFax();
  for (int i = 0; i < 250 && send.Active(); ++i) core::MessageLoop::instance().waitAndPump(20);
  port.SetOpen(false);
  peer.Stop();
  return done;
}

void SendAndCheck(uint16_t bps, const Sent& sent, const std::string& doc, const std::string& cover,
                  const TempDir& dir, const Ecm& ecm = {}, LineCapture* capture = nullptr) {
  SpandspPeer peer(false, "", dir.str("rx.tif"));
  ASSERT_TRUE(peer.ok());
  if (capture) {
    if (capture->minScanMs >= 0) peer.SetMinimumScanTime(capture->minScanMs);
    peer.CaptureFtm(2);  // the first page: the training check is the first AT+FTM
  }
  if (ecm.on) peer.EnableEcm();
  peer.SetCompressions(ecm.compressions);
  if (ecm.corruptFtm > 0) peer.CorruptFtm(ecm.corruptFtm, ecm.corruptSpacing);
  peer.Start(10);
  comm::TQvComPort port;
  TQvSendFax send;
  Events events;
  send.FaxClass = fcClass1;
  send.DesiredBPS = bps;
  send.StationID = "sender 2";
  send.PhoneNumber = "5551234";
  send.SetFaxFile(doc);
  send.CoverFile = cover;
  send.FaxFileExt = "qvf";
  send.DesiredECM = ecm.on;
  send.EcmFrameSize = ecm.frameSize;
  const bool done = RunCall(peer, port, send, events);
  if (capture) capture->page = peer.CapturedFtm();

  ASSERT_TRUE(done) << events.Trail();
  EXPECT_EQ(events.finishCode, 0) << events.Trail();
  EXPECT_EQ(send.ConnectBPS(), bps);
  ASSERT_TRUE(peer.finished());
  EXPECT_EQ(peer.completion(), T30_ERR_OK) << t30_completion_code_to_str(peer.completion());
  EXPECT_EQ(peer.Stats().pages_rx, static_cast<int>(sent.pages.size()));
  EXPECT_EQ(peer.Stats().error_correcting_mode != 0, ecm.on);
  EXPECT_EQ(send.SessionECM(), ecm.on);
  EXPECT_EQ(peer.Stats().encoding, ecm.encoding);
  EXPECT_EQ(peer.Stats().bad_rows, 0);
  if (ecm.on) {
    // The DCS spandsp acted on names the frame size (bit 28: 64 octets).
    const std::vector<uint8_t> dcs = peer.LastDcsFif();
    ASSERT_GE(dcs.size(), 4u);
    EXPECT_EQ((dcs[3] & 0x08) != 0, ecm.frameSize == 64);
    EXPECT_EQ(send.SessionEcmFrameSize(), ecm.frameSize);
  }
  if (ecm.corruptFtm > 0) {
    // A PPR came, and only some of the block's frames went again.
    EXPECT_GE(peer.FramesHeard(kFcfPps), 2);
    EXPECT_GT(send.EcmFramesResent(), 0);
    EXPECT_LT(send.EcmFramesResent(), 24);
  } else {
    EXPECT_EQ(send.EcmFramesResent(), 0);
  }
  std::vector<float> yres;
  auto pages = ReadTiffPages(dir.str("rx.tif"), &yres);
  ASSERT_EQ(pages.size(), sent.pages.size());
  for (size_t p = 0; p < pages.size(); ++p) {
    size_t lead = 0;
    EXPECT_TRUE(SameRows(pages[p], sent.pages[p].raster, &lead)) << "page " << p + 1;
    EXPECT_EQ(lead, 8u) << "page " << p + 1;
    EXPECT_NEAR(yres[p], sent.fine[p] ? 196.0 : 98.0, 2.0) << "page " << p + 1;
  }
}

class SendAtRate : public ::testing::TestWithParam<uint16_t> {};

TEST_P(SendAtRate, TwoPagesArriveAsSent) {
  core::MessageLoop::instance().bindToCurrentThread();
  TempDir dir;
  auto doc = MakeQvf(dir.str("doc.qvf"), 2, false, 40);
  SendAndCheck(GetParam(), Sent{doc, {false, false}}, dir.str("doc.qvf"), "", dir);
}

INSTANTIATE_TEST_SUITE_P(Class1, SendAtRate, ::testing::Values(12000, 7200),
                         [](const auto& info) { return std::to_string(info.param); });

TEST(SendMixedResolution, StandardCoverThenFinePagesKeepTheirResolution) {
  core::MessageLoop::instance().bindToCurrentThread();
  TempDir dir;
  auto cover = MakeQvf(dir.str("cover.qvf"), 1, false, 30, 50);
  auto doc = MakeQvf(dir.str("doc.qvf"), 2, true, 40);
  Sent sent{{cover[0], doc[0], doc[1]}, {false, true, true}};
  SendAndCheck(9600, sent, dir.str("doc.qvf"), dir.str("cover.qvf"), dir);
}

// Error correction mode: pages go as numbered frames in blocks, spandsp checks every frame.
TEST(SendEcm, ThreePagesStandardAt14400ArriveWhole) {
  core::MessageLoop::instance().bindToCurrentThread();
  TempDir dir;
  auto doc = MakeQvf(dir.str("doc.qvf"), 3, false, 40);
  SendAndCheck(14400, Sent{doc, {false, false, false}}, dir.str("doc.qvf"), "", dir, Ecm{true});
}

// 64-octet frames when asked for: four times the frames, each numbered and checked by spandsp.
TEST(SendEcm, SixtyFourOctetFramesArriveWhole) {
  core::MessageLoop::instance().bindToCurrentThread();
  TempDir dir;
  auto doc = MakeQvf(dir.str("doc.qvf"), 2, true, 300);
  Ecm ecm{true};
  ecm.frameSize = 64;
  SendAndCheck(14400, Sent{doc, {true, true}}, dir.str("doc.qvf"), "", dir, ecm);
}

TEST(SendEcm, FinePageAt9600ThroughLineErrorsIsResentUntilWhole) {
  core::MessageLoop::instance().bindToCurrentThread();
  TempDir dir;
  // Long enough for dozens of frames, so an error in every few hundred octets hits several.
  auto doc = MakeQvf(dir.str("doc.qvf"), 1, true, 600);
  // The first page burst (the second AT+FTM, after the training check) loses frames.
  SendAndCheck(9600, Sent{doc, {true}}, dir.str("doc.qvf"), "", dir, Ecm{true, 2, 1500});
}

// The rows of a page on the line, found by their EOLs (eleven or more 0 bits, then a 1; bits
// least significant first): each row's length in bits from one EOL's 1 to the next, and the 0
// bits in front of each EOL's 1 (the EOL's own eleven, fill, and the last code's trailing 0s).
// Stops at the end of the page (EOLs with nothing between them).
struct LineRows {
  std::vector<int> bits;
  std::vector<int> zerosBeforeEol;
};

LineRows RowsOnTheLine(const std::vector<uint8_t>& data) {
  LineRows rows;
  long lastEol = -1;
  int zeros = 0;
  for (size_t i = 0; i < data.size() * 8; ++i) {
    if (((data[i / 8] >> (i % 8)) & 1) == 0) {
      ++zeros;
      continue;
    }
    if (zeros >= 11) {
      const long at = static_cast<long>(i);
      if (lastEol >= 0) {
        if (at - lastEol == 12) break;  // the return to control: the page's rows are over
        rows.bits.push_back(static_cast<int>(at - lastEol));
        rows.zerosBeforeEol.push_back(zeros);
      }
      lastEol = at;
    }
    zeros = 0;
  }
  return rows;
}

// A far end that asks for a minimum scan-line time gets rows that last at least that long; one
// that asks for none gets rows without the zero bytes of fill stored rows end with, which would
// be line time for nothing. Either way spandsp decodes every row as sent.
class SendScanTime : public ::testing::TestWithParam<int> {};

TEST_P(SendScanTime, RowsLastTheMinimumAndCarryNoFillBeyondIt) {
  core::MessageLoop::instance().bindToCurrentThread();
  TempDir dir;
  auto doc = MakeQvf(dir.str("doc.qvf"), 1, false, 40);
  LineCapture capture;
  capture.minScanMs = GetParam();
  SendAndCheck(14400, Sent{doc, {false}}, dir.str("doc.qvf"), "", dir, {}, &capture);
  const LineRows rows = RowsOnTheLine(capture.page);
  // The eight blank rows in front and the page's own rows.
  ASSERT_GE(rows.bits.size(), doc[0].raster.size() + 7);
  const int minBits = GetParam() * 14400 / 1000;
  for (size_t r = 0; r < rows.bits.size(); ++r) {
    EXPECT_GE(rows.bits[r], minBits) << "row " << r;
    if (minBits == 0) {
      // The EOL's eleven, four of fill in front of it (stored rows align their EOLs), and the
      // rest of the last byte after the previous row's last code: at most seven, or, when fewer
      // than three 0 bits follow that code's last 1 in its byte, a zero byte more.
      EXPECT_LE(rows.zerosBeforeEol[r], 11 + 4 + 10) << "row " << r;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Class1, SendScanTime, ::testing::Values(0, 20),
                         [](const auto& info) { return std::to_string(info.param) + "ms"; });

// A line that stays bad through a block and all its resends: every frame is hit every time, so
// the fourth PPR shows no progress and the block is given up (EOR), which spandsp answers with
// ERR. The page did not arrive whole: the call must not report the fax as sent.
TEST(SendEcm, ABlockGivenUpEndsTheCallUnsent) {
  core::MessageLoop::instance().bindToCurrentThread();
  TempDir dir;
  MakeQvf(dir.str("doc.qvf"), 2, true, 300);
  SpandspPeer peer(false, "", dir.str("rx.tif"));
  ASSERT_TRUE(peer.ok());
  peer.EnableEcm();
  peer.SetCompressions(T30_SUPPORT_T4_1D_COMPRESSION);
  // The first page burst (the second AT+FTM, after the training check) and the three resends.
  peer.CorruptFtm(2, 40, 4);
  peer.Start(10);
  comm::TQvComPort port;
  TQvSendFax send;
  Events events;
  send.FaxClass = fcClass1;
  send.DesiredBPS = 14400;
  send.DesiredECM = true;
  send.StationID = "sender 2";
  send.PhoneNumber = "5551234";
  send.SetFaxFile(dir.str("doc.qvf"));
  const bool done = RunCall(peer, port, send, events);

  ASSERT_TRUE(done) << events.Trail();
  EXPECT_EQ(events.finishCode, core::ecFaxPageError) << events.Trail();
  EXPECT_TRUE(events.Saw(fpPageError)) << events.Trail();
  EXPECT_EQ(events.logs, (std::vector<int>{1, 3}));
  EXPECT_EQ(peer.FramesHeard(kFcfPps), 4);         // the block and its three resends
  EXPECT_EQ(peer.FramesHeard(kFcfEor), 1);
  EXPECT_EQ(peer.FramesHeard(kFcfDcn), 1);         // the call ended there, page 2 never went
}

}  // namespace
}  // namespace qv::fax::test

namespace qv::fax::test {
namespace {

// Two-dimensional coding: each page is coded again from the file's MH rows for the line, in the
// best coding both ends offer (MMR only with error correction); spandsp decodes every row.
// Without error correction an MR page carries its EOLs, tag bits and the fill spandsp's
// scan-line time asks for, and spandsp counts any row it could not decode as bad.
struct CodingCase {
  const char* name;
  uint16_t bps;
  int compressions;  // spandsp's receiver offers these
  int encoding;      // and the call must have used this
  bool fine;
  int pages;
  int corruptFtm = 0;
  bool ecm = true;
};

class SendCoding : public ::testing::TestWithParam<CodingCase> {};

TEST_P(SendCoding, PagesArriveAsSent) {
  core::MessageLoop::instance().bindToCurrentThread();
  const CodingCase& c = GetParam();
  TempDir dir;
  auto doc = MakeQvf(dir.str("doc.qvf"), c.pages, c.fine, c.corruptFtm > 0 ? 600 : 40);
  Ecm ecm{c.ecm, c.corruptFtm, c.corruptFtm > 0 ? 1500 : 0, c.compressions, c.encoding};
  SendAndCheck(c.bps, Sent{doc, std::vector<bool>(static_cast<size_t>(c.pages), c.fine)}, dir.str("doc.qvf"), "",
               dir, ecm);
}

constexpr int kUpToMr = T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION;
constexpr int kUpToMmr = kUpToMr | T30_SUPPORT_T6_COMPRESSION;

INSTANTIATE_TEST_SUITE_P(
    Class1, SendCoding,
    ::testing::Values(CodingCase{"MrFineAt9600TwoPages", 9600, kUpToMr, T4_COMPRESSION_ITU_T4_2D, true, 2},
                      CodingCase{"MrStandardAt14400WithoutEcmTwoPages", 14400, kUpToMr, T4_COMPRESSION_ITU_T4_2D,
                                 false, 2, 0, false},
                      // MMR offered, but without error correction MR is the best there is.
                      CodingCase{"MrFineAt9600WithoutEcm", 9600, kUpToMmr, T4_COMPRESSION_ITU_T4_2D, true, 1, 0,
                                 false},
                      CodingCase{"MmrStandardAt14400ThreePages", 14400, kUpToMmr, T4_COMPRESSION_ITU_T6, false, 3},
                      CodingCase{"MmrFineAt9600ThroughLineErrors", 9600, kUpToMmr, T4_COMPRESSION_ITU_T6, true, 1, 2}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv::fax::test
