#pragma once
// The --version answer every program of the product gives, one way: "NAME VERSION" on standard
// output and exit status 0, before anything else runs (no display, port or data directory needed,
// so packagers and scripts can ask any installed command).

#include <cstdio>
#include <cstring>

#include "core/product_version.h"

namespace qv::core {

// True when the command line is exactly "PROGRAM --version"; then the answer has been printed and
// the caller ends with status 0.
inline bool AnswerVersionOption(int argc, char** argv, const char* program) {
  if (argc != 2 || std::strcmp(argv[1], "--version") != 0) return false;
  std::printf("%s %s\n", program, kProductVersion);
  std::fflush(stdout);
  return true;
}

}  // namespace qv::core
