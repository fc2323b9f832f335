// Tracker search: runs the tracker search tool with the criteria of the options block, keeps
// the selected trackers in the process-wide entry list, and resolves component specifications
// against a tracker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>

#include "cmds/flowtally/runscan.h"

namespace flowtally {

/// Capacity of a field of the tool's lines (user, status, flags).
inline constexpr size_t kToolFieldSize = 128;
/// Capacity of a tracker name, a tracker path and a component target.
inline constexpr size_t kTrackerPathSize = 1024;
/// Capacity of a time stamp field of an entry: 14 digits and the terminator.
inline constexpr size_t kStampSize = 15;

/// Status codes of a tracker.
enum TrackerStatus : int32_t { kStatusWait = 0, kStatusPrep = 1, kStatusRun = 2, kStatusDone = 3 };

/// The parse of one entry line of the tool; one instance is reused for every line.
struct EntryLine {
  char trackername[kTrackerPathSize];  // JNW.YYYYMMDDhhmmss, without ".kstrk"
  char machine[kTrackerPathSize];      // first part of the object path; a line always fits
  char user[kToolFieldSize];
  char status[kToolFieldSize];  // status word
  char flags[kToolFieldSize];   // extended status letters
  char start[kStampSize];       // 14-digit UTC stamp, or a text that begins with '-'
  char end[kStampSize];
};

/// One tracker kept by the search.
struct JnwEntry {
  std::string user;
  std::string trackername;
  std::string machine;  // as the tool's object path names it
  std::string flags;
  int32_t status = kStatusWait;
  char start[kStampSize] = {};
  char end[kStampSize] = {};
};

/// The entry list: ascending tracker names, compared byte by byte after mapping ASCII upper
/// case to lower case; equal names keep their reading order.
using EntryList = std::list<JnwEntry>;
const EntryList& entry_list();

/// Runs the search once and fills the entry list. Returns the number of entries added (>= 0);
/// a tool that cannot be started, or whose run failed, yields 0 and leaves the list empty.
int search_trackers();

/// The tool's options for the search criteria of the options block. Sets date_to to today for
/// srch_last when it is still empty.
ToolOptions build_search_options();

/// 0 when line is an entry line of a top-level tracker (entry filled), -1 otherwise: fewer
/// than 11 fields, a malformed object path or stamp, a sub-network's tracker, a tracker name
/// without '.', or a text longer than its field.
int parse_entry_line(const char* line, EntryLine* entry);

/// Applies the search filter to one parsed line: 0 when a new entry was added, 1 when it
/// replaced an entry or was not entered (srch_last), -1 when it was dropped.
int filter_entry(const EntryLine& line);

/// Adds an entry in list order.
void entry_insert(const char* trackername, const char* user, const char* start, const char* end,
                  int32_t status, const char* flags, const char* machine);

/// Keeps only the latest-started tracker per JNW and user: 0 when a new entry was added, 1
/// when it replaced older ones or an equal or later one was kept.
int entry_insert_latest(const char* trackername, const char* user, const char* start,
                        const char* end, int32_t status, const char* flags, const char* machine);

/// Removes an entry from the list.
void entry_remove(EntryList::iterator entry);

/// Empties the entry list.
void entry_list_clear();

/// Matches component_option, the component specification (-c), against a tracker of user and
/// builds the tracker path (machine:user:JNWpath.stamp.kstrk) and the target. Returns 0 when it
/// is empty or names the tracker's JNW or one of its sub-networks (target =
/// tracker path), 1 when it names a component after '/' (target = that name), -1 when it does
/// not fit the tracker or the path would not fit its buffer. target and trkpath hold
/// kTrackerPathSize bytes.
int resolve_component(const char* trackername, const char* user, const char* component_option,
                      char* target, char* trkpath);

}  // namespace flowtally
