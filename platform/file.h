// Files with the product's sharing rules, byte-range locks, and spool temporary files.
//
// The product opens files the way its native system does: every open states what it wants to
// do (access), what it lets other openers do at the same time (sharing), and what to do when
// the file does or does not exist (disposition). An open that conflicts with another process's
// open fails at once with a sharing violation (kErrorSharingViolation, 32); the retrying
// wrappers above this layer retry on exactly that code.
//
// The sharing rule, for every open made through this header:
//   - a handle opened without sharing (kShareNone) excludes every other open of the file for
//     its whole lifetime;
//   - every other open (streams, shared handles, creation, copies) is a shared open: it
//     coexists with other shared opens and fails with 32 while an unshared open is held;
//   - attribute-only handles (kFileReadAttributes alone) take no part in sharing.
// Another process that holds a file exclusively (for example a service, or a test that runs
// `flock -x FILE sleep 2`) therefore makes these opens fail with 32 until it lets go.
//
// Every failure sets the calling thread's last-error code (platform/error.h) and leaves errno
// set to the underlying C library error, so callers may use either.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace platform {

// Access rights of OpenFileHandle (combine with |).
inline constexpr uint32_t kGenericRead = 0x80000000u;
inline constexpr uint32_t kGenericWrite = 0x40000000u;
/// Reading the file's attributes and size only; such a handle neither reads nor writes data.
inline constexpr uint32_t kFileReadAttributes = 0x00000080u;

// Sharing of OpenFileHandle (combine with |). kShareNone excludes every other open.
inline constexpr uint32_t kShareNone = 0;
inline constexpr uint32_t kShareRead = 0x1u;
inline constexpr uint32_t kShareWrite = 0x2u;
inline constexpr uint32_t kShareDelete = 0x4u;

// Dispositions of OpenFileHandle.
inline constexpr uint32_t kCreateNew = 1;         // create; fail with 80 when it exists
inline constexpr uint32_t kCreateAlways = 2;      // create, or truncate an existing file
inline constexpr uint32_t kOpenExisting = 3;      // open; fail with 2 when it does not exist
inline constexpr uint32_t kOpenAlways = 4;        // open, or create when it does not exist
inline constexpr uint32_t kTruncateExisting = 5;  // open and truncate; needs kGenericWrite

/// File attributes of a created file; only the normal attribute exists here.
inline constexpr uint32_t kFileAttributeNormal = 0x80u;

// Permission of CreatFile (combine with |): readable, writable.
inline constexpr uint32_t kPermissionRead = 0x0100u;
inline constexpr uint32_t kPermissionWrite = 0x0080u;

/// The separator that the product's path builders put between components: '/' on POSIX, '\' on
/// Windows (which takes '/' as well, so Unix paths that Wine maps work as given).
extern const char kPathSeparator;

/// Whether c separates the components of a path here: '/', and on Windows '\' too.
bool IsPathSeparator(char c);

/// path with each '/' written as kPathSeparator.
std::string NativeSeparators(std::string path);

/// An open file. On POSIX the value is the file descriptor.
using FileHandle = intptr_t;
inline constexpr FileHandle kInvalidFileHandle = -1;

/// The security of a created file (platform/security.h). A null security creates the file
/// with the default permissions (readable and writable as the process's file-creation mask
/// allows).
struct FileSecurity;

/// Opens path with the given access, sharing and disposition (constants above); attributes
/// are accepted as given. Returns the handle, or kInvalidFileHandle with the last-error code
/// set: 32 on a sharing conflict, 2 for a missing file, 3 for a missing directory, 80 for
/// kCreateNew on an existing file, 87 for an invalid combination, 1337 for a security that
/// names an identifier with no counterpart (nothing is then created). When kCreateAlways or
/// kOpenAlways finds the file existing, the call succeeds and leaves the last-error code at
/// 183; otherwise at 0. A file that the call creates with a non-null security is accessible
/// to its owner only until it has been given the security's list in one step (where the file
/// system keeps no lists: the permission bits the list maps to); when that fails, the new
/// file is removed and the call fails. An existing file keeps its own access.
/// Attribute-only handles open existing files only. An unshared handle holds the file for
/// its lifetime. The handle must be closed with CloseFileHandle (or held in a
/// UniqueFileHandle).
FileHandle OpenFileHandle(const char* path, uint32_t access, uint32_t share,
                          const FileSecurity* security, uint32_t disposition, uint32_t attributes);

/// Closes a handle and releases its sharing hold. False (with the last-error code) on failure.
bool CloseFileHandle(FileHandle handle);

/// The size of the open file, read from the file itself.
bool GetHandleSize(FileHandle handle, uint64_t* size);

/// Owns a FileHandle and closes it on destruction.
class UniqueFileHandle {
 public:
  UniqueFileHandle() = default;
  explicit UniqueFileHandle(FileHandle handle) : handle_(handle) {}
  UniqueFileHandle(UniqueFileHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueFileHandle& operator=(UniqueFileHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFileHandle(const UniqueFileHandle&) = delete;
  UniqueFileHandle& operator=(const UniqueFileHandle&) = delete;
  ~UniqueFileHandle() { Reset(); }

  FileHandle Get() const { return handle_; }
  bool Valid() const { return handle_ != kInvalidFileHandle; }
  /// Gives up ownership without closing.
  FileHandle Release() {
    FileHandle handle = handle_;
    handle_ = kInvalidFileHandle;
    return handle;
  }
  void Reset(FileHandle handle = kInvalidFileHandle) {
    if (handle_ != kInvalidFileHandle) CloseFileHandle(handle_);
    handle_ = handle;
  }

 private:
  FileHandle handle_ = kInvalidFileHandle;
};

/// Opens a C stream as the standard fopen does (modes r, w, a with + and b; x creates
/// exclusively; n refuses a symbolic link at path instead of following it), as a shared open: a
/// file held without sharing fails with 32 and, for w, is not truncated. The hold lasts as long as
/// the stream. Returns nullptr on failure. A directory fails with 267. A stream opened for
/// appending reports position 0 until its first write (writes always go to the end), so a byte lock
/// taken at once lies on the first byte.
FILE* OpenStream(const char* path, const char* mode);

/// Re-opens stream on path with mode (the standard freopen) as a shared open; the stream keeps
/// its descriptor number. Returns stream, or nullptr on failure. A failure found before the
/// re-open itself (sharing conflict, missing file or directory, access, invalid mode) leaves
/// the stream as it was, so that the call may be retried; when the re-open itself fails, the
/// stream is closed, as with freopen.
FILE* ReopenStream(const char* path, const char* mode, FILE* stream);

struct StreamCloser {
  void operator()(FILE* stream) const {
    if (stream != nullptr) std::fclose(stream);
  }
};
/// Owns a stream and closes it on destruction.
using UniqueStream = std::unique_ptr<FILE, StreamCloser>;

/// Creates path, or truncates an existing file, for writing (the C library's creat), as a
/// shared open; permission combines kPermissionRead and kPermissionWrite, each granted to all
/// (then reduced by the process's file-creation mask). Returns a descriptor to be closed with
/// CloseDescriptor, or -1.
int CreatFile(const char* path, uint32_t permission);

/// Closes a descriptor returned by CreatFile. 0, or -1.
int CloseDescriptor(int descriptor);

/// Renames a file. The target must not exist (183 when it does; it is never replaced), and the
/// source must not be open elsewhere, shared or not (32), as the product's rename requires.
bool RenameFile(const char* from, const char* to);

/// Copies source over target: target is created when missing, or truncated and rewritten in
/// place (so that locks held on it stay on the same file). Both are shared opens (32 when
/// either is held without sharing). Copying a file onto itself fails with 87.
bool CopyFileOver(const char* source, const char* target);

/// Removes a file. A file open elsewhere, shared or not, fails with 32.
bool RemoveFile(const char* path);

struct FileStatus {
  bool is_directory = false;
  bool is_regular = false;
  uint64_t size = 0;     // for a regular file: read from the open file
  int64_t modified = 0;  // seconds since 1970-01-01 00:00:00 UTC
};

/// The status of path (links followed). For a regular file, the size is read from the file
/// itself, opened for attributes only. False with the last-error code (2 missing file, 3
/// missing directory) on failure.
bool GetFileStatus(const char* path, FileStatus* status);

/// Creates a new, empty file with an unpredictable name <dir>/<prefix><random> that no other
/// process can have taken first, readable and writable by its owner only, and holds it open
/// (shared). *path receives the file's path. Returns an invalid handle with the last-error
/// code on failure.
UniqueFileHandle CreateTempFile(const char* dir, const char* prefix, std::string* path);

/// Moves the stream to offset bytes from the start of its file, 64-bit on every system. False
/// with the last-error code set when it cannot.
bool SeekStream(FILE* stream, int64_t offset);

/// Writes out what stream holds, then empties the regular file that it writes to; a stream
/// opened for appending goes on writing at the file's new start. A stream on anything else (a
/// device, a pipe, a console) is left as it is. False with the last-error code (and errno)
/// set when the stream cannot be written out or the file cannot be emptied.
bool EmptyStreamFile(FILE* stream);

/// Writes size bytes of data to stream without taking the stream's lock, which a single thread
/// need not take; returns the bytes written, as fwrite does.
size_t WriteStreamUnlocked(const void* data, size_t size, FILE* stream);

/// Whether stream writes to or reads from a terminal (a console on Windows).
bool IsTerminal(FILE* stream);

/// Reads up to size bytes of stream into data, as fread does: the bytes read; fewer at the
/// end of the stream or on a failure, which sets the stream's error indicator, errno and the
/// last-error code.
size_t ReadStream(void* data, size_t size, FILE* stream);

/// Reads one line of stream into line, as fgets does: at most size - 1 bytes, up to and with
/// its line feed. nullptr at the end of the stream or on a failure, which sets the stream's
/// error indicator, errno and the last-error code.
char* ReadStreamLine(char* line, int size, FILE* stream);

/// Writes out what stream holds, as fflush does: 0, or EOF with the stream's error indicator,
/// errno and the last-error code set. After a failure, part of what the stream held may have
/// reached the file, and the rest is dropped.
int FlushStream(FILE* stream);

/// Cuts the regular file that stream writes to back to length bytes, after writing out what
/// the stream holds; a stream opened for appending goes on writing at the new end. False with
/// the last-error code (and errno) set when it cannot.
bool TruncateStreamFile(FILE* stream, uint64_t length);

/// Number of attempts of LockStreamByte, and the pause between them.
inline constexpr int kByteLockAttempts = 10;
inline constexpr uint32_t kByteLockPauseMs = 1000;

/// Locks one byte at the stream's current position for this open of the file, waiting for it:
/// tries up to kByteLockAttempts times, pausing kByteLockPauseMs (through platform::Sleep)
/// between tries, and then fails with 33 (lock violation). The stream must be open for
/// writing. The lock excludes every other open of the file, in this process or another, and
/// is released by UnlockStreamByte at the same position or when the stream is closed.
bool LockStreamByte(FILE* stream);
bool UnlockStreamByte(FILE* stream);

/// Locks length bytes (at least 1) from offset exclusively for this open of the file, waiting
/// without limit; the stream must be open for writing. Released by UnlockStreamRange with the
/// same range, or when the stream is closed.
bool LockStreamRange(FILE* stream, uint64_t offset, uint64_t length);
bool UnlockStreamRange(FILE* stream, uint64_t offset, uint64_t length);

}  // namespace platform
