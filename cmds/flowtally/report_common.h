// Helpers shared by the two report writers (readable and CSV).
#pragma once

#include <cstdint>
#include <string>

namespace flowtally {

/// t (seconds since 1970 UTC) broken down in local time (the zone follows TZ) and written with
/// the strftime format. Returns unset when t is below 1 (a time that is not set), or when t
/// cannot be shown in local time.
std::string report_local_time(int64_t t, const char* format, const char* unset);

}  // namespace flowtally
