#include "faximage/marked_copy.h"

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <random>

#include "faximage/qvf_file.h"
#include "faximage/unpacker.h"
#include "faximage/unpacker_bitmap.h"
#include "t4_test_coder.h"
#include "temp_dir.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

namespace {

class FontconfigRelease : public ::testing::Environment {
 public:
  void TearDown() override { FcFini(); }
};
const auto* const kFontconfigRelease = ::testing::AddGlobalTestEnvironment(new FontconfigRelease);

std::string Bytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::vector<uint8_t>> Rows(std::mt19937& rng, int count, int width) {
  std::vector<std::vector<uint8_t>> rows;
  for (int i = 0; i < count; ++i) rows.push_back(RandomRow(rng, width, 10));
  return rows;
}

}  // namespace

// The copy is the fax as the user sees it, page by page: the marks burnt in, the turns made, each
// page at its own resolution and width with the same pixels (a fine page stays fine, a standard
// one standard, a wide one wide; a quarter turn gives a fine page); the source stays as it was.
TEST(MarkedCopy, EachPageAsShownAtItsOwnResolution) {
  TempDir dir;
  std::mt19937 rng(7);
  QvfBuilder b;
  b.recordPage(Rows(rng, 300, 1728), 1728, true);
  b.recordPage(Rows(rng, 150, 1728), 1728, false);
  b.recordPage(Rows(rng, 120, 2048), 2048, true);
  b.recordPage(Rows(rng, 100, 1728), 1728, false);
  const std::string fax = dir.file("fax.qvf");
  b.save(fax);
  const std::string before = Bytes(fax);

  FaxMarks marks;
  marks.marks.push_back(Mark::Stroke(MarkKind::Pen, 1, 4, {{100, 100}, {900, 160}}));
  marks.marks.push_back(Mark::Box(MarkKind::Check, 2, 300, 40, 60, 60));
  marks.marks.push_back(Mark::Box(MarkKind::Whiteout, 3, 0, 0, 2048, 10));
  marks.SetRotation(2, PageRotation::Half);
  marks.SetRotation(4, PageRotation::Quarter);
  const std::string copy = dir.file("copy.qvf");
  int pages = 0;
  ASSERT_EQ(WriteMarkedCopy(fax, marks, copy, &pages), 0);
  EXPECT_EQ(pages, 4);
  EXPECT_EQ(Bytes(fax), before);

  UnpackerState shown, plain, sent;
  shown.Marks = std::make_shared<const FaxMarks>(marks);
  const bool fine[] = {true, false, true, true};
  for (int p = 1; p <= 4; ++p) {
    SCOPED_TRACE(p);
    PageBitmap want, got, original;
    bool wantFine = false;
    ASSERT_EQ(UnpackPageFullWidth(shown, fax, p, want, &wantFine), 0);
    ASSERT_EQ(UnpackPageFullWidth(sent, copy, p, got), 0);
    ASSERT_EQ(UnpackPageFullWidth(plain, fax, p, original), 0);
    EXPECT_EQ(wantFine, fine[p - 1]);
    EXPECT_EQ(bool(sent.PageHeader.PageFlags & pfHighRes), fine[p - 1]);
    EXPECT_EQ(bool(sent.PageHeader.PageFlags & pfWide), p == 3);
    EXPECT_EQ(got.height, want.height);
    if (p < 4) {
      EXPECT_EQ(got.width, want.width);
      EXPECT_TRUE(got.bits == want.bits);
    } else {
      // Turned a quarter, the page is as wide as it was long: sent as it is, white to the right.
      EXPECT_EQ(want.width, 200);
      ASSERT_EQ(got.width, 1728);
      int wrong = 0;
      for (int y = 0; y < got.height; ++y)
        for (int x = 0; x < got.width; ++x) wrong += got.black(x, y) != (x < want.width && want.black(x, y));
      EXPECT_EQ(wrong, 0);
    }
    EXPECT_FALSE(got.bits == original.bits) << "the marks and turns are in the copy";
  }
  EXPECT_EQ(sent.FaxHeader.PageCount, 4);
}

// A page longer than the widest fax line, turned a quarter, is shrunk to a standard line rather
// than cut: nothing of it is lost off the right edge.
TEST(MarkedCopy, ALongPageTurnedAQuarterFitsTheLine) {
  TempDir dir;
  std::vector<std::vector<uint8_t>> rows(2200, BlankRow(1728));
  rows[2199] = RowWithPixel(1728, 0);  // the last row's first pixel: the far right once turned back
  QvfBuilder b;
  b.recordPage(rows, 1728, true);
  const std::string fax = dir.file("fax.qvf");
  b.save(fax);
  FaxMarks marks;
  marks.SetRotation(1, PageRotation::ThreeQuarters);
  const std::string copy = dir.file("copy.qvf");
  ASSERT_EQ(WriteMarkedCopy(fax, marks, copy), 0);
  UnpackerState st;
  PageBitmap got;
  ASSERT_EQ(UnpackPageFullWidth(st, copy, 1, got), 0);
  EXPECT_EQ(got.width, 1728);
  EXPECT_EQ(got.height, 1728 * 1728 / 2200);
  int black = 0;
  for (int x = 1700; x < 1728; ++x)
    for (int y = got.height - 5; y < got.height; ++y) black += got.black(x, y);
  EXPECT_GT(black, 0) << "the pixel at the far corner survived";
}

// A source that cannot be read or a target that cannot be written gives the error and leaves no
// file behind (nor a half-written one).
TEST(MarkedCopy, AFaultLeavesNoFile) {
  TempDir dir;
  int pages = -1;
  const std::string target = dir.file("copy.qvf");
  EXPECT_LT(WriteMarkedCopy(dir.file("none.qvf"), FaxMarks(), target, &pages), 0);
  EXPECT_EQ(pages, 0);
  EXPECT_FALSE(std::filesystem::exists(target));

  const std::string junk = dir.file("junk.qvf");
  std::ofstream(junk) << "not a fax at all";
  EXPECT_LT(WriteMarkedCopy(junk, FaxMarks(), target), 0);
  EXPECT_FALSE(std::filesystem::exists(target));

  QvfBuilder b;
  b.recordPage({BlankRow(1728), RowWithPixel(1728, 3)}, 1728, true);
  const std::string fax = dir.file("fax.qvf");
  b.save(fax);
  EXPECT_LT(WriteMarkedCopy(fax, FaxMarks(), dir.file("missing/copy.qvf")), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing/copy.qvf")));
}
