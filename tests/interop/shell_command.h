#pragma once
// Runs an outside tool through the shell for the interop judges; returns what it printed.
#include <cstdio>
#include <string>

namespace qv::testing {

inline std::string Shell(const std::string& cmd, int* status = nullptr) {
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = pclose(p);
  if (status) *status = rc;
  return out;
}

}  // namespace qv::testing
