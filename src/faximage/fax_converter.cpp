#include "faximage/fax_converter.h"

#include <filesystem>

#include "core/error_codes.h"
#include "core/exceptions.h"
#include "faximage/raster.h"

namespace qv::faximage {

void TQvCustomFaxConverter::SetDocumentFile(const std::string& v) {
  documentFile_ = v;
  outFileName_ = v.empty() ? std::string() : DefaultOutputName(v);
}

void TQvCustomFaxConverter::ConvertToFile() {
  if (inputDocumentType_ == idNone || inputDocumentType_ == idBitmap)
    qv::core::RaiseError(qv::core::ecBadArgument);
  state_.reset();
  UserRowSource user;
  user.Open = [this](const std::string& name) {
    if (OnOpenUserFile) OnOpenUserFile(this, name);
  };
  if (OnReadUserLine)
    user.ReadLine = [this](uint8_t* data, int& len, bool& eop, bool& more) {
      OnReadUserLine(this, data, len, eop, more);
    };
  user.Close = [this] {
    if (OnCloseUserFile) OnCloseUserFile(this);
  };
  state_ = CreateConverterState(inputDocumentType_, std::move(user), defUserExtension_);
  ConverterState& s = *state_;
  s.Owner = this;
  s.Flags = options_;
  s.LeftMargin = leftMargin_;
  s.TopMargin = topMargin_;
  s.UseHighRes = resolution_ == frHigh;
  s.ResWidth = width_ == fwWide ? kWideWidth : kStandardWidth;
  s.StationId = stationId_.substr(0, 20);
  s.Status = [this](const ConverterStatus& st, bool& abort) {
    if (OnStatus)
      OnStatus(this, st.Starting, st.Ending, st.PagesConverted, st.LinesConverted,
               st.BytesConverted, st.BytesToConvert, abort);
  };
  if (inputDocumentType_ == idText || inputDocumentType_ == idTextEx) {
    if (tabStop_ != 0) s.TabStop = tabStop_;
    s.LinesPerPage = linesPerPage_;
  }
  if (inputDocumentType_ == idText)
    qv::core::RaiseOnError(LoadFaxFont(s, fontType_ == ffSmall ? 16 : 48, s.UseHighRes));
  if (inputDocumentType_ == idTextEx)
    qv::core::RaiseOnError(SetEnhancedFont(s, enhFont_, s.UseHighRes));

  std::string out = outFileName_;
  if (out.empty())
    out = DefaultOutputName(documentFile_);
  else
    out = WithDefaultExtension(out, "QVF");
  std::string in = WithDefaultExtension(documentFile_, s.DefaultExt);
  qv::core::RaiseOnError(ConvertToQvf(s, in, out));
}

}  // namespace qv::faximage
