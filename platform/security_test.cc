#include "platform/security.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/testing-posix.h"
#include "platform/testing.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr char kEveryone[] = "S-1-1-0";
constexpr char kAdministrators[] = "S-1-5-32-544";
constexpr char kSystem[] = "S-1-5-18";

std::string UserSid(unsigned uid) { return "S-1-22-1-" + std::to_string(uid); }
std::string GroupSid(unsigned gid) { return "S-1-22-2-" + std::to_string(gid); }

class SecurityTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(temp_.path().empty()); }
  void TearDown() override { SetNoAccessListsForTest(false); }

  std::string Path(const std::string& name) const { return temp_.Path(name); }
  // Skips the test where the temporary directory's file system keeps no access lists.
  bool NoAccessLists() const { return !FileSystemHasAccessLists(temp_.path().c_str()); }

  test::TempDir temp_{"security_test"};
  const unsigned uid_ = test::CurrentUid();
  const std::string owner_sid_ = UserSid(uid_);
  // The product's list for a created file: the creator, Administrators, Everyone reading.
  const AccessList product_ = {{owner_sid_, AccessRights::kFullControl},
                               {kAdministrators, AccessRights::kFullControl},
                               {kEveryone, AccessRights::kRead}};
  const std::string product_text_ =
      "user::rwx,user:" + std::to_string(uid_) + ":rwx,group::r--,group:0:rwx,mask::rwx,other::r--";
};

#define SKIP_WITHOUT_ACCESS_LISTS()                                                \
  if (NoAccessLists()) {                                                           \
    GTEST_SKIP() << "the temporary directory's file system keeps no access lists"; \
  }

// Each list replaces the previous one on the same file, so no entry of an earlier list may
// survive.
TEST_F(SecurityTest, ListsMapToEntriesAndReplaceThePreviousList) {
  SKIP_WITHOUT_ACCESS_LISTS();
  const std::string file = Path("file");
  test::WriteFile(file, "x");
  const std::string system_owner = uid_ == 0 ? "r-x" : "---";
  struct Case {
    const char* name;
    AccessList list;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"product file list", product_, product_text_},
      {"owner not named: the owner entry gets Everyone's rights",
       {{UserSid(12345), AccessRights::kFullControl}, {kEveryone, AccessRights::kRead}},
       "user::r--,user:12345:rwx,group::r--,mask::rwx,other::r--"},
      {"SYSTEM is uid 0, groups by number, nothing for Everyone",
       {{kSystem, AccessRights::kReadExecute}, {GroupSid(777), AccessRights::kRead}},
       "user::" + system_owner + ",user:0:r-x,group::---,group:777:r--,mask::r-x,other::---"},
      {"entries of one identifier add up",
       {{UserSid(12345), AccessRights::kRead}, {UserSid(12345), AccessRights::kReadExecute}},
       "user::---,user:12345:r-x,group::---,mask::r-x,other::---"},
      {"named entries also get Everyone's rights",
       {{GroupSid(777), AccessRights::kRead}, {kEveryone, AccessRights::kReadExecute}},
       "user::r-x,group::r-x,group:777:r-x,mask::r-x,other::r-x"},
      {"Everyone alone needs no mask",
       {{kEveryone, AccessRights::kReadExecute}},
       "user::r-x,group::r-x,other::r-x"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(SetFileAccessList(file.c_str(), c.list)) << c.name << " " << GetLastError();
    EXPECT_EQ(test::AccessListText(file), c.text) << c.name;
  }
}

TEST_F(SecurityTest, RefusesIdentifiersWithoutCounterpart) {
  const std::string file = Path("file");
  test::WriteFile(file, "x");
  const std::string before = test::AccessListText(file);
  for (const char* sid : {"S-1-5-32-545", "S-1-22-1-", "S-1-22-1-12x", "S-1-22-1-+5",
                          "S-1-22-1-4294967295", "S-1-22-1-99999999999", "S-1-22-3-1", ""}) {
    AccessList list = {{kEveryone, AccessRights::kRead}, {sid, AccessRights::kFullControl}};
    EXPECT_FALSE(CheckAccessList(list)) << sid;
    EXPECT_EQ(GetLastError(), kErrorInvalidSid) << sid;
    EXPECT_FALSE(SetFileAccessList(file.c_str(), list)) << sid;
    EXPECT_EQ(GetLastError(), kErrorInvalidSid) << sid;
  }
  EXPECT_EQ(test::AccessListText(file), before);
  EXPECT_TRUE(CheckAccessList(product_));
  EXPECT_FALSE(SetFileAccessList(Path("missing").c_str(), product_));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST_F(SecurityTest, FileSystemQuery) {
  SKIP_WITHOUT_ACCESS_LISTS();
  EXPECT_FALSE(FileSystemHasAccessLists(Path("missing").c_str()));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  if (fs::exists("/proc/self/status")) {
    EXPECT_FALSE(FileSystemHasAccessLists("/proc/self/status"));
    EXPECT_EQ(GetLastError(), kErrorNotSupported);
  }
  SetNoAccessListsForTest(true);
  EXPECT_FALSE(FileSystemHasAccessLists(temp_.path().c_str()));
  EXPECT_EQ(GetLastError(), kErrorNotSupported);
  test::WriteFile(Path("file"), "x");
  EXPECT_FALSE(SetFileAccessList(Path("file").c_str(), product_));
  EXPECT_EQ(GetLastError(), kErrorNotSupported);
}

TEST_F(SecurityTest, CreateDirectory) {
  SKIP_WITHOUT_ACCESS_LISTS();
  test::ScopedNoCreationMask no_mask;
  EXPECT_TRUE(CreateDirectory(Path("plain").c_str(), nullptr));
  EXPECT_EQ(test::PermissionBits(Path("plain")), 0777);
  EXPECT_FALSE(CreateDirectory(Path("plain").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  EXPECT_FALSE(CreateDirectory(Path("none/below").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);

  // An inheritable list becomes the default list too, which gives the owner of each new
  // object full control of it.
  FileSecurity locked{{{UserSid(12345), AccessRights::kFullControl}}, true};
  ASSERT_TRUE(CreateDirectory(Path("locked").c_str(), &locked)) << GetLastError();
  EXPECT_EQ(test::AccessListText(Path("locked")),
            "user::---,user:12345:rwx,group::---,mask::rwx,other::---");
  EXPECT_EQ(test::AccessListText(Path("locked"), true),
            "user::rwx,user:12345:rwx,group::---,mask::rwx,other::---");
  FileSecurity inherited{{{owner_sid_, AccessRights::kFullControl},
                          {kAdministrators, AccessRights::kFullControl},
                          {kEveryone, AccessRights::kReadExecute}},
                         true};
  const std::string log = Path("log");
  ASSERT_TRUE(CreateDirectory(log.c_str(), &inherited)) << GetLastError();
  const std::string inherited_text =
      "user::rwx,user:" + std::to_string(uid_) + ":rwx,group::r-x,group:0:rwx,mask::rwx,other::r-x";
  EXPECT_EQ(test::AccessListText(log), inherited_text);
  EXPECT_EQ(test::AccessListText(log, true), inherited_text);
  ASSERT_TRUE(CreateDirectory((log + "/record").c_str(), nullptr));
  EXPECT_EQ(test::AccessListText(log + "/record"), inherited_text);
  EXPECT_EQ(test::AccessListText(log + "/record", true), inherited_text);

  // A protected directory keeps nothing of what its parent passes on.
  FileSecurity own{product_, false};
  ASSERT_TRUE(CreateDirectory((log + "/own").c_str(), &own));
  EXPECT_EQ(test::AccessListText(log + "/own"), product_text_);
  EXPECT_EQ(test::AccessListText(log + "/own", true), "");

  FileSecurity unknown{{{"S-1-5-32-545", AccessRights::kRead}}, true};
  EXPECT_FALSE(CreateDirectory(Path("unknown").c_str(), &unknown));
  EXPECT_EQ(GetLastError(), kErrorInvalidSid);
  EXPECT_FALSE(fs::exists(Path("unknown")));

  // Without access lists the directory gets the bits the list maps to.
  SetNoAccessListsForTest(true);
  ASSERT_TRUE(CreateDirectory(Path("bits").c_str(), &inherited));
  EXPECT_EQ(test::PermissionBits(Path("bits")), 0755);
  ASSERT_TRUE(CreateDirectory(Path("product").c_str(), &own));
  EXPECT_EQ(test::PermissionBits(Path("product")), 0744);
}

TEST_F(SecurityTest, OpenFileHandleCreatesWithTheSecurity) {
  SKIP_WITHOUT_ACCESS_LISTS();
  // What the parent passes on must not reach a file created with its own security.
  FileSecurity open_dir{
      {{UserSid(12345), AccessRights::kFullControl}, {kEveryone, AccessRights::kFullControl}},
      true};
  const std::string dir = Path("dir");
  ASSERT_TRUE(CreateDirectory(dir.c_str(), &open_dir));
  FileSecurity security{product_, false};
  for (uint32_t disposition : {kCreateNew, kCreateAlways, kOpenAlways}) {
    const std::string file = dir + "/new" + std::to_string(disposition);
    UniqueFileHandle handle(OpenFileHandle(file.c_str(), kGenericRead | kGenericWrite, kShareNone,
                                           &security, disposition, kFileAttributeNormal));
    ASSERT_TRUE(handle.Valid()) << disposition << " " << GetLastError();
    EXPECT_EQ(GetLastError(), kErrorSuccess);
    EXPECT_EQ(test::AccessListText(file), product_text_) << disposition;
  }

  // An existing file keeps its own access.
  const std::string existing = Path("existing");
  test::WriteFile(existing, "x");
  fs::permissions(existing, fs::perms(0640));
  for (uint32_t disposition : {kCreateAlways, kOpenAlways, kOpenExisting}) {
    UniqueFileHandle handle(OpenFileHandle(existing.c_str(), kGenericWrite, kShareRead, &security,
                                           disposition, kFileAttributeNormal));
    ASSERT_TRUE(handle.Valid()) << disposition;
    EXPECT_EQ(test::PermissionBits(existing), 0640) << disposition;
  }

  FileSecurity unknown{{{"S-1-5-32-545", AccessRights::kRead}}, false};
  EXPECT_EQ(OpenFileHandle(Path("refused").c_str(), kGenericWrite, kShareNone, &unknown,
                           kCreateAlways, kFileAttributeNormal),
            kInvalidFileHandle);
  EXPECT_EQ(GetLastError(), kErrorInvalidSid);
  EXPECT_FALSE(fs::exists(Path("refused")));

  SetNoAccessListsForTest(true);
  UniqueFileHandle bits(OpenFileHandle(Path("bits").c_str(), kGenericWrite, kShareNone, &security,
                                       kCreateAlways, kFileAttributeNormal));
  ASSERT_TRUE(bits.Valid());
  EXPECT_EQ(test::PermissionBits(Path("bits")), 0744);
}

class SemaphoreTest : public ::testing::Test {
 protected:
  ~SemaphoreTest() override {
    for (const std::string& name : names_) test::RemoveNamedSemaphore(name);
  }
  // A name of this process's own, with tail appended.
  std::string Name(const std::string& tail) {
    names_.push_back("flowtally_test." + std::to_string(getpid()) + "." + tail);
    return names_.back();
  }

  std::vector<std::string> names_;
};

// Whether Wait on semaphore returns within a short time. A Wait that does not return is left
// blocked until the semaphore is released.
std::future<bool> WaitElsewhere(NamedSemaphore* semaphore) {
  return std::async(std::launch::async, [semaphore] { return semaphore->Wait(); });
}

bool Returns(std::future<bool>& wait) {
  return wait.wait_for(std::chrono::milliseconds(200)) == std::future_status::ready;
}

TEST_F(SemaphoreTest, ExcludesOtherOpensOfTheName) {
  NamedSemaphore first;
  NamedSemaphore second;
  const std::string name = Name("exclusion");
  ASSERT_TRUE(first.OpenOrCreate(name));
  ASSERT_TRUE(second.OpenOrCreate(name));
  ASSERT_TRUE(first.Wait());
  std::future<bool> wait = WaitElsewhere(&second);
  EXPECT_FALSE(Returns(wait));
  ASSERT_TRUE(first.Release());
  EXPECT_TRUE(wait.get());
  EXPECT_TRUE(second.Release());

  // Names longer than the system keeps share a semaphore when their ends agree.
  const std::string tail(300, 'q');
  NamedSemaphore long_a;
  NamedSemaphore long_b;
  ASSERT_TRUE(long_a.OpenOrCreate(Name("a" + tail)));
  ASSERT_TRUE(long_b.OpenOrCreate(Name("b" + tail)));
  ASSERT_TRUE(long_a.Wait());
  std::future<bool> shared = WaitElsewhere(&long_b);
  EXPECT_FALSE(Returns(shared));
  ASSERT_TRUE(long_a.Release());
  EXPECT_TRUE(shared.get());
  EXPECT_TRUE(long_b.Release());
}

TEST_F(SemaphoreTest, CountIsGivenBackAndMisuseRefused) {
  const std::string name = Name("misuse");
  {
    NamedSemaphore held;
    ASSERT_TRUE(held.OpenOrCreate(name));
    ASSERT_TRUE(held.Wait());
    EXPECT_FALSE(held.Wait());  // would wait for itself for good
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  }  // gone without Release
  NamedSemaphore again;
  ASSERT_TRUE(again.OpenOrCreate(name));
  std::future<bool> wait = WaitElsewhere(&again);
  ASSERT_TRUE(Returns(wait));
  EXPECT_TRUE(wait.get());
  EXPECT_TRUE(again.Release());
  EXPECT_FALSE(again.Release());  // a count of at most 1
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);

  NamedSemaphore closed;
  EXPECT_FALSE(closed.Wait());
  for (const char* bad : {"", "a/b"}) {
    EXPECT_FALSE(closed.OpenOrCreate(bad)) << bad;
    EXPECT_EQ(GetLastError(), kErrorInvalidName) << bad;
  }
}

}  // namespace
}  // namespace platform
