// Any bytes as the compound index of a small table: the table opens (damaged tags are rebuilt)
// or the index is refused with an engine error; every tag that opens can be walked.
#include <cstdint>
#include <string>

#include "fuzz_file.h"
#include "tables/xb_engine.h"

using namespace qv::tables;

namespace {

void MakeTable(const std::string& path) {
  xb_CreateNew(path, "X", xbdFOX, 3);
  xb_CreateField("NAME", 'C', 10, 0);
  xb_CreateField("AMOUNT", 'N', 8, 2);
  xb_CreateField("BORN", 'D', 8, 0);
  xb_CreateExec();
  xb_Use(path, "T", xbmExclusive, xbdFOX);
  const char* names[] = {"smith", "jones", "adams", "brown", "smith", ""};
  for (int i = 0; i < 6; ++i) {
    xb_AppendBlank();
    xb_Replace("NAME", rkString, names[i]);
    xb_Replace("AMOUNT", rkDouble, std::to_string(i * 7 - 10));
    xb_Replace("BORN", rkString, "2026120" + std::to_string(i + 1));
  }
  xb_CloseAll();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string table = [] {
    std::string p = FuzzDir() + "/C.DBF";
    MakeTable(p);
    return p;
  }();
  FuzzWrite(FuzzDir() + "/C.CDX", data, size);
  if (xb_Use(table, "C", xbmReadOnly, xbdFOX) != 0) {
    for (int order = 1; order <= 64 && !xb_TagName(order).empty(); ++order) {
      xb_SetOrder(order);
      int n = 0;
      for (xb_GoTop(); !xb_Eof() && n < 100; xb_Skip(1), ++n) xb_KeyData();
      for (xb_GoBottom(); !xb_Bof() && n < 200; xb_Skip(-1), ++n) {
      }
      xb_Seek("smith");
    }
    xb_CloseAll();
  }
  return 0;
}
