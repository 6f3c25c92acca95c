// Writer then reader: every attribute the model expresses comes back unchanged.
#include <gtest/gtest.h>

#include "rtf/rtf_reader.h"
#include "rtf/rtf_writer.h"

using namespace qv::rtf;
using RtfRun = qv::rtf::Run;  // TEST bodies see testing::Test::Run first

namespace qv::rtf {
// A failed comparison shows the document as RTF.
void PrintTo(const Document& doc, std::ostream* os) { *os << WriteRtf(doc); }
}  // namespace qv::rtf

namespace {

RtfRun TextRun(std::string text, CharFormat f = {}) {
  RtfRun r;
  r.format = std::move(f);
  r.text = std::move(text);
  return r;
}

RtfRun FieldRun(int kind, std::string placeholder, CharFormat f = {}) {
  RtfRun r;
  r.kind = RtfRun::Kind::Field;
  r.format = std::move(f);
  r.field = {kind, std::move(placeholder)};
  return r;
}

RtfRun PictureRun(PictureFormat format, std::vector<uint8_t> data, int w, int h, int wt, int ht) {
  RtfRun r;
  r.kind = RtfRun::Kind::Picture;
  r.picture = {format, std::move(data), w, h, wt, ht};
  return r;
}

Paragraph Para(std::vector<RtfRun> runs, ParaFormat f = {}) {
  Paragraph p;
  p.format = f;
  p.runs = std::move(runs);
  return p;
}

Document RoundTrip(const Document& doc) {
  Document back;
  back.page.paperWidth = 1;  // must be overwritten
  const std::string rtf = WriteRtf(doc);
  ReadResult r = ReadRtf(rtf, back);
  EXPECT_TRUE(r) << r.message << "\n" << rtf;
  EXPECT_EQ(r.skippedPictures, 0);
  return back;
}

}  // namespace

TEST(RtfRoundTrip, EveryCharacterAttribute) {
  Document doc;
  CharFormat f;
  std::vector<RtfRun> runs;
  runs.push_back(TextRun("plain "));
  f.bold = true;
  runs.push_back(TextRun("bold ", f));
  f = {};
  f.italic = true;
  runs.push_back(TextRun("italic ", f));
  f = {};
  f.underline = true;
  runs.push_back(TextRun("underline ", f));
  f = {};
  f.strikeOut = true;
  runs.push_back(TextRun("strike ", f));
  f = {};
  f.verticalAlign = VerticalAlign::Subscript;
  runs.push_back(TextRun("sub", f));
  f.verticalAlign = VerticalAlign::Superscript;
  runs.push_back(TextRun("super", f));
  f = {};
  f.color = 0xFF0000;
  runs.push_back(TextRun("red ", f));
  f.color = 0x000000;  // explicit black is not automatic
  runs.push_back(TextRun("black ", f));
  f = {};
  f.halfPoints = 21;
  runs.push_back(TextRun("ten and a half ", f));
  f = {};
  f.fontName = "Courier New";
  runs.push_back(TextRun("courier ", f));
  f.fontName = std::string(kDefaultFontName);  // named like font 0, still a named font
  runs.push_back(TextRun("arial by name ", f));
  f = {};
  f.fontName = "Odd;Font{Name}";
  f.bold = f.italic = f.underline = f.strikeOut = true;
  f.halfPoints = 40;
  f.color = 0x123456;
  f.verticalAlign = VerticalAlign::Superscript;
  runs.push_back(TextRun("all at once", f));
  doc.paragraphs.push_back(Para(std::move(runs)));
  EXPECT_EQ(RoundTrip(doc), doc);
}

TEST(RtfRoundTrip, EveryParagraphAttributeAndPageSetup) {
  Document doc;
  doc.page = {11906, 16838, 1134, 850, 567, 1417};
  const Alignment alignments[] = {Alignment::Left, Alignment::Center, Alignment::Right, Alignment::Justify};
  for (Alignment a : alignments) {
    ParaFormat p;
    p.alignment = a;
    doc.paragraphs.push_back(Para({TextRun("aligned")}, p));
  }
  ParaFormat first;
  first.pageBreakBefore = true;  // the first paragraph's break is written differently
  doc.paragraphs.insert(doc.paragraphs.begin(), Para({TextRun("first")}, first));
  ParaFormat p;
  p.firstIndent = -360;
  p.leftIndent = 720;
  p.rightIndent = 144;
  p.spaceBefore = 120;
  p.spaceAfter = 240;
  p.lineHeight = 360;
  p.pageBreakBefore = true;
  doc.paragraphs.push_back(Para({TextRun("indented")}, p));
  p.firstIndent = 360;
  p.pageBreakBefore = false;
  doc.paragraphs.push_back(Para({}, p));  // an empty paragraph keeps its format
  doc.paragraphs.push_back(Para({}));
  EXPECT_EQ(RoundTrip(doc), doc);
}

TEST(RtfRoundTrip, TextThatNeedsEscaping) {
  Document doc;
  doc.paragraphs.push_back(Para({TextRun("back\\slash {braces} ;semicolon")}));
  doc.paragraphs.push_back(Para({TextRun("line\nbreak\tand tab")}));
  doc.paragraphs.push_back(Para({TextRun("Grüße, € 5, naïve — “quotes”")}));
  doc.paragraphs.push_back(Para({TextRun("Ελληνικά Кириллица 日本語")}));
  doc.paragraphs.push_back(Para({TextRun("beyond the BMP: \xF0\x9F\x98\x80 and \xF0\x9D\x84\x9E")}));
  doc.paragraphs.push_back(Para({TextRun(" leading and trailing  ")}));
  doc.paragraphs.push_back(Para({TextRun("123 digits after a control word")}));
  doc.paragraphs.push_back(Para({TextRun(std::string("control\x01" "char\x7f"))}));
  EXPECT_EQ(RoundTrip(doc), doc);
}

TEST(RtfRoundTrip, MergeFieldsOfEveryKind) {
  Document doc;
  std::vector<RtfRun> runs;
  runs.push_back(TextRun("To: "));
  CharFormat red;
  red.color = 0xFF0000;
  red.bold = true;
  runs.push_back(FieldRun(1, "[RECIPIENT]", red));
  runs.push_back(TextRun(" at "));
  runs.push_back(FieldRun(2, "[FAX#]"));
  runs.push_back(FieldRun(3, "[SUBJECT]"));  // two fields side by side stay two
  runs.push_back(FieldRun(4, "[DATE]"));
  runs.push_back(TextRun("[TIME]"));         // text looking like a field stays text
  runs.push_back(FieldRun(5, "[TIME]"));
  runs.push_back(FieldRun(7, "{odd} kind"));
  runs.push_back(FieldRun(1, ""));
  runs.push_back(FieldRun(2, "", red));  // an empty placeholder keeps its format
  doc.paragraphs.push_back(Para(std::move(runs)));
  EXPECT_EQ(RoundTrip(doc), doc);
}

TEST(RtfRoundTrip, Pictures) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  for (int i = 0; i < 1000; ++i) png.push_back(static_cast<uint8_t>(i * 37));
  std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x7B, '{', '}', '\\', 0xFF, 0xD9};
  Document doc;
  CharFormat f;
  f.halfPoints = 30;
  RtfRun pngRun = PictureRun(PictureFormat::Png, png, 100, 50, 1500, 750);
  pngRun.format = f;
  doc.paragraphs.push_back(Para({TextRun("before "), pngRun, TextRun(" after")}));
  doc.paragraphs.push_back(Para({PictureRun(PictureFormat::Jpeg, jpeg, 640, 480, 0, 0)}));
  EXPECT_EQ(RoundTrip(doc), doc);
}

TEST(RtfRoundTrip, ListsAndTables) {
  Document doc;
  auto item = [](std::string text, ListStyle style, int list, int level, ParaFormat f = {}) {
    Paragraph p = Para({TextRun(std::move(text))}, f);
    p.list = {style, list, level};
    return p;
  };
  ParaFormat indented;
  indented.leftIndent = 200;
  indented.firstIndent = -100;
  doc.paragraphs.push_back(item("one", ListStyle::Decimal, 1, 0));
  doc.paragraphs.push_back(item("one a", ListStyle::LowerAlpha, 1, 1, indented));
  doc.paragraphs.push_back(item("one b", ListStyle::LowerAlpha, 1, 1));
  doc.paragraphs.push_back(item("two", ListStyle::Decimal, 1, 0));
  doc.paragraphs.push_back(item("deep", ListStyle::UpperRoman, 1, kMaxListLevel));
  doc.paragraphs.push_back(Para({TextRun("between")}));
  doc.paragraphs.push_back(item("dot", ListStyle::Bullet, 2, 0));
  doc.paragraphs.push_back(item("Dot", ListStyle::UpperAlpha, 3, 0));
  doc.paragraphs.push_back(item("roman", ListStyle::LowerRoman, 4, 0));
  auto cell = [](std::string text, int table, int row, int column, int width, bool borders = true) {
    Paragraph p = Para(text.empty() ? std::vector<RtfRun>{} : std::vector<RtfRun>{TextRun(std::move(text))});
    p.cell = {table, row, column, width, borders};
    return p;
  };
  doc.paragraphs.push_back(cell("a1", 1, 0, 0, 2000));
  doc.paragraphs.push_back(cell("b1", 1, 0, 1, 3000));
  doc.paragraphs.push_back(cell("a2", 1, 1, 0, 2000));
  doc.paragraphs.push_back(cell("a2 again", 1, 1, 0, 2000));
  doc.paragraphs.push_back(cell("", 1, 1, 1, 3000));
  Paragraph listInCell = cell("listed", 1, 2, 0, 2000);
  listInCell.list = {ListStyle::Bullet, 2, 0};
  doc.paragraphs.push_back(listInCell);
  doc.paragraphs.push_back(cell("b3", 1, 2, 1, 3000));
  doc.paragraphs.push_back(Para({}));
  doc.paragraphs.push_back(cell("plain", 2, 0, 0, 4000, false));
  EXPECT_EQ(RoundTrip(doc), doc);

  // Tables that touch stay two, an empty line between them.
  doc.paragraphs.erase(doc.paragraphs.end() - 2);
  Document back = RoundTrip(doc);
  ASSERT_EQ(back.paragraphs.size(), doc.paragraphs.size() + 1);
  EXPECT_EQ(back.paragraphs[doc.paragraphs.size() - 1].cell.table, 0);
  EXPECT_TRUE(back.paragraphs[doc.paragraphs.size() - 1].runs.empty());
  EXPECT_EQ(back.paragraphs.back().cell, (TableCell{2, 0, 0, 4000, false}));
}

TEST(RtfRoundTrip, EmptyDocument) {
  Document doc;
  EXPECT_EQ(RoundTrip(doc), doc);
}

// What other programs rely on, beyond our own reader: 7-bit output, the stable MERGEFIELD names,
// ANSI fallbacks for older readers, and page breaks in a form every reader honours.
TEST(RtfWriter, OutputOtherReadersDependOn) {
  Document doc;
  ParaFormat breakBefore;
  breakBefore.pageBreakBefore = true;
  breakBefore.lineHeight = 360;
  doc.paragraphs.push_back(Para({TextRun("Grüße € 日")}, breakBefore));
  std::vector<RtfRun> fields;
  for (int kind = 1; kind <= 5; ++kind) fields.push_back(FieldRun(kind, "x"));
  doc.paragraphs.push_back(Para(std::move(fields), breakBefore));
  const std::string rtf = WriteRtf(doc);
  for (char c : rtf) ASSERT_LT(static_cast<unsigned char>(c), 0x80u) << rtf;
  EXPECT_EQ(rtf.rfind("{\\rtf1\\ansi\\ansicpg1252\\deff0", 0), 0u);
  EXPECT_NE(rtf.find("Gr\\u252\\'fc\\u223\\'dfe \\u8364\\'80 \\u26085?"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("\\sl360\\slmult0"), std::string::npos);
  for (const char* name : {"RECIPIENT", "FAXNUMBER", "SUBJECT", "DATE", "TIME"})
    EXPECT_NE(rtf.find(std::string("MERGEFIELD ") + name + " \\\\* MERGEFORMAT"), std::string::npos) << name;
  // The first paragraph's break is a property; later ones are a \page at the paragraph's start.
  const size_t second = rtf.find("\\pard", rtf.find("\\pard") + 1);
  EXPECT_NE(rtf.substr(0, second).find("\\pagebb"), std::string::npos);
  EXPECT_EQ(rtf.substr(0, second).find("\\page "), std::string::npos);
  EXPECT_NE(rtf.find("\\page ", second), std::string::npos);
  EXPECT_EQ(rtf.find("\\pagebb", second), std::string::npos);
  EXPECT_EQ(MergeFieldKind("faxnumber"), 2);
  EXPECT_EQ(MergeFieldKind(MergeFieldName(42)), 42);
  EXPECT_EQ(MergeFieldKind("QVFIELD0"), 0);
  EXPECT_EQ(MergeFieldKind("Street"), 0);
}

// Readers that do not number lists show the \\listtext markers: they count as the editor does.
TEST(RtfWriter, ListMarkersCountPerLevel) {
  Document doc;
  const std::pair<ListStyle, int> items[] = {{ListStyle::Decimal, 0},    {ListStyle::LowerAlpha, 1},
                                             {ListStyle::LowerAlpha, 1}, {ListStyle::Decimal, 0},
                                             {ListStyle::LowerAlpha, 1}, {ListStyle::UpperRoman, 0}};
  for (const auto& [style, level] : items) {
    Paragraph p = Para({TextRun("x")});
    p.list = {style, 1, level};
    doc.paragraphs.push_back(p);
  }
  const std::string rtf = WriteRtf(doc);
  std::vector<std::string> markers;
  for (size_t at = rtf.find("{\\listtext"); at != std::string::npos; at = rtf.find("{\\listtext", at + 1)) {
    const size_t tab = rtf.find("\\tab", at);
    const size_t space = rtf.rfind(' ', tab);
    markers.push_back(rtf.substr(space + 1, tab - space - 1));
  }
  EXPECT_EQ(markers, (std::vector<std::string>{"1.", "a.", "b.", "2.", "a.", "III."}));
}
