#include "common/ksaccount.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/ksreg.h"
#include "common/lwpw.h"
#include "common/test_hooks.h"
#include "platform/account.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "platform/test_hooks.h"
#include "platform/testing.h"

namespace {

using platform::AccountUse;

// Every test starts with nothing kept (retry counts, names, identifiers, records); pauses are
// recorded instead of taken, and the machine has no domain unless a test gives it one.
class KSAccountTest : public ::testing::Test {
 protected:
  KSAccountTest() {
    Forget();
    platform::SetSleepForTest([this](uint32_t ms) { pauses_.push_back(ms); });
    SetMachineDomain("");
    EXPECT_TRUE(platform::GetHostName(&host_));
  }
  ~KSAccountTest() override {
    platform::SetSleepForTest(nullptr);
    platform::SetMachineDomainForTest(nullptr);
    Forget();
  }
  static void Forget() {
    KSRegResetRetryForTest();
    KSAccountResetForTest();
    lw_PwResetForTest();
    platform::RegistryCallsForTest() = {};
  }
  void SetMachineDomain(const std::string& domain) {
    platform::SetMachineDomainForTest([domain](const char*, uint32_t, std::string* out) {
      *out = domain;
      return 0u;
    });
  }
  // The text of a registry file: values under the product key, then further lines.
  void UseRegistry(const std::string& values, const std::string& more = "") {
    platform::test::WriteFile(file_, platform::test::RegistryText(values) + more);
    registry_.Set(file_.c_str());
  }
  // Looks name up with buffers of the usual sizes; "" for a failure.
  std::string LookupSid(const std::string& name, AccountUse* use = nullptr) {
    char sid[kKSSidBufSize];
    char domain[kKSDomainBufSize];
    uint32_t sid_size = sizeof sid, domain_size = sizeof domain;
    AccountUse found = AccountUse::kNone;
    if (!KSLookupAccountName(nullptr, name.c_str(), sid, &sid_size, domain, &domain_size, &found)) {
      return "";
    }
    if (use != nullptr) *use = found;
    return sid;
  }

  platform::test::TempDir dir_{"ksaccount_test"};
  std::string file_ = dir_.Path("registry.reg");
  platform::test::ScopedRegistryFile registry_{nullptr};
  platform::test::ScopedEnv retry_{"KS_REGOPENKEYEX_RETRY", nullptr};
  std::vector<uint32_t> pauses_;
  std::string host_;
#ifdef _WIN32
  // The system's own identifier of the account that the tests run as.
  const std::string root_sid_ = [] {
    std::string sid;
    platform::LookupAccountName(nullptr, "root", &sid, nullptr, nullptr);
    return sid;
  }();
#else
  const std::string root_sid_ = "S-1-22-1-0";
#endif
};

uint32_t OpenProductKey(bool* got_key) {
  platform::RegKey raw = nullptr;
  uint32_t rc = KSRegOpenKeyEx(KSRegRoot::kLocalMachine, platform::kProductKeyPath, 0,
                               platform::RegAccess::kRead, &raw);
  *got_key = raw != nullptr;
  platform::UniqueRegKey key(raw);
  return rc;
}

TEST_F(KSAccountTest, OpenRetriesFollowTheEnvironment) {
  struct {
    const char* retry;  // KS_REGOPENKEYEX_RETRY; nullptr: absent
    bool unreadable;    // the registry file is a directory (5); else it does not exist (2)
    uint32_t rc;
    int opens;
  } cases[] = {
      {nullptr, true, 5, 5}, {nullptr, false, 2, 1},
      {"0", true, 5, 1},     {"-3", true, 5, 1},
      {"3", true, 5, 3},     {"abc", true, 5, 1},
      {"", true, 5, 5},      {"1234567890123456", true, 5, 5},  // over 15 characters
  };
  for (const auto& c : cases) {
    const std::string what =
        std::string(c.retry ? c.retry : "(absent)") + "/" + std::to_string(c.unreadable);
    retry_.Set(c.retry);
    Forget();
    pauses_.clear();
    registry_.Set(c.unreadable ? dir_.path().string().c_str() : file_.c_str());
    bool got_key = true;
    EXPECT_EQ(OpenProductKey(&got_key), c.rc) << what;
    EXPECT_FALSE(got_key) << what;
    EXPECT_EQ(platform::RegistryCallsForTest().opens, c.opens) << what;
    EXPECT_EQ(pauses_, std::vector<uint32_t>(c.opens - 1, 100)) << what;
  }

  // A negative count still opens: success always comes with a key.
  retry_.Set("-1");
  Forget();
  UseRegistry("");
  bool got_key = false;
  EXPECT_EQ(OpenProductKey(&got_key), 0u);
  EXPECT_TRUE(got_key);

  // Read once: a later change of the variable does not show.
  retry_.Set("2");
  Forget();
  registry_.Set(dir_.path().string().c_str());
  OpenProductKey(&got_key);
  retry_.Set("4");
  platform::RegistryCallsForTest() = {};
  OpenProductKey(&got_key);
  EXPECT_EQ(platform::RegistryCallsForTest().opens, 2);
}

TEST_F(KSAccountTest, QueryRetriesOnlyWhatMayChange) {
  UseRegistry("\"Text\"=\"abc\"\n\"Number\"=dword:0000002a\n\"Binary\"=hex:01,02\n");
  platform::RegKey raw = nullptr;
  ASSERT_EQ(KSRegOpenKeyEx(KSRegRoot::kLocalMachine, platform::kProductKeyPath, 0,
                           platform::RegAccess::kRead, &raw),
            0u);
  platform::UniqueRegKey key(raw);
  struct {
    const char* name;
    uint32_t capacity;
    uint32_t rc;
    uint32_t size;  // on return
    const char* data;
    size_t pauses;
  } cases[] = {
      {"text", 4, 0, 4, "abc", 0},    // exactly fits with its terminator
      {"Text", 3, 234, 4, "", 0},     // nothing stored, and the buffer will not grow
      {"Missing", 16, 2, 16, "", 0},  // will not appear by waiting
      {"Binary", 16, 13, 16, "", 4},  // a type the store cannot hand out (yet)
      {"Number", 4, 0, 4, "*", 0},    // 42, stored as four bytes
  };
  for (const auto& c : cases) {
    pauses_.clear();
    char data[16] = {};
    uint32_t size = c.capacity;
    EXPECT_EQ(KSRegQueryValueEx(key.get(), c.name, nullptr, nullptr, data, &size), c.rc);
    EXPECT_EQ(size, c.size) << c.name;
    EXPECT_STREQ(data, c.data) << c.name;
    EXPECT_EQ(pauses_.size(), c.pauses) << c.name;
  }
  retry_.Set("0");
  KSRegResetRetryForTest();
  pauses_.clear();
  char data[16];
  uint32_t size = sizeof data;
  EXPECT_EQ(KSRegQueryValueEx(key.get(), "Binary", nullptr, nullptr, data, &size), 13u);
  EXPECT_TRUE(pauses_.empty());
}

TEST_F(KSAccountTest, ManagerAndGroupNames) {
  UseRegistry("\"KSMgrAccount\"=\"kmgr\"\n\"KSOpGroup\"=\"kops\"\n");
  EXPECT_STREQ(GetKSmgrname(), "kmgr");
  EXPECT_STREQ(GetKSgrpname(), "kops");
  // The kept names survive a change or loss of the registry; the fresh reader follows it.
  UseRegistry("\"KSMgrAccount\"=\"other\"\n");
  EXPECT_STREQ(KSMgrAccountName(), "other");
  std::filesystem::remove(file_);
  EXPECT_STREQ(GetKSmgrname(), "kmgr");
  EXPECT_STREQ(GetKSgrpname(), "kops");
  EXPECT_EQ(KSMgrAccountName(), nullptr);
  EXPECT_EQ(platform::GetLastError(), 2u);

  // A name that does not fit its buffer with its terminator is refused, never cut.
  const std::string kept(kKSNameBufSize - 1, 'm');
  const std::string fresh(kKSMgrAccountBufSize - 1, 'f');
  struct {
    std::string value;
    bool kept_ok;
    bool fresh_ok;
  } cases[] = {
      {kept, true, true},
      {kept + "m", false, true},
      {fresh, false, true},
      {fresh + "f", false, false},
  };
  for (const auto& c : cases) {
    Forget();
    UseRegistry("\"KSMgrAccount\"=\"" + c.value + "\"\n");
    const char* name = GetKSmgrname();
    EXPECT_EQ(name != nullptr && name == c.value, c.kept_ok) << c.value.size();
    if (!c.kept_ok) {
      EXPECT_EQ(platform::GetLastError(), 234u);
    }
    name = KSMgrAccountName();
    EXPECT_EQ(name != nullptr && name == c.value, c.fresh_ok) << c.value.size();
  }
}

TEST_F(KSAccountTest, LookupQualifiesTheName) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine's account lookup ignores the domain of a qualified name";
#endif
  // A machine domain that does not hold built-in groups, so qualifying them would fail.
  SetMachineDomain("CORP");
  struct {
    std::string name;
    const char* sid;  // "": the lookup fails
    AccountUse use;
  } cases[] = {
      {host_ + "\\Administrators", "S-1-5-32-544", AccountUse::kAlias},
      {"BUILTIN\\Everyone", "S-1-1-0", AccountUse::kWellKnownGroup},
      {"builtin\\EVERYONE", "S-1-1-0", AccountUse::kWellKnownGroup},
      {"users", "S-1-5-32-545", AccountUse::kAlias},
      {host_ + "\\root", "S-1-22-1-0", AccountUse::kUser},  // taken as it is
      {"Elsewhere\\root", "", AccountUse::kNone},
      {"root", "S-1-22-1-0", AccountUse::kUser},  // as CORP\root
  };
  for (const auto& c : cases) {
    AccountUse use = AccountUse::kNone;
    EXPECT_EQ(LookupSid(c.name, &use), c.sid) << c.name;
    EXPECT_EQ(use, c.use) << c.name;
  }
  for (const char* name : {"Administrators", "performance log users", "SYSTEM"}) {
    EXPECT_EQ(KSIsWellKnownAccount(name), 1) << name;
  }
  for (const char* name :
       {"Remote Desktop", "BUILTIN\\Users", "root", "", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(KSIsWellKnownAccount(name), 0) << (name ? name : "(null)");
  }
}

TEST_F(KSAccountTest, BareNameWithoutRecordTakesTheMachineDomain) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine's account lookup ignores the domain of a qualified name";
#endif
  UseRegistry("");  // no user records
  // The first answer qualifies the name as CORP\root; a machine that has left CORP since then
  // no longer holds that account, which shows that the domain was put in front.
  int queries = 0;
  platform::SetMachineDomainForTest([&](const char* server, uint32_t level, std::string* out) {
    EXPECT_EQ(server, nullptr);
    EXPECT_EQ(level, 2u);
    *out = ++queries == 1 ? "CORP" : "";
    return 0u;
  });
  EXPECT_EQ(LookupSid("root"), "");
  EXPECT_EQ(platform::GetLastError(), platform::kErrorNoneMapped);

  // No domain to be had: the bare name, after the query's retries.
  platform::SetMachineDomainForTest([](const char*, uint32_t, std::string*) { return 1722u; });
  EXPECT_EQ(LookupSid("root"), "S-1-22-1-0");
  EXPECT_EQ(pauses_, std::vector<uint32_t>(6, 100));
}

TEST_F(KSAccountTest, UserWithRecordIsLookedUpAsRecorded) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine's account lookup ignores the domain of a qualified name";
#endif
  // "Admin1" is the product's name of the account that the system calls root.
  auto records = [](const std::string& domain) {
    return "[HKEY_LOCAL_MACHINE\\Software\\Orv\\Kestrune/SV\\LW_PW\\name]\n"
           "\"homedir_Admin1\"=\"/root\"\n\"uid_Admin1\"=\"0\"\n"
           "\"domainname_Admin1\"=\"" +
           domain +
           "\"\n[HKEY_LOCAL_MACHINE\\Software\\Orv\\Kestrune/SV\\LW_PW\\uid]\n"
           "\"name_0\"=\"root\"\n\"homedir_0\"=\"/root\"\n\"domainname_0\"=\"" +
           domain + "\"\n";
  };
  UseRegistry("", records(host_));
  EXPECT_EQ(LookupSid("admin1"), "S-1-22-1-0");
  lw_PwResetForTest();
  UseRegistry("", records("Elsewhere"));
  EXPECT_EQ(LookupSid("Admin1"), "");
  EXPECT_EQ(platform::GetLastError(), platform::kErrorNoneMapped);
}

TEST_F(KSAccountTest, LookupArgumentsAndBuffers) {
  char sid[kKSSidBufSize];
  char domain[kKSDomainBufSize];
  uint32_t sid_size = 4, domain_size = 2;
  AccountUse use = AccountUse::kNone;
  for (const char* name : {static_cast<const char*>(nullptr), ""}) {
    EXPECT_EQ(KSLookupAccountName(nullptr, name, sid, &sid_size, domain, &domain_size, &use), 0);
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidServiceAccount);
  }
  // Too small: both sizes needed are reported, terminators included.
  EXPECT_EQ(KSLookupAccountName(nullptr, "SYSTEM", sid, &sid_size, domain, &domain_size, &use), 0);
  EXPECT_EQ(platform::GetLastError(), platform::kErrorInsufficientBuffer);
  EXPECT_EQ(sid_size, sizeof "S-1-5-18");
  EXPECT_EQ(domain_size, sizeof "NT AUTHORITY");
  EXPECT_NE(KSLookupAccountName(nullptr, "SYSTEM", sid, &sid_size, domain, &domain_size, &use), 0);
  EXPECT_STREQ(domain, "NT AUTHORITY");
}

TEST_F(KSAccountTest, ManagerSid) {
  std::vector<std::string> non_users = {"Administrators", "Everyone"};
  for (const char* group : {"nogroup", "daemon"}) {
    AccountUse use = AccountUse::kNone;
    if (platform::LookupAccountName(nullptr, group, nullptr, nullptr, &use) &&
        use == AccountUse::kGroup) {
      non_users.push_back(group);
    }
  }
  for (const std::string& name : non_users) {
    UseRegistry("\"KSMgrAccount\"=\"" + name + "\"\n");
    EXPECT_EQ(KSMgrSid(), nullptr) << name;
    EXPECT_EQ(platform::GetLastError(), platform::kErrorNoSuchUser) << name;
  }
  UseRegistry("");
  EXPECT_EQ(KSMgrSid(), nullptr);
  EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidServiceAccount);
  UseRegistry("\"KSMgrAccount\"=\"no-such-account-xq7\"\n");
  EXPECT_EQ(KSMgrSid(), nullptr);
  EXPECT_EQ(platform::GetLastError(), platform::kErrorNoneMapped);

  // Failures are not kept; the identifier found is.
  UseRegistry("\"KSMgrAccount\"=\"root\"\n");
  EXPECT_STREQ(KSMgrSid(), root_sid_.c_str());
  UseRegistry("\"KSMgrAccount\"=\"Administrators\"\n");
  EXPECT_STREQ(KSMgrSid(), root_sid_.c_str());
}

TEST_F(KSAccountTest, OperatorGroupSid) {
  std::string group, group_sid;
  for (const char* candidate : {"nogroup", "daemon"}) {
    AccountUse use = AccountUse::kNone;
    if (platform::LookupAccountName(nullptr, candidate, &group_sid, nullptr, &use) &&
        use == AccountUse::kGroup) {
      group = candidate;
      break;
    }
  }
  if (group.empty()) GTEST_SKIP() << "no group nogroup or daemon that is not also a user";
  UseRegistry("\"KSOpGroup\"=\"" + group + "\"\n");
  for (const char* domain : {host_.c_str(), "", static_cast<const char*>(nullptr)}) {
    const char* sid = KSOperatorGroupSid(domain);
    EXPECT_EQ(sid ? sid : "(null)", group_sid) << (domain ? domain : "(null)");
  }
  EXPECT_EQ(KSOperatorGroupSid("Elsewhere"), nullptr);
  EXPECT_EQ(platform::GetLastError(), platform::kErrorNoneMapped);

  // root is a user and a group, users a well-known account and (on most systems) a group:
  // the operator group is the group.
  std::string users_sid;  // stays empty, and the case is left out, without a group users
  platform::LookupGroupName("users", &users_sid);
  for (const auto& [name, expected] :
       {std::pair<std::string, std::string>{"root", "S-1-22-2-0"}, {"users", users_sid}}) {
    if (expected.empty()) continue;
    KSAccountResetForTest();
    UseRegistry("\"KSOpGroup\"=\"" + name + "\"\n");
    const char* sid = KSOperatorGroupSid(host_.c_str());
    EXPECT_EQ(sid ? sid : "(null)", expected) << name;
  }

  KSAccountResetForTest();
  UseRegistry("");
  EXPECT_EQ(KSOperatorGroupSid(host_.c_str()), nullptr);
  EXPECT_EQ(platform::GetLastError(), 2u);
}

}  // namespace
