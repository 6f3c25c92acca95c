// A signature taken from a picture file: a PNG whose background is transparent keeps its ink and
// drops the background (even a dark transparent one), a scan on white keeps the dark strokes, and
// files that hold no usable signature are refused with a reason.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include "ui/signature_picture.h"
#include "ui_test_support.h"

using namespace qv::ui;
using namespace qv::ui::test;

namespace {

class SignaturePictureTest : public ::testing::Test {
 protected:
  void SetUp() override { App(); }
  QString File(const QString& name) const { return dir_.path() + "/" + name; }
  QTemporaryDir dir_;
};

}  // namespace

TEST_F(SignaturePictureTest, TransparentPngKeepsOnlyItsInk) {
  // A transparent background that is black underneath (as many tools save it), a 40 x 6 bar of
  // opaque ink, and a half-transparent smudge beside it.
  QImage img(120, 60, QImage::Format_ARGB32);
  img.fill(qRgba(0, 0, 0, 0));
  for (int y = 20; y < 26; ++y)
    for (int x = 30; x < 70; ++x) img.setPixel(x, y, qRgba(10, 10, 40, 255));
  for (int y = 40; y < 50; ++y)
    for (int x = 80; x < 90; ++x) img.setPixel(x, y, qRgba(0, 0, 0, 60));
  ASSERT_TRUE(img.save(File("sig.png")));

  QString error;
  const qv::faximage::MarkPicture pic = SignatureFromPictureFile(File("sig.png"), &error);
  ASSERT_FALSE(pic.empty()) << error.toStdString();
  EXPECT_EQ(pic.width, 40);
  EXPECT_EQ(pic.height, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_TRUE(pic.black(x, y)) << x << "," << y;
}

TEST_F(SignaturePictureTest, ScanOnWhiteKeepsTheDarkStrokes) {
  QImage img(200, 80, QImage::Format_RGB32);
  img.fill(qRgb(250, 248, 240));  // paper
  QPainter p(&img);
  p.setPen(QPen(QColor(20, 20, 90), 4));
  p.drawLine(20, 60, 180, 20);
  p.end();
  ASSERT_TRUE(img.save(File("scan.jpg"), "JPG", 95));
  const qv::faximage::MarkPicture pic = SignatureFromPictureFile(File("scan.jpg"));
  ASSERT_FALSE(pic.empty());
  EXPECT_NEAR(pic.width, 164, 4);
  EXPECT_NEAR(pic.height, 44, 4);
}

TEST_F(SignaturePictureTest, UnusablePicturesAreRefusedWithAReason) {
  QString error;
  EXPECT_TRUE(SignatureFromPictureFile(File("missing.png"), &error).empty());
  EXPECT_TRUE(error.contains(QStringLiteral("cannot be read"))) << error.toStdString();

  QImage blank(50, 50, QImage::Format_ARGB32);
  blank.fill(qRgba(255, 255, 255, 255));
  ASSERT_TRUE(blank.save(File("blank.png")));
  EXPECT_TRUE(SignatureFromPictureFile(File("blank.png"), &error).empty());
  EXPECT_TRUE(error.contains(QStringLiteral("no dark ink"))) << error.toStdString();

  QFile junk(File("junk.png"));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("\x89PNG\r\n\x1a\nnot really");
  junk.close();
  EXPECT_TRUE(SignatureFromPictureFile(File("junk.png"), &error).empty());

  QImage huge(qv::faximage::kMarkMaxPicture + 1, 4, QImage::Format_Mono);
  huge.fill(0);
  ASSERT_TRUE(huge.save(File("huge.png")));
  EXPECT_TRUE(SignatureFromPictureFile(File("huge.png"), &error).empty());
  EXPECT_TRUE(error.contains(QStringLiteral("too large"))) << error.toStdString();
}

// The keyboard's signature: a typed name in a script font, ink only, cut to the writing; a longer
// name is wider, and nothing typed is no signature.
TEST_F(SignaturePictureTest, TypedSignatureIsTheNameInInk) {
  const qv::faximage::MarkPicture shortName = SignatureFromTypedName(QStringLiteral("Al"));
  const qv::faximage::MarkPicture longName = SignatureFromTypedName(QStringLiteral("  Alexandra Montgomery  "));
  ASSERT_FALSE(shortName.empty());
  ASSERT_FALSE(longName.empty());
  EXPECT_GT(longName.width, 4 * shortName.width);
  EXPECT_LT(longName.height, 128) << "one line of writing";
  EXPECT_GT(longName.width, longName.height);
  EXPECT_TRUE(SignatureFromTypedName(QStringLiteral("   ")).empty());
  // A very long name is clipped at the widest picture a signature may be, never refused later.
  EXPECT_LE(SignatureFromTypedName(QString(2000, QLatin1Char('W'))).width, qv::faximage::kMarkMaxPicture);
}
