#pragma once
// Character encodings RTF needs: the Windows ANSI code pages of \'hh escapes and UTF-8 of the
// document model.

#include <cstdint>
#include <string>
#include <string_view>

namespace qv::rtf {

inline constexpr int kDefaultCodepage = 1252;

// The code page of an RTF \fcharsetN, or 0 when the charset carries none of its own (ANSI,
// default, symbol, and the double-byte sets we do not decode): the document's code page applies.
int CodepageOfCharset(int charset);

// True for the code pages DecodeAnsiByte knows (1250 to 1258).
bool IsKnownCodepage(int codepage);

// The Unicode code point of one byte in a Windows code page; unknown code pages read as 1252.
char32_t DecodeAnsiByte(int codepage, uint8_t byte);

// The Windows-1252 byte of a code point, or -1 when 1252 has none.
int EncodeCp1252(char32_t cp);

// Appends the UTF-8 form of a code point (invalid ones as U+FFFD).
void AppendUtf8(std::string& out, char32_t cp);

// Decodes the code point at `pos` and advances `pos`; malformed bytes read as U+FFFD, one each.
char32_t NextUtf8(std::string_view text, size_t& pos);

}  // namespace qv::rtf
