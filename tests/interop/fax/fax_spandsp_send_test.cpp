// Our Class 1 sender against spandsp at the speeds and page mixes the other file does not cover:
// 12000 and 7200, and a fax whose pages change resolution (each change renegotiated).
#include <tiffio.h>

#include "../../fax/e2e/fax_harness.h"
#include "fax_spandsp_peer.h"

namespace qv::fax::test {
namespace {

using Raster = std::vector<std::vector<uint8_t>>;

// Every page of a TIFF as rows of 216 bytes, 1 = black.
std::vector<Raster> ReadTiffPages(const std::string& path, std::vector<float>* yres = nullptr) {
  std::vector<Raster> pages;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return pages;
  do {
    uint32_t width = 0, height = 0;
    uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    float y = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y);
    if (yres) yres->push_back(y);
    Raster rows;
    std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(tif)));
    for (uint32_t r = 0; r < height && width == 1728; ++r) {
      if (TIFFReadScanline(tif, line.data(), r) < 0) break;
      std::vector<uint8_t> row(line.begin(), line.begin() + 216);
      if (photometric == PHOTOMETRIC_MINISBLACK)
        for (auto& b : row) b = static_cast<uint8_t>(~b);
      rows.push_back(row);
    }
    pages.push_back(rows);
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

bool Blank(const std::vector<uint8_t>& row) {
  return std::all_of(row.begin(), row.end(), [](uint8_t b) { return b == 0; });
}

// The page our sender put on the line: eight blank rows (plus a header line when asked for) in front
// of the document's rows. `lead` gets how many rows came first.
::testing::AssertionResult SameRows(const Raster& got, const Raster& sent, size_t* lead) {
  if (got.size() < sent.size() + 8)
    return ::testing::AssertionFailure() << got.size() << " rows received for " << sent.size() << " sent";
  *lead = got.size() - sent.size();
  for (size_t i = 0; i < 8; ++i)
    if (!Blank(got[i])) return ::testing::AssertionFailure() << "leading row " << i << " has ink";
  for (size_t i = 0; i < sent.size(); ++i)
    if (got[*lead + i] != sent[i]) return ::testing::AssertionFailure() << "row " << i << " differs";
  return ::testing::AssertionSuccess();
}

struct Sent {
  std::vector<PageRows> pages;  // in the order they go out
  std::vector<bool> fine;
};

// Sends the document (and cover) to a spandsp receiver and checks every page's pixels, its
// resolution as spandsp filed it, and the rate.
void SendAndCheck(uint16_t bps, const Sent& sent, const std::string& doc, const std::string& cover,
                  const TempDir& dir) {
  SpandspPeer peer(false, "", dir.str("rx.tif"));
  ASSERT_TRUE(peer.ok());
  peer.Start(10);
  comm::TQvComPort port;
  TQvSendFax send;
  Events events;
  port.SetDeviceName(peer.device());
  port.SetAutoOpen(false);
  send.SetComPort(&port);
  port.SetOpen(true);
  ASSERT_TRUE(port.Open());
  events.Attach(send);
  send.FaxClass = fcClass1;
  send.DesiredBPS = bps;
  send.StationID = "sender 2";
  send.PhoneNumber = "5551234";
  send.SetFaxFile(doc);
  send.CoverFile = cover;
  send.FaxFileExt = "qvf";
  send.StartSending();
  bool done = PumpUntil({&events}, 80);
  for (int i = 0; i < 300 && !peer.finished(); ++i) core::MessageLoop::instance().waitAndPump(20);
  if (send.Active()) send.AbortFax();
  for (int i = 0; i < 250 && send.Active(); ++i) core::MessageLoop::instance().waitAndPump(20);
  port.SetOpen(false);
  peer.Stop();

  ASSERT_TRUE(done) << events.Trail();
  EXPECT_EQ(events.finishCode, 0) << events.Trail();
  EXPECT_EQ(send.ConnectBPS(), bps);
  ASSERT_TRUE(peer.finished());
  EXPECT_EQ(peer.completion(), T30_ERR_OK) << t30_completion_code_to_str(peer.completion());
  EXPECT_EQ(peer.Stats().pages_rx, static_cast<int>(sent.pages.size()));
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

}  // namespace
}  // namespace qv::fax::test
