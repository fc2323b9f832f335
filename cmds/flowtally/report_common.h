// Helpers shared by the two report writers (readable and CSV).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cmds/flowtally/records.h"
#include "cmds/flowtally/report.h"

namespace flowtally {

/// Room for a time written by report_local_time, terminator included.
inline constexpr size_t kTimeTextSize = 64;

/// A time written as text, held in place.
struct TimeText {
  char text[kTimeTextSize];
  const char* c_str() const { return text; }
};

/// t (seconds since 1970 UTC) broken down in local time (the zone follows TZ) and written with
/// the strftime format. Returns unset when t is below 1 (a time that is not set), or when t
/// cannot be shown in local time, or when the result would not fit.
TimeText report_local_time(int64_t t, const char* format, const char* unset);

/// A record's text as written: a text that is not there reads as "".
inline const char* report_text(const char* text) { return text != nullptr ? text : ""; }

/// Whether status_class is an error class (error, error stop): the job records that erronly
/// keeps.
bool report_is_error_class(int32_t status_class);

/// Whether a job record belongs in its section: with name_filter, its name equals name_filter
/// and its parent network parent_filter, both without regard to case; with erronly, its status
/// class is an error class.
bool report_job_kept(const RecordHead& record, const ReportSwitches& switches,
                     const char* name_filter, const char* parent_filter);

/// The JNW path of a tracker path "machine:user:JNWpath.stamp.kstrk": the network a component
/// named after '/' belongs to. "" when trkpath has fewer than two ':'.
std::string report_jnw_path(const char* trkpath);

}  // namespace flowtally
