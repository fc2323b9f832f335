#include "environment/datestr.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/testing.h"

namespace {

TEST(DatestrTest, CnvStrTime) {
  struct Case {
    const char* stamp;
    int64_t value;
    int result;
  };
  const Case cases[] = {
      {"20000229000000", 951782400, 0},
      {"20000301000000", 951868800, 0},
      {"19700101000000", 0, -1},  // the epoch itself counts as a failure
      {"19700101000001", 1, 0},
      {"19700101250000", 90000, 0},       // hours are not range-checked
      {"19700132000000", 31 * 86400, 0},  // nor days: January 32 is February 1
      {"2014010112000", 0, -1},           // 13 digits
      {"2014010112000x", 0, -1},
      {"", 0, -1},
      {"-", -1, 0},
      {"--", 0, -1},
      {"20140101120000 trailing", 1388577600, 0},
  };
  for (const Case& c : cases) {
    int64_t t = 12345;
    EXPECT_EQ(svlib_CnvStrTime(c.stamp, &t), c.result) << c.stamp;
    EXPECT_EQ(t, c.value) << c.stamp;
  }
}

// The arithmetic conversion must agree with the platform's UTC break-down over the range the
// product uses, leap days and year ends included.
TEST(DatestrTest, StampRoundTrip) {
  const char* stamps[] = {"19700101000001", "19711231235959", "19720229120000",
                          "19730101000000", "19991231235959", "20000229000000",
                          "20380119031408", "20960229000000", "20991231235959"};
  for (const char* stamp : stamps) {
    int64_t t = 0;
    ASSERT_EQ(svlib_CnvStrTime(stamp, &t), 0) << stamp;
    char out[kTimeStampSize];
    EXPECT_EQ(svlib_CnvTimeStr(t, out), 0);
    EXPECT_STREQ(out, stamp);
  }
}

// Years beyond four digits, and days far out, are refused instead of overflowing the count.
TEST(DatestrTest, Ymd2dayRange) {
  EXPECT_EQ(ymd2day(1970, 1, 1), 0);
  EXPECT_EQ(ymd2day(9999, 12, 31), 2932956);  // the edges still count
  EXPECT_EQ(ymd2day(0, 1, 1), -719542);
  EXPECT_EQ(ymd2day(10000, 1, 1), 0);
  EXPECT_EQ(ymd2day(-1, 1, 1), 0);
  EXPECT_EQ(ymd2day(2147483647, 12, 31), 0);
  EXPECT_EQ(ymd2day(-2147483647 - 1, 1, 1), 0);
  EXPECT_EQ(ymd2day(2014, 1, 2147483647), 0);
}

TEST(DatestrTest, CnvTimeStr) {
  struct Case {
    int64_t t;
    const char* text;
  };
  const Case cases[] = {
      {0, "19700101000000"},
      {-1, "-"},
      {-86400, "-"},
      {951868800, "20000301000000"},
      {253402300799, "99991231235959"},
      {253402300800, "-"},  // year 10000 has no 14-digit stamp
      {INT64_MAX, "-"},
  };
  for (const Case& c : cases) {
    char out[kTimeStampSize + 1];
    std::memset(out, 'X', sizeof out);
    EXPECT_EQ(svlib_CnvTimeStr(c.t, out), 0);
    EXPECT_STREQ(out, c.text) << c.t;
    EXPECT_EQ(out[kTimeStampSize], 'X') << c.t;
  }
}

TEST(DatestrTest, CmpStrTime) {
  struct Case {
    const char* a;
    const char* b;
    int result;
  };
  const Case cases[] = {
      {"20140102", "20140101235959", 1},
      {"201401", "20140101000000", 0},  // a prefix of b compares equal
      {"20140101000000", "201401", 1},
      {"20140101000000", "20140101000001", -1},
      {"20140101000000", "20140101000000", 0},
      {"20140101000000x", "20140101000000y", 0},  // only 14 pairs count
      {"-", "20140101000000", -1},
      {"\x80", "0", -1},  // signed bytes: 0x80 is below '0'
      {"", "", 0},
      {"", "2014", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(svlib_CmpStrTime(c.a, c.b), c.result) << c.a << " vs " << c.b;
  }
}

TEST(DatestrTest, CnvLocalStr) {
  platform::test::ScopedZone tz("JST-9");
  struct Case {
    const char* local;
    int result;
    const char* utc;
  };
  const Case cases[] = {
      {"20140101000000", 0, "20131231150000"},
      {"20140101235959", 0, "20140101145959"},
      {"20141301000000", 0, "20141231150000"},  // month 13 is January of the next year
      {"-", 0, "-"},
      {"19700101000000", 0, "-"},  // before the epoch in UTC
      {"2014010100000", -1, "untouched"},
      {"", -1, "untouched"},
  };
  for (const Case& c : cases) {
    char out[kTimeStampSize] = "untouched";
    EXPECT_EQ(svlib_CnvLocalStr(c.local, out), c.result) << c.local;
    EXPECT_STREQ(out, c.utc) << c.local;
  }
}

}  // namespace
