#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/account.h"
#include "platform/account_system.h"
#include "platform/error.h"
#include "platform/fault_points.h"
#include "platform/textcase.h"

namespace platform {

namespace {

constexpr std::string_view kBuiltinDomain = "BUILTIN";
constexpr std::string_view kNtAuthorityDomain = "NT AUTHORITY";
constexpr std::string_view kUserPrefix = kUserSidPrefix;
constexpr std::string_view kGroupPrefix = kGroupSidPrefix;

struct WellKnownAccount {
  std::string_view name;
  std::string_view sid;
  std::string_view domain;
  AccountUse use;
};

constexpr WellKnownAccount kWellKnown[] = {
    {"Administrators", kAdministratorsSid, kBuiltinDomain, AccountUse::kAlias},
    {"Backup Operators", "S-1-5-32-551", kBuiltinDomain, AccountUse::kAlias},
    {"Guests", "S-1-5-32-546", kBuiltinDomain, AccountUse::kAlias},
    {"Network Configuration Operators", "S-1-5-32-556", kBuiltinDomain, AccountUse::kAlias},
    {"Performance Log Users", "S-1-5-32-559", kBuiltinDomain, AccountUse::kAlias},
    {"Performance Monitor Users", "S-1-5-32-558", kBuiltinDomain, AccountUse::kAlias},
    {"Print Operators", "S-1-5-32-550", kBuiltinDomain, AccountUse::kAlias},
    {"Remote Desktop Users", "S-1-5-32-555", kBuiltinDomain, AccountUse::kAlias},
    {"Replicator", "S-1-5-32-552", kBuiltinDomain, AccountUse::kAlias},
    {"Users", "S-1-5-32-545", kBuiltinDomain, AccountUse::kAlias},
    {"Everyone", kEveryoneSid, "", AccountUse::kWellKnownGroup},
    {"SYSTEM", kSystemSid, kNtAuthorityDomain, AccountUse::kWellKnownGroup},
};

// The reentrant database calls report a too-small buffer with ERANGE; the size hint of
// sysconf may be absent or too small for a long member list, so the buffer grows until it fits.
// Returns 0 (found or not: *found tells), or the errno of a failed lookup.
template <typename Record, typename Call>
int ReadDatabase(int size_hint_name, Record* record, Record** found, std::vector<char>* buf,
                 Call call) {
  long hint = sysconf(size_hint_name);
  buf->resize(hint > 0 ? static_cast<size_t>(hint) : 4096);
  int rc;
  while ((rc = call(record, buf->data(), buf->size(), found)) == ERANGE) {
    if (buf->size() > (size_t{1} << 24)) break;  // no real entry is this large
    buf->resize(buf->size() * 2);
  }
  // Some C libraries report "no such entry" as an error number; any of these means none.
  if (rc == ENOENT || rc == ESRCH || rc == EBADF || rc == EPERM) {
    *found = nullptr;
    rc = 0;
  }
  return rc;
}

// Looks up a passwd user with lookup (getpwnam_r or getpwuid_r bound to its key): 1 found,
// 0 none, -1 failure (last-error code set).
template <typename Lookup>
int FindUser(Lookup lookup, FoundAccount* out, const std::string& host) {
  struct passwd pw;
  struct passwd* found = nullptr;
  std::vector<char> buf;
  int rc = ReadDatabase(_SC_GETPW_R_SIZE_MAX, &pw, &found, &buf, lookup);
  if (rc != 0) {
    SetLastError(ErrorFromErrno(rc));
    return -1;
  }
  if (found == nullptr) return 0;
  *out = {found->pw_name, std::string(kUserPrefix) + std::to_string(found->pw_uid), host,
          AccountUse::kUser};
  return 1;
}

// The same for a group, with getgrnam_r or getgrgid_r.
template <typename Lookup>
int FindGroup(Lookup lookup, FoundAccount* out, const std::string& host) {
  struct group gr;
  struct group* found = nullptr;
  std::vector<char> buf;
  int rc = ReadDatabase(_SC_GETGR_R_SIZE_MAX, &gr, &found, &buf, lookup);
  if (rc != 0) {
    SetLastError(ErrorFromErrno(rc));
    return -1;
  }
  if (found == nullptr) return 0;
  *out = {found->gr_name, std::string(kGroupPrefix) + std::to_string(found->gr_gid), host,
          AccountUse::kGroup};
  return 1;
}

int FindUserByName(const std::string& name, FoundAccount* out, const std::string& host) {
  return FindUser([&](struct passwd* r, char* b, size_t n,
                      struct passwd** f) { return getpwnam_r(name.c_str(), r, b, n, f); },
                  out, host);
}

int FindUserById(uint32_t uid, FoundAccount* out, const std::string& host) {
  return FindUser(
      [&](struct passwd* r, char* b, size_t n, struct passwd** f) {
        return getpwuid_r(static_cast<uid_t>(uid), r, b, n, f);
      },
      out, host);
}

int FindGroupByName(const std::string& name, FoundAccount* out, const std::string& host) {
  return FindGroup([&](struct group* r, char* b, size_t n,
                       struct group** f) { return getgrnam_r(name.c_str(), r, b, n, f); },
                   out, host);
}

int FindGroupById(uint32_t gid, FoundAccount* out, const std::string& host) {
  return FindGroup(
      [&](struct group* r, char* b, size_t n, struct group** f) {
        return getgrgid_r(static_cast<gid_t>(gid), r, b, n, f);
      },
      out, host);
}

// The host name, or "" when it cannot be had (local accounts then report an empty domain).
std::string HostNameOrEmpty() {
  std::string host;
  if (!GetHostName(&host)) host.clear();
  return host;
}

// "S-<revision>-<authority>[-<subauthority>]..." with decimal numbers, up to 15 subauthorities.
bool IsSidText(std::string_view text) {
  if (text.size() < 2 || (text[0] != 'S' && text[0] != 's') || text[1] != '-') return false;
  text.remove_prefix(2);
  int parts = 0;
  for (;;) {
    size_t dash = text.find('-');
    std::string_view part = text.substr(0, dash);
    if (part.empty() || part.size() > 15) return false;
    for (char c : part) {
      if (c < '0' || c > '9') return false;
    }
    if (++parts > 17) return false;
    if (dash == std::string_view::npos) break;
    text.remove_prefix(dash + 1);
  }
  return parts >= 2;
}

}  // namespace

bool GetUserName(std::string* name) {
  if (FaultDue(FaultClass::kAccountLookup)) return false;
  struct passwd pw;
  struct passwd* entry = nullptr;
  std::vector<char> buf;
  int rc = ReadDatabase(_SC_GETPW_R_SIZE_MAX, &pw, &entry, &buf,
                        [](struct passwd* r, char* b, size_t n, struct passwd** f) {
                          return getpwuid_r(geteuid(), r, b, n, f);
                        });
  if (rc != 0 || entry == nullptr) {
    SetLastError(rc != 0 ? ErrorFromErrno(rc) : kErrorNoneMapped);
    return false;
  }
  *name = entry->pw_name;
  return true;
}

bool GetHostName(std::string* name) {
  if (name == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  // HOST_NAME_MAX is 64 on Linux; a larger buffer costs nothing and covers other systems.
  char buf[256];
  if (gethostname(buf, sizeof buf) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  buf[sizeof buf - 1] = '\0';  // a truncated name need not be terminated
  *name = buf;
  return true;
}

bool LookupGroupName(const char* name, std::string* sid) {
  if (name == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  FoundAccount found;
  int rc = FindGroupByName(name, &found, std::string());
  if (rc < 0) return false;
  if (rc == 0) {
    SetLastError(kErrorNoneMapped);
    return false;
  }
  *sid = std::move(found.sid);
  return true;
}

bool FindAccountByName(const char* system, const char* name, FoundAccount* result) {
  if (FaultDue(FaultClass::kAccountLookup)) return false;
  if (!IsLocalMachine(system)) {
    SetLastError(kErrorRpcServerUnavailable);
    return false;
  }

  std::string_view full(name);
  std::string_view wanted_domain;
  std::string_view account = full;
  bool qualified = false;
  if (size_t slash = full.find('\\'); slash != std::string_view::npos) {
    wanted_domain = full.substr(0, slash);
    account = full.substr(slash + 1);
    qualified = !wanted_domain.empty();  // "\name" is the bare name
  }
  if (account.empty()) {
    SetLastError(kErrorNoneMapped);
    return false;
  }

  const std::string host = HostNameOrEmpty();
  FoundAccount found;
  bool have = false;
  for (const auto& w : kWellKnown) {
    if (EqualIgnoringCase(account, w.name)) {
      found = {std::string(w.name), std::string(w.sid), std::string(w.domain), w.use};
      have = true;
      break;
    }
  }
  if (!have) {
    const std::string key(account);
    int rc = FindUserByName(key, &found, host);
    if (rc == 0) rc = FindGroupByName(key, &found, host);
    if (rc < 0) return false;
    have = rc > 0;
  }
  if (!have) {
    SetLastError(kErrorNoneMapped);
    return false;
  }

  if (qualified && !EqualIgnoringCase(wanted_domain, found.domain)) {
    // Local users and groups also answer to the machine's domain.
    bool local = found.use == AccountUse::kUser || found.use == AccountUse::kGroup;
    std::string machine_domain;
    bool in_machine_domain = local && MachineDomain(nullptr, 2, &machine_domain) == 0 &&
                             !machine_domain.empty() &&
                             EqualIgnoringCase(wanted_domain, machine_domain);
    if (!in_machine_domain) {
      SetLastError(kErrorNoneMapped);
      return false;
    }
  }

  *result = std::move(found);
  return true;
}

bool FindAccountBySid(const char* sid, FoundAccount* result) {
  if (FaultDue(FaultClass::kAccountLookup)) return false;
  std::string_view text(sid);
  if (!IsSidText(text)) {
    SetLastError(kErrorInvalidSid);
    return false;
  }
  FoundAccount found;
  bool have = false;
  for (const auto& w : kWellKnown) {
    if (EqualIgnoringCase(text, w.sid)) {
      found = {std::string(w.name), std::string(w.sid), std::string(w.domain), w.use};
      have = true;
      break;
    }
  }
  if (!have) {
    uint32_t id = 0;
    AccountUse local = AccountUse::kNone;
    int rc = 0;
    if (LocalAccountId(text, &local, &id)) {
      rc = local == AccountUse::kUser ? FindUserById(id, &found, HostNameOrEmpty())
                                      : FindGroupById(id, &found, HostNameOrEmpty());
    }
    if (rc < 0) return false;
    have = rc > 0;
  }
  if (!have) {
    SetLastError(kErrorNoneMapped);
    return false;
  }
  *result = std::move(found);
  return true;
}

uint32_t SystemDomainName(std::string* domain) {
  char buf[256];
  if (getdomainname(buf, sizeof buf) != 0) return ErrorFromErrno(errno);
  buf[sizeof buf - 1] = '\0';  // a truncated name need not be terminated
  std::string_view text(buf);
  // An unset NIS domain reads as "(none)" on Linux.
  *domain = (text == "(none)") ? std::string() : std::string(text);
  return kErrorSuccess;
}

}  // namespace platform
