#include <stdlib.h>
#include <time.h>

#include <string>
#include <utility>

#include "platform/clock.h"
#include "platform/test_hooks.h"

namespace platform {

namespace {
std::function<UtcTime()> clock_override;
std::function<void(uint32_t)> sleep_override;

// The zone is read again only when TZ changes: tzset costs more than the conversion itself,
// and a report converts several times per job. The last conversion is kept as well, since
// neighbouring records often carry the same times.
struct LocalTimeCache {
  bool zone_read = false;
  bool tz_set = false;
  std::string tz;
  bool have_last = false;
  int64_t last_t = 0;
  std::tm last_tm{};
};
LocalTimeCache local_cache;

void ReadZoneIfChanged() {
  const char* tz = getenv("TZ");
  LocalTimeCache& c = local_cache;
  if (c.zone_read && c.tz_set == (tz != nullptr) && (tz == nullptr || c.tz == tz)) return;
  tzset();
  c.zone_read = true;
  c.tz_set = tz != nullptr;
  c.tz = tz != nullptr ? tz : "";
  c.have_last = false;
}
}  // namespace

UtcTime ClockNow() {
  if (clock_override) return clock_override();
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return UtcTime{static_cast<int64_t>(ts.tv_sec), static_cast<int>(ts.tv_nsec / 1000000)};
}

bool LocalTime(int64_t t, std::tm* out) {
  ReadZoneIfChanged();
  LocalTimeCache& c = local_cache;
  if (c.have_last && c.last_t == t) {
    *out = c.last_tm;
    return true;
  }
  time_t tt = static_cast<time_t>(t);
  if (localtime_r(&tt, out) == nullptr) return false;
  c.have_last = true;
  c.last_t = t;
  c.last_tm = *out;
  return true;
}

bool UtcBreakDown(int64_t t, std::tm* out) {
  time_t tt = static_cast<time_t>(t);
  return gmtime_r(&tt, out) != nullptr;
}

int64_t MakeLocalTime(std::tm* tm) { return static_cast<int64_t>(mktime(tm)); }

const char* ZoneName(int isdst) {
  ReadZoneIfChanged();
  return tzname[isdst > 0 ? 1 : 0];
}

void Sleep(uint32_t milliseconds) {
  if (sleep_override) {
    sleep_override(milliseconds);
    return;
  }
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  // Resume after a signal until the whole pause has passed.
  while (nanosleep(&ts, &ts) != 0) {
  }
}

void SetClockForTest(std::function<UtcTime()> clock) { clock_override = std::move(clock); }

void SetSleepForTest(std::function<void(uint32_t)> sleep) { sleep_override = std::move(sleep); }

void SetZoneForTest(const ZoneForTest* /*zone*/) {}

}  // namespace platform
