// Print mode: a report per entry of the entry list, readable, CSV or JSON.
//
// For each tracker the driver has runscan dump the tracker's detail into a spool file under
// the site's spool temporary directory, loads the file into the records, has the chosen report
// writer write the report, and removes the file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "cmds/flowtally/options.h"
#include "cmds/flowtally/report.h"
#include "cmds/flowtally/runscan.h"
#include "cmds/flowtally/search.h"

namespace flowtally {

/// Capacity of a spool file path, terminator included. The directory and the file name must
/// fit together; a longer path is refused before anything is dumped.
inline constexpr size_t kSpoolPathSize = 260;

/// Dumps, loads and reports each tracker of the entry list in turn on out. With keep_old, out
/// is a file whose old content stays until the first report that shows something of the
/// component asked for (any report without -c) is about to be written: it is emptied then; when
/// it cannot be, "flowtally: Unable to write output:%s\n" (the -o file) and the reason end the
/// reports as a failure. A tracker that fails gets one message on standard error and the next one
/// is handled; every spool file is removed (also when the process is interrupted), except under
/// DebugKey 9 after a good report, where it is kept and named. After the last tracker, a component
/// specification that was checked against trackers and fitted none is reported. In the JSON forms
/// a tracker that fails also gets its error record (or element) with the last line of its
/// messages, and the document is closed at the end (the empty document when it holds nothing),
/// all of it held back while an -o file keeps its old content. Stops early,
/// without a message, when writing to out fails (the caller reports the output error). Returns 0;
/// -1 when one or more trackers could not be reported (spool file, dump, load or report); -2, after
/// "No component %s found.\n" on standard error, when -c names a component and no loaded tracker
/// held a record of it (a tracker that the -c text does not fit is no failure).
int print_mode(FILE* out, bool keep_old);

/// The reason (an errno value) why writing a report to out failed in print_mode, when the
/// failed write told it; 0 otherwise.
int print_output_errno();

/// Runs the dump of entry's tracker into the file spool_path, asking for the jobs' first and
/// second content blocks as want_first and want_second say. Returns 0 when done, -1 when
/// runscan failed (after its message), -2 when the component specification of the options
/// does not fit the tracker (nothing is run).
int summary_dumpdata(const JnwEntry& entry, const char* spool_path, int want_first,
                     int want_second);

/// The content item of a dump: "Foe" for both blocks, "Fo" for the first only, "Fe" for the
/// second only, "" for neither.
const char* dump_content_item(int want_first, int want_second);

/// The runscan options of a dump of the tracker path trkpath, where resolved is the result of
/// resolve_component (0 a network, 1 a job): "O<trkpath> Z U <content> <prep>" for a network
/// when the component option holds no ':' (nested sub-networks are wanted), else
/// "O<trkpath> U <content> <prep>"; <prep> is "" with srch_prep, else "I". The tracker path
/// stays one item.
ToolOptions build_dump_options(const char* trkpath, int resolved, int want_first, int want_second);

/// The content switch of print mode: set for the readable report and the JSON forms with the
/// output print option and style 1 or more. It asks for the jobs' captured output.
int print_content_switch(const SummaryOptions& options);

/// The switches handed to the report writers, from the print options.
ReportSwitches print_report_switches(const SummaryOptions& options);

}  // namespace flowtally
