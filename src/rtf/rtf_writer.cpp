#include "rtf/rtf_writer.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

#include "rtf/encoding.h"

namespace qv::rtf {

namespace {

constexpr const char* kMergeFieldNames[] = {"RECIPIENT", "FAXNUMBER", "SUBJECT", "DATE", "TIME"};
constexpr std::string_view kOtherFieldPrefix = "QVFIELD";
// Hex digits per line of picture data: keeps the file readable in a text editor.
constexpr size_t kHexBytesPerLine = 64;

// Lookup tables built from the document so runs can refer to fonts and colours by number.
struct Tables {
  std::vector<std::string> fonts;   // fonts[0] is the default font
  std::vector<uint32_t> colors;     // colour n + 1 of the RTF table

  int FontIndex(const std::string& name) const {
    if (name.empty()) return 0;
    auto it = std::find(fonts.begin() + 1, fonts.end(), name);
    return static_cast<int>(it - fonts.begin());
  }
  int ColorIndex(std::optional<uint32_t> color) const {
    if (!color) return 0;
    auto it = std::find(colors.begin(), colors.end(), *color & 0xFFFFFF);
    return static_cast<int>(it - colors.begin()) + 1;
  }
};

Tables CollectTables(const Document& doc) {
  Tables t;
  t.fonts.emplace_back(kDefaultFontName);
  for (const Paragraph& p : doc.paragraphs) {
    for (const Run& r : p.runs) {
      const CharFormat& f = r.format;
      if (!f.fontName.empty() && std::find(t.fonts.begin() + 1, t.fonts.end(), f.fontName) == t.fonts.end())
        t.fonts.push_back(f.fontName);
      if (f.color && std::find(t.colors.begin(), t.colors.end(), *f.color & 0xFFFFFF) == t.colors.end())
        t.colors.push_back(*f.color & 0xFFFFFF);
    }
  }
  return t;
}

void AppendNumber(std::string& out, std::string_view word, long long value) {
  out += '\\';
  out += word;
  out += std::to_string(value);
}

void AppendHexByte(std::string& out, unsigned byte) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += kHex[(byte >> 4) & 0xF];
  out += kHex[byte & 0xF];
}

// Text as 7-bit RTF. `inFontTable`: ';' ends a font table entry, so it is written escaped.
void AppendText(std::string& out, std::string_view text, bool inFontTable = false) {
  size_t pos = 0;
  while (pos < text.size()) {
    const char32_t cp = NextUtf8(text, pos);
    if (cp == '\\' || cp == '{' || cp == '}') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (cp == '\n') {
      out += "\\line ";
    } else if (cp == '\t') {
      out += "\\tab ";
    } else if (cp < 0x20 || cp == 0x7F || (inFontTable && cp == ';')) {
      out += "\\'";
      AppendHexByte(out, cp);
    } else if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else {
      // \uN takes a signed 16-bit number; characters beyond the BMP go as a surrogate pair.
      auto appendUnit = [&](char32_t unit) {
        AppendNumber(out, "u", unit > 0x7FFF ? static_cast<long long>(unit) - 0x10000 : unit);
      };
      if (cp > 0xFFFF) {
        appendUnit(0xD800 + ((cp - 0x10000) >> 10));
        out += '?';
        appendUnit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        out += '?';
        continue;
      }
      appendUnit(cp);
      const int fallback = EncodeCp1252(cp);
      if (fallback >= 0x80) {
        out += "\\'";
        AppendHexByte(out, fallback);
      } else {
        out += '?';
      }
    }
  }
}

void AppendCharFormat(std::string& out, const CharFormat& f, const Tables& t) {
  AppendNumber(out, "f", t.FontIndex(f.fontName));
  AppendNumber(out, "fs", f.halfPoints);
  if (f.bold) out += "\\b";
  if (f.italic) out += "\\i";
  if (f.underline) out += "\\ul";
  if (f.strikeOut) out += "\\strike";
  if (f.verticalAlign == VerticalAlign::Subscript) out += "\\sub";
  if (f.verticalAlign == VerticalAlign::Superscript) out += "\\super";
  if (f.color) AppendNumber(out, "cf", t.ColorIndex(f.color));
  out += ' ';
}

// A paragraph that begins a page: \pagebb is the paragraph property, but AbiWord ignores it
// while every reader honours a \page at the start of the paragraph (after its properties, or
// AbiWord gives the paragraph those of the one before). The first paragraph keeps \pagebb, since
// a \page there would give an empty first page.
void AppendParaFormat(std::string& out, const ParaFormat& p, bool first) {
  out += "\\pard\\plain";
  switch (p.alignment) {
    case Alignment::Left: out += "\\ql"; break;
    case Alignment::Center: out += "\\qc"; break;
    case Alignment::Right: out += "\\qr"; break;
    case Alignment::Justify: out += "\\qj"; break;
  }
  if (p.firstIndent != 0) AppendNumber(out, "fi", p.firstIndent);
  if (p.leftIndent != 0) AppendNumber(out, "li", p.leftIndent);
  if (p.rightIndent != 0) AppendNumber(out, "ri", p.rightIndent);
  if (p.spaceBefore != 0) AppendNumber(out, "sb", p.spaceBefore);
  if (p.spaceAfter != 0) AppendNumber(out, "sa", p.spaceAfter);
  if (p.lineHeight > 0) {
    AppendNumber(out, "sl", p.lineHeight);
    out += "\\slmult0";
  }
  if (p.pageBreakBefore && first) out += "\\pagebb";
  if (p.pageBreakBefore && !first) out += "\\page";
  out += ' ';
}

void AppendField(std::string& out, const Run& r, const Tables& t) {
  out += "{\\field{\\*\\fldinst{ MERGEFIELD ";
  out += MergeFieldName(r.field.kind);
  // The result's formatting belongs to the result group itself, so an empty placeholder keeps it.
  out += " \\\\* MERGEFORMAT }}{\\fldrslt ";
  AppendCharFormat(out, r.format, t);
  AppendText(out, r.field.placeholder);
  out += "}}";
}

void AppendPicture(std::string& out, const Run& r, const Tables& t) {
  const Picture& pic = r.picture;
  out += '{';
  AppendCharFormat(out, r.format, t);
  out += "{\\pict";
  out += pic.format == PictureFormat::Jpeg ? "\\jpegblip" : "\\pngblip";
  AppendNumber(out, "picw", pic.pixelWidth);
  AppendNumber(out, "pich", pic.pixelHeight);
  // No goal size means "from the pixels"; readers then size the picture themselves.
  if (pic.widthTwips > 0) AppendNumber(out, "picwgoal", pic.widthTwips);
  if (pic.heightTwips > 0) AppendNumber(out, "pichgoal", pic.heightTwips);
  out.reserve(out.size() + pic.data.size() * 2 + pic.data.size() / kHexBytesPerLine + 8);
  for (size_t i = 0; i < pic.data.size(); ++i) {
    if (i % kHexBytesPerLine == 0) out += '\n';
    AppendHexByte(out, pic.data[i]);
  }
  out += "\n}}";
}

}  // namespace

std::string MergeFieldName(int kind) {
  if (kind >= 1 && kind <= static_cast<int>(std::size(kMergeFieldNames)))
    return kMergeFieldNames[kind - 1];
  return std::string(kOtherFieldPrefix) + std::to_string(kind);
}

int MergeFieldKind(std::string_view name) {
  auto equalNoCase = [](std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
  };
  for (size_t i = 0; i < std::size(kMergeFieldNames); ++i)
    if (equalNoCase(name, kMergeFieldNames[i])) return static_cast<int>(i) + 1;
  if (name.size() > kOtherFieldPrefix.size() && equalNoCase(name.substr(0, kOtherFieldPrefix.size()), kOtherFieldPrefix)) {
    const std::string_view digits = name.substr(kOtherFieldPrefix.size());
    int kind = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), kind);
    if (ec == std::errc() && end == digits.data() + digits.size() && kind > 0) return kind;
  }
  return 0;
}

std::string WriteRtf(const Document& doc) {
  const Tables t = CollectTables(doc);
  std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl";
  for (size_t i = 0; i < t.fonts.size(); ++i) {
    out += "{\\f" + std::to_string(i);
    out += i == 0 ? "\\fswiss" : "\\fnil";
    out += "\\fcharset0 ";
    AppendText(out, t.fonts[i], true);
    out += ";}";
  }
  out += "}\n{\\colortbl;";
  for (uint32_t c : t.colors) {
    AppendNumber(out, "red", (c >> 16) & 0xFF);
    AppendNumber(out, "green", (c >> 8) & 0xFF);
    AppendNumber(out, "blue", c & 0xFF);
    out += ';';
  }
  out += "}\n";
  const PageSetup& pg = doc.page;
  AppendNumber(out, "paperw", pg.paperWidth);
  AppendNumber(out, "paperh", pg.paperHeight);
  AppendNumber(out, "margl", pg.marginLeft);
  AppendNumber(out, "margr", pg.marginRight);
  AppendNumber(out, "margt", pg.marginTop);
  AppendNumber(out, "margb", pg.marginBottom);
  out += '\n';
  for (const Paragraph& p : doc.paragraphs) {
    AppendParaFormat(out, p.format, &p == &doc.paragraphs.front());
    for (const Run& r : p.runs) {
      switch (r.kind) {
        case Run::Kind::Text:
          if (r.text.empty()) break;
          out += '{';
          AppendCharFormat(out, r.format, t);
          AppendText(out, r.text);
          out += '}';
          break;
        case Run::Kind::Field: AppendField(out, r, t); break;
        case Run::Kind::Picture: AppendPicture(out, r, t); break;
      }
    }
    out += "\\par\n";
  }
  out += "}\n";
  return out;
}

}  // namespace qv::rtf
