#pragma once

// The error correction and coding options `send` and `receive` share.
#include <string>

#include "fax/t30_frames.h"

namespace qv::qvfax {

// "on" / "off".
inline bool ParseOnOff(const std::string& text, bool& out) {
  if (text == "on") out = true;
  else if (text == "off") out = false;
  else return false;
  return true;
}

// "mh" / "mr" / "mmr": the best coding this end offers (MMR is used only with ECM).
inline bool ParseCoding(const std::string& text, fax::LineCoding& out) {
  if (text == "mh") out = fax::LineCoding::MH;
  else if (text == "mr") out = fax::LineCoding::MR;
  else if (text == "mmr") out = fax::LineCoding::MMR;
  else return false;
  return true;
}

}  // namespace qv::qvfax
