#include "common/lwpw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/ksreg.h"
#include "common/test_hooks.h"
#include "platform/account.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/test_hooks.h"
#include "platform/testing.h"

namespace {

constexpr const char kNameKey[] = "[HKEY_LOCAL_MACHINE\\Software\\Orv\\Kestrune/SV\\LW_PW\\name]\n";
constexpr const char kUidKey[] = "[HKEY_LOCAL_MACHINE\\Software\\Orv\\Kestrune/SV\\LW_PW\\uid]\n";

std::string Value(const std::string& name, const std::string& text) {
  return "\"" + name + "\"=\"" + text + "\"\n";
}

// The two keys of one account: by-name values under name, by-number values under uid.
struct Account {
  std::string name = "alice";
  std::string uid = "1001";
  std::string uid_text;           // uid_<name> when it is written otherwise than uid
  std::string spelled = "Alice";  // name_<uid>
  std::string dir = "/home/alice";
  std::string domain = "CORP";

  std::string NameValues() const {
    return Value("homedir_" + name, "/by-name/" + name) +
           Value("uid_" + name, uid_text.empty() ? uid : uid_text) +
           Value("domainname_" + name, "by-name");
  }
  std::string UidValues() const {
    return Value("name_" + uid, spelled) + Value("homedir_" + uid, dir) +
           Value("domainname_" + uid, domain);
  }
};

class LwPwTest : public ::testing::Test {
 protected:
  LwPwTest() {
    KSRegResetRetryForTest();
    lw_PwResetForTest();
    platform::RegistryCallsForTest() = {};
    platform::SetSleepForTest([this](uint32_t ms) { pauses_.push_back(ms); });
  }
  ~LwPwTest() override {
    platform::SetSleepForTest(nullptr);
    platform::SetMachineDomainForTest(nullptr);
    KSRegResetRetryForTest();
    lw_PwResetForTest();
  }

  void UseRegistry(const std::string& product_values, const std::string& name_values,
                   const std::string& uid_values) {
    platform::test::WriteFile(file_, platform::test::RegistryText(product_values) + kNameKey +
                                         name_values + kUidKey + uid_values);
    registry_.Set(file_.c_str());
  }
  void UseAccount(const Account& a) { UseRegistry("", a.NameValues(), a.UidValues()); }

  platform::test::TempDir dir_{"lwpw_test"};
  std::string file_ = dir_.Path("registry.reg");
  platform::test::ScopedRegistryFile registry_{nullptr};
  platform::test::ScopedEnv retry_{"KS_REGOPENKEYEX_RETRY", nullptr};
  std::vector<uint32_t> pauses_;
};

TEST_F(LwPwTest, SecondLookupInAnotherCaseComesFromTheCache) {
  Account a;
  a.domain = "100%s%n%d";  // a text, never a format
  UseAccount(a);
  // The texts come from the uid key, which spells the name as the product does.
  PwRecord first;
  ASSERT_EQ(lw_GetPWbyname("alice", &first), 0);
  EXPECT_STREQ(first.pw_name, "Alice");
  EXPECT_EQ(first.pw_uid, 1001);
  EXPECT_STREQ(first.pw_dir, "/home/alice");
  EXPECT_STREQ(first.pw_domain, "100%s%n%d");
  EXPECT_STREQ(first.pw_shell, "/bin/sh");
  EXPECT_STREQ(first.pw_passwd, "");

  // Neither a changed nor a missing registry file shows through the cache.
  a.dir = "/elsewhere";
  UseAccount(a);
  std::filesystem::remove(file_);
  platform::RegistryCallsForTest() = {};
  for (const char* name : {"ALICE", "Alice", "alice"}) {
    PwRecord record;
    ASSERT_EQ(lw_GetPWbyname(name, &record), 0) << name;
    EXPECT_STREQ(record.pw_name, "Alice") << name;
    EXPECT_EQ(record.pw_uid, 1001) << name;
    EXPECT_STREQ(record.pw_dir, "/home/alice") << name;
    EXPECT_STREQ(record.pw_domain, "100%s%n%d") << name;
    EXPECT_STREQ(record.pw_shell, "/bin/sh") << name;
  }
  EXPECT_EQ(platform::RegistryCallsForTest().opens, 0);

  // Another name is not in the cache.
  PwRecord record;
  EXPECT_EQ(lw_GetPWbyname("bob", &record), -1);
}

TEST_F(LwPwTest, IncompleteOrUnusableRecordsFail) {
  const std::string longest(kPwValueBufSize - 1, 'd');
  const std::string longest_domain(kPwDomainSize - 1, 'd');
  struct Case {
    const char* what;
    Account account;
    bool drop_name_key = false;
    bool drop_uid_key = false;
    int rc = -1;
  };
  auto with = [](auto change) {
    Account a;
    change(a);
    return a;
  };
  std::vector<Case> cases = {
      {"no name key", Account{}, true, false},
      {"no uid key", Account{}, false, true},
      {"uid not a number", with([](Account& a) { a.uid = "12x"; })},
      {"uid empty", with([](Account& a) { a.uid = ""; })},
      {"uid beyond 32 bits", with([](Account& a) { a.uid = "4294967297"; })},
      {"uid with blanks", with([](Account& a) { a.uid_text = " 1001 "; }), false, false, 0},
      {"uid negative", with([](Account& a) { a.uid = "-2"; }), false, false, 0},
      {"home directory fills the buffer", with([&](Account& a) { a.dir = longest; }), false, false,
       0},
      {"home directory with no room for its end", with([&](Account& a) { a.dir = longest + "d"; })},
      {"name with no room for its end", with([&](Account& a) { a.spelled = longest + "n"; })},
      {"domain fills the record", with([&](Account& a) { a.domain = longest_domain; }), false,
       false, 0},
      {"domain too long for the record",
       with([&](Account& a) { a.domain = longest_domain + "d"; })},
  };
  for (const Case& c : cases) {
    lw_PwResetForTest();
    std::string text = platform::test::RegistryText("");
    if (!c.drop_name_key) text += kNameKey + c.account.NameValues();
    if (!c.drop_uid_key) text += kUidKey + c.account.UidValues();
    platform::test::WriteFile(file_, text);
    registry_.Set(file_.c_str());
    PwRecord record;
    record.pw_name = "untouched";
    EXPECT_EQ(lw_GetPWbyname("alice", &record), c.rc) << c.what;
    if (c.rc == 0) {
      EXPECT_EQ(std::string(record.pw_dir), c.account.dir) << c.what;
      EXPECT_EQ(std::string(record.pw_domain), c.account.domain) << c.what;
    } else {
      EXPECT_STREQ(record.pw_name, "untouched") << c.what;
    }
  }
}

TEST_F(LwPwTest, FailedLookupKeepsThePreviousRecordAndIsNotCached) {
  UseAccount(Account{});
  PwRecord record;
  ASSERT_EQ(lw_GetPWbyname("alice", &record), 0);
  Account broken;
  broken.name = "bob";
  broken.uid = "1002";
  broken.spelled = std::string(kPwValueBufSize, 'x');
  UseRegistry("", broken.NameValues(), broken.UidValues());
  PwRecord other;
  EXPECT_EQ(lw_GetPWbyname("bob", &other), -1);
  EXPECT_STREQ(record.pw_name, "Alice");
  EXPECT_STREQ(record.pw_dir, "/home/alice");

  broken.spelled = "Bob";
  UseRegistry("", broken.NameValues(), broken.UidValues());
  ASSERT_EQ(lw_GetPWbyname("bob", &other), 0);
  EXPECT_STREQ(other.pw_name, "Bob");
}

TEST_F(LwPwTest, BadArgumentsAndUnreadableRegistry) {
  UseAccount(Account{});
  PwRecord record;
  EXPECT_EQ(lw_GetPWbyname(nullptr, &record), -1);
  EXPECT_EQ(lw_GetPWbyname("alice", nullptr), -1);
  EXPECT_EQ(lw_GetPWbyname("", &record), -1);
  EXPECT_EQ(lw_GetPWbyname(std::string(256, 'a').c_str(), &record), -1);
  EXPECT_EQ(platform::RegistryCallsForTest().opens, 0);

  registry_.Set(dir_.path().string().c_str());  // a directory: every open fails with 5
  EXPECT_EQ(lw_GetPWbyname("alice", &record), -1);
  EXPECT_EQ(platform::RegistryCallsForTest().opens, 5);
  EXPECT_EQ(pauses_, std::vector<uint32_t>(4, 100));
}

// ---- The machine's domain query ------------------------------------------------------------

TEST_F(LwPwTest, DomainQueryRetries) {
  struct {
    const char* what;
    std::string settings;            // values under the product key
    std::vector<uint32_t> statuses;  // answers in turn; the last one repeats
    uint32_t rc;
    int calls;
    std::vector<uint32_t> pauses;
  } cases[] = {
      {"defaults, server unavailable", "", {1722}, 1722, 6, std::vector<uint32_t>(6, 100)},
      {"set, bad path",
       "\"RetryTimes\"=dword:00000002\n\"RetryInterval\"=dword:000000fa\n",
       {53},
       53,
       3,
       {250, 250, 250}},
      {"none", "\"RetryTimes\"=dword:00000000\n", {1722}, 1722, 1, {100}},
      {"at the limits: the defaults",
       "\"RetryTimes\"=dword:00000065\n\"RetryInterval\"=dword:0000ea61\n",
       {1722},
       1722,
       6,
       std::vector<uint32_t>(6, 100)},
      {"below the limits",
       "\"RetryTimes\"=dword:00000064\n\"RetryInterval\"=dword:0000ea60\n",
       {1722, 1722, 0},
       0,
       3,
       {60000, 60000}},
      {"other status: at once", "", {124}, 124, 1, {}},
  };
  for (const auto& c : cases) {
    lw_PwResetForTest();
    pauses_.clear();
    UseRegistry(c.settings, "", "");
    int calls = 0;
    platform::SetMachineDomainForTest([&](const char*, uint32_t, std::string* domain) {
      size_t i = std::min<size_t>(static_cast<size_t>(calls), c.statuses.size() - 1);
      ++calls;
      *domain = "CORP";
      return c.statuses[i];
    });
    UserModalsInfo2 info;
    EXPECT_EQ(lw_NetUserModalsGet(nullptr, 2, &info), c.rc) << c.what;
    EXPECT_EQ(calls, c.calls) << c.what;
    EXPECT_EQ(pauses_, c.pauses) << c.what;
    EXPECT_EQ(info.domain_name, c.rc == 0 ? "CORP" : "") << c.what;
  }
}

TEST_F(LwPwTest, DomainQuerySettingsAreReadOnce) {
  UseRegistry("\"RetryTimes\"=dword:00000001\n", "", "");
  int calls = 0;
  platform::SetMachineDomainForTest([&](const char*, uint32_t, std::string*) {
    ++calls;
    return 1722u;
  });
  UserModalsInfo2 info;
  EXPECT_EQ(lw_NetUserModalsGet(nullptr, 2, &info), 1722u);
  EXPECT_EQ(calls, 2);
  UseRegistry("\"RetryTimes\"=dword:00000003\n", "", "");
  calls = 0;
  EXPECT_EQ(lw_NetUserModalsGet(nullptr, 2, &info), 1722u);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(lw_NetUserModalsGet(nullptr, 2, nullptr), 87u);

  // The system's own answer: the local machine's domain, never "(none)".
  platform::SetMachineDomainForTest(nullptr);
  info.domain_name = "(untouched)";
  EXPECT_EQ(lw_NetUserModalsGet(nullptr, 2, &info), 0u);
  EXPECT_NE(info.domain_name, "(none)");
  EXPECT_NE(info.domain_name, "(untouched)");
}

}  // namespace
