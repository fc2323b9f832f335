#include "environment/datestr.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include "common/lwlog.h"
#include "platform/clock.h"

namespace {

constexpr char kSource[] = "datestr";
constexpr int kStampDigits = kTimeStampSize - 1;
constexpr int kDateDigits = 8;  // YYYYMMDD, the date part of a stamp
// The years that ymd2day counts: those a four-digit stamp can name.
constexpr int kMinYear = 0;
constexpr int kMaxYear = 9999;

// Days before the first of each month in a common year.
constexpr int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

bool IsAbsent(const char* stamp) { return stamp[0] == '-' && stamp[1] == '\0'; }

// Reads width characters of stamp from *pos as a decimal number. Each character adds its
// code minus '0', digit or not, which is what callers of the local conversion have always
// got. False when the text ends first; the terminator is never passed.
bool ReadField(const char* stamp, int* pos, int width, int* value) {
  int v = 0;
  for (int i = 0; i < width; ++i) {
    char c = stamp[*pos];
    if (c == '\0') return false;
    v = v * 10 + (c - '0');
    ++*pos;
  }
  *value = v;
  return true;
}

}  // namespace

int svlib_CnvStrTime(const char* stamp, int64_t* t) {
  if (stamp != nullptr && IsAbsent(stamp)) {
    *t = -1;
    lwlog_trace(kLwlogDebug, kSource, __LINE__, "svlib_CnvStrTime()",
                "parameter error,return function.\n");
    return 0;
  }
  *t = str2time_t(stamp);
  return *t != 0 ? 0 : -1;
}

int64_t str2time_t(const char* stamp) {
  for (int i = 0; i < kStampDigits; ++i) {
    // A short text fails here at its terminator, so nothing past it is read.
    if (stamp == nullptr || stamp[i] < '0' || stamp[i] > '9') {
      lwlog_trace(kLwlogError, kSource, __LINE__, "str2time_t()",
                  "invalid ts,ts should be 0 to 9;return (time_t)0\n");
      return 0;
    }
  }
  auto field = [stamp](int pos, int width) {
    int v = 0;
    for (int i = pos; i < pos + width; ++i) v = v * 10 + (stamp[i] - '0');
    return v;
  };
  // Neighbouring stamps mostly fall on one day: its day number is kept. That saves some 90
  // instructions a stamp: the loader of a readable report of 20,000 jobs converts 45,000 stamps,
  // and the report takes 106 million instructions so and 111 million without.
  static char last_date[kDateDigits] = {};
  static int64_t last_days = 0;
  int64_t days = 0;
  if (std::memcmp(stamp, last_date, kDateDigits) == 0) {
    days = last_days;
  } else {
    days = ymd2day(field(0, 4), field(4, 2), field(6, 2));
    std::memcpy(last_date, stamp, kDateDigits);
    last_days = days;
  }
  // Hours, minutes and seconds are not range-checked: an hour of 25 runs into the next day.
  int64_t times = days * 86400 + field(8, 2) * 3600 + field(10, 2) * 60 + field(12, 2);
  lwlog_trace(kLwlogDebug, kSource, __LINE__, "str2time_t()",
              "return function,times=%" PRId64 ";return times\n", times);
  return times;
}

int ymd2day(int year, int month, int day) {
  lwlog_trace(kLwlogDebug, kSource, __LINE__, "ymd2day()", "Entering function,y=%d,m=%d,d=%d\n",
              year, month, day);
  if (month < 1 || month > 12) return 0;
  // A year of more than four digits has no stamp, and its day count would not fit the result.
  if (year < kMinYear || year > kMaxYear) return 0;
  // Every fourth year from 1972 is a leap year; there is no century rule, which is exact for
  // 1970 to 2099.
  int n = year - 1970;
  int q = n / 4;
  int r = n % 4;
  // Days run on without limits (day 32 of January is February 1), so sum them wide.
  int64_t wide = int64_t{r} * 365 + int64_t{q} * 1461 + (r == 3 ? 1 : 0) +
                 kDaysBeforeMonth[month - 1] + (r == 2 && month > 2 ? 1 : 0) + int64_t{day} - 1;
  if (wide < std::numeric_limits<int>::min() || wide > std::numeric_limits<int>::max()) return 0;
  int res = static_cast<int>(wide);
  lwlog_trace(kLwlogDebug, kSource, __LINE__, "ymd2day()", "return function,res=%d;return res\n",
              res);
  return res;
}

int svlib_CnvLocalTime(const char* stamp, int64_t* t) {
  if (stamp == nullptr) {
    *t = 0;
    return -1;
  }
  if (IsAbsent(stamp)) {
    *t = -1;
    return 0;
  }
  int pos = 0;
  int year, month, day, hour, minute, second;
  if (!ReadField(stamp, &pos, 4, &year) || !ReadField(stamp, &pos, 2, &month) ||
      !ReadField(stamp, &pos, 2, &day) || !ReadField(stamp, &pos, 2, &hour) ||
      !ReadField(stamp, &pos, 2, &minute) || !ReadField(stamp, &pos, 2, &second)) {
    *t = 0;
    return -1;
  }
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  int64_t value = platform::MakeLocalTime(&tm);
  // Instants before the epoch are outside the product's range and count as absent, the same on
  // every platform (some conversions give -1 for them, others a negative count).
  *t = value < 0 ? -1 : value;
  return 0;
}

int svlib_CnvTimeStr(int64_t t, char* out) {
  if (out == nullptr) return -1;
  std::tm tm{};
  // Only 1970 to 9999 fits the 14 digits; anything else has no stamp and reads as absent.
  if (t < 0 || !platform::UtcBreakDown(t, &tm) || tm.tm_year + 1900 > 9999) {
    std::memcpy(out, "-", 2);
    return 0;
  }
  // The break-down keeps every field in its range, so the text is exactly 14 digits; the roomy
  // buffer only spares the compiler's worst case.
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::memcpy(out, text, kTimeStampSize);
  return 0;
}

int svlib_CnvLocalStr(const char* local, char* out) {
  int64_t t;
  if (svlib_CnvLocalTime(local, &t) != 0) return -1;
  return svlib_CnvTimeStr(t, out);
}

int svlib_CmpStrTime(const char* a, const char* b) {
  if (a == nullptr) a = "";
  if (b == nullptr) b = "";
  for (int i = 0; i < kStampDigits; ++i) {
    signed char ca = static_cast<signed char>(a[i]);
    signed char cb = static_cast<signed char>(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
    // Both texts end here; looking one further would read past them.
    if (ca == '\0') return 0;
    // A prefix of the other text compares equal.
    if (a[i + 1] == '\0') return 0;
  }
  return 0;
}
