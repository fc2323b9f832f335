#include "cmds/flowtally/search.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cmds/flowtally/nocase.h"
#include "cmds/flowtally/options.h"
#include "cmds/flowtally/runscan.h"
#include "cmds/flowtally/subopts.h"
#include "common/lwuser.h"
#include "environment/datestr.h"
#include "platform/process.h"
#include "platform/textcase.h"

namespace flowtally {

namespace {

EntryList entries;

// The same entries indexed, so that a search of many thousands of trackers stays fast: by
// folded tracker name (list order within equal names), and by folded JNW part and user (the
// trackers that srch_last compares).
std::multimap<std::string, EntryList::iterator> by_name;
std::unordered_multimap<std::string, EntryList::iterator> by_jnw_user;

// The srch_last group of an entry: its JNW part (up to the first '.') and user, folded; none
// for a name without '.', which no search for the latest tracker can match.
std::optional<std::string> jnw_user_key(const JnwEntry& entry) {
  size_t dot = entry.trackername.find('.');
  if (dot == std::string::npos) return std::nullopt;
  return platform::LowerCase(std::string_view(entry.trackername).substr(0, dot)) + '\n' +
         platform::LowerCase(entry.user);
}

constexpr size_t kEntryFieldsMin = 11;

bool copy_field(char* dst, size_t cap, std::string_view field) {
  if (field.size() >= cap) return false;
  std::memcpy(dst, field.data(), field.size());
  dst[field.size()] = '\0';
  return true;
}

// A start or end field: exactly 14 characters, or a text that begins with '-'.
bool copy_stamp(char* dst, std::string_view field) {
  if (field.size() != kStampSize - 1 && (field.empty() || field[0] != '-')) return false;
  return copy_field(dst, kStampSize, field);
}

// The first kEntryFieldsMin fields of line, separated by blanks, tabs and line ends; returns how
// many there are (later fields are not looked at).
size_t split_entry_fields(const char* line, std::string_view (&fields)[kEntryFieldsMin]) {
  size_t count = 0;
  const char* p = line;
  auto is_sep = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (*p != '\0' && count < kEntryFieldsMin) {
    while (*p != '\0' && is_sep(*p)) ++p;
    const char* start = p;
    while (*p != '\0' && !is_sep(*p)) ++p;
    if (p > start) fields[count++] = std::string_view(start, static_cast<size_t>(p - start));
  }
  return count;
}

int status_code(const char* word) {
  static const char* const kWords[] = {"wait", "prep", "run", "done"};
  for (int i = 0; i < 4; ++i) {
    if (std::strcmp(word, kWords[i]) == 0) return i;
  }
  return -1;
}

bool trace_filter() { return g_options.DebugKey == kDebugSearchFilter; }

// A local day and time of day as the UTC stamp the tool takes; "-" when it has none.
std::string local_bound(const char* day, const char* time_of_day) {
  char utc[kDateBufSize] = "-";
  convert_date_bound(day, time_of_day, utc);
  return utc;
}

}  // namespace

const EntryList& entry_list() { return entries; }

void entry_list_clear() {
  by_jnw_user.clear();
  by_name.clear();
  entries.clear();
}

ToolOptions build_search_options() {
  const SummaryOptions& o = g_options;
  const char* machine = g_local_machine;
  // The machine, the user and the search key are data: each stays inside its one item.
  ToolOptions opt;
  opt.Add("O");
  if (o.srch_tid) {
    opt.AddValue(o.search_key).Add(" N1");
  } else if (o.srch_trk &&
             !(o.srch_name || o.srch_run || o.srch_last || o.srch_date || o.srch_today)) {
    opt.AddValue(machine).Add(":").AddValue(o.user).Add(":").AddValue(o.search_key);
    opt.Add(".kstrk N1");
  } else if (o.srch_name) {
    if (o.all_users) {
      opt.AddValue(machine).Add(".machine N1 Pj").AddValue(o.search_key);
    } else {
      opt.AddValue(machine).Add(":").AddValue(o.user).Add(":").AddValue(o.search_key);
      opt.Add(".ksjnw N1");
    }
  } else if (o.all_users) {
    opt.AddValue(machine).Add(".machine N1");
  } else {
    opt.AddValue(machine).Add(":").AddValue(o.user).Add(".user N1");
  }

  if (o.srch_last && g_options.date_to[0] == '\0') format_today(g_options.date_to);

  if (o.srch_date || o.srch_today) opt.Add(" S" + local_bound(o.date_from, "000000"));
  if (o.srch_date || o.srch_today || o.srch_last) opt.Add(" E" + local_bound(o.date_to, "235959"));
  if (o.srch_run || o.srch_last) opt.Add(" I");
  bool prep_item = o.srch_prep && !o.srch_run && !o.srch_last;
  if (prep_item) opt.Add(" Pswait/prep");
  opt.Add(prep_item ? "/run" : " Psrun");
  if (!(o.srch_run && !o.srch_last)) opt.Add("/done");
  return opt;
}

int parse_entry_line(const char* line, EntryLine* entry) {
  if (line == nullptr || line[0] != 'J') return -1;
  std::string_view f[kEntryFieldsMin];
  if (split_entry_fields(line, f) < kEntryFieldsMin || f[0][0] != 'J') return -1;
  if (!copy_field(entry->status, sizeof entry->status, f[2])) return -1;
  if (!copy_field(entry->flags, sizeof entry->flags, f[10])) return -1;
  if (!copy_stamp(entry->start, f[4]) || !copy_stamp(entry->end, f[5])) return -1;

  // machine:user:tracker-file, where a tracker file with a further ':' is a sub-network's.
  std::string_view path = f[1];
  size_t c1 = path.find(':');
  if (c1 == std::string_view::npos) return -1;
  size_t c2 = path.find(':', c1 + 1);
  if (c2 == std::string_view::npos) return -1;
  std::string_view file = path.substr(c2 + 1);
  if (file.empty() || file.find(':') != std::string_view::npos) return -1;
  if (!copy_field(entry->user, sizeof entry->user, path.substr(c1 + 1, c2 - c1 - 1))) return -1;
  if (!copy_field(entry->machine, sizeof entry->machine, path.substr(0, c1))) return -1;

  size_t dot = file.rfind('.');
  if (dot != std::string_view::npos && file.substr(dot) == ".kstrk") file = file.substr(0, dot);
  if (file.find('.') == std::string_view::npos) return -1;
  return copy_field(entry->trackername, sizeof entry->trackername, file) ? 0 : -1;
}

int filter_entry(const EntryLine& line) {
  const SummaryOptions& o = g_options;
  int code = status_code(line.status);
  if (code < 0) {
    if (trace_filter()) std::fprintf(stderr, "ANAL: Invaild status(%s).\n", line.status);
    return -1;
  }
  if (o.srch_run && code != kStatusRun) {
    if (trace_filter()) std::fputs("ANAL:(Search) Not run.\n", stderr);
    return -1;
  }
  if (o.srch_last && code != kStatusRun && code != kStatusDone) {
    if (trace_filter()) std::fputs("ANAL:(Search) Not run or done.\n", stderr);
    return -1;
  }
  if (!o.srch_prep && (code == kStatusWait || code == kStatusPrep)) {
    if (trace_filter()) std::fputs("ANAL:(Search) Preparation status.\n", stderr);
    return -1;
  }
  if (o.srch_date || o.srch_today) {
    if (svlib_CmpStrTime(line.start, o.range_start) < 0 ||
        svlib_CmpStrTime(line.start, o.range_end) > 0) {
      if (trace_filter()) {
        std::fprintf(stderr, "ANAL:(Search) Out of date range:%s,(%s:%s)\n", line.start,
                     o.range_start, o.range_end);
      }
      return -1;
    }
  }
  if (o.srch_last) {
    if (trace_filter()) std::fprintf(stderr, "ANAL:(Entry) not twice.(%s)\n", line.trackername);
    if (entry_insert_latest(line.trackername, line.user, line.start, line.end, code, line.flags,
                            line.machine) == 1) {
      if (trace_filter()) std::fputs("ANAL:(Entry) Twiced: replace or not entried.\n", stderr);
      return 1;
    }
    return 0;
  }
  if (trace_filter()) std::fputs("ANAL:(Entry) normal.\n", stderr);
  entry_insert(line.trackername, line.user, line.start, line.end, code, line.flags, line.machine);
  return 0;
}

void entry_insert(const char* trackername, const char* user, const char* start, const char* end,
                  int32_t status, const char* flags, const char* machine) {
  JnwEntry entry;
  entry.user = user;
  entry.trackername = trackername;
  entry.machine = machine;
  entry.flags = flags;
  entry.status = status;
  copy_field(entry.start, sizeof entry.start, std::string_view(start).substr(0, kStampSize - 1));
  copy_field(entry.end, sizeof entry.end, std::string_view(end).substr(0, kStampSize - 1));

  std::string key = platform::LowerCase(trackername);
  auto after = by_name.upper_bound(key);
  auto pos =
      entries.insert(after == by_name.end() ? entries.end() : after->second, std::move(entry));
  by_name.emplace_hint(after, std::move(key), pos);
  if (std::optional<std::string> group = jnw_user_key(*pos)) by_jnw_user.emplace(*group, pos);
}

int entry_insert_latest(const char* trackername, const char* user, const char* start,
                        const char* end, int32_t status, const char* flags, const char* machine) {
  std::string_view name(trackername);
  size_t from = name.find_first_not_of('.');
  if (from == std::string_view::npos) return 1;
  size_t dot = name.find('.', from);
  if (dot == std::string_view::npos) return 1;
  std::string_view jnw = name.substr(from, dot - from);

  // Every entry of the same JNW and user is in the group of this key; the test below is the
  // exact rule (it also wants the same first character, compared exactly).
  bool found = false;
  std::vector<EntryList::iterator> older;
  auto [first, last] =
      by_jnw_user.equal_range(platform::LowerCase(jnw) + '\n' + platform::LowerCase(user));
  for (auto g = first; g != last; ++g) {
    const JnwEntry& other = *g->second;
    if (other.trackername[0] != name[0]) continue;
    found = true;
    if (svlib_CmpStrTime(other.start, start) < 0) older.push_back(g->second);
  }
  for (EntryList::iterator it : older) entry_remove(it);
  if (found && older.empty()) return 1;
  entry_insert(trackername, user, start, end, status, flags, machine);
  return older.empty() ? 0 : 1;
}

void entry_remove(EntryList::iterator entry) {
  auto [first, last] = by_name.equal_range(platform::LowerCase(entry->trackername));
  for (auto i = first; i != last; ++i) {
    if (i->second == entry) {
      by_name.erase(i);
      break;
    }
  }
  if (std::optional<std::string> group = jnw_user_key(*entry)) {
    auto [gfirst, glast] = by_jnw_user.equal_range(*group);
    for (auto i = gfirst; i != glast; ++i) {
      if (i->second == entry) {
        by_jnw_user.erase(i);
        break;
      }
    }
  }
  entries.erase(entry);
}

int search_trackers() {
  const char* me = lw_GetUserName();
  if (me == nullptr) {
    std::fputs("can not get username", stderr);
    return 0;
  }
  // The tool runs on behalf of the caller, whoever -u names.
  if (!platform::SetEnvironmentVariable("KestruneUserName", me)) {
    std::fputs("can not set env KestruneUserName \n", stderr);
    return 0;
  }
  const ToolOptions options = build_search_options();
  if (g_options.verbose) std::fprintf(stderr, "runscan opt=%s\n", options.text().c_str());

  int count = 0;
  EntryLine entry;
  const int rc = runscancmd_jnwent(options, [&count, &entry](const char* line) {
    if (parse_entry_line(line, &entry) == 0 && filter_entry(entry) == 0) ++count;
    return true;
  });
  // A run that failed may have printed only some of its entries, or none that are true.
  if (rc != 0) {
    entry_list_clear();
    return 0;
  }
  return count;
}

int resolve_component(const char* trackername, const char* user, const char* component_option,
                      char* target, char* trkpath) {
  std::string_view name(trackername);
  size_t dot = name.find('.');
  if (dot == std::string_view::npos) return -1;
  std::string_view jnw = name.substr(0, dot);
  std::string_view stamp = name.substr(dot);  // ".YYYYMMDDhhmmss"

  std::string path = std::string(g_local_machine) + ":" + user + ":";
  std::string_view s(component_option != nullptr ? component_option : "");
  if (s.empty()) {
    path.append(name).append(".kstrk");
    if (path.size() >= kTrackerPathSize) return -1;
    copy_field(trkpath, kTrackerPathSize, path);
    copy_field(target, kTrackerPathSize, path);
    return 0;
  }
  if (s.size() < jnw.size() || !equal_nocase(s.substr(0, jnw.size()), jnw)) return -1;
  if (s.size() > jnw.size() && s[jnw.size()] != '/' && s[jnw.size()] != ':') return -1;

  size_t slash = s.find('/');
  path.append(s.substr(0, slash)).append(stamp).append(".kstrk");
  if (path.size() >= kTrackerPathSize) return -1;
  copy_field(trkpath, kTrackerPathSize, path);
  if (slash == std::string_view::npos) {
    copy_field(target, kTrackerPathSize, path);
    return 0;
  }
  std::string_view component = s.substr(slash + 1);
  if (component.size() >= kTrackerPathSize) return -1;
  copy_field(target, kTrackerPathSize, component);
  return 1;
}

}  // namespace flowtally
