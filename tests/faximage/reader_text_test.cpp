#include <gtest/gtest.h>

#include <filesystem>

#include "core/exceptions.h"
#include "faximage/converter_text.h"
#include "faximage/fax_converter.h"
#include "faximage/raster.h"
#include "faximage/t4_coder.h"
#include "qvf_pages.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

// Fontconfig keeps its configuration for the life of the process; not a leak of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig"; }

namespace {

std::vector<DecodedPage> ConvertText(const TempDir& dir, const std::string& text,
                                     TQvFaxConverter& c) {
  WriteAll(dir.file("in.txt"), std::vector<uint8_t>(text.begin(), text.end()));
  c.SetInputDocumentType(idText);
  c.SetDocumentFile(dir.file("in.txt"));
  c.ConvertToFile();
  return ReadQvfPages(dir.file("in.QVF"));
}

std::vector<DecodedPage> ConvertText(const TempDir& dir, const std::string& text) {
  TQvFaxConverter c;
  return ConvertText(dir, text, c);
}

// The 16 rows the standard font gives for one line of text at margin 50.
std::vector<std::vector<int>> TextRows(const std::string& line, bool fine = false,
                                       int bytesPerGlyph = 48) {
  ConverterState s;
  LoadFaxFont(s, bytesPerGlyph, fine);
  std::vector<std::vector<int>> rows;
  for (int r = 1; r <= s.Font.Desc.GlyphRows; ++r) {
    std::vector<uint8_t> raster(216, 0);
    RasterizeTextRow(s, line, r, raster.data());
    rows.push_back(Pixels(raster, 1728, 50));
  }
  return rows;
}

std::vector<std::vector<int>> Slice(const DecodedPage& p, size_t first, size_t n) {
  return {p.Rows.begin() + static_cast<long>(first), p.Rows.begin() + static_cast<long>(first + n)};
}

}  // namespace

TEST(TextReader, LinesBecomeSixteenRowsEachWithTheMargin) {
  TempDir dir;
  auto pages = ConvertText(dir, "Hello\r\nWorld\r\n");
  ASSERT_EQ(pages.size(), 1u);
  ASSERT_EQ(pages[0].Rows.size(), 32u);
  EXPECT_EQ(Slice(pages[0], 0, 16), TextRows("Hello"));
  EXPECT_EQ(Slice(pages[0], 16, 16), TextRows("World"));
  EXPECT_TRUE(pages[0].EndsWithEndOfPage);
}

TEST(TextReader, LineEndsCtrlZAndChunkBoundaries) {
  TempDir dir;
  // CR LF split across the 4096-byte chunk boundary, a lone LF, a lone CR, and Ctrl-Z closing
  // the text.
  std::string text(4095, 'x');
  text[4094] = '\r';
  text += "\nsecond\nthird\rfourth\x1a";
  auto pages = ConvertText(dir, text);
  ASSERT_EQ(pages.size(), 1u);
  ASSERT_EQ(pages[0].Rows.size(), 4u * 16);
  EXPECT_EQ(Slice(pages[0], 16, 16), TextRows("second"));
  EXPECT_EQ(Slice(pages[0], 32, 16), TextRows("third"));
  EXPECT_EQ(Slice(pages[0], 48, 16), TextRows("fourth"));
  // The long first line is cut to the 84 characters that fit beside the margin.
  EXPECT_EQ(Slice(pages[0], 0, 16), TextRows(std::string(84, 'x')));
}

TEST(TextReader, TabsExpandToTabStops) {
  TempDir dir;
  TQvFaxConverter c;
  c.SetTabStop(0);  // 0 keeps 4
  auto pages = ConvertText(dir, "a\tb\tc\r\nabcd\te", c);
  ASSERT_EQ(pages[0].Rows.size(), 32u);
  EXPECT_EQ(Slice(pages[0], 0, 16), TextRows("a   b   c"));
  EXPECT_EQ(Slice(pages[0], 16, 16), TextRows("abcd    e"));
  c.SetTabStop(2);
  pages = ConvertText(dir, "a\tb", c);
  EXPECT_EQ(Slice(pages[0], 0, 16), TextRows("a b"));
}

TEST(TextReader, FormFeedOnItsOwnLineGivesTwoPages) {
  TempDir dir;
  auto pages = ConvertText(dir, "first\r\n\f\r\nthird\r\n");
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(Slice(pages[0], 0, 16), TextRows("first"));
  // The text before the form feed (nothing) still counts as a line of page 1.
  ASSERT_EQ(pages[0].Rows.size(), 32u);
  for (size_t i = 16; i < 32; ++i) EXPECT_TRUE(AllWhite(pages[0].Rows[i]));
  ASSERT_EQ(pages[1].Rows.size(), 16u);
  EXPECT_EQ(Slice(pages[1], 0, 16), TextRows("third"));
}

TEST(TextReader, TextAfterAFormFeedIsKeptForTheNextPage) {
  TempDir dir;
  auto pages = ConvertText(dir, "one\ftwo\r\nthree");
  ASSERT_EQ(pages.size(), 2u);
  ASSERT_EQ(pages[0].Rows.size(), 16u);
  EXPECT_EQ(Slice(pages[0], 0, 16), TextRows("one"));
  ASSERT_EQ(pages[1].Rows.size(), 32u);
  EXPECT_EQ(Slice(pages[1], 0, 16), TextRows("two"));
  EXPECT_EQ(Slice(pages[1], 16, 16), TextRows("three"));
  // At the very end of the file too, and a trailing form feed adds no empty page.
  pages = ConvertText(dir, "one\flast");
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(Slice(pages[1], 0, 16), TextRows("last"));
  pages = ConvertText(dir, "one\f");
  EXPECT_EQ(pages.size(), 1u);
}

TEST(TextReader, LinesPerPageCarriesTheNextLineOver) {
  TempDir dir;
  std::string text;
  for (int i = 1; i <= 61; ++i) text += "line " + std::to_string(i) + "\r\n";
  auto pages = ConvertText(dir, text);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].Rows.size(), 60u * 16);
  ASSERT_EQ(pages[1].Rows.size(), 16u);
  EXPECT_EQ(Slice(pages[1], 0, 16), TextRows("line 61"));
  TQvFaxConverter c;
  c.SetLinesPerPage(0);  // no limit
  EXPECT_EQ(ConvertText(dir, text, c).size(), 1u);
}

TEST(TextReader, EmptyFileGivesOnePageWithOneBlankRow) {
  TempDir dir;
  TQvFaxConverter c;
  c.SetTopMargin(2);
  auto pages = ConvertText(dir, "", c);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].RecordLengths, (std::vector<int>{6, 6, 6, 12}));
}

TEST(TextReader, DirectoriesAndDevicesAreRefused) {
  TempDir dir;
  TQvFaxConverter c;
  c.SetInputDocumentType(idText);
  std::filesystem::create_directory(dir.file("folder.txt"));
  std::filesystem::create_symlink("/dev/zero", dir.file("zero.txt"));
  for (const std::string& in : {dir.file("folder.txt"), dir.file("zero.txt")}) {
    c.SetDocumentFile(in);
    c.SetOutFileName(dir.file("out.QVF"));
    try {
      c.ConvertToFile();
      FAIL() << in;
    } catch (const std::exception& e) {
      EXPECT_EQ(qv::core::ErrorCodeFromException(e), -5) << in;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.QVF")));
  }
}

TEST(TextReader, FineAndSmallFonts) {
  TempDir dir;
  TQvFaxConverter c;
  c.SetResolution(frHigh);
  auto pages = ConvertText(dir, "Fine", c);
  EXPECT_EQ(pages[0].Flags, pfRowRecords | pfHighRes);
  ASSERT_EQ(pages[0].Rows.size(), 32u);
  EXPECT_EQ(Slice(pages[0], 0, 32), TextRows("Fine", true));
  c.SetResolution(frNormal);
  c.SetFontType(ffSmall);
  pages = ConvertText(dir, "Small", c);
  ASSERT_EQ(pages[0].Rows.size(), 8u);
  EXPECT_EQ(Slice(pages[0], 0, 8), TextRows("Small", false, 16));
}

TEST(TextReader, Utf8LinesUseTheLatin1Glyphs) {
  TempDir dir;
  auto pages = ConvertText(dir, "gr\xc3\xbc\xc3\x9f");  // "grüß" in UTF-8
  EXPECT_EQ(Slice(pages[0], 0, 16), TextRows("gr\xfc\xdf"));
  pages = ConvertText(dir, "gr\xfc\xdf");  // already Latin-1
  EXPECT_EQ(Slice(pages[0], 0, 16), TextRows("gr\xfc\xdf"));
}

TEST(TextReader, ScreenFontText) {
  TempDir dir;
  WriteAll(dir.file("ex.txt"), {'W', 'y', '\r', '\n', 'x'});
  TQvFaxConverter c;
  c.SetInputDocumentType(idTextEx);
  c.SetDocumentFile(dir.file("ex.txt"));
  TFaxFontSpec wanted;
  ASSERT_TRUE(TFaxFontSpec::Parse("DejaVu Sans-12:bold", wanted));
  EXPECT_EQ(wanted.Name, "DejaVu Sans");
  EXPECT_EQ(wanted.Size, 12);
  EXPECT_TRUE(wanted.Bold);
  EXPECT_FALSE(wanted.Italic);
  c.SetEnhFont(wanted);
  c.ConvertToFile();
  auto pages = ReadQvfPages(dir.file("ex.QVF"));
  ASSERT_EQ(pages.size(), 1u);
  size_t rows = pages[0].Rows.size();
  ASSERT_EQ(rows % 2, 0u);
  size_t perLine = rows / 2;
  EXPECT_GE(perLine, 14u);  // a 12-point line at 96 dpi is about 19 pixels tall
  EXPECT_LE(perLine, 24u);
  int ink = 0, maxX = 0;
  for (const auto& r : pages[0].Rows)
    for (int x = 0; x < 1728; ++x)
      if (r[static_cast<size_t>(x)]) {
        ++ink;
        maxX = std::max(maxX, x);
        EXPECT_GE(x, 50);  // nothing inside the margin
      }
  EXPECT_GT(ink, 100);
  EXPECT_LT(maxX, 50 + 2 * 40);  // two characters, widened
  // At fine resolution the doubled font gives twice the rows.
  c.SetResolution(frHigh);
  c.ConvertToFile();
  EXPECT_NEAR(static_cast<double>(ReadQvfPages(dir.file("ex.QVF"))[0].Rows.size()),
              2.0 * static_cast<double>(rows), 4.0);

  c.SetEnhFont(TFaxFontSpec{"DejaVu Sans", 300, false, false});
  try {
    c.ConvertToFile();
    FAIL();
  } catch (const qv::core::EQvException& e) {
    EXPECT_EQ(e.ErrorCode(), -8055);
  }
  EXPECT_FALSE(TFaxFontSpec::Parse("Sans:wobbly", wanted));
  EXPECT_FALSE(TFaxFontSpec::Parse("-12", wanted));
}

TEST(TextReader, SingleLinesForTheHeaderLine) {
  auto s = CreateEnhancedTextConverter();
  s->ResWidth = 1728;
  s->LeftMargin = 0;
  ASSERT_EQ(SetEnhancedFont(*s, TFaxFontSpec{"DejaVu Sans Mono", 10, false, false}, false), 0);
  int rows = EnhancedTextRowCount(*s);
  ASSERT_GT(rows, 8);
  int inkA = 0, inkB = 0;
  for (int r = 1; r <= rows; ++r) {
    std::vector<uint8_t> a(216, 0), b(216, 0);
    ASSERT_EQ(RasterizeEnhancedTextRow(*s, "Page 1 of 2", r, a.data()), 0);
    ASSERT_EQ(RasterizeEnhancedTextRow(*s, "Page 1 of 2 and more", r, b.data()), 0);
    for (int x = 0; x < 1728; ++x) {
      inkA += GetPixel(a, x);
      inkB += GetPixel(b, x);
      // The shorter text is a prefix of the longer: its ink is where the longer one has ink.
      if (GetPixel(a, x)) {
        EXPECT_TRUE(GetPixel(b, x)) << x;
      }
    }
  }
  EXPECT_GT(inkA, 50);
  EXPECT_GT(inkB, inkA);
  auto plain = CreateTextConverter();
  std::vector<uint8_t> row(216, 0);
  EXPECT_EQ(RasterizeEnhancedTextRow(*plain, "x", 1, row.data()), -1002);
  EXPECT_EQ(EnhancedTextRowCount(*plain), 0);
}
