#pragma once
// Shared body of the reader fuzzers: the input becomes a file that is converted into a QVF file
// with the reader under test. Any result code is fine; crashes, hangs and leaks are not.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "faximage/converter.h"

namespace qv::faximage::fuzz {

inline int ConvertInput(const uint8_t* data, size_t size, TFaxInputDocumentType type,
                        TFaxCvtOptionsSet options) {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/qvfaxfuzzXXXXXX";
    return std::string(mkdtemp(tmpl));
  }();
  const std::string in = dir + "/input", out = dir + "/output.qvf";
  if (FILE* f = std::fopen(in.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  auto state = CreateConverterState(type);
  state->Flags = options;
  state->LeftMargin = size ? data[0] % 64 : 0;
  state->UseHighRes = size > 1 && (data[1] & 1);
  state->ResWidth = size > 2 && (data[2] & 1) ? 2048 : 1728;
  if (type == idText) LoadFaxFont(*state, (size > 3 && (data[3] & 1)) ? 16 : 48, state->UseHighRes);
  int rc = ConvertToQvf(*state, in, out);
  std::remove(out.c_str());
  return rc;
}

}  // namespace qv::faximage::fuzz
