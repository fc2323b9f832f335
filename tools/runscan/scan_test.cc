#include "tools/runscan/scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ScanParseObject, AcceptsTheFourForms) {
  struct Case {
    const char* text;
    ScanObjectKind kind;
    const char* machine;
    const char* user;
    const char* jnw;
    const char* stamp;
  };
  const Case cases[] = {
      {"host.example.com.machine", ScanObjectKind::kMachine, "host.example.com", "", "", ""},
      {"m:alice.user", ScanObjectKind::kUser, "m", "alice", "", ""},
      {"m:alice:DAILY.ksjnw", ScanObjectKind::kJnw, "m", "alice", "DAILY", ""},
      {"m:alice:DAILY.20261205010000.kstrk", ScanObjectKind::kTracker, "m", "alice", "DAILY",
       "20261205010000"},
      {"m:alice:DAILY:LOAD:X.20261205010000.kstrk", ScanObjectKind::kTracker, "m", "alice",
       "DAILY:LOAD:X", "20261205010000"},
  };
  for (const Case& c : cases) {
    ScanObject o;
    ASSERT_EQ(scan_parse_object(c.text, &o), 0) << c.text;
    EXPECT_EQ(o.kind, c.kind) << c.text;
    EXPECT_EQ(o.machine, c.machine) << c.text;
    EXPECT_EQ(o.user, c.user) << c.text;
    EXPECT_EQ(o.jnw, c.jnw) << c.text;
    EXPECT_EQ(o.stamp, c.stamp) << c.text;
  }
}

TEST(ScanParseObject, RefusesMalformedOrEscapingNames) {
  for (const char* text : {"m",
                           "m.host",
                           ".machine",
                           "m:u.machine",
                           "m.user",
                           ":u.user",
                           "m:.user",
                           "m:...user",
                           "m:a/b.user",
                           "m:u:x.user",
                           "m:u.ksjnw",
                           "m:u:.ksjnw",
                           "m:u:a/b.ksjnw",
                           "m:u:..ksjnw",
                           "m:u:A.kstrk",
                           "m:u:A.2026120501000.kstrk",
                           "m:u:A.2026120501000x.kstrk",
                           "m:u:A:.20261205010000.kstrk",
                           "m:u:A::B.20261205010000.kstrk",
                           "m:../x:A.20261205010000.kstrk",
                           "m:u:A.20261205010000.x.kstrk"}) {
    ScanObject o;
    EXPECT_EQ(scan_parse_object(text, &o), -1) << text;
  }
}

TEST(ScanParseOptions, ReadsEveryItem) {
  ScanOptions o;
  std::string err;
  ASSERT_EQ(scan_parse_options({"Om:u.user", "N1", "S20261201000000", "E20261207235959", "I",
                                "Pswait/prep/run", "PjDAILY"},
                               &o, &err),
            0)
      << err;
  EXPECT_TRUE(o.search);
  EXPECT_FALSE(o.dump);
  EXPECT_TRUE(o.archive);
  EXPECT_EQ(o.start_from, "20261201000000");
  EXPECT_EQ(o.start_to, "20261207235959");
  EXPECT_EQ(o.statuses, (std::vector<std::string>{"wait", "prep", "run"}));
  EXPECT_EQ(o.jnw_filter, "DAILY");

  // Of several arguments each is one item: a value with blanks never becomes further items.
  ASSERT_EQ(scan_parse_options({"Om:u:A U Fo.ksjnw", "N1"}, &o, &err), 0) << err;
  EXPECT_TRUE(o.search);
  EXPECT_FALSE(o.dump);
  EXPECT_FALSE(o.want_stdout);
  EXPECT_EQ(o.object.jnw, "A U Fo");

  // One argument holding the whole option string, with runs of blanks, splits the same way.
  ASSERT_EQ(scan_parse_options({"Om:u:A.20261205010000.kstrk  Z U   Foe I "}, &o, &err), 0) << err;
  EXPECT_TRUE(o.dump);
  EXPECT_TRUE(o.nested);
  EXPECT_TRUE(o.want_stdout);
  EXPECT_TRUE(o.want_stderr);
  EXPECT_EQ(o.object.jnw, "A");

  ASSERT_EQ(scan_parse_options({"Om:u:A:S.20261205010000.kstrk", "U", "Fe"}, &o, &err), 0);
  EXPECT_FALSE(o.want_stdout);
  EXPECT_TRUE(o.want_stderr);
  EXPECT_FALSE(o.archive);
}

TEST(ScanParseOptions, RefusesBadItemsAndCombinations) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"N1"},
      {"Om.machine"},
      {"Om.machine", "N1", "Om.machine"},
      {"Om.machine", "N2"},
      {"Om.machine", "N1", "X"},
      {"Om.machine", "N1", "S2026"},
      {"Om.machine", "N1", "E"},
      {"Om.machine", "N1", "Ps"},
      {"Om.machine", "N1", "Psrun//done"},
      {"Om.machine", "N1", "Pj"},
      {"Om.machine", "N1", "Pj../x"},
      {"Om.machine", "N1", "Px"},
      {"Om.machine", "N1", "Fox"},
      {"Om.machine", "N1", "II"},
      {"Om:u:A.ksjnw", "U"},
      {"Om:u:A.20261205010000.kstrk", "U", "N1"},
  };
  for (const auto& args : cases) {
    ScanOptions o;
    std::string err;
    EXPECT_EQ(scan_parse_options(args, &o, &err), -1) << testing::PrintToString(args);
    EXPECT_FALSE(err.empty());
  }
}

TEST(ScanJLine, MarksTheExtendedStatusAsArchived) {
  const char* head = "J m:u:A.20261205010000.kstrk done 0 20261205010002 20261205013411 ";
  struct Case {
    std::string tail, want;
  };
  const Case cases[] = {
      {"{a comment} - 60 0 -", "{a comment} - 60 0 a"},
      {"- - 60 0 fs", "- - 60 0 fsa"},
      {"- - 60 0 ra", "- - 60 0 ra"},
      {"- - 60 0 {f s} x", "- - 60 0 {f sa} x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(scan_mark_archived(head + c.tail), head + c.want) << c.tail;
    ScanJLine j;
    ASSERT_EQ(scan_parse_jline(head + c.want, &j), 0);
    EXPECT_NE(j.flags.find('a'), std::string::npos);
  }
  // Too few fields: not a J line, left alone.
  EXPECT_EQ(scan_mark_archived("J m:u:A.20261205010000.kstrk done"),
            "J m:u:A.20261205010000.kstrk done");
}

}  // namespace
