// The settings store read from a .reg text file.
//
// The file is parsed again at every open: it is small, it may be replaced while the product
// runs (and tests swap it), and an open key keeps a copy of its values.

#include <memory>
#include <string>

#include "platform/error.h"
#include "platform/registry.h"
#include "platform/registry_text.h"
#include "platform/test_hooks.h"

namespace platform {

uint32_t RegOpenKeyEx(const char* path, RegAccess /*access*/, RegKey* key) {
  ++RegistryCallsForTest().opens;  // counted for the tests that count attempts
  if (path == nullptr || key == nullptr) return kErrorInvalidParameter;
  *key = nullptr;

  std::string contents;
  if (uint32_t rc = ReadRegistryFile(&contents); rc != kErrorSuccess) return rc;
  auto data = std::make_unique<RegKeyData>();
  if (uint32_t rc = ParseRegistryKey(contents, path, data.get()); rc != kErrorSuccess) return rc;
  *key = data.release();
  return kErrorSuccess;
}

void SetRegistryFileForTest(bool /*on*/) {}

}  // namespace platform
