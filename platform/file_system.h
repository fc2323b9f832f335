// Within platform/ only: what the shared file code (file.cc) asks of each system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace platform {

class UniqueFileHandle;  // platform/file.h
struct FileStatus;       // platform/file.h

// Each system's part of the public call of the same name (platform/file.h), which has checked
// that no argument is absent.
FILE* OpenSystemStream(const char* path, const char* mode);
FILE* ReopenSystemStream(const char* path, const char* mode, FILE* stream);
int CreatSystemFile(const char* path, uint32_t permission);
bool RenameSystemFile(const char* from, const char* to);
bool CopySystemFileOver(const char* source, const char* target);
bool RemoveSystemFile(const char* path);
bool SeekSystemStream(FILE* stream, int64_t offset);  // offset is not negative

/// Writes out what stream holds and cuts its regular file (anything else is left) to length.
bool TruncateSystemStreamFile(FILE* stream, uint64_t length);

/// Makes stream look as a failed read (writing false) or write of the system leaves it: its
/// error indicator set, and for a write, the first half of what it held written and the rest
/// dropped. errno and the last-error code stay as they are.
void FailSystemStream(FILE* stream, bool writing);

/// Fills buffer with size unpredictable bytes.
void RandomBytes(unsigned char* buffer, size_t size);

/// Creates a new file at path, readable and writable by its owner only, and holds it open
/// (shared). An invalid handle when it fails: *taken then says whether the name was taken
/// already (the caller tries another); otherwise the last-error code is set.
UniqueFileHandle CreateOwnerOnlyFile(const char* path, bool* taken);

/// The status of path (links followed) as the file system's entry for it tells: for a regular
/// file, the size that the entry records. False with the last-error code set.
bool ReadEntryStatus(const char* path, FileStatus* status);

/// Locks (lock: waiting for the range, without limit) or unlocks length bytes from offset for
/// the stream's open of its file. False with the last-error code set (87 for a stream without
/// a file, or a range that is empty or does not fit).
bool SetStreamRangeLock(FILE* stream, uint64_t offset, uint64_t length, bool lock);

/// What one try at the byte lock of LockStreamByte came to.
enum class ByteLockTry {
  kLocked,  // the byte is locked
  kHeld,    // another open holds it: try again later
  kFailed,  // the lock cannot be had (the last-error code says why)
};

/// Tries once to lock the byte at the stream's current position, without waiting.
ByteLockTry TryLockStreamByte(FILE* stream);

}  // namespace platform
