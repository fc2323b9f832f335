#include <sys/mman.h>

#include <cstdint>

#include "platform/memory.h"

namespace platform {

void* ReserveRegion(size_t size) {
  // Mapped with room to move the start to a region boundary: large pages need one.
  const size_t rounded = (size + kRegionSize - 1) / kRegionSize * kRegionSize;
  void* mapped = mmap(nullptr, rounded + kRegionSize, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto base = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t start = (base + kRegionSize - 1) / kRegionSize * kRegionSize;
  // The unused ends go back at once.
  if (start > base) munmap(mapped, start - base);
  const uintptr_t tail = base + rounded + kRegionSize - (start + rounded);
  if (tail > 0) munmap(reinterpret_cast<void*>(start + rounded), tail);
#ifdef MADV_HUGEPAGE
  // Only advice: without large pages the region works all the same.
  madvise(reinterpret_cast<void*>(start), rounded, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<void*>(start);
}

}  // namespace platform
