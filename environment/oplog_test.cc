#include "environment/oplog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "common/ksaccount.h"
#include "common/lwuser.h"
#include "common/test_hooks.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/test_hooks.h"
#include "platform/testing.h"

namespace {

using platform::test::ReadFile;
using platform::test::RegistryText;
using platform::test::ScopedEnv;
using platform::test::ScopedRegistryFile;
using platform::test::ScopedZone;
using platform::test::TempDir;
using platform::test::WriteFile;
namespace fs = std::filesystem;

// A site whose umsconf.f the test writes. The site database directory is cached per thread,
// so each test body runs on a thread of its own.
class OpLogTest : public ::testing::Test {
 protected:
  OpLogTest()
      : dir_("oplog"),
        registry_(dir_.Path("registry.reg").c_str()),
        sitedb_("ZOV_SITEDB", dir_.Path("sitedb").c_str()),
        mark_("LWPProcess", nullptr),
        user_("KestruneUserName", "carol"),
        zone_("UTC") {
    Registry(true);
    fs::create_directories(dir_.path() / "sitedb/spool/conf");
  }
  ~OpLogTest() override {
    platform::SetClockForTest(nullptr);
    KSAccountResetForTest();
  }

  // The running user manages the site, and Administrators are its operators.
  void Registry(bool with_manager) {
    std::string values = "\"KSBaseDirectory\"=\"" + dir_.Path("base") + "\"\n";
    if (with_manager) {
      values += std::string("\"KSMgrAccount\"=\"") + lw_GetUserName() + "\"\n";
      values += "\"KSOpGroup\"=\"Administrators\"\n";
    }
    WriteFile(dir_.Path("registry.reg"), RegistryText(values));
    KSAccountResetForTest();
  }

  void Conf(const std::string& text) { WriteFile(dir_.Path("sitedb/spool/conf/umsconf.f"), text); }
  static void OnThread(const std::function<void()>& body) { std::thread(body).join(); }

  std::string OpDir() const { return dir_.Path("sitedb/spool/log/record/op"); }

  TempDir dir_;
  ScopedRegistryFile registry_;
  ScopedEnv sitedb_;
  ScopedEnv mark_;
  ScopedEnv user_;
  ScopedZone zone_;
};

TEST_F(OpLogTest, ConfigurationTakesTheFirstLineWithTheExactKey) {
  Conf(
      "\n"
      "OP_MAXSIZE 1\n"
      "op_generation\t3\n"
      "op_generation\n"
      "  op_maxsize   77   trailing words\r\n"
      "op_maxsize 88\n"
      "op_generation 4\n");
  OnThread([] {
    struct Case {
      int index;
      const char* expected;
    } cases[] = {
        {kOpLog, "off"},        // absent: the default
        {kOpMaxsize, "77"},     // letter case counts; blanks separate, CR LF ends the line
        {kOpGeneration, "4"},   // a tab does not separate; a key without a value sets nothing
        {kExeMaxsize, "1024"},  // the execution log's keys have defaults too
    };
    for (const Case& c : cases) {
      char value[kOpConfValueSize] = "untouched";
      EXPECT_EQ(lwlog_op_getconf(c.index, value), 0) << c.index;
      EXPECT_STREQ(value, c.expected) << c.index;
    }
    char value[kOpConfValueSize] = "untouched";
    EXPECT_EQ(lwlog_op_getconf(8, value), -1);
    EXPECT_EQ(lwlog_op_getconf(-1, value), -1);
    EXPECT_STREQ(value, "untouched");
  });
}

TEST_F(OpLogTest, MissingConfigurationLeavesTheValueUntouched) {
  OnThread([] {
    char value[kOpConfValueSize] = "untouched";
    EXPECT_EQ(lwlog_op_getconf(kOpLog, value), -1);
    EXPECT_STREQ(value, "untouched");
  });
}

TEST_F(OpLogTest, LongValuesAreCutToTheValueBuffer) {
  Conf("op_log " + std::string(400, 'v') + "\n");
  OnThread([] {
    char value[kOpConfValueSize];
    ASSERT_EQ(lwlog_op_getconf(kOpLog, value), 0);
    EXPECT_EQ(std::strlen(value), kOpConfValueSize - 1);
  });
}

TEST_F(OpLogTest, RecordHasTimeWithMillisecondsAndZoneAccountHostAndCommandLine) {
  platform::SetClockForTest([] { return platform::UtcTime{1436954405, 7}; });  // 2015-07-15
  std::string record(kOpRecordSize, '\0');
  ScopedZone zone("EST5EDT,M3.2.0,M11.1.0");
  lwlog_op_mkrecord(record.data(), record.size(), "prog.exe", "prog -x a,b\r\n\n");
  std::string host = record.substr(0, record.find(",CMD,"));
  host = host.substr(host.rfind(',') + 1);
  EXPECT_STREQ(
      record.c_str(),
      ("2015/07/15 06:00:05.007(EDT),carol," + host + ",CMD,prog.exe,prog -x a,b").c_str());

  // A line break inside a field cannot start a line of its own.
  ScopedEnv forged_name("KestruneUserName", "x\n2015/07/15 06:00:05.007(EDT),root");
  lwlog_op_mkrecord(record.data(), record.size(), "prog.exe", "prog a\nb\r\n");
  EXPECT_EQ(std::strchr(record.c_str(), '\n'), nullptr) << record.c_str();
  EXPECT_NE(std::strstr(record.c_str(), "prog a b"), nullptr) << record.c_str();

  ScopedEnv long_name("KestruneUserName", std::string(100, 'n').c_str());
  lwlog_op_mkrecord(record.data(), record.size(), "prog.exe", "prog");
  EXPECT_NE(std::strstr(record.c_str(), ("," + std::string(64, 'n') + ",").c_str()), nullptr)
      << record.c_str();
}

TEST_F(OpLogTest, CommandLineStaysBelowItsLimit) {
  Conf("op_log on\nop_maxsize 100\n");
  std::string first(3000, 'p');
  std::string second(1000, 's');
  std::string fits(kOpCommandLineSize - 1 - 1000 - 2 - 1, 'f');
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  } cases[] = {
      // The first argument is cut; nothing else fits after it.
      {{first, "x"}, std::string(kOpCommandLineSize - 1, 'p')},
      // The argument that does not fit is dropped with all after it; its blank stays.
      {{second, fits, "toolong", "x"}, second + " " + fits + " "},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir_.path() / "sitedb/spool/log");
    OnThread([&] {
      std::vector<char*> argv;
      for (const std::string& arg : c.args) argv.push_back(const_cast<char*>(arg.c_str()));
      EXPECT_EQ(lwlog_op_record(static_cast<int>(argv.size()), argv.data(), "t.exe"), 0);
    });
    mark_.Set(nullptr);
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(OpDir()))
      files.push_back(entry.path().string());
    ASSERT_EQ(files.size(), 1u);
    std::string line = ReadFile(files[0]);
    ASSERT_FALSE(line.empty());
    line.pop_back();
    EXPECT_EQ(line.substr(line.find(",CMD,t.exe,") + 11), c.expected);
  }
}

TEST_F(OpLogTest, TheMarkStopsTheRecordAndIsLeftAsItWas) {
  Conf("op_log on\n");
  ScopedEnv mark("LWPProcess", "Loomwork");
  char arg0[] = "flowtally";
  char* argv[] = {arg0};
  OnThread([&] { EXPECT_EQ(lwlog_op_record(1, argv, "flowtally.exe"), -1); });
  EXPECT_FALSE(fs::exists(dir_.path() / "sitedb/spool/log"));
  EXPECT_STREQ(std::getenv("LWPProcess"), "Loomwork");

  // Any other value is replaced by the mark, for the children.
  mark.Set("loomwork");
  OnThread([&] { EXPECT_EQ(lwlog_op_record(1, argv, "flowtally.exe"), 0); });
  EXPECT_STREQ(std::getenv("LWPProcess"), "Loomwork");
  EXPECT_TRUE(fs::exists(OpDir()));
}

TEST_F(OpLogTest, GenerationsOutsideZeroToNineFailAndZeroDropsTheRecord) {
  struct Case {
    const char* generation;
    int expected;
  } cases[] = {{"10", -1}, {"-1", -1}, {"0", -2}, {"none", -2}};
  for (const Case& c : cases) {
    Conf(std::string("op_generation ") + c.generation + "\n");
    OnThread([&] { EXPECT_EQ(lwlog_op_rotate("20150715"), c.expected) << c.generation; });
  }
}

TEST_F(OpLogTest, WithoutAManagerAccountTheLogDirectoryIsNotCreated) {
  Registry(false);
  OnThread([&] {
    EXPECT_EQ(lwlog_op_mkdirs("20150715", dir_.Path("sitedb").c_str()), -1);
    EXPECT_EQ(lwlog_op_write("record"), -1);
  });
  EXPECT_FALSE(fs::exists(dir_.path() / "sitedb/spool/log"));

  // Once the directory exists, what is below it needs no account.
  fs::create_directories(dir_.path() / "sitedb/spool/log");
  OnThread([&] { EXPECT_EQ(lwlog_op_mkdirs("20150715", dir_.Path("sitedb").c_str()), 0); });
  EXPECT_TRUE(fs::exists(OpDir() + "/record_op_20150715.csv"));
}

TEST_F(OpLogTest, AnAppendWaitsForTheLockOfAnotherAppender) {
  Conf("op_log on\n");
  platform::SetClockForTest([] { return platform::UtcTime{1436954405, 7}; });  // 2015-07-15
  const std::string day = OpDir() + "/record_op_20150715.csv";
  OnThread([&] { ASSERT_EQ(lwlog_op_mkdirs("20150715", dir_.Path("sitedb").c_str()), 0); });
  platform::UniqueStream other(platform::OpenStream(day.c_str(), "a"));
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(platform::LockStreamRange(other.get(), 0, 1));

  // A thread of its own, with its own site database directory.
  std::future<int> append =
      std::async(std::launch::async, [] { return lwlog_op_write("the record"); });
  EXPECT_EQ(append.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  EXPECT_EQ(ReadFile(day), "");
  ASSERT_TRUE(platform::UnlockStreamRange(other.get(), 0, 1));
  EXPECT_EQ(append.get(), 0);
  EXPECT_EQ(ReadFile(day), "the record\n");
}

}  // namespace
