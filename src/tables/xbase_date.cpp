#include "tables/xbase_date.h"

#include <cctype>
#include <cstdio>
#include <chrono>
#include <ctime>

namespace qv::tables {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

constexpr int32_t kJdnOfUnixEpoch = 2440588;

// Inlined into JdnFromDtos, which runs for every record when date keys are built.
inline bool IsValidYmd(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int dim = kDays[month - 1];
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && leap) dim = 29;
  return day <= dim;
}

inline int32_t JdnOf(int year, int month, int day) {
  if (!IsValidYmd(year, month, day)) return 0;
  return static_cast<int32_t>(DaysFromCivil(year, month, day) + kJdnOfUnixEpoch);
}

}  // namespace

bool ValidYmd(int year, int month, int day) { return IsValidYmd(year, month, day); }

int32_t JdnFromYmd(int year, int month, int day) { return JdnOf(year, month, day); }

Ymd YmdFromJdn(int32_t jdn) {
  if (jdn <= 0) return {};
  int64_t z = static_cast<int64_t>(jdn) - kJdnOfUnixEpoch + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp + (mp < 10 ? 3 : -9);
  return {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

int32_t TodayJdn() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return JdnFromYmd(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

int32_t JdnFromDtos(std::string_view text) {
  if (text.size() < 8) return 0;
  int v[8];
  for (int i = 0; i < 8; ++i) {
    // Keys are built from this for every record: no locale lookup per character.
    v[i] = static_cast<unsigned char>(text[i]) - '0';
    if (v[i] < 0 || v[i] > 9) return 0;
  }
  int y = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
  int m = v[4] * 10 + v[5];
  int d = v[6] * 10 + v[7];
  return JdnOf(y, m, d);
}

std::string DtosFromJdn(int32_t jdn) {
  if (jdn <= 0) return std::string(8, ' ');
  Ymd ymd = YmdFromJdn(jdn);
  // Keys are built from this for every record: no printf.
  std::string out(8, '0');
  int y = ymd.year % 10000;
  for (int i = 3; i >= 0; --i, y /= 10) out[static_cast<size_t>(i)] = static_cast<char>('0' + y % 10);
  out[4] = static_cast<char>('0' + ymd.month / 10);
  out[5] = static_cast<char>('0' + ymd.month % 10);
  out[6] = static_cast<char>('0' + ymd.day / 10);
  out[7] = static_cast<char>('0' + ymd.day % 10);
  return out;
}

char DateSeparator(DateFormat fmt) {
  switch (fmt) {
    case DateFormat::Ansi:
    case DateFormat::German: return '.';
    case DateFormat::Italian:
    case DateFormat::Spanish: return '-';
    default: return '/';
  }
}

std::string DatePicture(DateFormat fmt, bool century) {
  std::string y = century ? "yyyy" : "yy";
  std::string s(1, DateSeparator(fmt));
  switch (fmt) {
    case DateFormat::American: return "mm" + s + "dd" + s + y;
    case DateFormat::Ansi: return y + s + "mm" + s + "dd";
    default: return "dd" + s + "mm" + s + y;
  }
}

std::string FormatDate(int32_t jdn, DateFormat fmt, bool century) {
  std::string pic = DatePicture(fmt, century);
  if (jdn <= 0) {
    for (char& c : pic)
      if (std::isalpha(static_cast<unsigned char>(c))) c = ' ';
    return pic;
  }
  Ymd ymd = YmdFromJdn(jdn);
  char dd[8], mm[8], yyyy[8];
  std::snprintf(dd, sizeof dd, "%02d", ymd.day);
  std::snprintf(mm, sizeof mm, "%02d", ymd.month);
  std::snprintf(yyyy, sizeof yyyy, "%04d", ymd.year % 10000);
  std::string out;
  for (size_t i = 0; i < pic.size();) {
    if (pic.compare(i, 4, "yyyy") == 0) { out += yyyy; i += 4; }
    else if (pic.compare(i, 2, "yy") == 0) { out += yyyy + 2; i += 2; }
    else if (pic.compare(i, 2, "mm") == 0) { out += mm; i += 2; }
    else if (pic.compare(i, 2, "dd") == 0) { out += dd; i += 2; }
    else out += pic[i++];
  }
  return out;
}

int ExpandTwoDigitYear(int yy, int currentYear) {
  int base = currentYear - 80;       // earliest year of the window
  int century = base - base % 100;   // century of the window's start
  int year = century + yy;
  if (year < base) year += 100;
  return year;
}

int32_t ParseDate(std::string_view text, DateFormat fmt, int currentYear) {
  // Collect up to three numbers separated by any non-digit.
  int parts[3] = {0, 0, 0};
  int digits[3] = {0, 0, 0};
  int n = 0;
  bool inNum = false;
  for (char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      if (!inNum) {
        if (n == 3) return 0;
        inNum = true;
        ++n;
      }
      if (digits[n - 1] >= 4) return 0;
      parts[n - 1] = parts[n - 1] * 10 + (c - '0');
      ++digits[n - 1];
    } else if (c == ' ' && !inNum && n == 0) {
      continue;
    } else {
      inNum = false;
    }
  }
  if (n != 3) return 0;
  int y, m, d, yDigits;
  switch (fmt) {
    case DateFormat::American: m = parts[0]; d = parts[1]; y = parts[2]; yDigits = digits[2]; break;
    case DateFormat::Ansi: y = parts[0]; m = parts[1]; d = parts[2]; yDigits = digits[0]; break;
    default: d = parts[0]; m = parts[1]; y = parts[2]; yDigits = digits[2]; break;
  }
  if (yDigits <= 2) {
    if (currentYear <= 0) currentYear = YmdFromJdn(TodayJdn()).year;
    y = ExpandTwoDigitYear(y, currentYear);
  }
  return JdnFromYmd(y, m, d);
}

}  // namespace qv::tables
