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

const char* CodingName(LineCoding coding) {
  return coding == LineCoding::MMR ? "MMR" : coding == LineCoding::MR ? "MR" : "MH";
}

std::string ErrorControlText(bool ecm, LineCoding coding, long framesResent) {
  std::string text = std::string(ecm ? "on, " : "off, ") + CodingName(coding);
  if (ecm) text += ", " + std::to_string(framesResent) + (framesResent == 1 ? " frame" : " frames") + " resent";
  return text;
}

TQvAbstractFaxStatus::~TQvAbstractFaxStatus() {
  if (Fax) Fax->ComponentRemoved(this);
}

}  // namespace qv::fax
