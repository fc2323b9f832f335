#include "common/cml.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "common/retry32.h"
#include "environment/lwfile.h"
#include "platform/error.h"

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

bool EqualIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (std::tolower(static_cast<unsigned char>(*a)) !=
        std::tolower(static_cast<unsigned char>(*b))) {
      return false;
    }
  }
  return *a == *b;
}

std::string Lower(const char* text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// ---- Account facts -----------------------------------------------------------------------
//
// The product's file security names accounts by their security identifiers, which come from
// the account lookup. This build has no account lookup: every identifier lookup answers
// "none mapped" (1332), so the secure creation and the take-over fail before they touch the
// file, as they do whenever an identifier cannot be had.

enum class Rights { kFullControl, kReadExecute, kRead };

struct AccessEntry {
  std::string sid;
  Rights rights;
};
using AccessList = std::vector<AccessEntry>;

constexpr char kAdministratorsSid[] = "S-1-5-32-544";
constexpr char kEveryoneSid[] = "S-1-1-0";

bool NoAccountLookup() {
  platform::SetLastError(platform::kErrorNoneMapped);
  errno = ENOENT;
  return false;
}

bool ManagerSid(std::string* sid) {
  (void)sid;
  return NoAccountLookup();
}

bool CallerSid(std::string* sid) {
  (void)sid;
  return NoAccountLookup();
}

bool AccountSid(const char* account, std::string* sid) {
  (void)account;
  (void)sid;
  return NoAccountLookup();
}

bool OperatorGroupSid(std::string* sid) {
  (void)sid;
  return NoAccountLookup();
}

// The product manager account's name, read afresh; nullptr when it cannot be had.
const char* ManagerAccountName() {
  NoAccountLookup();
  return nullptr;
}

// Whether the take-over applies: the process runs as the manager account, on a site volume
// that keeps access lists. False when that cannot be decided yet.
bool DecideTakeOver(bool* applies) {
  (void)applies;
  return false;
}

// Turns an access list into a descriptor for a new file, owned by the creating user and
// protected from inheritance.
bool NewFileSecurity(const AccessList& list, const platform::FileSecurity** security) {
  (void)list;
  (void)security;
  platform::SetLastError(platform::kErrorNotSupported);
  errno = EOPNOTSUPP;
  return false;
}

// Replaces the access list of path in one step, while holding the cross-process lock named
// lock_name (so that two processes never interleave their changes of one file).
bool ReplaceAccessList(const std::string& lock_name, const std::string& path,
                       const AccessList& list) {
  (void)lock_name;
  (void)path;
  (void)list;
  platform::SetLastError(platform::kErrorNotSupported);
  errno = EOPNOTSUPP;
  return false;
}

// ---- Product file security ---------------------------------------------------------------

// A file that the product creates: full control for the manager account, Administrators and
// the creating user (when that is not the manager); read for Everyone.
bool ProductFileSecurity(const platform::FileSecurity** security) {
  std::string manager;
  std::string caller;
  if (!ManagerSid(&manager) || !CallerSid(&caller)) return false;
  AccessList list = {{manager, Rights::kFullControl}, {kAdministratorsSid, Rights::kFullControl}};
  if (caller != manager) list.push_back({caller, Rights::kFullControl});
  list.push_back({kEveryoneSid, Rights::kRead});
  return NewFileSecurity(list, security);
}

// The standard access for account, built once per account (names compared without regard to
// case) and kept for the process: all access for the account, the operator group and
// Administrators; read and execute for Everyone.
const AccessList* StandardAccessFor(const char* account) {
  static std::map<std::string, AccessList> table;
  std::string key = Lower(account);
  auto found = table.find(key);
  if (found != table.end()) return &found->second;
  std::string account_sid;
  std::string group_sid;
  if (!AccountSid(account, &account_sid) || !OperatorGroupSid(&group_sid)) return nullptr;
  AccessList list = {{account_sid, Rights::kFullControl},
                     {group_sid, Rights::kFullControl},
                     {kAdministratorsSid, Rights::kFullControl},
                     {kEveryoneSid, Rights::kReadExecute}};
  return &table.emplace(key, std::move(list)).first->second;
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
    // The output file gets the default permissions until the product's file security can be
    // built (it needs the account lookup).
    if (!platform::GetFileStatus(checked.c_str(), &status) && !CreateFirst(checked, nullptr)) {
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
      const platform::FileSecurity* security = nullptr;
      if (!ProductFileSecurity(&security) || !CreateFirst(checked, security)) return nullptr;
      created = true;
    }
  }
  FILE* stream = retry32_fopen(checked.c_str(), mode);
  if (stream != nullptr || created || platform::GetLastError() != platform::kErrorAccessDenied) {
    return stream;
  }
  // A file that the manager account may not read is handed to it, then opened once more.
  int open_errno = errno;
  const char* manager = ManagerAccountName();
  if (manager != nullptr && CML_chown(checked.c_str(), manager) == 0) {
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
  if (EqualIgnoringCase(account, ".C")) return 0;
  // Decided once per process; while it cannot be decided, the take-over goes ahead.
  static int applies = -1;
  if (applies < 0) {
    bool decided_applies = false;
    if (DecideTakeOver(&decided_applies)) applies = decided_applies ? 1 : 0;
  }
  if (applies == 0) return 0;
  std::string checked;
  if (!CheckedCopy(path, &checked)) {
    FailInvalid();
    return -1;
  }
  // The new list replaces the old one in one step: removing the old list first would leave
  // the file open to everyone until the new one is set, and for good if that then failed.
  const AccessList* list = StandardAccessFor(account);
  if (list == nullptr) return -1;
  return ReplaceAccessList(CML_access_lock_name(checked.c_str()), checked, *list) ? 0 : -1;
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
