// Accounts of the machine.
#pragma once

#include <string>

namespace platform {

/// The account name of the calling thread's (effective) user. False, with the last-error code
/// set, when it cannot be had.
bool GetUserName(std::string* name);

}  // namespace platform
