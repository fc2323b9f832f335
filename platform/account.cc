// The parts of the account services that are the same on every system.
#include "platform/account.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/account_system.h"
#include "platform/error.h"
#include "platform/test_hooks.h"
#include "platform/textcase.h"

namespace platform {

namespace {

constexpr std::string_view kUserPrefix = kUserSidPrefix;
constexpr std::string_view kGroupPrefix = kGroupSidPrefix;

std::function<uint32_t(const char*, uint32_t, std::string*)> machine_domain_override;

}  // namespace

// nullptr, "" and the host name itself all name this machine.
bool IsLocalMachine(const char* system) {
  if (system == nullptr || *system == '\0') return true;
  std::string host;
  return GetHostName(&host) && EqualIgnoringCase(system, host);
}

bool LocalAccountId(std::string_view sid, AccountUse* use, uint32_t* id) {
  for (const auto& [prefix, kind] :
       {std::pair{kUserPrefix, AccountUse::kUser}, std::pair{kGroupPrefix, AccountUse::kGroup}}) {
    if (sid.size() <= prefix.size() || !EqualIgnoringCase(sid.substr(0, prefix.size()), prefix)) {
      continue;
    }
    std::string_view digits = sid.substr(prefix.size());
    if (digits.size() > 10) return false;
    uint64_t value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value >= UINT32_MAX) return false;
    *use = kind;
    *id = static_cast<uint32_t>(value);
    return true;
  }
  return false;
}

bool LookupAccountName(const char* system, const char* name, std::string* sid, std::string* domain,
                       AccountUse* use) {
  if (name == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  FoundAccount found;
  if (!FindAccountByName(system, name, &found)) return false;
  if (sid != nullptr) *sid = std::move(found.sid);
  if (domain != nullptr) *domain = std::move(found.domain);
  if (use != nullptr) *use = found.use;
  return true;
}

bool LookupAccountSid(const char* sid, std::string* name, std::string* domain, AccountUse* use) {
  if (sid == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  FoundAccount found;
  if (!FindAccountBySid(sid, &found)) return false;
  if (name != nullptr) *name = std::move(found.name);
  if (domain != nullptr) *domain = std::move(found.domain);
  if (use != nullptr) *use = found.use;
  return true;
}

uint32_t MachineDomain(const char* server, uint32_t level, std::string* domain) {
  if (machine_domain_override) return machine_domain_override(server, level, domain);
  if (domain == nullptr) return kErrorInvalidParameter;
  if (level != 2) return kErrorInvalidLevel;
  if (!IsLocalMachine(server)) return kNetBadNetPath;
  return SystemDomainName(domain);
}

void SetMachineDomainForTest(
    std::function<uint32_t(const char* server, uint32_t level, std::string* domain)> query) {
  machine_domain_override = std::move(query);
}

}  // namespace platform
