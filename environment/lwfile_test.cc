#include "environment/lwfile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/kssettings.h"
#include "common/test_hooks.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/test_hooks.h"
#include "platform/testing.h"

namespace {

namespace fs = std::filesystem;

// The directory caches are per thread: each case that reads them runs on a new thread, which
// starts with empty caches.
template <typename F>
void OnFreshThread(F body) {
  std::thread(body).join();
}

// The path a builder wrote, or a note of a result that does not match it.
std::string Built(int length, const char* path) {
  if (length < 0 || static_cast<size_t>(length) != std::strlen(path)) {
    return "length " + std::to_string(length) + " for \"" + path + "\"";
  }
  return path;
}

class LwfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KSResetLanguageIdForTest();
    platform::RegistryCallsForTest() = {};
    platform::SetSleepForTest([this](uint32_t ms) { pauses_.push_back(ms); });
  }
  void TearDown() override { platform::SetSleepForTest({}); }

  // Replaces the registry file (a new file, as an installer would).
  void WriteRegistry(const std::string& values) {
    platform::test::WriteFile(dir_.Path("registry.new"), platform::test::RegistryText(values));
    fs::rename(dir_.Path("registry.new"), dir_.Path("registry.reg"));
  }

  platform::test::TempDir dir_{"lwfile_test"};
  platform::test::ScopedRegistryFile registry_{dir_.Path("registry.reg").c_str()};
  platform::test::ScopedEnv sitedb_{"ZOV_SITEDB", nullptr};
  std::vector<uint32_t> pauses_;
};

TEST_F(LwfileTest, LanguageIdFromText) {
  struct {
    const char* text;
    int id;
  } cases[] = {{"0", 0},   {"1", 1},  {"2", 2}, {"7", 2},  {"-1", 2},
               {"abc", 0}, {"1x", 1}, {"", 0},  {" 1", 1}, {"99999999999999999999", 2}};
  for (const auto& c : cases) {
    KSResetLanguageIdForTest();
    platform::RegistryCallsForTest() = {};
    WriteRegistry(std::string("\"KSLanguageId\"=\"") + c.text + "\"\n");
    EXPECT_EQ(KSGetLanguageId(), c.id) << c.text;
    EXPECT_EQ(platform::RegistryCallsForTest().opens, 1) << c.text;
    EXPECT_EQ(platform::RegistryCallsForTest().queries, 1) << c.text;
  }
  EXPECT_TRUE(pauses_.empty());
}

TEST_F(LwfileTest, LanguageIdMissingValueStopsAtOnce) {
  WriteRegistry("\"KSBaseDirectory\"=\"/opt/k\"\n");
  EXPECT_EQ(KSGetLanguageId(), -1);
  EXPECT_EQ(platform::RegistryCallsForTest().opens, 1);
  EXPECT_EQ(platform::RegistryCallsForTest().queries, 1);
  EXPECT_TRUE(pauses_.empty());
}

TEST_F(LwfileTest, LanguageIdOtherQueryErrorsRetryFiveTimes) {
  WriteRegistry("\"KSLanguageId\"=dword:00000001\n");
  EXPECT_EQ(KSGetLanguageId(), -1);
  EXPECT_EQ(platform::RegistryCallsForTest().queries, 5);
  EXPECT_EQ(pauses_, std::vector<uint32_t>(5, 1000));
}

TEST_F(LwfileTest, LanguageIdUnopenableKeyRetriesThenCachesSuccess) {
  EXPECT_EQ(KSGetLanguageId(), -1);  // no registry file
  EXPECT_EQ(platform::RegistryCallsForTest().opens, 5);
  EXPECT_EQ(platform::RegistryCallsForTest().queries, 0);
  EXPECT_EQ(pauses_, std::vector<uint32_t>(5, 1000));

  // A failure is not remembered; a success is, for every thread.
  WriteRegistry("\"KSLanguageId\"=\"1\"\n");
  EXPECT_EQ(KSGetLanguageId(), 1);
  WriteRegistry("\"KSLanguageId\"=\"2\"\n");
  platform::RegistryCallsForTest() = {};
  EXPECT_EQ(KSGetLanguageId(), 1);
  OnFreshThread([] { EXPECT_EQ(KSGetLanguageId(), 1); });
  EXPECT_EQ(platform::RegistryCallsForTest().opens, 0);
}

// root and below it the path that the builders write with the system's separators.
std::string Under(const std::string& root, const std::string& below) {
  return root + platform::NativeSeparators(below);
}

TEST_F(LwfileTest, BaseDirectoryIsReadOncePerThread) {
  WriteRegistry("\"KSBaseDirectory\"=\"/opt/k\"\n");
  OnFreshThread([this] {
    const std::string tool = Under("/opt/k", "/bin/runscan") + platform::kProgramSuffix;
    ASSERT_STREQ(lwfile_bin_path("runscan"), tool.c_str());
    WriteRegistry("\"KSBaseDirectory\"=\"/opt/other\"\n");
    EXPECT_STREQ(lwfile_base_dir(), "/opt/k");
  });
  OnFreshThread([] { EXPECT_STREQ(lwfile_base_dir(), "/opt/other"); });
}

TEST_F(LwfileTest, BaseDirectoryRefusals) {
  struct {
    std::string value;
    bool accepted;
  } cases[] = {
      {"\"KSBaseDirectory\"=\"/" + std::string(kPathBufSize - 2, 'a') + "\"\n", true},
      {"\"KSBaseDirectory\"=\"/" + std::string(kPathBufSize - 1, 'a') + "\"\n", false},
      {"\"KSBaseDirectory\"=\"\"\n", false},
      {"\"KSBaseDirectory\"=dword:00000001\n", false},
      {"\"Other\"=\"/opt/k\"\n", false},
  };
  for (const auto& c : cases) {
    WriteRegistry(c.value);
    OnFreshThread([&c] {
      const char* dir = lwfile_base_dir();
      EXPECT_EQ(dir != nullptr, c.accepted) << c.value;
      if (dir != nullptr) {
        EXPECT_EQ(std::string(dir).size(), kPathBufSize - 1);
      }
      EXPECT_EQ(lwfile_bin_path("runscan"), nullptr);  // never fits beside such a base
    });
  }
  fs::remove(dir_.Path("registry.reg"));
  OnFreshThread([] {
    EXPECT_EQ(lwfile_base_dir(), nullptr);
    EXPECT_EQ(lwfile_sitedb_dir(), nullptr);
    char path[kPathBufSize] = "junk";
    EXPECT_EQ(lwfile_path_spool(path, sizeof path, nullptr), -1);
    EXPECT_STREQ(path, "");
  });
}

TEST_F(LwfileTest, PathBuilders) {
  WriteRegistry("\"KSBaseDirectory\"=\"/opt/100%s\"\n");  // taken literally
  sitedb_.Set("/site");
  OnFreshThread([] {
    char p[kPathBufSize];
    // The braced list is evaluated in order, so each Built() reads p right after its builder.
    struct {
      std::string built;
      std::string expected;
    } cases[] = {
        {Built(lwfile_path_spool(p, sizeof p, nullptr), p), Under("/site", "/spool")},
        {Built(lwfile_path_spool(p, sizeof p, "nmap/localinfo"), p),
         Under("/site", "/spool/nmap/localinfo")},
        {Built(lwfile_path_spool_tmp(p, sizeof p, nullptr), p), Under("/site", "/spool/tmp")},
        {Built(lwfile_path_etc(p, sizeof p, "site.list"), p),
         Under("/opt/100%s", "/etc/site.list")},
        {Built(lwfile_path_bin(p, sizeof p, "%s-%03d", "x", 7), p),
         Under("/opt/100%s", "/bin/x-007")},
        {Built(lwfile_path_sitedb_etc(p, sizeof p, nullptr), p), Under("/site", "/etc")},
        {Built(lwfile_path_spool_wkcal(p, sizeof p, nullptr), p), Under("/site", "/spool/wkcal.d")},
        {Built(lwfile_path_spool_lock_templates_customjob(p, sizeof p, "a"), p),
         Under("/site", "/spool/lock/templates/customjob/a")},
        {Built(lwfile_path_user(p, sizeof p, "alice", nullptr), p),
         Under("/site", "/spool/users/alice")},
        {Built(lwfile_path_user_lock_plan(p, sizeof p, "al%ice", nullptr), p),
         Under("/site", "/spool/users/al%ice/lock/plan")},
        {Built(
             lwfile_path_user_kstrk(p, sizeof p, "alice", "%s.%s.kstrk", "DAILY", "20240102030405"),
             p),
         Under("/site", "/spool/users/alice/kstrk/DAILY.20240102030405.kstrk")},
        {Built(lwfile_path_user_tracker_seq(p, sizeof p, "alice", 7, nullptr), p),
         Under("/site", "/spool/users/alice/tracker/seq_0007")},
        {Built(lwfile_path_user_tracker_seq(p, sizeof p, "bob", 9999, "f"), p),
         Under("/site", "/spool/users/bob/tracker/seq_9999/f")},
    };
    for (const auto& c : cases) EXPECT_EQ(c.built, c.expected);
    EXPECT_EQ(lwfile_path_spool(p, 0, nullptr), 11);  // capacity 0: no bound
    EXPECT_EQ(std::string(p), Under("/site", "/spool"));

    // A user name names one directory: on Windows '\\' separates as well.
    const char* refused_users[] = {
        "", ".", "..", "a/b", platform::IsPathSeparator('\\') ? "a\\b" : "", nullptr};
    for (const char* user : refused_users) {
      EXPECT_EQ(lwfile_path_user_sock(p, sizeof p, user, nullptr), -1);
    }
    EXPECT_EQ(lwfile_path_user_tracker_seq(p, sizeof p, "a", -1, nullptr), -1);
    EXPECT_EQ(lwfile_path_user_tracker_seq(p, sizeof p, "a", 10000, nullptr), -1);
  });
}

TEST_F(LwfileTest, PathThatDoesNotFitIsRefused) {
  sitedb_.Set("/site");
  OnFreshThread([] {
    char p[16];
    EXPECT_EQ(lwfile_path_spool_tmp(p, 16, nullptr), 15);  // "/site/spool/tmp" just fits
    EXPECT_EQ(lwfile_path_spool_tmp(p, 15, nullptr), -1);
    EXPECT_STREQ(p, "");
    std::string huge(kPathBufSize, 'n');  // longer than any file name may be
    char big[4 * kPathBufSize];
    EXPECT_EQ(lwfile_path_spool(big, 0, "%s", huge.c_str()), -1);
  });
}

TEST_F(LwfileTest, RegGetDword) {
  WriteRegistry("\"Error32RetryCount\"=dword:0000000a\n\"Text\"=\"10\"\n");
  EXPECT_EQ(KSRegGetDword(platform::kProductKeyPath, "Error32RetryCount"), 10u);
  EXPECT_EQ(KSRegGetDword(platform::kProductKeyPath, "Missing"), 0xFFFFFFFFu);
  EXPECT_EQ(KSRegGetDword(platform::kProductKeyPath, "Text"), 0xFFFFFFFFu);
  EXPECT_EQ(KSRegGetDword("Software\\None", "Error32RetryCount"), 0xFFFFFFFFu);
}

}  // namespace
