// The sub-option parsers of -j (search) and -p (print), and the date conversions of the
// search range. Each fills the options block (options.h).
#pragma once

namespace flowtally {

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
/// "Invalid option: %s\n" (the whole item) for an unknown key, a quote item with a value, or a
/// tz= value other than utc and local.
int parse_print_options(char* text);

/// Checks the -p items that only some formats take, against the format in force once every -p
/// is read: quote needs format=csv, tz= one of the JSON formats. Returns 0, or -1 after
/// "Invalid option: %s\n" with the item.
int check_print_options();

/// Parses one -l argument (modified in place) into the list_* settings; the listing's form
/// becomes tsv unless a format= item says otherwise, and a repeated item replaces the earlier
/// one. Returns 0, or -1 after "Invalid option: %s\n" with the whole item for an unknown item
/// or value, a fields= list that is empty or names a field twice, or a tz= other than utc or
/// local.
int parse_list_options(char* text);

/// Today's local date as YYYYMMDD into out (kDateBufSize bytes).
void format_today(char* out);

/// Converts a local day (YYYYMMDD) at time_of_day (hhmmss) into the UTC stamp out
/// (kDateBufSize bytes), tracing "DateCnv: %s -> %s\n" under DebugKey 3. -1 when the instant
/// cannot be represented (out untouched).
int convert_date_bound(const char* day, const char* time_of_day, char* out);

}  // namespace flowtally
