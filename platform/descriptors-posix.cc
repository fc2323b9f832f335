#include "platform/descriptors-posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"

namespace platform {

int KeepOffStandardDescriptors(int descriptor) {
  if (descriptor < 0 || descriptor > STDERR_FILENO) return descriptor;
  int moved = fcntl(descriptor, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  int err = errno;
  close(descriptor);
  if (moved < 0) {
    errno = err;
    SetLastError(ErrorFromErrno(err));
    return -1;
  }
  return moved;
}

}  // namespace platform
