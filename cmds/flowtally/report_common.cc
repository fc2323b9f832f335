#include "cmds/flowtally/report_common.h"

#include <ctime>

#include "platform/clock.h"

namespace flowtally {

std::string report_local_time(int64_t t, const char* format, const char* unset) {
  std::tm tm{};
  if (t < 1 || !platform::LocalTime(t, &tm)) return unset;
  // Both reports' formats fit easily; a result that would not fit is shown as unset rather than
  // cut.
  char text[64];
  const size_t n = std::strftime(text, sizeof text, format, &tm);
  if (n == 0) return unset;
  return std::string(text, n);
}

}  // namespace flowtally
