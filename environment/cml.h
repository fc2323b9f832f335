// Common-library file functions: the product's file-name rules applied before the operation.
//
// The name rules (CML_checkpath): a path of kCmlPathLimit characters or more is refused, and
// colons are rewritten, since the product's file names cannot hold them: the first colon stays
// when '\', '/', the end of the text, or "@b" follows it, and becomes '`' otherwise; every later
// colon becomes '`', except one that ends the text, which is removed. So host:user:net.1 is
// stored as host`user`net.1, while D: and D:/dir keep their colon.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/file.h"

/// Paths of this many characters or more are refused.
inline constexpr size_t kCmlPathLimit = 260;

/// Applies the name rules to path in place. Returns path, or nullptr when it is absent or
/// too long (the text is then unchanged).
char* CML_checkpath(char* path);

/// Opens path with mode after the name rules. For w and a, a file that does not exist is
/// first created with the product's file security: owned by the creating user, protected from
/// what its directory passes on, with full control for the manager account (KSMgrAccount),
/// Administrators and the creating user, and read access for Everyone. When an identifier of
/// that security cannot be had (no manager account set, or it names no user: 1057, 1317,
/// 1332), nothing is created and the call fails with the lookup's code (errno EINVAL). An
/// open that is refused (5) of a file that existed hands the file to the manager account with
/// CML_chown and, when that succeeds, tries once more; a failure then reports the refusal.
/// The stream, or nullptr with the last-error code (and errno) set: 87 for a refused path or
/// an absent or invalid mode.
FILE* CML_fopen(const char* path, const char* mode);

/// Re-opens stream on path with mode. For "w" and "a", a file that does not exist is first
/// created with the same security as CML_fopen gives it, and fails the same way when that
/// security cannot be built (an existing file needs no account). Returns the stream, or
/// nullptr with the last-error code (and errno) set.
FILE* CML_freopen(const char* path, const char* mode, FILE* stream);

/// The status of path after the name rules; the size of a regular file is read from the file
/// itself, so it is current even while another process appends. 0, or -1 with the last-error
/// code set.
int CML_stat(const char* path, platform::FileStatus* status);

/// Removes path after the name rules. 0, or -1 with the last-error code set.
int CML_unlink(const char* path);

/// Gives path the product's standard access for account: its access list is replaced, in one
/// step, by all access for the account, the operator group (KSOpGroup, in the domain that
/// holds the account) and Administrators, and read and execute for Everyone. The change is
/// made under the cross-process semaphore named by CML_access_lock_name (without "Global\").
/// The list of each account is built once and kept for the process.
///
/// Does nothing and succeeds for the account ".C" (any case), and unless the process runs as
/// the manager account (GetKSmgrname, case ignored) while the site's spool directory lies on a
/// file system that keeps access lists. That test is made once per process. When the spool
/// directory is unknown ("5 3 Get ZOV database directory: %s\n" on standard error) or its file
/// system cannot be asked ("Failed to get name of file system.\n"), the call goes on as if
/// the test had passed, and the next call tests again.
///
/// 0, or -1 with the last-error code set (an account lookup's code when an identifier cannot
/// be had, the system's when the list cannot be set).
int CML_chown(const char* path, const char* account);

/// The name of the cross-process lock that serialises access-list changes of path:
/// "Global\" and an encoding of the path's bytes (at most its last 252 characters).
std::string CML_access_lock_name(const char* path);
