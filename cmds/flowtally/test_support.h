// Helpers shared by the command's unit tests: a clean options block and entry list, a fixed
// zone and clock, spool files of the test's own, a report fixture, and captured output.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "cmds/flowtally/cmdline.h"
#include "cmds/flowtally/loader.h"
#include "cmds/flowtally/options.h"
#include "cmds/flowtally/search.h"
#include "cmds/flowtally/test_hooks.h"
#include "platform/clock.h"
#include "platform/test_hooks.h"
#include "platform/testing.h"

namespace flowtally {

using platform::test::ScopedZone;

/// A test whose options block and entry list start fresh and are cleared again after it.
class StateTest : public ::testing::Test {
 protected:
  StateTest() {
    reset_options_state();
    entry_list_clear();
  }
  ~StateTest() override {
    reset_options_state();
    entry_list_clear();
  }
};

/// A test that also runs in a fixed zone at a fixed clock.
class CommandTest : public StateTest {
 protected:
  CommandTest(const char* tz, int64_t now) : zone_(tz) {
    platform::SetClockForTest([now] { return platform::UtcTime{now, 0}; });
  }
  ~CommandTest() override { platform::SetClockForTest({}); }

 private:
  ScopedZone zone_;
};

/// Spool files of the running test, in a directory of its own that goes with the object.
class SpoolFiles {
 public:
  /// Writes content into a new spool file and returns its path.
  std::string Write(const std::string& content) {
    const std::string path = dir_.Path("spool" + std::to_string(count_++));
    platform::test::WriteFile(path, content);
    return path;
  }
  /// The path of name in the directory; the file need not exist.
  std::string Path(const std::string& name) const { return dir_.Path(name); }

 private:
  platform::test::TempDir dir_{"flowtally_test"};
  int count_ = 0;
};

/// Sets the component specification (-c) of the options block.
inline void set_component(const char* component) {
  std::snprintf(g_options.component, sizeof g_options.component, "%s", component);
}

/// The start of the report tests' tracker: the network DAILY with its unit job JOB0, and its
/// sub-network SUB with SUB's first unit job JOB1, all done.
inline constexpr char kDailyStart[] =
    "J m:opuser:DAILY.20140930120000.kstrk done 0 20140930120002 20140930130511 - - 1800 0 -\n"
    "U JOB0 done 0 0 20140930120003 20140930120004 1233 mach1 - 20140930120000 60 -\n"
    "J m:opuser:DAILY:SUB.20140930120000.kstrk done 0 20140930120005 20140930130500 - - 3600 0 -\n"
    "U JOB1 done 0 0 20140930120005 20140930121005 1234 mach1 - 20140930120000 600 -\n";

/// A report test: zone UTC at 2014-09-30 12:00:00, local machine "m", no summary loaded
/// before or after it, and entry_ naming opuser's tracker DAILY.20140930120000.
class ReportTest : public CommandTest {
 protected:
  ReportTest() : CommandTest("UTC0", 1412078400) {
    std::snprintf(g_local_machine, sizeof g_local_machine, "m");
    summary_reset();
    entry_.user = "opuser";
    entry_.trackername = "DAILY.20140930120000";
  }
  ~ReportTest() override { summary_reset(); }

  /// Writes content into a new spool file, named by spool_, and loads it.
  void Load(const std::string& content) {
    spool_ = spools_.Write(content);
    ASSERT_EQ(0, summary_load(spool_.c_str()));
  }

  SpoolFiles spools_;
  std::string spool_;
  JnwEntry entry_;
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

/// Everything written on standard error while fn runs.
template <typename Fn>
std::string stderr_of(Fn fn) {
  ::testing::internal::CaptureStderr();
  fn();
  return ::testing::internal::GetCapturedStderr();
}

}  // namespace flowtally
