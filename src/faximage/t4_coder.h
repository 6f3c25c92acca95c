#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace qv::faximage {

struct ConverterState;
struct PageBitmap;

// An all-white 1728-pixel row: aligned EOL, white make-up 1728, white terminating 0, fill.
inline constexpr std::array<uint8_t, 6> kBlankCodedRow = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
// Aligned EOL, six more EOLs and eight 0 bits: seven EOLs in a row end the page.
inline constexpr std::array<uint8_t, 12> kEndOfPageCode = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00,
                                                           0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
// Longest coded row CodeRow can produce for 2048-pixel rows, with slack for its 8-byte stores.
inline constexpr int kMaxCodedRow = 1600;

// Codes one raster row (1 = black, leftmost pixel in the high bit; (width + 7) / 8 bytes) as
// the aligned EOL followed by its runs: `leftMargin` white pixels, then the row's pixels, each
// doubled with doubleWidth, cut or white-filled so the runs add up to `width`. Returns the
// coded length: the bytes filled by codes, the partly filled byte and one zero byte.
// `out` must hold kMaxCodedRow bytes.
int CodeRow(const uint8_t* raster, int width, int leftMargin, bool doubleWidth, uint8_t* out);

// Codes a row into state.CodedRow with the state's width, margin and DoubleWidth; the coded
// length is state.ByteOfs afterwards.
void CompressRow(ConverterState& state, const uint8_t* raster);

// Writes the 12-byte end-of-page code and sets length to 12.
void MakeEndOfPage(ConverterState& state, uint8_t* buffer, int& length);

// ORs glyph row `glyphRow` (1-based) of every character of text into the raster row, character
// i at pixel i x glyph width; characters beyond the row width are left out. Returns the number
// of raster bytes touched.
int RasterizeTextRow(ConverterState& state, std::string_view text, int glyphRow, uint8_t* raster);

// A whole page (rows 1 = black) as clean MH data for the picture-file exports: every row an
// aligned EOL and its runs at the page width, no resampling; with endOfPage the six EOLs that end
// a page follow. Bits least significant first, as stored in QVF files.
std::vector<uint8_t> CodePageRows(const PageBitmap& page, bool endOfPage);

}  // namespace qv::faximage
