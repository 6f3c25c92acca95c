#include "faximage/unpacker.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/error_codes.h"
#include "core/exceptions.h"
#include "t4_test_coder.h"
#include "temp_dir.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

TEST(TQvFaxUnpacker, DefaultsAndPropertyRules) {
  TQvFaxUnpacker u;
  EXPECT_EQ(u.Options(), uoYield);
  EXPECT_EQ(u.AutoScaleMode(), asDoubleHeight);
  EXPECT_FALSE(u.WhitespaceCompression());
  EXPECT_FALSE(u.Scaling());
  EXPECT_EQ(u.WhitespaceFrom(), 0);
  EXPECT_EQ(u.HorizMult(), 1);
  u.SetHorizMult(3);
  u.SetHorizMult(0);  // ignored
  u.SetVertDiv(0);
  EXPECT_EQ(u.HorizMult(), 3);
  EXPECT_EQ(u.VertDiv(), 1);

  u.SetInFileName("/data/receive/FAX0001.QVF");
  EXPECT_EQ(u.OutFileName(), "/data/receive/FAX0001");
  u.SetOutFileName("/tmp/chosen.pcx");
  u.SetInFileName("/data/receive/fax0001.qvf");  // same name but for case: OutFileName kept
  EXPECT_EQ(u.OutFileName(), "/tmp/chosen.pcx");
  EXPECT_EQ(u.ExportFileName("PCX"), "/tmp/chosen.pcx");
  u.SetOutFileName("/tmp/chosen");
  EXPECT_EQ(u.ExportFileName("BMP"), "/tmp/chosen.BMP");
  u.SetOutFileName("");
  EXPECT_EQ(u.ExportFileName("DCX"), "/data/receive/fax0001.DCX");
}

class UnpackerComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::vector<uint8_t>> text(40, BlankRow(1728));
    for (size_t i = 0; i < text.size(); i += 2) text[i] = RowWithPixel(1728, static_cast<int>(i));
    QvfBuilder b;
    b.recordPage(text, 1728, false).recordPage(text, 1728, true);
    path = dir.file("FAX.QVF");
    b.save(path);
    u.SetInFileName(path);
  }
  TempDir dir;
  std::string path;
  TQvFaxUnpacker u;
};

TEST_F(UnpackerComponentTest, FileFacts) {
  EXPECT_EQ(u.NumPages(), 2);
  EXPECT_EQ(u.FaxResolution(), 0);
  EXPECT_EQ(u.FaxWidth(), 0);
  TQvFaxUnpacker missing;
  missing.SetInFileName(dir.file("none.qvf"));
  EXPECT_EQ(missing.NumPages(), 0);
  EXPECT_EQ(missing.FaxResolution(), 0);
}

TEST_F(UnpackerComponentTest, BitmapHonoursAutoScaleAndRaisesErrors) {
  PageBitmap bm = u.UnpackPageToBitmap(1);  // standard page, doubled in height
  EXPECT_EQ(bm.height, 80);
  EXPECT_TRUE(bm.inverted);
  u.SetAutoScaleMode(asNone);
  EXPECT_EQ(u.UnpackPageToBitmap(1).height, 40);
  EXPECT_EQ(u.UnpackPageToBitmap(2).height, 40);

  try {
    u.UnpackPageToBitmap(3);
    FAIL() << "page 3 of 2";
  } catch (const qv::core::EFaxBadFormat& e) {
    EXPECT_EQ(e.ErrorCode(), qv::core::ecFaxBadFormat);
  }
  u.SetWhitespaceCompression(true);
  u.SetWhitespaceFrom(2);
  u.SetWhitespaceTo(5);
  EXPECT_THROW(u.UnpackPageToBitmap(1), qv::core::EBadArgument);
  u.SetWhitespaceTo(1);
  EXPECT_NO_THROW(u.UnpackPageToBitmap(1));
}

// A status handler can abort the running operation; the abort does not outlive it.
TEST_F(UnpackerComponentTest, StatusEventsAndAbort) {
  u.SetAutoScaleMode(asNone);
  int events = 0;
  u.OnStatus = [&](TQvCustomFaxUnpacker* sender, const std::string& name, int page, int64_t done, int64_t total) {
    EXPECT_EQ(sender, &u);
    EXPECT_EQ(name, path);
    EXPECT_EQ(page, 2);
    EXPECT_LE(done, total);
    if (++events == 50) u.SetOptions(u.Options() | uoAbort);
  };
  PageBitmap bm = u.UnpackPageToBitmap(2);
  EXPECT_EQ(events, 51);  // and the closing report of the page
  EXPECT_LT(bm.height, 40);
  EXPECT_EQ(u.Options() & uoAbort, 0u);
  u.OnStatus = nullptr;
  EXPECT_EQ(u.UnpackPageToBitmap(2).height, 40);
}

TEST_F(UnpackerComponentTest, ExportsUseTheOutputNameRule) {
  u.UnpackPageToPcx(1);
  EXPECT_TRUE(std::filesystem::exists(dir.file("FAX.PCX")));
  u.SetOutFileName(dir.file("page2"));
  u.UnpackPageToDcx(2);
  EXPECT_TRUE(std::filesystem::exists(dir.file("page2.DCX")));
  u.SetOutFileName(dir.file("out.bmp"));
  u.UnpackPageToBmp(1);
  EXPECT_TRUE(std::filesystem::exists(dir.file("out.bmp")));
  u.SetOutFileName(dir.file("full.png"));
  u.UnpackPageToPng(1);
  u.SetOutFileName(dir.file("full.pbm"));
  u.UnpackPageToPbm(1);
  EXPECT_GT(std::filesystem::file_size(dir.file("full.pbm")), 1728u / 8 * 80);
  EXPECT_THROW(u.UnpackPageToPcx(9), qv::core::EFaxBadFormat);
}
