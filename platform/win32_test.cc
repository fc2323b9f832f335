// The Windows forms of the platform tests: what the system itself holds, seen from this
// process and from a second one.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/test_hooks.h"
#include "platform/testing-win32.h"
#include "platform/testing.h"

namespace platform {
namespace {

std::string ReadAll(FILE* in) {
  std::string text;
  if (in == nullptr) return text;
  for (int c; (c = std::getc(in)) != EOF;) text += static_cast<char>(c);
  return text;
}

// The system's registry, under a key of the tests' own, through the product's key functions.
TEST(RegistryWin32Test, ReadsTheSystemsValues) {
  constexpr char kTestKey[] = "Software\\Orv\\FlowtallyTest/SV";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  const char text[] = "C:\\Kestrune";
  const DWORD number = 10;
  const BYTE bytes[] = {1, 2};
  RegSetValueExA(key, "KSBaseDirectory", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                 sizeof text);
  RegSetValueExA(key, "Error32RetryCount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                 sizeof number);
  RegSetValueExA(key, "Binary", 0, REG_BINARY, bytes, sizeof bytes);
  ::RegCloseKey(key);

  SetRegistryFileForTest(false);
  RegKey opened = nullptr;
  EXPECT_EQ(RegOpenKeyEx("Software\\Orv\\Missing/SV", RegAccess::kRead, &opened),
            kErrorFileNotFound);
  ASSERT_EQ(RegOpenKeyEx(kTestKey, RegAccess::kRead, &opened), kErrorSuccess);
  UniqueRegKey owned(opened);
  std::string value;
  uint32_t dword = 0;
  EXPECT_EQ(RegQueryString(opened, "ksbasedirectory", &value), kErrorSuccess);
  EXPECT_EQ(value, text);
  EXPECT_EQ(RegQueryDword(opened, "Error32RetryCount", &dword), kErrorSuccess);
  EXPECT_EQ(dword, number);
  EXPECT_EQ(RegQueryString(opened, "Error32RetryCount", &value), kErrorInvalidData);
  EXPECT_EQ(RegQueryDword(opened, "Binary", &dword), kErrorInvalidData);
  EXPECT_EQ(RegQueryString(opened, "Missing", &value), kErrorFileNotFound);
  SetRegistryFileForTest(true);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTestKey);
}

// A file that a second process holds without sharing: every open and the removal fail with the
// system's sharing violation, an attribute-only look does not; once let go, it opens.
TEST(FileWin32Test, SharingViolationFromASecondProcess) {
  test::TempDir dir("win32_test");
  const std::string path = dir.Path("held");
  test::WriteFile(path, "held");
  {
    test::HeldElsewhere holder;
    ASSERT_TRUE(holder.Hold("share", path, 10000));
    EXPECT_EQ(OpenStream(path.c_str(), "r"), nullptr);
    EXPECT_EQ(GetLastError(), kErrorSharingViolation);
    EXPECT_EQ(OpenStream(path.c_str(), "w"), nullptr);
    EXPECT_EQ(GetLastError(), kErrorSharingViolation);
    EXPECT_EQ(OpenFileHandle(path.c_str(), kGenericRead, kShareRead | kShareWrite, nullptr,
                             kOpenExisting, kFileAttributeNormal),
              kInvalidFileHandle);
    EXPECT_EQ(GetLastError(), kErrorSharingViolation);
    EXPECT_FALSE(RemoveFile(path.c_str()));
    EXPECT_EQ(GetLastError(), kErrorSharingViolation);
    FileStatus status;
    EXPECT_TRUE(GetFileStatus(path.c_str(), &status));
    EXPECT_EQ(status.size, 4u);
    // A handle of this process excludes its own later opens as well.
    holder.Finish();
    UniqueFileHandle own(OpenFileHandle(path.c_str(), kGenericRead, kShareNone, nullptr,
                                        kOpenExisting, kFileAttributeNormal));
    ASSERT_TRUE(own.Valid());
    EXPECT_EQ(OpenStream(path.c_str(), "r"), nullptr);
    EXPECT_EQ(GetLastError(), kErrorSharingViolation);
  }
  UniqueStream stream(OpenStream(path.c_str(), "r"));
  EXPECT_NE(stream, nullptr);
}

// A byte that a second process has locked: the lock here is tried kByteLockAttempts times,
// pausing between tries, and then fails with 33; the file itself stays open to shared use.
TEST(FileWin32Test, ByteLockHeldByASecondProcess) {
  test::TempDir dir("win32_test");
  const std::string path = dir.Path("locked");
  test::WriteFile(path, "x");
  std::vector<uint32_t> pauses;
  SetSleepForTest([&](uint32_t ms) { pauses.push_back(ms); });
  {
    test::HeldElsewhere holder;
    ASSERT_TRUE(holder.Hold("lock", path, 10000));
    UniqueStream stream(OpenStream(path.c_str(), "r+"));
    ASSERT_NE(stream, nullptr);
    EXPECT_FALSE(LockStreamByte(stream.get()));
    EXPECT_EQ(GetLastError(), kErrorLockViolation);
    EXPECT_EQ(pauses, std::vector<uint32_t>(kByteLockAttempts - 1, kByteLockPauseMs));
    std::fseek(stream.get(), 1, SEEK_SET);
    EXPECT_TRUE(LockStreamByte(stream.get()));  // another byte is free
    EXPECT_TRUE(UnlockStreamByte(stream.get()));
  }
  SetSleepForTest(nullptr);
}

// Each argument arrives whole, whatever blanks, quotes, backslashes or metacharacters it holds.
TEST(ProcessWin32Test, ArgumentsArriveWhole) {
  const std::vector<std::string> args = {"plain",    "two words",  "",
                                         "a\"quote", "trailing\\", "back\\\\\"slash",
                                         "%PATH%",   "&|<>^",      "tab\there"};
  ChildArgs child_args = {"args"};
  child_args.insert(child_args.end(), args.begin(), args.end());
  ChildProcess child;
  ASSERT_TRUE(child.Start(test::TestChildPath(), child_args));
  std::string expected;
  for (const std::string& arg : args) expected += "<" + arg + ">\n";
  EXPECT_EQ(ReadAll(child.Output()), expected);
  EXPECT_TRUE(child.Finish().Succeeded());
}

// Every way a child can end here is told apart, through the pipe and into a file alike; a child
// that outlives its time limit is ended, so that its reader sees the end of its output.
TEST(ProcessWin32Test, TellsHowTheChildEnded) {
  test::TempDir dir("win32_test");
  struct Case {
    ChildArgs args;
    unsigned limit;
    ChildEnd::Kind kind;
    int code;
  };
  const Case cases[] = {
      {{"exit", "0"}, 0, ChildEnd::kExited, 0},
      {{"exit", "5"}, 0, ChildEnd::kExited, 5},
      {{"sleep", "60000"}, 1, ChildEnd::kTimedOut, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    ChildProcess child;
    ASSERT_TRUE(child.Start(test::TestChildPath(), c.args, c.limit));
    EXPECT_EQ(ReadAll(child.Output()), "a\n");
    const ChildEnd piped = child.Finish();
    EXPECT_EQ(piped.kind, c.kind);
    EXPECT_EQ(piped.code, c.code);
    const ChildEnd redirected =
        RunRedirected(test::TestChildPath(), c.args, dir.Path("out"), c.limit);
    EXPECT_EQ(redirected.kind, c.kind);
    EXPECT_EQ(redirected.code, c.code);
    EXPECT_EQ(test::ReadFile(dir.Path("out")), "a\n");
  }
  ChildProcess missing;
  EXPECT_FALSE(missing.Start(dir.Path("missing.exe"), {}));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

// A list set on a file is the list that the system reads back.
TEST(SecurityWin32Test, AccessListReadBack) {
  test::TempDir dir("win32_test");
  const std::string path = dir.Path("file");
  test::WriteFile(path, "");
  ASSERT_TRUE(SetFileAccessList(path.c_str(), {{"S-1-5-32-544", AccessRights::kFullControl},
                                               {"S-1-1-0", AccessRights::kRead}}));
  const std::string text = test::AccessListText(path);
  if (text.find(";;;BA)") == std::string::npos) {
    GTEST_SKIP() << "Wine does not read back the access list that a file is given: " << text;
  }
  EXPECT_EQ(text, "D:P(A;;FA;;;BA)(A;;FR;;;WD)");
  EXPECT_FALSE(SetFileAccessList(path.c_str(), {{"not an identifier", AccessRights::kRead}}));
  EXPECT_EQ(GetLastError(), kErrorInvalidSid);
}

// The take-over lock is a named object under Global\, held once and given back once.
TEST(SecurityWin32Test, NamedSemaphoreIsHeldOnceAndGivenBack) {
  const std::string name = "flowtally-test-" + std::to_string(GetCurrentProcessId());
  NamedSemaphore first;
  ASSERT_TRUE(first.OpenOrCreate(name));
  EXPECT_EQ(NamedSemaphore::LockFilePath(name), "Global\\" + name);
  EXPECT_EQ(NamedSemaphore::LockFilePath("a\\b"), "");
  ASSERT_TRUE(first.Wait());
  EXPECT_FALSE(first.Wait());  // held already
  EXPECT_TRUE(first.Release());
  EXPECT_FALSE(first.Release());
}

}  // namespace
}  // namespace platform
