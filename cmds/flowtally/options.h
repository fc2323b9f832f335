// The command line of flowtally: the options block that every mode reads, the option scanner,
// the option loop, the usage texts and the sub-option parsers of -j (search) and -p (print).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace flowtally {

/// Capacity of the text fields of the options block and of the local machine name.
inline constexpr size_t kOptionBufSize = 1024;
/// -c, -o and -t keep at most this many characters of their argument.
inline constexpr size_t kOptionTextMax = 1022;
/// search_key (name=, trk=, tid=) and user keep at most this many characters.
inline constexpr size_t kSearchKeyMax = 1023;
inline constexpr size_t kUserMax = 1023;
/// Capacity of the date fields: YYYYMMDD or a 14-digit time stamp, and the terminator.
inline constexpr size_t kDateBufSize = 16;
/// Longest date= value accepted.
inline constexpr size_t kDateValueMax = 22;

/// What the command does after the search.
enum SummaryMode : int32_t { kModeList = 0, kModeTest = 1, kModePrint = 2 };

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
  int32_t prt_format;                // -p format=: 0 readable ("rd"), 1 CSV
  int32_t prt_style;                 // -p style=
  int32_t prt_ujonly;                // -p ujonly
  int32_t prt_erronly;               // -p erronly
  int32_t prt_output;                // -p output
  int32_t prt_notitle;               // -p notitle
};

/// The process-wide options block, all zero at start.
extern SummaryOptions g_options;

/// The local machine name read from the site's localinfo at start-up; empty when unknown.
extern char g_local_machine[kOptionBufSize];

// ---- Option scanner --------------------------------------------------------------------------
// The command's own single-letter scanner; its state is process-wide.

/// Index of the next argument to scan; starts at 1.
extern int optind;
/// Argument of the option just returned, or nullptr.
extern char* optarg;
/// When non-zero (the start value 1), the scanner writes its own error lines on standard error.
extern int opterr;

/// Returns the next option character of argv, '?' for an illegal option or a missing argument
/// (after "argv[0]: ERROR: ... -- c" when opterr is set), or -1 at the first argument that is
/// not an option ("-" alone included) and after "--" (which it steps over). Options without an
/// argument may share one word ("-vV"); an argument may follow its letter in the same word
/// ("-dthree") or be the whole next word, whatever it begins with.
int getopt(int argc, char* const argv[], const char* optstring);

// ---- Option loop and usage ---------------------------------------------------------------------

/// Fills g_options from the command line (option string "vVd:hu:c:j:p:t:ao:"). Returns 0, or
/// -1 after its message; the caller then writes the short usage line. -h writes the long usage
/// on standard error and ends the process with 0; an empty "-j name=" ends it with 2. When no
/// -j is given, the search defaults to "last".
int parse_options(int argc, char** argv);

/// Writes the short usage line, or with long_text the full usage text, on stream.
void usage(FILE* stream, bool long_text);

// ---- Sub-options
// ---------------------------------------------------------------------------------

/// Takes the next comma-separated item of *optionp: ends it in place, moves *optionp past it,
/// and matches its key (the text before any '=', exact length and case) against the
/// nullptr-terminated keys. Returns the index of the key with *valuep at the text after '='
/// (nullptr without '='), or -1 with *valuep at the whole item (nullptr when *optionp is empty).
int getsubopt(char** optionp, const char* const* keys, char** valuep);

/// Parses one -j argument (modified in place) into the srch_* flags, search_key and the date
/// fields, then checks the combination of all search flags set so far. Unknown keys are
/// skipped. Returns 0, or -1 after its message. An empty name= value writes
/// "No JNW detected.\n" and ends the process with 2.
int parse_search_options(char* text);

/// Parses a date= value "FROM[-TO]" into date_from and date_to (both YYYYMMDD; TO defaults to
/// FROM). Each part is YYYYMMDD, D, M/D or Y/M/D, the missing parts taken from today's local
/// date. Returns 0, or -1 (the fields untouched) for a value longer than kDateValueMax (after
/// "bad usage\n"), a missing FROM, more than three fields, or a day that is not in the calendar.
int parse_date_range(const char* value);

/// Parses one -p argument (modified in place) into the prt_* settings. Returns 0, or -1 after
/// "Invalid option: %s\n" for an unknown key.
int parse_print_options(char* text);

// ---- Helpers shared by the option parsers ------------------------------------------------------

/// Copies at most max_chars characters of src into dst (which holds max_chars + 1 bytes) and
/// terminates it.
void copy_truncated(char* dst, size_t max_chars, const char* src);

/// The leading decimal number of text as the standard atoi reads it (optional blanks and sign),
/// 0 when there is none; values beyond the int range are clamped instead of overflowing.
int read_decimal(const char* text);

/// Today's local date as YYYYMMDD into out (kDateBufSize bytes).
void format_today(char* out);

/// Converts a local day (YYYYMMDD) at time_of_day (hhmmss) into the UTC stamp out
/// (kDateBufSize bytes), tracing "DateCnv: %s -> %s\n" under DebugKey 3. -1 when the instant
/// cannot be represented (out untouched).
int convert_date_bound(const char* day, const char* time_of_day, char* out);

/// Puts the options block, the local machine name and the scanner state back to their start
/// values. For tests, which run the option loop many times in one process.
void reset_options_state();

}  // namespace flowtally
