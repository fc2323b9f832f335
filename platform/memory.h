// Memory for allocators that carve it up themselves, such as the object store's block pools.
#pragma once

#include <cstddef>

namespace platform {

/// Size of the regions that ReserveRegion hands out best: a system that backs memory with large
/// pages by default can back such a region with them.
inline constexpr size_t kRegionSize = size_t{2} * 1024 * 1024;

/// size bytes of zeroed memory, aligned to kRegionSize, kept until the process ends. Null when
/// the system has none left.
void* ReserveRegion(size_t size);

}  // namespace platform
