// Within platform/ only: what the shared access-list code (security.cc) asks of each system.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct FileSecurity;  // platform/security.h

/// Whether the tests have made every file system one that keeps no access lists
/// (SetNoAccessListsForTest).
bool NoAccessListsForTest();

/// Asks the system whether the file system that holds path keeps access lists. False with the
/// last-error code set: 50 where it keeps none, another code when path cannot be queried.
bool SystemHasAccessLists(const char* path);

/// Creates the directory path (not null) as CreateDirectory does.
bool CreateSystemDirectory(const char* path, const FileSecurity* security);

/// Opens the system's object that stands for the semaphore at path (NamedSemaphore's lock
/// file path), creating it when missing. Its handle, or -1 with the last-error code set.
intptr_t OpenSemaphoreObject(const std::string& path);

}  // namespace platform
