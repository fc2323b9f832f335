// Test hooks of platform/: what the unit tests use to reset process-wide state, replace a
// service or count calls. Test code only; the product headers show the product alone.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

struct UtcTime;  // platform/clock.h

/// Test seams: replace the clock or the pause; an empty function restores the real one.
void SetClockForTest(std::function<UtcTime()> clock);
void SetSleepForTest(std::function<void(uint32_t)> sleep);

/// A local zone in the terms of the Windows zone functions: UTC = local time + bias. A start
/// rule is a month (1 to 12; 0: the zone has no daylight time), a week of it (1 to 4; 5: the
/// last), a weekday (0 Sunday) and an hour of local time.
struct ZoneRuleForTest {
  int month = 0;
  int week = 0;
  int weekday = 0;
  int hour = 0;
};
struct ZoneForTest {
  std::string standard_name;
  std::string daylight_name;
  int bias_minutes = 0;
  int daylight_bias_minutes = 0;  // added to the bias in daylight time
  ZoneRuleForTest daylight_start;
  ZoneRuleForTest standard_start;
};

/// Test seam: the local zone where the system's zone is not the TZ variable (Windows); nullptr
/// restores the system's. The POSIX local time reads TZ once; after this call it reads TZ again.
void SetZoneForTest(const ZoneForTest* zone);

/// Calls made so far, for tests that count attempts.
struct RegistryCalls {
  int opens = 0;
  int queries = 0;
};
RegistryCalls& RegistryCallsForTest();

/// Test seam: while on, the store is the .reg text file named by KS_REGISTRY on every system, so
/// that tests can give each case its own settings. The POSIX store always is that file.
void SetRegistryFileForTest(bool on);

/// Test seam: replaces MachineDomain; an empty function restores the real one.
void SetMachineDomainForTest(
    std::function<uint32_t(const char* server, uint32_t level, std::string* domain)> query);

/// Test seam: while on, every file system behaves as one that keeps no access lists (setting
/// a list fails with 50, FileSystemHasAccessLists answers false with 50, and a creation with a
/// security falls back to the permission bits).
void SetNoAccessListsForTest(bool on);

}  // namespace platform
