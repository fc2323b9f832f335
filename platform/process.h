// The running process, its environment, and the child processes it starts.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace platform {

/// What the name of a program file ends in: "" on POSIX, ".exe" on Windows.
extern const char kProgramSuffix[];

/// The calling process's id.
int CurrentProcessId();

/// Sets an environment variable for this process and the children it starts. False on failure,
/// with the last-error code set.
bool SetEnvironmentVariable(const char* name, const char* value);

/// How a child process ended. Only an exit with status 0 is a success: a child that ends with
/// another status, is ended by a signal, or is ended because its time limit passed has failed.
struct ChildEnd {
  enum Kind {
    kNotRun,    // it could not be started or collected (the last-error code says why)
    kExited,    // it exited; code is its exit status
    kSignaled,  // a signal ended it; code is the signal number
    kTimedOut,  // its time limit passed and it was ended; code is the limit in seconds
  };
  Kind kind = kNotRun;
  int code = -1;

  bool Succeeded() const { return kind == kExited && code == 0; }
};

/// How end came about, for a message: "rc=5", "ended by signal 9 (Killed)", "ended after the
/// time limit of 10 s", "could not be run".
std::string DescribeChildEnd(const ChildEnd& end);

/// The arguments of a child: each element reaches the child as exactly one argument, whatever
/// blanks, quotes or metacharacters it holds. Never interpreted by a shell.
using ChildArgs = std::vector<std::string>;

/// A child process started directly (never through a shell) whose standard output is read
/// through a pipe. Its standard input is the null device; its standard error is ours. This
/// works whether or not our own standard streams are open.
///
/// The child runs in a group of its own (a process group, a job object) with the processes that
/// it starts: where it is ended, they end with it, and those it leaves behind end when it is
/// collected. Every running child is known to the process: when an interrupt ends this process
/// (see platform/signal.h), its running children are ended and collected first.
///
/// Destroying a running child closes the pipe and waits for it.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  /// Starts program with argv[0] = program and args. With time_limit_seconds above 0 the child
  /// is ended when it has run that long, even when it has exited but something it started
  /// still holds its output: a reader of its output then sees the end of file, and Finish()
  /// reports kTimedOut. False, with the last-error code set, when the pipe
  /// cannot be made or the program cannot be started.
  /// REQUIRES: no child is running in this object.
  bool Start(const std::string& program, const ChildArgs& args, unsigned time_limit_seconds = 0);

  /// The read end of the child's standard output; nullptr when no child is running.
  FILE* Output() const { return output_; }

  /// Closes the pipe, waits for the child and says how it ended. A child that was still writing
  /// when the pipe closed may fail for that: read its output to the end first when its end
  /// matters. kNotRun when no child is running.
  ChildEnd Finish();

  bool Running() const { return slot_ >= 0; }

 private:
  int slot_ = -1;  // the child's place in the process's table of running children
  FILE* output_ = nullptr;
};

/// Runs program directly with its standard output written into the file at out_path (created
/// if missing, truncated otherwise), waits, and says how it ended, under the time limit as
/// ChildProcess::Start() sets it. kNotRun, with the last-error code set, when the file cannot
/// be opened or the program not started. A symbolic link at out_path is refused, never
/// followed: the file that it names is left as it is.
ChildEnd RunRedirected(const std::string& program, const ChildArgs& args,
                       const std::string& out_path, unsigned time_limit_seconds = 0);

}  // namespace platform
