#pragma once

#include <string>

namespace qv::tables {

// Writes `v` into an N(width, decimals) field text: right-aligned, with the field's decimals,
// dropping decimals one at a time until the text fits. Returns false (the caller reports
// 10019) when the text with all decimals is longer than width + decimals + 1, or when even
// without decimals the number does not fit.
bool FormatNumericField(double v, int width, int decimals, std::string& out);

// Text padded with blanks (or cut) to `width`.
std::string PadField(const std::string& s, size_t width);

// Right-aligned integer text; false when it does not fit.
bool FormatIntegerField(long long v, int width, std::string& out);

}  // namespace qv::tables
