#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

// One scratch directory per fuzzing process; the readers under test work on real files.
inline const std::string& FuzzDir() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/qvfuzz-XXXXXX";
    char* p = mkdtemp(tmpl);
    return std::string(p ? p : "/tmp");
  }();
  return dir;
}

inline void FuzzWrite(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}
