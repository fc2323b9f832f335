#include "environment/site.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/jkr.h"
#include "environment/lwfile.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/test_hooks.h"
#include "platform/testing.h"

namespace {

namespace fs = std::filesystem;

// The site database directory is cached per thread: every lookup that must start afresh runs
// on a new thread.
template <typename F>
void OnFreshThread(F body) {
  std::thread(body).join();
}

std::optional<std::string> FreshSiteDir() {
  std::optional<std::string> result;
  OnFreshThread([&result] {
    if (const char* dir = lwfile_sitedb_dir()) result = dir;
  });
  return result;
}

// lwfile_sitelist_load_dbpath on a fresh thread (the base directory is cached per thread too).
struct Lookup {
  int rc = 0;
  std::string dir;
  JkrError err;
};
Lookup LookUpSite(const char* site, size_t cap = kPathBufSize) {
  Lookup result;
  OnFreshThread([&] {
    std::vector<char> dst(cap, 'j');
    result.rc = lwfile_sitelist_load_dbpath(site, dst.data(), cap, &result.err);
    result.dir.assign(dst.data(), strnlen(dst.data(), cap));
  });
  return result;
}

struct LocalMachine {
  int rc = 0;
  std::string name;
  std::string messages;
};

class SiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.empty());
    fs::create_directories(dir_ / "base" / "etc");
    platform::test::WriteFile(
        dir_ / "registry.reg",
        platform::test::RegistryText("\"KSBaseDirectory\"=\"" + Base() + "\"\n"));
    platform::SetSleepForTest([this](uint32_t ms) { pauses_.push_back(ms); });
  }
  void TearDown() override { platform::SetSleepForTest({}); }

  std::string Base() const { return (dir_ / "base").string(); }
  fs::path SiteList() const { return dir_ / "base" / "etc" / "site.list"; }
  fs::path LockCopy() const { return dir_ / "base" / "etc" / "site.list.lck"; }
  void WriteSiteList(const std::string& text) { platform::test::WriteFile(SiteList(), text); }

  // Runs the start-up pair on a fresh thread with ZOV_SITEDB naming a site whose localinfo
  // holds text (none when text is absent).
  LocalMachine ReadLocalMachine(const std::optional<std::string>& text) {
    fs::path nmap = dir_ / "sitedb" / "spool" / "nmap";
    fs::create_directories(nmap);
    fs::remove(nmap / "localinfo");
    if (text) platform::test::WriteFile(nmap / "localinfo", *text);
    sitedb_.Set((dir_ / "sitedb").string().c_str());
    return StartUp();
  }

  LocalMachine StartUp() {
    LocalMachine result;
    OnFreshThread([&result] {
      FILE* messages = std::tmpfile();
      ASSERT_NE(messages, nullptr);
      EXPECT_EQ(svlib_InitSpoolDir(messages), 0);
      char name[kPathBufSize] = "junk";
      result.rc = svlib_GetLocalMachine(name);
      result.name = name;
      std::rewind(messages);
      for (int c; (c = std::fgetc(messages)) != EOF;) result.messages += static_cast<char>(c);
      svlib_InitSpoolDir(stderr);
      std::fclose(messages);
    });
    return result;
  }

  platform::test::TempDir temp_{"site_test"};
  const fs::path dir_ = temp_.path();
  platform::test::ScopedRegistryFile registry_{(dir_ / "registry.reg").string().c_str()};
  platform::test::ScopedEnv sitedb_{"ZOV_SITEDB", nullptr};
  platform::test::ScopedEnv site_{"ZOV_SITE", nullptr};
  std::vector<uint32_t> pauses_;
};

TEST_F(SiteTest, WhereTheSiteDirectoryComesFrom) {
  const std::string long_dir = "/" + std::string(kPathBufSize - 2, 'd');
  const std::string too_long_dir = long_dir + "d";
  struct {
    const char* what;
    const char* sitedb;  // nullptr: unset
    const char* site;
    const char* list;  // nullptr: no site.list
    std::optional<std::string> expected;
  } cases[] = {
      {"ZOV_SITEDB wins over ZOV_SITE", "/env/db", "known", "known=/listed\n", "/env/db"},
      {"neither set: the base directory", nullptr, nullptr, "known=/listed\n", Base()},
      {"empty values count as unset", "", "", "known=/listed\n", Base()},
      {"site found", nullptr, "known", "known=/listed\n", "/listed"},
      {"site in other letter case", nullptr, "KNOWN", "Known=/listed\r\n", "/listed"},
      {"first definition wins", nullptr, "twice", "twice=/first\nTWICE=/second\n", "/first"},
      {"unknown site", nullptr, "stranger", "known=/listed\n", std::nullopt},
      {"site with an empty directory", nullptr, "bare", "bare\n", std::nullopt},
      {"1023-character ZOV_SITEDB", long_dir.c_str(), nullptr, nullptr, long_dir},
      {"1024-character ZOV_SITEDB refused", too_long_dir.c_str(), "known", "known=/listed\n",
       std::nullopt},
  };
  for (const auto& c : cases) {
    fs::remove(SiteList());
    if (c.list != nullptr) WriteSiteList(c.list);
    sitedb_.Set(c.sitedb);
    site_.Set(c.site);
    EXPECT_EQ(FreshSiteDir(), c.expected) << c.what;
  }

  // With ZOV_SITEDB set, neither the site list nor the registry is consulted.
  fs::remove(SiteList());
  fs::remove(dir_ / "registry.reg");
  sitedb_.Set("/env/db");
  site_.Set("known");
  EXPECT_EQ(FreshSiteDir(), "/env/db");
  EXPECT_FALSE(fs::exists(SiteList()));
}

TEST_F(SiteTest, SiteListLines) {
  const std::string filler(kPathBufSize - 1, 'x');  // exactly one read piece
  struct {
    const char* what;
    std::string list;
    const char* site;
    std::optional<std::string> expected;
  } cases[] = {
      {"directory keeps later '='", "s=/a=b\n", "s", "/a=b"},
      {"leading '=' skipped", "==s=/d\n", "s", "/d"},
      {"blanks belong to the name", " s =/d\n", "s", std::nullopt},
      {"blanks belong to the name, found", " s =/d\n", " S ", "/d"},
      {"line without '='", "bare\r\n", "bare", ""},
      {"empty lines skipped", "\n\r\n\ns=/d", "s", "/d"},
      {"a lone CR line is empty", "s=/d\n\r\n", "s", "/d"},
      {"long line: the next piece is a line", filler + "t=/tail\n", "t", "/tail"},
      {"long line: the first piece is cut", "u=" + filler + "\n", "u",
       std::string(kPathBufSize - 3, 'x')},
      {"no such site", "s=/d\n", "t", std::nullopt},
      {"empty list", "", "s", std::nullopt},
  };
  for (const auto& c : cases) {
    WriteSiteList(c.list);
    Lookup l = LookUpSite(c.site);
    EXPECT_EQ(l.rc, c.expected ? 0 : -1) << c.what;
    EXPECT_EQ(l.dir, c.expected.value_or("")) << c.what;
    // The lock copy is refreshed from the list and stays.
    EXPECT_EQ(platform::test::ReadFile(LockCopy()), c.list) << c.what;
  }

  // A directory that does not fit the destination is refused, not cut.
  WriteSiteList("s=/four\n");
  Lookup small = LookUpSite("s", 5);
  EXPECT_EQ(small.rc, -1);
  EXPECT_EQ(small.dir, "");
  Lookup fits = LookUpSite("s", 6);
  EXPECT_EQ(fits.rc, 0);
  EXPECT_EQ(fits.dir, "/four");
  EXPECT_TRUE(pauses_.empty());
}

TEST_F(SiteTest, MissingSiteListIsCreatedEmpty) {
  site_.Set("any");
  EXPECT_EQ(FreshSiteDir(), std::nullopt);
  ASSERT_TRUE(fs::exists(SiteList()));
  EXPECT_EQ(fs::file_size(SiteList()), 0u);
  EXPECT_TRUE(fs::exists(LockCopy()));

  // Without a base directory there is no site list to read.
  fs::remove(dir_ / "registry.reg");
  EXPECT_EQ(LookUpSite("any").rc, -1);
}

TEST_F(SiteTest, UnknownSiteCachesNothing) {
  WriteSiteList("other=/other\n");
  site_.Set("mine");
  OnFreshThread([this] {
    EXPECT_EQ(lwfile_sitedb_dir(), nullptr);
    char path[kPathBufSize] = "junk";
    EXPECT_EQ(lwfile_path_spool(path, sizeof path, nullptr), -1);
    EXPECT_STREQ(path, "");

    // The next call reads the list again; a success then stays for the thread.
    std::ofstream(SiteList(), std::ios::app) << "mine=/mine\n";
    ASSERT_NE(lwfile_sitedb_dir(), nullptr);
    EXPECT_STREQ(lwfile_sitedb_dir(), "/mine");
    WriteSiteList("mine=/moved\n");
    EXPECT_STREQ(lwfile_sitedb_dir(), "/mine");
  });

  WriteSiteList("other=/other\n");
  LocalMachine m = StartUp();
  EXPECT_EQ(m.rc, -1);
  EXPECT_EQ(m.name, "");
  EXPECT_EQ(m.messages, "Fail to open(ec=2)\n");
}

TEST_F(SiteTest, ReadersWaitForTheLockOnTheFirstByte) {
  WriteSiteList("s=/d\n");
  // Another reader holds the lock copy's first byte; the copy is not empty, so a lock taken at
  // the end of the file would not meet it.
  platform::test::WriteFile(LockCopy(), "s=/d\n");
  platform::UniqueStream holder(platform::OpenStream(LockCopy().string().c_str(), "a"));
  ASSERT_TRUE(holder);
  std::rewind(holder.get());
  ASSERT_TRUE(platform::LockStreamByte(holder.get()));

  Lookup l = LookUpSite("s");
  EXPECT_EQ(l.rc, -1);
  EXPECT_EQ(l.err.system_code, static_cast<uint32_t>(platform::kErrorLockViolation));
  EXPECT_EQ(pauses_,
            std::vector<uint32_t>(platform::kByteLockAttempts - 1, platform::kByteLockPauseMs));

  // The holder lets go during the wait.
  pauses_.clear();
  platform::SetSleepForTest([this, &holder](uint32_t ms) {
    pauses_.push_back(ms);
    std::rewind(holder.get());
    platform::UnlockStreamByte(holder.get());
  });
  l = LookUpSite("s");
  EXPECT_EQ(l.rc, 0);
  EXPECT_EQ(l.dir, "/d");
  EXPECT_EQ(pauses_.size(), 1u);

  // The lookup released its own lock.
  std::rewind(holder.get());
  EXPECT_TRUE(platform::LockStreamByte(holder.get()));
}

TEST_F(SiteTest, LocalMachineName) {
  const std::string longest(kPathBufSize - 1, 'n');
  struct {
    std::optional<std::string> localinfo;  // nullopt: no file
    int rc;
    std::string name;
    const char* messages;
  } cases[] = {
      {"hostname: alpha\n", 0, "alpha", ""},
      {"hostname:alpha\n", 0, "alpha", ""},
      {"hostname alpha extra\n", 0, "alpha", ""},
      {"  hostname :: alpha\n", 0, "alpha", ""},
      {"hostname:\talpha\r\n", 0, "alpha", ""},
      {"hostname: alpha", 0, "alpha", ""},
      {"hostname: beta\nhostname: gamma\n", 0, "beta", ""},
      {"hostname: " + longest + "\n", 0, longest, ""},
      {"hostname: " + longest + "n\n", -1, "", "Localinfo file is corrupted\n"},
      {"alpha\n", -1, "", "Localinfo file is corrupted\n"},
      {"\n", -1, "", "Localinfo file is corrupted\n"},
      {"\nhostname: alpha\n", -1, "", "Localinfo file is corrupted\n"},
      {"", -1, "", "can't read localinfo\n"},
      {std::nullopt, -1, "", "Fail to open(ec=2)\n"},
  };
  for (const auto& c : cases) {
    LocalMachine m = ReadLocalMachine(c.localinfo);
    const std::string what = c.localinfo.value_or("(no file)");
    EXPECT_EQ(m.rc, c.rc) << what;
    EXPECT_EQ(m.name, c.name) << what;
    EXPECT_EQ(m.messages, c.messages) << what;
  }
  EXPECT_TRUE(pauses_.empty());
}

TEST_F(SiteTest, LocalMachineFailures) {
  // No site directory at all: no registry and no environment.
  fs::remove(dir_ / "registry.reg");
  LocalMachine m = StartUp();
  EXPECT_EQ(m.rc, -1);
  EXPECT_EQ(m.messages, "Fail to open(ec=2)\n");

  // A localinfo held by another process is retried, then reported with its code.
  ReadLocalMachine("hostname: alpha\n");
  fs::path localinfo = dir_ / "sitedb" / "spool" / "nmap" / "localinfo";
  platform::UniqueFileHandle held(platform::OpenFileHandle(
      localinfo.string().c_str(), platform::kGenericRead, platform::kShareNone, nullptr,
      platform::kOpenExisting, platform::kFileAttributeNormal));
  ASSERT_TRUE(held.Valid());
  pauses_.clear();
  m = StartUp();
  EXPECT_EQ(m.rc, -1);
  EXPECT_EQ(m.messages, "Fail to open(ec=32)\n");
  EXPECT_EQ(pauses_, std::vector<uint32_t>(5, 200));
}

}  // namespace
