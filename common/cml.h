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
/// first created with the product's file security (which needs the account lookup; without it
/// the call fails with 1332). A read that is refused (5) hands the file to the product manager
/// account with CML_chown and tries once more. The stream, or nullptr with the last-error code
/// (and errno) set: 87 for a refused path or an absent or invalid mode.
FILE* CML_fopen(const char* path, const char* mode);

/// Re-opens stream on path with mode (creating the file first for "w" and "a"). Returns the
/// stream, or nullptr with the last-error code (and errno) set.
FILE* CML_freopen(const char* path, const char* mode, FILE* stream);

/// The status of path after the name rules; the size of a regular file is read from the file
/// itself, so it is current even while another process appends. 0, or -1 with the last-error
/// code set.
int CML_stat(const char* path, platform::FileStatus* status);

/// Removes path after the name rules. 0, or -1 with the last-error code set.
int CML_unlink(const char* path);

/// Gives path the product's standard access for account (all access for the account, the
/// operator group and Administrators, read and execute for Everyone). Does nothing and
/// succeeds for the account ".C" (any case), and unless the process runs as the manager
/// account on a site volume with access lists. 0, or -1 with the last-error code set (1332
/// when an account identifier cannot be had).
int CML_chown(const char* path, const char* account);

/// The name of the cross-process lock that serialises access-list changes of path:
/// "Global\" and an encoding of the path's bytes (at most its last 252 characters).
std::string CML_access_lock_name(const char* path);
