#include <time.h>

#include <utility>

#include "platform/clock.h"
#include "platform/test_hooks.h"

namespace platform {

namespace {
std::function<UtcTime()> clock_override;
std::function<void(uint32_t)> sleep_override;
}  // namespace

UtcTime ClockNow() {
  if (clock_override) return clock_override();
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return UtcTime{static_cast<int64_t>(ts.tv_sec), static_cast<int>(ts.tv_nsec / 1000000)};
}

bool LocalTime(int64_t t, std::tm* out) {
  time_t tt = static_cast<time_t>(t);
  tzset();
  return localtime_r(&tt, out) != nullptr;
}

bool UtcBreakDown(int64_t t, std::tm* out) {
  time_t tt = static_cast<time_t>(t);
  return gmtime_r(&tt, out) != nullptr;
}

int64_t MakeLocalTime(std::tm* tm) { return static_cast<int64_t>(mktime(tm)); }

const char* ZoneName(int isdst) {
  tzset();
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
