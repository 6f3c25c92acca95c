// "qvfax export --pdf/--tiff" judged by poppler and libtiff: the page count and paper size they
// report, and the pixels they render or decode, which must be exactly the unpacker's rows.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "../shell_command.h"
#include "../../faximage/export_document_test.h"
#include "../../faximage/temp_dir.h"
#include "faximage/unpacker_bitmap.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

using qv::testing::Shell;

namespace {

// A binary PBM as poppler writes it (1 = black).
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

class Documents : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteDocumentFax(qvf, 11);
    int rc = 0;
    out = Shell(std::string(QV_BIN_DIR) + "/qvfax export --pdf " + qvf + " " + pdf + " 2>&1 && " + QV_BIN_DIR +
                    "/qvfax export --tiff " + qvf + " " + tif + " 2>&1",
                &rc);
    ASSERT_EQ(rc, 0) << out;
  }
  TempDir dir;
  std::string qvf = dir.file("doc.qvf"), pdf = dir.file("doc.pdf"), tif = dir.file("doc.tif"), out;
};

TEST_F(Documents, PdfinfoSeesTwoPagesAtTheirPaperSize) {
  std::string info = Shell("pdfinfo -f 1 -l 2 " + pdf + " 2>&1");
  EXPECT_NE(info.find("Pages:           2"), std::string::npos) << info;
  double w1 = 0, h1 = 0, w2 = 0, h2 = 0;
  size_t p1 = info.find("Page    1 size:"), p2 = info.find("Page    2 size:");
  ASSERT_NE(p1, std::string::npos) << info;
  ASSERT_NE(p2, std::string::npos) << info;
  std::sscanf(info.c_str() + p1, "Page    1 size: %lf x %lf", &w1, &h1);
  std::sscanf(info.c_str() + p2, "Page    2 size: %lf x %lf", &w2, &h2);
  EXPECT_NEAR(w1, 609.9, 1);  // 215 mm
  EXPECT_NEAR(h1, 842, 2.5);  // fine A4: 297 mm
  EXPECT_NEAR(w2, 722.8, 1);  // 255 mm
  EXPECT_NEAR(h2, 300 * 72.0 / 98, 0.1);
}

TEST_F(Documents, PopplerRendersExactlyOurPixelsAtTheFaxResolution) {
  const struct { int page, yres; } cases[] = {{1, 196}, {2, 98}};
  for (const auto& c : cases) {
    std::string prefix = dir.file("r" + std::to_string(c.page));
    int rc = 0;
    std::string o = Shell("pdftoppm -mono -rx 204 -ry " + std::to_string(c.yres) + " -f " + std::to_string(c.page) +
                              " -l " + std::to_string(c.page) + " -singlefile " + pdf + " " + prefix + " 2>&1",
                          &rc);
    ASSERT_EQ(rc, 0) << o;
    EXPECT_TRUE(ReadPbm(prefix + ".pbm") == PageRows(qvf, c.page)) << "page " << c.page;
  }
}

TEST_F(Documents, LibtiffReadsTheTiffAsOurPixels) {
  int rc = 0;
  std::string info = Shell("tiffinfo " + tif + " 2>&1", &rc);
  EXPECT_EQ(rc, 0) << info;
  EXPECT_EQ(info.find("Warning"), std::string::npos) << info;
  EXPECT_NE(info.find("Page Number: 1-2"), std::string::npos) << info;
  EXPECT_NE(info.find("Resolution: 204, 196 pixels/inch"), std::string::npos) << info;
  EXPECT_NE(info.find("Resolution: 204, 98 pixels/inch"), std::string::npos) << info;

  // tiffcp must be able to recode it, and libtiff's decoder gives back our rows.
  Shell("tiffcp -c none " + tif + " " + dir.file("plain.tif") + " 2>&1", &rc);
  EXPECT_EQ(rc, 0);
  TIFF* t = TIFFOpen(tif.c_str(), "r");
  ASSERT_NE(t, nullptr);
  int page = 0;
  do {
    ++page;
    uint32_t w = 0, h = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    Rows rows;
    for (uint32_t y = 0; y < h; ++y) {
      std::vector<uint8_t> r(w / 8);
      ASSERT_EQ(TIFFReadScanline(t, r.data(), y, 0), 1) << "page " << page << " row " << y;
      rows.push_back(std::move(r));  // min-is-white: 1 = black as stored
    }
    EXPECT_TRUE(rows == PageRows(qvf, page)) << "page " << page;
  } while (TIFFReadDirectory(t));
  TIFFClose(t);
  EXPECT_EQ(page, 2);
}

TEST_F(Documents, CommandLineReportsFailuresAndLeavesNoFile) {
  int rc = 0;
  std::string o = Shell(std::string(QV_BIN_DIR) + "/qvfax export --pdf " + dir.file("none.qvf") + " " +
                            dir.file("none.pdf") + " 2>&1",
                        &rc);
  EXPECT_NE(rc, 0) << o;
  EXPECT_FALSE(std::filesystem::exists(dir.file("none.pdf")));
  o = Shell(std::string(QV_BIN_DIR) + "/qvfax export --tiff " + qvf + " 2>&1", &rc);
  EXPECT_NE(rc, 0) << o;
  EXPECT_NE(o.find("--tiff"), std::string::npos) << o;
}

}  // namespace
