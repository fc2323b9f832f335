#include "platform/clock.h"

#include <cstdint>
#include <ctime>

#include "gtest/gtest.h"
#include "platform/testing.h"

namespace platform {
namespace {

#ifndef _WIN32
// LocalTime converts most times by arithmetic from an offset it has checked for the hour; every
// field must still be what the system's own conversion gives, in zones with odd offsets,
// changes of offset within a day, and leap seconds.
TEST(LocalTimePosixTest, AgreesWithTheSystemAroundChangesOfOffset) {
  const char* const zones[] = {"UTC0",
                               "Europe/Berlin",
                               "America/St_Johns",
                               "Asia/Kathmandu",
                               "Australia/Lord_Howe",
                               "right/UTC",
                               "EST5EDT,M3.2.0,M11.1.0"};
  // Around the spring and autumn changes of 2026 in both hemispheres, a leap second, and dates
  // before 1970.
  const int64_t centres[] = {1774746000, 1792890000,          1775318400, 1791043200,
                             1483228800, -86400 * 365 * 30LL, 4102444800};
  for (const char* zone : zones) {
    test::ScopedZone tz(zone);
    for (int64_t centre : centres) {
      for (int64_t t = centre - 2 * 86400; t < centre + 2 * 86400; t += 599) {
        std::tm mine{};
        std::tm system{};
        const time_t tt = static_cast<time_t>(t);
        ASSERT_TRUE(LocalTime(t, &mine));
        ASSERT_NE(nullptr, localtime_r(&tt, &system));
        SCOPED_TRACE(testing::Message() << zone << " t=" << t);
        ASSERT_EQ(system.tm_year, mine.tm_year);
        ASSERT_EQ(system.tm_mon, mine.tm_mon);
        ASSERT_EQ(system.tm_mday, mine.tm_mday);
        ASSERT_EQ(system.tm_hour, mine.tm_hour);
        ASSERT_EQ(system.tm_min, mine.tm_min);
        ASSERT_EQ(system.tm_sec, mine.tm_sec);
        ASSERT_EQ(system.tm_wday, mine.tm_wday);
        ASSERT_EQ(system.tm_yday, mine.tm_yday);
        ASSERT_EQ(system.tm_isdst, mine.tm_isdst);
        ASSERT_EQ(system.tm_gmtoff, mine.tm_gmtoff);
      }
    }
  }
}
#endif

}  // namespace
}  // namespace platform
