#include "cmds/flowtally/report_common.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "cmds/flowtally/nocase.h"
#include "environment/cml.h"
#include "platform/clock.h"
#include "platform/error.h"

namespace flowtally {

namespace {

// The longest text of the layout: a four-digit year, five separators and five pairs of digits.
constexpr size_t kLayoutTextLength = 19;
static_assert(kTimeTextSize > kLayoutTextLength);

// tm written in layout at out; strftime writes the years that the layout's digits cannot show
// (outside 1000 to 9999 for a full year, below 0 for a short one). Writing the digits straight
// through saves some 1,000 instructions a time: a readable report of 20,000 jobs (64,000 times)
// takes 106 million instructions so, and 171 million with strftime for every time. Returns the
// length written, 0 when it would not fit.
size_t format_time(char* out, const TimeLayout& layout, const std::tm& tm) {
  const int year = tm.tm_year + 1900;
  const bool year_fits = layout.full_year ? year >= 1000 && year <= 9999 : year >= 0;
  if (!year_fits) return std::strftime(out, kTimeTextSize, layout.format, &tm);
  char* p = out;
  if (layout.full_year) p = report_two_digits(p, year / 100);
  p = report_two_digits(p, year % 100);
  const int fields[5] = {tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  for (int k = 0; k < 5; ++k) {
    *p++ = layout.separators[k];
    p = report_two_digits(p, fields[k]);
  }
  *p = '\0';
  return static_cast<size_t>(p - out);
}

}  // namespace

TimeText report_local_time(int64_t t, const TimeLayout& layout, const char* unset) {
  TimeText out;
  std::tm tm;  // every field is set by a conversion that succeeds
  // Both reports' formats fit easily; a result that would not fit is shown as unset rather than
  // cut.
  if (t >= 1 && platform::LocalTime(t, &tm)) {
    out.length = format_time(out.text, layout, tm);
    if (out.length > 0) return out;
  }
  out.length = std::min(std::strlen(unset), sizeof out.text - 1);
  std::memcpy(out.text, unset, out.length);
  out.text[out.length] = '\0';
  return out;
}

bool report_job_kept(const RecordHead& record, const ReportSwitches& switches,
                     const char* name_filter, const char* parent_filter) {
  if (name_filter != nullptr &&
      (!equal_nocase(record.name, name_filter) || !equal_nocase(record.parentjnw, parent_filter))) {
    return false;
  }
  return !switches.erronly || status_class_info(record.status).error;
}

std::string report_jnw_path(const char* trkpath) {
  const char* colon = std::strchr(trkpath, ':');
  if (colon != nullptr) colon = std::strchr(colon + 1, ':');
  if (colon == nullptr) return std::string();
  const std::string path = colon + 1;
  return path.substr(0, path.find('.'));
}

void report_output_failed(const char* output_file, int err) {
  std::fprintf(stderr, "flowtally: Unable to write output:%s\n",
               output_file[0] != '\0' ? output_file : "standard output");
  if (err != 0) std::fprintf(stderr, "flowtally: %s\n", platform::ErrnoText(err).c_str());
}

void report_spool_unreadable(const char* spool_path, int err) {
  std::fprintf(stderr, "flowtally: Unable to read spool file:%s\n", report_text(spool_path));
  std::fprintf(stderr, "flowtally: %s\n", platform::ErrnoText(err).c_str());
}

platform::UniqueStream report_open_spool(const char* spool_path) {
  platform::UniqueStream spool(CML_fopen(spool_path, "rn"));  // never a link swapped in
  if (spool == nullptr) {
    const int err = errno;
    std::fprintf(stderr, "flowtally: Unable to open spool file:%s\n", report_text(spool_path));
    std::fprintf(stderr, "flowtally: %s\n", platform::ErrnoText(err).c_str());
    return spool;
  }
  std::setvbuf(spool.get(), nullptr, _IONBF, 0);
  return spool;
}

}  // namespace flowtally
