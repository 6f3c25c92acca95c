// The PDF and TIFF exports: document structure, page sizes, and coded streams that decode with
// our own decoder to exactly the rows the unpacker gives.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "export_document_test.h"
#include "faximage/export_pdf.h"
#include "faximage/export_tiff.h"
#include "faximage/t4_decoder.h"
#include "faximage/unpacker_bitmap.h"
#include "test_util.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

namespace {

Rows Decode(const uint8_t* data, size_t size) {
  Rows rows;
  T4Decoder d([&](std::span<const uint8_t> r) { rows.emplace_back(r.begin(), r.end()); });
  d.startPage();
  d.feed(data, size);
  EXPECT_EQ(d.badCodes(), 0u);
  return rows;
}

uint8_t Reverse(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | (((b >> i) & 1) << (7 - i)));
  return r;
}

class DocumentExport : public ::testing::Test {
 protected:
  void SetUp() override { WriteDocumentFax(qvf, 7); }
  TempDir dir;
  std::string qvf = dir.file("doc.qvf");
};

TEST_F(DocumentExport, PdfHasPagesAtPaperSizeWithLosslessImagesAndTrueOffsets) {
  UnpackerState st;
  st.setAutoScale(kUnpackDoubleHeight);  // must not stretch a document page
  ASSERT_EQ(UnpackFileToPdf(st, qvf, dir.file("out.pdf")), 0);
  std::vector<uint8_t> raw = ReadAll(dir.file("out.pdf"));
  std::string pdf(raw.begin(), raw.end());
  EXPECT_NE(pdf.find("/Count 2 "), std::string::npos);
  EXPECT_NE(pdf.find("/Title (doc.qvf)"), std::string::npos);
  EXPECT_TRUE(std::regex_search(pdf, std::regex("/CreationDate \\(D:\\d{14}\\)")));

  std::smatch m;
  std::vector<std::pair<double, double>> boxes;
  const std::regex box("/MediaBox \\[0 0 ([0-9.]+) ([0-9.]+)\\]");
  for (auto it = std::sregex_iterator(pdf.begin(), pdf.end(), box);
       it != std::sregex_iterator(); ++it)
    boxes.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_NEAR(boxes[0].first * 25.4 / 72, 215.0, 1.5);   // 1728 pixels
  EXPECT_NEAR(boxes[0].second * 25.4 / 72, 297.0, 1.5);  // fine A4
  EXPECT_NEAR(boxes[1].first * 25.4 / 72, 255.0, 1.5);   // 2048 pixels
  EXPECT_NEAR(boxes[1].second, 300 * 72.0 / 98, 0.01);

  // Every xref entry points at its object.
  size_t xref = std::stoul(pdf.substr(pdf.rfind("startxref") + 10));
  ASSERT_EQ(pdf.compare(xref, 4, "xref"), 0);
  int count = std::stoi(pdf.substr(xref + 7));
  EXPECT_EQ(count, 1 + 3 + 3 * 2);
  for (int i = 1; i < count; ++i) {
    size_t off = std::stoul(pdf.substr(xref + 7 + pdf.substr(xref + 7).find('\n') + 1 + 20 * static_cast<size_t>(i), 10));
    EXPECT_EQ(pdf.compare(off, std::to_string(i).size() + 6, std::to_string(i) + " 0 obj"), 0) << i;
  }

  // The image streams, read back most significant bit first, decode to the page rows.
  size_t pos = 0;
  for (int page = 1; page <= 2; ++page) {
    pos = pdf.find("/CCITTFaxDecode", pos);
    ASSERT_NE(pos, std::string::npos);
    size_t lenAt = pdf.find("/Length ", pos) + 8;
    size_t len = std::stoul(pdf.substr(lenAt));
    size_t data = pdf.find("stream\n", lenAt) + 7;
    std::vector<uint8_t> coded(raw.begin() + static_cast<long>(data), raw.begin() + static_cast<long>(data + len));
    for (uint8_t& b : coded) b = Reverse(b);
    EXPECT_EQ(pdf.compare(data + len, 10, "\nendstream"), 0);
    Rows expect = PageRows(qvf, page);
    EXPECT_EQ(expect.size(), page == 1 ? size_t{kFineA4Rows} : size_t{300});
    EXPECT_TRUE(Decode(coded.data(), coded.size()) == expect) << "page " << page;
    pos = data + len;
  }
}

uint32_t Get(const std::vector<uint8_t>& d, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | d[at + static_cast<size_t>(i)];
  return v;
}

TEST_F(DocumentExport, TiffHasOneClassFPagePerFaxPage) {
  UnpackerState st;
  ASSERT_EQ(UnpackFileToTiff(st, qvf, dir.file("out.tif")), 0);
  std::vector<uint8_t> t = ReadAll(dir.file("out.tif"));
  ASSERT_EQ(Get(t, 0, 4), 0x002A4949u);
  size_t ifd = Get(t, 4, 4);
  int page = 0;
  while (ifd != 0) {
    ASSERT_LT(ifd + 2, t.size());
    EXPECT_EQ(ifd % 2, 0u);
    std::map<int, std::pair<int, uint32_t>> tags;  // tag -> type, value field
    int n = static_cast<int>(Get(t, ifd, 2));
    int last = 0;
    for (int k = 0; k < n; ++k) {
      size_t at = ifd + 2 + 12 * static_cast<size_t>(k);
      int tag = static_cast<int>(Get(t, at, 2));
      EXPECT_GT(tag, last);  // sorted
      last = tag;
      tags[tag] = {static_cast<int>(Get(t, at + 2, 2)), Get(t, at + 8, 4)};
    }
    ++page;
    const bool fine = page == 1;
    EXPECT_EQ(tags[254].second, 2u);
    EXPECT_EQ(tags[256].second, fine ? 1728u : 2048u);
    EXPECT_EQ(tags[257].second, fine ? uint32_t{kFineA4Rows} : 300u);
    EXPECT_EQ(tags[259].second & 0xFFFF, 3u);
    EXPECT_EQ(tags[266].second & 0xFFFF, 2u);
    EXPECT_EQ(tags[296].second & 0xFFFF, 2u);
    EXPECT_EQ(tags[297].second, static_cast<uint32_t>(page - 1) | (2u << 16));
    EXPECT_EQ(Get(t, tags[282].second, 4), 204u);
    EXPECT_EQ(Get(t, tags[283].second, 4), fine ? 196u : 98u);
    size_t strip = tags[273].second, len = tags[279].second;
    ASSERT_LE(strip + len, t.size());
    // Our decoder hands a row on at the EOL after it; the strip itself need not end in one.
    std::vector<uint8_t> coded(t.begin() + static_cast<long>(strip), t.begin() + static_cast<long>(strip + len));
    coded.insert(coded.end(), kEndOfPageCode.begin(), kEndOfPageCode.end());
    EXPECT_TRUE(Decode(coded.data(), coded.size()) == PageRows(qvf, page)) << "page " << page;
    ifd = Get(t, ifd + 2 + 12 * static_cast<size_t>(n), 4);
  }
  EXPECT_EQ(page, 2);
}

TEST_F(DocumentExport, FailureLeavesNoFile) {
  UnpackerState st;
  EXPECT_LT(UnpackFileToPdf(st, dir.file("missing.qvf"), dir.file("a.pdf")), 0);
  EXPECT_LT(UnpackFileToTiff(st, dir.file("missing.qvf"), dir.file("a.tif")), 0);
  WriteAll(dir.file("bad.qvf"), std::vector<uint8_t>(100, 'x'));
  EXPECT_LT(UnpackFileToPdf(st, dir.file("bad.qvf"), dir.file("b.pdf")), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.file("a.pdf")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("a.tif")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("b.pdf")));
}

}  // namespace
