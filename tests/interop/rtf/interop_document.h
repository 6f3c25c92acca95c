#pragma once
// The document both outside word processors judge, and the helpers to check what they make of it:
// our RTF read by them (their HTML or native export), and their RTF read by us.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "rtf/rtf_document.h"

namespace qv::rtf::interop {

// Each paragraph's text is unique in the document, so a judge's output is searched for it.
inline constexpr const char* kTitle = "Quorvane interop title";
inline constexpr const char* kItalic = "italic words";
inline constexpr const char* kUnderline = "underlined words";
inline constexpr const char* kBold = "bold words";
inline constexpr const char* kBig = "big words";
inline constexpr const char* kRight = "A line aligned to the right";
inline constexpr const char* kJustified = "A justified paragraph that is long enough to be set on more than one line";
inline constexpr const char* kSecondPage = "The second page begins here";
inline constexpr const char* kAccents = "Grüße aus Köln für 5 €";
inline constexpr const char* kThirdPage = "The third page begins here";
inline constexpr const char* kFieldLead = "Dear ";
inline constexpr const char* kPlaceholder = "[RECIPIENT]";
inline constexpr int kTitleHalfPoints = 32;
inline constexpr int kBigHalfPoints = 40;

// An 8 x 8 grey chequerboard, a complete PNG file.
inline const std::vector<uint8_t> kPng = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
    0x00, 0x08, 0x00, 0x00, 0x00, 0x08, 0x08, 0x00, 0x00, 0x00, 0x00, 0xe1, 0x64, 0xe1, 0x57, 0x00, 0x00, 0x00,
    0x0e, 0x49, 0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0xf8, 0x0f, 0x05, 0x0c, 0x94, 0x31, 0x00, 0xf7, 0xc0, 0x3f,
    0xc1, 0xaf, 0x5c, 0x0f, 0xcd, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

inline Run Text(std::string text, CharFormat f = {}) {
  Run r;
  r.text = std::move(text);
  r.format = std::move(f);
  return r;
}

inline Paragraph Para(std::vector<Run> runs, Alignment a = Alignment::Left, bool pageBreak = false) {
  Paragraph p;
  p.format.alignment = a;
  p.format.pageBreakBefore = pageBreak;
  p.runs = std::move(runs);
  return p;
}

inline Document JudgedDocument() {
  Document doc;
  CharFormat title;
  title.bold = true;
  title.halfPoints = kTitleHalfPoints;
  CharFormat italic, underline, bold, big;
  italic.italic = true;
  underline.underline = true;
  bold.bold = true;
  big.halfPoints = kBigHalfPoints;
  doc.paragraphs.push_back(Para({Text(kTitle, title)}, Alignment::Center));
  doc.paragraphs.push_back(Para({Text("Plain text, then "), Text(kItalic, italic), Text(", "),
                                 Text(kUnderline, underline), Text(", "), Text(kBold, bold), Text(" and "),
                                 Text(kBig, big), Text(".")}));
  doc.paragraphs.push_back(Para({Text(kRight)}, Alignment::Right));
  doc.paragraphs.push_back(Para({Text(kJustified)}, Alignment::Justify));
  doc.paragraphs.push_back(Para({Text(kSecondPage)}, Alignment::Left, true));
  Run picture;
  picture.kind = Run::Kind::Picture;
  picture.picture = {PictureFormat::Png, kPng, 8, 8, 720, 720};
  doc.paragraphs.push_back(Para({Text(kAccents), picture}));
  doc.paragraphs.push_back(Para({Text(kThirdPage)}, Alignment::Center, true));
  Run field;
  field.kind = Run::Kind::Field;
  field.field = {1, kPlaceholder};
  field.format.color = 0xFF0000;
  doc.paragraphs.push_back(Para({Text(kFieldLead), field, Text(",")}));
  return doc;
}

// A private folder for one judge's files, removed afterwards.
class WorkDir {
 public:
  WorkDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qv-rtf-interop-XXXXXX").string();
    if (mkdtemp(tmpl.data())) path_ = tmpl;
  }
  ~WorkDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// White space runs (line wrapping of the judge's output) folded to one blank.
inline std::string FoldSpace(const std::string& s) {
  std::string out;
  for (char c : s) {
    const bool space = c == ' ' || c == '\n' || c == '\r' || c == '\t';
    if (space) {
      if (!out.empty() && out.back() == ' ') continue;
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

// The markup between the last `open` before `pos` and `pos`: the element that holds the text there.
inline std::string EnclosingTag(const std::string& markup, size_t pos, const std::string& open) {
  const size_t start = markup.rfind(open, pos);
  if (start == std::string::npos) return {};
  const size_t end = markup.find('>', start);
  return markup.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start);
}

// The paragraph of `doc` whose text contains `text`, or null.
inline const Paragraph* FindParagraph(const Document& doc, const std::string& text) {
  for (const Paragraph& p : doc.paragraphs) {
    std::string all;
    for (const Run& r : p.runs)
      if (r.kind == Run::Kind::Text) all += r.text;
    if (all.find(text) != std::string::npos) return &p;
  }
  return nullptr;
}

// The formats of the runs that carry any character of `text` in the paragraph containing it.
inline std::vector<CharFormat> FormatsOf(const Document& doc, const std::string& text) {
  std::vector<CharFormat> out;
  const Paragraph* p = FindParagraph(doc, text);
  if (!p) return out;
  std::string all;
  std::vector<std::pair<size_t, const Run*>> starts;
  for (const Run& r : p->runs) {
    if (r.kind != Run::Kind::Text) continue;
    starts.emplace_back(all.size(), &r);
    all += r.text;
  }
  const size_t from = all.find(text), to = from + text.size();
  for (const auto& [start, run] : starts)
    if (start < to && start + run->text.size() > from) out.push_back(run->format);
  return out;
}

// The merge fields of kind 1 in `doc`.
inline int RecipientFieldCount(const Document& doc) {
  int n = 0;
  for (const Paragraph& p : doc.paragraphs)
    for (const Run& r : p.runs) n += r.kind == Run::Kind::Field && r.field.kind == 1 && r.field.placeholder == kPlaceholder;
  return n;
}

inline int PictureCount(const Document& doc) {
  int n = 0;
  for (const Paragraph& p : doc.paragraphs)
    for (const Run& r : p.runs) n += r.kind == Run::Kind::Picture;
  return n;
}

// What every judge must preserve when it writes our document back as RTF and we read it.
inline void ExpectJudgedAttributes(const Document& doc) {
  for (const char* text : {kTitle, kItalic, kUnderline, kBold, kBig, kRight, kJustified, kSecondPage, kAccents,
                           kThirdPage})
    EXPECT_NE(FindParagraph(doc, text), nullptr) << text << "\n" << doc.PlainText();
  auto all = [&](const char* text, auto pred) {
    const std::vector<CharFormat> formats = FormatsOf(doc, text);
    EXPECT_FALSE(formats.empty()) << text;
    for (const CharFormat& f : formats) EXPECT_TRUE(pred(f)) << text;
  };
  all(kTitle, [](const CharFormat& f) { return f.bold && f.halfPoints == kTitleHalfPoints; });
  all(kItalic, [](const CharFormat& f) { return f.italic && !f.bold && !f.underline; });
  all(kUnderline, [](const CharFormat& f) { return f.underline && !f.italic && !f.bold; });
  all(kBold, [](const CharFormat& f) { return f.bold && !f.italic && !f.underline; });
  all(kBig, [](const CharFormat& f) { return f.halfPoints == kBigHalfPoints && !f.bold; });
  all(kRight, [](const CharFormat& f) { return f.halfPoints == 24 && !f.bold && !f.italic && !f.underline; });
  struct Expected {
    const char* text;
    Alignment alignment;
    bool pageBreak;
  };
  const Expected paragraphs[] = {
      {kTitle, Alignment::Center, false},   {kItalic, Alignment::Left, false},
      {kRight, Alignment::Right, false},    {kJustified, Alignment::Justify, false},
      {kSecondPage, Alignment::Left, true}, {kAccents, Alignment::Left, false},
      {kThirdPage, Alignment::Center, true},
  };
  for (const Expected& e : paragraphs) {
    const Paragraph* p = FindParagraph(doc, e.text);
    if (!p) continue;
    EXPECT_EQ(p->format.alignment, e.alignment) << e.text;
    EXPECT_EQ(p->format.pageBreakBefore, e.pageBreak) << e.text;
  }
}

}  // namespace qv::rtf::interop
