// The fault plan: for tests only, it makes one chosen call to the system fail as the system
// would, so that a test can see what the layers above make of every failure, one at a time.
//
// Nothing happens until a test starts a plan; no product code starts one. While no plan runs,
// each point that could fail costs one test of a flag.
#pragma once

#include <array>
#include <cstdint>

namespace platform {

/// The classes of system calls that a plan counts and fails.
enum class FaultClass {
  kOpen,           // opening or creating a file, and a file's status
  kRead,           // reading a stream (a file, or a tool's output)
  kWrite,          // writing a stream out, and emptying a file
  kLock,           // taking a lock on a file's bytes
  kRemove,         // renaming or removing a file
  kSpawn,          // starting a child process
  kWait,           // collecting a child process
  kRegistryRead,   // reading a key of the settings store
  kAccountLookup,  // the caller's name, and the lookup of an account by name or identifier
};
inline constexpr int kFaultClassCount = 9;

/// The failures a plan can give a call.
enum class FaultError {
  kDiskFull,
  kAccessDenied,
  kSharingViolation,
  kIoError,
  kBrokenPipe,
  kNoSuchFile,
};
inline constexpr int kFaultErrorCount = 6;

/// Short names for tables: "open", "read", ... and "disk full", "access denied", ...
const char* FaultClassName(FaultClass fault_class);
const char* FaultErrorName(FaultError error);

/// The system error code (platform/error.h) that a failure leaves as the last-error code.
uint32_t FaultErrorCode(FaultError error);

/// Calls of each class, by FaultClass value.
using FaultCounts = std::array<int, kFaultClassCount>;

/// Starts counting the calls of every class from zero, failing none.
void StartFaultCount();

/// Starts counting from zero and fails the nth call (from 1) of fault_class with error, once:
/// the calls after it go to the system again.
void StartFaultPlan(FaultClass fault_class, int nth, FaultError error);

/// Ends the plan: no call is counted or failed any more.
void StopFaultPlan();

/// The calls counted since the plan started.
FaultCounts FaultCallCounts();

/// Whether the planned call has been failed.
bool FaultInjected();

}  // namespace platform
