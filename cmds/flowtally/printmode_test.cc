#include "cmds/flowtally/printmode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cmds/flowtally/options.h"
#include "cmds/flowtally/search.h"
#include "cmds/flowtally/test_hooks.h"
#include "cmds/flowtally/test_support.h"

namespace flowtally {
namespace {

class PrintModeTest : public CommandTest {
 protected:
  PrintModeTest() : CommandTest("UTC0", 1412078400) {
    std::snprintf(g_local_machine, sizeof g_local_machine, "m");
    print_mode_reset_for_test();
  }
  ~PrintModeTest() override { print_mode_reset_for_test(); }
};

TEST_F(PrintModeTest, ContentSwitchAndReportSwitches) {
  struct Case {
    int format, output, style, expected;
  };
  const Case cases[] = {
      {0, 1, 1, 1}, {0, 1, 2, 1},  {0, 1, 7, 1}, {0, 1, 0, 0}, {0, 0, 1, 0}, {1, 1, 1, 0},
      {1, 1, 2, 0}, {0, 1, -1, 0}, {2, 1, 1, 1}, {3, 1, 2, 1}, {3, 1, 0, 0}, {2, 0, 1, 0},
  };
  for (const Case& c : cases) {
    g_options.prt_format = c.format;
    g_options.prt_output = c.output;
    g_options.prt_style = c.style;
    EXPECT_EQ(c.expected, print_content_switch(g_options))
        << "format=" << c.format << " output=" << c.output << " style=" << c.style;
  }

  // The readable report copies the content that the dump asked for; the CSV report ignores it.
  g_options.prt_format = 0;
  g_options.prt_output = 1;
  g_options.prt_style = 2;
  const ReportSwitches sw = print_report_switches(g_options);
  EXPECT_EQ(1, sw.first_content);
  EXPECT_EQ(1, sw.second_content);
  g_options.prt_format = 1;
  EXPECT_EQ(0, print_report_switches(g_options).first_content);
}

TEST_F(PrintModeTest, DumpOptions) {
  struct Case {
    const char* component;
    int resolved;
    int prep;
    int content;
    const char* expected;
  };
  const char* path = "m:u:A.20140930123456.kstrk";
  const char* subpath = "m:u:A:sub.20140930123456.kstrk";
  const Case cases[] = {
      // The whole network, nested sub-networks included.
      {"", 0, 0, 0, "Om:u:A.20140930123456.kstrk Z U  I"},
      {"", 0, 0, 1, "Om:u:A.20140930123456.kstrk Z U Foe I"},
      {"", 0, 1, 1, "Om:u:A.20140930123456.kstrk Z U Foe "},
      {"A", 0, 0, 0, "Om:u:A.20140930123456.kstrk Z U  I"},
      // A sub-network, or a job: that level only.
      {"A:sub", 0, 0, 0, "Om:u:A:sub.20140930123456.kstrk U  I"},
      {"A:sub/job", 1, 0, 1, "Om:u:A:sub.20140930123456.kstrk U Foe I"},
      {"A/job", 1, 1, 0, "Om:u:A.20140930123456.kstrk U  "},
  };
  for (const Case& c : cases) {
    set_component(c.component);
    g_options.srch_prep = c.prep;
    const bool sub = std::string(c.component).find(':') != std::string::npos;
    EXPECT_EQ(c.expected,
              build_dump_options(sub ? subpath : path, c.resolved, c.content, c.content).text())
        << "component=" << c.component;
  }
}

TEST_F(PrintModeTest, DumpOfAComponentThatDoesNotFit) {
  g_options.DebugKey = kDebugToolDump;
  set_component("B/x");
  JnwEntry entry;
  entry.user = "u";
  entry.trackername = "A.20140930123456";
  EXPECT_EQ(
      "OldRunscan=0\n"
      "f_stdout=1,f_stderr=1,opt=Foe\n"
      "dump: component:trkid=A.20140930123456,user=u,opt=B/x,t_obj=,t_trkid=,rc=-1\n",
      stderr_of([&] { EXPECT_EQ(-2, summary_dumpdata(entry, "/nonexistent/spool", 1, 1)); }));
  EXPECT_FALSE(print_component_accepted());
}

TEST_F(PrintModeTest, NothingToPrint) {
  // No tracker was checked against the component specification, so it is not blamed; still
  // nothing of the component was found.
  set_component("B/x");
  g_options.verbose = 1;
  std::string out;
  EXPECT_EQ("Print mode.\nNo component B/x found.\n", stderr_of([&] {
              out = written_by([](FILE* f) { EXPECT_EQ(-2, print_mode(f, false)); });
            }));
  EXPECT_EQ("", out);
}

}  // namespace
}  // namespace flowtally
