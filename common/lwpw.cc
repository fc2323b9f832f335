#include "common/lwpw.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>

#include "common/ksreg.h"
#include "common/lwlog.h"
#include "common/test_hooks.h"
#include "platform/account.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "platform/textcase.h"

namespace {

constexpr const char kTraceSource[] = "netapilib";
constexpr const char kNameKeyPath[] = "Software\\Orv\\Kestrune/SV\\LW_PW\\name";
constexpr const char kUidKeyPath[] = "Software\\Orv\\Kestrune/SV\\LW_PW\\uid";
constexpr const char kShell[] = "/bin/sh";
// Longest account name that the cache keys (in lower case).
constexpr size_t kCacheNameMax = 255;

constexpr const char kRetryTimesValue[] = "RetryTimes";
constexpr const char kRetryIntervalValue[] = "RetryInterval";
constexpr uint32_t kDefaultRetryTimes = 5;
constexpr uint32_t kDefaultRetryIntervalMs = 100;
constexpr uint32_t kRetryTimesLimit = 101;         // taken when below
constexpr uint32_t kRetryIntervalLimitMs = 60001;  // taken when below

// The texts of the last lookup of this thread, which the next lookup overwrites.
thread_local char record_name[kPwValueBufSize];
thread_local char record_dir[kPwValueBufSize];

// ---- The cache ---------------------------------------------------------------------------

struct CacheEntry {
  int32_t uid = 0;
  std::string name;
  std::string domain;
  std::string dir;
};

std::unordered_map<std::string, CacheEntry> cache;  // by account name in lower case

// Copies text with its terminator into dst (cap bytes); false when it does not fit.
bool CopyText(char* dst, size_t cap, const char* text) {
  size_t n = std::strlen(text);
  if (n >= cap) return false;
  std::memcpy(dst, text, n + 1);
  return true;
}

// Fills record from a cached entry; false when the entry is not cached.
bool FillFromCache(const std::string& key, PwRecord* record) {
  auto it = cache.find(key);
  if (it == cache.end()) return false;
  const CacheEntry& entry = it->second;
  // The texts were read into buffers of this size, so they fit again.
  if (!CopyText(record_name, sizeof record_name, entry.name.c_str()) ||
      !CopyText(record_dir, sizeof record_dir, entry.dir.c_str())) {
    return false;
  }
  *record = PwRecord{};
  record->pw_shell = kShell;
  record->pw_dir = record_dir;
  record->pw_uid = entry.uid;
  record->pw_name = record_name;
  // The domain is copied as it is: it is a text, never a format.
  std::snprintf(record->pw_domain, sizeof record->pw_domain, "%s", entry.domain.c_str());
  return true;
}

// Adds the record; false when memory runs out.
bool AddToCache(const std::string& key, const PwRecord& record) {
  try {
    cache.insert_or_assign(
        key, CacheEntry{record.pw_uid, record.pw_name, record.pw_domain, record.pw_dir});
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// ---- Reading the user record table -------------------------------------------------------

// Reads the string value name of key into dst (cap bytes, terminator included). A value that
// does not fit is refused rather than cut, so no text is ever left without its terminator and
// no record is built from a cut name or directory. False, traced, for anything but a string.
bool ReadText(platform::RegKey key, const std::string& name, char* dst, size_t cap) {
  uint32_t type = kKSRegNone;
  uint32_t size = static_cast<uint32_t>(cap);
  uint32_t rc = KSRegQueryValueEx(key, name.c_str(), nullptr, &type, dst, &size);
  if (rc == platform::kErrorFileNotFound) return false;  // no record: not worth a line
  if (rc == platform::kErrorSuccess && type != kKSRegString) rc = platform::kErrorInvalidData;
  if (rc != platform::kErrorSuccess) {
    lwlog_trace(kLwlogError, kTraceSource, __LINE__, __func__,
                "RegQueryValueEx(%s) error (ec=%d)\n", name.c_str(), static_cast<int>(rc));
    return false;
  }
  return true;
}

// A user number: optional blanks, an optional minus sign, decimal digits, optional blanks, and
// within 32 bits. A number that cannot be read must not select another user's record (the
// number 0 would), so anything else is refused.
bool ParseUid(const char* text, int32_t* out) {
  while (*text == ' ' || *text == '\t') ++text;
  bool negative = *text == '-';
  if (negative) ++text;
  if (*text < '0' || *text > '9') return false;
  int64_t v = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    v = v * 10 + (*text - '0');
    if (v > int64_t{INT32_MAX} + 1) return false;
  }
  while (*text == ' ' || *text == '\t') ++text;
  if (*text != '\0') return false;
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

platform::UniqueRegKey OpenForRead(const char* path, const char* failure_format) {
  platform::RegKey raw = nullptr;
  uint32_t rc = KSRegOpenKeyEx(KSRegRoot::kLocalMachine, path, 0, platform::RegAccess::kRead, &raw);
  if (rc != platform::kErrorSuccess) {
    lwlog_trace(kLwlogError, kTraceSource, __LINE__, __func__, failure_format,
                static_cast<int>(rc));
    return nullptr;
  }
  return platform::UniqueRegKey(raw);
}

// The by-name values: home directory, user number and domain. Only the number is kept: the
// record is read again by number, and the uid key's texts are the ones that count.
bool ReadByName(const char* name, int32_t* uid) {
  platform::UniqueRegKey key = OpenForRead(kNameKeyPath, "KSRegOpenKeyEx errno=%d\n");
  if (!key) return false;
  char dir[kPwValueBufSize];
  char uid_text[kPwValueBufSize];
  char domain[kPwValueBufSize];
  const std::string n(name);
  if (!ReadText(key.get(), "homedir_" + n, dir, sizeof dir) ||
      !ReadText(key.get(), "uid_" + n, uid_text, sizeof uid_text) ||
      !ReadText(key.get(), "domainname_" + n, domain, sizeof domain)) {
    return false;
  }
  if (!ParseUid(uid_text, uid)) {
    lwlog_trace(kLwlogError, kTraceSource, __LINE__, __func__, "uid_%s is not a number: %s\n", name,
                uid_text);
    return false;
  }
  return true;
}

// The by-number values: home directory, name and domain of uid. The thread's text buffers are
// only written once every value has been read, so a failed lookup leaves the previous record
// intact.
bool ReadByUid(int32_t uid, PwRecord* record) {
  platform::UniqueRegKey key = OpenForRead(kUidKeyPath, "KSRegOpenKeyEx uid errno=%d\n");
  if (!key) return false;
  char dir[kPwValueBufSize];
  char name[kPwValueBufSize];
  char domain[kPwValueBufSize];
  const std::string n = std::to_string(uid);
  if (!ReadText(key.get(), "homedir_" + n, dir, sizeof dir) ||
      !ReadText(key.get(), "name_" + n, name, sizeof name) ||
      !ReadText(key.get(), "domainname_" + n, domain, sizeof domain)) {
    return false;
  }
  if (!CopyText(record->pw_domain, sizeof record->pw_domain, domain)) {
    lwlog_trace(kLwlogError, kTraceSource, __LINE__, __func__, "domainname_%d is too long\n", uid);
    return false;
  }
  std::memcpy(record_dir, dir, sizeof dir);
  std::memcpy(record_name, name, sizeof name);
  record->pw_dir = record_dir;
  record->pw_name = record_name;
  record->pw_uid = uid;
  record->pw_passwd = "";
  record->pw_gid = 0;
  return true;
}

// ---- The domain query's retry settings ---------------------------------------------------

struct RetrySettings {
  uint32_t times = kDefaultRetryTimes;
  uint32_t interval_ms = kDefaultRetryIntervalMs;
};

bool settings_read = false;
RetrySettings settings;

// A 32-bit value below limit, or fallback.
uint32_t ReadLimited(platform::RegKey key, const char* name, uint32_t limit, uint32_t fallback) {
  uint32_t value = 0;
  uint32_t size = sizeof value;
  uint32_t type = kKSRegNone;
  if (KSRegQueryValueEx(key, name, nullptr, &type, &value, &size) != platform::kErrorSuccess ||
      type != kKSRegDword || value >= limit) {
    return fallback;
  }
  return value;
}

RetrySettings ReadRetrySettings() {
  if (settings_read) return settings;
  settings = RetrySettings{};
  settings_read = true;
  platform::RegKey raw = nullptr;
  uint32_t rc = KSRegOpenKeyEx(KSRegRoot::kLocalMachine, platform::kProductKeyPath, 0,
                               platform::RegAccess::kRead, &raw);
  if (rc != platform::kErrorSuccess) {
    lwlog_trace(kLwlogError, kTraceSource, __LINE__, __func__, "RegOpenKeyEx error.rc=%d\n",
                static_cast<int>(rc));
    return settings;
  }
  platform::UniqueRegKey key(raw);
  settings.times = ReadLimited(key.get(), kRetryTimesValue, kRetryTimesLimit, kDefaultRetryTimes);
  settings.interval_ms =
      ReadLimited(key.get(), kRetryIntervalValue, kRetryIntervalLimitMs, kDefaultRetryIntervalMs);
  return settings;
}

bool IsRetriedStatus(uint32_t status) {
  return status == platform::kErrorRpcServerUnavailable ||
         status == platform::kErrorRpcServerTooBusy || status == platform::kNetBadNetPath;
}

}  // namespace

int lw_GetPWbyname(const char* name, PwRecord* record) {
  if (name == nullptr || record == nullptr) {
    platform::SetLastError(platform::kErrorInvalidParameter);
    return -1;
  }
  // A longer name could not be told apart from another in the cache, and is no account name.
  if (*name == '\0' || std::strlen(name) > kCacheNameMax) {
    lwlog_trace(kLwlogError, kTraceSource, __LINE__, __func__,
                "lw_GetPWbyname_internal error, name=%.255s\n", name);
    return -1;
  }
  const std::string key = platform::LowerCase(name);
  if (FillFromCache(key, record)) return 0;

  PwRecord found;
  if (!ReadByName(name, &found.pw_uid)) {
    lwlog_trace(kLwlogError, kTraceSource, __LINE__, __func__,
                "lw_GetPWbyname_internal error, name=%s\n", name);
    return -1;
  }
  // The uid key holds the product's spelling of the name and is the record that counts.
  if (!ReadByUid(found.pw_uid, &found)) {
    lwlog_trace(kLwlogError, kTraceSource, __LINE__, __func__,
                "lw_GetPWbyuid_internal error, uid=%d\n", static_cast<int>(found.pw_uid));
    return -1;
  }
  found.pw_shell = kShell;
  if (!AddToCache(key, found)) return -1;
  *record = found;
  return 0;
}

uint32_t lw_NetUserModalsGet(const char* server, uint32_t level, UserModalsInfo2* info) {
  if (info == nullptr) return platform::kErrorInvalidParameter;
  const RetrySettings retry = ReadRetrySettings();
  std::string domain;
  for (uint32_t count = 0;; ++count) {
    uint32_t status = platform::MachineDomain(server, level, &domain);
    if (status == platform::kErrorSuccess) {
      info->domain_name = domain;
      return status;
    }
    lwlog_trace(kLwlogError, kTraceSource, __LINE__, __func__,
                "Call NetUserModalsGet .level=%d,nStatus=%d,count=%d, retrytimes=%d, "
                "retryinternal=%d.\n",
                static_cast<int>(level), static_cast<int>(status), static_cast<int>(count),
                static_cast<int>(retry.times), static_cast<int>(retry.interval_ms));
    if (server != nullptr) {
      lwlog_trace(kLwlogError, kTraceSource, __LINE__, __func__,
                  "Call NetUserModalsGet .servername=%s.\n", server);
    }
    if (!IsRetriedStatus(status)) return status;
    platform::Sleep(retry.interval_ms);
    if (count >= retry.times) return status;
  }
}

void lw_PwResetForTest() {
  cache.clear();
  settings_read = false;
  settings = RetrySettings{};
}
