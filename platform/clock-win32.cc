// The clock and local time through the system's zone functions. The C runtime's own zone rules
// read TZ, which here may hold a zone name that they do not understand.
#include <cstdint>
#include <optional>

#include "platform/calendar.h"
#include "platform/clock.h"
#include "platform/clock_system.h"
#include "platform/test_hooks.h"
#include "platform/windows-win32.h"

namespace platform {

namespace {

std::optional<TIME_ZONE_INFORMATION> zone_override;
char zone_names[2][64];

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochIntervals = 116444736000000000LL;
constexpr int64_t kIntervalsPerSecond = 10000000LL;

// The zone's rules for the given year: a zone may have moved its daylight-saving dates, or
// given daylight saving up, since then. The system's rules for today where it keeps no rules
// by year.
const TIME_ZONE_INFORMATION* Zone(int year, TIME_ZONE_INFORMATION* system) {
  if (zone_override) return &*zone_override;
  if (year >= 1601 && year <= 30827 &&
      GetTimeZoneInformationForYear(static_cast<USHORT>(year), nullptr, system) != 0) {
    return system;
  }
  if (GetTimeZoneInformation(system) == TIME_ZONE_ID_INVALID) return nullptr;
  return system;
}

// The zone's rules for today, for what does not depend on a year.
const TIME_ZONE_INFORMATION* Zone(TIME_ZONE_INFORMATION* system) {
  if (zone_override) return &*zone_override;
  if (GetTimeZoneInformation(system) == TIME_ZONE_ID_INVALID) return nullptr;
  return system;
}

bool ToSystemTime(int64_t t, SYSTEMTIME* out) {
  if (t < 0 || t > (INT64_MAX - kEpochIntervals) / kIntervalsPerSecond) return false;
  const int64_t intervals = t * kIntervalsPerSecond + kEpochIntervals;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(intervals & 0xffffffffLL);
  ft.dwHighDateTime = static_cast<DWORD>(intervals >> 32);
  return FileTimeToSystemTime(&ft, out) != 0;
}

bool FromSystemTime(const SYSTEMTIME& st, int64_t* t) {
  FILETIME ft;
  if (SystemTimeToFileTime(&st, &ft) == 0) return false;
  const int64_t intervals =
      (static_cast<int64_t>(ft.dwHighDateTime) << 32) | static_cast<int64_t>(ft.dwLowDateTime);
  *t = (intervals - kEpochIntervals) / kIntervalsPerSecond;
  return true;
}

}  // namespace

UtcTime SystemClockNow() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const int64_t intervals =
      ((static_cast<int64_t>(ft.dwHighDateTime) << 32) | static_cast<int64_t>(ft.dwLowDateTime)) -
      kEpochIntervals;
  return UtcTime{intervals / kIntervalsPerSecond,
                 static_cast<int>((intervals % kIntervalsPerSecond) / 10000)};
}

bool LocalTime(int64_t t, std::tm* out) {
  TIME_ZONE_INFORMATION system;
  SYSTEMTIME utc;
  if (!ToSystemTime(t, &utc)) return false;
  // The rules of the local year, which near New Year may be the one before or after the UTC one.
  const TIME_ZONE_INFORMATION* zone = Zone(utc.wYear, &system);
  SYSTEMTIME local;
  if (zone == nullptr || SystemTimeToTzSpecificLocalTime(zone, &utc, &local) == 0) return false;
  if (local.wYear != utc.wYear) {
    zone = Zone(local.wYear, &system);
    if (zone == nullptr || SystemTimeToTzSpecificLocalTime(zone, &utc, &local) == 0) return false;
  }
  int64_t local_seconds = 0;
  if (!FromSystemTime(local, &local_seconds) || !UtcBreakDown(local_seconds, out)) return false;
  // In daylight time the zone's offset is the bias plus the daylight bias.
  const int64_t offset_minutes = (t - local_seconds) / 60;
  out->tm_isdst = zone->DaylightDate.wMonth != 0 && zone->DaylightBias != 0 &&
                          offset_minutes == zone->Bias + zone->DaylightBias
                      ? 1
                      : 0;
  return true;
}

bool UtcBreakDown(int64_t t, std::tm* out) {
  // The system's conversion covers the years 1601 to 30827, more than the C runtime's.
  SYSTEMTIME st;
  if (!ToSystemTime(t, &st)) return false;
  std::tm tm{};
  tm.tm_year = st.wYear - 1900;
  tm.tm_mon = st.wMonth - 1;
  tm.tm_mday = st.wDay;
  tm.tm_hour = st.wHour;
  tm.tm_min = st.wMinute;
  tm.tm_sec = st.wSecond;
  tm.tm_wday = st.wDayOfWeek;
  tm.tm_yday = DayOfYear(st.wYear, st.wMonth, st.wDay);
  *out = tm;
  return true;
}

int64_t MakeLocalTime(std::tm* tm) {
  // The fields are first made whole as a time of day in no zone, which also carries
  // out-of-range fields over (month 13 is January of the next year).
  const int64_t wall = SecondsFromFields(*tm);
  TIME_ZONE_INFORMATION system;
  SYSTEMTIME local;
  SYSTEMTIME utc;
  int64_t t = -1;
  if (!ToSystemTime(wall, &local)) return -1;
  const TIME_ZONE_INFORMATION* zone = Zone(local.wYear, &system);
  if (zone == nullptr || TzSpecificLocalTimeToSystemTime(zone, &local, &utc) == 0 ||
      !FromSystemTime(utc, &t) || t < 0 || !LocalTime(t, tm)) {
    return -1;
  }
  return t;
}

const char* ZoneName(int isdst) {
  TIME_ZONE_INFORMATION system;
  const TIME_ZONE_INFORMATION* zone = Zone(&system);
  const int which = isdst > 0 ? 1 : 0;
  char* name = zone_names[which];
  name[0] = '\0';
  if (zone != nullptr) {
    const WCHAR* wide = which == 1 ? zone->DaylightName : zone->StandardName;
    if (WideCharToMultiByte(CP_ACP, 0, wide, -1, name, sizeof zone_names[which], nullptr,
                            nullptr) == 0) {
      name[0] = '\0';
    }
  }
  return name;
}

void SystemSleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

void SetZoneForTest(const ZoneForTest* zone) {
  if (zone == nullptr) {
    zone_override.reset();
    return;
  }
  TIME_ZONE_INFORMATION info{};
  info.Bias = zone->bias_minutes;
  info.DaylightBias = zone->daylight_bias_minutes;
  MultiByteToWideChar(CP_ACP, 0, zone->standard_name.c_str(), -1, info.StandardName, 32);
  MultiByteToWideChar(CP_ACP, 0, zone->daylight_name.c_str(), -1, info.DaylightName, 32);
  auto rule = [](const ZoneRuleForTest& r, SYSTEMTIME* st) {
    st->wMonth = static_cast<WORD>(r.month);
    st->wDay = static_cast<WORD>(r.week);
    st->wDayOfWeek = static_cast<WORD>(r.weekday);
    st->wHour = static_cast<WORD>(r.hour);
  };
  rule(zone->daylight_start, &info.DaylightDate);
  rule(zone->standard_start, &info.StandardDate);
  zone_override = info;
}

}  // namespace platform
