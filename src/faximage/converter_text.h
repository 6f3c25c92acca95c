#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "faximage/converter.h"

namespace qv::faximage {

// The font file Fontconfig picks for the description (and the face index in it); empty when
// there is none.
std::string MatchFontFile(const TFaxFontSpec& wanted, int& index);

// Code points of a line: UTF-8 when the line is valid UTF-8, else Latin-1 bytes.
std::vector<uint32_t> CodePoints(const std::string& s);

// Reads a text file line by line in 4096-byte chunks. A line ends at CR (an LF right after it,
// even at the start of the next chunk, is skipped) or at a lone LF; a Ctrl-Z as the last byte of
// a chunk ends the text.
class TLineReader {
 public:
  static constexpr size_t kChunk = 4096;

  ~TLineReader();
  int Open(const std::string& fileName);  // 0 or a negated file-system code
  void Close();
  // Next line without its end; false at the end of the text.
  bool ReadLine(std::string& line, int& error, size_t maxLength);
  // True when no further line follows.
  bool AtEnd(int& error);
  int64_t BytesRead() const { return bytesRead_; }
  int64_t BytesTotal() const { return bytesTotal_; }

 private:
  bool fill(int& error);  // false at end of text

  std::FILE* file_ = nullptr;
  uint8_t buffer_[kChunk];
  size_t pos_ = 0;
  size_t len_ = 0;
  bool ended_ = false;   // Ctrl-Z or end of file reached
  bool skipLf_ = false;  // the last line ended with CR
  int64_t bytesRead_ = 0;
  int64_t bytesTotal_ = 0;
};

// Plain text drawn in the built-in font; the screen-font reader overrides the line width and
// the drawing.
class TextReader : public Reader {
 public:
  int OpenInput(ConverterState& state, const std::string& fileName) override;
  int GetRow(ConverterState& state, uint8_t* raster, int& len, bool& morePages,
             bool& endOfPage) override;
  void CloseInput(ConverterState& state) override;

 protected:
  // Characters that fit on a row; the screen-font reader does not cut lines.
  virtual size_t maxCharacters(const ConverterState& state) const;
  virtual int glyphRows(const ConverterState& state) const;
  // Draws glyph row `row` (1-based) of the current line into the raster.
  virtual int drawRow(ConverterState& state, int row, uint8_t* raster);
  // Called once per text line, before its first row.
  virtual int beginLine(ConverterState& state) { (void)state; return 0; }

  std::string line_;  // the line being drawn

 private:
  std::string expandTabs(const std::string& text, int tabStop) const;

  TLineReader lines_;
  int lineOnPage_ = 0;
  int glyphRow_ = 0;  // 0 = a new text line is needed
  std::string leftover_;
  bool hasLeftover_ = false;
  std::optional<std::string> carried_;  // line that opens the next page
};

class TextExReader : public TextReader {
 public:
  ~TextExReader() override;
  int SetFont(ConverterState& state, const TFaxFontSpec& font, bool fine);
  // For callers that draw single lines (the transmitter's header line): renders text unless
  // it is the line already rendered, then copies row `row` (1-based).
  int LineRow(ConverterState& state, const std::string& text, int row, uint8_t* raster);
  int RowsPerLine() const { return height_; }

 protected:
  size_t maxCharacters(const ConverterState& state) const override;
  int glyphRows(const ConverterState& state) const override { (void)state; return height_; }
  int drawRow(ConverterState& state, int row, uint8_t* raster) override;
  int beginLine(ConverterState& state) override;

 private:
  void* library_ = nullptr;  // FT_Library
  void* face_ = nullptr;     // FT_Face
  int width_ = 0;            // bitmap width, pixels
  int stride_ = 0;           // bytes per bitmap row
  int height_ = 0;           // rows per text line
  int ascent_ = 0;
  std::vector<uint8_t> bitmap_;  // 1 = black
  std::optional<std::string> rendered_;  // text now in bitmap_
};

}  // namespace qv::faximage
