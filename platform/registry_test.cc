#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/error.h"
#include "platform/test_hooks.h"
#include "platform/testing.h"
#ifdef _WIN32
#include "platform/testing-win32.h"
#endif

namespace platform {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() { RegistryCallsForTest() = {}; }

  // Writes the text as the registry file and points KS_REGISTRY at it.
  void UseRegistry(const std::string& text, const std::string& file = "registry.reg") {
    test::WriteFile(dir_.Path(file), text);
    registry_.Set(dir_.Path(file).c_str());
  }

  uint32_t Open(const char* path, UniqueRegKey* key) {
    RegKey raw = nullptr;
    uint32_t rc = RegOpenKeyEx(path, RegAccess::kAllAccess, &raw);
    key->reset(raw);
    return rc;
  }

  test::TempDir dir_{"registry_test"};
  test::ScopedRegistryFile registry_{nullptr};
};

constexpr const char kSample[] =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Orv\\Kestrune/SV]\n"
    "\"KSBaseDirectory\"=\"/opt/kestrune\"\n"
    "\"KSLanguageId\"=\"0\"\n"
    "\"Error32RetryCount\"=dword:0000000a\n"
    "\"Quoted\"=\"a \\\"b\\\" c\\\\d\"\n"
    "\"Other\\\\Name\"=\"x\\ny\"\n"
    "\"Binary\"=hex:01,02\n"
    "; \"Commented\"=\"no\"\n"
    "this line means nothing\n"
    "\"Broken\"=\"unterminated\n"
    "\"BadDword\"=dword:xyz\n"
    "\"TooLong\"=dword:123456789\n"
    "@=\"default\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Orv\\Kestrune/SV\\LW_PW\\name]\n"
    "\"homedir_alice\"=\"/home/alice\"\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Orv\\Kestrune/SV]\n"
    "\"UserOnly\"=\"no\"\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Orv\\Kestrune/SV\n"
    "\"AfterBadKey\"=\"no\"\n";

TEST_F(RegistryTest, ReadsStringsAndDwords) {
  UseRegistry(kSample);
  UniqueRegKey key;
  ASSERT_EQ(Open(kProductKeyPath, &key), 0u);

  struct StringCase {
    const char* name;
    uint32_t rc;
    const char* text;
  } strings[] = {
      {"KSBaseDirectory", 0, "/opt/kestrune"},
      {"ksbasedirectory", 0, "/opt/kestrune"},
      {"KSLanguageId", 0, "0"},
      {"Quoted", 0, "a \"b\" c\\d"},
      {"Other\\Name", 0, "x\\ny"},  // only \\ and \" are escapes
      {"", 0, "default"},
      {"Error32RetryCount", 13, ""},
      {"Binary", 13, ""},
      {"Commented", 2, ""},
      {"Broken", 2, ""},
      {"UserOnly", 2, ""},
      {"AfterBadKey", 2, ""},
      {"homedir_alice", 2, ""},
  };
  for (const auto& c : strings) {
    std::string text;
    EXPECT_EQ(RegQueryString(key.get(), c.name, &text), c.rc) << c.name;
    if (c.rc == 0) {
      EXPECT_EQ(text, c.text) << c.name;
    }
  }

  struct DwordCase {
    const char* name;
    uint32_t rc;
    uint32_t value;
  } dwords[] = {
      {"Error32RetryCount", 0, 10},
      {"ERROR32RETRYCOUNT", 0, 10},
      {"KSLanguageId", 13, 0},
      {"BadDword", 2, 0},
      {"TooLong", 2, 0},
      {"Missing", 2, 0},
  };
  for (const auto& c : dwords) {
    uint32_t value = 0;
    EXPECT_EQ(RegQueryDword(key.get(), c.name, &value), c.rc) << c.name;
    if (c.rc == 0) {
      EXPECT_EQ(value, c.value) << c.name;
    }
  }
}

TEST_F(RegistryTest, OpensOnlyKeysTheFileHolds) {
  UseRegistry(kSample);
  struct {
    const char* path;
    uint32_t rc;
  } cases[] = {
      {"Software\\Orv\\Kestrune/SV", 0},
      {"SOFTWARE\\orv\\KESTRUNE/sv", 0},
      {"Software\\Orv\\Kestrune/SV\\LW_PW\\name", 0},
      {"Software\\Orv\\Kestrune/SV\\LW_PW", 0},  // a parent of a listed key exists
      {"Software\\Orv", 0},
      {"Software\\Orv\\Kestrune\\SV", 2},  // "Kestrune/SV" is one key name
      {"Software/Orv/Kestrune/SV", 2},
      {"Software\\Orv\\Kestrune", 2},
      {"Software\\Orv\\Kestrune/SV\\Other", 2},
      {"Software\\Orv\\Kestrune/SVX", 2},
  };
  for (const auto& c : cases) {
    UniqueRegKey key;
    EXPECT_EQ(Open(c.path, &key), c.rc) << c.path;
    EXPECT_EQ(key != nullptr, c.rc == 0) << c.path;
  }
}

TEST_F(RegistryTest, FileErrors) {
  UniqueRegKey key;
  registry_.Set(dir_.Path("absent.reg").c_str());
  EXPECT_EQ(Open(kProductKeyPath, &key), 2u);
  registry_.Set(dir_.Path("absent/registry.reg").c_str());
  EXPECT_EQ(Open(kProductKeyPath, &key), 2u);
  // Exists but cannot be read; a directory fails for every user, root included.
  registry_.Set(dir_.path().string().c_str());
  EXPECT_EQ(Open(kProductKeyPath, &key), 5u);
  EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryTest, AcceptsCrlfAndByteOrderMark) {
  UseRegistry(
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Orv\\Kestrune/SV]\r\n"
      "\"KSBaseDirectory\"=\"/opt/k\"\r\n"
      "\"Count\"=dword:FFFFFFFF\r\n");
  UniqueRegKey key;
  ASSERT_EQ(Open(kProductKeyPath, &key), 0u);
  std::string text;
  uint32_t value = 0;
  EXPECT_EQ(RegQueryString(key.get(), "KSBaseDirectory", &text), 0u);
  EXPECT_EQ(text, "/opt/k");
  EXPECT_EQ(RegQueryDword(key.get(), "Count", &value), 0u);
  EXPECT_EQ(value, 0xFFFFFFFFu);
}

TEST_F(RegistryTest, RereadsTheFileAtEachOpenAndCountsCalls) {
  const std::string head = "[HKEY_LOCAL_MACHINE\\Software\\Orv\\Kestrune/SV]\n\"V\"=\"";
  UseRegistry(head + "one\"\n", "a.reg");
  UniqueRegKey first;
  ASSERT_EQ(Open(kProductKeyPath, &first), 0u);

  UseRegistry(head + "two\"\n", "b.reg");
  UniqueRegKey second;
  ASSERT_EQ(Open(kProductKeyPath, &second), 0u);

  std::string text;
  EXPECT_EQ(RegQueryString(second.get(), "V", &text), 0u);
  EXPECT_EQ(text, "two");
  EXPECT_EQ(RegQueryString(first.get(), "V", &text), 0u);  // an open key keeps its values
  EXPECT_EQ(text, "one");

  UniqueRegKey third;
  EXPECT_EQ(Open("Software\\None", &third), 2u);
  EXPECT_EQ(RegistryCallsForTest().opens, 3);
  EXPECT_EQ(RegistryCallsForTest().queries, 2);
}

#ifdef _WIN32
// Outside the tests that name a .reg file the store is the system's registry: here a key of the
// tests' own, read through the product's key functions.
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
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTestKey);
}
#endif

}  // namespace
}  // namespace platform
