#include "platform/account.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/test_hooks.h"
#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#endif

namespace platform {
namespace {

class AccountTest : public ::testing::Test {
 protected:
  AccountTest() {
    EXPECT_TRUE(GetHostName(&host_));
    EXPECT_FALSE(host_.empty());
  }
  ~AccountTest() override { SetMachineDomainForTest(nullptr); }

  std::string host_;
};

TEST_F(AccountTest, NamesAndIdentifiersMapBothWays) {
  struct Case {
    std::string name;
    std::string sid;
    std::string domain;
    AccountUse use;
  };
  std::vector<Case> cases = {
      {"Administrators", "S-1-5-32-544", "BUILTIN", AccountUse::kAlias},
      {"Remote Desktop Users", "S-1-5-32-555", "BUILTIN", AccountUse::kAlias},
      {"Everyone", "S-1-1-0", "", AccountUse::kWellKnownGroup},
      {"SYSTEM", "S-1-5-18", "NT AUTHORITY", AccountUse::kWellKnownGroup},
  };
#ifndef _WIN32
  // The system's own accounts and groups, as the identifiers of this machine's domain.
  cases.push_back({"root", "S-1-22-1-0", host_, AccountUse::kUser});
  if (const struct passwd* me = getpwuid(geteuid())) {
    cases.push_back(
        {me->pw_name, "S-1-22-1-" + std::to_string(me->pw_uid), host_, AccountUse::kUser});
  }
  for (const char* group : {"nogroup", "daemon"}) {
    const struct group* gr = getgrnam(group);
    if (gr != nullptr && getpwnam(group) == nullptr) {
      cases.push_back({group, "S-1-22-2-" + std::to_string(gr->gr_gid), host_, AccountUse::kGroup});
    }
  }
#endif
  for (const Case& c : cases) {
    std::string sid, domain, name;
    AccountUse use = AccountUse::kNone;
    ASSERT_TRUE(LookupAccountName(nullptr, c.name.c_str(), &sid, &domain, &use)) << c.name;
    EXPECT_EQ(sid, c.sid) << c.name;
    EXPECT_EQ(domain, c.domain) << c.name;
    EXPECT_EQ(use, c.use) << c.name;
    ASSERT_TRUE(LookupAccountSid(c.sid.c_str(), &name, &domain, &use)) << c.sid;
    EXPECT_EQ(name, c.name) << c.sid;
    EXPECT_EQ(domain, c.domain) << c.sid;
  }
}

TEST_F(AccountTest, IdentifiersThatNameNothing) {
  struct Case {
    const char* sid;
    uint32_t error;
  };
  std::vector<Case> cases = {
      {nullptr, kErrorInvalidParameter},
      {"root", kErrorInvalidSid},
      {"S-1-5-21-1-2-3", kErrorNoneMapped},
  };
#ifndef _WIN32
  // Texts that the Windows build leaves to the system's parser (Wine's takes "" and "S-1" for
  // identifiers), and the identifiers of this machine's own accounts.
  for (const Case& c : std::vector<Case>{{"", kErrorInvalidSid},
                                         {"S-1", kErrorInvalidSid},
                                         {"S-1-22-1-", kErrorInvalidSid},
                                         {"S-1-22-1-x", kErrorInvalidSid},
                                         {"S-1-22-1-99999999999", kErrorNoneMapped}}) {
    cases.push_back(c);
  }
#endif
  for (const auto& c : cases) {
    std::string name = "untouched";
    EXPECT_FALSE(LookupAccountSid(c.sid, &name, nullptr, nullptr)) << (c.sid ? c.sid : "null");
    EXPECT_EQ(GetLastError(), c.error) << (c.sid ? c.sid : "null");
    EXPECT_EQ(name, "untouched");
  }
}

#ifndef _WIN32
using AccountPosixTest = AccountTest;

TEST_F(AccountPosixTest, QualifiedNamesMatchTheirDomain) {
  SetMachineDomainForTest([](const char*, uint32_t, std::string* domain) {
    *domain = "CORP";
    return 0u;
  });
  struct {
    std::string system;
    std::string name;
    const char* sid;  // nullptr: fails with error
    uint32_t error;
  } cases[] = {
      {"", "builtin\\ADMINISTRATORS", "S-1-5-32-544", 0},
      {"", "\\everyone", "S-1-1-0", 0},
      {"", "NT Authority\\System", "S-1-5-18", 0},
      {host_, host_ + "\\root", "S-1-22-1-0", 0},
      {"", "corp\\root", "S-1-22-1-0", 0},  // local accounts answer to the machine's domain
      {"", "CORP\\Administrators", nullptr, kErrorNoneMapped},
      {"", "BUILTIN\\root", nullptr, kErrorNoneMapped},
      {"", "Elsewhere\\root", nullptr, kErrorNoneMapped},
      {"", "BUILTIN\\", nullptr, kErrorNoneMapped},
      {"", "", nullptr, kErrorNoneMapped},
      {"", "no-such-account-xq7", nullptr, kErrorNoneMapped},
      {"another-machine-xq7", "root", nullptr, kErrorRpcServerUnavailable},
  };
  for (const auto& c : cases) {
    std::string sid = "untouched";
    SetLastError(0);
    bool found = LookupAccountName(c.system.c_str(), c.name.c_str(), &sid, nullptr, nullptr);
    EXPECT_EQ(found, c.sid != nullptr) << c.name;
    EXPECT_EQ(sid, c.sid ? c.sid : "untouched") << c.name;
    EXPECT_EQ(GetLastError(), c.error) << c.name;
  }
  EXPECT_FALSE(LookupAccountName(nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

TEST_F(AccountPosixTest, MachineDomain) {
  char buf[256] = {};
  ASSERT_EQ(getdomainname(buf, sizeof buf - 1), 0);
  std::string domain = "untouched";
  ASSERT_EQ(MachineDomain(host_.c_str(), 2, &domain), 0u);
  EXPECT_EQ(domain, std::string(buf) == "(none)" ? "" : buf);
  EXPECT_EQ(MachineDomain(nullptr, 1, &domain), kErrorInvalidLevel);
  EXPECT_EQ(MachineDomain("another-machine-xq7", 2, &domain), kNetBadNetPath);
}
#endif

}  // namespace
}  // namespace platform
