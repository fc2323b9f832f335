// The settings store in the system's registry.
//
// An open key reads all its values at once into a copy, as the text store does, so both
// systems answer the queries alike and a later change never shows through an open key.
#include <memory>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/registry.h"
#include "platform/registry_system.h"
#include "platform/registry_text.h"
#include "platform/textcase.h"
#include "platform/windows-win32.h"

namespace platform {

namespace {

// Copies every string and 32-bit value of key into data.
uint32_t ReadValues(HKEY key, RegKeyData* data) {
  DWORD max_name = 0;
  DWORD max_data = 0;
  LONG rc = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &max_name, &max_data, nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
  std::vector<char> name(max_name + 1);
  std::vector<BYTE> bytes(max_data + 2);
  for (DWORD index = 0;; ++index) {
    DWORD name_size = static_cast<DWORD>(name.size());
    DWORD data_size = static_cast<DWORD>(bytes.size() - 2);
    DWORD type = 0;
    rc = RegEnumValueA(key, index, name.data(), &name_size, nullptr, &type, bytes.data(),
                       &data_size);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc == ERROR_MORE_DATA) {
      // A value grew since the key was measured: measure again and start over.
      data->values.clear();
      return ReadValues(key, data);
    }
    if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
    RegValue value;
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      value.type = RegValueType::kString;
      value.text.assign(reinterpret_cast<const char*>(bytes.data()), data_size);
      while (!value.text.empty() && value.text.back() == '\0') value.text.pop_back();
    } else if (type == REG_DWORD && data_size == sizeof(DWORD)) {
      value.type = RegValueType::kDword;
      DWORD number = 0;
      memcpy(&number, bytes.data(), sizeof number);
      value.number = number;
    }
    data->values[LowerCase(std::string(name.data(), name_size))] = std::move(value);
  }
  return kErrorSuccess;
}

}  // namespace

uint32_t ReadSystemKey(const char* path, RegAccess access, RegKeyData* data) {
  HKEY opened = nullptr;
  REGSAM sam = access == RegAccess::kAllAccess ? KEY_ALL_ACCESS : KEY_READ;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, sam, &opened);
  if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
  uint32_t read = ReadValues(opened, data);
  ::RegCloseKey(opened);
  return read;
}

}  // namespace platform
