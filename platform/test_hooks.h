// Test hooks of platform/: what the unit tests use to reset process-wide state, replace a
// service or count calls. Test code only; the product headers show the product alone.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/clock.h"

namespace platform {

/// Test seams: replace the clock or the pause; an empty function restores the real one.
void SetClockForTest(std::function<UtcTime()> clock);
void SetSleepForTest(std::function<void(uint32_t)> sleep);

/// Calls made so far, for tests that count attempts.
struct RegistryCalls {
  int opens = 0;
  int queries = 0;
};
RegistryCalls& RegistryCallsForTest();

/// Test seam: replaces MachineDomain; an empty function restores the real one.
void SetMachineDomainForTest(
    std::function<uint32_t(const char* server, uint32_t level, std::string* domain)> query);

/// Test seam: while on, every file system behaves as one that keeps no access lists (setting
/// a list fails with 50, FileSystemHasAccessLists answers false with 50, and a creation with a
/// security falls back to the permission bits).
void SetNoAccessListsForTest(bool on);

}  // namespace platform
