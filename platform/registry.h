// The product's settings store: keys under HKEY_LOCAL_MACHINE holding string and 32-bit values.
//
// On POSIX the store is a read-only text file in the .reg export format, named by the
// environment variable KS_REGISTRY (default /etc/kestrune/registry.reg). Key paths use '\'
// between keys; key and value names compare without regard to case. The file is never written.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

/// The product's key, under HKEY_LOCAL_MACHINE.
inline constexpr const char kProductKeyPath[] = "Software\\Orv\\Kestrune/SV";

struct RegKeyData;
using RegKey = RegKeyData*;

/// Requested access rights; accepted as given, since the store is never written.
enum class RegAccess { kRead, kAllAccess };

/// Opens HKEY_LOCAL_MACHINE\<path>. Returns 0, or 2 when the key (or the file) does not exist,
/// 5 when the file exists but cannot be read. On success *key must be closed with RegCloseKey.
uint32_t RegOpenKeyEx(const char* path, RegAccess access, RegKey* key);

/// Reads a string value. Returns 0, 2 when the value is missing, 13 when it is not a string.
uint32_t RegQueryString(RegKey key, const char* name, std::string* value);

/// Reads a 32-bit value. Returns 0, 2 when the value is missing, 13 when it is not a dword.
uint32_t RegQueryDword(RegKey key, const char* name, uint32_t* value);

void RegCloseKey(RegKey key);

struct RegKeyCloser {
  void operator()(RegKey key) const { RegCloseKey(key); }
};
using UniqueRegKey = std::unique_ptr<RegKeyData, RegKeyCloser>;

}  // namespace platform
