#pragma once
// The rich text document that memos carry as RTF. The desktop editor converts it to and from its
// toolkit document; the RTF reader and writer work on it alone, so both run without a display.
// All lengths are twips (1/1440 inch); text is UTF-8.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv::rtf {

enum class VerticalAlign { Normal, Subscript, Superscript };
enum class Alignment { Left, Center, Right, Justify };

struct CharFormat {
  std::string fontName;          // empty: the document's default font
  int halfPoints = 24;           // font size in half points (RTF \fs)
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  VerticalAlign verticalAlign = VerticalAlign::Normal;
  std::optional<uint32_t> color; // 0xRRGGBB; none: automatic (black)
  bool operator==(const CharFormat&) const = default;
};

struct ParaFormat {
  Alignment alignment = Alignment::Left;
  int firstIndent = 0;           // first line, relative to leftIndent (RTF \fi)
  int leftIndent = 0;
  int rightIndent = 0;
  int spaceBefore = 0;
  int spaceAfter = 0;
  int lineHeight = 0;            // 0: single spacing; > 0: at least this much (RTF \sl)
  bool pageBreakBefore = false;  // the paragraph begins on a new page
  bool operator==(const ParaFormat&) const = default;
};

enum class PictureFormat { Png, Jpeg };

struct Picture {
  PictureFormat format = PictureFormat::Png;
  std::vector<uint8_t> data;     // the encoded image, as stored
  int pixelWidth = 0;            // RTF \picw / \pich (the image's own size)
  int pixelHeight = 0;
  int widthTwips = 0;            // shown size (RTF \picwgoal / \pichgoal); 0: from the pixels at 96 dpi
  int heightTwips = 0;
  bool operator==(const Picture&) const = default;
};

// A merge field: filled with a value when the text is shown, printed or rendered.
struct MergeField {
  int kind = 0;                  // 1 recipient, 2 fax number, 3 subject, 4 date, 5 time
  std::string placeholder;       // shown while there is no value, e.g. "[RECIPIENT]"
  bool operator==(const MergeField&) const = default;
};

struct Run {
  enum class Kind { Text, Field, Picture };
  Kind kind = Kind::Text;
  CharFormat format;
  std::string text;              // Kind::Text; '\n' is a line break within the paragraph, '\t' a tab
  MergeField field;              // Kind::Field
  Picture picture;               // Kind::Picture
  bool operator==(const Run&) const = default;
};

enum class ListStyle { None, Bullet, Decimal, LowerAlpha, UpperAlpha, LowerRoman, UpperRoman };

// Each list level indents its items' text by this much more; the bullet or number hangs in the
// indent. A list item's ParaFormat indents come on top of it.
inline constexpr int kListIndentTwips = 360;
inline constexpr int kMaxListLevel = 8;  // levels 0..8, as word processors offer

// A paragraph's place in a bulleted or numbered list. Numbers count the items of one list at one
// level, from 1; an item of a lower level starts the deeper levels' counts again.
struct ListItem {
  ListStyle style = ListStyle::None;  // None: the paragraph is no list item
  int list = 0;                       // items of one list share this number
  int level = 0;                      // 0 = outermost, up to kMaxListLevel
  bool operator==(const ListItem&) const = default;
};

inline constexpr int kMaxTableColumns = 64;
inline constexpr int kMaxCellWidthTwips = 31680;  // 22 inches

// A paragraph's place in a table. Consecutive paragraphs of one table number form one table;
// each cell holds one or more paragraphs, in the order of rows and then columns.
struct TableCell {
  int table = 0;       // 0: not in a table
  int row = 0;
  int column = 0;      // below kMaxTableColumns
  int width = 0;       // the cell's width in twips, up to kMaxCellWidthTwips; 0: an even share of
                       // the text width
  bool borders = true; // the table is drawn with cell borders
  bool operator==(const TableCell&) const = default;
};

struct Paragraph {
  ParaFormat format;
  ListItem list;
  TableCell cell;
  std::vector<Run> runs;
  bool operator==(const Paragraph&) const = default;
};

struct PageSetup {
  int paperWidth = 12240;        // 8.5 inch
  int paperHeight = 15840;       // 11 inch
  int marginLeft = 720;
  int marginTop = 720;
  int marginRight = 720;
  int marginBottom = 720;
  bool operator==(const PageSetup&) const = default;
};

struct Document {
  PageSetup page;
  std::vector<Paragraph> paragraphs;
  bool operator==(const Document&) const = default;
  // True when the document has no text, field or picture at all.
  bool IsEmpty() const;
  // The plain text, paragraphs separated by '\n', fields as their placeholders.
  std::string PlainText() const;
};

}  // namespace qv::rtf
