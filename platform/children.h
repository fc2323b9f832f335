// Within platform/ only: the child processes this process has running, so that an interrupt
// can end them before the process itself ends.
#pragma once

namespace platform {

struct ChildEnd;  // platform/process.h

/// Waits for the running child in slot (of the process's table of running children), frees
/// the slot and says how the child ended.
ChildEnd CollectChild(int slot);

/// Ends every running child at once and collects it. Safe to call from an interrupt handler:
/// it allocates nothing and takes no lock.
void EndRunningChildren();

/// Installs the interrupt handling of platform/signal.h, if not yet done, so that an interrupt
/// ends the running children. False, with the last-error code set, when it cannot be installed.
bool InstallInterruptHandling();

/// The system's description of a signal number, or nullptr where it has none.
const char* SignalDescription(int sig);

}  // namespace platform
