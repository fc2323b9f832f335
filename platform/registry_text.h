// Within platform/ only: the settings as every implementation keeps them once a key is open, and
// the reader of the .reg text format.
//
// An open key holds a copy of its values, so a later change of the store never shows through a
// key that is already open, and both systems answer the queries from that copy alike.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace platform {

enum class RegValueType { kString, kDword, kOther };

struct RegValue {
  RegValueType type = RegValueType::kOther;
  std::string text;
  uint32_t number = 0;
};

struct RegKeyData {
  std::map<std::string, RegValue> values;  // by folded name
};

/// Reads the whole .reg file named by KS_REGISTRY (default /etc/kestrune/registry.reg). 0, 2
/// when it does not exist, 5 when it cannot be read.
uint32_t ReadRegistryFile(std::string* contents);

/// Fills data with the values of the key at path (below HKEY_LOCAL_MACHINE) that the .reg text
/// contents holds. 0, or 2 when the text names neither the key nor a key below it.
uint32_t ParseRegistryKey(std::string_view contents, const char* path, RegKeyData* data);

/// Fills data with the values of the key at path that the .reg file named by KS_REGISTRY holds:
/// ReadRegistryFile, then ParseRegistryKey. 0, or the code of the step that failed.
uint32_t ReadRegistryFileKey(const char* path, RegKeyData* data);

}  // namespace platform
