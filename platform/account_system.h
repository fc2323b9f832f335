// Within platform/ only: what the shared account code asks of each system.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class AccountUse : uint32_t;  // platform/account.h

/// An account that a lookup found.
struct FoundAccount {
  std::string name;
  std::string sid;
  std::string domain;
  AccountUse use{};  // kNone
};

/// Looks the account name up on system, as LookupAccountName does (name is not null). The
/// lookup may leave found's name as it was. False with the last-error code set.
bool FindAccountByName(const char* system, const char* name, FoundAccount* found);

/// Looks the identifier sid up, as LookupAccountSid does (sid is not null). The lookup may
/// leave found's sid as it was. False with the last-error code set.
bool FindAccountBySid(const char* sid, FoundAccount* found);

/// Whether system names this machine: nullptr, "" and the host name itself all do.
bool IsLocalMachine(const char* system);

/// The system's own domain of this machine, "" when it has none. 0, or a system error code.
uint32_t SystemDomainName(std::string* domain);

}  // namespace platform
