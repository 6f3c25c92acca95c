#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "faximage/qvf_file.h"
#include "faximage/t4_decoder.h"

namespace qv::faximage {

// UnpackFlags bits.
inline constexpr uint32_t kUnpackYield = 1;
inline constexpr uint32_t kUnpackDoubleHeight = 2;  // standard-resolution rows passed twice
inline constexpr uint32_t kUnpackHalfWidth = 4;     // standard-resolution rows halved in width
inline constexpr uint32_t kUnpackAbort = 8;

struct UnpackerState;
struct FaxMarks;
class MarkRasterizer;

// Receives the rows of one page as the unpacker delivers them (after white-space compression,
// inversion and auto-scaling). A row of length 0 stands for a blank row. Each call returns 0 or a
// negative error code, which stops the unpacking.
class UnpackRowSink {
 public:
  virtual ~UnpackRowSink() = default;
  virtual int startPage(const UnpackerState& state) = 0;
  virtual int row(std::span<const uint8_t> row) = 0;
  virtual int endPage(const UnpackerState& state) = 0;
};

// Progress: file name, page, bytes unpacked, bytes to unpack.
using UnpackStatusSink = std::function<void(const std::string& fileName, int page,
                                            int64_t bytesUnpacked, int64_t bytesToUnpack)>;

// The state of one unpacking engine: settings, decoder and what was read from the file.
struct UnpackerState {
  uint32_t UnpackFlags = 0;
  int WhitespaceFrom = 0;
  int WhitespaceTo = 0;
  int BlankRun = 0;
  int HorizMult = 1, HorizDiv = 1, VertMult = 1, VertDiv = 1;
  int CurrentPage = 0;
  uint32_t RowsOut = 0;
  uint32_t BadCodes = 0;
  int32_t ImageLength = 0;
  int64_t BytesReadSoFar = 0;
  QvfFileHeader FaxHeader;  // as read from the file
  QvfPageHeader PageHeader;
  bool Invert = false;     // rows handed to the sink with 1 = white
  UnpackStatusSink StatusSink;
  // Marks and page rotation the full-width and document exports draw (none when empty).
  std::shared_ptr<const FaxMarks> Marks;
  std::shared_ptr<MarkRasterizer> MarkDrawer;
  T4Decoder Decoder;

  // Auto-scale flag: 0, kUnpackDoubleHeight or kUnpackHalfWidth. Setting one clears the other;
  // asking for both at once is ignored.
  void setAutoScale(uint32_t flag);
  // Factors of 0 are read as 1.
  void setScale(int horizMult, int horizDiv, int vertMult, int vertDiv);
  // From = To = 0 turns compression off; From < To, or From 0 with To not 0, is -1002.
  int setWhitespace(int from, int to);
  bool whitespaceOn() const { return WhitespaceFrom != 0 && WhitespaceTo != 0; }
  bool scaled() const { return HorizMult != HorizDiv || VertMult != VertDiv; }
};

// Decodes page `page` (1-based) of a QVF file into the sink. Returns 0 or a negative code: -2 for
// an empty or missing file name, other negated file-system codes, -8001 for a bad signature, a
// page above the page count, a negative page length or a raw page without data, -1003 when the
// quit message arrived while yielding, or the sink's own error. Corrupt coded data is never an
// error.
int UnpackPage(UnpackerState& state, const std::string& fileName, int page, UnpackRowSink& sink);

}  // namespace qv::faximage
