// Within platform/ only: what the shared clock code asks of each system.
#pragma once

#include <cstdint>

namespace platform {

struct UtcTime;  // platform/clock.h

/// The system's clock: the current time in UTC with milliseconds.
UtcTime SystemClockNow();

/// The system's pause of the calling thread, the whole number of milliseconds.
void SystemSleep(uint32_t milliseconds);

}  // namespace platform
