#include "common/ksaccount.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "common/ksreg.h"
#include "common/lwlog.h"
#include "common/lwpw.h"
#include "common/lwuser.h"
#include "common/test_hooks.h"
#include "platform/error.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/textcase.h"

namespace {

constexpr const char kDirsSource[] = "ks_dirs";
constexpr const char kGensecSource[] = "ks_gensec";
constexpr const char kMgrAccountValue[] = "KSMgrAccount";
constexpr const char kOpGroupValue[] = "KSOpGroup";

// ---- Names kept from the registry --------------------------------------------------------

struct CachedName {
  char text[kKSNameBufSize] = {};
  bool valid = false;
};

CachedName mgr_name;
CachedName grp_name;

// Reads value of the product key into cached once. The query refuses a text that does not fit
// the buffer with its terminator, so a kept name is never cut or unterminated.
const char* ReadCachedName(CachedName* cached, const char* value, const char* who) {
  if (cached->valid) return cached->text;
  platform::RegKey raw = nullptr;
  uint32_t rc = KSRegOpenKeyEx(KSRegRoot::kLocalMachine, platform::kProductKeyPath, 0,
                               platform::RegAccess::kRead, &raw);
  if (rc != platform::kErrorSuccess) {
    lwlog_trace(kLwlogError, kDirsSource, __LINE__, who, "%s:RegOpenKeyEx() error  (ec=%d)\n", who,
                static_cast<int>(rc));
    platform::SetLastError(rc);
    return nullptr;
  }
  platform::UniqueRegKey key(raw);
  char text[kKSNameBufSize];
  uint32_t size = sizeof text;
  uint32_t type = kKSRegNone;
  rc = KSRegQueryValueEx(key.get(), value, nullptr, &type, text, &size);
  if (rc == platform::kErrorSuccess && type != kKSRegString) rc = platform::kErrorInvalidData;
  if (rc != platform::kErrorSuccess) {
    lwlog_trace(kLwlogError, kDirsSource, __LINE__, who, "%s:RegQueryValueEx() error  (ec=%d)\n",
                who, static_cast<int>(rc));
    platform::SetLastError(rc);
    return nullptr;
  }
  std::memcpy(cached->text, text, sizeof text);
  cached->valid = true;
  return cached->text;
}

char mgr_account[kKSMgrAccountBufSize];

// ---- The manager's identifier ------------------------------------------------------------

char mgr_sid[kKSSidBufSize];
bool mgr_sid_valid = false;

// ---- Well-known accounts -----------------------------------------------------------------

struct WellKnown {
  const char* english;
  const char* sid;
};

constexpr WellKnown kWellKnown[] = {
    {"Administrators", "S-1-5-32-544"},
    {"Backup Operators", "S-1-5-32-551"},
    {"Guests", "S-1-5-32-546"},
    {"Network Configuration Operators", "S-1-5-32-556"},
    {"Performance Log Users", "S-1-5-32-559"},
    {"Performance Monitor Users", "S-1-5-32-558"},
    {"Print Operators", "S-1-5-32-550"},
    {"Remote Desktop Users", "S-1-5-32-555"},
    {"Replicator", "S-1-5-32-552"},
    {"Users", "S-1-5-32-545"},
    {"Everyone", "S-1-1-0"},
    {"SYSTEM", "S-1-5-18"},
};
constexpr size_t kWellKnownCount = sizeof kWellKnown / sizeof kWellKnown[0];

bool well_known_resolved = false;
std::string well_known_names[kWellKnownCount];

// Copies text with its terminator into dst of *size bytes. *size receives the bytes stored,
// or needed (with 122) when they do not fit.
bool StoreText(const std::string& text, char* dst, uint32_t* size) {
  const uint32_t needed = static_cast<uint32_t>(text.size() + 1);
  const uint32_t capacity = size != nullptr ? *size : 0;
  if (size != nullptr) *size = needed;
  if (dst == nullptr || capacity < needed) {
    platform::SetLastError(platform::kErrorInsufficientBuffer);
    return false;
  }
  std::memcpy(dst, text.c_str(), needed);
  return true;
}

// Works out the name to look up: a well-known name alone, a user with a record in its
// recorded domain, any other bare name in the machine's domain when it has one.
std::string QualifiedName(const char* name) {
  if (const char* slash = std::strchr(name, '\\')) {
    return KSIsWellKnownAccount(slash + 1) ? std::string(slash + 1) : std::string(name);
  }
  if (KSIsWellKnownAccount(name)) return name;

  PwRecord record;
  if (lw_GetPWbyname(name, &record) == 0) {
    return std::string(record.pw_domain) + "\\" + record.pw_name;
  }
  lwlog_trace(kLwlogDebug, kGensecSource, __LINE__, __func__,
              "deredo(PID=%d):lw_GetPWbyname error,lpAccountName=%s\n",
              platform::CurrentProcessId(), name);

  UserModalsInfo2 info;
  uint32_t status = lw_NetUserModalsGet(nullptr, 2, &info);
  if (status == platform::kErrorSuccess && !info.domain_name.empty()) {
    std::string domain = info.domain_name.substr(0, kKSDomainBufSize - 1);
    return domain + "\\" + name;
  }
  lwlog_trace(kLwlogDebug, kGensecSource, __LINE__, __func__,
              "deredo(PID=%d):lw_NetUserModalsGet error.errno=%d\n", platform::CurrentProcessId(),
              static_cast<int>(status));
  return name;
}

thread_local char operator_sid[kKSSidBufSize];

}  // namespace

const char* GetKSmgrname() { return ReadCachedName(&mgr_name, kMgrAccountValue, "GetKSmgrname"); }

const char* GetKSgrpname() { return ReadCachedName(&grp_name, kOpGroupValue, "GetKSgrpname"); }

const char* KSMgrAccountName() {
  // A plain open and read: the caller wants the current setting, and retries are its choice.
  platform::RegKey raw = nullptr;
  uint32_t rc = platform::RegOpenKeyEx(platform::kProductKeyPath, platform::RegAccess::kRead, &raw);
  if (rc != platform::kErrorSuccess) {
    platform::SetLastError(rc);
    return nullptr;
  }
  platform::UniqueRegKey key(raw);
  std::string text;
  rc = platform::RegQueryString(key.get(), kMgrAccountValue, &text);
  if (rc == platform::kErrorSuccess && text.size() >= sizeof mgr_account) {
    rc = platform::kErrorMoreData;  // refused rather than cut to another account's name
  }
  if (rc != platform::kErrorSuccess) {
    platform::SetLastError(rc);
    return nullptr;
  }
  std::memcpy(mgr_account, text.c_str(), text.size() + 1);
  return mgr_account;
}

const char* KSMgrSid() {
  if (mgr_sid_valid) return mgr_sid;
  char sid[kKSSidBufSize];
  uint32_t sid_size = sizeof sid;
  char domain[kKSDomainBufSize];
  uint32_t domain_size = sizeof domain;
  platform::AccountUse use = platform::AccountUse::kNone;
  if (!KSLookupAccountName(nullptr, KSMgrAccountName(), sid, &sid_size, domain, &domain_size,
                           &use)) {
    uint32_t ec = platform::GetLastError();
    lwlog_trace(kLwlogError, kGensecSource, __LINE__, __func__,
                "KSMgrSid:LookupAccountName() error (ec=%d)\n", static_cast<int>(ec));
    platform::SetLastError(ec);
    return nullptr;
  }
  if (use != platform::AccountUse::kUser) {
    lwlog_trace(kLwlogError, kGensecSource, __LINE__, __func__,
                "KSMgrSid:the manager account is not a user (use=%d)\n", static_cast<int>(use));
    platform::SetLastError(platform::kErrorNoSuchUser);
    return nullptr;
  }
  std::memcpy(mgr_sid, sid, sizeof sid);
  mgr_sid_valid = true;
  return mgr_sid;
}

int KSIsWellKnownAccount(const char* name) {
  if (name == nullptr) return 0;
  if (!well_known_resolved) {
    const uint32_t saved = platform::GetLastError();
    for (size_t i = 0; i < kWellKnownCount; ++i) {
      std::string local;
      if (!platform::LookupAccountSid(kWellKnown[i].sid, &local, nullptr, nullptr) ||
          local.empty()) {
        local = kWellKnown[i].english;
      }
      well_known_names[i] = local;
    }
    // Resolving the table is an implementation detail of a yes/no question.
    platform::SetLastError(saved);
    well_known_resolved = true;
  }
  for (const std::string& known : well_known_names) {
    if (platform::EqualIgnoringCase(name, known)) return 1;
  }
  return 0;
}

int KSLookupAccountName(const char* system, const char* name, char* sid, uint32_t* sid_size,
                        char* domain, uint32_t* domain_size, platform::AccountUse* use) {
  if (name == nullptr || *name == '\0') {
    platform::SetLastError(platform::kErrorInvalidServiceAccount);
    return 0;
  }
  const std::string qualified = QualifiedName(name);
  std::string found_sid;
  std::string found_domain;
  platform::AccountUse found_use = platform::AccountUse::kNone;
  if (!platform::LookupAccountName(system, qualified.c_str(), &found_sid, &found_domain,
                                   &found_use)) {
    return 0;
  }
  // Both sizes are reported even when the first does not fit, as the caller needs both.
  bool sid_stored = StoreText(found_sid, sid, sid_size);
  bool domain_stored = StoreText(found_domain, domain, domain_size);
  if (!sid_stored || !domain_stored) {
    platform::SetLastError(platform::kErrorInsufficientBuffer);
    return 0;
  }
  if (use != nullptr) *use = found_use;
  return 1;
}

bool KSLookupAccountSid(const char* name, std::string* sid, std::string* domain) {
  char sid_buf[kKSSidBufSize];
  uint32_t sid_size = sizeof sid_buf;
  char domain_buf[kKSDomainBufSize];
  uint32_t domain_size = sizeof domain_buf;
  platform::AccountUse use = platform::AccountUse::kNone;
  if (KSLookupAccountName(nullptr, name, sid_buf, &sid_size, domain_buf, &domain_size, &use) == 0) {
    return false;
  }
  *sid = sid_buf;
  *domain = domain_buf;
  return true;
}

const char* KSOperatorGroupSid(const char* domain) {
  const char* group = GetKSgrpname();
  if (group == nullptr) return nullptr;
  std::string name = group;
  if (domain != nullptr && *domain != '\0') name = std::string(domain) + "\\" + group;
  char sid[kKSSidBufSize];
  uint32_t sid_size = sizeof sid;
  char found_domain[kKSDomainBufSize];
  uint32_t domain_size = sizeof found_domain;
  platform::AccountUse use = platform::AccountUse::kNone;
  if (!KSLookupAccountName(nullptr, name.c_str(), sid, &sid_size, found_domain, &domain_size,
                           &use)) {
    return nullptr;
  }
  // Here a user, or a well-known account (Users), may share the group's name; the product's
  // account database never allows that, and the operator group is a group.
  std::string group_sid;
  if (use != platform::AccountUse::kGroup && platform::LookupGroupName(group, &group_sid) &&
      group_sid.size() < sizeof operator_sid) {
    std::memcpy(operator_sid, group_sid.c_str(), group_sid.size() + 1);
    return operator_sid;
  }
  std::memcpy(operator_sid, sid, sid_size);
  return operator_sid;
}

bool KSProductAccessList(bool with_operators, platform::AccessRights everyone,
                         platform::AccessList* list) {
  const char* manager = KSMgrSid();
  if (manager == nullptr) return false;
  const std::string manager_sid = manager;
  std::string caller_sid;
  std::string caller_domain;
  if (!KSLookupAccountSid(lw_GetUserName(), &caller_sid, &caller_domain)) return false;
  platform::AccessList built = {{manager_sid, platform::AccessRights::kFullControl}};
  if (with_operators) {
    const char* operators = KSOperatorGroupSid(caller_domain.c_str());
    if (operators == nullptr) return false;
    built.push_back({operators, platform::AccessRights::kFullControl});
  }
  built.push_back({platform::kAdministratorsSid, platform::AccessRights::kFullControl});
  if (caller_sid != manager_sid) {
    built.push_back({caller_sid, platform::AccessRights::kFullControl});
  }
  built.push_back({platform::kEveryoneSid, everyone});
  *list = std::move(built);
  return true;
}

void KSAccountResetForTest() {
  mgr_name = CachedName{};
  grp_name = CachedName{};
  mgr_sid_valid = false;
  mgr_sid[0] = '\0';
  well_known_resolved = false;
  for (std::string& known : well_known_names) known.clear();
}
