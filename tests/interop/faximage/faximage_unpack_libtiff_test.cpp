// Pages coded by libtiff's Group 3 1-D encoder, stored as raw QVF pages the way the receiver stores
// modem data, must decode to exactly the pixels libtiff's own decoder gives.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdlib>
#include <fstream>
#include <random>

#include "../../faximage/t4_test_coder.h"
#include "../../faximage/temp_dir.h"
#include "faximage/unpacker_bitmap.h"
#include "faximage/unpacker_state.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

namespace {

using Rows = std::vector<std::vector<uint8_t>>;

Rows MixedPage(int width, int rows, unsigned seed) {
  std::mt19937 rng(seed);
  Rows page;
  for (int y = 0; y < rows; ++y) {
    switch (y % 9) {
      case 0: page.push_back(BlankRow(width)); break;
      case 1: page.push_back(std::vector<uint8_t>(static_cast<size_t>(width / 8), 0xFF)); break;
      case 2: page.push_back(RowWithPixel(width, y % width)); break;
      default: page.push_back(RandomRow(rng, width, y % 2 ? 20 : 60));
    }
  }
  return page;
}

// Writes the page as a G3 1-D TIFF (FillOrder LSB first, as modems deliver data).
void WriteG3Tiff(const std::string& path, const Rows& page, int width, bool fill) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(page.size()));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, fill ? GROUP3OPT_FILLBITS : 0);
  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(page.size()));
  for (size_t y = 0; y < page.size(); ++y)
    ASSERT_EQ(TIFFWriteScanline(t, const_cast<uint8_t*>(page[y].data()), static_cast<uint32_t>(y), 0), 1);
  TIFFClose(t);
}

std::vector<uint8_t> RawStrip(const std::string& path) {
  TIFF* t = TIFFOpen(path.c_str(), "r");
  std::vector<uint8_t> strip(static_cast<size_t>(TIFFRawStripSize(t, 0)));
  TIFFReadRawStrip(t, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
  TIFFClose(t);
  return strip;
}

Rows LibtiffDecode(const std::string& path, int width) {
  TIFF* t = TIFFOpen(path.c_str(), "r");
  uint32_t height = 0;
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
  Rows rows(height, std::vector<uint8_t>(static_cast<size_t>(width / 8)));
  for (uint32_t y = 0; y < height; ++y) TIFFReadScanline(t, rows[y].data(), y, 0);
  TIFFClose(t);
  return rows;
}

struct Collect : UnpackRowSink {
  Rows rows;
  int startPage(const UnpackerState&) override { return 0; }
  int row(std::span<const uint8_t> r) override { return rows.emplace_back(r.begin(), r.end()), 0; }
  int endPage(const UnpackerState&) override { return 0; }
};

// The raw strip as a receiver-style page: libtiff puts an EOL before every row, the modem's RTC
// closes the page.
void SaveRawQvf(const std::string& path, std::vector<uint8_t> strip, bool fine, int width) {
  for (int i = 0; i < 3; ++i) strip.insert(strip.end(), {0x00, 0x08, 0x80});
  QvfBuilder b;
  b.page(strip, static_cast<uint16_t>((fine ? pfHighRes : 0) | (width == 2048 ? pfWide : 0)));
  b.save(path);
}

}  // namespace

TEST(FaximageUnpackLibtiff, RawG3PagesDecodeLikeLibtiff) {
  TempDir dir;
  unsigned seed = 1;
  for (int width : {1728, 2048}) {
    for (bool fill : {false, true}) {
      Rows page = MixedPage(width, 300, seed++);
      std::string tif = dir.file("page.tif"), qvf = dir.file("page.qvf");
      WriteG3Tiff(tif, page, width, fill);
      Rows reference = LibtiffDecode(tif, width);
      ASSERT_EQ(reference, page) << "libtiff itself should round-trip";
      SaveRawQvf(qvf, RawStrip(tif), true, width);
      UnpackerState st;
      Collect sink;
      ASSERT_EQ(UnpackPage(st, qvf, 1, sink), 0);
      EXPECT_EQ(sink.rows, reference) << "width " << width << " fill " << fill;
      EXPECT_EQ(st.BadCodes, 0u);
    }
  }
}

// Through the command-line tools too: tiffcp re-codes an uncompressed TIFF as G3 1-D with fill.
TEST(FaximageUnpackLibtiff, TiffcpCodedPageDecodesLikeLibtiff) {
  TempDir dir;
  Rows page = MixedPage(1728, 200, 99);
  std::string plain = dir.file("plain.tif"), g3 = dir.file("g3.tif"), qvf = dir.file("g3.qvf");
  {
    TIFF* t = TIFFOpen(plain.c_str(), "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 1728);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 200);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 200);
    for (uint32_t y = 0; y < 200; ++y) TIFFWriteScanline(t, page[y].data(), y, 0);
    TIFFClose(t);
  }
  std::string cmd = "tiffcp -c g3:1d:fill -f lsb2msb -r 100000 '" + plain + "' '" + g3 + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  Rows reference = LibtiffDecode(g3, 1728);
  ASSERT_EQ(reference, page);
  SaveRawQvf(qvf, RawStrip(g3), false, 1728);

  UnpackerState st;  // standard resolution, doubled in height for display
  st.setAutoScale(kUnpackDoubleHeight);
  PageBitmap bm;
  ASSERT_EQ(UnpackPageToMemoryBitmap(st, qvf, 1, false, bm), 0);
  ASSERT_EQ(bm.height, 400);
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < bm.width; ++x)
      ASSERT_EQ(bm.black(x, y), ((reference[static_cast<size_t>(y / 2)][static_cast<size_t>(x / 8)] >> (7 - x % 8)) & 1) == 1)
          << x << "," << y;
}
