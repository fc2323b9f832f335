// Days and civil dates convert by Howard Hinnant's algorithms from "chrono-Compatible Low-Level
// Date Algorithms": the proleptic Gregorian calendar is cut into 400-year eras of 146097 days,
// each beginning on 1 March, so that a leap day is the last day of its year and the days before
// each month follow from one formula.
#include "platform/calendar.h"

namespace platform {

namespace {

constexpr int64_t kDaysPerEra = 146097;  // 400 years with 97 leap days
constexpr int64_t kYearsPerEra = 400;
constexpr int64_t kEpochFromEras = 719468;  // days from 0000-03-01 to 1970-01-01
constexpr int kMonthsPerYear = 12;

// The month counted from March (0 March to 11 February) of a month 1 to 12, and back.
int64_t MarchMonth(int month) { return month > 2 ? month - 3 : month + 9; }
int MonthOfMarchMonth(int64_t march_month) {
  return static_cast<int>(march_month < 10 ? march_month + 3 : march_month - 9);
}

// Days from 1 March to the first of a month counted from March, and back: the month lengths
// 31 30 31 30 31 31 30 31 30 31 31 (and February, last) follow this one line.
int64_t DaysBeforeMarchMonth(int64_t march_month) { return (153 * march_month + 2) / 5; }
int64_t MarchMonthOfDay(int64_t day_of_year) { return (5 * day_of_year + 2) / 153; }

// Days from the start of an era to the start of one of its years (0 to 399), and back: every
// fourth year has a leap day, every hundredth none, the era's last year again one.
int64_t DaysBeforeYearOfEra(int64_t year_of_era) {
  return 365 * year_of_era + year_of_era / 4 - year_of_era / 100;
}
int64_t YearOfEraOfDay(int64_t day_of_era) {
  return (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
}

}  // namespace

int64_t DaysFromCivil(int64_t year, int month, int day) {
  // The year begins on 1 March: January and February belong to the year before.
  const int64_t march_year = year - (month <= 2 ? 1 : 0);
  const int64_t era = FloorDiv(march_year, kYearsPerEra);
  const int64_t year_of_era = march_year - era * kYearsPerEra;
  const int64_t day_of_year = DaysBeforeMarchMonth(MarchMonth(month)) + day - 1;
  const int64_t day_of_era = DaysBeforeYearOfEra(year_of_era) + day_of_year;
  return era * kDaysPerEra + day_of_era - kEpochFromEras;
}

CivilDate CivilFromDays(int64_t days) {
  const int64_t from_eras = days + kEpochFromEras;
  const int64_t era = FloorDiv(from_eras, kDaysPerEra);
  const int64_t day_of_era = from_eras - era * kDaysPerEra;
  const int64_t year_of_era = YearOfEraOfDay(day_of_era);
  const int64_t day_of_year = day_of_era - DaysBeforeYearOfEra(year_of_era);
  const int64_t march_month = MarchMonthOfDay(day_of_year);
  CivilDate date;
  date.month = MonthOfMarchMonth(march_month);
  date.day = static_cast<int>(day_of_year - DaysBeforeMarchMonth(march_month) + 1);
  // January and February end the March year: their civil year is the next.
  date.year = era * kYearsPerEra + year_of_era + (date.month <= 2 ? 1 : 0);
  return date;
}

int WeekdayFromDays(int64_t days) {
  // 1970-01-01 was a Thursday.
  return static_cast<int>(days + 4 - FloorDiv(days + 4, 7) * 7);
}

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

int DayOfYear(int64_t year, int month, int day) {
  static constexpr int kDaysBeforeMonth[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  return kDaysBeforeMonth[month - 1] + day - 1 + (month > 2 && IsLeapYear(year) ? 1 : 0);
}

void FieldsFromSeconds(int64_t t, std::tm* out) {
  const int64_t days = FloorDiv(t, kSecondsPerDay);
  const int64_t seconds = t - days * kSecondsPerDay;
  const CivilDate date = CivilFromDays(days);
  out->tm_year = static_cast<int>(date.year - 1900);
  out->tm_mon = date.month - 1;
  out->tm_mday = date.day;
  out->tm_hour = static_cast<int>(seconds / 3600);
  out->tm_min = static_cast<int>(seconds / 60 % 60);
  out->tm_sec = static_cast<int>(seconds % 60);
  out->tm_wday = WeekdayFromDays(days);
  out->tm_yday = DayOfYear(date.year, date.month, date.day);
}

int64_t SecondsFromFields(const std::tm& tm) {
  // Months carry over into years first, so that the date is the first of a month 1 to 12 and
  // the other fields add on.
  int64_t year = 1900LL + tm.tm_year + tm.tm_mon / kMonthsPerYear;
  int month = tm.tm_mon % kMonthsPerYear;
  if (month < 0) {
    month += kMonthsPerYear;
    --year;
  }
  const int64_t days = DaysFromCivil(year, month + 1, 1) + tm.tm_mday - 1;
  return ((days * 24 + tm.tm_hour) * 60 + tm.tm_min) * 60 + tm.tm_sec;
}

}  // namespace platform
