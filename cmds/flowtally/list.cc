#include "cmds/flowtally/list.h"

#include <cstdint>
#include <ctime>

#include "cmds/flowtally/search.h"
#include "environment/datestr.h"
#include "platform/clock.h"

namespace flowtally {

namespace {

bool has(const std::string& flags, char letter) { return flags.find(letter) != std::string::npos; }

bool has_any(const std::string& flags, const char* letters) {
  return flags.find_first_of(letters) != std::string::npos;
}

}  // namespace

const char* status_text(int32_t status, const std::string& flags) {
  switch (status) {
    case kStatusWait:
      if (has(flags, 'h')) return "prep(hold)";
      if (has_any(flags, "sv")) return "prep(skip)";
      if (has(flags, 'w')) return "wait";
      return "prep";
    case kStatusPrep:
      return "prep";
    case kStatusRun:
      if (has(flags, 'D')) return "run(dialog)";
      if (has(flags, 'H')) return "run(hold)";
      if (has(flags, 'r')) return "run(estop)";
      if (has(flags, 'f')) return "run(error)";
      if (has(flags, 'n')) return "run(warn)";
      return "run";
    case kStatusDone:
      if (has_any(flags, "svbg")) return "done(skip)";
      if (has_any(flags, "rf")) return "done(error)";
      if (has(flags, 'n')) return "done(warn)";
      return "done";
    default:
      return "";
  }
}

void format_list_time(const char* stamp, char* out, size_t size) {
  int64_t t = 0;
  svlib_CnvStrTime(stamp, &t);
  std::tm tm;
  if (t == -1 || !platform::LocalTime(t, &tm) ||
      std::strftime(out, size, "%m/%d-%H:%M", &tm) == 0) {
    std::snprintf(out, size, "-");
  }
}

int list_trackers(FILE* out) {
  std::fprintf(out, "**** %30s %10s %5s %-11s %-11s\n", "TRACKER-ID.yyyymmddhhmmss", "USER", "STAT",
               "START", "END");
  int n = 1;
  for (const JnwEntry& e : entry_list()) {
    char start[30];
    char end[30];
    format_list_time(e.start, start, sizeof start);
    format_list_time(e.end, end, sizeof end);
    std::fprintf(out, "%3d) %28s", n++, e.trackername.c_str());
    std::fprintf(out, " %9s", e.user.c_str());
    std::fprintf(out, " %12s", status_text(e.status, e.flags));
    std::fprintf(out, " %11s", start);
    std::fprintf(out, " %11s\n", end);
  }
  return 0;
}

}  // namespace flowtally
