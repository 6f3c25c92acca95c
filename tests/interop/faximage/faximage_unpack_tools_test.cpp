// Pictures written by "qvfax export" must read back in netpbm and ImageMagick as exactly the pixels
// the unpacker decoded, and a coded page must come back as the bitmap it was coded from.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "../shell_command.h"
#include "../../faximage/t4_test_coder.h"
#include "../../faximage/temp_dir.h"
#include "faximage/qvf_writer.h"
#include "faximage/t4_coder.h"
#include "faximage/unpacker_bitmap.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

using qv::testing::Shell;

namespace {

using Rows = std::vector<std::vector<uint8_t>>;

// The real ImageMagick, not whatever "convert" comes first on the PATH.
const char* const kImageMagick = "/usr/bin/convert-im6.q16";

struct Image {
  int width = 0, height = 0;
  std::vector<bool> black;
  bool operator==(const Image&) const = default;
};

// Any binary or plain PNM (P1-P6); dark pixels are black.
Image ParsePnm(const std::string& data) {
  Image img;
  std::istringstream in(data);
  std::string magic;
  in >> magic;
  auto number = [&in] {
    int v = 0;
    while (in >> std::ws && in.peek() == '#') in.ignore(1 << 20, '\n');
    in >> v;
    return v;
  };
  if (magic.size() != 2 || magic[0] != 'P') return img;
  int kind = magic[1] - '0';
  img.width = number();
  img.height = number();
  int maxval = (kind == 1 || kind == 4) ? 1 : number();
  in.get();  // the single whitespace before binary data
  size_t count = static_cast<size_t>(img.width) * static_cast<size_t>(img.height);
  img.black.resize(count);
  if (kind == 4) {
    size_t rowBytes = static_cast<size_t>((img.width + 7) / 8);
    std::vector<char> row(rowBytes);
    for (int y = 0; y < img.height; ++y) {
      in.read(row.data(), static_cast<std::streamsize>(rowBytes));
      for (int x = 0; x < img.width; ++x)
        img.black[static_cast<size_t>(y * img.width + x)] = (static_cast<uint8_t>(row[static_cast<size_t>(x / 8)]) >> (7 - x % 8)) & 1;
    }
  } else if (kind == 5 || kind == 6) {
    int channels = kind == 6 ? 3 : 1, bytes = maxval > 255 ? 2 : 1;
    for (size_t i = 0; i < count; ++i) {
      int sum = 0;
      for (int c = 0; c < channels; ++c) {
        int v = static_cast<uint8_t>(in.get());
        if (bytes == 2) v = (v << 8) | static_cast<uint8_t>(in.get());
        sum += v;
      }
      img.black[i] = sum * 2 < channels * maxval;
    }
  } else {
    for (size_t i = 0; i < count; ++i) {
      int v = number();
      img.black[i] = kind == 1 ? v == 1 : v * 2 < maxval;
    }
  }
  return img;
}

Image FromBitmap(const PageBitmap& bm) {
  Image img{bm.width, bm.height, {}};
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x) img.black.push_back(bm.black(x, y));
  return img;
}

void SavePbm(const Image& img, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << "P4\n" << img.width << " " << img.height << "\n";
  size_t rowBytes = static_cast<size_t>((img.width + 7) / 8);
  for (int y = 0; y < img.height; ++y) {
    std::vector<char> row(rowBytes, 0);
    for (int x = 0; x < img.width; ++x)
      if (img.black[static_cast<size_t>(y * img.width + x)]) row[static_cast<size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
    out.write(row.data(), static_cast<std::streamsize>(rowBytes));
  }
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

class ExportToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(77);
    Rows fine;
    for (int y = 0; y < 120; ++y) fine.push_back(y % 10 < 2 ? BlankRow(1728) : RandomRow(rng, 1728, 25));
    for (auto& r : fine) std::fill(r.begin() + 190, r.end(), 0);  // text up to pixel 1519
    fine[7][189] = 0x01;  // rightmost black pixel: 1519
    Rows wide(60, BlankRow(2048));
    wide[3] = RowWithPixel(2048, 2047);
    for (int y = 10; y < 60; ++y) wide[static_cast<size_t>(y)] = RandomRow(rng, 2048, 50);
    Rows patterns(30, BlankRow(1728));
    for (int y = 0; y < 30; ++y)
      for (int i = 0; i < 100; ++i)  // bytes whose inverse has both top bits set, and long runs
        patterns[static_cast<size_t>(y)][static_cast<size_t>(i)] = static_cast<uint8_t>(i < 70 ? 0xFF : (y * 7 + i) & 0x3F);
    QvfBuilder b;
    b.recordPage(fine, 1728, true).rawPage(wide, 2048, false).recordPage(patterns, 1728, true);
    qvf = dir.file("FAX.QVF");
    b.save(qvf);
  }

  // The reference: what the unpacker decodes, with the command's default auto-scale.
  Image Decoded(int page, bool fullWidth) {
    UnpackerState st;
    st.setAutoScale(kUnpackDoubleHeight);
    PageBitmap bm;
    int rc = fullWidth ? UnpackPageFullWidth(st, qvf, page, bm) : UnpackPageForExport(st, qvf, page, bm);
    EXPECT_EQ(rc, 0);
    return FromBitmap(bm);
  }

  std::string Export(int page, const std::string& ext) {
    std::string out = dir.file("p" + std::to_string(page) + "." + ext);
    int status = 0;
    Shell(std::string(QV_BIN_DIR) + "/qvfax export " + Quote(qvf) + " " + std::to_string(page) + " " + Quote(out), &status);
    EXPECT_EQ(status, 0) << "export page " << page << " to " << ext;
    return out;
  }

  Image ImageMagick(const std::string& file) { return ParsePnm(Shell(std::string(kImageMagick) + " " + Quote(file) + " pgm:-")); }

  TempDir dir;
  std::string qvf;
};

}  // namespace

TEST_F(ExportToolsTest, PcxAndDcxReadBackExactly) {
  for (int page = 1; page <= 3; ++page) {
    Image ref = Decoded(page, false);
    ASSERT_GT(ref.width, 0);
    std::string pcx = Export(page, "pcx"), dcx = Export(page, "dcx");
    EXPECT_EQ(ParsePnm(Shell("pcxtoppm " + Quote(pcx) + " 2>/dev/null")), ref) << "netpbm, page " << page;
    // ImageMagick 6 shows every one-bit PCX (netpbm's own as well) with the colours swapped; ours
    // must look to it exactly like netpbm's PCX of the same pixels, as a PCX and inside the DCX.
    std::string pbm = dir.file("ref.pbm"), netpbmPcx = dir.file("ref.pcx");
    SavePbm(ref, pbm);
    Shell("ppmtopcx " + Quote(pbm) + " > " + Quote(netpbmPcx) + " 2>/dev/null");
    Image viaNetpbm = ImageMagick(netpbmPcx);
    ASSERT_EQ(viaNetpbm.width, ref.width);
    EXPECT_EQ(ImageMagick(pcx), viaNetpbm) << "page " << page;
    EXPECT_EQ(ImageMagick(dcx), viaNetpbm) << "page " << page;
  }
  EXPECT_EQ(Decoded(1, false).width, 1520);
  EXPECT_EQ(Decoded(2, false).height, 120);
}

TEST_F(ExportToolsTest, BmpReadsBackExactly) {
  for (int page = 1; page <= 3; ++page) {
    Image ref = Decoded(page, false);
    std::string bmp = Export(page, "bmp");
    EXPECT_EQ(ParsePnm(Shell("bmptopnm " + Quote(bmp) + " 2>/dev/null")), ref) << "netpbm, page " << page;
    EXPECT_EQ(ImageMagick(bmp), ref) << "ImageMagick, page " << page;
  }
}

TEST_F(ExportToolsTest, FullWidthPbmAndPngReadBackExactly) {
  for (int page = 1; page <= 3; ++page) {
    Image ref = Decoded(page, true);
    EXPECT_EQ(ref.width, page == 2 ? 2048 : 1728);
    std::string pbm = Export(page, "pbm"), png = Export(page, "png");
    EXPECT_EQ(ParsePnm(Shell("pbmtopgm 1 1 " + Quote(pbm) + " 2>/dev/null")), ref) << "netpbm pbm, page " << page;
    EXPECT_EQ(ImageMagick(pbm), ref) << "ImageMagick pbm, page " << page;
    EXPECT_EQ(ParsePnm(Shell("pngtopam " + Quote(png) + " 2>/dev/null")), ref) << "netpbm png, page " << page;
    EXPECT_EQ(ImageMagick(png), ref) << "ImageMagick png, page " << page;
  }
}

TEST_F(ExportToolsTest, ExportAllWritesEveryPage) {
  int status = 0;
  std::string listing = Shell(std::string(QV_BIN_DIR) + "/qvfax export --all " + Quote(qvf) + " " + Quote(dir.file("all.pbm")), &status);
  ASSERT_EQ(status, 0);
  for (int page = 1; page <= 3; ++page) {
    std::string file = dir.file("all-" + std::to_string(page) + ".pbm");
    EXPECT_NE(listing.find(file), std::string::npos);
    EXPECT_EQ(ParsePnm(Shell("pbmtopgm 1 1 " + Quote(file))), Decoded(page, true));
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("all-4.pbm")));
  Shell(std::string(QV_BIN_DIR) + "/qvfax export " + Quote(dir.file("missing.qvf")) + " 1 " + Quote(dir.file("x.png")) + " 2>/dev/null", &status);
  EXPECT_NE(status, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.file("x.png")));
}

// Round trip: a source bitmap coded row by row with the converter's coder into a QVF file, then
// exported, is the source bitmap again (as netpbm reads it).
TEST_F(ExportToolsTest, CodedPageExportsAsItsSourceBitmap) {
  std::mt19937 rng(5);
  for (int width : {1728, 2048}) {
    Rows source;
    for (int y = 0; y < 200; ++y) source.push_back(y % 17 == 0 ? BlankRow(width) : RandomRow(rng, width, y % 3 ? 30 : 80));
    std::string path = dir.file("coded.qvf");
    QvfWriter w;
    ASSERT_EQ(w.Create(path), 0);
    w.SetPageFlags(static_cast<uint16_t>(pfRowRecords | pfHighRes | (width == 2048 ? pfWide : 0)));
    std::vector<uint8_t> coded(kMaxCodedRow);
    for (auto& row : source) {
      int n = CodeRow(row.data(), width, 0, false, coded.data());
      ASSERT_EQ(w.WriteRowRecord(std::span<const uint8_t>(coded.data(), static_cast<size_t>(n))), 0);
    }
    ASSERT_EQ(w.EndPage(), 0);
    ASSERT_EQ(w.Close("ROUND TRIP"), 0);

    std::string pbm = dir.file("coded.pbm");
    int status = 0;
    Shell(std::string(QV_BIN_DIR) + "/qvfax export " + Quote(path) + " 1 " + Quote(pbm), &status);
    ASSERT_EQ(status, 0);
    Image got = ParsePnm(Shell("pbmtopgm 1 1 " + Quote(pbm)));
    Image expected{width, 200, {}};
    for (auto& row : source)
      for (int x = 0; x < width; ++x) expected.black.push_back((row[static_cast<size_t>(x / 8)] >> (7 - x % 8)) & 1);
    EXPECT_EQ(got, expected) << "width " << width;
  }
}

// The full way round with outside tools at both ends: netpbm writes a page as BMP, PCX and TIFF,
// "qvfax convert" makes a fine page of it (no margin, no doubling), "qvfax export" writes it back
// as PBM and PNG: the pixels must be the source's.
TEST_F(ExportToolsTest, ConvertThenExportReproducesTheSource) {
  std::mt19937 rng(11);
  Image source{1728, 150, {}};
  for (int y = 0; y < source.height; ++y) {
    auto row = y % 25 == 0 ? BlankRow(1728) : RandomRow(rng, 1728, 35);
    for (int x = 0; x < 1728; ++x) source.black.push_back((row[static_cast<size_t>(x / 8)] >> (7 - x % 8)) & 1);
  }
  std::string pbm = dir.file("source.pbm");
  SavePbm(source, pbm);
  const std::vector<std::pair<std::string, std::string>> inputs = {
      {"bmp", "ppmtobmp -bpp=1"}, {"pcx", "ppmtopcx"}, {"tif", "pnmtotiff -miniswhite"}, {"tif", "pnmtotiff -packbits"}};
  for (const auto& [ext, tool] : inputs) {
    std::string input = dir.file("source." + ext), qvfOut = dir.file("converted.qvf");
    Shell(tool + " " + Quote(pbm) + " > " + Quote(input) + " 2>/dev/null");
    int status = 0;
    Shell(std::string(QV_BIN_DIR) + "/qvfax convert " + Quote(input) + " -o " + Quote(qvfOut) + " --fine --margin 0", &status);
    ASSERT_EQ(status, 0) << tool;
    for (const char* format : {"pbm", "png"}) {
      std::string out = dir.file(std::string("back.") + format);
      Shell(std::string(QV_BIN_DIR) + "/qvfax export " + Quote(qvfOut) + " 1 " + Quote(out), &status);
      ASSERT_EQ(status, 0);
      Image back = ParsePnm(Shell(std::string(kImageMagick) + " " + Quote(out) + " pgm:-"));
      EXPECT_EQ(back, source) << tool << " -> " << format;
    }
  }
}
