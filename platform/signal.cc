// The interrupt clean-up path, the same on every system: the one file that an interrupt removes
// before the process ends.
#include "platform/signal.h"

#include <csignal>
#include <cstring>

#include "platform/children.h"
#include "platform/error.h"
#include "platform/signal_system.h"

namespace platform {

namespace {

// Read by the interrupt handler, so written only while an InterruptDeferral holds interrupts
// back: the handler never sees a half-copied path.
char g_cleanup_path[kInterruptPathSize];
volatile std::sig_atomic_t g_cleanup_armed = 0;

}  // namespace

void RemoveCleanupFile() {
  if (g_cleanup_armed != 0) {
    g_cleanup_armed = 0;
    RemoveFileAtInterrupt(g_cleanup_path);
  }
}

bool SetInterruptCleanupPath(const char* path) {
  InterruptDeferral blocked;
  g_cleanup_armed = 0;
  if (path == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  const size_t length = std::strlen(path);
  if (length >= sizeof g_cleanup_path) {
    SetLastError(kErrorFilenameExcedRange);
    return false;
  }
  if (!InstallInterruptHandling()) return false;
  std::memcpy(g_cleanup_path, path, length + 1);
  g_cleanup_armed = 1;
  return true;
}

void ClearInterruptCleanupPath() {
  InterruptDeferral blocked;
  g_cleanup_armed = 0;
  g_cleanup_path[0] = '\0';
}

}  // namespace platform
