#pragma once

#include <string>
#include <vector>

#include "core/exceptions.h"
#include "faximage/fax_converter.h"
#include "qvf_pages.h"

namespace qv::faximage::testing {

// Converts a picture file with the given settings; returns the error code (0 on success) and
// the decoded pages.
inline int ConvertPicture(const TempDir& dir, const std::string& name,
                          const std::vector<uint8_t>& bytes, TFaxInputDocumentType type,
                          std::vector<DecodedPage>& pages, TFaxCvtOptionsSet options = 0,
                          int margin = 0, TFaxResolution res = frNormal, TFaxWidth width = fwNormal) {
  WriteAll(dir.file(name), bytes);
  TQvFaxConverter c;
  c.SetInputDocumentType(type);
  c.SetOptions(options);
  c.SetLeftMargin(margin);
  c.SetResolution(res);
  c.SetWidth(width);
  c.SetDocumentFile(dir.file(name));
  pages.clear();
  try {
    c.ConvertToFile();
  } catch (const std::exception& e) {
    return qv::core::ErrorCodeFromException(e);
  }
  pages = ReadQvfPages(c.OutFileName());
  return 0;
}

}  // namespace qv::faximage::testing
