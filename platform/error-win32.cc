// The last-error code is the system's own, so that codes set by the system's calls and by this
// layer are one and the same.
#include "platform/error.h"
#include "platform/windows-win32.h"

namespace platform {

uint32_t GetLastError() { return ::GetLastError(); }

void SetLastError(uint32_t code) { ::SetLastError(code); }

}  // namespace platform
