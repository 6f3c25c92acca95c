#include "faximage/t4_run_codes.h"

namespace qv::faximage {

RunTables::RunTables() {
  for (int color = 0; color < 2; ++color) {
    const T4Code* t = color ? kBlackCodes : kWhiteCodes;
    for (int len = 0; len <= kT4MaxMakeUp; ++len) {
      const T4Code& term = t[T4TerminatingIndex(len % 64)];
      if (len < 64) {
        Run[color][len] = {term.Code, term.Bits};
      } else {
        const T4Code& mk = t[T4MakeUpIndex(len)];
        Run[color][len] = {mk.Code | (static_cast<uint32_t>(term.Code) << mk.Bits),
                           static_cast<uint32_t>(mk.Bits + term.Bits)};
      }
    }
  }
}

const RunTables& T4RunTables() {
  static const RunTables tables;
  return tables;
}

}  // namespace qv::faximage
