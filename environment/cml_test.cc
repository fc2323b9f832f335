// The product's file security: secure creation by CML_fopen and CML_freopen, and the take-over
// of a file by the manager account (CML_chown).
#include "environment/cml.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/ksaccount.h"
#include "common/ksreg.h"
#include "common/lwpw.h"
#include "common/lwuser.h"
#include "common/test_hooks.h"
#include "environment/test_hooks.h"
#include "platform/account.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/security.h"
#include "platform/test_hooks.h"
#include "platform/testing.h"
#ifdef _WIN32
#include "platform/testing-win32.h"
#else
#include "platform/testing-posix.h"
#endif

namespace {

namespace fs = std::filesystem;

// The site directories are kept per thread once found; each run that needs them starts anew.
template <typename F>
void OnFreshThread(F body) {
  std::thread thread(body);
  thread.join();
}

// Every test starts with nothing kept, a registry whose manager account is the caller and
// whose operator group is the caller's group, and a site directory of its own.
class CmlSecurityTest : public platform::test::RegistryFileTest {
 protected:
  CmlSecurityTest() : RegistryFileTest("cml_test") {
    Forget();
    platform::SetSleepForTest([](uint32_t) {});
    platform::SetMachineDomainForTest([](const char*, uint32_t, std::string* domain) {
      domain->clear();
      return 0u;
    });
    const char* name = lw_GetUserName();
    EXPECT_NE(name, nullptr);
    if (name != nullptr) user_ = name;
    group_ = platform::test::CurrentGroupName();
    fs::create_directories(dir_.path() / "site" / "spool");
    UseRegistry(Manager(user_));
  }
  ~CmlSecurityTest() override {
    // A take-over removes its lock file when it is done.
    for (const std::string& path : taken_) {
      const std::string file = platform::NamedSemaphore::LockFilePath(LockName(path));
      EXPECT_FALSE(fs::exists(file)) << file;
    }
    Forget();
    platform::SetSleepForTest(nullptr);
    platform::SetMachineDomainForTest(nullptr);
    platform::SetNoAccessListsForTest(false);
  }

  static void Forget() {
    KSRegResetRetryForTest();
    KSAccountResetForTest();
    lw_PwResetForTest();
    CML_ResetForTest();
  }
  std::string Manager(const std::string& account) const {
    return "\"KSMgrAccount\"=\"" + account + "\"\n\"KSOpGroup\"=\"" + group_ + "\"\n";
  }
  // Writes the registry file; the names and lists kept so far are forgotten unless keep.
  void UseRegistry(const std::string& values, bool keep = false) {
    SetRegistry(values);
    if (keep) {
      KSAccountResetForTest();
    } else {
      Forget();
    }
  }
  // The name of the semaphore that guards the access list of path.
  static std::string LockName(const std::string& path) {
    return CML_access_lock_name(path.c_str()).substr(sizeof "Global\\" - 1);
  }
  bool NoAccessLists() const {
    return !platform::FileSystemHasAccessLists(dir_.path().string().c_str());
  }
#ifdef _WIN32
  // Whether a list set on a file is the list that the system reads back.
  bool AccessListsReadBack() const {
    const std::string probe = Path("probe");
    platform::test::WriteFile(probe, "");
    return platform::SetFileAccessList(probe.c_str(),
                                       {{ "S-1-5-32-545",
                                          platform::AccessRights::kRead }}) &&
           platform::test::AccessListText(probe).find(";;;BU)") != std::string::npos;
  }
#endif
  // What a list gives a file, as the platform sets it.
  std::string ListText(const platform::AccessList& list) {
    const std::string reference = Path("reference");
    platform::test::WriteFile(reference, "");
    EXPECT_TRUE(platform::SetFileAccessList(reference.c_str(), list));
    return platform::test::AccessListText(reference);
  }
  // CML_chown of path to account on a fresh thread; what it wrote to standard error goes to
  // *messages, its last-error code to error_.
  int Chown(const std::string& path, const std::string& account, std::string* messages) {
    int rc = 0;
    taken_.push_back(path);
    testing::internal::CaptureStderr();
    OnFreshThread([&] {
      rc = CML_chown(path.c_str(), account.c_str());
      error_ = platform::GetLastError();
    });
    *messages = testing::internal::GetCapturedStderr();
    return rc;
  }
  // CML_fopen on a fresh thread; its last-error code goes to error_.
  FILE* Fopen(const std::string& path, const char* mode) {
    FILE* stream = nullptr;
    taken_.push_back(path);
    OnFreshThread([&] {
      stream = CML_fopen(path.c_str(), mode);
      error_ = platform::GetLastError();
    });
    return stream;
  }

  platform::test::ScopedEnv sitedb_{"ZOV_SITEDB", (dir_.path() / "site").string().c_str()};
  platform::test::ScopedEnv site_{"ZOV_SITE", nullptr};
  uint32_t error_ = 0;
  std::vector<std::string> taken_;  // paths that may have been taken over
  std::string user_;
  std::string group_;
#ifdef _WIN32
  // The product's list for a file that the manager account creates itself: full control for the
  // manager (the caller), Administrators and the creator, read for Everyone.
  const std::string created_text_ =
      "D:P(A;;FA;;;" + CallerSid() + ")(A;;FA;;;BA)(A;;FA;;;" + CallerSid() + ")(A;;FR;;;WD)";
  static std::string CallerSid() {
    std::string sid;
    EXPECT_TRUE(platform::LookupAccountName(nullptr, lw_GetUserName(), &sid, nullptr, nullptr));
    return sid;
  }
#else
  const std::string uid_ = std::to_string(platform::test::CurrentUid());
  // The product's list for a file that the manager account creates itself.
  const std::string created_text_ =
      "user::rw-,user:" + uid_ + ":rw-,group::r--,group:0:rw-,mask::rw-,other::r--";
  std::string CallerSid() const { return "S-1-22-1-" + uid_; }
#endif
};

#ifdef _WIN32
#define SKIP_WITHOUT_ACCESS_LISTS()                                                 \
  if (NoAccessLists()) {                                                            \
    GTEST_SKIP() << "the temporary directory's file system keeps no access lists";  \
  }                                                                                 \
  if (!AccessListsReadBack()) {                                                     \
    GTEST_SKIP() << "Wine does not read back the access list that a file is given"; \
  }
#else
#define SKIP_WITHOUT_ACCESS_LISTS()                                                \
  if (NoAccessLists()) {                                                           \
    GTEST_SKIP() << "the temporary directory's file system keeps no access lists"; \
  }
#endif

TEST_F(CmlSecurityTest, CreatedFilesCarryTheProductSecurity) {
  SKIP_WITHOUT_ACCESS_LISTS();
  struct Case {
    const char* name;
    const char* mode;
    bool reopen;
  };
  const Case cases[] = {{"fopen-w", "w", false},
                        {"fopen-a", "a+", false},
                        {"freopen-w", "w", true},
                        {"freopen-a", "a", true}};
  for (const Case& c : cases) {
    const std::string path = Path(c.name);
    if (c.reopen) {
      platform::UniqueStream stream(platform::OpenStream(Path("first").c_str(), "w"));
      ASSERT_NE(stream, nullptr);
      ASSERT_EQ(CML_freopen(path.c_str(), c.mode, stream.get()), stream.get()) << c.name;
      std::fputs("data", stream.get());
    } else {
      platform::UniqueStream stream(CML_fopen(path.c_str(), c.mode));
      ASSERT_NE(stream, nullptr) << c.name << " " << platform::GetLastError();
      std::fputs("data", stream.get());
    }
    EXPECT_EQ(platform::test::ReadFile(path), "data") << c.name;
    EXPECT_EQ(platform::test::AccessListText(path), created_text_) << c.name;
  }

  // An existing file keeps its access.
  platform::test::WriteFile(Path("existing"), "old");
#ifdef _WIN32
  const std::string existing_text = platform::test::AccessListText(Path("existing"));
  platform::UniqueStream stream(CML_fopen(Path("existing").c_str(), "w"));
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(platform::test::AccessListText(Path("existing")), existing_text);
#else
  fs::permissions(Path("existing"), fs::perms(0640));
  platform::UniqueStream stream(CML_fopen(Path("existing").c_str(), "w"));
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(platform::test::PermissionBits(Path("existing")), 0640);
#endif
}

// Without a manager account that names a user, nothing is created and the account's code is
// kept; an existing file needs no account.
TEST_F(CmlSecurityTest, CreationNeedsTheManagerAccount) {
  struct Case {
    const char* name;
    std::string registry;
    uint32_t code;
  };
  const Case cases[] = {
      {"no manager set", "\"KSOpGroup\"=\"" + group_ + "\"\n",
       platform::kErrorInvalidServiceAccount},
      {"manager is a group", Manager("Administrators"), platform::kErrorNoSuchUser},
      {"manager does not exist", Manager("no-such-account-here"), platform::kErrorNoneMapped},
  };
  for (const Case& c : cases) {
    UseRegistry(c.registry);
    EXPECT_EQ(CML_fopen(Path("new").c_str(), "w"), nullptr) << c.name;
    EXPECT_EQ(platform::GetLastError(), c.code) << c.name;
    EXPECT_FALSE(fs::exists(Path("new"))) << c.name;

    platform::UniqueStream stream(platform::OpenStream(Path("first").c_str(), "w"));
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(CML_freopen(Path("new").c_str(), "w", stream.get()), nullptr) << c.name;
    EXPECT_EQ(platform::GetLastError(), c.code) << c.name;
    EXPECT_FALSE(fs::exists(Path("new"))) << c.name;

    platform::test::WriteFile(Path("existing"), "old");
    EXPECT_EQ(CML_freopen(Path("existing").c_str(), "w", stream.get()), stream.get()) << c.name;
    platform::UniqueStream appended(CML_fopen(Path("existing").c_str(), "a"));
    EXPECT_NE(appended, nullptr) << c.name;
  }
}

TEST_F(CmlSecurityTest, ChownAsTheManagerReplacesTheList) {
  SKIP_WITHOUT_ACCESS_LISTS();
  const std::string file = Path("site/spool/taken");
  platform::test::WriteFile(file, "x");
  const platform::AccessList previous = {{"S-1-22-1-12345", platform::AccessRights::kFullControl},
                                         {"S-1-1-0", platform::AccessRights::kFullControl}};
  ASSERT_TRUE(platform::SetFileAccessList(file.c_str(), previous));
  const std::string previous_text = platform::test::AccessListText(file);

  std::string messages;
  EXPECT_EQ(Chown(file, ".c", &messages), 0);
  EXPECT_EQ(platform::test::AccessListText(file), previous_text);

  // The operator group is taken as the account lookup reports it.
  std::string group_sid;
  ASSERT_TRUE(platform::LookupAccountName(nullptr, group_.c_str(), &group_sid, nullptr, nullptr));
  const std::string expected = ListText({{CallerSid(), platform::AccessRights::kFullControl},
                                         {group_sid, platform::AccessRights::kFullControl},
                                         {"S-1-5-32-544", platform::AccessRights::kFullControl},
                                         {"S-1-1-0", platform::AccessRights::kReadExecute}});
  ASSERT_EQ(Chown(file, user_, &messages), 0) << error_;
  EXPECT_EQ(messages, "");
  EXPECT_EQ(platform::test::AccessListText(file), expected);

  // The list is kept per account, whatever the case of its name: with no operator group to
  // be found any more, the same account still gets it.
  ASSERT_TRUE(platform::SetFileAccessList(file.c_str(), previous));
  UseRegistry("\"KSMgrAccount\"=\"" + user_ + "\"\n", true);
  std::string upper = user_;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  EXPECT_EQ(Chown(file, upper, &messages), 0);
  EXPECT_EQ(platform::test::AccessListText(file), expected);

  ASSERT_TRUE(platform::SetFileAccessList(file.c_str(), previous));
  EXPECT_EQ(Chown(file, "no-such-account-here", &messages), -1);
  EXPECT_EQ(error_, platform::kErrorNoneMapped);
  UseRegistry(Manager(user_));
  EXPECT_EQ(Chown(Path("site/spool/missing"), user_, &messages), -1);
  EXPECT_EQ(error_, platform::kErrorFileNotFound);
  EXPECT_EQ(platform::test::AccessListText(file), previous_text);
}

// Two processes never change the list of one file at the same time: the change waits for
// whoever holds the file's semaphore.
TEST_F(CmlSecurityTest, ChownWaitsForTheFilesSemaphore) {
  SKIP_WITHOUT_ACCESS_LISTS();
  const std::string file = Path("site/spool/held");
  platform::test::WriteFile(file, "x");
  const platform::AccessList previous = {{"S-1-1-0", platform::AccessRights::kFullControl}};
  ASSERT_TRUE(platform::SetFileAccessList(file.c_str(), previous));
  const std::string previous_text = platform::test::AccessListText(file);

  platform::NamedSemaphore held;
  ASSERT_TRUE(held.OpenOrCreate(LockName(file)));
  ASSERT_TRUE(held.Wait());
  taken_.push_back(file);
  std::atomic<int> rc{1};
  std::thread chown([&] { rc = CML_chown(file.c_str(), user_.c_str()); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(platform::test::AccessListText(file), previous_text);
  EXPECT_TRUE(held.Release());
  chown.join();
  EXPECT_EQ(rc, 0);
  EXPECT_NE(platform::test::AccessListText(file), previous_text);
}

// The take-over applies only to the manager account on a site that keeps access lists; when
// that cannot be told, it goes ahead after a message and is tested again at the next call.
TEST_F(CmlSecurityTest, ChownTakeOverTest) {
  SKIP_WITHOUT_ACCESS_LISTS();
  const std::string file = Path("file");
  platform::test::WriteFile(file, "x");
  const platform::AccessList previous = {{"S-1-1-0", platform::AccessRights::kFullControl}};
  const std::string previous_text = ListText(previous);
  const std::string other = user_ == "root" ? "no-such-manager" : "root";
  std::string messages;

  struct Case {
    const char* name;
    std::string manager;
    bool no_lists;
    const char* sitedb;  // nullptr: not set
    bool taken;
    std::string message;
  };
  const std::string site = (dir_.path() / "site").string();
  const std::string missing_site = (dir_.path() / "nosite").string();
  const std::vector<Case> cases = {
      {"manager on a site with lists", user_, false, site.c_str(), true, ""},
      {"another account is manager", other, false, site.c_str(), false, ""},
      {"site keeps no lists", user_, true, site.c_str(), false, ""},
      {"no site directory", other, false, nullptr, true, "5 3 Get ZOV database directory: \n"},
      {"site cannot be asked", other, false, missing_site.c_str(), true,
       "Failed to get name of file system.\n"},
  };
  for (const Case& c : cases) {
    UseRegistry(Manager(c.manager));
    sitedb_.Set(c.sitedb);
    ASSERT_TRUE(platform::SetFileAccessList(file.c_str(), previous));
    platform::SetNoAccessListsForTest(c.no_lists);
    EXPECT_EQ(Chown(file, user_, &messages), 0) << c.name;
    platform::SetNoAccessListsForTest(false);
    EXPECT_EQ(messages, c.message) << c.name;
    EXPECT_EQ(platform::test::AccessListText(file) != previous_text, c.taken) << c.name;
    if (!c.message.empty()) {
      // Not decided: asked again.
      EXPECT_EQ(Chown(file, user_, &messages), 0) << c.name;
      EXPECT_EQ(messages, c.message) << c.name;
    }
  }

  // Decided once per process: a later change of the manager account is not seen.
  sitedb_.Set(site.c_str());
  UseRegistry(Manager(other));
  ASSERT_TRUE(platform::SetFileAccessList(file.c_str(), previous));
  EXPECT_EQ(Chown(file, user_, &messages), 0);
  UseRegistry(Manager(user_), true);
  EXPECT_EQ(Chown(file, user_, &messages), 0);
  EXPECT_EQ(platform::test::AccessListText(file), previous_text);
}

// A file that the manager account may not read is handed to it and opened after all.
TEST_F(CmlSecurityTest, RefusedOpenHandsTheFileToTheManager) {
  SKIP_WITHOUT_ACCESS_LISTS();
#ifdef _WIN32
  GTEST_SKIP() << "Wine grants every open whatever the file's access list";
#else
  if (platform::test::CurrentUid() == 0) GTEST_SKIP() << "no open is refused to root";
#endif
  const std::string file = Path("site/spool/locked");
  platform::test::WriteFile(file, "content");
  fs::permissions(file, fs::perms::none);
  platform::UniqueStream stream(Fopen(file, "r"));
  ASSERT_NE(stream, nullptr) << error_;
  char text[16] = {};
  EXPECT_NE(std::fgets(text, sizeof text, stream.get()), nullptr);
  EXPECT_STREQ(text, "content");

  // Where the take-over does not apply, the refusal is reported.
  stream.reset();
  fs::permissions(file, fs::perms::none);
  UseRegistry(Manager("root"));
  stream.reset(Fopen(file, "r"));
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(error_, platform::kErrorAccessDenied);
}

TEST(CmlCheckpath, ColonRules) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"a:b:", "a`b"},
      {"host:user:net.20140101000000", "host`user`net.20140101000000"},
      {"D:", "D:"},
      {"D:/dir", "D:/dir"},
      {"D:\\dir:x", "D:\\dir`x"},
      {"a:@b:c", "a:@b`c"},
      {"a:@c", "a`@c"},
      {"plain/path", "plain/path"},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string text = c.in;
    ASSERT_NE(CML_checkpath(text.data()), nullptr) << c.in;
    EXPECT_STREQ(text.c_str(), c.out.c_str()) << c.in;
  }
  std::string longest(kCmlPathLimit - 1, 'x');
  EXPECT_NE(CML_checkpath(longest.data()), nullptr);
  std::string too_long(kCmlPathLimit, ':');
  EXPECT_EQ(CML_checkpath(too_long.data()), nullptr);
  EXPECT_EQ(too_long, std::string(kCmlPathLimit, ':'));
  EXPECT_EQ(CML_checkpath(nullptr), nullptr);
}

// A directory and a registry of the test's own, for the opens of the name rules.
class CmlFileTest : public platform::test::RegistryFileTest {
 protected:
  CmlFileTest() : RegistryFileTest("cml_test") {}
  void SetUp() override { SetRegistry(""); }
};

TEST_F(CmlFileTest, CmlFreopenCreatesTruncatesAndReports) {
  // A created file gets the product's security, which names the manager account.
  SetRegistry(std::string("\"KSMgrAccount\"=\"") + lw_GetUserName() + "\"\n");
  KSAccountResetForTest();
  Write("out", "previous contents");
  platform::UniqueStream stream(platform::OpenStream(Path("first").c_str(), "w"));
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(CML_freopen(Path("out").c_str(), "w", stream.get()), stream.get());
  std::fputs("new", stream.get());
  ASSERT_EQ(CML_freopen(Path("created").c_str(), "a", stream.get()), stream.get());
  std::fputs("appended", stream.get());
  stream.reset();
  EXPECT_EQ(Read("out"), "new");
  EXPECT_EQ(Read("created"), "appended");

  stream.reset(platform::OpenStream(Path("first").c_str(), "w"));
  struct Case {
    std::string path;
    const char* mode;
    uint32_t code;
  };
  const Case failures[] = {
      {Path("nodir/out"), "w", platform::kErrorPathNotFound},
      {Path("missing"), "r", platform::kErrorFileNotFound},
      {Path(std::string(kCmlPathLimit, 'x')), "w", platform::kErrorInvalidParameter},
      {Path("out"), "x+", platform::kErrorInvalidParameter},
  };
  for (const Case& c : failures) {
    EXPECT_EQ(CML_freopen(c.path.c_str(), c.mode, stream.get()), nullptr) << c.path;
    EXPECT_EQ(platform::GetLastError(), c.code) << c.path;
  }
  EXPECT_FALSE(fs::exists(Path("nodir")));
}

TEST_F(CmlFileTest, CmlStatSeesAppendsOfAnotherStream) {
  platform::UniqueStream appender(platform::OpenStream(Path("day.csv").c_str(), "a"));
  ASSERT_NE(appender, nullptr);
  std::fputs("first record\n", appender.get());
  std::fflush(appender.get());
  platform::FileStatus status;
  ASSERT_EQ(CML_stat(Path("day.csv").c_str(), &status), 0);
  EXPECT_EQ(status.size, 13u);
  std::fputs("second\n", appender.get());
  std::fflush(appender.get());
  ASSERT_EQ(CML_stat(Path("day.csv").c_str(), &status), 0);
  EXPECT_EQ(status.size, 20u);
  ASSERT_EQ(CML_stat((dir_.path().string() + "/").c_str(), &status), 0);
  EXPECT_TRUE(status.is_directory);
  EXPECT_EQ(CML_stat(Path("missing").c_str(), &status), -1);
  EXPECT_EQ(platform::GetLastError(), platform::kErrorFileNotFound);
  appender.reset();
  EXPECT_EQ(CML_unlink(Path("day.csv").c_str()), 0);
  EXPECT_FALSE(fs::exists(Path("day.csv")));
}

TEST(CmlAccessLockName, EncodesPathBytes) {
  EXPECT_EQ(CML_access_lock_name("abc"), "Global\\jJWY");
  EXPECT_EQ(CML_access_lock_name("abca"), "Global\\jJWYAE");
  EXPECT_EQ(CML_access_lock_name("aa4"), "Global\\_EWY");
  std::string name = CML_access_lock_name(std::string(400, 'a').c_str());
  EXPECT_EQ(name.size(), 7u + 252u);
}

}  // namespace
