#include "cmds/flowtally/runscan.h"

#include <cerrno>
#include <cstdio>

#include "cmds/flowtally/records.h"
#include "cmds/flowtally/search.h"
#include "environment/lwfile.h"
#include "platform/error.h"

namespace flowtally {

namespace {

constexpr char kToolName[] = "runscan";

// One running tool and the lines it prints. A line longer than kToolLineMax is cut there and
// the rest of it is read and dropped, so a tail can never pose as a line of its own.
class ToolReader {
 public:
  bool Start(const char* options) {
    Close();
    return runscan_open(options, &child_);
  }

  // The next line, or nullptr at the end of the output (the tool is then collected). The line
  // is handed on as read, newline included; a NUL byte in it ends the text its reader sees.
  char* Next() {
    if (!child_.Running()) return nullptr;
    FILE* in = child_.Output();
    // Counted, not read with fgets: the piece's length must be known whatever bytes it holds, or
    // a NUL in a line would make it look cut and its successor be dropped as its rest.
    bool ended = false;
    const size_t len = read_line_piece(in, line_, kToolLineMax, &ended);
    line_[len] = '\0';
    if (len == 0) {
      Close();
      return nullptr;
    }
    if (len == kToolLineMax && !ended) {
      int c;
      while ((c = std::getc(in)) != EOF && c != '\n') {
      }
    }
    return line_;
  }

  int Close() { return child_.Finish(); }

 private:
  platform::ChildProcess child_;
  char line_[kToolLineMax + 1] = {};
};

ToolReader entry_reader;
ToolReader detail_reader;

}  // namespace

std::vector<std::string> split_tool_options(const char* options) {
  std::vector<std::string> items;
  const char* p = options != nullptr ? options : "";
  while (*p != '\0') {
    while (*p == ' ') ++p;
    const char* start = p;
    while (*p != '\0' && *p != ' ') ++p;
    if (p > start) items.emplace_back(start, p);
  }
  return items;
}

bool runscan_open(const char* options, platform::ChildProcess* child) {
  const char* path = lwfile_bin_path(kToolName);
  if (path == nullptr) {
    if (platform::GetLastError() == platform::kErrorSuccess) {
      platform::SetLastError(platform::kErrorFileNotFound);
    }
    std::fprintf(stderr, "Unable to execute runscan:%s\nec=%d\n", "",
                 static_cast<int>(platform::GetLastError()));
    return false;
  }
  if (!child->Start(path, split_tool_options(options))) {
    std::fprintf(stderr, "Unable to execute runscan:%s\nec=%d\n", path,
                 static_cast<int>(platform::GetLastError()));
    return false;
  }
  return true;
}

int runscancmd_redirect(const char* options, const char* file) {
  platform::SetLastError(platform::kErrorSuccess);
  errno = 0;
  const char* path = lwfile_bin_path(kToolName);
  int rc = -1;
  if (path == nullptr) {
    errno = ENOENT;
  } else {
    rc = platform::RunRedirected(path, split_tool_options(options), file);
  }
  if (rc != 0) {
    std::fprintf(stderr, "runscandmd_redirect:execution error: runscan rc=%d, errno=%d\n", rc,
                 errno);
  }
  return rc;
}

const EntryLine* runscancmd_jnwent(const char* options) {
  static EntryLine entry;
  if (options != nullptr && !entry_reader.Start(options)) {
    std::fputs("runscancmd_jnwent: Unable to execute runscan.\n", stderr);
    return nullptr;
  }
  while (char* line = entry_reader.Next()) {
    if (parse_entry_line(line, &entry) == 0) return &entry;
  }
  return nullptr;
}

const ComponentLine* runscancmd_jnwdetail(const char* options) {
  static ComponentLine component;
  if (options != nullptr && !detail_reader.Start(options)) {
    std::fputs("runscancmd_jnwdetail: Unable to execute runscan.\n", stderr);
    return nullptr;
  }
  while (char* line = detail_reader.Next()) {
    if (parse_component_line(line, component) == 0) return &component;
  }
  return nullptr;
}

int runscancmd_jnwdetail_close() { return detail_reader.Close(); }

}  // namespace flowtally
