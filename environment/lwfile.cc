#include "environment/lwfile.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "common/common_registry.h"
#include "common/jkr.h"
#include "common/kssettings.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace {

constexpr const char kBaseDirectoryValue[] = "KSBaseDirectory";

// Longest file-name suffix ('/' and the formatted name) of a built path.
constexpr size_t kSuffixMax = kPathBufSize - 1;

// Site list lines are read through a buffer of this size: a longer line comes in pieces of at
// most kSiteListPieceSize - 1 characters, each taken as a line of its own.
constexpr size_t kSiteListPieceSize = 1024;
// Trailing line feeds and carriage returns removed from a site list line.
constexpr int kSiteListLineEndMax = 2;

constexpr const char kSiteListName[] = "site.list";
constexpr const char kSiteListLockName[] = "site.list.lck";

thread_local char sitedb_dir[kPathBufSize];
thread_local char base_dir[kPathBufSize];
thread_local char bin_path[kPathBufSize];

// Writes <root>/<dirs>[/<name formatted with ap>] into dst. The directory parts are copied
// literally, so a '%' in the base directory or a user name is never taken for a placeholder.
int BuildPath(char* dst, size_t cap, const char* root, std::string_view dirs, const char* name,
              va_list ap) {
  if (dst == nullptr) return -1;
  // A path that does not fit is never handed out cut short: the caller gets an empty text.
  if (cap > 0) dst[0] = '\0';
  if (root == nullptr) return -1;

  // Below the root, components are separated the system's way.
  std::string below = "/";
  below += dirs;
  if (name != nullptr) {
    char suffix[kSuffixMax + 1];
    suffix[0] = '/';
    int n = std::vsnprintf(suffix + 1, sizeof suffix - 1, name, ap);
    if (n < 0 || static_cast<size_t>(n) + 1 > kSuffixMax) return -1;
    below.append(suffix, static_cast<size_t>(n) + 1);
  }
  const std::string path = root + platform::NativeSeparators(below);
  if (cap > 0 && path.size() >= cap) return -1;
  std::memcpy(dst, path.c_str(), path.size() + 1);
  return static_cast<int>(path.size());
}

// A user name must name exactly one directory below spool/users.
bool IsPlainUserName(const char* user) {
  if (user == nullptr || *user == '\0') return false;
  if (std::strcmp(user, ".") == 0 || std::strcmp(user, "..") == 0) return false;
  for (const char* c = user; *c != '\0'; ++c) {
    if (platform::IsPathSeparator(*c)) return false;
  }
  return true;
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

// An environment variable that is set to a non-empty text. An empty value counts as unset, as
// it does on the product's native system, where setting a variable to nothing removes it.
const char* SetVariable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// The lock copy of the site list, open for appending, with its first byte locked while this
// object lives. Readers of the site list serialise on that byte; the file's contents do not
// matter to them.
class SiteListLock {
 public:
  explicit SiteListLock(JkrError* err) : err_(err) {}
  SiteListLock(const SiteListLock&) = delete;
  SiteListLock& operator=(const SiteListLock&) = delete;
  // Letting go has a record of its own, so that the caller's record keeps the failure that
  // ended the lookup.
  ~SiteListLock() {
    JkrError release_err;
    if (locked_) {
      std::rewind(stream_);
      jkr_file_unlock(stream_, &release_err);
    }
    if (stream_ != nullptr) jkr_fclose(stream_, &release_err);
  }

  bool Acquire(const char* path) {
    if (jkr_fopen(&stream_, path, "a", err_) != 0) return false;
    // An append stream may start at the end of the file; every reader must lock the same byte,
    // so the lock is taken at the start whatever the file's size at this moment.
    std::rewind(stream_);
    if (jkr_file_lock(stream_, err_) != 0) return false;
    locked_ = true;
    return true;
  }

 private:
  JkrError* err_;
  FILE* stream_ = nullptr;
  bool locked_ = false;
};

// Enters one site list line (or piece of a line) into the table: "name=directory", the
// directory being everything after the first '=' that follows the name. Leading '=' are not
// part of the name; a line without '=' names a site with an empty directory.
void AddSiteLine(CommonRegObject* table, char* line) {
  size_t len = std::strlen(line);
  for (int i = 0; i < kSiteListLineEndMax && len > 0; ++i) {
    if (line[len - 1] != '\n' && line[len - 1] != '\r') break;
    line[--len] = '\0';
  }
  if (len == 0) return;

  char* name = line + std::strspn(line, "=");
  const char* directory = "";
  if (char* equals = std::strchr(name, '='); equals != nullptr) {
    *equals = '\0';
    directory = equals + 1;
  }
  // The first definition of a name wins; later ones are ignored.
  if (common_reg_find_key(table, name) != nullptr) return;
  common_reg_set_str(common_reg_create_key(table, name), directory);
}

}  // namespace

const char* lwfile_base_dir() {
  if (base_dir[0] != '\0') return base_dir;

  std::string value;
  if (KSRegGetString(platform::kProductKeyPath, kBaseDirectoryValue, &value) !=
      platform::kErrorSuccess) {
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

int lwfile_sitelist_load_dbpath(const char* site, char* dst, size_t cap, JkrError* err) {
  JkrError local_err;
  if (err == nullptr) err = &local_err;
  if (dst != nullptr && cap > 0) dst[0] = '\0';
  if (site == nullptr || dst == nullptr || cap == 0) return -1;

  char list_path[kPathBufSize];
  char lock_path[kPathBufSize];
  if (lwfile_path_etc(list_path, sizeof list_path, "%s", kSiteListName) < 0 ||
      lwfile_path_etc(lock_path, sizeof lock_path, "%s", kSiteListLockName) < 0) {
    return -1;
  }

  // A missing site list is no reason to stop: it is created empty below.
  if (jkr_cp(list_path, lock_path, 0, err) != 0 &&
      err->system_code != platform::kErrorFileNotFound) {
    return -1;
  }
  SiteListLock lock(err);
  if (!lock.Acquire(lock_path)) return -1;

  FILE* list = nullptr;
  if (jkr_fopen(&list, list_path, "a+", err) != 0) return -1;
  // Reading starts at the beginning, wherever the append mode put the stream.
  std::rewind(list);
  UniqueCommonRegistry table(common_reg_create_registry());
  char piece[kSiteListPieceSize];
  while (jkr_fgets(piece, sizeof piece, list, err) != nullptr) {
    AddSiteLine(table.get(), piece);
  }
  // A list that could not be read to its end may lack the entry, or hold only part of it.
  const bool read_whole = !std::ferror(list);
  JkrError close_err;
  jkr_fclose(list, read_whole ? err : &close_err);
  if (!read_whole) return -1;

  CommonRegObject* entry = common_reg_find_key(table.get(), site);
  if (entry == nullptr) return -1;
  const char* directory = common_reg_get_str(entry);
  const size_t len = std::strlen(directory);
  // A directory cut to fit would name another directory.
  if (len >= cap) return -1;
  std::memcpy(dst, directory, len + 1);
  return 0;
}

const char* lwfile_sitedb_dir() {
  if (sitedb_dir[0] != '\0') return sitedb_dir;

  char listed[kPathBufSize];
  const char* dir = SetVariable("ZOV_SITEDB");
  if (dir == nullptr) {
    if (const char* site = SetVariable("ZOV_SITE"); site != nullptr) {
      JkrError err;
      if (lwfile_sitelist_load_dbpath(site, listed, sizeof listed, &err) != 0) return nullptr;
      dir = listed;
    } else {
      dir = lwfile_base_dir();
    }
  }
  // An empty directory would root the site's files at '/', and a longer one than the cache
  // holds would have to be cut to another directory: both are refused, and the cache stays
  // empty so that the next call tries again.
  if (dir == nullptr || *dir == '\0') return nullptr;
  const size_t len = std::strlen(dir);
  if (len >= kPathBufSize) return nullptr;
  std::memcpy(sitedb_dir, dir, len + 1);
  return sitedb_dir;
}

const char* lwfile_bin_path(const char* name) {
  int n = name == nullptr
              ? lwfile_path_bin(bin_path, sizeof bin_path, nullptr)
              : lwfile_path_bin(bin_path, sizeof bin_path, "%s%s", name, platform::kProgramSuffix);
  return n < 0 ? nullptr : bin_path;
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
