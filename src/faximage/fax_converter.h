#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "faximage/converter.h"
#include "faximage/converter_types.h"

namespace qv::faximage {

// The converter component: settings as properties with their stored defaults, one conversion
// per ConvertToFile, failures raised as the exception of their code.
class TQvCustomFaxConverter {
 public:
  using TFaxStatusEvent =
      std::function<void(TQvCustomFaxConverter* sender, bool starting, bool ending,
                         int pagesConverted, int linesConverted, int64_t bytesConverted,
                         int64_t bytesToConvert, bool& abort)>;
  using TFaxOutputLineEvent = std::function<void(TQvCustomFaxConverter* sender, const uint8_t* data,
                                                 int len, bool endOfPage, bool morePages)>;
  using TFaxOpenFileEvent = std::function<void(TQvCustomFaxConverter* sender, const std::string& fName)>;
  using TFaxCloseFileEvent = std::function<void(TQvCustomFaxConverter* sender)>;
  using TFaxReadLineEvent = std::function<void(TQvCustomFaxConverter* sender, uint8_t* data, int& len,
                                               bool& endOfPage, bool& morePages)>;

  TQvCustomFaxConverter() = default;
  virtual ~TQvCustomFaxConverter() = default;

  // Converts DocumentFile of kind InputDocumentType into OutFileName; raises on failure (the
  // output file is then gone).
  void ConvertToFile();

  TFaxInputDocumentType InputDocumentType() const { return inputDocumentType_; }
  void SetInputDocumentType(TFaxInputDocumentType v) { inputDocumentType_ = v; }
  // A set holding coYieldOften also gets coYield.
  TFaxCvtOptionsSet Options() const { return options_; }
  void SetOptions(TFaxCvtOptionsSet v) { options_ = (v & coYieldOften) ? (v | coYield) : v; }
  TFaxResolution Resolution() const { return resolution_; }
  void SetResolution(TFaxResolution v) { resolution_ = v; }
  TFaxWidth Width() const { return width_; }
  void SetWidth(TFaxWidth v) { width_ = v; }
  int TopMargin() const { return topMargin_; }
  void SetTopMargin(int v) { topMargin_ = v < 0 ? 0 : v; }
  int LeftMargin() const { return leftMargin_; }
  void SetLeftMargin(int v) { leftMargin_ = v < 0 ? 0 : v; }
  int LinesPerPage() const { return linesPerPage_; }
  void SetLinesPerPage(int v) { linesPerPage_ = v < 0 ? 0 : v; }
  int TabStop() const { return tabStop_; }
  void SetTabStop(int v) { tabStop_ = v; }
  const TFaxFontSpec& EnhFont() const { return enhFont_; }
  void SetEnhFont(const TFaxFontSpec& v) { enhFont_ = v; }
  const std::string& FontFile() const { return fontFile_; }  // glyphs always come built in
  void SetFontFile(const std::string& v) { fontFile_ = v; }
  TFaxFont FontType() const { return fontType_; }
  void SetFontType(TFaxFont v) { fontType_ = v; }
  const std::string& DocumentFile() const { return documentFile_; }
  // Also sets OutFileName: the same name with extension ".QVF".
  void SetDocumentFile(const std::string& v);
  const std::string& OutFileName() const { return outFileName_; }
  void SetOutFileName(const std::string& v) { outFileName_ = v; }
  const std::string& DefUserExtension() const { return defUserExtension_; }
  void SetDefUserExtension(const std::string& v) { defUserExtension_ = v; }
  const std::string& StationID() const { return stationId_; }
  void SetStationID(const std::string& v) { stationId_ = v; }

  TFaxStatusEvent OnStatus;
  TFaxOutputLineEvent OnOutputLine;  // not raised by conversion to a file
  TFaxOpenFileEvent OnOpenUserFile;
  TFaxCloseFileEvent OnCloseUserFile;
  TFaxReadLineEvent OnReadUserLine;

 private:
  TFaxInputDocumentType inputDocumentType_ = idNone;
  TFaxCvtOptionsSet options_ = kDefaultCvtOptions;
  TFaxResolution resolution_ = frNormal;
  TFaxWidth width_ = fwNormal;
  int topMargin_ = 0;
  int leftMargin_ = 50;
  int linesPerPage_ = 60;
  int tabStop_ = 4;
  TFaxFontSpec enhFont_;
  std::string fontFile_ = "QVFAX.FNT";
  TFaxFont fontType_ = ffStandard;
  std::string documentFile_;
  std::string outFileName_;
  std::string defUserExtension_;
  std::string stationId_;
  std::unique_ptr<ConverterState> state_;
};

class TQvFaxConverter : public TQvCustomFaxConverter {};

}  // namespace qv::faximage
