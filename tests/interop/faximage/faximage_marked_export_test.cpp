// "qvfax export" and "qvfax print" of a fax with a marks file beside it, judged by poppler and
// libtiff: the marks are where they were drawn, the turned page is turned, and --no-marks (or a fax
// without marks) gives the fax's own pixels. A damaged marks file stops the command with a reason.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "../shell_command.h"
#include "../../faximage/export_document_test.h"
#include "../../faximage/temp_dir.h"
#include "faximage/marks_file.h"
#include "faximage/page_marks.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

using qv::testing::Shell;

namespace {

Rows ReadPbm(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::string magic;
  int w = 0, h = 0;
  in >> magic >> w >> h;
  in.get();
  Rows rows;
  if (magic != "P4") return rows;
  for (int y = 0; y < h; ++y) {
    std::vector<uint8_t> r(static_cast<size_t>((w + 7) / 8));
    in.read(reinterpret_cast<char*>(r.data()), static_cast<long>(r.size()));
    rows.push_back(std::move(r));
  }
  return rows;
}

std::string Slurp(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Black(const Rows& rows, int x, int y) { return (rows[static_cast<size_t>(y)][static_cast<size_t>(x / 8)] >> (7 - x % 8)) & 1; }

int BlackIn(const Rows& rows, int x0, int y0, int x1, int y1) {
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) n += Black(rows, x, y);
  return n;
}

std::string Qvfax(const std::string& args, int* rc) {
  return Shell(std::string(QV_BIN_DIR) + "/qvfax " + args + " 2>&1", rc);
}

// Marks on the fine page 1 (a pen line across, a white-out box, a tick) and a half turn of the
// standard page 2 with a white-out in what is then its top left corner.
FaxMarks TestMarks() {
  FaxMarks m;
  m.marks.push_back(Mark::Stroke(MarkKind::Pen, 1, 6, {{100, 1000}, {1600, 1000}}));
  m.marks.push_back(Mark::Box(MarkKind::Whiteout, 1, 200, 200, 400, 300));
  m.marks.push_back(Mark::Box(MarkKind::Check, 1, 1000, 1500, 120, 120));
  m.SetRotation(2, PageRotation::Half);
  m.marks.push_back(Mark::Box(MarkKind::Whiteout, 2, 0, 0, 600, 200));
  return m;
}

class MarkedExport : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteDocumentFax(qvf, 17);
    ASSERT_TRUE(SaveMarks(qvf, TestMarks()));
  }
  // Page `page` of a PDF as poppler renders it at the fax's own resolution.
  Rows Render(const std::string& pdf, int page, int yres) {
    const std::string prefix = dir.file("r" + std::to_string(page) + "-" + std::to_string(++renders));
    int rc = 0;
    std::string o = Shell("pdftoppm -mono -rx 204 -ry " + std::to_string(yres) + " -f " + std::to_string(page) +
                              " -l " + std::to_string(page) + " -singlefile " + pdf + " " + prefix + " 2>&1",
                          &rc);
    EXPECT_EQ(rc, 0) << o;
    return ReadPbm(prefix + ".pbm");
  }
  TempDir dir;
  std::string qvf = dir.file("doc.qvf");
  int renders = 0;
};

}  // namespace

// The pages poppler renders are the fax's pixels turned and marked exactly as the rasteriser
// draws them, and the marks are where they were put; --no-marks gives the fax's own pixels.
TEST_F(MarkedExport, PdfShowsTheMarksWhereDrawnAndNoMarksTheFax) {
  const std::string marked = dir.file("marked.pdf"), plain = dir.file("plain.pdf");
  const std::string faxBefore = Slurp(qvf);
  int rc = 0;
  std::string out = Qvfax("export --pdf " + qvf + " " + marked, &rc);
  ASSERT_EQ(rc, 0) << out;
  out = Qvfax("export --no-marks --pdf " + qvf + " " + plain, &rc);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_TRUE(Slurp(qvf) == faxBefore) << "the received file is never changed";

  EXPECT_TRUE(Render(plain, 1, 196) == PageRows(qvf, 1));
  EXPECT_TRUE(Render(plain, 2, 98) == PageRows(qvf, 2));

  const Rows page1 = Render(marked, 1, 196), own1 = PageRows(qvf, 1);
  ASSERT_EQ(page1.size(), own1.size());
  EXPECT_EQ(BlackIn(page1, 200, 200, 600, 500), 0) << "the white-out";
  EXPECT_GT(BlackIn(own1, 200, 200, 600, 500), 1000) << "there was something to white out";
  EXPECT_EQ(BlackIn(page1, 100, 997, 1600, 1003), 1500 * 6) << "the pen line, 6 rows thick";
  EXPECT_GT(BlackIn(page1, 1000, 1500, 1120, 1620), BlackIn(own1, 1000, 1500, 1120, 1620)) << "the tick";
  EXPECT_EQ(BlackIn(page1, 0, 1700, 1728, kFineA4Rows), BlackIn(own1, 0, 1700, 1728, kFineA4Rows))
      << "no mark below row 1700";

  // Page 2 (standard, 2048 wide, 300 rows) turned upside down, then its top left white.
  const Rows page2 = Render(marked, 2, 98), own2 = PageRows(qvf, 2);
  ASSERT_EQ(page2.size(), 300u);
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 2048; ++x) {
      const bool expected = (x < 600 && y < 100) ? false : Black(own2, 2047 - x, 299 - y);
      ASSERT_EQ(Black(page2, x, y), expected) << x << "," << y;
    }
}

// The TIFF export carries the same marked pages, as libtiff decodes them.
TEST_F(MarkedExport, TiffCarriesTheMarkedPages) {
  const std::string tif = dir.file("marked.tif");
  int rc = 0;
  std::string out = Qvfax("export --tiff " + qvf + " " + tif, &rc);
  ASSERT_EQ(rc, 0) << out;
  TIFF* t = TIFFOpen(tif.c_str(), "r");
  ASSERT_NE(t, nullptr);
  uint32_t w = 0, h = 0;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
  ASSERT_EQ(w, 1728u);
  ASSERT_EQ(h, static_cast<uint32_t>(kFineA4Rows));
  Rows rows(h, std::vector<uint8_t>(w / 8));
  for (uint32_t y = 0; y < h; ++y) ASSERT_EQ(TIFFReadScanline(t, rows[y].data(), y), 1);
  TIFFClose(t);
  // Photometric 0 (min is white): a set bit is black, as in our rows.
  EXPECT_EQ(BlackIn(rows, 200, 200, 600, 500), 0);
  EXPECT_EQ(BlackIn(rows, 100, 997, 1600, 1003), 1500 * 6);
}

// A damaged marks file stops export and print with the file, the line and the way out; --no-marks
// then exports and prints the fax, and the damaged file is left for the user to look at.
TEST_F(MarkedExport, DamagedMarksFileStopsWithAReason) {
  const std::string marksFile = MarksFileName(qvf);
  { std::ofstream(marksFile, std::ios::trunc) << "QVMARKS 1\npen 1 3 10,20\nsmudge 1\n"; }
  int rc = 0;
  std::string out = Qvfax("export --pdf " + qvf + " " + dir.file("x.pdf"), &rc);
  EXPECT_NE(rc, 0);
  EXPECT_NE(out.find(marksFile), std::string::npos) << out;
  EXPECT_NE(out.find("line 3: unknown mark \"smudge\""), std::string::npos) << out;
  EXPECT_NE(out.find("--no-marks"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(dir.file("x.pdf")));

  out = Qvfax("print " + qvf + " --pdf " + dir.file("p.pdf"), &rc);
  EXPECT_NE(rc, 0);
  EXPECT_NE(out.find("line 3"), std::string::npos) << out;

  out = Qvfax("export --no-marks --pdf " + qvf + " " + dir.file("x.pdf"), &rc);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_TRUE(Render(dir.file("x.pdf"), 1, 196) == PageRows(qvf, 1));
  EXPECT_EQ(Slurp(marksFile), "QVMARKS 1\npen 1 3 10,20\nsmudge 1\n");
}

// Printing draws the marks too: a page whited out whole prints blank, and prints the fax with
// --no-marks.
TEST_F(MarkedExport, PrintDrawsTheMarksAndNoMarksLeavesThem) {
  FaxMarks blank;
  blank.marks.push_back(Mark::Box(MarkKind::Whiteout, 1, 0, 0, 1728, kFineA4Rows));
  ASSERT_TRUE(SaveMarks(qvf, blank));
  const std::string marked = dir.file("printed.pdf"), plain = dir.file("printed-plain.pdf");
  int rc = 0;
  std::string out = Qvfax("print " + qvf + " --pages 1 --pdf " + marked, &rc);
  ASSERT_EQ(rc, 0) << out;
  out = Qvfax("print " + qvf + " --pages 1 --no-marks --pdf " + plain, &rc);
  ASSERT_EQ(rc, 0) << out;
  // Grey levels, not poppler's dithering, which puts dots on the seams of a scaled white image.
  auto dark = [&](const std::string& pdf) {
    const std::string prefix = dir.file("g" + std::to_string(++renders));
    int status = 0;
    std::string o = Shell("pdftoppm -gray -r 50 -singlefile " + pdf + " " + prefix + " 2>&1", &status);
    EXPECT_EQ(status, 0) << o;
    std::ifstream in(prefix + ".pgm", std::ios::binary);
    std::string magic;
    int w = 0, h = 0, max = 0;
    in >> magic >> w >> h >> max;
    in.get();
    std::string pixels(static_cast<size_t>(w) * static_cast<size_t>(h), '\xFF');
    in.read(pixels.data(), static_cast<long>(pixels.size()));
    EXPECT_TRUE(magic == "P5" && in) << prefix;
    return std::count_if(pixels.begin(), pixels.end(), [](char c) { return static_cast<unsigned char>(c) < 128; });
  };
  EXPECT_EQ(dark(marked), 0);
  EXPECT_GT(dark(plain), 1000);
}
