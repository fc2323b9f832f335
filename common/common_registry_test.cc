#include "common/common_registry.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/test_hooks.h"
#include "platform/testing.h"

namespace {

TEST(CommonRegistryTest, KeysHoldCopiesAndCompareWithoutCase) {
  UniqueCommonRegistry reg(common_reg_create_registry());
  char text[] = "/srv/site-a";
  CommonRegObject* key = common_reg_create_key(reg.get(), "SiteA");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(common_reg_set_str(key, text), 0);
  text[0] = 'X';  // the key keeps its own copy

  EXPECT_EQ(common_reg_find_key(reg.get(), "sitea"), key);
  EXPECT_EQ(common_reg_find_key(reg.get(), "SITEA"), key);
  EXPECT_STREQ(common_reg_get_str(common_reg_find_key(reg.get(), "siteA")), "/srv/site-a");
  EXPECT_EQ(common_reg_find_key(reg.get(), "site"), nullptr);
  EXPECT_EQ(common_reg_find_key(reg.get(), "siteab"), nullptr);
  EXPECT_EQ(common_reg_find_key(reg.get(), nullptr), nullptr);
  EXPECT_EQ(common_reg_find_key(key, "sitea"), nullptr);  // a key holds no keys

  // Creating a name again gives the existing key with its text.
  EXPECT_EQ(common_reg_create_key(reg.get(), "SITEa"), key);
  EXPECT_STREQ(common_reg_get_str(key), "/srv/site-a");
  EXPECT_EQ(common_reg_set_str(key, "/other"), 0);
  EXPECT_STREQ(common_reg_get_str(key), "/other");

  CommonRegObject* empty = common_reg_create_key(reg.get(), "");
  EXPECT_EQ(common_reg_set_str(empty, nullptr), 0);
  EXPECT_STREQ(common_reg_get_str(common_reg_find_key(reg.get(), "")), "");
}

TEST(CommonRegistryTest, BucketHash) {
  EXPECT_EQ(common_reg_bucket(""), 0u);
  EXPECT_EQ(common_reg_bucket("a"), 97u);
  EXPECT_EQ(common_reg_bucket("ab"), (97u * 243 + 98) % 8192);
  EXPECT_EQ(common_reg_bucket("AB"), common_reg_bucket("ab"));
  // Bytes above 127 are taken unsigned and are not folded.
  EXPECT_EQ(common_reg_bucket("\xC4"), 0xC4u);
}

TEST(CommonRegistryTest, NamesInOneBucketAreChained) {
  // The fullest bucket of the three-letter names.
  std::vector<std::vector<std::string>> buckets(kCommonRegBuckets);
  for (char a = 'a'; a <= 'z'; ++a) {
    for (char b = 'a'; b <= 'z'; ++b) {
      for (char c = 'a'; c <= 'z'; ++c) {
        std::string name{a, b, c};
        buckets[common_reg_bucket(name.c_str())].push_back(name);
      }
    }
  }
  std::vector<std::string> same;
  for (const auto& bucket : buckets) {
    if (bucket.size() > same.size()) same = bucket;
  }
  ASSERT_GE(same.size(), 2u);

  UniqueCommonRegistry reg(common_reg_create_registry());
  for (const std::string& name : same) {
    common_reg_set_str(common_reg_create_key(reg.get(), name.c_str()), ("dir-" + name).c_str());
  }
  for (const std::string& name : same) {
    CommonRegObject* key = common_reg_find_key(reg.get(), name.c_str());
    ASSERT_NE(key, nullptr) << name;
    EXPECT_EQ(common_reg_get_str(key), "dir-" + name);
  }

  // More keys than buckets.
  for (int i = 0; i < 20000; ++i) {
    std::string name = "site" + std::to_string(i);
    common_reg_set_str(common_reg_create_key(reg.get(), name.c_str()), name.c_str());
  }
  for (int i = 0; i < 20000; i += 997) {
    std::string name = "SITE" + std::to_string(i);
    EXPECT_EQ(common_reg_get_str(common_reg_find_key(reg.get(), name.c_str())),
              "site" + std::to_string(i));
  }
}

TEST(CommonRegistryDeathTest, MisuseAndExhaustionEndTheProcessWithCode1) {
#ifdef _WIN32
  // GoogleTest's own expressions on Windows know no brackets or counts.
  const std::string head = R"(^\[.+\]:\d\d\d\d\d+:ERR:common_registry\(\d+\):)";
#else
  const std::string head = R"(^\[[0-9/ :.]+\]:[0-9]{5,}:ERR:common_registry\([0-9]+\):)";
#endif
  struct {
    const char* what;
    std::function<void()> run;
    const char* line;
  } cases[] = {
      {"text of a key without one",
       [] {
         CommonRegObject* reg = common_reg_create_registry();
         common_reg_get_str(common_reg_create_key(reg, "k"));
       },
       R"(common_reg_get_str\(\): Assert: This obj is string!!)"},
      {"text of the registry itself", [] { common_reg_get_str(common_reg_create_registry()); },
       R"(common_reg_get_str\(\): Assert: This obj is string!!)"},
      {"key under a key",
       [] {
         CommonRegObject* reg = common_reg_create_registry();
         common_reg_create_key(common_reg_create_key(reg, "k"), "sub");
       },
       R"(common_reg_create_key\(\): Assert: No space obj\.)"},
      {"key without a registry", [] { common_reg_create_key(nullptr, "k"); },
       R"(common_reg_create_key\(\): Assert: No space obj\.)"},
      {"destroying a key",
       [] {
         CommonRegObject* reg = common_reg_create_registry();
         common_reg_destroy_registry(common_reg_create_key(reg, "k"));
       },
       R"(common_reg_destroy_registry\(\): Assert: No root object\.)"},
      {"heap exhausted at the registry",
       [] {
         CommonRegFailAllocationsAfterForTest(0);
         common_reg_create_registry();
       },
       R"(common_reg_create_registry\(\): Assert: malloc failure\. exit!!)"},
      {"heap exhausted at a key",
       [] {
         CommonRegObject* reg = common_reg_create_registry();
         CommonRegFailAllocationsAfterForTest(0);
         common_reg_create_key(reg, "k");
       },
       R"(common_reg_create_key\(\): Assert: malloc failure\. exit!!)"},
      {"heap exhausted at a text",
       [] {
         CommonRegObject* reg = common_reg_create_registry();
         CommonRegObject* key = common_reg_create_key(reg, "k");
         CommonRegFailAllocationsAfterForTest(0);
         common_reg_set_str(key, "text");
       },
       R"(common_reg_set_str\(\): Assert: malloc failure\. exit!!)"},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          platform::test::NoLeakReportInThisChild();
          c.run();
        },
        ::testing::ExitedWithCode(1), head + c.line + "\n$")
        << c.what;
  }
}

}  // namespace
