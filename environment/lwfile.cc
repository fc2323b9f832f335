#include "environment/lwfile.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/registry.h"

int g_language_id = 0;

namespace {

constexpr const char kBaseDirectoryValue[] = "KSBaseDirectory";
constexpr const char kLanguageIdValue[] = "KSLanguageId";

// Attempts at opening the key and at querying the language id, and the pause between them.
constexpr int kLanguageAttempts = 5;
constexpr uint32_t kLanguageRetryPauseMs = 1000;
// Longest language id text that is looked at.
constexpr size_t kLanguageTextMax = 4096;
constexpr int kHighestLanguageId = 2;

// Longest file-name suffix ('/' and the formatted name) of a built path.
constexpr size_t kSuffixMax = kPathBufSize - 1;

thread_local char base_dir[kPathBufSize];
thread_local char bin_path[kPathBufSize];

// -1 until the first successful read. Every thread that reads it stores the same value.
std::atomic<int> language_id{-1};

// HKEY_LOCAL_MACHINE\<path>, or an empty key when it cannot be opened.
platform::UniqueRegKey OpenKey(const char* path) {
  platform::RegKey raw = nullptr;
  uint32_t rc = platform::RegOpenKeyEx(path, platform::RegAccess::kAllAccess, &raw);
  return platform::UniqueRegKey(rc == platform::kErrorSuccess ? raw : nullptr);
}

// The decimal number at the start of the text (0 when there is none); above the highest id or
// negative counts as the highest.
int LanguageIdFromText(std::string text) {
  if (text.size() > kLanguageTextMax) text.resize(kLanguageTextMax);
  long id = std::strtol(text.c_str(), nullptr, 10);
  if (id < 0 || id > kHighestLanguageId) return kHighestLanguageId;
  return static_cast<int>(id);
}

// Writes <root>/<dirs>[/<name formatted with ap>] into dst. The directory parts are copied
// literally, so a '%' in the base directory or a user name is never taken for a placeholder.
int BuildPath(char* dst, size_t cap, const char* root, std::string_view dirs, const char* name,
              va_list ap) {
  if (dst == nullptr) return -1;
  // A path that does not fit is never handed out cut short: the caller gets an empty text.
  if (cap > 0) dst[0] = '\0';
  if (root == nullptr) return -1;

  std::string path(root);
  path += '/';
  path += dirs;
  if (name != nullptr) {
    char suffix[kSuffixMax + 1];
    suffix[0] = '/';
    int n = std::vsnprintf(suffix + 1, sizeof suffix - 1, name, ap);
    if (n < 0 || static_cast<size_t>(n) + 1 > kSuffixMax) return -1;
    path.append(suffix, static_cast<size_t>(n) + 1);
  }
  if (cap > 0 && path.size() >= cap) return -1;
  std::memcpy(dst, path.c_str(), path.size() + 1);
  return static_cast<int>(path.size());
}

// A user name must name exactly one directory below spool/users.
bool IsPlainUserName(const char* user) {
  if (user == nullptr || *user == '\0') return false;
  if (std::strcmp(user, ".") == 0 || std::strcmp(user, "..") == 0) return false;
  return std::strchr(user, '/') == nullptr;
}

int BuildUserPath(char* dst, size_t cap, const char* user, std::string_view subdirectory,
                  const char* name, va_list ap) {
  if (dst != nullptr && cap > 0) dst[0] = '\0';
  if (!IsPlainUserName(user)) return -1;
  std::string dirs = "spool/users/";
  dirs += user;
  if (!subdirectory.empty()) {
    dirs += '/';
    dirs += subdirectory;
  }
  return BuildPath(dst, cap, lwfile_sitedb_dir(), dirs, name, ap);
}

}  // namespace

const char* lwfile_base_dir() {
  if (base_dir[0] != '\0') return base_dir;

  platform::UniqueRegKey key = OpenKey(platform::kProductKeyPath);
  if (!key) return nullptr;
  std::string value;
  if (platform::RegQueryString(key.get(), kBaseDirectoryValue, &value) != platform::kErrorSuccess) {
    return nullptr;
  }
  // An empty value would root every product path at '/', and a longer one does not fit the
  // buffer; both are refused, and the next call reads the registry again.
  if (value.empty() || value.size() >= kPathBufSize || value.find('\0') != std::string::npos) {
    return nullptr;
  }
  std::memcpy(base_dir, value.c_str(), value.size() + 1);
  return base_dir;
}

const char* lwfile_bin_path(const char* name) {
  int n = name == nullptr ? lwfile_path_bin(bin_path, sizeof bin_path, nullptr)
                          : lwfile_path_bin(bin_path, sizeof bin_path, "%s", name);
  return n < 0 ? nullptr : bin_path;
}

int KSGetLanguageId() {
  int known = language_id.load();
  if (known >= 0) return known;

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
      language_id.store(id);
      return id;
    }
    // A missing value will not appear by waiting for it.
    if (rc == platform::kErrorFileNotFound) break;
    platform::Sleep(kLanguageRetryPauseMs);
  }
  return -1;
}

void KSResetLanguageIdForTest() { language_id.store(-1); }

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

// The builders differ only in their tree and subdirectory.
#define LWFILE_TREE_BUILDER(function, root, dirs)              \
  int function(char* dst, size_t cap, const char* name, ...) { \
    va_list ap;                                                \
    va_start(ap, name);                                        \
    int n = BuildPath(dst, cap, root, dirs, name, ap);         \
    va_end(ap);                                                \
    return n;                                                  \
  }

#define LWFILE_USER_BUILDER(function, subdirectory)                              \
  int function(char* dst, size_t cap, const char* user, const char* name, ...) { \
    va_list ap;                                                                  \
    va_start(ap, name);                                                          \
    int n = BuildUserPath(dst, cap, user, subdirectory, name, ap);               \
    va_end(ap);                                                                  \
    return n;                                                                    \
  }

LWFILE_TREE_BUILDER(lwfile_path_bin, lwfile_base_dir(), "bin")
LWFILE_TREE_BUILDER(lwfile_path_etc, lwfile_base_dir(), "etc")
LWFILE_TREE_BUILDER(lwfile_path_doc, lwfile_base_dir(), "doc")
LWFILE_TREE_BUILDER(lwfile_path_lib, lwfile_base_dir(), "lib")
LWFILE_TREE_BUILDER(lwfile_path_setup, lwfile_base_dir(), "setup")

LWFILE_TREE_BUILDER(lwfile_path_sitedb_etc, lwfile_sitedb_dir(), "etc")
LWFILE_TREE_BUILDER(lwfile_path_spool, lwfile_sitedb_dir(), "spool")
LWFILE_TREE_BUILDER(lwfile_path_spool_tmp, lwfile_sitedb_dir(), "spool/tmp")
LWFILE_TREE_BUILDER(lwfile_path_spool_calendar, lwfile_sitedb_dir(), "spool/calendar")
LWFILE_TREE_BUILDER(lwfile_path_spool_lock_calendar, lwfile_sitedb_dir(), "spool/lock/calendar")
LWFILE_TREE_BUILDER(lwfile_path_spool_conf, lwfile_sitedb_dir(), "spool/conf")
LWFILE_TREE_BUILDER(lwfile_path_spool_log, lwfile_sitedb_dir(), "spool/log")
LWFILE_TREE_BUILDER(lwfile_path_spool_perf, lwfile_sitedb_dir(), "spool/perf")
LWFILE_TREE_BUILDER(lwfile_path_spool_templates_customjob, lwfile_sitedb_dir(),
                    "spool/templates/customjob")
LWFILE_TREE_BUILDER(lwfile_path_spool_lock_templates_customjob, lwfile_sitedb_dir(),
                    "spool/lock/templates/customjob")
LWFILE_TREE_BUILDER(lwfile_path_spool_wkcal, lwfile_sitedb_dir(), "spool/wkcal.d")
LWFILE_TREE_BUILDER(lwfile_path_spool_users, lwfile_sitedb_dir(), "spool/users")
LWFILE_TREE_BUILDER(lwfile_path_spool_lock_users, lwfile_sitedb_dir(), "spool/lock/users")

LWFILE_USER_BUILDER(lwfile_path_user, "")
LWFILE_USER_BUILDER(lwfile_path_user_archive, "archive")
LWFILE_USER_BUILDER(lwfile_path_user_indcal, "indcal")
LWFILE_USER_BUILDER(lwfile_path_user_jobnetwork, "jobnetwork")
LWFILE_USER_BUILDER(lwfile_path_user_lock_jobnetwork, "lock/jobnetwork")
LWFILE_USER_BUILDER(lwfile_path_user_plan, "plan")
LWFILE_USER_BUILDER(lwfile_path_user_lock_plan, "lock/plan")
LWFILE_USER_BUILDER(lwfile_path_user_schedule, "schedule")
LWFILE_USER_BUILDER(lwfile_path_user_lock_schedule, "lock/schedule")
LWFILE_USER_BUILDER(lwfile_path_user_sgfile, "sgfile")
LWFILE_USER_BUILDER(lwfile_path_user_sock, "sock")
LWFILE_USER_BUILDER(lwfile_path_user_lock_tracker, "lock/tracker")
LWFILE_USER_BUILDER(lwfile_path_user_ksjnw, "ksjnw")
LWFILE_USER_BUILDER(lwfile_path_user_kstrk, "kstrk")

#undef LWFILE_TREE_BUILDER
#undef LWFILE_USER_BUILDER

int lwfile_path_user_tracker_seq(char* dst, size_t cap, const char* user, int seq, const char* name,
                                 ...) {
  if (seq < 0 || seq > 9999) {
    if (dst != nullptr && cap > 0) dst[0] = '\0';
    return -1;
  }
  char subdirectory[sizeof "tracker/seq_0000"];
  std::snprintf(subdirectory, sizeof subdirectory, "tracker/seq_%04d", seq);
  va_list ap;
  va_start(ap, name);
  int n = BuildUserPath(dst, cap, user, subdirectory, name, ap);
  va_end(ap);
  return n;
}
