#include "common/ksreg.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/lwlog.h"
#include "common/test_hooks.h"
#include "platform/clock.h"
#include "platform/error.h"

namespace {

constexpr const char kTraceSource[] = "ks_dirs";
constexpr const char kRetryVariable[] = "KS_REGOPENKEYEX_RETRY";
// Longest value of KS_REGOPENKEYEX_RETRY that is read as a count.
constexpr size_t kRetryTextMax = 15;

// The try count of each wrapper; 0 until the wrapper reads the environment on its first use.
// Plain counts: the process reads the settings from one thread at a time (a test that calls
// from a thread of its own joins it, or starts it after the count is read).
int open_tries = 0;
int query_tries = 0;

// The count that KS_REGOPENKEYEX_RETRY gives. A negative count would make no call at all and
// leave the caller with success but no key or value, so it counts as one try, as 0 does.
int TriesFromEnvironment() {
  const char* text = std::getenv(kRetryVariable);
  if (text == nullptr) return kKSRegDefaultTries;
  size_t length = std::strlen(text);
  if (length == 0 || length > kRetryTextMax) return kKSRegDefaultTries;
  long long count = std::strtoll(text, nullptr, 10);  // 15 digits fit; no digits read as 0
  if (count < 1) return 1;
  if (count > INT32_MAX) return INT32_MAX;
  return static_cast<int>(count);
}

int Tries(int* tries) {
  if (*tries == 0) *tries = TriesFromEnvironment();
  return *tries;
}

}  // namespace

uint32_t KSRegOpenKeyEx(KSRegRoot root, const char* path, uint32_t options,
                        platform::RegAccess access, platform::RegKey* key) {
  (void)root;
  (void)options;
  if (path == nullptr || key == nullptr) return platform::kErrorInvalidParameter;
  *key = nullptr;
  const int tries = Tries(&open_tries);
  uint32_t rc = platform::kErrorSuccess;
  for (int attempt = 1; attempt <= tries; ++attempt) {
    rc = platform::RegOpenKeyEx(path, access, key);
    if (rc == platform::kErrorSuccess) return rc;
    if (rc == platform::kErrorFileNotFound) {
      // A missing key does not appear by waiting for it.
      lwlog_trace(kLwlogError, kTraceSource, __LINE__, __func__,
                  "RegOpenKeyEx(%s) ERROR_FILE_NOT_FOUND error (ec=%d)\n", path,
                  static_cast<int>(rc));
      return rc;
    }
    if (attempt < tries) platform::Sleep(kKSRegPauseMs);
  }
  return rc;
}

namespace {

// One query of the store: the value as a string, or as a 32-bit number when it is one.
uint32_t QueryOnce(platform::RegKey key, const char* name, uint32_t* type, void* data,
                   uint32_t* size) {
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

}  // namespace

uint32_t KSRegQueryValueEx(platform::RegKey key, const char* name, uint32_t* reserved,
                           uint32_t* type, void* data, uint32_t* size) {
  (void)reserved;
  if (key == nullptr || name == nullptr || (data != nullptr && size == nullptr)) {
    return platform::kErrorInvalidParameter;
  }
  const uint32_t capacity = data != nullptr ? *size : 0;
  const int tries = Tries(&query_tries);
  uint32_t rc = platform::kErrorSuccess;
  for (int attempt = 1; attempt <= tries; ++attempt) {
    if (data != nullptr) *size = capacity;  // a failed try may have stored the size needed
    rc = QueryOnce(key, name, type, data, size);
    // A missing value does not appear by waiting, and the caller's buffer does not grow.
    if (rc == platform::kErrorSuccess || rc == platform::kErrorFileNotFound ||
        rc == platform::kErrorMoreData) {
      return rc;
    }
    if (attempt < tries) platform::Sleep(kKSRegPauseMs);
  }
  return rc;
}

void KSRegResetRetryForTest() {
  open_tries = 0;
  query_tries = 0;
}
