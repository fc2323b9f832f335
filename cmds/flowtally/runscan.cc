#include "cmds/flowtally/runscan.h"

#include <cerrno>
#include <cstdio>

#include "cmds/flowtally/line_piece.h"
#include "common/kssettings.h"
#include "environment/lwfile.h"
#include "platform/error.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace flowtally {

namespace {

constexpr char kToolName[] = "runscan";

// Seconds that one run of the tool may take; 0 for no limit (the value is absent, unreadable
// or 0).
unsigned tool_time_limit() {
  const uint32_t seconds = KSRegGetDword(platform::kProductKeyPath, "KSToolTimeout");
  return seconds == 0xFFFFFFFF ? 0 : seconds;
}

// Starts runscan with its standard output on child's pipe. False after
// "Unable to execute runscan:%s\nec=%d\n" (path, system error code).
bool runscan_open(const ToolOptions& options, platform::ChildProcess* child) {
  const char* path = lwfile_bin_path(kToolName);
  if (path == nullptr) {
    if (platform::GetLastError() == platform::kErrorSuccess) {
      platform::SetLastError(platform::kErrorFileNotFound);
    }
    std::fprintf(stderr, "Unable to execute runscan:%s\nec=%d\n", "",
                 static_cast<int>(platform::GetLastError()));
    return false;
  }
  if (!child->Start(path, options.items(), tool_time_limit())) {
    std::fprintf(stderr, "Unable to execute runscan:%s\nec=%d\n", path,
                 static_cast<int>(platform::GetLastError()));
    return false;
  }
  return true;
}

// Reads the next line of in into line (kLinePieceMax + 1 bytes): false at the end of the output.
// A longer line is cut there and the rest of it is read and dropped, so a tail can never pose
// as a line of its own.
bool next_tool_line(BlockReader& in, char* line) {
  // Counted, not read with fgets: the piece's length must be known whatever bytes it holds, or
  // a NUL in a line would make it look cut and its successor be dropped as its rest.
  bool ended = false;
  const size_t len = in.Next(line, kLinePieceMax, &ended);
  line[len] = '\0';
  if (len == 0) return false;
  if (len == kLinePieceMax && !ended) in.SkipLine();
  return true;
}

// One run of the tool for a reader named who: its lines go to on_line, and its end decides.
int read_tool(const char* who, const ToolOptions& options, const ToolLineHandler& on_line) {
  platform::ChildProcess child;
  if (!runscan_open(options, &child)) {
    std::fprintf(stderr, "%s: Unable to execute runscan.\n", who);
    return -1;
  }
  BlockReader in(child.Output(), kReadBlockSize);
  char line[kLinePieceMax + 1];
  bool wanted = true;
  while (next_tool_line(in, line)) {
    if (wanted) wanted = on_line(line);
  }
  const platform::ChildEnd end = child.Finish();
  // Output that could not be read to its end is no answer, however the tool ended.
  if (in.failed()) {
    std::fprintf(stderr, "%s:execution error: runscan output cannot be read: %s\n", who,
                 platform::ErrnoText(in.error()).c_str());
    return -1;
  }
  if (end.Succeeded()) return 0;
  std::fprintf(stderr, "%s:execution error: runscan %s\n", who,
               platform::DescribeChildEnd(end).c_str());
  return -1;
}

}  // namespace

void ToolOptions::Join(char c) {
  if (!in_item_) items_.emplace_back();
  items_.back() += c;
  in_item_ = true;
}

ToolOptions& ToolOptions::Add(std::string_view text) {
  text_ += text;
  for (char c : text) {
    if (c == ' ') {
      in_item_ = false;
    } else {
      Join(c);
    }
  }
  return *this;
}

ToolOptions& ToolOptions::AddValue(std::string_view value) {
  text_ += value;
  for (char c : value) Join(c);
  return *this;
}

int runscancmd_jnwent(const ToolOptions& options, const ToolLineHandler& on_line) {
  return read_tool("runscancmd_jnwent", options, on_line);
}

int runscancmd_jnwdetail(const ToolOptions& options, const ToolLineHandler& on_line) {
  return read_tool("runscancmd_jnwdetail", options, on_line);
}

int runscancmd_redirect(const ToolOptions& options, const char* file) {
  platform::SetLastError(platform::kErrorSuccess);
  errno = 0;
  const char* path = lwfile_bin_path(kToolName);
  platform::ChildEnd end;
  if (path == nullptr) {
    errno = ENOENT;
  } else {
    end = platform::RunRedirected(path, options.items(), file, tool_time_limit());
  }
  if (end.Succeeded()) return 0;
  const int saved_errno = errno;
  const std::string how =
      end.kind == platform::ChildEnd::kNotRun ? "rc=-1" : platform::DescribeChildEnd(end);
  std::fprintf(stderr, "runscandmd_redirect:execution error: runscan %s, errno=%d\n", how.c_str(),
               saved_errno);
  return end.kind == platform::ChildEnd::kExited ? end.code : -1;
}

}  // namespace flowtally
