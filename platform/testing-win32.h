// Test helpers for the Windows implementation of the platform layer, and for tests of the layers
// above that have to look at what the system holds (access lists, the caller's group).
// Test code only.
#pragma once

#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/process.h"
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

/// The name of a local group that the caller belongs to and that a lookup by name finds as a
/// group ("" when there is none).
inline std::string CurrentGroupName() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
  DWORD size = 0;
  GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  std::string name;
  if (size > 0 && GetTokenInformation(token, TokenGroups, buffer.data(), size, &size)) {
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    for (DWORD i = 0; i < groups->GroupCount && name.empty(); ++i) {
      char account[256];
      char domain[256];
      DWORD account_size = sizeof account;
      DWORD domain_size = sizeof domain;
      SID_NAME_USE use;
      if (LookupAccountSidA(nullptr, groups->Groups[i].Sid, account, &account_size, domain,
                            &domain_size, &use) &&
          (use == SidTypeAlias || use == SidTypeGroup)) {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD sid_size = sizeof sid;
        domain_size = sizeof domain;
        if (LookupAccountNameA(nullptr, account, sid, &sid_size, domain, &domain_size, &use)) {
          name = account;
        }
      }
    }
  }
  CloseHandle(token);
  return name;
}

/// The test child (test_child.exe) beside the running test program.
inline std::string TestChildPath() {
  char self[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  std::string path(self, length);
  return path.substr(0, path.find_last_of("\\/") + 1) + "test_child.exe";
}

/// A child process for the process tests: the program to start and its arguments.
struct TestChildCommand {
  std::string program;
  ChildArgs args;
};

/// The test child (test_child.exe) doing what request asks: {"exit", N} writes "a" and exits
/// with N; {"sleep", MS} writes "a" and sleeps for MS milliseconds; {"args", ARG...} writes each
/// ARG on a line of its own, between < and >.
inline TestChildCommand TestChild(const ChildArgs& request) { return {TestChildPath(), request}; }

/// Another process that holds a file as a product service would: without sharing ("share"), or
/// shared with a lock on its first byte ("lock"), for a while. The tool is test_child.exe
/// beside the test program.
class HeldElsewhere {
 public:
  HeldElsewhere() = default;
  HeldElsewhere(const HeldElsewhere&) = delete;
  HeldElsewhere& operator=(const HeldElsewhere&) = delete;
  /// Waits for the holder when it is still running.
  ~HeldElsewhere() = default;

  /// Waits until the holder has let go and ended.
  void Finish() { child_.Finish(); }

  /// Starts the holder and returns once it holds path; false when it could not take it.
  bool Hold(const std::string& how, const std::string& path, unsigned milliseconds) {
    if (!child_.Start(TestChildPath(), {how, path, std::to_string(milliseconds)})) return false;
    char line[16] = {};
    return std::fgets(line, sizeof line, child_.Output()) != nullptr &&
           std::string(line).rfind("held", 0) == 0;
  }

 private:
  ChildProcess child_;
};

/// Keeps the file of the standard output for the life of the object: code that re-opens stdout
/// on another file, as the command's -o does, leaves it there, and the object puts it back.
class KeptStandardOutput {
 public:
  KeptStandardOutput() : copy_((std::fflush(stdout), _dup(1))) {}
  ~KeptStandardOutput() {
    std::fflush(stdout);
    _dup2(copy_, 1);
    _close(copy_);
    std::clearerr(stdout);
  }
  KeptStandardOutput(const KeptStandardOutput&) = delete;
  KeptStandardOutput& operator=(const KeptStandardOutput&) = delete;

 private:
  int copy_;
};

}  // namespace platform::test
