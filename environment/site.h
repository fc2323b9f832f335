// Site identity: the site database directory, the spool directory and the local machine name.
#pragma once

#include <cstddef>
#include <cstdio>

struct JkrError;

/// Makes stream the message stream of the site routines and builds the spool directory
/// (<sitedb>/spool) into the process-wide spool buffer. Returns 0.
int svlib_InitSpoolDir(FILE* stream);

/// Reads the local machine name from <spool>/nmap/localinfo into out (1024 bytes). 0, or -1
/// after a message on the message stream; out is left empty on failure.
int svlib_GetLocalMachine(char* out);

/// Looks site up (without regard to case) in the installation's site list <base>/etc/site.list
/// and copies its database directory into dst (cap bytes). The list is read under the lock of
/// the first byte of its lock copy <base>/etc/site.list.lck, which is refreshed from the list
/// first; a missing list is created empty. Returns 0 when the site is found, -1 when it is not,
/// when the list cannot be read whole, or when the directory does not fit in cap bytes (dst is
/// then ""). err (may be nullptr) receives the record of the file operation that failed; it is
/// for diagnosis only.
int lwfile_sitelist_load_dbpath(const char* site, char* dst, size_t cap, JkrError* err);
