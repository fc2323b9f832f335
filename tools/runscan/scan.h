// runscan, the stand-in tracker search tool: its option items, the names of tracker files and
// the lines they hold. Everything here works on texts only; main.cc does the file access.
#pragma once

#include <string>
#include <vector>

/// What an object item (O...) names.
enum class ScanObjectKind {
  kMachine,  // "<m>.machine": every user's trackers
  kUser,     // "<m>:<u>.user": one user's trackers
  kJnw,      // "<m>:<u>:<JNW>.ksjnw": one user's trackers of one JNW
  kTracker,  // "<m>:<u>:<JNWpath>.<stamp>.kstrk": one tracker, or a sub-network of it
};

struct ScanObject {
  std::string text;  // the object as given, for messages
  ScanObjectKind kind = ScanObjectKind::kMachine;
  std::string machine;
  std::string user;   // empty for kMachine
  std::string jnw;    // kJnw: the JNW; kTracker: the JNW path ("A" or "A:sub:sub2")
  std::string stamp;  // kTracker: the tracker's 14-digit stamp
};

/// The parsed option items of one run.
struct ScanOptions {
  ScanObject object;
  bool search = false;       // N1: one entry line per tracker
  bool dump = false;         // U: the detail lines of one tracker
  bool nested = false;       // Z: the dump takes nested sub-networks too
  bool want_stdout = false;  // Fo: the dump keeps the O content blocks
  bool want_stderr = false;  // Fe: the dump keeps the E content blocks
  bool archive = false;      // I: archived trackers count too
  std::string start_from;    // S<stamp>: started at or after; empty: no bound
  std::string start_to;      // E<stamp>: started at or before (or not yet); empty: no bound
  std::vector<std::string> statuses;  // Ps<st>/...: allowed status words; empty: any
  std::string jnw_filter;             // Pj<JNW>: only this JNW; empty: any
};

/// Parses an object text (the item without its 'O'). 0, or -1 when it has none of the four
/// forms: a machine, user, JNW or stamp part that is empty or malformed, a user or JNW that
/// could name more than one directory entry, a stamp that is not 14 digits.
int scan_parse_object(const std::string& text, ScanObject* object);

/// Parses the option items: the items of a single argument are separated by blanks; of several
/// arguments, each is one item, blanks included. 0, or
/// -1 with a one-line reason in *err: an unknown or malformed item, a second object, no
/// object, neither N1 nor U or both, U without a tracker object.
int scan_parse_options(const std::vector<std::string>& args, ScanOptions* options,
                       std::string* err);

/// Splits a tracker file name "<JNW>.<YYYYMMDDhhmmss>.kstrk". 0, or -1 for any other name.
int scan_parse_tracker_file(const std::string& name, std::string* jnw, std::string* stamp);

/// The fields of a J line that the tool works with.
struct ScanJLine {
  std::string jnw_path;  // from field 2, "<m>:<u>:<JNWpath>.<stamp>...": the JNWpath
  std::string status;    // field 3
  std::string start;     // field 5
  std::string flags;     // field 11, the extended status letters
};

/// Parses a J line. 0, or -1 when the line does not begin with 'J', has fewer than 11 fields,
/// or its field 2 has no JNW path after two ':'; why, when given, then receives what is wrong,
/// to follow "line N " ("is a J line with 3 of its 11 fields: field 4 (error class) and
/// those after it are missing").
int scan_parse_jline(const std::string& line, ScanJLine* jline, std::string* why = nullptr);

/// The J line with the letter 'a' (archived) added to its extended status field: "-" becomes
/// "a", a field that holds 'a' already stays. A line that scan_parse_jline refuses is returned
/// unchanged.
std::string scan_mark_archived(const std::string& line);

/// True when the tracker of JNW jnw, whose J line is top, passes the search filters (S, E, Ps,
/// Pj) of options. A start that begins with '-' (not started) fails an S bound and passes an E
/// bound.
bool scan_select(const ScanOptions& options, const std::string& jnw, const ScanJLine& top);

/// Case-insensitive equality of two names (ASCII letters), as the product compares JNW, file
/// and machine names.
bool scan_same_name(const std::string& a, const std::string& b);

/// The line-by-line selection of a dump. Feed every line of the tracker file, in order, to
/// scan_dump_take.
struct ScanDump {
  std::string target;        // the JNW path that is dumped
  bool nested = false;       // nested sub-networks of target are dumped too
  bool want_stdout = false;  // O blocks are kept
  bool want_stderr = false;  // E blocks are kept
  bool in_network = false;   // the lines since the last J line are dumped
  char block = 0;            // 'O' or 'E' while inside a content block, else 0
  bool found = false;        // target's own J line was met
};

/// Results of scan_dump_take.
enum class ScanTake {
  kSkip,       // the line is not part of the dump
  kPrint,      // print the line unchanged
  kPrintHead,  // print it: it is the J line of the dumped network itself
  kBadLine,    // a J line that scan_parse_jline refuses: the tracker file is damaged
};

ScanTake scan_dump_take(ScanDump* dump, const std::string& line);
