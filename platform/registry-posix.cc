// The settings store on POSIX is the .reg text file.
//
// The file is parsed again at every open: it is small, it may be replaced while the product
// runs (and tests swap it), and an open key keeps a copy of its values.
#include <cstdint>

#include "platform/registry.h"
#include "platform/registry_system.h"
#include "platform/registry_text.h"

namespace platform {

uint32_t ReadSystemKey(const char* path, RegAccess /*access*/, RegKeyData* data) {
  return ReadRegistryFileKey(path, data);
}

}  // namespace platform
