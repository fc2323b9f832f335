// The proleptic Gregorian calendar in both directions: days since 1970-01-01 to a civil date
// and back, and seconds since 1970 to date and time fields and back, read in no zone. Plain
// arithmetic, the same on every system; the clock's halves add the zones.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

/// a / b rounded towards minus infinity; b > 0.
constexpr int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }

inline constexpr int64_t kSecondsPerDay = 86400;

struct CivilDate {
  int64_t year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to 31
};

/// Days since 1970-01-01 of a civil date; month 1 to 12. A day outside the month runs on into
/// the months around it (day 0 is the last day of the month before).
int64_t DaysFromCivil(int64_t year, int month, int day);

/// The civil date of a count of days since 1970-01-01.
CivilDate CivilFromDays(int64_t days);

/// The weekday of a count of days since 1970-01-01: 0 Sunday to 6 Saturday.
int WeekdayFromDays(int64_t days);

/// Whether a year has 29 February.
bool IsLeapYear(int64_t year);

/// The days of a month (1 to 12) of a year: 28 to 31.
int DaysInMonth(int64_t year, int month);

/// Days since 1 January of the same year (0 to 365) of a civil date; day 1 to 31.
int DayOfYear(int64_t year, int month, int day);

/// Seconds since 1970 read in no zone, broken down into tm_year to tm_sec, tm_wday and tm_yday;
/// the other fields of out are left as they are. The year must fit tm_year.
void FieldsFromSeconds(int64_t t, std::tm* out);

/// Seconds since 1970 of the fields tm_year to tm_sec read in no zone; fields out of their range
/// carry over (month 13 is January of the next year, second 60 the next minute).
int64_t SecondsFromFields(const std::tm& tm);

}  // namespace platform
