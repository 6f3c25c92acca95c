// Any text as an expression over a fixed record: it compiles or throws an engine error, and
// whatever compiles evaluates without fault.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tables/expression.h"
#include "tables/xbase_error.h"

using namespace qv::tables;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<DbfField> fields = DbfFile::NormalizeFields(
      {{"NAME", 'C', 0, 10, 0}, {"AMOUNT", 'N', 0, 8, 2}, {"BORN", 'D', 0, 8, 0}, {"OK", 'L', 0, 1, 0}});
  static ExprSettings settings;
  std::string rec = " Smith        12.5020261208T";
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    Expression e = Expression::Compile(text, fields, &settings);
    XValue v;
    e.Eval(reinterpret_cast<const uint8_t*>(rec.data()), 1, v);
    settings.exact = !settings.exact;
    e.Eval(reinterpret_cast<const uint8_t*>(rec.data()), 1, v);
  } catch (const EXBaseError&) {
  }
  return 0;
}
