#include "cmds/flowtally/list.h"

#include <gtest/gtest.h>

#include <string>

#include "cmds/flowtally/options.h"
#include "cmds/flowtally/search.h"
#include "cmds/flowtally/test_support.h"

namespace flowtally {
namespace {

class ListTest : public CommandTest {
 protected:
  ListTest() : CommandTest("JST-9", 1412078400) {}
};

TEST_F(ListTest, WritesTheHeadingAndOneRowPerEntry) {
  entry_insert("NIGHTLY.20140930120000", "alice", "20140930120000", "-", kStatusRun, "", "m");
  entry_insert("DAILY.20140930010203", "alice", "20140930010203", "20140930011500", kStatusDone,
               "n", "m");
  EXPECT_EQ(
      "****      TRACKER-ID.yyyymmddhhmmss       USER  STAT START       END        \n"
      "  1)         DAILY.20140930010203     alice   done(warn) 09/30-10:02 09/30-10:15\n"
      "  2)       NIGHTLY.20140930120000     alice          run 09/30-21:00           -\n",
      written_by(list_trackers));
}

// The tool's lines cannot carry a TAB, CR or LF inside a name, but an entry can: each record
// still keeps its line and its fields.
TEST_F(ListTest, RecordFormsKeepEveryValueInItsField) {
  entry_insert("A\tB\n.20140930010203", "u\r,\"v\"", "20140930010203", "-", kStatusDone, "-", "m");
  g_options.list_fields = ListFields{3, {kFieldTracker, kFieldUser, kFieldFlags}};
  g_options.list_format = kListTsv;
  EXPECT_EQ("tracker\tuser\tflags\nA\\tB\\n.20140930010203\tu\\r,\"v\"\t\n",
            written_by(list_records));
  g_options.list_format = kListCsv;
  g_options.list_notitle = 1;
  EXPECT_EQ("\"A\tB\n.20140930010203\",\"u\r,\"\"v\"\"\",\n", written_by(list_records));
}

TEST(StatusTextTest, FirstMatchingLetterDecides) {
  struct Case {
    int32_t status;
    const char* flags;
    const char* text;
  } cases[] = {
      {kStatusWait, "hsw", "prep(hold)"}, {kStatusWait, "v", "prep(skip)"},
      {kStatusWait, "sw", "prep(skip)"},  {kStatusWait, "w", "wait"},
      {kStatusWait, "", "prep"},          {kStatusPrep, "hsw", "prep"},
      {kStatusRun, "Df", "run(dialog)"},  {kStatusRun, "Hr", "run(hold)"},
      {kStatusRun, "rf", "run(estop)"},   {kStatusRun, "fn", "run(error)"},
      {kStatusRun, "n", "run(warn)"},     {kStatusRun, "R", "run"},
      {kStatusDone, "sf", "done(skip)"},  {kStatusDone, "g", "done(skip)"},
      {kStatusDone, "b", "done(skip)"},   {kStatusDone, "fn", "done(error)"},
      {kStatusDone, "r", "done(error)"},  {kStatusDone, "n", "done(warn)"},
      {kStatusDone, "", "done"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(c.text, status_text(c.status, c.flags)) << c.status << " " << c.flags;
  }
}

}  // namespace
}  // namespace flowtally
