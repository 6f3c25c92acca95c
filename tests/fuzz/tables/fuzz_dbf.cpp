// Any bytes as a DBF table: opening either fails with an engine error or gives a table that
// can be walked, read field by field and checked.
#include <cstdint>
#include <string>

#include "fuzz_file.h"
#include "tables/table_check.h"
#include "tables/xb_engine.h"

using namespace qv::tables;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = FuzzDir() + "/T.DBF";
  FuzzWrite(path, data, size);
  if (xb_Use(path, "T", xbmReadOnly, xbdFOX) != 0) {
    int n = xb_FieldCount();
    uint32_t seen = 0;
    for (xb_GoTop(); !xb_Eof() && seen < 2000; xb_Skip(1), ++seen) {
      for (int i = 1; i <= n; ++i) {
        std::string name = xb_FieldName(i);
        xb_GetString(name);
        xb_GetDateString(name);
        xb_GetLogical(name);
      }
      xb_Deleted();
    }
    xb_GoBottom();
    xb_Skip(-1);
    xb_CloseAll();
    CheckTable(path);
  }
  return 0;
}
