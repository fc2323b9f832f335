// Accounts through the system's account and identifier functions.

#include <string>
#include <vector>

#include "platform/account.h"
#include "platform/account_system.h"
#include "platform/error.h"
#include "platform/fault_points.h"
#include "platform/windows-win32.h"

namespace platform {

namespace {

// A DNS host name has at most 255 characters.
constexpr DWORD kHostNameBufferSize = 256;

// Frees what the system allocated with LocalAlloc.
struct LocalMemory {
  void* p = nullptr;
  ~LocalMemory() {
    if (p != nullptr) LocalFree(p);
  }
};

// Looks name (or the identifier sid) up, growing the buffers until they fit.
bool LookupName(const char* system, const char* name, std::vector<BYTE>* sid, std::string* domain,
                SID_NAME_USE* use) {
  DWORD sid_size = 0;
  DWORD domain_size = 0;
  LookupAccountNameA(system, name, nullptr, &sid_size, nullptr, &domain_size, use);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
  sid->resize(sid_size);
  std::vector<char> domain_buf(domain_size + 1);
  if (!LookupAccountNameA(system, name, sid->data(), &sid_size, domain_buf.data(), &domain_size,
                          use)) {
    return false;
  }
  domain->assign(domain_buf.data());
  return true;
}

bool SidText(PSID sid, std::string* text) {
  LocalMemory string_sid;
  if (!ConvertSidToStringSidA(sid, reinterpret_cast<char**>(&string_sid.p))) return false;
  text->assign(static_cast<const char*>(string_sid.p));
  return true;
}

}  // namespace

bool GetUserName(std::string* name) {
  if (name == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (FaultDue(FaultClass::kAccountLookup)) return false;
  char buf[UNLEN + 1];
  DWORD size = sizeof buf;
  if (!GetUserNameA(buf, &size)) return false;
  *name = buf;
  return true;
}

bool GetHostName(std::string* name) {
  if (name == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  // The host name as the socket layer's gethostname gives it (the DNS host name, in its own
  // letter case, up to 255 characters), not the upper-case NetBIOS name of GetComputerName.
  char buf[kHostNameBufferSize];
  DWORD size = sizeof buf;
  if (!GetComputerNameExA(ComputerNameDnsHostname, buf, &size)) return false;
  *name = buf;
  return true;
}

bool FindAccountByName(const char* system, const char* name, FoundAccount* found) {
  if (FaultDue(FaultClass::kAccountLookup)) return false;
  if (system != nullptr && *system == '\0') system = nullptr;
  std::vector<BYTE> sid_bytes;
  SID_NAME_USE found_use = SidTypeUnknown;
  if (!LookupName(system, name, &sid_bytes, &found->domain, &found_use)) return false;
  if (!SidText(sid_bytes.data(), &found->sid)) return false;
  found->use = static_cast<AccountUse>(found_use);
  return true;
}

bool LookupGroupName(const char* name, std::string* sid) {
  AccountUse use = AccountUse::kNone;
  std::string found;
  if (!LookupAccountName(nullptr, name, &found, nullptr, &use)) return false;
  if (use != AccountUse::kGroup && use != AccountUse::kAlias &&
      use != AccountUse::kWellKnownGroup) {
    SetLastError(kErrorNoneMapped);
    return false;
  }
  *sid = std::move(found);
  return true;
}

bool FindAccountBySid(const char* sid, FoundAccount* found) {
  if (FaultDue(FaultClass::kAccountLookup)) return false;
  LocalMemory binary;
  if (!ConvertStringSidToSidA(sid, &binary.p)) {
    SetLastError(kErrorInvalidSid);
    return false;
  }
  DWORD name_size = 0;
  DWORD domain_size = 0;
  SID_NAME_USE found_use = SidTypeUnknown;
  LookupAccountSidA(nullptr, binary.p, nullptr, &name_size, nullptr, &domain_size, &found_use);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
  std::vector<char> name_buf(name_size + 1);
  std::vector<char> domain_buf(domain_size + 1);
  if (!LookupAccountSidA(nullptr, binary.p, name_buf.data(), &name_size, domain_buf.data(),
                         &domain_size, &found_use)) {
    return false;
  }
  found->name = name_buf.data();
  found->domain = domain_buf.data();
  found->use = static_cast<AccountUse>(found_use);
  return true;
}

uint32_t SystemDomainName(std::string* domain) {
  LPBYTE buffer = nullptr;
  NET_API_STATUS status = NetUserModalsGet(nullptr, 2, &buffer);
  if (status != NERR_Success) return status;
  const auto* info = reinterpret_cast<const USER_MODALS_INFO_2*>(buffer);
  domain->clear();
  if (info->usrmod2_domain_name != nullptr) {
    int size =
        WideCharToMultiByte(CP_ACP, 0, info->usrmod2_domain_name, -1, nullptr, 0, nullptr, nullptr);
    if (size > 1) {
      std::vector<char> narrow(static_cast<size_t>(size));
      WideCharToMultiByte(CP_ACP, 0, info->usrmod2_domain_name, -1, narrow.data(), size, nullptr,
                          nullptr);
      domain->assign(narrow.data());
    }
  }
  NetApiBufferFree(buffer);
  return kErrorSuccess;
}

}  // namespace platform
