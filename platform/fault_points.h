// Within platform/ only: where a call to the system asks the fault plan (platform/fault_plan.h)
// whether it is to fail.
#pragma once

#include "platform/fault_plan.h"

namespace platform {

/// Whether a plan runs; only the fault plan sets it.
extern bool g_fault_plan_running;

/// Counts a call of fault_class; true, with the last-error code and errno set, when the plan
/// fails this one.
bool CountFaultPoint(FaultClass fault_class);

/// Whether the call about to be made, of fault_class, is to fail instead. When it is, the
/// last-error code and errno hold its failure. Without a plan: one test of a flag.
inline bool FaultDue(FaultClass fault_class) {
  if (g_fault_plan_running) [[unlikely]] {
    return CountFaultPoint(fault_class);
  }
  return false;
}

}  // namespace platform
