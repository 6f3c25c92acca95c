#include "tables/ui_date_format.h"

namespace qv::tables {

namespace {
DateFormat gFormat = DateFormat::American;
bool gCentury = false;
}  // namespace

DateFormat UiDateFormat() { return gFormat; }
bool UiCentury() { return gCentury; }
std::string UiShortDateFormat() { return DatePicture(gFormat, gCentury); }
char UiDateSeparator() { return DateSeparator(gFormat); }

void SetUiDateFormat(DateFormat fmt, bool century) {
  gFormat = fmt;
  gCentury = century;
}

}  // namespace qv::tables
