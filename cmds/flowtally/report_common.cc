#include "cmds/flowtally/report_common.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "cmds/flowtally/nocase.h"
#include "platform/clock.h"

namespace flowtally {

TimeText report_local_time(int64_t t, const char* format, const char* unset) {
  TimeText out;
  std::tm tm{};
  // Both reports' formats fit easily; a result that would not fit is shown as unset rather than
  // cut.
  if (t < 1 || !platform::LocalTime(t, &tm) ||
      std::strftime(out.text, sizeof out.text, format, &tm) == 0) {
    std::snprintf(out.text, sizeof out.text, "%s", unset);
  }
  return out;
}

bool report_is_error_class(int32_t status_class) { return status_class == 8 || status_class == 9; }

bool report_job_kept(const RecordHead& record, const ReportSwitches& switches,
                     const char* name_filter, const char* parent_filter) {
  if (name_filter != nullptr &&
      (!equal_nocase(record.name, name_filter) || !equal_nocase(record.parentjnw, parent_filter))) {
    return false;
  }
  return !switches.erronly || report_is_error_class(record.status);
}

std::string report_jnw_path(const char* trkpath) {
  const char* colon = std::strchr(trkpath, ':');
  if (colon != nullptr) colon = std::strchr(colon + 1, ':');
  if (colon == nullptr) return std::string();
  const std::string path = colon + 1;
  return path.substr(0, path.find('.'));
}

}  // namespace flowtally
