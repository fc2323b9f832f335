// The product's error codes for C library error numbers, on every system.
#include "platform/error.h"

#include <cerrno>
#include <cstring>

namespace platform {

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
#if EOPNOTSUPP != ENOSYS
    case EOPNOTSUPP:
#endif
      return kErrorNotSupported;
    case EEXIST:
      return kErrorFileExists;
    case EINVAL:
      return kErrorInvalidParameter;
    case EPIPE:
      return kErrorBrokenPipe;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return kErrorDiskFull;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case EBUSY:
#if defined(ETXTBSY) && ETXTBSY != EBUSY
    case ETXTBSY:
#endif
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

std::string ErrnoText(int err) { return std::strerror(err); }

uint32_t SetLastErrorFromErrno() {
  const uint32_t code = ErrorFromErrno(errno);
  SetLastError(code);
  return code;
}

}  // namespace platform
