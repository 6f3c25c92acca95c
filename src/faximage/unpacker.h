#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "faximage/unpacker_bitmap.h"
#include "faximage/unpacker_state.h"

namespace qv::faximage {

// TUnpackerOptions as bits of TUnpackerOptionsSet.
enum TUnpackerOptions : uint32_t { uoYield = 1, uoAbort = 2 };
using TUnpackerOptionsSet = uint32_t;

enum TAutoScaleMode { asNone, asDoubleHeight, asHalfWidth };

class TQvCustomFaxUnpacker;

using TUnpackOutputLineEvent = std::function<void(TQvCustomFaxUnpacker* Sender, bool Starting, bool Ending,
                                                  const uint8_t* Data, int Len, int PageNum)>;
using TUnpackStatusEvent = std::function<void(TQvCustomFaxUnpacker* Sender, const std::string& FName,
                                              int PageNum, int64_t BytesUnpacked, int64_t BytesToUnpack)>;

// Decodes pages of a QVF file into bitmaps and picture files. Every operation builds a fresh
// unpack state from the properties; a negative result is raised as the exception of its code.
class TQvCustomFaxUnpacker {
 public:
  TQvCustomFaxUnpacker() = default;
  virtual ~TQvCustomFaxUnpacker() = default;
  TQvCustomFaxUnpacker(const TQvCustomFaxUnpacker&) = delete;
  TQvCustomFaxUnpacker& operator=(const TQvCustomFaxUnpacker&) = delete;

  TUnpackerOptionsSet Options() const { return options_; }
  // Setting uoAbort while an operation runs (from a status handler or a message handled while
  // yielding) stops its decoding.
  void SetOptions(TUnpackerOptionsSet options);

  bool WhitespaceCompression() const { return whitespaceCompression_; }
  void SetWhitespaceCompression(bool on) { whitespaceCompression_ = on; }
  int WhitespaceFrom() const { return whitespaceFrom_; }
  void SetWhitespaceFrom(int rows) { whitespaceFrom_ = rows; }
  int WhitespaceTo() const { return whitespaceTo_; }
  void SetWhitespaceTo(int rows) { whitespaceTo_ = rows; }

  bool Scaling() const { return scaling_; }
  void SetScaling(bool on) { scaling_ = on; }
  // Assigning 0 to a factor is ignored.
  int HorizMult() const { return horizMult_; }
  void SetHorizMult(int v) { if (v != 0) horizMult_ = v; }
  int HorizDiv() const { return horizDiv_; }
  void SetHorizDiv(int v) { if (v != 0) horizDiv_ = v; }
  int VertMult() const { return vertMult_; }
  void SetVertMult(int v) { if (v != 0) vertMult_ = v; }
  int VertDiv() const { return vertDiv_; }
  void SetVertDiv(int v) { if (v != 0) vertDiv_ = v; }

  TAutoScaleMode AutoScaleMode() const { return autoScaleMode_; }
  void SetAutoScaleMode(TAutoScaleMode mode) { autoScaleMode_ = mode; }

  const std::string& InFileName() const { return inFileName_; }
  // A name that differs (ignoring case) also sets OutFileName to the same name without extension.
  void SetInFileName(const std::string& name);
  const std::string& OutFileName() const { return outFileName_; }
  void SetOutFileName(const std::string& name) { outFileName_ = name; }

  // Marks and rotation the full-width picture exports (PBM, PNG) and the PDF and TIFF documents
  // draw; nullptr (the default) exports the fax's own pixels.
  const std::shared_ptr<const FaxMarks>& Marks() const { return marks_; }
  void SetMarks(std::shared_ptr<const FaxMarks> marks) { marks_ = std::move(marks); }

  TUnpackOutputLineEvent OnOutputLine;  // kept for callers that set it; the operations do not raise it
  TUnpackStatusEvent OnStatus;

  // PageCount of InFileName; 0 when the header cannot be read.
  int NumPages();
  // 1 when page 1 is fine resolution / 2048 pixels wide, else 0 (also when it cannot be read).
  int FaxResolution();
  int FaxWidth();

  // The page as a display bitmap (1 = white), cut at its rightmost black pixel.
  PageBitmap UnpackPageToBitmap(int page);
  void UnpackPageToPcx(int page);
  void UnpackPageToDcx(int page);
  void UnpackPageToBmp(int page);
  // Beyond the classic exports: full-width PBM and PNG pictures.
  void UnpackPageToPbm(int page);
  void UnpackPageToPng(int page);
  // Every page as one document, at the coded size whatever the scale settings: PDF (CCITT image
  // per page) or multi-page TIFF Class F.
  void UnpackFileToPdf();
  void UnpackFileToTiff();

  // The picture file an export writes: OutFileName, given the extension when it has none, or
  // InFileName with its extension replaced when OutFileName is empty.
  std::string ExportFileName(const std::string& extension) const;

  // The unpack state of the last operation (rows delivered, bad codes, page flags).
  const UnpackerState* State() const { return state_.get(); }

 private:
  UnpackerState& rebuildState();
  int pageFlags(int page);
  template <class Op>
  void run(Op op);

  TUnpackerOptionsSet options_ = uoYield;
  bool whitespaceCompression_ = false;
  int whitespaceFrom_ = 0;
  int whitespaceTo_ = 0;
  bool scaling_ = false;
  int horizMult_ = 1, horizDiv_ = 1, vertMult_ = 1, vertDiv_ = 1;
  TAutoScaleMode autoScaleMode_ = asDoubleHeight;
  std::string inFileName_;
  std::string outFileName_;
  std::unique_ptr<UnpackerState> state_;
  std::shared_ptr<const FaxMarks> marks_;
  bool running_ = false;
};

class TQvFaxUnpacker : public TQvCustomFaxUnpacker {};

}  // namespace qv::faximage
