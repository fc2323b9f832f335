#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cmds/flowtally/loader.h"
#include "cmds/flowtally/options.h"
#include "cmds/flowtally/report.h"
#include "cmds/flowtally/search.h"
#include "cmds/flowtally/test_support.h"

namespace flowtally {
namespace {

// A network DAILY with a sub-network SUB: one unit job under DAILY, two under SUB (one
// skipped).
const std::string kDaily =
    std::string(kDailyStart) + "U JOB2 done 0 0 - - 1235 mach2 - 20140930121000 600 s\n";

const char kCounts[] =
    "totalcomponent,totalwait,totalwaithold,totalwaitskip,totalrun,totaldone,totaldoneskip,"
    "totalerror,ujcomponent,ujwait,ujwaithold,ujwaitskip,ujrun,ujdone,ujdoneskip,ujerror,"
    "jnwcomponent,jnwwait,jnwwaithold,jnwwaitskip,jnwrun,jnwdone,jnwdoneskip,jnwerror,"
    "ERPcomponent,ERPwait,ERPwaithold,ERPwaitskip,ERPrun,ERPdone,ERPdoneskip,ERPerror,"
    "BIcomponent,BIwait,BIwaithold,BIwaitskip,BIrun,BIdone,BIdoneskip,BIerror,"
    "PCcomponent,PCwait,PCwaithold,PCwaitskip,PCrun,PCdone,PCdoneskip,PCerror,"
    "qdrsjcomponent,qdrsjwait,qdrsjwaithold,qdrsjwaitskip,qdrsjrun,qdrsjdone,qdrsjdoneskip,"
    "qdrsjerror,hlbsjcomponent,hlbsjwait,hlbsjwaithold,hlbsjwaitskip,hlbsjrun,hlbsjdone,"
    "hlbsjdoneskip,hlbsjerror,cstmjcomponent,ujwait,cstmjwaithold,cstmjwaitskip,cstmjrun,"
    "cstmjdone,cstmjdoneskip,cstmjerror,othercomponent,otherwait,otherwaithold,otherwaitskip,"
    "otherrun,otherdone,otherdoneskip,othererror\n";

const std::string kSummaryTitle = std::string(
                                      "#TYPE=SUMMARY\n"
                                      "jnwname,jnwdate,user,machine,starttime,endtime,amounttime,"
                                      "expstarttime,expendtime,status,") +
                                  kCounts;
const std::string kJnwTitle = std::string(
                                  "#TYPE=JNW\n"
                                  "type,parentjnw,jnwdate,name,starttime,endtime,amounttime,"
                                  "expstarttime,expendtime,status,") +
                              kCounts;
const char kUnitTitle[] =
    "#TYPE=UNITJOB\n"
    "type,parentjnw,jnwdate,name,starttime,endtime,amounttime,expstarttime,expendtime,status,"
    "exitcode,errcode,requestid,machine\n";

// The 80 counters of a count table: the blocks given, the others zero.
std::string Counts(const std::map<int, std::vector<int>>& blocks) {
  std::string text;
  for (int b = 0; b < kCountBlocks; ++b) {
    auto it = blocks.find(b);
    for (int i = 0; i < 8; ++i) {
      text += std::to_string(it != blocks.end() ? it->second[i] : 0);
      text += b == kCountBlocks - 1 && i == 7 ? "\n" : ",";
    }
  }
  return text;
}

const std::string kSummaryRow =
    "DAILY,20140930120000,opuser,m,2014/09/30 12:00:02,2014/09/30 13:05:11,3909,"
    "2014/09/30 12:00:00,2014/09/30 12:30:00,done," +
    Counts({{kBlockAll, {5, 0, 0, 0, 0, 5, 1, 0}},
            {kBlockUnit, {3, 0, 0, 0, 0, 3, 1, 0}},
            {kBlockJnw, {2, 0, 0, 0, 0, 2, 0, 0}}});
const std::string kJnwRows =
    "JNW,DAILY,20140930120000,SUB,2014/09/30 12:00:05,2014/09/30 13:05:00,3895,"
    "2014/09/30 12:00:00,2014/09/30 13:00:00,done," +
    Counts({{kBlockAll, {2, 0, 0, 0, 0, 2, 1, 0}}, {kBlockUnit, {2, 0, 0, 0, 0, 2, 1, 0}}}) +
    "JNW,\"\",20140930120000,DAILY,2014/09/30 12:00:02,2014/09/30 13:05:11,3909,"
    "2014/09/30 12:00:00,2014/09/30 12:30:00,done," +
    Counts({{kBlockAll, {2, 0, 0, 0, 0, 2, 0, 0}},
            {kBlockUnit, {1, 0, 0, 0, 0, 1, 0, 0}},
            {kBlockJnw, {1, 0, 0, 0, 0, 1, 0, 0}}});
const char kUnitRows[] =
    "UNITJOB,DAILY:SUB,20140930120000,JOB2,,,0,2014/09/30 12:10:00,2014/09/30 12:20:00,"
    "done_skip,0,0,1235,mach2\n"
    "UNITJOB,DAILY:SUB,20140930120000,JOB1,2014/09/30 12:00:05,2014/09/30 12:10:05,600,"
    "2014/09/30 12:00:00,2014/09/30 12:10:00,done,0,0,1234,mach1\n"
    "UNITJOB,DAILY,20140930120000,JOB0,2014/09/30 12:00:03,2014/09/30 12:00:04,1,"
    "2014/09/30 12:00:00,2014/09/30 12:01:00,done,0,0,1233,mach1\n";

class ReportCsvTest : public ReportTest {
 protected:
  // Each load starts from an empty summary.
  void Load(const std::string& content) {
    ASSERT_EQ(0, summary_reset());
    ReportTest::Load(content);
  }

  std::string Report(int style, bool ujonly = false, bool erronly = false, bool notitle = false) {
    // The content switches are the readable report's; they must not change this one.
    const ReportSwitches sw{style, ujonly, erronly, notitle, 1, 1, 0};
    return written_by([&](FILE* out) { EXPECT_EQ(0, summary_output_csv(out, entry_, sw)); });
  }
};

// The rows of a report that begin with prefix, in order.
std::vector<std::string> Rows(const std::string& report, const std::string& prefix) {
  std::vector<std::string> rows;
  std::istringstream in(report);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) == 0) rows.push_back(line);
  }
  return rows;
}

TEST_F(ReportCsvTest, UnitSectionOfOneJob) {
  Load(
      "J m:opuser:DAILY.20140930120000.kstrk done 0 20140930120002 20140930130511 - - 1800 0 -\n"
      "J m:opuser:DAILY:SUB.20140930120000.kstrk done 0 20140930120005 20140930130500 - - - - -\n"
      "U JOB1 done 0 0 20140930120005 20140930121005 1234 mach1 - 20140930120000 600 -\n");
  EXPECT_EQ(
      "#TYPE=UNITJOB\n"
      "type,parentjnw,jnwdate,name,starttime,endtime,amounttime,expstarttime,expendtime,status,"
      "exitcode,errcode,requestid,machine\n"
      "UNITJOB,DAILY:SUB,20140930120000,JOB1,2014/09/30 12:00:05,2014/09/30 12:10:05,600,"
      "2014/09/30 12:00:00,2014/09/30 12:10:00,done,0,0,1234,mach1\n"
      "\n",
      Report(1, /*ujonly=*/true));
}

TEST_F(ReportCsvTest, WholeReportAtStyleOne) {
  Load(kDaily);
  EXPECT_EQ(kSummaryTitle + kSummaryRow + "\n" + kJnwTitle + kJnwRows + "\n" + kUnitTitle +
                kUnitRows + "\n",
            Report(1));
  // Style 2 adds nothing to this report.
  EXPECT_EQ(Report(1), Report(2));
}

TEST_F(ReportCsvTest, StylesUjonlyAndNotitle) {
  Load(kDaily);
  const std::string summary = kSummaryTitle + kSummaryRow + "\n";
  const std::string units = std::string(kUnitTitle) + kUnitRows + "\n";
  struct Case {
    int style;
    bool ujonly;
    bool notitle;
    std::string expected;
  };
  const Case cases[] = {
      {0, false, false, summary},
      {-1, false, false, ""},
      {0, true, false, ""},
      {1, true, false, units},
      {-3, true, false, ""},
      {0, false, true, kSummaryRow + "\n"},
      {1, false, true, kSummaryRow + "\n" + kJnwRows + "\n" + kUnitRows + "\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, Report(c.style, c.ujonly, false, c.notitle))
        << "style=" << c.style << " ujonly=" << c.ujonly << " notitle=" << c.notitle;
  }
}

TEST_F(ReportCsvTest, StatusWordsOfJobsAndNetworks) {
  Load(
      "J m:u:N.20140930120000.kstrk run 0 20140930120000 - - - - - -\n"
      "U w wait 0 0 - - - - - - 0 -\n"
      "U wh wait 0 0 - - - - - - 0 h\n"
      "U ws prep 0 0 - - - - - - 0 s\n"
      "U s submit 0 0 - - - - - - 0 -\n"
      "U r run 0 0 - - - - - - 0 -\n"
      "U d done 0 0 - - - - - - 0 -\n"
      "U dv done 0 0 - - - - - - 0 v\n"
      "U df done 0 0 - - - - - - 0 f\n"
      "U e estop 0 0 - - - - - - 0 -\n"
      "U dn done 0 0 - - - - - - 0 n\n"
      "U x Done 0 0 - - - - - - 0 -\n"
      "J m:u:N:p.20140930120000.kstrk prep 0 - - - - - - -\n"
      "J m:u:N:rd.20140930120000.kstrk run 0 - - - - - - D\n"
      "J m:u:N:rh.20140930120000.kstrk run 0 - - - - - - H\n"
      "J m:u:N:rf.20140930120000.kstrk run 0 - - - - - - f\n"
      "J m:u:N:rr.20140930120000.kstrk run 0 - - - - - - r\n"
      "J m:u:N:rn.20140930120000.kstrk run 0 - - - - - - n\n");
  entry_.trackername = "N.20140930120000";
  const std::string report = Report(1);
  const std::map<std::string, std::string> expected = {
      {"w", "wait"},        {"wh", "wait_hold"}, {"ws", "wait_skip"}, {"s", "submit"},
      {"r", "run"},         {"d", "done"},       {"dv", "done_skip"}, {"df", "error"},
      {"e", "errorstop"},   {"dn", "run_warn"},  {"x", "undef"},      {"p", "prepare"},
      {"rd", "run_dialog"}, {"rh", "run"},       {"rf", "run_error"}, {"rr", "errorstop"},
      {"rn", "run_warn"},   {"N", "run"},
  };
  std::map<std::string, std::string> got;
  for (const std::string& prefix : {std::string("UNITJOB,"), std::string("JNW,")}) {
    for (const std::string& row : Rows(report, prefix)) {
      std::vector<std::string> fields;
      std::istringstream in(row);
      for (std::string f; std::getline(in, f, ',');) fields.push_back(f);
      ASSERT_GE(fields.size(), 10u) << row;
      got[fields[3]] = fields[9];
    }
  }
  EXPECT_EQ(expected, got);
}

TEST_F(ReportCsvTest, ErronlyKeepsWiderJnwRuleThanJobRule) {
  Load(
      "J m:u:N.20140930120000.kstrk run 0 20140930120000 - - - - - f\n"
      "U ok done 0 0 - - - - - - 0 -\n"
      "U failed done 0 0 - - - - - - 0 f\n"
      "U stopped estop 0 0 - - - - - - 0 -\n"
      "J m:u:N:a.20140930120000.kstrk done 0 - - - - - - f\n"
      "J m:u:N:b.20140930120000.kstrk estop 0 - - - - - - -\n"
      "J m:u:N:c.20140930120000.kstrk run 0 - - - - - - r\n"
      "J m:u:N:d.20140930120000.kstrk run 0 - - - - - - -\n"
      "J m:u:N:e.20140930120000.kstrk done 0 - - - - - - -\n");
  entry_.trackername = "N.20140930120000";
  const std::string report = Report(1, false, /*erronly=*/true);
  std::vector<std::string> names;
  for (const std::string& row : Rows(report, "JNW,")) names.push_back(row.substr(0, 12));
  EXPECT_EQ(
      (std::vector<std::string>{"JNW,N,201409", "JNW,N,201409", "JNW,N,201409", "JNW,\"\",20140"}),
      names);
  EXPECT_NE(std::string::npos, report.find(",c,")) << report;
  EXPECT_EQ(std::string::npos, report.find(",d,")) << report;
  EXPECT_EQ(std::string::npos, report.find(",e,")) << report;
  const auto jobs = Rows(report, "UNITJOB,");
  ASSERT_EQ(2u, jobs.size()) << report;
  EXPECT_EQ(0u, jobs[0].find("UNITJOB,N,20140930120000,stopped,"));
  EXPECT_EQ(0u, jobs[1].find("UNITJOB,N,20140930120000,failed,"));
  // The SUMMARY row is never filtered.
  EXPECT_EQ(1u, Rows(report, "N,20140930120000,").size()) << report;
}

TEST_F(ReportCsvTest, RowLayoutOfEveryJobType) {
  Load(
      "J m:u:N.20140930120000.kstrk done 0 - - - - - - -\n"
      "U u done 3 77 - - r1 mu - - 0 -\n"
      "X x done 0 5 - - jc1 mx - - 0 -\n"
      "B b done 0 0 - - r2 mb - - 0 -\n"
      "P p done 0 0 - - r3 mp - - 0 -\n"
      "V v done 0 4 - - - - - - 0 - - - -\n"
      "Z java h done 2 9 - - r4 mh - - 0 -\n"
      "Z java2 c done 0 6 - - r5 mc - - 0 -\n");
  entry_.trackername = "N.20140930120000";
  const std::string head = "type,parentjnw,jnwdate,name,starttime,endtime,amounttime,";
  EXPECT_EQ(std::string(kUnitTitle) + "UNITJOB,N,20140930120000,u,,,0,,,done,0,77,r1,mu\n\n" +
                "#TYPE=ERPJOB\n" + head + "expstarttime,expendtime,status,machine\n" +
                "ERPJOB,N,20140930120000,x,,,0,,,done,mx\n\n" + "#TYPE=BIJOB\n" + head +
                "expstarttime,expendtime,status\n" + "BIJOB,N,20140930120000,b,,,0,,,done\n\n" +
                "#TYPE=PCJOB\n" + head + "expstarttime,expendtime,status\n" +
                "PCJOB,N,20140930120000,p,,,0,,,done\n\n" + "#TYPE=QDRSJOB\n" + head +
                "expstarttime,expendtime,status,exitcode,errcode\n" +
                "QDRSJOB,N,20140930120000,v,,,0,,,done,4,0\n\n" + "#TYPE=HLBSJOB\n" + head +
                "expstarttime,expendtime,status,exitcode,errcode\n" +
                "HLBSJOB,N,20140930120000,h,,,0,,,done,0,9\n\n" + kUnitTitle +
                "CSTMJOB,N,20140930120000,c,,,0,,,done,6,0,r5,mc\n\n",
            Report(1, /*ujonly=*/true));
}

TEST_F(ReportCsvTest, TimesAreLocal) {
  ScopedZone zone("JST-9");
  Load(kDaily);
  const auto rows = Rows(Report(1, true), "UNITJOB,DAILY,");
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(
      "UNITJOB,DAILY,20140930120000,JOB0,2014/09/30 21:00:03,2014/09/30 21:00:04,1,"
      "2014/09/30 21:00:00,2014/09/30 21:01:00,done,0,0,1233,mach1",
      rows[0]);
}

TEST_F(ReportCsvTest, ComponentOfASubNetwork) {
  // Two records named JOB1 under SUB (one in another case) and a custom job of the same name:
  // every matching row of every type is written; a JOB1 elsewhere is not.
  Load(std::string(kDaily) + "U job1 run 0 0 - - 1240 mach3 - - 0 -\n" +
       "Z sap JOB1 done 0 0 - - 1241 mach4 - - 0 -\n" +
       "J m:opuser:DAILY:OTHER.20140930120000.kstrk done 0 - - - - - - -\n" +
       "U JOB1 done 0 0 - - 1242 mach5 - - 0 -\n");
  for (const char* component : {"DAILY:SUB/JOB1", "daily:sub/job1"}) {
    set_component(component);
    EXPECT_EQ(std::string(kUnitTitle) +
                  "UNITJOB,DAILY:SUB,20140930120000,job1,,,0,,,run,0,0,1240,mach3\n" +
                  "UNITJOB,DAILY:SUB,20140930120000,JOB1,2014/09/30 12:00:05,"
                  "2014/09/30 12:10:05,600,2014/09/30 12:00:00,2014/09/30 12:10:00,done,0,0,"
                  "1234,mach1\n\n" +
                  kUnitTitle +
                  "CSTMJOB,DAILY:SUB,20140930120000,JOB1,,,0,,,done,0,0,1241,mach4\n\n",
              Report(-1, /*ujonly=*/true))
        << component;
  }
  // Style plays no part in a component's report; notitle drops the title lines only.
  set_component("DAILY:SUB/JOB1");
  const std::string untitled = Report(0, false, false, /*notitle=*/true);
  EXPECT_EQ(2u, Rows(untitled, "UNITJOB,").size());
  EXPECT_EQ(1u, Rows(untitled, "CSTMJOB,").size());
  EXPECT_TRUE(Rows(untitled, "#").empty());
  EXPECT_TRUE(Rows(untitled, "type,").empty());
  set_component("DAILY:SUB/NONE");
  EXPECT_EQ("", Report(1));
}

TEST_F(ReportCsvTest, ComponentOfANetworkMatchesItsNameExactly) {
  Load(kDaily);
  const std::string sub = kJnwRows.substr(0, kJnwRows.find("JNW,\"\""));
  const std::string top = kJnwRows.substr(sub.size());
  set_component("DAILY:SUB");
  EXPECT_EQ(kJnwTitle + sub + "\n", Report(-1, true));
  EXPECT_EQ(sub + "\n", Report(1, false, false, /*notitle=*/true));
  EXPECT_EQ("", Report(1, false, /*erronly=*/true));
  set_component("DAILY");
  EXPECT_EQ(kJnwTitle + top + "\n", Report(0));
  set_component("daily:sub");
  EXPECT_EQ("", Report(1));
}

}  // namespace
}  // namespace flowtally
