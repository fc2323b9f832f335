// Files, sharing and locks on POSIX.
//
// Sharing is emulated with flock(2). A handle opened without sharing takes LOCK_EX, every other
// open takes LOCK_SH, both with LOCK_NB, and keeps the lock until the descriptor is closed:
//   - flock locks belong to the open file description, as the native system's share modes
//     belong to the handle: two opens of one file conflict even within one process, and a
//     descriptor duplicated for a stream (fdopen, freopen) carries the lock with it;
//   - LOCK_NB makes a conflict fail at once (EWOULDBLOCK, mapped to 32) instead of waiting,
//     which is what the retrying wrappers above expect;
//   - on Linux flock and fcntl locks are independent, so the sharing emulation never interferes
//     with the byte-range locks below;
//   - util-linux `flock -x FILE cmd` holds a file exactly as an unshared product open does.
// flock is advisory: programs outside the product that do not take it are not stopped.
//
// Byte-range locks use fcntl open-file-description locks (F_OFD_SETLK, F_OFD_SETLKW). Classic
// POSIX record locks (F_SETLK) belong to the process: a second open of the same file within the
// process does not conflict with them, and closing *any* descriptor of the file drops them all,
// so the copy of site.list over its lock file, or a second stream on the record file, would
// silently release the lock. OFD locks belong to the open file description, like the native
// locks belong to the handle: they exclude other opens in this process too, and last until
// released or until the stream that holds them is closed.
//
// Every descriptor is opened close-on-exec (except a re-opened standard stream), so that child
// processes such as runscan do not inherit files and keep them held, and is kept off the
// standard descriptors 0, 1 and 2 (KeepOffStandardDescriptors), so that a closed standard
// stream can never end up writing into, or being closed with, one of this layer's files.
#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "platform/descriptors-posix.h"
#include "platform/error.h"
#include "platform/fault_points.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/security.h"

namespace platform {

namespace {

// Sets the last-error code from err and leaves err in errno.
void Fail(int err) {
  SetLastError(ErrorFromErrno(err));
  errno = err;
}

bool ParentIsDirectory(const char* path) {
  std::string text(path);
  size_t slash = text.find_last_of('/');
  if (slash == std::string::npos) return true;
  std::string parent = slash == 0 ? std::string("/") : text.substr(0, slash);
  struct stat st;
  return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Sets the last-error code for a failed operation on path from errno. A missing directory on
// the way is "path not found" (3) rather than "file not found" (2), as the product tells them
// apart (an output file in a directory that does not exist, for example).
void FailPath(const char* path) {
  int err = errno;
  uint32_t code = ErrorFromErrno(err);
  if (err == ENOENT && path != nullptr && !ParentIsDirectory(path)) code = kErrorPathNotFound;
  SetLastError(code);
  errno = err;
}

// Owns a descriptor within one function.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) {
      int saved = errno;
      close(fd_);
      errno = saved;
    }
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Takes the sharing hold on fd. False with errno EWOULDBLOCK on a conflict. A file system that
// cannot lock at all (ENOLCK, EOPNOTSUPP) opens without the hold rather than not at all.
bool TakeHold(int fd, bool exclusive) {
  int op = (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  while (flock(fd, op) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return false;
    return true;
  }
  return true;
}

// Checks that fd is not a directory and takes the hold; truncates a regular file afterwards
// when asked, so that a file held by another process is never truncated under it.
bool PrepareOpened(int fd, bool exclusive, bool truncate) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    Fail(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    Fail(EISDIR);
    return false;
  }
  if (!TakeHold(fd, exclusive)) {
    Fail(EWOULDBLOCK);
    return false;
  }
  if (truncate && S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) {
    Fail(errno);
    return false;
  }
  return true;
}

struct StreamMode {
  int flags = 0;          // open flags, without O_TRUNC
  bool truncate = false;  // "w": truncate once the hold is taken
  std::string fdopen_mode;
  std::string reopen_mode;  // the caller's mode without x (the file exists by then)
};

// Reads an fopen mode: r, w or a first, then any of + b t x e n; the rest (",ccs=") is ignored.
// False, with the last-error code set (87), for a mode that starts with another letter.
bool ParseMode(const char* mode, StreamMode* out) {
  int access;
  switch (mode[0]) {
    case 'r':
      access = O_RDONLY;
      break;
    case 'w':
      access = O_WRONLY;
      out->flags = O_CREAT;
      out->truncate = true;
      break;
    case 'a':
      access = O_WRONLY;
      out->flags = O_CREAT | O_APPEND;
      break;
    default:
      Fail(EINVAL);
      return false;
  }
  bool plus = false;
  out->reopen_mode = mode[0];
  for (const char* p = mode + 1; *p != '\0' && *p != ','; ++p) {
    if (*p == '+') plus = true;
    if (*p == 'x' && (out->flags & O_CREAT) != 0) out->flags |= O_EXCL;
    if (*p == 'n') out->flags |= O_NOFOLLOW;
    if (*p != 'x' && *p != 'e' && *p != 'n') out->reopen_mode += *p;
  }
  if (plus) access = O_RDWR;
  out->flags |= access | O_NOCTTY;
  out->fdopen_mode = std::string(1, mode[0]) + (plus ? "+" : "");
  return true;
}

bool SetOfdLock(int fd, short type, off_t start, off_t length, bool wait) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  fl.l_pid = 0;  // required by open-file-description locks
  int cmd = wait ? F_OFD_SETLKW : F_OFD_SETLK;
  while (fcntl(fd, cmd, &fl) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool StreamPosition(FILE* stream, int* fd, off_t* position) {
  if (stream == nullptr) {
    Fail(EINVAL);
    return false;
  }
  *fd = fileno(stream);
  if (*fd < 0) {
    Fail(EBADF);
    return false;
  }
  *position = ftello(stream);
  if (*position < 0) {
    Fail(errno);
    return false;
  }
  return true;
}

bool RangeFits(uint64_t offset, uint64_t length) {
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<off_t>::max());
  return length >= 1 && offset <= kMax && length <= kMax - offset;
}

// Refuses to remove or rename a file that another open holds, shared or not: the product's own
// opens never allow that. Returns false (32) on such a conflict. Otherwise *probe is a
// descriptor that holds the file exclusively until the caller closes it (or -1 when the file
// cannot be opened for the test; the operation itself then reports what is wrong).
bool NotHeldElsewhere(const char* path, int* probe) {
  *probe = KeepOffStandardDescriptors(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (*probe < 0) return true;
  if (!TakeHold(*probe, true)) {
    close(*probe);
    *probe = -1;
    Fail(EWOULDBLOCK);
    return false;
  }
  return true;
}

// An attribute-only handle of an existing file. Attribute access takes no part in sharing, and
// O_PATH needs no read permission.
FileHandle OpenForAttributes(const char* path, uint32_t disposition) {
  if (disposition != kOpenExisting) {
    Fail(EINVAL);
    return kInvalidFileHandle;
  }
  int fd = KeepOffStandardDescriptors(open(path, O_PATH | O_CLOEXEC));
  if (fd < 0) {
    FailPath(path);
    return kInvalidFileHandle;
  }
  return fd;
}

// What an open by disposition did: the descriptor (-1, with errno set, when it failed), whether
// it created the file or found it existing, and whether the file is to be truncated once the
// hold is taken.
struct OpenedFile {
  int fd = -1;
  bool created = false;
  bool existed = false;
  bool truncate = false;
};

// Creates path, or opens it when it exists, telling the two apart, so that an existing file can
// be reported (183) and only a file that this call creates is given the security. A file that
// goes away between the two tries is tried again, a few times.
void CreateOrOpen(const char* path, int flags, mode_t create_mode, OpenedFile* opened) {
  for (int tries = 0; tries < 8; ++tries) {
    opened->fd = open(path, flags | O_CREAT | O_EXCL, create_mode);
    opened->created = opened->fd >= 0;
    if (opened->fd >= 0 || errno != EEXIST) return;
    opened->fd = open(path, flags);
    if (opened->fd >= 0) {
      opened->existed = true;
      return;
    }
    if (errno != ENOENT) return;
  }
}

// Opens path for data as disposition asks. False, with the last-error code set, for a
// disposition that cannot be had (unknown, or truncation without write access); otherwise
// true, and *opened says what the open did.
bool OpenByDisposition(const char* path, int flags, mode_t create_mode, uint32_t disposition,
                       bool write, OpenedFile* opened) {
  switch (disposition) {
    case kCreateNew:
      opened->fd = open(path, flags | O_CREAT | O_EXCL, create_mode);
      opened->created = opened->fd >= 0;
      return true;
    case kCreateAlways:
    case kOpenAlways:
      opened->truncate = disposition == kCreateAlways;
      CreateOrOpen(path, flags, create_mode, opened);
      return true;
    case kOpenExisting:
      opened->fd = open(path, flags);
      return true;
    case kTruncateExisting:
      if (!write) break;
      opened->fd = open(path, flags);
      opened->truncate = true;
      return true;
    default:
      break;
  }
  Fail(EINVAL);
  return false;
}

// Sets the last-error code for an open that left no descriptor. A file that it created all the
// same (no descriptor was left to secure it with) must not stay.
void FailUnopened(const char* path, bool created) {
  if (!created) {
    FailPath(path);
    return;
  }
  int err = errno;
  unlink(path);
  Fail(err);
}

// Gives the file just created at path, open as fd, the security's list. A file that does not
// carry its security must not stay behind: it is removed when that fails.
bool SecureOrRemove(int fd, const char* path, const FileSecurity& security) {
  if (SecureCreatedFile(fd, security)) return true;
  uint32_t code = GetLastError();
  int err = errno;
  unlink(path);
  SetLastError(code);
  errno = err;
  return false;
}

}  // namespace

const char kPathSeparator = '/';

void RandomBytes(unsigned char* buffer, size_t size) {
  size_t filled = 0;
  while (filled < size) {
    ssize_t n = getrandom(buffer + filled, size - filled, 0);
    if (n > 0) {
      filled += static_cast<size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      std::random_device device;
      for (; filled < size; ++filled) buffer[filled] = static_cast<unsigned char>(device());
    }
  }
}

bool IsPathSeparator(char c) { return c == '/'; }

FileHandle OpenFileHandle(const char* path, uint32_t access, uint32_t share,
                          const FileSecurity* security, uint32_t disposition, uint32_t attributes) {
  (void)attributes;
  if (path == nullptr) {
    Fail(EINVAL);
    return kInvalidFileHandle;
  }
  if (FaultDue(FaultClass::kOpen)) return kInvalidFileHandle;
  // An identifier with no counterpart is refused before anything is created.
  if (security != nullptr && !CheckAccessList(security->list)) return kInvalidFileHandle;
  const bool read = (access & kGenericRead) != 0;
  const bool write = (access & kGenericWrite) != 0;
  if (!read && !write) return OpenForAttributes(path, disposition);
  const int flags = (read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY) | O_CLOEXEC | O_NOCTTY;
  // A file created with a security is its owner's alone until its list is set.
  const mode_t create_mode = security != nullptr ? 0600 : 0666;
  OpenedFile opened;
  if (!OpenByDisposition(path, flags, create_mode, disposition, write, &opened)) {
    return kInvalidFileHandle;
  }
  const int fd = KeepOffStandardDescriptors(opened.fd);
  if (fd < 0) {
    FailUnopened(path, opened.created);
    return kInvalidFileHandle;
  }
  Fd guard(fd);
  if (opened.created && security != nullptr && !SecureOrRemove(fd, path, *security)) {
    return kInvalidFileHandle;
  }
  if (!PrepareOpened(fd, share == kShareNone, opened.truncate)) return kInvalidFileHandle;
  SetLastError(opened.existed ? kErrorAlreadyExists : kErrorSuccess);
  return guard.release();
}

bool CloseFileHandle(FileHandle handle) {
  if (handle < 0 || handle > std::numeric_limits<int>::max()) {
    Fail(EBADF);
    return false;
  }
  // After EINTR the descriptor is gone on Linux; only report real failures.
  if (close(static_cast<int>(handle)) != 0 && errno != EINTR) {
    Fail(errno);
    return false;
  }
  return true;
}

bool GetHandleSize(FileHandle handle, uint64_t* size) {
  struct stat st;
  if (size == nullptr || handle < 0 || handle > std::numeric_limits<int>::max()) {
    Fail(size == nullptr ? EINVAL : EBADF);
    return false;
  }
  if (fstat(static_cast<int>(handle), &st) != 0) {
    Fail(errno);
    return false;
  }
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

FILE* OpenSystemStream(const char* path, const char* mode) {
  StreamMode parsed;
  if (!ParseMode(mode, &parsed)) return nullptr;
  // Open without O_TRUNC: "w" truncates only once the hold shows that nobody holds the file.
  Fd fd(KeepOffStandardDescriptors(open(path, parsed.flags | O_CLOEXEC, 0666)));
  if (!fd.valid()) {
    FailPath(path);
    return nullptr;
  }
  if (!PrepareOpened(fd.get(), false, parsed.truncate)) return nullptr;
  FILE* stream = fdopen(fd.get(), parsed.fdopen_mode.c_str());
  if (stream == nullptr) {
    Fail(errno);
    return nullptr;
  }
  fd.release();
  return stream;
}

FILE* ReopenSystemStream(const char* path, const char* mode, FILE* stream) {
  StreamMode parsed;
  if (!ParseMode(mode, &parsed)) return nullptr;
  // freopen truncates before anything can be checked, and closes the stream when it fails. So
  // a probe open of the same file takes the shared hold first: every failure up to here leaves
  // the stream untouched, and while the probe holds the file nobody can take it exclusively,
  // so the stream's own hold below cannot conflict. The probe must not take the number of a
  // closed standard stream: freopen puts the file on the stream's own number, and closing the
  // probe would then close the stream's new file.
  Fd probe(KeepOffStandardDescriptors(open(path, parsed.flags | O_CLOEXEC, 0666)));
  if (!probe.valid()) {
    FailPath(path);
    return nullptr;
  }
  if (!PrepareOpened(probe.get(), false, false)) return nullptr;
  std::string reopen_mode = parsed.reopen_mode;
  // Standard streams stay inheritable; any other stream is close-on-exec like every open here.
  if (fileno(stream) > 2) reopen_mode += 'e';
  if (std::freopen(path, reopen_mode.c_str(), stream) == nullptr) {
    FailPath(path);
    return nullptr;
  }
  TakeHold(fileno(stream), false);
  return stream;
}

int CreatSystemFile(const char* path, uint32_t permission) {
  mode_t mode = ((permission & kPermissionRead) != 0 ? 0444 : 0) |
                ((permission & kPermissionWrite) != 0 ? 0222 : 0);
  Fd fd(KeepOffStandardDescriptors(open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, mode)));
  if (!fd.valid()) {
    FailPath(path);
    return -1;
  }
  if (!PrepareOpened(fd.get(), false, true)) return -1;
  return fd.release();
}

int CloseDescriptor(int descriptor) { return CloseFileHandle(descriptor) ? 0 : -1; }

bool RenameSystemFile(const char* from, const char* to) {
  int held;
  if (!NotHeldElsewhere(from, &held)) return false;
  Fd probe(held);
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno == EINVAL || errno == ENOSYS) {
    // The file system cannot refuse replacement atomically: test, then rename.
    struct stat st;
    if (lstat(to, &st) == 0) {
      errno = EEXIST;
    } else if (rename(from, to) == 0) {
      return true;
    }
  }
  if (errno == EEXIST) {
    SetLastError(kErrorAlreadyExists);
    return false;
  }
  struct stat st;
  if (errno == ENOENT && lstat(from, &st) == 0) {
    // The source exists, so the target's directory is missing.
    FailPath(to);
    return false;
  }
  FailPath(from);
  return false;
}

bool CopySystemFileOver(const char* source, const char* target) {
  Fd in(KeepOffStandardDescriptors(open(source, O_RDONLY | O_CLOEXEC | O_NOCTTY)));
  if (!in.valid()) {
    FailPath(source);
    return false;
  }
  if (!PrepareOpened(in.get(), false, false)) return false;
  struct stat in_st;
  if (fstat(in.get(), &in_st) != 0) {
    Fail(errno);
    return false;
  }
  Fd out(KeepOffStandardDescriptors(
      open(target, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, in_st.st_mode & 0777)));
  if (!out.valid()) {
    FailPath(target);
    return false;
  }
  struct stat out_st;
  if (fstat(out.get(), &out_st) != 0) {
    Fail(errno);
    return false;
  }
  // Truncating the target would destroy the source.
  if (out_st.st_dev == in_st.st_dev && out_st.st_ino == in_st.st_ino) {
    Fail(EINVAL);
    return false;
  }
  // In place rather than through a new file and a rename: a byte lock that another process
  // holds on the target must stay on the file that everybody opens.
  if (!PrepareOpened(out.get(), false, true)) return false;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(in.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
      return false;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out.get(), buffer + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        Fail(errno);
        return false;
      }
      done += w;
    }
  }
  // A delayed write error shows up only at close.
  if (close(out.release()) != 0 && errno != EINTR) {
    Fail(errno);
    return false;
  }
  return true;
}

bool RemoveSystemFile(const char* path) {
  int held;
  if (!NotHeldElsewhere(path, &held)) return false;
  Fd probe(held);
  if (unlink(path) != 0) {
    FailPath(path);
    return false;
  }
  return true;
}

bool ReadEntryStatus(const char* path, FileStatus* status) {
  struct stat st;
  if (stat(path, &st) != 0) {
    FailPath(path);
    return false;
  }
  status->is_directory = S_ISDIR(st.st_mode);
  status->is_regular = S_ISREG(st.st_mode);
  status->size = static_cast<uint64_t>(st.st_size);
  status->modified = static_cast<int64_t>(st.st_mtime);
  return true;
}

UniqueFileHandle CreateOwnerOnlyFile(const char* path, bool* taken) {
  *taken = false;
  if (FaultDue(FaultClass::kOpen)) return UniqueFileHandle();
  int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0) {
    *taken = errno == EEXIST;
    if (!*taken) FailPath(path);
    return UniqueFileHandle();
  }
  fd = KeepOffStandardDescriptors(fd);
  if (fd < 0) {
    int err = errno;
    unlink(path);
    Fail(err);
    return UniqueFileHandle();
  }
  UniqueFileHandle handle(fd);
  // The creation mask may have taken the owner's bits; the file must be usable by its owner.
  if (fchmod(fd, 0600) != 0 || !PrepareOpened(fd, false, false)) {
    int err = errno;
    handle.Reset();
    unlink(path);
    Fail(err);
    return UniqueFileHandle();
  }
  return handle;
}

size_t WriteStreamUnlocked(const void* data, size_t size, FILE* stream) {
  return fwrite_unlocked(data, 1, size, stream);
}

bool IsTerminal(FILE* stream) { return stream != nullptr && isatty(fileno(stream)) == 1; }

bool TruncateSystemStreamFile(FILE* stream, uint64_t length) {
  if (std::fflush(stream) != 0) {
    Fail(errno);
    return false;
  }
  const int fd = fileno(stream);
  struct stat status {};
  if (fstat(fd, &status) != 0) {
    Fail(errno);
    return false;
  }
  if (!S_ISREG(status.st_mode)) return true;
  if (length > static_cast<uint64_t>(std::numeric_limits<off_t>::max()) ||
      ftruncate(fd, static_cast<off_t>(length)) != 0) {
    Fail(length > static_cast<uint64_t>(std::numeric_limits<off_t>::max()) ? EINVAL : errno);
    return false;
  }
  return true;
}

void FailSystemStream(FILE* stream, bool writing) {
  const int err = errno;
  if (writing) {
    // What the stream holds: its first half reaches the file, as a write cut short by the
    // failure leaves it, and the rest is dropped.
    const size_t pending = __fpending(stream);
    if (pending > 1 && stream->_IO_write_base != nullptr) {
      const ssize_t written = write(fileno(stream), stream->_IO_write_base, pending / 2);
      static_cast<void>(written);
    }
    __fpurge(stream);
  }
  stream->_flags |= _IO_ERR_SEEN;
  errno = err;
}

bool SeekSystemStream(FILE* stream, int64_t offset) {
  if (fseeko(stream, static_cast<off_t>(offset), SEEK_SET) != 0) {
    Fail(errno);
    return false;
  }
  return true;
}

ByteLockTry TryLockStreamByte(FILE* stream) {
  int fd;
  off_t position;
  if (!StreamPosition(stream, &fd, &position)) return ByteLockTry::kFailed;
  if (SetOfdLock(fd, F_WRLCK, position, 1, false)) return ByteLockTry::kLocked;
  if (errno == EAGAIN || errno == EACCES) return ByteLockTry::kHeld;
  Fail(errno);
  return ByteLockTry::kFailed;
}

bool UnlockStreamByte(FILE* stream) {
  int fd;
  off_t position;
  if (!StreamPosition(stream, &fd, &position)) return false;
  if (!SetOfdLock(fd, F_UNLCK, position, 1, false)) {
    Fail(errno);
    return false;
  }
  return true;
}

// On the stream's open file description: F_WRLCK waits for the range, F_UNLCK releases it.
bool SetStreamRangeLock(FILE* stream, uint64_t offset, uint64_t length, bool lock) {
  const short type = lock ? F_WRLCK : F_UNLCK;
  if (stream == nullptr || fileno(stream) < 0 || !RangeFits(offset, length)) {
    Fail(EINVAL);
    return false;
  }
  if (!SetOfdLock(fileno(stream), type, static_cast<off_t>(offset), static_cast<off_t>(length),
                  lock)) {
    Fail(errno);
    return false;
  }
  return true;
}

}  // namespace platform
