#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/account.h"
#include "platform/error.h"

namespace platform {

bool GetUserName(std::string* name) {
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(hint > 0 ? static_cast<size_t>(hint) : 4096);
  struct passwd pw;
  struct passwd* found = nullptr;
  int rc;
  while ((rc = getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found)) == ERANGE) {
    buf.resize(buf.size() * 2);
  }
  if (rc != 0 || found == nullptr) {
    SetLastError(rc != 0 ? ErrorFromErrno(rc) : kErrorNoneMapped);
    return false;
  }
  *name = found->pw_name;
  return true;
}

}  // namespace platform
