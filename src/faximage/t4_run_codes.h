#pragma once

#include <cstdint>

#include "faximage/t4_bits.h"
#include "faximage/t4_tables.h"

namespace qv::faximage {

// Every run length 0..2560 of each colour as one code word: make-up and terminating code
// already joined, so a coder emits one entry per run (at most 25 bits).
struct RunCode {
  uint32_t Code;
  uint32_t Bits;
};

struct RunTables {
  RunCode Run[2][kT4MaxMakeUp + 1];
  RunTables();
};

// Built once, on first use.
const RunTables& T4RunTables();

// Codes a run of `len` pixels of colour `color` (0 white, 1 black): extended make-up 2560 while
// the run is longer, then the joined code of the rest.
inline void PutRun(BitPacker& bp, const RunTables& t, int color, int len) {
  while (len > kT4MaxMakeUp) {
    const T4Code& ext = kWhiteCodes[T4MakeUpIndex(kT4MaxMakeUp)];
    bp.put(ext.Code, ext.Bits);
    len -= kT4MaxMakeUp;
  }
  const RunCode& rc = t.Run[color][len];
  bp.put(rc.Code, rc.Bits);
}

}  // namespace qv::faximage
