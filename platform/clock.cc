// What both systems' clocks share: the test seams in front of the clock and the pause.
#include "platform/clock.h"

#include <functional>
#include <utility>

#include "platform/clock_system.h"
#include "platform/test_hooks.h"

namespace platform {

namespace {
std::function<UtcTime()> clock_override;
std::function<void(uint32_t)> sleep_override;
}  // namespace

UtcTime ClockNow() { return clock_override ? clock_override() : SystemClockNow(); }

void Sleep(uint32_t milliseconds) {
  if (sleep_override) {
    sleep_override(milliseconds);
    return;
  }
  SystemSleep(milliseconds);
}

void SetClockForTest(std::function<UtcTime()> clock) { clock_override = std::move(clock); }

void SetSleepForTest(std::function<void(uint32_t)> sleep) { sleep_override = std::move(sleep); }

}  // namespace platform
