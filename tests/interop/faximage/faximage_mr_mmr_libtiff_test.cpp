// Our two-dimensional coders judged by libtiff: pages we code as MR (T.4 2-D) and MMR (T.6) must
// decode with libtiff's Group 3 2-D and Group 4 decoders to exactly our rows, and pages libtiff
// codes must decode with ours to exactly its rows. Bits least significant first, as on the line.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdarg>
#include <fstream>
#include <random>
#include <string>

#include "../../faximage/t4_test_coder.h"
#include "../../faximage/temp_dir.h"
#include "faximage/fax_converter.h"
#include "faximage/mmr_coder.h"
#include "faximage/mmr_decoder.h"
#include "faximage/mr_coder.h"
#include "faximage/mr_decoder.h"
#include "faximage/qvf_file.h"
#include "faximage/t4_2d_tables.h"
#include "faximage/t4_decoder.h"
#include "faximage/t4_transcode.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

namespace {

using Rows = std::vector<std::vector<uint8_t>>;

std::vector<uint8_t> ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string tiffErrors;
void OnTiffError(const char* module, const char* fmt, va_list ap) {
  char buf[512];
  vsnprintf(buf, sizeof buf, fmt, ap);
  tiffErrors += std::string(module ? module : "") + ": " + buf + "\n";
}

// A line coding as libtiff names it: Group 3 with the 2-D option (K from the vertical resolution:
// 2 at 98 dpi, 4 at 196 dpi), or Group 4.
struct Coding {
  const char* name;
  bool mmr;
  int k;        // MR only
  bool fill;    // libtiff's EOLs end on byte boundaries
};
const Coding kCodings[] = {
    {"MR K=2", false, kMrKStandard, false},
    {"MR K=4", false, kMrKFine, false},
    {"MR K=4 fill", false, kMrKFine, true},
    {"MMR", true, 0, false},
};

void SetTags(TIFF* t, int width, size_t rows, const Coding& c) {
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(rows));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, c.mmr ? COMPRESSION_CCITTFAX4 : COMPRESSION_CCITTFAX3);
  if (!c.mmr)
    TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_2DENCODING | (c.fill ? GROUP3OPT_FILLBITS : 0));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(t, TIFFTAG_XRESOLUTION, 204.0f);
  TIFFSetField(t, TIFFTAG_YRESOLUTION, c.k == kMrKStandard ? 98.0f : 196.0f);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(rows));
}

// libtiff codes the rows; returns its strip.
std::vector<uint8_t> LibtiffEncode(const std::string& path, const Rows& rows, int width, const Coding& c) {
  tiffErrors.clear();
  TIFF* t = TIFFOpen(path.c_str(), "w");
  EXPECT_NE(t, nullptr);
  SetTags(t, width, rows.size(), c);
  std::vector<uint8_t> buf;
  for (size_t y = 0; y < rows.size(); ++y) {
    buf = rows[y];
    EXPECT_EQ(TIFFWriteScanline(t, buf.data(), static_cast<uint32_t>(y), 0), 1);
  }
  TIFFClose(t);
  t = TIFFOpen(path.c_str(), "r");
  std::vector<uint8_t> strip(static_cast<size_t>(TIFFRawStripSize(t, 0)));
  TIFFReadRawStrip(t, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
  TIFFClose(t);
  EXPECT_EQ(tiffErrors, "");
  return strip;
}

// libtiff decodes our coded page, `rows` rows of it.
Rows LibtiffDecode(const std::string& path, const std::vector<uint8_t>& coded, int width, size_t rows,
                   const Coding& c) {
  tiffErrors.clear();
  TIFF* t = TIFFOpen(path.c_str(), "w");
  EXPECT_NE(t, nullptr);
  SetTags(t, width, rows, c);
  TIFFWriteRawStrip(t, 0, const_cast<uint8_t*>(coded.data()), static_cast<tmsize_t>(coded.size()));
  TIFFClose(t);
  Rows out;
  t = TIFFOpen(path.c_str(), "r");
  std::vector<uint8_t> buf(static_cast<size_t>((width + 7) / 8));
  for (size_t y = 0; y < rows; ++y) {
    if (TIFFReadScanline(t, buf.data(), static_cast<uint32_t>(y), 0) < 0) break;
    out.push_back(buf);
  }
  TIFFClose(t);
  EXPECT_EQ(tiffErrors, "");
  return out;
}

std::vector<uint8_t> OurEncode(const Rows& rows, int width, const Coding& c) {
  if (c.mmr) {
    MmrCoder coder(width);
    for (const auto& r : rows) coder.addRow(r.data());
    return coder.finish();
  }
  MrCoder coder(width, c.k);
  for (const auto& r : rows) coder.addRow(r.data());
  return coder.finish();
}

Rows OurDecode(const std::vector<uint8_t>& coded, int width, const Coding& c, bool* clean = nullptr) {
  Rows out;
  auto keep = [&out](std::span<const uint8_t> r) { out.emplace_back(r.begin(), r.end()); };
  if (c.mmr) {
    MmrDecoder d(width, keep);
    d.decodePage(coded);
    if (clean) *clean = !d.damaged();
  } else {
    MrDecoder d(width, keep);
    d.decodePage(coded);
    if (clean) *clean = d.badRows() == 0;
  }
  return out;
}

void SetPel(std::vector<uint8_t>& row, int x) { row[static_cast<size_t>(x >> 3)] |= static_cast<uint8_t>(0x80u >> (x & 7)); }

std::vector<uint8_t> Span(int width, int from, int to) {  // black [from, to)
  auto r = BlankRow(width);
  for (int x = from; x < to; ++x) SetPel(r, x);
  return r;
}

// The row shapes, each a page, in an order that also varies the line above each row.
std::vector<std::pair<std::string, Rows>> Shapes(int width) {
  std::vector<std::pair<std::string, Rows>> pages;
  Rows edges;  // a change at every offset, both ways, each row under its neighbour
  for (int x = 0; x < width; ++x) {
    edges.push_back(Span(width, x, width));
    edges.push_back(Span(width, 0, x));
  }
  pages.emplace_back("edges", edges);
  Rows pels;  // a lone black pel at every offset, and a pair of them moving apart
  for (int x = 0; x < width; ++x) {
    pels.push_back(Span(width, x, x + 1));
    auto r = Span(width, x / 2, x / 2 + 1);
    SetPel(r, width - 1 - x / 2);
    pels.push_back(r);
  }
  pages.emplace_back("lone pels", pels);
  Rows solid;  // all white and all black, in every order
  for (int i = 0; i < 12; ++i) solid.push_back(i % 3 == 0 ? BlankRow(width) : Span(width, 0, width));
  solid.push_back(BlankRow(width));
  solid.push_back(BlankRow(width));
  pages.emplace_back("solid", solid);
  Rows alternating;  // runs of n pels alternating, shifted by every amount below 2n
  for (int n = 1; n <= 70; n += (n < 8 ? 1 : 9)) {
    for (int shift = 0; shift < 2 * n; shift += (n < 8 ? 1 : 5)) {
      auto r = BlankRow(width);
      for (int x = 0; x < width; ++x)
        if (((x + shift) / n) % 2) SetPel(r, x);
      alternating.push_back(r);
    }
  }
  pages.emplace_back("alternating runs", alternating);
  // Random rows, and rows that each move the edges of the row above by a few pels (the
  // vertical and pass modes), in runs of both.
  std::mt19937 rng(static_cast<unsigned>(width));
  Rows random;
  for (int block = 0; block < 40; ++block) {
    auto r = RandomRow(rng, width, block % 2 ? 50 : 20);
    random.push_back(r);
    for (int i = 0; i < 12; ++i) {
      std::vector<uint8_t> next = BlankRow(width);
      std::uniform_int_distribution<int> move(-4, 4);
      bool black = false;
      int from = 0;
      for (int x = 0; x <= width; ++x) {
        bool pel = x < width && ((r[static_cast<size_t>(x >> 3)] >> (7 - (x & 7))) & 1);
        if (x == width || pel != black) {
          int to = std::clamp(x + (x < width ? move(rng) : 0), from, width);
          if (black)
            for (int p = from; p < to; ++p) SetPel(next, p);
          from = to;
          black = pel;
        }
      }
      random.push_back(next);
      r = next;
    }
  }
  pages.emplace_back("random", random);
  return pages;
}

// Rows of a fine text page as the text converter makes them.
Rows TextPageRows(int width, const TempDir& dir) {
  std::string text;
  for (int i = 0; i < 60; ++i)
    text += "Line " + std::to_string(i) + ": The quick brown fox jumps over the lazy dog 0123456789 {}[]|~\r\n";
  std::ofstream(dir.file("t.txt"), std::ios::binary) << text;
  TQvFaxConverter c;
  c.SetInputDocumentType(idText);
  c.SetResolution(frHigh);
  c.SetWidth(width == 2048 ? fwWide : fwNormal);
  c.SetDocumentFile(dir.file("t.txt"));
  c.ConvertToFile();
  QvfPageHeader ph;
  int64_t at = 0;
  EXPECT_EQ(ReadPageHeader(c.OutFileName(), 1, ph, &at), 0);
  std::vector<uint8_t> file = ReadAll(c.OutFileName());
  Rows rows;
  T4Decoder d([&rows](std::span<const uint8_t> r) { rows.emplace_back(r.begin(), r.end()); });
  size_t pos = static_cast<size_t>(at), end = pos + static_cast<size_t>(ph.ImageLength);
  while (pos + 2 <= end) {
    size_t len = file[pos] | (file[pos + 1] << 8);
    d.feed(file.data() + pos + 2, len);
    pos += 2 + len;
  }
  EXPECT_GT(rows.size(), 1000u);
  return rows;
}

}  // namespace

TEST(MrMmrLibtiff, EveryRowShapeBothWaysPixelExact) {
  TempDir dir;
  TIFFSetErrorHandler(OnTiffError);
  TIFFSetWarningHandler(OnTiffError);
  for (int width : {1728, 2048, 2432}) {  // A4, B4, A3
    auto pages = Shapes(width);
    if (width != 2432) pages.emplace_back("text", TextPageRows(width, dir));  // the converter's widths
    for (const auto& [name, rows] : pages) {
      for (const Coding& c : kCodings) {
        SCOPED_TRACE(std::string(name) + ", " + c.name + ", width " + std::to_string(width));
        if (!c.fill) {  // ours never aligns EOLs; the fill case is for libtiff's side
          std::vector<uint8_t> coded = OurEncode(rows, width, c);
          EXPECT_EQ(LibtiffDecode(dir.file("ours.tif"), coded, width, rows.size(), c), rows);
        }
        std::vector<uint8_t> strip = LibtiffEncode(dir.file("theirs.tif"), rows, width, c);
        bool clean = false;
        EXPECT_EQ(OurDecode(strip, width, c, &clean), rows);
        EXPECT_TRUE(clean);
      }
    }
  }
}

// T.6 leaves an encoder no choices, so ours must give libtiff's bytes (pad bits aside).
TEST(MrMmrLibtiff, MmrBytesEqualLibtiffs) {
  TempDir dir;
  TIFFSetErrorHandler(OnTiffError);
  const Coding& mmr = kCodings[3];
  for (int width : {1728, 2048}) {
    Rows rows = TextPageRows(width, dir);
    for (auto& [name, shape] : Shapes(width)) rows.insert(rows.end(), shape.begin(), shape.end());
    std::vector<uint8_t> ours = OurEncode(rows, width, mmr);
    std::vector<uint8_t> theirs = LibtiffEncode(dir.file("g4.tif"), rows, width, mmr);
    ASSERT_EQ(ours.size(), theirs.size());
    ours.pop_back();
    theirs.pop_back();
    EXPECT_TRUE(ours == theirs) << "width " << width;
  }
}

// The sender codes a file's MH page for the line, the receiver turns it back into MH for the
// file: the rows survive both trips, and libtiff reads the line data in between.
TEST(MrMmrLibtiff, MhPagesThroughMrAndMmrAndBack) {
  TempDir dir;
  TIFFSetErrorHandler(OnTiffError);
  for (int width : {1728, 2048}) {
    Rows rows = TextPageRows(width, dir);
    std::vector<uint8_t> mhPage;  // a receiver-style raw MH page
    {
      BitWriter w;
      for (const auto& r : rows) {
        w.eol();
        w.row(r, width);
      }
      w.rtc();
      mhPage = w.bytes();
    }
    for (const Coding& c : {kCodings[0], kCodings[1], kCodings[3]}) {
      SCOPED_TRACE(std::string(c.name) + ", width " + std::to_string(width));
      const T4Coding coding = c.mmr ? T4Coding::kMmr : T4Coding::kMr;
      LinePage line = CodePageForLine(mhPage, false, width, coding, c.k, 0);
      ASSERT_EQ(line.rows, rows.size());
      EXPECT_EQ(LibtiffDecode(dir.file("line.tif"), line.data, width, rows.size(), c), rows);
      FilePage back = MhPageFromLine(line.data, width, coding);
      EXPECT_EQ(back.rows, rows.size());
      EXPECT_EQ(back.badRows, 0u);
      EXPECT_TRUE(back.ended);
      Rows again;
      T4Decoder d([&again](std::span<const uint8_t> r) { again.emplace_back(r.begin(), r.end()); });
      d.feed(back.mh);
      EXPECT_TRUE(d.pageEnded());
      EXPECT_EQ(again, rows);
    }
  }
}
