#pragma once

#include <functional>
#include <memory>
#include <string>

#include "faximage/converter_state.h"
#include "faximage/converter_types.h"

namespace qv::faximage {

// A screen font for idTextEx: family (a Fontconfig name), size in points, bold/italic.
struct TFaxFontSpec {
  std::string Name = "Sans";
  int Size = 10;
  bool Bold = false;
  bool Italic = false;

  // Reads "Family[-Size][:bold][:italic]" (Fontconfig's name form); false when it is malformed.
  static bool Parse(const std::string& text, TFaxFontSpec& out);
};

// Callbacks of the idUser reader.
struct UserRowSource {
  std::function<void(const std::string& fileName)> Open;
  // Fills data (a cleared raster row) and may set len, endOfPage, morePages.
  std::function<void(uint8_t* data, int& len, bool& endOfPage, bool& morePages)> ReadLine;
  std::function<void()> Close;
};

// Readers, one per input kind.
std::unique_ptr<Reader> MakeTextReader();
std::unique_ptr<Reader> MakeTextExReader();
std::unique_ptr<Reader> MakeBmpReader();
std::unique_ptr<Reader> MakeTiffReader();
std::unique_ptr<Reader> MakePcxReader();
std::unique_ptr<Reader> MakeDcxReader();
std::unique_ptr<Reader> MakeUserReader(UserRowSource source);

// A conversion state with the reader for the input kind and its default input extension;
// nullptr for idNone and idBitmap.
std::unique_ptr<ConverterState> CreateConverterState(TFaxInputDocumentType type,
                                                      UserRowSource userSource = {},
                                                      const std::string& defUserExtension = "");
// The plain-text and screen-font converters the transmitter uses for its header line.
std::unique_ptr<ConverterState> CreateTextConverter();
std::unique_ptr<ConverterState> CreateEnhancedTextConverter();
inline void FreeTextConverter(std::unique_ptr<ConverterState>& state) { state.reset(); }

// Prepares the screen font of idTextEx: font size doubled for fine rows, the line bitmap
// ResWidth - LeftMargin pixels wide and one text line tall. -8055 when that bitmap would exceed
// 65536 bytes, -8052 when no font file matches.
int SetEnhancedFont(ConverterState& state, const TFaxFontSpec& font, bool fine);

// Single lines in the screen font (after SetEnhancedFont): rows per text line, and row `row`
// (1-based) of text drawn into a raster row (at standard resolution widened, as the reader does).
int EnhancedTextRowCount(const ConverterState& state);
int RasterizeEnhancedTextRow(ConverterState& state, const std::string& text, int row,
                             uint8_t* raster);

// Reader helpers shared by the image readers.
// Decides DoubleWidth, HalfHeight and CenterOffset for an image of the given pixel width.
void DecidePlacement(ConverterState& state, int imageWidth);
// Lets pending messages run (when coYield is set); ecGotQuitMsg when the quit message arrived.
int YieldToMessages(ConverterState& state);

// The output name for an input: its directory and base name with extension ".QVF".
std::string DefaultOutputName(const std::string& inputName);
// name with "." + ext added when its last path component has no extension.
std::string WithDefaultExtension(const std::string& name, const std::string& ext);

// Runs a whole conversion: creates outName, converts inName page by page, closes the output
// (station identifier from the state) or deletes it on any failure. Returns 0 or the code.
int ConvertToQvf(ConverterState& state, const std::string& inName, const std::string& outName);

}  // namespace qv::faximage
