#include "cmds/flowtally/list.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string_view>

#include "cmds/flowtally/letters.h"
#include "cmds/flowtally/report_common.h"
#include "cmds/flowtally/search.h"
#include "environment/datestr.h"
#include "platform/clock.h"

namespace flowtally {

const char* status_text(int32_t status, const std::string& flags) {
  const char* f = flags.c_str();
  switch (status) {
    case kStatusWait:
      if (has_any_letter(f, "h")) return "prep(hold)";
      if (has_any_letter(f, "sv")) return "prep(skip)";
      if (has_any_letter(f, "w")) return "wait";
      return "prep";
    case kStatusPrep:
      return "prep";
    case kStatusRun:
      if (has_any_letter(f, "D")) return "run(dialog)";
      if (has_any_letter(f, "H")) return "run(hold)";
      if (has_any_letter(f, "r")) return "run(estop)";
      if (has_any_letter(f, "f")) return "run(error)";
      if (has_any_letter(f, "n")) return "run(warn)";
      return "run";
    case kStatusDone:
      if (has_any_letter(f, "svbg")) return "done(skip)";
      if (has_any_letter(f, "rf")) return "done(error)";
      if (has_any_letter(f, "n")) return "done(warn)";
      return "done";
    default:
      return "";
  }
}

void format_list_time(const char* stamp, char* out, size_t size) {
  int64_t t = 0;
  svlib_CnvStrTime(stamp, &t);
  std::tm tm;
  // "MM/DD-hh:mm", as strftime's "%m/%d-%H:%M" writes it.
  constexpr size_t kLength = 11;
  if (t == -1 || size <= kLength || !platform::LocalTime(t, &tm)) {
    if (size > 1) std::memcpy(out, "-", 2);
    return;
  }
  const int fields[4] = {tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min};
  const char separators[4] = {'/', '-', ':', '\0'};
  char* p = out;
  for (int k = 0; k < 4; ++k) {
    p = report_two_digits(p, fields[k]);
    *p++ = separators[k];
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
    char number[16];
    const auto counted = std::to_chars(number, number + sizeof number, n++).ptr;
    OutputBuffer line(out);
    line.PutRight(std::string_view(number, static_cast<size_t>(counted - number)), 3).Put(") ");
    line.PutRight(e.trackername, 28).Put(' ').PutRight(e.user, 9).Put(' ');
    line.PutRight(status_text(e.status, e.flags), 12).Put(' ');
    line.PutRight(start, 11).Put(' ').PutRight(end, 11).Put('\n');
  }
  return 0;
}

}  // namespace flowtally
