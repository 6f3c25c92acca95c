// Pages we code must decode with libtiff's Group 3 one-dimensional decoder to exactly the pixels
// we coded; pictures made by netpbm and ImageMagick must convert to their pixels.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "faximage/fax_converter.h"
#include "faximage/qvf_file.h"
#include "faximage/t4_coder.h"

using namespace qv::faximage;
namespace fs = std::filesystem;

namespace {

class TempDir {
 public:
  TempDir() {
    std::string t = (fs::temp_directory_path() / "qvfaxinteropXXXXXX").string();
    path_ = mkdtemp(t.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string file(const std::string& n) const { return (path_ / n).string(); }

 private:
  fs::path path_;
};

using Rows = std::vector<std::vector<uint8_t>>;  // packed rows, 1 = black

std::vector<uint8_t> readFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string libtiffErrors;
void onTiffError(const char* module, const char* fmt, va_list ap) {
  char buf[512];
  vsnprintf(buf, sizeof buf, fmt, ap);
  libtiffErrors += std::string(module ? module : "") + ": " + buf + "\n";
}

// Wraps the coded rows of one QVF page as a Group 3 1-D strip (LSB-first, EOLs byte-aligned)
// in a TIFF written by libtiff and reads every row back through libtiff's decoder.
Rows decodeWithLibtiff(const std::string& qvf, int page, const std::string& scratch, int* widthOut = nullptr) {
  QvfPageHeader ph;
  int64_t at = 0;
  EXPECT_EQ(ReadPageHeader(qvf, page, ph, &at), 0);
  std::vector<uint8_t> file = readFile(qvf);
  std::vector<uint8_t> strip;
  int rows = 0;
  size_t pos = static_cast<size_t>(at), end = pos + static_cast<size_t>(ph.ImageLength);
  while (pos + 2 <= end) {
    size_t len = file[pos] | (file[pos + 1] << 8);
    strip.insert(strip.end(), file.begin() + static_cast<long>(pos) + 2,
                 file.begin() + static_cast<long>(pos + 2 + len));
    pos += 2 + len;
    if (pos < end) ++rows;  // the last record is the end of page
  }
  int width = (ph.PageFlags & pfWide) ? 2048 : 1728;
  if (widthOut) *widthOut = width;
  TIFFSetErrorHandler(onTiffError);
  TIFFSetWarningHandler(onTiffError);
  libtiffErrors.clear();
  TIFF* t = TIFFOpen(scratch.c_str(), "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, rows);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_FILLBITS);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows);
  TIFFWriteRawStrip(t, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
  TIFFClose(t);
  Rows out;
  t = TIFFOpen(scratch.c_str(), "r");
  std::vector<uint8_t> buf(static_cast<size_t>(width / 8));
  for (int r = 0; r < rows; ++r) {
    if (TIFFReadScanline(t, buf.data(), static_cast<uint32_t>(r), 0) < 0) break;
    out.push_back(buf);
  }
  TIFFClose(t);
  EXPECT_EQ(libtiffErrors, "");
  EXPECT_EQ(out.size(), static_cast<size_t>(rows));
  return out;
}

bool bit(const std::vector<uint8_t>& row, int x) { return (row[static_cast<size_t>(x >> 3)] >> (7 - (x & 7))) & 1; }

// The coded row expected for an image row: margin white, then the image from offsetBytes.
std::vector<uint8_t> placed(const std::vector<uint8_t>& img, int imgWidth, int offsetBytes,
                            int margin, int width, bool doubled = false) {
  std::vector<uint8_t> r(static_cast<size_t>(width / 8), 0);
  for (int x = margin; x < width; ++x) {
    int ix = (doubled ? (x - margin) / 2 : x - margin) - offsetBytes * 8;
    if (ix >= 0 && ix < imgWidth && bit(img, ix)) r[static_cast<size_t>(x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }
  return r;
}

Rows pattern(int w, int h, int seed) {
  std::mt19937 rng(static_cast<unsigned>(seed));
  Rows rows;
  for (int y = 0; y < h; ++y) {
    std::vector<uint8_t> r(static_cast<size_t>((w + 7) / 8), 0);
    int x = 0;
    bool black = false;
    while (x < w) {
      int run = 1 + static_cast<int>(rng() % (y % 3 == 0 ? 400 : 12));
      for (int i = x; i < std::min(w, x + run); ++i)
        if (black || i == 0 || i == w - 1) r[static_cast<size_t>(i >> 3)] |= static_cast<uint8_t>(0x80 >> (i & 7));
      x += run;
      black = !black;
    }
    rows.push_back(r);
  }
  return rows;
}

void writePbm(const std::string& name, int w, const Rows& rows) {
  std::ofstream out(name, std::ios::binary);
  out << "P4\n" << w << " " << rows.size() << "\n";
  for (const auto& r : rows) out.write(reinterpret_cast<const char*>(r.data()), static_cast<long>(r.size()));
}

// Reads a P4 PBM (as netpbm writes it).
Rows readPbm(const std::string& name, int& w) {
  std::ifstream in(name, std::ios::binary);
  std::string magic;
  int h = 0;
  in >> magic >> w >> h;
  in.get();
  Rows rows(static_cast<size_t>(h), std::vector<uint8_t>(static_cast<size_t>((w + 7) / 8)));
  for (auto& r : rows) in.read(reinterpret_cast<char*>(r.data()), static_cast<long>(r.size()));
  return rows;
}

void run(const std::string& cmd) { ASSERT_EQ(std::system((cmd + " 2>/dev/null").c_str()), 0) << cmd; }

std::string convertPicture(const std::string& in, TFaxInputDocumentType type, int margin,
                           TFaxCvtOptionsSet options = 0, TFaxResolution res = frNormal,
                           TFaxWidth width = fwNormal) {
  TQvFaxConverter c;
  c.SetInputDocumentType(type);
  c.SetLeftMargin(margin);
  c.SetOptions(options);
  c.SetResolution(res);
  c.SetWidth(width);
  c.SetDocumentFile(in);
  c.ConvertToFile();
  return c.OutFileName();
}

}  // namespace

TEST(LibtiffInterop, CodedRowsDecodeToTheSamePixels) {
  TempDir dir;
  struct Case {
    int imgWidth;
    int margin;
    TFaxCvtOptionsSet options;
    TFaxResolution res;
    TFaxWidth width;
    bool doubled;
  } cases[] = {
      {1728, 0, 0, frHigh, fwNormal, false},          // full-width page
      {1700, 50, 0, frNormal, fwNormal, false},       // with the usual margin
      {2048, 0, 0, frNormal, fwWide, false},          // wide rows (extended make-up codes)
      {800, 13, coDoubleWidth, frNormal, fwNormal, true},
      {1000, 1, coCenterImage, frHigh, fwWide, false},
  };
  int n = 0;
  for (const Case& k : cases) {
    Rows img = pattern(k.imgWidth, 120, n);
    // A 1-bit BMP with palette entry 1 white: made here, the reader is not under test.
    std::string bmp = dir.file("p" + std::to_string(n++) + ".bmp");
    {
      int stride = (k.imgWidth + 31) / 32 * 4;
      std::vector<uint8_t> v = {'B', 'M'};
      auto p32 = [&](uint32_t x) { for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i))); };
      auto p16 = [&](uint32_t x) { v.push_back(static_cast<uint8_t>(x)); v.push_back(static_cast<uint8_t>(x >> 8)); };
      p32(static_cast<uint32_t>(62 + stride * 120)); p32(0); p32(62); p32(40);
      p32(static_cast<uint32_t>(k.imgWidth)); p32(static_cast<uint32_t>(-120)); p16(1); p16(1);
      for (int i = 0; i < 6; ++i) p32(0);
      p32(0); p32(0xFFFFFF);
      for (const auto& r : img)
        for (int b = 0; b < stride; ++b) v.push_back(b < static_cast<int>(r.size()) ? static_cast<uint8_t>(~r[static_cast<size_t>(b)]) : 0xFF);
      std::ofstream(bmp, std::ios::binary).write(reinterpret_cast<const char*>(v.data()), static_cast<long>(v.size()));
    }
    std::string qvf = convertPicture(bmp, idBmp, k.margin, k.options, k.res, k.width);
    int width = 0;
    Rows got = decodeWithLibtiff(qvf, 1, dir.file("g3.tif"), &width);
    ASSERT_EQ(got.size(), img.size()) << "case " << n;
    int offset = (k.options & coCenterImage) ? (width - k.imgWidth) / 16 : 0;
    for (size_t y = 0; y < img.size(); ++y)
      ASSERT_EQ(got[y], placed(img[y], k.imgWidth, offset, k.margin, width, k.doubled))
          << "case " << n << " row " << y;
  }
}

TEST(LibtiffInterop, TextPagesAndBlankRowsDecode) {
  TempDir dir;
  std::string text;
  for (int i = 0; i < 70; ++i) text += "Line " + std::to_string(i) + " \t of some text: ~!@#$%^&*()_+{}|\r\n";
  std::ofstream(dir.file("t.txt"), std::ios::binary) << text;
  for (TFaxWidth w : {fwNormal, fwWide}) {
    TQvFaxConverter c;
    c.SetInputDocumentType(idText);
    c.SetTopMargin(4);
    c.SetWidth(w);
    c.SetResolution(frHigh);
    c.SetDocumentFile(dir.file("t.txt"));
    c.ConvertToFile();
    for (int page = 1; page <= 2; ++page) {
      Rows got = decodeWithLibtiff(c.OutFileName(), page, dir.file("g3.tif"));
      ASSERT_EQ(got.size(), 4u + (page == 1 ? 60u : 10u) * 32u);
      // Top-margin rows are white whatever the width; text rows carry ink.
      for (int r = 0; r < 4; ++r)
        for (uint8_t b : got[static_cast<size_t>(r)]) ASSERT_EQ(b, 0);
      int ink = 0;
      for (size_t r = 4; r < got.size(); ++r)
        for (uint8_t b : got[r]) ink += b != 0;
      EXPECT_GT(ink, 1000);
    }
  }
}

TEST(ToolInterop, NetpbmAndImageMagickPictures) {
  TempDir dir;
  const int w = 301, h = 57;
  Rows img = pattern(w, h, 99);
  writePbm(dir.file("src.pbm"), w, img);
  struct Made {
    std::string name;
    std::string cmd;
    TFaxInputDocumentType type;
  } made[] = {
      {"nb.bmp", "ppmtobmp " + dir.file("src.pbm") + " > " + dir.file("nb.bmp"), idBmp},
      {"mb.bmp", "convert " + dir.file("src.pbm") + " -type bilevel BMP3:" + dir.file("mb.bmp"), idBmp},
      {"nt.tif", "pnmtotiff " + dir.file("src.pbm") + " > " + dir.file("nt.tif"), idTiff},
      {"np.tif", "pnmtotiff -packbits " + dir.file("src.pbm") + " > " + dir.file("np.tif"), idTiff},
      {"mm.tif", "convert " + dir.file("src.pbm") + " -compress RLE -endian MSB " + dir.file("mm.tif"), idTiff},
      {"mi.tif", "convert " + dir.file("src.pbm") + " -compress None -endian LSB " + dir.file("mi.tif"), idTiff},
      {"np.pcx", "ppmtopcx " + dir.file("src.pbm") + " > " + dir.file("np.pcx"), idPcx},
  };
  for (const Made& m : made) {
    run(m.cmd);
    std::string qvf = convertPicture(dir.file(m.name), m.type, 20);
    Rows got = decodeWithLibtiff(qvf, 1, dir.file("g3.tif"));
    ASSERT_EQ(got.size(), static_cast<size_t>(h)) << m.name;
    for (size_t y = 0; y < got.size(); ++y)
      ASSERT_EQ(got[y], placed(img[y], w, 0, 20, 1728)) << m.name << " row " << y;
  }
  // ImageMagick's mono PCX sets bits for black although its palette calls entry 1 white; netpbm
  // reads such a file by the palette (as a negative), and so do we: netpbm is the judge here.
  run("convert " + dir.file("src.pbm") + " " + dir.file("src.gif") + " && convert " +
      dir.file("src.gif") + " " + dir.file("mp.pcx"));
  run("pcxtoppm " + dir.file("mp.pcx") + " | ppmtopgm | pgmtopbm -threshold > " + dir.file("mp.pbm"));
  int nw = 0;
  Rows judged = readPbm(dir.file("mp.pbm"), nw);
  ASSERT_EQ(nw, w);
  ASSERT_EQ(judged.size(), static_cast<size_t>(h));
  {
    Rows got = decodeWithLibtiff(convertPicture(dir.file("mp.pcx"), idPcx, 20), 1, dir.file("g3.tif"));
    ASSERT_EQ(got.size(), static_cast<size_t>(h));
    for (size_t y = 0; y < got.size(); ++y)
      ASSERT_EQ(got[y], placed(judged[y], w, 0, 20, 1728)) << "mp.pcx row " << y;
  }
  // A 24-bit bitmap of the same picture goes through the dither: black where the picture is
  // black and the threshold is above zero, white elsewhere.
  run("convert " + dir.file("src.pbm") + " -type TrueColor BMP3:" + dir.file("rgb.bmp"));
  Rows got = decodeWithLibtiff(convertPicture(dir.file("rgb.bmp"), idBmp, 0), 1, dir.file("g3.tif"));
  ASSERT_EQ(got.size(), static_cast<size_t>(h));
  auto level = [](int a, int b) {
    int dd = 0;
    for (int i = 0; i < 4; ++i) { dd = (((a ^ b) & 1) << 1) | (dd << 1) | (b & 1); a >>= 1; b >>= 1; }
    return dd;
  };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      ASSERT_EQ(bit(got[static_cast<size_t>(y)], x), bit(img[static_cast<size_t>(y)], x) && level(x & 31, y & 31) > 0)
          << x << "," << y;
}

TEST(ToolInterop, ThreePageDcxGivesThreePages) {
  TempDir dir;
  std::vector<Rows> judged;
  std::vector<int> widths;
  std::string gifs;
  for (int i = 0; i < 3; ++i) {
    std::string n = dir.file("p" + std::to_string(i));
    writePbm(n + ".pbm", 200 + 40 * i, pattern(200 + 40 * i, 30 + i, i + 7));
    run("convert " + n + ".pbm " + n + ".gif && convert " + n + ".gif " + n + ".pcx");
    gifs += " " + n + ".gif";
    // netpbm's reading of the same PCX page is the expected picture.
    run("pcxtoppm " + n + ".pcx | ppmtopgm | pgmtopbm -threshold > " + n + "j.pbm");
    int w = 0;
    judged.push_back(readPbm(n + "j.pbm", w));
    widths.push_back(w);
  }
  run("convert" + gifs + " " + dir.file("three.dcx"));
  std::string qvf = convertPicture(dir.file("three.dcx"), idDcx, 0);
  QvfFileHeader h;
  ASSERT_EQ(ReadFaxHeader(qvf, h), 0);
  ASSERT_EQ(h.PageCount, 3);
  for (int p = 0; p < 3; ++p) {
    Rows got = decodeWithLibtiff(qvf, p + 1, dir.file("g3.tif"));
    const Rows& img = judged[static_cast<size_t>(p)];
    ASSERT_EQ(widths[static_cast<size_t>(p)], 200 + 40 * p);
    ASSERT_EQ(got.size(), img.size()) << "page " << p + 1;
    for (size_t y = 0; y < got.size(); ++y)
      ASSERT_EQ(got[y], placed(img[y], 200 + 40 * p, 0, 0, 1728)) << "page " << p + 1 << " row " << y;
  }
}
