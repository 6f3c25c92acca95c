#pragma once

#include <string>

#include "tables/xbase_date.h"

namespace qv::tables {

// The short date format and separator of the user interface. The engine environment sets
// them together with the engine's own date settings so that dates typed and shown by the forms
// match the engine.
DateFormat UiDateFormat();
bool UiCentury();
std::string UiShortDateFormat();  // e.g. "mm/dd/yy"
char UiDateSeparator();
void SetUiDateFormat(DateFormat fmt, bool century);

}  // namespace qv::tables
