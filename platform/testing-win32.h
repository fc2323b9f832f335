// Test helpers for the Windows implementation of the platform layer, and for tests of the layers
// above that have to look at what the system holds (access lists, the caller's group).
// Test code only.
#pragma once

#include <string>

#include "platform/windows-win32.h"

namespace platform::test {

/// The access list of path as the system's descriptor text shows it ("D:P(A;;FA;;;S-1-...)").
/// "error: <code>" when it cannot be read.
inline std::string AccessListText(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD rc = GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                   nullptr, nullptr, nullptr, &descriptor);
  if (rc != ERROR_SUCCESS) return "error: " + std::to_string(rc);
  char* text = nullptr;
  std::string result = "error: no text";
  if (ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    result = text;
    LocalFree(text);
  }
  LocalFree(descriptor);
  return result;
}

/// The name of the caller's primary group ("" when it has none that has a name).
inline std::string CurrentGroupName() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
  char buffer[512];
  DWORD size = 0;
  std::string name;
  if (GetTokenInformation(token, TokenPrimaryGroup, buffer, sizeof buffer, &size)) {
    char account[256];
    char domain[256];
    DWORD account_size = sizeof account;
    DWORD domain_size = sizeof domain;
    SID_NAME_USE use;
    if (LookupAccountSidA(nullptr, reinterpret_cast<TOKEN_PRIMARY_GROUP*>(buffer)->PrimaryGroup,
                          account, &account_size, domain, &domain_size, &use)) {
      name = account;
    }
  }
  CloseHandle(token);
  return name;
}

}  // namespace platform::test
