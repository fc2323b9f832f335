// Within platform/ only: what the shared settings code (registry.cc) asks of each system.
#pragma once

#include <cstdint>

namespace platform {

enum class RegAccess;  // platform/registry.h
struct RegKeyData;     // platform/registry_text.h

/// Fills data with the values of the key HKEY_LOCAL_MACHINE\<path> of the system's own store.
/// 0, or the code of RegOpenKeyEx.
uint32_t ReadSystemKey(const char* path, RegAccess access, RegKeyData* data);

}  // namespace platform
