#include "rtf/rtf_writer.h"

#include <algorithm>
#include <cctype>
#include <array>
#include <charconv>
#include <climits>
#include <cstdio>
#include <map>

#include "rtf/encoding.h"

namespace qv::rtf {

namespace {

constexpr const char* kMergeFieldNames[] = {"RECIPIENT", "FAXNUMBER", "SUBJECT", "DATE", "TIME"};
constexpr std::string_view kOtherFieldPrefix = "QVFIELD";
// Hex digits per line of picture data: keeps the file readable in a text editor.
constexpr size_t kHexBytesPerLine = 64;
constexpr int kListLevels = kMaxListLevel + 1;
// Half the space between the text of two cells (\trgaph), as word processors set by default.
constexpr int kCellGapTwips = 108;
// A cell border: single, 0.5 point.
constexpr std::string_view kCellBorders =
    "\\clbrdrt\\brdrs\\brdrw10\\clbrdrl\\brdrs\\brdrw10\\clbrdrb\\brdrs\\brdrw10\\clbrdrr\\brdrs\\brdrw10";
constexpr std::string_view kBulletText = "\xE2\x80\xA2";  // U+2022

// The lists of a document by their numbers, which are written as the \ls (and \listid) numbers,
// with the style of each level; levels no item uses take the style of the list's first item.
// Lists numbered 0 or less are written the older way (\pn), each item with its own style.
struct Lists {
  std::map<int, std::array<ListStyle, kListLevels>> levels;
};

Lists CollectLists(const Document& doc) {
  Lists l;
  std::map<int, std::array<bool, kListLevels>> seen;
  for (const Paragraph& p : doc.paragraphs) {
    if (p.list.style == ListStyle::None || p.list.list <= 0) continue;
    const size_t level = static_cast<size_t>(std::clamp(p.list.level, 0, kMaxListLevel));
    auto [it, added] = l.levels.try_emplace(p.list.list);
    if (added) {
      it->second.fill(p.list.style);
      seen[p.list.list].fill(false);
    }
    if (!seen[p.list.list][level]) {
      it->second[level] = p.list.style;
      seen[p.list.list][level] = true;
    }
  }
  return l;
}


int NfcOf(ListStyle style) {
  switch (style) {
    case ListStyle::UpperRoman: return 1;
    case ListStyle::LowerRoman: return 2;
    case ListStyle::UpperAlpha: return 3;
    case ListStyle::LowerAlpha: return 4;
    case ListStyle::Bullet: return 23;
    case ListStyle::Decimal:
    case ListStyle::None: break;
  }
  return 0;
}

std::string Roman(int n) {
  static constexpr std::pair<int, const char*> kDigits[] = {
      {1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"},
      {50, "l"},   {40, "xl"},  {10, "x"},  {9, "ix"},   {5, "v"},   {4, "iv"}, {1, "i"}};
  std::string out;
  for (const auto& [value, digits] : kDigits)
    while (n >= value) {
      out += digits;
      n -= value;
    }
  return out;
}

// The marker of the n-th item (from 1) as the editor shows it: "•", "3.", "c.", "iv.".
std::string ListMarker(ListStyle style, int n) {
  std::string text;
  switch (style) {
    case ListStyle::None: return {};
    case ListStyle::Bullet: return std::string(kBulletText);
    case ListStyle::Decimal: text = std::to_string(n); break;
    case ListStyle::LowerAlpha:
    case ListStyle::UpperAlpha:
      // a..z, aa..zz, ...: letters count from 1 without a zero.
      for (int k = n; k > 0; k = (k - 1) / 26) text.insert(text.begin(), static_cast<char>('a' + (k - 1) % 26));
      break;
    case ListStyle::LowerRoman:
    case ListStyle::UpperRoman: text = Roman(n); break;
  }
  if (style == ListStyle::UpperAlpha || style == ListStyle::UpperRoman)
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
  return text + '.';
}

// Item numbers as the list is read: per list and level, deeper levels restarting after an item
// of a lower one.
class ListCounter {
 public:
  int Next(int ls, int level) {
    std::array<int, kListLevels>& counts = counts_[ls];
    ++counts[static_cast<size_t>(level)];
    for (int deeper = level + 1; deeper < kListLevels; ++deeper) counts[static_cast<size_t>(deeper)] = 0;
    return counts[static_cast<size_t>(level)];
  }

 private:
  std::map<int, std::array<int, kListLevels>> counts_;
};

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

// The older marking of a list item: bullets, or numbers of an outline level.
void AppendOldListItem(std::string& out, const ListItem& item) {
  const int level = std::clamp(item.level, 0, kMaxListLevel);
  out += "{\\*\\pn";
  if (item.style == ListStyle::Bullet) {
    out += "\\pnlvlblt";
    if (level > 0) AppendNumber(out, "pnlvl", level + 1);
  } else {
    AppendNumber(out, "pnlvl", level + 1);
    switch (item.style) {
      case ListStyle::UpperAlpha: out += "\\pnucltr"; break;
      case ListStyle::LowerAlpha: out += "\\pnlcltr"; break;
      case ListStyle::UpperRoman: out += "\\pnucrm"; break;
      case ListStyle::LowerRoman: out += "\\pnlcrm"; break;
      default: out += "\\pndec"; break;
    }
  }
  out += '}';
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
void AppendParaFormat(std::string& out, const Paragraph& para, bool first) {
  ParaFormat p = para.format;
  const bool listItem = para.list.style != ListStyle::None;
  const int level = std::clamp(para.list.level, 0, kMaxListLevel);
  if (listItem) {
    // Readers take the whole indent from the paragraph, the marker hanging in the list's part.
    p.leftIndent = static_cast<int>(std::clamp<long long>(
        static_cast<long long>(p.leftIndent) + static_cast<long long>(level + 1) * kListIndentTwips, -INT_MAX, INT_MAX));
    p.firstIndent = static_cast<int>(
        std::clamp<long long>(static_cast<long long>(p.firstIndent) - kListIndentTwips, -INT_MAX, INT_MAX));
  }
  out += "\\pard\\plain";
  if (para.cell.table != 0) out += "\\intbl";
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
  if (listItem && para.list.list > 0) {
    AppendNumber(out, "ls", para.list.list);
    AppendNumber(out, "ilvl", level);
  }
  // In a cell a \page would end the table; the property is all a cell can say.
  const bool asProperty = first || para.cell.table != 0;
  if (p.pageBreakBefore && asProperty) out += "\\pagebb";
  if (p.pageBreakBefore && !asProperty) out += "\\page";
  out += ' ';
  // A group, after the space that ends the control words (a space after it would be text).
  if (listItem && para.list.list <= 0) AppendOldListItem(out, para.list);
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

void AppendPicture(std::string& out, const Run& r, const Tables& t);

// The body: list and list override tables, then the paragraphs, tables as rows of cells.
struct Writer {
  std::string& out;
  const Document& doc;
  const Tables& t;
  Lists lists;
  ListCounter counter;

  void Body() {
    ListTables();
    const std::vector<Paragraph>& ps = doc.paragraphs;
    for (size_t i = 0; i < ps.size();) {
      if (ps[i].cell.table == 0) {
        Para(ps[i], i == 0);
        out += "\\par\n";
        ++i;
        continue;
      }
      // Readers join tables that touch into one; an empty paragraph keeps them two, as the
      // editor shows them (with a line between).
      if (i > 0 && ps[i - 1].cell.table != 0) out += "\\pard\\plain\\par\n";
      size_t end = i + 1;
      while (end < ps.size() && ps[end].cell.table == ps[i].cell.table) ++end;
      Table(i, end);
      i = end;
    }
  }

  void ListTables() {
    if (lists.levels.empty()) return;
    out += "{\\*\\listtable";
    for (const auto& [list, styles] : lists.levels) {
      out += "\n{\\list";
      AppendNumber(out, "listtemplateid", list);
      for (int level = 0; level < kListLevels; ++level) {
        const ListStyle style = styles[static_cast<size_t>(level)];
        const int nfc = NfcOf(style);
        out += "{\\listlevel";
        AppendNumber(out, "levelnfc", nfc);
        AppendNumber(out, "levelnfcn", nfc);
        out += "\\leveljc0\\leveljcn0\\levelfollow0\\levelstartat1";
        // The marker: a bullet, or the level's number (placeholder \'0L) and a full stop.
        if (style == ListStyle::Bullet) {
          out += "{\\leveltext\\'01\\u8226 ?;}{\\levelnumbers;}";
        } else {
          out += "{\\leveltext\\'02\\'0" + std::to_string(level) + ".;}{\\levelnumbers\\'01;}";
        }
        AppendNumber(out, "fi", -kListIndentTwips);
        AppendNumber(out, "li", static_cast<long long>(level + 1) * kListIndentTwips);
        out += '}';
      }
      out += "{\\listname ;}";
      AppendNumber(out, "listid", list);
      out += '}';
    }
    out += "}\n{\\*\\listoverridetable";
    for (const auto& entry : lists.levels) {
      out += "{\\listoverride";
      AppendNumber(out, "listid", entry.first);
      out += "\\listoverridecount0";
      AppendNumber(out, "ls", entry.first);
      out += '}';
    }
    out += "}\n";
  }

  // One paragraph without its end (\par or \cell).
  void Para(const Paragraph& p, bool first) {
    AppendParaFormat(out, p, first);
    if (p.list.style != ListStyle::None) {
      // The marker as text, for readers that do not number lists themselves.
      const int level = std::clamp(p.list.level, 0, kMaxListLevel);
      out += p.list.list > 0 ? "{\\listtext\\pard\\plain " : "{\\pntext\\pard\\plain ";
      if (!p.runs.empty()) AppendCharFormat(out, p.runs.front().format, t);
      AppendText(out, ListMarker(p.list.style, counter.Next(p.list.list, level)) + '\t');
      out += '}';
    }
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
  }

  // The paragraphs [begin, end) of one table. Rows follow one another in the paragraphs' order;
  // every row has all the table's columns (missing cells are written empty).
  void Table(size_t begin, size_t end) {
    const std::vector<Paragraph>& ps = doc.paragraphs;
    using Cell = std::vector<size_t>;
    std::vector<std::vector<Cell>> rows;
    int columns = 1;
    for (size_t i = begin; i < end; ++i) {
      if (i == begin || ps[i].cell.row != ps[i - 1].cell.row) rows.emplace_back();
      const int c = std::clamp(ps[i].cell.column, 0, kMaxTableColumns - 1);
      columns = std::max(columns, c + 1);
      std::vector<Cell>& row = rows.back();
      if (row.size() <= static_cast<size_t>(c)) row.resize(static_cast<size_t>(c) + 1);
      row[static_cast<size_t>(c)].push_back(i);
    }
    // A cell without a width gets an even share of the text width.
    const PageSetup& pg = doc.page;
    const long long share = std::clamp<long long>(
        (static_cast<long long>(pg.paperWidth) - pg.marginLeft - pg.marginRight) / columns, 1, kMaxCellWidthTwips);
    for (const std::vector<Cell>& row : rows) {
      out += "\\trowd";
      AppendNumber(out, "trgaph", kCellGapTwips);
      out += "\\trleft0";
      long long right = 0;
      for (const Cell& cell : row) {
        const TableCell* c = cell.empty() ? nullptr : &ps[cell.front()].cell;
        if (!c || c->borders) out += kCellBorders;
        right += c && c->width > 0 ? std::min(c->width, kMaxCellWidthTwips) : share;
        AppendNumber(out, "cellx", right);
      }
      out += '\n';
      for (const Cell& cell : row) {
        if (cell.empty()) out += "\\pard\\plain\\intbl ";
        for (size_t k = 0; k < cell.size(); ++k) {
          Para(ps[cell[k]], cell[k] == 0);
          out += k + 1 < cell.size() ? "\\par\n" : "";
        }
        out += "\\cell\n";
      }
      out += "\\row\n";
    }
  }
};

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
  Writer w{out, doc, t, CollectLists(doc), {}};
  w.Body();
  out += "}\n";
  return out;
}

}  // namespace qv::rtf
