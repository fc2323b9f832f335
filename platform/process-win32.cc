// Child processes through CreateProcess, never through a command interpreter.
//
// The command line is built so that the child's C runtime (CommandLineToArgvW rules) splits it
// into exactly the arguments given. Every child is put into a job object of its own, which the
// processes that it starts join too: the job ends them all at the time limit, on an interrupt
// (EndRunningChildren) and when the child is collected, and also when its last handle closes,
// so no child outlives this process however it ends. A time limit is a timer of the thread
// pool that ends the job when the limit passes, whether or not the child itself has ended,
// which also ends the output that a reader is blocked on.
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "platform/children.h"
#include "platform/error.h"
#include "platform/fault_points.h"
#include "platform/process.h"
#include "platform/signal.h"
#include "platform/windows-win32.h"

namespace platform {

namespace {

// The exit status of a child that this process ended.
constexpr UINT kEndedExitCode = 1;

struct ChildSlot {
  HANDLE process = nullptr;  // nullptr: the slot is free
  HANDLE job = nullptr;      // the child's job; nullptr when it could not be given one
  HANDLE timer = nullptr;    // the time limit's timer, if any
  volatile LONG timed_out = 0;
  unsigned limit_seconds = 0;

  bool Free() const { return process == nullptr; }
};
ChildTable<ChildSlot> g_children;

// A job whose processes end when its last handle closes, or nullptr.
HANDLE NewChildJob() {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    CloseHandle(job);
    return nullptr;
  }
  return job;
}

// Ends the child in slot with every process of its job.
void EndChildJob(const ChildSlot& slot) {
  if (slot.job == nullptr || !TerminateJobObject(slot.job, kEndedExitCode)) {
    TerminateProcess(slot.process, kEndedExitCode);
  }
}

VOID CALLBACK OnTimeLimit(PVOID context, BOOLEAN /*timer_fired*/) {
  auto* slot = static_cast<ChildSlot*>(context);
  InterlockedExchange(&slot->timed_out, 1);
  EndChildJob(*slot);
}

// Appends arg quoted so that CommandLineToArgvW gives it back whole: backslashes double only
// where a quote follows them.
void AppendQuoted(const std::string& arg, std::string* line) {
  if (!line->empty()) *line += ' ';
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
    *line += arg;
    return;
  }
  *line += '"';
  for (size_t i = 0;; ++i) {
    size_t backslashes = 0;
    while (i < arg.size() && arg[i] == '\\') {
      ++i;
      ++backslashes;
    }
    if (i == arg.size()) {
      line->append(backslashes * 2, '\\');
      break;
    }
    if (arg[i] == '"') {
      line->append(backslashes * 2 + 1, '\\');
    } else {
      line->append(backslashes, '\\');
    }
    *line += arg[i];
  }
  *line += '"';
}

// An inheritable copy of handle for a child, or nullptr when there is none to copy.
HANDLE InheritableCopy(HANDLE handle) {
  HANDLE copy = nullptr;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

// Starts program with standard input from the null device and standard output onto out,
// and enters it in the table of running children. Its slot, or -1 with the last-error code.
int Spawn(const std::string& program, const ChildArgs& args, HANDLE out,
          unsigned time_limit_seconds) {
  if (!InstallInterruptHandling()) return -1;
  std::string line;
  AppendQuoted(program, &line);
  for (const std::string& arg : args) AppendQuoted(arg, &line);

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE null_input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  OPEN_EXISTING, 0, nullptr);
  HANDLE output = InheritableCopy(out);
  HANDLE error = InheritableCopy(GetStdHandle(STD_ERROR_HANDLE));

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_input;
  startup.hStdOutput = output;
  startup.hStdError = error;

  // Started and entered as one step: an interrupt in between would leave a child nobody ends.
  InterruptDeferral deferred;
  const int slot = g_children.FreeSlot();
  PROCESS_INFORMATION info{};
  BOOL started = FALSE;
  DWORD error_code = ERROR_TOO_MANY_OPEN_FILES;
  if (slot >= 0 && output != nullptr) {
    started = CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                             nullptr, nullptr, &startup, &info);
    error_code = started ? ERROR_SUCCESS : ::GetLastError();
  } else if (output == nullptr) {
    error_code = ::GetLastError();
  }
  for (HANDLE h : {null_input, output, error}) {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  if (!started) {
    SetLastError(error_code);
    return -1;
  }
  HANDLE job = NewChildJob();
  if (job != nullptr && !AssignProcessToJobObject(job, info.hProcess)) {
    CloseHandle(job);
    job = nullptr;
  }

  ChildSlot& entry = g_children[slot];
  entry.process = info.hProcess;
  entry.job = job;
  entry.timed_out = 0;
  entry.limit_seconds = time_limit_seconds;
  entry.timer = nullptr;
  if (time_limit_seconds > 0 &&
      !CreateTimerQueueTimer(&entry.timer, nullptr, OnTimeLimit, &entry, time_limit_seconds * 1000u,
                             0, WT_EXECUTEONLYONCE)) {
    entry.timer = nullptr;
  }
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  return slot;
}

}  // namespace

ChildEnd CollectChild(int slot) {
  ChildSlot& entry = g_children[slot];
  WaitForSingleObject(entry.process, INFINITE);
  // Waits for a time-limit callback that may be running.
  if (entry.timer != nullptr) DeleteTimerQueueTimer(nullptr, entry.timer, INVALID_HANDLE_VALUE);
  ChildEnd end;
  DWORD code = 0;
  if (!GetExitCodeProcess(entry.process, &code)) {
    SetLastError(::GetLastError());
  } else if (entry.timed_out != 0) {
    // Also when it had exited in time but left a child holding its output past the limit.
    end = {ChildEnd::kTimedOut, static_cast<int>(entry.limit_seconds)};
  } else {
    end = {ChildEnd::kExited, static_cast<int>(code)};
  }
  InterruptDeferral deferred;
  // What it started and left behind ends with it.
  if (entry.job != nullptr) {
    TerminateJobObject(entry.job, kEndedExitCode);
    CloseHandle(entry.job);
  }
  CloseHandle(entry.process);
  entry.process = nullptr;
  entry.job = nullptr;
  entry.timer = nullptr;
  // A failed wait loses the child's end; the child is collected all the same.
  if (FaultDue(FaultClass::kWait)) return ChildEnd{};
  return end;
}

const char kProgramSuffix[] = ".exe";

int CurrentProcessId() { return static_cast<int>(GetCurrentProcessId()); }

bool SetEnvironmentVariable(const char* name, const char* value) {
  if (name == nullptr || value == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  // Both the system's block, which children inherit, and the C runtime's copy, which getenv
  // reads.
  if (!SetEnvironmentVariableA(name, value)) return false;
  if (_putenv_s(name, value) != 0) {
    SetLastError(kErrorNotEnoughMemory);
    return false;
  }
  return true;
}

const char* SignalDescription(int /*sig*/) { return nullptr; }

void EndRunningChildren() {
  for (ChildSlot& slot : g_children) {
    HANDLE process = slot.process;
    if (process == nullptr) continue;
    EndChildJob(slot);
    WaitForSingleObject(process, INFINITE);
  }
}

bool ChildProcess::Start(const std::string& program, const ChildArgs& args,
                         unsigned time_limit_seconds) {
  if (FaultDue(FaultClass::kSpawn)) return false;
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, nullptr, 0)) return false;
  const int slot = Spawn(program, args, write_end, time_limit_seconds);
  const DWORD error = ::GetLastError();
  CloseHandle(write_end);
  if (slot < 0) {
    CloseHandle(read_end);
    SetLastError(error);
    return false;
  }
  slot_ = slot;
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(read_end), _O_RDONLY | _O_BINARY);
  output_ = fd < 0 ? nullptr : _fdopen(fd, "rb");
  if (output_ == nullptr) {
    if (fd < 0) {
      CloseHandle(read_end);
    } else {
      _close(fd);
    }
    Finish();
    SetLastError(kErrorNotEnoughMemory);
    return false;
  }
  return true;
}

ChildEnd RunRedirected(const std::string& program, const ChildArgs& args,
                       const std::string& out_path, unsigned time_limit_seconds) {
  if (FaultDue(FaultClass::kSpawn)) return ChildEnd{};
  // The caller made the file under an unpredictable name; a name since swapped for a link is
  // refused rather than followed, so the dump can never overwrite the file that it names.
  HANDLE out =
      CreateFileA(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (out == INVALID_HANDLE_VALUE) return ChildEnd{};
  BY_HANDLE_FILE_INFORMATION file;
  if (!GetFileInformationByHandle(out, &file) ||
      (file.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !SetEndOfFile(out)) {
    CloseHandle(out);
    SetLastError(kErrorAccessDenied);
    return ChildEnd{};
  }
  const int slot = Spawn(program, args, out, time_limit_seconds);
  const DWORD error = ::GetLastError();
  CloseHandle(out);
  if (slot < 0) {
    SetLastError(error);
    return ChildEnd{};
  }
  return CollectChild(slot);
}

}  // namespace platform
