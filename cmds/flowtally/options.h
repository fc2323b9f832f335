// The options block that every mode reads, filled from the command line (cmdline.h), and the
// helpers that the option parsers share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace flowtally {

/// Capacity of the text fields of the options block and of the local machine name.
inline constexpr size_t kOptionBufSize = 1024;
/// The longest argument of -c, -o and -t; a longer one is refused.
inline constexpr size_t kOptionTextMax = 1022;
/// search_key (name=, trk=, tid=) keeps at most this many characters; the longest -u accepted.
inline constexpr size_t kSearchKeyMax = 1023;
inline constexpr size_t kUserMax = 1023;
/// Capacity of the date fields: YYYYMMDD or a 14-digit time stamp, and the terminator.
inline constexpr size_t kDateBufSize = 16;
/// Longest date= value accepted.
inline constexpr size_t kDateValueMax = 22;

/// What the command does after the search.
enum SummaryMode : int32_t { kModeList = 0, kModeTest = 1, kModePrint = 2 };

/// The forms of the listing: the table, or the record forms that -l format= chooses.
enum ListFormat : int32_t {
  kListTable = 0,
  kListTsv = 1,
  kListCsv = 2,
  kListJsonl = 3,
  kListJson = 4
};

/// The fields of a listing record, in their default order, and their names (-l fields=, the
/// header line, the JSON keys).
enum ListField : int32_t {
  kFieldTracker,
  kFieldJnw,
  kFieldUser,
  kFieldMachine,
  kFieldState,
  kFieldFlags,
  kFieldStatus,
  kFieldStart,
  kFieldEnd,
  kListFieldCount,
};
inline constexpr const char* kListFieldNames[kListFieldCount] = {
    "tracker", "jnw", "user", "machine", "state", "flags", "status", "start", "end"};

/// The fields that -l fields= chose, in its order; none (count 0) for every field in order.
struct ListFields {
  int32_t count;
  int32_t field[kListFieldCount];  // ListField values
};

/// Trace topics selected with -d N. A topic is on only when DebugKey equals its number; every
/// trace goes to standard error.
enum DebugTopic : int32_t {
  kDebugSearchFilter = 2,    // search filter decisions ("ANAL:" lines)
  kDebugDateCnv = 3,         // "DateCnv: %s -> %s\n" (local stamp, UTC stamp)
  kDebugTestTarget = 4,      // "target component=%s, trk=%s\n"
  kDebugEval = 5,            // expression evaluation
  kDebugPrintDriver = 6,     // print-mode driver
  kDebugToolDump = 7,        // "OldRunscan=%d\n"
  kDebugLoad = 8,            // component loading
  kDebugPrintComponent = 9,  // print mode, per component
};

/// The forms of print mode's report (prt_format).
enum PrintFormat : int32_t {
  kFormatReadable = 0,   // "rd", and any value that is not known
  kFormatCsv = 1,        // "csv"
  kFormatJsonLines = 2,  // "jsonl"
  kFormatJson = 3,       // "json"
};

/// The zone of print mode's JSON times (prt_tz).
enum PrintZone : int32_t { kZoneNotGiven = 0, kZoneUtc = 1, kZoneLocal = 2 };

/// Every command-line setting. Filled once at start-up by parse_options, then read-only (the
/// search may still set date_to to today for srch_last). All text fields are terminated.
struct SummaryOptions {
  int32_t mode;                      // SummaryMode: -t sets kModeTest, -p sets kModePrint
  int32_t DebugKey;                  // -d N: DebugTopic number
  int32_t verbose;                   // -v: progress traces on standard error
  int32_t show_eval;                 // -V: test mode also writes "eval=%d\n" on standard output
  int32_t all_users;                 // -a: search the whole machine instead of one user
  char user[kOptionBufSize];         // -u, default the caller's account name
  char component[kOptionBufSize];    // -c "JNW:subJNW.../Component"
  char output_file[kOptionBufSize];  // -o: standard output is re-opened on it
  char test_expr[kOptionBufSize];    // -t testp="expression"
  int32_t srch_name;                 // -j name=
  int32_t srch_run;                  // -j run
  int32_t srch_last;                 // -j last, or no -j at all
  int32_t srch_date;                 // -j date=
  int32_t srch_today;                // -j today
  int32_t srch_prep;                 // -j prep
  int32_t srch_trk;                  // -j trk=
  int32_t srch_tid;                  // -j tid=
  char search_key[kOptionBufSize];   // value of the last name=, trk= or tid=
  char date_from[kDateBufSize];      // first local day, YYYYMMDD
  char date_to[kDateBufSize];        // last local day, YYYYMMDD
  char range_start[kDateBufSize];    // UTC stamp of date_from 00:00:00 local time
  char range_end[kDateBufSize];      // UTC stamp of date_to 23:59:59 local time
  int32_t prt_format;                // -p format=: PrintFormat
  int32_t prt_style;                 // -p style=
  int32_t prt_ujonly;                // -p ujonly
  int32_t prt_erronly;               // -p erronly
  int32_t prt_output;                // -p output
  int32_t prt_notitle;               // -p notitle
  int32_t prt_quote;                 // -p quote: RFC 4180 quoting of the CSV report
  int32_t prt_tz;                    // -p tz=: PrintZone, the last one given
  int32_t list_format;               // ListFormat: -l format=, kListTable without -l
  int32_t list_notitle;              // -l notitle
  int32_t list_local_time;           // -l tz=local; else times in UTC
  ListFields list_fields;            // -l fields=
};

/// The process-wide options block, all zero at start.
extern SummaryOptions g_options;

/// The local machine name read from the site's localinfo at start-up; empty when unknown.
extern char g_local_machine[kOptionBufSize];

// ---- Helpers shared by the option parsers ------------------------------------------------------

/// Copies at most max_chars characters of src into dst (which holds max_chars + 1 bytes) and
/// terminates it.
void copy_truncated(char* dst, size_t max_chars, const char* src);

/// The leading decimal number of text as the standard atoi reads it (optional blanks and sign),
/// 0 when there is none; values beyond the int range are clamped instead of overflowing.
int read_decimal(const char* text);

}  // namespace flowtally
