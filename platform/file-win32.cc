// Files, sharing and locks through the system's own share modes and byte-range locks.
//
// Every open states its sharing to CreateFile, so a conflict is the system's sharing violation
// (32). A shared open lets others read and write but not delete or rename the file, as the
// product's rename and removal require. Streams are C runtime streams over such handles, in
// binary mode unless the mode asks for text ('t'); a standard stream re-opened on a file stays in
// text mode unless the mode asks for binary ('b'). Byte-range locks are LockFileEx locks: they
// belong to the handle, so a second open of the file, in this process too, is excluded.
//
// Handles are not inherited by the programs that this process starts (every open here passes
// no inheritable security), so a child never keeps one of these files held.
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "platform/error.h"
#include "platform/fault_points.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/security-win32.h"
#include "platform/security.h"
#include "platform/windows-win32.h"

namespace platform {

namespace {

constexpr DWORD kSharedOpen = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Sets the last-error code and the matching errno, for callers that read either.
void Fail(uint32_t code) {
  switch (code) {
    case kErrorFileNotFound:
    case kErrorPathNotFound:
      errno = ENOENT;
      break;
    case kErrorAccessDenied:
      errno = EACCES;
      break;
    case kErrorFileExists:
    case kErrorAlreadyExists:
      errno = EEXIST;
      break;
    case kErrorInvalidParameter:
      errno = EINVAL;
      break;
    case kErrorDirectory:
      errno = EISDIR;
      break;
    case kErrorDiskFull:
      errno = ENOSPC;
      break;
    default:
      errno = EIO;
      break;
  }
  SetLastError(code);
}

// After a failed system call: keeps the system's code, with a matching errno.
void FailFromSystem() { Fail(::GetLastError()); }

bool IsDirectory(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A directory cannot be opened as a file: the product's code for it, not access denied.
void FailOpen(const char* path) {
  uint32_t code = ::GetLastError();
  if (code == kErrorAccessDenied && IsDirectory(path)) code = kErrorDirectory;
  Fail(code);
}

struct StreamMode {
  DWORD access = 0;
  DWORD disposition = 0;
  bool truncate = false;
  bool append = false;
  bool no_link = false;
  bool text = false;
  bool binary = false;
  std::string crt_mode;  // for _fdopen
};

// Reads an fopen mode: r, w or a first, then any of + b t x e n; the rest (",ccs=") is ignored.
// False, with the last-error code set (87), for a mode that starts with another letter.
bool ParseMode(const char* mode, StreamMode* out) {
  bool plus = false;
  bool exclusive = false;
  for (const char* p = mode + 1; *p != '\0' && *p != ','; ++p) {
    if (*p == '+') plus = true;
    if (*p == 'x') exclusive = true;
    if (*p == 'n') out->no_link = true;
    if (*p == 't') out->text = true;
    if (*p == 'b') out->binary = true;
  }
  switch (mode[0]) {
    case 'r':
      out->access = GENERIC_READ | (plus ? GENERIC_WRITE : 0);
      out->disposition = OPEN_EXISTING;
      break;
    case 'w':
      out->access = GENERIC_WRITE | (plus ? GENERIC_READ : 0);
      out->disposition = exclusive ? CREATE_NEW : OPEN_ALWAYS;
      out->truncate = true;
      break;
    case 'a':
      out->access = GENERIC_WRITE | (plus ? GENERIC_READ : 0);
      out->disposition = exclusive ? CREATE_NEW : OPEN_ALWAYS;
      out->append = true;
      break;
    default:
      Fail(kErrorInvalidParameter);
      return false;
  }
  out->crt_mode = std::string(1, mode[0]) + (plus ? "+" : "") + (out->text ? "t" : "b");
  return true;
}

// Opens path for a stream as a shared open. Truncates only once the open shows that nobody
// holds the file.
HANDLE OpenForStream(const char* path, const StreamMode& mode) {
  DWORD flags = FILE_ATTRIBUTE_NORMAL | (mode.no_link ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE handle =
      CreateFileA(path, mode.access, kSharedOpen, nullptr, mode.disposition, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    FailOpen(path);
    return INVALID_HANDLE_VALUE;
  }
  if (mode.no_link) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      CloseHandle(handle);
      Fail(kErrorAccessDenied);
      return INVALID_HANDLE_VALUE;
    }
  }
  // Only a file on a disk has an end to move: a device (NUL, a console, a Unix device that Wine
  // shows) or a pipe is written as it is.
  if (mode.truncate && GetFileType(handle) == FILE_TYPE_DISK && !SetEndOfFile(handle)) {
    FailFromSystem();
    CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

// Gives a handle to the C runtime as a descriptor. -1 (the handle closed) on failure.
int DescriptorOf(HANDLE handle, const StreamMode& mode) {
  int flags = mode.text ? _O_TEXT : _O_BINARY;
  if (mode.append) flags |= _O_APPEND;
  if ((mode.access & GENERIC_WRITE) == 0) flags |= _O_RDONLY;
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd < 0) {
    CloseHandle(handle);
    Fail(kErrorTooManyOpenFiles);
  }
  return fd;
}

HANDLE StreamHandle(FILE* stream) {
  if (stream == nullptr) return INVALID_HANDLE_VALUE;
  int fd = _fileno(stream);
  return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

OVERLAPPED RangeStart(uint64_t offset) {
  OVERLAPPED overlapped{};
  overlapped.Offset = static_cast<DWORD>(offset & 0xffffffffu);
  overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return overlapped;
}

bool StreamPosition(FILE* stream, HANDLE* handle, uint64_t* position) {
  *handle = StreamHandle(stream);
  if (*handle == INVALID_HANDLE_VALUE) {
    Fail(stream == nullptr ? kErrorInvalidParameter : kErrorInvalidHandle);
    return false;
  }
  const int64_t at = _ftelli64(stream);
  if (at < 0) {
    Fail(kErrorInvalidParameter);
    return false;
  }
  *position = static_cast<uint64_t>(at);
  return true;
}

bool LockRange(HANDLE handle, uint64_t offset, uint64_t length, DWORD flags) {
  OVERLAPPED overlapped = RangeStart(offset);
  return LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | flags, 0,
                    static_cast<DWORD>(length & 0xffffffffu), static_cast<DWORD>(length >> 32),
                    &overlapped) != 0;
}

bool UnlockRange(HANDLE handle, uint64_t offset, uint64_t length) {
  OVERLAPPED overlapped = RangeStart(offset);
  if (UnlockFileEx(handle, 0, static_cast<DWORD>(length & 0xffffffffu),
                   static_cast<DWORD>(length >> 32), &overlapped)) {
    return true;
  }
  FailFromSystem();
  return false;
}

// Owns a handle within one function.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

}  // namespace

const char kPathSeparator = '\\';

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

FileHandle OpenFileHandle(const char* path, uint32_t access, uint32_t share,
                          const FileSecurity* security, uint32_t disposition, uint32_t attributes) {
  if (path == nullptr || disposition < kCreateNew || disposition > kTruncateExisting) {
    Fail(kErrorInvalidParameter);
    return kInvalidFileHandle;
  }
  if (FaultDue(FaultClass::kOpen)) return kInvalidFileHandle;
  const bool data = (access & (kGenericRead | kGenericWrite)) != 0;
  if (!data && disposition != kOpenExisting) {
    Fail(kErrorInvalidParameter);
    return kInvalidFileHandle;
  }
  if (disposition == kTruncateExisting && (access & kGenericWrite) == 0) {
    Fail(kErrorInvalidParameter);
    return kInvalidFileHandle;
  }
  CreationSecurity created;
  if (security != nullptr && !created.Build(*security, false)) {
    Fail(GetLastError());
    return kInvalidFileHandle;
  }
  HANDLE handle = CreateFileA(path, access, data ? share : kSharedOpen | FILE_SHARE_DELETE,
                              security != nullptr ? created.Attributes() : nullptr, disposition,
                              attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    FailOpen(path);
    return kInvalidFileHandle;
  }
  return reinterpret_cast<FileHandle>(handle);
}

bool CloseFileHandle(FileHandle handle) {
  if (handle == kInvalidFileHandle || !CloseHandle(reinterpret_cast<HANDLE>(handle))) {
    Fail(kErrorInvalidHandle);
    return false;
  }
  return true;
}

bool GetHandleSize(FileHandle handle, uint64_t* size) {
  LARGE_INTEGER value;
  if (size == nullptr) {
    Fail(kErrorInvalidParameter);
    return false;
  }
  if (!GetFileSizeEx(reinterpret_cast<HANDLE>(handle), &value)) {
    FailFromSystem();
    return false;
  }
  *size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

FILE* OpenSystemStream(const char* path, const char* mode) {
  StreamMode parsed;
  if (!ParseMode(mode, &parsed)) return nullptr;
  HANDLE handle = OpenForStream(path, parsed);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  int fd = DescriptorOf(handle, parsed);
  if (fd < 0) return nullptr;
  FILE* stream = _fdopen(fd, parsed.crt_mode.c_str());
  if (stream == nullptr) {
    _close(fd);
    Fail(kErrorNotEnoughMemory);
  }
  return stream;
}

FILE* ReopenSystemStream(const char* path, const char* mode, FILE* stream) {
  StreamMode parsed;
  if (!ParseMode(mode, &parsed)) return nullptr;
  // The file is opened first: every failure up to the switch leaves the stream as it was. The
  // stream keeps its descriptor number, which takes the new file's handle.
  // A standard stream stays what a console command writes, text (lines end in CR LF), unless
  // binary is asked for: standard output re-opened on a file (-o) writes the same text.
  const int target = _fileno(stream);
  if (target >= 0 && target <= 2 && !parsed.binary) parsed.text = true;
  HANDLE handle = OpenForStream(path, parsed);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  int fd = DescriptorOf(handle, parsed);
  if (fd < 0) return nullptr;
  std::fflush(stream);
  if (target < 0 || _dup2(fd, target) != 0) {
    _close(fd);
    Fail(kErrorInvalidHandle);
    return nullptr;
  }
  _close(fd);
  _setmode(target, parsed.text ? _O_TEXT : _O_BINARY);
  std::clearerr(stream);
  std::rewind(stream);
  if (parsed.append) std::fseek(stream, 0, SEEK_END);
  // The standard streams of the process follow their descriptors.
  if (target <= 2) {
    const DWORD which[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    SetStdHandle(which[target], reinterpret_cast<HANDLE>(_get_osfhandle(target)));
  }
  return stream;
}

int CreatSystemFile(const char* path, uint32_t permission) {
  StreamMode mode;
  mode.access = GENERIC_WRITE;
  mode.disposition = OPEN_ALWAYS;
  mode.truncate = true;
  const DWORD attributes =
      (permission & kPermissionWrite) != 0 ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
  HANDLE handle =
      CreateFileA(path, GENERIC_WRITE, kSharedOpen, nullptr, OPEN_ALWAYS, attributes, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    FailOpen(path);
    return -1;
  }
  if (!SetEndOfFile(handle)) {
    FailFromSystem();
    CloseHandle(handle);
    return -1;
  }
  return DescriptorOf(handle, mode);
}

int CloseDescriptor(int descriptor) {
  if (_close(descriptor) != 0) {
    Fail(kErrorInvalidHandle);
    return -1;
  }
  return 0;
}

bool RenameSystemFile(const char* from, const char* to) {
  if (MoveFileExA(from, to, 0)) return true;
  FailFromSystem();
  return false;
}

bool CopySystemFileOver(const char* source, const char* target) {
  Handle in(CreateFileA(source, GENERIC_READ, kSharedOpen, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!in.valid()) {
    FailOpen(source);
    return false;
  }
  Handle out(CreateFileA(target, GENERIC_WRITE, kSharedOpen, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.valid()) {
    FailOpen(target);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION in_info;
  BY_HANDLE_FILE_INFORMATION out_info;
  if (!GetFileInformationByHandle(in.get(), &in_info) ||
      !GetFileInformationByHandle(out.get(), &out_info)) {
    FailFromSystem();
    return false;
  }
  // Truncating the target would destroy the source.
  if (in_info.dwVolumeSerialNumber == out_info.dwVolumeSerialNumber &&
      in_info.nFileIndexHigh == out_info.nFileIndexHigh &&
      in_info.nFileIndexLow == out_info.nFileIndexLow) {
    Fail(kErrorInvalidParameter);
    return false;
  }
  // In place rather than through a new file and a rename: a byte lock that another process
  // holds on the target must stay on the file that everybody opens.
  if (!SetEndOfFile(out.get())) {
    FailFromSystem();
    return false;
  }
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in.get(), buffer, sizeof buffer, &got, nullptr)) {
      FailFromSystem();
      return false;
    }
    if (got == 0) break;
    DWORD written = 0;
    if (!WriteFile(out.get(), buffer, got, &written, nullptr) || written != got) {
      FailFromSystem();
      return false;
    }
  }
  return true;
}

bool RemoveSystemFile(const char* path) {
  if (DeleteFileA(path)) return true;
  FailFromSystem();
  return false;
}

bool ReadEntryStatus(const char* path, FileStatus* status) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
    FailFromSystem();
    return false;
  }
  status->is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status->is_regular =
      !status->is_directory && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
  status->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  const int64_t intervals = (static_cast<int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                            data.ftLastWriteTime.dwLowDateTime;
  status->modified = (intervals - 116444736000000000LL) / 10000000LL;
  return true;
}

void RandomBytes(unsigned char* buffer, size_t size) {
  std::random_device device;
  for (size_t i = 0; i < size; ++i) buffer[i] = static_cast<unsigned char>(device());
}

UniqueFileHandle CreateOwnerOnlyFile(const char* path, bool* taken) {
  *taken = false;
  if (FaultDue(FaultClass::kOpen)) return UniqueFileHandle();
  CreationSecurity owner_only;
  if (!owner_only.BuildOwnerOnly()) {
    FailFromSystem();
    return UniqueFileHandle();
  }
  HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, kSharedOpen,
                              owner_only.Attributes(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *taken = ::GetLastError() == ERROR_FILE_EXISTS;
    if (!*taken) FailOpen(path);
    return UniqueFileHandle();
  }
  return UniqueFileHandle(reinterpret_cast<FileHandle>(handle));
}

// The system's runtime library (msvcrt) has no unlocked write: the locked one serves.
size_t WriteStreamUnlocked(const void* data, size_t size, FILE* stream) {
  return std::fwrite(data, 1, size, stream);
}

bool IsTerminal(FILE* stream) { return stream != nullptr && _isatty(_fileno(stream)) != 0; }

bool TruncateSystemStreamFile(FILE* stream, uint64_t length) {
  if (std::fflush(stream) != 0) {
    Fail(errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT);
    return false;
  }
  const HANDLE handle = StreamHandle(stream);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail(kErrorInvalidHandle);
    return false;
  }
  if (::GetFileType(handle) != FILE_TYPE_DISK) return true;
  if (length > static_cast<uint64_t>(INT64_MAX)) {
    Fail(kErrorInvalidParameter);
    return false;
  }
  // Appending writes move to the end of the file themselves, wherever the pointer stands.
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(length);
  if (!::SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle)) {
    FailFromSystem();
    return false;
  }
  return true;
}

// The runtime library's stream keeps its buffer in _base, the next free byte at _ptr, and its
// error indicator in _flag; its own flush leaves _ptr at _base and _cnt at 0.
void FailSystemStream(FILE* stream, bool writing) {
  const int err = errno;
  if (writing && (stream->_flag & _IOWRT) != 0 && stream->_base != nullptr) {
    // What the stream holds: its first half reaches the file, as a write cut short by the
    // failure leaves it, and the rest is dropped.
    const auto pending = static_cast<unsigned>(stream->_ptr - stream->_base);
    if (pending > 1) {
      const int written = _write(_fileno(stream), stream->_base, pending / 2);
      static_cast<void>(written);
    }
    stream->_ptr = stream->_base;
    stream->_cnt = 0;
  }
  stream->_flag |= _IOERR;
  errno = err;
}

bool SeekSystemStream(FILE* stream, int64_t offset) {
  if (_fseeki64(stream, offset, SEEK_SET) != 0) {
    Fail(kErrorInvalidParameter);
    return false;
  }
  return true;
}

ByteLockTry TryLockStreamByte(FILE* stream) {
  HANDLE handle;
  uint64_t position;
  if (!StreamPosition(stream, &handle, &position)) return ByteLockTry::kFailed;
  if (LockRange(handle, position, 1, LOCKFILE_FAIL_IMMEDIATELY)) return ByteLockTry::kLocked;
  const DWORD error = ::GetLastError();
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return ByteLockTry::kHeld;
  Fail(error);
  return ByteLockTry::kFailed;
}

bool UnlockStreamByte(FILE* stream) {
  HANDLE handle;
  uint64_t position;
  if (!StreamPosition(stream, &handle, &position)) return false;
  return UnlockRange(handle, position, 1);
}

bool SetStreamRangeLock(FILE* stream, uint64_t offset, uint64_t length, bool lock) {
  HANDLE handle = StreamHandle(stream);
  if (handle == INVALID_HANDLE_VALUE || length == 0 || offset + length < offset) {
    Fail(kErrorInvalidParameter);
    return false;
  }
  if (!lock) return UnlockRange(handle, offset, length);
  if (LockRange(handle, offset, length, 0)) return true;
  FailFromSystem();
  return false;
}

}  // namespace platform
