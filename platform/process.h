// The running process, its environment, and the child processes it starts.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace platform {

/// The calling process's id.
int CurrentProcessId();

/// Sets an environment variable for this process and the children it starts. False on failure,
/// with the last-error code set.
bool SetEnvironmentVariable(const char* name, const char* value);

/// A child process started directly (never through a shell) whose standard output is read
/// through a pipe. Its standard input is the null device; its standard error is ours. This
/// works whether or not our own standard streams are open.
/// Destroying a running child closes the pipe and waits for it.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  /// Starts program with argv[0] = program and the further arguments. False, with the
  /// last-error code set, when the pipe cannot be made or the program cannot be started.
  /// REQUIRES: no child is running in this object.
  bool Start(const std::string& program, const std::vector<std::string>& args);

  /// The read end of the child's standard output; nullptr when no child is running.
  FILE* Output() const { return output_; }

  /// Closes the pipe, waits for the child and returns its exit status (128 + signal number
  /// when a signal ended it, -1 when it cannot be collected). Safe to call when not running.
  int Finish();

  bool Running() const { return pid_ > 0; }

 private:
  int pid_ = -1;
  FILE* output_ = nullptr;
};

/// Runs program directly with its standard output written into the file at out_path (created
/// if missing, truncated otherwise), waits, and returns its exit status as Finish() does, or
/// -1 with the last-error code set when the file cannot be opened or the program not started.
/// A symbolic link at out_path is refused (-1), never followed: the file that it names is left
/// as it is.
int RunRedirected(const std::string& program, const std::vector<std::string>& args,
                  const std::string& out_path);

}  // namespace platform
