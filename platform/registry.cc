// Opening a key, and the queries of an open key, which holds a copy of its values on every
// system.
#include "platform/registry.h"

#include <memory>
#include <string>

#include "platform/error.h"
#include "platform/fault_points.h"
#include "platform/registry_system.h"
#include "platform/registry_text.h"
#include "platform/test_hooks.h"
#include "platform/textcase.h"

namespace platform {

namespace {

RegistryCalls registry_calls;
// While on, the store is the .reg file on every system.
bool registry_file_for_test = false;

uint32_t FindValue(RegKey key, const char* name, RegValueType type, const RegValue** out) {
  ++registry_calls.queries;
  if (key == nullptr) return kErrorInvalidHandle;
  auto it = key->values.find(LowerCase(name == nullptr ? "" : name));
  if (it == key->values.end()) return kErrorFileNotFound;
  if (it->second.type != type) return kErrorInvalidData;
  *out = &it->second;
  return kErrorSuccess;
}

}  // namespace

uint32_t RegOpenKeyEx(const char* path, RegAccess access, RegKey* key) {
  ++registry_calls.opens;  // counted for the tests that count attempts
  if (path == nullptr || key == nullptr) return kErrorInvalidParameter;
  *key = nullptr;
  if (FaultDue(FaultClass::kRegistryRead)) return GetLastError();
  auto data = std::make_unique<RegKeyData>();
  const uint32_t rc = registry_file_for_test ? ReadRegistryFileKey(path, data.get())
                                             : ReadSystemKey(path, access, data.get());
  if (rc != kErrorSuccess) return rc;
  *key = data.release();
  return kErrorSuccess;
}

uint32_t RegQueryString(RegKey key, const char* name, std::string* value) {
  const RegValue* found = nullptr;
  uint32_t rc = FindValue(key, name, RegValueType::kString, &found);
  if (rc == kErrorSuccess && value != nullptr) *value = found->text;
  return rc;
}

uint32_t RegQueryDword(RegKey key, const char* name, uint32_t* value) {
  const RegValue* found = nullptr;
  uint32_t rc = FindValue(key, name, RegValueType::kDword, &found);
  if (rc == kErrorSuccess && value != nullptr) *value = found->number;
  return rc;
}

void RegCloseKey(RegKey key) { std::unique_ptr<RegKeyData> owned(key); }

RegistryCalls& RegistryCallsForTest() { return registry_calls; }

void SetRegistryFileForTest(bool on) { registry_file_for_test = on; }

}  // namespace platform
