#include "cmds/flowtally/report_common.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "cmds/flowtally/nocase.h"
#include "platform/clock.h"

namespace flowtally {

namespace {

// Writes the two digits of value (0 to 99) at out.
char* put2(char* out, int value) {
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
  return out + 2;
}

// tm written with format into size bytes at out, as strftime writes it, for the directives the
// reports use (%Y of a four-digit year, %y, %m, %d, %H, %M, %S); any other format goes to
// strftime. Returns the length written, 0 when it would not fit.
size_t format_time(char* out, size_t size, const char* format, const std::tm& tm) {
  const int year = tm.tm_year + 1900;
  char* p = out;
  char* const end = out + size - 1;  // room for the terminator
  for (const char* f = format; *f != '\0'; ++f) {
    if (p + 4 > end) return std::strftime(out, size, format, &tm);
    if (*f != '%') {
      *p++ = *f;
      continue;
    }
    switch (*++f) {
      case 'Y':
        if (year < 1000 || year > 9999) return std::strftime(out, size, format, &tm);
        p = put2(put2(p, year / 100), year % 100);
        break;
      case 'y':
        if (year < 0) return std::strftime(out, size, format, &tm);
        p = put2(p, year % 100);
        break;
      case 'm':
        p = put2(p, tm.tm_mon + 1);
        break;
      case 'd':
        p = put2(p, tm.tm_mday);
        break;
      case 'H':
        p = put2(p, tm.tm_hour);
        break;
      case 'M':
        p = put2(p, tm.tm_min);
        break;
      case 'S':
        p = put2(p, tm.tm_sec);
        break;
      default:
        return std::strftime(out, size, format, &tm);
    }
  }
  *p = '\0';
  return static_cast<size_t>(p - out);
}

}  // namespace

TimeText report_local_time(int64_t t, const char* format, const char* unset) {
  TimeText out;
  std::tm tm{};
  // Both reports' formats fit easily; a result that would not fit is shown as unset rather than
  // cut.
  if (t < 1 || !platform::LocalTime(t, &tm) ||
      format_time(out.text, sizeof out.text, format, tm) == 0) {
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
