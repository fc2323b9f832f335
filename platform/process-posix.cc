#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/children.h"
#include "platform/descriptors-posix.h"
#include "platform/error.h"
#include "platform/fault_points.h"
#include "platform/process.h"

extern char** environ;

namespace platform {

const char kProgramSuffix[] = "";

int CurrentProcessId() { return static_cast<int>(getpid()); }

bool SetEnvironmentVariable(const char* name, const char* value) {
  if (setenv(name, value, 1) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

const char* SignalDescription(int sig) { return strsignal(sig); }

namespace {

// The running children. The alarm handler ends those whose time limit has passed and the
// interrupt handler ends them all, so the table is plain data that a handler may read: the
// rest of the process changes it only while those signals are held back (SignalsHeld).
struct ChildSlot {
  volatile sig_atomic_t pid;        // 0: the slot is free
  volatile sig_atomic_t timed_out;  // set by the alarm handler when it ended the child
  long long deadline_ms;            // on the monotonic clock; 0: no limit
  unsigned limit_seconds;
  int output_fd;  // the read end of its output under a time limit; no handler reads it

  bool Free() const { return pid == 0; }
};
ChildTable<ChildSlot> g_children;

long long MonotonicMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Ends the child whose process group is pid, with everything it started there: a tool that
// is a wrapper script, or one that leaves a child holding its output, ends whole (the child
// alone, should its group be gone). Async-signal-safe.
void EndChildGroup(pid_t pid) {
  if (kill(-pid, SIGKILL) != 0) kill(pid, SIGKILL);
}

// Ends the children whose limit has passed and sets the alarm for the next limit, if any. The
// alarm is set to a whole second at or after that limit; one that comes early finds nothing
// due and sets itself again. Async-signal-safe.
void EndOverdueChildren() {
  const long long now = MonotonicMs();
  long long next_ms = 0;
  for (ChildSlot& slot : g_children) {
    if (slot.pid <= 0 || slot.deadline_ms == 0 || slot.timed_out != 0) continue;
    if (now >= slot.deadline_ms) {
      EndChildGroup(slot.pid);
      slot.timed_out = 1;
    } else if (next_ms == 0 || slot.deadline_ms - now < next_ms) {
      next_ms = slot.deadline_ms - now;
    }
  }
  alarm(next_ms == 0 ? 0 : static_cast<unsigned>((next_ms + 999) / 1000));
}

extern "C" void OnAlarm(int) {
  const int saved_errno = errno;
  EndOverdueChildren();
  errno = saved_errno;
}

bool InstallAlarmHandler() {
  static bool installed = false;
  if (installed) return true;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnAlarm;
  action.sa_flags = SA_RESTART;  // a read of the child's output goes on until the pipe ends
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGALRM, &action, nullptr) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  installed = true;
  return true;
}

// Holds back the signals whose handlers read the table, for its lifetime.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGALRM, SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t saved_;
};

// Spawns program, in a process group of its own, with stdin from /dev/null and stdout onto
// out_fd, and enters it in the table of running children. Returns its slot, or -1 with the
// last-error code set. The child inherits our environment and standard error, and starts with
// no signal held back.
// REQUIRES: out_fd and close_fd are above 2, so that setting up the child's standard input and
// output cannot overwrite or close them before they are used.
int Spawn(const std::string& program, const ChildArgs& args, int out_fd, int close_fd,
          unsigned time_limit_seconds) {
  if (!InstallInterruptHandling()) return -1;
  if (time_limit_seconds > 0 && !InstallAlarmHandler()) return -1;

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (int err = posix_spawn_file_actions_init(&actions); err != 0) {
    SetLastError(ErrorFromErrno(err));
    return -1;
  }
  posix_spawnattr_t attr;
  if (int err = posix_spawnattr_init(&attr); err != 0) {
    posix_spawn_file_actions_destroy(&actions);
    SetLastError(ErrorFromErrno(err));
    return -1;
  }
  sigset_t none;
  sigemptyset(&none);
  int err = posix_spawnattr_setsigmask(&attr, &none);
  if (err == 0) err = posix_spawnattr_setpgroup(&attr, 0);
  if (err == 0)
    err = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  if (err == 0) err = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (err == 0) err = posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  if (err == 0 && close_fd >= 0) err = posix_spawn_file_actions_addclose(&actions, close_fd);

  // Started and entered as one step: an interrupt in between would leave a child nobody ends.
  SignalsHeld held;
  const int slot = g_children.FreeSlot();
  if (err == 0 && slot < 0) err = EAGAIN;
  pid_t pid = -1;
  if (err == 0) err = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) {
    errno = err;
    SetLastError(ErrorFromErrno(err));
    return -1;
  }
  ChildSlot& entry = g_children[slot];
  entry.timed_out = 0;
  entry.limit_seconds = time_limit_seconds;
  entry.deadline_ms = time_limit_seconds > 0 ? MonotonicMs() + time_limit_seconds * 1000LL : 0;
  entry.pid = pid;
  if (time_limit_seconds > 0) EndOverdueChildren();
  return slot;
}

// The reading of a child's output under a time limit (a stream of fopencookie): it ends, as
// at the end of the output, when the limit passes, and the child ends then too. Even a process
// that left the child's group and still holds the output keeps the reader no longer.
ssize_t ReadBeforeDeadline(void* cookie, char* buffer, size_t size) {
  const ChildSlot& slot = *static_cast<const ChildSlot*>(cookie);
  for (;;) {
    const long long left_ms = slot.deadline_ms - MonotonicMs();
    if (left_ms <= 0) {
      SignalsHeld held;
      EndOverdueChildren();
      return 0;
    }
    struct pollfd ready = {slot.output_fd, POLLIN, 0};
    const int polled = poll(&ready, 1, static_cast<int>(std::min<long long>(left_ms, INT_MAX)));
    if (polled < 0 && errno != EINTR) return -1;
    if (polled <= 0) continue;
    const ssize_t got = read(slot.output_fd, buffer, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

int CloseOutput(void* cookie) { return close(static_cast<const ChildSlot*>(cookie)->output_fd); }

// The stream that reads the child in slot's output from fd.
FILE* OpenOutput(int slot, int fd) {
  ChildSlot& entry = g_children[slot];
  if (entry.deadline_ms == 0) return fdopen(fd, "r");
  entry.output_fd = fd;
  cookie_io_functions_t io{};
  io.read = ReadBeforeDeadline;
  io.close = CloseOutput;
  return fopencookie(&entry, "r", io);
}

}  // namespace

ChildEnd CollectChild(int slot) {
  const pid_t pid = g_children[slot].pid;
  // Waited for without collecting it first: until it is collected its pid cannot be reused, so
  // the alarm handler may still end it by that pid at any moment before the slot is freed.
  siginfo_t info;
  while (waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
  SignalsHeld held;
  // What it started and left behind in its group ends with it; until it is collected its
  // group id cannot name another group.
  kill(-pid, SIGKILL);
  int status = 0;
  pid_t got;
  while ((got = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  ChildEnd end;
  if (got < 0) {
    SetLastErrorFromErrno();
  } else if (g_children[slot].timed_out != 0) {
    // Also when it had exited in time but left a child holding its output past the limit.
    end = {ChildEnd::kTimedOut, static_cast<int>(g_children[slot].limit_seconds)};
  } else if (WIFEXITED(status)) {
    end = {ChildEnd::kExited, WEXITSTATUS(status)};
  } else if (WIFSIGNALED(status)) {
    end = {ChildEnd::kSignaled, WTERMSIG(status)};
  }
  g_children[slot].pid = 0;
  g_children[slot].deadline_ms = 0;
  EndOverdueChildren();  // the alarm now serves the limits of the others, if any
  // A failed wait loses the child's end; the child is collected all the same.
  if (FaultDue(FaultClass::kWait)) return ChildEnd{};
  return end;
}

void EndRunningChildren() {
  for (ChildSlot& slot : g_children) {
    const pid_t pid = slot.pid;
    if (pid <= 0) continue;
    // The search tool keeps nothing that needs a graceful end, and a child that ignored a
    // gentler request would keep this process from ending.
    EndChildGroup(pid);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    slot.pid = 0;
  }
}

bool ChildProcess::Start(const std::string& program, const ChildArgs& args,
                         unsigned time_limit_seconds) {
  if (FaultDue(FaultClass::kSpawn)) return false;
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
  const int slot = Spawn(program, args, fds[1], fds[0], time_limit_seconds);
  close(fds[1]);
  if (slot < 0) {
    int saved = errno;
    close(fds[0]);
    errno = saved;
    return false;
  }
  slot_ = slot;
  output_ = OpenOutput(slot, fds[0]);
  if (output_ == nullptr) {
    SetLastErrorFromErrno();
    close(fds[0]);
    Finish();
    return false;
  }
  return true;
}

ChildEnd RunRedirected(const std::string& program, const ChildArgs& args,
                       const std::string& out_path, unsigned time_limit_seconds) {
  if (FaultDue(FaultClass::kSpawn)) return ChildEnd{};
  // The caller made the file exclusively under an unpredictable name; O_NOFOLLOW refuses the
  // name if it has since been swapped for a symbolic link, which would make the dump truncate
  // and overwrite whatever file the link points at.
  int fd = KeepOffStandardDescriptors(
      open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd < 0) {
    SetLastErrorFromErrno();
    return ChildEnd{};
  }
  const int slot = Spawn(program, args, fd, -1, time_limit_seconds);
  close(fd);
  if (slot < 0) return ChildEnd{};
  return CollectChild(slot);
}

}  // namespace platform
