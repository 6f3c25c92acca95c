#include "ui/document_fax.h"

#include <QImage>
#include <algorithm>
#include <cstring>

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
  conv.SetOptions(options.yield ? faximage::coYield : 0);
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

}  // namespace qv::ui
