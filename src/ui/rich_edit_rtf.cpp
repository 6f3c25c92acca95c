// The editor's RTF entry points, apart from the widget so that code using only the widget does
// not pull in the RTF reader and writer.
#include "rtf/rtf_reader.h"
#include "rtf/rtf_writer.h"
#include "ui/rich_edit.h"

namespace qv::ui {

bool TQvRichEdit::LoadRtf(std::string_view rtf, std::string* error) {
  rtf::Document doc;
  doc.page = PageSetup();
  rtf::ReadResult r = rtf::ReadRtf(rtf, doc);
  if (!r) {
    if (error) *error = r.message;
    return false;  // the shown content stays as it was
  }
  SetDocument(doc);
  ShowSkippedPictures(r.skippedPictures);
  return true;
}

std::string TQvRichEdit::SaveRtf() const { return rtf::WriteRtf(ToDocument()); }

}  // namespace qv::ui
