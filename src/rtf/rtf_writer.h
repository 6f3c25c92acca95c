#pragma once
// Writes a Document as RTF 1.x that our reader and other word processors read back unchanged:
// font and colour tables, sizes, styles, alignment, indents, spacing, page breaks, merge fields
// as RTF fields, pictures as \pict PNG/JPEG, lists (\listtable, \ls and \ilvl, with the marker
// as \listtext for readers that do not number lists) and tables (\trowd, \cellx with borders,
// \intbl, \cell, \row).
//
// Text is written as 7-bit RTF: non-ASCII characters as \uN with a Windows-1252 fallback (or
// '?'), '\n' in run text as \line and '\t' as \tab. Empty text runs are not written. A page
// break before a paragraph is written as a \page at its start (AbiWord ignores \pagebb), except
// for the first paragraph, which gets \pagebb.

#include <string>
#include <string_view>

#include "rtf/rtf_document.h"

namespace qv::rtf {

// Font 0 of every document we write: what runs without a font name are shown in by readers
// that do not know our editor's default font.
inline constexpr std::string_view kDefaultFontName = "Arial";

// The MERGEFIELD names of the merge field kinds 1..5; other kinds are written as "QVFIELD<kind>".
std::string MergeFieldName(int kind);
// The kind of a MERGEFIELD name (case-insensitive), or 0 when it is none of ours.
int MergeFieldKind(std::string_view name);

std::string WriteRtf(const Document& doc);

}  // namespace qv::rtf
