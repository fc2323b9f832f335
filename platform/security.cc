// Access lists and named semaphores: what is the same on every system.
#include "platform/security.h"

#include <cerrno>
#include <string>
#include <utility>

#include "platform/error.h"
#include "platform/security_system.h"
#include "platform/test_hooks.h"

namespace platform {

namespace {

// A plain flag: the tests set it between calls, before any thread they start reads it.
bool no_access_lists_for_test = false;

}  // namespace

bool NoAccessListsForTest() { return no_access_lists_for_test; }

void SetNoAccessListsForTest(bool on) { no_access_lists_for_test = on; }

bool FileSystemHasAccessLists(const char* path) {
  if (path == nullptr) {
    SetLastError(kErrorInvalidParameter);
    errno = EINVAL;
    return false;
  }
  if (!SystemHasAccessLists(path)) return false;
  if (no_access_lists_for_test) {
    SetLastError(kErrorNotSupported);
    errno = ENOTSUP;
    return false;
  }
  return true;
}

bool CreateDirectory(const char* path, const FileSecurity* security) {
  if (path == nullptr) {
    SetLastError(kErrorInvalidParameter);
    errno = EINVAL;
    return false;
  }
  return CreateSystemDirectory(path, security);
}

NamedSemaphore::~NamedSemaphore() { Close(); }

bool NamedSemaphore::OpenOrCreate(const std::string& name) {
  Close();
  std::string path = LockFilePath(name);
  if (path.empty()) {
    SetLastError(kErrorInvalidName);
    errno = EINVAL;
    return false;
  }
  const intptr_t handle = OpenSemaphoreObject(path);
  if (handle == -1) return false;
  handle_ = handle;
  path_ = std::move(path);
  return true;
}

}  // namespace platform
