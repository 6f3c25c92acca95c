#include "rtf/rtf_reader.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "core/error_codes.h"
#include "rtf/encoding.h"
#include "rtf/rtf_writer.h"

namespace qv::rtf {

namespace {

using core::ecBufferTooBig;
using core::ecDataError;

constexpr int kDefaultHalfPoints = 24;     // \plain: 12 point
constexpr int kSlmultUnit = 240;           // \sl240\slmult1 is one line
constexpr int kSlmultSingleMax = 276;      // up to 1.15 lines: what word processors call single
constexpr int kLinePitchTenths = 12;       // a line is 1.2 times its font size
constexpr int kMaxUnicodeSkip = 16;        // a \ucN beyond this is damage, not a fallback
constexpr int kMaxPendingCells = 64;       // empty cells of a nested row that become tabs
constexpr int kOldStyleList = 0;           // the list number of items marked the pre-1997 way (\pn)
constexpr int kBulletNfc = 23;             // \levelnfc values
constexpr int kNoNumberNfc = 255;
// A cell without a usable width (no \cellx, or one left of the cell's start) gets this one; the
// widest cell a page can hold is far below the maximum.
constexpr int kDefaultCellWidthTwips = 1440;

// Where the text of the current group goes.
enum class Dest : uint8_t { Body, FontTable, ColorTable, FieldInst, Picture, ListTable, ListOverrides, OldList, Skip };
// What closing the group finishes.
enum class Closes : uint8_t { Nothing, Field, FieldResult, Picture, ListDefinition, ListOverride, ListMarker };

// Character formatting as the group state holds it: fonts and colours by table number.
struct CharKey {
  int font = -1;  // -1: the default font (\deff)
  int halfPoints = kDefaultHalfPoints;
  int color = 0;  // colour table index; 0: automatic
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  bool hidden = false;
  VerticalAlign verticalAlign = VerticalAlign::Normal;
  bool operator==(const CharKey&) const = default;
};

struct GroupState {
  Dest dest = Dest::Body;
  Closes closes = Closes::Nothing;
  int unicodeSkip = 1;  // \ucN
  CharKey chars;
  ParaFormat para;
  int rawLineSpacing = 0;  // \sl as written
  bool lineMultiple = false;  // \slmult1
  bool inTable = false;       // \intbl
  int listOverride = 0;       // \ls: 0 none
  int listLevel = 0;          // \ilvl
  ListItem oldList;           // {\*\pn ...}
};

// One column of a table row as \trowd ... \cellx define it.
struct CellDefinition {
  int right = 0;  // \cellx: the cell's right edge
  bool borders = false;
};

struct FontEntry {
  std::string name;
  int codepage = 0;  // 0: the document's
};

struct FieldState {
  std::string instruction;
  bool hasResult = false;
  size_t resultParagraph = 0;  // paragraphs finished when the result began
  size_t resultRun = 0;        // runs of the current paragraph when the result began
  std::optional<CharKey> resultChars;
};

enum class PictureKind : uint8_t { Unknown, Png, Jpeg, Other };

struct PictureState {
  PictureKind kind = PictureKind::Unknown;
  std::vector<uint8_t> data;
  int nibble = -1;  // a first hex digit waiting for its second
  int picw = 0, pich = 0, goalw = 0, goalh = 0, scalex = 100, scaley = 100;
};

// Character names of control words that stand for one character.
struct CharWord {
  std::string_view word;
  char32_t cp;
};
constexpr CharWord kCharWords[] = {
    {"line", U'\n'},      {"tab", U'\t'},       {"emdash", 0x2014},   {"endash", 0x2013},
    {"bullet", 0x2022},   {"lquote", 0x2018},   {"rquote", 0x2019},   {"ldblquote", 0x201C},
    {"rdblquote", 0x201D}, {"emspace", 0x2003}, {"enspace", 0x2002},  {"qmspace", 0x2005},
    {"zwj", 0x200D},      {"zwnj", 0x200C},
};

// Destinations whose content is not part of the document's text.
constexpr std::string_view kSkippedDestinations[] = {
    "info", "stylesheet", "header", "headerl", "headerr", "headerf", "footer", "footerl",
    "footerr", "footerf", "footnote", "annotation", "revtbl",
    "rsidtbl", "filetbl", "nonshppict", "xe", "tc", "txe", "do", "shpinst", "shptxt", "objdata",
    "pntxta", "pntxtb", "nonesttables", "generator", "themedata", "colorschememapping", "latentstyles",
    "datastore", "xmlnstbl", "pgdsctbl", "pnseclvl", "template", "userprops", "docvar", "bkmkstart",
    "bkmkend", "atnid", "atnauthor", "atrfstart", "atrfend", "comment", "private", "upr",
    "ftnsep", "ftnsepc", "ftncn", "aftnsep", "aftnsepc", "aftncn", "mmathPr", "blipuid",
    "picprop", "fldtype", "datafield", "formfield", "listpicture",
};

// Picture kinds we do not keep.
constexpr std::string_view kOtherPictureWords[] = {
    "emfblip", "wmetafile", "macpict", "pmmetafile", "dibitmap", "wbitmap",
};

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

template <size_t N>
bool Contains(const std::string_view (&list)[N], std::string_view word) {
  return std::find(std::begin(list), std::end(list), word) != std::end(list);
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsSpace(s[b])) ++b;
  while (e > b && IsSpace(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

// The MERGEFIELD name of a field instruction, or empty when the field is another kind.
std::string MergeFieldNameOf(std::string_view inst) {
  size_t pos = 0;
  auto skipSpace = [&] {
    while (pos < inst.size() && IsSpace(inst[pos])) ++pos;
  };
  skipSpace();
  size_t start = pos;
  while (pos < inst.size() && !IsSpace(inst[pos])) ++pos;
  std::string keyword(inst.substr(start, pos - start));
  std::transform(keyword.begin(), keyword.end(), keyword.begin(),
                 [](char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); });
  if (keyword != "MERGEFIELD") return {};
  skipSpace();
  if (pos < inst.size() && inst[pos] == '"') {
    const size_t close = inst.find('"', pos + 1);
    if (close == std::string_view::npos) return std::string(inst.substr(pos + 1));
    return std::string(inst.substr(pos + 1, close - pos - 1));
  }
  start = pos;
  while (pos < inst.size() && !IsSpace(inst[pos])) ++pos;
  return std::string(inst.substr(start, pos - start));
}

void MergeAdjacentRuns(Document& doc) {
  for (Paragraph& p : doc.paragraphs) {
    std::vector<Run> merged;
    merged.reserve(p.runs.size());
    for (Run& r : p.runs) {
      if (r.kind == Run::Kind::Text) {
        if (r.text.empty()) continue;
        if (!merged.empty() && merged.back().kind == Run::Kind::Text && merged.back().format == r.format) {
          merged.back().text += r.text;
          continue;
        }
      }
      merged.push_back(std::move(r));
    }
    p.runs = std::move(merged);
  }
}

class Parser {
 public:
  explicit Parser(std::string_view in) : in_(in) {}

  ReadResult Parse(Document& out) {
    while (pos_ < in_.size() && (IsSpace(in_[pos_]) || in_[pos_] == '\0')) ++pos_;
    if (pos_ == in_.size()) {
      out = Document{};
      return result_;
    }
    if (in_.substr(pos_, 5) != "{\\rtf")
      return Fail(ecDataError, "This is not rich text (RTF): it does not begin with \"{\\rtf\".");
    while (pos_ < in_.size() && !failed_ && !finished_) Step();
    if (failed_) return result_;
    if (!finished_)
      return Fail(ecDataError, "The rich text is damaged: it ends inside an open group (unbalanced braces).");
    if (in_.find_first_of("{}", pos_) != std::string_view::npos)
      return Fail(ecDataError, "The rich text is damaged: braces follow the end of the document (unbalanced braces).");
    MergeAdjacentRuns(doc_);
    out = std::move(doc_);
    return result_;
  }

 private:
  GroupState& S() { return stack_.back(); }

  ReadResult Fail(int code, std::string message) {
    if (!failed_) {
      failed_ = true;
      result_.code = code;
      result_.message = std::move(message);
    }
    return result_;
  }
  void BadHex() {
    Fail(ecDataError, "The rich text is damaged: bad hexadecimal data at byte " + std::to_string(pos_) + ".");
  }
  bool CountPart() {
    if (++parts_ > kMaxDocumentParts) {
      Fail(ecBufferTooBig, "The rich text has more than " + std::to_string(kMaxDocumentParts) +
                               " paragraphs and runs.");
      return false;
    }
    return true;
  }

  void Step() {
    const char c = in_[pos_];
    switch (c) {
      case '{': {
        ++pos_;
        if (static_cast<int>(stack_.size()) >= kMaxGroupDepth) {
          Fail(ecDataError, "The rich text nests groups deeper than " + std::to_string(kMaxGroupDepth) +
                                " levels.");
          return;
        }
        GroupState next = stack_.empty() ? GroupState{} : S();
        next.closes = Closes::Nothing;
        stack_.push_back(next);
        groupStart_ = true;
        starred_ = false;
        unicodeSkipLeft_ = 0;
        break;
      }
      case '}':
        ++pos_;
        if (stack_.empty()) {
          Fail(ecDataError, "The rich text is damaged: a group is closed that was never opened (unbalanced braces).");
          return;
        }
        CloseGroup();
        groupStart_ = false;
        unicodeSkipLeft_ = 0;
        break;
      case '\\':
        ControlWord();
        break;
      case '\r':
      case '\n':
        ++pos_;
        break;
      default:
        groupStart_ = false;
        if (!stack_.empty() && S().dest == Dest::Picture) {
          PictureData();
          break;
        }
        if (stack_.empty()) {
          ++pos_;  // nothing before the first group counts
          return;
        }
        if (PlainTextSpan()) break;
        ++pos_;
        Byte(static_cast<uint8_t>(c), true);
        break;
    }
  }

  // --- text --------------------------------------------------------------------------------

  int CodepageOf(int font) const {
    if (font < 0) font = defaultFont_;
    auto it = fonts_.find(font);
    if (it != fonts_.end() && it->second.codepage != 0) return it->second.codepage;
    return codepage_;
  }

  // A stretch of plain ASCII text continuing the open run, appended at once: most of a memo's
  // text needs none of the per-character rules. False when the next byte needs them.
  bool PlainTextSpan() {
    const GroupState& s = S();
    if (s.dest != Dest::Body || s.chars.hidden || unicodeSkipLeft_ > 0 || highSurrogate_ || pendingCells_ > 0 ||
        !runOpen_ || !(openKey_ == s.chars))
      return false;
    const size_t start = pos_;
    while (pos_ < in_.size()) {
      const unsigned char c = static_cast<unsigned char>(in_[pos_]);
      if (c >= 0x80 || c == '\\' || c == '{' || c == '}' || c == '\r' || c == '\n') break;
      ++pos_;
    }
    if (pos_ == start) return false;
    paragraph_.runs.back().text.append(in_.substr(start, pos_ - start));
    return true;
  }

  // One byte of text, written as itself (`literal`) or as \'hh.
  void Byte(uint8_t b, bool literal) {
    GroupState& s = S();
    switch (s.dest) {
      case Dest::Skip:
        return;
      case Dest::Picture:
        return;  // hex digits go through PictureData; escapes are no picture data
      case Dest::ColorTable:
        if (b == ';') CommitColor();
        return;
      case Dest::FontTable:
        if (literal && b == ';') {
          CommitFont();
          return;
        }
        break;
      default:
        break;
    }
    if (unicodeSkipLeft_ > 0) {
      --unicodeSkipLeft_;
      return;
    }
    Text(b < 0x80 ? b : DecodeAnsiByte(CodepageOf(s.chars.font), b));
  }

  // One character (not a fallback) of the current destination.
  void Text(char32_t cp) {
    if (highSurrogate_) {
      const char32_t high = highSurrogate_;
      highSurrogate_ = 0;
      if (cp >= 0xDC00 && cp <= 0xDFFF) {
        cp = 0x10000 + ((high - 0xD800) << 10) + (cp - 0xDC00);
      } else {
        Text(0xFFFD);
      }
    }
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      highSurrogate_ = cp;
      return;
    }
    GroupState& s = S();
    switch (s.dest) {
      case Dest::Body:
        BodyText(cp);
        break;
      case Dest::FontTable:
        if (fontEntry_ != kNoFont) AppendUtf8(fontName_, cp);
        break;
      case Dest::FieldInst:
        if (!fields_.empty()) AppendUtf8(fields_.back().instruction, cp);
        break;
      default:
        break;
    }
  }

  void BodyText(char32_t cp) {
    if (S().chars.hidden) return;
    FlushCells();
    AppendBodyChar(cp);
  }

  // Cells ended since the last text: the row's text goes on after one tab per cell.
  void FlushCells() {
    const int cells = pendingCells_;
    pendingCells_ = 0;
    for (int i = 0; i < cells; ++i) AppendBodyChar(U'\t');
  }

  void AppendBodyChar(char32_t cp) {
    const CharKey& key = S().chars;
    if (!runOpen_ || !(openKey_ == key)) {
      if (!CountPart()) return;
      Run r;
      r.format = Format(key);
      paragraph_.runs.push_back(std::move(r));
      runOpen_ = true;
      openKey_ = key;
    }
    AppendUtf8(paragraph_.runs.back().text, cp);
  }

  CharFormat Format(const CharKey& k) const {
    CharFormat f;
    const int font = k.font < 0 ? defaultFont_ : k.font;
    if (font != defaultFont_) {
      auto it = fonts_.find(font);
      if (it != fonts_.end()) f.fontName = it->second.name;
    }
    f.halfPoints = k.halfPoints;
    f.bold = k.bold;
    f.italic = k.italic;
    f.underline = k.underline;
    f.strikeOut = k.strikeOut;
    f.verticalAlign = k.verticalAlign;
    if (k.color > 0 && static_cast<size_t>(k.color) < colors_.size()) f.color = colors_[k.color];
    return f;
  }

  // `cellEnd`: ended by \cell, so a table's paragraph even without \intbl.
  void EndParagraph(bool cellEnd = false) {
    if (!CountPart()) return;
    Paragraph p;
    p.format = S().para;
    if (S().lineMultiple) p.format.lineHeight = MultipleLineHeight(S());
    p.list = ListItemOf(S());
    if (p.list.style != ListStyle::None && markerEnd_ != kNoMarker && markerBegin_ <= markerEnd_ &&
        markerEnd_ <= paragraph_.runs.size()) {
      paragraph_.runs.erase(paragraph_.runs.begin() + static_cast<std::ptrdiff_t>(markerBegin_),
                            paragraph_.runs.begin() + static_cast<std::ptrdiff_t>(markerEnd_));
    }
    markerBegin_ = 0;
    markerEnd_ = kNoMarker;
    if (p.list.style != ListStyle::None) {
      // The model's indents come on top of the list's own; writers give the whole indent.
      p.format.leftIndent = Saturated(static_cast<long long>(p.format.leftIndent) -
                                      static_cast<long long>(p.list.level + 1) * kListIndentTwips);
      p.format.firstIndent = Saturated(static_cast<long long>(p.format.firstIndent) + kListIndentTwips);
    }
    if (cellEnd || S().inTable) {
      if (!inTableRun_) {
        inTableRun_ = true;
        ++tables_;
      }
      p.cell.table = tables_;
      p.cell.row = row_;
      p.cell.column = std::min(column_, kMaxTableColumns - 1);
      const Paragraph* before = doc_.paragraphs.empty() ? nullptr : &doc_.paragraphs.back();
      if (before && before->cell.table == p.cell.table && before->cell.row == p.cell.row &&
          before->cell.column == p.cell.column) {
        // One cell has one width and one border, whatever definitions come between its paragraphs.
        p.cell.width = before->cell.width;
        p.cell.borders = before->cell.borders;
      } else if (static_cast<size_t>(column_) < rowCells_.size()) {
        const int left = column_ > 0 ? rowCells_[static_cast<size_t>(column_) - 1].right : rowLeft_;
        const long long width = static_cast<long long>(rowCells_[static_cast<size_t>(column_)].right) - left;
        p.cell.width = width > 0 ? static_cast<int>(std::min<long long>(width, kMaxCellWidthTwips)) : kDefaultCellWidthTwips;
        p.cell.borders = rowCells_[static_cast<size_t>(column_)].borders;
      } else {
        p.cell.width = kDefaultCellWidthTwips;
      }
      rowUsed_ = true;
    } else {
      inTableRun_ = false;
      rowUsed_ = false;
      row_ = column_ = 0;
    }
    if (pageBreakPending_ || sectionBreakPending_) p.format.pageBreakBefore = true;
    pageBreakPending_ = sectionBreakPending_ = false;
    p.runs = std::move(paragraph_.runs);
    paragraph_.runs.clear();
    doc_.paragraphs.push_back(std::move(p));
    runOpen_ = false;
    pendingCells_ = 0;
  }

  static int Saturated(long long v) { return static_cast<int>(std::clamp<long long>(v, -INT_MAX, INT_MAX)); }

  static ListStyle StyleOfNfc(int nfc) {
    switch (nfc) {
      case 1: return ListStyle::UpperRoman;
      case 2: return ListStyle::LowerRoman;
      case 3: return ListStyle::UpperAlpha;
      case 4: return ListStyle::LowerAlpha;
      case kBulletNfc: return ListStyle::Bullet;
      case kNoNumberNfc: return ListStyle::None;
      default: return ListStyle::Decimal;  // and the decimal variants (leading zero, ordinals, ...)
    }
  }

  // The list item a paragraph of this state is: \ls through the override and list tables, else
  // the old-style \pn marking. An \ls whose list is not defined still marks a list: bulleted.
  ListItem ListItemOf(const GroupState& s) const {
    if (s.listOverride <= 0) return s.oldList;
    ListItem item;
    item.list = s.listOverride;
    item.level = std::clamp(s.listLevel, 0, kMaxListLevel);
    item.style = ListStyle::Bullet;
    auto o = listOverrides_.find(s.listOverride);
    if (o != listOverrides_.end()) {
      auto d = listDefinitions_.find(o->second);
      if (d != listDefinitions_.end() && !d->second.empty())
        item.style = d->second[std::min(static_cast<size_t>(item.level), d->second.size() - 1)];
    }
    if (item.style == ListStyle::None) return ListItem{};
    return item;
  }

  bool BeforeBody() const { return doc_.paragraphs.empty() && paragraph_.runs.empty(); }

  // \cell: the cell's (last) paragraph ends and the next cell begins.
  void EndCell() {
    EndParagraph(true);
    ++column_;
  }

  // \row: text after the last \cell is one more cell; the next row begins.
  void EndRow() {
    pendingCells_ = 0;
    if (!paragraph_.runs.empty()) EndCell();
    // Rows without cells are no rows: the rows of a table are numbered without gaps.
    if (rowUsed_) ++row_;
    rowUsed_ = false;
    column_ = 0;
  }

  // --- tables of fonts and colours ---------------------------------------------------------

  static constexpr int kNoFont = INT_MIN;

  void CommitFont() {
    if (fontEntry_ != kNoFont) {
      FontEntry& f = fonts_[fontEntry_];
      f.name = Trim(fontName_);
      f.codepage = CodepageOfCharset(fontCharset_);
    }
    fontEntry_ = kNoFont;
    fontName_.clear();
    fontCharset_ = 0;
  }

  void CommitColor() {
    if (colorSeen_) colors_.push_back((red_ << 16) | (green_ << 8) | blue_);
    else colors_.push_back(std::nullopt);
    red_ = green_ = blue_ = 0;
    colorSeen_ = false;
  }

  // --- pictures ----------------------------------------------------------------------------

  // The hex digits of a picture up to the next control word or brace, in one pass: pictures
  // are most of a memo's bytes.
  void PictureData() {
    const bool keep = picture_.kind != PictureKind::Other;
    while (pos_ < in_.size()) {
      const char c = in_[pos_];
      const int v = HexValue(c);
      if (v < 0) {
        if (c == '{' || c == '}' || c == '\\') return;
        if (!IsSpace(c) && c != '\0') {
          BadHex();
          return;
        }
        ++pos_;
        continue;
      }
      ++pos_;
      if (picture_.nibble < 0) {
        picture_.nibble = v;
        continue;
      }
      const uint8_t byte = static_cast<uint8_t>((picture_.nibble << 4) | v);
      picture_.nibble = -1;
      if (!keep) continue;
      if (picture_.data.size() >= kMaxPictureBytes) {
        PictureTooLarge();
        return;
      }
      picture_.data.push_back(byte);
    }
  }

  void PictureByte(uint8_t byte) {
    if (picture_.kind == PictureKind::Other) return;
    if (picture_.data.size() >= kMaxPictureBytes) {
      PictureTooLarge();
      return;
    }
    picture_.data.push_back(byte);
  }

  static int Scaled(int goal, int percent) {
    return static_cast<int>(std::min<long long>(static_cast<long long>(goal) * percent / 100, INT_MAX));
  }

  void PictureTooLarge() {
    Fail(ecBufferTooBig, "The rich text holds a picture larger than " +
                             std::to_string(kMaxPictureBytes / (1024 * 1024)) + " MB.");
  }

  void EndPicture(const GroupState& s) {
    inPicture_ = false;
    PictureState pic = std::move(picture_);
    picture_ = PictureState{};
    if (pic.kind != PictureKind::Png && pic.kind != PictureKind::Jpeg) {
      ++result_.skippedPictures;
      return;
    }
    if (pic.nibble >= 0) {
      BadHex();
      return;
    }
    if (pic.data.empty() || s.chars.hidden) return;
    if (!CountPart()) return;
    Run r;
    r.kind = Run::Kind::Picture;
    r.format = Format(s.chars);
    r.picture.format = pic.kind == PictureKind::Jpeg ? PictureFormat::Jpeg : PictureFormat::Png;
    r.picture.data = std::move(pic.data);
    r.picture.pixelWidth = pic.picw;
    r.picture.pixelHeight = pic.pich;
    r.picture.widthTwips = Scaled(pic.goalw, pic.scalex);
    r.picture.heightTwips = Scaled(pic.goalh, pic.scaley);
    FlushCells();
    paragraph_.runs.push_back(std::move(r));
    runOpen_ = false;
  }

  // --- fields ------------------------------------------------------------------------------

  void EndField() {
    FieldState f = std::move(fields_.back());
    fields_.pop_back();
    const int kind = MergeFieldKind(MergeFieldNameOf(f.instruction));
    runOpen_ = false;
    if (kind == 0) return;  // another kind of field: its result stays as text
    if (f.hasResult && f.resultParagraph != doc_.paragraphs.size()) return;  // result spans paragraphs
    const size_t first = f.hasResult ? std::min(f.resultRun, paragraph_.runs.size()) : paragraph_.runs.size();
    Run field;
    field.kind = Run::Kind::Field;
    field.field.kind = kind;
    for (size_t i = first; i < paragraph_.runs.size(); ++i) {
      const Run& r = paragraph_.runs[i];
      if (r.kind != Run::Kind::Text) return;  // a picture in the result: keep it as it is
      field.field.placeholder += r.text;
    }
    if (first < paragraph_.runs.size()) field.format = paragraph_.runs[first].format;
    else field.format = Format(f.resultChars.value_or(S().chars));
    paragraph_.runs.erase(paragraph_.runs.begin() + static_cast<std::ptrdiff_t>(first), paragraph_.runs.end());
    if (!CountPart()) return;
    paragraph_.runs.push_back(std::move(field));
  }

  // --- groups ------------------------------------------------------------------------------

  // Finishes the innermost group while its state is still on the stack: what it closes (a field,
  // a picture, the document itself) may belong to the outermost group.
  void CloseGroup() {
    GroupState& closed = stack_.back();
    highSurrogate_ = 0;
    const bool inFontTable = stack_.size() > 1 && stack_[stack_.size() - 2].dest == Dest::FontTable;
    if (closed.dest == Dest::FontTable && (!inFontTable || !fontName_.empty())) CommitFont();
    switch (closed.closes) {
      case Closes::Picture: EndPicture(closed); break;
      case Closes::FieldResult:
        if (!fields_.empty()) fields_.back().resultChars = closed.chars;
        break;
      case Closes::Field: EndField(); break;
      case Closes::ListDefinition:
        listDefinitions_[listDefinitionId_] = std::move(listDefinitionLevels_);
        listDefinitionLevels_.clear();
        break;
      case Closes::ListOverride: listOverrides_[overrideLs_] = overrideListId_; break;
      case Closes::ListMarker:
        markerEnd_ = paragraph_.runs.size();
        runOpen_ = false;
        break;
      case Closes::Nothing: break;
    }
    if (stack_.size() == 1) {
      // The document's last paragraph needs no \par.
      if (!paragraph_.runs.empty()) EndParagraph();
      finished_ = true;
    }
    stack_.pop_back();
  }

  // --- control words -----------------------------------------------------------------------

  void ControlWord() {
    ++pos_;  // the backslash
    if (pos_ >= in_.size()) return;  // a lone backslash at the end: the open group reports it
    const char c = in_[pos_];
    if (!IsLetter(c)) {
      ++pos_;
      Symbol(c);
      return;
    }
    const size_t start = pos_;
    while (pos_ < in_.size() && IsLetter(in_[pos_])) ++pos_;
    const std::string_view word = in_.substr(start, pos_ - start);
    bool hasParam = false;
    long long value = 0;
    bool negative = false;
    if (pos_ + 1 < in_.size() && in_[pos_] == '-' && IsDigit(in_[pos_ + 1])) {
      negative = true;
      ++pos_;
    }
    while (pos_ < in_.size() && IsDigit(in_[pos_])) {
      hasParam = true;
      if (value < INT_MAX) value = value * 10 + (in_[pos_] - '0');
      ++pos_;
    }
    if (value > INT_MAX) value = INT_MAX;
    if (negative) value = -value;
    if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;
    if (stack_.empty()) return;
    Word(word, hasParam, static_cast<int>(value));
  }

  void Symbol(char c) {
    const bool atStart = groupStart_;
    groupStart_ = false;
    if (stack_.empty()) return;
    switch (c) {
      case '\'': {
        if (pos_ + 2 > in_.size()) {
          BadHex();
          return;
        }
        const int hi = HexValue(in_[pos_]), lo = HexValue(in_[pos_ + 1]);
        if (hi < 0 || lo < 0) {
          if (S().dest == Dest::Skip) return;
          BadHex();
          return;
        }
        pos_ += 2;
        Byte(static_cast<uint8_t>((hi << 4) | lo), false);
        return;
      }
      case '*':
        if (atStart) {
          starred_ = true;
          groupStart_ = true;  // the destination word follows
        }
        return;
      case '\\':
      case '{':
      case '}':
        Byte(static_cast<uint8_t>(c), false);
        return;
      case '~': CharText(0x00A0); return;
      case '_': CharText(0x2011); return;
      case '\r':
      case '\n':
        if (S().dest == Dest::Body) EndParagraph();
        return;
      default:
        return;  // \- (optional hyphen), \| and \: (index entries) and unknown symbols
    }
  }

  // A character written as a control word: a \uN fallback may consist of one.
  void CharText(char32_t cp) {
    if (S().dest == Dest::Skip || S().dest == Dest::Picture) return;
    if (unicodeSkipLeft_ > 0) {
      --unicodeSkipLeft_;
      return;
    }
    Text(cp);
  }

  void SetDest(Dest d) { S().dest = d; }

  void Word(std::string_view w, bool hasParam, int v) {
    const bool atStart = groupStart_;
    const bool starred = starred_;
    groupStart_ = false;
    starred_ = false;
    GroupState& s = S();
    if (w == "bin") {
      Binary(hasParam ? v : 0);
      return;
    }
    if (s.dest == Dest::Skip) return;
    for (const CharWord& cw : kCharWords) {
      if (w == cw.word) {
        CharText(cw.cp);
        return;
      }
    }
    unicodeSkipLeft_ = 0;  // any other control word ends a fallback
    if (w == "u") {
      Text(static_cast<char32_t>(v < 0 ? v + 0x10000 : v) & 0xFFFF);
      unicodeSkipLeft_ = s.unicodeSkip;
      return;
    }
    if (w == "uc") {
      s.unicodeSkip = std::clamp(v, 0, kMaxUnicodeSkip);
      return;
    }
    // Destinations.
    if (starred && atStart) {
      if (w == "fldinst") FieldInstruction();
      // AbiWord stars the result; it is the field's text all the same.
      else if (w == "fldrslt") BodyWord(w, hasParam, v);
      // The list tables belong in the header: read there, one list level has one style throughout.
      else if (w == "listtable" && s.dest == Dest::Body && BeforeBody()) SetDest(Dest::ListTable);
      else if (w == "listoverridetable" && s.dest == Dest::Body && BeforeBody()) SetDest(Dest::ListOverrides);
      else if (w == "listtable" || w == "listoverridetable") SetDest(Dest::Skip);
      else if (w == "pn" && s.dest == Dest::Body) SetDest(Dest::OldList);
      else if (w == "nesttableprops" && s.dest == Dest::Body) {
        // Ends a row of a table inside a cell (its \nestrow is inside).
        pendingCells_ = 0;
        if (!paragraph_.runs.empty()) EndParagraph();
        SetDest(Dest::Skip);
      }
      else if (w == "shppict") {
        // The picture in a form for current readers: read it.
      } else SetDest(Dest::Skip);
      return;
    }
    if (Contains(kSkippedDestinations, w)) {
      SetDest(Dest::Skip);
      return;
    }
    if (w == "pn" && s.dest == Dest::Body) {
      SetDest(Dest::OldList);
      return;
    }
    // LibreOffice writes the override table without \*.
    if ((w == "listtable" || w == "listoverridetable") && atStart && s.dest == Dest::Body) {
      SetDest(BeforeBody() ? (w == "listtable" ? Dest::ListTable : Dest::ListOverrides) : Dest::Skip);
      return;
    }
    if ((w == "listtext" || w == "pntext") && s.dest == Dest::Body && s.closes == Closes::Nothing) {
      // A list item's marker as its writer shows it: dropped when the paragraph turns out to be
      // a list item (which numbers itself), kept as text when it does not.
      s.closes = Closes::ListMarker;
      markerBegin_ = paragraph_.runs.size();
      markerEnd_ = kNoMarker;
      runOpen_ = false;
      return;
    }
    switch (s.dest) {
      case Dest::ListTable: ListTableWord(w, v); return;
      case Dest::ListOverrides: ListOverrideWord(w, v); return;
      case Dest::OldList: OldListWord(w, v); return;
      case Dest::FontTable: FontTableWord(w, hasParam, v); return;
      case Dest::ColorTable: ColorTableWord(w, v); return;
      case Dest::Picture: PictureWord(w, hasParam, v); return;
      case Dest::FieldInst:
        if (w == "fldrslt") SetDest(Dest::Skip);
        return;
      default: break;
    }
    BodyWord(w, hasParam, v);
  }

  void Binary(int n) {
    if (n < 0) n = 0;
    if (static_cast<size_t>(n) > in_.size() - pos_) {
      Fail(ecDataError, "The rich text is damaged: binary data (\\bin) runs past its end.");
      return;
    }
    const std::string_view bytes = in_.substr(pos_, static_cast<size_t>(n));
    pos_ += static_cast<size_t>(n);
    if (S().dest != Dest::Picture || picture_.kind == PictureKind::Other) return;
    if (picture_.data.size() + bytes.size() > kMaxPictureBytes) {
      PictureTooLarge();
      return;
    }
    for (char b : bytes) {
      PictureByte(static_cast<uint8_t>(b));
      if (failed_) return;
    }
  }

  void FieldInstruction() {
    if (S().dest == Dest::Body && !fields_.empty()) SetDest(Dest::FieldInst);
    else SetDest(Dest::Skip);
  }

  void FontTableWord(std::string_view w, bool hasParam, int v) {
    if (w == "f" && hasParam) {
      if (fontEntry_ != kNoFont && !fontName_.empty()) CommitFont();
      fontEntry_ = v;
      fontName_.clear();
      fontCharset_ = 0;
    } else if (w == "fcharset") {
      fontCharset_ = v;
    }
  }

  // {\*\listtable {\list {\listlevel \levelnfcN ...} ... \listidN} ...}
  void ListTableWord(std::string_view w, int v) {
    if (w == "list") {
      if (S().closes == Closes::Nothing) {
        S().closes = Closes::ListDefinition;
        listDefinitionLevels_.clear();
        listDefinitionId_ = 0;
      }
    } else if (w == "listlevel") {
      if (listDefinitionLevels_.size() <= static_cast<size_t>(kMaxListLevel))
        listDefinitionLevels_.push_back(ListStyle::Decimal);
    } else if (w == "levelnfc" || w == "levelnfcn") {
      if (!listDefinitionLevels_.empty()) listDefinitionLevels_.back() = StyleOfNfc(v);
    } else if (w == "listid") {
      listDefinitionId_ = v;
    }
  }

  // {\*\listoverridetable {\listoverride \listidN \lsM} ...}: paragraphs name lists by M.
  void ListOverrideWord(std::string_view w, int v) {
    if (w == "listoverride") {
      if (S().closes == Closes::Nothing) {
        S().closes = Closes::ListOverride;
        overrideListId_ = overrideLs_ = 0;
      }
    } else if (w == "listid") {
      overrideListId_ = v;
    } else if (w == "ls") {
      overrideLs_ = v;
    }
  }

  // {\*\pn ...} marks the paragraph of the enclosing group as a list item.
  void OldListWord(std::string_view w, int v) {
    if (stack_.size() < 2) return;
    ListItem& item = stack_[stack_.size() - 2].oldList;
    item.list = kOldStyleList;
    if (w == "pnlvlblt") {
      item.style = ListStyle::Bullet;
      item.level = 0;
    } else if (w == "pnlvlbody") {
      if (item.style == ListStyle::None) item.style = ListStyle::Decimal;
      item.level = 0;
    } else if (w == "pnlvl") {
      if (item.style == ListStyle::None) item.style = ListStyle::Decimal;
      item.level = std::clamp(v - 1, 0, kMaxListLevel);
    } else if (w == "pnlvlcont") {
      item = ListItem{};
    } else if (item.style != ListStyle::Bullet) {
      if (w == "pndec") item.style = ListStyle::Decimal;
      else if (w == "pnucltr") item.style = ListStyle::UpperAlpha;
      else if (w == "pnlcltr") item.style = ListStyle::LowerAlpha;
      else if (w == "pnucrm") item.style = ListStyle::UpperRoman;
      else if (w == "pnlcrm") item.style = ListStyle::LowerRoman;
    }
  }

  void ColorTableWord(std::string_view w, int v) {
    const uint32_t c = static_cast<uint32_t>(std::clamp(v, 0, 255));
    if (w == "red") red_ = c, colorSeen_ = true;
    else if (w == "green") green_ = c, colorSeen_ = true;
    else if (w == "blue") blue_ = c, colorSeen_ = true;
  }

  void PictureWord(std::string_view w, bool hasParam, int v) {
    if (w == "pngblip") picture_.kind = PictureKind::Png;
    else if (w == "jpegblip") picture_.kind = PictureKind::Jpeg;
    else if (Contains(kOtherPictureWords, w)) {
      picture_.kind = PictureKind::Other;
      picture_.data.clear();
      picture_.data.shrink_to_fit();
    } else if (w == "picw") picture_.picw = std::max(v, 0);
    else if (w == "pich") picture_.pich = std::max(v, 0);
    else if (w == "picwgoal") picture_.goalw = std::max(v, 0);
    else if (w == "pichgoal") picture_.goalh = std::max(v, 0);
    else if (w == "picscalex" && hasParam) picture_.scalex = std::clamp(v, 1, 10000);
    else if (w == "picscaley" && hasParam) picture_.scaley = std::clamp(v, 1, 10000);
  }

  void SetLineSpacing(GroupState& s) {
    const long long sl = s.rawLineSpacing < 0 ? -static_cast<long long>(s.rawLineSpacing) : s.rawLineSpacing;
    s.para.lineHeight = static_cast<int>(std::min<long long>(sl, INT_MAX));
  }

  // \slmult1 counts lines; the model holds a height, measured on the paragraph's largest font.
  int MultipleLineHeight(const GroupState& s) const {
    const long long sl = s.rawLineSpacing < 0 ? -static_cast<long long>(s.rawLineSpacing) : s.rawLineSpacing;
    if (sl <= kSlmultSingleMax) return 0;
    int halfPoints = 0;
    for (const Run& r : paragraph_.runs) halfPoints = std::max(halfPoints, r.format.halfPoints);
    if (halfPoints <= 0) halfPoints = s.chars.halfPoints > 0 ? s.chars.halfPoints : kDefaultHalfPoints;
    // half points * 10 twips * 1.2 per line, times sl / 240 lines
    const long long twips = sl * halfPoints * kLinePitchTenths / (2 * kSlmultUnit);
    return static_cast<int>(std::min<long long>(twips, INT_MAX));
  }

  // The page of the document, or of its first section, which overrides it: the model has one
  // page setup for the whole document.
  bool PageWord(std::string_view w, int v) {
    struct Entry {
      std::string_view document, section;
      int PageSetup::*field;
    };
    static constexpr Entry kEntries[] = {
        {"paperw", "pgwsxn", &PageSetup::paperWidth},   {"paperh", "pghsxn", &PageSetup::paperHeight},
        {"margl", "marglsxn", &PageSetup::marginLeft},  {"margr", "margrsxn", &PageSetup::marginRight},
        {"margt", "margtsxn", &PageSetup::marginTop},   {"margb", "margbsxn", &PageSetup::marginBottom},
    };
    for (const Entry& e : kEntries) {
      if (w == e.document || (w == e.section && !pastFirstSection_)) {
        doc_.page.*e.field = v;
        return true;
      }
      if (w == e.section) return true;
    }
    return false;
  }

  void BodyWord(std::string_view w, bool hasParam, int v) {
    GroupState& s = S();
    CharKey& k = s.chars;
    ParaFormat& p = s.para;
    const bool on = !hasParam || v != 0;
    // Document and tables.
    if (w == "fonttbl") SetDest(Dest::FontTable);
    else if (w == "colortbl") SetDest(Dest::ColorTable);
    else if (w == "ansicpg") codepage_ = IsKnownCodepage(v) ? v : kDefaultCodepage;
    else if (w == "deff") defaultFont_ = v;
    else if (PageWord(w, v)) return;
    // Fields and pictures.
    else if (w == "field") {
      if (s.dest == Dest::Body && s.closes == Closes::Nothing) {
        s.closes = Closes::Field;
        fields_.emplace_back();
      }
    } else if (w == "fldinst") FieldInstruction();
    else if (w == "fldrslt") {
      if (s.dest == Dest::Body && !fields_.empty() && s.closes == Closes::Nothing) {
        s.closes = Closes::FieldResult;
        FieldState& f = fields_.back();
        f.hasResult = true;
        f.resultParagraph = doc_.paragraphs.size();
        f.resultRun = paragraph_.runs.size();
        runOpen_ = false;
      }
    } else if (w == "pict") {
      if (inPicture_ || s.closes != Closes::Nothing) {
        SetDest(Dest::Skip);
      } else {
        inPicture_ = true;
        picture_ = PictureState{};
        s.closes = Closes::Picture;
        SetDest(Dest::Picture);
      }
    }
    // Paragraphs and breaks.
    else if (w == "par") EndParagraph();
    else if (w == "pard") {
      p = ParaFormat{};
      s.rawLineSpacing = 0;
      s.lineMultiple = false;
      s.inTable = false;
      s.listOverride = 0;
      s.listLevel = 0;
      s.oldList = ListItem{};
    } else if (w == "intbl") s.inTable = on;
    else if (w == "ls") s.listOverride = v;
    else if (w == "ilvl") s.listLevel = v;
    else if (w == "trowd") {
      rowCells_.clear();
      rowLeft_ = 0;
      borderSide_ = cellBorders_ = false;
    } else if (w == "trleft") rowLeft_ = v;
    else if (w == "cellx") {
      if (rowCells_.size() < static_cast<size_t>(kMaxTableColumns)) rowCells_.push_back({v, cellBorders_});
      borderSide_ = cellBorders_ = false;
    } else if (w == "clbrdrt" || w == "clbrdrl" || w == "clbrdrb" || w == "clbrdrr") borderSide_ = true;
    else if (borderSide_ && w.substr(0, 4) == "brdr" && w != "brdrw" && w != "brdrcf" && w != "brdrsp") {
      // A side's style: any but none draws it.
      if (w != "brdrnone") cellBorders_ = true;
      borderSide_ = false;
    } else if (w == "page") {
      if (!paragraph_.runs.empty()) EndParagraph();
      pageBreakPending_ = true;
    } else if (w == "sect") {
      // Ends the paragraph; writers that end it with \par first get no empty one.
      if (!paragraph_.runs.empty()) EndParagraph();
      sectionBreakPending_ = true;
      pastFirstSection_ = true;
    } else if (w == "sbknone" || w == "sbkcol") sectionBreakPending_ = false;
    else if (w == "cell") EndCell();
    else if (w == "row") EndRow();
    // A table inside a cell keeps its text in the outer cell: a row is a paragraph, its cells
    // separated by tabs.
    else if (w == "nestcell") {
      if (pendingCells_ < kMaxPendingCells) ++pendingCells_;
      runOpen_ = false;
    } else if (w == "nestrow") {
      pendingCells_ = 0;
      if (!paragraph_.runs.empty()) EndParagraph();
    } else if (w == "ql") p.alignment = Alignment::Left;
    else if (w == "qc") p.alignment = Alignment::Center;
    else if (w == "qr") p.alignment = Alignment::Right;
    else if (w == "qj" || w == "qd") p.alignment = Alignment::Justify;
    else if (w == "fi") p.firstIndent = v;
    else if (w == "li" || w == "lin") p.leftIndent = v;
    else if (w == "ri" || w == "rin") p.rightIndent = v;
    else if (w == "sb") p.spaceBefore = v;
    else if (w == "sa") p.spaceAfter = v;
    else if (w == "sl") {
      s.rawLineSpacing = v;
      SetLineSpacing(s);
    } else if (w == "slmult") {
      s.lineMultiple = on;
      SetLineSpacing(s);
    } else if (w == "pagebb") p.pageBreakBefore = on;
    // Characters.
    else if (w == "plain") k = CharKey{};
    else if (w == "f") k.font = v;
    else if (w == "fs") k.halfPoints = hasParam ? v : kDefaultHalfPoints;
    else if (w == "b") k.bold = on;
    else if (w == "i") k.italic = on;
    else if (w == "ul" || (w.size() > 2 && w.substr(0, 2) == "ul" && w != "ulc")) k.underline = on && w != "ulnone";
    else if (w == "strike" || w == "striked") k.strikeOut = on;
    else if (w == "sub") k.verticalAlign = VerticalAlign::Subscript;
    else if (w == "super") k.verticalAlign = VerticalAlign::Superscript;
    else if (w == "nosupersub") k.verticalAlign = VerticalAlign::Normal;
    // Raised or lowered text (LibreOffice writes its super- and subscripts so); the model has
    // one height for each, and \up0 or \dn0 is the base line again.
    else if (w == "up") k.verticalAlign = hasParam && v == 0 ? VerticalAlign::Normal : VerticalAlign::Superscript;
    else if (w == "dn") k.verticalAlign = hasParam && v == 0 ? VerticalAlign::Normal : VerticalAlign::Subscript;
    else if (w == "cf") k.color = std::max(v, 0);
    else if (w == "v") k.hidden = on;
  }

  std::string_view in_;
  size_t pos_ = 0;
  bool failed_ = false;
  bool finished_ = false;
  ReadResult result_;
  Document doc_;
  std::vector<GroupState> stack_;
  bool groupStart_ = false;  // the next control word is the first of its group
  bool starred_ = false;     // the group began with \*
  int unicodeSkipLeft_ = 0;  // fallback characters of a \uN still to skip
  char32_t highSurrogate_ = 0;
  int codepage_ = kDefaultCodepage;
  int defaultFont_ = 0;
  std::map<int, FontEntry> fonts_;
  int fontEntry_ = kNoFont;
  std::string fontName_;
  int fontCharset_ = 0;
  std::vector<std::optional<uint32_t>> colors_;
  uint32_t red_ = 0, green_ = 0, blue_ = 0;
  bool colorSeen_ = false;
  Paragraph paragraph_;  // the paragraph being read
  bool runOpen_ = false;  // text may continue the last run of paragraph_
  CharKey openKey_;
  size_t parts_ = 0;
  bool pageBreakPending_ = false;
  bool sectionBreakPending_ = false;
  bool pastFirstSection_ = false;
  int pendingCells_ = 0;
  // Tables: the row being read and its cell definitions.
  int tables_ = 0;           // tables begun so far
  bool inTableRun_ = false;  // the last paragraph was a table's
  int row_ = 0;
  int column_ = 0;
  bool rowUsed_ = false;     // a paragraph of the current row was read
  std::vector<CellDefinition> rowCells_;
  int rowLeft_ = 0;          // \trleft
  bool borderSide_ = false;  // a \clbrdr side waits for its style
  bool cellBorders_ = false;
  // Lists: \listid -> the styles of its levels, and \ls -> \listid.
  std::map<int, std::vector<ListStyle>> listDefinitions_;
  std::vector<ListStyle> listDefinitionLevels_;
  int listDefinitionId_ = 0;
  std::map<int, int> listOverrides_;
  int overrideListId_ = 0;
  int overrideLs_ = 0;
  // The runs of the current paragraph's \listtext or \pntext.
  static constexpr size_t kNoMarker = SIZE_MAX;
  size_t markerBegin_ = 0;
  size_t markerEnd_ = kNoMarker;
  std::vector<FieldState> fields_;
  bool inPicture_ = false;
  PictureState picture_;
};

}  // namespace

ReadResult ReadRtf(std::string_view rtf, Document& out) {
  Parser parser(rtf);
  return parser.Parse(out);
}

}  // namespace qv::rtf
