#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "faximage/t4_tables.h"

namespace qv::faximage::testing {

// A fresh directory under the system temp dir, removed with its contents at the end.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qvfaxtestXXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream out(name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Bit-serial modified Huffman decoder for one coded row (LSB-first bits), used as the test's
// judge: skips fill and the EOL, then decodes runs until `width` pixels are complete. Returns
// the pixels (0/1) or an empty vector on a coding error.
inline std::vector<int> DecodeRowPixels(const std::vector<uint8_t>& coded, int width) {
  size_t bit = 0, total = coded.size() * 8;
  auto next = [&]() -> int {
    if (bit >= total) return -1;
    int b = (coded[bit >> 3] >> (bit & 7)) & 1;
    ++bit;
    return b;
  };
  // EOL: at least 11 zeros then a 1.
  int zeros = 0;
  for (;;) {
    int b = next();
    if (b < 0) return {};
    if (b == 0) ++zeros;
    else if (zeros >= 11) break;
    else return {};
  }
  std::vector<int> px;
  int color = 0;
  int run = 0;
  while (static_cast<int>(px.size()) < width) {
    const T4Code* t = color ? kBlackCodes : kWhiteCodes;
    uint32_t code = 0;
    int len = 0, found = -1;
    while (found < 0 && len < 14) {
      int b = next();
      if (b < 0) return {};
      code |= static_cast<uint32_t>(b) << len;
      ++len;
      for (int i = 0; i < kT4CodeCount; ++i)
        if (t[i].Bits == len && t[i].Code == code) found = i;
    }
    if (found < 0) return {};
    int value = found < 64 ? found : (found - 63) * 64;
    run += value;
    if (found < 64) {
      if (static_cast<int>(px.size()) + run > width) return {};
      px.insert(px.end(), static_cast<size_t>(run), color);
      run = 0;
      color ^= 1;
    }
  }
  return px;
}

}  // namespace qv::faximage::testing
