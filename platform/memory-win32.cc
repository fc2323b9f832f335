#include <cstdint>

#include "platform/memory.h"
#include "platform/windows-win32.h"

namespace platform {

void* ReserveRegion(size_t size) {
  // Address space is reserved with room to move the start to a region boundary, and only the
  // aligned part is committed (zeroed by the system); the unused ends stay reserved, which
  // costs address space only.
  const size_t rounded = (size + kRegionSize - 1) / kRegionSize * kRegionSize;
  void* reserved = VirtualAlloc(nullptr, rounded + kRegionSize, MEM_RESERVE, PAGE_NOACCESS);
  if (reserved == nullptr) return nullptr;
  const auto base = reinterpret_cast<uintptr_t>(reserved);
  const uintptr_t start = (base + kRegionSize - 1) / kRegionSize * kRegionSize;
  return VirtualAlloc(reinterpret_cast<void*>(start), rounded, MEM_COMMIT, PAGE_READWRITE);
}

}  // namespace platform
