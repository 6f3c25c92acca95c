// Any bytes as the memo file of a small table whose records point at blocks 1..8: every memo
// either reads or fails with an engine error.
#include <cstdint>
#include <string>

#include "fuzz_file.h"
#include "tables/xb_engine.h"

using namespace qv::tables;

namespace {

void MakeTable(const std::string& path) {
  xb_CreateNew(path, "X", xbdFOX, 2);
  xb_CreateField("NAME", 'C', 4, 0);
  xb_CreateField("NOTE", 'M', 10, 0);
  xb_CreateExec();
  xb_Use(path, "T", xbmExclusive, xbdFOX);
  for (int b = 1; b <= 8; ++b) {
    xb_AppendBlank();
    std::string rec(static_cast<size_t>(xb_RecSize()), ' ');
    std::string ptr = std::to_string(b);
    rec.replace(rec.size() - ptr.size(), ptr.size(), ptr);
    xb_PutRecord(reinterpret_cast<const uint8_t*>(rec.data()));
  }
  xb_CloseAll();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string table = [] {
    std::string p = FuzzDir() + "/M.DBF";
    MakeTable(p);
    return p;
  }();
  FuzzWrite(FuzzDir() + "/M.FPT", data, size);
  if (xb_Use(table, "M", xbmReadOnly, xbdFOX) != 0) {
    for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) {
      size_t len = 0;
      char* m = xb_GetMemo("NOTE", &len);
      xb_MemDealloc(m);
    }
    xb_CloseAll();
  }
  return 0;
}
