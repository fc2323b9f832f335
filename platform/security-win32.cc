// Access lists as the system's own, and the named semaphore as a named mutex.
//
// A list is set in one step: a file or directory that is created with a security gets its
// descriptor in the creation call itself, and an existing one has its whole list replaced.
// Entries are never inherited from the parent into a list that this layer sets, unless the
// list itself is inheritable (a directory's), so what the product grants is all there is.
//
// The semaphore is a mutex under "Global\", so that the processes of every session meet on it.
// The system frees a mutex whose holder ended without giving it back (the next waiter is told
// it was abandoned, and holds it), so a holder that dies never stops the others.
#include "platform/security-win32.h"

#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/security_system.h"

namespace platform {

namespace {

constexpr char kGlobalPrefix[] = "Global\\";
// Longer names keep their last characters, so that the names of every system agree.
constexpr size_t kSemaphoreNameMax = 240;

DWORD MaskOf(AccessRights rights) {
  if (rights == AccessRights::kFullControl) return FILE_ALL_ACCESS;
  if (rights == AccessRights::kReadExecute) return FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
  return FILE_GENERIC_READ;
}

bool SidBytes(const std::string& text, std::vector<BYTE>* out) {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidA(text.c_str(), &sid)) {
    SetLastError(kErrorInvalidSid);
    return false;
  }
  out->assign(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
  LocalFree(sid);
  return true;
}

bool CurrentUserSid(std::vector<BYTE>* out) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  bool ok = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
  CloseHandle(token);
  if (!ok) return false;
  PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  out->assign(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
  return true;
}

bool MapList(const AccessList& list, std::vector<std::vector<BYTE>>* sids,
             std::vector<DWORD>* masks) {
  for (const AccessEntry& entry : list) {
    std::vector<BYTE> sid;
    if (!SidBytes(entry.sid, &sid)) return false;
    sids->push_back(std::move(sid));
    masks->push_back(MaskOf(entry.rights));
  }
  return true;
}

// Builds the list of sids and masks into acl.
bool BuildAcl(const std::vector<std::vector<BYTE>>& sids, const std::vector<DWORD>& masks,
              BYTE ace_flags, std::vector<BYTE>* acl) {
  DWORD size = sizeof(ACL);
  for (const auto& sid : sids) {
    size += static_cast<DWORD>(sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + sid.size());
  }
  size = (size + 3) & ~DWORD{3};
  acl->assign(size, 0);
  auto* list = reinterpret_cast<ACL*>(acl->data());
  if (!InitializeAcl(list, size, ACL_REVISION)) return false;
  for (size_t i = 0; i < sids.size(); ++i) {
    if (!AddAccessAllowedAceEx(list, ACL_REVISION, ace_flags, masks[i],
                               const_cast<BYTE*>(sids[i].data()))) {
      return false;
    }
  }
  return true;
}

// A list that replaces the object's whole list and inherits nothing from its parent.
constexpr SECURITY_INFORMATION kProtectedDacl =
    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;

// The result of a security call that returns its error code: true, or false with the error set.
bool Succeeded(DWORD rc) {
  if (rc == ERROR_SUCCESS) return true;
  SetLastError(rc);
  return false;
}

}  // namespace

bool CreationSecurity::Finish(const std::vector<std::vector<BYTE>>& sids,
                              const std::vector<DWORD>& masks, BYTE ace_flags, bool protect) {
  if (!BuildAcl(sids, masks, ace_flags, &acl_)) return false;
  if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<ACL*>(acl_.data()), FALSE)) {
    return false;
  }
  if (protect) {
    SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  }
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = &descriptor_;
  attributes_.bInheritHandle = FALSE;
  return true;
}

bool CreationSecurity::Build(const FileSecurity& security, bool directory) {
  std::vector<std::vector<BYTE>> sids;
  std::vector<DWORD> masks;
  if (!MapList(security.list, &sids, &masks)) return false;
  const bool inherit = directory && security.inheritable;
  return Finish(sids, masks, inherit ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0, !inherit);
}

bool CreationSecurity::BuildOwnerOnly() {
  std::vector<std::vector<BYTE>> sids(1);
  if (!CurrentUserSid(&sids[0])) return false;
  return Finish(sids, {FILE_ALL_ACCESS}, 0, true);
}

bool SetFileAccessList(const char* path, const AccessList& list) {
  if (path == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  std::vector<std::vector<BYTE>> sids;
  std::vector<DWORD> masks;
  std::vector<BYTE> acl;
  if (!MapList(list, &sids, &masks)) return false;
  if (NoAccessListsForTest()) {
    SetLastError(kErrorNotSupported);
    return false;
  }
  if (!BuildAcl(sids, masks, 0, &acl)) return false;
  return Succeeded(SetNamedSecurityInfoA(const_cast<char*>(path), SE_FILE_OBJECT, kProtectedDacl,
                                         nullptr, nullptr, reinterpret_cast<ACL*>(acl.data()),
                                         nullptr));
}

bool CheckAccessList(const AccessList& list) {
  std::vector<std::vector<BYTE>> sids;
  std::vector<DWORD> masks;
  return MapList(list, &sids, &masks);
}

bool SecureCreatedFile(intptr_t handle, const FileSecurity& security) {
  std::vector<std::vector<BYTE>> sids;
  std::vector<DWORD> masks;
  std::vector<BYTE> acl;
  if (!MapList(security.list, &sids, &masks) || !BuildAcl(sids, masks, 0, &acl)) return false;
  return Succeeded(SetSecurityInfo(reinterpret_cast<HANDLE>(handle), SE_FILE_OBJECT, kProtectedDacl,
                                   nullptr, nullptr, reinterpret_cast<ACL*>(acl.data()), nullptr));
}

bool SystemHasAccessLists(const char* path) {
  char volume[MAX_PATH + 1];
  DWORD flags = 0;
  if (!GetVolumePathNameA(path, volume, sizeof volume) ||
      !GetVolumeInformationA(volume, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
    return false;
  }
  if ((flags & FILE_PERSISTENT_ACLS) == 0) {
    SetLastError(kErrorNotSupported);
    return false;
  }
  return true;
}

bool CreateSystemDirectory(const char* path, const FileSecurity* security) {
  CreationSecurity created;
  if (security != nullptr && !created.Build(*security, true)) return false;
  return CreateDirectoryA(path, security != nullptr ? created.Attributes() : nullptr) != 0;
}

std::string NamedSemaphore::LockFilePath(const std::string& name) {
  if (name.empty() || name.find_first_of("/\\") != std::string::npos ||
      name.find('\0') != std::string::npos) {
    return "";
  }
  std::string kept =
      name.size() > kSemaphoreNameMax ? name.substr(name.size() - kSemaphoreNameMax) : name;
  return kGlobalPrefix + kept;
}

void NamedSemaphore::Close() {
  if (handle_ == -1) return;
  HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
  if (held_) ReleaseMutex(mutex);
  CloseHandle(mutex);
  handle_ = -1;
  held_ = false;
  path_.clear();
}

// Every account of the machine may wait on the mutex and give it back.
intptr_t OpenSemaphoreObject(const std::string& path) {
  SECURITY_ATTRIBUTES attributes{};
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;GA;;;WD)", SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return -1;
  }
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor;
  HANDLE mutex = CreateMutexA(&attributes, FALSE, path.c_str());
  const DWORD error = ::GetLastError();
  LocalFree(descriptor);
  if (mutex == nullptr) {
    SetLastError(error);
    return -1;
  }
  return reinterpret_cast<intptr_t>(mutex);
}

bool NamedSemaphore::Wait() {
  if (handle_ == -1 || held_) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  DWORD rc = WaitForSingleObject(reinterpret_cast<HANDLE>(handle_), INFINITE);
  if (rc != WAIT_OBJECT_0 && rc != WAIT_ABANDONED) return false;
  held_ = true;
  return true;
}

bool NamedSemaphore::Release() {
  if (handle_ == -1 || !held_) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (!ReleaseMutex(reinterpret_cast<HANDLE>(handle_))) return false;
  held_ = false;
  return true;
}

}  // namespace platform
