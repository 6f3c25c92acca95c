#include "app/store/field_fit.h"

namespace qv::app {

std::string FitField(std::string_view utf8, size_t bytes) {
  if (utf8.size() <= bytes) return std::string(utf8);
  size_t cut = bytes;
  while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) --cut;
  return std::string(utf8.substr(0, cut));
}

}  // namespace qv::app
