// qvfax convert on the documents the desktop renders: the same pages as the desktop's renderer,
// and a clear failure for a damaged memo.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <fstream>
#include <iterator>

#include "../interop/shell_command.h"
#include "faximage/qvf_file.h"
#include "rtf/rtf_reader.h"
#include "ui/document_fax.h"
#include "ui_test_support.h"

using namespace qv;
using namespace qv::ui::test;

namespace {

std::string Bytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string Qvfax(const std::string& args, int* status) {
  return qv::testing::Shell(std::string(QV_BIN_DIR) + "/qvfax " + args + " 2>&1", status);
}

}  // namespace

TEST(QvfaxConvert, RtfGivesTheDesktopsPagesAndPicturesOnePageEach) {
  App();
  QTemporaryDir dir;
  std::string base = dir.path().toStdString() + "/";
  const std::string memo =
      "{\\rtf1\\ansi{\\fonttbl{\\f0 DejaVu Sans;}}\\f0\\fs20 Quarterly \\b report\\b0 for the "
      "board.\\par\\pagebb Second page with more text.\\par}";
  std::ofstream(base + "memo.rtf") << memo;
  int status = -1;
  std::string out = Qvfax("convert " + base + "memo.rtf -o " + base + "cli", &status);
  ASSERT_EQ(status, 0) << out;
  faximage::QvfFileHeader h;
  ASSERT_EQ(faximage::ReadFaxHeader(base + "cli.QVF", h), 0);
  EXPECT_EQ(h.PageCount, 2);

  rtf::Document doc;
  ASSERT_TRUE(rtf::ReadRtf(memo, doc));
  ASSERT_EQ(ui::WriteDocumentFax(doc, base + "desk.QVF"), 0);
  std::string a = Bytes(base + "cli.QVF"), b = Bytes(base + "desk.QVF");
  ASSERT_GT(a.size(), 64u);
  EXPECT_EQ(a.substr(64), b.substr(64)) << "the same pages, only the header's time may differ";

  QImage img(600, 300, QImage::Format_RGB32);
  img.fill(Qt::white);
  ASSERT_TRUE(img.save(QString::fromStdString(base + "pic.png")));
  ASSERT_TRUE(img.save(QString::fromStdString(base + "pic.jpg")));
  for (const char* name : {"pic.png", "pic.jpg"}) {
    out = Qvfax("convert " + base + name + " -o " + base + "p_" + name, &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("1 page"), std::string::npos) << out;
  }

  std::ofstream(base + "bad.rtf") << "{\\rtf1 {\\b never closed";
  out = Qvfax("convert " + base + "bad.rtf", &status);
  EXPECT_NE(status, 0);
  EXPECT_NE(out.find("bad.rtf"), std::string::npos) << out;
  EXPECT_FALSE(QFile::exists(QString::fromStdString(base + "bad.QVF")));
}
