#include "cmds/flowtally/loader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmds/flowtally/options.h"
#include "cmds/flowtally/report_rd.h"
#include "cmds/flowtally/test_support.h"
#include "common/datalink.h"
#include "common/test_hooks.h"
#include "environment/datestr.h"

namespace flowtally {
namespace {

int64_t T(const char* stamp) { return str2time_t(stamp); }

// A 'J' line: tracker path, status, start, end, expected duration, offset, extended status.
std::string J(const std::string& path, const std::string& status, const std::string& start = "-",
              const std::string& end = "-", const std::string& expdur = "-",
              const std::string& offset = "-", const std::string& extstat = "x") {
  return "J " + path + " " + status + " f4 " + start + " " + end + " f7 f8 " + expdur + " " +
         offset + " " + extstat + "\n";
}

// A job line of the common layout (B D P U X).
std::string Job(char type, const std::string& name, const std::string& status = "done",
                const std::string& extstat = "x") {
  return std::string(1, type) + " " + name + " " + status +
         " 0 0 20140930120005 20140930121005 req1 mach1 f10 20140930120000 600 " + extstat + "\n";
}

std::string Net(const std::string& name) { return "m1:u1:" + name + ".20140930120000.kstrk"; }

// type|subkind|name|status|errclass|code|start|end|requestid|machine|expstart|expdur|extstat
std::string Describe(const ComponentLine& l) {
  const std::string s = "|";
  return std::string(1, l.type) + s + std::to_string(l.subkind) + s + l.name + s + l.status + s +
         std::to_string(l.errclass) + s + std::to_string(l.code) + s + l.start + s + l.end + s +
         l.requestid + s + l.machine + s + l.expstart + s + std::to_string(l.expdur) + s +
         l.extstat;
}

template <class R>
std::vector<R*> Records(void* list) {
  std::vector<R*> out;
  for (void* o = dl_first(list, nullptr); o != nullptr; o = dl_next(list, nullptr)) {
    out.push_back(static_cast<R*>(o));
  }
  return out;
}

std::vector<std::string> Names(void* list) {
  std::vector<std::string> out;
  for (auto* r : Records<RecordHead>(list)) out.push_back(r->name);
  return out;
}

std::vector<std::string> SortedNames(void* list) {
  std::vector<std::string> out;
  for (const RecordHead* r : sorted_view(list)) {
    out.push_back(std::string(r->parentjnw) + "/" + r->name);
  }
  return out;
}

class RecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_options.DebugKey = 0;
    summary_reset();
    base_ = dl_counts_for_test();
  }
  void TearDown() override {
    g_options.DebugKey = 0;
    summary_reset();
    // Everything a load made is gone again: records, strings, links, summary texts.
    EXPECT_EQ(base_.objects, dl_counts_for_test().objects);
    EXPECT_EQ(base_.links, dl_counts_for_test().links);
    EXPECT_EQ(base_.diagnostics, dl_counts_for_test().diagnostics);
  }

  int Load(const std::string& content) { return summary_load(spools_.Write(content).c_str()); }

  DlCounts base_;
  SpoolFiles spools_;
};

// ---- Parsing ------------------------------------------------------------------------------------

TEST(ParseComponentLine, Lines) {
  // One ComponentLine for all rows, as in a load: fields a type does not set keep their value.
  // clang-format off
  const struct { std::string line; int result; const char* parsed; } cases[] = {
      {"\tU JOB1 done\n", 1, nullptr}, {" U JOB1\n", 1, nullptr}, {"# U JOB1\n", 1, nullptr},
      {"", 1, nullptr}, {"\n", 1, nullptr}, {"A JOB1\n", 1, nullptr}, {"u JOB1\n", 1, nullptr},
      {"Q JOB1\n", 1, nullptr}, {"J\n", -1, nullptr}, {"J nocolon\n", -1, nullptr},
      {"J m:u\n", -1, nullptr}, {"J m:u:.20140930120000\n", -1, nullptr},
      {"U JOB1 done 2 -5 20140930120005 20140930121005 {r 1} mach1 skip 20140930120000 600 sv\n",
       0, "U|0|JOB1|done|2|-5|20140930120005|20140930121005|{r 1|mach1|20140930120000|600|sv"},
      // 'V' takes its extended status from field 15 and keeps machine and request id.
      {"V Q1 run 0 7 - - r8 m9 f10 - 30 f13 f14 h\n", 0, "V|0|Q1|run|0|7|-|-|{r 1|mach1|-|30|h"},
      {"Z java H1 wait 1 2 - - r9 m10 f11 - 40 h\n", 0, "Z|8|H1|wait|1|2|-|-|r9|m10|-|40|h"},
      {"Z Java C1\n", 0, "Z|9|C1||0|0|-|-|||-|0|"},
      {"Z javas C1\n", 0, "Z|9|C1||0|0|-|-|||-|0|"},
      {"Z {java} C1\n", 0, "Z|9|C1||0|0|-|-|||-|0|"},
      {"O\n", 0, "O|9|C1||0|0|-|-|||-|0|"},
      // A short line reads the fields it lacks as absent, not as the previous line's.
      {Job('D', "FULL"), 0, "D|9|FULL|done|0|0|20140930120005|20140930121005|req1|mach1|"
                             "20140930120000|600|x"},
      {"Ufoo JOB2 run\n", 0, "U|9|JOB2|run|0|0|-|-|||-|0|"},
      // Fields beyond the twentieth are never read.
      {"V Q2 done 0 0 - - - - - - - - - ext 16 17 18 19 20 21 22 23\n", 0,
       "V|9|Q2|done|0|0|-|-|||-|0|ext"},
      // 'J' lines keep errclass, code, machine and request id.
      {"E\n", 0, "E|9|Q2|done|0|0|-|-|||-|0|ext"},
      {J("m:u:NET.20140930120000.kstrk", "done", "20140930120002", "-", "300", "-", "n"), 0,
       "J|9|NET|done|0|0|20140930120002|-|||20140930120000|300|n"},
      {J("m:u:NET:S1:S2.20141231235930", "run", "-", "-", "-", "45"), 0,
       "J|9|NET:S1:S2|run|0|0|-|-|||20150101000015|0|x"},
      {J("m:u:NET", "done", "-", "-", "-", "60"), 0, "J|9|NET|done|0|0|-|-|||-|0|x"},
      {J("m:u:NET..kstrk", "done"), 0, "J|9|NET|done|0|0|-|-|||-|0|x"},
      // An offset from a stamp that is no time does not make one up.
      {J("m:u:NET.bad.kstrk", "done", "-", "-", "-", "60"), 0, "J|9|NET|done|0|0|-|-|||bad|0|x"},
  };
  // clang-format on
  ComponentLine l{};
  for (const auto& c : cases) {
    ASSERT_EQ(c.result, parse_component_line(c.line.c_str(), l)) << c.line;
    if (c.parsed != nullptr) {
      EXPECT_EQ(c.parsed, Describe(l)) << c.line;
    }
  }
}

TEST(ParseComponentLine, FieldsAreCutToTheirWidths) {
  ComponentLine l{};
  const std::string line = "U " + std::string(400, 'n') + " " + std::string(40, 's') + "\n";
  ASSERT_EQ(0, parse_component_line(line.c_str(), l));
  EXPECT_EQ(std::string(kCompNameMax, 'n'), l.name);
  EXPECT_EQ(std::string(kCompStatusMax, 's'), l.status);
}

// ---- Loading ------------------------------------------------------------------------------------

TEST_F(RecordsTest, EmptyAndMissingSpoolFiles) {
  EXPECT_EQ(0, Load(""));
  EXPECT_EQ(nullptr, g_load_summary.jnwname);
  EXPECT_EQ(nullptr, dl_first(jnw_list(), nullptr));
  EXPECT_EQ(0u, g_load_table.block[kBlockAll].component);

  const std::string path = spools_.Path("absent");
  const std::string err = stderr_of([&] { EXPECT_EQ(-1, summary_load(path.c_str())); });
  EXPECT_EQ(0u, err.find("flowtally: Unable to open spool file:" + path + "\nflowtally: "));
}

TEST_F(RecordsTest, JnwRecordsAndSummary) {
  ASSERT_EQ(0, Load(J(Net("A"), "done", "20140930120002", "20140930130511", "1800", "-", "n") +
                    J(Net("A:B"), "wait", "20140930120002", "20140930120003", "-", "60", "s") +
                    J(Net("a:b:C"), "estop") + J("m:u:D", "done", "-", "-", "900") +
                    Job('U', "JOB1", "done", "r")));
  auto jnws = Records<JnwRecord>(jnw_list());
  ASSERT_EQ(4u, jnws.size());
  JnwRecord* a = jnws[3];
  JnwRecord* b = jnws[2];
  JnwRecord* c = jnws[1];
  JnwRecord* d = jnws[0];
  EXPECT_STREQ("", a->parentjnw);
  EXPECT_STREQ("A", a->basename);
  EXPECT_STREQ("A", b->parentjnw);
  EXPECT_STREQ("B", b->basename);
  EXPECT_STREQ("a:b", c->parentjnw);
  EXPECT_STREQ("C", c->basename);
  // A waiting network has no times; the offset moves its expected start.
  EXPECT_EQ(-1, b->starttime);
  EXPECT_EQ(-1, b->endtime);
  EXPECT_EQ(T("20140930120100"), b->expstarttime);
  // No expected start, no expected end, whatever the duration.
  EXPECT_EQ(-1, d->expendtime);
  // Each network is counted into its parent (found without regard to case).
  EXPECT_EQ(1u, a->counts.block[kBlockAll].component);
  EXPECT_EQ(1u, a->counts.block[kBlockJnw].waitskip);
  EXPECT_EQ(1u, b->counts.block[kBlockJnw].error);
  // The job belongs to the network loaded last, whose name it shares.
  EXPECT_EQ(1u, d->counts.block[kBlockUnit].error);
  EXPECT_EQ(0u, c->counts.block[kBlockAll].component);
  auto jobs = Records<UnitJob>(unitjob_list());
  ASSERT_EQ(1u, jobs.size());
  EXPECT_EQ(d->name, jobs[0]->parentjnw);

  EXPECT_STREQ("A", g_load_summary.jnwname);
  EXPECT_STREQ("20140930120000", g_load_summary.jnwdate);
  EXPECT_EQ(T("20140930120002"), g_load_summary.starttime);
  EXPECT_EQ(T("20140930130511"), g_load_summary.endtime);
  EXPECT_EQ(T("20140930123000"), g_load_summary.expendtime);
  EXPECT_EQ(16, g_load_summary.status);
  EXPECT_EQ(5u, g_load_table.block[kBlockAll].component);
  EXPECT_EQ(4u, g_load_table.block[kBlockJnw].component);
  EXPECT_EQ(1u, g_load_table.block[kBlockUnit].error);
}

TEST_F(RecordsTest, JobRecordsPerType) {
  ASSERT_EQ(0, Load(J(Net("NET"), "run") + Job('U', "U1") + Job('X', "X1") + Job('B', "B1") +
                    Job('P', "P1") + Job('D', "D1", "run") + "V V1 done 3 9 - - r m f10 - 60\n" +
                    "Z java H1 Done\n" + "Z Java C1 done 0 5 - - rq mc\n" + "Z javas C2\n"));
  auto units = Records<UnitJob>(unitjob_list());
  ASSERT_EQ(1u, units.size());
  EXPECT_STREQ("req1", units[0]->requestid);
  EXPECT_STREQ("mach1", units[0]->machine);
  EXPECT_EQ(T("20140930120005"), units[0]->starttime);
  EXPECT_EQ(T("20140930121000"), units[0]->expendtime);
  EXPECT_STREQ("req1", Records<ErpJob>(erpjob_list())[0]->jobcount);
  EXPECT_EQ(9, Records<QdrsJob>(qdrsjob_list())[0]->code);
  EXPECT_EQ((std::vector<std::string>{"H1"}), Names(hlbsjob_list()));
  EXPECT_EQ((std::vector<std::string>{"C2", "C1"}), Names(customjob_list()));
  EXPECT_STREQ("mc", Records<CustomJob>(customjob_list())[1]->machine);
  // The two record types that share a layout keep their own heading.
  EXPECT_EQ(print_hlbsjob_heading, Records<HlbsJob>(hlbsjob_list())[0]->print_heading);
  EXPECT_EQ(print_customjob_heading, Records<CustomJob>(customjob_list())[0]->print_heading);

  const CountTable& t = g_load_table;
  EXPECT_EQ(10u, t.block[kBlockAll].component);
  EXPECT_EQ(1u, t.block[kBlockOther].run);
  EXPECT_EQ(1u, t.block[kBlockHlbs].component);  // "Done" is class 0
  EXPECT_EQ(0u, t.block[kBlockHlbs].done);
  EXPECT_EQ(1u, t.block[kBlockCustom].done);
  EXPECT_EQ(1u, t.block[kBlockPc].done);
  EXPECT_EQ(9u, Records<JnwRecord>(jnw_list())[0]->counts.block[kBlockAll].component);
}

TEST_F(RecordsTest, ContentMarkers) {
  const std::string head = J(Net("NET"), "done") + Job('U', "U1") + Job('D', "D1");
  const std::string b1 = Job('B', "B1");
  ASSERT_EQ(0, Load(head + "O\n\tout\n" + "E\n" + b1 + "O\n" + "E\n\tE is content here\n"));
  auto u = Records<UnitJob>(unitjob_list());
  const int64_t o = static_cast<int64_t>(head.size());
  EXPECT_EQ(o, u[0]->stdout_offset);      // the 'D' line made no record to take it
  EXPECT_EQ(o + 7, u[0]->stderr_offset);  // after "O\n" and "\tout\n"
  EXPECT_EQ(o + 9 + static_cast<int64_t>(b1.size()), Records<BiJob>(bijob_list())[0]->ipkg_offset);
}

TEST_F(RecordsTest, NewestFirstAndSortedView) {
  ASSERT_EQ(0, Load(J(Net("NET"), "run") + Job('U', "job2") + Job('U', "JOB1") + Job('U', "Job3") +
                    J(Net("NET:ZZZ"), "run") + Job('U', "X1") + J(Net("NET:AAA"), "run") +
                    Job('U', "Y9") + Job('U', "y9")));
  EXPECT_EQ((std::vector<std::string>{"y9", "Y9", "X1", "Job3", "JOB1", "job2"}),
            Names(unitjob_list()));
  // By parent, then name; equal keys keep the list's order.
  EXPECT_EQ((std::vector<std::string>{"NET/JOB1", "NET/job2", "NET/Job3", "NET:AAA/y9",
                                      "NET:AAA/Y9", "NET:ZZZ/X1"}),
            SortedNames(unitjob_list()));
  EXPECT_EQ((std::vector<std::string>{"/NET", "NET/NET:AAA", "NET/NET:ZZZ"}),
            SortedNames(jnw_list()));
  EXPECT_TRUE(sorted_view(bijob_list()).empty());
}

TEST_F(RecordsTest, LongLines) {
  std::string line = "U LONG done 0 0 - - req mach - - 0 ";
  line += std::string(kLinePieceMax - line.size(), 'x');
  line += "U FAKE done 0 0 - - r m ";  // its second piece looks like a job line of its own
  line += std::string(1500 - 1 - line.size(), 'y') + "\n";
  std::string exact = "U EXACT done ";  // one full piece, then a piece of its line end only
  exact += std::string(kLinePieceMax - exact.size(), 'x') + "\n";
  const std::string head = J(Net("NET"), "run");
  ASSERT_EQ(0, Load(head + line + "O\n" + exact + Job('U', "NEXT")));
  EXPECT_EQ((std::vector<std::string>{"NEXT", "EXACT", "LONG"}), Names(unitjob_list()));
  auto u = Records<UnitJob>(unitjob_list());
  EXPECT_EQ(static_cast<int64_t>(head.size() + 1500), u[2]->stdout_offset);
  EXPECT_STREQ("mach", u[2]->machine);

  // A file far larger than one read: lines of every length end and begin everywhere, long
  // lines among them, and every job line and marker is still found at its own offset.
  summary_reset();
  std::string big = head;
  std::vector<int64_t> offsets;
  for (int i = 0; i < 3000; ++i) {
    big += Job('U', "J" + std::to_string(i) + std::string(i % 97, 'n'));
    offsets.push_back(static_cast<int64_t>(big.size()));
    big += "O\n\t" + std::string(i % 13 == 0 ? 1500 + i : i % 61, 'c') + "\n";
  }
  ASSERT_EQ(0, Load(big));
  auto jobs = Records<UnitJob>(unitjob_list());
  ASSERT_EQ(3000u, jobs.size());
  for (int i = 0; i < 3000; ++i) {
    const UnitJob* job = jobs[2999 - i];  // newest first
    EXPECT_EQ("J" + std::to_string(i) + std::string(i % 97, 'n'), job->name);
    EXPECT_EQ(offsets[i], job->stdout_offset) << i;
  }
}

TEST_F(RecordsTest, JobsAndMarkersBeforeTheFirstJnwAndJob) {
  ASSERT_EQ(0, Load(J(Net("OLD"), "run") + Job('U', "OLDJOB")));
  summary_reset();
  ASSERT_EQ(0, Load(std::string("O\nE\n") + Job('U', "EARLY") + J(Net("NET"), "run") +
                    Job('U', "LATE", "run")));
  auto u = Records<UnitJob>(unitjob_list());
  ASSERT_EQ(2u, u.size());
  EXPECT_EQ(0, u[1]->stdout_offset);
  EXPECT_EQ(0, u[1]->stderr_offset);
  EXPECT_STREQ("", u[1]->parentjnw);
  EXPECT_STREQ("NET", u[0]->parentjnw);
  EXPECT_EQ(3u, g_load_table.block[kBlockAll].component);
  EXPECT_EQ(1u, Records<JnwRecord>(jnw_list())[0]->counts.block[kBlockAll].component);
}

TEST_F(RecordsTest, LoadTrace) {
  g_options.DebugKey = kDebugLoad;
  const std::string head = J(Net("NET"), "run");
  const std::string u1 = Job('U', "U1");
  const std::string p1 = Job('P', "P1");
  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(0, Load(head + u1 + "O\n\tx\n" + p1 + "E\n"));
  const std::string out = ::testing::internal::GetCapturedStdout();
  const std::string err = ::testing::internal::GetCapturedStderr();
  const std::string o = std::to_string(head.size() + u1.size());
  const std::string e = std::to_string(head.size() + u1.size() + 5 + p1.size());
  EXPECT_EQ("0)" + head + "ent: type=J, name=NET\n" + std::to_string(head.size()) + ")" + u1 +
                "ent: type=U, name=U1\n" + o + ")O\n" + "ent: type=O, name=U1\nuj=U1,stdout=" + o +
                "\n" + std::to_string(head.size() + u1.size() + 2) + ")\tx\n" +
                std::to_string(head.size() + u1.size() + 5) + ")" + p1 + "ent: type=P, name=P1\n" +
                e + ")E\n" + "ent: type=E, name=P1\npc=P1,joblog=" + e + "\n",
            err);
  EXPECT_EQ("", out);

  // The content trace of each type ('B' has none for 'E').
  const struct {
    std::string job;
    std::string expect;
  } cases[] = {
      {"Z other N\n", "cstmj=N,stdout=10\ncstmj=N,stderr=12\n"},
      {"V N\n", "qdrsj=N,stdout=4\nqdrsj=N,stderr=6\n"},
      {"Z java N\n", "hlbsj=N,stdout=9\nhlbsj=N,stderr=11\n"},
      {"X N\n", "r3=N,spool=4\nr3=N,joblog=6\n"},
      {"B N\n", "bw=N,joblog=4\n"},
  };
  for (const auto& c : cases) {
    summary_reset();
    int rc = -1;
    const std::string trace = stderr_of([&] { rc = Load(c.job + "O\nE\n"); });
    ASSERT_EQ(0, rc);
    std::string content;
    for (size_t at = trace.find("=N,"); at != std::string::npos; at = trace.find("=N,", at + 1)) {
      const size_t begin = trace.rfind('\n', at) + 1;
      content += trace.substr(begin, trace.find('\n', at) + 1 - begin);
    }
    EXPECT_EQ(c.expect, content) << c.job;
  }
}

}  // namespace
}  // namespace flowtally
