// The common file functions: retrying wrappers and traced operations.
#include "common/retry32.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/jkr.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "platform/test_hooks.h"
#include "platform/testing.h"
#ifdef _WIN32
#include "platform/testing-win32.h"
#endif

namespace {

namespace fs = std::filesystem;

class FileAccessTest : public platform::test::RegistryFileTest {
 protected:
  FileAccessTest() : RegistryFileTest("retry32_test") {}
  void SetUp() override {
    SetRegistry("");
    platform::SetSleepForTest([this](uint32_t ms) { pauses_.push_back(ms); });
    platform::RegistryCallsForTest() = platform::RegistryCalls();
  }
  void TearDown() override { platform::SetSleepForTest(nullptr); }

  // Has another process hold name exclusively for two seconds, and waits until it does.
  void HoldElsewhere(const std::string& name) {
    Write(name, "held");
#ifdef _WIN32
    ASSERT_TRUE(holder_.Hold("share", Path(name), 2000));
#else
    std::string command = "flock -x '" + Path(name) + "' sleep 2 &";
    ASSERT_EQ(std::system(command.c_str()), 0);
#endif
    for (int i = 0; i < 300; ++i) {
      platform::UniqueStream probe(platform::OpenStream(Path(name).c_str(), "r"));
      if (probe == nullptr && platform::GetLastError() == platform::kErrorSharingViolation) {
        platform::RegistryCallsForTest() = platform::RegistryCalls();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FAIL() << "flock did not take " << name;
  }

#ifdef _WIN32
  platform::test::HeldElsewhere holder_;  // goes before the directory that holds its file
#endif
  std::vector<uint32_t> pauses_;
};

TEST_F(FileAccessTest, HeldFileRetriesUnderTheSettings) {
  struct Case {
    const char* values;
    uint32_t count;
    uint32_t interval;
  };
  const Case cases[] = {
      {"", 5, 200},
      {"\"Error32RetryCount\"=dword:0000000a\n\"Error32RetryInterval\"=dword:00000064\n", 5, 200},
      {"\"Error32RetryCount\"=dword:00000003\n\"Error32RetryInterval\"=dword:0000012c\n", 3, 300},
      {"\"Error32RetryCount\"=dword:0000003d\n\"Error32RetryInterval\"=dword:0000012c\n", 5, 200},
      {"\"Error32RetryCount\"=dword:00000002\n", 5, 200},
  };
  HoldElsewhere("held");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.values);
    SetRegistry(c.values);
    pauses_.clear();
    EXPECT_EQ(retry32_fopen(Path("held").c_str(), "r"), nullptr);
    EXPECT_EQ(platform::GetLastError(), platform::kErrorSharingViolation);
    EXPECT_EQ(pauses_, std::vector<uint32_t>(c.count, c.interval));
  }
  // The same policy for the other members.
  pauses_.clear();
  EXPECT_EQ(retry32_creat(Path("held").c_str(), platform::kPermissionWrite), -1);
  EXPECT_NE(retry32_rename(Path("held").c_str(), Path("moved").c_str()), 0);
  EXPECT_EQ(pauses_.size(), 10u);
#ifdef _WIN32
  holder_.Finish();  // a file held without sharing cannot be read here until it is let go
#endif
  EXPECT_EQ(Read("held"), "held");
}

TEST_F(FileAccessTest, OtherFailuresDoNotRetryOrReadTheRegistry) {
  EXPECT_EQ(retry32_fopen(Path("missing").c_str(), "r"), nullptr);
  EXPECT_EQ(platform::GetLastError(), platform::kErrorFileNotFound);
  Write("a", "A");
  Write("b", "B");
  EXPECT_NE(retry32_rename(Path("a").c_str(), Path("b").c_str()), 0);
  EXPECT_EQ(platform::GetLastError(), platform::kErrorAlreadyExists);
  EXPECT_TRUE(pauses_.empty());
  EXPECT_EQ(platform::RegistryCallsForTest().opens, 0);
}

TEST_F(FileAccessTest, JkrFopenPolicy) {
  struct Case {
    const char* values;
    size_t pauses;
    uint32_t interval;
    const char* note;
  };
  const Case cases[] = {
      {"\"fopen_retrytimes\"=\"0\"\n", 179, 1000, "(times=180 interval=1000ms access file("},
      {"\"fopen_retrytimes\"=\"3\"\n", 2, 1000, "(times=3 interval=1000ms access file("},
      {"\"fopen_retrytimes\"=\"500\"\n", 179, 1000, "(times=180 interval=1000ms"},
      {"", 4, 200, "(times=5 interval=200ms"},
  };
  HoldElsewhere("held");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.values);
    SetRegistry(c.values);
    pauses_.clear();
    FILE* stream = nullptr;
    JkrError err;
    EXPECT_EQ(jkr_fopen(&stream, Path("held").c_str(), "a", &err), -1);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(err.system_code, platform::kErrorSharingViolation);
    EXPECT_EQ(pauses_, std::vector<uint32_t>(c.pauses, c.interval));
    EXPECT_EQ(std::string(err.text).rfind("jkr_fopen(", 0), 0u) << err.text;
    EXPECT_NE(std::string(err.text).find(c.note), std::string::npos) << err.text;
  }
  FILE* stream = nullptr;
  JkrError err;
  EXPECT_EQ(jkr_fopen(&stream, Path("missing").c_str(), "r", &err), -1);
  EXPECT_EQ(err.system_code, platform::kErrorFileNotFound);
  EXPECT_NE(std::string(err.text).find(Path("missing")), std::string::npos);
}

TEST_F(FileAccessTest, JkrCopyAndByteLock) {
  Write("list", "alpha=/a\n");
  Write("list.lck", "stale content that is longer");
  JkrError err;
  ASSERT_EQ(jkr_cp(Path("list").c_str(), Path("list.lck").c_str(), 0, &err), 0);
  EXPECT_EQ(Read("list.lck"), "alpha=/a\n");
  EXPECT_EQ(jkr_cp(Path("none").c_str(), Path("list.lck").c_str(), 0, &err), -1);
  EXPECT_EQ(err.error_number, -1);
  EXPECT_EQ(err.system_code, platform::kErrorFileNotFound);
  EXPECT_NE(std::string(err.text).find(Path("none") + " -> " + Path("list.lck")),
            std::string::npos);

  // The byte lock excludes a second open of the file, even in the same process.
  FILE* first = nullptr;
  FILE* second = nullptr;
  ASSERT_EQ(jkr_fopen(&first, Path("list.lck").c_str(), "r+", &err), 0);
  ASSERT_EQ(jkr_fopen(&second, Path("list.lck").c_str(), "r+", &err), 0);
  ASSERT_EQ(jkr_file_lock(first, &err), 0);
  pauses_.clear();
  EXPECT_NE(jkr_file_lock(second, &err), 0);
  EXPECT_EQ(err.system_code, platform::kErrorLockViolation);
  EXPECT_EQ(pauses_, std::vector<uint32_t>(9, 1000));
  ASSERT_EQ(jkr_file_unlock(first, &err), 0);
  EXPECT_EQ(jkr_file_lock(second, &err), 0);
  EXPECT_EQ(jkr_fclose(second, &err), 0);
  EXPECT_EQ(jkr_fclose(first, &err), 0);
}

}  // namespace
