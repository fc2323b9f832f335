// The installation's directories, its registry settings, and the builders of product paths.
#pragma once

#include <cstddef>
#include <cstdint>

/// Capacity of a directory or path buffer.
inline constexpr size_t kPathBufSize = 1024;

/// The command's copy of the language id (0, 1 or 2), set at start-up from KSGetLanguageId.
/// It decides which bytes lead a two-byte character for the word splitter and path checks.
extern int g_language_id;

/// The calling thread's installation base directory (registry value KSBaseDirectory), or
/// nullptr when the registry cannot be read. Cached per thread once read.
const char* lwfile_base_dir();

/// The calling thread's site database directory, or nullptr when none can be determined.
const char* lwfile_sitedb_dir();

/// <base>/bin/<name> in the calling thread's program-path buffer, valid until its next call;
/// nullptr when the base directory is unknown or the path does not fit.
const char* lwfile_bin_path(const char* name);

/// Language id 0, 1 or 2, or -1 when the registry cannot be read. Pauses through the platform.
int KSGetLanguageId();

/// A 32-bit value under HKEY_LOCAL_MACHINE\<keypath>, or 0xFFFFFFFF when it cannot be read.
uint32_t KSRegGetDword(const char* keypath, const char* value);

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
