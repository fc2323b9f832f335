// Interrupts on Windows: Ctrl-C, Ctrl-Break and the console closing reach a handler thread
// that the system starts. The handler ends the running children, removes the registered file
// and lets the system's own handling end the process, as it would have without ours.
//
// The handler and the rest of the process meet on one critical section: an InterruptDeferral
// holds it, so a handler that arrives meanwhile waits until the deferral ends, and never sees
// a half-copied path or a child table in the middle of a change.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/children.h"
#include "platform/error.h"
#include "platform/signal.h"
#include "platform/signal_system.h"
#include "platform/windows-win32.h"

namespace platform {

namespace {

// The exit status of a process that the system ends for a broken pipe does not exist here.
constexpr UINT kBrokenPipeExitCode = 3;

CRITICAL_SECTION* InterruptLock() {
  static CRITICAL_SECTION* lock = [] {
    static CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    return &section;
  }();
  return lock;
}

bool g_handler_installed = false;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      break;
    default:
      return FALSE;
  }
  EnterCriticalSection(InterruptLock());
  EndRunningChildren();
  RemoveCleanupFile();
  LeaveCriticalSection(InterruptLock());
  return FALSE;  // the system's handling ends the process
}

// The codes of a write to a pipe whose reader has gone.
bool IsBrokenPipeCode(unsigned long code) {
  return code == ERROR_NO_DATA || code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED;
}

}  // namespace

bool InstallInterruptHandling() {
  if (g_handler_installed) return true;
  if (!SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) return false;
  g_handler_installed = true;
  return true;
}

void RemoveFileAtInterrupt(const char* path) { DeleteFileA(path); }

InterruptDeferral::InterruptDeferral() {
  EnterCriticalSection(InterruptLock());
  deferred_ = true;
  (void)saved_;
}

InterruptDeferral::~InterruptDeferral() {
  if (deferred_) LeaveCriticalSection(InterruptLock());
}

void IgnoreBrokenPipe() {
  // A write to a pipe whose reader has gone already fails here, with no signal.
}

bool BrokenPipeSeen() {
  if (errno == EPIPE) return true;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE || GetFileType(out) != FILE_TYPE_PIPE) {
    return false;
  }
  // The system's code of the C runtime's failed write, which maps it to no errno of its own
  // (a pipe that is no longer connected becomes EINVAL).
  if (IsBrokenPipeCode(_doserrno)) return true;
  // A write of nothing tells whether standard output is a pipe that nobody reads any more.
  // (Not under Wine, whose pipes are Unix pipes: there such a write succeeds.)
  DWORD written = 0;
  if (WriteFile(out, "", 0, &written, nullptr)) return false;
  return IsBrokenPipeCode(::GetLastError());
}

void ExitForBrokenPipe() {
  {
    InterruptDeferral blocked;
    RemoveCleanupFile();
  }
  ExitProcess(kBrokenPipeExitCode);
}

}  // namespace platform
