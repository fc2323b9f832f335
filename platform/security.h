// Access lists of files and directories, and named semaphores.
//
// The product grants access to accounts by security identifier (platform/account.h). Here an
// access list becomes a POSIX access control list:
//   - a user identifier "S-1-22-1-<uid>" (and SYSTEM, uid 0) becomes a named user entry, a group
//     identifier "S-1-22-2-<gid>" (and Administrators, gid 0) a named group entry, Everyone the
//     other entry; an identifier with no counterpart here fails with 1337;
//   - full control is rwx on a directory and rw- on any other file, read and execute r-x on a
//     directory and r-- on any other file (no file ever becomes executable by a list), read r--;
//   - the owner entry gets what the list gives the owner's user identifier and Everyone, the
//     owning group entry what it gives Everyone, and the mask the union of the group class;
//   - an inheritable descriptor (a directory's) also becomes the directory's default list,
//     with full control for the owner of each new file (who may change its access anyway).
// A list is always set in one step: a file is never left without one, or with an open one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class AccessRights { kFullControl, kReadExecute, kRead };

struct AccessEntry {
  std::string sid;
  AccessRights rights;
};
using AccessList = std::vector<AccessEntry>;

/// The security of a file or directory that is being created: its access list, owned by the
/// creating user. Inheritable: contained files and directories inherit the list (directories
/// only); otherwise the object is protected from what its parent would pass on.
struct FileSecurity {
  AccessList list;
  bool inheritable = false;
};

/// Replaces the access list of the existing file or directory at path in one step (a
/// directory's default list is left as it is). False with the last-error code set: 1337 for
/// an identifier with no counterpart, 50 where the file system keeps no access lists.
bool SetFileAccessList(const char* path, const AccessList& list);

/// Whether every identifier of list has a counterpart here. False with 1337 otherwise, so
/// that a creation can be refused before anything is created.
bool CheckAccessList(const AccessList& list);

/// For the file layer (platform/file.h): gives the file that was just created, open as
/// handle, the security's list in one step or, where the file system keeps no lists, the
/// permission bits that the list maps to (owner entry, owning group entry, other). False with
/// the last-error code set; the caller then removes the file.
bool SecureCreatedFile(intptr_t handle, const FileSecurity& security);

/// Whether the file system that holds path keeps access lists. False with the last-error code
/// set also when path cannot be queried (then not 50).
bool FileSystemHasAccessLists(const char* path);

/// Creates the directory path. A null security gives the default access (0777 reduced by the
/// file-creation mask, and whatever the parent's default list passes on). With a security,
/// the directory is made under a temporary name beside path (".<name>.XXXXXX"), reachable by
/// its owner only, and given the list in one step (and, when inheritable, the default list;
/// otherwise any default list that the parent passed on is removed); only then is it moved to
/// path, so that no process ever finds path without its lists. An existing path, even an empty
/// directory, is never replaced. Where the file system keeps no access lists, the directory
/// gets the permission bits that the list maps to (owner entry, owning group entry, other)
/// instead, as on a file system without security. When the list cannot be set, or path exists
/// by the time the directory is to be moved there, the directory is removed again and the call
/// fails. False with the last-error code set (183 when path exists, 3 when its parent does not,
/// 1337 for an identifier with no counterpart: then nothing is created).
bool CreateDirectory(const char* path, const FileSecurity* security);

/// A semaphore shared by the processes of the machine under a name, with a count of at most 1:
/// an exclusive lock on a lock file of that name, in a directory where every account may
/// create one (/dev/shm, or the system's temporary directory without it), so processes of all
/// accounts share it. The name is the product's name without its "Global\" prefix; where it is
/// longer than a file name allows (240 characters), its last characters are used, so names
/// that differ only before those share one semaphore. A name that is empty or holds '/' fails
/// with 123. The system gives the count back when its holder ends, however it ends, so a
/// process that dies holding it never stops the others. An object that goes while no other
/// holds the count removes the lock file.
class NamedSemaphore {
 public:
  NamedSemaphore() = default;
  ~NamedSemaphore();
  NamedSemaphore(const NamedSemaphore&) = delete;
  NamedSemaphore& operator=(const NamedSemaphore&) = delete;

  /// Opens the semaphore name, or creates it with a count of 1 when it does not exist. False
  /// with the last-error code set (6 when something other than a lock file holds the name).
  bool OpenOrCreate(const std::string& name);
  /// Waits without limit until the count is above 0, then takes one. Two objects exclude each
  /// other also within one process. False on failure (87 when nothing is open or this object
  /// holds the count already).
  bool Wait();
  /// Gives the count back. False on failure (87 when this object does not hold it). A count
  /// still held when the object goes is given back then.
  bool Release();

  /// The lock file that stands for the semaphore name; "" for a name that fails with 123.
  static std::string LockFilePath(const std::string& name);

 private:
  void Close();

  intptr_t handle_ = -1;  // the lock file's descriptor, or the system's object
  std::string path_;
  bool held_ = false;
};

}  // namespace platform
