// The installation's directories (the base directory and the site database directory, from
// the site list when ZOV_SITE names a site) and the builders of product paths.
#pragma once

#include <cstddef>
#include <cstdint>

struct JkrError;

/// Capacity of a directory or path buffer.
inline constexpr size_t kPathBufSize = 1024;

/// The calling thread's installation base directory (registry value KSBaseDirectory), or
/// nullptr when the registry cannot be read or the value is empty or 1024 characters or more.
/// Cached per thread once read.
const char* lwfile_base_dir();

/// The calling thread's site database directory: ZOV_SITEDB, else the site list entry named by
/// ZOV_SITE, else the installation base directory; nullptr when none can be determined.
const char* lwfile_sitedb_dir();

/// Looks site up (without regard to case) in the installation's site list <base>/etc/site.list
/// and copies its database directory into dst (cap bytes). The list is read under the lock of
/// the first byte of its lock copy <base>/etc/site.list.lck, which is refreshed from the list
/// first; a missing list is created empty. Returns 0 when the site is found, -1 when it is not,
/// when the list cannot be read whole, or when the directory does not fit in cap bytes (dst is
/// then ""). err (may be nullptr) receives the record of the file operation that failed; it is
/// for diagnosis only.
int lwfile_sitelist_load_dbpath(const char* site, char* dst, size_t cap, JkrError* err);

/// <base>/bin/<name> (with the system's program suffix, ".exe" on Windows) in the calling thread's
/// program-path buffer, valid until its next call; nullptr when the base directory is unknown or
/// the path does not fit.
const char* lwfile_bin_path(const char* name);

// Path builders. Each writes <root>/<subdirectory>[/<name>] into dst and returns its length,
// or -1 when the root is unknown or the result does not fit in cap bytes (cap 0: no bound).
// name may be nullptr; otherwise it is a printf format that the further arguments fill.
int lwfile_path_bin(char* dst, size_t cap, const char* name, ...)
    __attribute__((format(printf, 3, 4)));
int lwfile_path_etc(char* dst, size_t cap, const char* name, ...)
    __attribute__((format(printf, 3, 4)));
int lwfile_path_spool(char* dst, size_t cap, const char* name, ...)
    __attribute__((format(printf, 3, 4)));
int lwfile_path_spool_tmp(char* dst, size_t cap, const char* name, ...)
    __attribute__((format(printf, 3, 4)));

// Further directories of the same layout, built the same way.
// On the installation base directory: <base>/doc, <base>/lib, <base>/setup.
int lwfile_path_doc(char* dst, size_t cap, const char* name, ...)
    __attribute__((format(printf, 3, 4)));
int lwfile_path_lib(char* dst, size_t cap, const char* name, ...)
    __attribute__((format(printf, 3, 4)));
int lwfile_path_setup(char* dst, size_t cap, const char* name, ...)
    __attribute__((format(printf, 3, 4)));

// On the site database directory: <sitedb>/etc and <sitedb>/spool/...
int lwfile_path_sitedb_etc(char* dst, size_t cap, const char* name, ...)
    __attribute__((format(printf, 3, 4)));
int lwfile_path_spool_calendar(char* dst, size_t cap, const char* name, ...)
    __attribute__((format(printf, 3, 4)));
int lwfile_path_spool_lock_calendar(char* dst, size_t cap, const char* name, ...)
    __attribute__((format(printf, 3, 4)));
int lwfile_path_spool_conf(char* dst, size_t cap, const char* name, ...)
    __attribute__((format(printf, 3, 4)));
int lwfile_path_spool_log(char* dst, size_t cap, const char* name, ...)
    __attribute__((format(printf, 3, 4)));
int lwfile_path_spool_perf(char* dst, size_t cap, const char* name, ...)
    __attribute__((format(printf, 3, 4)));
int lwfile_path_spool_templates_customjob(char* dst, size_t cap, const char* name, ...)
    __attribute__((format(printf, 3, 4)));
int lwfile_path_spool_lock_templates_customjob(char* dst, size_t cap, const char* name, ...)
    __attribute__((format(printf, 3, 4)));
int lwfile_path_spool_wkcal(char* dst, size_t cap, const char* name, ...)  // spool/wkcal.d
    __attribute__((format(printf, 3, 4)));
int lwfile_path_spool_users(char* dst, size_t cap, const char* name, ...)
    __attribute__((format(printf, 3, 4)));
int lwfile_path_spool_lock_users(char* dst, size_t cap, const char* name, ...)
    __attribute__((format(printf, 3, 4)));

// Per user: <sitedb>/spool/users/<user>[/<subdirectory>][/<name>]. The user name is taken
// literally; -1 also when it is empty, ".", ".." or holds a '/', since it must name exactly one
// directory below spool/users.
int lwfile_path_user(char* dst, size_t cap, const char* user, const char* name, ...)
    __attribute__((format(printf, 4, 5)));
int lwfile_path_user_archive(char* dst, size_t cap, const char* user, const char* name, ...)
    __attribute__((format(printf, 4, 5)));
int lwfile_path_user_indcal(char* dst, size_t cap, const char* user, const char* name, ...)
    __attribute__((format(printf, 4, 5)));
int lwfile_path_user_jobnetwork(char* dst, size_t cap, const char* user, const char* name, ...)
    __attribute__((format(printf, 4, 5)));
int lwfile_path_user_lock_jobnetwork(char* dst, size_t cap, const char* user, const char* name, ...)
    __attribute__((format(printf, 4, 5)));
int lwfile_path_user_plan(char* dst, size_t cap, const char* user, const char* name, ...)
    __attribute__((format(printf, 4, 5)));
int lwfile_path_user_lock_plan(char* dst, size_t cap, const char* user, const char* name, ...)
    __attribute__((format(printf, 4, 5)));
int lwfile_path_user_schedule(char* dst, size_t cap, const char* user, const char* name, ...)
    __attribute__((format(printf, 4, 5)));
int lwfile_path_user_lock_schedule(char* dst, size_t cap, const char* user, const char* name, ...)
    __attribute__((format(printf, 4, 5)));
int lwfile_path_user_sgfile(char* dst, size_t cap, const char* user, const char* name, ...)
    __attribute__((format(printf, 4, 5)));
int lwfile_path_user_sock(char* dst, size_t cap, const char* user, const char* name, ...)
    __attribute__((format(printf, 4, 5)));
int lwfile_path_user_lock_tracker(char* dst, size_t cap, const char* user, const char* name, ...)
    __attribute__((format(printf, 4, 5)));
int lwfile_path_user_ksjnw(char* dst, size_t cap, const char* user, const char* name, ...)
    __attribute__((format(printf, 4, 5)));
int lwfile_path_user_kstrk(char* dst, size_t cap, const char* user, const char* name, ...)
    __attribute__((format(printf, 4, 5)));

/// <sitedb>/spool/users/<user>/tracker/seq_NNNN[/<name>], NNNN the four-digit sequence number;
/// -1 also for a sequence number outside 0 to 9999.
int lwfile_path_user_tracker_seq(char* dst, size_t cap, const char* user, int seq, const char* name,
                                 ...) __attribute__((format(printf, 5, 6)));
