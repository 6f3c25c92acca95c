#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qv::tables {

// Dates are Julian Day Numbers (JDN(2000-01-01) = 2451545); 0 is the empty date.
struct Ymd {
  int year = 0;
  int month = 0;
  int day = 0;
};

int32_t JdnFromYmd(int year, int month, int day);
Ymd YmdFromJdn(int32_t jdn);
bool ValidYmd(int year, int month, int day);
int32_t TodayJdn();

// "yyyymmdd" (8 characters); blanks or an invalid date give 0.
int32_t JdnFromDtos(std::string_view text);
// 8 blanks for the empty date.
std::string DtosFromJdn(int32_t jdn);

// Date display formats of the engine settings, numbered as TXBaseDateFrmt.
enum class DateFormat { American = 0, Ansi, British, French, German, Italian, Spanish };

// The picture ("mm/dd/yy", "yyyy.mm.dd", ...) of a format with or without the century.
std::string DatePicture(DateFormat fmt, bool century);
char DateSeparator(DateFormat fmt);

std::string FormatDate(int32_t jdn, DateFormat fmt, bool century);

// Parses a date typed in the given format. Two-digit years are placed in a window that ends
// 19 years after the current year, so "12/08/26" is 2026, not 1926. Returns 0 for blank or
// unreadable text.
int32_t ParseDate(std::string_view text, DateFormat fmt, int currentYear = 0);

// The century a two-digit year falls in: the window [currentYear-80, currentYear+19].
int ExpandTwoDigitYear(int yy, int currentYear);

}  // namespace qv::tables
