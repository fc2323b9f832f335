// The clock, local time and pauses.
//
// Every pause of the product goes through Sleep(), and every reading of the clock through
// ClockNow(), so that tests can run retry sequences without sleeping and fix "today".
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

struct UtcTime {
  int64_t seconds = 0;   // since 1970-01-01 00:00:00 UTC
  int milliseconds = 0;  // 0 to 999
};

/// The current time in UTC with milliseconds.
UtcTime ClockNow();

/// Breaks a time value down in local time (the zone follows TZ). False when it cannot.
bool LocalTime(int64_t t, std::tm* out);

/// Breaks a time value down in UTC. False when it cannot.
bool UtcBreakDown(int64_t t, std::tm* out);

/// Converts a local broken-down time to a time value, normalising out-of-range fields, like
/// the standard mktime; tm_isdst of -1 lets it decide. -1 when it cannot represent the instant.
int64_t MakeLocalTime(std::tm* tm);

/// The local zone name for standard (isdst 0) or daylight (isdst > 0) time.
const char* ZoneName(int isdst);

/// Pauses the calling thread for the given number of milliseconds.
void Sleep(uint32_t milliseconds);

}  // namespace platform
