// Interrupts and broken pipes: what happens to the process when the user interrupts it, when
// it is asked to terminate, and when the reader of its output goes away.
//
// An interrupt here is any request from outside to end the process at once: the interrupt key,
// a termination request, the terminal going away. Requests that the process was started to
// ignore stay ignored.
#pragma once

#include <cstddef>

namespace platform {

/// Capacity of the clean-up path, terminator included.
inline constexpr size_t kInterruptPathSize = 1024;

/// Registers path as the one file to remove when an interrupt ends the process; it replaces an
/// earlier registration. The first call installs the interrupt handling. On an interrupt the
/// running children (platform/process.h) are ended and collected, the file is removed (from a
/// copy of the path held in a fixed buffer, so nothing is allocated then), and the process ends
/// the way the request would have ended it without the handling.
/// Returns false, registering nothing and leaving the earlier registration cleared, when path
/// is absent (87) or does not fit kInterruptPathSize (206), or when the handling cannot be
/// installed; the last-error code is set.
bool SetInterruptCleanupPath(const char* path);

/// Forgets the registered path, so that an interrupt removes nothing. Call it after the file
/// was removed, or when it is to stay.
void ClearInterruptCleanupPath();

/// Holds interrupts back for its lifetime: one that arrives meanwhile is acted on when the
/// object is destroyed. Lets a file be created and registered as one step, so that no interrupt
/// can fall between the two. Child processes started while it is alive inherit the hold, so
/// keep it short.
class InterruptDeferral {
 public:
  InterruptDeferral();
  ~InterruptDeferral();
  InterruptDeferral(const InterruptDeferral&) = delete;
  InterruptDeferral& operator=(const InterruptDeferral&) = delete;

 private:
  bool deferred_ = false;
  unsigned char saved_[128];  // the hold that was in force before, as the system keeps it
};

/// Makes a write to a pipe or socket whose reader has gone fail with the broken-pipe error
/// (109) instead of ending the process, so that the writer can stop cleanly. Child processes
/// keep the system's default behaviour.
void IgnoreBrokenPipe();

/// Whether a write has met a pipe whose reader had gone, since IgnoreBrokenPipe().
bool BrokenPipeSeen();

/// Ends the process quietly because the reader of its output went away: the registered
/// clean-up file is removed, and the process ends with the status of a process that a broken
/// pipe ends (on Windows, which has no such status: exit code 3).
[[noreturn]] void ExitForBrokenPipe();

}  // namespace platform
