// Within platform/ only: what the shared interrupt code (signal.cc) and each system's interrupt
// handling ask of each other.
#pragma once

namespace platform {

/// Removes the registered clean-up file, if one is registered, and forgets it. Called by the
/// interrupt handler and on a broken pipe, with interrupts held back or from the handler
/// itself: it allocates nothing and takes no lock.
void RemoveCleanupFile();

/// Removes the file at path at once, with the system's plainest call: safe from an interrupt
/// handler. Its failure is not reported (nothing is left to report it to).
void RemoveFileAtInterrupt(const char* path);

}  // namespace platform
