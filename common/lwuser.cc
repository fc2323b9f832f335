#include "common/lwuser.h"

#include <cstring>
#include <string>

#include "platform/account.h"
#include "platform/error.h"

namespace {
constexpr size_t kUserNameBufSize = 4096;
char user_name[kUserNameBufSize];
}  // namespace

char* lw_GetUserName() {
  std::string name;
  if (!platform::GetUserName(&name)) return nullptr;
  if (name.size() >= kUserNameBufSize) {
    platform::SetLastError(platform::kErrorInsufficientBuffer);
    return nullptr;
  }
  std::memcpy(user_name, name.c_str(), name.size() + 1);
  return user_name;
}
