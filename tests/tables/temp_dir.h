#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tables/xb_engine.h"

// A fresh directory per test, removed afterwards; closes every work area on the way out so
// one test's tables never leak into the next.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qvtables-XXXXXX").string();
    char* p = ::mkdtemp(tmpl.data());
    path_ = p ? p : "";
  }
  ~TempDir() {
    qv::tables::xb_CloseAll();
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The outgoing-fax layout of the fax store.
inline bool CreateFaxTable(const std::string& path) {
  using namespace qv::tables;
  if (!xb_CreateNew(path, "XXXXXXXXXX", xbdFOX, 10)) return false;
  bool ok = xb_CreateField("SUBJECT", 'C', 50, 0) && xb_CreateField("SENT", 'L', 1, 0) &&
            xb_CreateField("DATESENT", 'D', 8, 0) && xb_CreateField("TIMESENT", 'C', 5, 0) &&
            xb_CreateField("RECIPIENT", 'C', 35, 0) && xb_CreateField("PHONE", 'C', 25, 0) &&
            xb_CreateField("PAGES", 'N', 2, 0) && xb_CreateField("LASTRESULT", 'C', 100, 0) &&
            xb_CreateField("RTFCOVER", 'M', 10, 0) && xb_CreateField("RTFDOC", 'M', 10, 0);
  return xb_CreateExec() && ok;
}
