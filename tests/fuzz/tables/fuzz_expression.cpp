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
  // The first fields are a small table of every type; the rest are the fax tables' fields that
  // the cleanup form's record filters name (dates, sender, recipient and number).
  static const std::vector<DbfField> fields = DbfFile::NormalizeFields(
      {{"NAME", 'C', 0, 10, 0}, {"AMOUNT", 'N', 0, 8, 2}, {"BORN", 'D', 0, 8, 0}, {"OK", 'L', 0, 1, 0},
       {"DATESENT", 'D', 0, 8, 0}, {"DATEREC", 'D', 0, 8, 0}, {"FROM", 'C', 0, 20, 0},
       {"RECIPIENT", 'C', 0, 20, 0}, {"PHONE", 'C', 0, 20, 0}});
  static ExprSettings settings;
  // A sent fax, and one not sent yet (empty date, blank and odd text fields).
  auto pad = [](std::string v, size_t width) {
    v.resize(width, ' ');
    return v;
  };
  static const std::string records[] = {
      " Smith        12.5020261208T" "20261209" "20261201" + pad("ACME \"LTD\"", 20) +
          pad("O'Brien [Sales]", 20) + pad("+1 555 0100", 20),
      " Smith        12.5020261208F" "        " "00000000" + pad("", 20) + pad("o'brien", 20) +
          pad("555-0100", 20),
  };
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    Expression e = Expression::Compile(text, fields, &settings);
    for (const std::string& rec : records) {
      XValue v;
      e.Eval(reinterpret_cast<const uint8_t*>(rec.data()), 1, v);
      settings.exact = !settings.exact;
      e.Eval(reinterpret_cast<const uint8_t*>(rec.data()), 1, v);
    }
  } catch (const EXBaseError&) {
  }
  return 0;
}
