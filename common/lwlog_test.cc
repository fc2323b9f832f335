#include "common/lwlog.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <regex>
#include <string>

#include "platform/error.h"

namespace {

TEST(LwlogTraceTest, DropsTheLineAndKeepsBothErrorCodes) {
  // The codes are set and read right around the call: capturing standard error makes system
  // calls of its own, which set the system's last-error code where it is the system's.
  testing::internal::CaptureStderr();
  platform::SetLastError(platform::kErrorSharingViolation);
  errno = ENOENT;
  const int rc = lwlog_trace(kLwlogError, "datestr", 10, "str2time_t()", "invalid ts %d\n", 1);
  const uint32_t code = platform::GetLastError();
  const int err = errno;
  EXPECT_EQ(-1, rc);
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  EXPECT_EQ(platform::kErrorSharingViolation, code);
  EXPECT_EQ(ENOENT, err);
}

TEST(CommonLoggerTest, WritesErrorLinesInTheFixedShape) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, common_logger("common_registry", 97, "common_reg_create_key", kLogErr, "Assert: %s",
                             "No space obj."));
  std::string line = testing::internal::GetCapturedStderr();
  std::regex shape(R"(\[\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}\]:\d{5,}:ERR:common_registry\(97\):)"
                   R"(common_reg_create_key\(\): Assert: No space obj\.\n)");
  EXPECT_TRUE(std::regex_match(line, shape)) << line;
}

TEST(CommonLoggerTest, DropsLowLevelsAndRefusesBadArguments) {
  testing::internal::CaptureStderr();
  for (int level : {kLogDbg, kLogNml, kLogWar}) {
    EXPECT_EQ(0, common_logger("src", 1, "fn", level, "x"));
  }
  EXPECT_EQ(-1, common_logger(nullptr, 1, "fn", kLogErr, "x"));
  EXPECT_EQ(-1, common_logger("src", 1, nullptr, kLogErr, "x"));
  EXPECT_EQ(-1, common_logger("src", 1, "fn", kLogErr, nullptr));
  EXPECT_EQ(-1, common_logger("src", 1, "fn", 4, "x"));
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

TEST(CommonLoggerTest, CutsTheLineAt1024Characters) {
  std::string big(3000, 'm');
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, common_logger("src", 1, "fn", kLogErr, "%s", big.c_str()));
  EXPECT_EQ(1024u, testing::internal::GetCapturedStderr().size());
}

}  // namespace
