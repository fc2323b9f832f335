#include "common/kssettings.h"

#include <cstdlib>
#include <string>

#include "common/test_hooks.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/registry.h"

int g_language_id = 0;

namespace {

constexpr const char kLanguageIdValue[] = "KSLanguageId";

// Attempts at opening the key and at querying the language id, and the pause between them.
constexpr int kLanguageAttempts = 5;
constexpr uint32_t kLanguageRetryPauseMs = 1000;
// Longest language id text that is looked at.
constexpr size_t kLanguageTextMax = 4096;
constexpr int kHighestLanguageId = 2;

// -1 until the first successful read. A plain value: the process reads the settings from one
// thread at a time.
int language_id = -1;

// HKEY_LOCAL_MACHINE\<path>, or an empty key when it cannot be opened (*rc, when given, says
// why).
platform::UniqueRegKey OpenKey(const char* path, uint32_t* rc = nullptr) {
  platform::RegKey raw = nullptr;
  const uint32_t opened = platform::RegOpenKeyEx(path, platform::RegAccess::kAllAccess, &raw);
  if (rc != nullptr) *rc = opened;
  return platform::UniqueRegKey(opened == platform::kErrorSuccess ? raw : nullptr);
}

// The decimal number at the start of the text (0 when there is none); above the highest id or
// negative counts as the highest.
int LanguageIdFromText(std::string text) {
  if (text.size() > kLanguageTextMax) text.resize(kLanguageTextMax);
  long id = std::strtol(text.c_str(), nullptr, 10);
  if (id < 0 || id > kHighestLanguageId) return kHighestLanguageId;
  return static_cast<int>(id);
}

}  // namespace

int KSGetLanguageId() {
  if (language_id >= 0) return language_id;

  platform::UniqueRegKey key;
  for (int attempt = 0; attempt < kLanguageAttempts && !key; ++attempt) {
    key = OpenKey(platform::kProductKeyPath);
    if (!key) platform::Sleep(kLanguageRetryPauseMs);
  }
  if (!key) return -1;

  for (int attempt = 0; attempt < kLanguageAttempts; ++attempt) {
    std::string text;
    uint32_t rc = platform::RegQueryString(key.get(), kLanguageIdValue, &text);
    if (rc == platform::kErrorSuccess) {
      int id = LanguageIdFromText(std::move(text));
      language_id = id;
      return id;
    }
    // A missing value will not appear by waiting for it.
    if (rc == platform::kErrorFileNotFound) break;
    platform::Sleep(kLanguageRetryPauseMs);
  }
  return -1;
}

void KSResetLanguageIdForTest() { language_id = -1; }

bool IsLeadByte(unsigned char c, int language_id) {
  switch (language_id) {
    case 1:
      return c >= 129 && c <= 254;
    case 2:
      return (c >= 128 && c <= 159) || c >= 224;
    default:
      return false;
  }
}

uint32_t KSRegGetDword(const char* keypath, const char* value) {
  constexpr uint32_t kUnreadable = 0xFFFFFFFF;
  if (keypath == nullptr || value == nullptr) return kUnreadable;
  platform::UniqueRegKey key = OpenKey(keypath);
  uint32_t number = 0;
  if (!key || platform::RegQueryDword(key.get(), value, &number) != platform::kErrorSuccess) {
    return kUnreadable;
  }
  return number;
}

uint32_t KSRegGetString(const char* keypath, const char* value, std::string* text) {
  if (keypath == nullptr || value == nullptr || text == nullptr) {
    return platform::kErrorInvalidParameter;
  }
  uint32_t rc = platform::kErrorSuccess;
  platform::UniqueRegKey key = OpenKey(keypath, &rc);
  if (!key) return rc;
  return platform::RegQueryString(key.get(), value, text);
}
