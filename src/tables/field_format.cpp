#include "tables/field_format.h"

#include <cmath>
#include <cstdio>

namespace qv::tables {

namespace {

std::string Fixed(double v, int decimals) {
  double scale = std::pow(10.0, decimals);
  double r = std::round(v * scale) / scale;  // half away from zero, unlike printf's rounding
  if (r == 0) r = 0;                          // no "-0.00"
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, r);
  return buf;
}

}  // namespace

bool FormatNumericField(double v, int width, int decimals, std::string& out) {
  if (!std::isfinite(v) || std::fabs(v) > 1e300 || width < 1) return false;
  if (decimals < 0) decimals = 0;
  std::string text = Fixed(v, decimals);
  if (static_cast<int>(text.size()) > width + decimals + 1) return false;
  int d = decimals;
  while (static_cast<int>(text.size()) > width && d > 0) {
    --d;
    text = Fixed(v, d);
  }
  if (static_cast<int>(text.size()) > width) return false;
  // The field keeps its declared decimals when they fit; otherwise the shortened text stands.
  out.assign(static_cast<size_t>(width) - text.size(), ' ');
  out += text;
  return true;
}

std::string PadField(const std::string& s, size_t width) {
  if (s.size() >= width) return s.substr(0, width);
  return s + std::string(width - s.size(), ' ');
}

bool FormatIntegerField(long long v, int width, std::string& out) {
  std::string text = std::to_string(v);
  if (static_cast<int>(text.size()) > width) return false;
  out.assign(static_cast<size_t>(width) - text.size(), ' ');
  out += text;
  return true;
}

}  // namespace qv::tables
