#include "cmds/flowtally/report_common.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "cmds/flowtally/nocase.h"
#include "platform/clock.h"

namespace flowtally {

namespace {

// The layout that both reports' formats share: a year (%Y or %y), then month, day, hour, minute
// and second, each after one literal character, as in "%Y/%m/%d %H:%M:%S".
struct FixedLayout {
  bool fixed = false;  // format has this layout
  bool full_year = false;
  char separator[5] = {};
};

FixedLayout layout_of(const char* format) {
  FixedLayout layout;
  if (std::strlen(format) != 17 || format[0] != '%' || (format[1] != 'Y' && format[1] != 'y')) {
    return layout;
  }
  for (int k = 0; k < 5; ++k) {
    const char* field = format + 2 + 3 * k;
    if (field[0] == '%' || field[1] != '%' || field[2] != "mdHMS"[k]) return layout;
    layout.separator[k] = field[0];
  }
  layout.fixed = true;
  layout.full_year = format[1] == 'Y';
  return layout;
}

// tm written with format into size bytes at out, as strftime writes it: straight through for a
// format of the fixed layout (the layout of the format seen last is kept), by strftime for any
// other. Returns the length written, 0 when it would not fit.
size_t format_time(char* out, size_t size, const char* format, const std::tm& tm) {
  static const char* last_format = nullptr;
  static FixedLayout layout;
  if (format != last_format) {
    layout = layout_of(format);
    last_format = format;
  }
  const int year = tm.tm_year + 1900;
  const bool year_fits = layout.full_year ? year >= 1000 && year <= 9999 : year >= 0;
  if (!layout.fixed || !year_fits || size < 20) return std::strftime(out, size, format, &tm);
  char* p = out;
  if (layout.full_year) p = report_two_digits(p, year / 100);
  p = report_two_digits(p, year % 100);
  const int fields[5] = {tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  for (int k = 0; k < 5; ++k) {
    *p++ = layout.separator[k];
    p = report_two_digits(p, fields[k]);
  }
  *p = '\0';
  return static_cast<size_t>(p - out);
}

}  // namespace

TimeText report_local_time(int64_t t, const char* format, const char* unset) {
  TimeText out;
  std::tm tm;  // every field is set by a conversion that succeeds
  // Both reports' formats fit easily; a result that would not fit is shown as unset rather than
  // cut.
  if (t >= 1 && platform::LocalTime(t, &tm)) {
    out.length = format_time(out.text, sizeof out.text, format, tm);
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

}  // namespace flowtally
