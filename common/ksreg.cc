#include "common/ksreg.h"

#include <cstring>
#include <string>

#include "platform/error.h"

uint32_t KSRegOpenKeyEx(KSRegRoot root, const char* path, uint32_t options,
                        platform::RegAccess access, platform::RegKey* key) {
  (void)root;
  (void)options;
  if (path == nullptr || key == nullptr) return platform::kErrorInvalidParameter;
  return platform::RegOpenKeyEx(path, access, key);
}

uint32_t KSRegQueryValueEx(platform::RegKey key, const char* name, uint32_t* reserved,
                           uint32_t* type, void* data, uint32_t* size) {
  (void)reserved;
  if (key == nullptr || name == nullptr || (data != nullptr && size == nullptr)) {
    return platform::kErrorInvalidParameter;
  }
  std::string text;
  uint32_t number = 0;
  uint32_t found_type = kKSRegString;
  uint32_t rc = platform::RegQueryString(key, name, &text);
  if (rc == platform::kErrorInvalidData) {
    found_type = kKSRegDword;
    rc = platform::RegQueryDword(key, name, &number);
  }
  if (rc != 0) return rc;
  uint32_t needed = found_type == kKSRegString ? static_cast<uint32_t>(text.size() + 1)
                                               : static_cast<uint32_t>(sizeof number);
  if (type != nullptr) *type = found_type;
  if (data == nullptr) {
    if (size != nullptr) *size = needed;
    return 0;
  }
  if (*size < needed) {
    *size = needed;
    return platform::kErrorMoreData;
  }
  if (found_type == kKSRegString) {
    std::memcpy(data, text.c_str(), needed);
  } else {
    std::memcpy(data, &number, sizeof number);
  }
  *size = needed;
  return 0;
}
