#include "platform/security.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/test_hooks.h"
#include "platform/testing.h"
#ifdef _WIN32
#include "platform/testing-win32.h"
#else
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/testing-posix.h"
#endif

namespace platform {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
constexpr char kEveryone[] = "S-1-1-0";
constexpr char kAdministrators[] = "S-1-5-32-544";
constexpr char kSystem[] = "S-1-5-18";

std::string UserSid(unsigned uid) { return "S-1-22-1-" + std::to_string(uid); }
std::string GroupSid(unsigned gid) { return "S-1-22-2-" + std::to_string(gid); }

class SecurityPosixTest : public ::testing::Test {
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
  // The same list on a regular file: full control without execute.
  const std::string product_file_text_ =
      "user::rw-,user:" + std::to_string(uid_) + ":rw-,group::r--,group:0:rw-,mask::rw-,other::r--";
};

#define SKIP_WITHOUT_ACCESS_LISTS()                                                \
  if (NoAccessLists()) {                                                           \
    GTEST_SKIP() << "the temporary directory's file system keeps no access lists"; \
  }

// Each list replaces the previous one on the same directory, so no entry of an earlier list
// may survive. On a regular file no list grants execute.
TEST_F(SecurityPosixTest, ListsMapToEntriesAndReplaceThePreviousList) {
  SKIP_WITHOUT_ACCESS_LISTS();
  const std::string dir = Path("dir");
  fs::create_directory(dir);
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
    ASSERT_TRUE(SetFileAccessList(dir.c_str(), c.list)) << c.name << " " << GetLastError();
    EXPECT_EQ(test::AccessListText(dir), c.text) << c.name;
  }
  const std::string regular = Path("file");
  test::WriteFile(regular, "x");
  ASSERT_TRUE(SetFileAccessList(regular.c_str(), product_));
  EXPECT_EQ(test::AccessListText(regular), product_file_text_);
  ASSERT_TRUE(SetFileAccessList(regular.c_str(), {{kEveryone, AccessRights::kReadExecute}}));
  EXPECT_EQ(test::AccessListText(regular), "user::r--,group::r--,other::r--");
}

TEST_F(SecurityPosixTest, RefusesIdentifiersWithoutCounterpart) {
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

TEST_F(SecurityPosixTest, FileSystemQuery) {
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

TEST_F(SecurityPosixTest, CreateDirectory) {
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

// Another process that finds a directory created with a security must find it secured: it
// would otherwise create what lies below without the inherited list. The directory appears
// under its path only once its lists are set, and never in place of an existing one.
TEST_F(SecurityPosixTest, SecuredDirectoryAppearsComplete) {
  SKIP_WITHOUT_ACCESS_LISTS();
  FileSecurity security{{{owner_sid_, AccessRights::kFullControl},
                         {kAdministrators, AccessRights::kFullControl},
                         {kEveryone, AccessRights::kReadExecute}},
                        true};
  const std::string expected =
      "user::rwx,user:" + std::to_string(uid_) + ":rwx,group::r-x,group:0:rwx,mask::rwx,other::r-x";
  for (int round = 0; round < 200; ++round) {
    std::string name = "d";
    name += std::to_string(round);
    const std::string dir = Path(name);
    std::atomic<bool> created{false};
    std::string seen_default;
    std::string seen_access;
    std::thread poller([&] {
      for (;;) {
        bool last = created;
        seen_default = test::AccessListText(dir, true);
        if (seen_default.rfind("error:", 0) != 0) {
          seen_access = test::AccessListText(dir);
          return;
        }
        if (last) return;
      }
    });
    bool ok = CreateDirectory(dir.c_str(), &security);
    created = true;
    poller.join();
    ASSERT_TRUE(ok) << GetLastError();
    ASSERT_EQ(seen_default, expected) << "round " << round;
    ASSERT_EQ(seen_access, expected) << "round " << round;
  }

  // An existing directory, even an empty one, is never replaced; nothing is left behind.
  FileSecurity own{product_, false};
  const std::string empty = Path("empty");
  ASSERT_TRUE(CreateDirectory(empty.c_str(), nullptr));
  const std::string before = test::AccessListText(empty);
  for (const std::string& existing : {empty, Path("d0"), temp_.path().string() + "/d1/"}) {
    EXPECT_FALSE(CreateDirectory(existing.c_str(), &own)) << existing;
    EXPECT_EQ(GetLastError(), kErrorAlreadyExists) << existing;
  }
  EXPECT_EQ(test::AccessListText(empty), before);
  EXPECT_EQ(test::AccessListText(Path("d0")), expected);
  EXPECT_FALSE(CreateDirectory(Path("none/below").c_str(), &own));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(temp_.path())) {
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    ++entries;
  }
  EXPECT_EQ(entries, 201u);
}

TEST_F(SecurityPosixTest, OpenFileHandleCreatesWithTheSecurity) {
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
    EXPECT_EQ(test::AccessListText(file), product_file_text_) << disposition;
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
  EXPECT_EQ(test::PermissionBits(Path("bits")), 0644);
}

#endif

class SemaphoreTest : public ::testing::Test {
 protected:
  // Every object that goes while no other holds the count removes its lock file, so none may
  // be left behind (a Windows semaphore is a named object of the system, with no file).
  ~SemaphoreTest() override {
    for (const std::string& name : names_) {
      const std::string file = NamedSemaphore::LockFilePath(name);
      std::error_code error;
      EXPECT_FALSE(fs::exists(fs::symlink_status(file, error))) << file;
      fs::remove(file, error);
    }
  }
  // A name of this process's own, with tail appended.
  std::string Name(const std::string& tail) {
    names_.push_back("flowtally_test." + std::to_string(CurrentProcessId()) + "." + tail);
    return names_.back();
  }

  std::vector<std::string> names_;
};

// Whether the answer of another thread comes within the given time.
bool Returns(std::future<bool>& wait, int milliseconds = 200) {
  return wait.wait_for(std::chrono::milliseconds(milliseconds)) == std::future_status::ready;
}

// Another thread opens name, waits for it and gives it back; the answer is whether all three
// succeeded. The thread owns its semaphore from start to end, as a process of its own would.
std::future<bool> TakeElsewhere(const std::string& name) {
  return std::async(std::launch::async, [name] {
    NamedSemaphore semaphore;
    return semaphore.OpenOrCreate(name) && semaphore.Wait() && semaphore.Release();
  });
}

TEST_F(SemaphoreTest, ExcludesOtherOpensOfTheName) {
  NamedSemaphore first;
  const std::string name = Name("exclusion");
  ASSERT_TRUE(first.OpenOrCreate(name));
  ASSERT_TRUE(first.Wait());
  std::future<bool> other = TakeElsewhere(name);
  EXPECT_FALSE(Returns(other));
  ASSERT_TRUE(first.Release());
  EXPECT_TRUE(other.get());

  // Names longer than the system allows share a semaphore when their ends agree.
  const std::string tail(300, 'q');
  NamedSemaphore long_a;
  ASSERT_TRUE(long_a.OpenOrCreate(Name("a" + tail)));
  ASSERT_TRUE(long_a.Wait());
  std::future<bool> shared = TakeElsewhere(Name("b" + tail));
  EXPECT_FALSE(Returns(shared));
  ASSERT_TRUE(long_a.Release());
  EXPECT_TRUE(shared.get());
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
  std::future<bool> taken = TakeElsewhere(name);
  ASSERT_TRUE(Returns(taken));
  EXPECT_TRUE(taken.get());
  NamedSemaphore again;
  ASSERT_TRUE(again.OpenOrCreate(name));
  ASSERT_TRUE(again.Wait());
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

#ifdef _WIN32
// A list set on a file is the list that the system reads back.
TEST(SecurityWin32Test, AccessListReadBack) {
  test::TempDir dir("security_test");
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
#else
using SemaphorePosixTest = SemaphoreTest;

// Waits on semaphore in another thread; a Wait that does not return is left blocked until the
// semaphore is released. The count belongs to the open lock file, not to a thread, so this
// thread may give it back.
std::future<bool> WaitElsewhere(NamedSemaphore* semaphore) {
  return std::async(std::launch::async, [semaphore] { return semaphore->Wait(); });
}

// A holder that goes removes the lock file while a waiter still has it open: the waiter must
// then lock the file that bears the name, the one that later users lock too.
TEST_F(SemaphorePosixTest, ExclusionSurvivesTheRemovalOfTheLockFile) {
  const std::string name = Name("removal");
  const std::string file = NamedSemaphore::LockFilePath(name);
  auto holder = std::make_unique<NamedSemaphore>();
  NamedSemaphore waiter;
  ASSERT_TRUE(holder->OpenOrCreate(name));
  ASSERT_TRUE(waiter.OpenOrCreate(name));
  ASSERT_TRUE(holder->Wait());
  std::future<bool> waited = WaitElsewhere(&waiter);
  EXPECT_FALSE(Returns(waited));
  {  // goes while the holder holds the count: the file stays
    NamedSemaphore passer;
    ASSERT_TRUE(passer.OpenOrCreate(name));
  }
  EXPECT_TRUE(fs::exists(file));
  holder.reset();  // gone without Release
  ASSERT_TRUE(Returns(waited, 10000));
  EXPECT_TRUE(waited.get());
  EXPECT_TRUE(fs::exists(file));
  NamedSemaphore later;
  ASSERT_TRUE(later.OpenOrCreate(name));
  std::future<bool> excluded = WaitElsewhere(&later);
  EXPECT_FALSE(Returns(excluded));
  EXPECT_TRUE(waiter.Release());
  EXPECT_TRUE(excluded.get());
}

// The system gives the count back when a holder ends, so a holder that is killed, or ends
// without releasing, never stops the others for good.
TEST_F(SemaphorePosixTest, AHolderThatEndsGivesTheCountBack) {
  const std::string name = Name("ended");
  int ready[2];
  int finish[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(finish), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    close(finish[1]);
    NamedSemaphore held;
    char byte = held.OpenOrCreate(name) && held.Wait() ? 'y' : 'n';
    if (write(ready[1], &byte, 1) != 1 || read(finish[0], &byte, 1) < 0) _exit(2);
    _exit(0);  // neither Release nor the destructor runs
  }
  close(ready[1]);
  close(finish[0]);
  char byte = 0;
  EXPECT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  EXPECT_EQ(byte, 'y');
  NamedSemaphore next;
  ASSERT_TRUE(next.OpenOrCreate(name));
  std::future<bool> wait = WaitElsewhere(&next);
  EXPECT_FALSE(Returns(wait));  // the child holds it
  close(finish[1]);             // the child ends
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_TRUE(Returns(wait, 10000));
  EXPECT_TRUE(wait.get());
  EXPECT_TRUE(next.Release());
}

// The semaphore of a file is shared by all accounts: one that did not create it still opens
// it, and waits for whoever holds it.
TEST_F(SemaphorePosixTest, AnotherAccountSharesTheSemaphore) {
  if (test::CurrentUid() != 0) GTEST_SKIP() << "only root can run a process as another account";
  const std::string name = Name("shared");
  test::ScopedCreationMask mask(077);
  NamedSemaphore held;
  ASSERT_TRUE(held.OpenOrCreate(name));
  ASSERT_TRUE(held.Wait());
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(report[0]);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    NamedSemaphore other;
    char byte = other.OpenOrCreate(name) ? 'o' : 'n';
    if (write(report[1], &byte, 1) != 1) _exit(2);
    byte = byte == 'o' && other.Wait() && other.Release() ? 'w' : 'n';
    _exit(write(report[1], &byte, 1) == 1 ? 0 : 2);
  }
  close(report[1]);
  char byte = 0;
  EXPECT_EQ(read(report[0], &byte, 1), 1);
  EXPECT_EQ(byte, 'o');
  pollfd waiting = {report[0], POLLIN, 0};
  EXPECT_EQ(poll(&waiting, 1, 200), 0);  // still waiting for the count
  EXPECT_TRUE(held.Release());
  EXPECT_EQ(read(report[0], &byte, 1), 1);
  EXPECT_EQ(byte, 'w');
  close(report[0]);
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Every account must be able to open a lock file that another created, whatever the creator's
// creation mask; and the name in a directory that everyone writes to is trusted only when it
// holds a regular file.
TEST_F(SemaphorePosixTest, LockFileIsOpenToEveryAccountAndNothingElseIsTaken) {
  const std::string name = Name("file");
  const std::string file = NamedSemaphore::LockFilePath(name);
  ASSERT_FALSE(file.empty());
  {
    test::ScopedCreationMask mask(077);
    NamedSemaphore semaphore;
    ASSERT_TRUE(semaphore.OpenOrCreate(name)) << GetLastError();
    EXPECT_EQ(test::PermissionBits(file), 0666);
  }
  EXPECT_FALSE(fs::exists(file));

  // A caller started with its standard descriptors closed keeps them free.
  bool locked = false;
  bool standard_free = true;
  {
    test::ClosedStandardDescriptors closed({0, 1, 2});
    NamedSemaphore semaphore;
    locked = semaphore.OpenOrCreate(name) && semaphore.Wait();
    for (int fd = 0; fd <= 2; ++fd) standard_free = standard_free && fcntl(fd, F_GETFD) < 0;
  }
  EXPECT_TRUE(locked);
  EXPECT_TRUE(standard_free);

  test::TempDir temp("semaphore_test");
  const std::string target = temp.Path("target");
  test::WriteFile(target, "kept");
  fs::permissions(target, fs::perms(0600));
  struct Case {
    const char* kind;
    std::function<void()> make;
  };
  const std::vector<Case> cases = {
      {"directory", [&] { fs::create_directory(file); }},
      {"symbolic link", [&] { fs::create_symlink(target, file); }},
      {"fifo", [&] { ASSERT_EQ(mkfifo(file.c_str(), 0666), 0); }},
  };
  for (const Case& c : cases) {
    c.make();
    NamedSemaphore semaphore;
    EXPECT_FALSE(semaphore.OpenOrCreate(name)) << c.kind;
    EXPECT_EQ(GetLastError(), kErrorInvalidHandle) << c.kind;
    EXPECT_FALSE(semaphore.Wait()) << c.kind;
    fs::remove(file);
  }
  EXPECT_EQ(test::ReadFile(target), "kept");
  EXPECT_EQ(test::PermissionBits(target), 0600);
}

#endif

}  // namespace
}  // namespace platform
