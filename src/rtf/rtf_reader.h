#pragma once
// Reads RTF as common word processors write it into a Document. Hostile input (unbalanced
// braces, deep nesting, huge pictures, bad hex) gives an error and an untouched output document.
//
// How RTF maps onto the model:
// - \line is '\n' and \tab is '\t' inside run text; \par ends a paragraph.
// - \page and \pagebb both make the next paragraph begin on a new page (pageBreakBefore); so
//   does a section break (\sect) unless the next section is continuous (\sbknone).
// - Runs in the default font (\deff) have an empty font name.
// - The page setup is the document's (\paperw, \margl, ...), overridden by its first section's.
// - Tables (\trowd ... \cellx, \intbl, \cell, \row) become paragraphs with their TableCell:
//   row, column, the column's width from \cellx and whether the cells have borders. A table
//   inside a cell keeps its text in the outer cell, a row as a paragraph of tab-separated cells.
// - Lists: \ls and \ilvl through the list and list override tables (\levelnfc gives the style),
//   or the older {\*\pn ...}, make the paragraph a list item; the list's own indent is taken out
//   of the paragraph's (kListIndentTwips per level, the marker hanging). The marker text
//   (\listtext, \pntext) is the writer's rendering and is skipped.
// - A field result is read with or without \* before \fldrslt (AbiWord writes it so).
// - \upN and \dnN (N > 0) are superscript and subscript, \up0 and \dn0 the base line.
// - {\field} with a MERGEFIELD of ours (see MergeFieldKind) becomes a merge field whose
//   placeholder is the field result; other fields keep their result as text.
// - PNG and JPEG pictures are kept; other kinds are dropped and counted in skippedPictures (the
//   editor tells the user how many).
// - Hidden text (\v), headers, footers, footnotes, style sheets, document
//   information and every unknown \* destination are skipped.
// - \sl with \slmult1 (multiples of a line) becomes an "at least" height of that many lines of
//   the paragraph's largest font (up to 1.15 lines: single spacing, 0); an exact (negative) \sl
//   becomes an "at least" one of the same size.
// - Adjacent text runs of the same format are merged; empty ones are dropped.
// - Empty input (nothing but white space) is an empty document, as an empty memo is.

#include <cstddef>
#include <string>
#include <string_view>

#include "rtf/rtf_document.h"

namespace qv::rtf {

struct ReadResult {
  int code = 0;                  // 0, or a negative core error code
  std::string message;           // what was wrong, for the user
  int skippedPictures = 0;       // pictures in kinds we do not keep, left out of the document
  explicit operator bool() const { return code == 0; }
};

// Limits that keep a damaged or hostile memo from exhausting the machine.
inline constexpr int kMaxGroupDepth = 1000;
inline constexpr size_t kMaxPictureBytes = 32u * 1024 * 1024;
// Paragraphs and runs together: a 50-page fax has a few thousand; this many cost some 50 MB.
inline constexpr size_t kMaxDocumentParts = 250'000;

// On failure `out` is left as it was.
ReadResult ReadRtf(std::string_view rtf, Document& out);

}  // namespace qv::rtf
