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

}  // namespace qv::ui
