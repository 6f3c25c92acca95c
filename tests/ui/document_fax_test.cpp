// A document written as a QVF fax file: one fine page per rendered page, nothing left on failure.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "faximage/qvf_file.h"
#include "ui/document_fax.h"
#include "ui_test_support.h"

using namespace qv;
using namespace qv::ui;
using namespace qv::ui::test;

TEST(DocumentFax, EveryRenderedPageBecomesOneFinePage) {
  App();
  QTemporaryDir dir;
  rtf::Document doc;
  rtf::ParaFormat brk;
  brk.pageBreakBefore = true;
  doc.paragraphs.push_back(Para({TextRun(Words(200))}));
  doc.paragraphs.push_back(Para({TextRun(Words(50, 1))}, brk));
  doc.paragraphs.push_back(Para({FieldRun(1, "[RECIPIENT]")}, brk));
  std::string out = (dir.path() + "/doc.QVF").toStdString();
  int pages = 0;
  ASSERT_EQ(WriteDocumentFax(doc, out, {[](int) { return QString("Ann"); }, "STATION", false}, &pages), 0);
  EXPECT_EQ(pages, 3);
  faximage::QvfFileHeader h;
  ASSERT_EQ(faximage::ReadFaxHeader(out, h), 0);
  EXPECT_EQ(h.PageCount, 3);
  EXPECT_EQ(h.StationIdString(), "STATION");
  for (int p = 1; p <= 3; ++p) {
    faximage::QvfPageHeader ph;
    ASSERT_EQ(faximage::ReadPageHeader(out, p, ph), 0);
    EXPECT_TRUE(ph.PageFlags & faximage::pfHighRes) << "page " << p;
  }
  EXPECT_GT(std::filesystem::file_size(out), 3u * 2156u) << "a row record per row";

  // An output that cannot be created leaves nothing and reports a code.
  std::string bad = (dir.path() + "/missing/dir/doc.QVF").toStdString();
  EXPECT_LT(WriteDocumentFax(doc, bad, {}, &pages), 0);
  EXPECT_EQ(pages, 0);
  EXPECT_FALSE(std::filesystem::exists(bad));
}

TEST(DocumentFax, PageFilesAreNamedInTheDataDirectory) {
  QTemporaryDir dir;
  std::string d = dir.path().toStdString();
  std::string base = RenderBaseFileName(d);
  EXPECT_EQ(base, d + "/QRV_1.QVF");
  std::ofstream(d + "/QRV_1.QVF") << "x";
  std::ofstream(d + "/QRV_2.QVF") << "x";
  EXPECT_EQ(RenderBaseFileName(d), d + "/QRV_3.QVF") << "the smallest free number";
  for (int n = 3; n <= 1000; ++n) std::ofstream(d + "/QRV_" + std::to_string(n) + ".QVF") << "x";
  EXPECT_EQ(RenderBaseFileName(d), d + "/QRV1.QVF") << "all taken";
  EXPECT_EQ(RenderPageFileName(d, 1, base), base);
  EXPECT_EQ(RenderPageFileName(d, 2, base), d + "/QRVAX2.QVF");
  EXPECT_EQ(RenderPageFileName(d, 17, base), d + "/QRVAX17.QVF");
}
