#include "rtf/rtf_document.h"

namespace qv::rtf {

bool Document::IsEmpty() const {
  for (const Paragraph& p : paragraphs)
    for (const Run& r : p.runs)
      if (r.kind != Run::Kind::Text || !r.text.empty()) return false;
  return true;
}

std::string Document::PlainText() const {
  std::string out;
  for (size_t i = 0; i < paragraphs.size(); ++i) {
    if (i > 0) out += '\n';
    for (const Run& r : paragraphs[i].runs) {
      if (r.kind == Run::Kind::Text) out += r.text;
      else if (r.kind == Run::Kind::Field) out += r.field.placeholder;
    }
  }
  return out;
}

}  // namespace qv::rtf
