// The interface to the scheduler's tracker search tool, runscan (<base>/bin/runscan).
//
// The tool is started directly, never through a shell, and each option item is exactly one
// argument: the items that the command itself separates with blanks become separate arguments,
// and a value that a user typed (-u, -c, -j name=, trk=, tid=) stays inside its one item
// whatever it holds, so it is only ever data. Its standard input is the null device and its
// standard error is ours.
//
// How the tool ended is part of its answer: a run that ends with a status other than 0, by a
// signal, or by the time limit (registry value KSToolTimeout, seconds; absent or 0: none) has
// failed, and none of its lines count.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace flowtally {

/// An option string of the tool: its text as the traces show it, and its items, one argument
/// each.
class ToolOptions {
 public:
  /// Appends text of the command's own: a blank ends the item being written, and every other
  /// character joins it (or starts the next one).
  ToolOptions& Add(std::string_view text);
  /// Appends a value that a user typed: all of it joins the item being written, blanks
  /// included.
  ToolOptions& AddValue(std::string_view value);

  const std::string& text() const { return text_; }
  const std::vector<std::string>& items() const { return items_; }

 private:
  void Join(char c);

  std::string text_;
  std::vector<std::string> items_;
  bool in_item_ = false;
};

/// Receives one line of the tool's output (newline included, at most kLinePieceMax characters;
/// a NUL byte in it ends the text). Returns false to read no further lines: the rest of the
/// output is then read and dropped, so that the tool's end is still known.
using ToolLineHandler = std::function<bool(const char* line)>;

/// The search reader: runs runscan with options and hands each line of its output to on_line.
/// Returns 0 when the tool ended with status 0; -1 when it could not be started (after
/// "runscancmd_jnwent: Unable to execute runscan.\n") or failed (after
/// "runscancmd_jnwent:execution error: runscan <how it ended>\n"), when the lines handed on must
/// not count.
int runscancmd_jnwent(const ToolOptions& options, const ToolLineHandler& on_line);

/// The detail reader: the same, for a tracker's component lines, with "runscancmd_jnwdetail" in
/// its messages.
int runscancmd_jnwdetail(const ToolOptions& options, const ToolLineHandler& on_line);

/// Runs runscan with options and its standard output written into file, and waits for it.
/// Returns 0 when it ended with status 0; otherwise, after
/// "runscandmd_redirect:execution error: runscan <how it ended>, errno=%d\n" (how it ended is
/// "rc=N" for an exit status, "rc=-1" when it could not be run), the exit status, or -1.
int runscancmd_redirect(const ToolOptions& options, const char* file);

}  // namespace flowtally
