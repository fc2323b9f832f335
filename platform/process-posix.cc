#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/process.h"

extern char** environ;

namespace platform {

int CurrentProcessId() { return static_cast<int>(getpid()); }

bool SetEnvironmentVariable(const char* name, const char* value) {
  if (setenv(name, value, 1) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

namespace {

// Spawns program with stdin from /dev/null and stdout onto out_fd. Returns the pid, or -1 with
// the last-error code set. The child inherits our environment and standard error.
// REQUIRES: out_fd and close_fd are above 2, so that setting up the child's standard input and
// output cannot overwrite or close them before they are used.
int Spawn(const std::string& program, const std::vector<std::string>& args, int out_fd,
          int close_fd) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (int err = posix_spawn_file_actions_init(&actions); err != 0) {
    SetLastError(ErrorFromErrno(err));
    return -1;
  }
  int err = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (err == 0) err = posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  if (err == 0 && close_fd >= 0) err = posix_spawn_file_actions_addclose(&actions, close_fd);
  pid_t pid = -1;
  if (err == 0) err = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) {
    errno = err;
    SetLastError(ErrorFromErrno(err));
    return -1;
  }
  return pid;
}

int WaitFor(int pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      SetLastErrorFromErrno();
      return -1;
    }
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

ChildProcess::~ChildProcess() { Finish(); }

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  // With our standard output closed the pipe would otherwise get number 1, and the child would
  // close its own standard output while setting it up.
  fds[0] = KeepOffStandardDescriptors(fds[0]);
  fds[1] = KeepOffStandardDescriptors(fds[1]);
  if (fds[0] < 0 || fds[1] < 0) {
    int saved = errno;
    uint32_t code = GetLastError();
    if (fds[0] >= 0) close(fds[0]);
    if (fds[1] >= 0) close(fds[1]);
    SetLastError(code);
    errno = saved;
    return false;
  }
  int pid = Spawn(program, args, fds[1], fds[0]);
  close(fds[1]);
  if (pid < 0) {
    int saved = errno;
    close(fds[0]);
    errno = saved;
    return false;
  }
  pid_ = pid;
  output_ = fdopen(fds[0], "r");
  if (output_ == nullptr) {
    SetLastErrorFromErrno();
    close(fds[0]);
    Finish();
    return false;
  }
  return true;
}

int ChildProcess::Finish() {
  if (output_ != nullptr) {
    fclose(output_);
    output_ = nullptr;
  }
  if (pid_ <= 0) return -1;
  int status = WaitFor(pid_);
  pid_ = -1;
  return status;
}

int RunRedirected(const std::string& program, const std::vector<std::string>& args,
                  const std::string& out_path) {
  // The caller made the file exclusively under an unpredictable name; O_NOFOLLOW refuses the
  // name if it has since been swapped for a symbolic link, which would make the dump truncate
  // and overwrite whatever file the link points at.
  int fd = KeepOffStandardDescriptors(
      open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd < 0) {
    SetLastErrorFromErrno();
    return -1;
  }
  int pid = Spawn(program, args, fd, -1);
  close(fd);
  if (pid < 0) return -1;
  return WaitFor(pid);
}

}  // namespace platform
