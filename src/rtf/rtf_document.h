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

struct Paragraph {
  ParaFormat format;
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
