// The interface to the scheduler's tracker search tool, runscan (<base>/bin/runscan).
//
// The tool is started directly, never through a shell: its option string is split at runs of
// blanks into arguments, so values that users typed (-u, -c, -j name=, trk=, tid=) are only
// ever data. Its standard input is the null device and its standard error is ours.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/process.h"

namespace flowtally {

struct EntryLine;
struct ComponentLine;

/// One read of the tool's output takes at most this many characters; the rest of a longer
/// line is skipped, never taken for a line of its own.
inline constexpr size_t kToolLineMax = 1022;

/// The items of an option string: the words between runs of blanks.
std::vector<std::string> split_tool_options(const char* options);

/// Starts runscan with options, its standard output on child's pipe. false after
/// "Unable to execute runscan:%s\nec=%d\n" (path, system error code) on standard error.
bool runscan_open(const char* options, platform::ChildProcess* child);

/// Runs runscan with options and its standard output written into file, and waits for it.
/// Returns the tool's exit status; a status other than 0 (-1 when it could not be run) is
/// reported with "runscandmd_redirect:execution error: runscan rc=%d, errno=%d\n".
int runscancmd_redirect(const char* options, const char* file);

/// The search reader. Called with options it (re)starts the tool; every call returns the next
/// entry line of the output that parse_entry_line accepts, or nullptr at the end of the output
/// (the tool is then collected) and until it is started again. The line is overwritten by the
/// next call. On a failed start: "runscancmd_jnwent: Unable to execute runscan.\n".
const EntryLine* runscancmd_jnwent(const char* options);

/// The detail reader: the same for component lines accepted by parse_component_line.
/// On a failed start: "runscancmd_jnwdetail: Unable to execute runscan.\n".
const ComponentLine* runscancmd_jnwdetail(const char* options);

/// Closes the detail reader early and collects the tool; returns its exit status (-1 when it
/// was not running).
int runscancmd_jnwdetail_close();

}  // namespace flowtally
