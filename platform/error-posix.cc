#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace platform {

namespace {
thread_local uint32_t last_error = kErrorSuccess;
}  // namespace

uint32_t GetLastError() { return last_error; }

void SetLastError(uint32_t code) { last_error = code; }

uint32_t ErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EWOULDBLOCK:
      return kErrorSharingViolation;
    case EDEADLK:
      return kErrorLockViolation;
    case ENOSYS:
    case EOPNOTSUPP:
      return kErrorNotSupported;
    case EEXIST:
      return kErrorFileExists;
    case EINVAL:
      return kErrorInvalidParameter;
    case EPIPE:
      return kErrorBrokenPipe;
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case EBUSY:
    case ETXTBSY:
      return kErrorBusy;
    case EISDIR:
      return kErrorDirectory;
    case EIO:
      return kErrorGenFailure;
    case ERANGE:
      return kErrorInsufficientBuffer;
    default:
      return kErrorGenFailure;
  }
}

uint32_t SetLastErrorFromErrno() {
  last_error = ErrorFromErrno(errno);
  return last_error;
}

std::string ErrnoText(int err) { return std::strerror(err); }

}  // namespace platform
