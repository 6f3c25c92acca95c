#pragma once
// Conversion between the memo model (rtf::Document) and the toolkit's QTextDocument, shared by the
// editor (shown at screen resolution and zoom) and the page renderer (laid out at 200 dpi).
//
// Merge fields become one text span each, marked by char-format properties (kind, placeholder and
// an instance id so two adjacent fields of one kind stay two), shown red. Pictures become
// QTextImageFormat with the decoded image as a document resource and the encoded bytes kept in the
// format, so a picture goes back to the memo exactly as it came. List items become QTextList items
// (one list per list number and level, a deeper level's list begun again after each item of a
// lower one, as its numbers restart) and tables QTextTable, so that the editor and the rendered
// page show exactly what the memo holds; read back, both come out as the memo's lists and tables.

#include <QSizeF>
#include <QString>
#include <QTextFormat>
#include <functional>
#include <optional>

#include "rtf/rtf_document.h"

class QTextDocument;
class QTextCursor;
class QTextCharFormat;
class QTextBlockFormat;

namespace qv::ui {

// Char-format properties of our own.
enum RichProperty {
  kFieldKindProperty = QTextFormat::UserProperty + 1,
  kFieldPlaceholderProperty,
  kFieldIdProperty,
  kPictureDataProperty,
  kPictureFormatProperty,
  kPicturePixelWidthProperty,
  kPicturePixelHeightProperty,
  kPictureWidthTwipsProperty,
  kPictureHeightTwipsProperty,
  kFieldTextColorProperty,       // the field's own colour while it is shown red
  kLeadingPageBreakProperty,     // a page break kept on the first paragraph
  kListIdProperty,               // a QTextListFormat's list number in the memo
  kSpacerBlockProperty,          // the toolkit's block before or after a table, no paragraph of ours
};

// The colour merge fields are shown in while editing.
inline constexpr QRgb kMergeFieldColor = 0xFF0000;

// How lengths and sizes map onto the QTextDocument: pixels per inch of the drawing device, and the
// zoom factor applied to both lengths and font sizes (1.0 = 100 %).
struct RichScale {
  double dpi = 96.0;
  double zoom = 1.0;
  double PixelsFromTwips(int twips) const { return twips / 1440.0 * dpi * zoom; }
  int TwipsFromPixels(double px) const;
};

struct RichLoadOptions {
  RichScale scale;
  // Text drawn for one bit: no antialiasing, full hinting.
  bool forMonochrome = false;
  // Merge fields show these values (cut to the maximum length); an empty value shows the
  // placeholder unless emptyFieldsBlank is set (rendering for sending).
  std::function<QString(int kind)> fieldValue;
  bool emptyFieldsBlank = false;
  bool colorFields = true;   // fields shown red (the editor) or in their text colour (rendering)
  // When true, the document is laid out as pages of the page setup (margins in the root frame).
  bool paginate = true;
  // Pictures larger than this (document pixels) are shown scaled down to fit; empty: no limit.
  QSizeF maxPictureSize;
  // The toolkit measures pictures and vertical paragraph lengths (spacing, line height) in screen
  // pixels and scales them itself for a paint device of another resolution; this factor (screen
  // dpi / device dpi) undoes that for such a device.
  double pictureUnit = 1.0;
};

// Replaces the whole content of `out` (undo history cleared) with `doc`.
void LoadIntoTextDocument(const rtf::Document& doc, QTextDocument& out,
                          const RichLoadOptions& options);
// Inserts `doc`'s paragraphs at the cursor as one more edit of the document (undoable; fields get
// instance ids of their own). The first paragraph continues the cursor's block, taking its
// paragraph format only when that block is empty; the others follow as blocks of their own.
void InsertDocumentAt(QTextCursor& cursor, const rtf::Document& doc, const RichLoadOptions& options);
// Reads the content back. The page setup is not part of a QTextDocument; it is passed through.
// Pictures pasted from elsewhere are looked up among `resources`' images (default: `in`).
rtf::Document ReadTextDocument(const QTextDocument& in, const RichScale& scale,
                               const rtf::PageSetup& page, const QTextDocument* resources = nullptr);
// The selected part of the cursor's document, as the memo would hold it.
rtf::Document ReadSelection(const QTextCursor& cursor, const RichScale& scale,
                            const rtf::PageSetup& page);

// A merge field's place in the document: [start, end) character positions.
struct FieldSpan {
  int start = 0;
  int end = 0;
};
// The field whose text holds the character at `position`, if one does.
std::optional<FieldSpan> FieldSpanAt(const QTextDocument& doc, int position);

// Converts one format each way (sizes through the scale).
QTextCharFormat ToCharFormat(const rtf::CharFormat& f, const RichLoadOptions& options);
rtf::CharFormat FromCharFormat(const QTextCharFormat& f, const RichScale& scale);
// The first block never breaks before it (that would lay out an empty first page); its
// break is kept as a property so that it is stored again.
// verticalUnit: see RichLoadOptions::pictureUnit (spacing and line height only; the toolkit
// takes indents as they are).
QTextBlockFormat ToBlockFormat(const rtf::ParaFormat& p, const RichScale& scale,
                               bool firstBlock = false, double verticalUnit = 1.0);
rtf::ParaFormat FromBlockFormat(const QTextBlockFormat& b, const RichScale& scale);

// A merge field's value as handed out: at most kMaxMergeFieldLength characters.
QString CutFieldValue(const QString& value);

// Inserts a merge field at the cursor (replacing its selection).
void InsertMergeFieldAt(QTextCursor& cursor, int kind, const QString& placeholder,
                        const RichLoadOptions& options);

// Inserts a picture at the cursor, shown no larger than the options allow.
void InsertPictureAt(QTextCursor& cursor, const rtf::Picture& picture,
                     const RichLoadOptions& options);

// Rewrites the shown text of every merge field from the values (or placeholders); returns the
// number of fields. Leaves the undo history as it was.
int RefreshMergeFields(QTextDocument& doc, const RichLoadOptions& options);

// Page geometry of a page setup in the document's pixels, applied to the document.
void ApplyPageSetup(QTextDocument& doc, const rtf::PageSetup& page, const RichScale& scale);

}  // namespace qv::ui
