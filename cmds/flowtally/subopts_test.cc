#include "cmds/flowtally/subopts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cmds/flowtally/cmdline.h"
#include "cmds/flowtally/options.h"
#include "cmds/flowtally/test_hooks.h"
#include "cmds/flowtally/test_support.h"

namespace flowtally {
namespace {

// 2014-09-29 16:00:00 UTC: already 2014-09-30 01:00 in a UTC+9 zone, so "today" must be the
// local day, not the UTC one.
constexpr int64_t kClock = 1412006400;

class SubOptionsTest : public CommandTest {
 protected:
  SubOptionsTest() : CommandTest("JST-9", kClock) {}

  // parse_search_options on a writable copy of each text in turn; the result of the last
  // call (or the first that fails) and everything written on standard error.
  int search(std::vector<std::string> texts, std::string* err) {
    int ret = 0;
    *err = stderr_of([&] {
      for (std::string& t : texts) {
        ret = parse_search_options(t.data());
        if (ret != 0) break;
      }
    });
    return ret;
  }

  int print(std::string text, std::string* err) {
    int ret = 0;
    *err = stderr_of([&] { ret = parse_print_options(text.data()); });
    return ret;
  }
};

TEST(GetSubOptTest, ItemsKeysAndValues) {
  const char* const keys[] = {"name", "run", "tid", nullptr};
  char text[] = "name=A=B,run,RUN,nam,,tid=,foo=1";
  char* rest = text;
  char* value = nullptr;
  struct Step {
    int index;
    const char* value;  // nullptr: no value
  };
  const Step steps[] = {{0, "A=B"}, {1, nullptr}, {-1, "RUN"},   {-1, "nam"},
                        {-1, ""},   {2, ""},      {-1, "foo=1"}, {-1, nullptr}};
  for (const Step& s : steps) {
    EXPECT_EQ(s.index, getsubopt(&rest, keys, &value));
    if (s.value == nullptr) {
      EXPECT_EQ(nullptr, value);
    } else {
      ASSERT_NE(nullptr, value);
      EXPECT_STREQ(s.value, value);
    }
  }
  EXPECT_STREQ("", rest);
}

TEST_F(SubOptionsTest, SearchItemsAndCombinations) {
  const std::string kLastMsg = "Illegal combination (-j last and other options)\n";
  const std::string kPrepMsg = "Illegal combination (-j prep and other options)\n";
  const std::string kTrkMsg = "Illegal combination (-j trk and other options)\n";
  const std::string kDateTodayMsg = "Illegal combination (-j date and today)\n";
  struct Case {
    std::vector<std::string> texts;
    int ret;
    std::string err;
  };
  const Case cases[] = {
      {{""}, 0, ""},
      {{"foo,bar=1"}, 0, ""},  // unknown keys are skipped
      {{"run"}, 0, ""},
      {{"name=DAILY,last"}, 0, ""},
      {{"last,run"}, -1, kLastMsg},
      {{"last", "run"}, -1, kLastMsg},
      {{"last,date=20140901"}, -1, kLastMsg},
      {{"today,last"}, -1, kLastMsg},
      {{"prep,last"}, -1, kPrepMsg},
      {{"prep,run"}, -1, kPrepMsg},
      {{"prep,date=20140901"}, 0, ""},
      {{"prep,date=20140901,today"}, -1, kDateTodayMsg},
      {{"date=20140901", "today"}, -1, kDateTodayMsg},
      {{"trk=A.20140101000000,prep"}, 0, ""},
      {{"trk=A.20140101000000,tid=h:u:A.ksjnw"}, 0, ""},
      {{"trk=A.20140101000000,name=B"}, -1, kTrkMsg},
      {{"trk=A.20140101000000,last"}, -1, kTrkMsg},
      {{"prep,last,trk=A.20140101000000"}, -1, kTrkMsg},  // the trk rule is tested first
      {{"tid=h.machine,last"}, 0, ""},
      {{"name"}, -1, "Invalid parameter (-j name=JNW)\n"},
      {{"date"}, -1, "Invalid parameter (-j date=YYYYMMDD[-yyyymmdd])\n"},
      {{"date="}, -1, "Invalid date format (-j date):\n"},
      {{"date=13/1"}, -1, "Invalid date format (-j date):13/1\n"},
      {{"trk"}, -1, "Invalid trk parameter (-j trk=JNW.YYYYMMDDhhmmss)\n"},
      {{"tid"},
       -1,
       "Invalid tid parameter (-j tid=hostname.machine\n"
       "                             |hostname:username.user\n"
       "                             |hostname:username:JNW.ksjnw\n"
       "                             |hostname:username:JNW.YYYYMMDDhhmmss.kstrk)\n"},
  };
  for (const Case& c : cases) {
    reset_options_state();
    std::string err;
    std::string label;
    for (const std::string& t : c.texts) label += "-j " + t + " ";
    EXPECT_EQ(c.ret, search(c.texts, &err)) << label;
    EXPECT_EQ(c.err, err) << label;
  }
}

TEST_F(SubOptionsTest, SearchValues) {
  std::string err;
  ASSERT_EQ(0, search({"name=DAILY,run"}, &err));
  EXPECT_EQ(1, g_options.srch_name);
  EXPECT_EQ(1, g_options.srch_run);
  EXPECT_STREQ("DAILY", g_options.search_key);

  reset_options_state();
  ASSERT_EQ(0, search({"name=A", "tid=h:u.user"}, &err));  // the last key given wins
  EXPECT_STREQ("h:u.user", g_options.search_key);
}

TEST_F(SubOptionsTest, EmptyTrkValueClearsTheKey) {
  std::string err;
  ASSERT_EQ(0, search({"tid=x", "trk="}, &err));
  EXPECT_EQ(1, g_options.srch_trk);
  EXPECT_STREQ("", g_options.search_key);
}

TEST_F(SubOptionsTest, SearchKeyKeepsAtMost1023Characters) {
  std::string err;
  ASSERT_EQ(0, search({"name=" + std::string(2000, 'n')}, &err));
  EXPECT_EQ(kSearchKeyMax, std::string(g_options.search_key).size());
}

TEST_F(SubOptionsTest, EmptyNameEndsTheProcessWithTwo) {
  char text[] = "name=,last,run";
  EXPECT_EXIT(parse_search_options(text), testing::ExitedWithCode(2), "^No JNW detected.\n$");
}

TEST_F(SubOptionsTest, LastAndTodayUseTheLocalDay) {
  std::string err;
  ASSERT_EQ(0, search({"last"}, &err));
  EXPECT_STREQ("20140930", g_options.date_to);
  EXPECT_STREQ("", g_options.date_from);

  reset_options_state();
  ASSERT_EQ(0, search({"today"}, &err));
  EXPECT_STREQ("20140930", g_options.date_from);
  EXPECT_STREQ("20140930", g_options.date_to);
  EXPECT_STREQ("20140929150000", g_options.range_start);
  EXPECT_STREQ("20140930145959", g_options.range_end);
  EXPECT_EQ("", err);
}

TEST_F(SubOptionsTest, DateRangeBoundsAndTrace) {
  g_options.DebugKey = kDebugDateCnv;
  std::string err;
  ASSERT_EQ(0, search({"date=20140901-20140930"}, &err));
  EXPECT_STREQ("20140831150000", g_options.range_start);
  EXPECT_STREQ("20140930145959", g_options.range_end);
  EXPECT_EQ(
      "DateCnv: 20140901000000 -> 20140831150000\n"
      "DateCnv: 20140930235959 -> 20140930145959\n",
      err);
}

TEST_F(SubOptionsTest, DateValues) {
  struct Case {
    const char* value;
    const char* from;  // nullptr: refused
    const char* to;
    const char* err;
  };
  const Case cases[] = {
      {"20140901-20140930", "20140901", "20140930", ""},
      {"9/1", "20140901", "20140901", ""},
      {"14/9/1", "20140901", "20140901", ""},
      {"99/1/2", "19990102", "19990102", ""},
      {"2014/9/1", "20140901", "20140901", ""},
      {"5", "20140905", "20140905", ""},
      {"//9//1/", "20140901", "20140901", ""},
      {"--20140901", "20140901", "20140901", ""},
      {"20140901-", "20140901", "20140901", ""},
      {"9/1-10/31", "20140901", "20141031", ""},
      {"16/2/29", "20160229", "20160229", ""},
      {"2014/09/01-02014/09/30", "20140901", "20140930", ""},  // 22 characters
      {"", nullptr, nullptr, ""},
      {"2014/09/01-002014/09/30", nullptr, nullptr, "bad usage\n"},  // 23 characters
      {"13/1", nullptr, nullptr, ""},
      {"20141301", nullptr, nullptr, ""},
      {"9/0", nullptr, nullptr, ""},
      {"20140900", nullptr, nullptr, ""},
      {"0", nullptr, nullptr, ""},
      {"2/29", nullptr, nullptr, ""},  // 2014 is not a leap year
      {"9/31", nullptr, nullptr, ""},
      {"1/2/3/4", nullptr, nullptr, ""},
      {"/", nullptr, nullptr, ""},
      {"-", nullptr, nullptr, ""},
      {"abcdefgh", nullptr, nullptr, ""},
      {"9/1-13/1", nullptr, nullptr, ""},
      {"1960/1/1", nullptr, nullptr, ""},  // before the clock's epoch
  };
  for (const Case& c : cases) {
    reset_options_state();
    std::string err;
    const int ret = search({std::string("date=") + c.value}, &err);
    if (c.from == nullptr) {
      EXPECT_EQ(-1, ret) << c.value;
      EXPECT_EQ(std::string(c.err) + "Invalid date format (-j date):" + c.value + "\n", err)
          << c.value;
      continue;
    }
    EXPECT_EQ(0, ret) << c.value;
    EXPECT_EQ("", err) << c.value;
    EXPECT_EQ(1, g_options.srch_date) << c.value;
    EXPECT_STREQ(c.from, g_options.date_from) << c.value;
    EXPECT_STREQ(c.to, g_options.date_to) << c.value;
    EXPECT_EQ(14u, std::string(g_options.range_start).size()) << c.value;
    EXPECT_EQ(14u, std::string(g_options.range_end).size()) << c.value;
  }
}

TEST_F(SubOptionsTest, PrintItems) {
  struct Case {
    const char* text;
    int ret;
    const char* err;
    int format, style, ujonly, erronly, output, notitle;
  };
  const Case cases[] = {
      {"", 0, "", 0, 0, 0, 0, 0, 0},
      {"format=csv", 0, "", 1, 0, 0, 0, 0, 0},
      {"format=csv,format=rd", 0, "", 0, 0, 0, 0, 0, 0},
      {"format=csv,format=xml", 0, "", 1, 0, 0, 0, 0, 0},
      {"format=csv,format,format=", 0, "", 1, 0, 0, 0, 0, 0},
      {"format=CSV", 0, "", 0, 0, 0, 0, 0, 0},
      {"style=2", 0, "", 0, 2, 0, 0, 0, 0},
      {"style=2,style=", 0, "", 0, 2, 0, 0, 0, 0},
      {"style=x", 0, "", 0, 0, 0, 0, 0, 0},
      {"ujonly,erronly,output,notitle", 0, "", 0, 0, 1, 1, 1, 1},
      {"foo", -1, "Invalid option: foo\n", 0, 0, 0, 0, 0, 0},
      {"format=csv,bar=1,ujonly", -1, "Invalid option: bar=1\n", 1, 0, 0, 0, 0, 0},
      {"Ujonly", -1, "Invalid option: Ujonly\n", 0, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    reset_options_state();
    std::string err;
    EXPECT_EQ(c.ret, print(c.text, &err)) << c.text;
    EXPECT_EQ(c.err, err) << c.text;
    EXPECT_EQ(c.format, g_options.prt_format) << c.text;
    EXPECT_EQ(c.style, g_options.prt_style) << c.text;
    EXPECT_EQ(c.ujonly, g_options.prt_ujonly) << c.text;
    EXPECT_EQ(c.erronly, g_options.prt_erronly) << c.text;
    EXPECT_EQ(c.output, g_options.prt_output) << c.text;
    EXPECT_EQ(c.notitle, g_options.prt_notitle) << c.text;
  }
}

}  // namespace
}  // namespace flowtally
