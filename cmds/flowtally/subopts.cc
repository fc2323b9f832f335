#include "cmds/flowtally/subopts.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string_view>

#include "cmds/flowtally/options.h"
#include "environment/datestr.h"
#include "platform/calendar.h"
#include "platform/clock.h"

namespace flowtally {

namespace {

// Indexes into kSearchKeys.
enum SearchKey { kKeyName, kKeyRun, kKeyLast, kKeyDate, kKeyToday, kKeyPrep, kKeyTrk, kKeyTid };
constexpr const char* kSearchKeys[] = {"name", "run", "last", "date", "today",
                                       "prep", "trk", "tid",  nullptr};

// Indexes into kPrintKeys.
enum PrintKey {
  kKeyFormat,
  kKeyStyle,
  kKeyUjonly,
  kKeyErronly,
  kKeyOutput,
  kKeyNotitle,
  kKeyQuote,
  kKeyTz
};
constexpr const char* kPrintKeys[] = {"format",  "style", "ujonly", "erronly", "output",
                                      "notitle", "quote", "tz",     nullptr};

// Indexes into kListKeys.
enum ListKey { kListKeyFormat, kListKeyNotitle, kListKeyFields, kListKeyTz };
constexpr const char* kListKeys[] = {"format", "notitle", "fields", "tz", nullptr};

// The -l format= values, in ListFormat order from kListTsv.
constexpr const char* kListFormats[] = {"tsv", "csv", "jsonl", "json"};

constexpr int kMaxDateFields = 3;

struct LocalDay {
  int year;
  int month;
  int day;
};

LocalDay today_local() {
  const int64_t now = platform::ClockNow().seconds;
  std::tm tm{};
  if (!platform::LocalTime(now, &tm)) platform::UtcBreakDown(now, &tm);
  return LocalDay{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

// %04d keeps a date of eight digits even for a year below 1000, where %Y would not.
void format_day(const LocalDay& d, char* out) {
  char text[48];  // room for any int values; a calendar day takes eight characters
  std::snprintf(text, sizeof text, "%04d%02d%02d", d.year, d.month, d.day);
  copy_truncated(out, kDateBufSize - 1, text);
}

// The time stamps are four-digit years; a day outside the calendar would be normalised by the
// local-time conversion into some other day, and the search would quietly cover the wrong range.
bool is_calendar_day(const LocalDay& d) {
  if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12) return false;
  return d.day >= 1 && d.day <= platform::DaysInMonth(d.year, d.month);
}

// One part of a date= value (FROM or TO) into out as YYYYMMDD. Returns 0 or -1.
int parse_date_part(const char* part, char* out) {
  std::string_view fields[kMaxDateFields];
  int count = 0;
  const char* p = part;
  while (*p != '\0') {
    while (*p == '/') ++p;
    if (*p == '\0') break;
    const char* start = p;
    while (*p != '\0' && *p != '/') ++p;
    if (count == kMaxDateFields) return -1;  // a fourth field
    fields[count++] = std::string_view(start, static_cast<size_t>(p - start));
  }
  if (count == 0) return -1;

  // Numbers are read like atoi; copy each field out so the read stops at its end.
  auto number = [](std::string_view field) {
    char buf[kDateValueMax + 1];
    const size_t n = field.size() < kDateValueMax ? field.size() : kDateValueMax;
    std::memcpy(buf, field.data(), n);
    buf[n] = '\0';
    return read_decimal(buf);
  };

  LocalDay d = today_local();
  if (count == 1 && fields[0].size() == 8) {
    for (char ch : fields[0]) {
      if (ch < '0' || ch > '9') return -1;
    }
    d.year = number(fields[0].substr(0, 4));
    d.month = number(fields[0].substr(4, 2));
    d.day = number(fields[0].substr(6, 2));
  } else if (count == 1) {
    d.day = number(fields[0]);
  } else if (count == 2) {
    d.month = number(fields[0]);
    d.day = number(fields[1]);
  } else {
    int year = number(fields[0]);
    if (year >= 0 && year < 50) {
      year += 2000;
    } else if (year >= 50 && year < 100) {
      year += 1900;
    }
    d.year = year;
    d.month = number(fields[1]);
    d.day = number(fields[2]);
  }
  if (!is_calendar_day(d)) return -1;
  format_day(d, out);
  return 0;
}

}  // namespace

int convert_date_bound(const char* day, const char* time_of_day, char* out) {
  char local[kDateBufSize];
  // A day and time that do not fit are no time stamp; cut short, they would name another.
  const int length = std::snprintf(local, sizeof local, "%s%s", day, time_of_day);
  if (length < 0 || static_cast<size_t>(length) >= sizeof local) return -1;
  char utc[kTimeStampSize] = "";
  if (svlib_CnvLocalStr(local, utc) != 0 || std::strlen(utc) != kTimeStampSize - 1) return -1;
  if (g_options.DebugKey == kDebugDateCnv) std::fprintf(stderr, "DateCnv: %s -> %s\n", local, utc);
  copy_truncated(out, kDateBufSize - 1, utc);
  return 0;
}

namespace {

int compute_range_bounds() {
  char start[kDateBufSize];
  char end[kDateBufSize];
  if (convert_date_bound(g_options.date_from, "000000", start) != 0) return -1;
  if (convert_date_bound(g_options.date_to, "235959", end) != 0) return -1;
  copy_truncated(g_options.range_start, kDateBufSize - 1, start);
  copy_truncated(g_options.range_end, kDateBufSize - 1, end);
  return 0;
}

int check_search_combination() {
  const SummaryOptions& o = g_options;
  if (o.srch_trk && (o.srch_name || o.srch_run || o.srch_last || o.srch_date || o.srch_today)) {
    std::fputs("Illegal combination (-j trk and other options)\n", stderr);
    return -1;
  }
  if (o.srch_prep) {
    if (o.srch_run || o.srch_last) {
      std::fputs("Illegal combination (-j prep and other options)\n", stderr);
      return -1;
    }
  } else if (o.srch_last) {
    if (o.srch_run || o.srch_date || o.srch_today) {
      std::fputs("Illegal combination (-j last and other options)\n", stderr);
      return -1;
    }
    return 0;
  }
  if (o.srch_date && o.srch_today) {
    std::fputs("Illegal combination (-j date and today)\n", stderr);
    return -1;
  }
  return 0;
}

void write_date_format_error(const char* value) {
  std::fprintf(stderr, "Invalid date format (-j date):%s\n", value != nullptr ? value : "");
}

}  // namespace

void format_today(char* out) { format_day(today_local(), out); }

int getsubopt(char** optionp, const char* const* keys, char** valuep) {
  *valuep = nullptr;
  char* item = *optionp;
  if (item == nullptr || *item == '\0') return -1;

  char* comma = std::strchr(item, ',');
  if (comma != nullptr) {
    *comma = '\0';
    *optionp = comma + 1;
  } else {
    *optionp = item + std::strlen(item);
  }

  char* eq = std::strchr(item, '=');
  const size_t key_len = eq != nullptr ? static_cast<size_t>(eq - item) : std::strlen(item);
  for (int i = 0; keys[i] != nullptr; ++i) {
    if (std::strlen(keys[i]) == key_len && std::strncmp(keys[i], item, key_len) == 0) {
      *valuep = eq != nullptr ? eq + 1 : nullptr;
      return i;
    }
  }
  *valuep = item;
  return -1;
}

int parse_date_range(const char* value) {
  if (value == nullptr) return -1;
  if (std::strlen(value) > kDateValueMax) {
    std::fputs("bad usage\n", stderr);
    return -1;
  }
  char work[kDateValueMax + 1];
  copy_truncated(work, kDateValueMax, value);

  char* p = work;
  while (*p == '-') ++p;
  if (*p == '\0') return -1;
  char* from = p;
  while (*p != '\0' && *p != '-') ++p;
  char* to = nullptr;
  if (*p == '-') {
    *p = '\0';
    if (p[1] != '\0') to = p + 1;
  }

  char from_day[kDateBufSize];
  char to_day[kDateBufSize];
  if (parse_date_part(from, from_day) != 0) return -1;
  if (to == nullptr) {
    std::memcpy(to_day, from_day, sizeof to_day);
  } else if (parse_date_part(to, to_day) != 0) {
    return -1;
  }
  copy_truncated(g_options.date_from, kDateBufSize - 1, from_day);
  copy_truncated(g_options.date_to, kDateBufSize - 1, to_day);
  return 0;
}

int parse_search_options(char* text) {
  char* rest = text;
  while (rest != nullptr && *rest != '\0') {
    char* value;
    switch (getsubopt(&rest, kSearchKeys, &value)) {
      case kKeyName:
        g_options.srch_name = 1;
        if (value == nullptr) {
          std::fputs("Invalid parameter (-j name=JNW)\n", stderr);
          return -1;
        }
        if (*value == '\0') {
          std::fputs("No JNW detected.\n", stderr);
          std::exit(2);
        }
        copy_truncated(g_options.search_key, kSearchKeyMax, value);
        break;
      case kKeyRun:
        g_options.srch_run = 1;
        break;
      case kKeyLast:
        g_options.srch_last = 1;
        format_today(g_options.date_to);
        break;
      case kKeyDate:
        g_options.srch_date = 1;
        if (value == nullptr) {
          std::fputs("Invalid parameter (-j date=YYYYMMDD[-yyyymmdd])\n", stderr);
          return -1;
        }
        if (*value == '\0' || parse_date_range(value) != 0 || compute_range_bounds() != 0) {
          write_date_format_error(value);
          return -1;
        }
        break;
      case kKeyToday:
        g_options.srch_today = 1;
        format_today(g_options.date_from);
        std::memcpy(g_options.date_to, g_options.date_from, kDateBufSize);
        if (compute_range_bounds() != 0) {
          write_date_format_error("today");
          return -1;
        }
        break;
      case kKeyPrep:
        g_options.srch_prep = 1;
        break;
      case kKeyTrk:
        g_options.srch_trk = 1;
        if (value == nullptr) {
          std::fputs("Invalid trk parameter (-j trk=JNW.YYYYMMDDhhmmss)\n", stderr);
          return -1;
        }
        copy_truncated(g_options.search_key, kSearchKeyMax, value);
        break;
      case kKeyTid:
        g_options.srch_tid = 1;
        if (value == nullptr) {
          std::fputs(
              "Invalid tid parameter (-j tid=hostname.machine\n"
              "                             |hostname:username.user\n"
              "                             |hostname:username:JNW.ksjnw\n"
              "                             |hostname:username:JNW.YYYYMMDDhhmmss.kstrk)\n",
              stderr);
          return -1;
        }
        copy_truncated(g_options.search_key, kSearchKeyMax, value);
        break;
      default:  // an unknown key is skipped silently
        break;
    }
  }
  return check_search_combination();
}

int parse_print_options(char* text) {
  char* rest = text;
  while (rest != nullptr && *rest != '\0') {
    char* value;
    switch (getsubopt(&rest, kPrintKeys, &value)) {
      case kKeyFormat:
        if (value != nullptr && std::strcmp(value, "csv") == 0) {
          g_options.prt_format = kFormatCsv;
        } else if (value != nullptr && std::strcmp(value, "rd") == 0) {
          g_options.prt_format = kFormatReadable;
        } else if (value != nullptr && std::strcmp(value, "jsonl") == 0) {
          g_options.prt_format = kFormatJsonLines;
        } else if (value != nullptr && std::strcmp(value, "json") == 0) {
          g_options.prt_format = kFormatJson;
        }
        break;
      case kKeyStyle:
        if (value != nullptr && *value != '\0') g_options.prt_style = read_decimal(value);
        break;
      case kKeyUjonly:
        g_options.prt_ujonly = 1;
        break;
      case kKeyErronly:
        g_options.prt_erronly = 1;
        break;
      case kKeyOutput:
        g_options.prt_output = 1;
        break;
      case kKeyNotitle:
        g_options.prt_notitle = 1;
        break;
      case kKeyQuote:
        // Whether the format in force allows it is known only once every -p is read.
        if (value != nullptr) {
          std::fprintf(stderr, "Invalid option: quote=%s\n", value);
          return -1;
        }
        g_options.prt_quote = 1;
        break;
      case kKeyTz:
        if (value != nullptr && std::strcmp(value, "utc") == 0) {
          g_options.prt_tz = kZoneUtc;
        } else if (value != nullptr && std::strcmp(value, "local") == 0) {
          g_options.prt_tz = kZoneLocal;
        } else {
          // The whole item: the value follows "tz=", or the item is "tz" alone.
          std::fprintf(stderr, "Invalid option: %s\n", value != nullptr ? value - 3 : "tz");
          return -1;
        }
        break;
      default:
        std::fprintf(stderr, "Invalid option: %s\n", value != nullptr ? value : "");
        return -1;
    }
  }
  return 0;
}

int check_print_options() {
  if (g_options.prt_quote && g_options.prt_format != kFormatCsv) {
    std::fputs("Invalid option: quote\n", stderr);
    return -1;
  }
  const bool json = g_options.prt_format == kFormatJson || g_options.prt_format == kFormatJsonLines;
  if (g_options.prt_tz != kZoneNotGiven && !json) {
    std::fprintf(stderr, "Invalid option: tz=%s\n",
                 g_options.prt_tz == kZoneLocal ? "local" : "utc");
    return -1;
  }
  return 0;
}

namespace {

// A fields= value "a:b:..." into the options block: known names only, each at most once, at
// least one. False, with the block untouched, otherwise.
bool parse_list_fields(const char* value) {
  int32_t fields[kListFieldCount];
  int32_t count = 0;
  bool seen[kListFieldCount] = {};
  std::string_view rest(value);
  while (true) {
    const size_t colon = rest.find(':');
    const std::string_view name = rest.substr(0, colon);
    int32_t field = 0;
    while (field < kListFieldCount && name != kListFieldNames[field]) ++field;
    if (field == kListFieldCount || seen[field]) return false;
    seen[field] = true;
    fields[count++] = field;
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  std::memcpy(g_options.list_fields.field, fields, sizeof fields[0] * static_cast<size_t>(count));
  g_options.list_fields.count = count;
  return true;
}

}  // namespace

int parse_list_options(char* text) {
  if (g_options.list_format == kListTable) g_options.list_format = kListTsv;
  char* rest = text;
  while (rest != nullptr && *rest != '\0') {
    char* item = rest;
    char* value;
    bool valid = false;
    switch (getsubopt(&rest, kListKeys, &value)) {
      case kListKeyFormat:
        for (int32_t k = 0; value != nullptr && k < static_cast<int32_t>(std::size(kListFormats));
             ++k) {
          if (std::strcmp(value, kListFormats[k]) == 0) {
            g_options.list_format = kListTsv + k;
            valid = true;
          }
        }
        break;
      case kListKeyNotitle:
        valid = value == nullptr;
        if (valid) g_options.list_notitle = 1;
        break;
      case kListKeyFields:
        valid = value != nullptr && parse_list_fields(value);
        break;
      case kListKeyTz:
        valid = value != nullptr &&
                (std::strcmp(value, "utc") == 0 || std::strcmp(value, "local") == 0);
        if (valid) g_options.list_local_time = value[0] == 'l' ? 1 : 0;
        break;
      default:
        break;
    }
    if (!valid) {
      // getsubopt ended the item where a ',' followed it; the key and its value are still there.
      std::fprintf(stderr, "Invalid option: %s\n", item);
      return -1;
    }
  }
  return 0;
}

}  // namespace flowtally
