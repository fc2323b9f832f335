// Accounts of the machine: the caller's name, the host name, lookups of accounts by name and by
// security identifier, and the machine's domain.
//
// Security identifiers are texts. A local user is "S-1-22-1-<uid>", a local group
// "S-1-22-2-<gid>" (from the passwd and group databases); the twelve well-known accounts keep
// their product texts ("S-1-5-32-544" for Administrators, "S-1-1-0" for Everyone, "S-1-5-18"
// for SYSTEM, ...) and their English names, which are the names of the installed language here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

inline constexpr char kAdministratorsSid[] = "S-1-5-32-544";
inline constexpr char kEveryoneSid[] = "S-1-1-0";
inline constexpr char kSystemSid[] = "S-1-5-18";
inline constexpr char kUserSidPrefix[] = "S-1-22-1-";
inline constexpr char kGroupSidPrefix[] = "S-1-22-2-";

/// The calling thread's (effective) user's account name. False, with the last-error code set,
/// when it cannot be had.
bool GetUserName(std::string* name);

/// The machine's host name. False, with the last-error code set, when it cannot be had.
bool GetHostName(std::string* name);

/// What an account name or identifier names, in the product's numbering.
enum class AccountUse : uint32_t {
  kNone = 0,
  kUser = 1,
  kGroup = 2,
  kDomain = 3,
  kAlias = 4,           // a built-in local group (Administrators, Users, ...)
  kWellKnownGroup = 5,  // Everyone, SYSTEM
  kUnknown = 8,
};

/// Looks up an account by name on system (nullptr, "" or the host name is the local machine;
/// no other machine can be asked: 1722). The name is bare, "\<name>" (the same), or
/// "<domain>\<name>". A well-known name (case ignored) is found first, then a passwd user, then
/// a group (these names compare with their letter case, as the system does). A qualified name
/// matches only when its domain (case ignored) is the domain that holds the account: the host
/// name for local users and groups, which also answer to the machine's domain (MachineDomain);
/// "BUILTIN" for the built-in groups, "NT AUTHORITY" for SYSTEM. *sid receives the identifier,
/// *domain the domain that holds the account ("" for Everyone), *use what it names; each may
/// be null. False with 1332 (none mapped) when nothing matches, 87 for an absent name.
bool LookupAccountName(const char* system, const char* name, std::string* sid, std::string* domain,
                       AccountUse* use);

/// Looks a bare name up among the local groups only. Here a user and a group may share a name
/// (most users have a group of their own name), which the product's account database never
/// allows; where the product asks for a group, this finds it. False with 1332 when no group
/// has the name.
bool LookupGroupName(const char* name, std::string* sid);

/// The number of a local account's identifier: *use becomes kUser for "S-1-22-1-<uid>" and
/// kGroup for "S-1-22-2-<gid>" (letter case ignored). False for any other text, and for a
/// number that does not fit 32 bits or is 4294967295, which stands for no account.
bool LocalAccountId(std::string_view sid, AccountUse* use, uint32_t* id);

/// Looks up an identifier: the name (and domain, and use) of the well-known account, passwd
/// user or group it denotes. False with 1332 when nothing matches, 1337 for a text that is not
/// an identifier, 87 for an absent one.
bool LookupAccountSid(const char* sid, std::string* name, std::string* domain, AccountUse* use);

/// Status of MachineDomain when no other machine can be reached.
inline constexpr uint32_t kNetBadNetPath = 53;

/// The machine's domain, as the product's domain query (level 2) reports it: the system's
/// domain name, "" when there is none (an empty name or "(none)"). Returns 0, 124 for a level
/// other than 2, kNetBadNetPath for a server other than the local machine (nullptr, "" or the
/// host name), 87 for an absent domain.
uint32_t MachineDomain(const char* server, uint32_t level, std::string* domain);

}  // namespace platform
