// The loader: reads a dumped spool file, line by line, into the record lists, the load summary
// and the load table. A component line is parsed into a ComponentLine, and each job line makes
// a record of its type with that type's print operations.
//
// Single-threaded: the loader keeps process-wide state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "cmds/flowtally/line_piece.h"
#include "cmds/flowtally/records.h"

namespace flowtally {

// ---- Component lines ----------------------------------------------------------------------------

/// A component line is cut into at most this many fields; later fields are ignored.
inline constexpr int kComponentFields = 20;

/// Widths of the texts of ComponentLine (characters, without the terminator). Longer fields are
/// cut to these widths.
inline constexpr size_t kCompNameMax = 256;
inline constexpr size_t kCompStatusMax = 16;
inline constexpr size_t kCompExtstatMax = 128;
inline constexpr size_t kCompStampMax = 14;
inline constexpr size_t kCompMachineMax = 255;
inline constexpr size_t kCompRequestIdMax = 265;

/// Sub-kinds of a 'Z' line: "java" makes an HLBS job, anything else a custom job.
inline constexpr int32_t kSubkindHlbs = 8;
inline constexpr int32_t kSubkindCustom = 9;

/// The parsed form of one component line. One instance is reused for every line of a load, so
/// a field that a line type does not set keeps the previous line's value (a 'J' line sets
/// neither errclass, code, machine nor requestid; a 'V' line neither machine nor requestid; 'O'
/// and 'E' lines set only type). A field that a line type uses but the line does not carry
/// reads as absent: "-" for a time stamp, "" for a text, 0 for a number.
struct ComponentLine {
  char type;                              // type letter
  int32_t subkind;                        // 'Z' lines: kSubkindHlbs or kSubkindCustom
  char name[kCompNameMax + 1];            // component name; 'J': JNW name from the path
  char status[kCompStatusMax + 1];        // status word (wait, prep, submit, run, done, ...)
  char extstat[kCompExtstatMax + 1];      // extended status flag letters
  char start[kCompStampMax + 1];          // start stamp or "-"
  char end[kCompStampMax + 1];            // end stamp or "-"
  char expstart[kCompStampMax + 1];       // expected start stamp or "-"
  int32_t expdur;                         // expected duration in seconds
  int32_t errclass;                       // error class, 0 when the job ended with exit code
  int32_t code;                           // exit code, or error code when errclass != 0
  char machine[kCompMachineMax + 1];      // machine that ran the job
  char requestid[kCompRequestIdMax + 1];  // request id of the job
};

/// Splits line (not modified; any length) with svlib_SplitWords and decodes it into out.
/// Returns 0 when accepted; 1 when it is not a component line (first byte tab, blank or '#',
/// no field, or a type letter outside B D E J O P U V X Z); -1 for a 'J' line whose tracker
/// path has no JNW name. 'E' and 'O' lines are accepted with only type set.
///
/// For a 'J' line, name is the JNW path of the tracker path (machine:user:NAME.STAMP[.suffix])
/// and expstart is the tracker's stamp, moved by field 10 seconds when field 10 is not "-" and
/// the stamp is a valid time; expdur is 0 when field 9 is "-".
int parse_component_line(const char* line, ComponentLine& out);

// ---- The load -----------------------------------------------------------------------------------

/// Empties everything a load fills: frees jnwname and jnwdate, zeroes the summary's times and
/// class and the load table, frees the JNW list and the seven type lists with their records,
/// and makes them anew, empty.
/// Also forgets the current JNW record, the last type code and each list's last added record.
/// Returns 0.
int summary_reset();

/// Reads the spool file at path into the lists, the load summary and the load table. A load
/// starts with no current JNW record and no last job record: job lines before the first 'J'
/// line are loaded without a parent and counted only into the load table; 'O'/'E' lines before
/// the first job line change nothing. Returns 0; -1 after "flowtally: Unable to open spool
/// file:PATH" and "flowtally: " with the system's error text when the file cannot be opened,
/// and -1 after "flowtally: Unable to read spool file:PATH" and the error text when reading
/// fails (what was read so far stays loaded). With DebugKey kDebugLoad every piece read, every
/// accepted line and every noted content block is traced on standard error.
int summary_load(const char* path);

}  // namespace flowtally
