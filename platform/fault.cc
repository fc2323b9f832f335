// The fault plan's counting and choice, the same on every system.
#include <cerrno>
#include <cstdint>

#include "platform/error.h"
#include "platform/fault_plan.h"
#include "platform/fault_points.h"

namespace platform {

bool g_fault_plan_running = false;

namespace {

struct FaultPlan {
  FaultCounts counts{};
  bool failing = false;  // false: the plan only counts
  FaultClass fault_class = FaultClass::kOpen;
  int nth = 0;
  FaultError error = FaultError::kIoError;
  bool injected = false;
};
FaultPlan g_plan;

struct FaultErrorInfo {
  const char* name;
  uint32_t code;
  int err;
};
constexpr FaultErrorInfo kFaultErrors[kFaultErrorCount] = {
    {"disk full", kErrorDiskFull, ENOSPC},
    {"access denied", kErrorAccessDenied, EACCES},
    {"sharing violation", kErrorSharingViolation, EWOULDBLOCK},
    {"I/O error", kErrorGenFailure, EIO},
    {"broken pipe", kErrorBrokenPipe, EPIPE},
    {"no such file", kErrorFileNotFound, ENOENT},
};

constexpr const char* kFaultClassNames[kFaultClassCount] = {
    "open", "read", "write", "lock", "rename/remove", "spawn", "wait", "registry", "account",
};

}  // namespace

const char* FaultClassName(FaultClass fault_class) {
  return kFaultClassNames[static_cast<int>(fault_class)];
}

const char* FaultErrorName(FaultError error) { return kFaultErrors[static_cast<int>(error)].name; }

uint32_t FaultErrorCode(FaultError error) { return kFaultErrors[static_cast<int>(error)].code; }

void StartFaultCount() {
  g_plan = FaultPlan{};
  g_fault_plan_running = true;
}

void StartFaultPlan(FaultClass fault_class, int nth, FaultError error) {
  g_plan = FaultPlan{};
  g_plan.failing = true;
  g_plan.fault_class = fault_class;
  g_plan.nth = nth;
  g_plan.error = error;
  g_fault_plan_running = true;
}

void StopFaultPlan() { g_fault_plan_running = false; }

FaultCounts FaultCallCounts() { return g_plan.counts; }

bool FaultInjected() { return g_plan.injected; }

bool CountFaultPoint(FaultClass fault_class) {
  const int count = ++g_plan.counts[static_cast<int>(fault_class)];
  if (!g_plan.failing || g_plan.injected || fault_class != g_plan.fault_class ||
      count != g_plan.nth) {
    return false;
  }
  g_plan.injected = true;
  const FaultErrorInfo& info = kFaultErrors[static_cast<int>(g_plan.error)];
  SetLastError(info.code);
  errno = info.err;
  return true;
}

}  // namespace platform
