#include "cmds/flowtally/search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cmds/flowtally/cmdline.h"
#include "cmds/flowtally/nocase.h"
#include "cmds/flowtally/options.h"
#include "cmds/flowtally/subopts.h"
#include "cmds/flowtally/test_hooks.h"
#include "cmds/flowtally/test_support.h"

namespace flowtally {
namespace {

// 2014-09-30 12:00:00 UTC.
constexpr int64_t kNoon = 1412078400;

class SearchTest : public CommandTest {
 protected:
  SearchTest() : CommandTest("UTC", kNoon) {
    std::strcpy(g_local_machine, "m");
    std::strcpy(g_options.user, "u");
  }

  void search(std::string text) { ASSERT_EQ(0, parse_search_options(text.data())); }

  // Feeds entry lines through the parser and the filter, as the search does.
  int feed(const std::vector<std::string>& lines) {
    int added = 0;
    for (const std::string& l : lines) {
      EntryLine e;
      if (parse_entry_line(l.c_str(), &e) == 0 && filter_entry(e) == 0) ++added;
    }
    return added;
  }

  std::vector<std::string> names() {
    std::vector<std::string> out;
    for (const JnwEntry& e : entry_list()) out.push_back(e.trackername + "/" + e.user);
    return out;
  }
};

std::string line(const std::string& user, const std::string& tracker, const std::string& status,
                 const std::string& start, const std::string& flags = "-") {
  return "J m:" + user + ":" + tracker + ".kstrk " + status + " 0 " + start + " - 0 0 - - " +
         flags + "\n";
}

TEST_F(SearchTest, OptionStringsFollowTheCriteria) {
  struct Case {
    std::vector<std::string> items;
    bool all;
    const char* expected;
  } cases[] = {
      {{"last"}, false, "Om:u.user N1 E20140930235959 I Psrun/done"},
      {{"run"}, false, "Om:u.user N1 I Psrun"},
      {{"prep"}, false, "Om:u.user N1 Pswait/prep/run/done"},
      {{"today"}, false, "Om:u.user N1 S20140930000000 E20140930235959 Psrun/done"},
      {{"name=A"}, false, "Om:u:A.ksjnw N1 Psrun/done"},
      {{"name=A"}, true, "Om.machine N1 PjA Psrun/done"},
      {{"run,prep"}, false, "Om:u.user N1 I Psrun"},
      {{"prep,run"}, false, "Om:u.user N1 I Psrun"},
      {{"trk=A.20140101000000"}, false, "Om:u:A.20140101000000.kstrk N1 Psrun/done"},
      {{"name=B", "tid=h:u:A.ksjnw"}, false, "Oh:u:A.ksjnw N1 Psrun/done"},
      {{"date=20140901-20140902"},
       true,
       "Om.machine N1 S20140901000000 E20140902235959 Psrun/done"},
  };
  for (const Case& c : cases) {
    reset_options_state();
    std::strcpy(g_local_machine, "m");
    std::strcpy(g_options.user, "u");
    g_options.all_users = c.all;
    for (const std::string& item : c.items) {
      std::string text = item;
      if (parse_search_options(text.data()) != 0) break;  // run,prep is refused; keep flags
    }
    EXPECT_EQ(c.expected, build_search_options().text()) << c.items[0];
  }
}

TEST_F(SearchTest, EntryLinesAreRefusedUnlessTheyNameATopLevelTracker) {
  EntryLine e;
  ASSERT_EQ(
      0, parse_entry_line(line("alice", "A.20140101000000", "done", "20140101000000").c_str(), &e));
  EXPECT_STREQ("A.20140101000000", e.trackername);
  EXPECT_STREQ("alice", e.user);
  EXPECT_STREQ("done", e.status);
  EXPECT_STREQ("-", e.flags);

  const std::string long_user(128, 'u');
  const char* refused[] = {
      "J m:u:A:sub.20140101000000.kstrk done 0 20140101000000 - 0 0 - - x",  // sub-network
      " J m:u:A.20140101000000.kstrk done 0 20140101000000 - 0 0 - - x",     // leading blank
      "J m:u:A.20140101000000.kstrk done 0 20140101000000 - 0 0 - -",        // 10 fields
      "J m:u:A.kstrk done 0 20140101000000 - 0 0 - - x",                     // no '.' left
      "J m:u:A.20140101000000.kstrk done 0 2014010100000 - 0 0 - - x",       // 13-digit start
      "J m:u:A.20140101000000.kstrk done 0 -123456789012345 - 0 0 - - x",    // '-' text too long
      "J m:u done 0 20140101000000 - 0 0 - - x",                             // no tracker file
      "B m:u:A.20140101000000.kstrk done 0 20140101000000 - 0 0 - - x",      // not a J line
  };
  for (const char* l : refused) EXPECT_EQ(-1, parse_entry_line(l, &e)) << l;
  EXPECT_EQ(-1, parse_entry_line(line(long_user, "A.20140101000000", "done", "-").c_str(), &e));
}

TEST_F(SearchTest, FilterDropsWhatTheCriteriaExclude) {
  search("name=A");
  EXPECT_EQ(1, feed({line("u", "A.20140101000000", "Done", "20140101000000"),
                     line("u", "A.20140102000000", "wait", "-"),
                     line("u", "A.20140103000000", "done", "20140103000000")}));
  EXPECT_EQ(std::vector<std::string>{"A.20140103000000/u"}, names());

  reset_options_state();
  entry_list_clear();
  search("prep");
  EXPECT_EQ(1, feed({line("u", "A.20140102000000", "wait", "-")}));
  EXPECT_EQ(kStatusWait, entry_list().front().status);

  reset_options_state();
  entry_list_clear();
  search("date=20140101");
  EXPECT_EQ(1, feed({line("u", "A.20140101000000", "done", "-"),
                     line("u", "B.20140101000000", "done", "20140101120000"),
                     line("u", "C.20140102000000", "done", "20140102000000")}));
  EXPECT_EQ(std::vector<std::string>{"B.20140101000000/u"}, names());
}

TEST_F(SearchTest, LastKeepsTheLatestTrackerOfEachJnwAndUser) {
  const std::string older = line("u", "A.20140101000000", "done", "20140101000000");
  const std::string newer = line("u", "A.20140102000000", "done", "20140102000000");
  for (const auto& order : {std::vector<std::string>{older, newer}, {newer, older}}) {
    reset_options_state();
    entry_list_clear();
    search("last");
    EXPECT_EQ(1, feed(order));
    EXPECT_EQ(std::vector<std::string>{"A.20140102000000/u"}, names());
  }

  entry_list_clear();
  EXPECT_EQ(1, feed({line("u", "A.20140101000000", "done", "20140101000000"),
                     line("u", "A.20140101000001", "run", "20140101000000")}));
  EXPECT_EQ(std::vector<std::string>{"A.20140101000000/u"}, names());  // equal starts: first

  entry_list_clear();
  EXPECT_EQ(2, feed({line("alice", "A.20140101000000", "done", "20140101000000"),
                     line("bob", "A.20140102000000", "done", "20140102000000")}));
}

TEST_F(SearchTest, EntriesAreOrderedByTrackerNameWithoutRegardToCase) {
  search("name=x");
  feed({line("u", "b.20140101000000", "done", "20140101000000"),
        line("u", "A.20140102000000", "done", "20140102000000"),
        line("u", "a.20140101000000", "done", "20140101000000"),
        line("u", "_.20140101000000", "done", "20140101000000")});
  EXPECT_EQ((std::vector<std::string>{"_.20140101000000/u", "a.20140101000000/u",
                                      "A.20140102000000/u", "b.20140101000000/u"}),
            names());
}

// Many trackers through the indexed list, checked against the plain rules: the latest start
// per JNW (first character exact, rest without regard to case) and user, in folded name order.
TEST_F(SearchTest, LastOverManyTrackersMatchesThePlainRules) {
  search("last");
  std::mt19937 rng(7);
  const char* const jnws[] = {"a", "A", "b", "B_x", "ab", "_"};
  const char* const users[] = {"u", "U", "v"};
  struct Kept {
    std::string name, user, start;
  };
  std::vector<Kept> model;
  std::vector<std::string> lines;
  for (int i = 0; i < 3000; ++i) {
    const std::string jnw = jnws[rng() % 6];
    const std::string user = users[rng() % 3];
    char stamp[15];
    std::snprintf(stamp, sizeof stamp, "201401%02u0000%02d", static_cast<unsigned>(1 + rng() % 28),
                  i % 60);
    const std::string name = jnw + "." + stamp + std::to_string(i);
    lines.push_back(line(user, name, "done", stamp));
    auto same = [&](const Kept& k) {
      return k.name[0] == name[0] && equal_nocase(k.name.substr(0, k.name.find('.')), jnw) &&
             equal_nocase(k.user, user);
    };
    bool found = false, replaced = false;
    for (auto it = model.begin(); it != model.end();) {
      if (same(*it)) {
        found = true;
        if (it->start < stamp) {
          it = model.erase(it);
          replaced = true;
          continue;
        }
      }
      ++it;
    }
    if (!found || replaced) model.push_back({name, user, stamp});
  }
  feed(lines);
  std::stable_sort(model.begin(), model.end(),
                   [](const Kept& a, const Kept& b) { return compare_nocase(a.name, b.name) < 0; });
  std::vector<std::string> expected;
  for (const Kept& k : model) expected.push_back(k.name + "/" + k.user);
  EXPECT_EQ(expected, names());
}

TEST_F(SearchTest, ResolveComponentBuildsTheTrackerPathAndTarget) {
  char target[kTrackerPathSize];
  char path[kTrackerPathSize];
  EXPECT_EQ(1, resolve_component("A.20140930123456", "u", "A:sub1/job3", target, path));
  EXPECT_STREQ("m:u:A:sub1.20140930123456.kstrk", path);
  EXPECT_STREQ("job3", target);

  EXPECT_EQ(0, resolve_component("A.20140930123456", "u", "", target, path));
  EXPECT_STREQ("m:u:A.20140930123456.kstrk", path);
  EXPECT_STREQ(path, target);

  EXPECT_EQ(0, resolve_component("A.20140930123456", "u", "a:Sub1", target, path));
  EXPECT_STREQ("m:u:a:Sub1.20140930123456.kstrk", path);

  EXPECT_EQ(-1, resolve_component("A.20140101000000", "u", "AB/x", target, path));
  EXPECT_EQ(-1, resolve_component("A", "u", "", target, path));
  const std::string too_long = "A:" + std::string(kTrackerPathSize, 's');
  EXPECT_EQ(-1, resolve_component("A.20140101000000", "u", too_long.c_str(), target, path));
}

}  // namespace
}  // namespace flowtally
