// Helpers shared by the command's unit tests: a fixed zone and clock, and a clean options
// block and entry list for each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "cmds/flowtally/options.h"
#include "cmds/flowtally/search.h"
#include "platform/clock.h"

namespace flowtally {

/// Sets TZ for the life of the object and restores the previous zone after.
class ScopedZone {
 public:
  explicit ScopedZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) {
      had_ = true;
      old_ = old;
    }
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedZone() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

/// A test whose zone, clock, options block and entry list start fresh.
class CommandTest : public ::testing::Test {
 protected:
  CommandTest(const char* tz, int64_t now) : zone_(tz) {
    platform::SetClockForTest([now] { return platform::UtcTime{now, 0}; });
    reset_options_state();
    entry_list_clear();
  }
  ~CommandTest() override {
    platform::SetClockForTest({});
    reset_options_state();
    entry_list_clear();
  }

 private:
  ScopedZone zone_;
};

/// Everything written to a stream by fn, read back from a temporary file.
template <typename Fn>
std::string written_by(Fn fn) {
  FILE* f = std::tmpfile();
  fn(f);
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  return text;
}

}  // namespace flowtally
