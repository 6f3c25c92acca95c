#pragma once
// A rich text document as a QVF fax file: its pages drawn by the page renderer and coded by the
// fax converter (rows from memory, fine resolution), one fax page per rendered page. The desktop
// and the command-line tool both go through here, so both produce the same pages.

#include <QString>
#include <functional>
#include <string>

#include "rtf/rtf_document.h"

namespace qv::ui {

struct DocumentFaxOptions {
  std::function<QString(int kind)> fieldValue;  // merge field values (none: the placeholders)
  std::string stationId;                        // for the file header
  bool yield = false;                           // let pending messages run between pages
};

// Writes `outName`; returns 0 or a negative library code (then no file is left). `pages`
// receives the page count written.
int WriteDocumentFax(const rtf::Document& doc, const std::string& outName,
                     const DocumentFaxOptions& options = {}, int* pages = nullptr);

// Names of the page files a rendered fax is written to in the data directory: the first page
// of the whole fax goes to "QRV_n.QVF" for the smallest n from 1 to 1000 that is free ("QRV1.QVF"
// when none is), page k > 1 to "QRVAX<k>.QVF".
std::string RenderBaseFileName(const std::string& dataDir);
std::string RenderPageFileName(const std::string& dataDir, int k, const std::string& baseName);

}  // namespace qv::ui
