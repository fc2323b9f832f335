#include "cmds/flowtally/list.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>

#include "cmds/flowtally/letters.h"
#include "cmds/flowtally/machine_values.h"
#include "cmds/flowtally/options.h"
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

namespace {

// The tool's status words, by status code.
constexpr const char* kStateWords[] = {"wait", "prep", "run", "done"};

// The version of the JSON Lines records ("v"), the first key of each.
constexpr int kRecordVersion = 1;

// The value of one field of a listing record: its text, or nothing for an absent value (an
// empty field in the delimited forms, null in JSON).
class RecordValues {
 public:
  explicit RecordValues(TimeZoneChoice zone) : zone_(zone) {}

  std::optional<std::string_view> Get(const JnwEntry& e, int32_t field) {
    switch (field) {
      case kFieldTracker:
        return Text(e.trackername);
      case kFieldJnw:
        return Text(std::string_view(e.trackername).substr(0, e.trackername.find('.')));
      case kFieldUser:
        return Text(e.user);
      case kFieldMachine:
        return Text(e.machine);
      case kFieldState:
        return Text(e.status >= kStatusWait && e.status <= kStatusDone ? kStateWords[e.status]
                                                                       : "");
      case kFieldFlags:
        // A set of letters: the tool's "-" for none is the empty set, which is still a value.
        if (e.flags == "-") return std::string_view("");
        return std::string_view(e.flags);
      case kFieldStatus:
        return Text(status_text(e.status, e.flags));
      case kFieldStart:
        return Time(e.start);
      case kFieldEnd:
        return Time(e.end);
      default:
        return std::nullopt;
    }
  }

 private:
  static std::optional<std::string_view> Text(std::string_view text) {
    if (text.empty()) return std::nullopt;
    return text;
  }
  std::optional<std::string_view> Time(const char* stamp) {
    int64_t t = 0;
    if (svlib_CnvStrTime(stamp, &t) != 0) return std::nullopt;
    time_ = rfc3339_time(t, zone_);
    if (time_.empty()) return std::nullopt;
    return time_.view();
  }

  TimeZoneChoice zone_;
  Rfc3339Text time_;  // the last time given
};

// The fields chosen, in their order.
ListFields chosen_fields() {
  if (g_options.list_fields.count > 0) return g_options.list_fields;
  ListFields every{};
  for (int32_t k = 0; k < kListFieldCount; ++k) every.field[every.count++] = k;
  return every;
}

void write_delimited(OutputBuffer& out, const ListFields& fields, RecordValues& values) {
  const bool csv = g_options.list_format == kListCsv;
  const char separator = csv ? ',' : '\t';
  if (!g_options.list_notitle) {
    for (int32_t k = 0; k < fields.count; ++k) {
      if (k > 0) out.Put(separator);
      out.Put(kListFieldNames[fields.field[k]]);
    }
    out.Put('\n');
  }
  std::string scratch;
  for (const JnwEntry& e : entry_list()) {
    for (int32_t k = 0; k < fields.count; ++k) {
      if (k > 0) out.Put(separator);
      const std::optional<std::string_view> value = values.Get(e, fields.field[k]);
      if (!value) continue;
      const std::string_view text = utf8_text(*value, scratch);
      if (csv) {
        put_csv_field(out, text);
      } else {
        put_tsv_field(out, text);
      }
    }
    out.Put('\n');
  }
}

void write_json_record(JsonWriter& json, const JnwEntry& e, const ListFields& fields,
                       RecordValues& values) {
  for (int32_t k = 0; k < fields.count; ++k) {
    json.Key(kListFieldNames[fields.field[k]]);
    const std::optional<std::string_view> value = values.Get(e, fields.field[k]);
    if (value) {
      json.String(*value);
    } else {
      json.Null();
    }
  }
}

}  // namespace

int list_records(FILE* out) {
  const ListFields fields = chosen_fields();
  RecordValues values(g_options.list_local_time ? TimeZoneChoice::kLocal : TimeZoneChoice::kUtc);
  OutputBuffer buffer(out);
  if (g_options.list_format == kListTsv || g_options.list_format == kListCsv) {
    write_delimited(buffer, fields, values);
    return 0;
  }
  JsonWriter json(buffer);
  if (g_options.list_format == kListJsonl) {
    for (const JnwEntry& e : entry_list()) {
      json.BeginObject().Key("v").Number(kRecordVersion);
      write_json_record(json, e, fields, values);
      json.EndObject();
      buffer.Put('\n');
    }
    return 0;
  }
  json.BeginObject().Key("format_version").String("1.0").Key("trackers").BeginArray();
  for (const JnwEntry& e : entry_list()) {
    json.BeginObject();
    write_json_record(json, e, fields, values);
    json.EndObject();
  }
  json.EndArray().EndObject();
  buffer.Put('\n');
  return 0;
}

}  // namespace flowtally
