// Access lists as POSIX ACLs (libacl), the creation mask, and named semaphores on POSIX.
//
// An access list is translated once into per-uid and per-gid rights and the rights of
// Everyone, and the ACL is built from that with the entry API rather than from text, so that
// an account whose name is a number can never be taken for another uid.
//
// The native system adds up allow entries: an account named in a list also has what the list
// gives Everyone. A POSIX ACL applies only the first entry that matches (owner, named user,
// owning or named group, other), so every entry here gets Everyone's rights added, and the
// owner entry and owning group entry, which the list cannot name, get what the list gives the
// owner's identifier and Everyone, and Everyone alone.
//
// Lists are always set in one step (acl_set_file, acl_set_fd): the kernel swaps the whole list,
// so no process ever sees the object without a list or with a partial one.
#include <acl/libacl.h>
#include <fcntl.h>
#include <semaphore.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "platform/error.h"
#include "platform/security.h"

namespace platform {

namespace {

// The system's name limit less the "sem." that glibc puts before the name in /dev/shm.
constexpr size_t kSemaphoreNameMax = NAME_MAX - 4;

constexpr char kEveryoneSid[] = "S-1-1-0";
constexpr char kAdministratorsSid[] = "S-1-5-32-544";
constexpr char kSystemSid[] = "S-1-5-18";
constexpr char kUserSidPrefix[] = "S-1-22-1-";
constexpr char kGroupSidPrefix[] = "S-1-22-2-";

std::atomic<bool> no_access_lists_for_test{false};

void Fail(int err) {
  SetLastError(ErrorFromErrno(err));
  errno = err;
}

// Permission bits of one entry: 4 read, 2 write, 1 execute.
using Perm = unsigned;
constexpr Perm kRead = 4;
constexpr Perm kWrite = 2;
constexpr Perm kExecute = 1;
constexpr Perm kAll = kRead | kWrite | kExecute;

Perm PermOf(AccessRights rights) {
  switch (rights) {
    case AccessRights::kFullControl:
      return kAll;
    case AccessRights::kReadExecute:
      return kRead | kExecute;
    case AccessRights::kRead:
      return kRead;
  }
  return 0;
}

struct MappedList {
  std::map<uid_t, Perm> users;
  std::map<gid_t, Perm> groups;
  Perm everyone = 0;
};

// Reads the decimal account number after prefix. Ids that do not fit, and (uid_t)-1, which the
// system reserves for "no id", are refused.
bool ParseId(const std::string& sid, const char* prefix, uint32_t* id) {
  size_t start = std::strlen(prefix);
  if (sid.compare(0, start, prefix) != 0 || sid.size() == start || sid.size() - start > 10) {
    return false;
  }
  uint64_t value = 0;
  for (size_t i = start; i < sid.size(); ++i) {
    if (sid[i] < '0' || sid[i] > '9') return false;
    value = value * 10 + static_cast<uint64_t>(sid[i] - '0');
  }
  if (value >= 0xFFFFFFFFu) return false;
  *id = static_cast<uint32_t>(value);
  return true;
}

bool MapList(const AccessList& list, MappedList* out) {
  MappedList mapped;
  for (const AccessEntry& entry : list) {
    Perm perm = PermOf(entry.rights);
    uint32_t id;
    if (entry.sid == kEveryoneSid) {
      mapped.everyone |= perm;
    } else if (entry.sid == kAdministratorsSid) {
      mapped.groups[0] |= perm;
    } else if (entry.sid == kSystemSid) {
      mapped.users[0] |= perm;
    } else if (ParseId(entry.sid, kUserSidPrefix, &id)) {
      mapped.users[static_cast<uid_t>(id)] |= perm;
    } else if (ParseId(entry.sid, kGroupSidPrefix, &id)) {
      mapped.groups[static_cast<gid_t>(id)] |= perm;
    } else {
      SetLastError(kErrorInvalidSid);
      errno = EINVAL;
      return false;
    }
  }
  for (auto& [uid, perm] : mapped.users) perm |= mapped.everyone;
  for (auto& [gid, perm] : mapped.groups) perm |= mapped.everyone;
  *out = std::move(mapped);
  return true;
}

Perm OwnerPerm(const MappedList& mapped, uid_t owner) {
  auto found = mapped.users.find(owner);
  return found != mapped.users.end() ? found->second : mapped.everyone;
}

// The permission bits a list maps to, for a file system that keeps no lists.
mode_t ModeBits(const MappedList& mapped, uid_t owner) {
  return static_cast<mode_t>(OwnerPerm(mapped, owner) << 6 | mapped.everyone << 3 |
                             mapped.everyone);
}

class Acl {
 public:
  explicit Acl(acl_t acl) : acl_(acl) {}
  ~Acl() {
    if (acl_ != nullptr) acl_free(acl_);
  }
  Acl(const Acl&) = delete;
  Acl& operator=(const Acl&) = delete;
  acl_t get() const { return acl_; }
  acl_t* address() { return &acl_; }

 private:
  acl_t acl_;
};

bool AddEntry(Acl* acl, acl_tag_t tag, const void* qualifier, Perm perm) {
  acl_entry_t entry;
  acl_permset_t permset;
  if (acl_create_entry(acl->address(), &entry) != 0 || acl_set_tag_type(entry, tag) != 0 ||
      (qualifier != nullptr && acl_set_qualifier(entry, qualifier) != 0) ||
      acl_get_permset(entry, &permset) != 0 || acl_clear_perms(permset) != 0) {
    return false;
  }
  if ((perm & kRead) != 0 && acl_add_perm(permset, ACL_READ) != 0) return false;
  if ((perm & kWrite) != 0 && acl_add_perm(permset, ACL_WRITE) != 0) return false;
  if ((perm & kExecute) != 0 && acl_add_perm(permset, ACL_EXECUTE) != 0) return false;
  return acl_set_permset(entry, permset) == 0;
}

// Builds the access list of an object owned by owner or, for_default, the default list of a
// directory, which gives the owner of each new object full control.
bool BuildAcl(const MappedList& mapped, uid_t owner, bool for_default, Acl* acl) {
  Perm mask = mapped.everyone;
  bool ok = AddEntry(acl, ACL_USER_OBJ, nullptr, for_default ? kAll : OwnerPerm(mapped, owner));
  for (const auto& [uid, perm] : mapped.users) {
    ok = ok && AddEntry(acl, ACL_USER, &uid, perm);
    mask |= perm;
  }
  ok = ok && AddEntry(acl, ACL_GROUP_OBJ, nullptr, mapped.everyone);
  for (const auto& [gid, perm] : mapped.groups) {
    ok = ok && AddEntry(acl, ACL_GROUP, &gid, perm);
    mask |= perm;
  }
  // A mask is required, and only meaningful, when there are named entries.
  if (!mapped.users.empty() || !mapped.groups.empty()) {
    ok = ok && AddEntry(acl, ACL_MASK, nullptr, mask);
  }
  ok = ok && AddEntry(acl, ACL_OTHER, nullptr, mapped.everyone);
  if (!ok) Fail(errno);
  return ok;
}

bool Unsupported(int err) { return err == ENOTSUP || err == EOPNOTSUPP; }

// Sets the access list on fd (when fd >= 0) or path, in one step. False with errno set;
// ENOTSUP where the file system keeps no lists.
bool SetAccessAcl(int fd, const char* path, const MappedList& mapped, uid_t owner) {
  if (no_access_lists_for_test) {
    errno = ENOTSUP;
    return false;
  }
  Acl acl(acl_init(static_cast<int>(mapped.users.size() + mapped.groups.size() + 4)));
  if (acl.get() == nullptr || !BuildAcl(mapped, owner, false, &acl)) return false;
  return (fd >= 0 ? acl_set_fd(fd, acl.get()) : acl_set_file(path, ACL_TYPE_ACCESS, acl.get())) ==
         0;
}

// Gives an object that was just created (open as fd, or else at path) its list, or the bits
// the list maps to where the file system keeps none. A directory also gets the default list
// when inheritable, and loses what its parent passed on otherwise.
bool SecureNewObject(int fd, const char* path, const FileSecurity& security, bool directory) {
  MappedList mapped;
  if (!MapList(security.list, &mapped)) return false;
  struct stat st;
  if ((fd >= 0 ? fstat(fd, &st) : stat(path, &st)) != 0) {
    Fail(errno);
    return false;
  }
  if (!SetAccessAcl(fd, path, mapped, st.st_uid)) {
    if (!Unsupported(errno)) {
      Fail(errno);
      return false;
    }
    mode_t bits = ModeBits(mapped, st.st_uid);
    if ((fd >= 0 ? fchmod(fd, bits) : chmod(path, bits)) != 0) {
      Fail(errno);
      return false;
    }
    return true;
  }
  if (!directory) return true;
  if (security.inheritable) {
    Acl acl(acl_init(static_cast<int>(mapped.users.size() + mapped.groups.size() + 4)));
    if (acl.get() == nullptr || !BuildAcl(mapped, st.st_uid, true, &acl)) return false;
    if (acl_set_file(path, ACL_TYPE_DEFAULT, acl.get()) != 0) {
      Fail(errno);
      return false;
    }
  } else if (acl_delete_def_file(path) != 0) {
    Fail(errno);
    return false;
  }
  return true;
}

}  // namespace

bool SetFileAccessList(const char* path, const AccessList& list) {
  if (path == nullptr) {
    Fail(EINVAL);
    return false;
  }
  MappedList mapped;
  if (!MapList(list, &mapped)) return false;
  struct stat st;
  if (stat(path, &st) != 0) {
    Fail(errno);
    return false;
  }
  if (!SetAccessAcl(-1, path, mapped, st.st_uid)) {
    Fail(errno);
    return false;
  }
  return true;
}

bool CheckAccessList(const AccessList& list) {
  MappedList mapped;
  return MapList(list, &mapped);
}

bool SecureCreatedFile(intptr_t handle, const FileSecurity& security) {
  if (handle < 0 || handle > INT32_MAX) {
    Fail(EBADF);
    return false;
  }
  return SecureNewObject(static_cast<int>(handle), nullptr, security, false);
}

bool FileSystemHasAccessLists(const char* path) {
  if (path == nullptr) {
    Fail(EINVAL);
    return false;
  }
  // Reading the access list attribute tells the three cases apart: a list (or none set,
  // ENODATA) where lists are kept, ENOTSUP where they are not, anything else a failed query.
  if (getxattr(path, "system.posix_acl_access", nullptr, 0) < 0 && errno != ENODATA) {
    Fail(Unsupported(errno) ? ENOTSUP : errno);
    return false;
  }
  if (no_access_lists_for_test) {
    Fail(ENOTSUP);
    return false;
  }
  return true;
}

bool CreateDirectory(const char* path, const FileSecurity* security) {
  if (path == nullptr) {
    Fail(EINVAL);
    return false;
  }
  // Refuse an unknown identifier before anything exists.
  if (security != nullptr && !CheckAccessList(security->list)) return false;
  if (mkdir(path, security != nullptr ? 0700 : 0777) != 0) {
    int err = errno;
    Fail(err);
    // As the product tells them: the directory exists, or the one above it does not.
    if (err == EEXIST) SetLastError(kErrorAlreadyExists);
    if (err == ENOENT) SetLastError(kErrorPathNotFound);
    return false;
  }
  if (security == nullptr || SecureNewObject(-1, path, *security, true)) return true;
  uint32_t code = GetLastError();
  int err = errno;
  rmdir(path);
  SetLastError(code);
  errno = err;
  return false;
}

void SetNoAccessListsForTest(bool on) { no_access_lists_for_test = on; }

NamedSemaphore::~NamedSemaphore() { Close(); }

void NamedSemaphore::Close() {
  if (handle_ == nullptr) return;
  if (held_) Release();
  sem_close(static_cast<sem_t*>(handle_));
  handle_ = nullptr;
}

bool NamedSemaphore::OpenOrCreate(const std::string& name) {
  Close();
  if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
    SetLastError(kErrorInvalidName);
    errno = EINVAL;
    return false;
  }
  // The last characters differ most between the product's names (they end in the encoding of
  // the file name), so those are kept.
  std::string system_name =
      "/" + (name.size() > kSemaphoreNameMax ? name.substr(name.size() - kSemaphoreNameMax) : name);
  sem_t* semaphore = sem_open(system_name.c_str(), O_CREAT, 0600, 1);
  if (semaphore == SEM_FAILED) {
    Fail(errno);
    return false;
  }
  handle_ = semaphore;
  return true;
}

bool NamedSemaphore::Wait() {
  if (handle_ == nullptr || held_) {
    Fail(EINVAL);
    return false;
  }
  while (sem_wait(static_cast<sem_t*>(handle_)) != 0) {
    if (errno != EINTR) {
      Fail(errno);
      return false;
    }
  }
  held_ = true;
  return true;
}

bool NamedSemaphore::Release() {
  if (handle_ == nullptr || !held_) {
    Fail(EINVAL);
    return false;
  }
  if (sem_post(static_cast<sem_t*>(handle_)) != 0) {
    Fail(errno);
    return false;
  }
  held_ = false;
  return true;
}

}  // namespace platform
