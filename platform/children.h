// Within platform/ only: the child processes this process has running, so that an interrupt
// can end them before the process itself ends.
#pragma once

namespace platform {

struct ChildEnd;  // platform/process.h

/// The process's table of running children: Slot is each system's record of one child, whose
/// Free() tells a free slot from a taken one. A fixed array that an interrupt handler may walk:
/// it allocates nothing.
template <typename Slot>
class ChildTable {
 public:
  /// How many children may run at once.
  static constexpr int kSize = 8;

  /// The first free slot, or -1 when every slot is taken.
  int FreeSlot() const {
    for (int slot = 0; slot < kSize; ++slot) {
      if (slots_[slot].Free()) return slot;
    }
    return -1;
  }

  Slot& operator[](int slot) { return slots_[slot]; }
  Slot* begin() { return slots_; }
  Slot* end() { return slots_ + kSize; }

 private:
  Slot slots_[kSize];
};

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
