// LibreOffice Writer as the judge: it reads our RTF with the same text and attributes (judged on
// its HTML export), and the RTF it writes of that document reads back into ours intact. It starts
// slowly, so the suite runs it twice in all, each run bounded and with a profile of its own.
#include <gtest/gtest.h>

#include <tuple>

#include "../shell_command.h"
#include "interop_document.h"
#include "rtf/rtf_reader.h"
#include "rtf/rtf_writer.h"

using namespace qv::rtf;
using namespace qv::rtf::interop;
using qv::testing::Shell;

namespace {

constexpr int kConversionSeconds = 180;

// The HTML's text without markup, entities decoded, white space folded.
std::string HtmlText(const std::string& html) {
  std::string out;
  const size_t body = html.find("<body");
  for (size_t i = body == std::string::npos ? 0 : body; i < html.size(); ++i) {
    if (html[i] == '<') {
      const size_t end = html.find('>', i);
      if (end == std::string::npos) break;
      // Paragraphs and line breaks separate words; inline markup does not.
      const std::string tag = html.substr(i + 1, std::min<size_t>(end - i - 1, 3));
      if (tag.rfind("p", 0) == 0 || tag.rfind("/p", 0) == 0 || tag.rfind("br", 0) == 0) out += ' ';
      i = end;
    } else if (html[i] == '&') {
      const size_t end = html.find(';', i);
      if (end == std::string::npos) break;
      const std::string entity = html.substr(i + 1, end - i - 1);
      if (entity == "amp") out += '&';
      else if (entity == "lt") out += '<';
      else if (entity == "gt") out += '>';
      else if (entity == "quot") out += '"';
      else if (entity == "nbsp") out += ' ';
      else out += '?';
      i = end;
    } else {
      out += html[i];
    }
  }
  return FoldSpace(out);
}

// LibreOffice converts name.rtf in dir to HTML (what it shows) and back to RTF (what it writes),
// each into a folder named after the format; returns what it printed, for a failure's message.
std::string ConvertWithLibreOffice(WorkDir& dir, const std::string& name) {
  std::string log;
  for (const char* format : {"html", "rtf"}) {
    const std::string cmd = "cd " + dir.Path() + " && timeout " + std::to_string(kConversionSeconds) +
                            " soffice -env:UserInstallation=file://" + dir.File("profile") +
                            " --headless --norestore --convert-to " + format + " --outdir " + dir.File(format) +
                            " " + name + ".rtf 2>&1";
    log += Shell(cmd);
  }
  return log;
}

class LibreOffice : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveTool("soffice")) return;
    dir_ = new WorkDir;
    WriteFile(dir_->File("ours.rtf"), WriteRtf(JudgedDocument()));
    log_ = ConvertWithLibreOffice(*dir_, "ours");
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "LibreOffice (soffice, Debian libreoffice-writer-nogui) is not installed";
  }
  static std::string Output(const char* format) { return ReadFile(dir_->File(std::string(format) + "/ours." + format)); }

  static WorkDir* dir_;
  static std::string log_;
};

WorkDir* LibreOffice::dir_ = nullptr;
std::string LibreOffice::log_;

TEST_F(LibreOffice, ReadsOurTextAndAttributes) {
  const std::string html = FoldSpace(Output("html"));
  ASSERT_FALSE(html.empty()) << log_;
  // The same text, paragraph after paragraph.
  const std::string text = HtmlText(html);
  size_t at = 0;
  for (const char* part : {kTitle, "Plain text, then", kItalic, kUnderline, kBold, kBig, kRight, kJustified,
                           kSecondPage, kAccents, kThirdPage, "Dear [RECIPIENT],"}) {
    const size_t found = text.find(part, at);
    EXPECT_NE(found, std::string::npos) << part << "\n" << text;
    if (found != std::string::npos) at = found;
  }
  EXPECT_NE(html.find(std::string("<i>") + kItalic + "</i>"), std::string::npos) << html;
  EXPECT_NE(html.find(std::string("<u>") + kUnderline + "</u>"), std::string::npos) << html;
  EXPECT_NE(html.find(std::string("<b>") + kBold + "</b>"), std::string::npos) << html;
  const size_t title = html.find(std::string("<b>") + kTitle + "</b>");
  ASSERT_NE(title, std::string::npos) << html;
  EXPECT_NE(EnclosingTag(html, title, "<font size").find("font-size: 16pt"), std::string::npos);
  EXPECT_NE(EnclosingTag(html, title, "<p").find("align=\"center\""), std::string::npos);
  const size_t big = html.find(kBig);
  EXPECT_NE(EnclosingTag(html, big, "<font size").find("font-size: 20pt"), std::string::npos);
  const size_t plain = html.find("Plain text, then");
  EXPECT_NE(EnclosingTag(html, plain, "<font size").find("font-size: 12pt"), std::string::npos);
  EXPECT_EQ(EnclosingTag(html, plain, "<p").find("align=\"center\""), std::string::npos);
  EXPECT_NE(EnclosingTag(html, html.find(kRight), "<p").find("align=\"right\""), std::string::npos);
  EXPECT_NE(EnclosingTag(html, html.find(kJustified), "<p").find("align=\"justify\""), std::string::npos);
  // Page breaks before the second and third pages, and only there.
  for (const char* part : {kSecondPage, kThirdPage})
    EXPECT_NE(EnclosingTag(html, html.find(part), "<p").find("page-break-before: always"), std::string::npos) << part;
  for (const char* part : {kTitle, kRight, kAccents})
    EXPECT_EQ(EnclosingTag(html, html.find(part), "<p").find("page-break-before"), std::string::npos) << part;
  EXPECT_NE(html.find("<img"), std::string::npos) << "the picture was dropped";
}

TEST_F(LibreOffice, ItsRtfReadsIntoOurs) {
  const std::string rtf = Output("rtf");
  ASSERT_FALSE(rtf.empty()) << log_;
  Document doc;
  const ReadResult r = ReadRtf(rtf, doc);
  ASSERT_TRUE(r) << r.message;
  ExpectJudgedAttributes(doc);
  EXPECT_EQ(PictureCount(doc), 1) << "skipped " << r.skippedPictures;
  EXPECT_EQ(RecipientFieldCount(doc), 1) << "the merge field did not come back\n" << rtf;
}

}  // namespace

namespace {

// Lists and a table with borders: Writer shows them as such, and its RTF of them reads back into
// our lists and table.
Document ListsAndTable() {
  Document d;
  auto text = [](const char* t) {
    Paragraph p;
    p.runs.push_back(Text(t));
    return p;
  };
  d.paragraphs.push_back(text("Intro"));
  const std::tuple<const char*, ListStyle, int, int> items[] = {
      {"first item", ListStyle::Decimal, 1, 0},
      {"nested item", ListStyle::LowerAlpha, 1, 1},
      {"second item", ListStyle::Decimal, 1, 0},
      {"bullet item", ListStyle::Bullet, 2, 0}};
  for (const auto& [t, style, list, level] : items) {
    Paragraph p = text(t);
    p.list = {style, list, level};
    d.paragraphs.push_back(p);
  }
  const char* cells[] = {"north west", "north east", "south west", "south east"};
  for (int i = 0; i < 4; ++i) {
    Paragraph p = text(cells[i]);
    p.cell = {1, i / 2, i % 2, 2880, true};
    d.paragraphs.push_back(p);
  }
  d.paragraphs.push_back(text("Outro"));
  return d;
}

class LibreOfficeListsAndTables : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveTool("soffice")) return;
    dir_ = new WorkDir;
    WriteFile(dir_->File("lists.rtf"), WriteRtf(ListsAndTable()));
    log_ = ConvertWithLibreOffice(*dir_, "lists");
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "LibreOffice (soffice, Debian libreoffice-writer-nogui) is not installed";
  }
  static std::string Output(const char* format) { return ReadFile(dir_->File(std::string(format) + "/lists." + format)); }

  static WorkDir* dir_;
  static std::string log_;
};

WorkDir* LibreOfficeListsAndTables::dir_ = nullptr;
std::string LibreOfficeListsAndTables::log_;

TEST_F(LibreOfficeListsAndTables, ShowsOurListsAndTable) {
  const std::string html = FoldSpace(Output("html"));
  ASSERT_FALSE(html.empty()) << log_;
  const size_t numbered = html.find("<ol>"), lettered = html.find("<ol type=\"a\">"), bullets = html.find("<ul>");
  ASSERT_NE(numbered, std::string::npos) << html;
  ASSERT_NE(lettered, std::string::npos) << html;
  ASSERT_NE(bullets, std::string::npos) << html;
  EXPECT_LT(numbered, lettered) << "the lettered list is nested in the numbered one";
  EXPECT_NE(html.find("first item", numbered), std::string::npos);
  EXPECT_NE(html.find("bullet item", bullets), std::string::npos);
  const size_t table = html.find("<table");
  ASSERT_NE(table, std::string::npos) << html;
  size_t cells = 0;
  for (size_t at = html.find("<td", table); at != std::string::npos; at = html.find("<td", at + 1)) {
    ++cells;
    EXPECT_NE(EnclosingTag(html, at + 1, "<td").find("border"), std::string::npos) << "cells have borders";
  }
  EXPECT_EQ(cells, 4u);
  EXPECT_NE(html.find("south east", table), std::string::npos);
}

TEST_F(LibreOfficeListsAndTables, ItsRtfReadsBackAsOurListsAndTable) {
  const std::string rtf = Output("rtf");
  ASSERT_FALSE(rtf.empty()) << log_;
  Document doc;
  const ReadResult r = ReadRtf(rtf, doc);
  ASSERT_TRUE(r) << r.message;
  const Document ours = ListsAndTable();
  for (const Paragraph& want : ours.paragraphs) {
    const Paragraph* got = FindParagraph(doc, want.runs[0].text);
    ASSERT_NE(got, nullptr) << want.runs[0].text << "\n" << rtf;
    EXPECT_EQ(got->list.style, want.list.style) << want.runs[0].text;
    EXPECT_EQ(got->list.level, want.list.level) << want.runs[0].text;
    EXPECT_EQ(got->cell.table != 0, want.cell.table != 0) << want.runs[0].text;
    EXPECT_EQ(got->cell.row, want.cell.row) << want.runs[0].text;
    EXPECT_EQ(got->cell.column, want.cell.column) << want.runs[0].text;
    if (want.cell.table != 0) {
      EXPECT_NEAR(got->cell.width, want.cell.width, 20) << want.runs[0].text;
      EXPECT_TRUE(got->cell.borders) << want.runs[0].text;
    }
  }
  EXPECT_EQ(FindParagraph(doc, "first item")->list.list, FindParagraph(doc, "second item")->list.list)
      << "one list, numbered on";
}

}  // namespace
