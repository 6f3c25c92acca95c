#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "faximage/converter_types.h"
#include "faximage/fax_font.h"
#include "faximage/qvf_writer.h"

namespace qv::faximage {

struct ConverterState;

// One input kind: open, deliver raster rows (1 = black) or end-of-page, close.
class Reader {
 public:
  virtual ~Reader() = default;
  virtual int OpenInput(ConverterState& state, const std::string& fileName) = 0;
  // Fills the cleared raster row, or sets endOfPage (then morePages tells whether another page
  // follows). len = bytes of the row that carry the image.
  virtual int GetRow(ConverterState& state, uint8_t* raster, int& len, bool& morePages,
                     bool& endOfPage) = 0;
  virtual void CloseInput(ConverterState& state) = 0;
};

// Progress report: the handler may set abort to stop the conversion.
struct ConverterStatus {
  bool Starting = false;
  bool Ending = false;
  int PagesConverted = 0;
  int LinesConverted = 0;
  int64_t BytesConverted = 0;
  int64_t BytesToConvert = 0;
};
using ConverterStatusFn = std::function<void(const ConverterStatus&, bool& abort)>;

inline constexpr int kCodedRowSize = 4096;
inline constexpr int kRasterRowSize = 4096;

// Everything one conversion needs; created per conversion (or by the transmitter for its header
// line) and owned by whoever runs it.
struct ConverterState {
  void* Owner = nullptr;
  bool UseHighRes = false;
  bool DoubleWidth = false;  // decided by the reader
  bool HalfHeight = false;   // decided by the reader
  TFaxCvtOptionsSet Flags = 0;
  int ByteOfs = 0;  // coded length of the last CompressRow
  int BitOfs = 0;
  int ResWidth = 1728;
  int LeftMargin = 0;
  int TopMargin = 0;
  int CurrentPage = 0;
  int CurrentLine = 0;
  int CenterOffset = 0;  // bytes of white before image rows (decided by the reader)
  int64_t BytesRead = 0;
  int64_t BytesTotal = 0;
  int TabStop = 4;
  int LinesPerPage = 60;
  std::array<uint8_t, kCodedRowSize> CodedRow{};
  std::array<uint8_t, kRasterRowSize> RasterRow{};
  FaxFont Font;
  std::unique_ptr<Reader> ReaderData;
  ConverterStatusFn Status;
  std::string DefaultExt;
  std::string InFileName;
  std::string OutFileName;
  std::string StationId;
  QvfWriter OutFile;
};

}  // namespace qv::faximage
