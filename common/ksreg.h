// Registry access in the product's calling shape: open a key under a root, query a value of
// any type into a caller's buffer.
//
// The registry is shared with running product services, so both calls are tried up to the
// count that KS_REGOPENKEYEX_RETRY gives (read once per call kind, on its first use: 1 to 15
// characters read as a decimal number, where 0, a negative number or a text without digits
// counts as 1; 5 when the variable is absent, empty or longer), pausing 100 ms (through
// platform::Sleep) between tries. A missing key or value (2) is never retried, nor a query
// whose buffer is too small (234). Whatever the count, a call that returns 0 has opened the
// key or read the value.
#pragma once

#include <cstdint>

#include "platform/registry.h"

/// Registry roots; the product keeps everything under the local machine.
enum class KSRegRoot { kLocalMachine };

/// Value types reported by KSRegQueryValueEx.
enum KSRegType : uint32_t { kKSRegNone = 0, kKSRegString = 1, kKSRegDword = 4 };

inline constexpr int kKSRegDefaultTries = 5;
inline constexpr uint32_t kKSRegPauseMs = 100;

/// Opens <root>\<path> (options are reserved, 0). Returns 0, or the last system error code (2
/// for a key that does not exist, traced). On success *key must be closed with
/// platform::RegCloseKey.
uint32_t KSRegOpenKeyEx(KSRegRoot root, const char* path, uint32_t options,
                        platform::RegAccess access, platform::RegKey* key);

/// Queries value name of key. *type (when not null) receives its type. data (may be null to ask
/// the size) receives a string with its terminator, or a 32-bit number; *size holds the
/// capacity of data on entry and the bytes stored (or needed) on return. Returns 0, 2 for a
/// missing value, 234 when data is too small (nothing is stored), 87 for absent arguments.
uint32_t KSRegQueryValueEx(platform::RegKey key, const char* name, uint32_t* reserved,
                           uint32_t* type, void* data, uint32_t* size);
