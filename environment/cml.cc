#include "environment/cml.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/ksaccount.h"
#include "common/kssettings.h"
#include "common/lwuser.h"
#include "common/retry32.h"
#include "environment/lwfile.h"
#include "environment/test_hooks.h"
#include "platform/error.h"
#include "platform/security.h"
#include "platform/textcase.h"

namespace {

void FailInvalid() {
  platform::SetLastError(platform::kErrorInvalidParameter);
  errno = EINVAL;
}

// Copies path and applies the name rules to the copy, so that callers' texts stay as given.
bool CheckedCopy(const char* path, std::string* out) {
  if (path == nullptr || std::strlen(path) >= kCmlPathLimit) return false;
  *out = path;
  if (CML_checkpath(out->data()) == nullptr) return false;
  out->resize(std::strlen(out->c_str()));  // a final colon may have been removed
  return true;
}

enum class OpenKind { kNone, kRead, kWrite, kAppend };

// The kind of open a mode asks for: r, w and a are looked for in that order.
OpenKind ModeKind(const char* mode) {
  if (std::strchr(mode, 'r') != nullptr) return OpenKind::kRead;
  if (std::strchr(mode, 'w') != nullptr) return OpenKind::kWrite;
  if (std::strchr(mode, 'a') != nullptr) return OpenKind::kAppend;
  return OpenKind::kNone;
}

// ---- Account facts -----------------------------------------------------------------------
//
// The product's file security names accounts by their identifiers, which come from the
// account lookup (common/ksaccount.h). Failures of the lookup carry the lookup's system code;
// errno is then EINVAL, as the native C runtime reports system codes it has no number for.

using platform::AccessList;
using platform::AccessRights;

constexpr char kGlobalPrefix[] = "Global\\";

bool AccountFailure() {
  if (platform::GetLastError() == platform::kErrorSuccess) {
    platform::SetLastError(platform::kErrorNoneMapped);
  }
  errno = EINVAL;
  return false;
}

// Looks account up on the local machine: its identifier, and the domain that holds it.
bool LookupAccount(const char* account, std::string* sid, std::string* domain) {
  return (account != nullptr && KSLookupAccountSid(account, sid, domain)) || AccountFailure();
}

// A file that the product creates: full control for the manager account, Administrators and
// the creating user (when that is not the manager); read for Everyone. Owned by the creating
// user and protected from what its directory would pass on.
bool ProductFileSecurity(platform::FileSecurity* security) {
  AccessList list;
  if (!KSProductAccessList(false, AccessRights::kRead, &list)) return AccountFailure();
  *security = platform::FileSecurity{std::move(list), false};
  return true;
}

// Process-wide state of the take-over: whether it applies (decided once), and the standard
// access list of each account handed a file (names compared without regard to case).
enum class TakeOver { kUndecided, kApplies, kDoesNotApply };

TakeOver take_over = TakeOver::kUndecided;
std::map<std::string, AccessList> standard_access;

// Whether the take-over applies: the process runs as the manager account, and the site's
// spool directory lies on a file system that keeps access lists. kUndecided, after a message,
// when the spool directory is unknown or its file system cannot be asked.
TakeOver DecideTakeOver() {
  char spool[kPathBufSize];
  if (lwfile_path_spool(spool, sizeof spool, nullptr) < 0) spool[0] = '\0';
  if (spool[0] == '\0') {
    std::fprintf(stderr, "5 3 Get ZOV database directory: %s\n", spool);
    return TakeOver::kUndecided;
  }
  if (!platform::FileSystemHasAccessLists(spool)) {
    if (platform::GetLastError() == platform::kErrorNotSupported) return TakeOver::kDoesNotApply;
    std::fputs("Failed to get name of file system.\n", stderr);
    return TakeOver::kUndecided;
  }
  const char* caller = lw_GetUserName();
  const char* manager = GetKSmgrname();
  return caller != nullptr && manager != nullptr && platform::EqualIgnoringCase(caller, manager)
             ? TakeOver::kApplies
             : TakeOver::kDoesNotApply;
}

// The standard access for account, built once per account and kept for the process: all
// access for the account, the operator group (in the domain that holds the account) and
// Administrators; read and execute for Everyone. nullptr when an identifier cannot be had.
const AccessList* StandardAccessFor(const char* account) {
  std::string key = platform::LowerCase(account);
  auto found = standard_access.find(key);
  if (found != standard_access.end()) return &found->second;
  std::string account_sid;
  std::string domain;
  if (!LookupAccount(account, &account_sid, &domain)) return nullptr;
  const char* group_sid = KSOperatorGroupSid(domain.c_str());
  if (group_sid == nullptr) {
    AccountFailure();
    return nullptr;
  }
  AccessList list = {{account_sid, AccessRights::kFullControl},
                     {group_sid, AccessRights::kFullControl},
                     {platform::kAdministratorsSid, AccessRights::kFullControl},
                     {platform::kEveryoneSid, AccessRights::kReadExecute}};
  return &standard_access.emplace(key, std::move(list)).first->second;
}

// Replaces the access list of path in one step while holding the cross-process semaphore
// named lock_name, so that two processes never interleave their changes of one file.
bool ReplaceAccessList(const std::string& lock_name, const std::string& path,
                       const AccessList& list) {
  platform::NamedSemaphore semaphore;
  if (!semaphore.OpenOrCreate(lock_name.substr(sizeof kGlobalPrefix - 1)) || !semaphore.Wait()) {
    return false;
  }
  bool set = platform::SetFileAccessList(path.c_str(), list);
  // The list is in place or not whatever the release does; the semaphore gives a count that
  // it could not give back now when it goes.
  uint32_t code = platform::GetLastError();
  int err = errno;
  semaphore.Release();
  platform::SetLastError(code);
  errno = err;
  return set;
}

// Creates path (which did not exist) for writing, then closes it. Opening an existing file
// rather than truncating it keeps whatever another process may have created meanwhile.
bool CreateFirst(const std::string& path, const platform::FileSecurity* security) {
  platform::UniqueFileHandle handle(
      retry32_CreateFile(path.c_str(), platform::kGenericRead | platform::kGenericWrite,
                         platform::kShareNone, security, platform::kOpenAlways,
                         platform::kFileAttributeNormal, platform::kInvalidFileHandle));
  return handle.Valid();
}

// The first steps of an open: the name rules, and a mode that holds r, w or a. kNone, with
// code 87, when either refuses.
OpenKind CheckOpen(const char* path, const char* mode, std::string* checked) {
  const OpenKind kind =
      mode == nullptr || !CheckedCopy(path, checked) ? OpenKind::kNone : ModeKind(mode);
  if (kind == OpenKind::kNone) FailInvalid();
  return kind;
}

}  // namespace

char* CML_checkpath(char* path) {
  if (path == nullptr) return nullptr;
  size_t length = strnlen(path, kCmlPathLimit);
  if (length >= kCmlPathLimit) return nullptr;
  bool first = true;
  for (size_t i = 0; i < length; ++i) {
    if (path[i] != ':') continue;
    const char* next = path + i + 1;
    if (first) {
      first = false;
      bool keep =
          *next == '\\' || *next == '/' || *next == '\0' || (next[0] == '@' && next[1] == 'b');
      if (!keep) path[i] = '`';
    } else if (*next == '\0') {
      path[i] = '\0';
    } else {
      path[i] = '`';
    }
  }
  return path;
}

FILE* CML_freopen(const char* path, const char* mode, FILE* stream) {
  std::string checked;
  if (stream == nullptr) {
    FailInvalid();
    return nullptr;
  }
  const OpenKind kind = CheckOpen(path, mode, &checked);
  if (kind == OpenKind::kNone) return nullptr;
  if (kind != OpenKind::kRead) {
    platform::FileStatus status;
    platform::FileSecurity security;
    if (!platform::GetFileStatus(checked.c_str(), &status) &&
        (!ProductFileSecurity(&security) || !CreateFirst(checked, &security))) {
      return nullptr;
    }
  }
  return retry32_freopen(checked.c_str(), mode, stream);
}

FILE* CML_fopen(const char* path, const char* mode) {
  std::string checked;
  const OpenKind kind = CheckOpen(path, mode, &checked);
  if (kind == OpenKind::kNone) return nullptr;
  bool created = false;
  if (kind != OpenKind::kRead) {
    platform::FileStatus status;
    if (!platform::GetFileStatus(checked.c_str(), &status)) {
      platform::FileSecurity security;
      if (!ProductFileSecurity(&security) || !CreateFirst(checked, &security)) return nullptr;
      created = true;
    }
  }
  FILE* stream = retry32_fopen(checked.c_str(), mode);
  if (stream != nullptr || created || platform::GetLastError() != platform::kErrorAccessDenied) {
    return stream;
  }
  // A file that the manager account may not read is handed to it, then opened once more.
  int open_errno = errno;
  const char* manager_name = KSMgrAccountName();
  // A copy: the name's buffer is rewritten by the next read of the setting.
  std::string manager = manager_name != nullptr ? manager_name : "";
  if (manager_name != nullptr && CML_chown(checked.c_str(), manager.c_str()) == 0) {
    return retry32_fopen(checked.c_str(), mode);
  }
  // Report the refused open, not the failed hand-over.
  platform::SetLastError(platform::kErrorAccessDenied);
  errno = open_errno;
  return nullptr;
}

int CML_stat(const char* path, platform::FileStatus* status) {
  std::string lookup;
  if (status == nullptr || !CheckedCopy(path, &lookup)) {
    FailInvalid();
    return -1;
  }
  size_t n = lookup.size();
  // A last byte that is the second half of a two-byte character is not a separator.
  bool two_byte_end =
      n >= 2 && IsLeadByte(static_cast<unsigned char>(lookup[n - 2]), g_language_id);
  if (!two_byte_end && n > 0) {
    if (lookup.back() == ':') {
      lookup += '/';
    } else if ((lookup.back() == '/' || lookup.back() == '\\') && n > 1) {
      lookup.pop_back();
    }
  }
  return platform::GetFileStatus(lookup.c_str(), status) ? 0 : -1;
}

int CML_unlink(const char* path) {
  std::string checked;
  if (!CheckedCopy(path, &checked)) {
    FailInvalid();
    return -1;
  }
  return platform::RemoveFile(checked.c_str()) ? 0 : -1;
}

int CML_chown(const char* path, const char* account) {
  if (path == nullptr || account == nullptr) {
    FailInvalid();
    return -1;
  }
  if (platform::EqualIgnoringCase(account, ".C")) return 0;
  std::string checked;
  // Decided once per process; while it cannot be decided, the take-over goes ahead and the
  // next call tries again.
  if (take_over == TakeOver::kUndecided) take_over = DecideTakeOver();
  if (take_over == TakeOver::kDoesNotApply) return 0;
  if (!CheckedCopy(path, &checked)) {
    FailInvalid();
    return -1;
  }
  const AccessList* standard = StandardAccessFor(account);
  if (standard == nullptr) return -1;
  // The new list replaces the old one in one step: removing the old list first would leave
  // the file open to everyone until the new one is set, and for good if that then failed.
  return ReplaceAccessList(CML_access_lock_name(checked.c_str()), checked, *standard) ? 0 : -1;
}

void CML_ResetForTest() {
  take_over = TakeOver::kUndecided;
  standard_access.clear();
}

std::string CML_access_lock_name(const char* path) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+_";
  static constexpr size_t kMaxEncoded = 252;
  std::string encoded;
  if (path != nullptr) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(path);
    size_t n = std::strlen(path);
    auto put = [&](uint32_t value, int characters) {
      for (int k = 0; k < characters; ++k, value >>= 6) encoded += kAlphabet[value & 63];
    };
    size_t i = 0;
    for (; i + 3 <= n; i += 3) put(bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2], 4);
    if (n - i == 1) put(bytes[i] << 8, 2);
    if (n - i == 2) put(bytes[i] << 16 | bytes[i + 1] << 8, 3);
  }
  if (encoded.size() > kMaxEncoded) encoded.erase(0, encoded.size() - kMaxEncoded);
  if (!encoded.empty() && std::isdigit(static_cast<unsigned char>(encoded[0]))) encoded[0] = '_';
  return "Global\\" + encoded;
}
