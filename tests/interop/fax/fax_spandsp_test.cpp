// Our Class 1 engine against spandsp's T.30 terminal, reached through spandsp's T.31 modem on a
// pseudo-terminal: the pages each side receives must be the other side's pixels.
#include <tiffio.h>

#include "../../fax/e2e/fax_harness.h"
#include "fax_spandsp_peer.h"
#include "spandsp_pages.h"

namespace qv::fax::test {
namespace {

struct SendCase {
  int pages;
  uint16_t bps;
  bool fine;
};

class SendToSpandsp : public ::testing::TestWithParam<SendCase> {};

TEST_P(SendToSpandsp, PagesArriveAsSent) {
  const SendCase c = GetParam();
  core::MessageLoop::instance().bindToCurrentThread();
  TempDir dir;
  auto doc = MakeQvf(dir.str("doc.qvf"), c.pages, c.fine, 40);
  SpandspPeer peer(false, "", dir.str("rx.tif"));
  ASSERT_TRUE(peer.ok());
  peer.Start(10);

  comm::TQvComPort port;
  TQvSendFax send;
  Events sent;
  port.SetDeviceName(peer.device());
  port.SetAutoOpen(false);
  send.SetComPort(&port);
  port.SetOpen(true);
  ASSERT_TRUE(port.Open());
  sent.Attach(send);
  send.FaxClass = fcClass1;
  send.DesiredBPS = c.bps;
  send.StationID = "sender 2";
  send.PhoneNumber = "5551234";
  send.SetFaxFile(dir.str("doc.qvf"));
  send.StartSending();
  bool done = PumpUntil({&sent}, 50);
  for (int i = 0; i < 300 && !peer.finished(); ++i) core::MessageLoop::instance().waitAndPump(20);
  if (send.Active()) send.AbortFax();
  for (int i = 0; i < 250 && send.Active(); ++i) core::MessageLoop::instance().waitAndPump(20);
  port.SetOpen(false);
  peer.Stop();

  ASSERT_TRUE(done) << sent.Trail();
  EXPECT_EQ(sent.finishCode, 0) << sent.Trail();
  EXPECT_TRUE(sent.errors.empty()) << sent.Trail();
  EXPECT_EQ(send.RemoteID(), "SPANDSP PEER");
  EXPECT_EQ(send.ConnectBPS(), c.bps);
  ASSERT_TRUE(peer.finished());
  EXPECT_EQ(peer.completion(), T30_ERR_OK) << t30_completion_code_to_str(peer.completion());
  t30_stats_t stats = peer.Stats();
  EXPECT_EQ(stats.pages_rx, c.pages);
  EXPECT_EQ(stats.bit_rate, c.bps);

  std::vector<float> yres;
  auto pages = ReadTiffPages(dir.str("rx.tif"), &yres);
  ASSERT_EQ(pages.size(), static_cast<size_t>(c.pages));
  for (int p = 0; p < c.pages; ++p) {
    size_t lead = 0;
    EXPECT_TRUE(SameRows(pages[p], doc[p].raster, &lead)) << "page " << p + 1;
    EXPECT_EQ(lead, 8u) << "page " << p + 1;
    EXPECT_NEAR(yres[p], c.fine ? 196.0 : 98.0, 2.0) << "page " << p + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(Class1, SendToSpandsp,
                         ::testing::Values(SendCase{1, 9600, false}, SendCase{3, 9600, true},
                                           SendCase{1, 14400, false}, SendCase{3, 14400, true},
                                           SendCase{1, 4800, false}),
                         [](const auto& info) {
                           return std::to_string(info.param.pages) + "Pages" + std::to_string(info.param.bps) +
                                  (info.param.fine ? "Fine" : "Standard");
                         });

TEST(ReceiveFromSpandsp, Class1ReceiverKeepsThePixels) {
  core::MessageLoop::instance().bindToCurrentThread();
  TempDir dir;
  std::vector<Raster> sentPages(2);
  for (int p = 0; p < 2; ++p)
    for (int r = 0; r < 40; ++r) sentPages[p].push_back(PatternRow(p + 7, r));
  ASSERT_TRUE(WriteTiff(dir.str("tx.tif"), {{sentPages[0], false}, {sentPages[1], false}}));
  SpandspPeer peer(true, dir.str("tx.tif"), "");
  ASSERT_TRUE(peer.ok());
  peer.Start(20);

  comm::TQvComPort port;
  TQvReceiveFax receive;
  Events received;
  port.SetDeviceName(peer.device());
  port.SetAutoOpen(false);
  receive.SetComPort(&port);
  port.SetOpen(true);
  ASSERT_TRUE(port.Open());
  received.Attach(receive);
  fs::create_directories(dir.path() / "in");
  receive.SetDestinationDir(dir.str("in"));
  receive.OneFax = true;
  receive.FaxClass = fcClass1;
  receive.DesiredBPS = 9600;
  receive.StationID = "receiver 1";
  receive.StartReceiving();
  peer.Ring();
  bool done = PumpUntil({&received}, 50);
  for (int i = 0; i < 300 && !peer.finished(); ++i) core::MessageLoop::instance().waitAndPump(20);
  if (receive.Active()) receive.AbortFax();
  for (int i = 0; i < 250 && receive.Active(); ++i) core::MessageLoop::instance().waitAndPump(20);
  port.SetOpen(false);
  peer.Stop();

  ASSERT_TRUE(done) << received.Trail();
  EXPECT_EQ(received.finishCode, 0) << received.Trail();
  EXPECT_TRUE(received.errors.empty()) << received.Trail();
  EXPECT_EQ(receive.RemoteID(), "SPANDSP PEER");
  ASSERT_TRUE(peer.finished());
  EXPECT_EQ(peer.completion(), T30_ERR_OK) << t30_completion_code_to_str(peer.completion());
  EXPECT_EQ(peer.Stats().pages_tx, 2);

  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(dir.str("in/FAX0001.QVF"), pages));
  ASSERT_EQ(pages.size(), 2u);
  for (int p = 0; p < 2; ++p) {
    Raster rows;
    faximage::T4Decoder decoder([&](std::span<const uint8_t> row) { rows.emplace_back(row.begin(), row.end()); });
    decoder.startPage();
    decoder.feed(pages[p].data.data(), pages[p].data.size());
    EXPECT_TRUE(decoder.pageEnded()) << "page " << p + 1;
    EXPECT_EQ(decoder.badCodes(), 0) << "page " << p + 1;
    EXPECT_EQ(pages[p].flags & kPageHighRes, 0) << "page " << p + 1;
    EXPECT_TRUE(rows == sentPages[p]) << "page " << p + 1 << ": " << rows.size() << " rows";
  }
}

}  // namespace
}  // namespace qv::fax::test
