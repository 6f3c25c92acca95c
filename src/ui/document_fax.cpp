#include "ui/document_fax.h"

#include <QImage>
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "core/exceptions.h"
#include "faximage/fax_converter.h"
#include "ui/page_renderer.h"

namespace qv::ui {

int WriteDocumentFax(const rtf::Document& doc, const std::string& outName,
                     const DocumentFaxOptions& options, int* pages) {
  PageRenderer renderer(doc, options.fieldValue);
  QImage page;
  int current = 1;
  int next = renderer.RenderPage(current, page);
  int row = 0;
  int written = 0;

  faximage::TQvCustomFaxConverter conv;
  conv.SetInputDocumentType(faximage::idUser);
  conv.SetOptions(options.yield ? faximage::TFaxCvtOptionsSet{faximage::coYield} : 0);
  conv.SetResolution(faximage::frHigh);
  conv.SetDocumentFile(outName);
  conv.SetOutFileName(outName);
  conv.SetStationID(options.stationId);
  const int rowBytes = kRenderPageWidth / 8;
  conv.OnReadUserLine = [&](faximage::TQvCustomFaxConverter*, uint8_t* data, int& len,
                            bool& endOfPage, bool& morePages) {
    if (row == kRenderPageHeight) {
      endOfPage = true;
      ++written;
      morePages = next != 0;
      if (next) {
        current = next;
        next = renderer.RenderPage(current, page);
        row = 0;
      }
      return;
    }
    std::memcpy(data, page.constScanLine(row), size_t(rowBytes));
    len = rowBytes;
    ++row;
  };
  int rc = 0;
  try {
    conv.ConvertToFile();
  } catch (...) {
    rc = core::ErrorCodeFromException(std::current_exception());
    if (rc == 0) rc = -1;
  }
  if (pages) *pages = rc == 0 ? written : 0;
  return rc;
}

namespace {
constexpr int kMaxBaseNumber = 1000;
std::string inDir(const std::string& dataDir, const std::string& name) {
  return (std::filesystem::path(dataDir) / name).string();
}
}  // namespace

std::string RenderBaseFileName(const std::string& dataDir) {
  for (int n = 1; n <= kMaxBaseNumber; ++n) {
    std::string name = inDir(dataDir, "QRV_" + std::to_string(n) + ".QVF");
    std::error_code ec;
    if (!std::filesystem::exists(name, ec)) return name;
  }
  return inDir(dataDir, "QRV1.QVF");
}

std::string RenderPageFileName(const std::string& dataDir, int k, const std::string& baseName) {
  if (k <= 1) return baseName;
  return inDir(dataDir, "QRVAX" + std::to_string(k) + ".QVF");
}

}  // namespace qv::ui
