#include "fax/fax_status.h"

#include "core/string_table.h"
#include "fax/abstract_fax.h"

namespace qv::fax {

std::string StatusText(int code) {
  if (code < 1 || code > 43) return {};
  std::string text = core::QvFaxString(code);
  if (text.size() > 80) text.resize(80);
  return text;
}

TQvAbstractFaxStatus::~TQvAbstractFaxStatus() {
  if (Fax) Fax->ComponentRemoved(this);
}

}  // namespace qv::fax
