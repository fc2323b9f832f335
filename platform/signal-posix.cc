#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/children.h"
#include "platform/error.h"
#include "platform/signal.h"
#include "platform/signal_system.h"

namespace platform {

namespace {

// The signals that count as an interrupt.
constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

bool g_handlers_installed = false;
volatile sig_atomic_t g_broken_pipe = 0;

sigset_t InterruptSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kInterruptSignals) sigaddset(&set, sig);
  return set;
}

// Ends the process with sig's default action. Async-signal-safe.
void RaiseDefault(int sig) {
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  raise(sig);
}

// Only async-signal-safe calls: kill, waitpid, unlink, sigaction, raise. The children go first,
// so that none of them is still writing the file when it is removed. The signal stays blocked
// while the handler runs, so the re-raised one is delivered, with the default action, on return.
extern "C" void OnInterrupt(int sig) {
  const int saved_errno = errno;
  EndRunningChildren();
  RemoveCleanupFile();
  RaiseDefault(sig);
  errno = saved_errno;
}

extern "C" void OnBrokenPipe(int) { g_broken_pipe = 1; }

}  // namespace

bool InstallInterruptHandling() {
  if (g_handlers_installed) return true;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnInterrupt;
  action.sa_mask = InterruptSet();  // one clean-up at a time
  for (int sig : kInterruptSignals) {
    struct sigaction old;
    if (sigaction(sig, nullptr, &old) != 0) {
      SetLastErrorFromErrno();
      return false;
    }
    // A request the process was started to ignore (a background job's interrupt key, nohup)
    // must stay ignored.
    if (old.sa_handler == SIG_IGN) continue;
    if (sigaction(sig, &action, nullptr) != 0) {
      SetLastErrorFromErrno();
      return false;
    }
  }
  g_handlers_installed = true;
  return true;
}

void RemoveFileAtInterrupt(const char* path) { unlink(path); }

InterruptDeferral::InterruptDeferral() {
  static_assert(sizeof(sigset_t) <= sizeof saved_, "the saved signal mask must fit");
  const sigset_t set = InterruptSet();
  sigset_t old;
  if (sigprocmask(SIG_BLOCK, &set, &old) == 0) {
    std::memcpy(saved_, &old, sizeof old);
    deferred_ = true;
  }
}

InterruptDeferral::~InterruptDeferral() {
  if (!deferred_) return;
  sigset_t old;
  std::memcpy(&old, saved_, sizeof old);
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

void IgnoreBrokenPipe() {
  struct sigaction old;
  if (sigaction(SIGPIPE, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) return;
  // A handler that does nothing, rather than ignoring the signal: the write fails with EPIPE
  // all the same, and unlike an ignored signal a caught one is reset to the default in the
  // programs that this process starts.
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnBrokenPipe;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGPIPE, &action, nullptr);
}

bool BrokenPipeSeen() { return g_broken_pipe != 0; }

void ExitForBrokenPipe() {
  sigset_t pipe_only;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  {
    InterruptDeferral blocked;
    RemoveCleanupFile();
  }
  sigprocmask(SIG_UNBLOCK, &pipe_only, nullptr);
  RaiseDefault(SIGPIPE);
  _exit(128 + SIGPIPE);  // only if the signal could not end the process
}

}  // namespace platform
