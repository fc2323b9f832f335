// Access lists as POSIX ACLs (libacl), and named semaphores as locks on files.
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
// so no process ever sees the object without a list or with a partial one. A directory with a
// security is secured under a temporary name and then moved into place (never replacing), so
// that a process that finds it, and creates something below it, already inherits its list.
//
// A named semaphore is an open-file-description lock (F_OFD_SETLKW) on a lock file: the
// kernel drops it when the last descriptor of its holder closes, also when the holder is
// killed, and two opens within one process exclude each other. A semaphore of the system
// would outlive its processes and keep the count of a killed holder for good. The file is
// removed by whoever holds its lock while it still bears the name; a process that waited on a
// removed file sees that once it has the lock and starts over on the name.
#include <acl/libacl.h>
#include <fcntl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "platform/account.h"
#include "platform/descriptors-posix.h"
#include "platform/error.h"
#include "platform/security.h"
#include "platform/security_system.h"

namespace platform {

namespace {

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

bool MapList(const AccessList& list, MappedList* out) {
  MappedList mapped;
  for (const AccessEntry& entry : list) {
    Perm perm = PermOf(entry.rights);
    uint32_t id;
    AccountUse local = AccountUse::kNone;
    if (entry.sid == kEveryoneSid) {
      mapped.everyone |= perm;
    } else if (entry.sid == kAdministratorsSid) {
      mapped.groups[0] |= perm;
    } else if (entry.sid == kSystemSid) {
      mapped.users[0] |= perm;
    } else if (LocalAccountId(entry.sid, &local, &id)) {
      if (local == AccountUse::kUser) {
        mapped.users[static_cast<uid_t>(id)] |= perm;
      } else {
        mapped.groups[static_cast<gid_t>(id)] |= perm;
      }
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

// Execute on a regular file means running it, which no access list grants: full control of
// a file is rw-, read and execute r--. A report written with full control for its owner must
// never become a program.
void ForRegularFile(MappedList* mapped) {
  for (auto& [uid, perm] : mapped->users) perm &= ~kExecute;
  for (auto& [gid, perm] : mapped->groups) perm &= ~kExecute;
  mapped->everyone &= ~kExecute;
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
  if (NoAccessListsForTest()) {
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
  if (!S_ISDIR(st.st_mode)) ForRegularFile(&mapped);
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

// Fails a creation with the product's codes for the two common cases: the directory exists
// (183), or the one above it does not (3).
void FailCreation(int err) {
  Fail(err);
  if (err == EEXIST) SetLastError(kErrorAlreadyExists);
  if (err == ENOENT) SetLastError(kErrorPathNotFound);
}

// The directory of a path ("." or "/" when it has none other) and its last component,
// without the slashes that may end it.
struct PathParts {
  std::string parent;
  std::string base;
};

PathParts SplitPath(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const size_t slash = path.find_last_of('/');
  if (slash == std::string_view::npos) return {".", std::string(path)};
  return {slash == 0 ? std::string("/") : std::string(path.substr(0, slash)),
          std::string(path.substr(slash + 1))};
}

// Room in a name for the temporary directory's "." and ".XXXXXX" around the target's name.
constexpr size_t kTemporaryBaseMax = NAME_MAX - 8;

// Makes the directory just created at path reachable by its owner only (whatever the creation
// mask or the parent's default list gave it; a set-group-id bit it inherited is kept), then
// gives it the security.
bool SecureCreatedDirectory(const std::string& path, const FileSecurity& security) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || chmod(path.c_str(), (st.st_mode & S_ISGID) | 0700) != 0) {
    Fail(errno);
    return false;
  }
  return SecureNewObject(-1, path.c_str(), security, true);
}

// Removes a directory that this call created, keeping the failure that is being reported.
void RemoveCreatedDirectory(const std::string& path) {
  uint32_t code = GetLastError();
  int err = errno;
  rmdir(path.c_str());
  SetLastError(code);
  errno = err;
}

// Named semaphores are locks on files of a directory that every user may create files in,
// so that the processes of all accounts meet on the same file.
constexpr char kLockFilePrefix[] = "flowtally-lock.";
constexpr size_t kLockNameMax = NAME_MAX - (sizeof kLockFilePrefix - 1);
// Opens of a name that other processes keep creating and removing; each failed attempt means
// that another one got on.
constexpr int kLockOpenAttempts = 1000;

// /dev/shm (memory, never written out) where the system has it, else the temporary directory.
// Not $TMPDIR: every process of the machine must choose the same directory.
const std::string& LockDirectory() {
  static const std::string directory = [] {
    struct stat st;
    return std::string(stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : P_tmpdir);
  }();
  return directory;
}

// Opens the lock file at path, creating it when missing. The directory is writable by
// everyone (and sticky), so nothing there is trusted: links are not followed, only a regular
// file is taken (6 otherwise, as for a name that belongs to another kind of object), and an
// existing file is opened without O_CREAT, which a system protecting such directories refuses
// on another user's file. A file created here is made usable by every account whatever the
// creation mask. The descriptor, or -1 with the last-error code set.
int OpenLockFile(const std::string& path) {
  constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
  for (int attempt = 0; attempt < kLockOpenAttempts; ++attempt) {
    bool created = false;
    int fd = open(path.c_str(), kFlags);
    if (fd < 0 && errno == ENOENT) {
      fd = open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
      if (fd < 0 && errno == EEXIST) continue;  // created meanwhile: open that one
      created = fd >= 0;
    }
    if (fd < 0) {
      if (errno == ENOENT) continue;  // removed again meanwhile
      Fail(errno);
      if (errno == ELOOP || errno == EISDIR) SetLastError(kErrorInvalidHandle);
      return -1;
    }
    // The mode comes first: a file created here must never stay with the creation mask's bits.
    struct stat st;
    if (fstat(fd, &st) != 0 || (created && fchmod(fd, 0666) != 0)) {
      int err = errno;
      close(fd);
      Fail(err);
      return -1;
    }
    if (!S_ISREG(st.st_mode)) {
      close(fd);
      SetLastError(kErrorInvalidHandle);
      errno = EINVAL;
      return -1;
    }
    return KeepOffStandardDescriptors(fd);
  }
  Fail(EAGAIN);
  return -1;
}

// Takes the lock of fd if no one holds it.
bool TryLock(int fd) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Whether path still names the file open as fd (its holder may have removed it).
bool StillNamed(int fd, const std::string& path) {
  struct stat open_file;
  struct stat named;
  return fstat(fd, &open_file) == 0 && lstat(path.c_str(), &named) == 0 &&
         open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

}  // namespace

intptr_t OpenSemaphoreObject(const std::string& path) { return OpenLockFile(path); }

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
  if (!S_ISDIR(st.st_mode)) ForRegularFile(&mapped);
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

bool SystemHasAccessLists(const char* path) {
  // Reading the access list attribute tells the three cases apart: a list (or none set,
  // ENODATA) where lists are kept, ENOTSUP where they are not, anything else a failed query.
  if (getxattr(path, "system.posix_acl_access", nullptr, 0) < 0 && errno != ENODATA) {
    Fail(Unsupported(errno) ? ENOTSUP : errno);
    return false;
  }
  return true;
}

bool CreateSystemDirectory(const char* path, const FileSecurity* security) {
  if (security == nullptr) {
    if (mkdir(path, 0777) == 0) return true;
    FailCreation(errno);
    return false;
  }
  // Refuse an unknown identifier before anything exists.
  if (!CheckAccessList(security->list)) return false;
  const auto [parent, base] = SplitPath(path);
  if (base.empty() || base == "." || base == "..") {
    // Names that always exist (or whose parent does not): mkdir tells which.
    FailCreation(mkdir(path, 0700) == 0 ? EEXIST : errno);
    return false;
  }
  std::string pattern = parent + "/." + base.substr(0, kTemporaryBaseMax) + ".XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    FailCreation(errno);
    return false;
  }
  const std::string temporary = pattern;
  if (!SecureCreatedDirectory(temporary, *security)) {
    RemoveCreatedDirectory(temporary);
    return false;
  }
  if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path, RENAME_NOREPLACE) == 0) return true;
  int err = errno;
  if (err == EINVAL || err == ENOSYS) {
    // The file system cannot move without replacing: create in place after all, which is
    // never atomic, but never replaces an existing directory either.
    rmdir(temporary.c_str());
    if (mkdir(path, 0700) != 0) {
      FailCreation(errno);
      return false;
    }
    if (SecureCreatedDirectory(path, *security)) return true;
    RemoveCreatedDirectory(path);
    return false;
  }
  FailCreation(err);
  RemoveCreatedDirectory(temporary);
  return false;
}

std::string NamedSemaphore::LockFilePath(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
    return "";
  }
  // The last characters differ most between the product's names (they end in the encoding of
  // the file name), so those are kept.
  std::string kept = name.size() > kLockNameMax ? name.substr(name.size() - kLockNameMax) : name;
  return LockDirectory() + "/" + kLockFilePrefix + kept;
}

void NamedSemaphore::Close() {
  if (handle_ < 0) return;
  // Whoever holds the lock while the file still bears the name removes it; a process that
  // waits on the removed file finds that out once it has the lock, and opens the name anew.
  // Without the lock (another process has it) the file stays for that process.
  if (held_ || TryLock(handle_)) {
    if (StillNamed(handle_, path_)) unlink(path_.c_str());
  }
  close(handle_);  // gives the lock back
  handle_ = -1;
  held_ = false;
  path_.clear();
}

bool NamedSemaphore::Wait() {
  if (handle_ < 0 || held_) {
    Fail(EINVAL);
    return false;
  }
  for (;;) {
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    while (fcntl(handle_, F_OFD_SETLKW, &lock) != 0) {
      if (errno != EINTR) {
        Fail(errno);
        return false;
      }
    }
    if (StillNamed(handle_, path_)) break;
    // The holder before removed the file: the name is a new file now, or none.
    close(handle_);
    handle_ = OpenLockFile(path_);
    if (handle_ < 0) return false;
  }
  held_ = true;
  return true;
}

bool NamedSemaphore::Release() {
  if (handle_ < 0 || !held_) {
    Fail(EINVAL);
    return false;
  }
  struct flock lock = {};
  lock.l_type = F_UNLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(handle_, F_OFD_SETLK, &lock) != 0) {
    Fail(errno);
    return false;
  }
  held_ = false;
  return true;
}

}  // namespace platform
