#pragma once

#include <string>

#include "faximage/page_marks.h"

namespace qv::faximage {

// Writes a copy of fax file `source` into `target` (a new QVF file of MH row records) with every
// page as the user sees it: turned as the marks say, the marks burned in. Each page keeps its own
// resolution and pixels one for one (a fine page stays fine, a standard page standard, nothing is
// scaled); a quarter-turned page becomes fine, as RotatePage makes it, and is shrunk to a standard
// line only when it is wider than the widest one (2048 pixels). `pages` gets the page
// count. Returns 0 or a negative code; on failure no target file is left.
int WriteMarkedCopy(const std::string& source, const FaxMarks& marks, const std::string& target, int* pages = nullptr);

}  // namespace qv::faximage
